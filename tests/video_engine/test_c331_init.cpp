// Chip initialisation: the set-up programme's given rows and their order,
// the clock-domain control sequence, the layer background of an input port,
// and the working parameter set.
#include "test_c331_sim.h"
#include "video_engine/c331_manage.h"

#include <tuple>

namespace {

class C331InitTest : public C331SimEnv {
protected:
    void SetUp() override {
        C331SimEnv::SetUp();
        useManualClock();
        mgr = c331_manage::get();
        mgr->c331_fd = mgr->drv->initialize();
        mgr->load_system_param();
        mgr->define_param();
        mgr->drv->init_reg_acc_param();
        g_force_bkcolor = 1;
    }
    // Writes in order as (bank, reg, value), bank selections left out.
    std::vector<std::tuple<int, int, int>> writes() const {
        std::vector<std::tuple<int, int, int>> out;
        for (const auto& a : chip->log())
            if (a.write && a.reg != 0) out.emplace_back(a.bank, a.reg, a.value);
        return out;
    }
    c331_manage* mgr = nullptr;
};

using W = std::tuple<int, int, int>;

TEST_F(C331InitTest, SetUpProgrammeRunsItsPhasesInOrder) {
    mgr->write_initial_setting(mgr->c331_fd, 1);
    const auto w = writes();
    ASSERT_GE(w.size(), 5u);
    // Clock generator first (its register 0 write shows as a bank selection).
    const auto log = chip->log();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log[1].write && log[1].reg == 0 && log[1].value == 8);
    EXPECT_EQ(std::vector<W>(w.begin(), w.begin() + 5),
              (std::vector<W>{{0xFF, 1, 0}, {0xFF, 2, 0xC8}, {0xFF, 3, 0}, {0xFF, 4, 0x61}, {0xFF, 5, 1}}));
    // Clock words in bank 0 and the band (22 x 27 MHz / 4 MHz = 148 -> 0x4C).
    EXPECT_EQ((Vals{chip->reg(0x00, 0x47), chip->reg(0x00, 0x48), chip->reg(0x00, 0x4A), chip->reg(0x00, 0x4B),
                    chip->reg(0x00, 0x4C)}),
              (Vals{0, 137, 1, 22, 0x4C}));
    // Bank 2 is paged in this order.
    EXPECT_EQ(chip->writesTo(0x02, 0x7F), (std::vector<uint8_t>{0x0E, 0x0F, 0x0D, 0x0F, 0x0B, 0x0F, 0x07, 0x0F}));
    // The clock generator ends running again.
    EXPECT_EQ(chip->writesTo(0xFF, 0x02), (std::vector<uint8_t>{0xC8, 0x00, 0x88, 0xC8}));

    // Mode 0: the middle phase only.
    chip->clearLog();
    mgr->write_initial_setting(mgr->c331_fd, 0);
    for (const auto& x : writes())
        for (int bank : {0xFF, 0x01, 0x02}) EXPECT_NE(std::get<0>(x), bank);
}

TEST_F(C331InitTest, SetUpProgrammeLeavesItsGivenRows) {
    // Registers the programme clears hold ones before it.
    const u8 cleared3[6] = {0x2C, 0x2F, 0x36, 0x39, 0x46, 0x4E};  // two bytes each
    for (u8 r : cleared3) chip->setReg(0x03, r, 0xFF), chip->setReg(0x03, u8(r + 1), 0xFF);
    chip->setReg(0x01, 0x26, 0xFF);
    mgr->write_initial_setting(mgr->c331_fd, 1);
    // Bank 0 opens with 08-0F := 0x11 and 10-17 := 0, 2, ..., 14.
    std::vector<W> bank0;
    for (const W& x : writes())
        if (std::get<0>(x) == 0x00 && bank0.size() < 16) bank0.push_back(x);
    std::vector<W> want;
    for (int r = 0x08; r <= 0x0F; ++r) want.emplace_back(0x00, r, 0x11);
    for (int r = 0x10; r <= 0x17; ++r) want.emplace_back(0x00, r, 2 * (r - 0x10));
    EXPECT_EQ(bank0, want);
    // Bank 3's lane words.
    EXPECT_EQ((Vals{chip->reg32(0x03, 0x55), chip->reg32(0x03, 0x5E), chip->reg32(0x03, 0x62)}),
              (Vals{0x10000, 0x76543210, 0x76543210}));
    for (u8 r : cleared3) EXPECT_EQ(chip->reg16(0x03, r), 0) << int(r);
    // Bank 1's first and last rows.
    EXPECT_EQ((Vals{chip->reg(0x01, 0x08), chip->reg32(0x01, 0x09), chip->reg32(0x01, 0x0D), chip->reg32(0x01, 0x11),
                    chip->reg32(0x01, 0x15), chip->reg(0x01, 0x19), chip->reg32(0x01, 0x6D) & 0xFFFFFF,
                    chip->reg32(0x01, 0x70), chip->reg(0x01, 0x26)}),
              (Vals{0x30, 0x22222222, 0x66663445, 0x22222222, 0x77777777, 7, 0x6DB6DB, 0x33333333, 0}));
}

