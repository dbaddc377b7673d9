// The rules that split the LED wall over OUT1 and OUT2, without widgets:
// the selector, the OUT1 entries with their limits, and what apply writes.
#include "fpga_panel_double.h"
#include "support/test_env.h"

#include "core/utils.h"
#include "core/zrvrampara.h"
#include "ui/settings/splice_rules.h"
#include "ui/shell/fpga_panel.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

using namespace SpliceRules;

namespace {

Vals shown(const Fields& f) {
    return Vals{f.wallWidth, f.out1Width, f.out1Height, f.out2Width, f.out2Height, f.mode};
}

Fields wall(int w, int h, int mode = Copy) {
    Fields f;
    f.wallWidth = w;
    f.wallHeight = h;
    f.out1Width = f.out2Width = w;
    f.out1Height = f.out2Height = h;
    f.mode = mode;
    return f;
}

}  // namespace

TEST(SpliceRules, SelectorFillsTheOutputsOfEachMode) {
    struct Case {
        int w, h, item;
        Vals want;  // wall width, OUT1 w h, OUT2 w h, mode
    };
    const Case cases[] = {
        {1920, 1080, ItemHorizontal, {1920, 960, 1080, 960, 1080, 3}},
        {1921, 1080, ItemHorizontal, {1921, 968, 1080, 953, 1080, 3}},
        {1920, 1080, ItemVertical, {1920, 1920, 542, 1920, 538, 2}},
        {1920, 1081, ItemVertical, {1920, 1920, 540, 1920, 541, 2}},
        {1920, 1080, ItemCopy, {1920, 1920, 1080, 1920, 1080, 4}},
        // Copy keeps the wall within one output's width.
        {10000, 1080, ItemCopy, {8188, 8188, 1080, 8188, 1080, 4}},
        // Horizontal rounds to 8 whatever the width.
        {10000, 1080, ItemHorizontal, {10000, 5000, 1080, 5000, 1080, 3}},
        {10002, 1080, ItemHorizontal, {10002, 5008, 1080, 4994, 1080, 3}},
        // Tiny walls: OUT2 keeps a pixel.
        {6, 1080, ItemHorizontal, {6, 5, 1080, 1, 1080, 3}},
        {1920, 2, ItemVertical, {1920, 1920, 1, 1920, 1, 2}},
    };
    for (const Case& c : cases) {
        Fields f = wall(c.w, c.h);
        selected(f, c.item);
        EXPECT_EQ(shown(f), c.want) << c.w << "x" << c.h << " item " << c.item;
    }
    // The refill of the list passes -1: nothing moves.
    Fields f = wall(1920, 1080, Horizontal);
    f.out1Width = 1000;
    selected(f, -1);
    EXPECT_EQ(shown(f), (Vals{1920, 1000, 1080, 1920, 1080, 3}));
}

TEST(SpliceRules, Out1WidthEntriesAreLimitedAndDriveOut2) {
    struct Case {
        int w, mode, value;
        Vals want;  // OUT1 width, OUT2 width, mode
    };
    const Case cases[] = {
        {1920, Horizontal, 1000, {1000, 920, 3}},
        {1920, Copy, 1000, {1000, 1000, 4}},
        // Above 8188 on a wide wall: 8192, OUT2 the rest of the wall
        // (12010 - 8192, what apply stores).
        {12010, Horizontal, 9000, {8192, 3818, 3}},
        {12288, Horizontal, 9000, {8192, 4096, 3}},
        // ... which splits side by side without the selector.
        {12010, Vertical, 9000, {8192, 3818, 3}},
        {12010, Copy, 9000, {8192, 3818, 3}},
        // Wider than 8188: rounded to 32, for both outputs when not split
        // side by side.
        {9000, Vertical, 4500, {4512, 4512, 2}},
        {12010, Horizontal, 4500, {4512, 7498, 3}},
        // Limits: above 8188 on a narrower wall, at or beyond the wall, 0.
        {1920, Vertical, 9000, {1919, 1, 3}},
        {8188, Horizontal, 8189, {8187, 1, 3}},
        {1920, Horizontal, 1920, {1919, 1, 3}},
        {1920, Horizontal, 0, {1, 1919, 3}},
        {1920, Copy, 0, {1, 1, 4}},
        {12010, Copy, 0, {32, 32, 4}},
    };
    for (const Case& c : cases) {
        Fields f = wall(c.w, 1080, c.mode);
        out1WidthEntered(f, c.value);
        EXPECT_EQ((Vals{f.out1Width, f.out2Width, f.mode}), c.want) << c.w << " mode " << c.mode << " " << c.value;
        EXPECT_EQ((Vals{f.wallWidth, f.out1Height, f.out2Height}), (Vals{c.w, 1080, 1080}));
    }
}

