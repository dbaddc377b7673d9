#pragma once
// The board scenario: what is plugged in where. Loaded from the JSON file
// that ZRV_BOARD_CONFIG names, changed at run time by tests; models read it
// on every access, so a change shows at the next poll.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

struct SimSource {
    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t refreshHz = 0;
    bool interlaced = false;
};

// The FPGAs and their flashes.
struct SimFpgaScenario {
    // What FPGA RAM page 1 reports of the picture it receives.
    uint32_t inputWidth = 1920;
    uint32_t inputHeight = 1080;
    uint32_t inputPeriod = 833333;
    // Unique id of both flashes.
    std::array<uint8_t, 8> flashUid{{1, 2, 3, 4, 5, 6, 7, 8}};
    // Register 22 shows the ready bit only after this many reads.
    uint32_t readyAfterReads = 0;
    // Register 22 shows a Vby-One lock error on this many reads.
    uint32_t lockErrors = 0;
    // The flashes stay busy this many status polls after each command
    // (-1: for ever, an absent or broken flash).
    int flashBusyPolls = 0;
};

struct SimScenarioData {
    // Inputs by the device's numbering: 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2,
    // 4 HDMI3, 5 HDMI4.
    std::array<SimSource, 6> inputs{};
    // Receiving cards behind each output port, 12 ports per FPGA.
    std::array<uint16_t, 24> cardsPerPort{};
    std::array<uint16_t, 3> socIdWords{{0x1234, 0x5678, 0x9ABC}};
    SimFpgaScenario fpga;
};

class SimScenario {
public:
    // Reads the JSON scenario; false (and the defaults kept) when the file
    // cannot be read or parsed. Unknown members are ignored.
    bool loadFile(const std::string& hostPath);
    bool loadJson(const std::string& json);

    SimScenarioData snapshot() const;
    void setInput(int input, const SimSource& source);  // input 0-5, others ignored
    void unplug(int input);
    void setCardsOnPort(int port, uint16_t count);      // port 0-23
    void setSocIdWords(uint16_t x, uint16_t y, uint16_t z);

    static int inputByName(const std::string& name);    // "HDMI1" -> 2, -1 unknown

private:
    mutable std::mutex m_mutex;
    SimScenarioData m_data;
};
