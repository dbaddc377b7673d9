// The FPGAs' registers and the manager's RAM blocks through the command
// protocol.
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "protocol/message_deal.h"

namespace {

constexpr u8 Ok = ReplyStatus::Ok, Bad = ReplyStatus::BadArgument;

class FpgaProtocol : public FpgaEnv, protected PcRequests {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        ASSERT_TRUE(bringUpBoth());
    }
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
