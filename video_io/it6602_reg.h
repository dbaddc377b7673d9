#pragma once
// Register map of the IT6602 HDMI receiver as this driver uses it: bank 0
// unless a name says otherwise; register 0x0F selects the bank and, like
// the identification and interrupt registers below 0x10, is seen in every
// bank.
#include <cstdint>

namespace it6602reg {

constexpr uint8_t kAddrFirst = 0x90;   // 8-bit address tried first
constexpr uint8_t kAddrSecond = 0x94;  // and the strapping tried next

constexpr uint8_t ID0 = 0x00;          // 0x00-0x03 read 54 49 02 68
constexpr uint8_t kId[4] = {0x54, 0x49, 0x02, 0x68};

// Interrupts (write 1 to clear).
constexpr uint8_t INT_P0 = 0x05;
constexpr uint8_t INT_P1 = 0x06;
constexpr uint8_t INT_SYS = 0x07;
constexpr uint8_t INT_INFO = 0x08;
constexpr uint8_t INT_MISC = 0x09;
constexpr uint8_t INT_EQ = 0xD0;

namespace port_int {  // bits of INT_P0 / INT_P1
constexpr uint8_t PWR5V_CHG = 0x01, CLK_CHG = 0x02, IPLL_LOCK = 0x04, LINK_A = 0x08, LINK_B = 0x10,
                  HDMI_MODE_CHG = 0x20, ECC_ERR = 0x40, ECC_CLR = 0x80;
}
namespace sys_int {  // bits of INT_SYS
constexpr uint8_t PLL_LOCK = 0x01, SCDT_CHG = 0x02, MUTE = 0x10, UNMUTE = 0x20, AUD_FIFO_ERR = 0x80;
}
namespace eq_int {  // bits of INT_EQ
constexpr uint8_t P0_AMP_READY = 0x10, P0_EQ_FAIL = 0x20, P1_AMP_READY = 0x40, P1_EQ_FAIL = 0x80;
}

// Port status (STATUS_P0 also carries the SCDT of the selected port).
constexpr uint8_t STATUS_P0 = 0x0A;
constexpr uint8_t STATUS_P1 = 0x0B;
namespace status {
constexpr uint8_t PWR5V = 0x01, HDMI = 0x02, CLOCK = 0x08, PLL_BUSY = 0x40, SCDT = 0x80;
}
constexpr uint8_t PLL_STATUS = 0x0C;

constexpr uint8_t BANK = 0x0F;         // bits 1-0
constexpr uint8_t RESET = 0x10;        // bit 1 audio reset
constexpr uint8_t AFE_RST_P0 = 0x11;   // front-end resets, bits 3-0
constexpr uint8_t AFE_RST_P1 = 0x18;
constexpr uint8_t DESKEW_P0 = 0x20;
constexpr uint8_t DESKEW_P1 = 0x38;
constexpr uint8_t OVWR_P0 = 0x22;      // equaliser overwrite control
constexpr uint8_t OVWR_P1 = 0x3A;
constexpr uint8_t EQ_EN_P0 = 0x26;     // bit 5
constexpr uint8_t EQ_EN_P1 = 0x3E;
constexpr uint8_t EQ_VAL_P0 = 0x27;    // equaliser value, channel 0 amplitude; 0x28, 0x29 channels 1, 2
constexpr uint8_t EQ_VAL_P1 = 0x3F;
constexpr uint8_t PLL_OVWR = 0x4E;
constexpr uint8_t CSC_CTRL = 0x50;     // bits 1-0
constexpr uint8_t PORT_SEL = 0x51;     // bit 0 port, bit 7 matrix bypass
constexpr uint8_t OUT_CTRL = 0x52;     // bit 5 tristate, bits 4-0 audio output off
constexpr uint8_t VID_OUT = 0x53;      // bits 3-0 video output off, bits 7-6 mute
constexpr uint8_t AUD_CTRL = 0x54;     // bits 6-4
constexpr uint8_t VID_RST = 0x64;      // bit 7 video FIFO reset
constexpr uint8_t OUT_FMT = 0x65;      // bits 5-4 colour, 3-2 depth, 1-0 matrix use
constexpr uint8_t FRAME_3D = 0x66;     // bit 4
constexpr uint8_t CSC_SEL = 0x67;
constexpr uint8_t CSC_OFFSET = 0x68;
constexpr uint8_t VID_MODE = 0x6A;
constexpr uint8_t DVI_PATH = 0x71;
constexpr uint8_t OSC_SEL = 0x73;
constexpr uint8_t AUD_FIFO = 0x74;     // bits 3-2 FIFO reset
constexpr uint8_t PCLK_LATCH = 0x77;   // bit 0
constexpr uint8_t AUD_RST_SEQ = 0x7B;
constexpr uint8_t AUD_MUTE = 0x7D;     // bit 4 mute clear, bit 5
constexpr uint8_t VID_CTRL = 0x84;
constexpr uint8_t FRAME_3D_EN = 0x85;  // bit 5

// Measurement.
constexpr uint8_t TMDS_DIV = 0x90;     // port 0 bits 1-0, port 1 bits 3-2
constexpr uint8_t TMDS_CNT_P0 = 0x91;
constexpr uint8_t TMDS_CNT_P1 = 0x92;
constexpr uint8_t VID_STATUS = 0x99;   // bit 1 interlaced, bits 7-4 deep colour
constexpr uint8_t PCLK_CNT = 0x9A;     // 3162 / pixel clock in MHz
constexpr uint8_t HTOTAL_L = 0x9C, HTOTAL_H = 0x9D, HACT_L = 0x9E, HACT_H = 0x9F;
constexpr uint8_t HSYNC_L = 0xA0, HFP_HSYNC_H = 0xA1, HFP_L = 0xA2;
constexpr uint8_t VTOTAL_L = 0xA3, V_H = 0xA4, VACT_L = 0xA5, VSYNC = 0xA6, VFP = 0xA7;
constexpr uint8_t VID_FLAGS = 0xA8;    // bit 0 AV mute port 0, bit 4 port 1, bit 3
constexpr uint8_t AUD_CAP = 0xAA, AUD_CAP2 = 0xAB, AUD_FS = 0xAE;
constexpr uint8_t ERR_P0 = 0xB2;       // five error registers per port
constexpr uint8_t ERR_P1 = 0xB7;

// Bank 1.
constexpr uint8_t B1_CSC_MATRIX = 0x70;  // 21 bytes
constexpr uint8_t B1_OUT_MODE0 = 0x8D, B1_OUT_MODE1 = 0x8E;
constexpr uint8_t B1_HPD = 0xB0;         // bits 1-0: 3 on, 1 off, 0 no power
constexpr uint8_t B1_IPLL_P0 = 0xB1;
constexpr uint8_t B1_IPLL_P1 = 0xC1;
constexpr uint8_t B1_PLL_CTRL = 0xB2;
constexpr uint8_t B1_POL_P0 = 0xB5, B1_POL_P1 = 0xC5, B1_POL_BITS_A = 0xB9, B1_POL_BITS_B = 0xC9;
constexpr uint8_t B1_DESKEW_CTRL = 0xB6;
constexpr uint8_t B1_OSC_RESULT = 0x61;
constexpr uint8_t B1_AMP_VALID_P0 = 0xD0, B1_AMP_VALID_P1 = 0xD8;
constexpr uint8_t B1_AMP_P0 = 0xD5, B1_AMP_P1 = 0xDD;  // three channels each

// Bank 2: InfoFrames and the pixel-clock count.
constexpr uint8_t B2_AVI_SUM = 0x14, B2_AVI_PB1 = 0x15, B2_AVI_PB2 = 0x16, B2_AVI_PB3 = 0x17,
                  B2_AVI_VIC = 0x18, B2_AVI_PB5 = 0x19;
constexpr uint8_t B2_VSI_TYPE = 0x24, B2_VSI_PB0 = 0x28;  // 0x24-0x2E kept
constexpr uint8_t B2_PCLK0 = 0xC0, B2_PCLK1 = 0xC1, B2_PCLK2 = 0xC2;

// The registers that differ between the chip's two HDMI ports; every
// per-port path picks its registers here.
struct PortRegs {
    uint8_t intReg, status, afeReset, overwrite, eqEnable, eqValue, deskew, errFirst;
    uint8_t b1Ipll, b1AmpValid, b1Amp, tmdsCount;
    uint8_t pllBits;   // port bits of PLL_STATUS and PLL_OVWR
    uint8_t divShift;  // divider field of TMDS_DIV
    uint8_t avMuteBit; // bit of VID_FLAGS
    uint8_t ampAck;    // INT_EQ acknowledge after an amplitude overwrite
};
constexpr PortRegs kPort[2] = {
    {INT_P0, STATUS_P0, AFE_RST_P0, OVWR_P0, EQ_EN_P0, EQ_VAL_P0, DESKEW_P0, ERR_P0, B1_IPLL_P0, B1_AMP_VALID_P0,
     B1_AMP_P0, TMDS_CNT_P0, 0xC0, 0, 0x01, 0x30},
    {INT_P1, STATUS_P1, AFE_RST_P1, OVWR_P1, EQ_EN_P1, EQ_VAL_P1, DESKEW_P1, ERR_P1, B1_IPLL_P1, B1_AMP_VALID_P1,
     B1_AMP_P1, TMDS_CNT_P1, 0x80, 2, 0x10, 0xC0},
};

}  // namespace it6602reg
