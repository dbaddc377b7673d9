#include "sim/sim_board.h"

#include "platform/root.h"
#include "sim/sim_devices.h"
#include "sim/sim_i2c_switch.h"

#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------- GPIO

int SimGpio::setLine(const std::string& name, int value) {
    std::shared_ptr<const std::vector<Watcher>> watchers;
    const int v = value ? 1 : 0;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_lines.find(name);
        changed = it == m_lines.end() || it->second != v;
        if (it == m_lines.end())
            m_lines.emplace(name, v);
        else
            it->second = v;
        m_history.push({name, v});
        watchers = m_watchers;
        // The FPGAs' select and command lines move with every SPI access:
        // the history keeps them, the file would only grow without bound.
        const auto busLine = [&name] {
            return name == GpioName::kFpga0Select || name == GpioName::kFpga1Select ||
                   name == GpioName::kFpga0Command || name == GpioName::kFpga1Command ||
                   name == GpioName::kFpga0FlashSelect || name == GpioName::kFpga1FlashSelect ||
                   name == GpioName::kFpga0Irq || name == GpioName::kFpga1Irq;
        };
        if (changed && !busLine())
            m_logFile.append(Root::path(kLogDevicePath), std::to_string(m_now ? m_now() : 0) + " ms " + name + " " +
                                                             std::to_string(v));
    }
    if (m_sink) m_sink(name, v);
    for (auto& w : *watchers) w(name, v);
    return 0;
}

int SimGpio::getLine(const std::string& name) {
    std::function<int()> driver;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto d = m_drivers.find(name);
        if (d != m_drivers.end()) driver = d->second;
    }
    if (driver) {
        const int v = driver();
        if (v >= 0) return v ? 1 : 0;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_lines.find(name);
    return it == m_lines.end() ? 0 : it->second;
}

void SimGpio::drive(const std::string& name, std::function<int()> level) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_drivers[name] = std::move(level);
}

void SimGpio::watch(Watcher w) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto more = std::make_shared<std::vector<Watcher>>(*m_watchers);
    more->push_back(std::move(w));
    m_watchers = std::move(more);
}

std::vector<std::pair<std::string, int>> SimGpio::history() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_history.items();
}

// ---------------------------------------------------------------- buses

namespace {

class SimSpiDevice : public SpiDevice {
public:
    explicit SimSpiDevice(std::shared_ptr<SpiModel> model) : m_model(std::move(model)) {}
    bool isOpen() const override { return m_model != nullptr; }
    int configure(uint8_t, uint32_t, uint8_t) override { return m_model ? 0 : -1; }
    int transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override {
        if (!m_model) return -1;
        std::vector<uint8_t> scratch;
        if (!rx) {
            scratch.resize(len);
            rx = scratch.data();
        }
        std::memset(rx, 0, len);
        m_model->transfer(tx, rx, len);
        return 0;
    }

private:
    std::shared_ptr<SpiModel> m_model;
};

class SimI2cBus : public I2cBus {
public:
    SimI2cBus(SimBoard& board, std::string path) : m_board(board), m_path(std::move(path)) {}
    bool isOpen() const override { return true; }
    int transfer(I2cMsg* msgs, int count) override {
        if (!msgs || count <= 0) return -1;
        for (int i = 0; i < count; ++i) {
            auto model = m_board.i2cRoute(m_path, msgs[i].addr);
            const bool read = msgs[i].flags & I2cMsg::Read;
            bool ack = model && (read ? model->read(msgs[i].buf, msgs[i].len) : model->write(msgs[i].buf, msgs[i].len));
            logMessage(msgs[i], read, ack);
            if (!ack) return -1;
        }
        return count;
    }

private:
    void logMessage(const I2cMsg& m, bool read, bool ack) {
        if (!m_board.eventLogOn()) return;
        char b[16];
        std::snprintf(b, sizeof b, "%c %02X", read ? 'R' : 'W', m.addr);
        std::string text = b;
        if (read) {
            text += " " + std::to_string(m.len);
        } else {
            for (int k = 0; k < m.len; ++k) {
                std::snprintf(b, sizeof b, " %02X", m.buf[k]);
                text += b;
            }
        }
        if (!ack) text += " nack";
        m_board.logEvent(text);
    }

