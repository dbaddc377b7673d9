// The service pages in every language: saved under the build folder's
// "tour/" and checked for texts that do not fit.
#include "page_tour.h"
#include "service_fixture.h"

namespace {

class ServiceTourTest : public TourTest {
protected:
    void TearDown() override {
        delete g_test_chart.data();
        TourTest::TearDown();
    }
};

TEST_F(ServiceTourTest, ServicePagesInEveryLanguage) {
    g_mainwindow->move(70, 40);
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        PageRegistry::open(PageRegistry::TestPattern);
        test_chart* pattern = g_test_chart.data();
        pattern->findChild<QPushButton*>("5")->click();
        visit(pattern, "test_pattern", lang);
        pattern->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace
