// The service pages in every language: saved under the build folder's
// "tour/" and checked for texts that do not fit.
#include "page_tour.h"
#include "service_fixture.h"

#include "fpga/fpga_manage.h"
#include "ui/service/smartmapping.h"

#include <QStackedWidget>
#include <memory>

namespace {

class ServiceTourTest : public TourTest {
protected:
    void SetUp() override {
        TourTest::SetUp();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
    }
    std::unique_ptr<fpga_manage> wizardManager;

    void TearDown() override {
        delete g_smartmapping.data();
        fpga_manage::p_fpga_manage = nullptr;
        wizardManager.reset();
        delete g_test_chart.data();
        delete g_linkoption.data();
        FpgaPanel::setUsbGradeTimeReader(nullptr);
        FpgaPanel::setUsbGradeFailedReader(nullptr);
        TourTest::TearDown();
    }
};

TEST_F(ServiceTourTest, ServicePagesInEveryLanguage) {
    g_mainwindow->move(70, 40);
    touchFiles("/mnt/usb1/ZRV-K46", {"a.ZRV", "b.ZRV", "c.ZRVZK", "upgrade_2026_12_07.ZRVZK"});
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        PageRegistry::open(PageRegistry::Communication);
        LinkOption* link = g_linkoption.data();
        visit(link, "communication_serial", lang);
        link->on_Button_wlan_clicked();
        visit(link, "communication_network", lang);
        link->on_Button_usb_clicked();
        visit(link, "communication_usb", lang);
        QDir(QString::fromStdString(hostPath("/mnt/usb1"))).rename("ZRV-K46", "gone");
        link->syncUpdate(101);
        visit(link, "communication_usb_nofile", lang);
        QDir(QString::fromStdString(hostPath("/mnt/usb1"))).rename("gone", "ZRV-K46");
        link->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        PageRegistry::open(PageRegistry::TestPattern);
        test_chart* pattern = g_test_chart.data();
        pattern->findChild<QPushButton*>("5")->click();
        visit(pattern, "test_pattern", lang);
        pattern->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

// The language changes while the USB tab is in front with a failed run's
// outcome on it: the outcome and every other text follow; the confirmation
// tip the change brings lies over the list.
TEST_F(ServiceTourTest, UsbTabRelabelledInFrontInEveryLanguage) {
    g_mainwindow->move(70, 40);
    touchFiles("/mnt/usb1/ZRV-K46", {"a.ZRV", "c.ZRVZK"});
    FpgaPanel::setUsbGradeTimeReader([] { return QStringLiteral("9:5:7    9:6:30"); });
    FpgaPanel::setUsbGradeFailedReader([] { return true; });
    PageRegistry::open(PageRegistry::Communication);
    LinkOption* link = g_linkoption.data();
    ASSERT_TRUE(link);
    link->on_Button_usb_clicked();
    link->syncUpdate(104);
    for (int lang : {2, 3, 4, 0, 1}) {
        model->live_image.setWord(RamOffset::LANGUAGE, u16(lang));
        SyncUpdate::pInstance()->para_sync(1);
        ASSERT_EQ(g_tip->kind(), TIP::Confirm);
        visit(link, "communication_usb_relabelled_tip", lang);
        g_tip->tip_create(TIP::RemoveOnly);
        visit(link, "communication_usb_relabelled", lang);
    }
}

// Every sub-page of the wizard, its sixteen routing pictures and a file
// list of device and stick files.
TEST_F(ServiceTourTest, SmartSetupWizardInEveryLanguage) {
    g_mainwindow->move(70, 40);
    wizardManager = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = wizardManager.get();
    ASSERT_EQ(wizardManager->initialize(false), 0);
    const QString device = QString::fromStdString(hostPath("/data/smartmapping"));
    touchFiles("/data/smartmapping", {"QDFR_hall-2.qdfile", "lobby_wall_left.qdfile"});
    touchFiles("/mnt/usb1", {"stage.qdfile", "QDFR07", "backup_2026_12_07_night_show_main_screen.qdfile", "d.qdfile"});
    g_option = new Option();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        g_page_focus = PageRegistry::Settings;
        g_option->on_smart_mapping_clicked();
        SmartMapping* w = g_smartmapping.data();
        ASSERT_TRUE(w);
        visit(w, "wizard_cabinet", lang);
        w->on_Button_next_clicked();
        visit(w, "wizard_port", lang);
        w->on_Button_next_2_clicked();
        w->on_Button_route7_clicked();
        visit(w, "wizard_screen", lang);
        w->on_Button_route_clicked();
        visit(w, "wizard_routing", lang);
        w->on_Button_cancel_clicked();
        w->on_Button_loadscan_clicked();
        visit(w, "wizard_load_port", lang);
        w->on_Button_next_5_clicked();
        visit(w, "wizard_load_files", lang);
        w->zrv_Button_next_clicked();
        visit(w, "wizard_load_files2", lang);
        w->on_Button_paraweld_clicked();
        visit(w, "wizard_save", lang);
        w->on_Button_mapping_clicked();
        visit(w, "wizard_mapping", lang);
        w->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(g_smartmapping.isNull());
    }
    // No files at all: the load task is grey and its list says so.
    QDir(device).removeRecursively();
    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        g_page_focus = PageRegistry::Settings;
        g_option->on_smart_mapping_clicked();
        SmartMapping* w = g_smartmapping.data();
        w->on_Button_next_5_clicked();
        visit(w, "wizard_load_nofile", lang);
        w->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
