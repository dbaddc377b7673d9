// Register groups of the picture path read back from the simulated chip and
// compared with values worked out by hand: dual mode, scaler and zoom
// phases, field indices around a freeze, the mixer of a fifth layer, sync
// polarity, the Vby-One mode byte, memory write modes and a dot-by-dot
// window's channel.
#include "test_c331_pipe_env.h"

namespace {

class C331RegisterTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        grid(5, 1920, 1080, 2, 1);
    }
    // Output channels (pipelines) of layout slot s.
    std::vector<int> pipes(int s) const {
        std::vector<int> out;
        const auto& wi = m->gWininfo[s];
        for (int k = 0; k < wi.totalh * wi.totalv && k < 8; ++k)
            if (wi.ch[k] < 8) out.push_back(wi.ch[k]);
        return out;
    }
};

TEST_F(C331RegisterTest, DualModeOfATwoPixelVbyOnePort) {
    // HDMI4 (port 4), 3840 x 2160 on four lanes: two pixels per clock, so
    // the pair splits the line: start (88 + 296) / 2, twice the half width.
    lanes[5] = 4;
    plug(5, 3840, 2160, 30);
    window(0, 5, 0, 0, 1920, 1080);
    layout();
    poll();
    const int k = chip->firstIch(0);
    ASSERT_EQ(chip->ichCount(0), 2);
    const u8 g = u8(9 * (k / 2));
    EXPECT_EQ((Vals{reg8(0x03, u8(0x08 + g)), reg16(0x03, u8(0x09 + g)), reg16(0x03, u8(0x0B + g))}),
              (Vals{3, 192, 3840}));
    // The second channel of the pair is locked to the first.
    EXPECT_EQ(reg8(0x10, 0x09, 16 * (k + 1)), (k & ~1) + 8);
}

TEST_F(C331RegisterTest, ShrinkPhasesOfACroppedWindow) {
    // Crop (100, 30) 1600 x 900 of HDMI1 into an 800 x 450 window: ratios
    // 799 * 65536 / 1599 + 1 = 32748 and 449 * 65536 / 899 + 1 = 32732;
    // phases 256 - (100 * 32748 mod 65536) / 256 = 8 and
    // 256 - (30 * 32732 mod 65536) / 256 = 5.
    plug(2, 1920, 1080, 60);
    crop(3, 2, 100, 30, 1600, 900);
    window(0, 0x8003, 0, 0, 800, 450);
    layout();
    poll();
    const int b = 16 * chip->firstIch(0);
    EXPECT_EQ((Vals{reg16(0x11, 0x47, b), reg16(0x11, 0x4C, b), reg8(0x11, 0x42, b), reg8(0x11, 0x45, b),
                    reg8(0x11, 0x46, b), reg8(0x11, 0x4A, b), reg8(0x11, 0x4B, b)}),
              (Vals{32748, 32732, 128 + 8, 8, 8, 5, 5}));
}

TEST_F(C331RegisterTest, ZoomPhasesOnAGridOfFourChannels) {
    // 1280 x 720 enlarged to a 1920 x 1080 window over a 2 x 2 grid of
    // 960 x 540 channels: zoom 1279 * 65536 / 1919 + 1 = 43680 across,
    // 719 * 65536 / 1079 + 1 = 43671 down. The right column starts 960
    // output pixels in: phase ((960 * 43680) mod 65536 + 128) / 256 = 216;
    // the lower row 540 lines in: ((540 * 43671) mod 65536 + 128) / 256 = 215.
    grid(7, 960, 540, 2, 2);
    plug(2, 1280, 720, 60);
    window(0, 2, 0, 0, 1920, 1080);
    layout();
    poll();
    const std::vector<int> ch = pipes(0);
    ASSERT_EQ(ch.size(), 4u);
    Vals got;
    for (int n : ch) {
        const int b = 16 * n;
        for (u8 r : {0x47, 0x48, 0x4B, 0x4C, 0x4D}) got.push_back(reg8(0x0A, r, b));
    }
    EXPECT_EQ(got, (Vals{0, 0, 0, 0, 0, 216, 216, 0, 0, 0, 0, 0, 1, 215, 215, 216, 216, 1, 215, 215}));
}

