// Window layout: packing of the window records into slots, refused layouts,
// layers, output channels covered, pipelines of overlapping windows, window
// and crop offsets.
#include "test_c331_pipe_env.h"

namespace {

class C331LayoutTest : public C331PipeEnv {};

TEST_F(C331LayoutTest, RecordsPackIntoSlotsAndMapBack) {
    grid(6, 1920, 1080, 4, 1);
    window(1, 2, 0, 0, 1920, 1080);
    window(3, 3, 1920, 0, 1920, 1080);
    layout();
    ASSERT_EQ(m->gMwin.wincnt, 2);
    EXPECT_EQ((Vals{chip->slotOfRecord(0), chip->slotOfRecord(1), chip->slotOfRecord(3), m->slot_record[1]}),
              (Vals{-1, 0, 1, 3}));
    // HDMI1 -> port 1, HDMI2 -> port 0.
    EXPECT_EQ((Vals{m->PM_INPUT[0], m->PM_INPUT[1], m->PM_WIN_NUM[0], m->PM_WIN_NUM[1], m->PM_WIN_NUM[2]}),
              (Vals{1, 0, 0, 1, C331_WIN_NUM}));
}

TEST_F(C331LayoutTest, UnusableLayoutsFallBackToOneFullPanelWindow) {
    grid(5, 1920, 1080, 2, 1);
    struct Case {
        const char* what;
        u16 enable, attr, x, width;
    } cases[] = {{"first enable word with a zero low byte", 0x0100, 0, 0, 1920},
                 {"attribute word 4", 1, 4, 0, 1920},
                 {"wider than the channels", 1, 0, 100, 3840}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(img.data, 0, sizeof img.data);
        WIN_RECORD r{};
        r.enable = c.enable, r.attr = c.attr, r.source = 2, r.x = c.x, r.width = c.width, r.height = 1080;
        img.setWin(0, r);
        window(2, 3, 0, 0, 960, 540);
        layout();
        // No record maps onto the stand-in window.
        const auto& w0 = m->gWininfo[0];
        EXPECT_EQ((Vals{m->gMwin.wincnt, w0.w, w0.h, w0.enable, chip->slotOfRecord(0), chip->slotOfRecord(2)}),
                  (Vals{1, 3840, 1080, 1, -1, -1}));
    }
    std::memset(img.data, 0, sizeof img.data);
    layout();
    EXPECT_EQ((Vals{m->gMwin.wincnt, m->gWininfo[0].x, m->gWininfo[0].totalh}), (Vals{1, 0, 2}));
}

TEST_F(C331LayoutTest, LayersAreMadeDistinct) {
    grid(5, 1920, 1080, 2, 1);
    window(0, 2, 0, 0, 100, 100);
    window(1, 2, 0, 0, 100, 100);
    window(2, 2, 0, 0, 100, 100);
    img.setWord(RamOffset::priority(0), 3);
    img.setWord(RamOffset::priority(1), 3);
    img.setWord(RamOffset::priority(2), 7);  // becomes 1
    layout();
    EXPECT_EQ((Vals{m->gWininfo[0].layer, m->gWininfo[1].layer, m->gWininfo[2].layer, m->PM_OVERLAY_PRI[0],
                    m->PM_OVERLAY_PRI[1]}),
              (Vals{3, 0, 1, 2, 5}));
}

TEST_F(C331LayoutTest, OutputChannelsCoveredByAWindow) {
    // Four channels side by side: a window across the first two.
    grid(6, 1920, 1080, 4, 1);
    window(0, 2, 100, 0, 2000, 1080);
    layout();
    const auto& a = m->gWininfo[0];
    EXPECT_EQ((Vals{a.totalh, a.totalv, a.ch[0], a.ch[1], a.ch[2], chip->zrvApi_OchGetWinOffset1(&a, 0),
                    chip->zrvApi_OchGetWinOffset1(&a, 1)}),
              (Vals{2, 1, 0, 1, 0xFF, 100, 2 * 1920 - 2100}));

    // Two by two: the top row, the whole panel, the right column.
    grid(7, 1920, 1080, 2, 2);
    struct Case {
        u16 x, y, w, h;
        int totalh, totalv;
        std::vector<int> cells;
    } cases[] = {{0, 0, 3840, 1080, 2, 1, {0, 1}},
                 {0, 0, 3840, 2160, 2, 2, {0, 1, 2, 3}},
                 {1920, 0, 1920, 2160, 1, 2, {1, 3}},
                 {2000, 1200, 500, 500, 1, 1, {3}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        std::memset(img.data, 0, sizeof img.data);
        window(0, 2, c.x, c.y, c.w, c.h);
        layout();
        const auto& wi = m->gWininfo[0];
        EXPECT_EQ(wi.totalh, c.totalh);
        EXPECT_EQ(wi.totalv, c.totalv);
        for (size_t k = 0; k < 8; ++k) EXPECT_EQ(wi.ch[k], k < c.cells.size() ? c.cells[k] : 0xFF);
        for (size_t k = 0; k < c.cells.size(); ++k) {
            EXPECT_EQ(m->PM_WIN_NUM[c.cells[k]], 0);
            EXPECT_EQ(m->PM_AREA_NUM[c.cells[k]], int(k));
        }
    }
}

TEST_F(C331LayoutTest, OverlappingWindowsDrawThroughTheirOwnPipelines) {
    grid(5, 1920, 1080, 2, 1);
    window(0, 2, 0, 0, 1920, 1080);
    window(1, 3, 100, 100, 640, 480);
    window(2, 4, 1920, 0, 1920, 1080);
    layout();
    EXPECT_EQ((Vals{m->gWininfo[0].ch[0], m->gWininfo[2].ch[0]}), (Vals{0, 1}));
    // Window 1 shares output channel 0 with window 0: it gets the lowest
    // pipeline nobody names, and both pipelines feed output 0's mixer.
    EXPECT_EQ((Vals{m->gWininfo[1].ch[0], m->gWininfo[1].pos[0], m->PM_OVERLAY[0], m->PM_OVERLAY[2], m->PM_WIN_NUM[2],
                    m->chg_overlay}),
              (Vals{2, 0, 1, 1, 1, 1}));
    // The pipeline enable bits follow the owners.
    EXPECT_EQ((Vals{reg8(0x00, 0x08) & 1, reg8(0x00, 0x0A) & 1, reg8(0x00, 0x0B) & 1}), (Vals{1, 1, 0}));
}

TEST_F(C331LayoutTest, AWindowWithoutAFreePipelineIsLeftUndrawn) {
    // Eight channels side by side, every one taken by window 0: window 1 on
    // top of it finds no pipeline and must not share one.
    grid(0, 480, 1080, 8, 1);
    window(0, 2, 0, 0, 3840, 1080);
    window(1, 3, 0, 0, 480, 1080);
    layout();
    EXPECT_EQ((Vals{m->gWininfo[0].totalh, m->gWininfo[1].totalh, m->gWininfo[1].ch[0]}), (Vals{8, 0, 0xFF}));
    for (int c = 0; c < 8; ++c) EXPECT_EQ(m->PM_WIN_NUM[c], 0);
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("no free pipeline for window 1"), std::string::npos);
}

TEST_F(C331LayoutTest, ARebuiltLayoutTakesItsInputChannelsAfresh) {
    // Six windows needing all eight input channels; then the first two
    // records swap their inputs, so slot 0 needs a pair where it held one
    // channel and slot 1 the other way round.
    grid(0, 480, 1080, 8, 1);
    for (int i = 0; i < 6; ++i) plug(i, 1280, 720, 60);
    const int before[6] = {2, 4, 5, 0, 1, 3}, after[6] = {4, 2, 5, 0, 1, 3};
    for (const int* inputs : {before, after}) {
        for (int w = 0; w < 6; ++w) window(w, u16(inputs[w]), u16(w * 480), 0, 480, 1080);
        layout();
        poll();
        int taken = 0;
        for (int w = 0; w < 6; ++w) {
            EXPECT_EQ(chip->ichCount(w), inputs[w] >= 4 ? 2 : 1) << w;
            taken += chip->ichCount(w);
        }
        EXPECT_EQ(taken, 8);
    }
}

TEST_F(C331LayoutTest, CropOffsetsFollowTheMeasuredPicture) {
    m->PI_ACT[1][1] = 1920, m->PI_ACT[1][3] = 1080;
    m->PI_ACT[4][1] = 960, m->PI_ACT[4][3] = 1080, m->PI_STATE[4] = 1;
    const ST_RECT r{100, 50, 800, 600}, wide{1000, 0, 1200, 100};
    // Left, right, top, bottom; a negative offset is 0; no signal on port 2
    // and no port 6: 0; Vby-One two pixels per clock: twice the width.
    EXPECT_EQ((Vals{chip->zrvApi_CropGetOffset(1, &r, 0), chip->zrvApi_CropGetOffset(1, &r, 1),
                    chip->zrvApi_CropGetOffset(1, &r, 2), chip->zrvApi_CropGetOffset(1, &r, 3),
                    chip->zrvApi_CropGetOffset(1, &wide, 1), chip->zrvApi_CropGetOffset(2, &r, 0),
                    chip->zrvApi_CropGetOffset(4, &r, 1), chip->zrvApi_CropGetOffset(6, &r, 0)}),
              (Vals{100, 1020, 50, 430, 0, 0, 1020, 0}));
}

TEST_F(C331LayoutTest, ForcedColourEndsWithTheFillOfPortsWithoutSignal) {
    grid(5, 1920, 1080, 2, 1);
    window(0, 2, 0, 0, 1920, 1080);
    window(1, 3, 1920, 0, 1920, 1080);
    layout();
    m->PI_PORT_INFO[1][c331_state::PI_NOSIG] = 0;
    m->PI_PORT_INFO[0][c331_state::PI_NOSIG] = 1;
    g_force_bkcolor = 0;
    chip->zrvApi_forceColorDisable(m->c331_fd);
    EXPECT_EQ(g_force_bkcolor.load(), 2);
    for (int l = 0; l < 8; ++l) EXPECT_EQ(reg32(0x08, 0x49, 16 * l) & 0xFFFFFF, 0u);
    EXPECT_EQ((Vals{reg8(0x08, 0x48, 0), reg8(0x08, 0x48, 16)}), (Vals{0, 1}));
    g_force_bkcolor = 1;
}

}  // namespace
