// Picture adjustments and test patterns: the register values the picture
// words give on the output pipelines, and the pattern generator of window 0.
#include "test_c331_sim.h"
#include "video_engine/c331_picture.h"

namespace {

class C331PictureTest : public C331SimEnv {
protected:
    void SetUp() override {
        C331SimEnv::SetUp();
        st = std::make_unique<c331_state>();
        pic = std::make_unique<c331_picture>(*drv, fd, *st, host);
        // One window on port 1 with a signal, drawn by pipelines 0 and 1.
        setWindow(0, 1920, {0, 1});
        st->gMwin.wincnt = 1;
        st->PM_INPUT[0] = 1;
        st->PI_STATE[1] = 4;
    }

    void setWindow(int slot, u16 width, std::vector<u8> pipes) {
        c331_state::WIN_INFO& wi = st->gWininfo[slot];
        wi.w = width;
        for (u8& c : wi.ch) c = 0xFF;
        for (size_t k = 0; k < pipes.size(); ++k) wi.ch[k] = pipes[k];
        wi.totalh = u8(pipes.size());
        wi.totalv = 1;
    }
    // Register of pipeline p in bank b (banks repeat 16 apart).
    u8 r8(int p, u8 bank, u8 reg) const { return chip->reg(u8(bank + 16 * p), reg); }
    u16 r16(int p, u8 bank, u8 reg) const { return chip->reg16(u8(bank + 16 * p), reg); }

