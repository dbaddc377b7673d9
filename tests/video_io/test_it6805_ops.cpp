// IT6805 chip operations against the simulated chip: calibration, AVI and
// audio, measurements without a signal, ECC recovery.
#include "video_io/it6805_env.h"

using namespace it6805;

namespace {
class It6805OpsTest : public It6805Env {
protected:
    // Chip 0 running a source at video-on.
    void upStable(uint32_t w, uint32_t h, uint32_t hz, uint32_t audioHz = 0) {
        SimSource s;
        s.present = true, s.width = w, s.height = h, s.refreshHz = hz, s.audioRateHz = audioHz;
        board().scenario().setInput(4, s);
        step(0);
        ASSERT_GT(stepUntil(0, STATEV_VidStable), 0);
    }
    std::vector<int> hpdLevels() {
        std::vector<int> out;
        for (int v : writesTo(0, BANK_FRONTEND_P0, REG_HPD)) out.push_back((v & HPD_MASK) == HPD_HIGH);
        return out;
    }
};
}  // namespace

TEST_F(It6805OpsTest, OscillatorIsKeptInItsRangeAndProgrammedEverywhere) {
    select(0);
    ite6805_drv& drv = sys->drv();
    auto load = [&](uint32_t khz, bool hundredths = false) {
        chip(0)->setOscillatorKHz(khz, hundredths);
        return drv.iTE6805_OCLK_Load(0);
    };
    EXPECT_EQ((Vals{load(12999), load(13000), load(27000), load(27001), load(20000, true)}),
              (Vals{19000, 13000, 27000, 19000, 20000}));

    chip(0)->setOscillatorKHz(20000);
    drv.iTE6805_OCLK_Cal(0);
    auto r = [&](int bank, uint8_t reg) { return chip(0)->reg(bank, reg); };
    EXPECT_EQ((Vals{r(0, 0x91) & 0x3F, r(0, 0x92), r(3, 0xE1), r(0, 0x45), r(0, 0x44), r(0, 0x46), r(0, 0x47),
                    r(5, 0xD3), r(5, 0xD4), drv.RCLKVALUE[0], drv.RCLKVALUE_160[0]}),
              (Vals{20, 0, 200, 128, 25, 17, 7, 50, 25, 20000, 125}));
    EXPECT_EQ(r(0, REG_BANK) & 7, 0);
}

TEST_F(It6805OpsTest, QuantisationDefaultsByVideoCode) {
    upStable(1920, 1080, 60);
    EXPECT_EQ((Vals{sys->data[0].AVI_VIC, sys->data[0].AVI_RGBQuant}), (Vals{16, 1}));
    chip(0)->setVic(1);
    sys->drv().iTE6805_Get_AVIInfoFrame_Info(0);
    EXPECT_EQ((Vals{sys->data[0].AVI_VIC, sys->data[0].AVI_RGBQuant}), (Vals{1, 2}));
    // A range the source states is kept.
    SimSource s = board().scenario().snapshot().inputs[4];
    s.range = SimSource::Range::Full;
    board().scenario().setInput(4, s);
    chip(0)->setVic(16);
    sys->drv().iTE6805_Get_AVIInfoFrame_Info(0);
    EXPECT_EQ(sys->data[0].AVI_RGBQuant, 2u);
}

