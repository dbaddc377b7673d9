// The EDID store: built-in EDIDs, custom timings, the custom write hand-shake
// as the simulated devices see it, and the start-up check.
#include "source_env.h"

#include "core/config_engine.h"

#include <algorithm>
#include <vector>

constexpr const char* kIniFile = "/data/configs/tcpip.ini";

using Bytes = std::vector<u8>;
using namespace source_bus;

namespace {
Bytes range(const u8* e, int from, int to) { return Bytes(e + from, e + to); }
int countPrefix(const std::vector<std::string>& events, const std::string& prefix) {
    return int(std::count_if(events.begin(), events.end(), [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }));
}
}  // namespace

class SourceEdidTest : public SourceEnv {
protected:
    void setCustom(int input, u16 w, u16 h, u16 r) {
        model->live_image.setWord(RamOffset::edid(input), w);
        model->live_image.setWord(RamOffset::edid(input) + 2, h);
        model->live_image.setWord(RamOffset::edid(input) + 4, r);
        source_handover::request_custom_edid(input);
    }
    Bytes builtIn(int input) { return range(src->default_edid(input), 0, 256); }
    void check(const char* mode) {
        QMutexLocker lock(&settingsLock());
        g_check_edid = mode;
    }
};

namespace {
// A built-in EDID written out byte by byte: base block and extension, each
// closed by the byte that makes its sum 0 modulo 256.
Bytes edidOf(std::initializer_list<Bytes> base, std::initializer_list<Bytes> extension) {
    Bytes e;
    for (const Bytes& b : base) e.insert(e.end(), b.begin(), b.end());
    for (const Bytes& b : extension) e.insert(e.end(), b.begin(), b.end());
    e.resize(256, 0);
    for (int block : {0, 128}) {
        int sum = 0;
        for (int i = block; i < block + 127; ++i) sum += e[size_t(i)];
        e[size_t(block + 127)] = u8(-sum);
    }
    return e;
}
Bytes text(const std::string& t) { return Bytes(t.begin(), t.end()); }
}  // namespace

