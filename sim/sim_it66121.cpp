#include "sim/sim_it66121.h"

SimIt66121::SimIt66121() {
    m_regs[0][0x00] = 0x54;
    m_regs[0][0x01] = 0x49;
}

uint8_t& SimIt66121::at(uint8_t r) {
    const int bank = (r >= 0x30) ? (m_regs[0][0x0F] & 1) : 0;
    return m_regs[bank][r];
}

bool SimIt66121::write(const uint8_t* data, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_accesses;
    if (m_absent) return false;
    if (len == 0) return true;
    m_pointer = data[0];
    for (uint16_t i = 1; i < len; ++i, ++m_pointer) {
        const uint8_t r = m_pointer, v = data[i];
        m_writes.push(Write{r >= 0x30 ? (m_regs[0][0x0F] & 1) : 0, r, v});
        at(r) = v;
        if (r == 0x15 && v == 0x03) {
            // EDID read: segment 0x14, offset 0x12, count 0x13.
            const size_t start = size_t(m_regs[0][0x14]) * 256 + m_regs[0][0x12];
            m_fifo.clear();
            m_fifoPos = 0;
            for (size_t k = 0; k < m_regs[0][0x13]; ++k)
                m_fifo.push_back(start + k < m_edid.size() ? m_edid[start + k] : 0xFF);
        } else if (r == 0x15 && v == 0x09) {
            m_fifo.clear();
            m_fifoPos = 0;
        }
    }
    return true;
}

uint8_t SimIt66121::readOne(uint8_t r) {
    switch (r) {
    case 0x0E: return m_status;
    case 0x16: return m_ddcStatus;
    case 0x17: return m_fifoPos < m_fifo.size() ? m_fifo[m_fifoPos++] : 0;
    default: return at(r);
    }
}

bool SimIt66121::read(uint8_t* buf, uint16_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_accesses;
    if (m_absent) return false;
    for (uint16_t i = 0; i < len; ++i) {
        buf[i] = readOne(m_pointer);
        if (m_pointer != 0x17) ++m_pointer;
    }
    return true;
}

std::vector<SimIt66121::Write> SimIt66121::writes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writes.items();
}

void SimIt66121::clearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writes.clear();
}

uint8_t SimIt66121::reg(int bank, uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs[r >= 0x30 ? (bank & 1) : 0][r];
}

int SimIt66121::accesses() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accesses;
}

void SimIt66121::setAbsent(bool absent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_absent = absent;
}

void SimIt66121::setStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_status = status;
}

void SimIt66121::setInterrupts(uint8_t i1, uint8_t i2) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[0][0x06] = i1;
    m_regs[0][0x07] = i2;
}

void SimIt66121::setDdcStatus(uint8_t status) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ddcStatus = status;
}

void SimIt66121::setSinkEdid(const std::vector<uint8_t>& edid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_edid = edid;
}

void SimIt66121::setRegister(int bank, uint8_t r, uint8_t v) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[r >= 0x30 ? (bank & 1) : 0][r] = v;
}
