#pragma once
// The EDID EEPROM of one input: 256 bytes, a one-byte word address, sequential
// reads that wrap at the end, page writes of up to 8 bytes that wrap inside
// their page. After a page write it programs for 5 ms of board time and
// acknowledges nothing meanwhile. While the board's EDID write line is high
// the memory is write-protected: writes are acknowledged and ignored.
//
// The content lives in "/var/lib/sim/edid_eeprom<input>.bin" under the root,
// erased (0xFF) when new, so it survives a restart of the program.
#include "sim/sim_models.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class SimBoard;

class SimEdidEeprom : public I2cModel {
public:
    static constexpr int kSize = 256;
    static constexpr int kPage = 8;
    static constexpr uint64_t kWriteMs = 5;

    SimEdidEeprom(SimBoard& board, int input);
    static std::string devicePath(int input);

    bool write(const uint8_t* data, uint16_t len) override;
    bool read(uint8_t* buf, uint16_t len) override;

    std::vector<uint8_t> contents() const;
    void setContents(const std::vector<uint8_t>& bytes);
    int pageWrites() const;
    // Knobs: a base block (byte 127) or extension (byte 255) checksum that is
    // off by one; a memory that answers nothing.
    void corruptBaseChecksum();
    void corruptExtensionChecksum();
    void setAbsent(bool absent);

private:
    void save();

    SimBoard& m_board;
    std::string m_path;
    mutable std::mutex m_mutex;
    uint8_t m_mem[kSize];
    uint8_t m_pointer = 0;
    uint64_t m_busyUntil = 0;
    bool m_absent = false;
    int m_pageWrites = 0;
};

// How a source reads an input's EDID memory (the receivers' "follows_edid"
// sources): false when no memory is attached for the input.
std::function<bool(std::vector<uint8_t>& edid)> simEdidReader(SimBoard& board, int input);
