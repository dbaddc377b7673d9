// Output side: set_output (the one reprogramming pass after any change of
// windows, inputs, crops, layers or fades), the output channels that read a
// window from chip memory and place it on the panel, the layer mixers, the
// fades and the freeze that hide a change.
#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_picture.h"
#include "video_engine/c331_regs.h"

#include <algorithm>
#include <cstdio>

using namespace c331print;
using namespace c331reg;

namespace {
constexpr u32 chBase(int k) { return u32(k) * c331reg::kBankBaseStep; }
constexpr int kMaxIchWidth = 2176;

int topLayer(int c) {
    int t = -1;
    for (int i = 0; i < 4; ++i)
        if (c & (1 << i)) t = i;
    return t;
}
}  // namespace

// ---------------------------------------------------------------------------

void c331_chip::set_output(int fd) {
    // 1. Free the channels of windows not in use.
    for (int w = 0; w < C331_WIN_NUM; ++w) reset_ich(w);

    // 2. Channels for the windows whose input changed.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const bool want = m.g_chg_input[w] == 1 || m.g_chg_input[w] == 3 || m.g_chg_dbd[w] ||
                          (m.chg_win[w] && ichCount(w) == 0);
        if (!want || !windowInUse(w)) continue;
        if (set_input(w, m.PM_INPUT[w]) == 2) {
            m.g_chg_input[w] = 0;
            m.g_chg_dbd[w] = 0;
            char text[96];
            std::snprintf(text, sizeof text, "c331: no input channel for window %d (port %d); not drawn", w,
                          m.PM_INPUT[w]);
            writeLogMsg(ERROR, text);
        }
    }

    // 3. A fade hides the change of exactly one window; anything else freezes.
    int fadeWin = -1, fadeCount = 0;
    bool fadeBlocked = m.chg_overlay != 0;
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (m.g_chg_input[w] == 1) {
            if (m.PM_WIN_FADE_EN[w]) {
                fadeWin = w;
                ++fadeCount;
            } else {
                fadeBlocked = true;
            }
        }
    }
    check_stitching_chg();
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (m.g_chg_input[w] == 2 || m.g_chg_input[w] == 3 || m.g_chg_dbd[w] == 1 || m.chg_win[w] == 1)
            fadeBlocked = true;
    const bool fade = fadeCount == 1 && !fadeBlocked;
    const int fadeRecord = fade ? m.slot_record[fadeWin] : -1;
    const int fadeIn = fadeRecord >= 0 ? m.PM_WIN_FADE_IN[fadeRecord] : m.PM_WIN_FADE_IN[std::max(fadeWin, 0)];
    const int fadeOut = fadeRecord >= 0 ? m.PM_WIN_FADE_OUT[fadeRecord] : m.PM_WIN_FADE_OUT[std::max(fadeWin, 0)];

    // 4.
    if (fade)
        set_layer_coef(fd, fadeWin, fadeOut, 0);
    else
        set_freeze(fd, 1);

    // 5. Input channels of the changed windows.
    bool reprogram[C331_WIN_NUM] = {};
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        m.win_width_limited[w] = 0;
        if (!(m.g_chg_input[w] || m.g_chg_dbd[w] || m.chg_win[w]) || !windowInUse(w)) continue;
        reprogram[w] = true;
        calc_iwin2(w);
        calc_owin2(w);
        if (m.PM_WIN_DBD_MODE[w] != 0) {
            set_display_window_ich_dbd(fd, w, m.PM_WIN_DBD_MODE[w]);
        } else {
            Rect target = m.OWIN[w];
            if (m.sys.PS_VBOTX_MODE == 2 && m.IWIN[w].HW > kMaxIchWidth && m.OWIN[w].HW > kMaxIchWidth &&
                m.IWIN[w].VW < m.OWIN[w].VW) {
                target.HW = kMaxIchWidth;
                m.win_width_limited[w] = 1;
            }
            set_display_window_ich(fd, m.IWIN[w], target, w);
        }
    }

    // 6.
    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    m.set_rtct(fd, 2);

    // 7. Output channels.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (!(m.g_chg_input[w] || m.g_chg_dbd[w] || m.chg_win[w] || m.chg_attr[w]) || !windowInUse(w)) continue;
        reprogram[w] = true;
        Rect src = m.IWIN[w];
        if (m.win_width_limited[w]) src.HW = kMaxIchWidth;
        set_display_window_och(fd, src, m.OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }

    // 8. Layers.
    if (m.chg_overlay || m.chg_priority) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        m.chg_overlay = m.chg_priority = 0;
    }

    // 9. Output channels that no window uses stop drawing.
    reset_act(fd, 1);

    // 10.
    if (fade)
        set_layer_coef(fd, fadeWin, fadeIn, 1);
    else
        set_freeze(fd, 0);

    // A frozen window stays frozen after its channels were set up again.
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (reprogram[w] && (m.gWininfo[w].output & 2) && !portNoSignal(m.PM_INPUT[w])) win_freeze_sel(fd, w, 2);

    // 11.
    m.set_rtct(fd, 1);

    // A window placed on pipelines, or whose source appeared, takes the
    // sharpness on them: the peaking stage belongs to the pipeline.
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (reprogram[w]) m_picture->sharpen_slot(w);

    // 12. The assignment the next change starts from.
    for (int n = 0; n < C331_CH_NUM; ++n) m.prev_win_num[n] = m.PM_WIN_NUM[n];
    for (int w = 0; w < C331_WIN_NUM; ++w)
        for (int k = 0; k < C331_CH_NUM; ++k) m.prev_win_ich[w][k] = m.win_ich[w][k];

    // 13. Dot-by-dot memory no longer needed.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const int mode = m.PM_WIN_DBD_MODE[w];
        if (mode <= 0 || (mode == 1 && check_dbd_input(fd, m.PM_INPUT[w]) == 0)) reset_dbd_mem(w);
    }

    // 14.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        m.chg_win[w] = 0;
        m.g_chg_input[w] = 0;
        m.g_chg_dbd[w] = 0;
        m.chg_attr[w] = 0;
        m.chg_stitch1[w] = 0;
    }
}

