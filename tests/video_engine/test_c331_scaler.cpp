// Input channels: allocation, making room, shrink ratios and filters, the
// programmed crop and shrink of a window, dot-by-dot memory.
#include "test_c331_pipe_env.h"

namespace {

class C331ScalerTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        freeAll();
    }
    void freeAll() {
        for (int k = 0; k < 8; ++k) m->ich_owner[k] = -1;
    }
    // n windows in use, window w on port ports[w].
    void windows(std::initializer_list<int> ports) {
        m->gMwin.wincnt = int(ports.size());
        int w = 0;
        for (int p : ports) {
            m->PM_WIN_SHAPE[w][0] = m->PM_WIN_SHAPE[w][1] = 1;
            m->PM_INPUT[w] = p;
            m->PM_WIN_DBD_MODE[w] = 0;
            ++w;
        }
    }
    void own(std::initializer_list<int> chans, int win = 5) {
        for (int k : chans) m->ich_owner[k] = win;
    }
};

TEST_F(C331ScalerTest, ChoosingAFreeChannel) {
    EXPECT_EQ((Vals{chip->check_ich(0, 0), chip->check_ich(0, 1)}), (Vals{0, 4}));
    // Channels taken one after the other, and the choice after each: with
    // 2 taken, 0 is free but 3 is chosen; with 0-3 taken no interlaced
    // channel is left; with 6 taken, 7.
    Vals got;
    for (int k : {2, 0, 1, 3, 6, 4, 5, 7}) {
        own({k});
        if (k == 0) continue;  // 0 and 1 are taken together
        got.push_back(chip->check_ich(0, 0));
        if (k == 3) got.push_back(chip->check_ich(1, 0));
    }
    EXPECT_EQ(got, (Vals{3, 3, 4, -1, 7, 5, 7, -1}));
    EXPECT_EQ(chip->check_ich(0, 1), -1);
}

TEST_F(C331ScalerTest, SixWindowsFillTheEightChannels) {
    windows({0, 1, 2, 3, 4, 5});
    for (int w = 0; w < 6; ++w) EXPECT_NE(chip->set_input(w, m->PM_INPUT[w]), 2) << w;
    for (int k = 0; k < 8; ++k) EXPECT_GE(m->ich_owner[k], 0) << k;
    EXPECT_EQ((Vals{chip->ichCount(4), chip->ichCount(5)}), (Vals{2, 2}));
    // Two channels per window on every port is one too many; nothing is freed.
    m->PM_WIN_DBD_MODE[0] = 20;
    EXPECT_EQ((Vals{chip->check_ich_all(0), chip->ichCount(0)}), (Vals{-1, 1}));
}

TEST_F(C331ScalerTest, WindowCountsOneToSix) {
    // One window per CMOS port first, then the Vby-One ports.
    const int ports[6] = {1, 0, 2, 3, 4, 5};
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        freeAll();
        m->gMwin.wincnt = n;
        for (int w = 0; w < 6; ++w) {
            m->PM_WIN_SHAPE[w][0] = m->PM_WIN_SHAPE[w][1] = w < n ? 1 : 0;
            m->PM_INPUT[w] = ports[w];
            m->PM_WIN_DBD_MODE[w] = 0;
        }
        int used = 0;
        for (int w = 0; w < n; ++w) {
            ASSERT_EQ(chip->set_input(w, ports[w]), 0) << w;
            used += chip->ichCount(w);
        }
        EXPECT_EQ(used, std::min(n, 4) + 2 * std::max(0, n - 4));
        // No channel is drawn twice.
        for (int k = 0; k < 8; ++k) {
            int owners = 0;
            for (int w = 0; w < n; ++w)
                for (int i = 0; i < chip->ichCount(w); ++i) owners += m->win_ich[w][i] == k;
            EXPECT_LE(owners, 1);
        }
    }
}

TEST_F(C331ScalerTest, InterlacedInputMovesAProgressiveWindowOut) {
    windows({0, 1, 2, 3, 0});
    m->PI_SCAN_MODE[0] = 0;
    for (int w = 0; w < 4; ++w) ASSERT_EQ(chip->set_input(w, m->PM_INPUT[w]), 0);
    EXPECT_EQ(m->ich_owner[0], 0);
    // Window 4's port becomes interlaced: it needs one of channels 0-3.
    m->PM_INPUT[4] = 2;
    m->PI_SCAN_MODE[2] = 1;
    m->PI_PORT_INFO[2][c331_state::PI_IP] = 1;
    EXPECT_EQ((Vals{chip->set_input(4, 2), m->ich_owner[0], m->ich_owner[4], m->g_chg_input[0]}), (Vals{1, 4, 0, 2}));
}

