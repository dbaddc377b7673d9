#include "sim/sim_fpga.h"

#include "core/logMsg.h"
#include "platform/gpio.h"
#include "sim/sim_board.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

namespace {
constexpr const char* kSelect[2] = {GpioName::kFpga0Select, GpioName::kFpga1Select};
constexpr const char* kCommand[2] = {GpioName::kFpga0Command, GpioName::kFpga1Command};
constexpr const char* kReset[2] = {GpioName::kFpga0Reset, GpioName::kFpga1Reset};
constexpr uint32_t kPageSize = 4096;

// Boot values: version 24-10-20 F1 (registers 31 to 28), all lanes locked.
void bootValues(uint8_t* regs) {
    regs[31] = 0x24;
    regs[30] = 0x10;
    regs[29] = 0x20;
    regs[28] = 0x01;
    regs[40] = 0x1F;
}

void put16(std::vector<uint8_t>& p, size_t at, uint32_t v) {
    p[at] = uint8_t(v);
    p[at + 1] = uint8_t(v >> 8);
}
}  // namespace

SimFpga::SimFpga(int index, SimGpio& gpio, SimScenario& scenario, const std::string& logHostPath)
    : m_index(index & 1), m_gpio(gpio), m_scenario(scenario) {
    if (!logHostPath.empty()) {
        QDir().mkpath(QFileInfo(QString::fromStdString(logHostPath)).absolutePath());
        m_logFile = std::fopen(logHostPath.c_str(), "a");
    }
    m_reset = m_gpio.getLine(kReset[m_index]) == 0;
    if (!m_reset) boot();
}

std::shared_ptr<SimFpga> SimFpga::create(int index, SimGpio& gpio, SimScenario& scenario,
                                         const std::string& logHostPath) {
    auto model = std::make_shared<SimFpga>(index, gpio, scenario, logHostPath);
    std::weak_ptr<SimFpga> weak = model;
    const std::string line = kReset[index & 1];
    gpio.watch([weak, line](const std::string& name, int value) {
        if (name != line) return;
        if (auto m = weak.lock()) m->resetLine(value);
    });
    return model;
}

void SimFpga::resetLine(int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool wasReset = m_reset;
    m_reset = value == 0;
    if (wasReset && !m_reset) boot();
}

SimFpga::~SimFpga() {
    if (m_logFile) std::fclose(m_logFile);
}

void SimFpga::boot() {
    std::memset(m_regs, 0, sizeof m_regs);
    bootValues(m_regs);
    m_pages.clear();
    m_havePending = false;
    m_vboReady = false;
    m_statusReads = 0;
    m_lockErrorsShown = 0;
}

std::vector<uint8_t>& SimFpga::page(uint8_t p) {
    auto& v = m_pages[p];
    if (v.empty()) v.assign(kPageSize, 0);
    return v;
}

uint8_t SimFpga::readReg(uint8_t r) {
    switch (r) {
    case 22: {
        const auto f = m_scenario.snapshot().fpga;
        uint8_t v = m_regs[22] & 0x20;
        if (m_vboReady) v |= 0x10;
        if (m_restarted) v |= 0x40;
        if (m_statusReads >= f.readyAfterReads) v |= 0x80;
        if (m_lockErrorsShown < f.lockErrors) {
            v |= 0x08;
            ++m_lockErrorsShown;
        }
        ++m_statusReads;
        return v;
    }
    case 40: return uint8_t(m_regs[40] & ~m_laneDrop);
    case 42: return m_regs[42]++;
    case 128:
    case 144: {
        const auto cards = m_scenario.snapshot().cardsPerPort;
        uint8_t v = 0;
        for (int i = 0; i < 8; ++i) {
            const int local = r == 128 ? i : 8 + i;
            if (local < 12 && cards[size_t(m_index * 12 + local)] != 0) v |= uint8_t(1 << i);
        }
        return v;
    }
    default: return m_regs[r];
    }
}

void SimFpga::writeReg(uint8_t r, uint8_t value, uint8_t mask) {
    m_regs[r] = uint8_t((m_regs[r] & ~mask) | (value & mask));
    if (r == 3 && (mask & value & 0x80)) m_vboReady = true;
}

