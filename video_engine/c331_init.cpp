// Bringing the c331 from reset to a working state, the clock-domain control
// registers, and the manager's working parameter set.
#include "core/console.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "video_engine/c331_manage.h"

#include <cstdio>

// Defaults of the PM values, in the order load_param copies them.
const int c331_manage::parameters_txt[160] = {
    // 0-11 PM_WIN_SHAPE (h, v) per window
    2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // 12-17 PM_INPUT
    4, 5, 1, 2, 3, 0,
    // 18-41 PM_WIN_OFFSET (left, right, top, bottom) per window
    100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
    // 42-65 PM_INPUT_OFFSET (left, right, up, down) per window
    100, 100, 200, 200, 0, 0, 0, 0, 400, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // 66-71 PM_INPUT_OFFSET_EN
    0, 0, 0, 0, 0, 0,
    // 72-79 PM_WIN_NUM per layer
    0, 0, 1, 1, 2, 3, 4, 5,
    // 80-87 PM_AREA_NUM per layer
    0, 1, 0, 1, 0, 0, 0, 0,
    // 88-95 PM_OVERLAY
    0, 0, 0, 0, 1, 2, 3, 4,
    // 96-101 PM_OVERLAY_PRI
    1, 0, 2, 3, 4, 5,
    // 102-107, 108-113 enhancement switches
    0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0,
    // 114-119 PM_WIN_FADE_EN
    0, 1, 1, 1, 0, 1,
    // 120-125 PM_WIN_FADE_IN, 126-131 PM_WIN_FADE_OUT
    60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60,
    // 132-143 output switches, two groups
    0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0,
    // 144-146 PM_OSD_EN, PM_OSD_HZOOM_EN, PM_OSD_VZOOM_EN
    0, 0, 0,
    // 147 PM_OSD_DATA_MODE, 148 PM_OSD_SCROLL_MODE
    1, 2,
    // 149-152 PM_OSD_OUTPUT_OFFSET, 153-156 PM_OSD_INPUT_OFFSET
    0, 0, 0, 0, 0, 0, 0, 0,
    // 157, 158 the further switches, 159 PM_OSD_UPDATE_BUTTON
    0, 0, 0,
};

void c331_manage::load_param() {
    debugPrintf("[load_param]");
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        chg_win[w] = chg_enh[w] = chg_fade[w] = chg_out[w] = 0;
    }
    chg_overlay = chg_priority = chg_misc1 = chg_misc2 = 0;

    const int* t = parameters_txt;
    // Copies one entry and reports whether the value changed.
    auto take = [](s32& dst, int v) {
        const bool changed = dst != v;
        dst = v;
        return changed;
    };

    for (int i = 0; i < 12; ++i)
        if (take(PM_WIN_SHAPE[i / 2][i % 2], t[i])) chg_win[i / 2] = 1;
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (take(PM_INPUT[w], t[12 + w])) g_chg_input[w] = 1;
    for (int i = 0; i < 24; ++i)
        if (take(PM_WIN_OFFSET[i / 4][i % 4], t[18 + i])) chg_win[i / 4] = 1;
    for (int i = 0; i < 24; ++i)
        if (take(PM_INPUT_OFFSET[i / 4][i % 4], t[42 + i])) chg_win[i / 4] = 1;
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (take(PM_INPUT_OFFSET_EN[w], t[66 + w])) chg_win[w] = 1;
    for (int l = 0; l < C331_CH_NUM; ++l) {
        PM_WIN_NUM[l] = t[72 + l];
        PM_AREA_NUM[l] = t[80 + l];
        if (take(PM_OVERLAY[l], t[88 + l])) chg_overlay = 1;
    }
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (take(PM_OVERLAY_PRI[w], t[96 + w])) chg_priority = 1;
        if (take(PM_ENH_SW1[w], t[102 + w])) chg_enh[w] = 1;
        if (take(PM_ENH_SW2[w], t[108 + w])) chg_enh[w] = 1;
        if (take(PM_WIN_FADE_EN[w], t[114 + w])) chg_fade[w] = 1;
        if (take(PM_WIN_FADE_IN[w], t[120 + w])) chg_fade[w] = 1;
        if (take(PM_WIN_FADE_OUT[w], t[126 + w])) chg_fade[w] = 1;
        if (take(PM_OUT_SW1[w], t[132 + w])) chg_out[w] = 1;
        if (take(PM_OUT_SW2[w], t[138 + w])) chg_out[w] = 1;
    }
    if (take(PM_OSD_EN, t[144])) osd_redraw_req = 1;
    if (take(PM_OSD_HZOOM_EN, t[145])) osd_redraw_req = 1;
    if (take(PM_OSD_VZOOM_EN, t[146])) osd_redraw_req = 1;
    if (take(PM_OSD_DATA_MODE, t[147])) osd_update_req = 1;
    if (take(PM_OSD_SCROLL_MODE, t[148])) osd_redraw_req = 1;
    for (int i = 0; i < 4; ++i) {
        if (take(PM_OSD_OUTPUT_OFFSET[i], t[149 + i])) osd_redraw_req = 1;
        if (take(PM_OSD_INPUT_OFFSET[i], t[153 + i])) osd_update_req = 1;
    }
    if (take(PM_MISC_SW1, t[157])) chg_misc1 = 1;
    if (take(PM_MISC_SW2, t[158]) && PM_MISC_SW2) chg_misc2 = 1;
    if (take(PM_OSD_UPDATE_BUTTON, t[159]) && PM_OSD_UPDATE_BUTTON) osd_update_req = 1;

    for (int w = 0; w < C331_WIN_NUM; ++w) {
        PM_WIN_STITCHING[w] = w;
        debugPrintf("[load_param] ....data = %#x, [PM_WIN_STITCHING][%#x]=%#x \n", w, w, PM_WIN_STITCHING[w]);
    }
    for (int w = 0; w < C331_WIN_NUM; ++w)
        Console::print("load_param  WIN[%d]  win=%d  dbd=%d  input=%d  pri=%d\n", w, PM_WIN_STITCHING[w],
                    PM_WIN_DBD_MODE[w], PM_INPUT[w], PM_OVERLAY_PRI[w]);
}

