#pragma once
// Four simulated IT6602s with their sources, driven by the driver the way
// the source manager polls them: identify and reset until found, select
// the port once, then one poll per pass; virtual time.
#include "sim/sim_it6602.h"
#include "support/test_env.h"
#include "video_io/it6602_reg.h"
#include "video_io/vimra_it6602.h"

#include <array>
#include <memory>
#include <vector>

class It6602Env : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
        for (int i = 0; i < 4; ++i) chips[size_t(i)] = std::make_shared<SimIt6602>(board().scenario(), i);
        auto route = [this](u8 device) -> std::shared_ptr<I2cModel> {
            auto& chip = chips[size_t(selected)];
            return chip->at(device);
        };
        drv.setTransfer(
            [route](int, u8 device, u8 reg, u8* data, int count) {
                auto m = route(device);
                return m->write(&reg, 1) && m->read(data, u16(count)) ? 1 : 0;
            },
            [route](int, u8 device, u8 reg, u8* data, int count) {
                std::vector<u8> msg{reg};
                msg.insert(msg.end(), data, data + count);
                return route(device)->write(msg.data(), u16(msg.size())) ? 1 : 0;
            });
        vimra_it6602::Publisher pub;
        pub.signal = [this](int input, u16 w, u16 h, u32 rate) {
            summaries[size_t(input)] = {u8(w), u8(w >> 8), u8(h), u8(h >> 8), u8(rate >= 55 ? 60 : rate), 0};
        };
        pub.record = [this](int input, const std::function<void(PI_HDMI_INFO&)>& fn) { fn(records[size_t(input)]); };
        pub.presence = [this](int input, bool on) {
            const u8 bit = u8(input == 0 ? 0x01 : 0x02 << input);
            reg37 = u8(on ? reg37 | bit : reg37 & ~bit);
        };
        drv.setPublisher(pub);
    }

    static SimSource source(u32 w, u32 h, u32 hz) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz;
        return s;
    }
    void plug(int input, const SimSource& s) { board().scenario().setInput(input, s); }

    // One poll of one input as the manager does it.
    void poll(int input) {
        selected = input;
        u8& st = state[size_t(input)];
        if (st == 0) {
            if (drv.IT6602_fsm_init(0, input)) st = 1;
        } else if (st == 1) {
            drv.IT6602_fsm_init_1(0, input);
            st = 2;
        } else {
            drv.IT6602_fsm(0, input);
        }
    }
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
    u8 vstate(int input) const { return drv.get_IT6602_dev_data(input).m_VState; }
    u8 astate(int input) const { return drv.get_IT6602_dev_data(input).m_AState; }
    std::vector<u8> summary(int input) const {
        const auto& s = summaries[size_t(input)];
        return {s.begin(), s.end()};
    }
    const PI_HDMI_INFO& record(int input) const { return records[size_t(input)]; }
    // The chip's register as the driver left it.
    u8 reg(int input, u8 bank, u8 r) const { return chips[size_t(input)]->stored(bank, r); }

    std::array<std::shared_ptr<SimIt6602>, 4> chips;
    vimra_it6602 drv;
    int selected = 0;
    std::array<u8, 4> state{};
    std::array<std::array<u8, 6>, 4> summaries{};
    PI_HDMI_INFO records[4]{};
    u8 reg37 = 0;
};
