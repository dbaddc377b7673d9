// The FPGAs' registers and the manager's RAM blocks through the command
// protocol; the screen state a PC reads after every start of the FPGAs.
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "protocol/message_deal.h"
#include "ui/shell/fpga_panel.h"

namespace {

constexpr u8 Ok = ReplyStatus::Ok, Bad = ReplyStatus::BadArgument;

class FpgaProtocol : public FpgaEnv, protected PcRequests {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        ASSERT_TRUE(bringUpBoth());
    }
};

class FpgaScreenState : public FpgaEnv, protected PcRequests {
protected:
    // Power cut and back: both FPGAs in reset, a new manager, the image's
    // blackout word cleared as a start leaves it.
    void powerUp() {
        m.reset();
        for (int k = 0; k < 2; ++k) {
            board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 0);
            source_handover::g_output_clock_state[k].store(0);
        }
        g_fpga_c331_start.store(0);
        blackout(0);
        takeHandOvers();
        m = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = m.get();
        ASSERT_EQ(m->initialize(false), 0);
    }
    // The operator's blackout, as the panel or the c331's pass hands it on.
    void blackout(u8 on) {
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            model->live_image.setWord(RamOffset::BLACKOUT, on);
        }
        fpga_handover::raise_output_status();
    }
    // The LED sequence asked for, run to its end, and the c331's hand-over
    // once it has set up the new panel.
    void ledSequence(const std::function<void()>& ask) {
        ask();
        ASSERT_EQ(g_set_led_para.load(), 1);
        ASSERT_TRUE(runUntil([] { return g_set_led_para.load() == 0; }, 400));
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        fpga_handover::end_led_para(2);
    }
    static int first(const Bytes& b) { return b.empty() ? -1 : b[0]; }
};

}  // namespace

TEST_F(FpgaProtocol, RegistersOfBothFpgasThroughTheMaskedWrite) {
    EXPECT_EQ(regRead(31, 1, PcReg::TargetFpga0), Bytes{0x24});
    EXPECT_EQ(regRead(28, 4, PcReg::TargetFpga1), (Bytes{0x01, 0x20, 0x10, 0x24}));
    EXPECT_EQ(regWrite(23, 0xF0, 0x50, PcReg::TargetFpga1), Ok);
    EXPECT_EQ((Vals{fpga[1]->reg(23) & 0xF0, fpga[0]->reg(23) & 0xF0}), (Vals{0x50, 0}));
    putClockBlock();
    board().simShell().clear();
    EXPECT_EQ(regWrite(2, 0x04, 0x04, PcReg::TargetFpga0), Ok);
    EXPECT_EQ(board().simShell().commands().size(), 2u);  // date, then hwclock
    clearCommandBlock();
    // Registers 0 to 169 only.
    u8 st = 0;
    EXPECT_EQ((Vals{regWrite(170, 0xFF, 1, PcReg::TargetFpga0), regWrite(169, 0xFF, 1, PcReg::TargetFpga0)}),
              (Vals{Bad, Ok}));
    EXPECT_TRUE(regRead(160, 20, PcReg::TargetFpga0, &st).empty());
    EXPECT_EQ(st, Bad);
    EXPECT_EQ(regRead(160, 10, PcReg::TargetFpga0).size(), 10u);
}

TEST_F(FpgaProtocol, RamBlocksByteForByte) {
    EXPECT_EQ(ramRead(0x10000C, 4), (Bytes{0x01, 0x20, 0x10, 0x24}));
    EXPECT_EQ(ramRead(0x100018, 4), (Bytes{1, 17, 0, 0}));
    EXPECT_EQ(ramRead(0x101400 + 276, 2), (Bytes{13, 14}));
    EXPECT_EQ(ramWrite(0x100400 + 100, {7, 8}), Ok);
    EXPECT_EQ((Vals{fpga_manage::MCU_RAM_EXTEND[100], fpga_manage::MCU_RAM_EXTEND[101]}), (Vals{7, 8}));

    // A geometry word written by the PC refreshes the back-up area.
    EXPECT_EQ(ramWrite(0x101000 + 32, {0x34, 0x12}), Ok);
    EXPECT_EQ(ramRead(0x103000 + 4 + 8 * 2, 2), (Bytes{0x34, 0x12}));
    EXPECT_EQ(ramWrite(0x101400 + 600 + 6, {0x00, 0x02}), Ok);
    EXPECT_EQ(ramRead(0x103400 + 4 + 8 * 11 + 6, 2), (Bytes{0x00, 0x02}));

    // Leaving a block or lying between blocks: refused, nothing written.
    u8 st = 0;
    EXPECT_EQ((Vals{ramWrite(0x1003FF, {1, 2}), ramWrite(0x100C00, {1}), ramWrite(0x103000 + 136, {1}),
                    ramWrite(0x103800, {1})}),
              (Vals{Bad, Bad, Bad, Bad}));
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[1023], 0);
    EXPECT_TRUE(ramRead(0x103400 + 130, 7, &st).empty());
    EXPECT_EQ(st, Bad);
    EXPECT_EQ(ramRead(0x103400 + 130, 6).size(), 6u);
}

