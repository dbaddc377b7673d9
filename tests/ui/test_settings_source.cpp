// The source selection page and the pieces the video settings pages share.
#include "settings_fixture.h"

#include "core/JsonParse.h"
#include "core/image_view.h"
#include "ui/settings/input_entries.h"
#include "ui/settings/settings_pages.h"

#include <QFontMetrics>
#include <QTest>

namespace {

using namespace RamOffset;

class EntriesTest : public SettingsTest {};

TEST_F(EntriesTest, PagingOfOneSixSevenAndFortyOneEntries) {
    // count -> last page, entries on pages 0, 1 and the last
    EXPECT_EQ((Vals{InputEntries::lastPage(1), InputEntries::shownOnPage(1, 0), InputEntries::shownOnPage(1, 1)}),
              (Vals{0, 1, 0}));
    EXPECT_EQ((Vals{InputEntries::lastPage(6), InputEntries::shownOnPage(6, 0), InputEntries::shownOnPage(6, 1)}),
              (Vals{0, 6, 0}));
    EXPECT_EQ((Vals{InputEntries::lastPage(7), InputEntries::shownOnPage(7, 0), InputEntries::shownOnPage(7, 1)}),
              (Vals{1, 6, 1}));
    EXPECT_EQ((Vals{InputEntries::lastPage(41), InputEntries::shownOnPage(41, 5), InputEntries::shownOnPage(41, 6),
                    InputEntries::shownOnPage(41, 7)}),
              (Vals{6, 6, 5, 0}));
    // Counts from the table: forty crops of HDMI2 give 41 entries, other inputs 1.
    for (int r = 0; r < 40; ++r) putCrop(r, 3, 40 - r);
    const ImageView view = ImageView::take();
    EXPECT_EQ((Vals{InputEntries::count(view, 3), InputEntries::count(view, 2), InputEntries::count(view, 6)}),
              (Vals{41, 1, 0}));
}

TEST_F(EntriesTest, UsedEntryOfACropSourceCountsSmallerNumbersOfItsInputOnly) {
    putCrop(0, 2, 5);
    putCrop(1, 2, 2);
    putCrop(2, 3, 1);  // another input's crop 1
    putCrop(3, 2, 3);
    EXPECT_EQ((Vals{InputEntries::usedEntry(model->live_image, 0), InputEntries::usedEntry(model->live_image, 1),
                    InputEntries::usedEntry(model->live_image, 2), InputEntries::usedEntry(model->live_image, 3)}),
              (Vals{3, 1, 1, 2}));
    model->live_image.setWord(crop(1) + CROP_ID, 0x0102);  // freed
    EXPECT_EQ((Vals{InputEntries::usedEntry(model->live_image, 1), InputEntries::usedEntry(model->live_image, 40),
                    InputEntries::usedEntry(model->live_image, 0)}),
              (Vals{-1, -1, 2}));
}

TEST_F(EntriesTest, NamesFromTheAliasFileOrBuiltIn) {
    QFont font;
    font.setPixelSize(20);
    writeHostFile(hostPath(kAliasFile),
                  R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Stage camera left side"},)"
                  R"({"id":3,"valid":"off","name":"Hidden"},{"id":4,"valid":"on","name":""}],)"
                  R"("crop":[{"id":7,"valid":"on","name":"Lectern"}]}})");
    alias_file_changed();
    const QString stage = SourceNames::input(2, font, 66);
    EXPECT_TRUE(stage.startsWith("St")) << stage.toStdString();
    EXPECT_TRUE(stage.endsWith(QChar(0x2026))) << stage.toStdString();
    EXPECT_LE(QFontMetrics(font).horizontalAdvance(stage), 66);
    EXPECT_EQ(SourceNames::input(3, font, 66), "HDMI2");  // switched off
    EXPECT_EQ(SourceNames::input(4, font, 66), "HDMI3");  // empty
    EXPECT_EQ(SourceNames::crop(7, 2, 4, font, 172), "Lectern");
    EXPECT_EQ(SourceNames::crop(8, 3, 4, font, 172), "HDMI2_crop4");
    EXPECT_EQ(SourceNames::crop(40, 3, 0, font, 172), "HDMI2_crop");  // no record found

    writeHostFile(hostPath(kAliasFile), "{\"namelist\": [");
    alias_file_changed();
    EXPECT_EQ((QStringList{SourceNames::input(2, font, 66), SourceNames::crop(7, 2, 4, font, 172)}),
              (QStringList{"HDMI1", "HDMI1_crop4"}));
}

TEST_F(EntriesTest, KeypadValuesAreHeldToTheirLimits) {
    using SettingsPages::limitedValue;
    EXPECT_EQ((Vals{limitedValue("0", 0, 32767, "x"), limitedValue("32767", 0, 32767, "x"),
                    limitedValue("32768", 0, 32767, "x"), limitedValue("", 1, 32767, "w"),
                    limitedValue("0", 1, 4095, "w"), limitedValue("4096", 1, 4095, "w"),
                    limitedValue("99999999999999999999", 1, 4095, "w"), limitedValue("12.5", 1, 4095, "w"),
                    limitedValue("0042", 1, 4095, "w")}),
              (Vals{0, 32767, 32767, 1, 1, 4095, 4095, 1, 42}));
}

class SourcePageTest : public SettingsTest {};

TEST_F(SourcePageTest, FreshPageShowsHdmi1AndTheInputRow) {
    model->ZrvSetSignalPara(2, 1920, 1080, 60);
    InputChoose* page = openSource();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::SourceSelect);
    EXPECT_EQ(page->chosenInput(), 2);
    EXPECT_EQ(texts(grid(page), "label_name"), QStringList{"HDMI1"});
    EXPECT_EQ(texts(grid(page), "label_size"), QStringList{"1920x1080@60Hz"});
    EXPECT_EQ(texts(grid(page), "label_using"), QStringList{"Using"});
    EXPECT_EQ(child<QLabel>(page, "label_DVI_num")->text(), "(1)");
    EXPECT_FALSE(grid(page)->findChild<QPushButton*>("Button_next"));
    child<QPushButton>(page, "Button_DVI")->click();
    EXPECT_EQ(texts(grid(page), "label_size"), QStringList{"No signal"});
    EXPECT_TRUE(texts(grid(page), "label_using").isEmpty());
}

