// Window layout: from the window and crop records of the parameter image to
// the manager's window table, the output channels each window covers, the
// pipelines that draw them and the layer of each pipeline.
#include "video_engine/c331_chip.h"

#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace c331print;

namespace {

const char* inputName(int input) {
    static const char* const names[6] = {"DVI", "EXT", "HDMI1(1.4)", "HDMI2(1.4)", "HDMI3(2.0)", "HDMI4(2.0)"};
    return input >= 0 && input <= 5 ? names[input] : "Para Error";
}

struct DbdEntry {
    int code;
    const char* text;
};
const DbdEntry kDbd[10] = {{1, "\t DBD_SINGLE_INPUT"}, {20, "\t DBD_CMOS_IN12   "}, {21, "\t DBD_CMOS_IN12V  "},
                           {22, "\t DBD_CMOS_IN34   "}, {23, "\t DBD_CMOS_IN34V  "}, {30, "\t DBD_CMOS_IN123  "},
                           {40, "\t DBD_CMOS_IN1234 "}, {41, "\t DBD_CMOS_IN1234Q"}, {50, "\t DBD_VBO_IN12    "},
                           {51, "\t DBD_VBO_IN12V   "}};

// A grid cell of the panel in pixels, with its column and row.
struct Cell {
    int x, y, w, h, col, row;
};

// Cells of the grid that the arrangement selects; 0 when it has none.
// Kinds: 0 side by side, 1 stacked, 2 two by two, 3 four by two.
int gridCells(int arrang, int ochW, int ochH, int cols, int rows, Cell* cells) {
    int kind = -1, size = 0;
    if (arrang == 5) {
        kind = 0, size = 4;
        dbg("\t [ARRANG2K4_2x1]\r\n");
    } else if (arrang == 6) {
        kind = 0, size = 4;
    } else if (arrang == 7) {
        kind = 2, size = 4;
    } else if (arrang == 8) {
        kind = 1, size = 4;
        dbg("\t [ARRANG2K4_1x2]\r\n");
    } else if (arrang == 0 || arrang == 1) {
        kind = arrang == 0 ? 0 : 3, size = 8;
        dbg("\t ARRANG2K arrayidx:%d\r\n", arrang);
    } else {
        int idx = -1;
        if (arrang >= 2 && arrang <= 4) {
            idx = arrang - 2;
            dbg("\t ARRANG2K4 arrayidx:%d\r\n", idx);
        } else if (arrang >= 9 && arrang <= 11) {
            idx = arrang - 9;
            dbg("\t ARRANG4K arrayidx:%d\r\n", idx);
        } else if (arrang >= 12 && arrang <= 14) {
            idx = arrang - 12;
            dbg("\t ARRANGnK8 arrayidx:%d\r\n", idx);
        } else if (arrang >= 16 && arrang <= 18) {
            idx = arrang - 16;
            dbg("\t ARRANGnK4 arrayidx:%d\r\n", idx);
        }
        if (idx < 0) return 0;
        kind = idx, size = 4;
    }
    const int n = std::min(size, std::max(0, cols) * std::max(0, rows));
    for (int i = 0; i < n; ++i) {
        int col = 0, row = 0;
        switch (kind) {
        case 0: col = i; break;
        case 1: row = i; break;
        case 2: col = i % 2, row = i / 2; break;
        default: col = i % 4, row = i / 4; break;
        }
        cells[i] = Cell{col * ochW, row * ochH, ochW, ochH, col, row};
    }
    return n;
}

}  // namespace

int c331_chip::dbdCode(int outputWord, int modeWord, bool* outOfRange) {
    if (outOfRange) *outOfRange = false;
    if (!(outputWord & 0x100)) return 0;
    if (modeWord < 0 || modeWord > 9) {
        if (outOfRange) *outOfRange = true;
        return 1;
    }
    return kDbd[modeWord].code;
}

int c331_chip::slotOfRecord(int record) const {
    if (record < 0 || record >= C331_WIN_NUM) return -1;
    const int s = m.record_slot[record];
    return s >= 0 && s < m.gMwin.wincnt && s < C331_WIN_NUM ? s : -1;
}

// ---------------------------------------------------------------------------

