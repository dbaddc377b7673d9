// The whole road on the simulated board: a 1920 x 1080 60 Hz source on
// HDMI1, the chip brought up by the manager from the factory image, then
// changes applied through the change protocol and read back from the chip's
// registers: a second window on a crop of that source.
#include "test_c331_pipe_env.h"

#include <QMutexLocker>

namespace {

class C331RoadTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        chip->setImage(nullptr);  // the model's live image
        g_force_bkcolor = 1;
        g_set_led_para = 0;
    }
    void TearDown() override {
        leaveManagerEmpty(live());
        C331PipeEnv::TearDown();
    }
    PARA_RAM_IMAGE& live() { return model->live_image; }
    // A writer's change: under the manager's mutex, with the apply flag.
    template <typename F>
    void change(F edit) {
        {
            QMutexLocker lock(&m->mutex);
            edit(live());
            m->apply_flag = 1;
        }
        m->apply_pass();
    }
    // Output position and size of pipeline n.
    Vals placed(int n) {
        return {reg16(0x08, 0x40, 16 * n) - m->PS_ACTHST, reg16(0x08, 0x42, 16 * n),
                reg16(0x08, 0x44, 16 * n) - m->PS_ACTVST, reg16(0x08, 0x46, 16 * n)};
    }
    // HDMI1 plugged, the chip brought up and the inputs polled once.
    void start() {
        plug(2, 1920, 1080, 60);
        m->init_chip();
        ASSERT_EQ(m->thread_state.load(), 6);
        m->poll_step();
    }

    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
};

TEST_F(C331RoadTest, HdmiOneFullScreenAndACropOfItOnTop) {
    ASSERT_NO_FATAL_FAILURE(start());

    // Factory image: window 0 on HDMI1 over the whole 1920 x 1080 wall;
    // input channel 0 takes port 1.
    ASSERT_EQ(m->gMwin.wincnt, 1);
    EXPECT_EQ((Vals{m->PM_INPUT[0], m->PI_STATE[1], m->IWIN[0].HW, m->OWIN[0].HW, m->OWIN[0].VW, reg8(0x00, 0x10)}),
              (Vals{1, 4, 1920, 1920, 1080, 2}));
    EXPECT_EQ(placed(0), (Vals{0, 1920, 0, 1080}));
    EXPECT_EQ(reg32(0x16, 0x08, 0), 0u);  // input channel 0's first field buffer

    // Window 1: the bottom-right quarter of HDMI1 at the same place, above
    // window 0 and giving the sound.
    source_handover::take_audio_changed();
    change([](PARA_RAM_IMAGE& img) {
        img.setCrop(0, CROP_RECORD{u16(0x8000 | 2), 960, 540, 960, 540});
        WIN_RECORD w = img.win(1);
        w.enable = 1, w.source = 0x8000, w.x = 960, w.y = 540, w.width = 960, w.height = 540, w.audio = 0x8000;
        img.setWin(1, w);
        img.setWord(RamOffset::priority(0), 1);
        img.setWord(RamOffset::priority(1), 0);
        img.setWord(RamOffset::AUDIO_WINDOW, 1);
    });
    EXPECT_TRUE(source_handover::take_audio_changed());
    ASSERT_EQ(m->gMwin.wincnt, 2);
    // Both on output channel 0; window 1 through its own pipeline 1, on top
    // of pipeline 0; input channel 1 takes port 1 too; no zoom.
    EXPECT_EQ((Vals{m->gWininfo[1].ch[0], m->PM_OVERLAY[1], reg32(0x0E, 0x09, 0), reg8(0x00, 0x11), reg8(0x0A, 0x46, 16)}),
              (Vals{1, 1, 0x98, 2, 0x47}));
    EXPECT_EQ(placed(1), (Vals{960, 960, 540, 540}));
    // Reads the crop from input channel 1's first field buffer (0x2000): 960
    // pixels (3072 memory units) and 540 lines in.
    EXPECT_EQ(reg32(0x16, 0x08, 16), 0x2000u + 3072u + 540u * 64u * 1024u);
    // Window 0 is unchanged.
    EXPECT_EQ(placed(0), (Vals{0, 1920, 0, 1080}));
    EXPECT_EQ(reg8(0x00, 0x10), 2);

    // The crop rectangle is edited: window 1 follows at the next pass.
    change([](PARA_RAM_IMAGE& img) { img.setCrop(0, CROP_RECORD{u16(0x8000 | 2), 0, 0, 960, 540}); });
    EXPECT_EQ((Vals{m->IWIN[1].HST, reg32(0x16, 0x08, 16)}), (Vals{0, 0x2000}));

    // A source word naming no crop record leaves window 1 as it is.
    change([](PARA_RAM_IMAGE& img) { img.setWord(RamOffset::win(1) + RamOffset::WIN_SOURCE, 0x8028); });
    EXPECT_EQ((Vals{m->gWininfo[1].crop, m->PM_INPUT[1], reg32(0x16, 0x08, 16)}), (Vals{0, 1, 0x2000}));

    // The source is unplugged: both windows show the background.
    board().scenario().unplug(2);
    m->poll_step();
    EXPECT_EQ((Vals{m->PI_STATE[1], reg8(0x08, 0x48, 0), reg8(0x08, 0x48, 16)}), (Vals{0, 1, 1}));
}

}  // namespace
