// IT6805 inputs driven by the source manager's passes: register-32 hot-plug
// commands and the restart after a custom EDID.
#include "core/utils.h"
#include "video_engine/c331_manage.h"
#include "sim/sim_edid_eeprom.h"
#include "video_io/it6805_env.h"
#include "video_io/source_handover.h"

#include <QMutexLocker>

namespace {
class It6805RoadTest : public It6805Env {
protected:
    void SetUp() override {
        It6805Env::SetUp();
        {
            QMutexLocker lock(&Utils::_source_init_mutex);
            src->init_state = 5;  // straight to polling passes
        }
        src->poll_mask = 0x20;  // HDMI3 only
    }
    // Source-manager passes until HDMI3 shows `width` (or the limit).
    int passesUntilWidth(u16 width, int limit = 60) {
        for (int i = 1; i <= limit; ++i) {
            src->step();
            if (signal(0).width == width && sys->data[0].STATEV == STATEV_VidStable) return i;
        }
        return -1;
    }
};
}  // namespace

TEST_F(It6805RoadTest, RegisterCommandsDropAndRaiseHdmi3HotPlug) {
    plug(0, 1920, 1080, 60);
    ASSERT_GT(passesUntilWidth(1920), 0);
    model->reg_block.REG[32] = 0x40;
    for (int i = 0; i < 5; ++i) src->step();
    EXPECT_FALSE(chip(0)->hotPlugHigh());
    EXPECT_EQ((Vals{signal(0).width, info(0).nosignal, sys->data[0].STATEV, model->reg_block.REG[32]}),
              (Vals{0, 1, STATEV_WaitSync, 0}));
    model->reg_block.REG[32] = 0x80;
    EXPECT_GT(passesUntilWidth(1920), 0);
    EXPECT_TRUE(chip(0)->hotPlugHigh());
}

TEST_F(It6805RoadTest, CustomEdidRestartsTheInputAndTheSourceFollows) {
    SimSource s;
    s.present = true, s.width = 1280, s.height = 720, s.refreshHz = 60, s.followsEdid = true;
    board().scenario().setInput(4, s);
    ASSERT_GT(passesUntilWidth(1280), 0);

    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        model->live_image.setWord(RamOffset::edid(4), 1920);
        model->live_image.setWord(RamOffset::edid(4) + 2, 1080);
        model->live_image.setWord(RamOffset::edid(4) + 4, 60);
    }
    source_handover::request_custom_edid(4);
    chip(0)->setLogging(true);
    EXPECT_GT(passesUntilWidth(1920), 0);
    // The hot-plug line went low for the restart and came back.
    std::vector<int> hpd;
    for (int v : writesTo(0, 3, 0xAB)) hpd.push_back((v & 0xC0) == 0xC0);
    ASSERT_GE(hpd.size(), 2u);
    EXPECT_EQ((Vals{hpd.front(), hpd.back()}), (Vals{0, 1}));
    EXPECT_EQ((Vals{signal(0).width, signal(0).height, signal(0).rate, info(0).Hact, info(0).stable}),
              (Vals{1920, 1080, 60, 1920, 1}));
    const SimSource now = board().scenario().snapshot().inputs[4];
    EXPECT_EQ((Vals{now.width, now.height, now.refreshHz}), (Vals{1920, 1080, 60}));
}

TEST_F(It6805RoadTest, WholeBoardBringsUpSixDifferentSourcesTogether) {
    struct In {
        uint32_t w, h, hz;
    };
    const In in[6] = {{1280, 720, 60}, {1920, 1080, 50}, {1920, 1080, 60},
                      {720, 480, 60}, {3840, 2160, 30}, {1280, 720, 50}};
    for (int i = 0; i < 6; ++i) {
        SimSource s;
        s.present = true, s.width = in[i].w, s.height = in[i].h, s.refreshHz = in[i].hz;
        board().scenario().setInput(i, s);
    }
    src->poll_mask = 0x3F;
    auto allUp = [&] {
        for (int i = 0; i < 6; ++i) {
            const SIGNAL_PARA p = model->live_image.signal(i);
            if (p.width != in[i].w || p.height != in[i].h || p.rate != in[i].hz) return false;
        }
        return true;
    };
    int passes = 0;
    while (!allUp() && passes < 80) {
        src->step();
        ++passes;
    }
    for (int i = 0; i < 6; ++i) {
        const SIGNAL_PARA p = model->live_image.signal(i);
        EXPECT_EQ((Vals{p.width, p.height, p.rate}), (Vals{in[i].w, in[i].h, in[i].hz})) << i;
    }
    PI_HDMI_INFO hdmi3{}, hdmi1{};
    src->read_hdminfo(4, hdmi3);
    src->read_hdminfo(2, hdmi1);
    EXPECT_EQ((Vals{hdmi3.Hact, hdmi3.Vtotal, hdmi3.lane, hdmi3.stable, hdmi1.Hact, hdmi1.Vtotal, hdmi1.stable}),
              (Vals{3840, 2250, 4, 1, 1920, 1125, 1}));
    EXPECT_EQ(board().i2cCollisions(), 0);
}
