#pragma once
#include "platform/i2c.h"

#include <array>
#include <atomic>
#include <string>

// An i2c-dev adapter driven with I2C_RDWR, so a register pointer write and
// the read that follows it go out with a repeated start.
class LinuxI2cBus : public I2cBus {
public:
    explicit LinuxI2cBus(const std::string& hostPath);
    ~LinuxI2cBus() override;
    LinuxI2cBus(const LinuxI2cBus&) = delete;
    LinuxI2cBus& operator=(const LinuxI2cBus&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    int transfer(I2cMsg* msgs, int count) override;

private:
    std::string m_path;
    int m_fd = -1;
    // Absent chips NACK on every polling pass: one line per address until
    // that address answers again.
    std::array<std::atomic<bool>, 128> m_nackNoted{};
};
