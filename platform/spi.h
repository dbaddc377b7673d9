#pragma once
#include <cstdint>

// One spidev-like device: a full-duplex transfer of one message.
class SpiDevice {
public:
    virtual ~SpiDevice() = default;
    virtual bool isOpen() const = 0;
    // Sets the SPI mode (0-3), the clock and the word size; 0 or -1.
    virtual int configure(uint8_t mode, uint32_t speedHz, uint8_t bitsPerWord = 8) = 0;
    // Clocks len bytes out of tx while clocking len bytes into rx (rx may be
    // null). 0 on success, -1 on failure.
    virtual int transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) = 0;
};
