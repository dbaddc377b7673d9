// IT6805 inputs driven by the source manager's passes: register-32 hot-plug
// commands and the restart after a custom EDID; the six inputs together, and
// the rate each publishes for the common timings.
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

TEST_F(It6805RoadTest, EveryInputPublishesTheRateOfEachCommonTiming) {
    // Every input: rate = 1000 x clock in kHz / (H x V totals), the IT6602s
    // (inputs 0-3) to the nearest Hz; 55 or more is published as 60. A
    // timing with no standard one has totals of active + 160 and + 45.
    //   timing          totals      kHz     rate
    //   1080p60         2200x1125   148500  60.0
    //   1080p50         2640x1125   148500  50.0
    //   1080p30         2200x1125   74250   30.0
    //   1080p25         2640x1125   74250   25.0
    //   1080p24         2750x1125   74250   24.0
    //   720p60          1650x750    74250   60.0
    //   720p50          1980x750    74250   50.0
    //   720p30          3300x750    74250   30.0
    //   720p25          3960x750    74250   25.0
    //   576p50          864x625     27000   50.0
    //   480p59.94       858x525     27000   59.9 -> 60
    //   1280x1024@60    1688x1066   108000  60.0
    //   1920x1200@60 RB 2080x1235   154000  59.95 -> 60
    //   720p24          3300x750    59400   24.0
    //   1024x768@50     1184x813    48130   50.0
    //   1080p48         2080x1125   112320  48.0
    //   2160p30         4400x2250   297000  30.0
    // The IT6602's clock in whole MHz (31620 / count / 10, the count 3162 /
    // MHz in whole periods) is too rough for the last four: 720p24 count 53,
    // 59 MHz, 23.8 Hz; 1024x768@50 count 65, 48 MHz, 49.9; 1080p48 count 28,
    // 112 MHz, 47.9; 2160p30 count 10, 316 MHz, 31.9.
    struct Row {
        u16 w, h;
        u32 hz;
        u8 published;
    } rows[] = {{1920, 1080, 60, 60}, {1920, 1080, 50, 50}, {1920, 1080, 30, 30}, {1920, 1080, 25, 25},
                {1920, 1080, 24, 24}, {1280, 720, 60, 60},  {1280, 720, 50, 50},  {1280, 720, 30, 30},
                {1280, 720, 25, 25},  {720, 576, 50, 50},   {720, 480, 60, 60},   {1280, 1024, 60, 60},
                {1920, 1200, 60, 60}, {1280, 720, 24, 24},  {1024, 768, 50, 50},  {1920, 1080, 48, 48},
                {3840, 2160, 30, 30}};
    src->poll_mask = 0x3F;
    // Passes until every input shows what `want` gives it (or the limit).
    auto until = [&](const std::function<bool(const SIGNAL_PARA&)>& want) {
        for (int pass = 0; pass < 80; ++pass) {
            bool all = true;
            for (int i = 0; i < 6; ++i) all = all && want(model->live_image.signal(i));
            if (all) return;
            src->step();
        }
    };
    for (const Row& r : rows) {
        for (int i = 0; i < 6; ++i) board().scenario().unplug(i);
        until([](const SIGNAL_PARA& p) { return p.width == 0; });
        SimSource s;
        s.present = true, s.width = r.w, s.height = r.h, s.refreshHz = r.hz;
        for (int i = 0; i < 6; ++i) board().scenario().setInput(i, s);
        until([&](const SIGNAL_PARA& p) { return p.width == r.w && p.height == r.h && p.rate == r.published; });
        for (int i = 0; i < 6; ++i) {
            const SIGNAL_PARA p = model->live_image.signal(i);
            EXPECT_EQ((Vals{p.width, p.height, p.rate}), (Vals{r.w, r.h, r.published}))
                << r.w << "x" << r.h << "@" << r.hz << " on input " << i;
        }
    }
}
