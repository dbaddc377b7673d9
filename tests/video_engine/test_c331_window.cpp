// Single-window operations as the apply pass calls them (window = record):
// sources and crops, refused crops, crop edits, output bits, dot-by-dot
// mode, priorities, and the reprogramming after a panel change.
#include "test_c331_pipe_env.h"

namespace {

class C331WindowTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        grid(5, 1920, 1080, 2, 1);
        plug(2, 1920, 1080, 60);  // HDMI1, port 1
        plug(3, 1280, 720, 60);   // HDMI2, port 0
        crop(4, 2, 960, 540, 960, 540);
        // Record 0 disabled: records 1 and 2 are slots 0 and 1.
        window(1, 3, 0, 0, 1920, 1080);
        window(2, 3, 1920, 0, 1920, 1080);
        layout();
        poll();
        chip->outputs = 0;
    }
};

TEST_F(C331WindowTest, ACropSourceReachesTheRightWindowWithOneReprogramming) {
    // Record 2 switches to crop record 4, as the apply pass asks.
    chip->c331_SetWinSource(2, 0x8004, 3);
    // Slot 1 now on HDMI1's port, slot 0 untouched.
    EXPECT_EQ((Vals{chip->outputs, m->PM_INPUT[1], m->PM_INPUT[0], m->gWininfo[1].crop, m->PM_INPUT_OFFSET_EN[1]}),
              (Vals{1, 1, 0, 4, 1}));
    const int* off = m->PM_INPUT_OFFSET[1];
    EXPECT_EQ((Vals{off[0], off[1], off[2], off[3], m->IWIN[1].HST, m->IWIN[1].HW, m->IWIN[1].VW}),
              (Vals{960, 0, 540, 0, 960, 960, 540}));

    // Back to a plain input: crop off before the input.
    chip->outputs = 0;
    chip->c331_SetWinSource(2, 3, 0x8004);
    EXPECT_EQ((Vals{chip->outputs, m->PM_INPUT_OFFSET_EN[1], m->PM_INPUT[1], m->IWIN[1].HW}), (Vals{1, 0, 0, 1280}));
}

TEST_F(C331WindowTest, RefusedCropsLeaveTheWindowAlone) {
    crop(5, 2, 0, 0, 100, 100, false);  // not in use
    crop(6, 9, 0, 0, 100, 100);         // input out of range
    struct Case {
        const char* what;
        int word;
    } cases[] = {{"index 40", 0x8028}, {"free record", 0x8005}, {"input 9", 0x8006}};
    // A PC that repeats one refusal at every pass spends that refusal's
    // lines only: the next refusal's line comes whole.
    for (int i = 0; i < 20; ++i) chip->c331_SetWinSource(2, 0x8028, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        chip->outputs = 0;
        chip->c331_SetWinSource(2, c.word, 3);
        EXPECT_EQ((Vals{chip->outputs, m->PM_INPUT[1], m->gWininfo[1].input, m->PM_INPUT_OFFSET_EN[1]}),
                  (Vals{0, 0, 3, 0}));
    }
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("crop record 5 is not in use"), std::string::npos);
    // A record that is not shown changes nothing.
    chip->outputs = 0;
    chip->c331_SetWinSource(0, 2, 3);
    chip->c331_SetInputsource(4, 2);
    EXPECT_EQ(chip->outputs, 0);
}

TEST_F(C331WindowTest, ACropIdIsReadOneWayEverywhere) {
    // Valid bit, crop number 1, input byte 0x12: no input. Masked to three
    // or four bits it would pass for input 2.
    crop(8, 0x12, 0, 0, 640, 360);
    chip->c331_SetWinSource(2, 3 | 0x8000 | 8, 3);
    EXPECT_EQ((Vals{chip->outputs, m->gWininfo[1].input, m->PM_INPUT_OFFSET_EN[1]}), (Vals{0, 3, 0}));

    // A window showing a good crop whose record is rewritten with that id
    // keeps its picture, and later passes neither retry nor log it again.
    chip->c331_SetWinSource(2, 0x8004, 3);
    img.setWord(RamOffset::crop(4), 0x8012);
    chip->outputs = 0;
    const auto logLines = [&] { return countIn(readHostFile(hostPath(kLogFile)), "names input 18"); };
    EXPECT_EQ((Vals{chip->applyCropEdits(), chip->applyCropEdits(), chip->outputs, m->gWininfo[1].input, logLines()}),
              (Vals{0, 0, 0, 2, 1}));

    // The layout refuses it like an input out of range: one full-panel window.
    img.setWord(RamOffset::win(2) + RamOffset::WIN_SOURCE, 0x8004);
    layout();
    EXPECT_EQ((Vals{m->gMwin.wincnt, m->slot_record[0]}), (Vals{1, -1}));
}

