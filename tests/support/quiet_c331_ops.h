#pragma once
// Chip operations that do nothing, for tests that run the c331 manager's
// passes without a chip behind them.
#include "video_engine/c331_chip_ops.h"

class QuietC331Ops : public c331_chip_ops_unbuilt {
public:
    int zrvApi_OsdSet(int, int) override { return 1; }
    int update_osd(int) override { return 0; }
    void set_osd(int, int) override {}
    void set_scroll(int) override {}
    void load_char() override {}
    int read_c331_font(int) override { return 0; }
    void update_font(int) override {}
    void get_json_omenu_para(const char*, OSD_MENU_LIST& list) override { list.osdcount = 0; }
    void set_OSD_para(OSD_MENU_LIST&) override {}
};