// ---------------------------------------------------------------------------
// Panel slices and ratios

void c331_chip::calc_oact(Rect owin, Slice* hs, Slice* vs, int win) {
    for (int i = 0; i < 8; ++i) hs[i] = vs[i] = Slice{0, 0, 0, 0, 0, 0, 0, 0};
    if (win < 0 || win >= C331_WIN_NUM) return;
    auto axis = [](s32 x, s32 W, s32 P, int shape, Slice* out, bool horizontal) {
        int first = -1, last = -1;
        for (int i = 0; i < shape && i < 8; ++i) {
            s32 start = 0, width = 0;
            const s32 rel = x - i * P;
            if (rel < P) {
                start = std::max(rel, 0);
                if (x + W > (i + 1) * P - 1)
                    width = P - start;
                else
                    width = std::max(0, x + W - i * P - start);
            }
            if (horizontal)
                out[i].HST = start, out[i].HW = width;
            else
                out[i].VST = start, out[i].VW = width;
            if (width > 0) {
                if (first < 0) first = i;
                last = i;
            }
        }
        if (first >= 0) (horizontal ? out[first].hfirst : out[first].vfirst) = 1;
        if (last >= 0) (horizontal ? out[last].hlast : out[last].vlast) = 1;
    };
    axis(owin.HST, owin.HW, s32(m.sys.PS_ACTHW), m.PM_WIN_SHAPE[win][0], hs, true);
    axis(owin.VST, owin.VW, s32(m.sys.PS_ACTVW), m.PM_WIN_SHAPE[win][1], vs, false);
}

void c331_chip::calc_scaling(Rect src, Rect dst, Scaling* out) {
    if (!out) return;
    auto axis = [](s32 a, s32 b, s32& mode, s32& shrink, s32& zoom) {
        mode = shrink = zoom = 0;
        if (a > 0 && a < b) {
            mode = 2;
            zoom = s32((int64_t(a - 1) * 65536) / int64_t(b - 1) + 1);
        } else if (a > b && b > 0) {
            mode = 1;
            shrink = s32((int64_t(b - 1) * 65536) / int64_t(a - 1) + 1);
        }
    };
    axis(src.HW, dst.HW, out->hmode, out->hshrink, out->hzoom);
    axis(src.VW, dst.VW, out->vmode, out->vshrink, out->vzoom);
}

void c331_chip::get_och(int win, int* och) {
    for (int i = 0; i < 8; ++i) och[i] = -1;
    for (int n = 0; n < C331_CH_NUM; ++n)
        if (m.PM_WIN_NUM[n] == win && m.PM_AREA_NUM[n] >= 0 && m.PM_AREA_NUM[n] < 8) och[m.PM_AREA_NUM[n]] = n;
}

void c331_chip::set_oscwct(int fd, int och) {
    (void)fd;
    if (och < 0 || och >= C331_CH_NUM) return;
    int w = m.PM_WIN_NUM[och], other = -1;
    if (w < 0 || w >= C331_WIN_NUM) return;
    int s = w;
    if (check_stitching_win(&s, &other) != 2) s = w;
    wr(OCH_WMODE(och), wmodeCode(m.PM_MEM_WMODE[s]));
}

void c331_chip::set_lut_vzoom_4sym(int fd, int ratio, int och) {
    (void)fd;
    if (och < 0 || och >= C331_CH_NUM) return;
    static const u8 table[24] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253, 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64};
    for (int i = 0; i < 24; ++i) {
        const u32 v = ratio < 1 ? (i == 0 ? 64u : 0u) : table[i];
        wr(OZ_VLUT(i), v, chBase(och));
    }
}

// ---------------------------------------------------------------------------
// Output channels of a window

void c331_chip::set_display_window_och(int fd, Rect src, Rect dst, int win) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    int s = win, other = -1;
    if (check_stitching_win(&s, &other) != 2) s = win;

    // Where the source picture lies: the input channel's field buffers, or
    // the window's dot-by-dot memory.
    const bool dbdMem = m.PM_WIN_DBD_MODE[s] != 0 && m.dbd_win_line[s] > 0;
    const int k0 = firstIch(s);
    int och[8];
    get_och(win, och);
    if (!dbdMem && (k0 < 0 || k0 >= C331_CH_NUM)) {
        // No input channel: the window's output channels must not draw.
        for (int i = 0; i < 8; ++i)
            if (och[i] >= 0) wr(OCH_ACT_HW, 0, chBase(och[i]));
        return;
    }
    u32 mem[5];
    for (int j = 0; j < 5; ++j) mem[j] = dbdMem ? m.dbd_win_mem[s][j] : m.sys.PS_MEM_SC[k0][j];
    const u32 line0 = dbdMem ? u32(m.dbd_win_line[s]) : 64u;
    const bool hmirror = m.attr_hflip[win] != 0, vmirror = m.attr_vflip[win] != 0;
    const u32 line = vmirror ? 256 - (line0 & 0xFF) : line0;

    Slice hs[8], vs[8];
    calc_oact(dst, hs, vs, win);
    Scaling sc;
    calc_scaling(src, dst, &sc);

    // Memory units of a horizontal position, as the window was written.
    const int wm = m.PM_MEM_WMODE[s];
    auto units = [wm](int64_t px) -> int64_t {
        switch (wm) {
        case 1: return px * 16 / 5;
        case 2: return px * 8 / 3;
        case 3: return px * 2;
        default: return px * 4;
        }
    };
    // Positions in memory: shrunk by the input channel when it shrank.
    const int64_t memX = sc.hmode == 1 ? int64_t(src.HST) * sc.hshrink / 65536 : src.HST;
    const int64_t memY = sc.vmode == 1 ? int64_t(src.VST) * sc.vshrink / 65536 : src.VST;
    const s32 memRows = sc.vmode == 1 ? dst.VW : src.VW;
    int64_t base = units(memX) + memY * int64_t(line0) * 1024;
    if (vmirror && memRows > 0) base += int64_t(memRows - 1) * int64_t(line0) * 1024;

    const int shapeH = std::max(0, m.PM_WIN_SHAPE[win][0]), shapeV = std::max(0, m.PM_WIN_SHAPE[win][1]);
    const u32 first = u32(och[0] >= 0 ? och[0] : 0);

    // Per slice: source position, initial phase, read start.
    struct AxisPos {
        s32 pos, phase;
    };
    auto slicePos = [](int64_t sum, s32 zoom, bool zoomed, bool notFirst) {
        AxisPos a{s32(sum), 0};
        if (!zoomed) return a;
        const int64_t fx = sum * zoom;
        int64_t ip = fx >> 16;
        const int64_t frac = fx & 0xFFFF;
        if (frac >= zoom) ++ip;
        a.pos = s32(ip);
        if (notFirst && a.pos >= 5) a.pos -= 4;
        a.phase = s32(((fx % 65536) + 128) / 256);
        if (a.phase > 255) a.phase = 255;
        return a;
    };

    int64_t vsum = 0;
    for (int i = 0; i < shapeV && i < 8; ++i) {
        const AxisPos vp = slicePos(vsum, sc.vzoom, sc.vmode == 2, i > 0 && vsum > 0);
        int64_t hsum = 0;
        for (int j = 0; j < shapeH && j < 8; ++j) {
            const int idx = i * shapeH + j;
            if (idx >= 8) break;
            const AxisPos hp = slicePos(hsum, sc.hzoom, sc.hmode == 2, j > 0 && hsum > 0);
            hsum += hs[j].HW;
            const int n = och[idx];
            if (n < 0) continue;
            const u32 b = chBase(n);
            const u32 lock = n == 0 ? 1u : 0x11u;
            if (u32(n) == first)
                wr(OCH_CTRL, u32(s) * 256 + lock, b);
            else
                wr(OCH_CTRL, lock + 256 * first + 0x1000, b);
            const int64_t rowOff = int64_t(vp.pos) * int64_t(line0) * 1024;
            const int64_t off = base + units(hp.pos) + (vmirror ? -rowOff : rowOff);
            for (int f = 0; f < 5; ++f) wr(OCH_MEM(f), u32(int64_t(mem[f]) + off), b);
            wr(OCH_LINE, line & 0xFF, b);
            const bool narrow = hs[j].HW < 10, shallow = vs[i].VW < 3;
            wr(OCH_ACT_HST, u32(hs[j].HST) + m.PS_ACTHST, b);
            wr(OCH_ACT_HW, narrow ? 0 : u32(hs[j].HW), b);
            wr(OCH_ACT_VST, u32(vs[i].VST) + m.PS_ACTVST, b);
            wr(OCH_ACT_VW, shallow ? 0 : u32(vs[i].VW), b);
            wr(OCH_HMIRROR, hmirror ? 1 : 0, b);
            wr(OCH_AOI_HST, m.PS_OAOIHST, b);
            const bool hz = sc.hmode == 2 && hs[j].HW > 0, vz = sc.vmode == 2 && vs[i].VW > 0;
            wr(OZ_HMODE, hz ? 199 : 0x47, b);
            wr(OZ_HPHASE, u32(hp.phase), b);
            wr(OZ_HPHASE2, u32(hp.phase), b);
            wr(OZ_HRATIO, sc.hmode == 2 ? u32(sc.hzoom) : 0, b);
            wr(OZ_VMODE, vz ? 199 : 0x47, b);
            wr(OZ_VPHASE_EN, vz && vp.phase ? 1 : 0, b);
            wr(OZ_VPHASE, u32(vp.phase), b);
            wr(OZ_VPHASE2, u32(vp.phase), b);
            wr(OZ_VRATIO, sc.vmode == 2 ? u32(sc.vzoom) : 0, b);
            set_oscwct(fd, n);
            set_lut_vzoom_4sym(fd, sc.vmode == 2 ? sc.vzoom : 0, n);
        }
        vsum += vs[i].VW;
    }
}

