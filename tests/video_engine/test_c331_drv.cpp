// Register access to the c331: what goes on the wire, the bank cache, and
// what a caller gets when the bus fails.
#include "platform/gpio.h"
#include "test_c331_sim.h"

namespace {

using Frames = std::vector<std::vector<uint8_t>>;
using C331DrvTest = C331SimEnv;

TEST_F(C331DrvTest, BankSelectionIsSentOnlyWhenTheBankChanges) {
    // A three-byte write from an unknown bank: selection, then the bytes
    // least significant first.
    drv->write_C331(fd, 0x084903, 0xFF00);
    EXPECT_EQ(chip->frames(), (Frames{{0x80, 0x08}, {0xC9, 0x00}, {0xCA, 0xFF}, {0xCB, 0x00}}));
    EXPECT_EQ(chip->reg(0x08, 0x4A), 0xFF);

    // Same bank again: no selection frame.
    chip->clearLog();
    drv->write_C331(fd, 0x084801, 1);
    EXPECT_EQ(chip->frames(), (Frames{{0xC8, 0x01}}));

    // A bank base of 0x10 reaches the copy 16 banks up.
    chip->clearLog();
    drv->write_C331(fd, 0x084801, 1, 0x10);
    EXPECT_EQ(chip->frames(), (Frames{{0x80, 0x18}, {0xC8, 0x01}}));
    EXPECT_EQ(chip->reg(0x18, 0x48), 1);

    // After the chip may have been reset, the bank is selected again even
    // when it is the one the chip had.
    drv->init_reg_acc_param();
    chip->clearLog();
    drv->write_C331(fd, 0x184801, 0);
    EXPECT_EQ(chip->frames(), (Frames{{0x80, 0x18}, {0xC8, 0x00}}));
}

TEST_F(C331DrvTest, WritingRegisterZeroMovesTheCachedBank) {
    // Register 0 of any bank selects the bank: the next access to bank 0xFF
    // must select it again instead of landing in bank 8.
    drv->write_C331(fd, 0xFF0001, 8);
    drv->write_C331(fd, 0xFF0101, 0);
    EXPECT_EQ(chip->frames(), (Frames{{0x80, 0xFF}, {0x80, 0x08}, {0x80, 0xFF}, {0x81, 0x00}}));
    EXPECT_EQ(chip->selectedBank(), 0xFF);
}

TEST_F(C331DrvTest, ReadAssemblesBytesLeastSignificantFirst) {
    for (u8 i = 0; i < 4; ++i) chip->setReg(0x16, u8(0x08 + i), u8(0x78 - 0x22 * i));
    EXPECT_EQ(drv->read_C331(fd, 0x160804), 0x12345678u);
    EXPECT_EQ(chip->frames(),
              (Frames{{0x80, 0x16}, {0x08, 0xFF}, {0x09, 0xFF}, {0x0A, 0xFF}, {0x0B, 0xFF}}));

    // Width 0 selects the bank and reads nothing.
    chip->clearLog();
    EXPECT_EQ(drv->read_C331(fd, 0xB20800), 0u);
    EXPECT_EQ(chip->frames(), (Frames{{0x80, 0xB2}}));

    EXPECT_EQ(drv->read_C331(fd, c331reg::CHIP_ID), 0x24u);
}

TEST_F(C331DrvTest, MaskedWriteKeepsTheOtherBits) {
    chip->setReg(0x00, 0x29, 0xA4);
    drv->write_c331_mask(fd, 0x002901, 1, 1);
    const u8 set = chip->reg(0x00, 0x29);
    drv->write_c331_mask(fd, 0x002901, 0, 1);
    EXPECT_EQ((Vals{set, chip->reg(0x00, 0x29)}), (Vals{0xA5, 0xA4}));
}

TEST_F(C331DrvTest, FpgaSelectLinesAreInactiveForEveryTransfer) {
    drv->write_C331(fd, 0x000801, 0x11);
    int high0 = 0, high1 = 0;
    for (const auto& set : board().simGpio().history()) {
        if (set.first == GpioName::kFpga0Select && set.second == 1) ++high0;
        if (set.first == GpioName::kFpga1Select && set.second == 1) ++high1;
    }
    EXPECT_EQ((Vals{high0, high1}), (Vals{2, 2}));  // selection frame and data frame
}

TEST_F(C331DrvTest, FailedBusReadsZeroNeverTheChipId) {
    chip->setDead(true);
    EXPECT_EQ(drv->read_C331(fd, c331reg::CHIP_ID), 0u);

    board().attachSpi(c331reg::kSpiDevice, nullptr);
    c331_drv absent;
    const int afd = absent.initialize();
    EXPECT_LT(afd, 0);
    EXPECT_EQ(absent.read_C331(afd, c331reg::CHIP_ID), 0u);
    absent.write_C331(afd, 0x000801, 1);
    EXPECT_GT(absent.failureCount(), 0u);
    EXPECT_EQ(absent.wait_c331_bits_for(afd, c331reg::GE_STATUS, 1, 0, 10), 255);
}

TEST_F(C331DrvTest, StatusWaitsAreBounded) {
    ManualClock& clock = useManualClock();
    EXPECT_EQ(drv->wait_c331_bits_for(fd, c331reg::GE_STATUS, 1, 0, 5), 0);
    chip->setGraphicsBusy(true);
    chip->clearLog();
    const u64 start = clock.nowUs();
    EXPECT_EQ(drv->wait_c331_bits_for(fd, c331reg::GE_STATUS, 1, 0, 5), 255);
    int reads = 0;
    for (const auto& a : chip->log())
        if (!a.write && a.bank == 0x04 && a.reg == 0x17) ++reads;
    // 100 back to back, then at 0, 0.1, 0.3, 0.7, 1.5, 3.1 and 5 ms (the
    // pauses doubling from 100 us, 2 ms at most, the last cut at the bound).
    EXPECT_EQ((Vals{reads, clock.nowUs() - start}), (Vals{107, 5000}));

    // An output frame shows only after it was asked for and one began.
    EXPECT_EQ(drv->wait_c331_bits_for(fd, c331reg::POVS_STAT, 1, 1, 40), 255);
    drv->write_C331(fd, c331reg::POVS_REQ, 1);
    chip->setVsyncMissing(true);
    EXPECT_EQ(drv->wait_c331_bits_for(fd, c331reg::POVS_STAT, 1, 1, 40), 255);
    chip->setVsyncMissing(false);
    drv->write_C331(fd, c331reg::POVS_REQ, 1);
    EXPECT_EQ((Vals{drv->wait_c331_bits_for(fd, c331reg::POVS_STAT, 1, 1, 0),
                    drv->wait_c331_bits_for(fd, c331reg::POVS_STAT, 1, 1, 40)}),
              (Vals{255, 0}));
}

TEST_F(C331DrvTest, SimulatedSerialFlashErasesToOnesAndProgramsOnlyClearBits) {
    EXPECT_EQ(chip->flash(0x10000, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    // Bytes collect in the page buffer until the address is written again.
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x10000);
    drv->write_C331(fd, c331reg::SFL_DATA, 0x5A);
    drv->write_C331(fd, c331reg::SFL_DATA, 0x0F);
    EXPECT_EQ(chip->flash(0x10000, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x10000);
    drv->write_C331(fd, c331reg::SFL_DATA, 0xF0);  // no erase in between
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x10000);
    EXPECT_EQ(chip->flash(0x10000, 2), (std::vector<uint8_t>{0x50, 0x0F}));
    // Past the page's end the buffer wraps to the page's start; a reset of
    // the controller drops what was collected.
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x100FF);
    drv->write_C331(fd, c331reg::SFL_DATA, 0x11);
    drv->write_C331(fd, c331reg::SFL_DATA, 0x22);
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x20000);
    drv->write_C331(fd, c331reg::SFL_DATA, 0x33);
    drv->write_C331(fd, c331reg::SFL_CTRL, 0x80);
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x20000);
    EXPECT_EQ((Vals{chip->flash(0x100FF, 1)[0], chip->flash(0x10100, 1)[0], chip->flash(0x10000, 1)[0],
                    chip->flash(0x20000, 1)[0]}),
              (Vals{0x11, 0xFF, 0x22 & 0x50, 0xFF}));

    drv->write_C331(fd, c331reg::SFL_ADDR, 0x10001);
    EXPECT_EQ(drv->read_C331(fd, c331reg::SFL_DATA), 0x0Fu);

    // A 4 KiB sector erase at an address inside the sector.
    drv->write_C331(fd, c331reg::SFL_ERASE_CMD, 0x20);
    drv->write_C331(fd, c331reg::SFL_ADDR, 0x10800);
    drv->write_C331(fd, c331reg::SFL_CMD_START, 4);
    EXPECT_EQ(chip->flash(0x10000, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    // Ready status: no busy bits, write FIFO empty.
    EXPECT_EQ((Vals{chip->flashEraseCount(), drv->read_C331(fd, c331reg::SFL_STAT),
                    drv->read_C331(fd, c331reg::SFL_DTCTL) & 0xA0}),
              (Vals{1, 0, 0x20}));
}

}  // namespace
