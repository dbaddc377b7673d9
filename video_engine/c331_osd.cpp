#include "video_engine/c331_osd.h"

#include "core/file_checks.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "platform/fileops.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_manage.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <algorithm>
#include <cstring>
#include <sstream>

namespace {
namespace r = c331reg;

// Graphics engine (bank 4).
constexpr u32 GE_FILL = 0x040B02;
constexpr u32 GE_SRC = 0x040D04;
constexpr u32 GE_DST = 0x041104;
constexpr u32 GE_DST_STRIDE = 0x041B01;
constexpr u32 GE_SRC_STRIDE = 0x041C01;
constexpr u32 GE_WIDTH = 0x041E02;   // width - 1
constexpr u32 GE_HEIGHT = 0x042002;  // height - 1
constexpr u32 GE_FORMAT = 0x042201;
constexpr u32 GE_STR_FIRST = 0x042301;
constexpr u32 GE_STR_LAST = 0x042401;
constexpr u32 GE_STR_XOFF = 0x042501;
constexpr u32 GE_STR_YOFF = 0x042601;
constexpr u32 GE_CHAR_PTR = 0x042702;
constexpr u32 GE_CHAR_DATA = 0x042901;
constexpr u32 GE_FONT_CELL = 0x042A01;
constexpr u32 kGeFill = 1, kGeCopy = 2, kGeString = 3;
constexpr u32 kGeWaitMs = 1000;
// OSD layer of an output channel (bank base 16 x channel).
constexpr u32 OSD_CTRL = 0x090802;
constexpr u32 OSD_HST = 0x091202;
constexpr u32 OSD_HW = 0x091402;
constexpr u32 OSD_VST = 0x091602;
constexpr u32 OSD_VW = 0x091802;
constexpr u32 OSD_SRC = 0x091A04;
constexpr u32 OSD_STRIDE = 0x091E01;
constexpr u32 OSD_CT_INDEX = 0x091F01;
constexpr u32 OSD_CT_DATA = 0x092001;
constexpr u32 OSD_CT_LATCH = 0xFF0101;
constexpr u32 SCROLL_CTRL = 0x093C01;
constexpr u32 SCROLL_SPEED = 0x093D01;
constexpr u32 SCROLL_W = 0x094002;
constexpr u32 SCROLL_H = 0x094202;
// Control word of the OSD layer.
constexpr u32 kCtrlBase = 0x4000, kCtrlWide = 0x2000, kCtrlVzoom = 0x800, kCtrlHzoom = 0x1000;
constexpr u32 kCtrlText = 3, kCtrlBitmap = 2, kCtrlBottom = 0x8000;

// The fonts in the serial flash, in the order they are copied into chip
// memory: data address and size; header at the data address less 35.
constexpr int kFonts = 4;  // 32-dot ASCII, 32-dot CJK, 64-dot ASCII, 64-dot CJK
constexpr u32 kFontHeader = 35;
const u32 kFontData[kFonts] = {0x000023, 0x010023, 0x410023, 0x450023};
const u32 kFontSize[kFonts] = {0x3000, 0x290000, 0xC000, 0xA40000};
// Presence bits per font: REG 43 of the register block, and the status word.
const u8 kReg43Bits[kFonts] = {0x01, 0x02, 0x14, 0x28};
const u32 kStatusBits[kFonts] = {0x2, 0x1, 0x8, 0x4};
// Headers are read CJK before ASCII, 32-dot before 64-dot.
const int kHeaderOrder[kFonts] = {1, 0, 3, 2};
constexpr int kReg43 = 43;

// The bitmap in the flash: 1920 x 1080 one-byte pixels and its colour table.
constexpr u32 kBmpData = 0xED9800, kBmpW = 1920, kBmpH = 1080;
constexpr u32 kBmpColourTable = 0x10D3C00, kBmpColourBytes = 816;

constexpr int kMaxLines = 64;
constexpr int kMaxChars = 127;
constexpr u16 kQuestion = '?';

int clampInt(long long v, long long lo, long long hi) { return int(std::max(lo, std::min(hi, v))); }
}  // namespace

c331_osd::c331_osd(c331_manage& manager, c331_chip& chip) : m(manager), m_chip(chip) {}

void c331_osd::wr(u32 code, u32 value, u32 base) { m.drv->write_C331(m.c331_fd, code, value, base); }

int c331_osd::pitch() const { return m.osd_stride * (m.osd_wide ? 512 : 128); }

