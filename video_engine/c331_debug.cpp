// Bring-up and service tools of the c331: parameter and register dumps, the
// register list dump, and the fixed factory sequences the protocol's debug
// requests start. Everything prints to the console (c331_chip_print.h).
#include "video_engine/c331_chip.h"

#include "core/utils.h"
#include "platform/board.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <array>
#include <mutex>

using namespace c331print;
using namespace c331reg;

namespace {

constexpr u32 chBase(int k) { return u32(k) * kBankBaseStep; }
constexpr int kPipelines = 8;
constexpr int kDumpKinds = 14;
const char* const kDumpNames[kDumpKinds] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                                            "c331_PI",    "none",     "none",     "none",     "none",
                                            "none",       "none",     "none",     "none"};
const char kRule[] = "////////////////////////////////////////////////////////////////";

// ---- the register list: every one-byte register 0x01 to 0x7F of banks 0x00
// to 0x8F and of the status banks, in bank order. The chip maker's list had
// 7,967 entries, registers that exist only; not having it, this list holds
// every address of those banks (19,047), so it reads registers the chip
// does not have too. The data ports are left out: reading one takes a byte
// from a transfer that may be running in the c331 thread.
constexpr u8 kStatusBanks[] = {0xA8, 0xAB, 0xAE, 0xAF, 0xB2, 0xFF};
constexpr u32 kDataPorts[] = {SFL_DATA, STR_DATA, CLUT_DATA};
constexpr int kFirstReg = 0x01, kLastReg = 0x7F, kPlainBanks = 0x90;
constexpr int kRegListSize =
    (kPlainBanks + int(std::size(kStatusBanks))) * (kLastReg - kFirstReg + 1) - int(std::size(kDataPorts));

constexpr bool isDataPort(u32 c) {
    for (u32 d : kDataPorts)
        if (d == c) return true;
    return false;
}

constexpr std::array<u32, kRegListSize> makeRegList() {
    std::array<u32, kRegListSize> list{};
    size_t n = 0;
    auto addBank = [&](u32 bank) {
        for (int r = kFirstReg; r <= kLastReg; ++r) {
            const u32 c = code(bank, u32(r), 1);
            if (!isDataPort(c)) list[n++] = c;
        }
    };
    for (int b = 0; b < kPlainBanks; ++b) addBank(u32(b));
    for (u8 b : kStatusBanks) addBank(b);
    return list;
}
constexpr std::array<u32, kRegListSize> kRegList = makeRegList();

// The IT6805 read-out hook (installed by the receiver driver).
std::mutex g_it6805Mutex;
c331_chip::It6805Readout g_it6805Readout;

// One field line of the full dump.
void field(const char* name, s64 v) { always("\t %s = %lld\r\n", name, static_cast<long long>(v)); }
void field(const char* name, int i, s64 v) { always("\t %s[%d] = %lld\r\n", name, i, static_cast<long long>(v)); }
void field(const char* name, int i, int j, s64 v) {
    always("\t %s[%d][%d] = %lld\r\n", name, i, j, static_cast<long long>(v));
}
template <class T, size_t N>
void fields(const char* name, const T (&a)[N]) {
    for (size_t i = 0; i < N; ++i) field(name, int(i), s64(a[i]));
}
template <class T, size_t N, size_t M>
void fields(const char* name, const T (&a)[N][M]) {
    for (size_t i = 0; i < N; ++i)
        for (size_t j = 0; j < M; ++j) field(name, int(i), int(j), s64(a[i][j]));
}

void hdmiLines(const c331_state::PortHdmiInfo& h) {
    always("\t Hact:%d, Hsync:%d, Hback:%d, Hpol:%d, Htotal:%d\n", h.Hact, h.Hsync, h.Hback, h.Hpol, h.Htotal);
    always("\t Vact:%d, Vsync:%d, Vback:%d, Vpol:%d, Vtotal:%d\n", h.Vact, h.Vsync, h.Vback, h.Vpol, h.Vtotal);
    always("\t pfreq:%f, type:%d, datamode:%d, lane:%d, ip:%d, nosignal:%d\n", double(h.pfreq), h.type,
           h.datamode, h.lane, h.ip, h.nosignal);
}

