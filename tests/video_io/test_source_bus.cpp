// The I2C bus access and the simulated switches the source thread works
// through: address shift, count limits, routing behind a channel.
#include "source_env.h"

#include "video_io/drv_i2c0.h"

#include <vector>

using source_bus::kMemSwitch;

class SourceBusTest : public SourceEnv {};

TEST_F(SourceBusTest, TransfersShiftTheAddressAndRefuseOversizedCounts) {
    board().enableEventLog(true);
    const int fd = src->fd;
    ASSERT_GE(fd, 0);
    const u8 code = 0x04;
    std::vector<u8> big(256, 0);
    u8 buf[101];
    std::fill(std::begin(buf), std::end(buf), 0xAB);
    EXPECT_EQ((Vals{Drv_I2C0::i2c_write(fd, kMemSwitch, 0, &code, 1), sw(kMemSwitch)->control(),
                    Drv_I2C0::i2c_write(fd, kMemSwitch, 0, big.data(), 256),
                    Drv_I2C0::i2c_read(fd, source_bus::kEeprom, 0, buf, 101),
                    Drv_I2C0::i2c_write(fd + 100, kMemSwitch, 0, &code, 1)}),
              (Vals{1, 0x04, 0, 0, 0}));
    // A refused count puts nothing on the bus.
    EXPECT_EQ(board().eventLog(), (std::vector<std::string>{"W 70 00 04"}));
    // A read that is not acknowledged leaves the caller's buffer alone.
    eeprom(2)->setAbsent(true);
    EXPECT_EQ((Vals{Drv_I2C0::i2c_read(fd, source_bus::kEeprom, 0, buf, 8), buf[0], buf[7]}), (Vals{0, 0xAB, 0xAB}));
}

TEST_F(SourceBusTest, SwitchRoutesToTheSelectedChannelOnly) {
    const int fd = src->fd;
    u8 data[8] = {};
    eeprom(1)->setContents(std::vector<u8>(256, 0x11));
    eeprom(2)->setContents(std::vector<u8>(256, 0x22));
    auto select = [&](u8 c) { return Drv_I2C0::i2c_write(fd, kMemSwitch, 0, &c, 1); };
    auto read0 = [&] { return Drv_I2C0::i2c_read(fd, source_bus::kEeprom, 0, data, 8) ? data[0] : -1; };
    EXPECT_EQ((Vals{select(0x00), read0(), select(0x02), read0(), select(0x04), read0()}),
              (Vals{1, -1, 1, 0x11, 1, 0x22}));
    EXPECT_EQ(board().i2cCollisions(), 0);
    // Two channels with a device at the same address: nobody answers and the
    // board notes the collision.
    EXPECT_EQ((Vals{select(0x06), read0(), board().i2cCollisions()}), (Vals{1, -1, 1}));
    expectedCollisions = 1;
}

TEST_F(SourceBusTest, EepromWritesPagesWithWrapProtectionAndBusyTime) {
    const int fd = src->fd;
    const u8 c = 0x01;
    Drv_I2C0::i2c_write(fd, kMemSwitch, 0, &c, 1);
    const u8 page[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    // Starting at 0x0D the write wraps inside the page 0x08..0x0F.
    EXPECT_EQ(Drv_I2C0::i2c_write(fd, source_bus::kEeprom, 0x0D, page, 8), 1);
    EXPECT_EQ(Drv_I2C0::i2c_write(fd, source_bus::kEeprom, 0x00, page, 8), 0);  // programming
    clock->advanceMs(5);
    auto mem = eeprom(0)->contents();
    EXPECT_EQ((std::vector<u8>(mem.begin() + 8, mem.begin() + 16)), (std::vector<u8>{4, 5, 6, 7, 8, 1, 2, 3}));
    // Write-protected while the EDID write line is high: acknowledged, ignored.
    board().gpio().setLine(GpioName::kEdidWrite, 1);
    EXPECT_EQ(Drv_I2C0::i2c_write(fd, source_bus::kEeprom, 0x00, page, 8), 1);
    EXPECT_EQ((Vals{eeprom(0)->contents()[0], eeprom(0)->pageWrites()}), (Vals{0xFF, 1}));
    // The content survives a new board (a restart of the program).
    SimBoard again;
    SimEdidEeprom reopened(again, 0);
    EXPECT_EQ(reopened.contents()[8], 4);
}