int c331_osd::strideFor(int width, bool* wide) {
    int stride = 2 * ((std::max(width, 0) + 127) / 128);
    stride = (stride + 3) / 4 * 4;
    *wide = stride > 64;
    return *wide ? stride / 4 : stride;
}

// ---------------------------------------------------------------- settings

void c331_osd::load_char() {
    m.osd_area_w = s32(m.PS_CANVAS_W);
    m.osd_area_h = s32(m.PS_CANVAS_H);
    m.osd_bg_color = 0xFF0000;
    m.osd_transparent = 0;
    m.osd_org_x = m.osd_org_y = 0;
    m.osd_char_color = 0xC0C0FF;
    u32 mem = m.sys.PS_MEM_FONT;
    for (int f = 0; f < kFonts; ++f) {
        m.osd_font_src[f] = kFontData[f];
        m.osd_font_size[f] = kFontSize[f];
        if (!m.osd_font_mem[f]) m.osd_font_mem[f] = mem;
        mem += kFontSize[f];
    }
}

void c331_osd::load_bmp() {
    m.osd_bmp_src = kBmpData;
    m.osd_bmp_w = kBmpW;
    m.osd_bmp_h = kBmpH;
    m.osd_bmp_ctab = kBmpColourTable;
}

int c331_osd::zrvApi_OsdSet(int kind, int value) {
    debugPrintf("[zrvApi_OsdSet] type:%d, val:%x\n", kind, value);
    const bool on = value != 0;
    auto redraw = [this] { m.osd_redraw_req = 1; };
    auto full = [this] { m.osd_update_req = 1; };
    switch (kind) {
    case 0: m.PM_OSD_EN = on; redraw(); break;
    case 1: m.PM_OSD_HZOOM_EN = on; redraw(); break;
    case 2: m.PM_OSD_VZOOM_EN = on; redraw(); break;
    case 3: m.PM_OSD_DATA_MODE = on; full(); break;
    // A negative value would name no mode: the remainder is taken positive.
    case 4: m.PM_OSD_SCROLL_MODE = (value % 9 + 9) % 9; redraw(); break;
    case 5: m.PM_OSD_OUTPUT_OFFSET[0] = value; break;
    case 6: m.PM_OSD_OUTPUT_OFFSET[1] = clampInt(s64(m.osd_area_w) - value - m.PM_OSD_OUTPUT_OFFSET[0], INT32_MIN, INT32_MAX); break;
    case 7: m.PM_OSD_OUTPUT_OFFSET[2] = value; break;
    case 8: m.PM_OSD_OUTPUT_OFFSET[3] = clampInt(s64(m.osd_area_h) - value - m.PM_OSD_OUTPUT_OFFSET[2], INT32_MIN, INT32_MAX); break;
    case 9:
    case 10:
    case 11:
    case 12: m.PM_OSD_INPUT_OFFSET[kind - 9] = value; break;
    case 13: m.PM_OSD_SCROLL_SPEED = value % 256; redraw(); break;
    case 14: m.PM_OSD_CHAR_64DOT = on; full(); break;
    case 15: m.PM_OSD_UPDATE_BUTTON = on; full(); break;
    case 16: m.osd_bg_color = u32(value) & 0xFFFFFF; break;
    case 17: m.osd_char_color = u32(value) & 0xFFFFFF; break;
    case 18: m.osd_transparent = on; break;
    case 19: m.osd_area_w = value; break;
    case 20: m.osd_area_h = value; break;
    case 21: m.osd_org_x = value; break;
    case 22: m.osd_org_y = value; break;
    case 32:
        if (value & 0x80) m.osd_redraw_req = 1;
        if (value & 0x40) m.osd_update_req = 1;
        break;
    case 33: m.osd_bottom = on; break;
    case 34: m.osd_word_space = value; break;
    case 35: m.osd_line_space = value; break;
    default: return 0;
    }
    return 1;
}

int c331_osd::zrvApi_OsdSetUnicode(int count, const int* lengths, const u32* const* lines) {
    if (count < 1 || !lengths || !lines) {
        m.osd_lines = 0;
        return 0;
    }
    // Taken modulo 64, 64 lines would show none: at most 64 are kept.
    count = std::min(count, kMaxLines);
    std::memset(m.osd_text, 0, sizeof m.osd_text);
    for (int l = 0; l < count; ++l) {
        const int n = lines[l] ? std::max(0, std::min(lengths[l], kMaxChars)) : 0;
        for (int i = 0; i < n; ++i) m.osd_text[l][i] = lines[l][i] > 0xFFFF ? kQuestion : u16(lines[l][i]);
        m.osd_text[l][n] = 0;
    }
    m.osd_lines = count;
    return 0;
}

