#include "video_engine/c331_timing.h"

#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_regs.h"

#include <algorithm>
#include <cstdio>

namespace {
// Output timing registers, per output channel (bank base 16 x channel).
using c331reg::OCH_ACT_HST;
using c331reg::OCH_ACT_HW;
using c331reg::OCH_ACT_VST;
using c331reg::OCH_ACT_VW;
// The total pixels less 2 share the register a window's set-up later
// writes its source into.
constexpr u32 OCH_HTOTAL = c331reg::OCH_CTRL;
constexpr u32 OCH_VTOTAL = 0x080C02;
constexpr u32 OCH_1D = 0x081D02;
constexpr u32 OCH_HST_A = 0x082802, OCH_HEND_A = 0x082A02, OCH_VST_A = 0x082C02, OCH_VEND_A = 0x082E02;
constexpr u32 OCH_HST_B = 0x083002, OCH_HEND_B = 0x083202, OCH_VST_B = 0x083402, OCH_VEND_B = 0x083602;
// Sync widths of the output (bank 3).
constexpr u32 OUT_HSW_A = 0x034401, OUT_VSW_A = 0x034501, OUT_HSW_B = 0x034C01, OUT_VSW_B = 0x034D01;
// Vby-One transmitter lanes and maps.
constexpr u32 VBO_LANE_MAP = 0x035504;
constexpr u32 VBO_MAP_A = 0x035E04, VBO_MAP_B = 0x036204;
constexpr u32 VBO_A_2C = 0x032C02, VBO_A_2E = 0x032E01, VBO_A_2F = 0x032F02;
constexpr u32 VBO_B_36 = 0x033602, VBO_B_38 = 0x033801, VBO_B_39 = 0x033902;
constexpr u32 VBO_TX_A = 0x020801, VBO_TX_B = 0x027801;
constexpr u32 VBO_TX_A18 = 0x021801, VBO_TX_B30 = 0x023001;
// Output clock settings (bank 0).
constexpr u32 CLK_47 = 0x004701, CLK_48 = 0x004801, CLK_4B = 0x004B01;
constexpr u32 CLK_4C = 0x004C01, CLK_4D = 0x004D01, CLK_50 = 0x005001;
constexpr u32 kIdentityMap = 0x76543210;

// Image bytes of the output-channel layout read by the FPGA side.
constexpr u32 IMG_SPLICE = 1376;
constexpr u32 IMG_XOFFS = 1382, IMG_YOFFS = 1384, IMG_CNT_A = 1386, IMG_CNT_B = 1388;
constexpr u32 IMG_OCH_W = 1390, IMG_OCH_H = 1392, IMG_LANE = 1394;

const char* const kSpliceNames[6] = {"SPLICE MODE: NONE", "SPLICE MODE: HV",   "SPLICE MODE: V",
                                     "SPLICE MODE: H",    "SPLICE MODE: CP12", "SPLICE MODE: CP21"};

typedef int64_t s64;

u32 ceilDiv(u64 a, u64 b) { return b ? u32((a + b - 1) / b) : 0; }
u16 word16(s64 v) { return u16(std::min<s64>(std::max<s64>(v, 0), 0xFFFF)); }

const char* arrangName(u32 arrang) {
    switch (arrang) {
    case c331_timing::ARRANG2K4_2x1: return "ARRANG2K4_2x1";
    case c331_timing::ARRANG2K4_4x1_8K: return "ARRANG2K4_4x1_8K";
    case c331_timing::ARRANG2K4_2x2_8K: return "ARRANG2K4_2x2_8K";
    case c331_timing::ARRANG2K4_1x2: return "ARRANG2K4_1x2";
    default: return "ARRANG?";
    }
}
}  // namespace

