// Bring-up of both FPGAs in virtual time: start gate, release, Vby-One
// start, parameter load, run-state sequence, resets.
#include "fpga_env.h"

using FpgaBringUp = FpgaEnv;

TEST_F(FpgaBringUp, BothRunHandTheChipBackOnceAndLoadTheDefaultArea) {
    ASSERT_TRUE(bringUpBoth());
    EXPECT_EQ((Vals{handBacks, g_force_bkcolor.load()}), (Vals{1, 0}));
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ((Vals{fpga[k]->reg(3) & 0x20, image(k, 80), fpga[k]->reg(32), fpga[k]->reg(39), fpga[k]->reg(2) & 8}),
                  (Vals{0x20, 3, 1, 8, 8}));
        // No stored area: every port 1280 x 512 at 0, 0, the spares 1 x 1,
        // the global port numbers, all of it in the FPGA's page 1 too.
        for (int n = 0; n < 16; ++n) {
            const int e = kPortAt[n];
            const bool spare = n >= 12;
            EXPECT_EQ((Vals{area(k, e), area(k, e + 2), area(k, e + 4), area(k, e + 6)}),
                      (Vals{0, 0, spare ? 1 : 1280, spare ? 1 : 512}))
                << "port " << n;
            EXPECT_EQ(ramWord(k, e + 4), spare ? 1 : 1280);
        }
        const auto numbers = fpga[k]->ram(1, 276, 12);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(numbers[size_t(i)], 12 * k + i + 1);
    }
    EXPECT_EQ(std::vector<u8>(fpga_manage::MCU_RAM_CMD + 12, fpga_manage::MCU_RAM_CMD + 16),
              (std::vector<u8>{0x01, 0x20, 0x10, 0x24}));
    EXPECT_EQ(m->device_id, 0x93246B7Fu);
    // Running stays running; register 0 bit 3 of either takes it away.
    tick(500);
    EXPECT_EQ(handBacks, 1);
    m->write_to_register(0, 0x08, 0x08, 1);
    EXPECT_FALSE(m->get_fpga_status());
    m->write_to_register(0, 0x08, 0x00, 1);
    EXPECT_TRUE(m->get_fpga_status());
}

TEST_F(FpgaBringUp, NothingHappensBeforeTheGateOrTheRelease) {
    release(0);
    release(1);
    const size_t lines = board().simGpio().history().size();
    tick(300);
    EXPECT_EQ(board().simGpio().history().size(), lines);

    // Gate open, only FPGA 0 released: only it steps; flag steps wait.
    source_handover::g_output_clock_state[1].store(0);
    g_fpga_c331_start.store(1);
    fpga_handover::raise_output_layout();
    tick(600);
    EXPECT_EQ((Vals{m->st[0].vbo.load(), m->st[0].run.load(), m->st[1].vbo.load()}), (Vals{7, 3, 0}));
    EXPECT_TRUE(fpga[1]->regWrites().empty());
    EXPECT_TRUE(fpga_handover::take_output_layout());
    EXPECT_EQ(handBacks, 0);
}

TEST_F(FpgaBringUp, AnFpgaThatDoesNotAnswerOrSeesNoPictureWaits) {
    release(0);
    release(1);
    g_fpga_c331_start.store(1);
    for (u8 version : {24, 49}) {
        fpga[1]->setReg(31, version);
        tick(300);
        EXPECT_EQ(m->st[1].vbo.load(), 1) << int(version);
    }
    EXPECT_EQ(m->st[0].run.load(), 3);

    // A measured period outside 714286 to 999999 holds run state 7.
    fpga[1]->setReg(31, 0x24);
    for (u32 period : {714285u, 1000000u}) {
        board().scenario().loadJson(R"({"fpga": {"input": {"period": )" + std::to_string(period) + "}}}");
        tick(400);
        EXPECT_EQ(m->st[1].run.load(), 7) << period;
    }
    board().scenario().loadJson(R"({"fpga": {"input": {"period": 714286}}})");
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 1000));
}

TEST_F(FpgaBringUp, TheFirstAtTheHandshakeWaitsForTheOther) {
    release(0);
    g_fpga_c331_start.store(1);
    ASSERT_TRUE(runUntil([this] { return m->st[0].run.load() == 3; }, 2000));
    release(1);
    ASSERT_TRUE(runUntil([this] { return m->st[1].run.load() == 10; }, 2000));
    EXPECT_EQ((Vals{m->st[0].run.load(), handBacks}), (Vals{3, 0}));
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 1000));
    EXPECT_EQ(handBacks, 1);
}

TEST_F(FpgaBringUp, AParameterAreaThatDoesNotReadBackResetsAndStartsOver) {
    fpga[0]->setCorruptGeometry(true);
    release(0);
    release(1);
    g_fpga_c331_start.store(1);
    ASSERT_TRUE(runUntil([this] { return fpga[0]->inReset(); }, 1000));
    // Held 200 ticks, untouched meanwhile, then released and started again.
    const auto steps = m->st[0].run.load();
    tick(199);
    EXPECT_TRUE(fpga[0]->inReset());
    EXPECT_EQ((Vals{image(0, 80), m->st[0].run.load()}), (Vals{0, steps}));
    fpga[0]->setCorruptGeometry(false);
    tick(3);
    EXPECT_FALSE(fpga[0]->inReset());
    EXPECT_EQ((Vals{image(0, 80), image(0, 31), m->st[0].vbo.load()}), (Vals{0, 0x24, 1}));
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 2000));
    EXPECT_EQ(resetsOf(0), 1);
}