TEST_F(C331InitTest, ClockDomainControlEndsWithTheHoldReleased) {
    chip->setReg(0x00, 0x29, 0x80);
    mgr->set_rtct(mgr->c331_fd, 2);
    EXPECT_EQ(chip->writesTo(0x00, 0x29), (std::vector<uint8_t>{0x81, 0x80}));
    for (int r = 0x22; r <= 0x28; ++r) EXPECT_EQ(chip->reg(0x00, uint8_t(r)), 0xFF) << r;

    mgr->set_rtct(mgr->c331_fd, 1);
    const uint8_t mode1[7] = {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99};
    for (int r = 0; r < 7; ++r) EXPECT_EQ(chip->reg(0x00, uint8_t(0x22 + r)), mode1[r]);
    mgr->set_rtct(mgr->c331_fd, 9);
    EXPECT_EQ((Vals{chip->reg(0x00, 0x24), chip->reg(0x00, 0x22), chip->reg(0x00, 0x29)}), (Vals{0xFF, 0x99, 0x80}));
}

TEST_F(C331InitTest, InputBackgroundReachesTheLayersOfThatPortsWindows) {
    mgr->load_param();  // layers: windows 0, 0, 1, 1, 2, 3, 4, 5; ports 4, 5, 1, 2, 3, 0
    // A port no window uses: only the two clock-domain sequences.
    for (int w = 0; w < 6; ++w)
        if (mgr->PM_INPUT[w] == 5) mgr->PM_INPUT[w] = 1;
    chip->clearLog();
    mgr->set_input_bkg(mgr->c331_fd, 5, 1);
    for (const auto& x : writes()) EXPECT_EQ(std::get<0>(x), 0x00);

    // Port 4 feeds window 0, shown by layers 0 and 1; forced colour while
    // the FPGAs are not up.
    chip->clearLog();
    mgr->set_input_bkg(mgr->c331_fd, 4, 0);
    EXPECT_EQ((Vals{chip->reg32(0x08, 0x49) & 0xFFFFFF, chip->reg(0x18, 0x48), chip->writesTo(0x28, 0x48).empty()}),
              (Vals{0xFF00, 1, 1}));

    // Released colour: fill only while the port has no signal.
    g_force_bkcolor = 2;
    mgr->PI_STATE[4] = 3;
    mgr->set_input_bkg(mgr->c331_fd, 4, 0);
    EXPECT_EQ((Vals{chip->reg(0x08, 0x48), chip->reg32(0x18, 0x49) & 0xFFFFFF}), (Vals{0, 0}));
    mgr->PI_STATE[4] = 0;
    mgr->set_input_bkg(mgr->c331_fd, 4, 0);
    EXPECT_EQ(chip->reg(0x08, 0x48), 1);
    g_force_bkcolor = 1;
}

