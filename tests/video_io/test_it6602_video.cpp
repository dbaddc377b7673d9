// IT6602 receivers against the simulated chips: identification, the video
// machine up to video-on, what is published, losing the source, the output
// colour path and the audio machine.
#include "it6602_fixture.h"

#include "platform/gpio.h"

#include <cstring>

using namespace it6602;
namespace R = it6602reg;

namespace {
// The 21 conversion bytes in bank 1 from 0x70.
std::vector<u8> matrixAt(const std::shared_ptr<SimIt6602>& chip) {
    std::vector<u8> m;
    for (int i = 0; i < 21; ++i) m.push_back(chip->stored(1, u8(0x70 + i)));
    return m;
}
const std::vector<u8> kYuvToRgb709Full = {0x04, 0x00, 0xA7, 0x4F, 0x09, 0xBA, 0x3B, 0x4B, 0x3E, 0x4F, 0x09,
                                          0x57, 0x0E, 0x02, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0xE8, 0x10};
const std::vector<u8> kYuvToRgb601Full = {0x04, 0x00, 0xA7, 0x4F, 0x09, 0x81, 0x39, 0xDD, 0x3C, 0x4F, 0x09,
                                          0xC4, 0x0C, 0x01, 0x00, 0x4F, 0x09, 0xFD, 0x3F, 0x1F, 0x10};
const std::vector<u8> kLimitedToFullRgb = {0xED, 0xED, 0x00, 0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x09};
}  // namespace

TEST_F(It6602Env, IdentificationKeepsEachInputsAddress) {
    // Input 0 answers only at 0x94, input 1 is absent; 2 and 3 at 0x90.
    chips[0]->setStrap(SimIt6602::Strap::At94Only);
    chips[1]->setStrap(SimIt6602::Strap::Absent);
    for (int i = 0; i < 4; ++i) plug(i, source(1920, 1080, 60));
    for (int i = 0; i < 4; ++i) poll(i);
    EXPECT_EQ((Vals{state(0), state(1), state(2), state(3)}), (Vals{1, 0, 1, 1}));
    EXPECT_EQ((Vals{drv().chipAddress(0), drv().chipAddress(2), drv().chipAddress(3)}), (Vals{0x94, 0x90, 0x90}));
    EXPECT_EQ((Vals{drv().identifyFailures(0), drv().identifyFailures(1), drv().identifyFailures(2)}), (Vals{1, 2, 0}));
    EXPECT_EQ(reg37() & 0x1D, 0x01 | 0x08 | 0x10);
    // The others come up although the chip before them was missing.
    for (int i : {0, 2, 3}) EXPECT_TRUE(untilVideoOn(i)) << i;
    EXPECT_NE(vstate(1), VSTATE_VideoOn);

    // A chip at 0x94 takes the writes meant only for that strapping.
    chips[0]->clearWrites();
    chips[0]->raise(R::INT_SYS, R::sys_int::PLL_LOCK);
    poll(0);
    EXPECT_EQ(reg(0, 1, R::B1_DESKEW_CTRL) & 0x07, 0x03);
    EXPECT_EQ(reg(0, 1, R::B1_PLL_CTRL) & 0x07, 0x04);
    chips[2]->raise(R::INT_SYS, R::sys_int::PLL_LOCK);
    poll(2);
    EXPECT_EQ(reg(2, 1, R::B1_PLL_CTRL) & 0x07, 0x00);

    // The chip that was missing is found once it answers.
    chips[1]->setStrap(SimIt6602::Strap::At90);
    poll(1);
    EXPECT_EQ(state(1), 1);
    EXPECT_EQ(reg37() & 0x1D, 0x01 | 0x04 | 0x08 | 0x10);
}

TEST_F(It6602Env, ResetLineHoldsTheChips) {
    plug(0, source(1920, 1080, 60));
    board().gpio().setLine(GpioName::kIt6602Reset, 0);
    polls(0, 2);
    EXPECT_EQ(state(0), 0);
    EXPECT_EQ(reg37() & 0x01, 0);
    // Released with +5 V present: found, and the +5 V interrupt is pending.
    board().gpio().setLine(GpioName::kIt6602Reset, 1);
    EXPECT_EQ(reg(0, 0, R::INT_P0), 0);
    poll(0);
    EXPECT_EQ((Vals{state(0), reg(0, 0, R::INT_P0) & 0x01}), (Vals{1, 0x01}));
    EXPECT_TRUE(untilVideoOn(0));
}

