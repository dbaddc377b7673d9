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
    m->PM_OVERLAY_PRI[0] = 1, m->PM_OVERLAY_PRI[1] = 3;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ(reg32(0x0E, 0x09, 0), 0xDAu);
    m->PM_OVERLAY_PRI[0] = 4;
    chip->update_overlay_info();
    chip->set_overlay(m->c331_fd);
    EXPECT_EQ(reg32(0x0E, 0x09, 0), 0xADu);
    // A mixer without a window pipeline has no layer.
    EXPECT_EQ((Vals{reg32(0x0E, 0x09, 16), m->g_och_layer_cnt[1]}), (Vals{0, 0}));

    chip->reset_layer_coef(m->c331_fd, 0);
    // Layers 0 and 1 present (combination 3): the top one (layer 1) shows.
    EXPECT_EQ((Vals{reg8(0x0E, 0x12 + 5 * 3 + 2, 0), reg8(0x0E, 0x12 + 5 * 3 + 1, 0), reg8(0x0E, 0x12 + 5 * 3 + 0, 0),
                    reg8(0x0E, 0x12 + 5 * 3 + 2, 16)}),
              (Vals{128, 0, 0, 0}));
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
