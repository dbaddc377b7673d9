// The advanced dialog's card check and self-recovery sub-page, with the
// test in place of the FPGA thread: it answers through the job notifier and
// the job word as the thread would.
#include "advanced_fixture.h"

#include "core/logMsg.h"
#include "fpga/fpga_manage.h"
#include "platform/fileops.h"

namespace {

class RecoveryPageTest : public AdvancedTest {
protected:
    void SetUp() override {
        AdvancedTest::SetUp();
        g_send_para.finish();
        g_send_para.card_to_recover.store(0xFFFF);
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
    }
    void TearDown() override {
        g_send_para.finish();
        g_send_para.card_to_recover.store(0xFFFF);
        AdvancedTest::TearDown();
        manager.reset();
    }
    void files(int n) {
        ASSERT_TRUE(FileOps::makeDirs("/data/rcvrecovery"));
        for (int i = 0; i < n; ++i) writeHostFile(hostPath("/data/rcvrecovery/QDFX" + std::to_string(i)), "x");
    }
    // What the job's end brings the page: the finding, then the change.
    void found(const QString& entry, u16 card) {
        fpga_job_notifier::get().entry_found(entry);
        g_send_para.card_to_recover.store(card);
        model->test_signal(1);
        settle();
    }
    void jobEnds(u8 job) {
        g_send_para.finish();
        fpga_job_notifier::get().progress(job, 100);
        QApplication::processEvents();
    }
    QStringList rows(AdvancedOption* page) {
        QStringList out;
        if (!page->fileFrame()) return out;
        for (QLabel* l : page->fileFrame()->findChildren<QLabel*>()) out << l->text();
        return out;
    }
    QString style(AdvancedOption* page) { return page->form()->Button_rcv_recovery->styleSheet(); }
    int logged(const char* text) {
        return QString::fromStdString(readHostFile(hostPath(kLogFile))).count(QLatin1String(text));
    }
    std::unique_ptr<fpga_manage> manager;
};

const char* const kEmpty = "No receiving cards that need to be updated!";

TEST_F(RecoveryPageTest, EntryFollowsTheFolderAndClosesWhenTheFilesAreGone) {
    AdvancedOption* page = openAdvanced();
    EXPECT_EQ(page->recoveryFileCount(), 0);
    EXPECT_EQ(style(page), "background-color: gray;color:rgb(255,255,255)");
    page->on_Button_rcv_recovery_clicked();
    EXPECT_EQ(page->form()->stackedWidget->currentIndex(), 0);

    // A package stored over the protocol while the dialog is open.
    files(1);
    PageRegistry::refresh(PageRegistry::Advanced, 103);
    EXPECT_EQ(page->recoveryFileCount(), 1);
    EXPECT_EQ(style(page), "background-color: #10101C;color:rgb(255,255,255)");
    page->on_Button_rcv_recovery_clicked();
    EXPECT_EQ((Vals{page->form()->stackedWidget->currentIndex(), page->rcv_self_recovery_ornot()}), (Vals{1, 1}));
    EXPECT_EQ(rows(page), (QStringList{kEmpty}));
    page->language_changed();
    EXPECT_EQ(style(page), "background-color: rgb(71, 119, 255); color:rgb(255,255,255)");

    // 256 files are still files.
    files(256);
    page->language_changed();
    EXPECT_EQ(page->recoveryFileCount(), 255);

    // Deleted: with the sub-page shown the dialog closes.
    ASSERT_TRUE(FileOps::removePath("/data/rcvrecovery"));
    ASSERT_TRUE(FileOps::makeDirs("/data/rcvrecovery"));
    PageRegistry::refresh(PageRegistry::Advanced, 103);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ((Vals{g_advancedoption.isNull(), g_page_focus.load()}), (Vals{1, 5}));

    // Without the folder the count keeps its value.
    page = openAdvanced();
    files(2);
    page->language_changed();
    ASSERT_TRUE(FileOps::removePath("/data/rcvrecovery"));
    page->language_changed();
    EXPECT_EQ(page->recoveryFileCount(), 2);
}

TEST_F(RecoveryPageTest, CheckFindsACardAndSelfRecoveryRunsOnlyForACardTheFileDescribes) {
    files(1);
    AdvancedOption* page = openAdvanced();
    page->on_Button_rcv_recovery_clicked();
    Ui_AdvancedOption* ui = page->form();

    QTest::mouseClick(ui->Button_check, Qt::LeftButton);
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_qround_bar.isNull()}), (Vals{5, 0}));
    EXPECT_EQ(rows(page), (QStringList{kEmpty}));
    EXPECT_EQ(ui->Button_check->styleSheet().left(25), "background-color:#4777FF;");
    // While the job runs: a second check, the menu and back do nothing.
    QTest::mouseClick(ui->Button_check, Qt::LeftButton);
    EXPECT_EQ(logged("card check refused"), 1);
    page->on_Button_other_clicked();
    page->on_Button_back_clicked();
    EXPECT_EQ((Vals{ui->stackedWidget->currentIndex(), g_advancedoption.isNull()}), (Vals{1, 0}));
    fpga_job_notifier::get().progress(5, 40);
    QApplication::processEvents();
    EXPECT_EQ(g_qround_bar->value(), 40);

    // Card 5 of a port whose file describes 4: red, and no recovery.
    found("01/02/05/04", 4);
    jobEnds(5);
    EXPECT_TRUE(g_qround_bar.isNull());
    ASSERT_EQ(rows(page).size(), 1);
    EXPECT_EQ(rows(page)[0], "Find Screen01, LED02, Rcv<font color = #FF0000 >05</font>");
    EXPECT_TRUE(page->recoveryBlocked());
    QTest::mouseClick(ui->Button_self_recovery, Qt::LeftButton);
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_qround_bar.isNull()}), (Vals{0, 1}));

    // Card 3 of 4: white, and self-recovery posts job 6 with step 0.
    QTest::mouseClick(ui->Button_check, Qt::LeftButton);
    found("01/02/03/04", 2);
    jobEnds(5);
    EXPECT_EQ(rows(page), (QStringList{"Find Screen01, LED02, Rcv<font color = #FFFFFF >03</font>"}));
    QTest::mouseClick(ui->Button_self_recovery, Qt::LeftButton);
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_qround_bar.isNull()}), (Vals{6, 0}));
    EXPECT_EQ(ui->Button_self_recovery->styleSheet().left(25), "background-color:#4777FF;");

    // The recovery left no card: the list empties through code 99.
    fpga_job_notifier::get().list_to_clear();
    g_send_para.card_to_recover.store(0xFFFF);
    jobEnds(6);
    settle();
    EXPECT_EQ((Vals{page->shownCount(), page->entries().size()}), (Vals{0, 0}));
    EXPECT_EQ(rows(page), (QStringList{kEmpty}));
    page->on_Button_back_clicked();
    EXPECT_TRUE(g_advancedoption.isNull());
}

