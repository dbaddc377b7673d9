// IT6602 start-up register programme, link recovery and equaliser, 3D
// frame packing, and the restart of an input after its custom EDID was
// written.
#include "it6602_fixture.h"
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

// The three equaliser values the search tries, in the order it tries them.
const std::vector<int> kEqValues = {0xFF, 0x9F, 0x83};
}  // namespace

TEST_F(It6602Env, ResetWritesTheStartUpProgrammeInOrderMergingEachMask) {
    // Every register of banks 0 and 1 holds all ones, the bank register
    // 0xFC (bank 0, the upper bits showing): a masked row keeps the ones
    // outside its mask, so a row written whole or merged the wrong way shows.
    auto& chip = *chips[0];
    for (u8 bank : {0, 1})
        for (int r = 0x10; r <= 0xFF; ++r) chip.setRegister(bank, u8(r), 0xFF);
    chip.setRegister(0, R::BANK, 0xFC);
    chip.clearWrites();
    poll(0);  // identified and reset
    ASSERT_EQ(state(0), 1);
    // {bank in force, register, byte written}.
    const std::vector<Vals> expected = {
        {0, 0x0F, 0xFC}, {0, 0x10, 0x08}, {0, 0x0F, 0xFC}, {0, 0x10, 0x17}, {0, 0x11, 0x1F}, {0, 0x18, 0x1F},
        {0, 0x12, 0xF8}, {0, 0x10, 0x10}, {0, 0x11, 0xA0}, {0, 0x18, 0xA0}, {0, 0x12, 0x00}, {0, 0x0F, 0xFD},
        {1, 0xB0, 0xFC}, {1, 0x0F, 0xFC}, {0, 0x17, 0xBF}, {0, 0x1E, 0x3F}, {0, 0x16, 0xFF}, {0, 0x1D, 0xFF},
        {0, 0x2B, 0x07}, {0, 0x31, 0x09}, {0, 0x49, 0x09}, {0, 0x35, 0xF5}, {0, 0x4B, 0xF5}, {0, 0x54, 0x11},
        {0, 0x6A, 0x81}, {0, 0x74, 0xA0}, {0, 0x50, 0xF2}, {0, 0x65, 0xF3}, {0, 0x7A, 0xFF}, {0, 0x85, 0xFF},
        {0, 0xC0, 0xFF}, {0, 0x87, 0x00}, {0, 0x71, 0xF7}, {0, 0x37, 0xA6}, {0, 0x4D, 0xA6}, {0, 0x67, 0x7F},
        {0, 0x7A, 0xFF}, {0, 0x77, 0xFF}, {0, 0x0F, 0xFD}, {1, 0xC0, 0xFB}, {1, 0x0F, 0xFC}, {0, 0x7E, 0xFF},
        {0, 0x52, 0xFF}, {0, 0x53, 0x7F}, {0, 0x58, 0x33}, {0, 0x59, 0xAA}, {0, 0x25, 0x1F}, {0, 0x3D, 0x1F},
        {0, 0x27, 0x1F}, {0, 0x28, 0x1F}, {0, 0x29, 0x1F}, {0, 0x3F, 0x1F}, {0, 0x40, 0x1F}, {0, 0x41, 0x1F},
        {0, 0x0F, 0xFD}, {1, 0xBC, 0x06}, {1, 0xCC, 0x00}, {1, 0xC6, 0xFB}, {1, 0xB5, 0xFF}, {1, 0xB8, 0x7F},
        {1, 0xB6, 0xFB}, {1, 0x10, 0x00}, {1, 0x11, 0x00}, {1, 0x12, 0x00}, {1, 0x13, 0x00}, {1, 0x28, 0x00},
        {1, 0x29, 0x00}, {1, 0x2A, 0x00}, {1, 0x2B, 0x00}, {1, 0x2C, 0x00}, {1, 0x0F, 0xFC}, {0, 0x22, 0x00},
        {0, 0x3A, 0x00}, {0, 0x26, 0x00}, {0, 0x3E, 0x00}, {0, 0x63, 0x3F}, {0, 0x73, 0xF7}, {0, 0x60, 0xBF},
        {0, 0x2A, 0xFE}, {0, 0x42, 0xFE}, {0, 0x77, 0xFB}};
    const auto got = chip.writes();
    ASSERT_GE(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ((Vals{got[i].bank, got[i].reg, got[i].value}), expected[i]) << "row " << i;
    // The end row is not written.
    for (const auto& w : got) EXPECT_NE(w.reg, 0xFF);
}

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
    for (int v : writesTo(*chips[0], 0, R::EQ_VAL_P0)) EXPECT_EQ(std::count(kEqValues.begin(), kEqValues.end(), v), 0) << v;
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
    // 0xFF, 0x9F and 0x83 are each tried, first in that order.
    std::vector<int> firstTries;
    for (int v : writesTo(*chips[0], 0, R::EQ_VAL_P0))
        if (std::count(kEqValues.begin(), kEqValues.end(), v) &&
            std::find(firstTries.begin(), firstTries.end(), v) == firstTries.end())
            firstTries.push_back(v);
    EXPECT_EQ(firstTries, kEqValues);
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

TEST_F(It6602LinkEnv, FramePackingRegeneratesTheSyncOfTheCodesItKnows) {
    // Bank 1 0x8F-0x94, 0x9C, 0x9D, 0x9F after a frame-packing InfoFrame with
    // the given code, from all ones; the source is then lost and found again
    // so the next frame is handled.
    const std::vector<u8> syncRegs = {0x8F, 0x90, 0x91, 0x92, 0x93, 0x94, 0x9C, 0x9D, 0x9F};
    auto framePacking = [&](int vic) {
        plug(1, source(1280, 720, 60));
        EXPECT_TRUE(untilVideoOn(1));
        for (u8 r : syncRegs) chips[1]->setRegister(1, r, 0xFF);
        chips[1]->setRegister(0, R::FRAME_3D, 0x00);
        chips[1]->setRegister(0, R::FRAME_3D_EN, 0x00);
        chips[1]->force(2, R::B2_AVI_VIC, vic);
        chips[1]->force(2, 0x2B, 0x40);  // 3D present
        chips[1]->force(2, 0x2C, 0x00);  // frame packing
        chips[1]->raise(R::INT_INFO, 0x04);
        poll(1);
        EXPECT_EQ(drv().get_IT6602_dev_data(1).de3dframe_handled, 1) << vic;
        Vals out;
        for (u8 r : syncRegs) out.push_back(reg(1, 1, r));
        out.push_back(reg(1, 0, R::FRAME_3D));
        out.push_back(reg(1, 0, R::FRAME_3D_EN));
        plug(1, SimSource{});
        for (int i = 0; i < 5 && vstate(1) == VSTATE_VideoOn; ++i) poll(1);
        EXPECT_NE(vstate(1), VSTATE_VideoOn);
        return out;
    };
    // Code 4: V total 749 (0x2ED), active 774 (0x306) to 744 (0x2E8), sync
    // end 754 (0x2F2), V active 720: left/right boundary 774 - 360 = 414
    // (0x19E) to 774 + 360 = 1134 (0x46E).
    //                          8F    90    91    92    93    94    9C    9D    9F   66    85
    EXPECT_EQ(framePacking(4), (Vals{0x9E, 0xE1, 0x46, 0x06, 0x83, 0x2E, 0xDF, 0x2E, 0x2F, 0x10, 0x20}));
    // Codes 32 to 34: 1124 (0x464), 1165 (0x48D) to 1120 (0x460), 1129
    // (0x469), 1080: boundary 625 (0x271) to 1705 (0x6A9).
    for (int vic : {32, 33, 34})
        EXPECT_EQ(framePacking(vic), (Vals{0x71, 0x92, 0x6A, 0x8D, 0x04, 0x46, 0x4F, 0x46, 0x9F, 0x10, 0x20})) << vic;
    // The other codes it knows regenerate a sync too; codes it does not know
    // leave the registers alone.
    for (int vic : {1, 2, 3, 17, 18, 19, 60, 61, 62}) EXPECT_NE(framePacking(vic)[7], 0xFF) << vic;
    const Vals untouched = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    for (int vic : {5, 16, 31, 63}) EXPECT_EQ(framePacking(vic), untouched) << vic;
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