TEST_F(SourceEdidTest, BuiltInEdidsHoldTheirTimingsNamesAndBlocksByteForByte) {
    const Bytes header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    const Bytes audioAndSpeakers = {0x23, 0x09, 0x07, 0x07, 0x83, 0x01, 0x00, 0x00};
    const char* names6602[4] = {"ZRV-EXT", "ZRV-DVI", "ZRV-HD1", "ZRV-HD2"};
    for (int i = 0; i < 4; ++i) {
        const Bytes want = edidOf(
            {header, {0x52, 0x38, 0x01, 0x00, 0x01, 0x01, 0x01, 0x01, 0x04, 0x1C, 0x01, 0x04},
             {0x80, 0x3D, 0x23, 0x78, 0x2A, 0x5F, 0xB1, 0xA2, 0x57, 0x4F, 0xA2, 0x28, 0x0F, 0x50, 0x54},
             {0x21, 0x08, 0x00, 0x81, 0xC0, 0x81, 0x00, 0x81, 0x40, 0x81, 0x80, 0x95, 0x00, 0xA9, 0x40, 0x01, 0x01,
              0x01, 0x01},
             {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x20, 0x40, 0x21, 0x00, 0x00, 0x1E},
             {0x00, 0x00, 0x00, 0xFD, 0x00, 0x17, 0x78, 0x0F, 0x85, 0x1E, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20},
             {0xE2, 0x68, 0x00, 0xA0, 0xA0, 0x40, 0x2E, 0x60, 0x30, 0x20, 0x36, 0x00, 0x20, 0x40, 0x21, 0x00, 0x00, 0x1E},
             {0x00, 0x00, 0x00, 0xFC, 0x00}, text(names6602[i]), {0x0A, 0x20, 0x20, 0x20, 0x20, 0x20},
             {0x01, 0x00}},
            {{0x02, 0x03, 0x1C, 0xF1, 0x41, 0x01}, audioAndSpeakers,
             {0x6D, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x80, 0x3C, 0x20, 0x10, 0x60, 0x01, 0x02, 0x03},
             {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0x60, 0x59, 0x21, 0x00, 0x00, 0x1E},
             {0x02, 0x3A, 0x80, 0xD0, 0x72, 0x38, 0x2D, 0x40, 0x10, 0x2C, 0x45, 0x80, 0x65, 0x59, 0x21, 0x00, 0x00, 0x1E}});
        EXPECT_EQ(builtIn(i), want) << "input " << i;
    }
    const char* names6805[2] = {"ZRV_K57HD3", "ZRV_K57HD4"};
    for (int i = 4; i < 6; ++i) {
        const Bytes want = edidOf(
            {header, {0x6A, 0x56, 0x05, 0x68, 0x21, 0x43, 0x65, 0x87, 0x2E, 0x19, 0x01, 0x03},
             {0x80, 0x3E, 0x22, 0x78, 0xEA, 0x08, 0xA5, 0xA2, 0x57, 0x4F, 0xA2, 0x28, 0x0F, 0x50, 0x54},
             {0xA5, 0x4B, 0x00, 0xD1, 0xC0, 0xA9, 0x40, 0x81, 0x80, 0x81, 0x00, 0x71, 0x4F, 0xE1, 0x00, 0x01, 0x01,
              0x01, 0x01},
             {0x08, 0xE8, 0x00, 0x30, 0xF2, 0x70, 0x5A, 0x80, 0xB0, 0x58, 0x8A, 0x00, 0x6D, 0x55, 0x21, 0x00, 0x00, 0x1E},
             {0x00, 0x00, 0x00, 0xFF, 0x00}, text("ZRV_K57HDMI20"),
             {0x00, 0x00, 0x00, 0xFC, 0x00}, text(names6805[i - 4]), {0x0A, 0x20, 0x20},
             {0x00, 0x00, 0x00, 0xFD, 0x00, 0x1D, 0x4B, 0x1F, 0x8C, 0x3C, 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20},
             {0x01, 0x00}},
            {{0x02, 0x03, 0x3C, 0xF1},
             // 22 video codes: 101, 102, 97, 96, 95, 94, 93, 98, 99, 100, 16, 31, 32, 5, 20, 4, 19, 18, 17, 3, 2, 1.
             {0x56, 0x65, 0x66, 0x61, 0x60, 0x5F, 0x5E, 0x5D, 0x62, 0x63, 0x64, 0x10, 0x1F, 0x20, 0x05, 0x14, 0x04, 0x13,
              0x12, 0x11, 0x03, 0x02, 0x01},
             audioAndSpeakers, {0x6D, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x3C, 0x20, 0x00, 0x60, 0x01, 0x02, 0x03},
             {0x67, 0xD8, 0x5D, 0xC4, 0x01, 0x78, 0x80, 0x03}, {0xE2, 0x0F, 0x0F},
             {0x04, 0x74, 0x00, 0x30, 0xF2, 0x70, 0x5A, 0x80, 0xB0, 0x58, 0x8A, 0x00, 0x6D, 0x55, 0x21, 0x00, 0x00, 0x1E},
             {0x02, 0x3A, 0x80, 0x18, 0x71, 0x38, 0x2D, 0x40, 0x58, 0x2C, 0x45, 0x00, 0xE0, 0x0E, 0x11, 0x00, 0x00, 0x1E},
             {0x01, 0x1D, 0x00, 0x72, 0x51, 0xD0, 0x1E, 0x20, 0x6E, 0x28, 0x55, 0x00, 0x40, 0xB4, 0x10, 0x00, 0x00, 0x1E}});
        EXPECT_EQ(builtIn(i), want) << "input " << i;
    }
}

