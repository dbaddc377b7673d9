// The user-mode page: save carried out by the persisting step, recall through
// the panel's one recall (also the main menu's mode buttons), delete, the
// saved and current marks, alias names and the way back.
#include "fpga_panel_double.h"
#include "settings_fixture.h"

#include "core/JsonParse.h"
#include "ui/settings/custommode.h"

#include <QFileInfo>
#include <QTest>
#include <QToolButton>

namespace {

using namespace RamOffset;

class ModesPageTest : public SettingsTest {
protected:
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        delete g_custommode.data();
        SettingsTest::TearDown();
    }
    CustomMode* openModes() {
        QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_usermode"), Qt::LeftButton);
        return g_custommode.data();
    }
    void press(QWidget* page, const char* name) { QTest::mouseClick(child<QPushButton>(page, name), Qt::LeftButton); }
    void choose(QWidget* page, int m) { press(page, QByteArray("Button_mode").append(QByteArray::number(m)).constData()); }
    QString marks(QWidget* page, int m) { return modeMarks(page, m); }
    // What the c331 thread and the dispatcher do after an edit.
    void signalled(int code = 1) {
        c331_manage::get()->apply_flag = 0;
        SyncUpdate::pInstance()->para_sync(code);
    }
    bool modeFile(int m) const {
        return QFileInfo::exists(QString::fromStdString(hostPath(ZrvFiles::customModePath(m - 1))));
    }
    u16 word(u32 off) const { return model->live_image.word(off); }
    u8 flag() const { return c331_manage::get()->apply_flag.load(); }
};

TEST_F(ModesPageTest, SaveIsCarriedOutByThePersistingStepAndMarksTheMode) {
    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::UserModes);
    EXPECT_EQ(marks(page, 3), "");
    choose(page, 3);
    press(page, "Button_save");
    EXPECT_EQ((Vals{word(SAVE_REQUEST), flag()}), (Vals{3, 1}));
    EXPECT_FALSE(modeFile(3));
    // Pending: drawn saved and current already.
    EXPECT_EQ(marks(page, 3), "saved current");

    signalled();
    EXPECT_TRUE(modeFile(3));
    EXPECT_EQ((Vals{word(LOADED_MODE), word(SAVE_REQUEST), model->ZrvUserModeSaved(2)}), (Vals{3, 0, 1}));
    EXPECT_EQ(marks(page, 3), "saved current");
    EXPECT_EQ(marks(page, 4), "");

    // Another source chosen: mode 3 stays saved but is no longer current.
    model->ZrvSetImageSource(0, 1, 0);
    signalled();
    EXPECT_EQ(marks(page, 3), "saved");
}

TEST_F(ModesPageTest, RecallCopiesTheSnapshotOnThePageAndFromTheMainMenu) {
    model->live_image.setWord(CONTRAST, 70);
    ASSERT_EQ(model->ZrvRequestUserModeSave(5), 1);
    signalled();
    model->live_image.setWord(CONTRAST, 20);
    model->live_image.setWord(LOADED_MODE, 0);
    signalled();

    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    choose(page, 2);  // empty: recall does nothing
    press(page, "Button_recall");
    EXPECT_EQ((Vals{word(CONTRAST), flag()}), (Vals{20, 0}));
    choose(page, 5);
    press(page, "Button_recall");
    EXPECT_EQ((Vals{word(CONTRAST), word(LOADED_MODE), flag()}), (Vals{70, 5, 1}));
    EXPECT_EQ(marks(page, 5), "saved current");
    signalled();
    page->on_Button_back_clicked();
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);

    // The main menu's mode buttons: the same recall, marked; an empty slot's
    // does nothing.
    model->live_image.setWord(CONTRAST, 20);
    model->live_image.setWord(LOADED_MODE, 0);
    signalled();
    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_mode2"), Qt::LeftButton);
    EXPECT_EQ((Vals{word(CONTRAST), flag()}), (Vals{20, 0}));
    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_mode5"), Qt::LeftButton);
    EXPECT_EQ((Vals{word(CONTRAST), word(LOADED_MODE), flag()}), (Vals{70, 5, 1}));
    EXPECT_TRUE(child<QPushButton>(g_mainwindow, "Button_mode5")->styleSheet().contains("#4777FF"));
}

