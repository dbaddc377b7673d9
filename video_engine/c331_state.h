#pragma once
// The c331 manager's working state, shared by the manager (identification,
// initialisation, apply pass, poll step) and the chip operations. It lives
// in c331_manage (which derives from it) and is touched only by the c331
// thread, except where a field says otherwise.
//
// Sections: the manager's own fields first; then one section each for the
// input/channel/layout operations and for the panel/picture operations.
// Each group edits only its own section.
#include "core/global.h"

#include <string>

typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;

constexpr int C331_WIN_NUM = 6;    // windows
constexpr int C331_PORT_NUM = 6;   // input ports
constexpr int C331_CH_NUM = 8;     // input channels, output channels, layers
constexpr int C331_MWIN_PRESETS = 10;

// A rectangle in panel or input pixels.
struct ST_RECT {
    int x, y, w, h;
};

// A multi-window layout: window count and room for six rectangles.
struct ST_MWIN {
    int wincnt;
    ST_RECT* win;
};

// One item of the OSD menu file "/data/configs/omenu.json".
struct OMENU_PARA {
    int type = 0;              // 0 text, 1 bitmap
    std::string status;        // "on" shows the OSD
    int x = 0, y = 0, w = 0, h = 0;
    int effect = 0, speed = 0, staytime = 0;
    std::string bk_enable, bk_color, layer;  // "off" transparent; RRGGBB; "buttom" under the picture
    int startx = 0, starty = 0, fontw = 0, fonth = 0, wordspace = 0, verticalspace = 0;
    std::string font_color;    // RRGGBB
    std::string text;          // "\n" separates lines
    int start = 0, end = 0;    // bitmap range
};

// The parsed OSD menu file; filled by the OSD menu reader.
struct OSD_MENU_LIST {
    int osdcount = 0;
    int oactcount = 0;
    OMENU_PARA items[3];
    std::string name;
};

// System-parameter block (load_system_param), 32-bit words in their order.
struct C331_SYS_PARAM {
    // Clocks.
    u32 PS_XTAL_CLK;   // 32,000,000
    u32 PS_MEM_CLK;    // 800,000,000
    u32 PS_IN_CLK;     // 27,000,000
    u32 PS_OUT_CLK;    // 27,000,000
    // Output timing defaults (the panel set-up replaces them).
    u32 PS_ACTHW, PS_ACTVW;      // active width, height
    u32 PS_HTOTAL, PS_VTOTAL;
    u32 PS_HSYNC, PS_HBP, PS_VSYNC, PS_VBP;
    // Vby-One transmitter.
    u32 PS_VBOTX_MODE, PS_VBOTX_LAYOUT;
    // Clock settings; the first five go to 00:47 .. 00:4B.
    u32 PS_PLL[9];
    // Field buffers of input channel k: k*0x2000 + j*0x08800000, j = 0..4.
    u32 PS_MEM_SC[C331_CH_NUM][5];
    // Dot-by-dot field bases.
    u32 PS_MEM_DBD_LINE;         // 64
    u32 PS_MEM_DBD[5];
    // Table addresses.
    u32 PS_MEM_DBD_BLOCK;        // 0x01DC0000, stride of a dot-by-dot block
    u32 PS_MEM_RSV0;             // 14
    u32 PS_MEM_IP_P[4][2];       // progressive de-interlacer buffers
    u32 PS_MEM_IP_I[4][2];       // interlaced de-interlacer buffers
    u32 PS_MEM_IPYOFF[4];        // 207
    u32 PS_MEM_NR[4];
    u32 PS_MWI_IP[4];            // 35
    u32 PS_MEM_WMODE[C331_WIN_NUM];  // 1
    u32 PS_MEM_RSV1[6];          // 0
    u32 PS_MEM_OSD_BMP;          // 0x70000000 bitmap staging
    u32 PS_MEM_OSD_BUF;          // 0x725C0000 OSD buffer
    u32 PS_MEM_OSD_SCROLL;       // 0x74B80000 scroll buffer
    u32 PS_MEM_FONT;             // 0x7F000000 fonts
};

struct c331_state {
    // ================= manager (c331core) =================
    C331_SYS_PARAM sys{};
    // Derived by define_param.
    u32 PS_ACTHST = 0, PS_ACTHEND = 0, PS_ACTVST = 0, PS_ACTVEND = 0;
    u32 PS_OAOIHST = 0, PS_OAOIHEND = 0, PS_OAOIVST = 0, PS_OAOIVEND = 0;
    u32 PS_MEM_CLK_Q = 0;        // a quarter of the memory clock
    u32 PS_CANVAS_W = 0, PS_CANVAS_H = 0;  // output canvas
    u32 PS_OCH_H = 0, PS_OCH_V = 0;        // output channels across, down