// ---------------------------------------------------------------------------
// Stitching

int c331_chip::check_stitching_win(int* win, int* other) {
    if (!win || !other) return 0;
    const int w = *win;
    if (w < 0 || w >= C331_WIN_NUM) return 0;
    for (int o = 0; o < C331_WIN_NUM; ++o) {
        if (o != w && m.PM_WIN_STITCHING[o] == w) {
            *other = o;
            return 1;
        }
    }
    const int src = m.PM_WIN_STITCHING[w];
    if (src != w && src >= 0 && src < C331_WIN_NUM) {
        *other = w;
        *win = src;
        return 2;
    }
    return 0;
}

void c331_chip::check_stitching_chg() {
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (m.chg_stitch1[w] || m.chg_stitch2[w]) m.chg_win[w] = 1;
        m.chg_stitch2[w] = 0;
    }
}

// ---------------------------------------------------------------------------
// Layers

void c331_chip::update_overlay_info() {
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        int k = 0;
        for (int n = 0; n < C331_CH_NUM; ++n)
            if (m.PM_WIN_NUM[n] == w) m.win_slice[w][k++] = n;
        for (; k < C331_CH_NUM; ++k) m.win_slice[w][k] = -1;
    }
    // A pipeline without a window has no priority of its own: it lies at
    // the bottom (it draws nothing once reset_act has stopped it).
    auto prio = [&](int n) {
        const int w = m.PM_WIN_NUM[n];
        return w >= 0 && w < C331_WIN_NUM ? m.PM_OVERLAY_PRI[w] : 0;
    };
    for (int mx = 0; mx < C331_CH_NUM; ++mx) {
        int cnt = 0;
        for (int n = 0; n < C331_CH_NUM && cnt < C331_CH_NUM; ++n)
            if (m.PM_OVERLAY[n] == mx + 1) m.g_och_layer[mx][cnt++] = n;
        for (int i = cnt; i < C331_CH_NUM; ++i) m.g_och_layer[mx][i] = -1;
        m.g_och_layer_cnt[mx] = cnt;
        for (int i = 0; i < cnt; ++i)
            for (int j = i + 1; j < cnt; ++j)
                if (prio(m.g_och_layer[mx][i]) > prio(m.g_och_layer[mx][j]))
                    std::swap(m.g_och_layer[mx][i], m.g_och_layer[mx][j]);
    }
}

