// The SDI path against the simulated transmitter: bring-up, the set-up
// tables as the chip sees them, display options, the GS2971 reset from
// another thread, and the transmitter loop once a test enables it.
#include "source_env.h"

#include "sim/sim_it66121.h"
#include "video_io/it66121_hdmitx_drv.h"
#include "video_io/it66121_hdmitx_sys.h"

#include <thread>

using W = SimIt66121::Write;

class SdiPathTest : public SourceEnv {
protected:
    void SetUp() override {
        SourceEnv::SetUp();
        src->replace_drivers(nullptr, nullptr, std::make_unique<it66121_sys>(*src));
        chip = std::dynamic_pointer_cast<SimIt66121>(board().i2cModel(bus(), source_bus::kIt66121 >> 1));
        ASSERT_TRUE(chip);
    }
    it66121_sys& tx() { return src->it66121(); }
    it66121_hdmitx_sys& sys() { return *tx().hdmitx_sys; }
    std::shared_ptr<SimIt66121> chip;
};

TEST_F(SdiPathTest, AbsentTransmitterIsTriedTenTimesThenLeftAlone) {
    polling();
    chip->setAbsent(true);
    for (int i = 0; i < 13; ++i) src->step();
    EXPECT_EQ((Vals{line(GpioName::kSdiTransmitter).front(), line(GpioName::kGs2971Reset).front(), tx().fail_count,
                    reg(37) & 0x02}),
              (Vals{1, 1, 10, 0}));
    const int seen = chip->accesses();
    for (int i = 0; i < 5; ++i) src->step();
    EXPECT_EQ(chip->accesses(), seen);
}

