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
// Attach with SimBoard::attachSpi("/dev/spidev32766.1" or ".2", model).
#include "sim/sim_models.h"

#include <cstdio>
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

    // ---- knobs
    // Register 40 reads with these lane bits cleared.
    void setLaneDrop(uint8_t bits);
    // Register 22 bit 6: the FPGA restarted by itself.
    void setRestarted(bool on);
    // Page 1 reads one geometry word (port 0's width) off by one.
    void setCorruptGeometry(bool on);

private:
    void boot();  // caller holds m_mutex
    void resetLine(int value);
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
    std::vector<RegWrite> m_regLog;
    std::vector<RamWrite> m_ramLog;
    std::FILE* m_logFile = nullptr;
};