// ---------------------------------------------------------------- set-up programme

namespace {

enum InitOp : u8 {
    W,        // write value to code
    WAIT,     // sleep value ms
    PLL,      // write system clock word [value] to code
    BAND,     // write the band value to code
    LAYERS,   // write value to code in every layer's bank (bases 0..112)
    END,
};

struct InitRow {
    u8 op;
    u32 code;
    u32 value;
};

// Clock generator on, before the main programme (mode 1 only).
const InitRow kClockOn[] = {
    {W, 0xFF0001, 0x08}, {W, 0xFF0101, 0x00}, {W, 0xFF0201, 0xC8}, {W, 0xFF0301, 0x00},
    {W, 0xFF0401, 0x61}, {W, 0xFF0503, 0x01}, {WAIT, 0, 20},       {END, 0, 0},
};

// The main programme, bank by bank so that each bank is selected once.
const InitRow kMiddle[] = {
    // bank 0
    {W, 0x000801, 0x11}, {W, 0x000901, 0x11}, {W, 0x000A01, 0x11}, {W, 0x000B01, 0x11},
    {W, 0x000C01, 0x11}, {W, 0x000D01, 0x11}, {W, 0x000E01, 0x11}, {W, 0x000F01, 0x11},
    {W, 0x001001, 0}, {W, 0x001101, 2}, {W, 0x001201, 4}, {W, 0x001301, 6},
    {W, 0x001401, 8}, {W, 0x001501, 10}, {W, 0x001601, 12}, {W, 0x001701, 14},
    {PLL, 0x004701, 0}, {PLL, 0x004801, 1}, {PLL, 0x004901, 2}, {PLL, 0x004A01, 3}, {PLL, 0x004B01, 4},
    {BAND, 0x004C01, 0},  // output clock band, next to the clock words
    // >>> chip set-up data: the remaining bank-0 rows belong here.
    // bank 3
    // >>> chip set-up data: the leading bank-3 rows belong here.
    {W, 0x032F02, 0}, {W, 0x033602, 0}, {W, 0x033902, 0}, {W, 0x034602, 0}, {W, 0x034E02, 0},
    {W, 0x035504, 0x10000}, {W, 0x035E04, 0x76543210}, {W, 0x036204, 0x76543210},
    {W, 0x032C02, 0}, {W, 0x032F02, 0}, {W, 0x033602, 0}, {W, 0x033902, 0}, {W, 0x034602, 0}, {W, 0x034E02, 0},
    // >>> chip set-up data: banks 4, 5 and 6 belong here.
    // >>> chip set-up data: bank 0x08 per layer (LAYERS rows), banks 0x0E and
    // 0x10 per layer, banks 9, 0x0A, 0x0B, 0x0C, 0x11, bank 0x16 and its
    // copies 0x26 to 0x86, banks 0x14 and 0x17 belong here, in that order.
    {END, 0, 0},
};

// Clock restart and the Vby-One banks, after the main programme (mode 1 only).
const InitRow kClockRestart[] = {
    {W, 0xFF0201, 0x00}, {W, 0xFF0401, 0x00}, {W, 0x012601, 0x00}, {WAIT, 0, 1},
    // bank 1
    {W, 0x010801, 0x30}, {W, 0x010904, 0x22222222}, {W, 0x010D04, 0x66663445}, {W, 0x011104, 0x22222222},
    {W, 0x011501, 0x77}, {W, 0x011601, 0x77}, {W, 0x011701, 0x77}, {W, 0x011801, 0x77}, {W, 0x011901, 0x07},
    // >>> chip set-up data: the middle bank-1 rows belong here.
    {W, 0x016D03, 0x6DB6DB}, {W, 0x017004, 0x33333333},
    {WAIT, 0, 1},
    {W, 0xFF0201, 0x88}, {WAIT, 0, 1}, {W, 0xFF0201, 0xC8}, {WAIT, 0, 1}, {W, 0xFF0401, 0x61}, {WAIT, 0, 20},
    // bank 2, paged through 02:7F
    {W, 0x027F01, 0x0E},
    // >>> chip set-up data: bank-2 group for page 0x0E
    {W, 0x027F01, 0x0F},
    {W, 0x027F01, 0x0D},
    // >>> chip set-up data: bank-2 group for page 0x0D
    {W, 0x027F01, 0x0F},
    {W, 0x027F01, 0x0B},
    // >>> chip set-up data: bank-2 group for page 0x0B
    {W, 0x027F01, 0x0F},
    {W, 0x027F01, 0x07},
    // >>> chip set-up data: bank-2 group for page 0x07
    {W, 0x027F01, 0x0F},
    {END, 0, 0},
};

}  // namespace

