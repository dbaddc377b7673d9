#include "ui/settings/splice_rules.h"

#include "core/image_view.h"
#include "core/logMsg.h"
#include "ui/shell/fpga_panel.h"

#include <algorithm>

namespace SpliceRules {

int half(int v) { return v / 2 + (v % 2 ? 2 : 0); }
int up8(int v) { return (v + 7) / 8 * 8; }
int up32(int v) { return (v + 31) / 32 * 32; }

int modeOfWord(int word) { return word == Vertical || word == Horizontal ? word : Copy; }

int itemOfMode(int mode) { return mode == Horizontal ? ItemHorizontal : mode == Vertical ? ItemVertical : ItemCopy; }

namespace {

// value held to lo..hi (hi below lo counts as lo), logged when held, at
// the caller's place.
int held(int value, int lo, int hi, const char* what, LogPlace at = {}) {
    const int v = std::max(lo, std::min(value, std::max(lo, hi)));
    if (v != value)
        writeLogMsg(WARNING, std::string("output page: ") + what + " " + std::to_string(value) + " held to " +
                                 std::to_string(v),
                    at);
    return v;
}

// OUT1 in the split direction keeps room for OUT2; OUT2 is the rest.
void holdHorizontal(Fields& f, const char* what) {
    f.out1Width = held(f.out1Width, 1, f.wallWidth - 1, what);
    f.out2Width = f.wallWidth - f.out1Width;
}
void holdVertical(Fields& f, const char* what) {
    f.out1Height = held(f.out1Height, 1, f.wallHeight - 1, what);
    f.out2Height = f.wallHeight - f.out1Height;
}

}  // namespace

void selected(Fields& f, int item) {
    const int W = f.wallWidth, H = f.wallHeight;
    switch (item) {
    case ItemHorizontal:
        f.mode = Horizontal;
        f.out1Width = up8(half(W));
        f.out1Height = f.out2Height = H;
        holdHorizontal(f, "OUT1 width");
        break;
    case ItemVertical:
        f.mode = Vertical;
        f.out1Width = f.out2Width = W;
        f.out1Height = H / 2 + (H % 2 ? 0 : 2);
        holdVertical(f, "OUT1 height");
        break;
    case ItemCopy:
        f.mode = Copy;
        if (W > kMaxWidth) f.wallWidth = kMaxWidth;
        f.out1Width = f.out2Width = f.wallWidth;
        f.out1Height = f.out2Height = H;
        break;
    default:
        break;
    }
}

void out1WidthEntered(Fields& f, int value) {
    const int W = f.wallWidth;
    int v = held(value, 1, value, "OUT1 width");
    if (v > kMaxWidth) {
        // Too wide for one output: the wall is split side by side, whatever
        // the selector shows.
        f.mode = Horizontal;
        v = W > kMaxWidth ? kWideWidth : kMaxWidth;
    } else if (W > kMaxWidth) {
        v = up32(v);
    }
    f.out1Width = v;
    if (f.mode == Horizontal)
        holdHorizontal(f, "OUT1 width");
    else
        f.out2Width = v;
}

void out1HeightEntered(Fields& f, int value) {
    f.out1Height = held(value, 1, kMaxWidth, "OUT1 height");
    if (f.mode == Vertical)
        holdVertical(f, "OUT1 height");
    else
        f.out2Height = f.out1Height;
}

bool wallChanged(const PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow) {
    using namespace RamOffset;
    for (u32 off : {SPLICE_MODE, WALL_WIDTH, WALL_HEIGHT})
        if (live.word(off) != shadow.word(off)) return true;
    return false;
}

bool apply(const Fields& f) {
    using namespace RamOffset;
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model) return false;
    // What apply stores keeps OUT2 inside the wall even when the fields
    // came from an image the page did not write.
    Fields g = f;
    if (g.mode == Horizontal) holdHorizontal(g, "OUT1 width");
    if (g.mode == Vertical) {
        // OUT2's height is stored as its field shows it, unless OUT1's
        // had to be held.
        const int h = held(g.out1Height, 1, g.wallHeight - 1, "OUT1 height");
        if (h != g.out1Height) {
            g.out1Height = h;
            g.out2Height = g.wallHeight - h;
        }
    }
    const u16 W = u16(g.wallWidth), H = u16(g.wallHeight);

    bool changed = false;
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow) {
        live.setWord(WALL_WIDTH, W);
        live.setWord(WALL_HEIGHT, H);
        live.setWord(SPLICE_MODE, u16(u8(g.mode)));
        u16 out[6];  // 1412 to 1422
        if (g.mode == Horizontal) {
            const u16 w = u16(g.out1Width), h = u16(g.out1Height);
            out[0] = w, out[1] = h, out[2] = w, out[3] = 0, out[4] = u16(W - w), out[5] = h;
        } else if (g.mode == Vertical) {
            const u16 w = u16(g.out1Width), h = u16(g.out1Height);
            out[0] = w, out[1] = h, out[2] = 0, out[3] = h, out[4] = w, out[5] = u16(g.out2Height);
        } else {
            out[0] = W, out[1] = H, out[2] = 0, out[3] = 0, out[4] = W, out[5] = H;
        }
        for (u32 k = 0; k < 6; ++k) live.setWord(OUT1_WIDTH + 2 * k, out[k]);

        changed = wallChanged(live, shadow);
        if (changed) {
            // The old layout does not fit the new wall: one window over all of it.
            live.setWord(win(0) + WIN_X, 0);
            live.setWord(win(0) + WIN_Y, 0);
            live.setWord(win(0) + WIN_WIDTH, W);
            live.setWord(win(0) + WIN_HEIGHT, H);
            for (u32 w = 1; w < WIN_COUNT; ++w) live.setWord(win(w) + WIN_ENABLE, 0);
            FpgaPanel::requestLedReinit();
        }
        return true;
    });
    return changed;
}

}  // namespace SpliceRules
