#include "sim/sim_clock_chip.h"

bool SimClockChip::write(const uint8_t* data, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (len == 0) return true;
    m_pointer = data[0];
    for (uint16_t i = 1; i < len; ++i) {
        if (m_pointer >= kRegisters || m_pointer == m_nackAt) return false;
        m_regs[m_pointer] = data[i];
        m_writes.push({m_pointer, data[i]});
        ++m_pointer;
    }
    return true;
}

bool SimClockChip::read(uint8_t* buf, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint16_t i = 0; i < len; ++i, ++m_pointer) buf[i] = m_pointer < kRegisters ? m_regs[m_pointer] : 0xFF;
    return true;
}

std::vector<std::pair<uint8_t, uint8_t>> SimClockChip::writes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.items();
}

std::vector<uint8_t> SimClockChip::registers() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<uint8_t>(m_regs, m_regs + kRegisters);
}

void SimClockChip::clearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
}

void SimClockChip::setNackAt(int reg) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nackAt = reg;
}
