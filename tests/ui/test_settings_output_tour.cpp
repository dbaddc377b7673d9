// The output page and its two sub-pages in every language: saved under the
// build folder's "tour/" and checked for texts that do not fit.
#include "page_tour.h"

#include "ui/settings/outputset.h"
#include "ui/shell/fpga_panel.h"

#include <QComboBox>
#include <QPushButton>

namespace {

struct WidePorts : FpgaPanel::Backend {
    bool portRegion(int port, FpgaPanel::PortRegion* r) override {
        *r = FpgaPanel::PortRegion{u16(16000 - port), 16376, 8192, 4096};
        return true;
    }
    bool requestLedReinit() override { return false; }
};

class OutputTourTest : public TourTest {
protected:
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        delete g_outputset.data();
        TourTest::TearDown();
    }
};

TEST_F(OutputTourTest, OutputPageInEveryLanguage) {
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