TEST_F(SourceEdidTest, BuiltInEdidsAreValidAndCustomTimingsPatchOnlyTheFirstDescriptor) {
    for (int i = 0; i < kInputs; ++i) {
        const u8* e = src->default_edid(i);
        EXPECT_EQ((Vals{vimrasource::edid_valid(e), vimrasource::CalcSum4LCD(0, e, 128),
                        vimrasource::CalcSum4LCD(0, e + 128, 128), e[126], e[128], e[131]}),
                  (Vals{1, 0, 0, 1, 0x02, 0xF1}))
            << "input " << i;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(src->default_edid(1)) + 113, 7), "ZRV-DVI");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(src->default_edid(5)) + 95, 10), "ZRV_K57HD4");

    const Bytes before2 = builtIn(2);
    ASSERT_TRUE(src->Set_Custom_HDMI_EDID(1920, 1080, 60, 2));
    const u8* e = src->default_edid(2);
    EXPECT_EQ(range(e, 54, 66), (Bytes{0xAC, 0x37, 0x80, 0xA0, 0x70, 0x38, 0x3E, 0x40, 0x30, 0x20, 0x3A, 0x00}));
    EXPECT_EQ(range(e, 66, 127), range(before2.data(), 66, 127));
    EXPECT_EQ(range(e, 128, 256), range(before2.data(), 128, 256));
    EXPECT_EQ(vimrasource::CalcSum4LCD(0, e, 128), 0);

    const Bytes before4 = builtIn(4);
    ASSERT_TRUE(src->Set_Custom_HDMI_EDID(3840, 2160, 30, 4));
    const u8* e4 = src->default_edid(4);
    EXPECT_EQ((Vals{e4[54] | e4[55] << 8}), (Vals{29700}));
    ASSERT_TRUE(src->Set_Custom_HDMI_EDID(3840, 2160, 60, 4));
    EXPECT_EQ(builtIn(4), before4);  // the built-in descriptor is this timing

    // Values the descriptor cannot hold change nothing.
    const Bytes now2 = builtIn(2);
    EXPECT_EQ((Vals{src->Set_Custom_HDMI_EDID(0, 720, 60, 2), src->Set_Custom_HDMI_EDID(4096, 720, 60, 2),
                    src->Set_Custom_HDMI_EDID(1280, 720, 0, 2), src->Set_Custom_HDMI_EDID(4095, 4095, 60, 2)}),
              (Vals{0, 0, 0, 0}));
    EXPECT_EQ(builtIn(2), now2);
}

TEST_F(SourceEdidTest, CustomWriteFollowsTheHandShakeAndRestartsTheInputOnce) {
    polling();
    src->audio_code = 0x20;
    board().enableEventLog(true);
    setCustom(2, 1280, 720, 60);
    src->about_set_edid_deal();
    std::vector<std::string> ev = board().eventLog();
    // The hand-shake around the pages.
    std::vector<std::string> frame;
    int pages = 0;
    for (const auto& x : ev) {
        if (x.rfind("W 50 ", 0) == 0 && x.size() > 8 * 3 + 5) {
            ++pages;
            if (pages == 1) frame.push_back("pages");
        } else if (x.rfind("W 50 ", 0) != 0 && x.rfind("R 50", 0) != 0) {
            frame.push_back(x);
        }
    }
    EXPECT_EQ(frame, (std::vector<std::string>{"edid_write=0", "W 20 00 20", "W 70 00 04", "pages", "edid_write=1",
                                               "W 20 00 21"}));
    EXPECT_EQ(pages, 32);
    const Bytes stored = eeprom(2)->contents();
    EXPECT_EQ(stored, builtIn(2));
    EXPECT_EQ((Vals{vimrasource::edid_valid(stored.data()), stored[56] | (stored[58] & 0xF0) << 4}), (Vals{1, 1280}));

    // One write per request.
    src->about_set_edid_deal();
    EXPECT_EQ(eeprom(2)->pageWrites(), 32);

    // The input is restarted once for what was written.
    src->poll_mask = 0x04;
    src->sourcecheck();
    src->sourcecheck();
    EXPECT_EQ(calls.take(), (std::vector<std::string>{"init(2) @04", "init_1(2) @04"}));
}

TEST_F(SourceEdidTest, RequestsOfSeveralInputsAndRequestsDuringAWriteAreAllServed) {
    polling();
    setCustom(1, 1280, 720, 60);
    setCustom(3, 1024, 768, 60);
    // A further change of input 1 arrives while its EEPROM is written.
    bool raised = false;
    board().simGpio().watch([&](const std::string& name, int v) {
        if (name == GpioName::kEdidWrite && v == 0 && !raised) {
            raised = true;
            model->live_image.setWord(RamOffset::edid(1), 1600);
            source_handover::request_custom_edid(1);
        }
    });
    src->about_set_edid_deal();
    EXPECT_EQ((Vals{eeprom(1)->pageWrites(), eeprom(3)->pageWrites(), eeprom(3)->contents()[56]}), (Vals{32, 32, 0x00}));
    src->about_set_edid_deal();
    const Bytes e1 = eeprom(1)->contents();
    EXPECT_EQ((Vals{eeprom(1)->pageWrites(), e1[56] | (e1[58] & 0xF0) << 4}), (Vals{64, 1600}));
    src->about_set_edid_deal();
    EXPECT_EQ(eeprom(1)->pageWrites(), 64);
}