TEST_F(C331WindowTest, EditedCropRectanglesAreApplied) {
    chip->c331_SetWinSource(2, 0x8004, 3);
    ASSERT_EQ(m->IWIN[1].HST, 960);
    chip->outputs = 0;
    EXPECT_EQ((Vals{chip->applyCropEdits(), chip->outputs}), (Vals{0, 0}));

    crop(4, 2, 100, 200, 640, 480);
    EXPECT_EQ((Vals{chip->applyCropEdits(), chip->outputs, m->IWIN[1].HST, m->IWIN[1].HW, m->IWIN[1].VST, m->IWIN[1].VW,
                    chip->applyCropEdits()}),
              (Vals{1, 1, 100, 640, 200, 480, 0}));

    // An edit of a crop nobody shows reprograms nothing; a deleted crop
    // leaves its window as it is.
    crop(7, 2, 0, 0, 10, 10);
    crop(4, 2, 0, 0, 10, 10, false);
    chip->outputs = 0;
    EXPECT_EQ((Vals{chip->applyCropEdits(), chip->outputs}), (Vals{0, 0}));

    // The record is reused for a crop of another input: the window follows.
    crop(4, 3, 0, 0, 640, 360);
    EXPECT_EQ((Vals{chip->applyCropEdits(), chip->outputs, m->gWininfo[1].input, m->PM_INPUT[1], m->IWIN[1].HW}),
              (Vals{1, 1, 3, 0, 640}));

    // A rebuilt layout starts from the table as it is.
    crop(4, 2, 0, 0, 960, 540);
    img.setWord(RamOffset::win(2) + RamOffset::WIN_SOURCE, 0x8004);
    layout();
    EXPECT_EQ(chip->applyCropEdits(), 0);
}

TEST_F(C331WindowTest, OutputBits) {
    const int k = chip->firstIch(1);
    ASSERT_GE(k, 0);
    // Black and freeze together, with fade and dot-by-dot asked as well: the
    // window goes black and is held; fade and dot-by-dot wait, nothing is
    // reprogrammed.
    chip->c331_SetWinOutput(m->c331_fd, 2, 0x0107);
    EXPECT_EQ((Vals{m->gWininfo[1].output, reg8(0x08, 0x48, 16), reg8(0x10, 0x09, 16 * k), m->PM_WIN_FADE_EN[1],
                    m->PM_WIN_DBD_MODE[1], chip->outputs}),
              (Vals{3, 1, 2, 0, 0, 0}));

    // Black off, the same word otherwise: now the rest is applied, and the
    // window stays frozen after its reprogramming.
    chip->c331_SetWinOutput(m->c331_fd, 2, 0x0106);
    EXPECT_EQ((Vals{m->gWininfo[1].output, m->PM_WIN_FADE_EN[1], m->PM_WIN_DBD_MODE[1], chip->outputs,
                    reg8(0x10, 0x09, 16 * chip->firstIch(1))}),
              (Vals{2, 1, 1, 1, 2}));

    // Black on with the other bits as they are: the window's layer shows the
    // background and dot-by-dot goes off.
    chip->c331_SetWinOutput(m->c331_fd, 2, 0x0003);
    EXPECT_EQ((Vals{m->gWininfo[1].output, reg8(0x08, 0x48, 16), m->PM_WIN_DBD_MODE[1]}), (Vals{3, 1, 0}));

    // Freeze on a port without signal: the bit stays clear, the rest applies.
    board().scenario().unplug(3);
    chip->load_hdmi();
    chip->check_input_port(m->c331_fd);
    chip->c331_SetWinOutput(m->c331_fd, 1, 0x0006);
    EXPECT_EQ((Vals{m->gWininfo[0].output & 2, m->PM_WIN_FADE_EN[0]}), (Vals{0, 1}));

    // A frozen window whose source goes away is released when asked, and
    // stays released when the source comes back.
    plug(3, 1280, 720, 60);
    poll();
    chip->c331_SetWinOutput(m->c331_fd, 2, 0x0002);
    ASSERT_EQ(m->gWininfo[1].output & 2, 2);
    board().scenario().unplug(3);
    poll();
    chip->c331_SetWinOutput(m->c331_fd, 2, 0x0000);
    EXPECT_EQ(m->gWininfo[1].output & 2, 0);
    plug(3, 1280, 720, 60);
    poll();
    const int k1 = chip->firstIch(1);
    ASSERT_GE(k1, 0);
    EXPECT_EQ(reg8(0x10, 0x09, 16 * k1), 1);
}

