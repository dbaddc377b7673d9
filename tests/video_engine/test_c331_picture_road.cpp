// A test pattern chosen through the parameter image reaches the simulated
// chip by the manager's apply pass, stops the input polling while it is on,
// and goes again when the byte returns to 0.
#include "test_c331_pipe_env.h"

#include <QMutexLocker>

namespace {

class C331PatternRoadTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        ZrvRamPara::p_zrvrampara_config = model.get();
        chip->setImage(nullptr);  // the model's live image
        savedOps = m->ops;
        m->setChipOps(chip.get());
        g_force_bkcolor = 1;
        g_set_led_para = 0;
        plug(2, 1920, 1080, 60);
        m->init_chip();
        m->poll_step();
    }
    void TearDown() override {
        m->setChipOps(savedOps);
        m->thread_state.store(0);
        ZrvRamPara::p_zrvrampara_config = nullptr;
        C331PipeEnv::TearDown();
    }
    // What the test pattern page does: the byte, under the manager's mutex,
    // with the apply flag; then the c331 thread's pass.
    void choosePattern(u8 pattern) {
        {
            QMutexLocker lock(&m->mutex);
            model->live_image.setByte(RamOffset::TEST_PATTERN, pattern);
            m->apply_flag = 1;
        }
        m->apply_pass();
    }
    u8 pat(u8 reg) const { return sim->reg(0x08, reg); }

    std::unique_ptr<ZrvRamPara> model;
    c331_chip_ops* savedOps = nullptr;
};

TEST_F(C331PatternRoadTest, PatternOnAndOffThroughTheImage) {
    // The factory layout: one window over the 1920 x 1080 wall, pipeline 0.
    ASSERT_EQ(m->gMwin.wincnt, 1);
    ASSERT_EQ(m->gWininfo[0].ch[0], 0);

    choosePattern(2);  // green
    EXPECT_EQ(m->pattern_gen, 1);
    EXPECT_EQ(pat(0x57), 4);
    EXPECT_EQ(pat(0x63), 0);
    EXPECT_EQ(pat(0x64), 255);
    EXPECT_EQ(pat(0x65), 0);
    EXPECT_EQ(sim->reg16(0x08, 0x5B), 0);
    EXPECT_EQ(m->apply_flag.load(), 0);

    // While it is shown the inputs are not polled: a source unplugged now
    // changes nothing on the chip.
    plug(2, 0, 0, 0);
    sim->clearLog();
    m->poll_step();
    EXPECT_TRUE(sim->log().empty());

    choosePattern(0);
    EXPECT_EQ(m->pattern_gen, 0);
    for (u8 reg : {0x57, 0x63, 0x64, 0x65, 0x66}) EXPECT_EQ(pat(reg), 0) << int(reg);
}

}  // namespace
