#pragma once
// What a device model offers to the simulated buses. The drivers run
// unchanged against the models: the seam is the bus, not the driver.
#include <cstdint>

// A device behind one SPI chip select: sees every message whole.
class SpiModel {
public:
    virtual ~SpiModel() = default;
    virtual void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) = 0;
};

// A device at one I2C address. Each message of a combined transfer reaches
// the model as one write or one read; returning false is a NACK.
class I2cModel {
public:
    virtual ~I2cModel() = default;
    virtual bool write(const uint8_t* data, uint16_t len) = 0;
    virtual bool read(uint8_t* buf, uint16_t len) = 0;
};
