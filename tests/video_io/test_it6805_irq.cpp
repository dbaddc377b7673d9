// IT6805 interrupt paths and the audio machine while a source runs: what
// the chip's interrupt bits make the receiver do.
#include "video_io/it6805_env.h"

using namespace it6805;

namespace {
class It6805IrqTest : public It6805Env {
protected:
    SimSource source(uint32_t w, uint32_t h, uint32_t hz) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz;
        return s;
    }
    void up(const SimSource& s) {
        board().scenario().setInput(4, s);
        step(0);
        ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);
    }
    // The audio states of the next n steps.
    std::vector<int> audioStates(int n) {
        std::vector<int> out;
        for (int i = 0; i < n; ++i) {
            step(0);
            out.push_back(sys->data[0].STATEA);
        }
        return out;
    }
    static bool contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }
};
}  // namespace

TEST_F(It6805IrqTest, ClockInterruptsRestartSyncAndTheEqualiser) {
    up(source(1920, 1080, 60));
    // Clock change of port 0: back to WaitSync (SCDT still set: CheckSync
    // in the same pass) with the equaliser restarted.
    chip(0)->raise(REG_INT_P0_CLK, 0x01);
    step(0);
    EXPECT_EQ((Vals{sys->data[0].STATEV, sys->data[0].STATEEQ, info(0).stable}), (Vals{STATEV_CheckSync, 2, 0}));
    ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);

    // Symbol-lock (0x06 bits 6, 5, 4) together with a clock change.
    chip(0)->raise(REG_INT_P0_SYS2, 0x70);
    chip(0)->raise(REG_INT_P0_SYS, INT5_CLK_CHG);
    step(0);
    EXPECT_EQ(sys->data[0].STATEV, STATEV_CheckSync);
    EXPECT_EQ((Vals{sys->count[0].reg06_count[0], sys->count[0].reg06_count[1], sys->count[0].reg06_count[2]}),
              (Vals{1, 1, 1}));
    // Bit 4 alone does not drop the video.
    ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);
    chip(0)->raise(REG_INT_P0_SYS2, 0x10);
    step(0);
    EXPECT_EQ(sys->data[0].STATEV, STATEV_VidStable);
}

TEST_F(It6805IrqTest, RepeatedSymbolLockLossRestartsTheEqualiserThenResetsAll) {
    up(source(1920, 1080, 60));
    select(0);
    chip(0)->setLogging(true);
    auto lockLoss = [&](int n) {
        for (int i = 0; i < n; ++i) {
            chip(0)->raise(REG_INT_P0_SYS, INT5_SYMLOCK);
            step(0);
        }
    };
    lockLoss(6);
    EXPECT_EQ((Vals{sys->count[0].int6_count, sys->count[0].int6_reset_count}), (Vals{6, 0}));
    lockLoss(1);
    EXPECT_EQ((Vals{sys->count[0].int6_count, sys->count[0].int6_reset_count}), (Vals{0, 1}));
    EXPECT_TRUE(writesTo(0, 0, 0x22).empty());
    lockLoss(14);
    // The third restart resets all logic: hot-plug low, then back.
    EXPECT_EQ((Vals{sys->count[0].int6_reset_count, writesTo(0, 0, 0x22).size() >= 2}), (Vals{0, 1}));
    EXPECT_EQ(writesTo(0, 0, 0x22).at(0), 0x12);
    EXPECT_TRUE(chip(0)->hotPlugHigh());
}

TEST_F(It6805IrqTest, SourceTurningDviStopsAudioAndBackToHdmiRequestsIt) {
    SimSource s = source(1920, 1080, 60);
    s.audioRateHz = 48000;
    up(s);
    EXPECT_TRUE(contains(audioStates(12), STATEA_AudioOn));
    s.dvi = true;
    board().scenario().setInput(4, s);
    step(0, 2);
    // Output format bits 5-4: DVI.
    EXPECT_EQ((Vals{sys->data[0].STATEA, sys->data[0].InputType, chip(0)->reg(0, 0x6B) & 0x30}),
              (Vals{STATEA_AudioOff, 2, 0x10}));
    s.dvi = false;
    board().scenario().setInput(4, s);
    const auto states = audioStates(12);
    EXPECT_TRUE(contains(states, STATEA_WaitForReady));
    EXPECT_EQ((Vals{states.back(), sys->data[0].InputType, chip(0)->reg(0, 0x6B) & 0x30}),
              (Vals{STATEA_AudioOn, 0, 0x00}));
}

