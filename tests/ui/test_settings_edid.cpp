// The custom EDID page: the tile of the chosen input's record, the edit
// panel, Save through the change protocol and the keypad's limits.
#include "settings_fixture.h"

#include "ui/shell/numberkeyboard.h"

#include <QLineEdit>
#include <QTest>

namespace {

using namespace RamOffset;

class EdidPageTest : public SettingsTest {
protected:
    EDIDset* openEdid() {
        PageRegistry::open(PageRegistry::SourceSelect);
        grid(g_inputchoose)->findChild<QPushButton*>("Button_menu")->click();
        child<QPushButton>(g_inputchoose, "Button_EDID")->click();
        return g_edidset.data();
    }
    QFrame* tile(QWidget* page) { return child<QFrame>(page, "frame_source"); }
    QString timing(QWidget* page) { return texts(tile(page), "label_size").value(0); }
    Vals record(int input) {
        return {model->live_image.word(edid(u32(input))), model->live_image.word(edid(u32(input)) + 2),
                model->live_image.word(edid(u32(input)) + 4)};
    }
    void typeInto(QWidget* page, const char* name, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(child<QLineEdit>(page, name), Qt::LeftButton);
    }
    void press(QWidget* page, const char* name) { child<QPushButton>(page, name)->click(); }
};

TEST_F(EdidPageTest, TileShowsTheChosenInputsRecord) {
    EDIDset* page = openEdid();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Edid);
    EXPECT_EQ(texts(tile(page), "label_name"), QStringList{"HDMI1"});
    EXPECT_EQ(timing(page), "1920x1080@60Hz");
    page->zrv_button_input_clicked(2);
    EXPECT_EQ((Vals{page->chosenInput()}), (Vals{4}));
    EXPECT_EQ(timing(page), "3840x2160@60Hz");
    page->zrv_button_input_clicked(4);
    EXPECT_EQ(texts(tile(page), "label_name"), QStringList{"DVI"});
    PageRegistry::back(PageRegistry::Edid);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::SourceSelect);
    EXPECT_FALSE(g_edidset);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(EdidPageTest, SaveWritesTheRecordAndTheArrowsToggleTheRate) {
    EDIDset* page = openEdid();
    press(page, "Button_source");
    EXPECT_EQ(child<QLabel>(page, "label_edid_source")->text(), "EDID source:HDMI1");
    EXPECT_EQ(child<QLabel>(page, "label_rate")->text(), "60");
    press(page, "Button_left");
    EXPECT_EQ(child<QLabel>(page, "label_rate")->text(), "30");
    press(page, "Button_right");
    press(page, "Button_left");
    EXPECT_EQ((Vals{page->refreshToggle()}), (Vals{30}));
    typeInto(page, "lineEdit_W", "1280");
    typeInto(page, "lineEdit_H", "720");
    c331_manage::get()->apply_flag = 0;
    press(page, "Button_ok");
    EXPECT_EQ(record(2), (Vals{1280, 720, 30}));
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 1);
    EXPECT_EQ(timing(page), "1280x720@30Hz");
    EXPECT_FALSE(child<QFrame>(page, "frame_add")->isVisibleTo(page));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(EdidPageTest, CancelAndDeleteWriteNothingAndValuesAreHeldToWhatAnEdidCarries) {
    EDIDset* page = openEdid();
    c331_manage::get()->apply_flag = 0;
    for (const char* leave : {"Button_cancel", "Button_delete"}) {
        press(page, "Button_source");
        typeInto(page, "lineEdit_W", "800");
        press(page, "Button_left");
        press(page, leave);
        EXPECT_EQ(record(2), (Vals{1920, 1080, 60})) << leave;
    }
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 0);

    press(page, "Button_source");
    typeInto(page, "lineEdit_W", "5000");
    typeInto(page, "lineEdit_H", "0");
    EXPECT_EQ((QStringList{child<QLineEdit>(page, "lineEdit_W")->text(), child<QLineEdit>(page, "lineEdit_H")->text()}),
              (QStringList{"4095", "1"}));
    press(page, "Button_ok");
    EXPECT_EQ(record(2)[0], 4095);
    EXPECT_EQ(record(2)[1], 1);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(EdidPageTest, RefreshRebuildsTheTileOnlyForTheChosenInputsRecord) {
    EDIDset* page = openEdid();
    QPointer<QFrame> before = tile(page);
    model->live_image.setWord(edid(3), 1024);  // another input
    model->live_image.setWord(signal(2), 640);  // the input's signal alone
    page->syncUpdate();
    EXPECT_EQ(tile(page), before.data());
    model->live_image.setWord(edid(2) + 4, 50);  // a user-mode recall, say
    page->syncUpdate();
    EXPECT_NE(tile(page), before.data());
    EXPECT_EQ(timing(page), "1920x1080@50Hz");
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(before);
}

}  // namespace