    // Window, channel and layer bookkeeping reset by define_param.
    int win_port[C331_WIN_NUM]{};           // -1 none
    int win_order[C331_WIN_NUM]{};
    int ich_owner[C331_CH_NUM]{};           // window owning input channel k, -1 free
    int win_ich[C331_WIN_NUM][C331_CH_NUM]{};    // channels of window w, -1 padded
    int win_slice[C331_WIN_NUM][C331_CH_NUM]{};  // output slices of window w, -1 padded
    int g_och_layer[C331_CH_NUM][C331_CH_NUM]{}; // per mixer, output channels bottom to top
    int g_och_layer_cnt[C331_CH_NUM]{};

    // PM values (load_param from parameters_txt).
    s32 PM_WIN_SHAPE[C331_WIN_NUM][2]{};
    s32 PM_INPUT[C331_WIN_NUM]{};           // c331 port feeding window w
    s32 PM_WIN_OFFSET[C331_WIN_NUM][4]{};   // left, right, top, bottom
    s32 PM_INPUT_OFFSET[C331_WIN_NUM][4]{}; // left, right, up, down
    s32 PM_INPUT_OFFSET_EN[C331_WIN_NUM]{};
    s32 PM_WIN_NUM[C331_CH_NUM]{};          // window shown by layer l
    s32 PM_AREA_NUM[C331_CH_NUM]{};
    s32 PM_OVERLAY[C331_CH_NUM]{};
    s32 PM_OVERLAY_PRI[C331_WIN_NUM]{};
    s32 PM_ENH_SW1[C331_WIN_NUM]{};         // enhancement switches, first group
    s32 PM_ENH_SW2[C331_WIN_NUM]{};         // enhancement switches, second group
    s32 PM_WIN_FADE_EN[C331_WIN_NUM]{};
    s32 PM_WIN_FADE_IN[C331_WIN_NUM]{};     // fade step counts (from the image, clamped)
    s32 PM_WIN_FADE_OUT[C331_WIN_NUM]{};
    s32 PM_OUT_SW1[C331_WIN_NUM]{};         // output switches, first group
    s32 PM_OUT_SW2[C331_WIN_NUM]{};         // second group: no background fill
    s32 PM_OSD_EN = 0, PM_OSD_HZOOM_EN = 0, PM_OSD_VZOOM_EN = 0;
    s32 PM_OSD_DATA_MODE = 0;
    s32 PM_OSD_SCROLL_MODE = 0;
    s32 PM_OSD_OUTPUT_OFFSET[4]{};
    s32 PM_OSD_INPUT_OFFSET[4]{};
    s32 PM_MISC_SW1 = 0, PM_MISC_SW2 = 0;   // the two further switches
    s32 PM_OSD_UPDATE_BUTTON = 0;
    s32 PM_OSD_SCROLL_SPEED = 0;
    s32 PM_OSD_CHAR_64DOT = 0;
    s32 PM_WIN_STITCHING[C331_WIN_NUM]{};
    s32 PM_WIN_DBD_MODE[C331_WIN_NUM]{};    // dot-by-dot code, 0 off
    // Noise reduction per port; defaults set by define_param.
    s32 PM_HNR[C331_PORT_NUM]{}, PM_VNR[C331_PORT_NUM]{}, PM_TNR[C331_PORT_NUM]{};
    s32 PM_BNR[C331_PORT_NUM]{}, PM_MNR[C331_PORT_NUM]{}, PM_COMB[C331_PORT_NUM]{};
    s32 PM_IPEN[C331_PORT_NUM]{}, PM_DIAG[C331_PORT_NUM]{}, PM_MVFLT[C331_PORT_NUM]{};
    s32 PM_22PD[C331_PORT_NUM]{}, PM_23PD[C331_PORT_NUM]{}, PM_24SF[C331_PORT_NUM]{};
    s32 PM_22PDSQTH[C331_PORT_NUM]{}, PM_23PDSQTH[C331_PORT_NUM]{};

    // Change flags raised by load_param (and by the operations).
    s32 chg_win[C331_WIN_NUM]{};     // window layout, source or size
    s32 chg_overlay = 0;
    s32 chg_priority = 0;
    s32 chg_enh[C331_WIN_NUM]{};
    s32 chg_fade[C331_WIN_NUM]{};
    s32 chg_out[C331_WIN_NUM]{};
    s32 chg_misc1 = 0, chg_misc2 = 0;

    // Window update state: 1 input changed, 2 channels moved, 3 port timing
    // re-established; cleared when the window is re-programmed.
    s32 g_chg_input[C331_WIN_NUM]{};

