// IT6805 chip operations against the simulated chip: calibration, AVI and
// audio, measurements without a signal, ECC recovery.
#include "video_io/it6805_env.h"

#include <algorithm>
#include <iterator>

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
    // A register write as the chip logs it.
    static constexpr uint32_t W(int bank, uint8_t reg, uint8_t value) {
        return uint32_t(bank) << 16 | uint32_t(reg) << 8 | value;
    }
    // The logged writes of chip 0 whose (bank, register) is in `regs`, or
    // all but the bank selects when `regs` is empty.
    std::vector<uint32_t> loggedWrites(std::initializer_list<std::pair<int, uint8_t>> regs = {}) {
        std::vector<uint32_t> out;
        for (uint32_t w : chip(0)->writes()) {
            const std::pair<int, uint8_t> at{int(w >> 16), uint8_t(w >> 8)};
            const bool wanted = regs.size() ? std::find(regs.begin(), regs.end(), at) != regs.end()
                                            : at.second != REG_BANK;
            if (wanted) out.push_back(w);
        }
        return out;
    }
    std::vector<int> hpdLevels() {
        std::vector<int> out;
        for (int v : writesTo(0, BANK_FRONTEND_P0, REG_HPD)) out.push_back((v & HPD_MASK) == HPD_HIGH);
        return out;
    }
};
}  // namespace

