#pragma once
// Register map of the c331's picture path: input ports and their
// measurement, the eight input channels with their scalers, the output
// channels (pipelines) with their zoom, the layer mixers, and the chip
// memory each side reads or writes. Codes as c331reg::code (bank, first
// register, width). "Per channel" registers are reached with the bank base
// 16 x channel (c331_drv); functions of an index give the register of that
// index within bank 0 or the measurement banks.
#include "video_engine/c331_drv.h"

namespace c331reg {

// ---- bank 0: chip-wide controls ------------------------------------------
// Channel n runs (bit 0); 0x11 with a signal, +14 through the noise path.
constexpr u32 CH_CTRL(int n) { return code(0x00, 0x08 + u32(n), 1); }
// Source of input channel k: 2 x CMOS port, 8 to 10 Vby-One port 4, 12 to 14 port 5.
constexpr u32 ICH_SOURCE(int k) { return code(0x00, 0x10 + u32(k), 1); }
// Bit 4 x port: CMOS port p carries YCbCr (data mode).
constexpr u32 IN_DATAMODE = code(0x00, 0x18, 2);
// Lane word of Vby-One receiver ch.
constexpr u32 VBORX_LANES(int ch) { return code(0x00, 0x1E + 2 * u32(ch), 2); }
// Clock-domain control register i (0 to 6) of the set at 00:22.
constexpr u32 RTCT(int i) { return code(0x00, 0x22 + u32(i), 1); }
// Byte ch: mode of Vby-One receiver ch by its lanes.
constexpr u32 VBORX_MODE = code(0x00, 0x39, 2);
// Memory write mode of output channel n / input channel k (0x80 mode 1,
// 1 mode 2, 0x11 mode 3, 0 mode 0).
constexpr u32 OCH_WMODE(int n) { return code(0x00, 0x69 + u32(n), 1); }
constexpr u32 ICH_WMODE(int k) { return code(0x00, 0x71 + u32(k), 1); }
// The value of a write-mode register for memory write mode 0 to 3.
constexpr u32 wmodeCode(int mode) { return mode == 1 ? 0x80 : mode == 2 ? 1 : mode == 3 ? 0x11 : 0; }
// Horizontal shrink filter: coefficient set, then a load command per channel.
constexpr u32 HSHRINK_SET = code(0x00, 0x79, 1);
constexpr u32 HSHRINK_LOAD = code(0x00, 0x7A, 1);
constexpr u32 hshrinkLoadCommand(int k) { return 4 * u32(k) + 131; }

// Clock set-up bytes 00:47 to 00:4B (the first five PS_PLL words).
constexpr u32 PLL(int i) { return code(0x00, 0x47 + u32(i), 1); }
// Output timing control: output 1 in the low byte, output 2 in the high.
constexpr u32 OUT_TIMING_CTRL = code(0x00, 0x55, 2);

// ---- bank 2: Vby-One receivers (register page in 02:7F) ---------------------
constexpr u32 VBORX_PAGE = code(0x02, 0x7F, 1);
constexpr u32 VBORX_RESET(int ch) { return code(0x02, 0x40 + 0x1C * u32(ch), 1); }
constexpr u32 VBORX_FRANGE(int ch) { return code(0x02, 0x4C + 0x1C * u32(ch), 1); }  // bit 3: low rate
constexpr u32 VBORX_LANE_EN(int ch) { return code(0x02, 0x4F + 0x1C * u32(ch), 1); }

// ---- bank 3: dual (split-line) mode of an input channel pair g = k / 2 -----
constexpr u32 ICH_DUAL(int g) { return code(0x03, 0x08 + 9 * u32(g), 1); }  // 3 on
constexpr u32 ICH_DUAL_HST(int g) { return code(0x03, 0x09 + 9 * u32(g), 2); }
constexpr u32 ICH_DUAL_HW(int g) { return code(0x03, 0x0B + 9 * u32(g), 2); }

// ---- bank 6: sync polarity (pol + 4 per CMOS port byte; pol in four
// nibbles per Vby-One receiver half) ----------------------------------------
constexpr u32 SYNC_POL_CMOS = code(0x06, 0x38, 4);
constexpr u32 SYNC_POL_VBO = code(0x06, 0x3C, 4);

// ---- bank 0x08, per output channel ----------------------------------------
// Written twice: the panel set-up puts the total pixels less 2 here, a
// window's set-up then the window it reads and its lock to the first channel.
constexpr u32 OCH_CTRL = code(0x08, 0x08, 2);
constexpr u32 OCH_HMIRROR = code(0x08, 0x22, 1);
// Device-test settings of an output channel: its test mode, line total
// and sync source.
constexpr u32 OCH_TEST_MODE = code(0x08, 0x0F, 1);
constexpr u32 OCH_TEST_HTT = code(0x08, 0x0C, 2);
constexpr u32 OCH_TEST_SYNC = code(0x08, 0x18, 2);
// Pattern generator of an output channel: type (0 off), geometry, and the
// two colours (red, green, blue each).
constexpr u32 PAT_TYPE = code(0x08, 0x57, 1);
constexpr u32 PAT_CTRL(int i) { return code(0x08, 0x58 + u32(i), 1); }  // 0x58 to 0x5A
constexpr u32 PAT_HSTEP = code(0x08, 0x5B, 2);
constexpr u32 PAT_HSTART = code(0x08, 0x5D, 2);
constexpr u32 PAT_BAR = code(0x08, 0x5F, 2);
constexpr u32 PAT_WIDTH = code(0x08, 0x61, 2);
constexpr u32 PAT_COLOR1(int i) { return code(0x08, 0x63 + u32(i), 1); }
constexpr u32 PAT_COLOR2(int i) { return code(0x08, 0x66 + u32(i), 1); }
constexpr u32 OCH_AOI_HST = code(0x08, 0x32, 2);
// The drawn part of the channel (start, size); width 0 draws nothing.
constexpr u32 OCH_ACT_HST = code(0x08, 0x40, 2);
constexpr u32 OCH_ACT_HW = code(0x08, 0x42, 2);
constexpr u32 OCH_ACT_VST = code(0x08, 0x44, 2);
constexpr u32 OCH_ACT_VW = code(0x08, 0x46, 2);

// ---- bank 0x0A, per output channel: zoom ----------------------------------
constexpr u32 OZ_VMODE = code(0x0A, 0x44, 1);    // 199 zoom, 0x47 none
constexpr u32 OZ_HMODE = code(0x0A, 0x46, 1);
constexpr u32 OZ_HPHASE = code(0x0A, 0x47, 1);
constexpr u32 OZ_HPHASE2 = code(0x0A, 0x48, 1);
constexpr u32 OZ_HRATIO = code(0x0A, 0x49, 2);
constexpr u32 OZ_VPHASE_EN = code(0x0A, 0x4B, 1);
constexpr u32 OZ_VPHASE = code(0x0A, 0x4C, 1);
constexpr u32 OZ_VPHASE2 = code(0x0A, 0x4D, 1);
constexpr u32 OZ_VRATIO = code(0x0A, 0x4E, 2);
constexpr u32 OZ_VLUT(int i) { return code(0x0A, 0x68 + u32(i), 1); }  // 24 bytes

// ---- bank 0x0E, per mixer -------------------------------------------------
// Layer inputs, four bits each (pipeline + 8), bottom first.
constexpr u32 MIX_LAYERS = code(0x0E, 0x09, 4);
// 256: the fifth pipeline takes the top input, 512 the sixth.
constexpr u32 MIX_SEL = code(0x0E, 0x0F, 2);
// Weight of input i (0 background, 1 to 4 layers) in layer combination c.
constexpr u32 MIX_COEF(int c, int i) { return code(0x0E, 0x12 + 5 * u32(c) + u32(i), 1); }

// ---- bank 0x50, per output channel: input-change colour -------------------
constexpr u32 OCH_CHG_COLOR_EN = code(0x50, 0x4A, 1);
constexpr u32 OCH_CHG_COLOR = code(0x50, 0x4B, 3);

// ---- bank 0x10, per input channel: capture --------------------------------
// 1 runs, 2 holds (freeze), pair partner + 8 locks to it.
constexpr u32 ICH_CTRL = code(0x10, 0x09, 1);
constexpr u32 ICH_HST = code(0x10, 0x17, 2);
constexpr u32 ICH_HW = code(0x10, 0x19, 2);
constexpr u32 ICH_VST = code(0x10, 0x1B, 2);
constexpr u32 ICH_VW = code(0x10, 0x1D, 2);

// ---- bank 0x11, per input channel: shrink ---------------------------------
constexpr u32 IS_PHASE_EN = code(0x11, 0x42, 1);  // 128 horizontal, 8 vertical
constexpr u32 IS_MODE = code(0x11, 0x43, 1);
constexpr u32 IS_HMODE = code(0x11, 0x44, 1);     // 199 shrink, 0x80 none
constexpr u32 IS_HPHASE = code(0x11, 0x45, 1);
constexpr u32 IS_HPHASE2 = code(0x11, 0x46, 1);
constexpr u32 IS_HRATIO = code(0x11, 0x47, 2);
constexpr u32 IS_VMODE = code(0x11, 0x49, 1);     // 0x84 shrink, 0x80 none
constexpr u32 IS_VPHASE = code(0x11, 0x4A, 1);
constexpr u32 IS_VPHASE2 = code(0x11, 0x4B, 1);
constexpr u32 IS_VRATIO = code(0x11, 0x4C, 2);
constexpr u32 IS_VLUT(int i) { return code(0x11, 0x68 + u32(i), 1); }  // 24 bytes
// Every register of the shrink group, 11:42 to 11:4B, one byte each.
constexpr u32 IS_FIRST = 0x42, IS_LAST = 0x4B;

// ---- bank 0x12, input channels 0-3: temporal noise reduction --------------
constexpr u32 TNR_EN = code(0x12, 0x08, 1);       // 3 on
// Motion curve: four thresholds at 12:09, seven gains at 12:0D, limit 12:14.
constexpr u32 TNR_CURVE(int i) { return code(0x12, 0x09 + u32(i), 1); }

// ---- bank 0x14, input channels 0-3: de-interlacer -------------------------
// Field size the de-interlacer works on, and its three-quarter line length.
constexpr u32 IP_FIELD_HTT = code(0x14, 0x08, 2);
constexpr u32 IP_FIELD_VTT = code(0x14, 0x0A, 2);
constexpr u32 IP_FIELD_EN = code(0x14, 0x0C, 1);
constexpr u32 IP_HTT34 = code(0x14, 0x6D, 2);    // + 0x8000: on
constexpr u32 IP_ACT_HW = code(0x14, 0x0F, 2);
constexpr u32 IP_ACT_VST = code(0x14, 0x11, 2);  // + 0x8000: on
constexpr u32 IP_ACT_VW = code(0x14, 0x13, 2);
// Motion filter: enable, then its gain registers 14:1A to 14:21.
constexpr u32 IP_MVFLT_EN = code(0x14, 0x15, 1);
constexpr u32 IP_MVFLT(int r) { return code(0x14, u32(r), 1); }
// 0 de-interlace, 32 field repeat, 16 progressive pass.
constexpr u32 IP_MODE = code(0x14, 0x2A, 1);
// Cadence detection: 0x32 base, +0x40 2:2, +0x80 2:3, +1 film states.
constexpr u32 IP_CADENCE_EN = code(0x14, 0x2C, 1);
constexpr u32 IP_24SF = code(0x14, 0x2D, 1);
// Cadence thresholds 14:2E to 14:3A; 14:30 the two sequence thresholds.
constexpr u32 IP_CADENCE(int i) { return code(0x14, 0x2E + u32(i), 1); }
constexpr u32 IP_PD_TH = code(0x14, 0x30, 1);
constexpr u32 IP_COMB_EN = code(0x14, 0x3B, 1);
constexpr u32 IP_COMB_TH = code(0x14, 0x3C, 1);
constexpr u32 IP_COMB_GAIN = code(0x14, 0x3D, 1);
constexpr u32 IP_MOTION(int i) { return code(0x14, 0x42 + u32(i), 1); }  // 9 bytes
constexpr u32 IP_DIAG(int i) { return code(0x14, 0x50 + u32(i), 1); }    // 20 bytes
constexpr int kDiagRegs = 20, kDiagOffRegs = 16;
constexpr u32 IP_FIELD_WIN1 = code(0x14, 0x67, 1);
constexpr u32 IP_FIELD_WIN2 = code(0x14, 0x68, 1);

// ---- bank 0x15, per input channel: noise reduction ------------------------
// 0 off, 1 line reducers, 3 with the block reducer.
constexpr u32 NR_MODE = code(0x15, 0x08, 1);
constexpr u32 NR_MOSQ_EN = code(0x15, 0x09, 1);
// Mosquito reducer 15:0A to 15:2E, block reducer 15:39 to 15:6A.
constexpr u32 NR_REG(int r, int width = 1) { return code(0x15, u32(r), u32(width)); }
constexpr u32 NR_BLOCK_TH = code(0x15, 0x39, 2);
constexpr u32 NR_HV_EN = code(0x15, 0x6B, 1);  // 1 horizontal, 16 vertical
constexpr u32 NR_V_LOW = code(0x15, 0x6C, 1), NR_V_HIGH = code(0x15, 0x6D, 1);
constexpr u32 NR_H_LOW = code(0x15, 0x6E, 1), NR_H_HIGH = code(0x15, 0x6F, 1);
constexpr u32 NR_PASS = code(0x15, 0x70, 1);

// ---- bank 0x16, per channel: chip memory ----------------------------------
// Five field buffers an output channel reads / an input channel writes, and
// their line length (in 1 KiB units).
constexpr u32 OCH_MEM(int f) { return code(0x16, 0x08 + 4 * u32(f), 4); }
constexpr u32 OCH_LINE = code(0x16, 0x30, 1);
constexpr u32 ICH_MEM(int f) { return code(0x16, 0x1C + 4 * u32(f), 4); }
constexpr u32 ICH_LINE = code(0x16, 0x31, 1);
// Field buffer order: input side five 3-bit indices four bits apart; output
// side the four it reads.
constexpr u32 ICH_FIELDS = code(0x16, 0x66, 3);
// 1: the de-interlacer reads its field pair from its own memory.
constexpr u32 IP_MEM_MODE = code(0x16, 0x5B, 1);

// ---- bank 0x17, input channels 0-3: de-interlacer memory ------------------
// Eight buffer addresses (four pairs), and the chroma offset.
constexpr u32 IP_MEM(int i) { return code(0x17, 0x08 + 4 * u32(i), 4); }
constexpr u32 IP_MEM_YOFF = code(0x17, 0x59, 2);
constexpr u32 OCH_FIELDS = code(0x16, 0x6C, 2);
// A window's five field indices f0 to f4 as ICH_FIELDS takes them, and the
// order OCH_FIELDS reads them in while the window runs (f3, f0, f1, f2).
constexpr u32 packFields(const int32_t f[5]) { return u32(f[0] | f[1] << 4 | f[2] << 8 | f[3] << 12 | f[4] << 16); }
constexpr u32 readOrder(const int32_t f[5]) { return u32(f[3] + 16 * f[0] + 256 * f[1] + 4096 * f[2]); }

// ---- data ports: a read takes the next byte of a running transfer --------
constexpr u32 STR_DATA = code(0x04, 0x29, 1);   // OSD string transfer
constexpr u32 CLUT_DATA = code(0x09, 0x20, 1);  // colour-table transfer
// (and SFL_DATA, 04:52, the serial flash's read data)

// ---- status and measurement (read between 0x80 and 0 in 00:29) ------------
// Field size of input channel k (0-3): total pixels - 1, active lines.
constexpr u32 ICH_FIELD_HTT(int k) { return code(0xA8, 0x08 + 6 * u32(k), 2); }
constexpr u32 ICH_FIELD_VW(int k) { return code(0xA8, 0x0A + 6 * u32(k), 2); }
// 0xFF while input channel k has no picture.
constexpr u32 ICH_NOINPUT(int k) { return code(0xA8, 0x3F + 5 * u32(k), 1); }
// Bits 3-2: the field buffer input channel k writes now.
constexpr u32 ICH_FIELD(int k) { return code(0xAB, 0x47 + u32(k), 1); }
// Per port p (0-3 CMOS, 4-5 Vby-One receiver p - 4, lane pair l):
// total pixels - 1, total lines, lines - 1, frame period in 200 MHz counts
// - 1, active pixels.
constexpr u32 MEAS_HTT(int p) { return p < 4 ? code(0xAE, 0x08 + 2 * u32(p), 2) : code(0xAE, 0x10 + 8 * u32(p - 4), 2); }
constexpr u32 MEAS_VTT(int p) { return p < 4 ? code(0xAE, 0x20 + 2 * u32(p), 2) : code(0xAE, 0x28 + 8 * u32(p - 4), 2); }
constexpr u32 MEAS_VCNT(int p, int l = 0) {
    return p < 4 ? code(0xAE, 0x38 + 2 * u32(p), 2) : code(0xAE, 0x40 + 8 * u32(p - 4) + 2 * u32(l), 2);
}
constexpr u32 MEAS_PERIOD(int p, int l = 0) {
    return p < 4 ? code(0xAE, 0x50 + 3 * u32(p), 3) : code(0xAE, 0x5C + 0x0C * u32(p - 4) + 3 * u32(l), 3);
}
constexpr u32 MEAS_HW(int p) { return p < 4 ? code(0xAF, 0x08 + 2 * u32(p), 2) : code(0xAF, 0x10 + 8 * u32(p - 4), 2); }
// Bit 5 + 2 ch: Vby-One receiver ch locked.
constexpr u32 VBORX_LOCK = code(0xB2, 0x64, 1);

}  // namespace c331reg