void c331_chip::zrvApi_initEnvC331() {
    const PARA_RAM_IMAGE& img = image();
    const PanelView pv = panel();
    const bool named = pv.splice == 0 || pv.splice == 4;
    const char* spliceText = pv.splice == 0 ? "SPLICE_NONE " : "SPLICE_CP1TO2 ";

    for (int i = 0; i < C331_WIN_NUM; ++i) m.record_slot[i] = m.slot_record[i] = -1;

    int cnt = 0;
    for (int w = 0; w < C331_WIN_NUM; ++w)
        if (img.word(RamOffset::win(w) + RamOffset::WIN_ENABLE) != 0) ++cnt;
    dbg("\t wincnt:%d\r\n", cnt);
    if (cnt == 0) {
        zrvApi_initEnvC331Default();
        return;
    }

    m.gMwin.win = m.gMwinList;
    m.gMwin.wincnt = cnt;

    int s = 0;
    bool refused = false;
    for (int w = 0; w < C331_WIN_NUM && !refused; ++w) {
        const WIN_RECORD rec = img.win(w);
        if (rec.enable == 0) continue;
        S::WIN_INFO& wi = m.gWininfo[s];

        int pri = img.word(RamOffset::priority(w));
        if (pri > 5) {
            dbg(" WIN%d PRIORITY:%x OOR,reset to %d\n", w, pri, pri % 6);
            pri %= 6;
        }
        const int x = rec.x + pv.xoff, y = rec.y + pv.yoff;
        m.gMwinList[s] = ST_RECT{x, y, rec.width, rec.height};
        wi.x = u16(x);
        wi.y = u16(y);
        wi.w = rec.width;
        wi.h = rec.height;

        int input;
        if (!(rec.source & 0x8000)) {
            m.PM_INPUT_OFFSET_EN[s] = 0;
            input = rec.source & 7;
        } else {
            const int idx = rec.source & 0xFF;
            m.PM_INPUT_OFFSET_EN[s] = 1;
            wi.crop = u8(idx);
            // A crop index past the table, or a record whose id names no
            // input, is refused like an input out of range.
            const int cropIn = idx < int(RamOffset::CROP_COUNT) ? cropInput(img.crop(idx).id) : -1;
            input = cropIn >= 0 ? cropIn : 0xFF;
        }
        wi.input = u8(input);
        wi.enable = u8(rec.enable & 0xFF);
        wi.attr = u8(rec.attr & 0xFF);
        wi.output = u8(rec.output & 3);
        wi.layer = u8(pri);
        m.PM_WIN_FADE_EN[s] = (rec.output >> 2) & 1;
        bool oor = false;
        m.PM_WIN_DBD_MODE[s] = dbdCode(rec.output, rec.dbd_mode, &oor);
        if (oor) err("\t !!!!!!!!DBD_MODE OOR!!!!!!!");
        m.chg_out[s] = 1;
        // Fade counts are kept per window record, as the apply pass keeps them.
        m.PM_WIN_FADE_IN[w] = std::min<s32>(img.word(RamOffset::fadeIn(w)), c331_manage::kMaxFadeSteps);
        m.PM_WIN_FADE_OUT[w] = std::min<s32>(img.word(RamOffset::fadeOut(w)), c331_manage::kMaxFadeSteps);
        if (input > 5) err("\t !!!!!!!!PARA INPUT OOR!!!!!!!");

        if (x + int(rec.width) > pv.ochW * pv.cols) {
            if (named)
                err("\t OOR for %swin:%d x:%d w:%d, pnl->w:%d\r\n", spliceText, s, x, rec.width, pv.ochW * pv.cols);
            else
                err("\t OOR for win:%d x:%d w:%d, pnl->w\r\n", s, x, rec.width);
            refused = true;
        } else if (y + int(rec.height) > pv.ochH * pv.rows) {
            if (named)
                err("\t OOR for %swin:%d y:%d h:%d, pnl->h:%d\r\n", spliceText, s, y, rec.height, pv.ochH * pv.rows);
            else
                err("\t OOR for win:%d y:%d h:%d, pnl->h\r\n", s, y, rec.height);
            refused = true;
        } else if (input > 5) {
            err("\t OOR for win:%d, input:%s\r\n", s, inputName(input));
            refused = true;
        } else if (m.gWininfo[0].enable == 0) {
            if (named)
                err("\t OOR for %swin0 disable\r", spliceText);
            else
                err("\t OOR for win0 disable\r");
            refused = true;
        } else if (wi.attr > 3) {
            err("\t OOR for win%d rotate:%d\r\n", s, wi.attr);
            refused = true;
        }
        if (refused) break;
        m.slot_record[s] = w;
        m.record_slot[w] = s;
        ++s;
    }
    if (refused) {
        err("\t OOR for win RECT\t");
        writeLogMsg(WARNING, "c331: window layout out of range; showing one full-panel window");
        for (int i = 0; i < C331_WIN_NUM; ++i) m.record_slot[i] = m.slot_record[i] = -1;
        zrvApi_initEnvC331Default();
        return;
    }

    // Layers must be distinct: a taken layer moves to the lowest free one.
    u32 taken = 0;
    for (int i = 0; i < cnt; ++i) {
        const int layer = m.gWininfo[i].layer;
        if (taken & (1u << layer)) {
            int freeLayer = -1;
            for (int l = 0; l < 6 && freeLayer < 0; ++l)
                if (!(taken & (1u << l))) freeLayer = l;
            if (freeLayer >= 0) {
                dbg("\t\t win%d layer:%d already assigned, reset it to :%d\n", i, layer, freeLayer);
                m.gWininfo[i].layer = u8(freeLayer);
            }
        }
        taken |= 1u << m.gWininfo[i].layer;
    }

    for (int i = 0; i < C331_WIN_NUM; ++i) {
        const int r = m.slot_record[i];
        const int attr = r >= 0 ? img.word(RamOffset::win(r) + RamOffset::WIN_ATTR) & 3 : 0;
        m.gWininfo[i].attr = u8(attr);
        m.chg_attr[i] = 1;
        m.attr_hflip[i] = attr & 1;
        m.attr_vflip[i] = (attr >> 1) & 1;
    }
}

