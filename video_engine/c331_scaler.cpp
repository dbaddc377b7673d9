// Input channels: allocation of the eight channels to the windows, source
// selection, the input and output rectangles of each window, crop, shrink
// and filter tables, chip memory, and the dot-by-dot memory pool.
#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <algorithm>
#include <cstdio>

using namespace c331print;
using namespace c331reg;

namespace {
constexpr u32 chBase(int k) { return u32(k) * c331reg::kBankBaseStep; }

// Vertical shrink filter: per class, sixteen coefficients after eight zeros.
const u8 kVShrink[9][16] = {
    {0x0D, 0x0E, 0x0E, 0x0E, 0x0F, 0x0F, 0x10, 0x14, 0x10, 0x10, 0x10, 0x12, 0x13, 0x13, 0x13, 0x18},
    {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x14, 0x11, 0x11, 0x12, 0x13, 0x14, 0x15, 0x15, 0x18},
    {0x06, 0x08, 0x09, 0x0B, 0x0C, 0x0E, 0x0F, 0x13, 0x12, 0x13, 0x14, 0x15, 0x17, 0x17, 0x19, 0x1A},
    {0x01, 0x03, 0x05, 0x08, 0x0A, 0x0C, 0x0F, 0x11, 0x13, 0x15, 0x16, 0x18, 0x1B, 0x1C, 0x1D, 0x1E},
    {0xFD, 0xFF, 0x00, 0x03, 0x06, 0x0A, 0x0D, 0x10, 0x14, 0x17, 0x1A, 0x1D, 0x20, 0x20, 0x22, 0x20},
    {0xF8, 0xF9, 0xFC, 0xFF, 0x01, 0x05, 0x0A, 0x0D, 0x14, 0x19, 0x1D, 0x21, 0x26, 0x29, 0x2A, 0x26},
    {0xF6, 0xF5, 0xF6, 0xF8, 0xFC, 0x00, 0x05, 0x0A, 0x12, 0x1A, 0x21, 0x28, 0x2D, 0x31, 0x33, 0x2C},
    {0xF7, 0xF4, 0xF2, 0xF3, 0xF5, 0xFA, 0x00, 0x05, 0x0F, 0x19, 0x23, 0x2D, 0x36, 0x39, 0x3A, 0x36},
    {0xFC, 0xF7, 0xF3, 0xF1, 0xF1, 0xF4, 0xF9, 0x00, 0x09, 0x15, 0x23, 0x2F, 0x39, 0x40, 0x42, 0x40}};

// Channels a window needs by its dot-by-dot code and port.
int demand(int mode, int port) {
    if (mode == 0 || mode == 1) {
        if (port < 0 || port > 5) return 0;
        return port < 4 ? 1 : 2;
    }
    if (mode >= 2 && mode <= 29) return 2;
    if (mode >= 30 && mode <= 39) return 3;
    if (mode >= 40 && mode <= 51) return 4;
    return 0;
}

bool sideBySide(int mode) {
    return mode == 1 || mode == 20 || mode == 22 || mode == 30 || mode == 40 || mode == 50;
}
}  // namespace

bool c331_chip::windowInUse(int win) const {
    if (win < 0 || win >= C331_WIN_NUM || win >= m.gMwin.wincnt) return false;
    return m.PM_WIN_SHAPE[win][0] > 0 && m.PM_WIN_SHAPE[win][1] > 0;
}

void c331_chip::rebuild_win_ich() {
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        int n = 0;
        for (int k = 0; k < C331_CH_NUM; ++k)
            if (m.ich_owner[k] == w) m.win_ich[w][n++] = k;
        for (; n < C331_CH_NUM; ++n) m.win_ich[w][n] = -1;
    }
}

int c331_chip::firstIch(int win) const {
    if (win < 0 || win >= C331_WIN_NUM) return -1;
    return m.win_ich[win][0];
}

int c331_chip::ichCount(int win) const {
    if (win < 0 || win >= C331_WIN_NUM) return 0;
    int n = 0;
    while (n < C331_CH_NUM && m.win_ich[win][n] >= 0) ++n;
    return n;
}

int c331_chip::zrvApi_IsPatternGen() const { return m.pattern_gen != 0; }