void c331_manage::write_initial_setting(int fd, int mode) {
    // Band of the output clock: r = (pll[4] * in clock) / (d * pll[3]).
    const u64 d = sys.PS_VBOTX_MODE == 1 ? 2000000 : 4000000;
    const u64 den = d * (sys.PS_PLL[3] ? sys.PS_PLL[3] : 1);
    const u64 r = u64(sys.PS_PLL[4]) * sys.PS_IN_CLK / den;
    const u32 band = r > 40 ? 0x4C : r > 20 ? 0x48 : 0x44;

    auto run = [&](const InitRow* rows) {
        for (const InitRow* row = rows; row->op != END; ++row) {
            switch (row->op) {
            case W: drv->write_C331(fd, row->code, row->value); break;
            case WAIT: Sleep(int(row->value)); break;
            case PLL: drv->write_C331(fd, row->code, sys.PS_PLL[row->value % 9]); break;
            case BAND: drv->write_C331(fd, row->code, band); break;
            case LAYERS:
                for (u32 l = 0; l < C331_CH_NUM; ++l)
                    drv->write_C331(fd, row->code, row->value, l * c331reg::kBankBaseStep);
                break;
            default: break;
            }
        }
    };

    if (mode != 0) run(kClockOn);
    run(kMiddle);
    if (mode != 0) run(kClockRestart);
}

void c331_manage::set_rtct(int fd, int mode) {
    static const u8 kValues[5][7] = {
        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
        {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
        {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF},
        {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99},
    };
    const u8* v = kValues[(mode >= 0 && mode <= 3) ? mode : 4];
    drv->write_c331_mask(fd, c331reg::RTCT_HOLD, 1, 1);
    for (u32 i = 0; i < 7; ++i) drv->write_C331(fd, c331reg::RTCT_FIRST + (i << 8), v[i]);
    drv->write_c331_mask(fd, c331reg::RTCT_HOLD, 0, 1);
}

void c331_manage::set_input_bkg(int fd, int port, int on) {
    debugPrintf("[set_input_bkg] port_%d, onoff:%d\n", port, on);
    set_rtct(fd, 2);
    const bool forced = g_force_bkcolor.load() == 1;
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (PM_INPUT[w] != port) continue;
        int fill;
        if (on)
            fill = 1;
        else
            fill = (port >= 0 && port < C331_PORT_NUM && PI_STATE[port] == 0) ? 1 : 0;
        if (PM_OUT_SW2[w]) fill = 0;
        const u32 colour = forced ? 0xFF00 : 0;
        for (int l = 0; l < C331_CH_NUM; ++l) {
            if (PM_WIN_NUM[l] != w) continue;
            drv->write_C331(fd, c331reg::LAYER_BKG_COLOR, colour, u32(l) * c331reg::kBankBaseStep);
            drv->write_C331(fd, c331reg::LAYER_BKG_FILL, forced ? 1 : u32(fill), u32(l) * c331reg::kBankBaseStep);
        }
    }
    set_rtct(fd, 1);
}
