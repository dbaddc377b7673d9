// The smart set-up wizard: which files are scan files and how they page,
// the keypad limits and routing texts; the page on the simulated FPGAs
// (their thread not running, progress raised by the test as the FPGA
// thread would): quick set-up, port and routing pickers, the file list,
// load, parameter save, mapping switch, busy refusals and refresh codes.
#include "wizard_fixture.h"

#include "core/logMsg.h"
#include "protocol/message_deal.h"

#include <QFileInfo>
#include <QTextStream>

#include <unistd.h>

namespace {

using Vals = std::vector<long>;

// ---- pure

class ScanFileListTest : public SimEnv {};

TEST_F(ScanFileListTest, NamesThatAreScanFiles) {
    for (const char* yes : {"a.qdfile", "x.y.qdfile", ".qdfile", "QDFR01", "QDFR_hall-2.qdfile", "QDFR"})
        EXPECT_TRUE(ScanFiles::isScanFile(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"a.QDFILE", "a.Qdfile", "a.qdfile.bak", "qdfile", "a.qdfil", "a.qdfilee", "qdfr01", "xQDFR"})
        EXPECT_FALSE(ScanFiles::isScanFile(QString::fromLatin1(no))) << no;
}

TEST_F(ScanFileListTest, DeviceFilesComeFirstPlainFilesOnly) {
    touchFiles("/mnt/usb1", {"s1.qdfile", "S2.QDFILE", "notes.txt"});
    // Beside them what writes cut off before their renames left, on the
    // device and on the stick, a name the device never stores, and names
    // that go on past where a temporary's ends (an older build's scan file).
    touchFiles("/data/smartmapping",
               {"QDFR01", "d1.qdfile", "d2.bin", "QDFR01.new4242-7", "QDFR 02.qdfile", "QDFR_hall.new2024-10.qdfile"});
    touchFiles("/mnt/usb1", {"QDFR9.new17-0", "s3.new17-0.qdfile"});
    QDir().mkpath(QString::fromStdString(hostPath("/mnt/usb1/folder.qdfile")));
    ASSERT_EQ(symlink(hostPath("/mnt/usb1/s1.qdfile").c_str(), hostPath("/mnt/usb1/link.qdfile").c_str()), 0);
    const ScanFiles::Listing l = ScanFiles::list();
    EXPECT_EQ(l.fromDevice, 3);
    QStringList device = l.paths.mid(0, 3), stick = l.paths.mid(3);
    device.sort();
    stick.sort();
    EXPECT_EQ(device, (QStringList{"/data/smartmapping/QDFR01", "/data/smartmapping/QDFR_hall.new2024-10.qdfile",
                                   "/data/smartmapping/d1.qdfile"}));
    EXPECT_EQ(stick, (QStringList{"/mnt/usb1/s1.qdfile", "/mnt/usb1/s3.new17-0.qdfile"}));
    // Neither folder there: nothing, and no page beyond the first.
    QDir(QString::fromStdString(hostPath("/data/smartmapping"))).removeRecursively();
    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    EXPECT_EQ(ScanFiles::list().total(), 0);
}

TEST_F(ScanFileListTest, AHundredFilesOnTwentyPages) {
    QStringList many;
    for (int i = 0; i < 120; ++i) many << QStringLiteral("f%1.qdfile").arg(i);
    touchFiles("/mnt/usb1", many);
    const ScanFiles::Listing l = ScanFiles::list();
    EXPECT_EQ((Vals{l.total(), l.fromDevice, ScanFiles::lastPage(l.total()), ScanFiles::rowsOnPage(l.total(), 19),
                    ScanFiles::rowsOnPage(l.total(), 20)}),
              (Vals{100, 0, 19, 5, 0}));
    // Device files take their room first.
    touchFiles("/data/smartmapping", {"a.qdfile", "b.qdfile"});
    EXPECT_EQ((Vals{ScanFiles::list().total(), ScanFiles::list().fromDevice}), (Vals{100, 2}));
}

TEST_F(ScanFileListTest, PagesOfFive) {
    EXPECT_EQ((Vals{ScanFiles::lastPage(0), ScanFiles::lastPage(1), ScanFiles::lastPage(5), ScanFiles::lastPage(6),
                    ScanFiles::lastPage(7), ScanFiles::lastPage(10), ScanFiles::lastPage(11)}),
              (Vals{0, 0, 0, 1, 1, 1, 2}));
    EXPECT_EQ((Vals{ScanFiles::rowsOnPage(7, 0), ScanFiles::rowsOnPage(7, 1), ScanFiles::rowsOnPage(10, 1),
                    ScanFiles::rowsOnPage(0, 0), ScanFiles::rowsOnPage(7, -1)}),
              (Vals{5, 2, 5, 0, 0}));
    EXPECT_EQ(ScanFiles::shownName("/mnt/usb1/a\nb.qdfile"), "ab.qdfile");
}

TEST(WizardTexts, KeypadLimitsAndRoutingText) {
    auto held = [](const char* field, const char* typed) {
        const SmartMapping::Limit* l = SmartMapping::limitOf(QString::fromLatin1(field));
        return l ? long(SettingsPages::limitedValue(QString::fromLatin1(typed), l->lo, l->hi, l->field)) : -1L;
    };
    EXPECT_EQ((Vals{held("lineEdit_line", "0"), held("lineEdit_line", "256"), held("lineEdit_column", "300"),
                    held("lineEdit_column", "12"), held("lineEdit_X", "0"), held("lineEdit_Y", "65536"),
                    held("lineEdit_horzion", "0"), held("lineEdit_vert", "70000"), held("lineEdit_vert", ""),
                    held("lineEdit_X", "12a"), held("lineEdit_W", "5")}),
              (Vals{1, 255, 255, 12, 1, 65535, 0, 65535, 0, 1, -1}));

    const u8 saved = g_language;
    QStringList texts;
    for (int lang : {0, 1, 2, 3, 4, 9}) {
        g_language = u8(lang);
        texts << SmartMapping::routingText(7);
    }
    g_language = saved;
    EXPECT_EQ(texts, (QStringList{QString::fromUtf8("走线7"), "Routing 7", QString::fromUtf8("След7"),
                                  QString::fromUtf8("Dấu vết7"), QString::fromUtf8("走線7"), "Routing 7"}));
}

// ---- the page

class WizardPageTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        SmartMapping::record() = LINE_TYPE_PARA{};
        line_type = LINE_TYPE_PARA{};
    }
    // FPGAs out of reset, so that their registers answer.
    void startFpgas() {
        startManager();
        board().simGpio().setLine(GpioName::kFpga0Reset, 1);
        board().simGpio().setLine(GpioName::kFpga1Reset, 1);
    }
    // What the FPGA thread would report for the running job.
    void progress(int value) { fpga_job_notifier::get().progress(g_send_para.job(), value); }
    u8 jobWord() const { return g_send_para.job(); }
    QString tileStyle(SmartMapping* w, int k) {
        QFrame* frame = ports(w);
        QList<QFrame*> tiles;
        for (QFrame* f : frame->findChildren<QFrame*>(QString(), Qt::FindDirectChildrenOnly))
            if (f->metaObject() == &QFrame::staticMetaObject) tiles << f;  // not the labels
        return tiles.value(k) ? tiles.value(k)->styleSheet() : QString();
    }
    int markedTile(SmartMapping* w) {
        for (int k = 0; k < 8; ++k)
            if (tileStyle(w, k).contains("#00D65B")) return k;
        return -1;
    }
};