// The output clock makes a few pixel rates, so the panel set-up picks its
// totals from a list of frames the clock can fill. The list is built once:
// horizontal totals from 660 to 8280 in steps of 4 (channel widths come in
// whole groups of four pixels); for each, the vertical total that fills a
// frame of 9,900,000, 7,425,000, 5,940,000 and 5,094,049 pixels (594, 445.5,
// 356.4 and 305.6 MHz at 60 Hz), rounded up, kept when it lies between 1,196
// and 15,000 lines. The largest frame comes first within one horizontal
// total, so the list starts at (660, 15000), ends at (8280, 1196), its
// vertical totals fall along it, every product lies between 5,094,049 and
// 9,933,552, and it holds 5,274 pairs.
const std::vector<c331_timing_pair>& c331_timing::timing_list() {
    static const std::vector<c331_timing_pair> list = [] {
        static const u64 frames[] = {9900000, 7425000, 5940000, 5094049};
        std::vector<c331_timing_pair> out;
        out.reserve(5400);
        for (u32 h = 660; h <= 8280; h += 4) {
            for (u64 frame : frames) {
                const u64 v = (frame + h - 1) / h;
                const u64 product = v * h;
                if (v < 1196 || v > 15000 || product < 5094049 || product > 9933552) continue;
                out.push_back({h, u32(v)});
            }
        }
        return out;
    }();
    return list;
}

bool c331_timing::find_timing(u32 htt, u32 vtt, c331_timing_pair* found) {
    for (const c331_timing_pair& p : timing_list()) {
        if (p.htt >= htt && p.vtt >= vtt) {
            if (found) *found = p;
            return true;
        }
    }
    return false;
}

const char* c331_timing::splice_name(u32 mode) { return kSpliceNames[mode % 6]; }

c331_timing::c331_timing(c331_drv& drv, const int& fd, c331_state& st, c331_pic_host& host, PARA_RAM_IMAGE* image)
    : m_drv(drv), m_fd(fd), m_st(st), m_host(host), m_image(image) {}

PARA_RAM_IMAGE* c331_timing::image() const {
    if (m_image) return m_image;
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    return zp ? &zp->live_image : nullptr;
}

int c331_timing::zrvApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice) {
    m_st.gPnl = c331_state::ST_PANEL{};
    m_st.gOch = c331_state::ST_OCH_SPEC{};
    const u32 mode = u32(splice % 6 + 6) % 6;
    debugPrintf("[zrvApi_PnlInit2] ledW:%d ledH:%d, out1w:%d, out1h:%d, splice:%s\n", ledW, ledH, out1W, out1H,
                splice_name(mode));

    // The words come from the image, where the protocol may have put
    // anything: a wall or output size below zero or an output larger than
    // the wall would make the other output negative.
    if (ledW < 0 || ledH < 0 || ledW > kMaxWall || ledH > kMaxWall) {
        // Past the largest wall the outputs can carry the totals would no
        // longer fit the 16-bit timing registers.
        char msg[128];
        std::snprintf(msg, sizeof msg, "c331: LED wall %dx%d out of range, limited to %d", ledW, ledH, kMaxWall);
        writeLogMsg(WARNING, msg);
        ledW = std::min(std::max(ledW, 0), kMaxWall);
        ledH = std::min(std::max(ledH, 0), kMaxWall);
    }
    if (out1W < 0 || out1W > ledW || out1H < 0 || out1H > ledH) {
        const int w1 = std::min(std::max(out1W, 0), ledW);
        const int h1 = std::min(std::max(out1H, 0), ledH);
        if ((mode == SPLICE_H && w1 != out1W) || ((mode == SPLICE_HV || mode == SPLICE_V) && h1 != out1H)) {
            char msg[160];
            std::snprintf(msg, sizeof msg, "c331: output 1 %dx%d does not fit the %dx%d wall, taken as %dx%d", out1W,
                          out1H, ledW, ledH, w1, h1);
            writeLogMsg(WARNING, msg);
        }
        out1W = w1;
        out1H = h1;
    }

    c331_state::ST_PANEL& p = m_st.gPnl;
    p.w = ledW;
    p.h = ledH;
    switch (mode) {
    case SPLICE_NONE:
    case SPLICE_CP12:
        p.out1w = ledW;
        p.out2w = ledW;
        p.out1h = ledH;
        p.out2h = 0;
        break;
    case SPLICE_HV:
    case SPLICE_V:
        p.out1w = ledW;
        p.out2w = 0;
        p.out1h = out1H;
        p.out2h = ledH - out1H;
        break;
    case SPLICE_H:
        p.out1w = out1W;
        p.out2w = ledW - out1W;
        p.out1h = ledH;
        p.out2h = 0;
        break;
    default:  // CP21: no output sizes
        break;
    }
    m_st.gOch.splice = mode;

    zrvApi_PnlInitOch3();

    m_host.panel_layout_rebuild();
    return m_host.panel_param_dump();
}

