// Input ports: which receiver feeds which c331 port, the take-over of the
// receivers' timing, the c331's own measurement of each port in use, and
// the Vby-One receivers. A change marks the windows of the port so that the
// manager reprograms them.
#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace c331print;
using namespace c331reg;

namespace {
using s64 = int64_t;

// c331 port -> input, and input -> port: the table is its own inverse.
const int kPortInput[6] = {3, 2, 1, 0, 5, 4};

constexpr s32 kMaxCount = 65534;        // 16-bit counters, + 1
constexpr s32 kMaxPeriod = 16777214;    // 24-bit frame period, + 1
constexpr double kMeasureClock = 200000000.0;

bool inRange(s64 v, s64 lo, s64 hi) { return v >= lo && v <= hi; }
}  // namespace

int c331_chip::zrvApi_GetPortDevId(int port) { return port >= 0 && port <= 5 ? kPortInput[port] : 3; }

int c331_chip::zrvApi_inputCvtC331(int input) { return input >= 0 && input <= 5 ? kPortInput[input] : 255; }

int c331_chip::zrvApi_GetWinDbdMultiPort(int win, int* ports) {
    for (int i = 0; i < 6; ++i) ports[i] = 6;
    if (win < 0 || win >= C331_WIN_NUM) return 0;
    switch (m.PM_WIN_DBD_MODE[win]) {
    case 20:
    case 21: ports[0] = 0, ports[1] = 1; return 1;
    case 22:
    case 23: ports[0] = 2, ports[1] = 3; return 1;
    case 30: ports[0] = 0, ports[1] = 1, ports[2] = 2; return 1;
    case 40:
    case 41: ports[0] = 0, ports[1] = 1, ports[2] = 2, ports[3] = 3; return 1;
    case 50:
    case 51: ports[0] = 5, ports[1] = 4; return 1;
    default: return 0;
    }
}

bool c331_chip::windowJoinsPorts(int win) {
    int list[6];
    return m.PM_WIN_DBD_MODE[win] > 1 && zrvApi_GetWinDbdMultiPort(win, list);
}

bool c331_chip::windowShowsPort(int win, int port) {
    int ports[6];
    const int n = windowPorts(win, ports);
    return std::find(ports, ports + n, port) != ports + n;
}

int c331_chip::windowPorts(int win, int* ports) {
    int list[6];
    if (windowJoinsPorts(win)) {
        zrvApi_GetWinDbdMultiPort(win, list);
        int n = 0;
        for (int i = 0; i < 6 && list[i] < 6; ++i) ports[n++] = list[i];
        return n;
    }
    const int p = m.PM_INPUT[win];
    if (p < 0 || p >= C331_PORT_NUM) return 0;
    ports[0] = p;
    return 1;
}

// ---------------------------------------------------------------------------

