// IT6805 equaliser against the simulated chip's scripted front end.
#include "video_io/it6805_env.h"

using namespace it6805;

namespace {
class It6805EqTest : public It6805Env {
protected:
    void up(int rx, uint32_t w, uint32_t h, uint32_t hz) {
        plug(rx, w, h, hz);
        step(rx);
        ASSERT_GT(stepUntil(rx, STATEV_VidStable), 0);
        select(rx);
    }
    void allChannels(int rx, uint8_t low, uint8_t high) {
        for (int ch = 0; ch < 3; ++ch) chip(rx)->setBitErrors(ch, low, high);
    }
    ite6805_eq& eq() { return sys->eq(); }
    u32 state(int rx) { return sys->data[rx].STATEEQ; }
    // Register writes of the front end's DFE coefficient registers.
    size_t dfeWrites(int rx) {
        size_t n = 0;
        for (uint32_t w : chip(rx)->writes()) {
            const int reg = (w >> 8) & 0xFF;
            if ((w >> 16) == BANK_FRONTEND_P0 && reg >= 0x4C && reg <= 0x53) ++n;
        }
        return n;
    }
};
}  // namespace

TEST_F(It6805EqTest, Hdmi20LinkThatAlreadyPassesIsTunedAtOnce) {
    up(0, 3840, 2160, 60);  // 594 MHz: HDMI 2.0
    chip(0)->setLogging(true);
    eq().iTE6805_EQ_chg(1, 0);
    eq().iTE6805_EQ_fsm(0);
    // No automatic equalisation started (its set-up writes 0x30 to 0x35).
    EXPECT_EQ((Vals{state(0), eq().st[0].hdmi20, eq().st[0].fast_link, writesTo(0, BANK_FRONTEND_P0, 0x30).size()}),
              (Vals{9, 1, 1, 0}));
}

TEST_F(It6805EqTest, NoCompletionIn31PassesStartsTheManualSearchWithoutDfe) {
    up(0, 3840, 2160, 60);
    allChannels(0, 250, 0x80);  // counted, but too many errors
    chip(0)->setParityOk(false);
    eq().iTE6805_EQ_chg(1, 0);
    eq().iTE6805_EQ_fsm(0);
    ASSERT_EQ(state(0), 2u);
    chip(0)->setLogging(true);
    for (int i = 0; i < 30; ++i) eq().iTE6805_EQ_fsm(0);
    EXPECT_EQ((Vals{state(0), eq().st[0].result_flag, writesTo(0, BANK_FRONTEND_P0, 0x27).size()}), (Vals{2, 0, 0}));
    eq().iTE6805_EQ_fsm(0);
    // Four trials, then the skew pass of the best values, all without DFE.
    EXPECT_EQ((Vals{state(0), eq().st[0].result_flag, eq().st[0].skew_pending, eq().st[0].trial, dfeWrites(0)}),
              (Vals{2, 1, 1, 0, 0}));
    EXPECT_EQ(writesTo(0, BANK_FRONTEND_P0, 0x27),
              (std::vector<int>{0x81, 0x87, 0x8F, 0xBF, 0x80 | eq().st[0].chosen[0]}));
}

TEST_F(It6805EqTest, ErrorThresholdsOfTheFirstAndTheRepeatCheck) {
    up(0, 1920, 1080, 60);
    chip(0)->setParityOk(false);
    eq().iTE6805_Reset_EQ(0);
    chip(0)->setBitErrors(0, 239, 0x80);
    chip(0)->setBitErrors(1, 239, 0x80);
    chip(0)->setBitErrors(2, 240, 0x80);
    EXPECT_EQ(eq().iTE6805_BitErr_Check(0), 0);
    EXPECT_EQ((Vals{eq().st[0].passed[0], eq().st[0].passed[1], eq().st[0].passed[2]}), (Vals{1, 1, 0}));
    EXPECT_EQ(eq().iTE6805_BitErr_Check_Again(0), 1);
    chip(0)->setBitErrors(2, 241, 0x80);
    EXPECT_EQ(eq().iTE6805_BitErr_Check_Again(0), 0);
    // A count without its valid bit is bad whatever its value.
    chip(0)->setBitErrors(2, 0, 0x00);
    EXPECT_EQ(eq().iTE6805_BitErr_Check_Again(0), 0);
    // All three clean: the first check passes and stops the bit-error logic.
    allChannels(0, 0, 0x80);
    EXPECT_EQ(eq().iTE6805_BitErr_Check(0), 1);
}

TEST_F(It6805EqTest, ManualSearchPicksTheLowestValidCountAndKeepsTheEarlierOfATie) {
    up(0, 1920, 1080, 60);
    ite6805_eq::State& s = eq().st[0];
    s.table = ite6805_eq::iTE6805_EQ_Table_Hdmi10;  // 01 3F 07 0F
    s.hdmi1x = 1, s.hdmi20 = 0, s.trial = 4;
    std::memset(s.passed, 0, sizeof s.passed);
    auto slot = [&](int t, int ch, int count, bool valid) {
        s.ber[t][ch][0] = u8(count & 0xFF);
        s.ber[t][ch][1] = u8((valid ? 0x80 : 0) | (count >> 8));
    };
    slot(1, 0, 500, true), slot(2, 0, 200, true), slot(3, 0, 200, true), slot(4, 0, 0, false);
    slot(1, 1, 300, true), slot(2, 1, 0, false), slot(3, 1, 290, true), slot(4, 1, 289, true);
    for (int t = 1; t <= 4; ++t) slot(t, 2, 0, false);
    s.chosen[2] = 0x55;
    sys->data[0].STATEEQ = 4;
    chip(0)->setLogging(true);
    eq().iTE6805_EQ_chg(5, 0);
    // A channel without any valid count keeps its value.
    EXPECT_EQ((Vals{writesTo(0, BANK_FRONTEND_P0, 0x27).at(0), writesTo(0, BANK_FRONTEND_P0, 0x28).at(0),
                    writesTo(0, BANK_FRONTEND_P0, 0x29).at(0), s.trial}),
              (Vals{0x80 | 0x3F, 0x80 | 0x0F, 0x80 | 0x55, 0}));
    EXPECT_EQ(state(0), 9u);  // the clean link passes the repeat check
}