bool validPort(int p) { return p >= 0 && p < C331_PORT_NUM; }

}  // namespace

int c331_chip::registerListSize() { return kRegListSize; }
u32 c331_chip::registerListEntry(int i) { return i >= 0 && i < kRegListSize ? kRegList[size_t(i)] : 0; }

void c331_chip::installIt6805Readout(It6805Readout readout) {
    std::lock_guard<std::mutex> lock(g_it6805Mutex);
    g_it6805Readout = std::move(readout);
}

// ---------------------------------------------------------------------------
// Register group dump

void c331_chip::zrvDbg_c331_print_regGrp(int grp) {
    always("[%s] grp:%d\n", "zrvDbg_c331_print_regGrp", grp);
    if (grp != 0) {
        line("\t not found valid grp!!!!!!!");
        return;
    }
    line(kRule);
    line("\t ICH:");
    for (int w = 0; w < C331_WIN_NUM && w < m.gMwin.wincnt; ++w) {
        const int port = m.PM_INPUT[w];
        if (validPort(port))
            always("\t\t win:%d, port:%d ich_used: ", w, port);
        else
            always("\t\t win:%d, port:none ich_used: ", w);
        for (int i = 0; i < C331_CH_NUM && m.win_ich[w][i] >= 0 && m.win_ich[w][i] < C331_CH_NUM; ++i)
            always("ICH%d ", m.win_ich[w][i] + 1);
        always("\n");
    }
    line("\t OCH:");
    for (int w = 0; w < C331_WIN_NUM && w < m.gMwin.wincnt; ++w) {
        int n = 0;
        while (n < C331_CH_NUM && m.win_slice[w][n] >= 0 && m.win_slice[w][n] < kPipelines) ++n;
        if (n == 0) continue;
        always("\t\t win:%d, och_cnt:%d used och(left -> right):", w, n);
        for (int i = 0; i < n; ++i) always(" OCH%d", m.win_slice[w][i] + 1);
        always("\n");
    }
    line(kRule);
    line("\t      OSFLD0,  OSFLD1,  OSFLD2,  OSFLD3,  OSFLD4   --- ISFLD0,  ISFLD1,  ISFLD2,  ISFLD3,  ISFLD4");
    for (int c = 0; c < kPipelines; ++c) {
        const u32 b = chBase(c);
        always("\t CH%d  %08X,%08X,%08X,%08X,%08X --- %08X,%08X,%08X,%08X,%08X\n", c + 1, rd(OCH_MEM(0), b),
               rd(OCH_MEM(1), b), rd(OCH_MEM(2), b), rd(OCH_MEM(3), b), rd(OCH_MEM(4), b), rd(ICH_MEM(0), b),
               rd(ICH_MEM(1), b), rd(ICH_MEM(2), b), rd(ICH_MEM(3), b), rd(ICH_MEM(4), b));
    }
    line("\t      OSYCT    --- ISYCT,     OMWI     --- IMWI");
    for (int c = 0; c < kPipelines; ++c) {
        const u32 b = chBase(c);
        always("\t CH%d  %08X --- %08X,  %08X --- %08X\n", c + 1, rd(OCH_CTRL, b), rd(ICH_CTRL, b), rd(OCH_LINE, b),
               rd(ICH_LINE, b));
    }
    line("\t      OACT                   ---    IACT");
    for (int c = 0; c < kPipelines; ++c) {
        const u32 b = chBase(c);
        always("\t CH%d  %04X, %04X, %04X, %04X ---    %04X, %04X, %04X, %04X\n", c + 1, rd(OCH_ACT_HST, b),
               rd(OCH_ACT_HW, b), rd(OCH_ACT_VST, b), rd(OCH_ACT_VW, b), rd(ICH_HST, b), rd(ICH_HW, b),
               rd(ICH_VST, b), rd(ICH_VW, b));
    }
    line("\t      ICHSEL  ISCWCT  OSCWCT");
    for (int c = 0; c < kPipelines; ++c)
        always("\t CH%d    %02X      %02X      %04X\n", c + 1, rd(ICH_SOURCE(c)), rd(ICH_WMODE(c)), rd(OCH_WMODE(c)));
    line(kRule);
}

