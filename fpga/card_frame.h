#pragma once
// The receiving-card frame, for the whole program. A frame is at most 1023
// bytes, little-endian, unstuffed between controller and FPGA:
//   0-1 destination: a card address, 0x0FFF all cards, 0x0FFE (with port
//       bits) all cards of a port; in replies 0xF000 controller, 0xF010 PC
//   2-3 source: 0xF000 built here, 0xF010 from the PC, in replies the card
//   4 0x10, 5 class, 6 frame mode, 7 port number, 8 0, 9 command,
//   10.. data (in replies: status first), last byte XOR of all before it.
// Card address: bits 12-13 the port within its group of four, bits 0-11 the
// card's index along the chain.
#include "core/global.h"

namespace card_frame {

constexpr u32 kMaxLength = 1023;
constexpr u32 kMinLength = 11;   // header, command and check
constexpr u32 kPageSize = 1024;  // a receive or send area

constexpr int DST = 0;
constexpr int SRC = 2;
constexpr int MAGIC = 4;
constexpr int CLASS = 5;
constexpr int MODE = 6;
constexpr int PORT = 7;
constexpr int CMD = 9;
constexpr int DATA = 10;
constexpr int REPLY_STATUS = 10;
constexpr int COUNT = 11;        // search reply: u16 cards on the port
constexpr int COUNT_STATUS = 13;
constexpr int IDENTITY = 18;     // long search reply: u32 configuration identity
constexpr int RECOVER = 22;      // long search reply: u16 card to recover
constexpr u32 kCountReplyLength = 14;   // bytes before the check byte
constexpr u32 kLongReplyLength = 24;

constexpr u16 kController = 0xF000;
constexpr u16 kPc = 0xF010;
constexpr u16 kAllCards = 0x0FFF;
constexpr u16 kPortCards = 0x0FFE;
constexpr u8 kMagic = 0x10;

constexpr u8 CLASS_CONFIG = 0x67;   // 'g'
constexpr u8 CLASS_BRIGHT = 0x66;   // 'f'
constexpr u8 CLASS_SEARCH = 0xAA;
constexpr u8 CLASS_MULTI = 0xBB;

constexpr u8 MODE_CONFIG = 1;
constexpr u8 MODE_MULTI_READ = 3;
constexpr u8 MODE_SEARCH = 0xFF;
constexpr u8 PORT_ALL = 0xFF;

constexpr u8 CMD_SEARCH = 0x10;
constexpr u8 CMD_RAM_WRITE = 0x60;
constexpr u8 CMD_RAM_READ = 0x61;
constexpr u8 CMD_SAVE = 0x81;
constexpr u8 CMD_RECONFIG = 0x84;
constexpr u8 CMD_REG_WRITE = 0xA0;
constexpr u8 CMD_ACTIVATE = 0xB4;
constexpr u8 CMD_ANSWERED = 0x39;

// Card count word and count status byte of port 0-15 in a parameter area.
constexpr int kT1[16] = {100, 102, 108, 110, 560, 564, 568, 572, 640, 644, 648, 652, 656, 660, 664, 668};
constexpr int kT2[16] = {104, 106, 112, 114, 562, 566, 570, 574, 642, 646, 650, 654, 658, 662, 666, 670};

// Output port 0-23 of the two FPGAs: its FPGA and its port there.
constexpr u8 fpgaOfPort(u32 port) { return port < 12 ? 0 : 1; }
constexpr u8 localPort(u32 port) { return u8(port % 12); }
constexpr u16 address(u32 port, u32 card) { return u16(((port << 12) & 0x3000) | (card & 0x0FFF)); }
constexpr u16 portBits(u16 addr) { return u16((addr >> 12) & 3); }
inline u16 rd16(const u8* f, int at) { return u16(f[at] | f[at + 1] << 8); }
inline u32 rd32(const u8* f, int at) {
    return u32(f[at]) | u32(f[at + 1]) << 8 | u32(f[at + 2]) << 16 | u32(f[at + 3]) << 24;
}
inline void wr16(u8* f, int at, u16 v) {
    f[at] = u8(v);
    f[at + 1] = u8(v >> 8);
}
inline void wr32(u8* f, int at, u32 v) {
    for (int i = 0; i < 4; ++i) f[at + i] = u8(v >> (8 * i));
}
// Recomputes the check byte of a frame of n bytes.
void seal(u8* f, u32 n);
// The check byte of a frame of n bytes is the XOR of the bytes before it.
bool checkOk(const u8* f, u32 n);
// Sets the port bits (12-13) of the destination to port % 4 and corrects
// the check byte by the change, as the FPGA's side does.
void setDestinationPort(u8* f, u32 n, u32 port);

// Built-in templates (check byte left 0; sealed before each send).
constexpr u8 SEND_BRI_SAVE_CMD[13] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00, 0x00, 0x81, 0x09, 0x00, 0};
constexpr u8 SEND_BRI_ETH_REG[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00,
                                     0x00, 0xA0, 0x01, 0x08, 0x00, 0x08, 0};
constexpr u8 SEND_BRI_ETH_CMD[20] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0x66, 0x01, 0x00, 0x00, 0x60,
                                     0x80, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFF, 0};
constexpr u8 SEARCH_CARD_BUF[15] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 0x00,
                                    0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0};
constexpr u8 SEND_READ_VMF_RAM0_CMD[19] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                           0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0};

}  // namespace card_frame
