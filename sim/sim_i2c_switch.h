#pragma once
// A one-hot I2C channel switch: one control byte, bit = downstream channel.
// The control register is the last byte of a write; a read returns it. The
// simulated bus routes a message to the devices behind a set channel bit
// (SimBoard::attachI2cBehind).
#include "sim/sim_models.h"

#include <atomic>
#include <cstdint>

class SimI2cSwitch : public I2cModel {
public:
    bool write(const uint8_t* data, uint16_t len) override {
        if (len) m_control.store(data[len - 1]);
        return true;
    }
    bool read(uint8_t* buf, uint16_t len) override {
        for (uint16_t i = 0; i < len; ++i) buf[i] = m_control.load();
        return true;
    }
    uint8_t control() const { return m_control.load(); }

private:
    std::atomic<uint8_t> m_control{0};
};