TEST_F(SourceEdidTest, UnansweredSelectOrRefusedTimingWritesNothingButRestartsOnce) {
    polling();
    board().attachI2c(bus(), kMemSwitch >> 1, nullptr);
    setCustom(5, 1920, 1080, 60);
    setCustom(0, 0, 1080, 60);  // refused
    src->about_set_edid_deal();
    src->poll_mask = 0x11;
    src->sourcecheck();
    src->sourcecheck();
    EXPECT_EQ((Vals{eeprom(5)->pageWrites(), eeprom(0)->pageWrites()}), (Vals{0, 0}));
    EXPECT_EQ(calls.take(), (std::vector<std::string>{"init(0) @01", "HPD(0,0,1) @10", "FSM(1) run=0 @10",
                                                      "init_1(0) @01", "FSM(1) run=0 @10"}));
}

// Every input's EEPROM failure is written from one line: input 0's failing
// at each custom EDID a PC writes spends its own lines only, and input 3's,
// once meanwhile, is written whole.
TEST_F(SourceEdidTest, OneInputsEepromFailingAtEveryWriteLeavesAnotherInputsFailureWhole) {
    polling();
    eeprom(0)->setAbsent(true);
    for (int i = 0; i < 20; ++i) {
        setCustom(0, u16(1280 + i), 720, 60);
        src->about_set_edid_deal();
    }
    eeprom(3)->setAbsent(true);
    setCustom(3, 1024, 768, 60);
    src->about_set_edid_deal();
    const std::string log = readHostFile(hostPath(kLogFile));
    EXPECT_EQ((Vals{countIn(log, "# EDID EEPROM of input 0: custom EDID not written\n"),
                    countIn(log, "# EDID EEPROM of input 3: custom EDID not written\n")}),
              (Vals{6, 1}));
}

TEST_F(SourceEdidTest, StartupCheckRepairsBadEepromsAndStoresNever) {
    ConfigEngine::pInstance();
    board().enableEventLog(true);
    // "Never": nothing read, every readable bit set.
    check("Never");
    model->reg_block.REG[37] = 0;
    model->reg_block.REG[38] = 0;
    src->about_source_init_deault_edid();
    EXPECT_EQ((Vals{countPrefix(board().eventLog(), "R 50"), reg(37), reg(38), src->startup_state()}),
              (Vals{0, 0x80, 0x5F, 5}));

    // "Once": blank (new) and bad-base memories are rewritten, a good one and
    // one whose extension alone is bad are left.
    check("Once");
    for (int i = 0; i < kInputs; ++i) eeprom(i)->setContents(builtIn(i));
    eeprom(1)->setContents(Bytes(256, 0xFF));
    eeprom(3)->corruptBaseChecksum();
    eeprom(4)->corruptExtensionChecksum();
    for (int i = 0; i < kInputs; ++i) ASSERT_EQ(eeprom(i)->pageWrites(), 0);
    src->about_source_init_deault_edid();
    EXPECT_EQ((Vals{eeprom(0)->pageWrites(), eeprom(1)->pageWrites(), eeprom(3)->pageWrites(),
                    eeprom(4)->pageWrites(), src->startup_state()}),
              (Vals{0, 32, 32, 0, 5}));
    EXPECT_EQ(eeprom(3)->contents(), builtIn(3));
    EXPECT_NE(readHostFile(hostPath(kIniFile)).find("EDIDCheck=Never"), std::string::npos);
    EXPECT_TRUE(board().simShell().commands().empty());
}

TEST_F(SourceEdidTest, EepromThatStaysBadRestartsStartupAndIsSkippedNextRound) {
    ConfigEngine::pInstance();
    check("Once");
    for (int i = 0; i < kInputs; ++i) eeprom(i)->setContents(builtIn(i));
    eeprom(2)->setAbsent(true);
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        src->init_state = 4;
        for (auto& f : src->reinit) f = 0;
    }
    src->step();
    EXPECT_EQ((Vals{src->startup_state(), src->reinit[0], src->reinit[1], src->reinit[4], reg(38) & 0x02}),
              (Vals{0, 1, 0, 1, 0}));
    src->step();  // state 0: both families pulsed again
    EXPECT_EQ((Vals{line(GpioName::kIt6602Reset).back(), line(GpioName::kIt6805Reset).back()}), (Vals{0, 0}));
    while (src->startup_state() != 4) src->step();
    board().enableEventLog(true);
    src->step();
    EXPECT_EQ((Vals{src->startup_state(), countPrefix(board().eventLog(), "W 70 00 04")}), (Vals{5, 0}));
}
