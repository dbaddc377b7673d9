#include "sim/sim_fpga.h"

#include "core/logMsg.h"
#include "platform/gpio.h"
#include "sim/sim_board.h"

#include <algorithm>
#include <cstdio>
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
    : m_index(index & 1), m_gpio(gpio), m_scenario(scenario), m_logPath(logHostPath) {
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
    gpio.drive(index & 1 ? GpioName::kFpga1Irq : GpioName::kFpga0Irq, [weak] {
        auto m = weak.lock();
        return m ? m->irqNow() : -1;
    });
    return model;
}

void SimFpga::resetLine(int value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool wasReset = m_reset;
    m_reset = value == 0;
    if (wasReset && !m_reset) boot();
}

SimFpga::~SimFpga() = default;

void SimFpga::boot() {
    std::memset(m_regs, 0, sizeof m_regs);
    bootValues(m_regs);
    m_pages.clear();
    m_havePending = false;
    m_vboReady = false;
    m_statusReads = 0;
    m_lockErrorsShown = 0;
    for (auto& q : m_rx) q.clear();
    m_held.clear();
}

void SimFpga::releaseHeld() {
    if (m_held.empty()) return;
    const uint64_t now = Board::get().clock().nowMs();
    while (!m_held.empty() && m_held.begin()->first <= now) {
        queueReply(m_held.begin()->second.first, std::move(m_held.begin()->second.second));
        m_held.erase(m_held.begin());
    }
}

int SimFpga::irqNow() {
    std::lock_guard<std::mutex> lock(m_mutex);
    releaseHeld();
    return irqLevel();
}

void SimFpga::queueReply(int pair, std::vector<uint8_t> reply) {
    if (m_rx[pair].size() >= kRepliesKeep) {
        logLine("pair " + std::to_string(pair) + " receive queue full: reply lost");
        return;
    }
    m_rx[pair].push_back(std::move(reply));
}

void SimFpga::deliver(int port, std::vector<uint8_t> reply) {
    const SimSlowReply slow = m_scenario.snapshot().slowReplies[size_t(m_index * 12 + port)];
    if (!slow.delays(reply[9])) {
        queueReply(port / 2, std::move(reply));
    } else if (m_held.size() >= kHeldKeep) {
        logLine("port " + std::to_string(port) + " slow replies full: reply lost");
    } else {
        m_held.emplace(Board::get().clock().nowMs() + slow.ms, std::make_pair(port / 2, std::move(reply)));
    }
}

std::vector<uint8_t>& SimFpga::page(uint8_t p) {
    auto& v = m_pages[p];
    if (v.empty()) v.assign(kPageSize, 0);
    return v;
}