void c331_chip::zrvApi_initEnvC331Default() {
    const PanelView pv = panel();
    zrvApi_MultiWinInit();
    m.gMwin.win = m.gMwinList;
    zrvApi_MultiWinGet(&m.gMwin, 0);
    m.gMwinList[0].x += pv.xoff;
    m.gMwinList[0].y += pv.yoff;
    S::WIN_INFO& wi = m.gWininfo[0];
    wi.x = u16(m.gMwinList[0].x);
    wi.y = u16(m.gMwinList[0].y);
    wi.w = u16(m.gMwinList[0].w);
    wi.h = u16(m.gMwinList[0].h);
    wi.attr = 0;
    wi.enable = 1;
    for (int i = 0; i < C331_WIN_NUM; ++i) m.record_slot[i] = m.slot_record[i] = -1;
}

void c331_chip::zrvApi_MultiWinInit() {
    static const int counts[C331_MWIN_PRESETS] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    const PanelView pv = panel();
    const int W = pv.w, H = pv.h, cw = pv.ochW, ch = pv.ochH;
    for (int i = 0; i < C331_MWIN_PRESETS; ++i) {
        m.mwin_preset[i].wincnt = counts[i];
        m.mwin_preset[i].win = m.mwin_room[i];
        for (int k = 0; k < C331_WIN_NUM; ++k) m.mwin_room[i][k] = ST_RECT{0, 0, 0, 0};
    }
    ST_RECT(*r)[C331_WIN_NUM] = m.mwin_room;
    r[0][0] = {0, 0, W, H};
    // Halves and thirds of the panel.
    r[1][0] = {0, 0, W / 2, H}, r[1][1] = {W / 2, 0, W - W / 2, H};
    for (int k = 0; k < 3; ++k) r[2][k] = {k * W / 3, 0, (k + 1) * W / 3 - k * W / 3, H};
    r[3][0] = {0, 0, W / 2, H}, r[3][1] = {W / 2, 0, W - W / 2, H / 2}, r[3][2] = {W / 2, H / 2, W - W / 2, H - H / 2};
    // Quarters of the panel, then one window per output channel.
    for (int k = 0; k < 4; ++k) r[4][k] = {(k % 2) * (W / 2), (k / 2) * (H / 2), W / 2, H / 2};
    for (int k = 0; k < 4; ++k) r[5][k] = {k * cw, 0, cw, ch};
    dbg("\t ARRANG4K_4x1 init windows\r");
    for (int k = 0; k < 4; ++k) r[6][k] = {(k % 2) * (W / 2), (k / 2) * (H / 2), W / 2, H / 2};
    r[6][4] = {W / 4, H / 4, W / 2, H / 2};
    dbg("\t ARRANG4K_2x2 init windows\r");
    for (int k = 0; k < 5; ++k) r[7][k] = {k * W / 5, 0, (k + 1) * W / 5 - k * W / 5, H};
    dbg("\t ARRANG4K_1x4 init windows\r");
    for (int k = 0; k < 6; ++k) r[8][k] = {(k % 3) * (W / 3), (k / 3) * (H / 2), W / 3, H / 2};
    for (int k = 0; k < 6; ++k) r[9][k] = {(k % 2) * (W / 2), (k / 2) * (H / 3), W / 2, H / 3};
}

void c331_chip::zrvApi_MultiWinGet(ST_MWIN* mwin, int preset) {
    if (!mwin || !mwin->win || preset < 0 || preset >= C331_MWIN_PRESETS) return;
    const ST_MWIN& p = m.mwin_preset[preset];
    mwin->wincnt = std::min(p.wincnt, C331_WIN_NUM);
    for (int k = 0; k < mwin->wincnt; ++k) mwin->win[k] = m.mwin_room[preset][k];
    // zrvApi_PreviewCh: nothing to show.
}

// ---------------------------------------------------------------------------

void c331_chip::zrvApi_MultiWinChAlloc(char init) {
    const PanelView pv = panel();
    dbg("[zrvApi_MultiWinChAlloc] init:%d\r\n", init);
    for (int s = 0; s < C331_WIN_NUM; ++s) {
        std::memset(m.gWininfo[s].ch, 0xFF, 8);
        std::memset(m.gWininfo[s].pos, 0xFF, 8);
        m.gWininfo[s].totalh = m.gWininfo[s].totalv = 0;
    }
    Cell cells[8];
    const int ncell = gridCells(pv.arrang, pv.ochW, pv.ochH, pv.cols, pv.rows, cells);
    if (ncell == 0) {
        char text[96];
        std::snprintf(text, sizeof text, "c331: output arrangement %d has no channel grid; no window drawn", pv.arrang);
        writeLogMsg(ERROR, text);
        return;
    }
    for (int i = 0; i < ncell; ++i) dbg("och%d:(%4d,%4d,%4d,%4d)\t", i, cells[i].x, cells[i].y, cells[i].w, cells[i].h);
    dbg("\r\n");
    const bool xOnly = pv.arrang == 5, yOnly = pv.arrang == 8;
    int gridCols = 0, gridRows = 0;
    for (int i = 0; i < ncell; ++i) {
        gridCols = std::max(gridCols, cells[i].col + 1);
        gridRows = std::max(gridRows, cells[i].row + 1);
    }

    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    for (int s = 0; s < cnt; ++s) {
        S::WIN_INFO& wi = m.gWininfo[s];
        const int x1 = wi.x, y1 = wi.y, x2 = wi.x + wi.w, y2 = wi.y + wi.h;
        dbg("\t win%d(%4d,%4d,%4d,%4d) \t x1:%4d,y1:%4d, \t x2:%4d,y2:%4d\r\n", s, wi.x, wi.y, wi.w, wi.h, x1, y1, x2,
            y2);
        int start = -1, end = -1;
        for (int i = 0; i < ncell && end < 0; ++i) {
            const Cell& c = cells[i];
            const bool inX1 = c.x <= x1 && x1 < c.x + c.w, inY1 = c.y <= y1 && y1 < c.y + c.h;
            const bool inX2 = c.x <= x2 && x2 <= c.x + c.w, inY2 = c.y <= y2 && y2 <= c.y + c.h;
            if (start < 0 && (yOnly || inX1) && (xOnly || inY1)) {
                start = i;
                dbg("\t OCH Start: ch%d(%d,%d,%d,%d)\r\n", i, c.x, c.y, c.w, c.h);
            }
            if (start >= 0 && (yOnly || inX2) && (xOnly || inY2)) {
                end = i;
                dbg("\t OCH End  : ch%d(%d,%d,%d,%d)\r\n", i, c.x, c.y, c.w, c.h);
            }
        }
        if (start < 0 || end < 0) {
            always("win%d alloc och FAIL\n", s);
            char text[112];
            std::snprintf(text, sizeof text, "c331: window %d (%d,%d %dx%d) lies outside the output channels; not drawn",
                          s, wi.x, wi.y, wi.w, wi.h);
            writeLogMsg(ERROR, text);
            continue;
        }
        // The covered block: columns and rows from the start cell to the end
        // cell. In a grid of several rows and columns a window that does not
        // span whole rows gets exactly the cells under it.
        const int c0 = std::min(cells[start].col, cells[end].col), c1 = std::max(cells[start].col, cells[end].col);
        const int r0 = std::min(cells[start].row, cells[end].row), r1 = std::max(cells[start].row, cells[end].row);
        int totalh = c1 - c0 + 1, totalv = r1 - r0 + 1;
        totalh = std::min(totalh, gridCols);
        dbg("\t totalh:%d, \r\n", totalh);
        dbg("\t totalv:%d\r\n", totalv);
        bool fail = false;
        if (totalh > 8) {
            always("totalh:%d > 8\n", totalh);
            fail = true;
        } else if (totalv > 8) {
            always("totalv:%d > 8\n", totalv);
            fail = true;
        } else if (totalh * totalv > 8) {
            always("totalh(%d)*totalv(%d)=%d > 8\n", totalh, totalv, totalh * totalv);
            fail = true;
        }
        if (fail) {
            always("win%d alloc och FAIL\n", s);
            char text[96];
            std::snprintf(text, sizeof text, "c331: window %d covers too many output channels; not drawn", s);
            writeLogMsg(ERROR, text);
            continue;
        }
        int k = 0;
        dbg("\t ochLst:\t");
        for (int i = 0; i < ncell && k < 8; ++i) {
            if (cells[i].col < c0 || cells[i].col > c1 || cells[i].row < r0 || cells[i].row > r1) continue;
            wi.ch[k] = wi.pos[k] = u8(i);
            dbg("%d ", i);
            ++k;
        }
        dbg("\r\n");
        wi.totalh = u8(totalh);
        wi.totalv = u8(totalv);
        (void)gridRows;
    }
}

void c331_chip::zrvApi_MultiWinChOverlay() {
    for (int c = 0; c < C331_CH_NUM; ++c) {
        m.PM_OVERLAY[c] = c + 1;
        m.pipe_used[c] = 0;
    }
    // The mixers follow the layout whatever happens below.
    m.chg_overlay = 1;
    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    if (cnt <= 0) return;
    auto markAll = [&] {
        for (int c = 0; c < C331_CH_NUM; ++c) m.pipe_used[c] = 0;
        for (int s = 0; s < cnt; ++s)
            for (int k = 0; k < 8; ++k)
                if (m.gWininfo[s].ch[k] < C331_CH_NUM) m.pipe_used[m.gWininfo[s].ch[k]] = 1;
    };
    markAll();
    if (cnt == 1) return;

    for (int j = 1; j < cnt; ++j) {
        S::WIN_INFO& wj = m.gWininfo[j];
        bool failed = false;
        for (int k = 0; k < 8 && !failed; ++k) {
            if (wj.ch[k] >= C331_CH_NUM) continue;
            bool shared = false;
            for (int i = 0; i < j && !shared; ++i)
                for (int q = 0; q < 8; ++q)
                    if (m.gWininfo[i].ch[q] == wj.ch[k]) shared = true;
            if (!shared) continue;
            int freePipe = -1;
            for (int c = 0; c < C331_CH_NUM && freePipe < 0; ++c)
                if (!m.pipe_used[c]) freePipe = c;
            if (freePipe < 0) {
                err("\t not found idle CH, !!!!!why!!!!!\r");
                failed = true;
                break;
            }
            wj.ch[k] = u8(freePipe);
            m.pipe_used[freePipe] = 1;
        }
        if (failed) {
            // Two windows never draw through one pipeline: this one stays
            // undrawn and gives back what it held.
            char text[96];
            std::snprintf(text, sizeof text, "c331: no free pipeline for window %d; not drawn", j);
            writeLogMsg(ERROR, text);
            std::memset(wj.ch, 0xFF, 8);
            std::memset(wj.pos, 0xFF, 8);
            wj.totalh = wj.totalv = 0;
            markAll();
        }
    }

    for (int p = 0; p < C331_CH_NUM; ++p) {
        int named = 0;
        for (int s = 0; s < cnt; ++s)
            for (int k = 0; k < 8; ++k)
                if (m.gWininfo[s].pos[k] == p) {
                    ++named;
                    break;
                }
        if (named < 2) continue;
        bool met[C331_CH_NUM] = {};
        for (int s = 0; s < cnt; ++s) {
            for (int k = 0; k < 8; ++k) {
                if (m.gWininfo[s].pos[k] != p) continue;
                const int c = m.gWininfo[s].ch[k];
                if (c >= C331_CH_NUM || met[c]) continue;
                met[c] = true;
                m.PM_OVERLAY[c] = p + 1;
                dbg("\t PM_OVERLAY[%d]: %d\n", c, p + 1);
            }
        }
    }
}

