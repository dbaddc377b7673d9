#include "video_engine/c331_picture.h"

#include "core/logMsg.h"

#include <algorithm>
#include <cstdio>

namespace {
// Post-composition picture stage (bank 0x0C, per output pipeline).
constexpr u32 PIC_SAT_EN = 0x0C1401;                    // bit 0: saturation gain on
constexpr u32 PIC_SAT[3] = {0x0C1B02, 0x0C1D02, 0x0C1F02};
constexpr u32 PIC_GAIN_EN = 0x0C2101;                   // bit 0: contrast / peaking gain on
constexpr u32 PIC_CONTRAST[3] = {0x0C2802, 0x0C2A02, 0x0C2C02};
constexpr u32 PIC_OFFSET[3] = {0x0C3A02, 0x0C3C02, 0x0C3E02};
// Colour matrix, row by row; the diagonal holds red, green, blue.
constexpr u32 PIC_MATRIX[9] = {0x0C5B02, 0x0C5D02, 0x0C5F02, 0x0C6102, 0x0C6302,
                               0x0C6502, 0x0C6702, 0x0C6902, 0x0C6B02};
constexpr u32 kMatrixEnFirst = 0x59, kMatrixEnLast = 0x60;  // bank 0, bit 5 each
// Peaking filter (bank 0x0B, per output pipeline).
constexpr u32 SHP_H_EN = 0x0B0801, SHP_H_GAIN = 0x0B0901, SHP_H_COEF = 0x0C;  // 0x0C..0x10
constexpr u32 SHP_H_EN2 = 0x0B1101, SHP_V_GAIN = 0x0B1201, SHP_V_COEF = 0x15;  // 0x15..0x19
constexpr u32 SHP_V_EN = 0x0B5E01;
// Pattern generator (bank 0x08, per output pipeline).
constexpr u32 PAT_REGS[14] = {0x085701, 0x085801, 0x085901, 0x085A01, 0x085B02, 0x085D02, 0x085F02,
                              0x086102, 0x086301, 0x086401, 0x086501, 0x086601, 0x086701, 0x086801};

// A pattern row: values of 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5D, 0x5F, 0x61,
// 0x63, 0x64, 0x65 and of 0x66 to 0x68. NO leaves the register at the 0 the
// clearing wrote; the WIDE_ entries depend on the width of window 0 (past
// 2048 pixels the generator must be told the picture is wide).
constexpr s32 NO = -1, WIDE_0 = -2, WIDE_14 = -3, WIDE_15 = -4;
constexpr s32 kPatterns[20][12] = {
    {4, NO, NO, NO, WIDE_0, NO, NO, NO, 255, 0, 0, 3},             // 1 red
    {4, NO, NO, NO, WIDE_0, NO, NO, NO, 0, 255, 0, 3},             // 2 green
    {4, NO, NO, NO, WIDE_0, NO, NO, NO, 0, 0, 255, 3},             // 3 blue
    {4, NO, NO, NO, WIDE_0, NO, NO, NO, 255, 255, 255, 3},         // 4 white
    {4, NO, NO, NO, WIDE_0, NO, NO, NO, 0, 0, 0, 3},               // 5 black
    {1, 0, 0, 0, 0x8000, 0, 480, 0, 255, 255, 255, 3},             // 6 colour bar
    {14, NO, NO, NO, WIDE_14, NO, 1, NO, 255, 255, 255, 3},        // 7 horizontal lines
    {15, NO, NO, NO, WIDE_15, NO, NO, 1, 255, 255, 255, 3},        // 8 vertical lines
    {NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO},              // 9
    {NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO, NO},              // 10
    {8, 48, 0, 0, 0x8000, 0, 32, 32, 255, 255, 255, 3},            // 11
    {5, 0, 0, 0, 0x8000, 0, 240, 270, 255, 255, 255, 3},           // 12
    {14, 0, 0, 0, 0x8000, 0, 1, 0, 255, 255, 255, 3},              // 13
    {1, 0, 0, 0, 0x8000, 0, 480, 0, 255, 255, 255, 3},             // 14
    {3, 0, 1, 0, 0x8000, 0, 0x8FFF, 0, 0, 120, 0, 0},              // 15
    {3, 2, 1, 1, 0x8000, 0, 0x8FFF, 0x8FFF, 0, 120, 0, 0},         // 16
    {6, 0, 0, 0, 0x8000, 0, 960, 0, 255, 255, 255, 3},             // 17
    {9, 0, 0, 0, 0x8095, 0, 4, 0xF00, 255, 255, 255, 3},           // 18
    {2, 0, 0, 0, 0x8000, 0, 0, 270, 255, 255, 255, 3},             // 19
    {3, 1, 1, 1, 0x8000, 0, 0, 0x4FFF, 255, 255, 255, 3},          // 20
};

// Picture words are percentages; the image may hold anything the protocol
// wrote, so they are reduced to 0..100 the way the panel always did.
int percent(int value) { return value < 0 ? 0 : value % 101; }

void coefSet(double ratio, const u8 sets[4][5], u8 out[5]) {
    const int row = ratio > 2.5 ? 0 : ratio > 2.0 ? 1 : ratio > 1.25 ? 2 : 3;
    std::copy(sets[row], sets[row] + 5, out);
}

// Scaling ratio output / input; a window without a measured size counts as
// unscaled rather than dividing by zero.
double ratioOf(s32 out, double in) { return (in > 0 && out > 0) ? double(out) / in : 1.0; }
}  // namespace