TEST_F(It6602Env, SourceBringUpPublishesTiming) {
    plug(2, source(1920, 1080, 60));
    polls(2, 2);  // identified and reset, port selected
    EXPECT_EQ(vstate(2), VSTATE_SWReset);
    EXPECT_EQ(chips[2]->hotPlug(), 3);
    poll(2);  // +5 V and SCDT interrupts
    EXPECT_EQ(vstate(2), VSTATE_SyncChecking);
    EXPECT_EQ(summary(2), (std::vector<u8>{0, 0, 0, 0, 0, 0}));
    poll(2);
    EXPECT_EQ(vstate(2), VSTATE_VideoOn);
    EXPECT_EQ(summary(2), (std::vector<u8>{0x80, 0x07, 0x38, 0x04, 0x3C, 0x00}));
    const PI_HDMI_INFO& r = record(2);
    EXPECT_EQ((Vals{r.Hact, r.Hsync, r.Hback, r.Hpol, r.Htotal, r.Vact, r.Vsync, r.Vback, r.Vpol, r.Vtotal}),
              (Vals{1920, 44, 148, 1, 2200, 1080, 5, 36, 1, 1125}));
    EXPECT_FLOAT_EQ(r.pfreq, 148.5f);
    EXPECT_EQ((Vals{r.type, r.datamode, r.lane, r.ip, r.nosignal, r.stable}), (Vals{0, 0, 0, 0, 0, 1}));
    // The coarse clock of the timing words: 31620 / 21 / 10.
    EXPECT_EQ(drv().timing(2)[TM_PCLK], 150);
    EXPECT_EQ(reg(2, 0, R::VID_OUT) & 0x0F, 0);

    // A DVI source: the same polarity words.
    SimSource dvi = source(1280, 720, 60);
    dvi.dvi = true;
    plug(1, dvi);
    ASSERT_TRUE(untilVideoOn(1));
    EXPECT_EQ(summary(1), (std::vector<u8>{0x00, 0x05, 0xD0, 0x02, 0x3C, 0x00}));
    EXPECT_EQ((Vals{record(1).Hpol, record(1).Vpol, record(1).Hact, record(1).Vtotal}), (Vals{1, 1, 1280, 750}));
    EXPECT_FALSE(drv().get_IT6602_dev_data(1).m_ucFlags & FLAG_HDMI_MODE);
}

TEST_F(It6602Env, StandardDefinitionSourceIsMeasuredWhole) {
    plug(2, source(720, 480, 60));
    // The chip's registers for 720x480 at 59.94 Hz (totals 858 x 525, front
    // porches 16 and 9, syncs 62 and 6), with the bits the layout leaves out
    // set, so only the fields the driver should use decide.
    const std::pair<u8, u8> timing[] = {
        {0x9E, 0xD0}, {0x9F, 0xC2},                // H active 0x2D0
        {0x9C, 0x5A}, {0x9D, 0xC3},                // H total 0x35A
        {0xA0, 0x3E}, {0xA1, 0x0E}, {0xA2, 0x10},  // H sync 0x03E, H front porch 0x010
        {0xA3, 0x0D}, {0xA4, 0x12}, {0xA5, 0xE0},  // V total 0x20D, V active 0x1E0
        {0xA6, 0xE6}, {0xA7, 0xC9},                // V sync 6, V front porch 9
        {0x9A, 117},                               // coarse clock: 31620 / 117 / 10 = 27
        {0x90, 0x01}, {0x91, 228},                 // TMDS: 6144 / 228 = 26
    };
    for (const auto& r : timing) chips[2]->force(0, r.first, r.second);
    // Fine clock 26973 kHz = (0x06 << 12) + 0x95 x 16 + (0xD0 >> 4).
    chips[2]->force(2, 0xC0, 0xD0);
    chips[2]->force(2, 0xC1, 0x06);
    chips[2]->force(2, 0xC2, 0x95);
    ASSERT_TRUE(untilVideoOn(2));

    const u16* t = drv().timing(2);
    EXPECT_EQ((Vals{t[0], t[1], t[2], t[3], t[4], t[7], t[8], t[9], t[10], t[11], t[12], t[13] & 0x07}),
              (Vals{720, 480, 858, 525, 27, 16, 62, 60, 9, 6, 30, 0}));
    EXPECT_EQ(drv().tmdsClock(2), 26u);
    const PI_HDMI_INFO r = record(2);
    EXPECT_EQ((Vals{r.Hact, r.Hsync, r.Hback, r.Hpol, r.Htotal, r.Vact, r.Vsync, r.Vback, r.Vpol, r.Vtotal, r.ip}),
              (Vals{720, 62, 60, 1, 858, 480, 6, 30, 1, 525, 0}));
    EXPECT_FLOAT_EQ(r.pfreq, 26.973f);
    // 1000 x 26973 / (858 x 525) = 59.88: 60.
    EXPECT_EQ(summary(2), (std::vector<u8>{0xD0, 0x02, 0xE0, 0x01, 0x3C, 0x00}));
}

