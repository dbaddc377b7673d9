// The advanced dialog's card check and self-recovery on the whole road: the
// FPGA thread running on its own over simulated card chains, a recovery
// package sent by the PC through the command dispatcher while the dialog is
// open, the jobs started from the dialog's buttons; and an ageing sample
// read from the simulated FPGAs.
#include "advanced_fixture.h"
#include "fpga/fpga_env.h"
#include "fpga/pc_file.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/tip.h"

#include <algorithm>
#include <mutex>

namespace {

class AdvancedRoadTest : public AdvancedTest {
protected:
    void SetUp() override {
        AdvancedTest::SetUp();
        pc_cmd_valid.store(0);
        g_usb_grade.store(0);
        g_set_led_para.store(0);
        g_set_led_setup.store(0);
        g_fpga_c331_start.store(0);
        g_force_bkcolor.store(1);
        g_send_para.finish();
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
    }
    void TearDown() override {
        if (m) m->stop();
        g_send_para.finish();
        AdvancedTest::TearDown();
        m.reset();
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
        g_fpga_c331_start.store(0);
    }
    // Cards per port, then a manager whose own thread brings both FPGAs up
    // and searches the chains.
    void start(const std::string& ports, const std::string& more) {
        ASSERT_TRUE(board().scenario().loadJson("{\"ports\": " + ports + more + "}"));
        u16 expected = 0;
        for (u16 c : board().scenario().snapshot().cardsPerPort) expected = u16(expected + c);
        m = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = m.get();
        ASSERT_EQ(m->initialize(true), 0);
        for (int k = 0; k < 2; ++k) {
            board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
            source_handover::g_output_clock_state[k].store(2);
        }
        g_fpga_c331_start.store(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m->get_fpga_status() && m->total_cards == expected; }, kThreadWorkMs));
        g_send_para.job_step.store(0);
    }
    QStringList rows(AdvancedOption* page) {
        QStringList out;
        if (page->fileFrame())
            for (QLabel* l : page->fileFrame()->findChildren<QLabel*>()) out << l->text();
        return out;
    }

    // The recovery page shown, a package sent by the PC, then a check run
    // from the page to its end, the job's change signal served.
    void sendPackage(AdvancedOption* page, const pkg::Package& p) {
        ASSERT_EQ(pkg::sendFile(deal, PcFile::RecoveryFile, "package.bin", pkg::package(p)), 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(page->recoveryFileCount()), 1, kThreadWorkMs);
        QTest::mouseClick(page->form()->Button_rcv_recovery, Qt::LeftButton);
    }
    // The job reads as ended before the FPGA thread's turn that ended it is
    // over (a failed one raises its change after that): the turn is let end,
    // then whatever change it raised is served.
    void runFromPage(QPushButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(g_qround_bar.isNull() && g_send_para.idle(), kThreadWorkMs);
        turnEnded();
        settle();
    }
    // Wakes the FPGA thread and waits until it took the wake-up, which it
    // does only between two turns.
    void turnEnded() {
        fpga_handover::wake_fpga_thread();
        QTRY_VERIFY_WITH_TIMEOUT(wakeTaken(), kThreadWorkMs);
    }
    static bool wakeTaken() {
        std::lock_guard<std::mutex> lock(fpga_handover::g_wake_mutex);
        return !fpga_handover::g_wake_pending;
    }
    SimFpga& simFpga(int k) { return *std::dynamic_pointer_cast<SimFpga>(board().spiModel(fpgareg::kSpiDevices[k])); }

    std::unique_ptr<fpga_manage> m;
    message_deal deal;
};

const char* const kNothingToUpdate = "No receiving cards that need to be updated!";

