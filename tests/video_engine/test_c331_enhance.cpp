// Enhancement blocks of input channels 0-3 on the simulated chip: the
// de-interlacer's field geometry and memory, the noise reducers by input
// size and level, the cadence and diagonal tables, and the channel write
// control that chooses the noise path.
#include "test_c331_pipe_env.h"

namespace {

class C331EnhanceTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        for (int k = 0; k < 8; ++k) m->ich_owner[k] = -1;
    }
    // Window 0 on `input`, laid out and measured; returns its first channel.
    int show(int input) {
        window(0, u16(input), 0, 0, 1920, 1080);
        layout();
        poll();
        port = m->PM_INPUT[0];
        return chip->firstIch(0);
    }
    void reducers(int h, int v, int t, int b, int mq) {
        for (int p = 0; p < 6; ++p) {
            m->PM_HNR[p] = h, m->PM_VNR[p] = v, m->PM_TNR[p] = t, m->PM_BNR[p] = b, m->PM_MNR[p] = mq;
        }
        for (s32& last : m->nr_last) last = -1;
    }
    int writes() {
        int n = 0;
        for (const auto& a : sim->log())
            if (a.write && a.reg != 0) ++n;
        return n;
    }
    int port = -1;
};

TEST_F(C331EnhanceTest, BlockReducerFollowsTheInputHeight) {
    reducers(0, 0, 0, 2, 0);
    plug(2, 1280, 720, 60);
    const int k = show(2);
    ASSERT_GE(k, 0);
    ASSERT_LE(k, 3);
    const int b = 16 * k;
    EXPECT_EQ((Vals{reg16(0x15, 0x39, b), reg8(0x15, 0x3B, b), reg16(0x15, 0x4D, b), reg16(0x15, 0x56, b),
                    reg8(0x15, 0x6A, b), reg8(0x15, 0x40, b), reg8(0x15, 0x08, b)}),
              (Vals{8855, 160, 171, 86, 16, 16, 3}));
}

TEST_F(C331EnhanceTest, AnInputOfNoKnownHeightProgramsNoBlockRegister) {
    reducers(0, 0, 0, 2, 0);
    plug(2, 1366, 768, 60);
    const int k = show(2);
    ASSERT_GE(k, 0);
    const int b = 16 * k;
    for (u8 r = 0x39; r <= 0x6A; ++r) EXPECT_TRUE(sim->writesTo(u8(0x15 + b), r).empty()) << std::hex << int(r);
    EXPECT_EQ(reg8(0x15, 0x08, b), 3);
}

TEST_F(C331EnhanceTest, NoiseModeByReducersAndScan) {
    reducers(0, 0, 1, 0, 0);
    plug(2, 1920, 1080, 60);
    int k = show(2);
    EXPECT_EQ((Vals{reg8(0x15, 0x08, 16 * k), reg8(0x12, 0x08, 16 * k), reg8(0x12, 0x0D, 16 * k),
                    reg8(0x12, 0x14, 16 * k)}),
              (Vals{1, 3, 18, 31}));
    reducers(0, 0, 1, 3, 0);
    poll();
    chip->set_ip(m->c331_fd, k);
    EXPECT_EQ(reg8(0x15, 0x08, 16 * k), 3);
    // Interlaced: the de-interlacer carries the picture, the reducers' mode
    // stays 0 whatever is set.
    plug(2, 1920, 1080, 60, true);
    poll();
    k = chip->firstIch(0);
    chip->set_ip(m->c331_fd, k);
    EXPECT_EQ(reg8(0x15, 0x08, 16 * k), 0);
    // Without a signal state above 3 every reducer is switched off.
    m->PI_STATE[port] = 3;
    chip->set_nr(m->c331_fd, k, port);
    EXPECT_EQ((Vals{reg16(0x15, 0x39, 16 * k), reg8(0x12, 0x08, 16 * k), reg8(0x15, 0x6B, 16 * k),
                    reg8(0x15, 0x09, 16 * k)}),
              (Vals{0, 0, 0, 0}));
}