TEST(It6602Oscillator, ReadingIsTrustedWithinItsToleranceOfTheNominal) {
    // Readings are in hundredths; the nominal is 48696 and a reading must
    // differ from it by less than 24349.
    EXPECT_EQ((Vals{vimra_it6602::OSCvalueCompare(7304400), vimra_it6602::OSCvalueCompare(7304499),
                    vimra_it6602::OSCvalueCompare(7304500), vimra_it6602::OSCvalueCompare(2434800),
                    vimra_it6602::OSCvalueCompare(2434799), vimra_it6602::OSCvalueCompare(0),
                    vimra_it6602::OSCvalueCompare(4870000)}),
              (Vals{73044, 73044, 48696, 24348, 48696, 48696, 48700}));
}

TEST_F(It6602Env, SyncSeenWhileWaitingTurnsVideoOnTwoPollsLater) {
    plug(3, source(1920, 1080, 60));
    // +5 V and clock, no SCDT yet: the input waits in SyncWait.
    chips[3]->force(0, R::STATUS_P0, R::status::PWR5V | R::status::CLOCK);
    polls(3, 4);
    ASSERT_EQ(vstate(3), VSTATE_SyncWait);
    // SCDT appears in the status without its interrupt.
    chips[3]->force(0, R::STATUS_P0, -1);
    chips[3]->setRegister(0, R::INT_SYS, 0);
    poll(3);
    EXPECT_EQ(vstate(3), VSTATE_SyncChecking);
    chips[3]->setRegister(0, R::INT_SYS, 0);
    poll(3);
    EXPECT_EQ(vstate(3), VSTATE_SyncChecking);
    poll(3);
    EXPECT_EQ(vstate(3), VSTATE_VideoOn);
}

TEST_F(It6602Env, RatesAndMeasurementFaults) {
    // The fine clock as the chip counts it, or forced: a count a hair low
    // (148499 kHz = 0x24413 at 2640 x 1125: 49.9997 Hz, 50), or none (the
    // clock in whole MHz stands: 720p24 count 53, 59 MHz, 23.8 Hz, 23).
    struct Case {
        u32 w, h, hz, published;
        int fineKHz;
    } cases[] = {{1920, 1080, 50, 50, 148499}, {1280, 720, 24, 23, 0}, {1920, 1080, 50, 50, -1},
                 {1920, 1080, 60, 60, -1},     {720, 480, 60, 60, -1},  {720, 576, 50, 50, -1}};
    for (const Case& c : cases) {
        plug(2, source(c.w, c.h, c.hz));
        const int fine = c.fineKHz;
        chips[2]->force(2, R::B2_PCLK0, fine < 0 ? -1 : (fine & 0x0F) << 4);
        chips[2]->force(2, R::B2_PCLK2, fine < 0 ? -1 : (fine >> 4) & 0xFF);
        chips[2]->force(2, R::B2_PCLK1, fine < 0 ? -1 : fine >> 12);
        state(2) = 0;
        ASSERT_TRUE(untilVideoOn(2)) << c.w << "x" << c.h << "@" << c.hz;
        EXPECT_EQ(summary(2)[4], c.published) << c.w << "x" << c.h << "@" << c.hz;
    }
    // The coarse clock word of 27 MHz: count 117, 31620 / 117 / 10.
    EXPECT_EQ(drv().timing(2)[TM_PCLK], 27);
    // The TMDS count of 27 MHz is 6144 / 27 = 227.6 whole periods, 227:
    // 6144 / 227 = 27 MHz.
    EXPECT_EQ(drv().tmdsClock(2), 27u);

    // No clock count (a NACKed or empty 0x9A) and no clock word: clock 0,
    // rate 0, no crash.
    chips[2]->force(0, R::PCLK_CNT, 0);
    for (u8 r : {R::B2_PCLK0, R::B2_PCLK1, R::B2_PCLK2}) chips[2]->force(2, r, 0);
    state(2) = 0;
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ((Vals{drv().timing(2)[TM_PCLK], summary(2)[4]}), (Vals{0, 0}));
    EXPECT_EQ(record(2).pfreq, 0.0f);
    // Zero totals.
    chips[2]->force(0, R::PCLK_CNT, -1);
    for (u8 r : {R::HTOTAL_L, R::HTOTAL_H, R::VTOTAL_L, R::V_H}) chips[2]->force(0, r, 0);
    state(2) = 0;
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ(summary(2)[4], 0);
}

