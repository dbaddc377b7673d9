// Output side: panel slices, zoom ratios, mixer inputs, fade or freeze
// around a change, output channels that stop drawing, and the placement of
// a window on its output channels.
#include "test_c331_pipe_env.h"

namespace {

class C331OutputTest : public C331PipeEnv {};

TEST_F(C331OutputTest, PanelSlicesOfAWindow) {
    m->sys.PS_ACTHW = 1920, m->sys.PS_ACTVW = 1080;
    m->PM_WIN_SHAPE[0][0] = 2, m->PM_WIN_SHAPE[0][1] = 1;
    c331_state::_ImageWindowDef2_St hs[8], vs[8];
    chip->calc_oact({1820, 300, 0, 1080}, hs, vs, 0);
    EXPECT_EQ((Vals{hs[0].HST, hs[0].HW, hs[1].HST, hs[1].HW, hs[0].hfirst, hs[0].hlast, hs[1].hlast, vs[0].VW}),
              (Vals{1820, 100, 0, 200, 1, 0, 1, 1080}));

    // Starting on the second panel: the first slice is empty.
    chip->calc_oact({2000, 500, 0, 1080}, hs, vs, 0);
    EXPECT_EQ((Vals{hs[0].HW, hs[1].HST, hs[1].HW, hs[1].hfirst}), (Vals{0, 80, 500, 1}));
}

TEST_F(C331OutputTest, ScalingModesAndRatios) {
    c331_state::_ScalingSt s;
    // Enlarged both ways, shrunk across only, no input size.
    c331_chip::calc_scaling({0, 1920, 0, 1080}, {0, 3840, 0, 2160}, &s);
    EXPECT_EQ((Vals{s.hmode, s.hzoom, s.hshrink, s.vmode}), (Vals{2, 32760, 0, 2}));
    c331_chip::calc_scaling({0, 3840, 0, 1080}, {0, 1920, 0, 1080}, &s);
    EXPECT_EQ((Vals{s.hmode, s.hshrink, s.vmode}), (Vals{1, 32760, 0}));
    c331_chip::calc_scaling({0, 0, 0, 0}, {0, 1920, 0, 1080}, &s);
    EXPECT_EQ((Vals{s.hmode, s.hzoom}), (Vals{0, 0}));
}

TEST_F(C331OutputTest, MixerInputsInLayerOrder) {
    for (int n = 0; n < 8; ++n) m->PM_WIN_NUM[n] = C331_WIN_NUM, m->PM_OVERLAY[n] = n + 1;
    m->PM_WIN_NUM[2] = 0, m->PM_WIN_NUM[5] = 1;
    m->PM_OVERLAY[2] = m->PM_OVERLAY[5] = 1;
    m->PM_OVERLAY[0] = 0;  // feeds no mixer
    m->PM_OVERLAY_PRI[0] = 1, m->PM_OVERLAY_PRI[1] = 3;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ(reg32(0x0E, 0x09, 0), 0xDAu);
    m->PM_OVERLAY_PRI[0] = 4;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ(reg32(0x0E, 0x09, 0), 0xADu);
    // A mixer fed only by a pipeline without a window still has it as its
    // one layer (channel 1: 1 + 8), with the full weight; one fed by
    // nothing has none.
    EXPECT_EQ((Vals{reg32(0x0E, 0x09, 16), m->g_och_layer_cnt[1], reg32(0x0E, 0x09, 0x70), m->g_och_layer_cnt[7]}),
              (Vals{9, 1, 15, 1}));
    m->PM_OVERLAY[7] = 0;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ((Vals{reg32(0x0E, 0x09, 0x70), m->g_och_layer_cnt[7]}), (Vals{0, 0}));

    chip->reset_layer_coef(m->c331_fd, 0);
    // Layers 0 and 1 present (combination 3): the top one (layer 1) shows.
    // Mixer 1: its layer 0 alone (combination 1) shows.
    EXPECT_EQ((Vals{reg8(0x0E, 0x12 + 5 * 3 + 2, 0), reg8(0x0E, 0x12 + 5 * 3 + 1, 0), reg8(0x0E, 0x12 + 5 * 3 + 0, 0),
                    reg8(0x0E, 0x12 + 5 * 1 + 1, 16), reg8(0x0E, 0x12 + 5 * 1 + 0, 16)}),
              (Vals{128, 0, 0, 128, 0}));

    // A pipeline without a window sharing a mixer with windows lies below
    // them, whatever their priorities.
    m->PM_OVERLAY[0] = 1;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ(reg32(0x0E, 0x09, 0), 0xAD8u);
}

TEST_F(C331OutputTest, FreezeHoldsOneFieldAndReleasesInRunningOrder) {
    for (int w = 0; w < 6; ++w) {
        for (int k = 0; k < 8; ++k) m->win_ich[w][k] = m->prev_win_ich[w][k] = -1;
        m->PM_WIN_STITCHING[w] = w;
        m->g_chg_input[w] = m->g_chg_dbd[w] = m->chg_win[w] = 0;
    }
    for (int n = 0; n < 8; ++n) m->PM_WIN_NUM[n] = m->prev_win_num[n] = 6;
    // Window 0 read by input channel 3 and shown on output channels 0 and 2;
    // window 1 on input channel 5 and output channel 1. Both change.
    m->win_ich[0][0] = m->prev_win_ich[0][0] = 3;
    m->win_ich[1][0] = m->prev_win_ich[1][0] = 5;
    m->PM_WIN_NUM[0] = m->prev_win_num[0] = 0;
    m->PM_WIN_NUM[2] = m->prev_win_num[2] = 0;
    m->PM_WIN_NUM[1] = m->prev_win_num[1] = 1;
    m->g_chg_input[0] = m->g_chg_input[1] = 1;
    const s32 start[5] = {0, 1, 2, 3, 4};
    for (int j = 0; j < 5; ++j) m->win_field[0][j] = start[j], m->win_field[1][j] = 4 - j;
    // Input channels 3 and 5 take HDMI1 (port 1) at 60 Hz; at 1.034 s they
    // write field 2 (62 frames begun).
    plug(2, 1920, 1080, 60);
    sim->setReg(0x00, 0x10 + 3, 2);
    sim->setReg(0x00, 0x10 + 5, 2);
    ManualClock& clock = useManualClock();
    clock.setMs(1034);
    sim->setReg(0x16 + 0x30, 0x6C, 0x77);  // output channel 3 shows neither window

    chip->set_freeze(m->c331_fd, 1);
    // Field index 1 ((2 + 3) mod 4) trades places with the spare: 0 4 2 3 1,
    // packed 0 + 4*16 + 2*256 + 3*4096 + 1*65536; both windows take it.
    EXPECT_EQ((Vals{reg8(0x10, 0x09, 0x30), reg8(0x10, 0x09, 0x50), reg8(0x00, 0x0B), reg8(0x00, 0x0D),
                    reg32(0x16, 0x66, 0x30) & 0xFFFFFF, reg32(0x16, 0x66, 0x50) & 0xFFFFFF, m->win_freeze[0],
                    m->win_freeze[1]}),
              (Vals{2, 2, 1, 1, 78400, 78400, 1, 1}));
    // The output channels that showed them read the held field only.
    EXPECT_EQ((Vals{reg16(0x16, 0x6C, 0x00), reg16(0x16, 0x6C, 0x10), reg16(0x16, 0x6C, 0x20), reg8(0x16, 0x6C, 0x30)}),
              (Vals{0x1111, 0x1111, 0x1111, 0x77}));

    // Released: f3 + 16*f0 + 256*f1 + 4096*f2 = 3 + 0 + 1024 + 8192.
    chip->set_freeze(m->c331_fd, 0);
    EXPECT_EQ((Vals{reg16(0x16, 0x6C, 0x00), reg16(0x16, 0x6C, 0x10), reg16(0x16, 0x6C, 0x20), m->win_freeze[0]}),
              (Vals{9219, 9219, 9219, 0}));

    // Field 0 being written: index 3 ((0 + 3) mod 4) goes to the spare:
    // 0 4 2 1 3 packed 0 + 64 + 512 + 4096 + 196608.
    clock.setMs(2000);  // 120 frames begun
    chip->set_freeze(m->c331_fd, 1);
    EXPECT_EQ((Vals{reg32(0x16, 0x66, 0x30) & 0xFFFFFF, reg16(0x16, 0x6C, 0x10)}), (Vals{201280, 0x3333}));
}

TEST_F(C331OutputTest, FadeCoefficientsOfEveryStep) {
    // Mixer 0: output channel 2 (window 0) below channel 5 (window 1).
    for (int n = 0; n < 8; ++n) m->PM_WIN_NUM[n] = 6;
    for (int mx = 0; mx < 8; ++mx) m->g_och_layer_cnt[mx] = 0;
    m->PM_WIN_NUM[2] = 0, m->PM_WIN_NUM[5] = 1;
    m->g_och_layer[0][0] = 2, m->g_och_layer[0][1] = 5, m->g_och_layer_cnt[0] = 2;
    auto coef = [&](int c, int i) { return sim->writesTo(0x0E, u8(0x12 + 5 * c + i)); };
    using Bytes = std::vector<uint8_t>;

    // Window 1 fades in over 3 steps: 0, 128/3, 256/3, 128 with what lies
    // below taking the rest. It is layer 1: combinations 2 (over the
    // background) and 3 (over layer 0).
    sim->clearLog();
    chip->set_layer_coef(m->c331_fd, 1, 3, 1);
    EXPECT_EQ(coef(2, 2), (Bytes{0, 42, 85, 128}));
    EXPECT_EQ(coef(2, 0), (Bytes{128, 86, 43, 0}));
    EXPECT_EQ(coef(3, 2), (Bytes{0, 42, 85, 128}));
    EXPECT_EQ(coef(3, 1), (Bytes{128, 86, 43, 0}));
    EXPECT_EQ((Vals{coef(1, 1).size(), coef(6, 2).size(), coef(3, 0).size()}), (Vals{0, 0, 0}));
    EXPECT_EQ(sim->writesTo(0x00, 0x22), (Bytes{255, 169, 255, 169, 255, 169, 255, 169}));
    EXPECT_EQ(sim->writesTo(0x00, 0x23), (Bytes{255, 203, 255, 203, 255, 203, 255, 203}));
    EXPECT_EQ(sim->writesTo(0x0E, 0x0F), (Bytes{0, 0, 0, 0}));

    // Window 0 fades out over 3 steps: layer 0, combinations 1 only.
    sim->clearLog();
    chip->set_layer_coef(m->c331_fd, 0, 3, 0);
    EXPECT_EQ(coef(1, 1), (Bytes{128, 86, 43, 0}));
    EXPECT_EQ(coef(1, 0), (Bytes{0, 42, 85, 128}));
    EXPECT_EQ(coef(3, 2).size(), 0u);

    // No steps: one frame at the end weight; below zero: nothing.
    sim->clearLog();
    chip->set_layer_coef(m->c331_fd, 1, 0, 1);
    chip->set_layer_coef(m->c331_fd, 1, 0, 0);
    chip->set_layer_coef(m->c331_fd, 1, -1, 1);
    EXPECT_EQ(coef(2, 2), (Bytes{128, 0}));
    EXPECT_EQ(coef(2, 0), (Bytes{0, 128}));

    // Positions 4 and 5 select the upper layer groups and use layer 3's
    // coefficients (combinations 8 to 15 over the next lower present layer).
    for (int j = 0; j < 6; ++j) m->g_och_layer[0][j] = j, m->PM_WIN_NUM[j] = 6;
    m->g_och_layer_cnt[0] = 6;
    m->PM_WIN_NUM[4] = 2, m->PM_WIN_NUM[5] = 3;
    sim->clearLog();
    chip->set_layer_coef(m->c331_fd, 2, 0, 1);
    EXPECT_EQ((Vals{reg16(0x0E, 0x0F), reg8(0x0E, 0x12 + 5 * 8 + 4), reg8(0x0E, 0x12 + 5 * 8 + 0),
                    reg8(0x0E, 0x12 + 5 * 12 + 3), reg8(0x0E, 0x12 + 5 * 9 + 1), coef(7, 3).size()}),
              (Vals{256, 128, 0, 0, 0, 0}));
    sim->setReg(0x0E, 0x12 + 5 * 12 + 3, 0x55);
    chip->set_layer_coef(m->c331_fd, 3, 0, 0);
    EXPECT_EQ((Vals{reg16(0x0E, 0x0F), reg8(0x0E, 0x12 + 5 * 12 + 4), reg8(0x0E, 0x12 + 5 * 12 + 3)}),
              (Vals{512, 0, 128}));
}

TEST_F(C331OutputTest, OneSourceChangeFadesSeveralFreeze) {
    grid(5, 1920, 1080, 2, 1);
    plug(2, 1920, 1080, 60);
    plug(3, 1920, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080, 0x4);
    window(1, 3, 1920, 0, 1920, 1080, 0x4);
    img.setWord(RamOffset::fadeIn(0), 30), img.setWord(RamOffset::fadeOut(0), 30);
    layout();
    poll();
    const size_t povsBefore = sim->writesTo(0x05, 0x09).size();

    // One window, fade on, counts 30/30: out and in over 31 frames each.
    m->g_chg_input[0] = 1;
    chip->set_output(m->c331_fd);
    size_t povs = sim->writesTo(0x05, 0x09).size() - povsBefore;
    EXPECT_EQ(povs, 2u * 2u * 31u);  // request and release per frame
    const auto hold = sim->writesTo(0x10, 0x09);

    // Two windows at once: frozen instead, no fade frames.
    const size_t before2 = sim->writesTo(0x05, 0x09).size();
    m->g_chg_input[0] = 1, m->g_chg_input[1] = 1;
    chip->set_output(m->c331_fd);
    povs = sim->writesTo(0x05, 0x09).size() - before2;
    EXPECT_EQ(povs, 2u);  // the one frame of the freeze
    const auto frozen = sim->writesTo(0x10, 0x09);
    EXPECT_NE(std::find(frozen.begin() + long(hold.size()), frozen.end(), 2), frozen.end());

    // Without output frames a fade jumps to its last step instead of waiting
    // out every frame under the manager's mutex.
    sim->setVsyncMissing(true);
    const size_t before3 = sim->writesTo(0x05, 0x09).size();
    m->g_chg_input[0] = 1;
    chip->set_output(m->c331_fd);
    EXPECT_EQ(sim->writesTo(0x05, 0x09).size() - before3, 2u * 2u * 2u);  // first and last step each way
    sim->setVsyncMissing(false);
}

TEST_F(C331OutputTest, UnusedOutputChannelsStopDrawing) {
    grid(6, 960, 1080, 4, 1);
    plug(2, 1920, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080);
    layout();
    poll();
    auto widths = [&] {
        return Vals{reg16(0x08, 0x42, 0), reg16(0x08, 0x42, 16), reg16(0x08, 0x42, 32), reg16(0x08, 0x42, 48)};
    };
    EXPECT_EQ(widths(), (Vals{960, 960, 0, 0}));
    // The window shrinks to one channel: the second stops drawing.
    img.setWord(RamOffset::win(0) + RamOffset::WIN_WIDTH, 960);
    layout();
    chip->set_output(m->c331_fd);
    EXPECT_EQ(widths(), (Vals{960, 0, 0, 0}));
}

TEST_F(C331OutputTest, AZoomedWindowAcrossTwoChannels) {
    grid(6, 960, 1080, 4, 1);
    plug(2, 1280, 720, 60);
    window(0, 2, 0, 0, 1920, 1080);
    layout();
    poll();
    ASSERT_EQ(m->gWininfo[0].totalh, 2);
    const u32 zh = u32(((1280 - 1) * 65536LL) / (1920 - 1) + 1);
    const u32 zv = u32(((720 - 1) * 65536LL) / (1080 - 1) + 1);
    for (int n : {0, 1}) {
        const int b = 16 * n;
        EXPECT_EQ((Vals{reg16(0x08, 0x40, b), reg16(0x08, 0x42, b), reg16(0x08, 0x46, b), reg8(0x0A, 0x46, b),
                        reg16(0x0A, 0x49, b), reg16(0x0A, 0x4E, b)}),
                  (Vals{m->PS_ACTHST, 960, 1080, 199, zh, zv})) << n;
    }
    // The second channel runs locked to the first and reads from about two
    // thirds along the source line, less the filter margin.
    EXPECT_EQ((Vals{reg16(0x08, 0x08, 0), reg16(0x08, 0x08, 16)}), (Vals{1, 0x11 + 0x1000}));
    const long long fx = 960LL * zh;
    const u32 pos = u32(fx >> 16) + ((fx & 0xFFFF) >= zh ? 1 : 0) - 4;
    const u32 units = pos * 16 / 5;  // memory write mode 1
    EXPECT_EQ(reg32(0x16, 0x08, 16) - reg32(0x16, 0x08, 0), units);
}

}  // namespace