TEST_F(It6805IrqTest, AudioIsRequestedAgainWhenItsStatusChanges) {
    SimSource s = source(1920, 1080, 60);
    s.audioRateHz = 48000, s.audioChannels = 2;
    up(s);
    EXPECT_EQ(audioStates(12).back(), STATEA_AudioOn);
    EXPECT_EQ(sys->data[0].AudioChannelCount, 2);
    s.audioChannels = 8;
    board().scenario().setInput(4, s);
    const auto states = audioStates(16);
    EXPECT_TRUE(contains(states, STATEA_WaitForReady));
    EXPECT_EQ((Vals{states.back(), sys->data[0].AudioChannelCount}), (Vals{STATEA_AudioOn, 8}));

    // Without audio the machine keeps waiting.
    s.audioRateHz = 0;
    board().scenario().setInput(4, s);
    audioStates(8);  // noticed at the next status check
    const auto none = audioStates(16);
    EXPECT_EQ((Vals{none.front(), none.back(), contains(none, STATEA_AudioOn)}),
              (Vals{STATEA_WaitForReady, STATEA_WaitForReady, 0}));
}

TEST_F(It6805IrqTest, ColourChangeWhileStableRepublishesWithItsConversion) {
    up(source(1920, 1080, 60));
    EXPECT_EQ(chip(0)->reg(0, 0x6C) & 0x03, 0);
    int emitted = 0;
    QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [&](int) { ++emitted; });
    SimSource s = source(1920, 1080, 60);
    s.color = SimSource::Color::YUV444, s.colorimetry = SimSource::Colorimetry::BT709;
    board().scenario().setInput(4, s);
    step(0, 2);
    EXPECT_EQ((Vals{sys->count[0].color_change_pending, sys->data[0].AVI_ColorFormat, sys->data[0].AVI_Colorimetry,
                    chip(0)->reg(0, 0x6C) & 0x03, sys->data[0].STATEV, emitted >= 1}),
              (Vals{0, 2, 2, 3, STATEV_VidStable, 1}));
    auto matrix = [&] {
        std::vector<int> m;
        for (int i = 0; i < 22; ++i) m.push_back(chip(0)->reg(1, uint8_t(0x70 + i)));
        return m;
    };
    // BT.709 YCbCr to RGB in bank 1 from 0x70.
    EXPECT_EQ(matrix(), (std::vector<int>{0x04, 0x00, 0xA7, 0x4F, 0x09, 0xBA, 0x3B, 0x4B, 0x3E, 0x4F, 0x09,
                                          0x57, 0x0E, 0x02, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0xE8, 0x10, 0x00}));
    // BT.601 YCbCr 4:2:2 to RGB.
    s.color = SimSource::Color::YUV422, s.colorimetry = SimSource::Colorimetry::BT601;
    board().scenario().setInput(4, s);
    step(0, 2);
    EXPECT_EQ((Vals{sys->data[0].AVI_Colorimetry, chip(0)->reg(0, 0x6C) & 0x03}), (Vals{1, 3}));
    EXPECT_EQ(matrix(), (std::vector<int>{0x04, 0x00, 0xA7, 0x4F, 0x09, 0x81, 0x39, 0xDD, 0x3C, 0x4F, 0x09,
                                          0xC4, 0x0C, 0x01, 0x00, 0x4F, 0x09, 0xFD, 0x3F, 0x1F, 0x10, 0x00}));
}

TEST_F(It6805IrqTest, EqualiserCompletionInterruptTunesTheLinkAndTheCheckWatchesIt) {
    up(source(1920, 1080, 60));
    chip(0)->setEqValues(0x83, 0x05, 0x87);
    select(0);
    sys->eq().iTE6805_EQ_chg(1, 0);
    step(0);
    ASSERT_EQ(sys->data[0].STATEEQ, 2u);
    chip(0)->setLogging(true);
    chip(0)->raise(REG_INT_P0_EQ, 0x10);  // automatic equalisation done
    step(0);
    EXPECT_EQ((Vals{sys->data[0].STATEEQ, sys->data[0].EQ_Value[0], sys->data[0].EQ_Value[1], sys->data[0].EQ_Value[2]}),
              (Vals{9, 3, 5, 7}));
    // The interrupt stopped the equaliser (0x22 bit 2 cleared).
    const auto r22 = writesTo(0, BANK_FRONTEND_P0, 0x22);
    ASSERT_FALSE(r22.empty());
    EXPECT_EQ(r22.front() & 0x04, 0);
    // A link going bad is noticed by the periodic check: the machine starts
    // over (state 1, then 2 with a new automatic equalisation).
    chip(0)->setParityOk(false);
    for (int ch = 0; ch < 3; ++ch) chip(0)->setBitErrors(ch, 0, 0x00);
    int steps = 0;
    while (sys->data[0].STATEEQ == 9 && steps < 40) {
        step(0);
        ++steps;
    }
    EXPECT_EQ(sys->data[0].STATEEQ, 1u);
    EXPECT_LT(steps, 40);
    step(0);
    EXPECT_EQ(sys->data[0].STATEEQ, 2u);
}