// ---------------------------------------------------------------------------
// Parameter dumps

int c331_chip::zrvDbg_c331_param() {
    line("<<===OCH SPEC\r");
    const auto& o = m.gOch;
    field("gOch.hcnt", o.hcnt), field("gOch.vcnt", o.vcnt), field("gOch.splice", o.splice);
    field("gOch.lane", o.lane), field("gOch.arrang", o.arrang), field("gOch.width", o.width);
    field("gOch.height", o.height), field("gOch.htt", o.htt), field("gOch.hsw", o.hsw), field("gOch.hfp", o.hfp);
    field("gOch.vtt", o.vtt), field("gOch.vsw", o.vsw), field("gOch.vfp", o.vfp), field("gOch.use1och", o.use1och);
    const auto& p = m.gPnl;
    field("gPnl.w", p.w), field("gPnl.h", p.h), field("gPnl.out1w", p.out1w), field("gPnl.out1h", p.out1h);
    field("gPnl.out2w", p.out2w), field("gPnl.out2h", p.out2h), field("gPnl.xoffs", p.xoffs);
    field("gPnl.yoffs", p.yoffs);

    line("<<===PS VBO\r");
    const auto& s = m.sys;
    field("PS_ACTHW", s.PS_ACTHW), field("PS_ACTVW", s.PS_ACTVW), field("PS_HTOTAL", s.PS_HTOTAL);
    field("PS_VTOTAL", s.PS_VTOTAL), field("PS_HSYNC", s.PS_HSYNC), field("PS_HBP", s.PS_HBP);
    field("PS_VSYNC", s.PS_VSYNC), field("PS_VBP", s.PS_VBP), field("PS_VBOTX_MODE", s.PS_VBOTX_MODE);
    field("PS_VBOTX_LAYOUT", s.PS_VBOTX_LAYOUT), field("PS_ACTHST", m.PS_ACTHST), field("PS_ACTHEND", m.PS_ACTHEND);
    field("PS_ACTVST", m.PS_ACTVST), field("PS_ACTVEND", m.PS_ACTVEND), field("PS_OAOIHST", m.PS_OAOIHST);
    field("PS_OAOIHEND", m.PS_OAOIHEND), field("PS_OAOIVST", m.PS_OAOIVST), field("PS_OAOIVEND", m.PS_OAOIVEND);
    field("PS_CANVAS_W", m.PS_CANVAS_W), field("PS_CANVAS_H", m.PS_CANVAS_H), field("PS_OCH_H", m.PS_OCH_H);
    field("PS_OCH_V", m.PS_OCH_V);

    line("<<===PM_WIN_SHAPE\r");
    fields("PM_WIN_SHAPE", m.PM_WIN_SHAPE);
    line("<<===PM_WIN_FAD\r");
    fields("PM_WIN_FADE_EN", m.PM_WIN_FADE_EN);
    fields("PM_WIN_FADE_IN", m.PM_WIN_FADE_IN);
    fields("PM_WIN_FADE_OUT", m.PM_WIN_FADE_OUT);
    line("<<===PM_INPUT\r");
    fields("PM_INPUT", m.PM_INPUT);
    line("<<===PM_WIN_OFFSET\r");
    fields("PM_WIN_OFFSET", m.PM_WIN_OFFSET);
    fields("PM_INPUT_OFFSET", m.PM_INPUT_OFFSET);
    line("<<===PM_INPUT_OFFSET_EN\r");
    fields("PM_INPUT_OFFSET_EN", m.PM_INPUT_OFFSET_EN);
    line("<<===PM_WIN_NUM\r");
    fields("PM_WIN_NUM", m.PM_WIN_NUM);
    line("<<===PM_AREA_NUM\r");
    fields("PM_AREA_NUM", m.PM_AREA_NUM);
    line("<<===PM_OVERLAY\r");
    fields("PM_OVERLAY", m.PM_OVERLAY);
    fields("PM_OVERLAY_PRI", m.PM_OVERLAY_PRI);

    line("<<===PM OSD\r");
    field("PM_OSD_EN", m.PM_OSD_EN), field("PM_OSD_HZOOM_EN", m.PM_OSD_HZOOM_EN);
    field("PM_OSD_VZOOM_EN", m.PM_OSD_VZOOM_EN), field("PM_OSD_DATA_MODE", m.PM_OSD_DATA_MODE);
    field("PM_OSD_SCROLL_MODE", m.PM_OSD_SCROLL_MODE), field("PM_OSD_UPDATE_BUTTON", m.PM_OSD_UPDATE_BUTTON);
    field("PM_OSD_SCROLL_SPEED", m.PM_OSD_SCROLL_SPEED), field("PM_OSD_CHAR_64DOT", m.PM_OSD_CHAR_64DOT);
    field("PS_MEM_OSD_BMP", s.PS_MEM_OSD_BMP), field("PS_MEM_OSD_BUF", s.PS_MEM_OSD_BUF);
    field("PS_MEM_OSD_SCROLL", s.PS_MEM_OSD_SCROLL), field("PS_MEM_FONT", s.PS_MEM_FONT);
    line("<<===OSD_WIN\r");
    fields("PM_OSD_OUTPUT_OFFSET", m.PM_OSD_OUTPUT_OFFSET);
    fields("PM_OSD_INPUT_OFFSET", m.PM_OSD_INPUT_OFFSET);

    line("<<===PI HDMI INFO\r");
    for (int i = 0; i < C331_PORT_NUM; ++i) {
        const auto& h = m.PI_HDMI_INFO[i];
        field("PI_HDMI_INFO.Hact", i, h.Hact), field("PI_HDMI_INFO.Hsync", i, h.Hsync);
        field("PI_HDMI_INFO.Hback", i, h.Hback), field("PI_HDMI_INFO.Hpol", i, h.Hpol);
        field("PI_HDMI_INFO.Htotal", i, h.Htotal), field("PI_HDMI_INFO.Vact", i, h.Vact);
        field("PI_HDMI_INFO.Vsync", i, h.Vsync), field("PI_HDMI_INFO.Vback", i, h.Vback);
        field("PI_HDMI_INFO.Vpol", i, h.Vpol), field("PI_HDMI_INFO.Vtotal", i, h.Vtotal);
        always("\t PI_HDMI_INFO.pfreq[%d] = %f\r\n", i, double(h.pfreq));
        field("PI_HDMI_INFO.type", i, h.type), field("PI_HDMI_INFO.datamode", i, h.datamode);
        field("PI_HDMI_INFO.lane", i, h.lane), field("PI_HDMI_INFO.ip", i, h.ip);
        field("PI_HDMI_INFO.nosignal", i, h.nosignal);
    }
    return 0;
}

