#pragma once
// Register map of the IT6805 HDMI receiver and of its CEC block, as far as
// this driver and the simulated chip use them by meaning. The longer vendor
// sequences (initialisation table, equaliser set-up) stay register/value
// rows in the driver; the registers named here are the ones whose bits the
// state machines test or the model answers.
#include <cstdint>

namespace it6805 {

// 8-bit bus addresses.
constexpr uint8_t ADDR_HDMIRX = 0x90;
constexpr uint8_t ADDR_CEC = 0xC8;
constexpr uint8_t ADDR_EDIDRAM = 0xA8;
constexpr uint8_t ADDR_LVDSRX = 0xB4;

// Identity (bank 0).
constexpr uint8_t REG_ID0 = 0x00;  // 0x54
constexpr uint8_t REG_ID1 = 0x01;  // 0x49
constexpr uint8_t REG_ID2 = 0x02;  // 0x05, or 0x07 (bit 1 not compared)
constexpr uint8_t REG_ID3 = 0x03;  // 0x68
constexpr uint8_t ID0 = 0x54, ID1 = 0x49, ID2 = 0x05, ID2_IGNORED = 0x02, ID3 = 0x68;
constexpr uint8_t REG_REVISION = 0x04;

// Bank selection: bits 2-0 pick one of eight register banks. Port 0's
// analogue front end is bank 3, port 1's bank 7; port 1's packet registers
// lie in bank 4.
constexpr uint8_t REG_BANK = 0x0F;
constexpr uint8_t BANK_MASK = 0x07;
constexpr uint8_t BANK_FRONTEND_P0 = 3;
constexpr uint8_t BANK_FRONTEND_P1 = 7;

// Interrupt status, write 1 to clear (bank 0).
constexpr uint8_t REG_INT_P0_SYS = 0x05;   // bit 0 +5 V change, 1 clear ECC, 2 clock change,
                                           // 4 HDMI/DVI change, 5 ECC error, 6 symbol lock lost
constexpr uint8_t REG_INT_P0_SYS2 = 0x06;
constexpr uint8_t REG_INT_P0_EQ = 0x07;    // 4 EQ done, 5 event 5, 6 EQ fail, 7 event 7
constexpr uint8_t REG_INT_P0_CLK = 0x08;   // 0 clock change, 4 front-end calibrated, 7 request
constexpr uint8_t REG_INT_COMMON0 = 0x09;
constexpr uint8_t REG_INT_P1_SYS = 0x0A;
constexpr uint8_t REG_INT_P1_SYS2 = 0x0B;
constexpr uint8_t REG_INT_P1_EQ = 0x0C;
constexpr uint8_t REG_INT_P1_CLK = 0x0D;   // 4 front-end calibrated
constexpr uint8_t REG_INT_VID = 0x10;      // 1 SCDT change, 4/5 AV mute on/off, 7 audio
constexpr uint8_t REG_INT_11 = 0x11;
constexpr uint8_t REG_INT_PKT = 0x12;      // 0 new AVI InfoFrame, 7 packet
constexpr uint8_t REG_INT_1D = 0x1D;       // 3 bit-error check due
constexpr uint8_t REG_INT_D4 = 0xD4;
constexpr uint8_t REG_INT_D5 = 0xD5;

constexpr uint8_t INT5_PWR5V = 0x01;
constexpr uint8_t INT5_ECC_CLEAR = 0x02;
constexpr uint8_t INT5_CLK_CHG = 0x04;
constexpr uint8_t INT5_HDMI_MODE = 0x10;
constexpr uint8_t INT5_ECC = 0x20;
constexpr uint8_t INT5_SYMLOCK = 0x40;
constexpr uint8_t INT8_CAL_DONE = 0x10;
constexpr uint8_t INT10_SCDT = 0x02;
constexpr uint8_t INT12_AVI = 0x01;

// Port status (bank 0): port 0 at 0x13/0x14, port 1 at 0x16/0x17.
constexpr uint8_t REG_P0_STATUS = 0x13;
constexpr uint8_t REG_P0_STATUS2 = 0x14;
constexpr uint8_t REG_P1_STATUS = 0x16;
constexpr uint8_t REG_P1_STATUS2 = 0x17;
constexpr uint8_t ST_PWR5V = 0x01;
constexpr uint8_t ST_HDMI = 0x02;
constexpr uint8_t ST_CLK_VALID = 0x08;
constexpr uint8_t ST_CLK_STABLE = 0x10;
constexpr uint8_t ST_MHL = 0x40;
constexpr uint8_t ST2_ABOVE_1G = 0x01;
constexpr uint8_t ST2_LOCKS = 0x38;
constexpr uint8_t ST2_HDMI2 = 0x40;

constexpr uint8_t REG_SYS_STATUS = 0x19;   // bit 7 SCDT
constexpr uint8_t SYS_SCDT = 0x80;
constexpr uint8_t REG_PCLK_DIV = 0x1B;     // bits 5-4 pixel-clock divider

// Measurement (bank 0).
constexpr uint8_t REG_TMDS_SCALE = 0x43;   // bits 7/6/5: 1024/512/256, else 128
constexpr uint8_t REG_TMDS_COUNT = 0x48;
constexpr uint8_t REG_PCLK_LO = 0x99;
constexpr uint8_t REG_PCLK_HI = 0x9A;      // bits 1-0 high bits, bit 7 latch
constexpr uint8_t REG_VID_MODE = 0x98;     // bit 1 interlace, bits 7-4 depth code
constexpr uint8_t REG_VID_POL = 0xAA;      // bit 3 AV mute, 5 HPol, 6 VPol
constexpr uint8_t POL_AVMUTE = 0x08;
constexpr uint8_t POL_H = 0x20;
constexpr uint8_t POL_V = 0x40;

// AVI InfoFrame (bank 2).
constexpr uint8_t REG_AVI_DB1 = 0x15;
constexpr uint8_t REG_AVI_DB2 = 0x16;
constexpr uint8_t REG_AVI_DB3 = 0x17;
constexpr uint8_t REG_AVI_DB4 = 0x18;
constexpr uint8_t REG_AVI_DB5 = 0x19;
// Audio clock regeneration (bank 2).
constexpr uint8_t REG_N_HI = 0xBE;
constexpr uint8_t REG_N_MID = 0xBF;
constexpr uint8_t REG_N_LO_CTS_LO = 0xC0;
constexpr uint8_t REG_CTS_HI = 0xC1;
constexpr uint8_t REG_CTS_MID = 0xC2;

// Audio (bank 0).
constexpr uint8_t REG_AUD_FORCE = 0x81;    // bit 6 forced sample rate
constexpr uint8_t REG_AUD_CS0 = 0xB0;
constexpr uint8_t REG_AUD_STATUS = 0xB1;   // bit 7 audio present, bits 5-0 channels
constexpr uint8_t REG_AUD_CS2 = 0xB2;
constexpr uint8_t REG_AUD_FS = 0xB5;
constexpr uint8_t REG_AUD_ERR = 0xB9;      // bits 7-6 error
constexpr uint8_t REG_AUD_PARITY = 0xBE;

// Hot-plug (front-end bank): bits 7-6 of 0xAB.
constexpr uint8_t REG_HPD = 0xAB;
constexpr uint8_t HPD_MASK = 0xC0;
constexpr uint8_t HPD_HIGH = 0xC0;
constexpr uint8_t HPD_LOW = 0x40;

// Oscillator calibration (bank 1).
constexpr uint8_t REG_OSC_SEL0 = 0x50;
constexpr uint8_t REG_OSC_SEL1 = 0x51;
constexpr uint8_t REG_OSC_READY = 0x60;    // 0x19 when ready
constexpr uint8_t OSC_READY = 0x19;
constexpr uint8_t REG_OSC_D0 = 0x61;
constexpr uint8_t REG_OSC_D1 = 0x62;

// Output block (bank 5).
constexpr uint8_t REG_OUT_STATUS = 0xDB;   // bit 4 ready, bits 3-2 mode

// Equaliser (front-end bank).
constexpr uint8_t REG_EQ_CHSEL = 0x37;     // bits 7-6 channel of the result registers
constexpr uint8_t REG_EQ_RES1_LO = 0x63;
constexpr uint8_t REG_EQ_RES1_HI = 0x64;
constexpr uint8_t REG_EQ_RES2_LO = 0x6D;
constexpr uint8_t REG_EQ_RES2_HI = 0x6E;
constexpr uint8_t REG_EQ_VALUE0 = 0xD5;    // 0xD5 to 0xD7, one per channel
constexpr uint8_t REG_DFE_INDEX = 0x36;    // bits 3-0
constexpr uint8_t REG_DFE_A = 0x5D;        // 0x5D to 0x60
constexpr uint8_t REG_BER_SEL = 0xE9;      // 0x80 measure; 0x00/0x20/0x40 channel
constexpr uint8_t REG_BER_LO = 0xEA;
constexpr uint8_t REG_BER_HI = 0xEB;       // bit 7 valid count

// CEC block (device 0xC8, no banks).
constexpr uint8_t CEC_REG_TX_BUF = 0x10;   // header, opcode, operands
constexpr uint8_t CEC_REG_TX_LEN = 0x23;
constexpr uint8_t CEC_REG_FIRE = 0x08;     // mask 0x88: 0x08 then 0x88 fires
constexpr uint8_t CEC_REG_READY = 0x44;
constexpr uint8_t CEC_REG_INT = 0x4C;      // 2/4 received, 3 tx error, 5 tx done, 6/7 FIFO error
constexpr uint8_t CEC_REG_RX_HEADER = 0x4D;
constexpr uint8_t CEC_REG_RX_OPCODE = 0x4E;
constexpr uint8_t CEC_REG_RX_SIZE = 0x4F;  // bits 4-0 length, bits 6-5 errors
constexpr uint8_t CEC_REG_RX_OPERAND = 0x50;
constexpr uint8_t CEC_REG_RX_STATUS = 0x51;  // any of 0xCC: FIFO fault
constexpr uint8_t CEC_REG_RX_COUNT = 0x52;   // bits 3-0 queued messages; written: FIFO reset
constexpr uint8_t CEC_REG_TX_STATUS = 0x54;  // bits 1-0
constexpr uint8_t CEC_INT_RX = 0x14;
constexpr uint8_t CEC_INT_TX_ERR = 0x08;
constexpr uint8_t CEC_INT_TX_DONE = 0x20;
constexpr uint8_t CEC_INT_FIFO = 0xC0;
constexpr uint8_t CEC_RX_FAULT = 0xCC;
constexpr uint8_t CEC_SIZE_ERRORS = 0x60;

}  // namespace it6805
