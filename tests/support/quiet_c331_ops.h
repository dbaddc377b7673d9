#pragma once
// Chip operations that do nothing, for tests that run the c331 manager's
// passes without a chip behind them (a test overrides what it records).
#include "video_engine/c331_chip_ops.h"

class QuietC331Ops : public c331_chip_ops {
public:
    void zrvApi_forceColorDisable(int) override {}
    void zrvApi_initEnvC331() override {}
    void zrvApi_MultiWinChAlloc(char) override {}
    void zrvApi_MultiWinChInit() override {}
    int zrvApi_PnlInit2(int, int, int, int, int) override { return 0; }
    void c331_SetBrightness(unsigned short) override {}
    void c331_SetContrast(int) override {}
    void c331_SetSharpness(int) override {}
    void c331_SetSaturation(int) override {}
    void c331_SetColorTemp(int) override {}
    int c331_SetPattern(int) override { return 0; }
    void c331_SetWinPriority(int, int) override {}
    void c331_SetWinPriority1(int) override {}
    void c331_SetWinAttr(char, int) override {}
    void c331_SetInputsourceCrop(int, int) override {}
    void c331_SetCrop(char, char, ST_RECT*) override {}
    void c331_SetInputsource(int, int) override {}
    void c331_SetWinSource(int, int, int) override {}
    void c331_SetWinOutput(int, char, int) override {}
    void c331_SetWinDbdMode(int, char, int) override {}
    int zrvApi_applyCropEdits() override { return 0; }
    void set_output(int) override {}
    void load_hdmi() override {}
    void check_port_valid(int) override {}
    void check_input_port(int) override {}
    int zrvApi_OsdSet(int, int) override { return 1; }
    int update_osd(int) override { return 0; }
    void set_osd(int, int) override {}
    void set_scroll(int) override {}
    void load_char() override {}
    int read_c331_font(int) override { return 0; }
    void update_font(int) override {}
    void get_json_omenu_para(const char*, OSD_MENU_LIST& list) override { list.osdcount = 0; }
    void set_OSD_para(OSD_MENU_LIST&) override {}
    void input_slidebar(int) override {}
    void output_slidebar(int) override {}
    void disable_slidebar(int) override {}
    void vbyone_rx_ch1_seq(int) override {}
    void vbyone_rx_ch2_seq(int) override {}
    void read_c331_b174bug(int) override {}
    void write_read_c331_b80_iacthstch5(int) override {}
    void zrvDbg_c331_param(int) override {}
    void zrvDbg_c331_print_regGrp(int) override {}
    void sync_c331_device_test_input(int) override {}
    void sync_c331_device_test_frame_lock(int) override {}
};