// Every start of the FPGAs a PC or the panel brings about (and those after a
// fault) leaves both FPGAs' register 0 as the image's blackout word asks, and
// the screen state a PC reads at 0x10041D (1 shown, 0 blacked out) as they
// show it.
TEST_F(FpgaScreenState, EveryStartLeavesTheScreenStateAsTheFpgasShowIt) {
    auto pcWall = [this] {
        ledSequence([this] {
            const int width = first(ramRead(1379, 1)) == 0x0A ? 0x09 : 0x0A;  // 2304 or 2560
            ASSERT_EQ(ramWrite(1378, {0x00, u8(width)}), Ok);
            ASSERT_EQ(regWrite(161, 0x02, 0x02), Ok);
        });
    };
    auto panelWall = [this] { ledSequence([] { FpgaPanel::requestLedReinit(); }); };
    const struct Row {
        const char* start;
        u8 blackout;                         // the word, before the start
        std::function<void()> fault;         // of the board, before the first start
        std::function<void()> restart;       // after the first start
    } rows[] = {
        {"first start", 0, {}, {}},
        {"first start, blacked out while the FPGAs come up", 1, {}, {}},
        {"first start, Vby-One lock errors: each FPGA reset twice", 1,
         [this] { board().scenario().loadJson(R"({"fpga": {"lock_errors": 5}})"); }, {}},
        {"first start, not ready at first: each FPGA reset", 1,
         [this] {
             board().scenario().loadJson(R"({"fpga": {"ready_after_reads": 1000000}})");
             release(0);
             release(1);
             g_fpga_c331_start.store(1);
             ASSERT_TRUE(runUntil([this] { return m->st[0].c2 > 0 && m->st[1].c2 > 0; }, 3000));
             board().scenario().loadJson(R"({"fpga": {"ready_after_reads": 0}})");
         },
         {}},
        {"the PC's new wall: LED outputs re-initialised", 0, {}, pcWall},
        {"the PC's new wall while blacked out", 1, {}, pcWall},
        {"the panel's new wall", 0, {}, panelWall},
        {"the panel's new wall while blacked out", 1, {}, panelWall},
        {"an FPGA image from the stick: FPGA 2 reset", 1, {}, [this] { m->reset_fpga_rst(1); }},
        {"FPGA 2 restarted by itself", 1, {},
         [this] {
             fpga[1]->setReg(31, 24);
             fpga[1]->setReg(0, 0);
             fpga[1]->setRestarted(true);
             ASSERT_TRUE(runUntil([this] { return !m->get_fpga_status(); }, 100));
             fpga[1]->setReg(31, 0x24);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.start);
        powerUp();
        if (row.fault) row.fault();
        if (!row.restart) blackout(row.blackout);
        ASSERT_TRUE(bringUpBoth());
        if (row.restart) {
            blackout(row.blackout);
            tick();
            row.restart();
            ASSERT_TRUE(runUntil([this] { return !m->get_fpga_status(); }, 400));
            ASSERT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 3000));
        }
        tick(5);
        const int shown = row.blackout ? 0 : 1, black = row.blackout ? 4 : 0;
        EXPECT_EQ((Vals{first(ramRead(0x10041D, 1)), first(regRead(0, 1, PcReg::TargetFpga0)) & 4,
                        first(regRead(0, 1, PcReg::TargetFpga1)) & 4, first(ramRead(2116, 1)), ScreenState.load()}),
                  (Vals{shown, black, black, row.blackout, shown}));
        board().scenario().loadJson(R"({"fpga": {"lock_errors": 0, "ready_after_reads": 0}})");
    }

    // The operator blacks out just as a start writes register 0: the start
    // leaves the word to the operator, whose change the c331 then hands on.
    powerUp();
    bool asked = false;
    fpga[1]->setRegWriteHook([&](u8 reg, u8) {
        if (reg != 0 || asked) return;
        asked = true;
        QMutexLocker lock(&c331_manage::get()->mutex);
        model->live_image.setWord(RamOffset::BLACKOUT, 1);
    });
    ASSERT_TRUE(bringUpBoth());
    fpga[1]->setRegWriteHook(nullptr);
    EXPECT_EQ((Vals{asked, first(ramRead(2116, 1))}), (Vals{1, 1}));
}
