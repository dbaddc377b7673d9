// The video settings pages and the output page in every language: saved
// under the build folder's "tour/" and checked for texts that do not fit.
#include "page_tour.h"
#include "settings_fixture.h"

#include "ui/settings/custommode.h"
#include "ui/settings/imagelayout.h"
#include "ui/settings/imagequality.h"
#include "ui/settings/outputset.h"
#include "ui/shell/fpga_panel.h"

#include <QComboBox>

namespace {

struct WidePorts : FpgaPanel::Backend {
    bool portRegion(int port, FpgaPanel::PortRegion* r) override {
        *r = FpgaPanel::PortRegion{u16(16000 - port), 16376, 8192, 4096};
        return true;
    }
    bool requestLedReinit() override { return false; }
};

class SettingsTourTest : public TourTest {
protected:
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        delete g_outputset.data();
        delete g_custommode.data();
        delete g_imagelayout.data();
        delete g_imagequality.data();
        delete g_edidset.data();
        delete g_inputcut.data();
        delete g_inputchoose.data();
        TourTest::TearDown();
    }
    void putCrop(int r, int input, int number, int w, int h) {
        const u32 b = RamOffset::crop(u32(r));
        model->live_image.setWord(b + RamOffset::CROP_ID, u16(0x8000 | ((number - 1) << 8) | input));
        model->live_image.setWord(b + RamOffset::CROP_W, u16(w));
        model->live_image.setWord(b + RamOffset::CROP_H, u16(h));
    }
};

TEST_F(SettingsTourTest, VideoSettingsPagesInEveryLanguage) {
    model->ZrvSetSignalPara(2, 1920, 1080, 60);
    model->ZrvSetSignalPara(5, 3840, 2160, 30);
    for (int n = 1; n <= 7; ++n) putCrop(n, 2, n, 960, 540);
    model->live_image.setWord(RamOffset::win(0) + RamOffset::WIN_SOURCE, 0x8003);  // HDMI1's crop 3
    model->live_image.setWord(RamOffset::win(2) + RamOffset::WIN_ENABLE, 1);
    model->live_image.setWord(RamOffset::win(2) + RamOffset::WIN_SOURCE, 0x8005);  // HDMI1's crop 5
    model->live_image.setWord(RamOffset::win(2) + RamOffset::WIN_X, 1920);
    model->live_image.setWord(RamOffset::win(2) + RamOffset::WIN_WIDTH, 3840);
    for (int slot : {0, 2, 4}) model->user_mode[slot].marker[0] = model->user_mode[slot].marker[1] = USER_MODE_SAVED;
    model->live_image.setWord(RamOffset::LOADED_MODE, 3);
    model->shadow_image = model->live_image;
    g_mainwindow->move(70, 40);
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        PageRegistry::open(PageRegistry::SourceSelect);
        InputChoose* source = g_inputchoose.data();
        visit(source, "source_select", lang);
        source->findChild<QPushButton*>("Button_menu")->click();
        visit(source, "source_select_popup", lang);
        source->findChild<QPushButton*>("Button_inputcut")->click();
        InputCut* cut = g_inputcut.data();
        ASSERT_TRUE(cut);
        cut->findChild<QPushButton*>("Button_add")->click();
        visit(cut, "input_crop_add", lang);
        cut->findChild<QFrame*>("frame_source")->findChild<QPushButton*>("2")->click();
        visit(cut, "input_crop_edit", lang);
        cut->on_Button_back_clicked();

        source->findChild<QPushButton*>("Button_menu")->click();
        source->findChild<QPushButton*>("Button_EDID")->click();
        EDIDset* edid = g_edidset.data();
        ASSERT_TRUE(edid);
        edid->findChild<QPushButton*>("Button_source")->click();
        visit(edid, "edid_settings", lang);
        edid->on_Button_back_clicked();
        source->on_Button_back_clicked();

        PageRegistry::open(PageRegistry::Settings);
        ASSERT_TRUE(g_option);
        g_option->findChild<QAbstractButton*>("Button_quality")->click();
        ImageQuality* quality = g_imagequality.data();
        ASSERT_TRUE(quality);
        visit(quality, "image_quality", lang);
        quality->findChild<QPushButton*>("Button_temperature")->click();
        visit(quality, "image_quality_temperature", lang);
        quality->on_Button_back_clicked();
        EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);

        g_option->findChild<QAbstractButton*>("Button_layout")->click();
        ImageLayout* layout = g_imagelayout.data();
        ASSERT_TRUE(layout);
        visit(layout, "image_layout", lang);
        layout->findChild<QFrame*>("frame_windows")->findChild<QPushButton*>("2")->click();
        visit(layout, "image_layout_window3", lang);
        layout->on_Button_back_clicked();
        g_option->on_Button_back_clicked();

        g_mainwindow->findChild<QAbstractButton*>("Button_usermode")->click();
        CustomMode* modes = g_custommode.data();
        ASSERT_TRUE(modes);
        modes->findChild<QPushButton*>("Button_mode6")->click();
        visit(modes, "user_modes", lang);
        modes->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The language changes (from the PC or the advanced page) while the source
// page is in front: the grid's badge and no-signal text follow with the rest.
TEST_F(SettingsTourTest, SourcePageRelabelledInFrontInEveryLanguage) {
    for (int n = 1; n <= 3; ++n) putCrop(n, 2, n, 960, 540);
    model->shadow_image = model->live_image;  // window 0 shows HDMI1, which has no signal
    g_mainwindow->move(70, 40);
    PageRegistry::open(PageRegistry::SourceSelect);
    InputChoose* source = g_inputchoose.data();
    ASSERT_TRUE(source);
    for (int lang : {2, 3, 4, 0, 1}) {
        model->live_image.setWord(RamOffset::LANGUAGE, u16(lang));
        SyncUpdate::pInstance()->para_sync(1);
        ASSERT_EQ(g_language.load(), lang);
        visit(source, "source_select_relabelled", lang);
        source->findChild<QPushButton*>("Button_menu")->click();
        visit(source, "source_select_popup_relabelled", lang);
        source->findChild<QPushButton*>("Button_menu")->click();
    }
}

TEST_F(SettingsTourTest, OutputPageInEveryLanguage) {
    WidePorts ports;
    FpgaPanel::setBackend(&ports);
    // The widest numbers the fields can hold.
    model->live_image.setWord(RamOffset::WALL_WIDTH, 16376);
    model->live_image.setWord(RamOffset::WALL_HEIGHT, 16376);
    model->shadow_image = model->live_image;
    g_mainwindow->move(70, 40);
    PageRegistry::open(PageRegistry::Settings);
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        g_option->on_output_set_clicked();
        OutputSet* page = g_outputset.data();
        ASSERT_TRUE(page);
        visit(page, "output_led", lang);
        page->findChild<QComboBox*>("comboBox")->setCurrentIndex(0);
        visit(page, "output_led_horizontal", lang);
        page->findChild<QComboBox*>("comboBox")->setCurrentIndex(1);
        visit(page, "output_led_vertical", lang);
        page->findChild<QPushButton*>("Button_lanset")->click();
        page->findChild<QPushButton*>("Button_wlan3")->click();
        visit(page, "output_ports", lang);
        page->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
