// The service pages in every language: saved under the build folder's
// "tour/" and checked for texts that do not fit.
#include "page_tour.h"
#include "service_fixture.h"

namespace {

class ServiceTourTest : public TourTest {
protected:
    void SetUp() override {
        TourTest::SetUp();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
    }
    void stickFiles(const QString& folder, const QStringList& names) {
        const QString dir = QString::fromStdString(hostPath("/mnt/usb1/" + folder.toStdString()));
        QDir().mkpath(dir);
        for (const QString& n : names) QFile(dir + "/" + n).open(QIODevice::WriteOnly);
    }

    void TearDown() override {
        delete g_test_chart.data();
        delete g_linkoption.data();
        TourTest::TearDown();
    }
};

TEST_F(ServiceTourTest, ServicePagesInEveryLanguage) {
    g_mainwindow->move(70, 40);
    stickFiles("ZRV-K46", {"a.ZRV", "b.ZRV", "c.ZRVZK", "upgrade_2026_12_07.ZRVZK"});
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

}  // namespace