void c331_chip::zrvApi_MultiWinChInit() {
    const int dev = m.c331_fd;
    zrvApi_MultiWinChOverlay();
    c331_SetWinPriority1(dev);

    // The next receiver take-over must find every port changed.
    for (int p = 0; p < C331_PORT_NUM; ++p) {
        std::memset(&m.PI_HDMI_INFO[p], 0xFF, sizeof m.PI_HDMI_INFO[p]);
        m.PI_HDMI_INFO[p].nosignal = 1;
    }
    for (int s = 0; s < C331_WIN_NUM; ++s) {
        m.PM_INPUT[s] = C331_PORT_NUM;  // none
        for (int i = 0; i < 4; ++i) m.PM_WIN_OFFSET[s][i] = m.PM_INPUT_OFFSET[s][i] = 0;
        m.chg_win[s] = m.g_chg_input[s] = m.chg_out[s] = 0;
        m.crop_applied[s] = ST_RECT{-1, -1, -1, -1};
    }
    // The slots may now hold other windows than the input channels were
    // taken for: every window in use takes its channels again below, from
    // a free table, so that channels held for a window that moved to
    // another slot never keep a window of the new layout from its own.
    for (int k = 0; k < C331_CH_NUM; ++k) m.ich_owner[k] = -1;
    rebuild_win_ich();
    const PARA_RAM_IMAGE& img = image();
    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    for (int s = cnt; s < C331_WIN_NUM; ++s) {
        m.PM_WIN_DBD_MODE[s] = 0;
        m.g_chg_dbd[s] = 0;
        m.PM_INPUT_OFFSET_EN[s] = 0;
    }
    for (int s = 0; s < cnt; ++s) {
        S::WIN_INFO& wi = m.gWininfo[s];
        m.chg_win[s] = m.g_chg_input[s] = m.chg_out[s] = 1;
        // Slots may hold other windows than before: dot-by-dot set-up again.
        if (m.PM_WIN_DBD_MODE[s] != 0) m.g_chg_dbd[s] = 1;
        m.PM_WIN_SHAPE[s][0] = wi.totalh;
        m.PM_WIN_SHAPE[s][1] = wi.totalv;
        const int port = zrvApi_inputCvtC331(wi.input);
        m.PM_INPUT[s] = port <= 5 ? port : C331_PORT_NUM;
        for (int t = 0; t < 4; ++t) m.PM_WIN_OFFSET[s][t] = zrvApi_OchGetWinOffset1(&wi, t);
        if (m.PM_INPUT_OFFSET_EN[s] && wi.crop < RamOffset::CROP_COUNT) {
            const CROP_RECORD c = img.crop(wi.crop);
            const ST_RECT rect{c.x, c.y, c.width, c.height};
            dbg("\t win_%d, crop(%d,%d,%d,%d)\n", s, rect.x, rect.y, rect.w, rect.h);
            for (int t = 0; t < 4; ++t) m.PM_INPUT_OFFSET[s][t] = zrvApi_CropGetOffset(m.PM_INPUT[s], &rect, t);
            m.crop_applied[s] = rect;
        } else {
            m.PM_INPUT_OFFSET_EN[s] = 0;
        }
    }
    for (int c = 0; c < C331_CH_NUM; ++c) {
        m.PM_WIN_NUM[c] = C331_WIN_NUM;
        m.PM_AREA_NUM[c] = 8;
    }
    for (int s = 0; s < cnt; ++s) {
        const S::WIN_INFO& wi = m.gWininfo[s];
        const int n = wi.totalh * wi.totalv;
        for (int k = 0; k < n && k < 8; ++k) {
            const int c = wi.ch[k];
            if (c > 7) {
                err("\t !!!!och:%d OOR\r\n", c);
                break;
            }
            m.PM_WIN_NUM[c] = s;
            m.PM_AREA_NUM[c] = k;
            dbg("ochLst[%d]:%d PM_AREA_NUM[%d]:%d\n", k, c, c, k);
        }
    }
    for (int c = 0; c < C331_CH_NUM; ++c)
        wrm(c331reg::CH_CTRL(c), m.PM_WIN_NUM[c] < C331_WIN_NUM ? 1 : 0, 1);
}

