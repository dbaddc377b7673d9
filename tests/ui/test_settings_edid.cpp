// The custom EDID page: the tile of the chosen input's record, the edit
// panel, Save through the change protocol and the keypad's limits.
#include "settings_fixture.h"

#include "core/logMsg.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/tip.h"

#include <QLineEdit>
#include <QTest>

#include <cstdlib>

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

// Stored, a timing the input's EDID cannot carry (a pixel clock above
// 655.35 MHz with the input's blanking: 160 x 62 on the IT6602 inputs, 560 x
// 90 on HDMI3 and HDMI4) would stay in the image and on this page while the
// input went on offering its old EDID.
TEST_F(EdidPageTest, ATimingTheInputsEdidCannotCarryIsRefusedAndNothingStored) {
    EDIDset* page = openEdid();
    const struct {
        int column;
        int input;
        const char* width;
        const char* height;
        bool thirty;  // the arrow pressed once: 30 Hz
        bool stored;
    } rows[] = {
        {0, 2, "4000", "4000", false, false},  // 4160 x 4062 x 60 Hz: 1013.9 MHz
        {0, 2, "4095", "2400", false, true},   // 4255 x 2462 x 60 Hz: 628.5 MHz
        {2, 4, "4095", "2400", false, false},  // 4655 x 2490 x 60 Hz: 695.5 MHz
        {2, 4, "4095", "2160", false, true},   // 4655 x 2250 x 60 Hz: 628.4 MHz
        {0, 2, "4000", "4000", true, true},    // 4160 x 4062 x 30 Hz: 506.9 MHz
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.width) + "x" + row.height + " on input " + std::to_string(row.input));
        page->zrv_button_input_clicked(row.column);
        const Vals before = record(row.input);
        press(page, "Button_source");
        typeInto(page, "lineEdit_W", row.width);
        typeInto(page, "lineEdit_H", row.height);
        if (row.thirty) press(page, "Button_left");
        g_tip->tip_create(TIP::RemoveOnly);
        c331_manage::get()->apply_flag = 0;
        const size_t logged = readHostFile(hostPath(kLogFile)).size();
        press(page, "Button_ok");
        const Vals want = {atoi(row.width), atoi(row.height), row.thirty ? 30 : 60};
        EXPECT_EQ(record(row.input), row.stored ? want : before);
        EXPECT_EQ(c331_manage::get()->apply_flag.load(), row.stored ? 1 : 0);
        EXPECT_EQ(g_tip->kind(), row.stored ? int(TIP::None) : int(TIP::Failed));
        // Refused, the panel stays open with the values for another try.
        EXPECT_EQ(child<QFrame>(page, "frame_add")->isVisibleTo(page), !row.stored);
        const bool told = readHostFile(hostPath(kLogFile))
                              .find("EDID page: " + std::string(row.width) + "x" + row.height + " at 60 Hz for input " +
                                        std::to_string(row.input) + " not stored",
                                    logged) != std::string::npos;
        EXPECT_EQ(told, !row.stored);
    }
    EXPECT_EQ(g_tip->text(), QString());
    press(page, "Button_source");
    typeInto(page, "lineEdit_W", "4000");
    typeInto(page, "lineEdit_H", "4000");
    press(page, "Button_right");  // back to 60 Hz
    press(page, "Button_ok");
    EXPECT_EQ(g_tip->text(), "The EDID cannot carry this timing!");
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
