#pragma once
// Chip operations that do nothing, for tests that run the c331 manager's
// passes without a chip behind them (a test overrides what it records).
#include "video_engine/c331_chip_ops.h"
#include "video_engine/c331_manage.h"

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

// The c331 manager with fresh chip state and quiet operations, its passes
// run by the test; puts its own operations back and leaves it idle.
class QuietC331Manager {
public:
    QuietC331Manager() : c(c331_manage::get()) {
        static_cast<c331_state&>(*c) = c331_state{};
        c->c331_fd = c->drv->initialize();
        c->drv->init_reg_acc_param();
        c->load_system_param();
        c->define_param();
        saved = c->ops;
        c->setChipOps(&quiet);
    }
    ~QuietC331Manager() {
        c->setChipOps(saved);
        c->thread_state.store(0);
        c->apply_flag.store(0);
    }
    QuietC331Manager(const QuietC331Manager&) = delete;
    QuietC331Manager& operator=(const QuietC331Manager&) = delete;
    c331_manage* const c;
    QuietC331Ops quiet;

private:
    c331_chip_ops* saved = nullptr;
};
