#pragma once
// The simulated board: buses that route to device models, file-backed MTD
// devices, recorded shell commands, injected uevents, the scenario.
#include "platform/board.h"
#include "sim/sim_models.h"
#include "sim/sim_ring.h"
#include "sim/sim_scenario.h"
#include "sim/sim_shell.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimGpio : public GpioLines {
public:
    bool isOpen() const override { return true; }
    int setLine(const std::string& name, int value) override;
    int getLine(const std::string& name) override;
    // Called (outside the lock) whenever a line is set; models watch resets.
    using Watcher = std::function<void(const std::string& name, int value)>;
    void watch(Watcher w);
    // An input a model drives from its own state: a read of the line asks it
    // (outside the lock), so the line is up the moment the model has
    // something to show, bus traffic or not. A negative answer (the model
    // gone) reads the level last set.
    void drive(const std::string& name, std::function<int()> level);
    // The newest kHistoryKeep sets in order, for tests.
    static constexpr size_t kHistoryKeep = 4096;
    std::vector<std::pair<std::string, int>> history() const;
    // Board time of a set (milliseconds), for the log file.
    void setTimeSource(std::function<uint64_t()> now) { m_now = std::move(now); }
    // Device path of the log every set that changes a line is appended to,
    // with the board time, as the recording shell does for commands. A set
    // that leaves the line as it was is not appended: the c331 driver
    // re-asserts the FPGA select lines on every transfer. The FPGAs' select,
    // command, flash-select and interrupt lines, which move with every SPI
    // access, are kept out of the file. Past 4 MiB it moves to ".1".
    static constexpr const char* kLogDevicePath = "/var/log/sim_gpio.log";
    // Also called on every set, with the line and its value (board event log).
    void setEventSink(std::function<void(const std::string&, int)> sink) { m_sink = std::move(sink); }

private:
    mutable std::mutex m_mutex;
    std::function<uint64_t()> m_now;
    std::function<void(const std::string&, int)> m_sink;
    std::map<std::string, int> m_lines;
    std::map<std::string, std::function<int()>> m_drivers;
    // Replaced whole by watch(): a set calls the list it found without
    // copying every watcher (the FPGAs' lines move with each SPI access).
    std::shared_ptr<const std::vector<Watcher>> m_watchers = std::make_shared<std::vector<Watcher>>();
    SimRing<std::pair<std::string, int>> m_history{kHistoryKeep};
    SimLogFile m_logFile;
};

class SimBoard : public Board {
public:
    SimBoard();
    ~SimBoard() override;

    // The installed board when it is simulated, else null.
    static SimBoard* current();

    bool isSimulated() const override { return true; }
    std::unique_ptr<SpiDevice> openSpi(const std::string& devicePath) override;
    std::unique_ptr<I2cBus> openI2c(const std::string& devicePath) override;
    std::unique_ptr<MtdDevice> openMtd(const std::string& devicePath) override;
    std::unique_ptr<SerialPort> openSerial(const std::string& devicePath, int baud) override;
    std::unique_ptr<UeventSource> openUevents() override;
    std::unique_ptr<TouchSource> openTouch(const std::string& devicePath) override;
    GpioLines& gpio() override { return m_gpio; }
    ShellRunner& shell() override { return m_shell; }
    Clock& clock() override { return *m_clock; }
    bool readSocIdWords(uint16_t& x, uint16_t& y, uint16_t& z) override;

    // Models behind the buses. A device path with no model opens as absent
    // (isOpen() false); an I2C address with no model NACKs.
    void attachSpi(const std::string& devicePath, std::shared_ptr<SpiModel> model);
    std::shared_ptr<SpiModel> spiModel(const std::string& devicePath) const;
    void attachI2c(const std::string& busPath, uint16_t address, std::shared_ptr<I2cModel> model);
    std::shared_ptr<I2cModel> i2cModel(const std::string& busPath, uint16_t address) const;
    // A device behind channel bit(s) `channel` of the switch model (a
    // SimI2cSwitch) at switchAddress: a message to `address` reaches it while
    // the switch has one of its channel bits set. Addresses are 7-bit.
    void attachI2cBehind(const std::string& busPath, uint16_t switchAddress, uint8_t channel, uint16_t address,
                         std::shared_ptr<I2cModel> model);
    std::shared_ptr<I2cModel> i2cModelBehind(const std::string& busPath, uint16_t switchAddress, uint8_t channel,
                                             uint16_t address) const;
    // The model a message to `address` reaches now: null (NACK) when none
    // or when two answer, which counts as a collision.
    std::shared_ptr<I2cModel> i2cRoute(const std::string& busPath, uint16_t address);
    int i2cCollisions() const { return m_collisions.load(); }

    // Ordered log of I2C messages and GPIO sets (off until enabled):
    // "W 77 00 04", "R 50 8 nack", "edid_write=0"; the newest kEventsKeep.
    static constexpr size_t kEventsKeep = 1u << 16;
    void enableEventLog(bool on);
    std::vector<std::string> eventLog() const;
    void clearEventLog();
    void logEvent(const std::string& text);
    // Whether logEvent keeps anything: callers skip building the text.
    bool eventLogOn() const { return m_eventsOn.load(std::memory_order_relaxed); }

    // MTD geometry used when the backing file under the root is created.
    void setMtdGeometry(const std::string& devicePath, uint32_t size, uint32_t erasesize, uint32_t writesize);
    // Devices opened from now on take erases and writes of the bytes in
    // [from, from + length) and keep them, as blocks under a flash's
    // protection; a length of 0 protects nothing.
    void setMtdProtected(const std::string& devicePath, uint32_t from, uint32_t length);
    void setSocIdReadable(bool readable) { m_socReadable = readable; }

    // NUL-separated like the kernel's. At most kUeventsKeep wait to be
    // received (the kernel's socket holds a bounded queue too): past them
    // the oldest goes.
    static constexpr size_t kUeventsKeep = 256;
    void injectUevent(const std::string& message);
    void setClock(std::unique_ptr<Clock> clock) { m_clock = std::move(clock); }

    SimScenario& scenario() { return m_scenario; }
    SimShell& simShell() { return m_shell; }
    SimGpio& simGpio() { return m_gpio; }

    // Touch activity injected by the PC front end or a test.
    void pokeTouch();

private:
    friend class SimUeventSource;
    friend class SimTouchSource;
    struct MtdGeometry {
        uint32_t size, erasesize, writesize;
    };

    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<SpiModel>> m_spi;
    std::map<std::pair<std::string, uint16_t>, std::shared_ptr<I2cModel>> m_i2c;
    struct Behind {
        std::string bus;
        uint16_t switchAddress;
        uint8_t channel;
        uint16_t address;
        std::shared_ptr<I2cModel> model;
    };
    std::vector<Behind> m_behind;
    std::atomic<int> m_collisions{0};
    mutable std::mutex m_eventMutex;
    std::atomic<bool> m_eventsOn{false};
    SimRing<std::string> m_events{kEventsKeep};
    std::map<std::string, MtdGeometry> m_mtdGeometry;
    std::map<std::string, std::pair<uint32_t, uint32_t>> m_mtdProtected;
    std::deque<std::string> m_uevents;
    std::condition_variable m_ueventCv;
    bool m_touched = false;
    bool m_socReadable = true;
    SimGpio m_gpio;
    SimShell m_shell;
    SimScenario m_scenario;
    std::unique_ptr<Clock> m_clock;
};

// The serial lines of the simulated board (pseudo-terminals); defined in
// sim_serial.cpp.
std::unique_ptr<SerialPort> simOpenSerial(const std::string& devicePath, int baud);