TEST_F(AdvancedRoadTest, APackageSentWhileOpenIsCheckedAndTheCardRecovered) {
    start(R"({"2": 3, "3": 2})", R"(, "card_identity": {"2": 21930, "3": 21930}, "needs_recovery": {"3": [1]})");
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    EXPECT_EQ(page->recoveryFileCount(), 0);

    pkg::Bytes table(1800);
    for (size_t i = 0; i < table.size(); ++i) table[i] = u8(i * 13 + 7);
    pkg::Net first{2, {{pkg::save()}, {pkg::save()}, {pkg::save()}}};
    pkg::Net second{3, {{pkg::ramWrite(0x400, {9, 9})}, {pkg::ramWrite(0x2000, table)}}};
    ASSERT_EQ(pkg::sendFile(deal, PcFile::RecoveryFile, "package.bin", pkg::package({{{0x55AA, {first, second}, {}}}})),
              0);
    QTRY_COMPARE_WITH_TIMEOUT(int(page->recoveryFileCount()), 1, kThreadWorkMs);
    EXPECT_EQ(ui->Button_rcv_recovery->styleSheet(), "background-color: #10101C;color:rgb(255,255,255)");

    QTest::mouseClick(ui->Button_rcv_recovery, Qt::LeftButton);
    QTest::mouseClick(ui->Button_check, Qt::LeftButton);
    EXPECT_FALSE(g_qround_bar.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(g_qround_bar.isNull() && g_send_para.idle(), kThreadWorkMs);
    QTRY_COMPARE_WITH_TIMEOUT(rows(page), (QStringList{"Find Screen01, LED04, Rcv<font color = #FFFFFF >02</font>"}),
                              kThreadWorkMs);
    EXPECT_EQ(page->entries(), (QStringList{"01/04/02/02"}));

    QTest::mouseClick(ui->Button_self_recovery, Qt::LeftButton);
    EXPECT_FALSE(g_qround_bar.isNull());
    QSignalSpy progress(page, &AdvancedOption::sig_qround_bar_update);
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().at(0).toInt() == 100, kThreadWorkMs);
    QTRY_COMPARE_WITH_TIMEOUT(rows(page), (QStringList{"No receiving cards that need to be updated!"}), kThreadWorkMs);
    EXPECT_EQ((Vals{page->shownCount(), page->entries().size(), g_qround_bar.isNull()}), (Vals{0, 0, 1}));
    const SimFpga::Card card = std::dynamic_pointer_cast<SimFpga>(board().spiModel(fpgareg::kSpiDevices[0]))->card(3, 1);
    pkg::Bytes got;
    for (u32 i = 0; i < table.size(); ++i) got.push_back(card.ram.count(0x2000 + i) ? card.ram.at(0x2000 + i) : 0);
    EXPECT_EQ(got, table);

    // Back works again, and the files deleted over the protocol leave the
    // next dialog's entry grey.
    page->on_Button_back_clicked();
    EXPECT_TRUE(g_advancedoption.isNull());
    deal.delete_file_name();
    page = openAdvanced();
    EXPECT_EQ(page->recoveryFileCount(), 0);
}

TEST_F(AdvancedRoadTest, ACheckThatFailsSaysSoAndOneThatFindsNothingKeepsItsText) {
    start(R"({"3": 2})", R"(, "card_identity": {"3": 21930})");
    AdvancedOption* page = openAdvanced();
    const pkg::Package good{{{0x55AA, {{3, {{pkg::save()}, {pkg::save()}}}}, {}}}};
    pkg::Package noScreen = good;
    noScreen.screenFile = false;
    sendPackage(page, noScreen);
    runFromPage(page->form()->Button_check);
    // The job's change signal brings no confirmation over the failure.
    EXPECT_EQ(g_tip->kind(), TIP::Failed);
    EXPECT_EQ(g_tip->text(), "Receiving card query failed!");
    EXPECT_EQ(rows(page), (QStringList{"Receiving card query failed!"}));

    sendPackage(page, good);
    g_tip->tip_create(TIP::RemoveOnly);  // the confirmation of the stored file
    runFromPage(page->form()->Button_check);
    EXPECT_EQ(rows(page), (QStringList{kNothingToUpdate}));
    EXPECT_NE(g_tip->kind(), TIP::Failed);
}