    SimBoard& m_board;
    std::string m_path;
};

// A NOR-like flash in a file under the root: erase sets 0xFF, a write can
// only clear bits, so a write without its erase shows up as corruption. The
// bytes of a protected range take erases and writes and keep their content.
class SimMtdDevice : public MtdDevice {
public:
    SimMtdDevice(const std::string& hostPath, uint32_t size, uint32_t erasesize, uint32_t writesize,
                 uint32_t protectedFrom, uint32_t protectedLength)
        : m_size(size), m_erasesize(erasesize), m_writesize(writesize), m_protectedFrom(protectedFrom),
          m_protectedEnd(uint64_t(protectedFrom) + protectedLength) {
        m_fd = simOpenFile(hostPath, O_RDWR | O_CREAT);
        if (m_fd < 0) return;
        off_t have = ::lseek(m_fd, 0, SEEK_END);
        if (have < off_t(size)) {
            std::vector<uint8_t> ff(size - size_t(have), 0xFF);
            if (::pwrite(m_fd, ff.data(), ff.size(), have) != ssize_t(ff.size())) {
                ::close(m_fd);
                m_fd = -1;
            }
        }
    }
    ~SimMtdDevice() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool isOpen() const override { return m_fd >= 0; }
    int getInfo(MtdInfo& info) override {
        if (m_fd < 0) return -1;
        info.type = 3;  // NOR flash
        info.flags = 0x400;
        info.size = m_size;
        info.erasesize = m_erasesize;
        info.writesize = m_writesize;
        return 0;
    }
    int unlock(uint32_t start, uint32_t length) override { return inRange(start, length) ? 0 : -1; }
    int erase(uint32_t start, uint32_t length) override {
        if (!inRange(start, length) || start % m_erasesize || length % m_erasesize) return -1;
        std::vector<uint8_t> cur(length);
        if (::pread(m_fd, cur.data(), length, start) != ssize_t(length)) return -1;
        for (uint32_t i = 0; i < length; ++i)
            if (!isProtected(uint64_t(start) + i)) cur[i] = 0xFF;
        return ::pwrite(m_fd, cur.data(), length, start) == ssize_t(length) ? 0 : -1;
    }
    long pwrite(const void* data, size_t len, uint64_t offset) override {
        if (m_fd < 0 || offset > m_size) return -1;
        len = std::min<uint64_t>(len, m_size - offset);
        std::vector<uint8_t> cur(len);
        if (::pread(m_fd, cur.data(), len, off_t(offset)) != ssize_t(len)) return -1;
        const uint8_t* in = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < len; ++i)
            if (!isProtected(offset + i)) cur[i] &= in[i];
        return ::pwrite(m_fd, cur.data(), len, off_t(offset));
    }
    long pread(void* data, size_t len, uint64_t offset) override {
        if (m_fd < 0 || offset > m_size) return -1;
        len = std::min<uint64_t>(len, m_size - offset);
        return ::pread(m_fd, data, len, off_t(offset));
    }

private:
    bool inRange(uint32_t start, uint32_t length) const {
        return m_fd >= 0 && start <= m_size && length <= m_size - start;
    }
    bool isProtected(uint64_t at) const { return at >= m_protectedFrom && at < m_protectedEnd; }
    int m_fd = -1;
    uint32_t m_size, m_erasesize, m_writesize;
    uint64_t m_protectedFrom, m_protectedEnd;
};

}  // namespace

class SimUeventSource : public UeventSource {
public:
    // The stick folder is looked at this often within a receive, so a stick
    // is noticed within 100 ms however long the caller waits for events.
    static constexpr int kStickLookMs = 50;

