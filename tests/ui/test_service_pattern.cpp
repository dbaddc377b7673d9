// The test pattern page: the pattern byte written through the change
// protocol, the marked picture, Close and back, the touch areas and texts;
// and the whole road to the simulated c331's pattern generator.
#include "service_fixture.h"
#include "video_engine/test_c331_pipe_env.h"

#include <QTest>

namespace {

constexpr const char* kPlain = "border:1px solid rgb(255, 255, 255);";
constexpr const char* kMarked = "border:5px solid rgb(255,171,84);";

class PatternPageTest : public ServiceTest {
protected:
    // Touch at a point of the page's frame, where the operator's finger is.
    void touchFrame(test_chart* page, QPoint at) {
        auto* frame = child<QFrame>(page, "frame");
        QWidget* hit = frame->childAt(at);
        if (auto* b = qobject_cast<QPushButton*>(hit)) QTest::mouseClick(b, Qt::LeftButton, {}, b->mapFrom(frame, at));
    }
    // The apply flag and the byte as one value, and the flag cleared.
    std::pair<int, int> taken() {
        const std::pair<int, int> r{c331_manage::get()->apply_flag.load(), patternByte()};
        c331_manage::get()->apply_flag = 0;
        return r;
    }
};

TEST_F(PatternPageTest, ChoosingMarkingAndClosing) {
    test_chart* page = openPattern();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::TestPattern);
    EXPECT_EQ(page->chosenIndex(), test_chart::kNone);

    // Blue: byte 3 with the apply flag, picture 3 framed in orange.
    child<QPushButton>(page, "2")->click();
    EXPECT_EQ(taken(), std::make_pair(1, 3));
    EXPECT_EQ(style(page, 3), kMarked);

    // Black after blue: the mark moves.
    child<QPushButton>(page, "4")->click();
    EXPECT_EQ(taken(), std::make_pair(1, 5));
    EXPECT_EQ((QStringList{style(page, 3), style(page, 5)}), (QStringList{kPlain, kMarked}));

    // The marked pattern again: written again, the styles untouched.
    model->live_image.setByte(RamOffset::TEST_PATTERN, 0);
    page->findChild<QLabel*>("label_test5")->setStyleSheet("probe");
    child<QPushButton>(page, "4")->click();
    EXPECT_EQ(taken(), std::make_pair(1, 5));
    EXPECT_EQ(style(page, 5), "probe");
    page->findChild<QLabel*>("label_test5")->setStyleSheet(kMarked);

    // Close: off, nothing marked; twice still writes.
    child<QPushButton>(page, "Button_closetest")->click();
    EXPECT_EQ(taken(), std::make_pair(1, 0));
    EXPECT_EQ(style(page, 5), kPlain);
    EXPECT_EQ(page->chosenIndex(), test_chart::kNone);
    model->live_image.setByte(RamOffset::TEST_PATTERN, 7);
    child<QPushButton>(page, "Button_closetest")->click();
    EXPECT_EQ(taken(), std::make_pair(1, 0));
}

TEST_F(PatternPageTest, BackLeavesThePatternOnAndReopensUnmarked) {
    test_chart* page = openPattern();
    child<QPushButton>(page, "7")->click();
    child<QPushButton>(page, "Button_back")->click();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(g_test_chart);
    EXPECT_FALSE(PageRegistry::isOpen(PageRegistry::TestPattern));
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    EXPECT_EQ(patternByte(), 8);

    page = openPattern();
    for (int n = 1; n <= 8; ++n) EXPECT_EQ(style(page, n), kPlain) << n;
    // The idle return leaves this page open.
    tickAfter(g_back_to_mainwindow_time + 5);
    for (int i = 0; i < 5; ++i) tickAfter(1);
    EXPECT_TRUE(g_test_chart);
}

TEST_F(PatternPageTest, ATouchChoosesThePictureItLandsOn) {
    test_chart* page = openPattern();
    // Left edge of picture 2 (x 155..254, y 20..119), then just beside it.
    touchFrame(page, QPoint(156, 60));
    EXPECT_EQ(patternByte(), 2);
    model->live_image.setByte(RamOffset::TEST_PATTERN, 0);
    touchFrame(page, QPoint(262, 60));
    EXPECT_EQ(patternByte(), 0);
    // Right edge of picture 8 in the second row.
    touchFrame(page, QPoint(15 + 3 * 140 + 99, 20 + 160 + 50));
    EXPECT_EQ(patternByte(), 8);
}

TEST_F(PatternPageTest, NamesFollowTheLanguage) {
    const char* names[8] = {"label_red", "label_green", "label_blue", "label_white",
                            "label_black", "label_colour", "label_hline", "label_wline"};
    auto texts = [&](test_chart* page) {
        QStringList out;
        for (const char* n : names) out << child<QLabel>(page, n)->text();
        return out;
    };
    g_language = 2;
    test_chart* page = openPattern();
    QStringList ru;
    for (int n = 1; n <= 8; ++n) ru << QString::fromUtf8("Тест %1").arg(n);
    EXPECT_EQ(texts(page), ru);
    EXPECT_EQ(child<QPushButton>(page, "Button_closetest")->text(), QString::fromUtf8("Закрыть"));
    // The dispatcher follows the language byte for this page.
    model->live_image.setWord(RamOffset::LANGUAGE, 7);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(g_language.load(), 7);
    page->language_changed();
    EXPECT_EQ(texts(page), (QStringList{"Red", "Green", "Blue", "White", "Black", "Colour bar", "Horizontal line",
                                        "Vertical line"}));
}

// The page on the manager driving the simulated c331: blue reaches the
// pattern generator after the apply pass, Close turns it off.
class PatternRoadTest : public C331PassEnv {};

TEST_F(PatternRoadTest, BlueReachesTheSimulatedChip) {
    ShellText::installFont();
    wall(1920, 1080);
    plug(2, 1920, 1080, 60);
    window(0, 2, 0, 0, 1920, 1080);
    start();
    auto* page = new test_chart(nullptr);
    page->findChild<QPushButton*>("2")->click();
    EXPECT_EQ(m->apply_flag.load(), 1);
    pass();
    const int p = 16 * m->gWininfo[0].ch[0];
    EXPECT_EQ((Vals{reg8(0x08, 0x57, p), reg8(0x08, 0x63, p), reg8(0x08, 0x64, p), reg8(0x08, 0x65, p)}),
              (Vals{4, 0, 0, 255}));
    page->findChild<QPushButton*>("Button_closetest")->click();
    pass();
    EXPECT_EQ((Vals{m->pattern_gen, reg8(0x08, 0x57, p), reg8(0x08, 0x65, p)}), (Vals{0, 0, 0}));
    delete page;
}

}  // namespace