    // Per input port: measurement change flags and the active area
    // (horizontal start, width, vertical start, height).
    s32 PI_STATE[C331_PORT_NUM]{};          // 0 no signal, 1-8 signal
    s32 PI_UPDATE[C331_PORT_NUM]{};
    s32 PI_UPDATE2[C331_PORT_NUM]{};
    s32 PI_ACT[C331_PORT_NUM][4]{};

    // OSD requests: full redraw (update_osd), redraw and restart scrolling
    // (set_osd + set_scroll).
    s32 osd_update_req = 0;
    s32 osd_redraw_req = 0;
    // Nonzero while the pattern generator shows a test pattern.
    s32 pattern_gen = 0;

    // Preset layouts: counts 1, 2, 3, 3, 4, 4, 5, 5, 6, 6.
    ST_MWIN mwin_preset[C331_MWIN_PRESETS]{};
    ST_RECT mwin_room[C331_MWIN_PRESETS][C331_WIN_NUM]{};

    // ================= input ports, channels, layers, layout (c331pipe) =================
    // Receiver information of a port as last taken over (the first sixteen
    // words of the receiver's record; the stable word is not kept).
    struct PortHdmiInfo {
        s32 Hact, Hsync, Hback, Hpol, Htotal;
        s32 Vact, Vsync, Vback, Vpol, Vtotal;
        float pfreq;  // MHz
        s32 type, datamode, lane, ip, nosignal;
    };
    // A rectangle: horizontal start, width, vertical start, height.
    struct _ImageWindowDef_st {
        s32 HST, HW, VST, VW;
    };
    // One panel slice of a window, with its first / last flags per axis.
    struct _ImageWindowDef2_St {
        s32 HST, HW, VST, VW;
        s32 hfirst, hlast, vfirst, vlast;
    };
    // Per axis: mode 0 none, 1 shrink, 2 zoom; ratios in 16.16 fixed point.
    struct _ScalingSt {
        s32 hmode, hshrink, hzoom;
        s32 vmode, vshrink, vzoom;
    };
    // One window of the layout (32 bytes), in slot order.
    struct WIN_INFO {
        u16 x, y, w, h;     // panel coordinates, origin added
        u8 attr;            // bits 0-1: horizontal, vertical mirror
        u8 output;          // bit 0 black, bit 1 freeze
        u8 enable;
        u8 input;           // 0..5
        u8 crop;            // crop record index 0..39
        u8 layer;           // priority 0..5
        u8 ch[8];           // pipelines drawing the window, 0xFF empty
        u8 pos[8];          // output channel of each pipeline, 0xFF empty
        u8 totalh, totalv;  // output channels covered across, down
    };
    // Indices into PI_PORT_INFO.
    enum { PI_HTT = 0, PI_VTT, PI_VCNT, PI_FPERIOD, PI_HW, PI_PSTATE, PI_LANE, PI_NOSIG = 10, PI_IP = 11 };

    // Port check byte: bit 7 asks check_port_valid to check the port, bit 0
    // set while its measurement is invalid. Under Utils::_check_nosig_mutex.
    s32 port_check[C331_PORT_NUM]{};
    PortHdmiInfo PI_HDMI_INFO[C331_PORT_NUM]{};
    s32 PI_PORT_INFO[C331_PORT_NUM][12]{};
    s32 PI_ACT_FULL[C331_PORT_NUM][4]{};
    s32 PI_SCAN_MODE[C331_PORT_NUM]{};
    s32 PI_IFH[C331_PORT_NUM]{}, PI_IFV[C331_PORT_NUM]{};
    s32 PI_HTOTAL[C331_PORT_NUM]{}, PI_VTOTAL[C331_PORT_NUM]{};
    double PI_FV[C331_PORT_NUM]{}, PI_FPICLK[C331_PORT_NUM]{}, PI_FH[C331_PORT_NUM]{};

    // Per window: second dot-by-dot word, dot-by-dot set-up pending, extra
    // input start offsets, memory write mode in force, input and output
    // rectangles, and whether the delivered width was limited to 2176.
    s32 PM_WIN_DBD_MODE2[C331_WIN_NUM]{};
    s32 g_chg_dbd[C331_WIN_NUM]{};
    s32 PM_IACTHST[C331_WIN_NUM]{}, PM_IACTVST[C331_WIN_NUM]{};
    s32 PM_MEM_WMODE[C331_WIN_NUM]{};
    _ImageWindowDef_st IWIN[C331_WIN_NUM]{}, OWIN[C331_WIN_NUM]{};
    s32 win_width_limited[C331_WIN_NUM]{};