TEST(SpliceRules, Out1HeightEntriesAreLimitedAndDriveOut2) {
    struct Case {
        int h, mode, value;
        Vals want;  // OUT1 height, OUT2 height
    };
    const Case cases[] = {
        {1080, Vertical, 600, {600, 480}},
        {1080, Horizontal, 600, {600, 600}},
        {1080, Copy, 9000, {8188, 8188}},
        {1080, Vertical, 1080, {1079, 1}},
        {1080, Vertical, 9000, {1079, 1}},
        {1080, Vertical, 0, {1, 1079}},
        {1080, Horizontal, 0, {1, 1}},
    };
    for (const Case& c : cases) {
        Fields f = wall(1920, c.h, c.mode);
        out1HeightEntered(f, c.value);
        EXPECT_EQ((Vals{f.out1Height, f.out2Height}), c.want) << c.h << " mode " << c.mode << " " << c.value;
        EXPECT_EQ((Vals{f.out1Width, f.out2Width, f.mode}), (Vals{1920, 1920, c.mode}));
    }
}

TEST(SpliceRules, StoredWordsShowAsTheirModes) {
    EXPECT_EQ((Vals{modeOfWord(2), modeOfWord(3), modeOfWord(4), modeOfWord(5), modeOfWord(0)}),
              (Vals{2, 3, 4, 4, 4}));
    EXPECT_EQ((Vals{itemOfMode(3), itemOfMode(2), itemOfMode(4)}), (Vals{0, 1, 2}));
    EXPECT_EQ((Vals{half(1920), half(1921), up8(961), up8(960), up32(4500), up32(4512)}),
              (Vals{960, 962, 968, 960, 4512, 4512}));
}

namespace {

class SpliceApply : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        FpgaPanel::setBackend(&panel);
        c331_manage::get()->apply_flag = 0;
        layWindows();
    }
    // Six windows on, each somewhere of its own, in both images.
    void layWindows() {
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image})
            for (u32 w = 0; w < RamOffset::WIN_COUNT; ++w) {
                img->setWord(RamOffset::win(w) + RamOffset::WIN_ENABLE, 1);
                img->setWord(RamOffset::win(w) + RamOffset::WIN_X, u16(100 + w));
                img->setWord(RamOffset::win(w) + RamOffset::WIN_WIDTH, 640);
            }
    }
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        c331_manage::get()->apply_flag = 0;
        install.reset();
        model.reset();
        SimEnv::TearDown();
    }
    Vals words() const {
        Vals v;
        v.push_back(model->live_image.word(RamOffset::SPLICE_MODE));
        for (u32 off = RamOffset::OUT1_WIDTH; off <= RamOffset::OUT2_HEIGHT; off += 2)
            v.push_back(model->live_image.word(off));
        return v;
    }
    Vals windows() const {
        Vals v;
        const PARA_RAM_IMAGE& img = model->live_image;
        for (u32 off : {RamOffset::WIN_ENABLE, RamOffset::WIN_X, RamOffset::WIN_Y, RamOffset::WIN_WIDTH,
                        RamOffset::WIN_HEIGHT})
            v.push_back(img.word(RamOffset::win(0) + off));
        for (u32 w = 1; w < RamOffset::WIN_COUNT; ++w) v.push_back(img.word(RamOffset::win(w) + RamOffset::WIN_ENABLE));
        return v;
    }

    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    RecordingPanel panel;
};

}  // namespace

