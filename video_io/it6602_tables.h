#pragma once
// Fixed data of the IT6602 driver: the start-up register programme, the
// colour-space matrices it loads, the equaliser values it tries, the 3D
// frame-packing timings and the state names it prints.
#include "core/global.h"

namespace it6602 {

// {register, mask, value}; a register 0xFF ends a table.
struct RegSet {
    u8 reg, mask, value;
};
extern const RegSet IT6602_HDMI_INIT_TABLE[];

constexpr int kCscBytes = 21;
extern const u8 bCSCMtx_YUV2RGB_ITU709_0_255[kCscBytes];
extern const u8 bCSCMtx_YUV2RGB_ITU601_0_255[kCscBytes];
extern const u8 bCSCMtx_RGB_16_235_RGB_0_255[kCscBytes];
extern const u8 bCSCMtx_RGB_0_255_RGB_16_235[kCscBytes];

extern const u8 IT6602EQTable[3];

// Frame-packing sync regeneration of one CEA code: V total, V active start,
// V active end, V sync end and V active, all as the chip counts them.
struct Sync3D {
    u8 vic;
    u16 vtotal, vactStart, vactEnd, vsyncEnd, vact;
};
extern const Sync3D t_3d_syncgen[];  // ended by vic 0xFF

extern const char* const VStateStr[14];
extern const char* const AStateStr[6];
extern const char* const VModeStateStr[16];

}  // namespace it6602
