// The image layout page: its window tiles and the chosen window's panel, the
// way to the source page and back, its refresh, the settings menu opening it
// and the image quality page, and the idle return through all of them.
#include "settings_fixture.h"

#include "ui/settings/imagelayout.h"
#include "ui/settings/imagequality.h"

#include "core/JsonParse.h"

#include <QTest>
#include <QToolButton>

namespace {

using namespace RamOffset;

class LayoutPageTest : public SettingsTest {
protected:
    void TearDown() override {
        delete g_imagequality.data();
        delete g_imagelayout.data();
        SettingsTest::TearDown();
    }
    void putRect(int w, int x, int y, int width, int height) {
        for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) {
            img->setWord(win(u32(w)) + WIN_X, u16(x));
            img->setWord(win(u32(w)) + WIN_Y, u16(y));
            img->setWord(win(u32(w)) + WIN_WIDTH, u16(width));
            img->setWord(win(u32(w)) + WIN_HEIGHT, u16(height));
        }
    }
    // Opened as the operator does: settings menu, then its layout tile.
    ImageLayout* openLayout() {
        QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_option"), Qt::LeftButton);
        if (!g_option) return nullptr;
        QTest::mouseClick(child<QToolButton>(g_option, "Button_layout"), Qt::LeftButton);
        return g_imagelayout.data();
    }
    QStringList tiles(ImageLayout* page) {
        QStringList out;
        for (QPushButton* b : child<QFrame>(page, "frame_windows")->findChildren<QPushButton*>())
            out << b->objectName();
        return out;
    }
    QStringList tileLabels(ImageLayout* page) { return texts(child<QFrame>(page, "frame_windows"), "label_tile"); }
    // Window name, state, source, x, y, width, height as the panel shows them.
    QStringList panel(ImageLayout* page) {
        QStringList out;
        for (const char* name : {"label_window", "label_state", "label_source", "label_x", "label_y", "label_w", "label_h"})
            out << child<QLabel>(page, name)->text();
        return out;
    }
    void chooseTile(ImageLayout* page, int w) {
        QTest::mouseClick(child<QFrame>(page, "frame_windows")->findChild<QPushButton*>(QString::number(w)),
                          Qt::LeftButton);
    }
};

TEST_F(LayoutPageTest, TilesAndPanelShowTheWindowsOfTheLiveImage) {
    putCrop(4, 3, 3);  // HDMI2's crop 3 in record 4
    putWindow(0, 1, 2);
    putWindow(2, 1, 0x8004);
    putWindow(4, 2, 1);  // enable byte 2 is not "on": no tile
    putRect(0, 0, 0, 1920, 1080);
    putRect(2, 100, 50, 960, 540);
    ImageLayout* page = openLayout();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::ImageLayout);
    EXPECT_EQ(tiles(page), (QStringList{"0", "2"}));
    EXPECT_EQ(tileLabels(page), (QStringList{"HDMI1", "HDMI2"}));
    EXPECT_EQ(page->chosenWindow(), 0);
    EXPECT_EQ(panel(page), (QStringList{"Window 1", "On", "HDMI1", "0", "0", "1920", "1080"}));

    chooseTile(page, 2);
    EXPECT_EQ(panel(page), (QStringList{"Window 3", "On", "HDMI2_crop3", "100", "50", "960", "540"}));
    EXPECT_EQ(child<QFrame>(page, "frame_window_marker")->geometry(),
              child<QFrame>(page, "frame_windows")->findChild<QPushButton*>("2")->geometry());

    // A crop named by the PC shows its name.
    writeHostFile(hostPath(kAliasFile), R"({"namelist":{"crop":[{"id":4,"valid":"on","name":"Stage"}]}})");
    page->image_para_update();
    EXPECT_EQ(child<QLabel>(page, "label_source")->text(), "Stage");

    g_language = 0;
    page->language_changed();
    EXPECT_EQ(child<QLabel>(page, "label_window")->text(), QString::fromUtf8("窗口3"));
    EXPECT_EQ(child<QLabel>(page, "label_state")->text(), QString::fromUtf8("开"));
}