TEST_F(C331EnhanceTest, LineAndMosquitoReducersByLevel) {
    reducers(3, 1, 0, 0, 2);
    plug(2, 1920, 1080, 60);
    const int k = show(2), b = 16 * k;
    EXPECT_EQ((Vals{reg8(0x15, 0x6B, b), reg8(0x15, 0x6E, b), reg8(0x15, 0x6F, b), reg8(0x15, 0x6C, b),
                    reg8(0x15, 0x6D, b)}),
              (Vals{17, 0xA8, 0xFC, 0x42, 0x96}));
    EXPECT_EQ((Vals{reg8(0x15, 0x09, b), reg8(0x15, 0x0D, b), reg8(0x15, 0x1B, b), reg8(0x15, 0x1D, b),
                    reg8(0x15, 0x21, b), reg8(0x15, 0x28, b), reg8(0x15, 0x29, b)}),
              (Vals{1, 128, 127, 63, 0, 64, 0}));
    // A level beyond the tables is off.
    reducers(4, 0, 4, 0, 4);
    chip->set_nr(m->c331_fd, k, port);
    EXPECT_EQ((Vals{reg8(0x15, 0x6B, b), reg8(0x15, 0x6E, b), reg8(0x12, 0x08, b), reg8(0x15, 0x09, b)}),
              (Vals{0, 0, 0, 0}));
}

TEST_F(C331EnhanceTest, NoChannelOrNoPortWritesNothing) {
    plug(2, 1920, 1080, 60, true);
    const int k = show(2);
    ASSERT_GE(k, 0);
    reducers(1, 1, 1, 1, 1);
    const int fd = m->c331_fd;
    sim->clearLog();
    chip->set_ip(fd, 4);
    chip->set_ip(fd, -1);
    for (int ich : {4, 7, -1}) {
        chip->set_nr(fd, ich, port);
        chip->set_nr_b_720p(fd, ich, port);
        chip->set_nr_tpx(fd, ich, port);
        chip->set_comb(fd, ich, port);
        chip->set_mvflt(fd, ich, port);
        chip->set_ipregs(fd, ich, port);
        chip->set_diag(fd, ich, port);
    }
    // Ports -1 and 6 mark "none".
    for (int p : {-1, 6}) {
        chip->set_nr(fd, k, p);
        chip->set_nr_hvpx(fd, k, p);
        chip->set_nr_mosq(fd, k, p);
        chip->set_diag(fd, k, p);
    }
    // A channel nobody owns, and a window that shows no port.
    const int free = k == 0 ? 1 : 0;
    m->ich_owner[free] = -1;
    chip->set_ip(fd, free);
    for (int p : {-1, 6}) {
        m->PM_INPUT[0] = p;
        chip->set_ip(fd, k);
    }
    EXPECT_EQ(writes(), 0);
}