int c331_chip::panel_param_dump() { return zrvDbg_c331_param(); }

void c331_chip::zrvDbg_c331_param(int n) {
    const int k = ((n % kDumpKinds) + kDumpKinds) % kDumpKinds;
    always("[zrvDbg_c331_param] %s\n", kDumpNames[k]);
    switch (k) {
    case 0: zrvDbg_c331_param(); break;
    case 1:
        for (int p = 0; p < C331_PORT_NUM; ++p) {
            always("\t port:%d\n", p);
            always("\t\t PI_UPDATE:%d, PI_STATE:%d, PI_HTOTAL:%d, PI_VTOTAL:%d\n", m.PI_UPDATE[p], m.PI_STATE[p],
                   m.PI_HTOTAL[p], m.PI_VTOTAL[p]);
            always("\t\t PI_ACT: %d, %d, %d, %d\n", m.PI_ACT[p][0], m.PI_ACT[p][1], m.PI_ACT[p][2], m.PI_ACT[p][3]);
            always("\t\t PI_PORT_INFO:");
            for (s32 v : m.PI_PORT_INFO[p]) always(" %d", v);
            always("\n");
        }
        break;
    case 2: dumpMemory(); break;
    case 5:
        line("////////////////");
        for (int p = 0; p < C331_PORT_NUM; ++p) {
            always("\t PI_PORT_INFO[%d]:", p);
            for (s32 v : m.PI_PORT_INFO[p]) always(" %d", v);
            always("\n");
        }
        line("////////////////");
        for (int p = 0; p < C331_PORT_NUM; ++p)
            always("\t input port %d: %s\n", p, m.PI_HDMI_INFO[p].nosignal ? "No signal" : "Normal");
        line("////////////////");
        for (int p = 0; p < C331_PORT_NUM; ++p)
            always("\t PI_ACT[%d]: %d, %d, %d, %d\n", p, m.PI_ACT[p][0], m.PI_ACT[p][1], m.PI_ACT[p][2],
                   m.PI_ACT[p][3]);
        line("////////////////");
        break;
    case 6:
        // Forced colour white on every output pipeline.
        for (int c = 0; c < kPipelines; ++c) {
            wr(LAYER_BKG_COLOR, 0xFFFFFF, chBase(c));
            wr(LAYER_BKG_FILL, 1, chBase(c));
        }
        break;
    case 8:
        for (int c = 0; c < kPipelines; ++c) {
            wr(OCH_CHG_COLOR_EN, 1, chBase(c));
            wr(OCH_CHG_COLOR, 0x80FF80, chBase(c));
        }
        closing("\n .........input change........... ");
        break;
    case 9:
        // Zoom control of output channels 1 and 2.
        wr(OZ_HMODE, 3);
        wr(OZ_VPHASE_EN, 3);
        wr(OZ_HPHASE, 3, chBase(1));
        wr(OZ_VPHASE, 3, chBase(1));
        closing("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10: it6805Readout(); break;
    default: break;
    }
}

void c331_chip::dumpMemory() {
    line("==============WINDOW_MAX==============");
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const Rect& i = m.IWIN[w];
        const Rect& o = m.OWIN[w];
        const int p = m.PM_INPUT[w];
        always("\t win:%d IWIN(%d, %d, %d, %d) OWIN(%d, %d, %d, %d)\n", w, i.HST, i.HW, i.VST, i.VW, o.HST, o.HW,
               o.VST, o.VW);
        if (validPort(p))
            always("\t\t port:%d g_pi_ifact(%d, %d) PM_MEM_WMODE:%d PS_MEM_WMODE:%u PI_SCAN_MODE:%d\n", p,
                   m.PI_IFH[p], m.PI_IFV[p], m.PM_MEM_WMODE[w], m.sys.PS_MEM_WMODE[w], m.PI_SCAN_MODE[p]);
        else
            always("\t\t port:none PM_MEM_WMODE:%d PS_MEM_WMODE:%u\n", m.PM_MEM_WMODE[w], m.sys.PS_MEM_WMODE[w]);
    }
    line("==============INPUT_PORT==============");
    for (int p = 0; p < C331_PORT_NUM; ++p)
        always("\t port:%d field(%d, %d) FV:%f FH:%f FPICLK:%f\n", p, m.PI_IFH[p], m.PI_IFV[p], m.PI_FV[p],
               m.PI_FH[p], m.PI_FPICLK[p]);
    line("==============INPUT_CHANNEL==============");
    for (int k = 0; k < C331_CH_NUM; ++k) {
        always("\t ICH%d mem:", k + 1);
        for (u32 a : m.sys.PS_MEM_SC[k]) always(" %08X", a);
        always("\n");
    }
    for (int k = 0; k < 4; ++k)
        always("\t ICH%d ip mem: P %08X %08X I %08X %08X yoff:%u mwi:%u\n", k + 1, m.sys.PS_MEM_IP_P[k][0],
               m.sys.PS_MEM_IP_P[k][1], m.sys.PS_MEM_IP_I[k][0], m.sys.PS_MEM_IP_I[k][1], m.sys.PS_MEM_IPYOFF[k],
               m.sys.PS_MWI_IP[k]);
    line("==============VBO_RX==============");
    for (int p = 4; p < C331_PORT_NUM; ++p)
        always("\t rx:%d lane:%d state:%d\n", p - 4, m.PI_PORT_INFO[p][S::PI_LANE], m.PI_STATE[p]);
    line("==============OUTPUT_LAYER==============");
    for (int c = 0; c < C331_CH_NUM; ++c) {
        always("\t OCH%d layers:", c + 1);
        const int n = std::min(std::max(m.g_och_layer_cnt[c], 0), C331_CH_NUM);
        for (int i = 0; i < n; ++i) always(" %d", m.g_och_layer[c][i]);
        always("\n");
    }
    fields("PM_OVERLAY_PRI", m.PM_OVERLAY_PRI);
}