TEST_F(LayoutPageTest, RefreshRebuildsOnlyWhenWindowsOrCropsChanged) {
    putWindow(2, 1, 3);
    ImageLayout* page = openLayout();
    ASSERT_TRUE(page);
    chooseTile(page, 2);
    QPointer<QFrame> menu = child<QFrame>(page, "frame_windows");

    // Nothing of the windows changed: the tiles stay as they are.
    model->live_image.setWord(CONTRAST, 20);
    PageRegistry::refresh(PageRegistry::ImageLayout, 1);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(menu.isNull());
    persisted();

    // Another writer moves window 2 and then switches it off.
    model->live_image.setWord(win(2) + WIN_X, 640);
    PageRegistry::refresh(PageRegistry::ImageLayout, 1);
    EXPECT_EQ(child<QLabel>(page, "label_x")->text(), "640");
    persisted();
    model->live_image.setWord(win(2) + WIN_ENABLE, 0);
    PageRegistry::refresh(PageRegistry::ImageLayout, 1);
    EXPECT_EQ(tiles(page), QStringList{"0"});
    EXPECT_EQ(page->chosenWindow(), 0);
    EXPECT_EQ(child<QLabel>(page, "label_window")->text(), "Window 1");
    persisted();

    // The PC renumbers the crop window 0 shows: the crop table alone changed.
    putCrop(0, 2, 1);
    putWindow(0, 1, 0x8000);
    page->image_para_update();
    EXPECT_EQ(child<QLabel>(page, "label_source")->text(), "HDMI1_crop1");
    model->live_image.setWord(crop(0) + CROP_ID, 0x8402);
    PageRegistry::refresh(PageRegistry::ImageLayout, 1);
    EXPECT_EQ(child<QLabel>(page, "label_source")->text(), "HDMI1_crop5");
}

TEST_F(LayoutPageTest, SourceButtonOpensTheSourcePageWhoseBackReturnsHere) {
    putWindow(0, 1, 2);
    ImageLayout* page = openLayout();
    ASSERT_TRUE(page);
    QTest::mouseClick(child<QPushButton>(page, "Button_source_select"), Qt::LeftButton);
    InputChoose* source = g_inputchoose.data();
    ASSERT_TRUE(source);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::SourceSelect);
    // A second tap (the page beneath) makes no second source page.
    page->on_Button_source_select_clicked();
    EXPECT_EQ(g_inputchoose.data(), source);

    // Window 0 onto DVI; the change is applied and persisted before the
    // operator goes back, so only a redraw from the live image shows it.
    QTest::mouseClick(child<QPushButton>(source, "Button_DVI"), Qt::LeftButton);
    QTest::mouseClick(entry(source, 0), Qt::LeftButton);
    EXPECT_EQ(this->source(0), 1);
    persisted();
    g_language = 2;
    source->on_Button_back_clicked();
    EXPECT_FALSE(g_inputchoose);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::ImageLayout);
    EXPECT_EQ(child<QLabel>(page, "label_source")->text(), "DVI");
    EXPECT_EQ(tileLabels(page), QStringList{"DVI"});
    EXPECT_EQ(child<QLabel>(page, "label_window")->text(), QString::fromUtf8("Окно 1"));

    // Back: the settings menu is in front again.
    page->on_Button_back_clicked();
    EXPECT_FALSE(g_imagelayout);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    EXPECT_EQ(child<QLabel>(g_option, "label_title")->text(), QString::fromUtf8("Настройки"));
}

TEST_F(LayoutPageTest, SettingsMenuOpensLayoutAndQualityAndBothComeBackToIt) {
    ImageLayout* layout = openLayout();
    ASSERT_TRUE(layout);
    EXPECT_TRUE(PageRegistry::isOpen(PageRegistry::ImageLayout));
    QTest::mouseClick(child<QPushButton>(layout, "Button_back"), Qt::LeftButton);
    EXPECT_EQ((Vals{g_imagelayout.isNull(), PageRegistry::isOpen(PageRegistry::ImageLayout), g_page_focus.load()}),
              (Vals{1, 0, PageRegistry::Settings}));

    QTest::mouseClick(child<QToolButton>(g_option, "Button_quality"), Qt::LeftButton);
    ImageQuality* quality = g_imagequality.data();
    ASSERT_TRUE(quality);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::ImageQuality);
    g_language = 4;
    QTest::mouseClick(child<QPushButton>(quality, "Button_back"), Qt::LeftButton);
    EXPECT_EQ((Vals{g_imagequality.isNull(), g_page_focus.load()}), (Vals{1, PageRegistry::Settings}));
    EXPECT_EQ(child<QToolButton>(g_option, "Button_quality")->text(), QString::fromUtf8("畫質調節"));
}

TEST_F(LayoutPageTest, IdleReturnFromTheSourcePageClosesItTheLayoutAndTheSettingsMenu) {
    lcd_touch watcher;
    ImageLayout* layout = openLayout();
    ASSERT_TRUE(layout);
    layout->on_Button_source_select_clicked();
    ASSERT_TRUE(g_inputchoose);
    g_back_to_mainwindow_time = 3;
    for (int i = 0; i < 4; ++i) watcher.auto_timeout_back();
    EXPECT_EQ((Vals{g_inputchoose.isNull(), g_imagelayout.isNull(), g_option.isNull(), g_page_focus.load()}),
              (Vals{1, 1, 1, PageRegistry::MainMenu}));
    for (int id : {PageRegistry::SourceSelect, PageRegistry::ImageLayout, PageRegistry::Settings})
        EXPECT_FALSE(PageRegistry::isOpen(id)) << id;
}

}  // namespace
