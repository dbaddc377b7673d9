// IT6805 receivers against the simulated chips: identification, bring-up of
// a source to published video, output modes, loss and unplug.
#include "video_io/it6805_env.h"

using namespace it6805;

namespace {
class It6805VideoTest : public It6805Env {};
}  // namespace

TEST_F(It6805VideoTest, BothIdentitiesAreAcceptedAndAMissingChipIsRetriedAlone) {
    // Chip 0 reads 0x05 in register 2, chip 1 reads 0x07.
    step(0);
    step(1);
    EXPECT_EQ((Vals{sys->run_state[0], sys->run_state[1], model->reg_block.REG[37] & 0x60}), (Vals{1, 1, 0x60}));

    sys->ite6805_sys_reset_init();
    chip(1)->setAbsent(true);
    model->live_image.setSignal(5, SIGNAL_PARA{1234, 567, 30, 0});
    const PI_HDMI_INFO before = info(1);
    const uint64_t seen = chip(1)->messages();
    step(1, 3);
    // Only the four identity reads per step reach the chip; nothing is
    // published for it.
    const PI_HDMI_INFO after = info(1);
    EXPECT_EQ((Vals{sys->run_state[1], sys->identify_miss[1], model->reg_block.REG[37] & 0x60, signal(1).width,
                    after.stable, after.nosignal, chip(1)->messages() - seen}),
              (Vals{0, 3, 0x20, 1234, before.stable, before.nosignal, 12}));

    chip(1)->setAbsent(false);
    step(1);
    EXPECT_EQ((Vals{sys->run_state[1], model->reg_block.REG[37] & 0x60}), (Vals{1, 0x60}));
}

TEST_F(It6805VideoTest, Source1080p60ComesUpOnBothLayoutsAndIsPublished) {
    int emitted = 0;
    QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [&](int) { ++emitted; });
    for (int rx = 0; rx < 2; ++rx) {  // chip 0 revision 0x10, chip 1 revision 0x20
        plug(rx, 1920, 1080, 60);
        step(rx);  // identify, initialise, +5 V seen: hot-plug raised
        ASSERT_EQ(sys->data[rx].STATEV, STATEV_WaitSync);
        EXPECT_TRUE(chip(rx)->hotPlugHigh());
        const int toCheck = stepUntil(rx, STATEV_CheckSync);
        const int toStable = stepUntil(rx, STATEV_VidStable);
        // Six passes of a steady AVI byte after SCDT before video goes on.
        EXPECT_GE(toCheck + toStable, 7) << rx;
        EXPECT_LE(toCheck + toStable, 9) << rx;

        const PI_HDMI_INFO i = info(rx);
        EXPECT_EQ((Vals{i.Hact, i.Hsync, i.Hback, i.Htotal, i.Vact, i.Vsync, i.Vback, i.Vtotal, i.type, i.datamode,
                        i.lane, i.nosignal, i.stable}),
                  (Vals{1920, 44, 148, 2200, 1080, 5, 36, 1125, 1, 1, 2, 0, 1}))
            << rx;
        EXPECT_NEAR(i.pfreq, 148.5, 0.2);
        EXPECT_EQ((Vals{sys->data[rx].OutputMode, sys->data[rx].VideoOutputOn, chip(rx)->reg(0, 0x6C) & 0x03}),
                  (Vals{1, 1, 0}));
        const SIGNAL_PARA s = signal(rx);
        EXPECT_EQ((Vals{s.width, s.height, s.rate, s.reserved}), (Vals{1920, 1080, 60, 0}));
        EXPECT_EQ((Vals{model->live_image.byte(3 * rx), model->live_image.byte(3 * rx + 1),
                        model->live_image.byte(3 * rx + 2)}),
                  (Vals{1920 & 0xFF, 1080 & 0xFF, 60}));
    }
    EXPECT_GE(emitted, 2);
}

TEST_F(It6805VideoTest, AviByteChangingDuringCheckSyncDelaysVideo) {
    // Both chips brought to CheckSync, then only the video machine stepped:
    // chip 1's source changes its colour format after three passes.
    int passes[2] = {0, 0};
    for (int rx = 0; rx < 2; ++rx) {
        plug(rx, 1920, 1080, 60);
        step(rx);
        ASSERT_GT(stepUntil(rx, STATEV_CheckSync), 0);
        select(rx);
        while (sys->data[rx].STATEV == STATEV_CheckSync && passes[rx] < 20) {
            if (rx == 1 && passes[rx] == 3) plug(rx, 1920, 1080, 60, SimSource::Color::YUV444);
            sys->iTE6805_vid_fsm(rx);
            ++passes[rx];
        }
    }
    // SCDT was seen in the pass that entered CheckSync, which counted once.
    EXPECT_EQ((Vals{passes[0], passes[1], sys->data[1].STATEV}), (Vals{6, 7, STATEV_VidStable}));
    // The new format reached the output path: converted to RGB.
    EXPECT_EQ((Vals{sys->data[1].AVI_ColorFormat, chip(1)->reg(0, 0x6C) & 0x03}), (Vals{2, 3}));
}