void c331_timing::zrvApi_PnlInitOch3() {
    c331_state::ST_PANEL& p = m_st.gPnl;
    c331_state::ST_OCH_SPEC& o = m_st.gOch;
    const bool vsplice = o.splice == SPLICE_HV || o.splice == SPLICE_V;
    const u64 W = vsplice ? u64(p.out1w) + u64(p.out2w) : u64(std::max(p.out1w, p.out2w));
    const u64 H = vsplice ? u64(std::max(p.out1h, p.out2h)) : u64(p.out1h) + u64(p.out2h);
    const bool over = W * H > kOneChannelLimit;

    o.hsw = 12;
    o.vsw = 3;
    o.hfp = 16;
    o.vfp = 16;
    o.lane = 0;
    u32 hblank = 0, vblank = 0;
    auto row = [&](u8 across, u8 down, u32 arrang, u32 hfp, u32 vfp, u32 vsw, u32 hb, u32 vb) {
        o.hcnt = across;
        o.vcnt = down;
        o.arrang = arrang;
        o.hfp = hfp;
        o.vfp = vfp;
        o.vsw = vsw;
        hblank = hb;
        vblank = vb;
    };
    switch (o.splice) {
    case SPLICE_HV:
    case SPLICE_V:
        if (over)
            row(2, 2, ARRANG2K4_2x2_8K, 32, 32, 12, 76, 76);
        else if (o.splice == SPLICE_HV)
            row(1, 2, ARRANG2K4_1x2, 4, 4, 3, 20, 12);
        else
            row(1, 2, ARRANG2K4_1x2, 4, 3, 3, 20, 38);
        break;
    case SPLICE_H:
        if (over)
            row(4, 1, ARRANG2K4_4x1_8K, 36, 3, 3, 80, 12);
        else
            row(2, 1, ARRANG2K4_2x1, 4, 3, 3, 48, 12);
        break;
    case SPLICE_CP21:
        if (over)
            row(2, 1, ARRANG2K4_2x1, 32, 32, 12, 76, 76);
        else
            row(2, 1, ARRANG2K4_2x1, 4, 4, 3, 20, 12);
        break;
    default:  // NONE, CP12
        if (over)
            row(4, 1, ARRANG2K4_4x1_8K, 32, 32, 12, 76, 76);
        else
            row(2, 1, ARRANG2K4_2x1, 4, 4, 3, 20, 12);
        break;
    }
    if (o.splice == SPLICE_NONE || o.splice == SPLICE_CP12) {
        if (o.splice == SPLICE_NONE)
            debugPrintf("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for NONE\n", splice_name(o.splice));
        else
            debugPrintf("\t%s OCHBW_2K4K30 ARRANG2K4_2x1 for CP1TO2 ,%s\n", splice_name(o.splice),
                        over ? "2OCH" : "1OCH");
    }
    debugPrintf("\t%s %s\n", splice_name(o.splice), arrangName(o.arrang));

    p.xoffs = 0;
    p.yoffs = 0;
    u32 htt = 0, vtt = 0;
    zrvApi_PnlInitOch_diff(&htt, &vtt, hblank, vblank);
    o.htt = htt;
    o.vtt = vtt;

    if (o.splice == SPLICE_H) {
        // The horizontal cut lands on a group of four pixels; the totals the
        // search gave must still hold the rounded width.
        const u32 rounded = (o.width + 3) / 4 * 4;
        const u32 room = o.htt > hblank ? o.htt - hblank : 0;
        if (rounded > room) {
            debugPrintf("\t SPLICE H: OCH WIDTH:%d OOR, htt:%d, hblank:%d\n", rounded, o.htt, hblank);
            o.width = room;
        } else {
            o.width = rounded;
        }
        o.height = o.vtt > vblank ? o.vtt - vblank : 0;
        p.xoffs = int(s64(o.width) * o.hcnt / 2 - p.out1w);
    } else if (vsplice) {
        debugPrintf("\t SPLICE_V,htt:%d, vtt:%d hblank:%d\n", o.htt, o.vtt, hblank);
        const u32 half = std::max<u32>(o.vcnt / 2, 1);
        o.height = ceilDiv(H, half);
        p.yoffs = int(s64(half) * o.height - p.out1h);
    } else {
        o.height = ceilDiv(u64(p.h), std::max<u32>(o.vcnt, 1));
    }
    if (p.xoffs < 0 || p.yoffs < 0) {
        // The FPGA side reads these as unsigned words: a negative origin
        // would place the picture 65,000 pixels away.
        char msg[128];
        std::snprintf(msg, sizeof msg, "c331: panel origin %d,%d below zero, taken as 0", p.xoffs, p.yoffs);
        writeLogMsg(WARNING, msg);
        p.xoffs = std::max(p.xoffs, 0);
        p.yoffs = std::max(p.yoffs, 0);
    }
    fit_totals(hblank, vblank);

    zrvApi_WriteRam(IMG_SPLICE);
    debugPrintf("========PANEL=======\n\t width:%d, height:%d, xoffs:%d, yoffs:%d\n", p.w, p.h, p.xoffs, p.yoffs);
    debugPrintf("\t c331_out: width:%d, height:%d\n", o.width * o.hcnt, o.height * o.vcnt);
    debugPrintf("========OCH SPEC=======\n\t width:%d, HTT:%d, HBLANK:%d, HFP:%d, HSW:%d\n", o.width, o.htt, hblank,
                o.hfp, o.hsw);
    debugPrintf("\t height:%d, VTT:%d, VBLANK:%d, VFP:%d, VSW:%d, use1och:%d\n", o.height, o.vtt, vblank, o.vfp,
                o.vsw, o.use1och);
    zrvApi_c331InitRegPanel();
}

