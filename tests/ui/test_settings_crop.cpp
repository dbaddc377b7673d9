// The input crop page: adding, editing and deleting crops through the
// model's crop operations, paging, and keypad values for its own fields.
#include "settings_fixture.h"

#include "ui/shell/numberkeyboard.h"

#include <QLineEdit>
#include <QTest>

namespace {

using namespace RamOffset;

class CropPageTest : public SettingsTest {
protected:
    InputCut* openCrop() {
        PageRegistry::open(PageRegistry::Crop);
        return g_inputcut.data();
    }
    QFrame* list(QWidget* page) { return child<QFrame>(page, "frame_source"); }
    QPushButton* listButton(QWidget* page, const char* name) { return list(page)->findChild<QPushButton*>(name); }
    QPushButton* button(QWidget* page, const char* name) { return child<QPushButton>(page, name); }
    QString field(QWidget* page, const char* name) { return child<QLineEdit>(page, name)->text(); }
    QStringList fields(QWidget* page) {
        return {field(page, "lineEdit_X"), field(page, "lineEdit_Y"), field(page, "lineEdit_W"), field(page, "lineEdit_H")};
    }
    // A press on a field opens the keypad, which answers typed and OK.
    void typeInto(QWidget* page, const char* name, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(child<QLineEdit>(page, name), Qt::LeftButton);
    }
    Vals record(int r) {
        Vals v;
        for (u32 off = 0; off < CROP_SIZE; off += 2) v.push_back(model->live_image.word(crop(u32(r)) + off));
        return v;
    }
    void flushDeletes() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST_F(CropPageTest, AddOnTheDefaultImageWritesRecordZeroAndCountsTwo) {
    InputCut* page = openCrop();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Crop);
    listButton(page, "Button_add")->click();
    EXPECT_EQ(child<QLabel>(page, "label_change_source")->text(), "Name:HDMI1-Crop-1");
    EXPECT_EQ(fields(page), (QStringList{"0", "0", "1920", "1080"}));
    c331_manage::get()->apply_flag = 0;
    button(page, "Button_ok")->click();
    EXPECT_EQ(record(0), (Vals{0x8002, 0, 0, 1920, 1080}));
    EXPECT_EQ(c331_manage::get()->apply_flag.load(), 1);
    EXPECT_EQ(child<QLabel>(page, "HDMI1_num")->text(), "(2)");
    EXPECT_EQ(texts(list(page), "label_name"), (QStringList{"HDMI1", "HDMI1_crop1"}));
    EXPECT_EQ(texts(list(page), "label_size").last(), "1920x1080");
    EXPECT_FALSE(child<QFrame>(page, "frame_add")->isVisibleTo(page));
    flushDeletes();
}

TEST_F(CropPageTest, ADeletedNumberIsTakenAgainAndAFullTableAddsNothing) {
    putCrop(0, 3, 1);
    putCrop(1, 3, 2);
    putCrop(2, 3, 3);
    InputCut* page = openCrop();
    page->zrv_button_input_clicked(1);  // HDMI2
    list(page)->findChild<QPushButton*>("2")->click();
    EXPECT_EQ(child<QLabel>(page, "label_change_source")->text(), "Name:HDMI2-Crop-2");
    button(page, "Button_delete")->click();
    EXPECT_EQ((Vals{model->live_image.word(crop(1)), model->live_image.word(crop(1) + CROP_W)}), (Vals{0, 960}));
    listButton(page, "Button_add")->click();
    EXPECT_EQ(child<QLabel>(page, "label_change_source")->text(), "Name:HDMI2-Crop-3");
    button(page, "Button_ok")->click();
    EXPECT_EQ(record(1)[0], 0x8000 | (1 << 8) | 3);
    EXPECT_EQ(texts(list(page), "label_name"), (QStringList{"HDMI2", "HDMI2_crop1", "HDMI2_crop2", "HDMI2_crop3"}));

    for (int r = 3; r < 40; ++r) putCrop(r, 0, r);
    const PARA_RAM_IMAGE before = model->live_image;
    listButton(page, "Button_add")->click();
    button(page, "Button_ok")->click();
    EXPECT_EQ(std::memcmp(before.data, model->live_image.data, sizeof before.data), 0);
    EXPECT_EQ(child<QLabel>(page, "HDMI2_num")->text(), "(4)");
    flushDeletes();
}

TEST_F(CropPageTest, SecondPageEntriesEditTheirCropAndAddAfterPagingHidesDelete) {
    for (int n = 1; n <= 9; ++n) putCrop(n, 2, n, 10 * n, 20 * n, 100 + n, 200 + n);
    InputCut* page = openCrop();
    QTest::mouseClick(listButton(page, "Button_next"), Qt::LeftButton);  // rebuilds its own list
    EXPECT_EQ(page->pageIndex(), 1);
    list(page)->findChild<QPushButton*>("2")->click();
    EXPECT_EQ(child<QLabel>(page, "label_change_source")->text(), "Name:HDMI1-Crop-8");
    EXPECT_EQ(fields(page), (QStringList{"80", "160", "108", "208"}));
    typeInto(page, "lineEdit_X", "5");
    button(page, "Button_ok")->click();
    EXPECT_EQ(record(8), (Vals{0x8000 | (7 << 8) | 2, 5, 160, 108, 208}));

    // Edit crop 9, page back with the editor open, then Add: no Delete.
    list(page)->findChild<QPushButton*>("3")->click();
    EXPECT_TRUE(button(page, "Button_delete")->isVisibleTo(page));
    listButton(page, "Button_previous")->click();
    EXPECT_TRUE(child<QFrame>(page, "frame_add")->isVisibleTo(page));
    listButton(page, "Button_add")->click();
    EXPECT_TRUE(page->addMode());
    EXPECT_FALSE(button(page, "Button_delete")->isVisibleTo(page));
    EXPECT_EQ(model->ZrvGetSourceNum(2, 40), 9);
    flushDeletes();
}

TEST_F(CropPageTest, DeletingAShownCropGivesItsWindowsTheInput) {
    putCrop(5, 4, 1);
    putCrop(6, 4, 2);
    putWindow(0, 1, 0x8006);
    putWindow(3, 1, 0x8006);
    putWindow(4, 1, 0x8005);
    InputCut* page = openCrop();
    page->zrv_button_input_clicked(2);  // HDMI3
    list(page)->findChild<QPushButton*>("2")->click();
    button(page, "Button_delete")->click();
    EXPECT_EQ((Vals{source(0), source(3), source(4), model->live_image.word(crop(6))}), (Vals{4, 4, 0x8005, 0}));
    // A crop added later into the freed record changes no window.
    page->zrv_button_input_clicked(0);
    listButton(page, "Button_add")->click();
    button(page, "Button_ok")->click();
    EXPECT_EQ(record(0)[0], 0x8002);
    EXPECT_EQ((Vals{source(0), source(3)}), (Vals{4, 4}));
    flushDeletes();
}

TEST_F(CropPageTest, KeypadValuesAreLimitedAndTakenOnlyByTheOpeningPage) {
    putCrop(0, 2, 1);
    InputCut* page = openCrop();
    list(page)->findChild<QPushButton*>("1")->click();
    typeInto(page, "lineEdit_W", "40000");
    g_lineedit = child<QLineEdit>(page, "lineEdit_H");  // an empty value
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("");
    typeInto(page, "lineEdit_Y", "32768");
    typeInto(page, "lineEdit_X", "0");
    EXPECT_EQ(fields(page), (QStringList{"0", "32767", "32767", "1"}));

    // Another page's field of the same name has the keypad.
    QDialog other;
    auto* foreign = new QLineEdit(&other);
    foreign->setObjectName("lineEdit_W");
    g_lineedit = foreign;
    emit g_numberkeyboard->sendKeyBoardUIDataToLineEdit("777");
    EXPECT_EQ(field(page, "lineEdit_W"), "32767");
    EXPECT_EQ(foreign->text(), "");
    button(page, "Button_ok")->click();
    EXPECT_EQ(record(0), (Vals{0x8002, 0, 32767, 32767, 1}));
}

TEST_F(CropPageTest, AnEditedCropIsPersistedAfterTheChangeSignal) {
    putCrop(3, 2, 1);
    InputCut* page = openCrop();
    list(page)->findChild<QPushButton*>("1")->click();
    typeInto(page, "lineEdit_W", "1280");
    button(page, "Button_ok")->click();
    SyncUpdate::pInstance()->para_sync(1);
    const std::string file = readHostFile(hostPath(ZrvFiles::RAM_DEVICE_INFO));
    const size_t at = RamFile::DATA_OFFSET + crop(3) + CROP_W - PERSIST_BEGIN;
    ASSERT_GT(file.size(), at + 1);
    EXPECT_EQ((Vals{u8(file[at]), u8(file[at + 1])}), (Vals{1280 & 0xFF, 1280 >> 8}));
    flushDeletes();
}

TEST_F(CropPageTest, BackReturnsToTheSourcePageWithItsCountsElseToTheSettingsMenu) {
    PageRegistry::open(PageRegistry::SourceSelect);
    InputChoose* source = g_inputchoose.data();
    grid(source)->findChild<QPushButton*>("Button_menu")->click();
    child<QPushButton>(source, "Button_inputcut")->click();
    InputCut* page = g_inputcut.data();
    ASSERT_TRUE(page);
    listButton(page, "Button_add")->click();
    button(page, "Button_ok")->click();
    PageRegistry::back(PageRegistry::Crop);
    EXPECT_FALSE(g_inputcut);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::SourceSelect);
    EXPECT_EQ(child<QLabel>(source, "label_HDMI1_num")->text(), "(2)");
    flushDeletes();

    PageRegistry::open(PageRegistry::Settings);
    g_option->on_input_cut_clicked();
    ASSERT_TRUE(g_inputcut);
    source->on_Button_back_clicked();
    PageRegistry::back(PageRegistry::Crop);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    flushDeletes();
}

}  // namespace