TEST_F(C331EnhanceTest, InterlacedFieldGeometryAndMemory) {
    reducers(0, 0, 0, 0, 0);
    plug(2, 1920, 1080, 60, true);
    const int k = show(2);
    ASSERT_GE(k, 0);
    ASSERT_LE(k, 3);
    ASSERT_EQ(m->PI_SCAN_MODE[port], 1);
    const int b = 16 * k;
    // The field register reads 2199: (2200 + 1) / 2 = 1100 pixels.
    EXPECT_EQ((Vals{m->PI_IFH[port], m->PI_IFV[port]}), (Vals{2200, 540}));
    EXPECT_EQ((Vals{reg16(0x14, 0x08, b), reg16(0x14, 0x6D, b), reg16(0x14, 0x0A, b), reg8(0x14, 0x0C, b)}),
              (Vals{1132, 0x8351, 1112, 1}));
    const s32* act = m->PI_ACT[port];
    EXPECT_EQ((Vals{reg16(0x14, 0x0F, b), reg16(0x14, 0x13, b), reg16(0x14, 0x11, b)}),
              (Vals{act[1], 2 * act[3], 2 * act[2] + 0x8000}));
    const u32 i0 = m->sys.PS_MEM_IP_I[k][0], i1 = m->sys.PS_MEM_IP_I[k][1];
    EXPECT_EQ((Vals{reg32(0x17, 0x18, b), reg32(0x17, 0x1C, b), reg32(0x17, 0x20, b), reg32(0x17, 0x24, b),
                    reg32(0x17, 0x08, b), reg32(0x17, 0x14, b), reg16(0x17, 0x59, b), reg8(0x16, 0x5B, b)}),
              (Vals{0xC00 + i0, i0, 0xC00 + i1, i1, 0xC00 + i0, i1, 207, 1}));
    // Interlaced with the de-interlacer on (PM_IPEN 1 by default); 1080i60
    // is state 5: its cadence row, film detection off (0x32 + 1), the
    // thresholds 1 and 1.
    EXPECT_EQ((Vals{reg8(0x14, 0x2A, b), reg8(0x14, 0x67, b), reg8(0x14, 0x68, b)}), (Vals{0, 8, 4}));
    ASSERT_EQ(m->PI_STATE[port], 5);
    EXPECT_EQ((Vals{reg8(0x14, 0x2C, b), reg8(0x14, 0x2D, b), reg8(0x14, 0x30, b), reg8(0x14, 0x2E, b),
                    reg8(0x14, 0x35, b), reg8(0x14, 0x48, b)}),
              (Vals{0x33, 9, 0x11, 26, 193, 15}));
    // The same port progressive: the two frame buffers, no chroma offset.
    plug(2, 1920, 1080, 60);
    poll();
    ASSERT_EQ(chip->firstIch(0), k);
    const u32 p0 = m->sys.PS_MEM_IP_P[k][0], p1 = m->sys.PS_MEM_IP_P[k][1];
    EXPECT_EQ((Vals{reg32(0x17, 0x18, b), reg32(0x17, 0x1C, b), reg32(0x17, 0x10, b), reg32(0x17, 0x14, b),
                    reg16(0x17, 0x59, b), reg8(0x16, 0x5B, b), reg8(0x15, 0x70, b)}),
              (Vals{p0, p1, p0, p1, 0, 0, 0}));
}

TEST_F(C331EnhanceTest, CadenceRegistersByState) {
    plug(2, 1920, 1080, 60, true);
    const int k = show(2), b = 16 * k, fd = m->c331_fd;
    m->PI_STATE[port] = 5;
    m->PM_22PD[port] = 1, m->PM_23PD[port] = 0, m->PM_24SF[port] = 1;
    m->PM_22PDSQTH[port] = 2, m->PM_23PDSQTH[port] = 5;
    chip->set_ipregs(fd, k, port);
    EXPECT_EQ((Vals{reg8(0x14, 0x2C, b), reg8(0x14, 0x2D, b), reg8(0x14, 0x30, b), reg8(0x14, 0x31, b),
                    reg8(0x14, 0x37, b), reg8(0x14, 0x38, b), reg8(0x14, 0x3A, b), reg8(0x14, 0x42, b),
                    reg8(0x14, 0x47, b), reg8(0x14, 0x48, b)}),
              (Vals{0x73, 25, 0x25, 142, 193, 0, 193, 68, 2, 15}));
    m->PI_STATE[port] = 7;
    m->PM_22PD[port] = 0, m->PM_23PD[port] = 1, m->PM_24SF[port] = 0;
    chip->set_ipregs(fd, k, port);
    EXPECT_EQ((Vals{reg8(0x14, 0x2C, b), reg8(0x14, 0x2D, b), reg8(0x14, 0x2E, b), reg8(0x14, 0x31, b),
                    reg8(0x14, 0x38, b), reg8(0x14, 0x39, b), reg8(0x14, 0x42, b), reg8(0x14, 0x47, b),
                    reg8(0x14, 0x48, b)}),
              (Vals{0xB2, 9, 13, 53, 196, 194, 70, 0, 9}));
    // States outside 5-8 leave the registers as they are.
    sim->clearLog();
    m->PI_STATE[port] = 4;
    chip->set_ipregs(fd, k, port);
    EXPECT_EQ(writes(), 0);
}