void c331_timing::fit_totals(u32 hblank, u32 vblank) {
    c331_state::ST_OCH_SPEC& o = m_st.gOch;
    const u64 needH = u64(o.width) + hblank;
    const u64 needV = u64(o.height) + vblank;
    if (o.htt >= needH && o.vtt >= needV) return;
    // The clock cannot carry this picture at the full rate. Totals smaller
    // than the active area would give negative porches and a scrambled
    // output; larger totals only lower the frame rate.
    char msg[200];
    std::snprintf(msg, sizeof msg,
                  "c331: output channel %ux%u does not fit the totals %ux%u (splice %u); totals raised to %llux%llu",
                  o.width, o.height, o.htt, o.vtt, o.splice, (unsigned long long)std::max<u64>(o.htt, needH),
                  (unsigned long long)std::max<u64>(o.vtt, needV));
    writeLogMsg(ERROR, msg);
    o.htt = u32(std::max<u64>(o.htt, needH));
    o.vtt = u32(std::max<u64>(o.vtt, needV));
}

int c331_timing::zrvApi_PnlInitOch_diff(u32* phtt, u32* pvtt, u32 hblank, u32 vblank) {
    const c331_state::ST_PANEL& p = m_st.gPnl;
    c331_state::ST_OCH_SPEC& o = m_st.gOch;
    const bool vsplice = o.splice == SPLICE_HV || o.splice == SPLICE_V;
    u64 W = vsplice ? u64(p.out1w) + u64(p.out2w) : u64(std::max(p.out1w, p.out2w));
    u64 H = vsplice ? u64(std::max(p.out1h, p.out2h)) : u64(p.out1h) + u64(p.out2h);
    o.use1och = W * H < kOneChannelLimit + 1 ? 1 : 0;
    debugPrintf("\t %llu x %llu = %llu, use1och:%d\n", (unsigned long long)W, (unsigned long long)H,
                (unsigned long long)(W * H), o.use1och);

    u64 htt = 0, vtt = 0;
    bool kindV = false;
    // Two channels per output: each carries half the picture.
    auto twoChannels = [&] {
        if (vsplice) {
            H /= 2;
            if (o.arrang == ARRANG2K4_2x2_8K) W /= 2;
            htt = hblank + W;
            vtt = vblank + H;
            kindV = true;
        } else {
            W /= 2;
            htt = hblank + W;
            vtt = H + vblank;
            kindV = false;
        }
    };
    if (o.use1och) {
        htt = W + hblank;
        vtt = H + vblank;
        kindV = vsplice;
    } else {
        twoChannels();
    }

    for (;;) {
        if (htt * vtt >= kChannelPixels + 1) {
            if (!kindV) {
                vtt = kChannelPixels / htt;
                debugPrintf("\t SPLICE_H, oPixels OOR, reduce vtt to:%llu\n", (unsigned long long)vtt);
            } else {
                htt = kChannelPixels / vtt;
                debugPrintf("\t SPLICE_V, oPixels OOR, reduce htt to:%llu\n", (unsigned long long)htt);
            }
        }
        debugPrintf("\t %s:  htt:%llu, vtt:%llu\n", kindV ? "V" : "H", (unsigned long long)htt,
                    (unsigned long long)vtt);

        c331_timing_pair found{};
        if (find_timing(u32(std::min<u64>(htt, 0xFFFFFFFFu)), u32(std::min<u64>(vtt, 0xFFFFFFFFu)), &found)) {
            // Reducing the pixel count above can leave totals smaller than
            // the picture; such a pair is no use for one channel.
            const bool fits = found.htt >= W + hblank && found.vtt >= H + vblank;
            if (fits || !o.use1och) {
                debugPrintf("\t found htt: %d, vtt:%d\n", found.htt, found.vtt);
                htt = found.htt;
                vtt = found.vtt;
                break;
            }
            debugPrintf("\t found htt: %d, vtt:%d too small for %llux%llu in one OCH, use TWO OCH\n", found.htt,
                        found.vtt, (unsigned long long)W, (unsigned long long)H);
            o.use1och = 0;
            twoChannels();
            continue;
        }
        if (o.use1och) {
            debugPrintf("\t not found in list for Use one OCH, continue find for Use TWO OCH\n");
            o.use1och = 0;
            twoChannels();
            continue;
        }
        debugPrintf("\t not found in list, calc htt: %llu -- %04llx\n", (unsigned long long)htt,
                    (unsigned long long)htt);
        break;
    }

    *phtt = u32(std::min<u64>(htt, 0xFFFFFFFFu));
    *pvtt = u32(std::min<u64>(vtt, 0xFFFFFFFFu));
    o.width = *phtt > hblank ? *phtt - hblank : 0;
    o.height = *pvtt > vblank ? *pvtt - vblank : 0;
    return 1;
}

