#pragma once
// The SDI-path transmitter: two banks of registers (bank in register 0x0F
// bit 0; registers from 0x30 up are banked), vendor id 0x54 0x49 in
// registers 0 and 1, plain reads and writes elsewhere, and a write log with
// the bank. For the transmitter loop, scriptable answers: the status
// register 0x0E (HPD bit 6, interrupt bit 7), the interrupt registers 0x06
// and 0x07, the DDC status 0x16, and the sink's EDID, which an EDID read
// command (0x15 := 3) copies into the FIFO read at 0x17.
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <cstdint>
#include <mutex>
#include <tuple>
#include <vector>

class SimIt66121 : public I2cModel {
public:
    SimIt66121();
    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* buf, uint16_t len) override;

    struct Write {
        int bank;
        uint8_t reg, value;
        bool operator==(const Write& o) const { return std::tie(bank, reg, value) == std::tie(o.bank, o.reg, o.value); }
    };
    // The newest kWritesKeep writes, oldest first.
    static constexpr size_t kWritesKeep = 1u << 14;
    std::vector<Write> writes() const;
    void clearLog();
    uint8_t reg(int bank, uint8_t r) const;
    int accesses() const;  // messages acknowledged or not

    // Knobs.
    void setAbsent(bool absent);
    void setStatus(uint8_t status);  // register 0x0E as read
    void setInterrupts(uint8_t i1, uint8_t i2);
    void setDdcStatus(uint8_t status);
    void setSinkEdid(const std::vector<uint8_t>& edid);
    // A register holding a value before the driver touches it.
    void setRegister(int bank, uint8_t r, uint8_t v);

private:
    uint8_t& at(uint8_t r);
    uint8_t readOne(uint8_t r);

    mutable std::mutex m_mutex;
    uint8_t m_regs[2][256] = {};
    uint8_t m_pointer = 0;
    bool m_absent = false;
    uint8_t m_status = 0;
    uint8_t m_ddcStatus = 0x80;
    std::vector<uint8_t> m_edid;
    std::vector<uint8_t> m_fifo;
    size_t m_fifoPos = 0;
    int m_accesses = 0;
    SimRing<Write> m_writes{kWritesKeep};
};
