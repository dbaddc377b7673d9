#pragma once
// Model of one output FPGA on its register and RAM bus. It reads the select
// and command lines from the simulated GPIO and watches its reset line.
//
// With the command line high a message is the 4-byte header: 0x04/0x05
// register write/read {cmd, 0, register, mask}, 0x02/0x03 RAM write/read
// {cmd, page, address low, address high (4 bits)}. The next message, line
// low, carries the data: one byte for a register, N auto-incrementing bytes
// for RAM; reads are answered in the received bytes. A message while the
// FPGA's select line is high is ignored and counted.
//
// Held in reset (line low) it reads 0 and ignores writes; on release it
// starts with its boot values and cleared RAM.
//
// Ports: writing a pair's start bit (register 130 or 146, upper nibble)
// sends the pair's send page (length in its length registers + 1 bytes) to
// the card chain of the port selected in register 132 or 148 (a start with
// no port of the pair selected sends nothing and logs "pair N started with
// no port selected: frame lost" in the write log). The chains
// come from the scenario's "ports" (0-11 this FPGA's for FPGA 0, 12-23 for
// FPGA 1). Replies queue per port pair; the head lies in the pair's receive
// page with its length and ready bit, and the acknowledge bit (register 130
// or 146, lower nibble) takes it away. The interrupt line is high while a
// reply waits or a restart is shown. A port may also carry the scenario's
// light sensor (SimSensor), which answers the frames addressed to it.
// Replies of slow cards (the scenario's "slow_replies") reach their pair's
// queue at their time on the board's clock: the model drives its interrupt
// line, so a read of the line shows them then, whether the bus is used or
// not. A pair queues at most kRepliesKeep replies and the model holds at
// most kHeldKeep slow ones; a reply beyond is lost, with a write-log line,
// as the cards' answers to a controller that stopped reading.
//
// Registers 131 and 147 hold one bit per port pair, bit pair % 4 (131 for
// ports 0-7, 147 for 8-15), which the controller clears before it sends a
// search: the model keeps what the pair's register held when a port's last
// search (a 30-byte frame with command 0x10) went out. With the board's event
// log on, every register access is logged: "spi fpga0 R 42", "spi fpga1 W 0
// 0x80/0x80" (value/mask).
//
// Attach with SimBoard::attachSpi("/dev/spidev32766.1" or ".2", model).
#include "sim/sim_log_file.h"
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SimGpio;
class SimScenario;

class SimFpga : public SpiModel {
public:
    struct RegWrite {
        uint8_t reg, value, mask;
    };
    struct RamWrite {
        uint8_t page;
        uint16_t address;
        std::vector<uint8_t> bytes;
    };

    // logHostPath: the write log file to append to ("" none). The model
    // watches its reset line for as long as it lives.
    static std::shared_ptr<SimFpga> create(int index, SimGpio& gpio, SimScenario& scenario,
                                           const std::string& logHostPath = "");
    SimFpga(int index, SimGpio& gpio, SimScenario& scenario, const std::string& logHostPath);
    ~SimFpga() override;

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override;

    // ---- state (tests)
    // The write and frame records keep the newest kRegLogKeep register
    // writes, kRamLogKeep RAM writes and kSentKeep frames: a PC run under a
    // stream of frames stays small.
    static constexpr size_t kRegLogKeep = 1u << 16;
    static constexpr size_t kRamLogKeep = 1u << 11;
    static constexpr size_t kSentKeep = 1u << 11;
    static constexpr size_t kRepliesKeep = 256;
    static constexpr size_t kHeldKeep = 1024;
    uint8_t reg(uint8_t r) const;
    void setReg(uint8_t r, uint8_t value);
    std::vector<uint8_t> ram(uint8_t page, uint16_t address, uint16_t length) const;
    void setRam(uint8_t page, uint16_t address, const std::vector<uint8_t>& bytes);
    bool inReset() const;
    std::vector<RegWrite> regWrites() const;
    std::vector<RamWrite> ramWrites() const;
    // Register writes of one register, in order.
    std::vector<uint8_t> writesTo(uint8_t r) const;
    void clearLog();
    int ignoredMessages() const;
    // Command headers received (register and RAM reads and writes), held
    // in reset or not.
    int commandsSeen() const;