TEST_F(SpliceApply, EachModeWritesItsWordsAndANewWallResetsTheWindows) {
    struct Case {
        Fields fields;
        Vals want;  // 1376, 1412 ... 1422
    };
    Fields horizontal = wall(1920, 1080, Horizontal);
    selected(horizontal, ItemHorizontal);
    Fields vertical = wall(1920, 1080);
    selected(vertical, ItemVertical);
    const Case cases[] = {
        {horizontal, {3, 960, 1080, 960, 0, 960, 1080}},
        {vertical, {2, 1920, 542, 0, 542, 1920, 538}},
        // Copy reads no output field.
        {Fields{1920, 1080, 7, 7, 7, 7, Copy}, {4, 1920, 1080, 0, 0, 1920, 1080}},
    };
    for (const Case& c : cases) {
        model->shadow_image = model->live_image;
        layWindows();
        panel.requests = 0;
        const bool changed = apply(c.fields);
        EXPECT_EQ(words(), c.want) << c.want[0];
        EXPECT_EQ((Vals{model->live_image.word(RamOffset::WALL_WIDTH), model->live_image.word(RamOffset::WALL_HEIGHT),
                        c331_manage::get()->apply_flag.load()}),
                  (Vals{1920, 1080, 1}));
        // Horizontal and vertical change the mode of the one before.
        EXPECT_TRUE(changed);
        EXPECT_EQ(windows(), (Vals{1, 0, 0, 1920, 1080, 0, 0, 0, 0, 0})) << c.want[0];
        EXPECT_EQ(panel.requests, 1);
    }
    EXPECT_EQ(panel.requestsUnlocked, 0);
}

TEST_F(SpliceApply, UnchangedWallKeepsTheWindowsAndRaisesNoRequest) {
    const Vals before = windows();
    // OUT1 narrower within the same horizontal wall: the words change, the
    // wall does not.
    for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) img->setWord(RamOffset::SPLICE_MODE, 3);
    Fields f = wall(1920, 1080, Horizontal);
    out1WidthEntered(f, 1000);
    EXPECT_FALSE(apply(f));
    EXPECT_EQ(words(), (Vals{3, 1000, 1080, 1000, 0, 920, 1080}));
    EXPECT_EQ(windows(), before);
    EXPECT_EQ(panel.requests, 0);
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 1);

    // A wall height of its own: reset and request, whatever the FPGAs answer.
    panel.running = false;
    f.wallHeight = 1200;
    EXPECT_TRUE(apply(f));
    EXPECT_EQ(windows(), (Vals{1, 0, 0, 1920, 1200, 0, 0, 0, 0, 0}));
    EXPECT_EQ((Vals{panel.requests, panel.requestsUnlocked}), (Vals{1, 0}));
}

TEST_F(SpliceApply, CopyOnAWallWiderThanOneOutputStoresTheHeldWall) {
    Fields f = wall(10000, 1080, Horizontal);
    selected(f, ItemCopy);
    EXPECT_TRUE(apply(f));
    EXPECT_EQ(model->live_image.word(RamOffset::WALL_WIDTH), 8188);
    EXPECT_EQ(words(), (Vals{4, 8188, 1080, 0, 0, 8188, 1080}));
}

TEST_F(SpliceApply, FieldsOutsideTheWallAreHeldBeforeTheyAreStored) {
    // Fields loaded from an image the page did not write: OUT1 wider than
    // the wall would have stored a negative OUT2 width.
    Fields f = wall(1920, 1080, Horizontal);
    f.out1Width = 3000;
    apply(f);
    EXPECT_EQ(words(), (Vals{3, 1919, 1080, 1919, 0, 1, 1080}));
    Fields v = wall(1920, 1080, Vertical);
    v.out1Height = 0;
    v.out2Height = 500;
    apply(v);
    EXPECT_EQ(words(), (Vals{2, 1920, 1, 0, 1, 1920, 1079}));
    // A vertical OUT2 height is stored as its field holds it.
    v.out1Height = 600;
    v.out2Height = 470;
    apply(v);
    EXPECT_EQ(words(), (Vals{2, 1920, 600, 0, 600, 1920, 470}));
}
