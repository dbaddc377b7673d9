// The FPGA manager with its neighbours: the c331 manager that opens its gate
// and takes the picture back, and the protocol's flag register.
#include "support/quiet_c331_ops.h"
#include "fpga_env.h"

#include "fpga/fpga_jobs.h"
#include "protocol/message_deal.h"
#include "video_engine/c331_chip_ops.h"

using FpgaRoad = FpgaEnv;

TEST_F(FpgaRoad, GateOpensBothRunTheC331GetsItsPassAndBlackoutReachesBoth) {
    c331_manage* c = c331_manage::get();
    static_cast<c331_state&>(*c) = c331_state{};
    c->thread_state.store(5);
    c->c331_fd = c->drv->initialize();
    c->drv->init_reg_acc_param();
    c->load_system_param();
    c->define_param();
    QuietC331Ops quiet;
    c331_chip_ops* saved = c->ops;
    c->setChipOps(&quiet);

    release(0);
    release(1);
    tick(100);
    EXPECT_TRUE(fpga[0]->regWrites().empty());
    c->init_chip();
    ASSERT_EQ(g_fpga_c331_start.load(), 1);
    int c331Passes = 0;
    for (int i = 0; i < 3000 && !m->get_fpga_status(); ++i) {
        clock->advanceMs(10);
        m->thread_turn();
        if (c->apply_flag.load() == 1) ++c331Passes;
        c->c331managerdeal(c);
    }
    ASSERT_TRUE(m->get_fpga_status());
    EXPECT_EQ((Vals{c331Passes, c->apply_flag.load(), g_force_bkcolor.load()}), (Vals{1, 0, 0}));

    // The operator's blackout on and off: a writer's change, applied by the
    // c331 pass, handed to the FPGA thread.
    for (u8 blackout : {1, 0}) {
        {
            QMutexLocker lock(&c->mutex);
            model->live_image.setByte(RamOffset::BLACKOUT, blackout);
            c->raise_apply(1);
        }
        c->apply_pass();
        tick();
        EXPECT_EQ((Vals{fpga[0]->reg(0) & 4, fpga[1]->reg(0) & 4, ScreenState.load()}),
                  (Vals{4 * blackout, 4 * blackout, 1 - blackout}));
    }
    EXPECT_FALSE(fpga_handover::take_output_status());

    c->setChipOps(saved);
    c->thread_state.store(0);
    c->apply_flag.store(0);
}

TEST_F(FpgaRoad, FlagRegisterAsksForTheLedSequenceOnlyWhileBothRun) {
    // The PC writes a wider wall before each apply.
    auto changeWall = [this] {
        QMutexLocker lock(&c331_manage::get()->mutex);
        const u16 width = u16(model->live_image.word(RamOffset::WALL_WIDTH) + 64);
        const u8 bytes[2] = {u8(width), u8(width >> 8)};
        ASSERT_EQ(model->ZrvRamParaDeal(bytes, 2, RamOffset::WALL_WIDTH), 0);
    };
    changeWall();
    message_deal::REG_mcu_flag(0x02, 0x02);
    EXPECT_EQ(g_set_led_para.load(), 0);

    ASSERT_TRUE(bringUpBoth());
    m->write_to_register(80, 0xFF, 0, 1);
    changeWall();
    message_deal::REG_mcu_flag(0x02, 0x02);
    EXPECT_EQ(g_set_led_para.load(), 0);

    m->write_to_register(80, 0xFF, 3, 1);
    g_set_led_setup.store(2);
    changeWall();
    message_deal::REG_mcu_flag(0x02, 0x02);
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load()}), (Vals{1, 0}));

    // A user mode on another wall, chosen by the PC: the LEDs follow it too.
    g_set_led_para.store(0);
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        USER_MODE_SLOT& slot = model->user_mode[3];
        std::memcpy(slot.snapshot, &model->live_image.data[RamOffset::MODE_BEGIN], RamOffset::MODE_LEN);
        slot.marker[0] = slot.marker[1] = 0xAA;
        slot.snapshot[RamOffset::WALL_HEIGHT - RamOffset::MODE_BEGIN] ^= 0x40;
        const u8 mode[2] = {4, 0};
        ASSERT_EQ(model->ZrvRamParaDeal(mode, 2, RamOffset::LOADED_MODE), 0);
    }
    message_deal::REG_mcu_flag(0x02, 0x02);
    EXPECT_EQ(g_set_led_para.load(), 1);
    c331_manage::get()->apply_flag.store(0);
}

// The thread sleeps the long pass only while both FPGAs run and nothing is
// in hand; whatever counts in passes or waits for answers brings back the
// short one until it is over.
TEST_F(FpgaRoad, LongPassOnlyWhileBothRunWithNothingInHand) {
    auto interval = [this] { return static_cast<long long>(m->pass_interval_ms()); };
    const long long shortPass = fpga_manage::kPassMs, longPass = fpga_manage::kQuietPassMs;
    Vals seen{interval()};  // gate closed
    ASSERT_TRUE(bringUpBoth());
    tick(20);
    seen.push_back(interval());

    // A card job posted by a page, until it is done.
    ASSERT_EQ(post_card_job(3), JobPost::Posted);
    seen.push_back(interval());
    ASSERT_TRUE(runUntil([] { return g_send_para.job() == 0; }, 3000));
    seen.push_back(interval());

    // A PC command for the cards, until its 80 ticks are over.
    pc_cmd_valid.store(1);
    pc_cmd_time.store(G_timeTicks);
    seen.push_back(interval());
    ASSERT_TRUE(runUntil([] { return pc_cmd_valid.load() == 0; }, 200));
    seen.push_back(interval());

    // Lost Vby-One lanes, until they are locked again.
    fpga[1]->setLaneDrop(0x08);
    ASSERT_TRUE(runUntil([this] { return m->st[1].lane_fault != 0; }, 100));
    seen.push_back(interval());
    fpga[1]->setLaneDrop(0);
    ASSERT_TRUE(runUntil([this] { return m->st[1].lane_fault == 0; }, 100));
    seen.push_back(interval());

    // A change handed over by the c331 thread, until it is served.
    fpga_handover::raise_output_status();
    seen.push_back(interval());
    tick();
    seen.push_back(interval());

    EXPECT_EQ(seen, (Vals{fpga_manage::kGateClosedMs, longPass, shortPass, longPass, shortPass, longPass, shortPass,
                          longPass, shortPass, longPass}));
}
