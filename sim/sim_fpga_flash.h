#pragma once
// Model of the 8 MB SPI NOR flash behind one FPGA. One message is one
// command, taken only while the FPGA's select line and the flash-select line
// are both low: 0x06 write enable; 0x05 status (bit 0 busy, bit 1 write
// enabled); 0x20/0x52/0xD8 erase of an aligned 4/32/64 KB block (needs write
// enable); 0x02 page program, clearing bits only and wrapping inside its
// 256-byte page (needs write enable); 0x0B fast read with one dummy byte;
// 0x4B the 8-byte unique id after four dummy bytes.
//
// The contents live in a file under the root, created (all 0xFF) on the
// first erase or program and read and written in place, so a restart keeps
// them and an untouched flash costs neither memory nor disk. Each erase
// also goes, as a line, to a log file when one is given: a test outside the
// process counts a sector's erases from it.
//
// A range can be protected, as the protection bits of a real part protect
// one: an erase or program there is taken (write enable used up, busy as
// usual) and changes nothing.
#include "sim/sim_log_file.h"
#include "sim/sim_models.h"
#include "sim/sim_ring.h"

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class SimGpio;

class SimFpgaFlash : public SpiModel {
public:
    static constexpr uint32_t kSize = 0x800000;
    // The command record keeps the newest kLogKeep commands.
    static constexpr size_t kLogKeep = 1u << 16;

    struct Command {
        uint8_t op;
        uint32_t address;
        uint32_t length;  // data bytes (program, read)
    };

    // fpga: 0 or 1 (which select lines it answers on); logHostPath: the
    // erase log, none when empty.
    SimFpgaFlash(int fpga, SimGpio& gpio, const std::string& hostPath, const std::string& logHostPath = {});
    ~SimFpgaFlash() override;

    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) override;

    // ---- tests
    std::vector<uint8_t> read(uint32_t address, uint32_t length);
    // Programs bytes as the chip would (AND), without the command dance.
    void preload(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<Command> commands() const;
    void clearLog();
    uint32_t eraseCount(uint32_t sector) const;  // 4 KB sector
    int ignoredMessages() const;

    // ---- knobs
    // Busy for this many status polls after each erase or program; -1 for ever.
    void setBusyPolls(int polls);
    void setUid(const std::array<uint8_t, 8>& uid);
    // Erases and programs that touch [address, address + length) change
    // nothing; a length of 0 protects nothing.
    void setProtected(uint32_t address, uint32_t length);

private:
    bool open(bool create);  // caller holds m_mutex
    void readLocked(uint32_t address, uint8_t* out, uint32_t length);
    void programLocked(uint32_t address, const uint8_t* data, uint32_t length);
    void eraseLocked(uint32_t address, uint32_t length);
    bool protectedLocked(uint32_t address, uint32_t length) const;

    const int m_fpga;
    SimGpio& m_gpio;
    const std::string m_path;
    const std::string m_logPath;
    SimLogFile m_logFile;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    bool m_writeEnabled = false;
    int m_busyPolls = 0;
    int m_busyLeft = 0;
    std::array<uint8_t, 8> m_uid{};
    uint32_t m_protectedFrom = 0, m_protectedLength = 0;
    SimRing<Command> m_log{kLogKeep};
    std::map<uint32_t, uint32_t> m_erases;
    int m_ignored = 0;
};