TEST_F(C331ScalerTest, ShrinkRatiosAndFilters) {
    using C = c331_chip;
    // Enlarging is not the input's job.
    EXPECT_EQ((Vals{C::shrinkRatio(1920, 1920), C::shrinkRatio(960, 1920), C::shrinkRatio(1920, 0),
                    C::shrinkRatio(1921, 961), C::shrinkRatio(3840, 1920)}),
              (Vals{65536, 65536, 65536, 32768 + 1, 32760}));
    EXPECT_EQ((Vals{C::hshrinkSet(32768), C::vshrinkClass(32768), C::hshrinkSet(65536)}), (Vals{4, 3, 44}));

    chip->set_lut_vshrnk_4sym(m->c331_fd, 32768, 2, 1);
    const u8 row3[16] = {0x06, 0x08, 0x09, 0x0B, 0x0C, 0x0E, 0x0F, 0x13, 0x12, 0x13, 0x14, 0x15, 0x17, 0x17, 0x19, 0x1A};
    for (int base : {32, 48}) {
        for (int i = 0; i < 8; ++i) EXPECT_EQ(reg8(0x11, u8(0x68 + i), base), 0);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(reg8(0x11, u8(0x70 + i), base), row3[i]);
    }
    chip->set_lut_hshrnk(m->c331_fd, 32768, 2, 1);
    EXPECT_EQ(sim->writesTo(0x00, 0x79).back(), 4);
    const auto cmds = sim->writesTo(0x00, 0x7A);
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ((Vals{cmds[cmds.size() - 2], cmds.back()}), (Vals{4 * 2 + 131, 4 * 2 + 135}));
}

TEST_F(C331ScalerTest, AWindowShrunkToHalfItsSize) {
    grid(5, 1920, 1080, 2, 1);
    plug(2, 1920, 1080, 60);
    window(0, 2, 0, 0, 960, 540);
    layout();
    poll();
    const int k = chip->firstIch(0);
    ASSERT_GE(k, 0);
    const int b = 16 * k;
    // HDMI1 is port 1; the capture window; shrink by half both ways; memory.
    EXPECT_EQ((Vals{reg8(0x00, u8(0x10 + k)), reg16(0x10, 0x17, b), reg16(0x10, 0x19, b), reg16(0x10, 0x1B, b),
                    reg16(0x10, 0x1D, b)}),
              (Vals{2, 192 - 7, 1920, 41 + 1, 1080}));
    EXPECT_EQ((Vals{reg8(0x11, 0x44, b), reg16(0x11, 0x47, b), reg8(0x11, 0x49, b), reg16(0x11, 0x4C, b)}),
              (Vals{199, 32751, 0x84, 32738}));  // 959 x 65536 / 1919 + 1, 539 x 65536 / 1079 + 1
    // The channel's first field buffer lies at k x 0x2000.
    EXPECT_EQ((Vals{reg32(0x16, 0x1C, b), reg8(0x16, 0x31, b)}), (Vals{k * 0x2000, 64}));

    // The same picture at full size needs no shrink.
    img.setWord(RamOffset::win(0) + RamOffset::WIN_WIDTH, 1920);
    img.setWord(RamOffset::win(0) + RamOffset::WIN_HEIGHT, 1080);
    layout();
    chip->set_output(m->c331_fd);
    const int k2 = chip->firstIch(0);
    EXPECT_EQ((Vals{reg8(0x11, 0x44, 16 * k2), reg16(0x11, 0x47, 16 * k2)}), (Vals{0x80, 0}));
}

TEST_F(C331ScalerTest, DotByDotMemory) {
    windows({4, 2});
    // A 3840 x 2160 Vby-One picture fits one channel: its own memory.
    m->PI_ACT_FULL[4][1] = 3840, m->PI_ACT_FULL[4][3] = 2160;
    m->PM_WIN_DBD_MODE[0] = 1;
    m->g_chg_dbd[0] = 1;
    ASSERT_EQ(chip->set_input(0, 4), 0);
    ASSERT_EQ(chip->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ((Vals{m->dbd_win_line[0], m->dbd_win_mem[0][0]}), (Vals{64, chip->firstIch(0) * 0x2000}));
    for (int b = 0; b < 6; ++b) EXPECT_EQ(m->dbd_blk_owner[b], -1);

    // A CMOS picture 3000 wide does not: one block, lines of 10 x 320.
    m->PI_ACT_FULL[2][1] = 3000, m->PI_ACT_FULL[2][3] = 1080;
    m->PM_WIN_DBD_MODE[1] = 1;
    m->g_chg_dbd[1] = 1;
    ASSERT_EQ(chip->set_input(1, 2), 0);
    ASSERT_EQ(chip->set_dbd_mem(m->c331_fd, 1), 0);
    EXPECT_EQ((Vals{m->dbd_win_line[1], m->dbd_blk_owner[0], m->dbd_win_mem[1][0]}), (Vals{10, 1, 0x2A800000u}));

    // A quad picture takes four blocks counting down and reads from the
    // lowest; a second one does not fit.
    m->PM_WIN_DBD_MODE[0] = 41;
    ASSERT_EQ(chip->set_dbd_mem(m->c331_fd, 0), 0);
    EXPECT_EQ((Vals{m->dbd_blk_owner[5], m->dbd_blk_owner[2], m->dbd_win_mem[0][1]}),
              (Vals{0, 0, 0x35A80000u + 2 * 0x01DC0000u}));
    // What the second took is given back.
    m->PM_WIN_DBD_MODE[1] = 40;
    EXPECT_EQ((Vals{chip->set_dbd_mem(m->c331_fd, 1), m->dbd_blk_owner[0], m->dbd_blk_owner[1]}), (Vals{-1, -1, -1}));
}

}  // namespace