// ---------------------------------------------------------------- fonts

int c331_osd::read_c331_font(int fd) {
    u8 reg43 = 0;
    u32 status = 0;
    m_fontsReadable = true;
    for (int f : kHeaderOrder) {
        u8 header[kFontHeader] = {};
        if (m.sfl_read(fd, kFontData[f] - kFontHeader, kFontHeader, header) != 0) {
            // One bound spent is enough: the other headers and the copies
            // are skipped and every font counts as absent.
            m_fontsReadable = false;
            reg43 = 0;
            status = 0;
            writeLogMsg(ERROR, "c331: serial flash does not answer; OSD fonts counted absent, not loaded");
            break;
        }
        if (header[0] == 'P') {
            reg43 |= kReg43Bits[f];
            status |= kStatusBits[f];
        }
    }
    if (ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config) {
        // Bits 6 and 7 belong to others; protocol threads read the byte.
        u8* byte = &zp->reg_block.REG[kReg43];
        u8 old = __atomic_load_n(byte, __ATOMIC_SEQ_CST);
        while (!__atomic_compare_exchange_n(byte, &old, u8((old & 0xC0) | reg43), false, __ATOMIC_SEQ_CST,
                                            __ATOMIC_SEQ_CST)) {
        }
    }
    m.set_font_status(status);
    return m_fontsReadable ? 0 : 2;
}

void c331_osd::update_font(int fd) {
    if (!m_fontsReadable) return;
    u32 dst = m.sys.PS_MEM_FONT;
    for (int f = 0; f < kFonts; ++f) {
        if (m.osd_write_dma_sfl(fd, m.osd_font_src[f], dst, 0, m.osd_font_size[f]) != 0) {
            writeLogMsg(ERROR, "c331: OSD font copy into the chip failed");
            return;
        }
        m.osd_font_mem[f] = dst;
        dst += m.osd_font_size[f];
    }
}

// ---------------------------------------------------------------- drawing

bool c331_osd::geRun(int fd, u32 command) {
    wr(r::GE_START, command);
    const bool done = m.drv->wait_c331_bits_for(fd, r::GE_STATUS, 1, 0, kGeWaitMs) == 0;
    if (!done) writeLogMsg(ERROR, "c331: OSD graphics engine busy for 1 s; drawing stopped");
    wr(r::GE_START, 0);
    return done;
}

bool c331_osd::osd_paint(int fd, int x, int y, int w, int h, int colour) {
    // Only inside the OSD area.
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min<s64>(s64(x) + w, m.osd_area_w), y1 = std::min<s64>(s64(y) + h, m.osd_area_h);
    if (x1 <= x0 || y1 <= y0) return true;
    wr(GE_DST, m.sys.PS_MEM_OSD_BUF + u32(y0) * u32(pitch()) + u32(x0));
    wr(GE_WIDTH, u32(x1 - x0 - 1));
    wr(GE_HEIGHT, u32(y1 - y0 - 1));
    wr(GE_DST_STRIDE, u32(m.osd_stride));
    wr(GE_FORMAT, 0);
    wr(GE_FILL, u32(colour));
    return geRun(fd, kGeFill);
}

bool c331_osd::osd_copy(int fd, u32 src, int srcStride, u32 dst, int dstStride, int w, int h) {
    if (w <= 0 || h <= 0) return true;
    wr(GE_SRC, src);
    wr(GE_DST, dst);
    wr(GE_WIDTH, u32(w - 1));
    wr(GE_HEIGHT, u32(h - 1));
    wr(GE_SRC_STRIDE, u32(srcStride));
    wr(GE_DST_STRIDE, u32(dstStride));
    wr(GE_FORMAT, 0);
    return geRun(fd, kGeCopy);
}

c331_osd::Glyph c331_osd::glyphOf(u16 code, int cell) const {
    // Only printable ASCII and the CJK block are in the fonts; anything
    // else would index outside them.
    if (code < 0x20 || (code >= 0x80 && code < 0x4E00) || code > 0x9FFF) code = kQuestion;
    const s64 space = m.osd_word_space;
    if (code < 0x80) return {code - 32, clampInt(cell / 2 + space, 1, 255)};
    const u32 asciiSize = m.osd_font_size[cell == 64 ? 2 : 0];
    const int base = int(asciiSize / (cell == 64 ? 512 : 128));
    return {base + (code - 0x4E00), clampInt(cell + space, 1, 255)};
}

bool c331_osd::osd_put_unicode_string(int fd, int x, int y, const u16* text) {
    const int cell = m.PM_OSD_CHAR_64DOT ? 64 : 32;
    if (x < 0 || y < 0 || s64(y) + cell > m.osd_area_h || x >= m.osd_area_w) return true;
    const int bg = m.osd_transparent ? 255 : 1;
    std::vector<u8> groups;
    s64 right = x;
    int count = 0;
    for (int i = 0; i < 128 && text[i]; ++i) {
        const Glyph g = glyphOf(text[i], cell);
        if (right + g.advance > m.osd_area_w) break;
        right += g.advance;
        groups.insert(groups.end(), {u8(g.number), u8(g.number >> 8), 2, u8(bg), u8(g.advance)});
        ++count;
    }
    if (count == 0) return true;
    wr(GE_FONT_CELL, cell == 64 ? 72 : 8);
    wr(GE_CHAR_PTR, 2560);
    wr(GE_CHAR_DATA, u32(cell));
    wr(GE_CHAR_PTR, 0);
    for (u8 b : groups) wr(GE_CHAR_DATA, b);
    wr(GE_STR_FIRST, 0);
    wr(GE_STR_LAST, u32(count - 1));
    wr(GE_STR_XOFF, 0);
    wr(GE_STR_YOFF, 0);
    wr(GE_SRC, m.osd_font_mem[cell == 64 ? 2 : 0]);
    wr(GE_DST, m.sys.PS_MEM_OSD_BUF + u32(y) * u32(pitch()) + u32(x));
    return geRun(fd, kGeString);
}

void c331_osd::gen_char(int fd) {
    const int cell = m.PM_OSD_CHAR_64DOT ? 64 : 32;
    for (int l = 0; l < std::min<int>(m.osd_lines, kMaxLines); ++l) {
        const s64 y = s64(m.osd_org_y) + s64(l) * (s64(m.osd_line_space) + cell);
        if (y < 0 || y + cell > m.osd_area_h) continue;
        if (!osd_put_unicode_string(fd, m.osd_org_x, int(y), m.osd_text[l])) return;
    }
}

void c331_osd::set_char_color(int) {
    wr(OSD_CT_LATCH, 1);
    wr(OSD_CT_INDEX, 1);
    for (u32 colour : {m.osd_bg_color, m.osd_char_color})
        for (int i = 0; i < 3; ++i) wr(OSD_CT_DATA, (colour >> (8 * i)) & 0xFF);
    wr(OSD_CT_LATCH, 0);
}

bool c331_osd::waitField(int fd) { return m_chip.wait1_povs(fd, 0); }

// The OSD picture less its input offsets; false when nothing is left.
bool c331_osd::cropped(int& w, int& h) const {
    const bool text = m.PM_OSD_DATA_MODE != 0;
    const s64 aw = text ? m.osd_area_w : m.osd_bmp_w, ah = text ? m.osd_area_h : m.osd_bmp_h;
    const s32* in = m.PM_OSD_INPUT_OFFSET;
    if (in[0] < 0 || in[1] < 0 || in[2] < 0 || in[3] < 0) return false;
    const s64 cw = aw - in[0] - in[1], ch = ah - in[2] - in[3];
    w = clampInt(cw, 0, INT32_MAX);
    h = clampInt(ch, 0, INT32_MAX);
    return cw > 0 && ch > 0;
}

int c331_osd::update_osd(int fd) {
    std::unique_lock<std::mutex> lock = m.flash_lock(false);
    if (!lock.owns_lock()) return 1;
    const bool text = m.PM_OSD_DATA_MODE != 0;
    if (!text) load_bmp();
    const int areaW = text ? m.osd_area_w : m.osd_bmp_w;
    const int areaH = text ? m.osd_area_h : m.osd_bmp_h;
    bool wide = false;
    m.osd_stride = strideFor(areaW, &wide);
    m.osd_wide = wide;

    if (text) {
        if (!osd_paint(fd, 0, 0, areaW, areaH, m.osd_transparent ? 255 : 1)) return 0;
        gen_char(fd);
        waitField(fd);
        set_char_color(fd);
    } else {
        const int w = std::max(areaW, 0), h = std::max(areaH, 0);
        if (m.osd_write_dma_sfl(fd, m.osd_bmp_src, m.sys.PS_MEM_OSD_BMP, 0, u32(w) * u32(h)) != 0) return 0;
        const int srcStride = w < 8320 ? w / 128 : w / 512;
        if (!osd_copy(fd, m.sys.PS_MEM_OSD_BMP, srcStride, m.sys.PS_MEM_OSD_BUF, m.osd_stride, w, h)) return 0;
        waitField(fd);
        wr(OSD_CT_LATCH, 1);
        m.osd_write_dma_sfl(fd, m.osd_bmp_ctab, 0, 4, kBmpColourBytes);
        wr(OSD_CT_LATCH, 0);
    }

    // Input offsets that leave nothing of the picture: it is drawn, but the
    // layer and the scroll buffer keep what they show.
    int cw = 0, ch = 0;
    if (!cropped(cw, ch)) return 0;
    m.set_rtct(fd, 2);
    set_osd(fd, 0);
    m.set_rtct(fd, 1);
    waitField(fd);

    // Four copies side by side and one under the other, so scrolling wraps.
    const u32 p = u32(pitch());
    const u32 src = m.sys.PS_MEM_OSD_BUF + u32(m.PM_OSD_INPUT_OFFSET[2]) * p + u32(m.PM_OSD_INPUT_OFFSET[0]);
    for (int k = 0; k < 4; ++k) {
        const u32 dst = m.sys.PS_MEM_OSD_SCROLL + u32((k / 2) * ch) * p + u32((k % 2) * cw);
        if (!osd_copy(fd, src, m.osd_stride, dst, m.osd_stride, cw, ch)) return 0;
    }
    m.set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    m.set_rtct(fd, 1);
    return 0;
}

c331_osd::Window c331_osd::calc_osd(Slice out[C331_CH_NUM]) {
    const s64 canvasW = m.PS_CANVAS_W, canvasH = m.PS_CANVAS_H;
    const s32* o = m.PM_OSD_OUTPUT_OFFSET;
    int cw = 0, ch = 0;
    cropped(cw, ch);
    const s64 limitW = s64(cw) * (m.PM_OSD_HZOOM_EN ? 2 : 1), limitH = s64(ch) * (m.PM_OSD_VZOOM_EN ? 2 : 1);
    Window win;
    win.x = clampInt(o[0], 0, canvasW);
    win.y = clampInt(o[2], 0, canvasH);
    win.w = clampInt(std::min(canvasW - o[0] - o[1], limitW), 0, canvasW - win.x);
    win.h = clampInt(std::min(canvasH - o[2] - o[3], limitH), 0, canvasH - win.y);

    const int across = std::max<int>(1, std::min<int>(s32(m.PS_OCH_H), C331_CH_NUM));
    const int down = std::max<int>(1, std::min<int>(s32(m.PS_OCH_V), C331_CH_NUM / across));
    const s64 chW = m.sys.PS_ACTHW, chH = m.sys.PS_ACTVW;
    // One axis: the part of [start, start + size) inside each channel.
    auto cut = [](s64 start, s64 size, s64 chSize, int i, s32& st, s32& len, bool& first, s32& firstFlag) {
        const s64 lo = std::max(start, i * chSize), hi = std::min(start + size, (i + 1) * chSize);
        len = hi > lo ? s32(hi - lo) : 0;
        st = len ? s32(lo - i * chSize) : 0;
        firstFlag = len && first;
        if (len) first = false;
    };
    for (int k = 0; k < C331_CH_NUM; ++k) out[k] = Slice{};
    bool firstH = true;
    std::vector<Slice> cols(size_t(across), Slice{}), rows(size_t(down), Slice{});
    for (int c = 0; c < across; ++c) cut(win.x, win.w, chW, c, cols[c].hst, cols[c].hw, firstH, cols[c].hfirst);
    bool firstV = true;
    for (int rr = 0; rr < down; ++rr) cut(win.y, win.h, chH, rr, rows[rr].vst, rows[rr].vw, firstV, rows[rr].vfirst);
    for (int rr = 0; rr < down; ++rr)
        for (int c = 0; c < across; ++c) {
            Slice& s = out[rr * across + c];
            s.hst = cols[c].hst, s.hw = cols[c].hw, s.hfirst = cols[c].hfirst;
            s.vst = rows[rr].vst, s.vw = rows[rr].vw, s.vfirst = rows[rr].vfirst;
        }
    return win;
}