void c331_timing::zrvApi_WriteRam(int offset) {
    if (offset != int(IMG_SPLICE)) return;
    PARA_RAM_IMAGE* img = image();
    if (!img) {
        writeLogMsg(ERROR, "c331: no parameter image; output-channel layout not handed to the FPGAs");
        return;
    }
    const c331_state::ST_PANEL& p = m_st.gPnl;
    const c331_state::ST_OCH_SPEC& o = m_st.gOch;
    u8 a = 1, b = 1;
    switch (o.splice) {
    case SPLICE_NONE:
    case SPLICE_CP12:
        a = o.use1och ? 1 : 2;
        b = 1;
        break;
    case SPLICE_H:
        a = o.use1och ? 2 : 4;
        b = 1;
        break;
    default:  // HV, V, CP21
        a = o.use1och ? 1 : 2;
        b = 2;
        break;
    }
    img->setWord(IMG_XOFFS, word16(p.xoffs));
    img->setWord(IMG_YOFFS, word16(p.yoffs));
    img->setByte(IMG_CNT_A, a);
    img->setByte(IMG_CNT_A + 1, 0);
    img->setByte(IMG_CNT_B, b);
    img->setByte(IMG_CNT_B + 1, 0);
    img->setWord(IMG_OCH_W, word16(o.width));
    img->setWord(IMG_OCH_H, word16(o.height));
    img->setWord(IMG_LANE, word16(o.lane));
}