TEST_F(SourcePageTest, ALanguageChangeWithThePageInFrontRelabelsTheWholeGrid) {
    // HDMI1 without a signal is window 0's source: its one entry shows both
    // the no-signal text and the badge. The language comes as a change of
    // image word 768, through the dispatcher that persists it.
    InputChoose* page = openSource();
    grid(page)->findChild<QPushButton*>("Button_menu")->click();
    struct Case {
        int lang;
        const char *title, *noSignal, *badge, *cropButton;
    };
    const Case cases[] = {
        {2, "Переключение источника", "Нет сигнала", "Использовать", "Источник"},
        {1, "Source switch", "No signal", "Using", "Input intercept"},
        {3, "Chuyển đổi nguồn", "Không có tín hiệu", "sử dụng", "Chặn nguồn vào"},
        {0, "信源切换", "无信号", "使用中\u00AD", "输入截取"},
        {4, "信源切換", "無信號", "使用中\u00AD", "輸入截取"},
        {1, "Source switch", "No signal", "Using", "Input intercept"},
    };
    for (const Case& c : cases) {
        model->live_image.setWord(LANGUAGE, u16(c.lang));
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_EQ((QStringList{child<QLabel>(page, "label_title")->text(), texts(grid(page), "label_size").join('|'),
                               texts(grid(page), "label_using").join('|'),
                               child<QPushButton>(page, "Button_inputcut")->text()}),
                  (QStringList{QString::fromUtf8(c.title), QString::fromUtf8(c.noSignal), QString::fromUtf8(c.badge),
                               QString::fromUtf8(c.cropButton)}))
            << "language " << c.lang;
    }
    // The grid is new: the pop-up it opened is closed.
    EXPECT_FALSE(child<QPushButton>(page, "Button_inputcut")->isVisibleTo(page));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(SourcePageTest, ChoosingAnEntryWritesTheSourceWordThroughTheChangeProtocol) {
    putCrop(4, 2, 1);
    putCrop(9, 2, 2);
    model->live_image.setWord(LOADED_MODE, 3);
    model->shadow_image.setWord(LOADED_MODE, 3);
    InputChoose* page = openSource();
    auto* mgr = c331_manage::get();

    // A real touch: the grid holding the button is rebuilt inside its click.
    QTest::mouseClick(entry(page, 2), Qt::LeftButton);  // HDMI1's second crop, record 9
    EXPECT_EQ((Vals{source(0), mgr->apply_flag.load(), model->live_image.word(LOADED_MODE)}),
              (Vals{0x8009, 1, 0}));
    EXPECT_EQ(texts(grid(page), "label_using").size(), 1);
    EXPECT_TRUE(entry(page, 2)->parentWidget()->findChild<QLabel*>("label_using"));

    // A loaded mode that is not the persisted one is left alone; the same
    // entry again still goes through the protocol.
    persisted();
    model->live_image.setWord(LOADED_MODE, 5);
    mgr->apply_flag = 0;
    entry(page, 2)->click();
    EXPECT_EQ((Vals{source(0), mgr->apply_flag.load(), model->live_image.word(LOADED_MODE)}),
              (Vals{0x8009, 1, 5}));

    entry(page, 0)->click();
    EXPECT_EQ(source(0), 2);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(SourcePageTest, WindowMenuPacksTheShownWindowsAndFollowsSwitchedOffWindows) {
    putWindow(0, 0, 2);  // window 0 always has a tile
    putWindow(1, 0, 2);
    putWindow(2, 1, 3);
    putWindow(3, 0x0100, 2);  // only the low byte counts
    putWindow(4, 0, 2);
    putWindow(5, 1, 0x8000 | 1);
    putCrop(1, 5, 2);
    InputChoose* page = openSource();
    QFrame* menu = child<QFrame>(page, "frame_windows");
    QList<int> places;
    QStringList numbers;
    for (int w : {0, 2, 5}) {
        auto* tile = menu->findChild<QLabel*>(QStringLiteral("tile_%1").arg(w));
        ASSERT_TRUE(tile) << w;
        places << (tile->x() - 20) / 130;
        numbers << tile->text();
    }
    EXPECT_EQ(places, (QList<int>{0, 1, 2}));
    EXPECT_EQ(numbers, (QStringList{"1", "3", "6"}));
    EXPECT_EQ(menu->findChildren<QPushButton*>().size(), 3);
    EXPECT_EQ(menu->findChild<QLabel*>("tile_5")->findChild<QLabel*>("label_tile")->text(), "HDMI4");

    // Window 6 (tile "6") shows HDMI4's crop 2: its entry is marked.
    menu->findChild<QPushButton*>("5")->click();
    EXPECT_EQ((Vals{page->chosenWindow(), page->chosenInput()}), (Vals{5, 5}));
    EXPECT_TRUE(entry(page, 1)->parentWidget()->findChild<QLabel*>("label_using"));

    // Another writer switches window 6 off: window 1 is chosen after the refresh.
    model->live_image.setWord(win(5) + WIN_ENABLE, 0);
    page->syncUpdate(1);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ((Vals{page->chosenWindow(), page->chosenInput()}), (Vals{0, 2}));
    menu = child<QFrame>(page, "frame_windows");
    EXPECT_EQ(menu->findChildren<QPushButton*>().size(), 2);
    EXPECT_FALSE(menu->findChild<QLabel*>("tile_5"));
    // A window without a tile that changes its source touches nothing.
    model->live_image.setWord(win(4) + WIN_SOURCE, 0x8001);
    page->syncUpdate(1);
}

TEST_F(SourcePageTest, Code103ReloadsTheCropStateAndAPageBeyondTheLastShowsNothing) {
    for (int n = 1; n <= 6; ++n) putCrop(n, 3, n);
    InputChoose* page = openSource();
    child<QPushButton>(page, "Button_HDMI2")->click();
    EXPECT_EQ(child<QLabel>(page, "label_HDMI2_num")->text(), "(7)");
    QTest::mouseClick(grid(page)->findChild<QPushButton*>("Button_next"), Qt::LeftButton);
    EXPECT_EQ((Vals{page->pageIndex(), page->lastPageIndex()}), (Vals{1, 1}));
    EXPECT_EQ(texts(grid(page), "label_name"), QStringList{"HDMI2_crop6"});

    // The table changes in both images (no difference to see): only code 103 reloads.
    for (PARA_RAM_IMAGE* img : {&model->live_image, &model->shadow_image}) img->setWord(crop(6) + CROP_ID, 0);
    page->syncUpdate(1);
    EXPECT_EQ(child<QLabel>(page, "label_HDMI2_num")->text(), "(7)");
    page->syncUpdate(103);
    EXPECT_EQ(child<QLabel>(page, "label_HDMI2_num")->text(), "(6)");
    EXPECT_EQ((Vals{page->pageIndex(), page->lastPageIndex()}), (Vals{1, 0}));
    EXPECT_TRUE(grid(page)->findChildren<QFrame*>("source_frame").isEmpty());
    EXPECT_TRUE(grid(page)->findChild<QPushButton*>("Button_previous"));
    EXPECT_FALSE(grid(page)->findChild<QPushButton*>("Button_next"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(SourcePageTest, ATouchOnAColumnsLabelsReachesItsInputButton) {
    InputChoose* page = openSource();
    for (const char* key : {"HDMI1", "HDMI3", "EXT"}) {
        for (const QString& label : {QStringLiteral("label_%1_text"), QStringLiteral("label_%1_num"),
                                     QStringLiteral("label_%1")}) {
            QWidget* l = child<QWidget>(page, label.arg(key).toLatin1().constData());
            EXPECT_EQ(page->childAt(l->geometry().center()), child<QWidget>(page, ("Button_" + std::string(key)).c_str()))
                << label.arg(key).toStdString();
        }
    }
}

TEST_F(SourcePageTest, PopUpOpensTheOtherPagesAndBackReturnsToTheMainMenu) {
    InputChoose* page = openSource();
    auto* cut = child<QPushButton>(page, "Button_inputcut");
    EXPECT_FALSE(cut->isVisibleTo(page));
    grid(page)->findChild<QPushButton*>("Button_menu")->click();
    EXPECT_TRUE(cut->isVisibleTo(page));
    grid(page)->findChild<QPushButton*>("Button_menu")->click();
    EXPECT_FALSE(cut->isVisibleTo(page));

    PageRegistry::back(PageRegistry::SourceSelect);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
    EXPECT_FALSE(g_inputchoose);
    EXPECT_FALSE(PageRegistry::isOpen(PageRegistry::SourceSelect));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Refused while the panel is locked.
    g_mainwindow->on_Button_lock_clicked();
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_FALSE(g_inputchoose);
    g_mainwindow->on_Button_lock_clicked();
    g_mainwindow->on_inputchoose_clicked();
    EXPECT_TRUE(g_inputchoose);
}

}  // namespace