TEST_F(C331WindowTest, DotByDotModeOnlyWhereTheOutputWordAllowsIt) {
    plug(0, 1280, 720, 60);  // EXT, port 3
    poll();
    const int och = m->gWininfo[1].ch[0];
    ASSERT_EQ(reg8(0x0A, 0x46, 16 * och), 199);  // 1280 x 720 enlarged to the window
    img.setWord(RamOffset::win(2) + RamOffset::WIN_DBD_MODE, 0);
    chip->c331_SetWinDbdMode(m->c331_fd, 2, 0);
    EXPECT_EQ((Vals{m->PM_WIN_DBD_MODE[1], chip->outputs}), (Vals{0, 0}));
    // With dot-by-dot off the mode is not taken as the window's code: were
    // it, the next source change would lay the window out pixel for pixel
    // although the output word has dot-by-dot off.
    chip->c331_SetWinSource(2, 0, 3);
    EXPECT_EQ((Vals{m->PM_WIN_DBD_MODE[1], chip->outputs, m->PM_INPUT[1], reg8(0x0A, 0x46, 16 * och)}),
              (Vals{0, 1, 3, 199}));
    chip->outputs = 0;

    img.setWord(RamOffset::win(2) + RamOffset::WIN_OUTPUT, 0x100);
    chip->c331_SetWinDbdMode(m->c331_fd, 2, 8);
    EXPECT_EQ((Vals{m->PM_WIN_DBD_MODE[1], chip->outputs}), (Vals{50, 1}));
    chip->c331_SetWinDbdMode(m->c331_fd, 2, 12);
    EXPECT_EQ(m->PM_WIN_DBD_MODE[1], 1);
}

TEST_F(C331WindowTest, InputsAndPriorities) {
    chip->c331_SetInputsource(1, 8);  // taken modulo 6: HDMI1
    EXPECT_EQ((Vals{m->gWininfo[0].input, m->PM_INPUT[0], chip->outputs}), (Vals{2, 1, 1}));

    chip->c331_SetWinPriority(2, 0);
    chip->c331_SetWinPriority(1, 1);
    chip->c331_SetWinPriority1(m->c331_fd);
    EXPECT_EQ((Vals{m->PM_OVERLAY_PRI[0], m->PM_OVERLAY_PRI[1], m->PM_OVERLAY_PRI[2]}), (Vals{4, 5, 0}));
    chip->c331_SetWinPriority(2, 9);
    EXPECT_EQ(m->gWininfo[1].layer, 3);

    chip->c331_SetWinAttr(2, 3);
    EXPECT_EQ((Vals{m->attr_hflip[1], m->attr_vflip[1], reg8(0x08, 0x22, 16 * m->gWininfo[1].ch[0])}), (Vals{1, 1, 1}));
}

TEST_F(C331WindowTest, APanelChangeReprogramsThePicturePath) {
    m->thread_state.store(6);
    chip->zrvApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    EXPECT_EQ(chip->outputs, 1);
    // While the chip is being brought up, its start-up does it.
    m->thread_state.store(5);
    chip->zrvApi_PnlInit2(1920, 1080, 1920, 1080, 0);
    EXPECT_EQ(chip->outputs, 1);
    m->thread_state.store(0);
}

}  // namespace