TEST_F(ModesPageTest, RecallOfAnotherWallRaisesTheLedRequestUnderTheManagersMutex) {
    RecordingPanel panel;
    FpgaPanel::setBackend(&panel);
    auto saveWall = [&](int m, int splice, int width) {
        model->live_image.setWord(SPLICE_MODE, u16(splice));
        model->live_image.setWord(WALL_WIDTH, u16(width));
        ASSERT_EQ(model->ZrvRequestUserModeSave(m), 1);
        signalled();
    };
    model->live_image.setWord(win(3) + WIN_ENABLE, 1);  // the mode's own windows
    saveWall(4, 3, 3840);
    model->live_image.setWord(win(3) + WIN_ENABLE, 0);
    saveWall(6, 4, 1920);

    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    choose(page, 6);  // the wall in use: no request
    press(page, "Button_recall");
    EXPECT_EQ(panel.requests, 0);
    signalled();
    choose(page, 4);
    press(page, "Button_recall");
    EXPECT_EQ((Vals{panel.requests, panel.requestsUnlocked, word(SPLICE_MODE), word(WALL_WIDTH),
                    word(win(3) + WIN_ENABLE), flag()}),
              (Vals{1, 0, 3, 3840, 1, 1}));
    signalled();
    page->on_Button_back_clicked();

    // The main menu's mode buttons go the same road.
    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_mode6"), Qt::LeftButton);
    EXPECT_EQ((Vals{panel.requests, panel.requestsUnlocked, word(WALL_WIDTH)}), (Vals{2, 0, 1920}));
    signalled();
    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_mode6"), Qt::LeftButton);
    EXPECT_EQ(panel.requests, 2);
}

TEST_F(ModesPageTest, DeleteEmptiesTheSlotRemovesTheFileAndTheCurrentMark) {
    ASSERT_EQ(model->ZrvRequestUserModeSave(7), 1);
    signalled();
    ASSERT_TRUE(modeFile(7));
    ASSERT_EQ(word(LOADED_MODE), 7);
    ASSERT_EQ(model->ZrvRequestUserModeSave(8), 1);
    signalled();
    model->live_image.setWord(LOADED_MODE, 7);
    signalled();

    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    // Deleting a mode that is not current leaves word 866.
    choose(page, 8);
    press(page, "Button_delete");
    EXPECT_EQ((Vals{modeFile(8), model->ZrvUserModeSaved(7), word(LOADED_MODE), flag()}), (Vals{0, 0, 7, 0}));
    EXPECT_EQ(marks(page, 8), "");

    choose(page, 7);
    press(page, "Button_delete");
    EXPECT_EQ((Vals{modeFile(7), model->ZrvUserModeSaved(6), word(LOADED_MODE), flag()}), (Vals{0, 0, 0, 1}));
    EXPECT_EQ(marks(page, 7), "");
    signalled();
    EXPECT_FALSE(modeFile(7));
}

TEST_F(ModesPageTest, DeleteRightAfterSaveDoesNotBringTheModeBack) {
    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    choose(page, 9);
    press(page, "Button_save");
    press(page, "Button_delete");  // before the c331 side applied the save
    EXPECT_EQ((Vals{word(SAVE_REQUEST), flag()}), (Vals{0, 1}));
    signalled();
    EXPECT_FALSE(modeFile(9));
    EXPECT_EQ(marks(page, 9), "");
}

TEST_F(ModesPageTest, NamesComeFromTheAliasFileElseModeN) {
    writeHostFile(hostPath(kAliasFile), R"({"namelist":{"usermode":[
        {"id":2,"valid":"on","name":"Concert"},{"id":5,"valid":"off","name":"Hidden"},
        {"id":16,"valid":"on","name":""}]}})");
    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    QStringList names;
    for (int m : {1, 2, 5, 16}) names << child<QPushButton>(page, QByteArray("Button_mode").append(QByteArray::number(m)))->text();
    EXPECT_EQ(names, (QStringList{"Mode 1", "Concert", "Mode 5", "Mode 16"}));

    model->live_image.setWord(LANGUAGE, 2);
    PageRegistry::refresh(PageRegistry::UserModes, 1);
    EXPECT_EQ(child<QPushButton>(page, "Button_mode1")->text(), QString::fromUtf8("Режим 1"));
    EXPECT_EQ(child<QPushButton>(page, "Button_save")->text(), QString::fromUtf8("Сохранить"));
}

TEST_F(ModesPageTest, SlotsWrittenByThePcAreRedrawnWithCodeTwo) {
    CustomMode* page = openModes();
    ASSERT_TRUE(page);
    USER_MODE_SLOT& slot = model->user_mode[10];
    slot.marker[0] = slot.marker[1] = USER_MODE_SAVED;
    signalled(2);
    EXPECT_EQ(marks(page, 11), "saved");
    EXPECT_TRUE(modeFile(11));
}

}  // namespace
