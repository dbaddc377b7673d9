#pragma once
// The c331 chip operations: input ports and their measurement, input
// channels and scalers, output channels and layers, the window layout and
// the single-window operations, the enhancement blocks of input channels
// 0-3, and the debug dumps and factory sequences. Panel timing, picture
// adjustments and the OSD are forwarded to their own classes.
//
// Window numbers: the apply pass names windows by their RECORD in the
// parameter image (0..5); the layout packs the enabled records into slots
// 0..wincnt-1. Every single-window operation of the interface takes the
// record and maps it to its slot, so a disabled lower record never makes a
// change land on another window. Internal work is done per slot.
#include "video_engine/c331_chip_ops.h"
#include "video_engine/c331_pic_host.h"
#include "video_engine/c331_state.h"

#include <functional>
#include <memory>

class c331_manage;
struct PARA_RAM_IMAGE;
class c331_timing;
class c331_picture;
class c331_osd;

class c331_chip : public c331_chip_ops, public c331_pic_host {
public:
    using S = c331_state;
    using Rect = c331_state::_ImageWindowDef_st;
    using Slice = c331_state::_ImageWindowDef2_St;
    using Scaling = c331_state::_ScalingSt;

    explicit c331_chip(c331_manage& manager);
    ~c331_chip() override;

    // Start values of the channel, layer and layout bookkeeping of this
    // class (also after the chip was initialised again).
    void resetPipeState();

    // The parameter image the layout is built from (and the panel set-up
    // writes the output-channel layout into): the manager's chip_image()
    // (the live image during a pass, the poll step's copy outside one)
    // unless a test gives its own.
    void setImage(PARA_RAM_IMAGE* image);
    const PARA_RAM_IMAGE& image() const;

    // ---- what the panel set-up and the picture operations use
    void set_rtct(int fd, int mode) override;
    void panel_layout_rebuild() override;
    int panel_param_dump() override;
    c331_timing& timing() { return *m_timing; }
    c331_picture& picture() { return *m_picture; }
    c331_osd& osd() { return *m_osd; }

    // ---- OSD: forwarded
    int zrvApi_OsdSet(int kind, int value) override;
    int update_osd(int fd) override;
    void set_osd(int fd, int scroll) override;
    void set_scroll(int fd) override;
    void load_char() override;
    int read_c331_font(int fd) override;
    void update_font(int fd) override;
    void get_json_omenu_para(const char* path, OSD_MENU_LIST& list) override;
    void set_OSD_para(OSD_MENU_LIST& list) override;

    // How a receiver record is read: fills the sixteen words and the stable
    // word of input d (0..5) under Utils::_source_hdminfo_mutex; false when
    // no record is available. The default reads the source manager's table.
    using HdmiReader = std::function<bool(int input, S::PortHdmiInfo& info, s32& stable)>;
    void setHdmiReader(HdmiReader reader) { m_hdmiReader = std::move(reader); }
    // The reader every chip object uses when it was given none: the input
    // source manager installs the one over its per-input records. Until then
    // no port is measured (every window shows its background).
    static void installHdmiReader(HdmiReader reader);

    // ---- debug dumps and factory sequences (protocol registers 33 to 36)
    void input_slidebar(int dev) override;
    void output_slidebar(int dev) override;
    void disable_slidebar(int dev) override;
    void vbyone_rx_ch1_seq(int dev) override;
    void vbyone_rx_ch2_seq(int dev) override;
    void read_c331_b174bug(int dev) override;
    void write_read_c331_b80_iacthstch5(int dev) override;
    // Dump or action n mod 14 (0 the full dump with its name line).
    void zrvDbg_c331_param(int n) override;
    // The full parameter dump, without name line; reads nothing from the chip.
    int zrvDbg_c331_param();
    void zrvDbg_c331_print_regGrp(int grp) override;
    // Waits 100 ms without the manager's mutex.
    void sync_c331_device_test_input(int dev) override;
    void sync_c331_device_test_frame_lock(int dev) override;
    // Every register of the register list with its value. Safe from any
    // thread: it reads chip registers only (never a data port, whose read
    // would take a byte of a running transfer) and no manager state.
    void c331_print();
    static int registerListSize();
    // Code (bank << 16 | register << 8 | width) of entry i, 0 outside.
    static u32 registerListEntry(int i);
    // Bring-up helpers (nothing calls them).
    void c331_outputTimmingCtrlReg(char ctrl1, char ctrl2);
    void c331_calc_PixelCLK();
    // The IT6805 receivers' read-out for dump action 10: refreshes the video
    // record of input 4 + rx from the receiver driver (as its own read-out
    // does) and returns it; false when there is none. Called in the c331
    // thread with the manager's mutex held: it may take
    // Utils::_source_hdminfo_mutex, no lock under which the source thread
    // waits for the manager's mutex, and leaves the record's no-signal and
    // stable words alone. Until installed, action 10 says it is not
    // available.
    using It6805Readout = std::function<bool(int rx, S::PortHdmiInfo& info)>;
    static void installIt6805Readout(It6805Readout readout);

