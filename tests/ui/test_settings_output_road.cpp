// The output page on the simulated board with both FPGAs running: a
// horizontal split applied on the page reaches the image, its file and the
// windows, and the FPGA thread carries the LED re-initialisation through.
#include "fpga/fpga_env.h"
#include "support/quiet_c331_ops.h"
#include "image_file.h"

#include "ui/settings/outputset.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/syncupdate.h"

#include <QComboBox>
#include <QPushButton>

namespace {

using namespace RamOffset;

class OutputRoadTest : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        chip = std::make_unique<QuietC331Manager>();
        c = chip->c;
        PageRegistry::reset();
    }
    void TearDown() override {
        delete g_outputset.data();
        PageRegistry::reset();
        chip.reset();
        FpgaEnv::TearDown();
    }

    std::unique_ptr<QuietC331Manager> chip;
    c331_manage* c = nullptr;
};

}  // namespace

TEST_F(OutputRoadTest, HorizontalSplitReachesTheImageTheWindowsAndTheLedOutputs) {
    ASSERT_TRUE(bringUpBoth());
    for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image})
        img->setWord(win(2) + WIN_ENABLE, 1);

    auto* page = new OutputSet();
    g_outputset = page;
    page->findChild<QComboBox*>("comboBox")->setCurrentIndex(0);
    page->findChild<QPushButton*>("Button_apply1")->click();

    Vals stored;
    for (u32 off : {SPLICE_MODE, OUT1_WIDTH, OUT1_HEIGHT, OUT2_X, OUT2_Y, OUT2_WIDTH, OUT2_HEIGHT})
        stored.push_back(model->live_image.word(off));
    EXPECT_EQ(stored, (Vals{3, 960, 1080, 960, 0, 960, 1080}));
    EXPECT_EQ((Vals{model->live_image.word(win(0) + WIN_WIDTH), model->live_image.word(win(0) + WIN_HEIGHT),
                    model->live_image.word(win(2) + WIN_ENABLE)}),
              (Vals{1920, 1080, 0}));
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load(), c->apply_flag.load()}), (Vals{1, 0, 1}));

    // The FPGA thread blacks out, switches the outputs off and ends the
    // request within its own steps (11 and 31 ticks apart).
    EXPECT_TRUE(runUntil([] { return g_set_led_para.load() == 0; }, 60));
    // The c331 sets the panel up for the new split and hands over: both
    // FPGAs restart and run again.
    c->raise_apply(1);
    c->apply_pass();
    EXPECT_EQ(g_set_led_para.load(), 2);
    tick();
    EXPECT_EQ((Vals{g_set_led_para.load(), fpga[0]->inReset(), fpga[1]->inReset()}), (Vals{0, 1, 1}));
    EXPECT_TRUE(runUntil([this] { return m->get_fpga_status(); }, 3000));

    // The change signal: the page reloads, the image goes to its file.
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(persistedWords(SPLICE_MODE, 1), (Vals{3}));
    EXPECT_EQ(persistedWords(OUT1_WIDTH, 6), (Vals{960, 1080, 960, 0, 960, 1080}));
}