// FPGA 0 reset at the very start (as the USB upgrade does after writing its
// image) is released by the pass 200 ticks later, before the source thread
// has set up its output clock; meanwhile the PC reads its registers, which
// puts its version into the image before its start has read it. The start
// still begins from the beginning once the clock is there.
TEST_F(FpgaBringUp, AnFpgaWhoseVersionThePcReadBeforeItsStartStillComesUp) {
    release(1);
    g_fpga_c331_start.store(1);
    m->reset_fpga_rst(0);
    tick(202);
    ASSERT_FALSE(fpga[0]->inReset());
    for (u8 r = 28; r <= 31; ++r) m->read_from_register(r, 0);
    ASSERT_EQ(image(0, 31), 0x24);
    tick(100);
    EXPECT_EQ((Vals{m->st[0].vbo.load(), int(fpga[0]->writesTo(3).size())}), (Vals{0, 0}));
    release(0);
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 3000));
    // Its first register 3 write is the Vby-One start's bit 6.
    const auto writes = fpga[0]->writesTo(3);
    EXPECT_EQ(writes.empty() ? -1 : int(writes.front()), 0x40);
}

// The Vby-One start of FPGA 0 one step at a time, each step more than 30
// ticks after the last, on an FPGA whose first two status reads report a
// lock error.
TEST_F(FpgaBringUp, TheVbyOneStartStepByStep) {
    board().scenario().loadJson(R"({"fpga": {"lock_errors": 2}})");
    release(0);
    struct Write {
        int reg, mask, value;
        bool operator==(const Write& o) const { return reg == o.reg && mask == o.mask && value == o.value; }
    };
    const struct {
        const char* step;
        int ticks;             // since the last step
        std::vector<Write> writes;  // register, mask, the value's masked bits
        int next;              // Vby-One state after it
    } steps[] = {
        {"start: the version read", 31, {}, 1},
        {"too early", 30, {}, 1},
        {"1: output register bit 6", 1, {{3, 0x40, 0x40}}, 2},
        {"2: status bit 3, a lock error", 31, {}, 2},
        {"2: a second lock error", 31, {}, 2},
        {"2: status bit 3 clear", 31, {}, 3},
        {"3: output register bit 7", 31, {{3, 0x80, 0x80}}, 5},
        {"5: status bit 4, ready: handshake bit 0 cleared", 31, {{23, 0x01, 0x00}}, 6},
    };
    for (const auto& st : steps) {
        SCOPED_TRACE(st.step);
        fpga[0]->clearLog();
        clock->advanceMs(10 * u64(st.ticks));
        m->power_up_fpga_start(1, 0);
        std::vector<Write> writes;
        for (const auto& w : fpga[0]->regWrites()) writes.push_back({w.reg, w.mask, w.value & w.mask});
        EXPECT_TRUE(writes == st.writes) << writes.size() << " writes";
        EXPECT_EQ(m->st[0].vbo.load(), st.next);
    }
    // 6: handshake bit 0 set, the parameter load, marked running; done.
    fpga[0]->clearLog();
    clock->advanceMs(310);
    m->power_up_fpga_start(1, 0);
    const auto writes = fpga[0]->regWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ((Vals{writes[0].reg, writes[0].mask, writes[0].value & 1, m->st[0].vbo.load(), image(0, 80)}),
              (Vals{23, 0x01, 0x01, 7, 3}));
    EXPECT_FALSE(fpga[0]->ramWrites().empty());
    fpga[0]->clearLog();
    clock->advanceMs(310);
    m->power_up_fpga_start(1, 0);
    EXPECT_TRUE(fpga[0]->regWrites().empty());
    EXPECT_EQ(m->st[0].vbo.load(), 7);
}

TEST_F(FpgaBringUp, LockErrorsResetAtMostTwiceThenGoOn) {
    board().scenario().loadJson(R"({"fpga": {"lock_errors": 5}})");
    EXPECT_TRUE(bringUpBoth());
    EXPECT_EQ((Vals{resetsOf(0), resetsOf(1)}), (Vals{2, 2}));
}

TEST_F(FpgaBringUp, AStoredAreaIsLoadedWithTheOutputOffsetOnFpgaZero) {
    std::vector<u8> stored(1 + 1024, 0);
    stored[0] = 0xAA;
    auto put = [&](int off, u16 v) {
        stored[size_t(1 + off)] = u8(v);
        stored[size_t(2 + off)] = u8(v >> 8);
    };
    put(8, 100);    // port 1 x
    put(10, 200);   // port 1 y
    put(12, 640);   // port 1 width
    put(60, 1920);  // window width
    for (int i = 96; i < 128; ++i) stored[size_t(1 + i)] = 0x5A;
    for (int k = 0; k < 2; ++k) flash[k]->preload(0x6C7000, stored);
    setOffset(10, 20);
    ASSERT_TRUE(bringUpBoth());
    EXPECT_EQ((Vals{area(0, 8), area(0, 10), area(0, 12), area(0, 60), area(0, 96) & 0xFF00, area(0, 126)}),
              (Vals{110, 220, 640, 1930, 0, 0}));
    EXPECT_EQ((Vals{area(1, 8), area(1, 10), area(1, 60), area(1, 608 + 4)}), (Vals{100, 200, 1920, 1}));
    EXPECT_EQ(fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0][4], 100);
}
