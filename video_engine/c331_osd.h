#pragma once
// The c331's on-screen display: the OSD settings, the drawing of text lines
// (fonts in chip memory) or of the bitmap (from the serial flash) into the
// OSD buffer, its slices per output channel and its scrolling; the font
// load from the serial flash; and the OSD menu file that PC software
// uploads. Everything here runs in the c331 thread: the apply pass sets the
// settings and raises redraw requests, the poll step draws.
//
// Chip memory holds one byte per pixel (a colour-table index). A line of the
// OSD buffer is stride x 128 bytes long (stride x 512 with the wide stride),
// which is at least twice the OSD's width: the scroll buffer uses the same
// pitch for its four copies side by side.
#include "video_engine/c331_state.h"

#include <QByteArray>

#include <string>
#include <vector>

class c331_manage;
class c331_chip;

class c331_osd {
public:
    using S = c331_state;

    c331_osd(c331_manage& manager, c331_chip& chip);

    // ---- settings
    // 1 when the kind is known (0 to 22, 32 to 35), else 0 and nothing changes.
    int zrvApi_OsdSet(int kind, int value);
    // Text lines: at most 64 lines of at most 127 characters; each code
    // point that is not a character of the fonts is kept as '?'. Returns 0.
    int zrvApi_OsdSetUnicode(int count, const int* lengths, const u32* const* lines);
    void load_char();
    void load_bmp();

    // ---- fonts (the caller holds the flash lock)
    // 0, or 2 when the flash did not answer (every presence bit cleared).
    int read_c331_font(int fd);
    void update_font(int fd);

    // ---- drawing
    // 0 drawn; 1 left for a later pass (the flash is busy).
    int update_osd(int fd);
    void set_osd(int fd, int scroll);
    void set_scroll(int fd);
    void set_char_color(int fd);
    void gen_char(int fd);
    // Draws one line at (x, y) of the OSD buffer; characters that would
    // reach past the OSD area are not drawn. False when the engine did not
    // answer.
    bool osd_put_unicode_string(int fd, int x, int y, const u16* text);
    bool osd_paint(int fd, int x, int y, int w, int h, int colour);
    bool osd_copy(int fd, u32 src, int srcStride, u32 dst, int dstStride, int w, int h);

    // The OSD window on the output canvas cut per output channel: up to
    // eight entries, row by row of channels (index = row x across + column).
    struct Slice {
        s32 hst, hw, vst, vw;
        s32 hfirst, vfirst;
    };
    struct Window {
        s32 x, y, w, h;
    };
    Window calc_osd(Slice out[C331_CH_NUM]);

    // Glyph number and advance of a character in a cell of 32 or 64 dots.
    struct Glyph {
        int number, advance;
    };
    Glyph glyphOf(u16 code, int cell) const;
    // Buffer stride (128-byte units) of an OSD width, and the wide flag.
    static int strideFor(int width, bool* wide);

    // ---- menu file
    void get_json_omenu_para(const char* path, OSD_MENU_LIST& list);
    // Whether the reader above takes a file of this text: false, with the
    // reason, for one it refuses and keeps aside (not JSON, too big, nested
    // too deep). A file it takes may still lack keys and show no item.
    static bool omenu_text_usable(const QByteArray& text, std::string* why);
    void set_OSD_para(OSD_MENU_LIST& list);

private:
    void wr(u32 code, u32 value, u32 base = 0);
    bool geRun(int fd, u32 command);
    int pitch() const;
    bool cropped(int& w, int& h) const;
    bool waitField(int fd);

    c331_manage& m;
    c331_chip& m_chip;
    bool m_fontsReadable = true;
};