c331_picture::c331_picture(c331_drv& drv, const int& fd, c331_state& st, c331_pic_host& host)
    : m_drv(drv), m_fd(fd), m_st(st), m_host(host) {}

u32 c331_picture::brightness_offset(int value) {
    const int v = percent(value);
    return u32((v - 50) * 1024 / 50) & 0xFFF;
}

u32 c331_picture::contrast_gain(int value) { return u32(percent(value) * 1023 / 100); }

u32 c331_picture::saturation_gain(int value) { return u32(percent(value) * 1023 / 100) & 0x7FF; }

void c331_picture::color_gains(int value, u32* red, u32* green, u32* blue) {
    const u32 v = u32(value);
    switch (v & 3) {
    case 1:  // warm
        *red = 8845, *green = 8113, *blue = 7056;
        break;
    case 2:  // nature
        *red = 8192, *green = 8192, *blue = 8192;
        break;
    case 3:  // cool
        *red = 6944, *green = 8282, *blue = 10978;
        break;
    default:  // custom: byte / 128 of unity (8192)
        *red = ((v >> 24) & 0xFF) * 64;
        *green = ((v >> 16) & 0xFF) * 64;
        *blue = ((v >> 8) & 0xFF) * 64;
        break;
    }
}

int c331_picture::sharpness_level(int value) {
    // The gain register is one byte: level 10 gives 128, and a protocol
    // word far above 20 must not wrap it to a random gain.
    const int v = std::min(std::max(value, 0), kMaxSharpness);
    return v > 9 ? v - 10 : 0;
}

void c331_picture::sharpness_hset(double ratio, u8 out[5]) {
    static const u8 sets[4][5] = {{36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}};
    coefSet(ratio, sets, out);
}

void c331_picture::sharpness_vset(double ratio, u8 out[5]) {
    static const u8 sets[4][5] = {{42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}};
    coefSet(ratio, sets, out);
}

int c331_picture::slot_pipes(int slot, int pipes[C331_CH_NUM]) const {
    if (slot < 0 || slot >= C331_WIN_NUM) return 0;
    const c331_state::WIN_INFO& wi = m_st.gWininfo[slot];
    const int entries = std::min<int>(wi.totalh * wi.totalv, C331_CH_NUM);
    int n = 0;
    for (int k = 0; k < entries; ++k) {
        const u8 ch = wi.ch[k];
        if (ch < C331_CH_NUM) pipes[n++] = ch;
    }
    return n;
}