TEST_F(RecoveryPageTest, ACheckThatFindsNothingKeepsTheOlderEntryForRecovery) {
    files(1);
    AdvancedOption* page = openAdvanced();
    page->on_Button_rcv_recovery_clicked();
    found("01/03/01/02", 0);
    EXPECT_EQ(rows(page).size(), 1);
    page->on_Button_check_clicked();
    jobEnds(5);  // nothing found: no finding, no change
    EXPECT_EQ(rows(page), (QStringList{kEmpty}));
    EXPECT_EQ(page->entries(), (QStringList{"01/03/01/02"}));
    page->on_Button_self_recovery_clicked();
    EXPECT_EQ(g_send_para.job(), 6);
}

TEST_F(RecoveryPageTest, EntriesThatNameNoCardAreNeverRecoveredAndRowsNameOnlyDrawnRows) {
    files(1);
    AdvancedOption* page = openAdvanced();
    page->on_Button_rcv_recovery_clicked();
    Ui_AdvancedOption* ui = page->form();
    found("01/02/03", 2);  // no card count: shown neutral, blocks
    EXPECT_EQ(rows(page), (QStringList{"Find Screen01, LED02, Rcv<font color = #FFFFFF >03</font>"}));
    EXPECT_EQ((Vals{page->recoveryBlocked(), page->selectedRow()}), (Vals{1, 0}));
    page->on_Button_self_recovery_clicked();
    found("01/xx/03/04", 2);
    page->on_Button_self_recovery_clicked();
    EXPECT_EQ(g_send_para.job(), 0);

    // Two parts: no row at all, and the selection names none.
    found("01/02", 2);
    QPushButton* stale = nullptr;
    EXPECT_EQ((Vals{rows(page).size(), page->selectedRow(), page->recoveryBlocked()}), (Vals{0, -1, 1}));
    found("01/02/03/04", 2);
    stale = page->fileFrame()->findChild<QPushButton*>("0");
    ASSERT_TRUE(stale);
    QTest::mouseClick(stale, Qt::LeftButton);
    EXPECT_EQ(page->selectedRow(), 0);
    EXPECT_EQ(page->fileFrame()->findChildren<QLabel*>()[0]->styleSheet(), "background-color:#4777FF;color: #FFFFFF;");

    // Code 99 redraws only the shown recovery sub-page.
    page->on_Button_LCDshow_clicked();
    QFrame* before = page->fileFrame();
    page->syncUpdate(99);
    EXPECT_EQ(page->fileFrame(), before);
    EXPECT_EQ(ui->stackedWidget->currentIndex(), 0);

    // Russian: the row words stay English; traditional Chinese has its own.
    page->on_Button_rcv_recovery_clicked();
    g_language = 2;
    page->syncUpdate(99);
    EXPECT_EQ(rows(page), (QStringList{"Find Screen01, LED02, Rcv<font color = #FFFFFF >03</font>"}));
    g_language = 4;
    page->syncUpdate(99);
    EXPECT_EQ(rows(page), (QStringList{"髮現 屏幕01, 網口LED02, 接收卡<font color = #FFFFFF >03</font>"}));
}

