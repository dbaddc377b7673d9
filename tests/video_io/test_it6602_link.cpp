// IT6602 link recovery and equaliser, 3D frame packing, and the restart of
// an input after its custom EDID was written.
#include "it6602_fixture.h"
#include "video_io/it6602_tables.h"
#include "video_io/source_handover.h"

#include <algorithm>

using namespace it6602;
namespace R = it6602reg;

namespace {
// Values written to one register of one bank, in order.
std::vector<int> writesTo(const SimIt6602& chip, u8 bank, u8 reg) {
    std::vector<int> out;
    for (const auto& w : chip.writes())
        if (w.reg == reg && (reg < 0x10 || w.bank == bank)) out.push_back(w.value);
    return out;
}
}  // namespace

class It6602LinkEnv : public It6602Env {
protected:
    // Input 0 at video-on with the given amplitudes reported valid.
    void upWithAmplitudes(u8 a0, u8 a1, u8 a2) {
        plug(0, source(1920, 1080, 60));
        ASSERT_TRUE(untilVideoOn(0));
        chips[0]->setRegister(1, R::B1_AMP_VALID_P0, 0x3F);
        chips[0]->setRegister(1, R::B1_AMP_P0, a0);
        chips[0]->setRegister(1, u8(R::B1_AMP_P0 + 1), a1);
        chips[0]->setRegister(1, u8(R::B1_AMP_P0 + 2), a2);
        chips[0]->clearWrites();
    }
    const IT6602_eq_data& eq(int input) { return drv().get_IT6602_dev_data(input).EQPort[0]; }
};

TEST_F(It6602LinkEnv, AmplitudesOverwriteTheEqualiserAndACleanStrongLinkEndsTheSearchAtOnce) {
    upWithAmplitudes(1, 2, 0x90);
    chips[0]->raise(R::INT_EQ, R::eq_int::P0_AMP_READY);
    poll(0);
    EXPECT_EQ((Vals{reg(0, 0, 0x27), reg(0, 0, 0x28), reg(0, 0, 0x29)}), (Vals{3, 3, 0x10}));
    EXPECT_EQ(reg(0, 0, R::EQ_EN_P0) & 0x20, 0x20);
    EXPECT_TRUE(drv().eqBook(0, 0).overwriteDone);
    EXPECT_EQ(eq(0).f_manualEQadjust, 1);

    // Strong amplitudes, no errors: done at state 19 without trying a value.
    state(0) = 0;
    upWithAmplitudes(20, 20, 20);
    chips[0]->raise(R::INT_EQ, R::eq_int::P0_AMP_READY);
    poll(0);  // started with one step, and the poll's own step
    EXPECT_EQ(eq(0).ucEQState, 2);
    polls(0, 17);
    EXPECT_EQ(eq(0).ucEQState, 19);
    poll(0);
    EXPECT_EQ(eq(0).ucEQState, 156);
    poll(0);
    EXPECT_EQ((Vals{eq(0).ucEQState, eq(0).f_manualEQadjust}), (Vals{kEqIdle, 0}));
    for (int v : writesTo(*chips[0], 0, R::EQ_VAL_P0)) EXPECT_EQ(std::count(IT6602EQTable, IT6602EQTable + 3, v), 0) << v;
    EXPECT_EQ(vstate(0), VSTATE_VideoOn);
    EXPECT_EQ(drv().get_IT6602_dev_data(0).m_bVideoContentOff, 0);
}

TEST_F(It6602LinkEnv, ErrorsBlankTheOutputAndTheSearchTriesTheTable) {
    upWithAmplitudes(5, 5, 5);
    // Errors on every poll: the output is blanked and every value is tried.
    chips[0]->setRegister(0, R::ERR_P0, 0x40);
    chips[0]->raise(R::INT_EQ, R::eq_int::P0_AMP_READY);
    poll(0);
    EXPECT_EQ(drv().get_IT6602_dev_data(0).m_bVideoContentOff, 1);
    EXPECT_EQ(reg(0, 0, R::VID_OUT) & 0xC0, 0xC0);
    for (int i = 0; i < 120 && eq(0).f_manualEQadjust; ++i) poll(0);
    EXPECT_EQ(eq(0).ucEQState, kEqIdle);
    const auto tried = writesTo(*chips[0], 0, R::EQ_VAL_P0);
    for (u8 v : IT6602EQTable) EXPECT_NE(std::find(tried.begin(), tried.end(), v), tried.end()) << int(v);
    // A finished search ends the blanking.
    EXPECT_EQ(drv().get_IT6602_dev_data(0).m_bVideoContentOff, 0);
}