TEST_F(It6805OpsTest, InitialisationProgrammeReachesTheChipRowByRow) {
    // The registers of the rows with a partial mask hold all ones before, so
    // a row that wrote its whole byte, or the wrong bits, shows.
    const std::pair<int, uint8_t> ones[] = {
        {0, 0x81}, {0, 0x21}, {0, 0x91}, {0, 0xCE}, {0, 0x42}, {0, 0x3C}, {0, 0x2C}, {0, 0x2D},
        {0, 0x39}, {0, 0x67}, {0, 0x68}, {0, 0xD8}, {1, 0xC4}, {3, 0xA7}, {3, 0xA6}, {7, 0xA7},
        {7, 0xA6}, {5, 0x20}, {5, 0xCB}, {4, 0x3C}, {4, 0xCE}, {4, 0x42}};
    for (const auto& r : ones) chip(0)->preset(r.first, r.second, 0xFF);
    chip(0)->setLogging(true);
    step(0);
    // Bank, register and the byte written, one per row; bank selects log as bank 0.
    const uint8_t rows[][3] = {
        {0, 0x0F, 0x00}, {0, 0x22, 0x08}, {0, 0x22, 0x17}, {0, 0x23, 0x1F}, {0, 0x2B, 0x1F}, {0, 0x24, 0xF8},
        {0, 0x22, 0x10}, {0, 0x23, 0xA0}, {0, 0x2B, 0xA0}, {0, 0x24, 0x00}, {0, 0x34, 0x00}, {0, 0x0F, 0x03},
        {3, 0xAA, 0xEC}, {0, 0x0F, 0x00}, {0, 0x0F, 0x03}, {3, 0xAC, 0x40}, {0, 0x0F, 0x00}, {0, 0x3A, 0x89},
        {0, 0x49, 0xE1}, {0, 0x43, 0x01}, {0, 0x0F, 0x04}, {4, 0x43, 0x01}, {4, 0x3A, 0x89}, {0, 0x0F, 0x03},
        {3, 0xA8, 0x0B}, {0, 0x0F, 0x00}, {0, 0x4F, 0x84}, {0, 0x44, 0x19}, {0, 0x46, 0x15}, {0, 0x47, 0x88},
        {0, 0xD9, 0x00}, {0, 0xF0, 0x78}, {0, 0xF1, 0x10}, {0, 0x0F, 0x03}, {3, 0x3A, 0x02}, {0, 0x0F, 0x00},
        {0, 0x28, 0x88}, {0, 0x6E, 0x80}, {0, 0x77, 0x87}, {0, 0x7B, 0x00}, {0, 0x86, 0x00}, {0, 0x0F, 0x00},
        {0, 0x36, 0x06}, {0, 0x8F, 0x41}, {0, 0x0F, 0x01}, {1, 0xC0, 0x42}, {1, 0xC4, 0xBF}, {1, 0xC4, 0x3F},
        {1, 0xC5, 0x00}, {1, 0xC6, 0x00}, {1, 0xC7, 0x00}, {1, 0xC8, 0x00}, {1, 0xC9, 0x99}, {1, 0xCA, 0x99},
        {0, 0x0F, 0x00}, {0, 0x86, 0x08}, {0, 0x81, 0xFF}, {0, 0x0F, 0x01}, {1, 0x10, 0x00}, {1, 0x11, 0x00},
        {1, 0x12, 0x00}, {1, 0x13, 0x00}, {1, 0x28, 0x00}, {1, 0x29, 0x00}, {1, 0x2A, 0x00}, {1, 0x2B, 0x00},
        {1, 0x2C, 0x00}, {1, 0xC0, 0x42}, {0, 0x0F, 0x03}, {3, 0xE3, 0x07}, {3, 0x27, 0x9F}, {3, 0x28, 0x9F},
        {3, 0x29, 0x9F}, {3, 0xA7, 0xFF}, {0, 0x0F, 0x07}, {7, 0xE3, 0x07}, {7, 0x27, 0x9F}, {7, 0x28, 0x9F},
        {7, 0x29, 0x9F}, {7, 0xA7, 0xFF}, {0, 0x0F, 0x00}, {0, 0x21, 0xFB}, {0, 0x4A, 0xC8}, {0, 0xF8, 0xC3},
        {0, 0xF8, 0xA5}, {0, 0x0F, 0x01}, {1, 0x5F, 0x04}, {1, 0x58, 0x12}, {1, 0x58, 0x02}, {1, 0x5F, 0x00},
        {0, 0x0F, 0x00}, {0, 0xF8, 0xFF}, {0, 0x0F, 0x03}, {3, 0xA6, 0xFF}, {0, 0x0F, 0x07}, {7, 0xA6, 0xFF},
        {0, 0x0F, 0x05}, {5, 0x20, 0xFD}, {5, 0xC7, 0x49}, {0, 0x0F, 0x00}, {0, 0x0F, 0x04}, {4, 0x3C, 0xDF},
        {0, 0x0F, 0x00}, {0, 0x91, 0xFF}, {0, 0x0F, 0x03}, {3, 0xF0, 0xC0}, {0, 0x0F, 0x00}, {0, 0x21, 0xFB},
        {0, 0xCE, 0xCF}, {0, 0x0F, 0x04}, {4, 0xCE, 0xCF}, {4, 0x42, 0xDF}, {0, 0x0F, 0x00}, {0, 0x42, 0xDF},
        {0, 0x7B, 0x10}, {0, 0x3C, 0xDE}, {0, 0x3B, 0x23}, {0, 0xF6, 0x08}, {0, 0x0F, 0x04}, {4, 0x3C, 0xDE},
        {4, 0x3B, 0x23}, {0, 0x0F, 0x00}, {0, 0x59, 0x00}, {0, 0x2C, 0xFF}, {0, 0x2D, 0xFF}, {0, 0x39, 0xFF},
        {0, 0x67, 0xFF}, {0, 0x68, 0xEF}, {0, 0xD8, 0x2F}, {0, 0x0F, 0x05}, {5, 0xCB, 0xF9}, {0, 0x0F, 0x00}};
    const std::vector<uint32_t> got = chip(0)->writes();
    ASSERT_GE(got.size(), std::size(rows));
    int wrong = 0;
    for (size_t i = 0; i < std::size(rows) && wrong < 5; ++i) {
        const uint32_t want = W(rows[i][0], rows[i][1], rows[i][2]);
        EXPECT_EQ(got[i], want) << "row " << i << std::hex << ": got " << got[i] << ", want " << want;
        wrong += got[i] != want;
    }
    // Then the revision-dependent settings.
    EXPECT_EQ(got[std::size(rows)], W(0, 0x3E, 0x00));
}