uint8_t SimFpga::readReg(uint8_t r) {
    switch (r) {
    case 22: {
        const auto f = m_scenario.fpga();
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
    case 129:
    case 145: {
        const int first = r == 129 ? 0 : 4;
        uint8_t v = 0;
        for (int i = 0; i < 4; ++i) {
            if (first + i < 6 && head(first + i)) v |= uint8_t(1 << (2 * i));
            if (m_sendBusy != 0) v |= uint8_t(2 << (2 * i));
        }
        if (m_sendBusy > 0) --m_sendBusy;
        return v;
    }
    case 24: case 133: case 135: case 137: case 149: case 150: {
        static const uint8_t low[6] = {24, 133, 135, 137, 149, 150};
        const int pair = int(std::find(low, low + 6, r) - low);
        const auto* f = head(pair);
        return f ? uint8_t((f->size() - 1) & 0xFF) : 0;
    }
    case 25:
    case 153: {
        const int first = r == 25 ? 0 : 4;
        uint8_t v = 0;
        for (int i = 0; i < 4 && first + i < 6; ++i)
            if (const auto* f = head(first + i)) v |= uint8_t((((f->size() - 1) >> 8) & 3) << (2 * i));
        return v;
    }
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
    if (r == 22 && (mask & 0x40) && !(value & 0x40)) m_restarted = false;
    if (r == 130 || r == 146) {
        const int first = r == 130 ? 0 : 4;
        const uint8_t set = uint8_t(value & mask);
        for (int i = 0; i < 4; ++i) {
            if (set & (0x10 << i)) startSend(first + i);
            if ((set & (1 << i)) && first + i < 6 && !m_rx[first + i].empty()) m_rx[first + i].pop_front();
        }
        m_regs[r] &= 0x0F;  // start bits clear themselves
    }
}

const std::vector<uint8_t>* SimFpga::head(int pair) const {
    return pair >= 0 && pair < 6 && !m_rx[pair].empty() ? &m_rx[pair].front() : nullptr;
}

int SimFpga::irqLevel() const {
    if (m_restarted) return 1;
    for (const auto& q : m_rx)
        if (!q.empty()) return 1;
    return 0;
}

std::vector<SimFpga::Card>& SimFpga::chain(int port) {
    auto& c = m_chains[port];
    const SimScenarioData d = m_scenario.snapshot();
    const size_t at = size_t(m_index * 12 + port);
    const size_t want = d.cardsPerPort[at];
    if (c.size() != want) {
        const size_t had = std::min(c.size(), want);
        c.resize(want);
        // Cards new on the chain take the scenario's identity and marks.
        for (size_t i = had; i < want; ++i) {
            c[i].identity = d.cardIdentity[at];
            const auto& marks = d.needsRecovery[at];
            c[i].needsRecovery = std::find(marks.begin(), marks.end(), i) != marks.end();
        }
    }
    return c;
}

void SimFpga::startSend(int pair) {
    const uint8_t sel = m_regs[pair < 4 ? 132 : 148];
    const int base = 2 * pair;
    int port = -1;
    for (int p : {base, base + 1})
        if (sel & (1 << (p % 8))) port = p;
    static const uint8_t low[8] = {26, 134, 136, 138, 154, 155, 156, 157};
    const uint8_t high = m_regs[pair < 4 ? 27 : 158];
    const uint32_t n = (m_regs[low[pair]] | ((high >> (2 * (pair % 4))) & 3) << 8) + 1;
    const std::vector<uint8_t>& mem = page(uint8_t(3 + 2 * pair));
    std::vector<uint8_t> frame(mem.begin(), mem.begin() + n);
    if (port >= 0 && port < 12 && n == 30 && frame[9] == 0x10) m_pairBitsAtSearch[port] = m_regs[port < 8 ? 131 : 147];
    // The select register serves four pairs: a start whose pair has no port
    // selected sends nothing.
    if (port < 0) logLine("pair " + std::to_string(pair) + " started with no port selected: frame lost");
    m_sent.push({port, frame});
    if (port >= 0 && port < 12) answer(port, frame);
}

namespace {
uint8_t xorOf(const std::vector<uint8_t>& f, size_t n) {
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i) x ^= f[i];
    return x;
}
uint32_t le32(const std::vector<uint8_t>& f, size_t at) {
    return at + 4 <= f.size() ? uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 |
                                    uint32_t(f[at + 3]) << 24
                              : 0;
}
}  // namespace

// The cards of one port act on a frame and answer it.
void SimFpga::answer(int port, const std::vector<uint8_t>& f) {
    if (f.size() < 11 || f.back() != xorOf(f, f.size() - 1)) return;  // the cards ignore a bad frame
    std::vector<Card>& cards = chain(port);
    if (cards.empty() || m_silent[port]) return;
    const uint16_t dst = uint16_t(f[0] | f[1] << 8);
    const uint8_t cmd = f[9];
    auto reply = [&](uint32_t index, std::vector<uint8_t> data) {
        std::vector<uint8_t> r = {f[2], f[3], 0, 0, 0x10, f[5], f[6], f[7], 0, cmd, 0};
        const uint16_t src = uint16_t(((port % 4) << 12) | (index & 0x0FFF));
        r[2] = uint8_t(src);
        r[3] = uint8_t(src >> 8);
        r.insert(r.end(), data.begin(), data.end());
        r.push_back(xorOf(r, r.size()));
        if (m_corruptReplies) r.back() ^= 0x5A;
        deliver(port, std::move(r));
    };
    const SimSensor sensor = m_scenario.snapshot().sensors[size_t(m_index * 12 + port)];
    if (dst & 0x4000) {
        // The multifunction card: its sensor block at 0x02000000.
        if (!sensor.present || sensor.silent || cmd != 0x61 || le32(f, 10) != 0x02000000u) return;
        std::vector<uint8_t> block(std::min<uint32_t>(le32(f, 14), 128), 0);
        if (block.size() > 52) {
            block[49] = sensor.invalid ? 0 : 0xFF;
            block[52] = sensor.level;
        }
        std::vector<uint8_t> r = {f[2], f[3], uint8_t(dst), uint8_t(dst >> 8), 0x10, f[5], f[6], f[7], 0, cmd, 0};
        r.insert(r.end(), block.begin(), block.end());
        r.push_back(xorOf(r, r.size()));
        deliver(port, std::move(r));
        return;
    }
    if (cmd == 0x10) {
        const uint32_t count = uint32_t(cards.size());
        std::vector<uint8_t> data = {uint8_t(count), uint8_t(count >> 8), uint8_t(sensor.present ? 1 : 0)};
        if (f.size() == 30) {
            const uint32_t identity = cards[0].identity;
            data.resize(13, 0);  // up to byte 23 of the reply
            data[7] = uint8_t(identity);
            data[8] = uint8_t(identity >> 8);
            data[9] = uint8_t(identity >> 16);
            data[10] = uint8_t(identity >> 24);
            uint16_t marked = 0xFF;
            if (le32(f, 17) == identity)
                for (size_t i = 0; i < cards.size(); ++i)
                    if (cards[i].needsRecovery) {
                        marked = uint16_t(i);
                        break;
                    }
            data[11] = uint8_t(marked);
            data[12] = uint8_t(marked >> 8);
        }
        reply(count - 1, data);
        return;
    }
    size_t first = 0, last = cards.size() - 1;
    if ((dst & 0x0FFF) < 0x0FFE) {
        first = last = dst & 0x0FFF;
        if (first >= cards.size()) return;
    }
    std::vector<uint8_t> data;
    for (size_t i = first; i <= last; ++i) {
        Card& c = cards[i];
        switch (cmd) {
        case 0x60: {
            const uint32_t a = le32(f, 10), n = le32(f, 14);
            uint32_t lost = 0;
            for (uint32_t k = 0; k < n && 18 + k < f.size() - 1; ++k) {
                auto it = c.ram.find(a + k);
                if (it != c.ram.end())
                    it->second = f[18 + k];
                else if (c.ram.size() < kCardRamKeep)
                    c.ram.emplace(a + k, f[18 + k]);
                else
                    ++lost;
            }
            if (lost)
                logLine("port " + std::to_string(port) + " card " + std::to_string(i) + " RAM full: " +
                        std::to_string(lost) + " bytes lost");
            break;
        }
        case 0x61: {
            const uint32_t a = le32(f, 10), n = std::min<uint32_t>(le32(f, 14), 128);
            data.clear();
            for (uint32_t k = 0; k < n; ++k) {
                auto it = c.ram.find(a + k);
                data.push_back(it == c.ram.end() ? 0 : it->second);
            }
            break;
        }
        case 0xA0:
            if (f.size() >= 15) c.regs[uint16_t(f[10] | f[11] << 8)] = f[13];
            break;
        case 0x81: ++c.saves; break;
        case 0xB4: ++c.activations; break;
        case 0x84: ++c.reconfigs; break;
        default: c.otherCommands.push(cmd); break;
        }
    }
    reply(uint32_t(last), data);
}

void SimFpga::logLine(const std::string& line) { m_logFile.append(m_logPath, line); }

void SimFpga::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) {
    const bool selected = m_gpio.getLine(kSelect[m_index]) == 0;
    const bool command = m_gpio.getLine(kCommand[m_index]) == 1;
    int irq;
    std::function<void(uint8_t, uint8_t)> hook;
    uint8_t reg = 0, value = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hookReg = -1;
        irq = transferLocked(tx, rx, len, selected, command);
        if (m_hookReg >= 0 && m_regWriteHook) {
            hook = m_regWriteHook;
            reg = uint8_t(m_hookReg);
            value = m_regs[reg];
        }
    }
    // The line is driven outside the model's lock: the board calls its
    // watchers from setLine.
    const char* line = m_index ? GpioName::kFpga1Irq : GpioName::kFpga0Irq;
    if (irq >= 0 && m_gpio.getLine(line) != irq) m_gpio.setLine(line, irq);
    if (hook) hook(reg, value);
}