TEST_F(It6602LinkEnv, FailuresTogglePolaritySixteenTimesThenSearch) {
    upWithAmplitudes(0, 0, 0);
    chips[0]->setRegister(1, R::B1_AMP_VALID_P0, 0x0F);  // channel 2 never valid
    for (int i = 0; i < 16; ++i) {
        chips[0]->raise(R::INT_EQ, R::eq_int::P0_EQ_FAIL);
        poll(0);
    }
    EXPECT_EQ(drv().polarityToggles(0, 0), 16);
    EXPECT_EQ(writesTo(*chips[0], 1, R::B1_POL_BITS_A).size(), 16u);
    EXPECT_EQ(reg(0, 1, R::B1_POL_BITS_A) & 0x80, 0);  // an even number of inversions
    EXPECT_EQ(eq(0).ucEQState, kEqIdle);
    chips[0]->raise(R::INT_EQ, R::eq_int::P0_EQ_FAIL);
    poll(0);
    EXPECT_EQ(eq(0).f_manualEQadjust, 1);
    EXPECT_EQ(drv().polarityToggles(0, 0), 16);
}

TEST_F(It6602LinkEnv, ClockChecksAndEccRecovery) {
    // A chip at 0x94 sets the deskew register from the TMDS clock.
    chips[0]->setStrap(SimIt6602::Strap::At94Only);
    upWithAmplitudes(0, 0, 0);
    struct {
        u8 div, count;
        int deskew;
    } clocks[] = {{0x01, 205, 0x00}, {0x02, 166, 0x3F}};  // 29 and 74 MHz
    for (const auto& c : clocks) {
        chips[0]->force(0, R::TMDS_DIV, c.div);
        chips[0]->force(0, R::TMDS_CNT_P0, c.count);
        chips[0]->clearWrites();
        chips[0]->raise(R::INT_P0, R::port_int::CLK_CHG);
        poll(0);
        EXPECT_EQ(writesTo(*chips[0], 0, R::DESKEW_P0), std::vector<int>{c.deskew});
    }
    // A chip at 0x90 leaves it.
    plug(2, source(1920, 1080, 60));
    ASSERT_TRUE(untilVideoOn(2));
    chips[2]->clearWrites();
    chips[2]->raise(R::INT_P0, R::port_int::CLK_CHG);
    poll(2);
    EXPECT_TRUE(writesTo(*chips[2], 0, R::DESKEW_P0).empty());

    // The 23rd ECC error pulses the hot-plug around a front-end reset.
    plug(3, source(1920, 1080, 60));
    ASSERT_TRUE(untilVideoOn(3));
    chips[3]->clearWrites();
    for (int i = 0; i < 22; ++i) {
        chips[3]->raise(R::INT_P0, R::port_int::ECC_ERR);
        poll(3);
    }
    EXPECT_TRUE(writesTo(*chips[3], 1, R::B1_HPD).empty());
    chips[3]->raise(R::INT_P0, R::port_int::ECC_ERR);
    poll(3);
    std::vector<std::pair<int, int>> seq;
    for (const auto& w : chips[3]->writes())
        if ((w.bank == 1 && w.reg == R::B1_HPD) || (w.bank == 0 && w.reg == R::AFE_RST_P0))
            seq.emplace_back(w.reg, w.value & (w.reg == R::B1_HPD ? 0x03 : 0x0F));
    const std::vector<std::pair<int, int>> pulse = {{R::B1_HPD, 1}, {R::AFE_RST_P0, 0xF}, {R::AFE_RST_P0, 0}, {R::B1_HPD, 3}};
    ASSERT_GE(seq.size(), pulse.size());
    EXPECT_EQ((std::vector<std::pair<int, int>>(seq.begin(), seq.begin() + 4)), pulse);
    EXPECT_EQ(drv().get_IT6602_dev_data(3).m_ucEccCount[0], 0);
    // The source trains again after the pulse.
    EXPECT_TRUE(untilVideoOn(3));
}

