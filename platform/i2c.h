#pragma once
#include <cstdint>

// One message of a combined transfer, as I2C_RDWR takes them.
struct I2cMsg {
    enum : uint16_t { Read = 0x0001 };
    uint16_t addr;   // 7-bit address
    uint16_t flags;  // Read, or 0 for a write
    uint16_t len;
    uint8_t* buf;
};

class I2cBus {
public:
    virtual ~I2cBus() = default;
    virtual bool isOpen() const = 0;
    // Runs the messages as one combined transfer (repeated start between
    // them). Returns count when every byte was acknowledged, -1 on a NACK or
    // a bus failure.
    virtual int transfer(I2cMsg* msgs, int count) = 0;
};