void c331_chip::it6805Readout() {
    It6805Readout readout;
    {
        std::lock_guard<std::mutex> lock(g_it6805Mutex);
        readout = g_it6805Readout;
    }
    if (!readout) {
        line("\t IT6805 read-out not available");
        return;
    }
    for (int rx = 0; rx < 2; ++rx) {
        S::PortHdmiInfo info{};
        always("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", rx, 4 + rx);
        if (!readout(rx, info)) {
            line("\t no record");
            continue;
        }
        hdmiLines(info);
    }
}

// ---------------------------------------------------------------------------
// Register list dump (any thread: chip registers only)

void c331_chip::c331_print() {
    c331_drv* drv = m.drv;
    const int fd = m.c331_fd;
    if (!drv) return;
    Clock& clock = Board::get().clock();
    for (size_t i = 0; i < kRegList.size(); ++i) {
        const u32 c = kRegList[i];
        always("%06X  %08Xh\n", c, drv->read_C331(fd, c, 0));
        clock.sleepUs(1);
    }
}

// ---------------------------------------------------------------------------
// Factory sequences

void c331_chip::read_c331_b174bug(int) {
    static const char* const fhm[4] = {"VI11FHM", "VI13FHM", "VI15FHM", "VI17FHM"};
    static const char* const fvm[4] = {"VI11FVM", "VI13FVM", "VI15FVM", "VI17FVM"};
    latch(true);
    u32 h[4], v[4];
    for (int l = 0; l < 4; ++l) h[l] = rd(MEAS_VCNT(4, l)), v[l] = rd(MEAS_PERIOD(4, l));
    const u32 dual = rd(ICH_DUAL(2));
    latch(false);
    for (int l = 0; l < 4; ++l) closing("\n read_c331_b174bug(B174_%s=%u ) over \n", fhm[l], h[l] + 1);
    for (int l = 0; l < 4; ++l) closing("\n read_c331_b174bug(B174_%s=%u ) over \n", fvm[l], v[l] + 1);
    closing("\n read_c331_b174bug(B3_IDUALCTCH56=%u ) over \n", dual);
}

