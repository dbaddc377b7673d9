// The whole road of the video settings pages on the simulated board: a crop
// made on the crop page and chosen on the source page reaches the c331 and
// the image file; an EDID saved for HDMI1 becomes a custom-EDID request; a
// contrast set on the image quality page reaches the chip's gain and the file.
#include "video_engine/test_c331_pipe_env.h"
#include "image_file.h"

#include "ui/settings/edidset.h"
#include "ui/settings/imagequality.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/inputcut.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/syncupdate.h"
#include "video_io/source_handover.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMutexLocker>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {

using namespace RamOffset;

class SettingsRoadTest : public C331PipeEnv {
protected:
    void SetUp() override {
        C331PipeEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        model->live_image.setWord(LANGUAGE, 1);
        model->shadow_image.setWord(LANGUAGE, 1);
        g_language = 1;
        install = std::make_unique<ModelInstall>(model.get());
        chip->setImage(nullptr);  // the model's live image
        g_force_bkcolor = 1;
        g_set_led_para = 0;

        ShellText::installFont();
        PageRegistry::reset();
        SettingsPages::install();
        PageRegistry::setDialogsBlocking(false);
        NumberKeyboard::clearAnswers();
        g_mainwindow = new MainWindow();
        g_lockwindow = new LockWindow();
        g_page_focus = PageRegistry::MainMenu;
    }
    void TearDown() override {
        delete g_imagequality.data();
        delete g_option.data();
        delete g_edidset.data();
        delete g_inputcut.data();
        delete g_inputchoose.data();
        delete g_lockwindow.data();
        delete g_mainwindow.data();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        PageRegistry::reset();
        PageRegistry::setDialogsBlocking(true);
        leaveManagerEmpty(model->live_image);
        install.reset();
        model.reset();
        C331PipeEnv::TearDown();
    }
    // The c331 side applies what the pages wrote and signals the change,
    // which the dispatcher serves: page refresh, then persisting.
    void applied() {
        m->apply_pass();
        SyncUpdate::pInstance()->para_sync(1);
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void typeInto(QWidget* page, const char* name, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(page->findChild<QLineEdit*>(name), Qt::LeftButton);
    }
    QPushButton* button(QWidget* page, const char* name) { return page->findChild<QPushButton*>(name); }
    Vals fileWords(u32 offset, int words) { return persistedWords(offset, words); }

    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
};

TEST_F(SettingsRoadTest, ACropMadeAndChosenOnThePagesReachesTheChipAndTheFile) {
    plug(2, 1920, 1080, 60);
    m->init_chip();
    ASSERT_EQ(m->thread_state.load(), 6);
    m->poll_step();
    ASSERT_EQ(m->gMwin.wincnt, 1);

    PageRegistry::open(PageRegistry::SourceSelect);
    InputChoose* source = g_inputchoose.data();
    ASSERT_TRUE(source);
    button(source, "Button_menu")->click();
    button(source, "Button_inputcut")->click();
    InputCut* cut = g_inputcut.data();
    ASSERT_TRUE(cut);
    button(cut, "Button_add")->click();
    typeInto(cut, "lineEdit_W", "960");
    typeInto(cut, "lineEdit_H", "540");
    button(cut, "Button_ok")->click();
    applied();
    PageRegistry::back(PageRegistry::Crop);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::SourceSelect);

    QFrame* grid = source->findChild<QFrame*>("frame");
    QStringList names;
    for (QLabel* l : grid->findChildren<QLabel*>("label_name")) names << l->text();
    EXPECT_EQ(names, (QStringList{"HDMI1", "HDMI1_crop1"}));
    EXPECT_EQ(source->findChild<QLabel*>("label_HDMI1_num")->text(), "(2)");
    grid->findChild<QPushButton*>("1")->click();
    applied();

    // "Using" moved to the crop; the file holds the crop and the source word.
    grid = source->findChild<QFrame*>("frame");
    ASSERT_TRUE(grid->findChild<QPushButton*>("1"));
    EXPECT_TRUE(grid->findChild<QPushButton*>("1")->parentWidget()->findChild<QLabel*>("label_using"));
    EXPECT_EQ(fileWords(RamOffset::crop(0), 5), (Vals{0x8002, 0, 0, 960, 540}));
    EXPECT_EQ(fileWords(win(0) + WIN_SOURCE, 1), (Vals{0x8000}));
    // The chip shows window 0 on the crop: 960 x 540 read from HDMI1.
    EXPECT_EQ((Vals{m->gWininfo[0].input, m->gWininfo[0].crop, m->IWIN[0].HW, m->IWIN[0].VW}),
              (Vals{2, 0, 960, 540}));

    // An EDID for HDMI1: one request of input 2 after the pass.
    const u32 before = source_handover::custom_edid_requests(2);
    button(source, "Button_menu")->click();
    button(source, "Button_EDID")->click();
    EDIDset* edidPage = g_edidset.data();
    ASSERT_TRUE(edidPage);
    button(edidPage, "Button_source")->click();
    typeInto(edidPage, "lineEdit_W", "1280");
    typeInto(edidPage, "lineEdit_H", "720");
    button(edidPage, "Button_left")->click();
    button(edidPage, "Button_ok")->click();
    applied();
    EXPECT_EQ(source_handover::custom_edid_requests(2) - before, 1u);
    EXPECT_EQ(fileWords(edid(2), 3), (Vals{1280, 720, 30}));
}

TEST_F(SettingsRoadTest, ContrastReleasedOnTheQualityPageReachesTheChipAndTheFile) {
    plug(2, 1920, 1080, 60);
    m->init_chip();
    ASSERT_EQ(m->thread_state.load(), 6);
    m->poll_step();

    g_mainwindow->findChild<QAbstractButton*>("Button_option")->click();
    ASSERT_TRUE(g_option);
    g_option->findChild<QAbstractButton*>("Button_quality")->click();
    ImageQuality* page = g_imagequality.data();
    ASSERT_TRUE(page);
    QSlider* contrast = page->findChild<QSlider*>("horizontalSlider_contrast");
    contrast->setSliderDown(true);
    contrast->setValue(60);
    contrast->setSliderDown(false);
    applied();
    EXPECT_EQ(reg16(0x0C, 0x28), 613);
    EXPECT_EQ(fileWords(CONTRAST, 1), (Vals{60}));
}

}  // namespace
