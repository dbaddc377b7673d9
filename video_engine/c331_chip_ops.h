#pragma once
// The chip operations the c331 manager calls from its initialisation, apply
// pass, poll step and debug requests. The manager holds one implementation;
// the implementation reaches the shared working state, the register access
// and the descriptor through the manager (c331_manage derives from
// c331_state and has `drv` and `c331_fd`).
//
// Every operation runs in the c331 thread. Those called from the apply pass
// run with the manager mutex held: they must not wait for another thread
// that needs it.
#include "video_engine/c331_state.h"


class c331_chip_ops {
public:
    virtual ~c331_chip_ops() = default;

    // ---- window layout and channel allocation
    virtual void zrvApi_forceColorDisable(int dev) = 0;
    virtual void zrvApi_initEnvC331() = 0;
    virtual void zrvApi_MultiWinChAlloc(char init) = 0;
    virtual void zrvApi_MultiWinChInit() = 0;

    // ---- panel and output timing
    virtual int zrvApi_PnlInit2(int ledW, int ledH, int out1W, int out1H, int splice) = 0;

    // ---- picture adjustments and test patterns
    virtual void c331_SetBrightness(unsigned short value) = 0;
    virtual void c331_SetContrast(int value) = 0;
    virtual void c331_SetSharpness(int value) = 0;
    virtual void c331_SetSaturation(int value) = 0;
    // preset | blue << 8 | green << 16 | red << 24
    virtual void c331_SetColorTemp(int value) = 0;
    // 0 off, 1-8 patterns; 0 or -1 (more than one window).
    virtual int c331_SetPattern(int pattern) = 0;

    // ---- single-window operations
    virtual void c331_SetWinPriority(int win, int priority) = 0;
    virtual void c331_SetWinPriority1(int dev) = 0;
    virtual void c331_SetWinAttr(char win, int data) = 0;
    virtual void c331_SetInputsourceCrop(int win, int cropIndex) = 0;
    // May change rect (clamped to the input's measured size).
    virtual void c331_SetCrop(char win, char enable, ST_RECT* rect) = 0;
    virtual void c331_SetInputsource(int win, int input) = 0;
    // A window record's source word changed from oldWord to newWord (bit 15:
    // crop record index in the low byte, else the input): the whole switch,
    // crop on or off and input, programmed once. A crop record that cannot
    // be shown is refused (logged) and the window keeps its source.
    virtual void c331_SetWinSource(int win, int newWord, int oldWord) = 0;
    virtual void c331_SetWinOutput(int dev, char win, int data) = 0;
    virtual void c331_SetWinDbdMode(int dev, char win, int mode) = 0;
    // Crop rectangles edited in the image since they were set up: every
    // enabled window showing such a crop is set up again. Called by the
    // apply pass after the window records; returns the windows reprogrammed.
    virtual int zrvApi_applyCropEdits() = 0;

    // ---- output channels and layers
    virtual void set_output(int fd) = 0;

    // ---- input ports and measurement
    virtual void load_hdmi() = 0;
    virtual void check_port_valid(int fd) = 0;
    virtual void check_input_port(int fd) = 0;

    // ---- OSD and its menu file
    virtual int zrvApi_OsdSet(int kind, int value) = 0;
    // 0 drawn; nonzero: the serial flash was busy, the request stays.
    virtual int update_osd(int fd) = 0;
    virtual void set_osd(int fd, int scroll) = 0;
    virtual void set_scroll(int fd) = 0;
    virtual void load_char() = 0;
    // The caller holds the manager's flash lock for the font operations.
    // 0, or nonzero when the flash did not answer (update_font then skips).
    virtual int read_c331_font(int fd) = 0;
    virtual void update_font(int fd) = 0;
    virtual void get_json_omenu_para(const char* path, OSD_MENU_LIST& list) = 0;
    virtual void set_OSD_para(OSD_MENU_LIST& list) = 0;

    // ---- debug requests (protocol registers 33 to 36)
    virtual void input_slidebar(int dev) = 0;
    virtual void output_slidebar(int dev) = 0;
    virtual void disable_slidebar(int dev) = 0;
    virtual void vbyone_rx_ch1_seq(int dev) = 0;
    virtual void vbyone_rx_ch2_seq(int dev) = 0;
    virtual void read_c331_b174bug(int dev) = 0;
    virtual void write_read_c331_b80_iacthstch5(int dev) = 0;
    virtual void zrvDbg_c331_param(int n) = 0;
    virtual void zrvDbg_c331_print_regGrp(int grp) = 0;
    virtual void sync_c331_device_test_input(int dev) = 0;
    virtual void sync_c331_device_test_frame_lock(int dev) = 0;
};