TEST_F(It6805OpsTest, FrontEndCalibrationOfBothPortsAndAPortThatNeverCalibrates) {
    step(0);
    // Every register of the sequence starts at 0x5A; the calibration-done
    // interrupts are clear.
    for (int bank : {3, 7})
        for (uint8_t r : {0x3A, 0xA0, 0xA1, 0xA2, 0xA4, 0x3B, 0xA7, 0x48}) chip(0)->preset(bank, r, 0x5A);
    for (uint8_t r : {0x29, 0x2A, 0x24, 0x25, 0x26, 0x27, 0x28, 0x3C, 0x32, 0x2C, 0x2D, 0x2E, 0x2F, 0x30})
        chip(0)->preset(0, r, 0x5A);
    chip(0)->preset(4, 0x3C, 0x5A);
    chip(0)->preset(0, 0x08, 0x00);
    chip(0)->preset(0, 0x0D, 0x00);
    select(0);
    chip(0)->setLogging(true);
    sys->drv().iTE6805_Init_CAOF(0);
    const std::vector<uint32_t> frontEnd3 = {W(3, 0x3A, 0x5A), W(3, 0xA0, 0xDA), W(3, 0xA1, 0xDA), W(3, 0xA2, 0xDA),
                                             W(3, 0xA4, 0x5A), W(3, 0x3B, 0x1A), W(3, 0xA7, 0x5A), W(3, 0x48, 0xDA)};
    std::vector<uint32_t> expected = frontEnd3;
    for (uint32_t w : {W(0, 0x29, 0x5B), W(0, 0x2A, 0x5B), W(0, 0x2A, 0x1B), W(0, 0x24, 0x5E), W(0, 0x25, 0),
                       W(0, 0x26, 0), W(0, 0x27, 0), W(0, 0x28, 0), W(0, 0x3C, 0x4A)})
        expected.push_back(w);
    for (uint32_t w : frontEnd3) expected.push_back(w | 7u << 16);  // the same in port 1's bank
    for (uint32_t w : {W(0, 0x32, 0x5B), W(0, 0x32, 0x1B), W(0, 0x2C, 0x5E), W(0, 0x2D, 0x10), W(0, 0x2E, 0),
                       W(0, 0x2F, 0), W(0, 0x30, 0), W(4, 0x3C, 0x4A),
                       // Port 0 started and calibrated at once, then port 1.
                       W(3, 0x3A, 0xDA), W(7, 0x3A, 0xDA),
                       // Interrupts cleared, the calibration switches released.
                       W(0, 0x08, 0x30), W(0, 0x0D, 0x30), W(0, 0x29, 0x5A), W(0, 0x24, 0x5A), W(0, 0x3C, 0x5A),
                       W(0, 0x2C, 0x5A), W(4, 0x3C, 0x5A), W(3, 0x3A, 0x5A), W(3, 0xA0, 0x5A), W(3, 0xA1, 0x5A),
                       W(3, 0xA2, 0x5A), W(7, 0x3A, 0x5A), W(7, 0xA0, 0x5A), W(7, 0xA1, 0x5A), W(7, 0xA2, 0x5A)})
        expected.push_back(w);
    EXPECT_EQ(loggedWrites(), expected);
    EXPECT_EQ(chip(0)->reg(0, REG_BANK) & 7, 0);

    // Port 0 never reports done: five polls, a restart pulse, six times;
    // then its front end is switched off with one last pulse and port 1 goes on.
    chip(0)->setCalibrationStalls(0, true);
    for (uint8_t r : {0x2A, 0x32}) chip(0)->preset(0, r, 0x5A);
    chip(0)->preset(3, 0x3A, 0x5A);
    chip(0)->preset(7, 0x3A, 0x5A);
    chip(0)->preset(0, 0x08, 0x00);
    chip(0)->preset(0, 0x0D, 0x00);
    chip(0)->setLogging(true);
    sys->drv().iTE6805_Init_CAOF(0);
    const uint32_t on = W(0, 0x2A, 0x5B), off = W(0, 0x2A, 0x1B);
    expected = {W(3, 0x3A, 0x5A), on, off, W(3, 0x3A, 0xDA)};
    for (int i = 0; i < 6; ++i) expected.insert(expected.end(), {on, off});
    expected.insert(expected.end(), {W(3, 0x3A, 0x5A), on, off, W(3, 0x3A, 0x5A)});
    EXPECT_EQ(loggedWrites({{3, 0x3A}, {0, 0x2A}}), expected);
    EXPECT_EQ(loggedWrites({{7, 0x3A}, {0, 0x32}, {0, 0x08}, {0, 0x0D}}),
              (std::vector<uint32_t>{W(7, 0x3A, 0x5A), W(0, 0x32, 0x5B), W(0, 0x32, 0x1B), W(7, 0x3A, 0xDA),
                                     W(0, 0x08, 0x30), W(0, 0x0D, 0x30), W(7, 0x3A, 0x5A)}));
}

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
