#pragma once
#include <string>

// GPIO lines by name. Which SoC register and bit a name stands for is the
// real backend's business (one board table); models and tests see names.
class GpioLines {
public:
    virtual ~GpioLines() = default;
    virtual bool isOpen() const = 0;
    virtual int setLine(const std::string& name, int value) = 0;  // 0 or -1
    virtual int getLine(const std::string& name) = 0;             // 0, 1 or -1
};

// The names of the board's lines, shared by the drivers, the simulated
// board and the real backend's register table.
namespace GpioName {
constexpr const char* kFpga0Select = "fpga0_select";          // low while FPGA 0 or its flash is addressed
constexpr const char* kFpga1Select = "fpga1_select";
constexpr const char* kFpga0Command = "fpga0_command";        // high during a command header
constexpr const char* kFpga1Command = "fpga1_command";
constexpr const char* kFpga0FlashSelect = "fpga0_flash_select";  // low while the flash is accessed
constexpr const char* kFpga1FlashSelect = "fpga1_flash_select";
constexpr const char* kFpga0Reset = "fpga0_reset";            // low holds the FPGA in reset
constexpr const char* kFpga1Reset = "fpga1_reset";
constexpr const char* kFpga0Irq = "fpga0_irq";                // input
constexpr const char* kFpga1Irq = "fpga1_irq";                // input
constexpr const char* kBoardLow0 = "board_low0";              // driven low at start, role not known
constexpr const char* kBoardLow1 = "board_low1";
constexpr const char* kBoardHigh = "board_high";              // driven high at start, role not known
constexpr const char* kBoardOne = "board_one";                // set to 1 at start, role not known
constexpr const char* kGs2971Reset = "gs2971_reset";          // low holds the SDI receiver in reset
constexpr const char* kIt6602Reset = "it6602_reset";
constexpr const char* kIt6805Reset = "it6805_reset";
constexpr const char* kEdidWrite = "edid_write";              // low while an EDID EEPROM is written
constexpr const char* kSdiTransmitter = "sdi_transmitter";    // high when the SDI path is brought up
}  // namespace GpioName