TEST_F(It6602LinkEnv, FramePackingRegeneratesTheSyncFromTheTable) {
    // Rows follow {T - 1, T + S + B - 1, S + B - 1 + A, T - 1 + S, A}.
    for (const Sync3D* r = t_3d_syncgen; r->vic != 0xFF; ++r) {
        const int T = r->vtotal + 1, SB = r->vactStart - T + 1, S = r->vsyncEnd - (T - 1);
        EXPECT_EQ(r->vactEnd, SB - 1 + r->vact) << int(r->vic);
        EXPECT_TRUE(S > 0 && S < SB) << int(r->vic);
    }
    auto row = [](int vic) {
        for (const Sync3D* r = t_3d_syncgen; r->vic != 0xFF; ++r)
            if (r->vic == vic) return Vals{r->vtotal, r->vactStart, r->vactEnd, r->vsyncEnd, r->vact};
        return Vals{};
    };
    EXPECT_EQ(row(4), (Vals{749, 774, 744, 754, 720}));
    for (int vic : {32, 33, 34}) EXPECT_EQ(row(vic), (Vals{1124, 1165, 1120, 1129, 1080})) << vic;

    plug(1, source(1280, 720, 60));
    ASSERT_TRUE(untilVideoOn(1));
    chips[1]->force(2, 0x2B, 0x40);  // 3D present
    chips[1]->force(2, 0x2C, 0x00);  // frame packing
    chips[1]->raise(R::INT_INFO, 0x04);
    poll(1);
    EXPECT_EQ((Vals{reg(1, 1, 0x9D), reg(1, 1, 0x9C) >> 4, reg(1, 1, 0x92), reg(1, 1, 0x94)}),
              (Vals{749 >> 4, 749 & 0xF, 774 & 0xFF, 744 >> 4}));
    EXPECT_EQ((Vals{reg(1, 0, R::FRAME_3D) & 0x10, reg(1, 0, R::FRAME_3D_EN) & 0x20}), (Vals{0x10, 0x20}));
    EXPECT_EQ(drv().get_IT6602_dev_data(1).de3dframe_handled, 1);
}

TEST_F(It6602LinkEnv, CustomEdidRestartsTheInputAndTheSourceFollowsIt) {
    SimSource s = source(1920, 1080, 60);
    s.followsEdid = true;
    plug(2, s);
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ(summary(2), (std::vector<u8>{0x80, 0x07, 0x38, 0x04, 0x3C, 0x00}));

    model->live_image.setWord(RamOffset::edid(2), 1280);
    model->live_image.setWord(RamOffset::edid(2) + 2, 720);
    model->live_image.setWord(RamOffset::edid(2) + 4, 60);
    source_handover::request_custom_edid(2);
    src->about_set_edid_deal();
    chips[2]->clearWrites();
    poll(2);  // restart: identified and reset again
    const auto init = writesTo(*chips[2], 0, R::RESET);
    EXPECT_EQ(std::vector<int>(init.begin(), init.begin() + 2), (std::vector<int>{0x08, 0x17}));
    EXPECT_EQ(writesTo(*chips[2], 1, R::B1_HPD), (std::vector<int>{0x00, 0x03}));
    EXPECT_EQ(board().scenario().snapshot().inputs[2].width, 1280u);
    ASSERT_TRUE(untilVideoOn(2));
    EXPECT_EQ(summary(2), (std::vector<u8>{0x00, 0x05, 0xD0, 0x02, 0x3C, 0x00}));
    EXPECT_EQ((Vals{record(2).Hact, record(2).Vact, record(2).Htotal}), (Vals{1280, 720, 1650}));
    EXPECT_FLOAT_EQ(record(2).pfreq, 74.25f);
}
