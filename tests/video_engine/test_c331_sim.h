#pragma once
// Shared by the c331 register tests: a simulated c331 on the board's SPI
// bus with a driver opened on it, a recording stand-in for what the panel
// and picture operations ask of the rest of the chip, and a way back to no
// pending hand-over requests.
#include "fpga/fpga_handover.h"
#include "sim/sim_c331.h"
#include "support/test_env.h"
#include "video_engine/c331_drv.h"
#include "video_engine/c331_pic_host.h"
#include "video_io/source_handover.h"

#include <memory>
#include <utility>
#include <vector>

class C331SimEnv : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        chip = std::make_shared<SimC331>();
        board().attachSpi(c331reg::kSpiDevice, chip);
        drv = std::make_unique<c331_drv>();
        fd = drv->initialize();
        ASSERT_GE(fd, 0);
    }

    std::shared_ptr<SimC331> chip;
    std::unique_ptr<c331_drv> drv;
    int fd = -1;
};

struct C331RecordingHost : c331_pic_host {
    std::vector<int> rtct;
    std::vector<std::pair<int, int>> bkg;  // window, on
    int rebuilds = 0, dumps = 0;
    void set_rtct(int, int mode) override { rtct.push_back(mode); }
    void set_input_bkg2(int, int win, int on) override { bkg.emplace_back(win, on); }
    void panel_layout_rebuild() override { ++rebuilds; }
    int panel_param_dump() override { return ++dumps, 0; }
};

// Takes every request the c331 thread hands to the FPGA and source threads.
inline void c331_take_hand_overs() {
    fpga_handover::take_brightness();
    fpga_handover::take_output_layout();
    fpga_handover::take_output_status();
    source_handover::take_audio_changed();
}