void c331_chip::write_read_c331_b80_iacthstch5(int) {
    const u32 b = chBase(4);
    const u32 v = rd(ICH_HST, b);
    closing("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%u ) read \n", v);
    const u32 w = (v + 100) & 0xFFFF;
    wr(ICH_HST, w, b);
    const u32 back = rd(ICH_HST, b);
    closing("\n write_read_c331_b80_iacthstch5(B80_IACTHSTCH5=%u ) write, read back %u over \n", w, back);
}

void c331_chip::vbyone_rx_ch1_seq(int) { vboRxRestart(0, 14); }
void c331_chip::vbyone_rx_ch2_seq(int) { vboRxRestart(1, 13); }

void c331_chip::vboRxRestart(int ch, u32 page) {
    wr(VBORX_PAGE, page);
    wr(VBORX_PAGE, 15);
    wr(VBORX_RESET(ch), 5);
    wr(VBORX_LANE_EN(ch), 0xFF);
    wr(VBORX_FRANGE(ch), 0xAB);
    closing(ch == 0 ? "\n vbyone_rx_ch1_seq over " : "\n vbyone_rx_ch2_seq over ");
}

namespace {
using SlideBar = c331_chip::SlideBar;
constexpr SlideBar kOutputBars[] = {
    {0, {255, 255, 255}, {3, 3, 3}}, {1, {255, 0, 0}, {3, 0, 0}}, {2, {0, 255, 0}, {0, 3, 0}}, {3, {0, 0, 255}, {0, 0, 3}}};
constexpr SlideBar kInputBars[] = {{4, {255, 255, 255}, {3, 3, 3}}, {5, {0, 255, 0}, {0, 3, 0}}};
constexpr int kSlidePipelines = 6;
}  // namespace