int c331_chip::zrvApi_OchGetWinOffset1(const S::WIN_INFO* win, int type) {
    const PanelView pv = panel();
    const int W = pv.ochW, H = pv.ochH;
    static const char* const side[4] = {"left", "right", "up", "down"};
    if (!win) return 0;
    if (type < 0 || type > 3) {
        err("\t not found type:%d\r\n", type);
        return 0;
    }
    if ((type < 2 && W == 0) || (type >= 2 && H == 0)) {
        err("\t !!!!!!!! po->width %s Error", side[type]);
        return 0;
    }
    switch (type) {
    case 0: return win->x % W;
    case 1: return W * win->totalh - (win->x % W + win->w);
    case 2: return win->y % H;
    default: return H * win->totalv - (win->y % H + win->h);
    }
}

int c331_chip::zrvApi_CropGetOffset(int port, const ST_RECT* rect, int type) {
    if (!rect || port < 0 || port >= C331_PORT_NUM) return 0;
    int hw = m.PI_ACT[port][1];
    if ((port == 4 || port == 5) && m.PI_STATE[port] < 4) hw *= 2;
    const int vh = m.PI_ACT[port][3];
    if (hw == 0 || vh == 0) {
        dbg("\t no signal, return 0\n");
        return 0;
    }
    int v = 0;
    switch (type) {
    case 0: v = rect->x; break;
    case 1: v = hw - (rect->x + rect->w); break;
    case 2: v = rect->y; break;
    case 3: v = vh - (rect->y + rect->h); break;
    default: v = 0; break;
    }
    if (v < 0) {
        dbg("[zrvApi_CropGetOffset] offset:%d < 0, reset to zeruo\n", v);
        v = 0;
    }
    return v;
}

void c331_chip::zrvApi_forceColorDisable(int dev) {
    (void)dev;
    g_force_bkcolor.store(2);
    dbg("[zrvApi_forceColorDisable]");
    for (u32 l = 0; l < C331_CH_NUM; ++l) wr(c331reg::LAYER_BKG_COLOR, 0, l * c331reg::kBankBaseStep);
    const int cnt = std::min(m.gMwin.wincnt, C331_WIN_NUM);
    for (int s = 0; s < cnt; ++s) {
        const S::WIN_INFO& wi = m.gWininfo[s];
        dbg("\t win_%d, oimgct:%d,och:\t", s, wi.totalh * wi.totalv);
        const int fill = portNoSignal(m.PM_INPUT[s]) ? 1 : 0;
        for (int k = 0; k < 8; ++k) {
            if (wi.ch[k] >= C331_CH_NUM) continue;
            wr(c331reg::LAYER_BKG_FILL, u32(fill), u32(wi.ch[k]) * c331reg::kBankBaseStep);
            dbg("%d ", wi.ch[k]);
        }
        dbg("\n");
    }
}

bool c331_chip::portNoSignal(int port) const {
    if (port < 0 || port >= C331_PORT_NUM) return true;
    return m.PI_PORT_INFO[port][S::PI_NOSIG] == 1;
}