    // ---- knobs
    // Register 40 reads with these lane bits cleared.
    void setLaneDrop(uint8_t bits);
    // Register 22 bit 6: the FPGA restarted by itself.
    void setRestarted(bool on);
    // Page 1 reads one geometry word (port 0's width) off by one.
    void setCorruptGeometry(bool on);
    // The send buffers read busy for this many reads (-1: for ever).
    void setSendBusy(int reads);
    int sendBusyLeft() const;
    // The cards of local port `port` answer nothing / corrupt every reply's
    // check byte.
    void setSilentPort(int port, bool silent);
    void setCorruptReplies(bool on);
    // Puts a frame into a port's receive queue as if a card had sent it.
    void injectReply(int port, const std::vector<uint8_t>& frame);
    // Called after every register write with the register and the bits it
    // now holds, outside the model's lock (the writer may still hold its own
    // bus lock): a test looks at the writer's state between two of its
    // register steps. An empty function removes the hook.
    void setRegWriteHook(std::function<void(uint8_t reg, uint8_t value)> hook);

    // What the cards of a port hold (tests): at most kCardRamKeep bytes of
    // RAM (a write to another address past them is lost, with a write-log
    // line) and the newest kCardCommandsKeep commands they do not act on.
    static constexpr size_t kCardRamKeep = 1u << 17;
    static constexpr size_t kCardCommandsKeep = 256;
    struct Card {
        std::map<uint32_t, uint8_t> ram;
        std::map<uint16_t, uint8_t> regs;
        int saves = 0, activations = 0, reconfigs = 0;
        uint32_t identity = 0;
        bool needsRecovery = false;
        SimRing<uint8_t> otherCommands{kCardCommandsKeep};
    };
    Card card(int port, int index) const;
    void setCard(int port, int index, const Card& card);
    // Register 131 (ports 0-7) or 147 (ports 8-11) as it was when the last
    // search went out on local port `port`; -1 before the first.
    int pairBitsAtLastSearch(int port) const;
    // Frames the FPGA sent on each port, in order (tests).
    std::vector<std::pair<int, std::vector<uint8_t>>> sentFrames() const;

private:
    void boot();  // caller holds m_mutex
    void resetLine(int value);
    // The rest of transfer, under m_mutex; returns the interrupt level.
    int transferLocked(const uint8_t* tx, uint8_t* rx, uint32_t len, bool selected, bool command);
    void startSend(int pair);
    void answer(int port, const std::vector<uint8_t>& frame);
    // A reply of the cards of a port: into its pair's queue, or held until
    // its time when the port's cards are slow to give this command's.
    void deliver(int port, std::vector<uint8_t> reply);
    void queueReply(int pair, std::vector<uint8_t> reply);
    // The interrupt line as the FPGA drives it now (held replies due by
    // the board's clock released first).
    int irqNow();
    std::vector<Card>& chain(int port);
    const std::vector<uint8_t>* head(int pair) const;
    int irqLevel() const;
    uint8_t readReg(uint8_t r);
    void writeReg(uint8_t r, uint8_t value, uint8_t mask);
    std::vector<uint8_t>& page(uint8_t p);
    void logLine(const std::string& line);

    const int m_index;
    SimGpio& m_gpio;
    SimScenario& m_scenario;
    mutable std::mutex m_mutex;
    bool m_reset = true;
    uint8_t m_regs[256] = {};
    std::map<uint8_t, std::vector<uint8_t>> m_pages;  // allocated on first use
    bool m_havePending = false;
    uint8_t m_pending[4] = {};
    bool m_vboReady = false;
    uint32_t m_statusReads = 0;
    uint32_t m_lockErrorsShown = 0;
    uint8_t m_laneDrop = 0;
    bool m_restarted = false;
    bool m_corrupt = false;
    int m_ignored = 0;
    int m_commands = 0;
    int m_sendBusy = 0;
    bool m_corruptReplies = false;
    bool m_silent[12] = {};
    std::vector<Card> m_chains[12];
    std::deque<std::vector<uint8_t>> m_rx[6];
    // Replies of slow cards (pair, frame) by their time (board ms).
    std::multimap<uint64_t, std::pair<int, std::vector<uint8_t>>> m_held;
    void releaseHeld();
    std::function<void(uint8_t, uint8_t)> m_regWriteHook;
    int m_hookReg = -1;  // the register the transfer under way wrote
    int m_pairBitsAtSearch[12] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    SimRing<std::pair<int, std::vector<uint8_t>>> m_sent{kSentKeep};
    SimRing<RegWrite> m_regLog{kRegLogKeep};
    SimRing<RamWrite> m_ramLog{kRamLogKeep};
    const std::string m_logPath;
    SimLogFile m_logFile;
};