TEST_F(C331InitTest, LoadParamGivesTheWorkingSetItsDefaults) {
    mgr->load_param();
    c331_manage& m = *mgr;
    Vals shape, offsets;
    for (int w = 0; w < 6; ++w) {
        shape.insert(shape.end(), {m.PM_WIN_SHAPE[w][0], m.PM_WIN_SHAPE[w][1]});
        for (int i = 0; i < 4; ++i) offsets.push_back(m.PM_WIN_OFFSET[w][i]);
    }
    for (int w = 0; w < 6; ++w)
        for (int i = 0; i < 4; ++i) offsets.push_back(m.PM_INPUT_OFFSET[w][i]);
    for (int w = 0; w < 6; ++w) offsets.push_back(m.PM_INPUT_OFFSET_EN[w]);
    EXPECT_EQ(shape, (Vals{2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    Vals wantOffsets = {100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
                        100, 100, 200, 200, 0, 0, 0, 0, 400, 0, 200, 0};
    wantOffsets.resize(54, 0);
    EXPECT_EQ(offsets, wantOffsets);
    auto row = [](const s32* v, int n) {
        Vals r;
        r.assign(v, v + n);
        return r;
    };
    auto same = [](int n, long long v) {
        Vals r;
        r.assign(size_t(n), v);
        return r;
    };
    EXPECT_EQ(row(m.PM_INPUT, 6), (Vals{4, 5, 1, 2, 3, 0}));
    EXPECT_EQ(row(m.PM_WIN_NUM, 8), (Vals{0, 0, 1, 1, 2, 3, 4, 5}));
    EXPECT_EQ(row(m.PM_AREA_NUM, 8), (Vals{0, 1, 0, 1, 0, 0, 0, 0}));
    EXPECT_EQ(row(m.PM_OVERLAY, 8), (Vals{0, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(row(m.PM_OVERLAY_PRI, 6), (Vals{1, 0, 2, 3, 4, 5}));
    EXPECT_EQ(row(m.PM_ENH_SW1, 6), (Vals{0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(row(m.PM_ENH_SW2, 6), (Vals{0, 0, 1, 0, 1, 0}));
    EXPECT_EQ(row(m.PM_WIN_FADE_EN, 6), (Vals{0, 1, 1, 1, 0, 1}));
    EXPECT_EQ(row(m.PM_WIN_FADE_IN, 6), same(6, 60));
    EXPECT_EQ(row(m.PM_WIN_FADE_OUT, 6), same(6, 60));
    EXPECT_EQ(row(m.PM_OUT_SW1, 6), (Vals{0, 0, 1, 0, 1, 1}));
    EXPECT_EQ(row(m.PM_OUT_SW2, 6), same(6, 0));
    EXPECT_EQ((Vals{m.PM_OSD_EN, m.PM_OSD_HZOOM_EN, m.PM_OSD_VZOOM_EN, m.PM_OSD_DATA_MODE, m.PM_OSD_SCROLL_MODE,
                    m.PM_MISC_SW1, m.PM_MISC_SW2}),
              (Vals{0, 0, 0, 1, 2, 0, 0}));
    EXPECT_EQ(row(m.PM_OSD_OUTPUT_OFFSET, 4), same(4, 0));
    EXPECT_EQ(row(m.PM_OSD_INPUT_OFFSET, 4), same(4, 0));
    for (int w = 0; w < 6; ++w) EXPECT_EQ(m.PM_WIN_STITCHING[w], w);
}

TEST_F(C331InitTest, LoadParamRaisesFlagsOnlyForValuesThatChanged) {
    // Start from the reset values of a fresh manager.
    for (int w = 0; w < 6; ++w) {
        mgr->PM_WIN_SHAPE[w][0] = mgr->PM_WIN_SHAPE[w][1] = 0;
        mgr->PM_INPUT[w] = 0;
        mgr->g_chg_input[w] = 0;
        for (int i = 0; i < 4; ++i) mgr->PM_WIN_OFFSET[w][i] = mgr->PM_INPUT_OFFSET[w][i] = 0;
        mgr->PM_INPUT_OFFSET_EN[w] = 0;
    }
    mgr->PM_OSD_DATA_MODE = 0;
    mgr->load_param();
    for (int w = 0; w < 6; ++w) EXPECT_EQ(mgr->chg_win[w], 1) << w;  // every shape differs from 0
    // Window 5's port 0 was already 0.
    EXPECT_EQ((Vals{mgr->g_chg_input[5], mgr->g_chg_input[0], mgr->osd_update_req}), (Vals{0, 1, 1}));

    mgr->load_param();
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ((Vals{mgr->chg_win[w], mgr->chg_fade[w], mgr->chg_out[w]}), (Vals{0, 0, 0})) << w;
    EXPECT_EQ((Vals{mgr->chg_overlay, mgr->chg_priority}), (Vals{0, 0}));
}

}  // namespace
