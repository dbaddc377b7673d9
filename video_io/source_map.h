#pragma once
// What sits on the board's I2C bus and how an input reaches it. Addresses
// are 8-bit (write) addresses as the chips' datasheets give them; Drv_I2C0
// shifts them right by one.
//
// The receivers sit behind the receiver channel switch (0xEE), the EDID
// EEPROMs and the two output clock chips behind the EEPROM and clock switch
// (0xE0). Both switches are one-hot: one control byte, bit = channel.
// Inputs 4 and 5 are swapped against bit order in the channel and audio
// codes.
#include "core/global.h"

#include <cstdint>

typedef int32_t s32;

namespace source_bus {

constexpr const char* kDevice = "/dev/i2c-0";
constexpr int kInputs = 6;
constexpr int kOutputs = 2;

// Devices.
constexpr u8 kRxSwitch = 0xEE;      // receiver channel switch
constexpr u8 kMemSwitch = 0xE0;     // EEPROM and clock channel switch
constexpr u8 kEeprom = 0xA0;        // EDID EEPROM of the selected input
constexpr u8 kAudioSwitch = 0x40;   // audio source: code | idle bit
constexpr u8 kClockChip = 0xD0;     // output clock chip of the selected output
constexpr u8 kIt6602 = 0x90;        // IT6602 (0x94 its second address)
constexpr u8 kIt6602Alt = 0x94;
constexpr u8 kIt6805 = 0x90;        // IT6805 receiver
constexpr u8 kIt6805Cec = 0xC8;     // its CEC block
constexpr u8 kIt66121 = 0x98;       // SDI-path transmitter (root bus)

// Per input 0..5: 0 EXT, 1 DVI, 2 HDMI1, 3 HDMI2 (IT6602), 4 HDMI3, 5 HDMI4 (IT6805).
constexpr u8 kChannel[kInputs] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
constexpr u8 kAudioCode[kInputs] = {0x80, 0x40, 0x20, 0x10, 0x04, 0x08};
constexpr u8 kPollBit[kInputs] = {0x01, 0x02, 0x04, 0x08, 0x20, 0x10};
// Switch 0xE0 codes of the output clock chips.
constexpr u8 kClockChannel[kOutputs] = {0x80, 0x40};

constexpr bool isIt6805Input(int input) { return input == 4 || input == 5; }
constexpr bool validInput(int input) { return input >= 0 && input < kInputs; }

// Audio switch bit 0: 1 normally, 0 while an EDID EEPROM is written.
constexpr u8 kAudioIdleBit = 0x01;

}  // namespace source_bus

// Chip-status and command registers of PARA_REG_BLOCK kept by the source
// thread and its drivers (1 = present or acknowledged).
namespace source_reg {
constexpr int kCommand = 32;        // register-32 commands (below)
constexpr int kChips = 37;
constexpr int kEeproms = 38;
constexpr int kClocks = 39;

// Register 37.
constexpr u8 kIt6602Bit[4] = {0x01, 0x04, 0x08, 0x10};  // inputs 0..3 identified
constexpr u8 kIt66121Found = 0x02;
constexpr u8 kIt6805Bit[2] = {0x20, 0x40};              // chip 0 (input 4), chip 1 (input 5)
constexpr u8 kEeprom0Readable = 0x80;
// Register 38: bits 0-4 EEPROM of input 1..5 readable.
constexpr u8 kSwitchAck = 0x20;     // last channel-switch write acknowledged
constexpr u8 kCheckSwitchAck = 0x40;  // switch 0xE0 answered during the EDID check
constexpr u8 kClock0Done = 0x80;
// Register 39.
constexpr u8 kClock1Done = 0x01;

// Register 32, carried out in this order.
constexpr u8 kHpd5Low = 0x10, kHpd5High = 0x20, kHpd4Low = 0x40, kHpd4High = 0x80;
constexpr u8 kIt6805ResetLowA = 0x01, kIt6805ResetHighA = 0x02;
constexpr u8 kIt6805ResetLowB = 0x04, kIt6805ResetHighB = 0x08;

// Register and bit of input i's "EEPROM readable" flag.
constexpr int eepromReg(int input) { return input == 0 ? kChips : kEeproms; }
constexpr u8 eepromBit(int input) { return input == 0 ? kEeprom0Readable : u8(1u << (input - 1)); }
}  // namespace source_reg

// Per-input video information, one record per input, published by the
// receiver drivers under Utils::_source_hdminfo_mutex and read by the c331
// manager, which ignores a record whose stable word is 0.
struct PI_HDMI_INFO {
    s32 Hact;      // active pixels per line
    s32 Hsync;     // horizontal sync width
    s32 Hback;     // horizontal back porch
    s32 Hpol;      // horizontal sync polarity
    s32 Htotal;    // total pixels per line
    s32 Vact;      // active lines
    s32 Vsync;     // vertical sync width
    s32 Vback;     // vertical back porch
    s32 Vpol;      // vertical sync polarity
    s32 Vtotal;    // total lines
    float pfreq;   // pixel clock in MHz
    s32 type;      // 0 IT6602 inputs, 1 IT6805 inputs
    s32 datamode;  // 0 IT6602 inputs, 1 IT6805 inputs
    s32 lane;      // IT6805: 1 << output mode; 0 for IT6602 inputs
    s32 ip;        // 1 interlaced
    s32 nosignal;  // 1 the input lost its signal
    s32 stable;    // 1 the record holds a measured, stable timing
};
static_assert(sizeof(PI_HDMI_INFO) == 17 * 4, "PI_HDMI_INFO is seventeen 32-bit words");