TEST_F(It6602Env, LosingTheSourceClearsWhatWasPublished) {
    plug(2, source(1920, 1080, 60));
    ASSERT_TRUE(untilVideoOn(2));
    // SCDT lost, +5 V stays.
    chips[2]->force(0, R::STATUS_P0, R::status::PWR5V | R::status::CLOCK);
    chips[2]->raise(R::INT_SYS, R::sys_int::SCDT_CHG);
    poll(2);
    EXPECT_EQ((Vals{vstate(2), astate(2)}), (Vals{VSTATE_SyncWait, ASTATE_AudioOff}));
    EXPECT_EQ(summary(2), (std::vector<u8>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ((Vals{record(2).nosignal, record(2).stable, record(2).Hact, record(2).Vtotal}), (Vals{1, 1, 1920, 1125}));
    EXPECT_EQ(reg(2, 0, R::VID_OUT) & 0x0F, 0x0F);
    chips[2]->force(0, R::STATUS_P0, -1);
    chips[2]->raise(R::INT_SYS, R::sys_int::SCDT_CHG);
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ(record(2).nosignal, 0);

    // +5 V lost: hot-plug off, back to SWReset; plugging in again brings the
    // new source up.
    board().scenario().unplug(2);
    poll(2);
    EXPECT_NE(vstate(2), VSTATE_VideoOn);
    EXPECT_EQ(chips[2]->hotPlug(), 0);
    EXPECT_EQ(summary(2)[0], 0);
    plug(2, source(1280, 720, 60));
    ASSERT_TRUE(untilVideoOn(2, 4));
    EXPECT_EQ(summary(2), (std::vector<u8>{0x00, 0x05, 0xD0, 0x02, 0x3C, 0x00}));
    EXPECT_EQ(record(2).Htotal, 1650);
}

TEST_F(It6602Env, ANewSignalIsNeverShownWithTheOldTiming) {
    plug(2, source(1920, 1080, 60));
    ASSERT_TRUE(untilVideoOn(2));
    board().scenario().unplug(2);
    polls(2, 2);
    ASSERT_EQ(record(2).nosignal, 1);
    // Between any two bus accesses of the new bring-up, the c331 side sees
    // either no signal or the new timing.
    int stale = 0, seen = 0;
    chips[2]->setAccessHook([&] {
        const PI_HDMI_INFO r = record(2);
        seen += r.nosignal == 0;
        stale += r.nosignal == 0 && r.Hact != 1280;
    });
    plug(2, source(1280, 720, 60));
    ASSERT_TRUE(untilVideoOn(2));
    chips[2]->setAccessHook(nullptr);
    EXPECT_EQ(stale, 0);
    EXPECT_GT(seen, 0);
}

TEST_F(It6602Env, OutputColourPathFollowsTheInfoFrame) {
    SimSource s = source(1920, 1080, 60);
    s.color = SimSource::Color::YUV444;
    s.colorimetry = SimSource::Colorimetry::BT709;
    plug(0, s);
    ASSERT_TRUE(untilVideoOn(0));
    EXPECT_EQ(matrixAt(chips[0]), kYuvToRgb709Full);
    EXPECT_EQ((Vals{reg(0, 0, R::OUT_FMT) & 0x03, reg(0, 0, R::PORT_SEL) & 0x80, reg(0, 0, R::CSC_CTRL) & 0x03}),
              (Vals{3, 0, 2}));

    s.color = SimSource::Color::YUV422, s.colorimetry = SimSource::Colorimetry::BT601;
    plug(1, s);
    ASSERT_TRUE(untilVideoOn(1));
    EXPECT_EQ(matrixAt(chips[1]), kYuvToRgb601Full);

    s = source(1920, 1080, 60);
    s.range = SimSource::Range::Limited;
    plug(2, s);
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ(matrixAt(chips[2]), kLimitedToFullRgb);
    EXPECT_EQ((Vals{reg(2, 0, R::CSC_OFFSET), reg(2, 0, R::OUT_FMT) & 0x03, reg(2, 0, R::CSC_SEL) & 0x78}),
              (Vals{0xED, 2, 0x78}));

    s.range = SimSource::Range::Full;
    plug(3, s);
    ASSERT_TRUE(untilVideoOn(3));
    EXPECT_EQ((Vals{reg(3, 0, R::PORT_SEL) & 0x80, reg(3, 0, R::OUT_FMT) & 0x03, reg(3, 0, R::CSC_OFFSET)}),
              (Vals{0x80, 0, 0}));
    EXPECT_EQ(matrixAt(chips[3]), std::vector<u8>(21, 0));

    // A new InfoFrame while video is on: the path is set up again.
    s.range = SimSource::Range::Limited;
    plug(3, s);
    chips[3]->raise(R::INT_MISC, 0x01);
    polls(3, 2);
    EXPECT_EQ(reg(3, 0, R::CSC_OFFSET), 0xED);
    EXPECT_EQ(reg(3, 0, R::PORT_SEL) & 0x80, 0);
}

TEST_F(It6602Env, AudioFollowsTheVideo) {
    SimSource s = source(1920, 1080, 60);
    s.audioRateHz = 48000, s.audioChannels = 2;
    plug(2, s);
    polls(2, 3);
    EXPECT_EQ(astate(2), ASTATE_AudioOff);
    EXPECT_EQ(reg(2, 0, R::OUT_CTRL) & 0x1F, 0x1F);
    // Video-on requests the audio, which is there: the same poll waits for
    // it to settle, three polls.
    poll(2);
    EXPECT_EQ((Vals{vstate(2), astate(2)}), (Vals{VSTATE_VideoOn, ASTATE_WaitForReady}));
    polls(2, 2);
    EXPECT_EQ(astate(2), ASTATE_WaitForReady);
    poll(2);
    EXPECT_EQ(astate(2), ASTATE_AudioOn);
    EXPECT_EQ(reg(2, 0, R::OUT_CTRL) & 0x1F, 0);
    EXPECT_EQ((Vals{drv().get_IT6602_dev_data(2).m_bAudioSampleFreq, drv().get_IT6602_dev_data(2).m_bAudioChannel}),
              (Vals{0x2, 0x1}));

    // Another sample rate: requested again within the check period.
    auto pollUntilRequested = [&] {
        for (int i = 0; i < 3 && astate(2) != ASTATE_RequestAudio; ++i) poll(2);
        return astate(2) == ASTATE_RequestAudio;
    };
    s.audioRateHz = 44100;
    plug(2, s);
    EXPECT_TRUE(pollUntilRequested());
    polls(2, 4);
    EXPECT_EQ(astate(2), ASTATE_AudioOn);
    // The audio gone: it stays requested with the output off.
    s.audioRateHz = 0;
    plug(2, s);
    EXPECT_TRUE(pollUntilRequested());
    polls(2, 4);
    EXPECT_EQ(astate(2), ASTATE_RequestAudio);
    EXPECT_EQ(reg(2, 0, R::OUT_CTRL) & 0x1F, 0x1F);

    // The source turns to DVI: audio off, the DVI path; and back to HDMI.
    s.audioRateHz = 48000, s.dvi = true;
    plug(2, s);
    chips[2]->raise(R::INT_P0, R::port_int::HDMI_MODE_CHG);
    poll(2);
    EXPECT_EQ((Vals{astate(2), reg(2, 0, R::DVI_PATH) & 0x07}), (Vals{ASTATE_AudioOff, 0x04}));
    EXPECT_FALSE(drv().get_IT6602_dev_data(2).m_ucFlags & FLAG_HDMI_MODE);
    s.dvi = false;
    plug(2, s);
    chips[2]->raise(R::INT_P0, R::port_int::HDMI_MODE_CHG);
    poll(2);
    EXPECT_TRUE(drv().get_IT6602_dev_data(2).m_ucFlags & FLAG_HDMI_MODE);
    EXPECT_EQ(astate(2), ASTATE_WaitForReady);
}