    C331RecordingHost host;
    std::unique_ptr<c331_state> st;
    std::unique_ptr<c331_picture> pic;
};

TEST(C331PictureValues, PercentWordsReduceModulo101) {
    using P = c331_picture;
    EXPECT_EQ((Vals{P::brightness_offset(0), P::brightness_offset(49), P::brightness_offset(50),
                    P::brightness_offset(51), P::brightness_offset(100), P::brightness_offset(151)}),
              (Vals{0xC00, 0xFEC, 0, 20, 0x400, 0}));
    EXPECT_EQ((Vals{P::contrast_gain(0), P::contrast_gain(100), P::contrast_gain(150), P::contrast_gain(-5),
                    P::saturation_gain(100), P::saturation_gain(50)}),
              (Vals{0, 1023, 501, 0, 1023, 511}));  // 150 acts as 49: 49 x 1023 / 100
}

TEST_F(C331PictureTest, BrightnessContrastSaturationOnEveryPipeline) {
    chip->setReg(0x7C, 0x21, 0x80);  // a neighbour of the contrast enable bit
    pic->c331_SetBrightness(49);
    pic->c331_SetContrast(100);
    pic->c331_SetSaturation(150);
    for (int p = 0; p < 8; ++p) {
        for (u8 reg : {0x3A, 0x3C, 0x3E}) EXPECT_EQ(r16(p, 0x0C, reg), 0xFEC) << p;
        for (u8 reg : {0x28, 0x2A, 0x2C}) EXPECT_EQ(r16(p, 0x0C, reg), 1023) << p;
        for (u8 reg : {0x1B, 0x1D, 0x1F}) EXPECT_EQ(r16(p, 0x0C, reg), 501) << p;
        EXPECT_EQ(r8(p, 0x0C, 0x21) & 1, 1) << p;
        EXPECT_EQ(r8(p, 0x0C, 0x14) & 1, 1) << p;
    }
    EXPECT_EQ(r8(7, 0x0C, 0x21), 0x81);  // the enable bit alone was set
    EXPECT_EQ(host.rtct, (std::vector<int>{2, 1, 2, 1, 2, 1}));
}

TEST_F(C331PictureTest, ColourTemperatureFillsTheMatrixDiagonal) {
    // Stale values off the diagonal must be cleared.
    for (int p = 0; p < 8; ++p) chip->setReg(u8(0x0C + 16 * p), 0x5D, 0x55);

    // Custom gains of 128 are unity, like the nature preset.
    pic->c331_SetColorTemp(int(0x80808000u));
    for (int p = 0; p < 8; ++p) {
        for (u8 reg : {0x5B, 0x63, 0x6B}) EXPECT_EQ(r16(p, 0x0C, reg), 8192) << p;
        for (u8 reg : {0x5D, 0x5F, 0x61, 0x65, 0x67, 0x69}) EXPECT_EQ(r16(p, 0x0C, reg), 0) << p;
    }
    for (u8 reg = 0x59; reg <= 0x60; ++reg) EXPECT_EQ(chip->reg(0x00, reg) & 0x20, 0x20) << int(reg);

    pic->c331_SetColorTemp(1);  // warm
    EXPECT_EQ((Vals{r16(3, 0x0C, 0x5B), r16(3, 0x0C, 0x63), r16(3, 0x0C, 0x6B)}), (Vals{8845, 8113, 7056}));
    // Only the low two bits choose the preset: 7 is cool.
    pic->c331_SetColorTemp(7);
    EXPECT_EQ(r16(0, 0x0C, 0x6B), 10978);
}

TEST_F(C331PictureTest, SharpnessFollowsTheWindowScaling) {
    // Enlarged 3:1 across, 1:1 down.
    st->IWIN[0] = {0, 1280, 0, 1080};
    st->OWIN[0] = {0, 3840, 0, 1080};
    pic->c331_SetSharpness(20);
    for (int p : {0, 1}) {
        // Enables, gains, the filter switch, then five coefficients across
        // and five down.
        Vals got;
        for (u8 reg : {0x08, 0x11, 0x09, 0x12, 0x5E, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x15, 0x16, 0x17, 0x18, 0x19})
            got.push_back(r8(p, 0x0B, reg));
        EXPECT_EQ(got, (Vals{6, 6, 128, 128, 1, 36, 43, 58, 4, 5, 44, 50, 56, 0, 0})) << p;
    }
    EXPECT_EQ(r8(2, 0x0B, 0x09), 0);  // not this window's pipeline
    EXPECT_EQ(host.rtct, (std::vector<int>{2, 1}));

    // A protocol word far above 20 acts as 20 instead of wrapping the gain.
    chip->setReg(0x0B, 0x09, 0);
    pic->c331_SetSharpness(0x7FFF);
    EXPECT_EQ(r8(0, 0x0B, 0x09), 128);

    // Off: zero coefficients, gain and enables.
    pic->c331_SetSharpness(10);
    for (int p : {0, 1})
        for (u8 reg : {0x08, 0x11, 0x09, 0x0C, 0x15}) EXPECT_EQ(r8(p, 0x0B, reg), 0) << p << ":" << int(reg);
}

TEST_F(C331PictureTest, SharpnessCountsInterlacedLinesAndSkipsWindowsWithoutSignal) {
    // An interlaced field of 540 lines shown on 2160: twice, not four times.
    st->PI_SCAN_MODE[1] = 1;
    st->IWIN[0] = {0, 1920, 0, 540};
    st->OWIN[0] = {0, 1920, 0, 2160};
    // A second window on a port without signal.
    st->gMwin.wincnt = 2;
    setWindow(1, 960, {4});
    st->PM_INPUT[1] = 3;
    // A window without a measured input size counts as unscaled.
    st->IWIN[1] = {0, 0, 0, 0};

    pic->c331_SetSharpness(15);
    EXPECT_EQ((Vals{r8(0, 0x0B, 0x15), r8(0, 0x0B, 0x0C), r8(0, 0x0B, 0x09), r8(4, 0x0B, 0x08), r8(4, 0x0B, 0x09)}),
              (Vals{28, 44, 64, 0, 0}));

    st->PI_STATE[3] = 4;
    pic->c331_SetSharpness(15);
    EXPECT_EQ((Vals{r8(4, 0x0B, 0x0C), r8(4, 0x0B, 0x09)}), (Vals{44, 64}));
}

TEST_F(C331PictureTest, SolidColourPatternOnAndOff) {
    chip->setReg(0x08, 0x5F, 0x12);  // left over from another pattern
    EXPECT_EQ(pic->c331_SetPattern(1), 0);
    for (int p : {0, 1})
        EXPECT_EQ((Vals{r8(p, 0x08, 0x57), r16(p, 0x08, 0x5F), r8(p, 0x08, 0x63), r8(p, 0x08, 0x64),
                        r8(p, 0x08, 0x68)}),
                  (Vals{4, 0, 255, 0, 3})) << p;
    EXPECT_EQ((Vals{r8(2, 0x08, 0x57), pic->zrvApi_IsPatternGen()}), (Vals{0, 1}));
    EXPECT_EQ(host.rtct, (std::vector<int>{2, 1}));
    EXPECT_EQ(host.bkg, (std::vector<std::pair<int, int>>{{0, 0}}));

    EXPECT_EQ(pic->c331_SetPattern(0), 0);
    for (int p : {0, 1}) {
        for (u8 reg : {0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68}) EXPECT_EQ(r8(p, 0x08, reg), 0);
        for (u8 reg : {0x5B, 0x5D, 0x5F, 0x61}) EXPECT_EQ(r16(p, 0x08, reg), 0);
    }
    EXPECT_EQ(pic->zrvApi_IsPatternGen(), 0);
    EXPECT_EQ(host.bkg.size(), 2u);
}

TEST_F(C331PictureTest, PatternWidthWrapAroundAndRefusal) {
    // A wide window 0 tells the generator so; the line patterns keep their
    // own type there otherwise.
    st->gWininfo[0].w = 3840;
    pic->c331_SetPattern(4);
    EXPECT_EQ(r16(0, 0x08, 0x5B), 0x8000);
    st->gWininfo[0].w = 1920;
    pic->c331_SetPattern(7);
    EXPECT_EQ(r16(0, 0x08, 0x5B), 14);

    // 21 shows what 1 shows, with nothing left of the pattern before.
    pic->c331_SetPattern(16);
    pic->c331_SetPattern(21);
    EXPECT_EQ((Vals{r8(0, 0x08, 0x57), r8(0, 0x08, 0x63), r8(0, 0x08, 0x64), r16(0, 0x08, 0x61)}),
              (Vals{4, 255, 0, 0}));

    // Refused with several windows, and below 0.
    pic->c331_SetPattern(0);
    host.rtct.clear();
    st->gMwin.wincnt = 2;
    chip->clearLog();
    EXPECT_EQ((Vals{pic->c331_SetPattern(3), chip->log().empty(), host.rtct.empty(), pic->zrvApi_IsPatternGen()}),
              (Vals{-1, 1, 1, 0}));

    st->gMwin.wincnt = 1;
    EXPECT_EQ(pic->c331_SetPattern(-2), -1);
    EXPECT_TRUE(chip->log().empty());
}

}  // namespace