void c331_timing::zrvApi_c331InitRegPanel() {
    c331_state::ST_OCH_SPEC& o = m_st.gOch;
    C331_SYS_PARAM& sys = m_st.sys;

    // Last guard before the registers: a porch below zero would wrap to a
    // huge unsigned value on the chip.
    s64 hbp = s64(o.htt) - s64(o.width) - s64(o.hsw) - s64(o.hfp);
    s64 vbp = s64(o.vtt) - s64(o.height) - s64(o.vsw) - s64(o.vfp);
    if (hbp < 0 || vbp < 0) {
        char msg[200];
        std::snprintf(msg, sizeof msg,
                      "c331: output timing %ux%u in totals %ux%u leaves porches %lld/%lld; totals raised", o.width,
                      o.height, o.htt, o.vtt, (long long)hbp, (long long)vbp);
        writeLogMsg(ERROR, msg);
        if (hbp < 0) o.htt = u32(s64(o.htt) - hbp);
        if (vbp < 0) o.vtt = u32(s64(o.vtt) - vbp);
        hbp = std::max<s64>(hbp, 0);
        vbp = std::max<s64>(vbp, 0);
    }

    sys.PS_ACTHW = o.width;
    sys.PS_ACTVW = o.height;
    sys.PS_HTOTAL = o.htt;
    sys.PS_VTOTAL = o.vtt;
    sys.PS_HSYNC = o.hsw;
    sys.PS_VSYNC = o.vsw;
    sys.PS_HBP = u32(hbp);
    sys.PS_VBP = u32(vbp);
    const u32 hst = o.hsw + u32(hbp);
    const u32 hend = hst + o.width;
    const u32 vst = o.vsw + u32(vbp);
    const u32 vend = vst + o.height;
    m_st.PS_ACTHST = m_st.PS_OAOIHST = hst;
    m_st.PS_ACTHEND = m_st.PS_OAOIHEND = hend;
    m_st.PS_ACTVST = m_st.PS_OAOIVST = vst;
    m_st.PS_ACTVEND = m_st.PS_OAOIVEND = vend;
    debugPrintf("width:%4d, hsw:%4d, hfp:%4d, htt:%4d,   height:%4d, vsw:%4d, vfp:%4d, vtt:%4d,\n", o.width, o.hsw,
                o.hfp, o.htt, o.height, o.vsw, o.vfp, o.vtt);

    const u32 hswReg = o.hsw >= 2 ? o.hsw / 2 - 1 : 0;
    const u32 vswReg = o.vsw >= 1 ? o.vsw - 1 : 0;
    w(OUT_HSW_A, hswReg);
    w(OUT_VSW_A, vswReg);
    w(OUT_HSW_B, hswReg);
    w(OUT_VSW_B, vswReg);

    sys.PS_VBOTX_MODE = 2;
    debugPrintf("PS_VBOTX_MODE = 2\n");
    const u32 cw = o.width, ch = o.height;
    switch (o.arrang) {
    case ARRANG2K4_2x1:
    case ARRANG2K4_4x1_8K:
        sys.PS_VBOTX_LAYOUT = 0;
        m_st.PS_CANVAS_W = o.use1och ? 2 * cw : 4 * cw;
        m_st.PS_CANVAS_H = ch;
        m_st.PS_OCH_H = o.use1och ? 2 : 4;
        m_st.PS_OCH_V = 1;
        debugPrintf("\t PS_VBOTX_LAYOUT:%d\n", sys.PS_VBOTX_LAYOUT);
        break;
    case ARRANG2K4_2x2_8K:
    case ARRANG2K4_1x2:
        sys.PS_VBOTX_LAYOUT = 1;
        m_st.PS_CANVAS_W = o.use1och ? cw : 2 * cw;
        m_st.PS_CANVAS_H = 2 * ch;
        m_st.PS_OCH_H = o.use1och ? 1 : 2;
        m_st.PS_OCH_V = 2;
        debugPrintf("\t PS_VBOTX_LAYOUT:%d\n", sys.PS_VBOTX_LAYOUT);
        break;
    default:
        debugPrintf("\t not found arrang mode\n");
        break;
    }

    for (u32 n = 0; n < C331_CH_NUM; ++n) {
        const u32 base = n * c331reg::kBankBaseStep;
        w(OCH_HTOTAL, o.htt - 2, base);
        w(OCH_VTOTAL, o.vtt - 2, base);
        w(OCH_1D, 64, base);
        w(OCH_HST_A, hst, base);
        w(OCH_HST_B, hst, base);
        w(OCH_HEND_A, hend, base);
        w(OCH_HEND_B, hend, base);
        w(OCH_VST_A, vst, base);
        w(OCH_VST_B, vst, base);
        w(OCH_VEND_A, vend, base);
        w(OCH_VEND_B, vend, base);
        w(OCH_ACT_HST, hst, base);
        w(OCH_ACT_HW, o.width, base);
        w(OCH_ACT_VST, vst, base);
        w(OCH_ACT_VW, o.height + 1, base);
    }

    debugPrintf("[zrvApi_c331InitRegPanel] ochBW:%s\r\n", o.lane == 0 ? "OCHBW_2K4K30" : "OCHBW_2K2K30");
    w(VBO_MAP_A, kIdentityMap);
    w(VBO_MAP_B, kIdentityMap);
    if (o.lane == 0) {
        u32 map = 0x3020100;
        if (o.arrang >= ARRANG2K4_2x1 && o.arrang <= ARRANG2K4_1x2) {
            switch (o.splice) {
            case SPLICE_NONE: map = 0x3020100; break;
            case SPLICE_CP12: map = o.use1och ? 0 : 0x1000100; break;
            case SPLICE_HV:
            case SPLICE_CP21: map = 0x10000; break;
            default: map = o.use1och ? 0x10000 : 0x3020100; break;  // V, H
            }
        }
        w(VBO_LANE_MAP, map);
        w(VBO_A_2C, 0);
        w(VBO_A_2E, 0);
        w(VBO_A_2F, 0);
        w(VBO_TX_A, 9);
        w(VBO_MAP_A, kIdentityMap);
        w(VBO_B_36, 0);
        w(VBO_B_38, 0);
        w(VBO_B_39, 0);
        w(VBO_TX_B, 9);
        w(VBO_MAP_B, kIdentityMap);
        sys.PS_PLL[4] = 11;
        sys.PS_PLL[1] = 137;
        w(CLK_47, 33);
        w(CLK_4C, 33);
    } else {
        debugPrintf("\t 2k2k30 8 och, None-Division config\r");
        w(VBO_A_2C, 0);
        w(VBO_A_2E, 0);
        w(VBO_A_2F, 0);
        w(VBO_B_36, 0);
        w(VBO_B_38, 0);
        w(VBO_B_39, 0);
        w(VBO_TX_A, 5);
        w(VBO_TX_B, 5);
        w(VBO_TX_A18, 76);
        w(VBO_TX_B30, 76);
        w(VBO_LANE_MAP, (o.splice == SPLICE_NONE || o.splice == SPLICE_CP12) ? 0x32103210 : kIdentityMap);
        sys.PS_PLL[4] = 11;
        sys.PS_PLL[1] = 153;
    }
    w(CLK_4B, sys.PS_PLL[4]);
    w(CLK_50, sys.PS_PLL[4]);
    w(CLK_48, sys.PS_PLL[1]);
    w(CLK_4D, sys.PS_PLL[1]);
}