void c331_osd::set_osd(int, int scroll) {
    const bool text = m.PM_OSD_DATA_MODE != 0;
    u32 ctrl = kCtrlBase | (m.osd_wide ? kCtrlWide : 0);
    if (m.PM_OSD_VZOOM_EN) ctrl += kCtrlVzoom;
    if (m.PM_OSD_HZOOM_EN) ctrl |= kCtrlHzoom;
    if (m.PM_OSD_EN) ctrl |= text ? kCtrlText : kCtrlBitmap;
    if (m.osd_bottom) ctrl |= kCtrlBottom;
    const u32 p = u32(pitch());
    const s32* in = m.PM_OSD_INPUT_OFFSET;
    const u32 src = scroll == 1 ? m.sys.PS_MEM_OSD_SCROLL
                                : m.sys.PS_MEM_OSD_BUF + u32(std::max(in[2], 0)) * p + u32(std::max(in[0], 0));
    Slice sl[C331_CH_NUM];
    const Window win = calc_osd(sl);
    const int across = std::max<int>(1, std::min<int>(s32(m.PS_OCH_H), C331_CH_NUM));
    const int channels = across * std::max<int>(1, std::min<int>(s32(m.PS_OCH_V), C331_CH_NUM / across));
    for (int c = 0; c < channels; ++c) {
        const Slice& s = sl[c];
        const u32 base = u32(c) * r::kBankBaseStep;
        // Where the slice starts inside the OSD picture (half under zoom).
        s64 ox = s64(c % across) * m.sys.PS_ACTHW + s.hst - win.x;
        s64 oy = s64(c / across) * m.sys.PS_ACTVW + s.vst - win.y;
        if (m.PM_OSD_HZOOM_EN) ox /= 2;
        if (m.PM_OSD_VZOOM_EN) oy /= 2;
        const bool covered = s.hw > 0 && s.vw > 0;
        wr(OSD_HST, u32(s64(m.PS_ACTHST) + s.hst - 4), base);
        wr(OSD_HW, u32(s.hw), base);
        wr(OSD_VST, u32(s64(m.PS_ACTVST) + s.vst + 1), base);
        wr(OSD_VW, u32(s.vw), base);
        wr(OSD_SRC, covered ? src + u32(std::max<s64>(oy, 0)) * p + u32(std::max<s64>(ox, 0)) : src, base);
        wr(OSD_STRIDE, u32(m.osd_stride), base);
        // A channel the window does not reach shows no OSD.
        wr(OSD_CTRL, covered ? ctrl : ctrl & ~3u, base);
    }
}

void c331_osd::set_scroll(int) {
    int w = 0, h = 0;
    if (m.PM_OSD_DATA_MODE != 0) {
        Slice sl[C331_CH_NUM];
        const Window win = calc_osd(sl);
        w = win.w, h = win.h;
    } else {
        cropped(w, h);
    }
    const int mode = m.PM_OSD_SCROLL_MODE;
    const u32 ctrl = mode == 0 ? 0x80 : (u32(mode - 1) << 4) | 0x81;
    const int across = std::max<int>(1, std::min<int>(s32(m.PS_OCH_H), C331_CH_NUM));
    const int channels = across * std::max<int>(1, std::min<int>(s32(m.PS_OCH_V), C331_CH_NUM / across));
    // Every channel stopped first, then all started together.
    for (int pass = 0; pass < 2; ++pass) {
        for (int c = 0; c < channels; ++c) {
            const u32 base = u32(c) * r::kBankBaseStep;
            wr(SCROLL_SPEED, u32(m.PM_OSD_SCROLL_SPEED) & 0xFF, base);
            wr(SCROLL_W, u32(w), base);
            wr(SCROLL_H, u32(h), base);
            wr(SCROLL_CTRL, pass ? ctrl : 0, base);
        }
    }
}

// ---------------------------------------------------------------- menu file

namespace {
namespace pt = boost::property_tree;

// Six hexadecimal digits RRGGBB as 0xBBGGRR; false for anything else.
bool colourOf(const std::string& text, int& bgr) {
    if (text.size() != 6 || !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(u8(c)); }))
        return false;
    const u32 rgb = u32(std::stoul(text, nullptr, 16));
    bgr = int(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
    return true;
}

void readItem(const pt::ptree& it, OMENU_PARA& p) {
    p.type = it.get<int>("type");
    p.status = it.get<std::string>("status");
    debugPrintf("  type: %d , status: %s \n", p.type, p.status.c_str());
    if (p.type != 0 && p.type != 1) return;
    const pt::ptree& pos = it.get_child("pos");
    p.x = pos.get<int>("x"), p.y = pos.get<int>("y"), p.w = pos.get<int>("w"), p.h = pos.get<int>("h");
    const pt::ptree& act = it.get_child("act");
    p.effect = act.get<int>("effect"), p.speed = act.get<int>("speed"), p.staytime = act.get<int>("staytime");
    debugPrintf("  pos_x: %d , pos_y: %d , pos_w: %d , pos_h: %d \n", p.x, p.y, p.w, p.h);
    debugPrintf("  effect: %d , speed: %d , staytime: %d \n", p.effect, p.speed, p.staytime);
    if (p.type == 0) {
        p.layer = pos.get<std::string>("layer", "");
        const pt::ptree& back = it.get_child("backpara");
        p.bk_enable = back.get<std::string>("enable");
        p.bk_color = back.get<std::string>("color");
        const pt::ptree& font = it.get_child("fontpara");
        p.startx = font.get<int>("startx"), p.starty = font.get<int>("starty");
        p.fontw = font.get<int>("fontw"), p.fonth = font.get<int>("fonth");
        p.wordspace = font.get<int>("wordspace"), p.verticalspace = font.get<int>("verticalspace");
        p.font_color = font.get<std::string>("color");
        const pt::ptree& texts = it.get_child("texts");
        if (texts.empty()) throw pt::ptree_error("\"texts\" holds no text");
        p.text = texts.front().second.get_value<std::string>();
        debugPrintf("  backpara_enable: %s , backpara_color: %s ,backpara_layer:%s\n", p.bk_enable.c_str(),
                    p.bk_color.c_str(), p.layer.c_str());
        debugPrintf("  startx: %d , starty: %d , fontw: %d , fonth: %d \n", p.startx, p.starty, p.fontw, p.fonth);
        debugPrintf("  wordspace: %d , verticalspace: %d , font_color: %s \n", p.wordspace, p.verticalspace,
                    p.font_color.c_str());
        debugPrintf("  texts: %s \n", p.text.c_str());
    } else {
        const pt::ptree& bmp = it.get_child("bmppara");
        // The range belongs to the item; a file that puts it in "bmppara"
        // is read as well.
        p.start = it.get_optional<int>("start") ? it.get<int>("start") : bmp.get<int>("start");
        p.end = it.get_optional<int>("end") ? it.get<int>("end") : bmp.get<int>("end");
    }
}
}  // namespace

namespace {
// The steps of the menu reader that refuse the file: false with the reason
// when the text is over 1 MiB, nested deeper than a menu needs or not JSON.
bool parseMenu(const QByteArray& text, pt::ptree& root, std::string* why) {
    if (text.size() > FileCheck::kOsdMenuMax) {
        *why = "larger than 1 MiB";
        return false;
    }
    if (!FileCheck::jsonNestingWithin(text, FileCheck::kJsonDepth)) {
        *why = "not JSON or nested deeper than " + std::to_string(FileCheck::kJsonDepth);
        return false;
    }
    try {
        std::istringstream in(text.toStdString());
        pt::read_json(in, root);
    } catch (const pt::json_parser_error& e) {
        *why = std::string("not JSON: ") + e.what();
        return false;
    }
    return true;
}
}  // namespace

bool c331_osd::omenu_text_usable(const QByteArray& text, std::string* why) {
    pt::ptree root;
    std::string fault;
    const bool ok = parseMenu(text, root, &fault);
    if (why) *why = fault;
    return ok;
}

