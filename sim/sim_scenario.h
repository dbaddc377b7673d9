#pragma once
// The board scenario: what is plugged in where. Loaded from the JSON file
// that ZRV_BOARD_CONFIG names, changed at run time by tests; models read it
// on every access, so a change shows at the next poll.
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A video source on one input: its timing (width, height, refresh,
// interlaced; the line timing itself is simVideoTiming's) and what a
// receiver reads of it besides. JSON keys of an input, all optional:
//   "width", "height", "refresh" (Hz, default 60), "interlaced" (bool)
//   "signal"       "HDMI" (default) or "DVI"; a DVI source sends no
//                  InfoFrames and no audio
//   "color"        AVI colour format: "RGB" (default), "4:2:2", "4:4:4",
//                  "4:2:0"
//   "quantization" AVI range: "default", "limited" or "full"
//   "colorimetry"  AVI colorimetry: "none" (default), "601" or "709"
//   "audio_rate"   sample rate in Hz: 32000, 44100, 48000, 88200, 96000,
//                  176400 or 192000; absent: no audio
//   "audio_channels" 2 to 8 (default 2 when a rate is given)
//   "follows_edid" (bool, default false): at each rise of the input's
//                  hot-plug the source reads the input's EDID memory and
//                  takes the size and rate of its first timing descriptor
// A value of another kind or out of range, or an unknown key, is refused
// with a message naming the input, the key and the value, and that field
// keeps its default.
struct SimSource {
    enum class Color : uint8_t { RGB = 0, YUV422 = 1, YUV444 = 2, YUV420 = 3 };  // AVI Y1Y0
    enum class Range : uint8_t { Default = 0, Limited = 1, Full = 2 };          // AVI Q1Q0
    enum class Colorimetry : uint8_t { None = 0, BT601 = 1, BT709 = 2 };        // AVI C1C0

    bool present = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t refreshHz = 0;
    bool interlaced = false;
    bool dvi = false;
    Color color = Color::RGB;
    Range range = Range::Default;
    Colorimetry colorimetry = Colorimetry::None;
    uint32_t audioRateHz = 0;  // 0: no audio
    uint8_t audioChannels = 0;
    bool followsEdid = false;
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
    // Both flashes protect every sector: erases and programs are taken and
    // change nothing.
    bool flashProtected = false;
};

// A light sensor on a multifunction card in a port's chain, addressed as
// 0x4000 | (port % 4) << 12. It makes the port's search reply show a
// non-zero status byte and answers a 128-byte RAM read at 0x02000000 with
// its block: byte 49 0xFF while the reading is valid, byte 52 the level it
// asks for. JSON (key "sensors"): {"3": {"level": 10, "silent": false,
// "invalid": false}}.
struct SimSensor {
    bool present = false;
    uint8_t level = 16;
    bool silent = false;   // found by the search, answers no read
    bool invalid = false;  // answers with byte 49 not 0xFF
};

// The cards of a port that take their time to answer one command (a save
// to their flash, say), or every command when none is given: its replies
// reach the receive page `ms` after the frame. JSON (key "slow_replies"):
// {"13": {"command": 160, "ms": 1100}}, {"5": {"ms": 300}}.
struct SimSlowReply {
    static constexpr int kEvery = -2;
    static constexpr uint32_t kMaxMs = 60000;  // the longest delay a scenario gives
    int command = -1;  // none
    uint32_t ms = 0;
    bool delays(uint8_t cmd) const { return command == kEvery || command == cmd; }
};

struct SimScenarioData {
    // Cards a port may have: each answers at an address of its own below
    // the two broadcast ones (0x0FFE, 0x0FFF).
    static constexpr int kMaxCards = 0x0FFE;
    // Inputs by the device's numbering: 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2,
    // 4 HDMI3, 5 HDMI4.
    std::array<SimSource, 6> inputs{};
    // Receiving cards behind each output port, 12 ports per FPGA.
    std::array<uint16_t, 24> cardsPerPort{};
    // Identity every card of a port reports to a check search, and the
    // cards (by index on the chain) that lost their configuration.
    std::array<uint32_t, 24> cardIdentity{};
    std::array<std::vector<uint16_t>, 24> needsRecovery{};
    std::array<SimSensor, 24> sensors{};
    std::array<SimSlowReply, 24> slowReplies{};
    std::array<uint16_t, 3> socIdWords{{0x1234, 0x5678, 0x9ABC}};
    // OSD fonts whose headers the c331's serial flash holds at start:
    // "ascii32", "cjk32", "ascii64", "cjk64" (key "c331_fonts", a list).
    std::vector<std::string> c331Fonts;
    // The c331's serial flash protects every sector: it takes each erase
    // and program and keeps its bytes (key "c331_flash_protected").
    bool c331FlashProtected = false;
    SimFpgaScenario fpga;
};

class SimScenario {
public:
    // Reads the JSON scenario; false (and the defaults kept) when the file
    // cannot be read or parsed. A member or a value of the wrong kind or
    // range, and an unknown member, is refused, listed in warnings(), and
    // what it would have set keeps what it had. loadFile logs each refusal,
    // or why the file was not taken (missing, not a regular file, larger
    // than kFileMax, the parser's line and message); loadJson says that in
    // why.
    static constexpr long long kFileMax = 64 * 1024;
    bool loadFile(const std::string& hostPath);
    bool loadJson(const std::string& json, std::string* why = nullptr);
    // The refusals of the last load, one message each.
    std::vector<std::string> warnings() const;

    SimScenarioData snapshot() const;
    // The parts the models read at every poll, without copying the rest.
    SimSource input(int input) const;  // input 0-5; an absent source otherwise
    std::array<SimSource, 6> inputs() const;
    SimFpgaScenario fpga() const;
    void setInput(int input, const SimSource& source);  // input 0-5, others ignored
    void unplug(int input);
    // A source that follows its input's EDID takes the size and rate of the
    // first timing descriptor of a valid EDID (header and base checksum);
    // false, and the source unchanged, for a blank or broken one.
    bool followEdid(int input, const std::vector<uint8_t>& edid);
    void setCardsOnPort(int port, uint16_t count);      // port 0-23
    void setSensor(int port, const SimSensor& sensor);  // port 0-23
    void setSocIdWords(uint16_t x, uint16_t y, uint16_t z);

    static int inputByName(const std::string& name);    // "HDMI1" -> 2, -1 unknown
    static const char* inputName(int input);            // 2 -> "HDMI1", "" out of range

private:
    mutable std::mutex m_mutex;
    SimScenarioData m_data;
    std::vector<std::string> m_warnings;
};