TEST_F(AdvancedRoadTest, ACardBeyondThePackagesCardsIsShownRedAndNotRecovered) {
    // Three cards on LED4, the third asking for its data; the package
    // describes two.
    start(R"({"3": 3})", R"(, "card_identity": {"3": 21930}, "needs_recovery": {"3": [2]})");
    AdvancedOption* page = openAdvanced();
    sendPackage(page, {{{0x55AA, {{3, {{pkg::save()}, {pkg::save()}}}}, {}}}});
    runFromPage(page->form()->Button_check);
    EXPECT_EQ(page->entries(), (QStringList{"01/04/03/02"}));
    EXPECT_EQ(rows(page), (QStringList{"Find Screen01, LED04, Rcv<font color = #FF0000 >03</font>"}));
    EXPECT_TRUE(page->recoveryBlocked());

    simFpga(0).clearLog();
    QTest::mouseClick(page->form()->Button_self_recovery, Qt::LeftButton);
    EXPECT_TRUE(g_qround_bar.isNull());
    EXPECT_TRUE(g_send_para.idle());
    EXPECT_EQ(page->entries(), (QStringList{"01/04/03/02"}));
}

TEST_F(AdvancedRoadTest, ARecoveryThatMeetsAnotherCardShowsThatCard) {
    start(R"({"3": 3})", R"(, "card_identity": {"3": 21930}, "needs_recovery": {"3": [1]})");
    AdvancedOption* page = openAdvanced();
    // Card 1's operations end with a search of the port for the package's
    // cards (identity 0x55AA at bytes 7-10 of its data).
    pkg::Op search{7, 0, 0, 100, pkg::Bytes(19, 0)};
    pkg::put32(search.data, 7, 0x55AA);
    sendPackage(page, {{{0x55AA, {{3, {{pkg::save()}, {pkg::save(), search}, {pkg::save()}}}}, {}}}});
    runFromPage(page->form()->Button_check);
    ASSERT_EQ(page->entries(), (QStringList{"01/04/02/03"}));

    // Card 1 takes its data back; card 2 has lost its own meanwhile.
    SimFpga::Card one = simFpga(0).card(3, 1), two = simFpga(0).card(3, 2);
    one.needsRecovery = false;
    two.needsRecovery = true;
    simFpga(0).setCard(3, 1, one);
    simFpga(0).setCard(3, 2, two);
    runFromPage(page->form()->Button_self_recovery);
    EXPECT_EQ(simFpga(0).card(3, 1).saves, 1);
    EXPECT_EQ(page->entries(), (QStringList{"01/04/03/03"}));
    EXPECT_EQ(rows(page), (QStringList{"Find Screen01, LED04, Rcv<font color = #FFFFFF >03</font>"}));
    EXPECT_EQ(page->shownCount(), 1u);
}

TEST_F(AdvancedRoadTest, AnAgeingSampleReadsFpga0ThenFpga1AndWritesCounterStatusAndThird) {
    start(R"({"3": 1})", "");
    m->stop();  // only the sample reads the registers now
    const u8 values[2][3] = {{7, 27, 200}, {99, 5, 0}};  // registers 42, 40, 43
    for (int k = 0; k < 2; ++k)
        for (int r = 0; r < 3; ++r) simFpga(k).setReg(u8(r == 0 ? 42 : r == 1 ? 40 : 43), values[k][r]);
    factoryage_log.clear();
    board().clearEventLog();
    board().enableEventLog(true);
    g_mainwindow->getagelog();
    board().enableEventLog(false);
    ASSERT_EQ(factoryage_log.size(), 1);
    EXPECT_EQ(factoryage_log[0].section(' ', 2), "7 27 200 99 5 0");
    std::vector<std::string> reads[2];
    std::vector<int> fpgaOrder;
    for (const std::string& e : board().eventLog()) {
        for (int k = 0; k < 2; ++k) {
            const std::string head = "spi fpga" + std::to_string(k) + " R ";
            if (e.rfind(head, 0) != 0) continue;
            reads[k].push_back(e.substr(head.size()));
            if (fpgaOrder.empty() || fpgaOrder.back() != k) fpgaOrder.push_back(k);
        }
    }
    for (auto& r : reads) std::sort(r.begin(), r.end());
    EXPECT_EQ(reads[0], (std::vector<std::string>{"40", "42", "43"}));
    EXPECT_EQ(reads[1], (std::vector<std::string>{"40", "42", "43"}));
    EXPECT_EQ(fpgaOrder, (std::vector<int>{0, 1}));
    factoryage_log.clear();
}

}  // namespace
