// The masked register write: image, wire, command block and blackout word.
#include "fpga_env.h"

#include <atomic>
#include <thread>

namespace {
class FpgaRegister : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        release(0);
        release(1);
    }
};
}  // namespace

TEST_F(FpgaRegister, ControlRegisterRunsTheCommandBlockAndNeverSendsBitsOneAndTwo) {
    putClockBlock();
    board().simShell().clear();
    m->write_to_register(2, 0x04, 0x04, 0);
    EXPECT_EQ(board().simShell().commands().size(), 2u);  // date, then hwclock
    ASSERT_EQ(fpga[0]->writesTo(2).size(), 1u);
    EXPECT_EQ(fpga[0]->writesTo(2)[0] & 0x06, 0);
    EXPECT_EQ(image(0, 2), 0x04);
    // The next write starts from what the FPGA holds: no second run.
    m->write_to_register(2, 0x03, 0x03, 0);
    EXPECT_EQ((Vals{board().simShell().commands().size(), fpga[0]->writesTo(2).back(), image(0, 2)}),
              (Vals{2, 0x01, 0x03}));
    clearCommandBlock();
}

TEST_F(FpgaRegister, BlackoutBitKeepsTheImageWordAndScreenStateInStep) {
    // From the start, before any write of register 0, a PC reads the screen
    // state the image's blackout word leaves: 1 showing, 0 blacked out.
    for (const u8 word : {0, 1}) {
        fpga_manage::MCU_RAM_EXTEND[29] = 0x55;
        model->live_image.setByte(2116, word);
        m->softinit();
        EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[29], word ? 0 : 1) << "blackout word " << int(word);
    }
    model->live_image.setByte(2116, 0);

    m->write_to_register(0, 0x04, 0x04, 0);
    EXPECT_EQ((Vals{model->live_image.byte(2116), model->live_image.byte(2117), fpga_manage::MCU_RAM_EXTEND[29],
                    ScreenState.load(), fpga[0]->reg(0)}),
              (Vals{1, 0, 0, 0, 0x04}));
    EXPECT_EQ(signals_, std::vector<int>{1});

    // The LED re-initialisation's own write: the screen state follows, the
    // word not. A PC's write meanwhile is the operator's last word, which
    // the re-initialisation's end shows.
    g_set_led_para.store(1);
    m->write_to_register(0, 0x04, 0x00, 1, true);
    EXPECT_EQ((Vals{model->live_image.byte(2116), fpga_manage::MCU_RAM_EXTEND[29], signals_.size()}),
              (Vals{1, 1, 1}));
    m->write_to_register(0, 0xFF, 0x00, 1);
    EXPECT_EQ((Vals{model->live_image.byte(2116), fpga_manage::MCU_RAM_EXTEND[29], signals_.size()}),
              (Vals{0, 1, 2}));
    // A write of another bit of register 0 leaves the word alone.
    g_set_led_para.store(0);
    m->write_to_register(0, 0x04, 0x04, 0);
    m->write_to_register(0, 0x0B, 0x00, 0);
    EXPECT_EQ((Vals{model->live_image.byte(2116), signals_.size()}), (Vals{1, 3}));
}

TEST_F(FpgaRegister, RegistersOutsideTheMirrorStayOffTheWire) {
    m->write_to_register(70, 0x0F, 0x35, 0);
    EXPECT_EQ(image(0, 70), 0x05);
    m->write_to_register(100, 0xFF, 0x12, 0);
    m->write_to_register(170, 0xFF, 0x12, 0);
    m->read_from_register(100, 0);
    m->read_from_register(170, 1);
    EXPECT_EQ(image(0, 100), 0);
    EXPECT_TRUE(fpga[0]->regWrites().empty());
    EXPECT_TRUE(fpga[1]->regWrites().empty());
}

TEST_F(FpgaRegister, TwoWritersOfRegisterZeroNeverLoseABit) {
    // The pages' mapping bit and the screen bits are written from different
    // threads; each write reads, merges and sends under one lock, so the
    // image never keeps a merge made from a stale read.
    for (int round = 0; round < 400; ++round) {
        const u8 set = round % 2 ? 0 : 0xFF;
        std::atomic<int> ready{0};
        auto writer = [&](u8 bit) {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            m->write_to_register(0, bit, set, 0);
        };
        std::thread a(writer, u8(0x80));
        std::thread b(writer, u8(0x01));
        a.join();
        b.join();
        ASSERT_EQ(fpga[0]->reg(0), set & 0x81) << "round " << round;
        ASSERT_EQ(image(0, 0), set & 0x81) << "round " << round;
    }
}