void c331_chip::slideBars(const SlideBar* bars, int n, u32 type, u32 width) {
    for (int i = 0; i < n; ++i) {
        const u32 b = chBase(bars[i].pipeline);
        wr(PAT_TYPE, type, b);
        for (int j = 0; j < 3; ++j) wr(PAT_CTRL(j), 0, b);
        wr(PAT_HSTEP, 0xA0, b);
        wr(PAT_HSTART, 0, b);
        wr(PAT_BAR, 0x20, b);
        wr(PAT_WIDTH, width, b);
        for (int j = 0; j < 3; ++j) wr(PAT_COLOR1(j), bars[i].colour1[j], b);
        for (int j = 0; j < 3; ++j) wr(PAT_COLOR2(j), bars[i].colour2[j], b);
    }
}

void c331_chip::output_slidebar(int) {
    slideBars(kOutputBars, int(std::size(kOutputBars)), 9, 0x560);
    closing("\n output_slidebar over ");
}

void c331_chip::input_slidebar(int) {
    slideBars(kInputBars, int(std::size(kInputBars)), 0x89, 0xAC0);
    closing("\n input_slidebar over ");
}

void c331_chip::disable_slidebar(int) {
    for (int c = 0; c < kSlidePipelines; ++c) wr(PAT_TYPE, 0, chBase(c));
    closing("\n disable_slidebar over ");
}

void c331_chip::sync_c331_device_test_input(int) {
    wr(PLL(1), 0x89);
    wr(PLL(2), 0x43);
    wr(PLL(3), 2);
    wr(PLL(4), 0x10);
    wr(OCH_TEST_SYNC, 1);
    wr(OCH_TEST_MODE, 0xC4);
    // A settle time of the chip: writers need not wait for it.
    m.without_mutex([] { Board::get().clock().sleepMs(100); });
    wr(OCH_TEST_MODE, 0);
    closing("\n sync_c331_device_test_input over ");
}

void c331_chip::sync_c331_device_test_frame_lock(int) {
    wr(OCH_TEST_MODE, 4);
    wr(OCH_CTRL, 3);
    wr(OCH_TEST_SYNC, 1);
    for (int c = 0; c < kPipelines; ++c) wr(OCH_TEST_HTT, 5612, chBase(c));
    closing("\n sync_c331_device_test_frame_lock over ");
}

// ---------------------------------------------------------------------------
// Bring-up helpers nothing calls

void c331_chip::c331_outputTimmingCtrlReg(char ctrl1, char ctrl2) {
    const u8 c1 = u8(ctrl1), c2 = u8(ctrl2);
    // Bit 0 of each byte enables the output's sync. Which of the other bits
    // select the clock, sync and field sources is not known here: they are
    // shown as they are.
    always("\t POSY1EN: %s, POSY2EN: %s\n", (c1 & 1) ? "on" : "off", (c2 & 1) ? "on" : "off");
    always("\t OUT1 sources:%02X, OUT2 sources:%02X\n", c1 >> 1, c2 >> 1);
    wr(OUT_TIMING_CTRL, u32(c1) | u32(c2) << 8);
}

void c331_chip::c331_calc_PixelCLK() {
    for (const auto& [clock, title] : {std::pair<u32, const char*>{9900000, "9.9MHz"}, {4950000, "4.95MHz"}}) {
        always("[c331_calc_PixelCLK] %s\n", title);
        for (u32 htt = 100; htt <= 17407; ++htt)
            if (clock % htt == 0) always("htt:%u\n", htt);
    }
}