TEST_F(It6805VideoTest, OutputModeFollowsClockSizeAndFormat) {
    plug(0, 3840, 2160, 60, SimSource::Color::YUV420);
    step(0);
    ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);
    PI_HDMI_INFO i = info(0);
    EXPECT_EQ((Vals{i.Hact, i.Hsync, i.Hback, i.Htotal, i.Vact, i.lane, sys->data[0].OutputMode, signal(0).width}),
              (Vals{3840, 88, 296, 4400, 2160, 8, 3, 3840}));

    plug(1, 3840, 2160, 30);
    step(1);
    ASSERT_GT(stepUntil(1, STATEV_VidStable), 0);
    EXPECT_EQ((Vals{sys->data[1].OutputMode, info(1).lane, signal(1).width, signal(1).rate}), (Vals{2, 4, 3840, 30}));

    // The boundaries of the clock ranges, with a 1080-line timing whose
    // horizontal values are multiples of four.
    ite6805_drv& drv = sys->drv();
    iTE6805_VTiming& t = sys->timing[0];
    t = iTE6805_VTiming{};
    t.HActive = 1920, t.HTotal = 2200, t.HFrontPorch = 88, t.HSyncWidth = 44, t.HBackPorch = 148;
    sys->data[0].Is420 = 0;
    EXPECT_EQ((Vals{drv.output_mode(80000, 0), drv.output_mode(80001, 0), drv.output_mode(160000, 0),
                    drv.output_mode(160001, 0), drv.output_mode(320000, 0), drv.output_mode(320001, 0)}),
              (Vals{0, 1, 1, 2, 2, 3}));
    // A 4:2:0 input is four-lane from 160001 kHz.
    sys->data[0].Is420 = 1;
    EXPECT_EQ((Vals{drv.output_mode(160000, 0), drv.output_mode(160001, 0)}), (Vals{1, 3}));
    // Horizontal values that do not split in fours stay on two lanes.
    sys->data[0].Is420 = 0;
    t.HSyncWidth = 42, t.HBackPorch = 150;
    EXPECT_EQ(drv.output_mode(200000, 0), 1);
    t.HSyncWidth = 44, t.HBackPorch = 148, t.HActive = 2560, t.HTotal = 2842;  // wide, odd total
    EXPECT_EQ(drv.output_mode(150000, 0), 1);
    t.HTotal = 2840, t.HBackPorch = 148, t.HFrontPorch = 88;
    EXPECT_EQ(drv.output_mode(150000, 0), 2);
}

TEST_F(It6805VideoTest, LossClearsTheRecordAndUnplugDropsHotPlug) {
    plug(0, 1920, 1080, 60);
    step(0);
    ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);

    // The source stops sending while +5 V stays: SCDT lost.
    SimSource dark;
    dark.present = true;
    board().scenario().setInput(4, dark);
    EXPECT_GT(stepUntil(0, STATEV_WaitSync, 3), 0);
    PI_HDMI_INFO i = info(0);
    EXPECT_EQ((Vals{i.Hact, i.Vtotal, i.type, i.datamode, i.lane, i.nosignal, i.stable, signal(0).width,
                    signal(0).rate, sys->data[0].STATEA}),
              (Vals{0, 0, 1, 1, 1, 1, 1, 0, 0, STATEA_AudioOff}));
    EXPECT_EQ(i.pfreq, 0.0f);

    board().scenario().unplug(4);
    EXPECT_GT(stepUntil(0, STATEV_Unplug, 3), 0);
    EXPECT_FALSE(chip(0)->hotPlugHigh());
    EXPECT_EQ(sys->data[0].STATEEQ, 0u);

    // Back again: the whole road once more.
    plug(0, 1280, 720, 50);
    EXPECT_GT(stepUntil(0, STATEV_VidStable, 12), 0);
    EXPECT_EQ((Vals{signal(0).width, signal(0).height, signal(0).rate, info(0).stable, info(0).nosignal}),
              (Vals{1280, 720, 50, 1, 0}));
}