TEST_F(SdiPathTest, PresentTransmitterIsIdentifiedAndSetUpOnceInTableOrder) {
    polling();
    for (int i = 0; i < 2; ++i) src->it66121_sdi_enable();
    EXPECT_EQ((Vals{reg(37) & 0x02, tx().last_test}), (Vals{0x02, 1}));  // register 37 bit 1: found
    // Before the set-up the registers of the merged rows hold all ones (the
    // bank register 0xF6: bank 0, bits 6 and 3 showing), the status reads
    // 0xFC; so a merge that wrote its whole byte, or the wrong bits, shows.
    for (uint8_t r : {0x62, 0x64, 0x04, 0xD1, 0x65, 0x71, 0x5D, 0x59, 0xE1, 0x05, 0x88, 0xC0, 0xC1, 0xC6, 0xCD, 0xCE})
        chip->setRegister(0, r, 0xFF);
    chip->setRegister(0, 0x0F, 0xF6);
    chip->setStatus(0xFC);
    chip->clearLog();
    src->it66121_sdi_enable();  // set-up
    for (int i = 0; i < 3; ++i) src->it66121_sdi_enable();  // loop steps, disabled
    const std::vector<W> expected = {
        // Power-up and interrupt set-up; the sleeps write nothing.
        {0, 0x0F, 0xB6}, {0, 0x62, 0xF7}, {0, 0x64, 0xFB}, {0, 0x04, 0xFF}, {0, 0x04, 0xFF}, {0, 0x0F, 0xB6},
        {0, 0xD1, 0xFD}, {0, 0x65, 0xFC}, {0, 0x71, 0x1F}, {0, 0x8D, 0x9C}, {0, 0x0F, 0xBE}, {0, 0xF8, 0xC3},
        {0, 0xF8, 0xA5}, {0, 0xF8, 0xFF}, {0, 0x5D, 0xFD}, {0, 0x59, 0x67}, {0, 0xE1, 0xDF}, {0, 0x05, 0x7F},
        {0, 0x09, 0xFC}, {0, 0x0A, 0xF8}, {0, 0x0B, 0xF7}, {0, 0x0C, 0xFF}, {0, 0x0D, 0xFF}, {0, 0x0E, 0xFF},
        {0, 0x0C, 0x00}, {0, 0x0D, 0x00}, {0, 0x0E, 0xFC}, {0, 0x09, 0xFC},
        // Default video: input mode, conversion control, video reset released.
        {0, 0x70, 0x00}, {0, 0x88, 0x0F}, {0, 0x04, 0xF7},
        // HDMI mode.
        {0, 0xC0, 0xFF}, {0, 0xC1, 0xFF}, {0, 0xC6, 0xFF},
        // AVI InfoFrame in bank 1: RGB, same aspect as the picture, checksum 0x57.
        {0, 0x0F, 0xBF}, {1, 0x58, 0x10}, {1, 0x59, 0x08}, {1, 0x5A, 0x00}, {1, 0x5B, 0x00}, {1, 0x5C, 0x00},
        {1, 0x5D, 0x57}, {1, 0x5E, 0x00}, {1, 0x5F, 0x00}, {1, 0x60, 0x00}, {1, 0x61, 0x00}, {1, 0x62, 0x00},
        {1, 0x63, 0x00}, {1, 0x64, 0x00}, {1, 0x65, 0x00}, {0, 0x0F, 0xBE}, {0, 0xCD, 0xFF}};
    const std::vector<W> got = chip->writes();
    ASSERT_GE(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ((Vals{got[i].bank, got[i].reg, got[i].value}),
                  (Vals{expected[i].bank, expected[i].reg, expected[i].value}))
            << "write " << i;
    // The audio InfoFrame: bank 1 0x68 to 0x6D and its checksum at 0x71,
    // whose bytes with the header 0x84 0x01 0x0A sum to 0.
    std::vector<Vals> rest;
    for (size_t i = expected.size(); i < got.size(); ++i) rest.push_back(Vals{got[i].bank, got[i].reg});
    const std::vector<Vals> audioInfo = {{0, 0x0F}, {1, 0x68}, {1, 0x69}, {1, 0x6A}, {1, 0x6B},
                                         {1, 0x6C}, {1, 0x6D}, {1, 0x71}, {0, 0x0F}, {0, 0xCE}};
    ASSERT_EQ(rest.size(), audioInfo.size() + 19);  // and the 19 audio writes below
    EXPECT_EQ(std::vector<Vals>(rest.begin(), rest.begin() + 10), audioInfo);
    int aud = 0x84 + 0x01 + 0x0A;
    for (uint8_t r : {0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x71}) aud += chip->reg(1, r);
    EXPECT_EQ((Vals{aud % 256, chip->reg(0, 0xCE), chip->reg(0, 0x0F)}), (Vals{0, 0xFF, 0xBE}));
    // Channel status for 48 kHz LPCM, then S/PDIF input with the audio held
    // in reset while it is set.
    const std::vector<W> audio = {
        {0, 0x0F, 0xBF}, {1, 0x33, 0x00}, {1, 0x34, 0x18}, {1, 0x35, 0x00}, {1, 0x91, 0x00}, {1, 0x92, 0x00},
        {1, 0x93, 0x01}, {1, 0x94, 0x00}, {1, 0x98, 0x02}, {1, 0x99, 0xDA}, {0, 0x0F, 0xBE},
        {0, 0x04, 0xE7}, {0, 0xE0, 0xD1}, {0, 0xE1, 0x01}, {0, 0xE2, 0xE4}, {0, 0xE3, 0x10}, {0, 0xE4, 0x00},
        {0, 0xE5, 0x00}, {0, 0x04, 0xE3}};
    const size_t from = expected.size() + audioInfo.size();
    for (size_t i = 0; i < audio.size(); ++i)
        EXPECT_EQ((Vals{got[from + i].bank, got[from + i].reg, got[from + i].value}),
                  (Vals{audio[i].bank, audio[i].reg, audio[i].value}))
            << "audio write " << i;
    // Then the GS2971 pulse, and the display option of 1080p60 RGB.
    EXPECT_EQ(line(GpioName::kGs2971Reset), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ((Vals{sys().VIC, sys().bOutputColorMode, sys().VideoPixelClock}), (Vals{16, 0, 148500000}));
}

TEST_F(SdiPathTest, TableRowKindsSleepWriteOrMerge) {
    board().enableEventLog(true);
    chip->setAbsent(false);
    it66121_hdmitx_drv& d = *tx().hdmitx_drv;
    const RegSetEntry t[] = {{0x05, 0x00, 0x00}, {0x20, 0xFF, 0x07}, {0x21, 0x0C, 0x08}, {0x00, 0x00, 0x00},
                             {0x22, 0xFF, 0x01}};
    d.HDMITX_WriteI2C_Byte(0x21, 0xF3);
    board().clearEventLog();
    const u64 t0 = clock->nowMs();
    d.hdmitx_LoadRegSetting(t);
    EXPECT_EQ(clock->nowMs() - t0, 5u);
    EXPECT_EQ(board().eventLog(), (std::vector<std::string>{"W 4C 20 07", "W 4C 21", "R 4C 1", "W 4C 21 FB"}));
}

TEST_F(SdiPathTest, DisplayOptionsByCodeAndVic) {
    tx().CHANGE_INPUT(25);
    EXPECT_EQ((Vals{sys().VIC, sys().aspec, sys().bInputColorMode, sys().bChangeMode}), (Vals{16, 1, 0x30, 1}));
    tx().CHANGE_INPUT(18);
    EXPECT_EQ((Vals{sys().VIC, sys().VideoPixelClock, sys().bInputColorMode}), (Vals{1, 25000000, 0x00}));
    tx().CHANGE_INPUT(6);  // VIC 7, pixel repetition 1
    EXPECT_EQ((Vals{sys().VIC}), (Vals{7 | 1 << 8}));
    // An unknown VIC only clears the mode-changed flag.
    EXPECT_FALSE(sys().HDMITX_ChangeDisplayOption(8, 0));
    EXPECT_EQ((Vals{sys().VIC, sys().bChangeMode}), (Vals{7 | 1 << 8, 0}));
}

TEST_F(SdiPathTest, GsResetFromAnotherThreadHoldsFiftyMilliseconds) {
    polling();
    std::vector<std::pair<int, u64>> seen;
    std::mutex m;
    board().simGpio().watch([&](const std::string& name, int v) {
        if (name != GpioName::kGs2971Reset) return;
        std::lock_guard<std::mutex> lock(m);
        seen.emplace_back(v, clock->nowMs());
    });
    std::atomic<bool> done{false};
    std::thread gui([&] {
        tx().GS2971_Reset();
        done = true;
    });
    while (!done) src->step();
    gui.join();
    std::lock_guard<std::mutex> lock(m);
    ASSERT_GE(seen.size(), 2u);
    auto low = std::find_if(seen.begin(), seen.end(), [](auto& e) { return e.first == 0; });
    ASSERT_NE(low, seen.end());
    auto high = std::find_if(low, seen.end(), [](auto& e) { return e.first == 1; });
    ASSERT_NE(high, seen.end());
    EXPECT_GE(high->second - low->second, 50u);
}

TEST_F(SdiPathTest, LoopStaysQuietUntilEnabledThenFollowsTheSink) {
    const int quiet = chip->accesses();
    tx().HDMITX_DevLoopProc();
    EXPECT_EQ(chip->accesses(), quiet);

    // A sink with an HDMI vendor block, YCbCr 4:4:4 and basic audio.
    std::vector<u8> edid(src->default_edid(4), src->default_edid(4) + 256);
    chip->setSinkEdid(edid);
    sys().loop_enable = 1;
    chip->setStatus(0xC0);  // HPD, interrupt pending
    chip->setInterrupts(0x01, 0x00);
    tx().HDMITX_DevLoopProc();
    EXPECT_EQ((Vals{sys().bHDMIMode, sys().bAudioEnable, sys().bOutputColorMode, sys().bChangeMode,
                    chip->reg(0, 0x0F) & 0x78}),
              (Vals{1, 1, 2, 1, 0x08}));
    // Next step: the output with its AVI InfoFrame.
    chip->setStatus(0x40);
    tx().HDMITX_DevLoopProc();
    int avi = 0x82 + 2 + 13;
    for (int r = 0x58; r <= 0x65; ++r) avi += chip->reg(1, u8(r));
    EXPECT_EQ((Vals{avi % 256, chip->reg(1, 0x58), chip->reg(0, 0xC0), sys().bChangeMode}), (Vals{0, 0x50, 1, 0}));

    // Unplugged: video off and powered down.
    chip->setStatus(0x00);
    tx().HDMITX_DevLoopProc();
    EXPECT_EQ((Vals{chip->reg(0, 0x61), chip->reg(0, 0x0F) & 0x78, chip->reg(0, 0x05) & 1}), (Vals{0x30, 0x78, 1}));

    // A CEA block whose data blocks run past its descriptor offset: DVI.
    edid[130] = 10;
    chip->setSinkEdid(edid);
    chip->setStatus(0x40);
    tx().HDMITX_DevLoopProc();
    EXPECT_EQ((Vals{sys().bHDMIMode, sys().bAudioEnable}), (Vals{0, 0}));
}

TEST_F(SdiPathTest, CeaParseStaysInsideItsDataBlocks) {
    // One HDMI vendor block of 6 bytes after the header: the descriptors
    // start at 4 + 1 + 5 = 10 when it fits exactly.
    u8 b[128] = {0x02, 0x03, 10, 0x70, 0x65, 0x03, 0x0C, 0x00, 0x10, 0x00};
    bool hdmi = false;
    EXPECT_EQ((Vals{it66121_hdmitx_sys::ParseCEAEDID(b, &hdmi), hdmi}), (Vals{1, 1}));
    b[2] = 9;  // the block runs one byte past the offset
    EXPECT_EQ((Vals{it66121_hdmitx_sys::ParseCEAEDID(b, &hdmi), hdmi}), (Vals{0, 0}));
    b[2] = 200;  // an offset beyond the block
    EXPECT_EQ(it66121_hdmitx_sys::ParseCEAEDID(b, &hdmi), 0);
}