    struct SlideBar {
        int pipeline;
        u8 colour1[3], colour2[3];
    };

    // ---- window layout (layout file)
    void zrvApi_forceColorDisable(int dev) override;
    void zrvApi_initEnvC331() override;
    void zrvApi_MultiWinChAlloc(char init) override;
    void zrvApi_MultiWinChInit() override;
    void zrvApi_initEnvC331Default();
    void zrvApi_MultiWinInit();
    void zrvApi_MultiWinGet(ST_MWIN* mwin, int preset = 0);
    void zrvApi_MultiWinChOverlay();
    int zrvApi_OchGetWinOffset1(const S::WIN_INFO* win, int type);
    int zrvApi_CropGetOffset(int port, const ST_RECT* rect, int type);
    // Dot-by-dot code of a mode word (0..9) when bit 8 of the output word is
    // set, else 0.
    static int dbdCode(int outputWord, int modeWord, bool* outOfRange = nullptr);
    // Slot of a window record, -1 when the record is not in the layout.
    int slotOfRecord(int record) const;

    // ---- panel timing and picture: forwarded
    int zrvApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice) override;
    void c331_SetBrightness(unsigned short value) override;
    void c331_SetContrast(int value) override;
    void c331_SetSharpness(int value) override;
    void c331_SetSaturation(int value) override;
    void c331_SetColorTemp(int value) override;
    int c331_SetPattern(int pattern) override;

    // ---- single-window operations (window = record number)
    void c331_SetWinPriority(int win, int priority) override;
    void c331_SetWinPriority1(int dev) override;
    void c331_SetWinAttr(char win, int data) override;
    void c331_SetInputsourceCrop(int win, int cropIndex) override;
    void c331_SetCrop(char win, char enable, ST_RECT* rect) override;
    void c331_SetInputsource(int win, int input) override;
    void c331_SetWinOutput(int dev, char win, int data) override;
    void c331_SetWinDbdMode(int dev, char win, int mode) override;
    void zrvApi_updateCrop(int port);
    void win_freeze_sel(int dev, int slot, int data);
    // A window record switched to a crop: checks the crop record (index
    // below 40, valid bit, input 0..5), then sets input and port, the crop
    // offsets and reprograms once. False (window unchanged, logged) when the
    // crop is refused.
    bool setSourceCrop(int record, int cropIndex);
    // A window record's whole source change in one step: crop on (checked
    // as above), crop off and input, or input alone; one set_output.
    void c331_SetWinSource(int win, int newWord, int oldWord) override;
    // The input a crop record's id word names (its low byte), -1 when that
    // is no input (above 5). The one reading of the id everywhere.
    static int cropInput(u16 id);
    // Crop rectangles edited since they were set up: every enabled window
    // showing a changed crop record is set up again (one set_output).
    // Returns the number of windows reprogrammed.
    int applyCropEdits();
    int zrvApi_applyCropEdits() override { return applyCropEdits(); }

    // ---- output channels and layers
    void set_output(int fd) override;
    void set_display_window_och(int fd, Rect src, Rect dst, int win);
    void calc_oact(Rect owin, Slice* hslices, Slice* vslices, int win);
    static void calc_scaling(Rect src, Rect dst, Scaling* out);
    void get_och(int win, int* och);
    void set_oscwct(int fd, int och);
    void set_lut_vzoom_4sym(int fd, int ratio, int och);
    int check_stitching_win(int* win, int* other);
    void check_stitching_chg();
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_layer_coef(int fd, int win, int steps, int dir);
    void reset_act(int fd, int phase);
    void set_freeze(int fd, int on);
    // False when no output frame came within the bound.
    bool wait1_povs(int fd, int n);

    // ---- input channels and scalers
    int check_ich_all(int win);
    int check_ich(int interlaced, int pair);
    int adjust_ich(int interlaced, int pair, int win);
    int set_input(int win, int port);
    void reset_ich(int win);
    void set_ichsel(int fd, int win);
    void set_idual(int fd, int ich, int on, int port);
    void calc_iwin2(int win);
    void calc_owin2(int win);
    void set_display_window_ich(int fd, Rect in, Rect out, int win);
    void set_display_window_ich_dbd(int fd, int win, int mode);
    int set_dbd_mem(int fd, int win);
    void set_lut_hshrnk(int fd, int ratio, int ich, int pair);
    void set_lut_vshrnk_4sym(int fd, int ratio, int ich, int pair);
    void set_input_bkg2(int fd, int win, int on) override;
    // Input write mode and channel write control of a window's channels.
    void set_iscwct(int fd, int win);
    void set_mct(int fd, int win, int mode);
    // De-interlacer and noise reduction of input channel ich (0-3) for the
    // port its owner shows; a channel above 3, without owner or whose
    // window shows no port is left alone. May wait two input frames
    // without the manager's mutex.
    void set_ip(int fd, int ich);
    // The blocks set_ip programs, for channel ich (0-3) and port (0-5);
    // anything else writes nothing. Levels outside a block's table are off.
    void set_nr(int fd, int ich, int port);
    void set_nr_block(int fd, int ich, int port);
    void set_nr_b_1080i(int fd, int ich, int port);
    void set_nr_b_1080p(int fd, int ich, int port);
    void set_nr_b_480i(int fd, int ich, int port);
    void set_nr_b_480p(int fd, int ich, int port);
    void set_nr_b_720p(int fd, int ich, int port);
    void set_nr_tpx(int fd, int ich, int port);
    void set_nr_hvpx(int fd, int ich, int port);
    void set_nr_mosq(int fd, int ich, int port);
    void set_comb(int fd, int ich, int port);
    void set_mvflt(int fd, int ich, int port);
    void set_ipregs(int fd, int ich, int port);
    void set_diag(int fd, int ich, int port);
    int zrvApi_IsPatternGen() const;
    static int hshrinkSet(int ratio);
    static int vshrinkClass(int ratio);
    static int shrinkRatio(int a, int b);
    // Rebuilds every window's channel list from the owner table.
    void rebuild_win_ich();
    int firstIch(int win) const;
    int ichCount(int win) const;

    // ---- input ports and measurement
    void load_hdmi() override;
    void check_port_valid(int fd) override;
    void check_input_port(int fd) override;
    static int zrvApi_GetPortDevId(int port);
    static int zrvApi_inputCvtC331(int input);
    int zrvApi_GetWinDbdMultiPort(int win, int* ports);
    void set_pict(int fd, int datamode, int port);
    void set_sypol(int fd, int vbo, int idx);
    void set_VBOInput(int fd, int ch);
    void set_VBORXfrange(int fd, int ch, int mode, float rate);
    void wait1_pivs(int fd, int idx);
    void wait1_pivs2(int fd);
    int check_dbd_input(int fd, int port);
    void reset_dbd_mem(int win);

    // The panel as the output set-up left it: wall size and origin, output
    // channel size, grid columns and rows, arrangement and splice mode.
    struct PanelView {
        int w, h, xoff, yoff;
        int ochW, ochH, cols, rows;
        int arrang, splice;
    };
    PanelView panel() const;

    // Ports a window shows (its dot-by-dot list or its one port); count.
    int windowPorts(int win, int* ports);
    bool windowShowsPort(int win, int port);
    // The window joins several ports dot by dot.
    bool windowJoinsPorts(int win);
    bool windowInUse(int win) const;

    // Longest wait for an output frame in wait1_povs.
    static constexpr u32 kPovsWaitMs = 200;
    // Longest wait for an input frame in wait1_pivs.
    static constexpr u32 kPivsWaitMs = 45;