void c331_chip::load_hdmi() {
    for (int p = 0; p < C331_PORT_NUM; ++p) {
        const int d = zrvApi_GetPortDevId(p);
        S::PortHdmiInfo in;
        s32 stable = 0;
        if (!readHdmi(d, in, stable) || stable == 0) continue;
        S::PortHdmiInfo& c = m.PI_HDMI_INFO[p];
        bool changed = false;
#define TAKE(f)                                                                   \
    if (c.f != in.f) {                                                            \
        dbg("\n [load_hdmi]" #f "=%d,%d,chaned! \n", int(c.f), int(in.f));        \
        c.f = in.f;                                                               \
        changed = true;                                                           \
    }
        TAKE(Hact)
        TAKE(Hsync)
        TAKE(Hback)
        TAKE(Hpol)
        TAKE(Htotal)
        TAKE(Vact)
        TAKE(Vsync)
        TAKE(Vback)
        TAKE(Vpol)
        TAKE(Vtotal)
        // Compared as floats; the copy may hold the invalidation pattern.
        if (!(c.pfreq == in.pfreq)) {
            dbg("\n [load_hdmi]pfreq=%f,%f,chaned! \n", double(c.pfreq), double(in.pfreq));
            c.pfreq = in.pfreq;
            changed = true;
        }
        TAKE(type)
        TAKE(lane)
        TAKE(ip)
        TAKE(datamode)
        TAKE(nosignal)
#undef TAKE
        if (!changed) continue;
        always("[load_hdmi] chg_input, port:%d, dev_id:%d\n", p, d);
        dbg("\t hact:%d, hsync:%d, hback:%d, hpol:%d, htt:%d\n", c.Hact, c.Hsync, c.Hback, c.Hpol, c.Htotal);
        dbg("\t vact:%d, vsync:%d, vback:%d, vpol:%d, vtt:%d\n", c.Vact, c.Vsync, c.Vback, c.Vpol, c.Vtotal);
        dbg("\t pfreq:%f, type:%d, lane:%d, ip:%d, datamode:%d, nosignal:%d\n", double(c.pfreq), c.type, c.lane, c.ip,
            c.datamode, c.nosignal);
        for (int w = 0; w < C331_WIN_NUM; ++w) {
            if (!windowShowsPort(w, p)) continue;
            m.g_chg_input[w] = 1;
            if (windowJoinsPorts(w)) {
                always("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, m.PM_WIN_DBD_MODE[w]);
                set_ichsel(m.c331_fd, w);
            } else {
                always("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
            }
        }
    }
}

// ---------------------------------------------------------------------------

void c331_chip::restartVboRx(int ch, u32 laneMask) {
    if (ch < 0 || ch > 1) return;
    wr(VBORX_PAGE, ch == 0 ? 14 : 13);
    wr(VBORX_PAGE, 15);
    wr(VBORX_RESET(ch), 5);
    wr(VBORX_LANE_EN(ch), laneMask);
}

void c331_chip::check_port_valid(int fd) {
    (void)fd;
    bool checked[C331_PORT_NUM] = {};
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        int ports[6];
        const int n = windowPorts(w, ports);
        for (int i = 0; i < n; ++i) {
            const int p = ports[i];
            if (checked[p]) continue;
            checked[p] = true;
            {
                QMutexLocker lock(&Utils::_check_nosig_mutex);
                if (!(m.port_check[p] & 0x80)) continue;
            }
            latch(true);
            const s64 H = s64(rd(MEAS_HTT(p))) + 1;
            (void)rd(MEAS_VTT(p));
            const s64 V = s64(rd(MEAS_VCNT(p))) + 1;
            const s64 F = s64(rd(MEAS_PERIOD(p))) + 1;
            (void)rd(MEAS_HW(p));
            latch(false);
            const bool valid = inRange(H, 2, kMaxCount) && inRange(V, 2, kMaxCount) && inRange(F, 2, kMaxPeriod);
            {
                QMutexLocker lock(&Utils::_check_nosig_mutex);
                m.port_check[p] = valid ? (m.port_check[p] & ~1) : ((m.port_check[p] & 0x7F) | 1);
            }
            // Only the Vby-One ports have a receiver to restart.
            if (!valid && p >= 4) {
                restartVboRx(p - 4, 0x80);
                set_VBORXfrange(m.c331_fd, p - 4, 1, 0);
            }
        }
    }
}

// ---------------------------------------------------------------------------

void c331_chip::set_pict(int fd, int datamode, int port) {
    (void)fd;
    if (port < 0 || port > 3) return;
    wrm(IN_DATAMODE, datamode ? 1u << (4 * port) : 0, 1u << (4 * port));
}

void c331_chip::set_sypol(int fd, int vbo, int idx) {
    (void)fd;
    const int port = vbo ? idx + 4 : idx;
    if (port < 0 || port >= C331_PORT_NUM || (vbo && idx > 1)) return;
    const S::PortHdmiInfo& h = m.PI_HDMI_INFO[port];
    const u32 pol = u32((h.Vpol & 1) + 2 * (h.Hpol & 1));
    const u32 reg = vbo ? SYNC_POL_VBO : SYNC_POL_CMOS;
    latch(true);
    u32 v = rd(reg);
    latch(false);
    if (vbo) {
        const u32 shift = 16u * u32(idx);
        v = (v & ~(0xFFFFu << shift)) | ((pol * 0x1111u) << shift);
    } else {
        const u32 shift = 8u * u32(idx);
        v = (v & ~(0xFFu << shift)) | ((pol + 4) << shift);
    }
    wr(reg, v);
}

int c331_chip::vboLanes(int port) const {
    if (port < 0 || port >= C331_PORT_NUM) return 0;
    return m.PI_HDMI_INFO[port].lane;
}

void c331_chip::set_VBOInput(int fd, int ch) {
    if (ch < 0 || ch > 1) return;
    set_sypol(fd, 1, ch);
    u32 laneWord, modeByte;
    switch (vboLanes(ch + 4)) {
    case 1: laneWord = 0, modeByte = 0; break;
    case 2: laneWord = 1, modeByte = 0x10; break;
    case 4: laneWord = 0x11, modeByte = 0x04; break;
    default: laneWord = 0x404, modeByte = 0x02; break;
    }
    wr(VBORX_LANES(ch), laneWord);
    wrm(VBORX_MODE, modeByte << (8 * ch), 0xFFu << (8 * ch));
}

void c331_chip::set_VBORXfrange(int fd, int ch, int mode, float rate) {
    (void)fd;
    if (ch < 0 || ch > 1) return;
    const u32 R = VBORX_FRANGE(ch);
    if (mode == 1) {
        wr(R, rd(R) ^ 0x08);
        return;
    }
    wrm(R, rate < 50000000.0f ? 0x08 : 0, 0x08);
    const u32 lockBit = 1u << (5 + 2 * ch);
    if (rd(VBORX_LOCK) & lockBit) return;
    for (int i = 0; i < 250; ++i) {
        if (rd(MEAS_PERIOD(ch + 4)) < u32(kMaxPeriod)) break;
        if (rd(VBORX_LOCK) & lockBit) break;
    }
}

void c331_chip::wait1_pivs(int fd, int idx) {
    (void)fd;
    if (idx < 0 || idx > 7) return;
    wr(c331reg::PIVS_REQ, 1u << idx);
    wr(c331reg::RTCT_HOLD, 0x80);
    const u32 stat = PIVS_STAT, cnt = ICH_NOINPUT(idx);
    auto frameOrNoInput = [&] { return (rd(stat) & (1u << idx)) || rd(cnt) == 0xFF; };
    // About three input frames at most.
    if (!frameOrNoInput()) m.without_mutex([&] { Utils::pollUntil(kPivsWaitMs, frameOrNoInput); });
    wr(c331reg::PIVS_REQ, 0);
    wr(c331reg::RTCT_HOLD, 0);
}

void c331_chip::wait1_pivs2(int fd) {
    int best = -1;
    double lowest = 120.0;
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        if (!m.chg_win[w] && !m.g_chg_input[w] && !m.g_chg_dbd[w]) continue;
        const int p = m.PM_INPUT[w];
        if (p < 0 || p >= C331_PORT_NUM) continue;
        if (m.PI_FV[p] < lowest) {
            lowest = m.PI_FV[p];
            best = w;
        }
    }
    const int ich = best >= 0 ? firstIch(best) : -1;
    if (ich >= 0 && ich < 8)
        wait1_pivs(fd, ich);
    else
        m.Sleep(45);
}

int c331_chip::check_dbd_input(int fd, int port) {
    (void)fd;
    if (port < 0 || port >= C331_PORT_NUM) return 0;
    const int limitW = port < 4 ? 2560 : 5120;
    return m.PI_ACT_FULL[port][1] > limitW || m.PI_ACT_FULL[port][3] > 2176 ? 1 : 0;
}

void c331_chip::reset_dbd_mem(int win) {
    if (win < 0 || win >= C331_WIN_NUM) return;
    for (int b = 0; b < C331_WIN_NUM; ++b)
        if (m.dbd_blk_owner[b] == win) m.dbd_blk_owner[b] = -1;
    for (int i = 0; i < 4; ++i) m.dbd_win_blk[win][i] = -1;
    for (int j = 0; j < 5; ++j) m.dbd_win_mem[win][j] = 0;
    m.dbd_win_line[win] = 0;
}

// ---------------------------------------------------------------------------

void c331_chip::check_input_port(int fd) {
    for (int p = 0; p < C331_PORT_NUM; ++p) {
        // 1. The first window that shows the port.
        int w = 0;
        while (w < C331_WIN_NUM && !windowShowsPort(w, p)) ++w;
        if (w == C331_WIN_NUM) continue;

        // 2. Only a receiver with a stable record is measured.
        S::PortHdmiInfo rx;
        s32 stable = 0;
        if (!readHdmi(zrvApi_GetPortDevId(p), rx, stable) || stable == 0) continue;

        // 3. Measure.
        m.PI_UPDATE[p] = 0;
        s32* info = m.PI_PORT_INFO[p];
        const s32 prevHtt = info[S::PI_HTT], prevVtt = info[S::PI_VTT], prevVcnt = info[S::PI_VCNT];
        const s32 prevPeriod = info[S::PI_FPERIOD], prevHw = info[S::PI_HW], prevNosig = info[S::PI_NOSIG];
        latch(true);
        info[S::PI_HTT] = s32(rd(MEAS_HTT(p))) + 1;
        info[S::PI_VTT] = s32(rd(MEAS_VTT(p)));
        info[S::PI_VCNT] = s32(rd(MEAS_VCNT(p))) + 1;
        info[S::PI_FPERIOD] = s32(rd(MEAS_PERIOD(p))) + 1;
        info[S::PI_HW] = s32(rd(MEAS_HW(p)));
        latch(false);

        // 4. Signal or not.
        int nosig = 0;
        if (!inRange(info[S::PI_HTT], 2, kMaxCount) || !inRange(info[S::PI_FPERIOD], 2, kMaxPeriod))
            nosig = 1;
        else if (!inRange(info[S::PI_VCNT], 2, kMaxCount))
            nosig = 1;
        if (m.PI_HDMI_INFO[p].nosignal == 1) nosig = 1;
        info[S::PI_NOSIG] = nosig;
        const bool vbo = p >= 4;
        const int ch = p - 4;
        const S::PortHdmiInfo& h = m.PI_HDMI_INFO[p];

        // 5. No signal.
        if (nosig) {
            if (prevNosig == 0) {
                m.set_input_bkg(fd, p, 1);
                if (m.PI_STATE[p] != 0) m.PI_UPDATE[p] = 1;
                m.PI_IFH[p] = m.PI_IFV[p] = 0;
                m.PI_FV[p] = m.PI_FH[p] = m.PI_FPICLK[p] = 0;
                m.PI_HTOTAL[p] = m.PI_VTOTAL[p] = 0;
                m.PI_STATE[p] = 0;
                m.PI_SCAN_MODE[p] = 0;
                const s32 reset[4] = {16, 0, 16, 0};
                for (int i = 0; i < 4; ++i) m.PI_ACT[p][i] = m.PI_ACT_FULL[p][i] = reset[i];
                if (!vbo) {
                    set_pict(fd, 0, p);
                    continue;
                }
            }
            if (vbo) {
                restartVboRx(ch, 0x80);
                set_VBORXfrange(fd, ch, 1, 0);
            }
            continue;
        }

        // 6. Unchanged within the tolerances?
        const bool same = prevNosig == 0 && std::abs(info[S::PI_HTT] - prevHtt) <= 2 &&
                          std::abs(info[S::PI_VTT] - prevVtt) <= 2 && std::abs(info[S::PI_VCNT] - prevVcnt) <= 100 &&
                          std::abs(info[S::PI_FPERIOD] - prevPeriod) <= 100 && info[S::PI_HW] == prevHw &&
                          m.PI_STATE[p] != 0;
        bool update = !same;
        if (same && m.g_chg_input[w] != 0) {
            dbg("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", 0, w, m.g_chg_input[w]);
            update = true;
        }

        // 7. New or changed timing.
        int lanes = vbo ? std::max(1, h.lane) : 0;
        u32 laneMask = 0x80;
        if (vbo) laneMask = lanes == 8 ? 0xFF : lanes == 4 ? 0xF0 : lanes == 2 ? 0xC0 : 0x80;
        if (update) {
            m.PI_FV[p] = kMeasureClock / double(info[S::PI_FPERIOD]);
            const float P = float(h.Htotal) * float(m.PI_FV[p]) * float(h.Vtotal);
            int state;
            if (!vbo) {
                set_pict(fd, h.datamode, p);
                set_sypol(fd, 0, p);
                state = h.datamode ? 3 : 4;
                m.PI_SCAN_MODE[p] = 0;
                info[S::PI_IP] = 0;
                if (h.ip) {
                    int ipState = 0;
                    if (h.Vtotal >= 560 && h.Vtotal <= 565)
                        ipState = m.PI_FV[p] >= 55.0 ? 5 : 6;
                    else if (h.Vtotal >= 266 && h.Vtotal <= 350)
                        ipState = 8;
                    else if (h.Vtotal >= 260 && h.Vtotal <= 265)
                        ipState = 7;
                    if (ipState) {
                        state = ipState;
                        m.PI_SCAN_MODE[p] = 1;
                        info[S::PI_IP] = 1;
                    }
                }
            } else {
                restartVboRx(ch, laneMask);
                set_VBORXfrange(fd, ch, 0, P / float(lanes));
                set_VBOInput(fd, ch);
                state = (h.Hact <= 2176 && P <= 324000000.0f && lanes < 4) ? 4 : 1;
                m.PI_SCAN_MODE[p] = 0;
                info[S::PI_IP] = 0;
            }
            m.PI_STATE[p] = state;
            info[S::PI_PSTATE] = state;
            info[S::PI_LANE] = lanes;
            m.PI_HTOTAL[p] = h.Htotal;
            m.PI_VTOTAL[p] = h.Vtotal;
            m.PI_FPICLK[p] = double(P);
            m.PI_FH[p] = m.PI_FV[p] * double(h.Vtotal);
            m.PI_ACT_FULL[p][0] = h.Hsync + h.Hback;
            m.PI_ACT_FULL[p][1] = h.Hact;
            m.PI_ACT_FULL[p][2] = h.Vsync + h.Vback;
            m.PI_ACT_FULL[p][3] = h.Vact;
            for (int i = 0; i < 4; ++i) m.PI_ACT[p][i] = m.PI_ACT_FULL[p][i];
            if (state < 4) {
                m.PI_ACT[p][0] /= 2;
                m.PI_ACT[p][1] /= 2;
            }
            m.PI_UPDATE[p] = 1;
        }

        // 9. Vby-One lane check.
        if (vbo) {
            const int pairs = lanes >= 8 ? 4 : lanes >= 4 ? 2 : 1;
            bool bad = false;
            latch(true);
            s64 vc[4], fp[4];
            for (int i = 0; i < 4; ++i) vc[i] = s64(rd(MEAS_VCNT(p, i))) + 1;
            for (int i = 0; i < 4; ++i) fp[i] = s64(rd(MEAS_PERIOD(p, i))) + 1;
            latch(false);
            for (int i = 0; i < pairs; ++i)
                if (!inRange(vc[i], 2, kMaxCount) || !inRange(fp[i], 2, kMaxPeriod)) bad = true;
            if (bad) {
                restartVboRx(ch, laneMask);
                continue;
            }
        } else if (!update) {
            continue;
        }

        // 10. Updated: the crops on the port follow the new picture size.
        if (m.PI_UPDATE[p]) {
            dbg("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, m.PI_STATE[p],
                m.PI_SCAN_MODE[p], m.PI_HTOTAL[p], m.PI_VTOTAL[p]);
            dbg("                   ACTHW=%4d  ACTVW=%4d  FV=%8.4f  FPICLK=%.4f\n", m.PI_ACT[p][1], m.PI_ACT[p][3],
                m.PI_FV[p], m.PI_FPICLK[p]);
            zrvApi_updateCrop(p);
        }
    }
}