    explicit SimUeventSource(SimBoard& board) : m_board(board) {}
    bool isOpen() const override { return true; }
    long receive(char* buf, size_t cap, int timeoutMs) override {
        using std::chrono::milliseconds;
        using std::chrono::steady_clock;
        const auto until = steady_clock::now() + milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            followStickFolder();
            std::unique_lock<std::mutex> lock(m_board.m_mutex);
            const auto look = std::min(until, steady_clock::now() + milliseconds(kStickLookMs));
            if (m_board.m_ueventCv.wait_until(lock, look,
                                              [&] { return m_interrupted || !m_board.m_uevents.empty(); })) {
                if (m_interrupted) return 0;
                std::string msg = std::move(m_board.m_uevents.front());
                m_board.m_uevents.pop_front();
                size_t n = std::min(cap, msg.size());
                std::memcpy(buf, msg.data(), n);
                return long(n);
            }
            if (look >= until) return 0;
        }
    }

    void interrupt() override {
        {
            std::lock_guard<std::mutex> lock(m_board.m_mutex);
            m_interrupted = true;
        }
        m_board.m_ueventCv.notify_all();
    }

private:
    // A PC run plugs a stick by making the folder "/mnt/usb1" under the root:
    // the kernel's add events of the disk and its partition when it appears
    // (and the usb-storage driver's entry), its remove events when it goes.
    void followStickFolder() {
        const bool present = QFileInfo(QString::fromStdString(Root::path("/mnt/usb1"))).isDir();
        if (present == m_stick) return;
        m_stick = present;
        const std::string disk = "/devices/platform/soc/usb1/1-1/host0/target0:0:0/0:0:0:0/block/sda";
        const std::string action = present ? "add" : "remove";
        if (present) {
            const int fd = simOpenFile(Root::path("/proc/scsi/usb-storage"), O_WRONLY | O_CREAT);
            if (fd >= 0) ::close(fd);
        }
        for (const std::string& dev : present ? std::vector<std::string>{disk, disk + "/sda1"}
                                              : std::vector<std::string>{disk + "/sda1", disk})
            m_board.injectUevent(action + "@" + dev + '\0' + "ACTION=" + action);
    }

    SimBoard& m_board;
    bool m_stick = false;
    bool m_interrupted = false;  // guarded by the board's mutex
};

class SimTouchSource : public TouchSource {
public:
    explicit SimTouchSource(SimBoard& board) : m_board(board) {}
    bool isOpen() const override { return true; }
    bool takeActivity() override {
        std::lock_guard<std::mutex> lock(m_board.m_mutex);
        bool t = m_board.m_touched;
        m_board.m_touched = false;
        return t;
    }

private:
    SimBoard& m_board;
};

// ---------------------------------------------------------------- board

SimBoard::SimBoard() : m_clock(std::make_unique<SystemClock>()) {
    m_gpio.setTimeSource([this] { return m_clock->nowMs(); });
    m_gpio.setEventSink([this](const std::string& name, int value) {
        if (eventLogOn()) logEvent(name + "=" + std::to_string(value));
    });
    // The kernel image and boot logo partitions of the device.
    m_mtdGeometry["/dev/mtd8"] = {0x100000, 0x10000, 0x800};
    m_mtdGeometry["/dev/mtd10"] = {0x800000, 0x10000, 0x800};
}

SimBoard::~SimBoard() = default;

SimBoard* SimBoard::current() { return dynamic_cast<SimBoard*>(&Board::get()); }

std::unique_ptr<SpiDevice> SimBoard::openSpi(const std::string& devicePath) {
    return std::make_unique<SimSpiDevice>(spiModel(devicePath));
}

std::unique_ptr<I2cBus> SimBoard::openI2c(const std::string& devicePath) {
    return std::make_unique<SimI2cBus>(*this, devicePath);
}

std::unique_ptr<MtdDevice> SimBoard::openMtd(const std::string& devicePath) {
    MtdGeometry g{0x100000, 0x10000, 0x800};
    std::pair<uint32_t, uint32_t> kept{0, 0};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_mtdGeometry.find(devicePath);
        if (it != m_mtdGeometry.end()) g = it->second;
        auto p = m_mtdProtected.find(devicePath);
        if (p != m_mtdProtected.end()) kept = p->second;
    }
    return std::make_unique<SimMtdDevice>(Root::path(devicePath), g.size, g.erasesize, g.writesize, kept.first,
                                          kept.second);
}

std::unique_ptr<SerialPort> SimBoard::openSerial(const std::string& devicePath, int baud) {
    return simOpenSerial(devicePath, baud);
}

