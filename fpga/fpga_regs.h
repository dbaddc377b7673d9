#pragma once
// What the program knows of the two output FPGAs and the NOR flash behind
// each: SPI devices, command headers, the registers and bits it uses, the
// RAM pages and the layout of the parameter area, the flash commands and the
// flash areas read at bring-up.
#include "core/global.h"

#include <string>

namespace fpgareg {

constexpr int kFpgaCount = 2;
constexpr int kPortsPerFpga = 12;

// SPI devices by index: 0/1 the FPGAs' register and RAM bus, 2/3 the flash
// behind FPGA 0/1 (flash index = FPGA number + 2).
constexpr const char* kSpiDevices[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2", "/dev/spidev32766.3",
                                        "/dev/spidev32766.4"};
constexpr u8 kSpiMode = 3;
constexpr u32 kSpiHz = 10000000;
constexpr u8 kSpiBits = 8;

// Command headers (sent with the command line high): class * 2 + read flag.
constexpr u8 kRamClass = 1;   // 0x02 write, 0x03 read; page; 12-bit address LE
constexpr u8 kRegClass = 2;   // 0x04 write, 0x05 read; 0; register; mask
constexpr u32 kRamPageSize = 4096;

// Register image: registers 0-63 and 128-169 mirror the FPGA; 64-96 exist
// only in the image; 97-127 and 170 up are ignored.
constexpr int kImageSize = 170;
constexpr bool mirrored(int r) { return (r >= 0 && r <= 63) || (r >= 128 && r < kImageSize); }
constexpr bool imageOnly(int r) { return r >= 64 && r <= 96; }

constexpr u8 SCREEN = 0;       // bit 2 blacked out, bit 3 not counted as running, bit 7 mapping
constexpr u8 SCREEN_BLACK = 0x04;
constexpr u8 SCREEN_HOLD = 0x08;
constexpr u8 CONTROL = 2;      // bit 0 apply, bit 1 never sent, bit 2 command block, bit 3 area loaded
constexpr u8 CONTROL_APPLY = 0x01;
constexpr u8 CONTROL_NEVER_SENT = 0x02;
constexpr u8 CONTROL_CMD_BLOCK = 0x04;
constexpr u8 CONTROL_LOADED = 0x08;
constexpr u8 OUTPUT = 3;       // bit 5 outputs on, bits 6/7 Vby-One steps
constexpr u8 OUTPUT_ON = 0x20;
constexpr u8 OUTPUT_VBO1 = 0x40;
constexpr u8 OUTPUT_VBO3 = 0x80;
constexpr u8 BRIGHTNESS = 6;   // LED brightness 0-255
constexpr u8 OUTPUT_BRI_LOAD = 0x04;  // register 3: take the new brightness
constexpr u8 VERSION_ID = 7;
constexpr u8 PROBE = 21;
constexpr u8 STATUS = 22;      // bit 3 lock error, 4 Vby-One ready, 5 cleared at load, 6 restarted, 7 ready
constexpr u8 STATUS_LOCK_ERROR = 0x08;
constexpr u8 STATUS_VBO_READY = 0x10;
constexpr u8 STATUS_LOAD = 0x20;
constexpr u8 STATUS_RESTARTED = 0x40;
constexpr u8 STATUS_READY = 0x80;
constexpr u8 HANDSHAKE = 23;   // bit 0 bring-up done, 1 start handshake, 3 outputs held, 6 load pulse
constexpr u8 HS_VBO_DONE = 0x01;
constexpr u8 HS_START = 0x02;
constexpr u8 HS_HOLD = 0x08;
constexpr u8 HS_LOAD = 0x40;
constexpr u8 VERSION0 = 28;    // 28-31 version; 31 in 25-48 when the FPGA answers
constexpr u8 VERSION3 = 31;
constexpr u8 VERSION_MIN = 25;
constexpr u8 VERSION_MAX = 48;
constexpr u8 UID0 = 32;        // 32-39 controller unique id
constexpr u8 LANES = 40;       // bits 2-4 all set: lanes locked
constexpr u8 LANES_LOCKED = 0x1C;
constexpr u8 START = 41;       // bit 0 start request
constexpr u8 AGE_COUNTER = 42;
constexpr u8 AGE_STATUS = 43;
constexpr u8 BRI_LEVEL = 64;   // image only: the current brightness level
constexpr u8 ONOFF_ACTIVE = 66;  // image only, FPGA 0: 1 while an on/off schedule is active
constexpr u8 SENSOR_FAILS = 85;  // image only, FPGA 0: sensor replies that did not succeed
constexpr u8 RUN_MARK = 80;    // image only: 3 the FPGA runs
constexpr u8 RUNNING = 3;
constexpr u8 LINK_LOW = 128;   // link bits of ports 1-8
constexpr u8 LINK_HIGH = 144;  // link bits of ports 9-12

// RAM pages.
constexpr u8 PAGE_PARAM = 1;
constexpr u8 PAGE_TABLE = 50;

// Parameter area (page 1), 1024 bytes of little-endian words.
constexpr int kAreaSize = 1024;
constexpr int AREA_WIN_X = 56;
constexpr int AREA_WIN_Y = 58;
constexpr int AREA_WIN_W = 60;
constexpr int AREA_WIN_H = 62;
constexpr int AREA_LINK_1_4 = 96;     // bits 0, 1, 3, 4
constexpr int AREA_LINK_5_8 = 512;    // bits 0-3
constexpr int AREA_LINK_9_12 = 513;   // bits 0-3
constexpr int AREA_INPUT = 116;       // u16 width, u16 height, u32 period
constexpr int AREA_PORT_NUMBERS = 276;  // 12 bytes
constexpr int AREA_GROUPS = 296;      // 16 groups of 4 bytes
constexpr int kSpareEntries = 4;
// x offset of port entry n (x, y, width, height words follow); 12-15 spares.
constexpr int kPortEntry[16] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
// Card count word and card status byte of each port.
constexpr int kCardCount[12] = {100, 102, 108, 110, 560, 564, 568, 572, 640, 644, 648, 652};
constexpr int kCardStatus[12] = {104, 106, 112, 114, 562, 566, 570, 574, 642, 646, 650, 654};

// Back-up area: the geometry as stored, without the output offset.
constexpr int kBackSize = 136;
constexpr int BACK_WIN_W = 0;
constexpr int BACK_WIN_H = 2;
constexpr int backPort(int n) { return 4 + 8 * n; }
constexpr int BACK_WIN_X = 132;
constexpr int BACK_WIN_Y = 134;

// Measured input accepted by the run-state sequence.
constexpr u32 kPeriodMin = 714286;
constexpr u32 kPeriodMax = 999999;

// Flash.
constexpr u32 kFlashSize = 0x800000;
constexpr u32 kSectorSize = 4096;
constexpr u32 kSectorCount = kFlashSize / kSectorSize;
constexpr u32 kFlashPage = 256;
constexpr u32 kFlashChunk = 2048;  // longest read in one transfer
constexpr u8 FL_WRITE_ENABLE = 0x06;
constexpr u8 FL_STATUS = 0x05;     // bit 0 busy
constexpr u8 FL_STATUS_BUSY = 0x01;
constexpr u8 FL_STATUS_WEL = 0x02;
constexpr u8 FL_ERASE_4K = 0x20;
constexpr u8 FL_ERASE_32K = 0x52;
constexpr u8 FL_ERASE_64K = 0xD8;
constexpr u8 FL_PROGRAM = 0x02;
constexpr u8 FL_FAST_READ = 0x0B;
constexpr u8 FL_UID = 0x4B;
constexpr u32 kUidLength = 8;
// Flash areas read at bring-up.
constexpr u32 FLASH_TABLE = 0x6C0001;   // 256 bytes for RAM page 50
constexpr u32 FLASH_AREA_MARK = 0x6C7000;  // 0xAA: a stored parameter area follows
constexpr u32 FLASH_AREA = 0x6C7001;
constexpr u8 kAreaStored = 0xAA;
// Records kept by the brightness and schedule work in the flash behind
// FPGA 0 (a record is valid when its first byte is 0xAA).
constexpr u32 FLASH_ONOFF = 0x6CD000;   // the on/off schedule's command block
constexpr u32 FLASH_BRIGHT = 0x6CE000;  // the brightness command block
constexpr u32 kOnOffRecordBytes = 50;
constexpr u32 kBrightRecordBytes = 57;
constexpr u8 kRecordValid = 0xAA;
constexpr u8 kRecordFlash = 2;

// An FPGA (0 or 1) and an output port (0 to 23) as the log names them,
// "FPGA 1" and "port LED13": each line that speaks of one of them has a
// place of its own for each, so one FPGA or port that keeps failing never
// hides another's line.
inline std::string fpgaName(int fpga) { return "FPGA " + std::to_string(fpga + 1); }
inline std::string portName(int port) { return "port LED" + std::to_string(port + 1); }

}  // namespace fpgareg