TEST_F(C331EnhanceTest, DiagonalCombAndMotionFilter) {
    plug(2, 1920, 1080, 60, true);
    const int k = show(2), b = 16 * k, fd = m->c331_fd;
    // PM_DIAG 2 and PM_MVFLT 3 by default.
    EXPECT_EQ((Vals{reg8(0x14, 0x50, b), reg8(0x14, 0x53, b), reg8(0x14, 0x5F, b), reg8(0x14, 0x15, b),
                    reg8(0x14, 0x1F, b), reg8(0x14, 0x20, b), reg8(0x14, 0x21, b)}),
              (Vals{11, 3, 50, 31, 8, 16, 24}));
    for (u8 r = 0x50; r <= 0x63; ++r) sim->setReg(u8(0x14 + b), r, 0xAA);
    m->PI_STATE[port] = 3;
    chip->set_diag(fd, k, port);
    Vals cleared, kept;
    for (u8 r = 0x50; r <= 0x5F; ++r) cleared.push_back(reg8(0x14, r, b));
    for (u8 r = 0x60; r <= 0x63; ++r) kept.push_back(reg8(0x14, r, b));
    EXPECT_EQ(cleared, Vals(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_EQ(kept, Vals(0xAA, 0xAA, 0xAA, 0xAA));
    m->PI_STATE[port] = 5;
    m->PM_COMB[port] = 3;
    m->PM_MVFLT[port] = 5;
    chip->set_comb(fd, k, port);
    chip->set_mvflt(fd, k, port);
    EXPECT_EQ((Vals{reg8(0x14, 0x3B, b), reg8(0x14, 0x3C, b), reg8(0x14, 0x3D, b), reg8(0x14, 0x15, b),
                    reg8(0x14, 0x1A, b)}),
              (Vals{1, 112, 160, 0, 0}));
}

TEST_F(C331EnhanceTest, ChannelWriteControl) {
    // A Vby-One window takes channels 4 and 5: both run with a signal, the
    // second locked to the first.
    lanes[4] = 8;
    plug(4, 3840, 2160, 60);
    window(0, 4, 0, 0, 1920, 1080);
    layout();
    poll();
    ASSERT_EQ((Vals{chip->firstIch(0), chip->ichCount(0)}), (Vals{4, 2}));
    EXPECT_EQ((Vals{reg8(0x00, 0x0C), reg8(0x00, 0x0D), reg8(0x10, 0x09, 16 * 4), reg8(0x10, 0x09, 16 * 5)}),
              (Vals{0x11, 0x11, 1, 12}));
}

TEST_F(C331EnhanceTest, ChannelWriteControlOfTheNoisePath) {
    reducers(0, 0, 0, 0, 0);
    plug(2, 1920, 1080, 60, true);
    const int k = show(2), fd = m->c331_fd;
    ASSERT_EQ(k, 0);
    // Interlaced: through the noise path (0x11 + 14), not running on its own.
    EXPECT_EQ((Vals{reg8(0x00, 0x08), reg8(0x10, 0x09)}), (Vals{0x1F, 0}));
    // Progressive with the same reducers twice: 15:08 written once.
    plug(2, 1920, 1080, 60);
    poll();
    reducers(0, 0, 1, 0, 0);
    sim->clearLog();
    chip->set_mct(fd, 0, 0);
    chip->set_mct(fd, 0, 0);
    EXPECT_EQ(sim->writesTo(0x15, 0x08), std::vector<uint8_t>{1});
    EXPECT_EQ((Vals{reg8(0x00, 0x08), reg8(0x10, 0x09)}), (Vals{0x1F, 1}));
}

}  // namespace