TEST_F(C331RegisterTest, FieldIndicesAroundAFreeze) {
    ManualClock& clock = useManualClock();
    plug(2, 1920, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080);
    window(1, 2, 1920, 0, 1920, 1080);
    layout();
    poll();
    struct Case {
        u64 ms;  // 60 frames a second: field buffer q = frames mod 4
        u32 written, shown;
    } cases[] = {
        // q = 3: index (3 + 3) mod 4 = 2 swaps with index 4: 0 1 4 3 2.
        {10050, 0x23410, 3 + 16 * 0 + 256 * 1 + 4096 * 4},
        // q = 1: index 0 swaps with index 4: 4 1 2 3 0.
        {10017, 0x03214, 3 + 16 * 4 + 256 * 1 + 4096 * 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        for (int w : {0, 1}) {
            for (int j = 0; j < 5; ++j) m->win_field[w][j] = j;
            m->g_chg_input[w] = 3;  // the port's timing came back for both
        }
        clock.setMs(c.ms);
        const size_t before = sim->writesTo(u8(0x16 + 16 * pipes(0)[0]), 0x6D).size();
        chip->set_output(m->c331_fd);
        for (int w : {0, 1}) {
            EXPECT_EQ(reg32(0x16, 0x66, 16 * chip->firstIch(w)) & 0xFFFFFF, c.written) << w;
            for (int n : pipes(w)) EXPECT_EQ(reg16(0x16, 0x6C, 16 * n), c.shown) << w << " " << n;
        }
        // While frozen the output read only the held buffer (index 2 / 0).
        const auto high = sim->writesTo(u8(0x16 + 16 * pipes(0)[0]), 0x6D);
        ASSERT_GE(high.size(), before + 2);
        EXPECT_EQ(high[before], (c.written >> 16) * 0x11);
    }
}

TEST_F(C331RegisterTest, AFifthLayerFadesThroughTheSecondMixerInput) {
    // Five windows over output channel 0: one mixer, five layers. Record 0
    // has layer 0 (the top), the fifth input of the mixer: 0E:0F = 256, and
    // after fading in its coefficient over the layer below is 128 (0E:5B:
    // combination 15, top position 3) and the one below 0.
    for (int i = 0; i < 4; ++i) plug(i, 1280, 720, 60);
    for (int w = 0; w < 5; ++w) window(w, u16(w % 4), u16(100 * w), 0, 400, 400, w == 0 ? 4 : 0);
    img.setWord(RamOffset::fadeIn(0), 2), img.setWord(RamOffset::fadeOut(0), 2);
    layout();
    poll();
    ASSERT_EQ(m->g_och_layer_cnt[0], 5);
    m->g_chg_input[0] = 1;
    chip->set_output(m->c331_fd);
    EXPECT_EQ((Vals{reg16(0x0E, 0x0F), reg8(0x0E, 0x12 + 5 * 15 + 4), reg8(0x0E, 0x12 + 5 * 15 + 3)}),
              (Vals{256, 128, 0}));
}

TEST_F(C331RegisterTest, SyncPolarityAndVbyOneModeBytes) {
    // HDMI1 (port 1): Vpol 0, Hpol 1: pol 2, byte 1 of 06:38 = 2 + 4.
    // HDMI4 (port 4, receiver 0) two lanes: pol 1 in four nibbles, lane
    // word 1, mode byte 0x10; HDMI3 (port 5, receiver 1) eight lanes: pol 3,
    // lane word 0x404, mode byte 0x02.
    vpol[2] = 0;
    hpol[5] = 0;
    lanes[5] = 2, lanes[4] = 8;
    plug(2, 1920, 1080, 60);
    plug(5, 1920, 1080, 60);
    plug(4, 3840, 2160, 60);
    window(0, 2, 0, 0, 1920, 1080);
    window(1, 5, 1920, 0, 960, 540);
    window(2, 4, 1920, 540, 960, 540);
    layout();
    poll();
    EXPECT_EQ((Vals{reg8(0x06, 0x39), reg16(0x06, 0x3C), reg16(0x06, 0x3E)}), (Vals{6, 0x1111, 0x3333}));
    EXPECT_EQ((Vals{reg16(0x00, 0x1E), reg16(0x00, 0x20), reg8(0x00, 0x39), reg8(0x00, 0x3A)}),
              (Vals{1, 0x404, 0x10, 0x02}));
}

TEST_F(C331RegisterTest, MemoryWriteModesFollowTheScan) {
    // Progressive: the configured mode 1 (0x80) on the input channel and on
    // the output channel that reads it; interlaced: mode 2 (1) on both.
    plug(2, 1920, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080);
    layout();
    poll();
    const auto modes = [&] { return Vals{reg8(0x00, u8(0x71 + chip->firstIch(0))), reg8(0x00, u8(0x69 + pipes(0)[0]))}; };
    EXPECT_EQ(modes(), (Vals{0x80, 0x80}));
    plug(2, 1920, 1080, 60, true);
    poll();
    EXPECT_EQ(modes(), (Vals{1, 1}));
}

TEST_F(C331RegisterTest, ADotByDotWindowTooWideForAChannel) {
    // HDMI1 3000 x 1080 (reduced blanking: sync 32 + back porch 80, 5 + 20
    // lines) shown dot by dot: wider than 2560, so one block of the pool,
    // block 0, lines of (3000 + 319) / 320 = 10 units; the channel takes
    // start 112 - 7, width 3000, start line 25 + 1, 1080 lines, no scaling.
    plug(2, 3000, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080, 0x100);
    layout();
    poll();
    ASSERT_EQ(m->PM_WIN_DBD_MODE[0], 1);
    const int k = chip->firstIch(0), b = 16 * k;
    EXPECT_EQ((Vals{reg16(0x10, 0x17, b), reg16(0x10, 0x19, b), reg16(0x10, 0x1B, b), reg16(0x10, 0x1D, b)}),
              (Vals{105, 3000, 26, 1080}));
    Vals scaler;
    for (u8 r = 0x42; r <= 0x4B; ++r) scaler.push_back(reg8(0x11, r, b));
    EXPECT_EQ(scaler, Vals(0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ((Vals{reg32(0x16, 0x1C, b), reg32(0x16, 0x20, b), reg32(0x16, 0x24, b), reg32(0x16, 0x28, b),
                    reg32(0x16, 0x2C, b), reg8(0x16, 0x31, b)}),
              (Vals{0x2A800000, 0x35A80000, 0x40D00000, 0x4BF80000, 0x57200000, 10}));
    // Write mode 1, channel running with a signal (0x11), not locked to
    // another, dual mode off.
    EXPECT_EQ((Vals{reg8(0x00, u8(0x71 + k)), reg8(0x00, u8(0x08 + k)), reg8(0x10, 0x09, b),
                    reg8(0x03, u8(0x08 + 9 * (k / 2)))}),
              (Vals{0x80, 0x11, 1, 0}));
}

}  // namespace
