#pragma once
// An output clock chip: registers 0 to 62 behind a register pointer (first
// byte of a write), a log of every register written, and a knob that NACKs
// the data byte for one register.
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

class SimClockChip : public I2cModel {
public:
    static constexpr int kRegisters = 63;

    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* buf, uint16_t len) override;

    // The newest kWritesKeep register writes: register, value.
    static constexpr size_t kWritesKeep = 1u << 14;
    std::vector<std::pair<uint8_t, uint8_t>> writes() const;
    std::vector<uint8_t> registers() const;
    void clearLog();
    // Register whose data byte is not acknowledged (-1: none).
    void setNackAt(int reg);

private:
    mutable std::mutex m_mutex;
    uint8_t m_regs[kRegisters] = {};
    uint8_t m_pointer = 0;
    int m_nackAt = -1;
    SimRing<std::pair<uint8_t, uint8_t>> m_writes{kWritesKeep};
};