    // Dot-by-dot memory: block owner (window or -1), per window its blocks,
    // five field addresses and line length (0: none taken).
    s32 dbd_blk_owner[C331_WIN_NUM]{};
    s32 dbd_win_blk[C331_WIN_NUM][4]{};
    u32 dbd_win_mem[C331_WIN_NUM][5]{};
    s32 dbd_win_line[C331_WIN_NUM]{};

    // Change marks besides chg_win (window) and chg_out (output bits).
    s32 chg_attr[C331_WIN_NUM]{};
    s32 chg_stitch1[C331_WIN_NUM]{}, chg_stitch2[C331_WIN_NUM]{};

    // Field-buffer order (five 3-bit indices) and freeze mark per window.
    s32 win_field[C331_WIN_NUM][5]{};
    s32 win_freeze[C331_WIN_NUM]{};
    // Assignment kept at the end of every set_output.
    s32 prev_win_num[C331_CH_NUM]{};
    s32 prev_win_ich[C331_WIN_NUM][C331_CH_NUM]{};

    // The layout: windows packed into slots 0..wincnt-1 in record order.
    ST_MWIN gMwin{};
    ST_RECT gMwinList[C331_WIN_NUM]{};
    WIN_INFO gWininfo[C331_WIN_NUM]{};
    s32 attr_hflip[C331_WIN_NUM]{}, attr_vflip[C331_WIN_NUM]{};
    s32 pipe_used[C331_CH_NUM]{};
    // Slot of each window record and record of each slot (-1 none).
    s32 record_slot[C331_WIN_NUM]{};
    s32 slot_record[C331_WIN_NUM]{};
    // Crop rectangle (x, y, w, h of the crop record) each slot was last set
    // up from; a crop edit is re-applied when the record differs.
    ST_RECT crop_applied[C331_WIN_NUM]{};
    // Crop id last refused per slot (-1 none), so a bad record is logged once.
    s32 crop_refused_id[C331_WIN_NUM]{-1, -1, -1, -1, -1, -1};
    // Noise-reduction enable last written per CMOS port (-1 none yet).
    s32 nr_last[4]{-1, -1, -1, -1};

    // ================= end c331pipe =================

    // ================= panel timing, picture, patterns (c331pic) =================
    // The LED wall and how the panel set-up cut it between the two outputs
    // (zrvApi_PnlInit2); the window layout reads the wall size and the
    // origin of the picture on the output channels from here.
    struct ST_PANEL {
        int w = 0, h = 0;            // LED wall
        int out1w = 0, out2w = 0;    // output sizes by splice mode
        int out1h = 0, out2h = 0;
        int xoffs = 0, yoffs = 0;    // panel origin on the output-channel canvas
    } gPnl;
    // The output channels (Vby-One transmitters) and their timing. The
    // window layout takes its grid from hcnt x vcnt, arrang and the
    // channel size.
    struct ST_OCH_SPEC {
        u8 hcnt = 0, vcnt = 0;       // channels across, down
        u32 splice = 0;              // 0 NONE, 1 HV, 2 V, 3 H, 4 CP12, 5 CP21
        u32 lane = 0;                // 0 one channel on 4 lanes, 1 on 2 lanes
        u32 arrang = 0;              // 5 2x1, 6 4x1, 7 2x2, 8 1x2
        u32 width = 0, height = 0;   // active size of one channel
        u32 htt = 0, hsw = 0, hfp = 0;
        u32 vtt = 0, vsw = 0, vfp = 0;
        u8 use1och = 0;              // 1: the picture needs one channel per output
    } gOch;

    // ================= end c331pic =================

    // ================= OSD (c331osd) =================
    // The OSD area (the output canvas unless set), its colours (0xBBGGRR),
    // the text origin, the fonts (flash data address, size, place in chip
    // memory: 32-dot ASCII, 32-dot CJK, 64-dot ASCII, 64-dot CJK), spacings.
    s32 osd_area_w = 0, osd_area_h = 0;
    u32 osd_bg_color = 0, osd_char_color = 0;
    s32 osd_transparent = 0;
    s32 osd_org_x = 0, osd_org_y = 0;
    u32 osd_font_src[4]{}, osd_font_size[4]{}, osd_font_mem[4]{};
    s32 osd_bottom = 0;
    s32 osd_word_space = 0, osd_line_space = 0;
    // The text: 64 lines of up to 127 characters and a terminating 0.
    u16 osd_text[64][128]{};
    s32 osd_lines = 0;
    // Buffer stride in 128-byte units (512 with the wide flag).
    s32 osd_stride = 0, osd_wide = 0;
    // The bitmap in the serial flash and its colour table.
    u32 osd_bmp_src = 0, osd_bmp_ctab = 0;
    s32 osd_bmp_w = 0, osd_bmp_h = 0;
    // ================= end c331osd =================
};