private:
    // Port of the window owning enhanced channel ich, -1 for none.
    int enhancedPort(int ich) const;
    bool enhanceArgs(int ich, int port) const;
    void dumpMemory();
    void it6805Readout();
    void vboRxRestart(int ch, u32 page);
    void slideBars(const SlideBar* bars, int n, u32 type, u32 width);
    // The block reducer's sequence for the member of a field height.
    void set_nr_b(int ich, int port, int height);
    void wr(u32 code, u32 value, u32 base = 0);
    u32 rd(u32 code, u32 base = 0);
    void wrm(u32 code, u32 value, u32 mask, u32 base = 0);
    void latch(bool on);
    void restartVboRx(int ch, u32 laneMask);
    bool readHdmi(int input, S::PortHdmiInfo& info, s32& stable);
    void setupCropOffsets(int slot, const ST_RECT& rect);
    // Crop on (rectangle clamped to the port's picture) / off for a slot,
    // without programming the chip.
    void cropOn(int slot, ST_RECT& rect);
    void cropOff(int slot);
    // The slot's input without a crop change; false for no input.
    bool setInputOnly(int slot, int input);
    void applyWindowOutput(int slot, int data);
    bool portNoSignal(int port) const;
    int vboLanes(int port) const;
    u32 memUnits(int wmode, int n) const;
    int dbdLineFor(int win, int mode);

    c331_manage& m;
    PARA_RAM_IMAGE* m_image = nullptr;
    std::unique_ptr<c331_timing> m_timing;
    std::unique_ptr<c331_picture> m_picture;
    std::unique_ptr<c331_osd> m_osd;
    HdmiReader m_hdmiReader;
};