void SimFpga::logLine(const std::string& line) {
    if (!m_logFile) return;
    std::fputs(line.c_str(), m_logFile);
    std::fputc('\n', m_logFile);
    std::fflush(m_logFile);
}

void SimFpga::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) {
    const bool selected = m_gpio.getLine(kSelect[m_index]) == 0;
    const bool command = m_gpio.getLine(kCommand[m_index]) == 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(rx, rx + len, uint8_t(0));
    if (!selected) {
        if (m_ignored++ == 0)
            writeLogMsg(WARNING, "sim fpga" + std::to_string(m_index) + ": message while not selected, ignored");
        return;
    }
    if (command) {
        m_havePending = len == 4;
        if (m_havePending) std::memcpy(m_pending, tx, 4);
        return;
    }
    if (!m_havePending) return;
    m_havePending = false;
    const uint8_t cmd = m_pending[0];
    if (m_reset) return;  // reads stay 0, writes are lost
    char text[64];
    if (cmd == 0x04 || cmd == 0x05) {
        const uint8_t r = m_pending[2];
        if (cmd == 0x05) {
            rx[0] = readReg(r);
            return;
        }
        writeReg(r, tx[0], m_pending[3]);
        m_regLog.push_back({r, tx[0], m_pending[3]});
        std::snprintf(text, sizeof text, "reg %u = 0x%02X mask 0x%02X", r, tx[0], m_pending[3]);
        logLine(text);
        return;
    }
    if (cmd != 0x02 && cmd != 0x03) return;
    const uint8_t p = m_pending[1];
    const uint16_t address = uint16_t(m_pending[2] | (m_pending[3] & 0x0F) << 8);
    std::vector<uint8_t>& mem = page(p);
    if (cmd == 0x03) {
        std::vector<uint8_t> view = mem;
        if (p == 1) {
            const auto f = m_scenario.snapshot().fpga;
            put16(view, 116, f.inputWidth);
            put16(view, 118, f.inputHeight);
            put16(view, 120, f.inputPeriod);
            put16(view, 122, f.inputPeriod >> 16);
            if (m_corrupt) put16(view, 12, uint32_t(view[12] | view[13] << 8) + 1);
        }
        for (uint32_t i = 0; i < len; ++i) rx[i] = view[(address + i) % kPageSize];
        return;
    }
    RamWrite w{p, address, std::vector<uint8_t>(tx, tx + len)};
    for (uint32_t i = 0; i < len; ++i) mem[(address + i) % kPageSize] = tx[i];
    std::string line;
    std::snprintf(text, sizeof text, "ram page %u address 0x%03X:", p, address);
    line = text;
    for (uint32_t i = 0; i < len; ++i) {
        std::snprintf(text, sizeof text, " %02X", tx[i]);
        line += text;
    }
    logLine(line);
    m_ramLog.push_back(std::move(w));
}

uint8_t SimFpga::reg(uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regs[r];
}

void SimFpga::setReg(uint8_t r, uint8_t value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regs[r] = value;
}

std::vector<uint8_t> SimFpga::ram(uint8_t p, uint16_t address, uint16_t length) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(length, 0);
    auto it = m_pages.find(p);
    if (it == m_pages.end()) return out;
    for (uint16_t i = 0; i < length; ++i) out[i] = it->second[(address + i) % kPageSize];
    return out;
}

void SimFpga::setRam(uint8_t p, uint16_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t>& mem = page(p);
    for (size_t i = 0; i < bytes.size(); ++i) mem[(address + i) % kPageSize] = bytes[i];
}

bool SimFpga::inReset() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reset;
}

std::vector<SimFpga::RegWrite> SimFpga::regWrites() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_regLog;
}

std::vector<SimFpga::RamWrite> SimFpga::ramWrites() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ramLog;
}

std::vector<uint8_t> SimFpga::writesTo(uint8_t r) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out;
    for (const auto& w : m_regLog)
        if (w.reg == r) out.push_back(w.value);
    return out;
}

void SimFpga::clearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regLog.clear();
    m_ramLog.clear();
}

int SimFpga::ignoredMessages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ignored;
}

void SimFpga::setLaneDrop(uint8_t bits) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_laneDrop = bits;
}

void SimFpga::setRestarted(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_restarted = on;
}

void SimFpga::setCorruptGeometry(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_corrupt = on;
}
