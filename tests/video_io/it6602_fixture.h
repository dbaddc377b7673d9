#pragma once
// Four simulated IT6602s with their sources, driven by the driver the way
// the source manager polls them: identify and reset until found, select
// the port once, then one poll per pass; virtual time.
#include "core/zrvrampara.h"
#include "sim/sim_it6602.h"
#include "support/test_env.h"
#include "video_io/it6602_reg.h"
#include "video_io/vimra_it6602.h"
#include "video_io/vimrasource.h"

#include <array>
#include <memory>
#include <vector>

class It6602Env : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        for (int i = 0; i < 4; ++i) chips[size_t(i)] = simIt6602(board(), i);
        src = std::make_unique<vimrasource>();
        src->open_bus();
    }
    void TearDown() override {
        EXPECT_EQ(board().i2cCollisions(), 0);
        src.reset();
        SimEnv::TearDown();
    }

    static SimSource source(u32 w, u32 h, u32 hz) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz;
        return s;
    }
    void plug(int input, const SimSource& s) { board().scenario().setInput(input, s); }

    // One poll of one input by the manager.
    void poll(int input) {
        src->poll_mask = source_bus::kPollBit[input];
        src->sourcecheck();
    }
    // The manager's start state of an input: 0 not found, 1 reset, 2 running.
    u8& state(int input) { return src->it6602_state[input]; }
    const vimra_it6602& drv() const { return src->it6602(); }
    void polls(int input, int n) {
        for (int i = 0; i < n; ++i) poll(input);
    }
    // Polls until the input reaches video-on; false after `limit` polls.
    bool untilVideoOn(int input, int limit = 10) {
        for (int i = 0; i < limit; ++i) {
            poll(input);
            if (vstate(input) == it6602::VSTATE_VideoOn) return true;
        }
        return false;
    }
    u8 vstate(int input) const { return drv().get_IT6602_dev_data(input).m_VState; }
    u8 astate(int input) const { return drv().get_IT6602_dev_data(input).m_AState; }
    // SIGNAL_PARA bytes of an input in the parameter image.
    std::vector<u8> summary(int input) const {
        std::vector<u8> out;
        for (u32 i = 0; i < RamOffset::SIGNAL_SIZE; ++i) out.push_back(model->live().byte(RamOffset::signal(u32(input)) + i));
        return out;
    }
    PI_HDMI_INFO record(int input) const {
        PI_HDMI_INFO r{};
        src->read_hdminfo(input, r);
        return r;
    }
    u8 reg37() const { return model->reg_block.REG[37]; }
    // The chip's register as the driver left it.
    u8 reg(int input, u8 bank, u8 r) const { return chips[size_t(input)]->stored(bank, r); }

    std::array<std::shared_ptr<SimIt6602>, 4> chips;
    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    std::unique_ptr<vimrasource> src;
};