std::unique_ptr<UeventSource> SimBoard::openUevents() { return std::make_unique<SimUeventSource>(*this); }

std::unique_ptr<TouchSource> SimBoard::openTouch(const std::string&) {
    return std::make_unique<SimTouchSource>(*this);
}

bool SimBoard::readSocIdWords(uint16_t& x, uint16_t& y, uint16_t& z) {
    if (!m_socReadable) return false;
    auto s = m_scenario.snapshot();
    x = s.socIdWords[0];
    y = s.socIdWords[1];
    z = s.socIdWords[2];
    return true;
}

void SimBoard::attachSpi(const std::string& devicePath, std::shared_ptr<SpiModel> model) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_spi[devicePath] = std::move(model);
}

std::shared_ptr<SpiModel> SimBoard::spiModel(const std::string& devicePath) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_spi.find(devicePath);
    return it == m_spi.end() ? nullptr : it->second;
}

void SimBoard::attachI2c(const std::string& busPath, uint16_t address, std::shared_ptr<I2cModel> model) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_i2c[{busPath, address}] = std::move(model);
}

std::shared_ptr<I2cModel> SimBoard::i2cModel(const std::string& busPath, uint16_t address) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_i2c.find({busPath, address});
    return it == m_i2c.end() ? nullptr : it->second;
}

void SimBoard::setMtdGeometry(const std::string& devicePath, uint32_t size, uint32_t erasesize,
                              uint32_t writesize) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mtdGeometry[devicePath] = {size, erasesize, writesize};
}

void SimBoard::setMtdProtected(const std::string& devicePath, uint32_t from, uint32_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mtdProtected[devicePath] = {from, length};
}

void SimBoard::injectUevent(const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_uevents.size() >= kUeventsKeep) m_uevents.pop_front();
        m_uevents.push_back(message);
    }
    m_ueventCv.notify_all();
}

void SimBoard::pokeTouch() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_touched = true;
}

std::unique_ptr<Board> makeSimBoard(const std::string& scenarioFile) {
    auto board = std::make_unique<SimBoard>();
    // A file not taken, and each value refused, is logged with its reason.
    if (!scenarioFile.empty()) board->scenario().loadFile(scenarioFile);
    simAttachDevices(*board);
    return board;
}

// ---------------------------------------------------------------- I2C switches

void SimBoard::attachI2cBehind(const std::string& busPath, uint16_t switchAddress, uint8_t channel, uint16_t address,
                               std::shared_ptr<I2cModel> model) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_behind.push_back(Behind{busPath, switchAddress, channel, address, std::move(model)});
}

std::shared_ptr<I2cModel> SimBoard::i2cModelBehind(const std::string& busPath, uint16_t switchAddress,
                                                   uint8_t channel, uint16_t address) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Behind& b : m_behind)
        if (b.bus == busPath && b.switchAddress == switchAddress && b.channel == channel && b.address == address)
            return b.model;
    return nullptr;
}

std::shared_ptr<I2cModel> SimBoard::i2cRoute(const std::string& busPath, uint16_t address) {
    // Every transfer of the source thread's polls comes through here: no
    // allocation on the way.
    std::shared_ptr<I2cModel> found;
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_i2c.find({busPath, address});
        if (it != m_i2c.end()) {
            found = it->second;
            ++count;
        }
        for (const Behind& b : m_behind) {
            if (b.address != address || b.bus != busPath) continue;
            auto sw = m_i2c.find({busPath, b.switchAddress});
            auto* s = sw == m_i2c.end() ? nullptr : dynamic_cast<SimI2cSwitch*>(sw->second.get());
            if (s && (s->control() & b.channel)) {
                found = b.model;
                ++count;
            }
        }
    }
    if (count > 1) {
        m_collisions.fetch_add(1);
        logEvent("collision at " + std::to_string(address));
        return nullptr;
    }
    return found;
}

void SimBoard::enableEventLog(bool on) {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_eventsOn.store(on);
}

std::vector<std::string> SimBoard::eventLog() const {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    return m_events.items();
}

void SimBoard::clearEventLog() {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    m_events.clear();
}

void SimBoard::logEvent(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_eventMutex);
    if (m_eventsOn) m_events.push(text);
}
