#pragma once
// The real IT6805 driver of a source manager of its own, against the two
// simulated chips of the board, in virtual time. Steps select the chip's
// channel on the receiver switch first, as the source thread does.
#include "sim/sim_it6805.h"
#include "support/test_env.h"
#include "video_io/drv_i2c0.h"
#include "video_io/ite6805_cec_sys.h"
#include "video_io/ite6805_drv.h"
#include "video_io/ite6805_eq.h"
#include "video_io/ite6805_reg.h"
#include "video_io/ite6805_sys.h"
#include "video_io/source_map.h"
#include "video_io/vimrasource.h"
#include "core/zrvrampara.h"

#include <memory>

class It6805Env : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        clock = &useManualClock();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        src = std::make_unique<vimrasource>();
        src->open_bus();
        sys = &src->it6805();
    }
    void TearDown() override {
        EXPECT_EQ(board().i2cCollisions(), 0);
        src.reset();
        SimEnv::TearDown();
    }

    std::shared_ptr<SimIt6805> chip(int rx) { return simIt6805(board(), rx); }
    void select(int rx) { Drv_I2C0::i2c_write(src->fd, source_bus::kRxSwitch, source_bus::kChannel[4 + rx], nullptr, 0); }
    void plug(int rx, uint32_t w, uint32_t h, uint32_t hz, SimSource::Color c = SimSource::Color::RGB) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz, s.color = c;
        board().scenario().setInput(4 + rx, s);
    }
    void step(int rx, int n = 1) {
        select(rx);
        for (int i = 0; i < n; ++i) sys->iTE6805_FSM(rx);
    }
    // Steps until the video state is `state`; the number of steps, or -1.
    int stepUntil(int rx, STATEV_Type state, int limit = 40) {
        for (int i = 1; i <= limit; ++i) {
            step(rx);
            if (sys->data[rx].STATEV == state) return i;
        }
        return -1;
    }
    PI_HDMI_INFO info(int rx) {
        PI_HDMI_INFO out{};
        src->read_hdminfo(4 + rx, out);
        return out;
    }
    SIGNAL_PARA signal(int rx) { return model->live_image.signal(4 + rx); }
    // Register writes the chip saw to (bank, reg), in order.
    std::vector<int> writesTo(int rx, int bank, uint8_t reg) {
        std::vector<int> out;
        for (uint32_t w : chip(rx)->writes())
            if (int(w >> 16) == bank && uint8_t(w >> 8) == reg) out.push_back(int(w & 0xFF));
        return out;
    }

    ManualClock* clock = nullptr;
    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    std::unique_ptr<vimrasource> src;
    ite6805_sys* sys = nullptr;
};