TEST_F(It6805EqTest, SlotWithoutAnyCountMovesTheFrontEndAndRestarts) {
    up(0, 1920, 1080, 60);
    chip(0)->setParityOk(false);
    allChannels(0, 0, 0x00);
    auto e5After = [&](u8 before, bool hdmi20) {
        sys->drv().chgbank(BANK_FRONTEND_P0, 0);
        sys->io().hdmirxwr(0xE5, before, 0);
        sys->drv().chgbank(0, 0);
        eq().iTE6805_Reset_EQ(0);
        eq().st[0].hdmi20 = hdmi20;
        eq().iTE6805_EQ_chg(4, 0);
        return int(chip(0)->reg(BANK_FRONTEND_P0, 0xE5));
    };
    EXPECT_EQ((Vals{e5After(0x00, false), e5After(0x00, true), e5After(0x10, false), state(0)}),
              (Vals{0x1C, 0x10, 0x00, 0}));
}

TEST_F(It6805EqTest, HeldStateIgnoresEvents) {
    up(0, 1920, 1080, 60);
    sys->data[0].STATEEQ = 7;
    for (u32 ev : {0u, 1u, 5u, 9u}) eq().iTE6805_EQ_chg(ev, 0);
    EXPECT_EQ(state(0), 7u);
}

TEST_F(It6805EqTest, TwoReceiversSearchWithTheirOwnTrialIndex) {
    up(0, 1920, 1080, 60);
    up(1, 1920, 1080, 60);
    for (int rx = 0; rx < 2; ++rx) {
        allChannels(rx, 250, 0x80);
        chip(rx)->setParityOk(false);
        eq().st[rx].hdmi1x = 1;
        eq().st[rx].table = ite6805_eq::iTE6805_EQ_Table_Hdmi10;
    }
    // Receiver 0 is half-way through its trials when receiver 1 searches.
    eq().st[0].trial = 2;
    select(1);
    eq().iTE6805_EQ_chg(5, 1);
    EXPECT_EQ((Vals{eq().st[0].trial, eq().st[1].trial, state(1)}), (Vals{2, 0, 6}));
    select(0);
    chip(0)->setLogging(true);
    eq().iTE6805_EQ_chg(5, 0);
    EXPECT_EQ(writesTo(0, BANK_FRONTEND_P0, 0x27).at(0), 0x80 | 0x07);  // its third trial
}

TEST_F(It6805EqTest, DfeCoefficientsSaturate) {
    up(0, 1920, 1080, 60);
    // Index 0 and 1: beyond the limits either way; 2: inside; 3: at them.
    chip(0)->setDfeReading(1, 0, 100, 30, 10, 50);
    chip(0)->setDfeReading(1, 1, 30, 100, 90, 10);
    chip(0)->setDfeReading(1, 2, 80, 60, 70, 74);
    chip(0)->setDfeReading(1, 3, 17, 80, 48, 32);
    eq().st[0].result_flag = 0;
    eq().iTE6805_Get_DFE(1, 0);
    auto c = [&](int i) {
        const u8* v = eq().st[0].dfe[i][1];
        return Vals{v[0], v[1], v[2]};
    };
    EXPECT_EQ(c(0), (Vals{0x7F, 0x3F, 0x1F}));
    EXPECT_EQ(c(1), (Vals{0x5F, 0x2F, 0x1F}));
    EXPECT_EQ(c(2), (Vals{0x6A, 0x35, 0x1B}));
    EXPECT_EQ(c(3), (Vals{0x5F, 0x2F, 0x17}));
    // Set writes the coefficients of the value's index, channel 1's registers.
    chip(0)->setLogging(true);
    eq().iTE6805_Set_DFE(0x7E, 1, 0);  // RS_Value index 1
    EXPECT_EQ((Vals{chip(0)->reg(3, 0x4E), chip(0)->reg(3, 0x4F), chip(0)->reg(3, 0x50)}), c(1));
    // Every value finds its own index: readings a - b = 2i + 2 give index i
    // the first coefficient 0x61 + i; a value not in the table takes index 4.
    for (int i = 0; i < 14; ++i) chip(0)->setDfeReading(1, i, u8(42 + 2 * i), 40, 40, 40);
    eq().iTE6805_Get_DFE(1, 0);
    const u8 values[14] = {0x7F, 0x7E, 0x3F, 0x3E, 0x1F, 0x1E, 0x0F, 0x0E, 0x07, 0x06, 0x03, 0x02, 0x01, 0x00};
    for (int i = 0; i < 14; ++i) {
        eq().iTE6805_Set_DFE(values[i], 1, 0);
        EXPECT_EQ(chip(0)->reg(3, 0x4E), 0x61 + i) << i;
    }
    eq().iTE6805_Set_DFE(0x55, 1, 0);
    EXPECT_EQ(chip(0)->reg(3, 0x4E), 0x65);
    // The result flag leaves the stored coefficients alone.
    eq().st[0].result_flag = 1;
    chip(0)->setDfeReading(1, 0, 0, 0, 0, 0);
    eq().iTE6805_Get_DFE(1, 0);
    EXPECT_EQ(c(0), (Vals{0x61, 0x31, 0x19}));
}