void c331_osd::get_json_omenu_para(const char* path, OSD_MENU_LIST& list) {
    list.osdcount = 0;
    QByteArray text;
    const FileOps::FileRead read = FileOps::readFile(path, text, FileCheck::kOsdMenuMax);
    if (!read) {
        if (read.outcome != FileOps::FileRead::Missing) FileCheck::notTaken(FileCheck::Checked::OsdMenu, path, read);
        return;
    }
    pt::ptree root;
    std::string why;
    if (!parseMenu(text, root, &why)) {
        debugPrintf("json error: %s\n", why.c_str());
        FileCheck::keepAside(FileCheck::Checked::OsdMenu, path, why);
        return;
    }
    // A well-formed file that lacks a key or holds a wrong type is kept (a
    // user mode may copy it) and shows no OSD item.
    OSD_MENU_LIST parsed;
    try {
        parsed.name = root.get<std::string>("name");
        parsed.osdcount = root.get<int>("osdcount");
        parsed.oactcount = root.get<int>("oactcount");
        debugPrintf(" \n file_name: %s , osdcount: %d , oactcount: %d\n", parsed.name.c_str(), parsed.osdcount,
                    parsed.oactcount);
        if (parsed.osdcount != 0) {
            int n = 0;
            for (const auto& element : root.get_child("menu")) {
                if (n == 3) break;
                debugPrintf("\n *************************osd%d start******************************** ", n + 1);
                readItem(element.second, parsed.items[n]);
                debugPrintf("\n *************************osd%d over******************************** ", n + 1);
                ++n;
            }
            if (n < 3) debugPrintf("\n *************************OSDS OVER******************************** ");
        }
    } catch (const std::exception& e) {
        writeLogMsg(ERROR, std::string("OSD menu ") + path + " not applied: " + e.what() + "; OSD unchanged");
        return;
    }
    list = parsed;
}

void c331_osd::set_OSD_para(OSD_MENU_LIST& list) {
    if (list.osdcount == 0) return;
    const OMENU_PARA& it = list.items[0];
    if (it.type != 0 && it.type != 1) {
        writeLogMsg(WARNING, "OSD menu: first item of type " + std::to_string(it.type) + " is neither text nor bitmap");
        return;
    }
    const PARA_RAM_IMAGE& img = m_chip.image();
    const int w = std::min<int>(it.w, img.word(c331img::LED_WIDTH));
    const int y = std::min<int>(it.y, img.word(c331img::LED_HEIGHT));
    load_char();
    zrvApi_OsdSet(5, it.x);
    zrvApi_OsdSet(6, w);
    zrvApi_OsdSet(7, y);
    zrvApi_OsdSet(8, it.h);
    zrvApi_OsdSet(3, it.type == 0 ? 1 : 0);
    if (it.fontw == 32 && it.fonth == 32) {
        zrvApi_OsdSet(1, 0), zrvApi_OsdSet(2, 0), zrvApi_OsdSet(14, 0);
    } else if (it.fontw == 64 && it.fonth == 64) {
        zrvApi_OsdSet(1, 0), zrvApi_OsdSet(2, 0), zrvApi_OsdSet(14, 1);
    } else if (it.fontw == 128 && it.fonth == 128) {
        zrvApi_OsdSet(1, 1), zrvApi_OsdSet(2, 1), zrvApi_OsdSet(14, 1);
    } else {
        zrvApi_OsdSet(14, 0);
    }
    zrvApi_OsdSet(21, it.startx);
    zrvApi_OsdSet(22, it.starty);
    if (it.type == 0) {
        std::vector<std::vector<u32>> lines;
        for (const QString& part : QString::fromStdString(it.text).split('\n', Qt::SkipEmptyParts)) {
            if (int(lines.size()) == kMaxLines) break;
            const QVector<uint> ucs = part.toUcs4();
            lines.emplace_back(ucs.begin(), ucs.end());
        }
        std::vector<int> lengths;
        std::vector<const u32*> ptrs;
        for (const auto& l : lines) {
            lengths.push_back(int(l.size()));
            ptrs.push_back(l.data());
        }
        zrvApi_OsdSetUnicode(int(lines.size()), lengths.data(), ptrs.data());
    }
    int bgr = 0;
    if (colourOf(it.font_color, bgr)) zrvApi_OsdSet(17, bgr);
    zrvApi_OsdSet(13, clampInt(s64(it.speed) * 10, INT32_MIN, INT32_MAX));
    if (it.bk_enable != "off") {
        if (colourOf(it.bk_color, bgr)) zrvApi_OsdSet(16, bgr);
        zrvApi_OsdSet(18, 0);
    } else {
        zrvApi_OsdSet(18, 1);
    }
    static const int kScrollOfEffect[5] = {0, 3, 4, 1, 2};
    if (it.effect >= 0 && it.effect <= 4) zrvApi_OsdSet(4, kScrollOfEffect[it.effect]);
    zrvApi_OsdSet(0, it.status == "on" ? 1 : 0);
    zrvApi_OsdSet(33, it.layer == "buttom" ? 1 : 0);
    zrvApi_OsdSet(34, it.wordspace);
    zrvApi_OsdSet(35, it.verticalspace);
}
