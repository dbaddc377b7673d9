#pragma once
#include "platform/linux/linux_fault.h"
#include "platform/spi.h"

#include <string>

// A spidev character device. The clock and word size given to the last
// configure() are the ones of every transfer that follows.
class LinuxSpiDevice : public SpiDevice {
public:
    explicit LinuxSpiDevice(const std::string& hostPath);
    ~LinuxSpiDevice() override;
    LinuxSpiDevice(const LinuxSpiDevice&) = delete;
    LinuxSpiDevice& operator=(const LinuxSpiDevice&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    int configure(uint8_t mode, uint32_t speedHz, uint8_t bitsPerWord = 8) override;
    int transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override;

private:
    std::string m_path;
    int m_fd = -1;
    uint32_t m_speedHz = 10000000;
    uint8_t m_bits = 8;
    uint8_t m_mode = 0;
    bool m_configured = false;
    FaultNote m_transferFault;
};
