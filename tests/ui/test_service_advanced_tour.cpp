// The advanced dialog in every language: each sub-page saved under the
// build folder's "tour/" and checked for texts that do not fit.
#include "page_tour.h"

#include "core/config_engine.h"
#include "fpga/fpga_manage.h"
#include "platform/fileops.h"
#include "ui/service/advancedoption.h"
#include "ui/service/ui_advancedoption.h"

namespace {

class AdvancedTourTest : public TourTest {
protected:
    void SetUp() override {
        TourTest::SetUp();
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        factoryage_log.clear();
    }
    void TearDown() override {
        delete g_advancedoption.data();
        factoryage_log.clear();
        TourTest::TearDown();
        manager.reset();
    }
    std::unique_ptr<fpga_manage> manager;
};

TEST_F(AdvancedTourTest, EverySubPageInEveryLanguage) {
    g_mainwindow->move(70, 40);
    ASSERT_TRUE(FileOps::makeDirs("/data/rcvrecovery"));
    writeHostFile(hostPath("/data/rcvrecovery/QDFX"), "x");
    for (int i = 0; i < 20; ++i)
        MainWindow::appendAgeLine(QStringLiteral("12-07 1%1:%2 %3 %4 7 %5 31 12")
                                      .arg(i / 6)
                                      .arg(i % 6 * 10, 2, 10, QLatin1Char('0'))
                                      .arg(i * 7 % 256)
                                      .arg(i % 32)
                                      .arg(i * 11 % 256));
    c331_manage::get()->set_font_status(0x3);
    for (int lang = 0; lang < 5; ++lang) {
        g_language = u8(lang);
        g_page_focus = PageRegistry::Settings;
        PageRegistry::open(PageRegistry::Advanced);
        AdvancedOption* page = g_advancedoption.data();
        ASSERT_TRUE(page);
        visit(page, "advanced_idle", lang);
        page->on_Button_rcv_recovery_clicked();
        visit(page, "advanced_recovery_empty", lang);
        fpga_job_notifier::get().entry_found(QStringLiteral("01/12/05/04"));
        QApplication::processEvents();
        page->rcv_self_recovery_file_list();
        visit(page, "advanced_recovery_row", lang);
        page->on_Button_timeplan_clicked();
        // Two narrow widgets of the form hold long Vietnamese texts, fitted
        // to their final width at 13 px.
        const QStringList narrow = {QStringLiteral("Button_plan"), QStringLiteral("label_seamless")};
        visit(page, "advanced_timeplan", lang, true, narrow);
        page->on_Button_other_clicked();
        visit(page, "advanced_other", lang, true, narrow);
        page->on_Button_factory_clicked();
        visit(page, "advanced_languages", lang);
        page->on_Button_reset_clicked();
        page->on_Button_reset2_clicked();
        // The reset brought the factory language (Chinese) into the image:
        // the tour keeps its own.
        model->live_image.setByte(RamOffset::LANGUAGE, u8(lang));
        visit(page, "advanced_resets", lang);
        NumberKeyboard::setNextAnswer(QStringLiteral("5719"));
        page->on_Button_factory_age_clicked();
        // The log and its summary are set in 9 pt by the page's form.
        const QStringList logLines = {QStringLiteral("label_log1"), QStringLiteral("label_3")};
        visit(page, "advanced_ageing_log", lang, true, logLines);
        page->on_next_clicked();
        visit(page, "advanced_ageing_log_page2", lang, true, logLines);
        page->on_Button_back_clicked();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    c331_manage::get()->set_font_status(0);
}

}  // namespace