void c331_picture::c331_SetBrightness(unsigned short value) {
    const u32 offset = brightness_offset(value);
    debugPrintf("\r\n[c331_SetBrightness] %d\n", value);
    debugPrintf("\t data:%04x\r\n", offset);
    const int fd = m_fd;
    m_host.set_rtct(fd, 2);
    for (u32 c = 0; c < C331_CH_NUM; ++c) {
        for (u32 code : PIC_OFFSET) w(code, offset, c * c331reg::kBankBaseStep);
    }
    m_host.set_rtct(fd, 1);
}

// One gain into the three colour registers of every input channel, with the
// clock-domain registers held so the channels change in the same frame.
void c331_picture::set_gain_all_channels(u32 enableCode, const u32 (&codes)[3], u32 gain) {
    m_host.set_rtct(m_fd, 2);
    for (u32 c = 0; c < C331_CH_NUM; ++c) {
        const u32 base = c * c331reg::kBankBaseStep;
        wm(enableCode, 1, 1, base);
        for (u32 code : codes) w(code, gain, base);
    }
    m_host.set_rtct(m_fd, 1);
}

void c331_picture::c331_SetContrast(int value) {
    const u32 gain = contrast_gain(value);
    set_gain_all_channels(PIC_GAIN_EN, PIC_CONTRAST, gain);
    debugPrintf("\r\n[c331_SetContrast] val:%d, data:%d\r\n", value, gain);
}

void c331_picture::c331_SetSaturation(int value) {
    const u32 gain = saturation_gain(value);
    debugPrintf("[c331_SetSaturation] %d:%04x\r\n", value, gain);
    set_gain_all_channels(PIC_SAT_EN, PIC_SAT, gain);
}

void c331_picture::c331_SetColorTemp(int value) {
    debugPrintf("[c331_SetColorTemp] %8x\r\n", u32(value));
    u32 red = 0, green = 0, blue = 0;
    color_gains(value, &red, &green, &blue);
    const int fd = m_fd;
    m_host.set_rtct(fd, 2);
    for (u32 r = kMatrixEnFirst; r <= kMatrixEnLast; ++r) wm(c331reg::code(0, r, 1), 0x20, 0x20, 0);
    for (u32 c = 0; c < C331_CH_NUM; ++c) {
        const u32 base = c * c331reg::kBankBaseStep;
        for (int i = 0; i < 9; ++i) {
            const u32 v = i == 0 ? red : i == 4 ? green : i == 8 ? blue : 0;
            w(PIC_MATRIX[i], v & 0xFFFF, base);
        }
    }
    m_host.set_rtct(fd, 1);
}

void c331_picture::c331_SetSharpness(int value) {
    m_sharpness = value;
    debugPrintf("[c331_SetSharpness] :%04x\r\n", u32(value));
    wm(PIC_GAIN_EN, 1, 1, 0);
    const int wincnt = std::min(std::max(m_st.gMwin.wincnt, 0), C331_WIN_NUM);
    for (int s = 0; s < wincnt; ++s) sharpen_slot(s);
}

void c331_picture::sharpen_slot(int s) {
    const int level = sharpness_level(m_sharpness);
    const u32 gain = u32(level * 128 / 10);  // level x 12.8, at most 128
    const u32 enable = level ? 6 : 0;
    const int fd = m_fd;
    if (s < 0 || s >= std::min(std::max(m_st.gMwin.wincnt, 0), C331_WIN_NUM)) return;
    const int port = m_st.PM_INPUT[s];
    // A window on a port without signal has nothing to sharpen yet: it is
    // sharpened when its source appears and the window is set up again.
    if (port < 0 || port >= C331_PORT_NUM || m_st.PI_STATE[port] == 0) return;
    int pipes[C331_CH_NUM];
    const int n = slot_pipes(s, pipes);
    for (int k = 0; k < n; ++k) w(SHP_H_EN, enable, u32(pipes[k]) * c331reg::kBankBaseStep);

    u8 hset[5] = {0, 0, 0, 0, 0}, vset[5] = {0, 0, 0, 0, 0};
    if (level) {
        // The window's own input window: the ratio is that of the scaler in
        // front of this window's pipelines.
        const double rh = ratioOf(m_st.OWIN[s].HW, double(m_st.IWIN[s].HW));
        const double rv =
            ratioOf(m_st.OWIN[s].VW, double(m_st.IWIN[s].VW) * (1 + (m_st.PI_SCAN_MODE[port] ? 1 : 0)));
        sharpness_hset(rh, hset);
        sharpness_vset(rv, vset);
    }

    m_host.set_rtct(fd, 2);
    for (int k = 0; k < n; ++k) {
        const u32 base = u32(pipes[k]) * c331reg::kBankBaseStep;
        for (u32 i = 0; i < 5; ++i) w(c331reg::code(0x0B, SHP_H_COEF + i, 1), hset[i], base);
        w(SHP_H_GAIN, gain, base);
    }
    for (int k = 0; k < n; ++k) w(SHP_H_EN2, enable, u32(pipes[k]) * c331reg::kBankBaseStep);
    for (int k = 0; k < n; ++k) {
        const u32 base = u32(pipes[k]) * c331reg::kBankBaseStep;
        w(SHP_V_EN, 1, base);
        for (u32 i = 0; i < 5; ++i) w(c331reg::code(0x0B, SHP_V_COEF + i, 1), vset[i], base);
        w(SHP_V_GAIN, gain, base);
    }
    m_host.set_rtct(fd, 1);
}

int c331_picture::c331_SetPattern(int pattern) {
    const int wincnt = m_st.gMwin.wincnt;
    debugPrintf("\r\n[c331_SetPattern] pattern:%d\r\n", pattern);
    if (pattern < 0) {
        char msg[64];
        std::snprintf(msg, sizeof msg, "c331: test pattern %d refused", pattern);
        writeLogMsg(WARNING, msg);
        return -1;
    }
    const int fd = m_fd;
    if (pattern == 0) {
        // Off always works, whatever the layout became since the pattern
        // went on: every pipeline's generator is cleared, and the inputs are
        // measured again.
        m_host.set_rtct(fd, 2);
        for (u32 c = 0; c < C331_CH_NUM; ++c)
            for (u32 code : PAT_REGS) w(code, 0, c * c331reg::kBankBaseStep);
        m_st.pattern_gen = 0;
        debugPrintf("    turn off pattern\r");
        m_host.set_input_bkg2(fd, 0, 0);
        m_host.set_rtct(fd, 1);
        return 0;
    }
    if (wincnt > 1) {
        debugPrintf("\t wincnt:%d OOR, return fail\r\n", wincnt);
        return -1;
    }

    int pipes[C331_CH_NUM];
    const int n = slot_pipes(0, pipes);
    m_host.set_rtct(fd, 2);
    for (int k = 0; k < n; ++k) {
        const u32 base = u32(pipes[k]) * c331reg::kBankBaseStep;
        for (u32 code : PAT_REGS) w(code, 0, base);
    }
    const int idx = (pattern - 1) % kPatternCount;
    debugPrintf("    zrv pattern Idx:%d \r\n", idx);
    m_st.pattern_gen = 1;
    const bool wide = m_st.gWininfo[0].w > 2048;
    m_host.set_input_bkg2(fd, 0, 0);
    const s32* row = kPatterns[idx];
    for (int k = 0; k < n; ++k) {
        const u32 base = u32(pipes[k]) * c331reg::kBankBaseStep;
        for (int i = 0; i < 12; ++i) {
            s32 v = row[i];
            if (v == NO) continue;
            if (v == WIDE_0) v = wide ? 0x8000 : 0;
            if (v == WIDE_14) v = wide ? 0x8000 : 14;
            if (v == WIDE_15) v = wide ? 0x8000 : 15;
            if (i < 11) {
                w(PAT_REGS[i], u32(v), base);
            } else {
                for (int j = 11; j < 14; ++j) w(PAT_REGS[j], u32(v), base);
            }
        }
    }
    m_host.set_rtct(fd, 1);
    return 0;
}