TEST_F(WizardPageTest, AFreshWizardAndItsQuickSetUpRecord) {
    SmartMapping* w = openWizard();
    ASSERT_TRUE(w);
    EXPECT_EQ((Vals{g_page_focus.load(), PageRegistry::isOpen(PageRegistry::Wizard), index(w)}),
              (Vals{PageRegistry::Wizard, 1, 0}));
    EXPECT_EQ((QStringList{text(w, "lineEdit_X"), text(w, "lineEdit_Y"), text(w, "lineEdit_line"),
                           text(w, "lineEdit_column"), text(w, "lineEdit_horzion"), text(w, "lineEdit_vert"),
                           text(w, "Button_route"), text(w, "label_title")}),
              (QStringList{"128", "96", "1", "1", "0", "0", "Routing 1", "Smart debugging screen"}));
    EXPECT_EQ((Vals{SmartMapping::record().port, SmartMapping::record().routing}), (Vals{0, 1}));
    EXPECT_EQ(w->currentMenu()->objectName(), "Button_shortcut");
    EXPECT_FALSE(child<QPushButton>(w, "Button_wlan4")->isVisibleTo(w));
    EXPECT_FALSE(child<QPushButton>(w, "Button_wlan8")->isVisibleTo(w));

    // Keypad values are held to their limits as they arrive.
    enter(w, "lineEdit_X", "0");
    enter(w, "lineEdit_Y", "70000");
    enter(w, "lineEdit_line", "300");
    enter(w, "lineEdit_column", "0");
    enter(w, "lineEdit_vert", "65535");
    EXPECT_EQ((QStringList{text(w, "lineEdit_X"), text(w, "lineEdit_Y"), text(w, "lineEdit_line"),
                           text(w, "lineEdit_column"), text(w, "lineEdit_vert")}),
              (QStringList{"1", "65535", "255", "1", "65535"}));
    EXPECT_EQ(g_numberkeyboard->findChild<QLabel*>("label_title")->text(), "Vertical");
    EXPECT_TRUE(logHas("lineEdit_line \"300\" held to 255"));

    // Next takes the cabinet size and opens the first group with LED1 marked.
    enter(w, "lineEdit_X", "200");
    enter(w, "lineEdit_Y", "100");
    click(w, "Button_next");
    EXPECT_EQ((Vals{SmartMapping::record().cabinet_width, SmartMapping::record().cabinet_height, index(w), w->group(),
                    markedTile(w)}),
              (Vals{200, 100, 1, 0, 0}));
    EXPECT_EQ(child<QPushButton>(w, "Button_wlan1")->styleSheet(),
              "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    // Nothing reaches the FPGA thread's record before a job is posted.
    EXPECT_EQ(line_type.cabinet_width, 0);
}

TEST_F(WizardPageTest, PortTilesAndRoutingPictures) {
    SmartMapping* w = openWizard();
    click(w, "Button_next");
    click(w, "Button_wlan3");
    ASSERT_TRUE(tile(w, 3));
    EXPECT_EQ(markedTile(w), -1);  // LED1 lies in group 0
    tile(w, 3)->click();
    EXPECT_EQ((Vals{SmartMapping::record().port, markedTile(w)}), (Vals{19, 3}));
    EXPECT_EQ(tileText(w, 3), "LED20");
    click(w, "Button_wlan2");
    EXPECT_EQ((Vals{markedTile(w), SmartMapping::record().port}), (Vals{-1, 19}));
    EXPECT_EQ(tileText(w, 0), "LED9");
    click(w, "Button_wlan3");
    EXPECT_EQ(markedTile(w), 3);

    // Step 3, the routing pictures and back.
    click(w, "Button_next_2");
    click(w, "Button_route");
    EXPECT_EQ(index(w), 3);
    for (int k = 1; k <= 16; ++k) {
        auto* b = child<QToolButton>(w, QStringLiteral("Button_route%1").arg(k).toLatin1().constData());
        EXPECT_EQ(b->text(), QStringLiteral("Routing %1").arg(k));
        EXPECT_FALSE(b->icon().isNull()) << k;
    }
    click(w, "Button_route7");
    EXPECT_EQ((Vals{index(w), SmartMapping::record().routing}), (Vals{2, 7}));
    EXPECT_EQ(text(w, "Button_route"), "Routing 7");
    click(w, "Button_route");
    click(w, "Button_cancel");
    EXPECT_EQ((Vals{index(w), SmartMapping::record().routing}), (Vals{2, 7}));

    // A language change relabels the routing and the tiles and keeps the port.
    g_language = 0;
    w->language_changed();
    EXPECT_EQ(text(w, "Button_route"), QString::fromUtf8("走线7"));
    click(w, "Button_front_3");
    EXPECT_EQ(tileText(w, 3), QString::fromUtf8("网口LED20"));
    EXPECT_EQ((Vals{markedTile(w), SmartMapping::record().port}), (Vals{3, 19}));

    // The record outlives the page: a new one resets only port and routing.
    w->on_Button_back_clicked();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w = openWizard();
    EXPECT_EQ((Vals{SmartMapping::record().port, SmartMapping::record().routing, SmartMapping::record().cabinet_width}),
              (Vals{0, 1, 128}));
}

TEST_F(WizardPageTest, SendPostsTheQuickSetUpOnceAtATime) {
    // Without the FPGA manager: refused with a log line, no overlay.
    SmartMapping* w = openWizard();
    click(w, "Button_next");
    click(w, "Button_next_2");
    click(w, "Button_send");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord()}), (Vals{1, 0}));
    EXPECT_TRUE(logHas("card job 1 refused: the FPGA manager is not running"));

    startFpgas();
    click(w, "Button_front_3");
    tile(w, 5)->click();
    click(w, "Button_next_2");
    click(w, "Button_route4");
    enter(w, "lineEdit_line", "2");
    enter(w, "lineEdit_column", "3");
    enter(w, "lineEdit_horzion", "10");
    enter(w, "lineEdit_vert", "20");
    click(w, "Button_send");
    ASSERT_TRUE(g_qround_bar);
    EXPECT_EQ(g_qround_bar->parentWidget(), w);
    EXPECT_EQ(jobWord(), 1);
    EXPECT_EQ((Vals{line_type.cabinet_width, line_type.cabinet_height, line_type.x_offset, line_type.y_offset,
                    line_type.port, line_type.rows, line_type.columns, line_type.routing}),
              (Vals{128, 96, 10, 20, 5, 2, 3, 4}));

    // Busy: a second Send, the menu and back change nothing; the port step
    // stays usable, but what the running job reads does not move.
    enter(w, "lineEdit_line", "7");
    click(w, "Button_send");
    click(w, "Button_paraweld");
    click(w, "Button_back");
    click(w, "Button_front_3");
    EXPECT_EQ((Vals{line_type.rows, index(w), g_smartmapping.isNull(), w->currentMenu() == child<QPushButton>(w, "Button_shortcut")}),
              (Vals{2, 2, 0, 1}));
    progress(40);
    EXPECT_EQ(g_qround_bar->value(), 40);

    // The final progress closes the overlay; the job word is cleared up to a
    // second later: a Send meanwhile is refused and its overlay closed at once.
    progress(100);
    EXPECT_TRUE(g_qround_bar.isNull());
    click(w, "Button_send");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord(), line_type.rows}), (Vals{1, 1, 2}));
    EXPECT_TRUE(logHas("card job 1 refused: a card job or an upgrade is in progress"));
    g_send_para.finish();
    click(w, "Button_send");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord(), line_type.rows}), (Vals{0, 1, 7}));
    progress(100);
    g_send_para.finish();

    // Back after the end: the settings menu in front.
    click(w, "Button_back");
    EXPECT_EQ((Vals{g_smartmapping.isNull(), g_page_focus.load(), PageRegistry::isOpen(PageRegistry::Wizard)}),
              (Vals{1, PageRegistry::Settings, 0}));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    progress(50);  // a late report reaches no page
    EXPECT_TRUE(g_qround_bar.isNull());
}