TEST_F(It6805OpsTest, AudioRateIsCheckedAndForcedAfterSixteenMismatches) {
    upStable(1920, 1080, 60, 48000);
    for (int i = 0; i < 12 && sys->data[0].STATEA != STATEA_AudioOn; ++i) step(0);
    EXPECT_EQ((Vals{sys->data[0].STATEA, sys->data[0].AudioSampleFreq, chip(0)->reg(0, REG_AUD_FORCE) & 0x40,
                    sys->timing[0].N, sys->count[0].aud_fs_mismatch}),
              (Vals{STATEA_AudioOn, 0x02, 0, 6144, 0}));

    // The chip insists on 32 kHz while N and CTS say 48 kHz.
    chip(0)->setChipFsCode(0x03);
    for (int i = 0; i < 15; ++i) sys->iTE6805_Enable_Audio_Output(0);
    EXPECT_EQ((Vals{chip(0)->reg(0, REG_AUD_FORCE) & 0x40, sys->count[0].aud_fs_mismatch}), (Vals{0, 15}));
    sys->iTE6805_Enable_Audio_Output(0);
    EXPECT_EQ((Vals{chip(0)->reg(0, REG_AUD_FORCE) & 0x40, chip(0)->reg(0, 0x8A) & 0x3F, sys->data[0].AudioSampleFreq,
                    sys->count[0].aud_fs_mismatch}),
              (Vals{0x40, 0x02, 0x02, 0}));
    // Once the chip agrees again the forced rate is released.
    chip(0)->setChipFsCode(-1);
    sys->iTE6805_Enable_Audio_Output(0);
    EXPECT_EQ(chip(0)->reg(0, REG_AUD_FORCE) & 0x40, 0);
}

TEST_F(It6805OpsTest, HighRateAudioAtA4kClockComputesInSixtyFourBits) {
    upStable(3840, 2160, 30, 192000);
    sys->iTE6805_Enable_Audio_Output(0);
    // 297 MHz x N 24576 is far beyond 32 bits.
    EXPECT_EQ((Vals{sys->timing[0].N, sys->data[0].AudioSampleFreq, sys->count[0].aud_fs_mismatch}),
              (Vals{24576, 0x0E, 0}));
}

TEST_F(It6805OpsTest, MeasuringWithoutASignalGivesZeros) {
    step(0);  // no source: the counters read all ones, the timing all zeros
    ite6805_drv& drv = sys->drv();
    select(0);
    EXPECT_EQ((Vals{drv.iTE6805_Get_TMDS(10, 0), drv.iTE6805_Get_PCLK(0), drv.iTE6805_Get_VID_Info(0),
                    sys->timing[0].HTotal}),
              (Vals{0, 0, 0, 0}));
    sys->iTE6805_Enable_Audio_Output(0);  // CTS 0: the rate is left alone
    EXPECT_EQ(sys->timing[0].CTS, 0u);
}

TEST_F(It6805OpsTest, TwelfthEccErrorPulsesHotPlugAndTheThirdRecoveryResetsAll) {
    upStable(1920, 1080, 60);
    select(0);
    chip(0)->setLogging(true);
    for (int i = 0; i < 11; ++i) sys->iTE6805_INT_ECC_ERROR(0);
    EXPECT_EQ((Vals{hpdLevels().size(), chip(0)->reg(0, 0xD9) & 0x04}), (Vals{0, 0x04}));
    const uint64_t t0 = clock->nowMs();
    sys->iTE6805_INT_ECC_ERROR(0);
    EXPECT_EQ(hpdLevels(), (std::vector<int>{0, 1}));
    EXPECT_EQ((Vals{sys->data[0].STATEEQ, sys->count[0].ecc_recovery, sys->count[0].ecc_error}), (Vals{7, 1, 0}));
    EXPECT_GE(clock->nowMs() - t0, 300u);
    // Register 0x23 bit 1 held for the pulse and restored.
    const std::vector<int> r23 = writesTo(0, 0, 0x23);
    ASSERT_EQ(r23.size(), 2u);
    EXPECT_EQ((Vals{r23[0] & 2, r23[1] & 2}), (Vals{2, 0}));

    for (int i = 0; i < 12; ++i) sys->iTE6805_INT_ECC_ERROR(0);
    EXPECT_EQ(sys->count[0].ecc_recovery, 2);
    chip(0)->setLogging(true);
    for (int i = 0; i < 12; ++i) sys->iTE6805_INT_ECC_ERROR(0);
    // Third: all logic reset instead of a pulse; hot-plug comes back through
    // the +5 V check.
    EXPECT_EQ(writesTo(0, 0, 0x22), (std::vector<int>{0x12, 0x10}));
    EXPECT_EQ((Vals{sys->count[0].ecc_recovery, sys->data[0].STATEEQ, sys->data[0].STATEV}),
              (Vals{0, 0, STATEV_WaitSync}));
    EXPECT_TRUE(chip(0)->hotPlugHigh());
}