TEST_F(RecoveryPageTest, WithoutTheManagerOrWithAJobRunningNothingIsPosted) {
    files(1);
    AdvancedOption* page = openAdvanced();
    page->on_Button_rcv_recovery_clicked();
    found("01/02/03/04", 2);

    // A job posted elsewhere: refused, one log line, no overlay.
    g_send_para.job_step.store(3);
    page->on_Button_self_recovery_clicked();
    page->on_Button_check_clicked();
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_qround_bar.isNull(), page->shownCount()}), (Vals{3, 1, 1}));
    EXPECT_EQ((Vals{logged("card recovery refused"), logged("card check refused")}), (Vals{1, 1}));
    g_send_para.finish();

    fpga_manage::p_fpga_manage = nullptr;
    page->on_Button_check_clicked();
    page->on_Button_self_recovery_clicked();
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_qround_bar.isNull()}), (Vals{0, 1}));
    EXPECT_EQ((Vals{logged("card recovery refused"), logged("card check refused")}), (Vals{2, 2}));
    fpga_manage::p_fpga_manage = manager.get();
}

TEST_F(RecoveryPageTest, FindingsOfAClosedDialogGoNowhere) {
    files(1);
    AdvancedOption* page = openAdvanced();
    page->on_Button_back_clicked();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(g_advancedoption.isNull());
    QSignalSpy changes(model.get(), &ZrvRamPara::sig_update_para);
    fpga_job_notifier::get().entry_found("01/02/03/04");
    fpga_job_notifier::get().list_to_clear();
    fpga_job_notifier::get().progress(6, 100);
    QApplication::processEvents();
    EXPECT_EQ(changes.size(), 0);
}

}  // namespace