TEST_F(WizardPageTest, FileListPagesAndLoad) {
    startFpgas();
    // A torn scan file beside a whole one: a transfer killed before its rename.
    touchFiles("/data/smartmapping", {"d1.qdfile", "d2.qdfile", "QDFR3", "QDFR3.new4242-0"});
    touchFiles("/mnt/usb1", {"s1.qdfile", "s2.qdfile", "s3.qdfile", "s4.qdfile", "S5.QDFILE"});
    SmartMapping* w = openWizard();
    EXPECT_EQ(w->scanFileCount(), 3);
    click(w, "Button_loadscan");
    EXPECT_EQ((Vals{index(w), w->group(), markedTile(w)}), (Vals{4, 0, 0}));
    tile(w, 2)->click();
    click(w, "Button_next_5");
    EXPECT_EQ(index(w), 5);
    const QStringList list = w->fileList().paths;
    ASSERT_EQ(list.size(), 7);
    const QString device = QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF");
    const QString stick = QStringLiteral("background-color: rgb(33, 36, 53);color: #00FF00");
    EXPECT_EQ(rowStyles(w), (QStringList{"background-color:#4777FF;color: #FFFFFF", device, device, stick, stick}));
    EXPECT_EQ(rows(w).size(), 5);
    EXPECT_EQ(FpgaPanel::scanFile(), list[0]);
    EXPECT_TRUE(list[0].startsWith("/data/smartmapping/") && list[3].startsWith("/mnt/usb1/"));

    // Page 1: two stick files, none chosen; a choice there; page 0 again
    // chooses its first file.
    ASSERT_TRUE(w->findChild<QPushButton*>("Button_nextpage"));
    w->findChild<QPushButton*>("Button_nextpage")->click();
    EXPECT_EQ((Vals{w->filePage(), rows(w).size()}), (Vals{1, 2}));
    EXPECT_EQ(rowStyles(w), (QStringList{stick, stick}));
    EXPECT_EQ(FpgaPanel::scanFile(), "");
    EXPECT_FALSE(w->findChild<QPushButton*>("Button_nextpage"));
    // Load needs a chosen file.
    click(w, "Button_load");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord()}), (Vals{1, 0}));
    w->findChild<QFrame*>("frame_file")->findChild<QPushButton*>("1")->click();
    EXPECT_EQ(FpgaPanel::scanFile(), list[6]);
    EXPECT_EQ(rowStyles(w), (QStringList{stick, "background-color:#4777FF;color: #00FF00;"}));
    w->findChild<QPushButton*>("Button_previous")->click();
    EXPECT_EQ(FpgaPanel::scanFile(), list[0]);
    EXPECT_FALSE(w->findChild<QPushButton*>("Button_previous"));
    w->zrv_Button_previous_clicked();  // not below page 0
    EXPECT_EQ(w->filePage(), 0);
    w->findChild<QFrame*>("frame_file")->findChild<QPushButton*>("3")->click();

    click(w, "Button_load");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord(), line_type.port}), (Vals{0, 2, 2}));
    EXPECT_EQ(qdfile_name(), list[3]);
    // Busy: neither paging, choosing nor a stick event moves the chosen file.
    w->findChild<QPushButton*>("Button_nextpage")->click();
    w->findChild<QFrame*>("frame_file")->findChild<QPushButton*>("0")->click();
    w->syncUpdate(102);
    EXPECT_EQ((Vals{w->filePage()}), (Vals{0}));
    EXPECT_EQ(qdfile_name(), list[3]);
    progress(100);
    // The job word is still set: a stick event rebuilds nothing yet.
    w->syncUpdate(101);
    EXPECT_EQ(qdfile_name(), list[3]);
    g_send_para.finish();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // Stick pulled while the file page is shown: rebuilt, the device's files left.
    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    w->syncUpdate(101);
    EXPECT_EQ((Vals{rows(w).size(), w->fileList().total()}), (Vals{3, 3}));
}

TEST_F(WizardPageTest, StickEventsAndTheEmptyList) {
    startFpgas();
    SmartMapping* w = openWizard();
    // No scan file anywhere: the load task is grey and refused.
    EXPECT_EQ(w->scanFileCount(), 0);
    EXPECT_EQ(child<QPushButton>(w, "Button_loadscan")->styleSheet(), "background-color: gray;border:2px;color: #FFFFFF");
    click(w, "Button_loadscan");
    EXPECT_EQ(index(w), 0);

    // Removal rebuilds only a file page that was built; readiness opens it
    // from wherever the wizard is, without a menu change.
    click(w, "Button_next");
    click(w, "Button_next_2");
    w->syncUpdate(101);
    EXPECT_EQ(index(w), 2);
    touchFiles("/mnt/usb1", {"s1.qdfile"});
    w->syncUpdate(102);
    EXPECT_EQ((Vals{index(w), w->filePageShown(), w->scanFileCount(), rows(w).size()}), (Vals{5, 1, 1, 1}));
    EXPECT_EQ(w->currentMenu()->objectName(), "Button_shortcut");
    EXPECT_EQ(child<QPushButton>(w, "Button_loadscan")->styleSheet(), "background-color:#10101C;color: #FFFFFF");
    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    // While a job runs the count stands and the list stays.
    g_send_para.job_step.store(3);
    w->syncUpdate(101);
    EXPECT_EQ((Vals{w->scanFileCount(), rows(w).size()}), (Vals{1, 1}));
    g_send_para.finish();
    w->syncUpdate(101);
    EXPECT_EQ((Vals{w->scanFileCount(), rows(w).size()}), (Vals{0, 0}));
    EXPECT_EQ(w->findChild<QLabel*>("label_nofile")->text(), "No loaded file!");
    click(w, "Button_load");
    EXPECT_TRUE(g_qround_bar.isNull());
    // A menu button ends the file page: removal no longer rebuilds it.
    click(w, "Button_paraweld");
    w->syncUpdate(101);
    EXPECT_EQ(index(w), 6);
}

TEST_F(WizardPageTest, ParameterSaveAndMappingSwitch) {
    // Without the FPGA manager the mapping shows off and the switch does nothing.
    SmartMapping* w = openWizard();
    click(w, "Button_mapping");
    EXPECT_EQ(index(w), 7);
    click(w, "Button_mapping_state");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord()}), (Vals{1, 0}));

    startFpgas();
    fpga[0]->setReg(0, 0x80);
    fpga[1]->setReg(0, 0x00);
    EXPECT_FALSE(FpgaPanel::mappingOn());  // on in one FPGA only counts as off
    click(w, "Button_mapping_state");
    EXPECT_EQ((Vals{fpga[0]->reg(0) & 0x80, fpga[1]->reg(0) & 0x80, long(g_send_para.mapping_value), jobWord()}),
              (Vals{0x80, 0x80, 9, 4}));
    progress(95);
    progress(100);
    // Refused while the job word is still set: the FPGAs keep their state.
    click(w, "Button_mapping_state");
    EXPECT_EQ((Vals{fpga[0]->reg(0) & 0x80, fpga[1]->reg(0) & 0x80, g_qround_bar.isNull()}), (Vals{0x80, 0x80, 1}));
    g_send_para.finish();
    EXPECT_TRUE(FpgaPanel::mappingOn());
    click(w, "Button_mapping_state");
    EXPECT_EQ((Vals{fpga[0]->reg(0) & 0x80, fpga[1]->reg(0) & 0x80, long(g_send_para.mapping_value), jobWord()}),
              (Vals{0, 0, 0, 4}));
    progress(100);
    g_send_para.finish();

    click(w, "Button_paraweld");
    EXPECT_EQ(index(w), 6);
    click(w, "Button_confirm");
    EXPECT_EQ((Vals{g_qround_bar.isNull(), jobWord()}), (Vals{0, 3}));
    click(w, "Button_mapping");  // the menu is refused while busy
    EXPECT_EQ(index(w), 6);
}

TEST_F(WizardPageTest, AScanFileFromThePcClosesTheWizard) {
    SmartMapping* w = openWizard();
    ASSERT_TRUE(w);
    message_deal::write_file_end(PcFile::ScanFile);
    EXPECT_EQ((Vals{g_smartmapping.isNull(), g_page_focus.load()}), (Vals{1, PageRegistry::Settings}));
    // While busy the wizard stays.
    w = openWizard();
    QRoundProgressBar::create_qround_bar(w);
    message_deal::write_file_end(PcFile::ScanFile);
    EXPECT_FALSE(g_smartmapping.isNull());
}

}  // namespace