void c331_chip::set_overlay(int fd) {
    (void)fd;
    for (int mx = 0; mx < C331_CH_NUM; ++mx) {
        u32 v = 0;
        const int cnt = std::min(m.g_och_layer_cnt[mx], C331_CH_NUM);
        for (int i = 0; i < cnt; ++i) v |= u32(m.g_och_layer[mx][i] + 8) << (4 * i);
        wr(MIX_LAYERS, v, chBase(mx));
    }
}

void c331_chip::reset_layer_coef(int fd, int mode) {
    (void)fd;
    const u32 mix = mode == 1 ? 256 : mode == 2 ? 512 : 0;
    for (int mx = 0; mx < 4; ++mx) {
        const u32 v = m.g_och_layer_cnt[mx] > 0 ? 128 : 0;
        for (int c = 0; c < 16; ++c) {
            const int top = topLayer(c) + 1;  // 0 = background
            for (int i = 0; i < 5; ++i) wr(MIX_COEF(c, i), i == top ? v : 0, chBase(mx));
            wr(MIX_SEL, mix, chBase(mx));
        }
    }
}

void c331_chip::set_layer_coef(int fd, int win, int steps, int dir) {
    always("set_layer_coef  win=%d  cnt=%d  dir=%d\n", win, steps, dir);
    if (steps < 0 || win < 0 || win >= C331_WIN_NUM) return;
    for (int s = 0; s <= steps; ++s) {
        u32 a;
        if (steps == 0)
            a = dir ? 128 : 0;
        else
            a = dir ? u32(s * 128 / steps) : u32(128 - s * 128 / steps);
        const u32 b = 128 - a;
        wr(RTCT(0), 255);
        wr(RTCT(1), 255);
        for (int mx = 0; mx < 4; ++mx) {
            const int cnt = std::min(m.g_och_layer_cnt[mx], C331_CH_NUM);
            for (int j = 0; j < cnt; ++j) {
                const int n = m.g_och_layer[mx][j];
                if (n < 0 || m.PM_WIN_NUM[n] != win) continue;
                int pos = j;
                u32 mix = 0;
                if (pos >= 4) {
                    mix = pos == 4 ? 256 : 512;
                    pos = 3;
                }
                wr(MIX_SEL, mix, chBase(mx));
                for (int c = 0; c < 16; ++c) {
                    if (topLayer(c) != pos) continue;
                    int lower = 0;  // background
                    for (int i = pos - 1; i >= 0; --i)
                        if (c & (1 << i)) {
                            lower = i + 1;
                            break;
                        }
                    wr(MIX_COEF(c, pos + 1), a, chBase(mx));
                    wr(MIX_COEF(c, lower), b, chBase(mx));
                }
            }
        }
        wr(RTCT(0), 169);
        wr(RTCT(1), 203);
        // Without output frames each step would cost a whole frame time-out
        // under the manager's mutex; jump to the last step instead.
        if (!wait1_povs(fd, 0) && s < steps) s = steps - 1;
    }
}

bool c331_chip::wait1_povs(int fd, int n) {
    (void)fd;
    if (n < 0 || n >= 8) return false;
    wr(POVS_REQ, 1u << n);
    wr(RTCT_HOLD, 0x80);
    auto frameSeen = [&] { return (rd(POVS_STAT) & (1u << n)) != 0; };
    bool seen = frameSeen();
    // Writers get the manager's mutex while the frame comes; a missing
    // output frame is given up after a few frame times.
    if (!seen) m.without_mutex([&] { seen = Utils::pollUntil(kPovsWaitMs, frameSeen); });
    if (!seen) {
        static u32 lastLog = 0;
        const u32 now = G_timeTicks;
        if (lastLog == 0 || now - lastLog > 6000) {
            lastLog = now ? now : 1;
            writeLogMsg(WARNING, "c331: no output frame seen; going on without it");
        }
    }
    wr(POVS_REQ, 0);
    wr(RTCT_HOLD, 0);
    return seen;
}

void c331_chip::reset_act(int fd, int phase) {
    (void)fd;
    if (phase == 0 || phase == 2)
        for (int k = 0; k < C331_CH_NUM; ++k)
            if (m.ich_owner[k] < 0) wr(ICH_HW, 0, chBase(k));
    if (phase == 1 || phase == 2) {
        for (int n = 0; n < C331_CH_NUM; ++n) {
            const int w = m.PM_WIN_NUM[n];
            bool used = false;
            if (w >= 0 && w < C331_WIN_NUM) {
                const int h = m.PM_WIN_SHAPE[w][0], v = m.PM_WIN_SHAPE[w][1];
                const bool hasSource = ichCount(w) > 0 || (m.PM_WIN_DBD_MODE[w] != 0 && m.dbd_win_line[w] > 0);
                used = h != 0 && v != 0 && m.PM_AREA_NUM[n] < h * v && hasSource;
            }
            if (!used) wr(OCH_ACT_HW, 0, chBase(n));
        }
    }
}

// ---------------------------------------------------------------------------
// Freeze

void c331_chip::set_freeze(int fd, int on) {
    if (!on) {
        for (int w = 0; w < C331_WIN_NUM; ++w) {
            int s = w, other = -1;
            if (check_stitching_win(&s, &other) != 2) s = w;
            const s32* f = m.win_field[s];
            for (int n = 0; n < C331_CH_NUM; ++n)
                if (m.PM_WIN_NUM[n] == w)
                    wr(OCH_FIELDS, readOrder(f), chBase(n));
            m.win_freeze[w] = 0;
        }
        return;
    }

    int wins[C331_WIN_NUM], chans[C331_WIN_NUM], cnt = 0;
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (!(m.g_chg_input[w] || m.g_chg_dbd[w] || m.chg_win[w])) continue;
        int c = m.prev_win_ich[w][0];
        if (c < 0 || c >= C331_CH_NUM) c = firstIch(w);
        if (c < 0 || c >= C331_CH_NUM) continue;
        wins[cnt] = w;
        chans[cnt] = c;
        ++cnt;
    }
    if (cnt == 0) return;
    m.set_rtct(fd, 0);
    const int c0 = chans[0];
    wr(ICH_CTRL, 2, chBase(c0));
    const u32 q = (rd(ICH_FIELD(c0)) >> 2) & 3;
    bool frozen[C331_WIN_NUM] = {};
    frozen[0] = true;
    for (int pass = 0; pass < 251; ++pass) {
        bool all = true;
        for (int i = 1; i < cnt; ++i) {
            if (frozen[i]) continue;
            if (((rd(ICH_FIELD(chans[i])) >> 2) & 3) == q) {
                wr(ICH_CTRL, 2, chBase(chans[i]));
                frozen[i] = true;
            } else {
                all = false;
            }
        }
        if (all) break;
    }
    for (int i = 0; i < cnt; ++i)
        for (int k = 0; k < C331_CH_NUM; ++k) {
            const int c = m.prev_win_ich[wins[i]][k];
            if (c >= 0 && c < C331_CH_NUM) wr(CH_CTRL(c), 1);
        }
    wait1_povs(fd, 0);

    s32* f = m.win_field[wins[0]];
    std::swap(f[(q + 3) % 4], f[4]);
    for (int i = 0; i < cnt; ++i) {
        const int w = wins[i];
        if (i > 0)
            for (int j = 0; j < 5; ++j) m.win_field[w][j] = f[j];
        for (int k = 0; k < C331_CH_NUM; ++k) {
            const int c = m.win_ich[w][k];
            if (c >= 0 && c < C331_CH_NUM) wr(ICH_FIELDS, packFields(m.win_field[w]), chBase(c));
        }
        m.win_freeze[w] = 1;
    }
    for (int n = 0; n < C331_CH_NUM; ++n) {
        const int pw = m.prev_win_num[n];
        bool shown = false;
        for (int i = 0; i < cnt; ++i) shown = shown || pw == wins[i];
        if (shown) wr(OCH_FIELDS, u32(f[4]) * 0x1111u, chBase(n));
    }
}