// ---------------------------------------------------------------------------
// Channel allocation

int c331_chip::check_ich_all(int win) {
    int total = 0;
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (windowInUse(w)) total += demand(m.PM_WIN_DBD_MODE[w], m.PM_INPUT[w]);
    if (total > C331_CH_NUM) {
        always("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int k = 0; k < C331_CH_NUM; ++k) {
        const int o = m.ich_owner[k];
        if (o >= 0 && (!windowInUse(o) || o == win)) m.ich_owner[k] = -1;
    }
    rebuild_win_ich();
    always("check_ich_all ret=%d\n", total);
    return total;
}

int c331_chip::check_ich(int interlaced, int pair) {
    const s32* o = m.ich_owner;
    auto isFree = [o](int k) { return o[k] < 0; };
    if (pair) {
        static const int pairs[4] = {4, 6, 2, 0};
        for (int k : pairs)
            if (isFree(k) && isFree(k + 1)) return k;
        return -1;
    }
    if (isFree(0)) return (!isFree(2) && isFree(3)) ? 3 : 0;
    if (isFree(1)) return 1;
    if (isFree(2)) return 2;
    if (isFree(3)) return 3;
    if (interlaced) return -1;
    if (isFree(4) && isFree(6)) return 4;
    if (isFree(4)) return isFree(7) ? 7 : 4;
    if (isFree(6)) return isFree(5) ? 5 : 6;
    if (isFree(5)) return 5;
    if (isFree(7)) return 7;
    return -1;
}

int c331_chip::adjust_ich(int interlaced, int pair, int win) {
    s32* o = m.ich_owner;
    auto firstFree = [o](std::initializer_list<int> list) {
        for (int k : list)
            if (o[k] < 0) return k;
        return -1;
    };
    // Moves the owner of channel from to a free channel of the list.
    auto move = [&](int from, std::initializer_list<int> to) {
        const int owner = o[from];
        if (owner < 0) return true;
        const int dst = firstFree(to);
        if (dst < 0) return false;
        o[dst] = owner;
        o[from] = -1;
        if (owner < C331_WIN_NUM) m.g_chg_input[owner] = 2;
        return true;
    };
    auto fail = [] {
        always("adjust_ich NG!!!\n");
        return -1;
    };
    if (!pair) {
        if (!interlaced) {
            const int k = firstFree({0, 1, 2, 3, 4, 5, 6, 7});
            if (k < 0) return fail();
            o[k] = win;
            return 0;
        }
        int k = firstFree({0, 1, 2, 3});
        if (k < 0) {
            for (int c = 0; c < 4 && k < 0; ++c) {
                const int owner = o[c];
                const int port = owner >= 0 && owner < C331_WIN_NUM ? m.PM_INPUT[owner] : -1;
                const bool ip = port >= 0 && port < C331_PORT_NUM && m.PI_PORT_INFO[port][S::PI_IP];
                if (!ip && move(c, {4, 5, 6, 7}) && o[c] < 0) k = c;
            }
            if (k < 0) {
                always("ICH1-4 is not available!!!\n");
                k = firstFree({4, 5, 6, 7});
            }
        }
        if (k < 0) return fail();
        o[k] = win;
        return 0;
    }
    int k = -1;
    if (o[4] < 0) {
        if (move(5, {6, 7, 0, 1, 2, 3})) k = 4;
    } else if (o[5] < 0) {
        if (move(4, {6, 7, 0, 1, 2, 3})) k = 4;
    } else if (o[6] < 0) {
        if (move(7, {0, 1, 2, 3})) k = 6;
    } else if (o[7] < 0) {
        if (move(6, {0, 1, 2, 3})) k = 6;
    } else if (o[0] < 0) {
        if (move(1, {2, 3})) k = 0;
    } else if (o[1] < 0) {
        if (move(0, {2, 3})) k = 0;
    }
    if (k < 0) return fail();
    o[k] = o[k + 1] = win;
    return 0;
}

void c331_chip::reset_ich(int win) {
    if (win < 0 || win >= C331_WIN_NUM || windowInUse(win)) return;
    for (int k = 0; k < C331_CH_NUM; ++k)
        if (m.ich_owner[k] == win) m.ich_owner[k] = -1;
    rebuild_win_ich();
}

int c331_chip::set_input(int win, int port) {
    if (win < 0 || win >= C331_WIN_NUM) return 2;
    const int mode = m.PM_WIN_DBD_MODE[win];
    if (mode > 1 && m.g_chg_dbd[win] == 0) return 0;
    if (!windowInUse(win)) {
        dbg("[set_input] win_%d, port_%d, window is unavailable\n", win, port);
        return 2;
    }
    if (check_ich_all(win) < 0) {
        dbg("[set_input] win_%d, check_ich_all(win) fail\n", win);
        return 2;
    }
    int result = 0;
    if (mode == 0 || mode == 1) {
        if (port < 0 || port > 5) return 2;
        const int pair = port >= 4 ? 1 : 0;
        const int ip = pair ? 0 : m.PI_SCAN_MODE[port];
        const int k = check_ich(ip, pair);
        if (k >= 0) {
            m.ich_owner[k] = win;
            if (pair) m.ich_owner[k + 1] = win;
        } else {
            result = adjust_ich(ip, pair, win) == 0 ? 1 : 2;
        }
    } else {
        const int n = demand(mode, port);
        if (n == 0) {
            always("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
            return 2;
        }
        for (int i = 0; i < n; ++i) {
            const int k = check_ich(0, 0);
            if (k >= 0) {
                m.ich_owner[k] = win;
            } else if (adjust_ich(0, 0, win) == 0) {
                result = 1;
            } else {
                result = 2;
                break;
            }
        }
        if (result == 2) {
            for (int k = 0; k < C331_CH_NUM; ++k)
                if (m.ich_owner[k] == win) m.ich_owner[k] = -1;
            always("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
        }
    }
    rebuild_win_ich();
    return result;
}

// ---------------------------------------------------------------------------
// Source selection and dual mode

void c331_chip::set_ichsel(int fd, int win) {
    (void)fd;
    if (win < 0 || win >= C331_WIN_NUM) return;
    const int mode = m.PM_WIN_DBD_MODE[win];
    dbg("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", win, mode);
    const int n = ichCount(win);
    if (n == 0) return;
    const s32* ch = m.win_ich[win];
    auto sel = [&](int k, u32 v) {
        if (k >= 0 && k < C331_CH_NUM) wr(ICH_SOURCE(k), v);
    };
    auto vboCode = [&](int port) { return u32(port == 4 ? 8 : 12); };
    auto lanesOver4 = [&](int port) {
        const bool wide = vboLanes(port) > 4;
        dbg(wide ? "\t port_%d 8 lane\n" : "\t port_%d 4 lane\n", port);
        return wide;
    };
    switch (mode) {
    case 20:
    case 21: {
        const u32 codes[2] = {0, 2};
        for (int i = 0; i < n && i < 2; ++i) sel(ch[i], codes[i]);
        return;
    }
    case 22:
    case 23: {
        const u32 codes[2] = {4, 6};
        for (int i = 0; i < n && i < 2; ++i) sel(ch[i], codes[i]);
        return;
    }
    case 30: {
        const u32 codes[3] = {0, 2, 4};
        for (int i = 0; i < n && i < 3; ++i) sel(ch[i], codes[i]);
        return;
    }
    case 40:
    case 41: {
        const u32 codes[4] = {0, 2, 4, 6};
        for (int i = 0; i < n && i < 4; ++i) sel(ch[i], codes[i]);
        return;
    }
    case 50:
    case 51: {
        const u32 codes[4] = {8, lanesOver4(4) ? 10u : 9u, 12, lanesOver4(5) ? 14u : 13u};
        for (int i = 0; i < n && i < 4; ++i) sel(ch[i], codes[i]);
        return;
    }
    default: break;
    }
    const int port = m.PM_INPUT[win];
    if (port < 0 || port > 5) return;
    if (port < 4) {
        sel(ch[0], u32(2 * port));
        return;
    }
    const u32 c = vboCode(port);
    sel(ch[0], c);
    if (n > 1) sel(ch[1], vboLanes(port) > 4 ? c + 2 : c + 1);
}

void c331_chip::set_idual(int fd, int ich, int on, int port) {
    (void)fd;
    if (ich < 0 || ich >= C331_CH_NUM) return;
    const int g = ich / 2;
    if (on && port >= 0 && port < C331_PORT_NUM) {
        wr(ICH_DUAL(g), 3);
        wr(ICH_DUAL_HST(g), u32(m.PI_ACT[port][0]));
        wr(ICH_DUAL_HW(g), u32(2 * m.PI_ACT[port][1]));
    } else {
        wr(ICH_DUAL(g), 0);
    }
}

// ---------------------------------------------------------------------------
// Rectangles

void c331_chip::calc_iwin2(int win) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    Rect& iw = m.IWIN[win];
    iw = Rect{0, 0, 0, 0};
    const int port = m.PM_INPUT[win];
    const int mode = m.PM_WIN_DBD_MODE[win];
    if (windowInUse(win) && port >= 0 && port < C331_PORT_NUM && m.PI_ACT[port][1] != 0 && m.PI_ACT[port][3] != 0) {
        const s32 hw = m.PI_ACT[port][1], vw = m.PI_ACT[port][3];
        auto FW = [&](int p) { return m.PI_ACT_FULL[p][1]; };
        auto FH = [&](int p) { return m.PI_ACT_FULL[p][3]; };
        const bool ip = m.PI_SCAN_MODE[port] != 0;
        const int k0 = firstIch(win);
        switch (mode) {
        case 1:
            iw.HW = FW(port);
            iw.VW = FH(port) * ((ip && k0 >= 0 && k0 < 4) ? 2 : 1);
            break;
        case 20: iw.HW = FW(0) + FW(1), iw.VW = FH(0); break;
        case 22: iw.HW = FW(2) + FW(3), iw.VW = FH(2); break;
        case 30: iw.HW = FW(0) + FW(1) + FW(2), iw.VW = FH(0); break;
        case 40: iw.HW = FW(0) + FW(1) + FW(2) + FW(3), iw.VW = FH(0); break;
        case 50: iw.HW = FW(4) + FW(5), iw.VW = FH(4); break;
        case 21: iw.HW = FW(0), iw.VW = FH(0) + FH(1); break;
        case 23: iw.HW = FW(2), iw.VW = FH(2) + FH(3); break;
        case 41: iw.HW = FW(0) + FW(1), iw.VW = FH(0) + FH(2); break;
        case 51: iw.HW = FW(4), iw.VW = FH(4) + FH(5); break;
        case 0:
            if (m.PM_INPUT_OFFSET_EN[win]) {
                const s32 wl = hw * (m.PI_STATE[port] == 1 ? 2 : 1);
                const s32 hl = vw * (ip ? 2 : 1);
                const s32* off = m.PM_INPUT_OFFSET[win];
                iw.HST = off[0] >= wl ? 0 : off[0];
                iw.HW = wl - off[0] - off[1];
                if (iw.HW < 1) iw.HST = 0, iw.HW = wl;
                iw.VST = off[2] >= hl ? 0 : off[2];
                iw.VW = hl - off[2] - off[3];
                if (iw.VW < 1) iw.VST = 0, iw.VW = hl;
            } else {
                iw.HW = hw * (m.PI_STATE[port] == 1 ? 2 : 1);
                iw.VW = vw * ((ip && k0 >= 0 && k0 < 4) ? 2 : 1);
            }
            break;
        default: break;
        }
    }
    dbg("IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, iw.HST, iw.HW, iw.VST, iw.VW);
}

void c331_chip::calc_owin2(int win) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    Rect& ow = m.OWIN[win];
    ow = Rect{0, 0, 0, 0};
    if (m.PM_WIN_SHAPE[win][0] > 0) ow.HW = s32(m.sys.PS_ACTHW) * m.PM_WIN_SHAPE[win][0];
    if (m.PM_WIN_SHAPE[win][1] > 0) ow.VW = s32(m.sys.PS_ACTVW) * m.PM_WIN_SHAPE[win][1];
    const s32* off = m.PM_WIN_OFFSET[win];
    ow.HST += off[0];
    ow.VST += off[2];
    ow.HW -= off[0] + off[1];
    ow.VW -= off[2] + off[3];
    if (m.PM_WIN_DBD_MODE[win] != 0) {
        Rect& iw = m.IWIN[win];
        const s32 hw = std::max(0, std::min(iw.HW, ow.HW)), vw = std::max(0, std::min(iw.VW, ow.VW));
        iw.HW = ow.HW = hw;
        iw.VW = ow.VW = vw;
    } else {
        ow.HW = std::max(0, ow.HW);
        ow.VW = std::max(0, ow.VW);
    }
    dbg("OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, ow.HST, ow.HW, ow.VST, ow.VW);
}

// ---------------------------------------------------------------------------
// Shrink ratios and filters

int c331_chip::shrinkRatio(int a, int b) {
    if (a > b && b >= 1 && a > 1) return int(int64_t(b - 1) * 65536 / int64_t(a - 1) + 1);
    return 65536;
}

int c331_chip::hshrinkSet(int r) {
    if (r < 1 || r > 65000) return 44;
    if (r <= 13107) return 1;
    if (r <= 26214) return 2;
    if (r <= 32768) return 4;
    if (r <= 39321) return 6;
    if (r <= 45875) return 8;
    if (r <= 49152) return 12;
    if (r <= 52428) return 17;
    if (r <= 55705) return 22;
    if (r <= 58982) return 27;
    if (r <= 62259) return 32;
    return 38;
}

int c331_chip::vshrinkClass(int r) {
    if (r < 13108) return 1;
    if (r < 26215) return 2;
    if (r < 32769) return 3;
    if (r <= 39321) return 4;
    if (r < 45876) return 5;
    if (r < 52429) return 6;
    if (r < 58983) return 7;
    if (r < 62260) return 8;
    return 9;
}

void c331_chip::set_lut_hshrnk(int fd, int ratio, int ich, int pair) {
    (void)fd;
    if (ich < 0 || ich >= C331_CH_NUM) return;
    wr(HSHRINK_SET, u32(hshrinkSet(ratio)));
    wr(HSHRINK_LOAD, hshrinkLoadCommand(ich));
    if (pair && ich + 1 < C331_CH_NUM) wr(HSHRINK_LOAD, hshrinkLoadCommand(ich + 1));
}

void c331_chip::set_lut_vshrnk_4sym(int fd, int ratio, int ich, int pair) {
    (void)fd;
    if (ich < 0 || ich >= C331_CH_NUM) return;
    const u8* row = kVShrink[vshrinkClass(ratio) - 1];
    const int last = pair && ich + 1 < C331_CH_NUM ? ich + 1 : ich;
    for (int k = ich; k <= last; ++k)
        for (int i = 0; i < 24; ++i) wr(IS_VLUT(i), i < 8 ? 0 : row[i - 8], chBase(k));
}

// ---------------------------------------------------------------------------
// Memory

u32 c331_chip::memUnits(int wmode, int n) const {
    if (n < 0) n = 0;
    switch (wmode) {
    case 1: return u32((n / 5) * 80 / 5 + (n % 5) * 3);
    case 2: {
        const int pad = (3 - n % 3) % 3;
        return u32((n + pad) * 8 / 3);
    }
    case 3: return u32(2 * n);
    default: return u32(4 * n);
    }
}

void c331_chip::set_iscwct(int fd, int win) {
    (void)fd;
    const int n = ichCount(win);
    const u32 v = wmodeCode(m.PM_MEM_WMODE[win]);
    for (int i = 0; i < n; ++i) wr(ICH_WMODE(m.win_ich[win][i]), v);
}

void c331_chip::set_mct(int fd, int win, int mode) {
    (void)fd;
    if (win < 0 || win >= C331_WIN_NUM) return;
    const int n = ichCount(win);
    if (n == 0) return;
    const int dmode = m.PM_WIN_DBD_MODE[win];
    int port;
    if (dmode == 22 || dmode == 23)
        port = 2;
    else if (dmode == 50 || dmode == 51)
        port = 4;
    else if (dmode == 0 || dmode == 1)
        port = m.PM_INPUT[win];
    else
        port = 0;
    if (port < 0 || port > 5) return;
    const int c0 = m.win_ich[win][0];
    const u32 base = m.PI_STATE[port] != 0 ? 0x11 : 1;
    auto further = [&] {
        for (int i = 1; i < n; ++i) {
            const int c = m.win_ich[win][i];
            wr(CH_CTRL(c), base);
            wr(ICH_CTRL, u32(c0 + 8), chBase(c));
        }
    };
    if (port >= 4) {
        wr(CH_CTRL(c0), base);
        wr(ICH_CTRL, 1, chBase(c0));
        further();
        return;
    }
    const bool ip = m.PI_SCAN_MODE[port] != 0 && mode == 0;
    const int r = m.PM_BNR[port] ? 2 : (m.PM_HNR[port] || m.PM_VNR[port] || m.PM_TNR[port] || m.PM_MNR[port]) ? 1 : 0;
    const bool nrPath = c0 <= 3 && (dmode == 0 || dmode == 1) && (r != 0 || ip);
    wr(CH_CTRL(c0), nrPath ? base + 14 : base);
    wr(ICH_CTRL, (ip || (m.PM_BNR[port] && mode == 0 && m.PI_SCAN_MODE[port])) ? 0 : 1, chBase(c0));
    if (r != m.nr_last[port]) {
        m.nr_last[port] = r;
        if (!ip) wr(NR_MODE, r == 2 ? 3u : u32(r), chBase(c0));
    }
    further();
}

void c331_chip::set_display_window_ich(int fd, Rect in, Rect out, int win) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    const int n = ichCount(win);
    if (n == 0) return;
    const int port = m.PM_INPUT[win];
    if (port < 0 || port >= C331_PORT_NUM) return;
    const int k = m.win_ich[win][0];
    const bool pair = n > 1;
    const bool dual = pair && m.PI_STATE[port] < 4;
    const bool ip = m.PI_SCAN_MODE[port] != 0;
    m.PM_MEM_WMODE[win] = ip ? 2 : s32(m.sys.PS_MEM_WMODE[win]);
    const int wmode = m.PM_MEM_WMODE[win];

    // Horizontal crop of the port's active area.
    const s32* act = m.PI_ACT[port];
    s32 hst = act[0] + (dual ? 0 : m.PM_IACTHST[win]) - 7;
    const s32 hwid = act[1];

    // Shrink ratios and phases.
    const int rh = shrinkRatio(in.HW, out.HW), rv = shrinkRatio(in.VW, out.VW);
    const bool hshrink = rh != 65536, vshrink = rv != 65536;
    int hp = 0, vp = 0;
    if (hshrink && in.HST > 0) {
        hp = 256 - int((int64_t(in.HST) * rh) % 65536) / 256;
        if (hp == 256) hp = 0;
    }
    if (vshrink && in.VST > 0) {
        vp = 256 - int((int64_t(in.VST) * rv) % 65536) / 256;
        if (vp == 256) vp = 0;
    }
    // Second channel of a pair: its memory lies after the first channel's
    // part of the line.
    const int firstWidth = hshrink ? out.HW / 2 : hwid;
    u32 secondOffset = memUnits(wmode, firstWidth);
    u32 firstCorrection = 0;
    if (wmode == 2) firstCorrection = u32(2 * ((3 - firstWidth % 3) % 3));

    set_idual(fd, k, dual ? 1 : 0, port);
    set_ichsel(fd, win);

    auto program = [&](int c, s32 start, s32 width, bool second) {
        const u32 b = chBase(c);
        wr(ICH_CTRL, second ? u32((k & ~1) + 8) : 1, b);
        wr(ICH_HST, u32(std::max(0, start)), b);
        wr(ICH_HW, u32(std::max(0, width)), b);
        wr(ICH_VST, u32(std::max(0, act[2] + m.PM_IACTVST[win] + 1)), b);
        wr(ICH_VW, u32(std::max(0, act[3])), b);
        wr(IS_PHASE_EN, (hp ? 128u : 0u) + (vp ? 8u : 0u), b);
        wr(IS_HMODE, hshrink ? 199 : 0x80, b);
        wr(IS_HRATIO, hshrink ? u32(rh) : 0, b);
        wr(IS_VMODE, vshrink ? 0x84 : 0x80, b);
        wr(IS_VRATIO, vshrink ? u32(rv) : 0, b);
        wr(IS_MODE, 2, b);
        wr(IS_HPHASE, u32(hp), b);
        wr(IS_HPHASE2, u32(hp), b);
        wr(IS_VPHASE, u32(vp), b);
        wr(IS_VPHASE2, u32(vp), b);
        const u32 extra = second ? secondOffset : firstCorrection;
        for (int j = 0; j < 5; ++j) wr(ICH_MEM(j), m.sys.PS_MEM_SC[k][j] + extra, b);
        wr(ICH_LINE, 64, b);
        wr(ICH_FIELDS, packFields(m.win_field[win]), b);
    };
    program(k, hst, hwid, false);
    if (pair) program(m.win_ich[win][1], act[0] - 7, hwid, true);

    set_lut_hshrnk(fd, rh, k, pair);
    set_lut_vshrnk_4sym(fd, rv, k, pair);
    set_iscwct(fd, win);
    set_mct(fd, win, 0);
    set_ip(fd, k);
}

int c331_chip::dbdLineFor(int win, int mode) {
    const int port = m.PM_INPUT[win];
    auto F = [&](int p) { return m.PI_ACT_FULL[p][1]; };
    int width = 0;
    switch (mode) {
    case 1: width = port >= 0 && port < C331_PORT_NUM ? F(port) : 0; break;
    case 20: width = F(0) + F(1); break;
    case 22: width = F(2) + F(3); break;
    case 30: width = F(0) + F(1) + F(2); break;
    case 40: width = F(0) + F(1) + F(2) + F(3); break;
    case 50: width = F(4) + F(5); break;
    case 21: width = F(0); break;
    case 23: width = F(2); break;
    case 41: width = F(0) + F(1); break;
    case 51: width = F(4); break;
    default: width = 0; break;
    }
    return (width + 319) / 320;
}

int c331_chip::set_dbd_mem(int fd, int win) {
    if (win < 0 || win >= C331_WIN_NUM) return -1;
    reset_dbd_mem(win);
    const int mode = m.PM_WIN_DBD_MODE[win];
    if (ichCount(win) == 0 || mode == 0) return -1;
    const int port = m.PM_INPUT[win];
    if (mode == 1 && check_dbd_input(fd, port) == 0) {
        const int k = m.win_ich[win][0];
        for (int j = 0; j < 5; ++j) m.dbd_win_mem[win][j] = m.sys.PS_MEM_SC[k][j];
        m.dbd_win_line[win] = 64;
        return 0;
    }
    int blocks;
    if (mode == 1)
        blocks = port >= 4 ? 2 : 1;
    else if (mode >= 20 && mode <= 29)
        blocks = 2;
    else if (mode >= 30 && mode <= 39)
        blocks = 3;
    else
        blocks = 4;
    const bool up = sideBySide(mode);
    int taken = 0;
    for (int i = 0; i < C331_WIN_NUM && taken < blocks; ++i) {
        const int b = up ? i : C331_WIN_NUM - 1 - i;
        if (m.dbd_blk_owner[b] >= 0) continue;
        m.dbd_blk_owner[b] = win;
        m.dbd_win_blk[win][taken++] = b;
    }
    if (taken < blocks) {
        const int had = taken;
        reset_dbd_mem(win);
        always("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", win, mode, blocks,
               had);
        return -1;
    }
    // Side by side: from the first block taken; vertical and quad: from the
    // last (lowest) one.
    const int first = up ? m.dbd_win_blk[win][0] : m.dbd_win_blk[win][taken - 1];
    for (int j = 0; j < 5; ++j) m.dbd_win_mem[win][j] = m.sys.PS_MEM_DBD[j] + u32(first) * m.sys.PS_MEM_DBD_BLOCK;
    m.dbd_win_line[win] = dbdLineFor(win, mode);
    return 0;
}

void c331_chip::set_display_window_ich_dbd(int fd, int win, int mode) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    const int n = ichCount(win);
    for (int i = 0; i < n; ++i) set_idual(fd, m.win_ich[win][i], 0, -1);
    if (set_dbd_mem(fd, win) < 0) {
        m.g_chg_input[win] = 0;
        m.g_chg_dbd[win] = 0;
        always("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", win, m.g_chg_dbd[win]);
        return;
    }
    set_ichsel(fd, win);
    const int port = m.PM_INPUT[win];
    const bool ip = port >= 0 && port < C331_PORT_NUM && m.PI_SCAN_MODE[port];
    m.PM_MEM_WMODE[win] = ip ? 2 : s32(m.sys.PS_MEM_WMODE[win]);
    const int wmode = m.PM_MEM_WMODE[win];

    int ports[6];
    const int np = windowPorts(win, ports);
    const u32 line = u32(std::max(0, m.dbd_win_line[win]));
    const u32 fields = packFields(m.win_field[win]);
    const u32 writeMode = wmodeCode(wmode);

    int sumWidth = 0;  // widths of the pictures already placed side by side
    for (int i = 0; i < n; ++i) {
        const int c = m.win_ich[win][i];
        const u32 b = chBase(c);
        s32 hst = 0, hw = 0, vst = 0, vh = 0;
        u32 offset = 0;
        if (mode == 1 && np == 1) {
            const s32* a = m.PI_ACT_FULL[ports[0]];
            const bool split = ports[0] >= 4 && m.PI_STATE[ports[0]] < 4;
            if (split) {
                hst = a[0] / 2 - 7, hw = a[1] / 2;
                offset = i ? memUnits(wmode, a[1] / 2) : 0;
            } else {
                hst = a[0] - 7, hw = i ? 0 : a[1];
            }
            vst = a[2] + 1, vh = a[3];
        } else if (i < np) {
            const int p = ports[i];
            const s32* a = m.PI_ACT_FULL[p];
            hst = a[0] - 7, hw = a[1], vst = a[2] + 1, vh = a[3];
            if (sideBySide(mode)) {
                offset = memUnits(wmode, sumWidth);
            } else if (mode == 41) {
                // Ports 0 and 1 side by side on top, 2 and 3 below them.
                const int col = i % 2, row = i / 2;
                offset = (col ? memUnits(wmode, m.PI_ACT_FULL[0][1]) : 0) +
                         (row ? u32(m.PI_ACT_FULL[0][3]) * line * 1024 : 0);
            } else if (i > 0) {
                offset = u32(m.PI_ACT_FULL[ports[0]][3]) * line * 1024;
            }
            sumWidth += a[1];
        }
        wr(ICH_HST, u32(std::max(0, hst)), b);
        wr(ICH_HW, u32(std::max(0, hw)), b);
        wr(ICH_VST, u32(std::max(0, vst)), b);
        wr(ICH_VW, u32(std::max(0, vh)), b);
        for (u32 r = IS_FIRST; r <= IS_LAST; ++r) wr(code(0x11, r, 1), 0, b);
        for (int j = 0; j < 5; ++j) wr(ICH_MEM(j), m.dbd_win_mem[win][j] + offset, b);
        wr(ICH_LINE, line, b);
        wr(ICH_FIELDS, fields, b);
        wr(ICH_WMODE(c), writeMode);
    }
    set_mct(fd, win, mode);
    m.g_chg_dbd[win] = 0;
}

void c331_chip::set_input_bkg2(int fd, int win, int on) {
    (void)fd;
    if (win < 0 || win >= C331_WIN_NUM) return;
    dbg("[set_input_bkg2] win_%d, onoff:%d\n", win, on);
    const int port = m.PM_INPUT[win];
    int want = on ? 1 : 0;
    if (!on && !zrvApi_IsPatternGen()) want = (port < 0 || port >= C331_PORT_NUM || m.PI_STATE[port] == 0) ? 1 : 0;
    const bool forced = g_force_bkcolor.load() == 1;
    for (int n = 0; n < C331_CH_NUM; ++n) {
        if (m.PM_WIN_NUM[n] != win) continue;
        const u32 b = chBase(n);
        wr(c331reg::LAYER_BKG_COLOR, forced ? 0x00FF00 : 0, b);
        u32 fill;
        if (m.gWininfo[win].output & 1)
            fill = 1;
        else if (m.PM_WIN_DBD_MODE[win] != 0)
            fill = 0;
        else if (forced)
            fill = 1;
        else
            fill = u32(want);
        wr(c331reg::LAYER_BKG_FILL, fill, b);
    }
}