int SimFpga::transferLocked(const uint8_t* tx, uint8_t* rx, uint32_t len, bool selected, bool command) {
    std::fill(rx, rx + len, uint8_t(0));
    releaseHeld();
    if (!selected) {
        if (m_ignored++ == 0)
            writeLogMsgFor("fpga" + std::to_string(m_index), WARNING,
                           "sim fpga" + std::to_string(m_index) + ": message while not selected, ignored");
        return -1;
    }
    if (command) {
        ++m_commands;
        m_havePending = len == 4;
        if (m_havePending) std::memcpy(m_pending, tx, 4);
        return -1;
    }
    if (!m_havePending) return -1;
    m_havePending = false;
    const uint8_t cmd = m_pending[0];
    if (m_reset) return -1;  // reads stay 0, writes are lost
    char text[64];
    if (cmd == 0x04 || cmd == 0x05) {
        const uint8_t r = m_pending[2];
        SimBoard* board = SimBoard::current();
        if (board && board->eventLogOn()) {
            if (cmd == 0x05)
                std::snprintf(text, sizeof text, "spi fpga%d R %u", m_index, r);
            else
                std::snprintf(text, sizeof text, "spi fpga%d W %u 0x%02X/0x%02X", m_index, r, tx[0], m_pending[3]);
            board->logEvent(text);
        }
        if (cmd == 0x05) {
            rx[0] = readReg(r);
            return irqLevel();
        }
        writeReg(r, tx[0], m_pending[3]);
        m_hookReg = r;
        m_regLog.push({r, tx[0], m_pending[3]});
        std::snprintf(text, sizeof text, "reg %u = 0x%02X mask 0x%02X", r, tx[0], m_pending[3]);
        logLine(text);
        return irqLevel();
    }
    if (cmd != 0x02 && cmd != 0x03) return -1;
    const uint8_t p = m_pending[1];
    const uint16_t address = uint16_t(m_pending[2] | (m_pending[3] & 0x0F) << 8);
    std::vector<uint8_t>& mem = page(p);
    if (cmd == 0x03) {
        std::vector<uint8_t> view = mem;
        if (p >= 2 && p <= 12 && p % 2 == 0) {
            const auto* f = head(p / 2 - 1);
            view.assign(kPageSize, 0);
            if (f) std::copy(f->begin(), f->end(), view.begin());
        }
        if (p == 1) {
            const auto f = m_scenario.fpga();
            put16(view, 116, f.inputWidth);
            put16(view, 118, f.inputHeight);
            put16(view, 120, f.inputPeriod);
            put16(view, 122, f.inputPeriod >> 16);
            if (m_corrupt) put16(view, 12, uint32_t(view[12] | view[13] << 8) + 1);
        }
        for (uint32_t i = 0; i < len; ++i) rx[i] = view[(address + i) % kPageSize];
        return -1;
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
    m_ramLog.push(std::move(w));
    return -1;
}

int SimFpga::commandsSeen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
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
    return m_regLog.items();
}

std::vector<SimFpga::RamWrite> SimFpga::ramWrites() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ramLog.items();
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
    m_sent.clear();
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

void SimFpga::setSendBusy(int reads) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sendBusy = reads;
}

int SimFpga::sendBusyLeft() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sendBusy;
}

void SimFpga::setSilentPort(int port, bool silent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port >= 0 && port < 12) m_silent[port] = silent;
}

void SimFpga::setCorruptReplies(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_corruptReplies = on;
}

void SimFpga::injectReply(int port, const std::vector<uint8_t>& frame) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (port < 0 || port >= 12) return;
        queueReply(port / 2, frame);
    }
    m_gpio.setLine(m_index ? GpioName::kFpga1Irq : GpioName::kFpga0Irq, 1);
}

void SimFpga::setRegWriteHook(std::function<void(uint8_t reg, uint8_t value)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_regWriteHook = std::move(hook);
}

SimFpga::Card SimFpga::card(int port, int index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port < 0 || port >= 12 || index < 0 || size_t(index) >= m_chains[port].size()) return Card{};
    return m_chains[port][size_t(index)];
}

void SimFpga::setCard(int port, int index, const Card& c) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port < 0 || port >= 12 || index < 0) return;
    auto& ch = chain(port);
    if (size_t(index) < ch.size()) ch[size_t(index)] = c;
}

int SimFpga::pairBitsAtLastSearch(int port) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return port >= 0 && port < 12 ? m_pairBitsAtSearch[port] : -1;
}

std::vector<std::pair<int, std::vector<uint8_t>>> SimFpga::sentFrames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent.items();
}
