// The SDI path against the simulated transmitter: bring-up, the set-up
// tables as the chip sees them, display options, the GS2971 reset from
// another thread, and the transmitter loop once a test enables it.
#include "source_env.h"

#include "sim/sim_it66121.h"
#include "video_io/it66121_hdmitx_drv.h"
#include "video_io/it66121_hdmitx_sys.h"

#include <thread>

using namespace it66121tables;
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
    // Registers and banks a table touches, and the values of its plain writes.
    template <size_t N>
    void expectRows(const RegSetEntry (&t)[N], std::vector<W>& out, int& bank) {
        for (const RegSetEntry& r : t) {
            if (r.invAndMask == 0) {
                if (r.offset == 0) return;
                continue;
            }
            int value = r.invAndMask == 0xFF ? r.OrMask : -1;
            if (r.offset == 0x0F && (r.invAndMask & 1)) bank = r.OrMask & 1;
            out.push_back(W{r.offset >= 0x30 ? bank : 0, r.offset, u8(value < 0 ? 0 : value)});
        }
    }
    std::shared_ptr<SimIt66121> chip;
};

TEST_F(SdiPathTest, AbsentTransmitterIsTriedTenTimesThenLeftAlone) {
    polling();
    chip->setAbsent(true);
    for (int i = 0; i < 13; ++i) src->step();
    EXPECT_EQ((Vals{line(GpioName::kSdiTransmitter).front(), line(GpioName::kGs2971Reset).front(), tx().fail_count,
                    reg(source_reg::kChips) & source_reg::kIt66121Found}),
              (Vals{1, 1, 10, 0}));
    const int seen = chip->accesses();
    for (int i = 0; i < 5; ++i) src->step();
    EXPECT_EQ(chip->accesses(), seen);
}

TEST_F(SdiPathTest, PresentTransmitterIsIdentifiedAndSetUpOnceInTableOrder) {
    polling();
    for (int i = 0; i < 2; ++i) src->it66121_sdi_enable();
    EXPECT_EQ((Vals{reg(source_reg::kChips) & source_reg::kIt66121Found, tx().last_test}),
              (Vals{source_reg::kIt66121Found, 1}));
    chip->clearLog();
    src->it66121_sdi_enable();  // set-up
    for (int i = 0; i < 3; ++i) src->it66121_sdi_enable();  // loop steps, disabled
    std::vector<W> expected;
    int bank = 0;
    expectRows(HDMITX_Init_Table, expected, bank);
    expectRows(HDMITX_DefaultVideo_Table, expected, bank);
    expectRows(HDMITX_SetHDMI_Table, expected, bank);
    expectRows(HDMITX_DefaultAVIInfo_Table, expected, bank);
    expectRows(HDMITX_DeaultAudioInfo_Table, expected, bank);
    expectRows(HDMITX_Aud_CHStatus_LPCM_20bit_48Khz, expected, bank);
    expectRows(HDMITX_AUD_SPDIF_2ch_24bit, expected, bank);
    auto got = chip->writes();
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ((Vals{got[i].bank, got[i].reg}), (Vals{expected[i].bank, expected[i].reg})) << "row " << i;
        if (expected[i].value) {
            EXPECT_EQ(got[i].value, expected[i].value) << "row " << i;
        }
    }
    // The InfoFrames the tables leave make their bytes sum to 0.
    int avi = 0x82 + 2 + 13, aud = 0x84 + 1 + 10 + chip->reg(1, 0x71);
    for (int r = 0x58; r <= 0x65; ++r) avi += chip->reg(1, u8(r));
    for (int r = 0x68; r <= 0x6D; ++r) aud += chip->reg(1, u8(r));
    EXPECT_EQ((Vals{avi % 256, aud % 256, chip->reg(1, 0x5D)}), (Vals{0, 0, 0x57}));
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
