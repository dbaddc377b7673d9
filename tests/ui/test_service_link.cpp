// The communication page: tabs, octet fields through the keypad, Apply to
// the settings and the recorded network commands; and its USB sub-page: the
// package listing, the rows, OK and the stick's events.
#include "service_fixture.h"

#include "core/usb_packages.h"
#include "core/usbserver.h"
#include "fpga/fpga_jobs.h"
#include "fpga/fpga_manage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QSettings>
#include <QStackedWidget>
#include <QSignalSpy>
#include <QTextDocument>
#include <QTest>

#include <unistd.h>
#include <algorithm>
#include <mutex>
#include <vector>

constexpr const char* kIniFile = "/data/configs/tcpip.ini";

namespace {

class LinkPageTest : public ServiceTest {
protected:
    QLineEdit* field(LinkOption* page, const char* name) { return child<QLineEdit>(page, name); }
    // The operator touches a field and answers the keypad.
    void enter(LinkOption* page, const char* name, const QString& typed) {
        NumberKeyboard::setNextAnswer(typed);
        QTest::mouseClick(field(page, name), Qt::LeftButton);
    }
    QStringList row(LinkOption* page, const char* key) {
        QStringList out;
        for (int k = 1; k <= 4; ++k) out << field(page, QStringLiteral("lineEdit%1%2").arg(key).arg(k).toLatin1())->text();
        return out;
    }
    QString keypadTitle() { return g_numberkeyboard->findChild<QLabel*>("label_title")->text(); }
    QSettings ini() {
        return QSettings(QString::fromStdString(hostPath(kIniFile)), QSettings::IniFormat);
    }
};

TEST_F(LinkPageTest, OpensOnTheSerialTabWithTheStoredAddress) {
    LinkOption* page = openLink();
    ASSERT_TRUE(page);
    EXPECT_EQ(child<QStackedWidget>(page, "stackedWidget")->currentIndex(), 0);
    EXPECT_EQ(page->highlightedTab()->objectName(), "Button_com");
    EXPECT_EQ(row(page, "Ip"), (QStringList{"192", "168", "1", "199"}));
    EXPECT_EQ(row(page, "Gate"), (QStringList{"192", "168", "1", "1"}));
    page->on_Button_usb_clicked();
    page->on_Button_com_clicked();
    EXPECT_EQ(page->highlightedTab()->styleSheet(), "background-color:#4777FF;color:#FFFFFF");
    EXPECT_EQ(child<QPushButton>(page, "Button_usb")->styleSheet(), "background-color:#10101C;color:#FFFFFF");

    // A stored address of three parts: the fourth field stays empty.
    g_linkoption->on_Button_back_clicked();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::Settings);
    {
        QMutexLocker lock(&settingsLock());
        g_str_ip = "10.0.7";
    }
    page = openLink();
    EXPECT_EQ(row(page, "Ip"), (QStringList{"10", "0", "7", ""}));
}

TEST_F(LinkPageTest, KeypadValuesAndTheGatewayCopy) {
    LinkOption* page = openLink();
    page->on_Button_wlan_clicked();
    enter(page, "lineEditIp1", "10");
    EXPECT_EQ((QStringList{field(page, "lineEditIp1")->text(), field(page, "lineEditGate1")->text()}),
              (QStringList{"10", "10"}));
    EXPECT_EQ(keypadTitle(), "IP");
    enter(page, "lineEditIp4", "7");
    EXPECT_EQ((QStringList{field(page, "lineEditIp4")->text(), field(page, "lineEditGate4")->text()}),
              (QStringList{"7", "1"}));
    // Out of range or too long: ignored.
    enter(page, "lineEditIp2", "256");
    enter(page, "lineEditIp2", "12345678901");
    EXPECT_EQ(field(page, "lineEditIp2")->text(), "168");
    // A leading zero is stored as the plain number.
    enter(page, "lineEditIp3", "010");
    EXPECT_EQ((QStringList{field(page, "lineEditIp3")->text(), field(page, "lineEditGate3")->text()}),
              (QStringList{"10", "10"}));
    // OK without typing writes the shown value back, and copies it.
    field(page, "lineEditGate2")->setText("99");
    enter(page, "lineEditIp2", "");
    EXPECT_EQ(field(page, "lineEditGate2")->text(), "168");
    // Mask entries copy nothing.
    enter(page, "lineEditMask1", "0");
    EXPECT_EQ(row(page, "Gate"), (QStringList{"10", "168", "10", "1"}));

    // Keypad titles per language.
    const std::pair<int, QStringList> titles[] = {
        {0, {"IP", "掩码", "网关"}}, {1, {"IP", "mask", "gateway"}}, {2, {"IP", "mask", "gateway"}},
        {3, {"IP", "mask", "gateway"}}, {4, {"IP", "掩碼", "網關"}}};
    for (const auto& [lang, want] : titles) {
        g_language = u8(lang);
        QStringList got;
        for (const char* name : {"lineEditIp2", "lineEditMask2", "lineEditGate2"}) {
            NumberKeyboard::setNextAnswer("", false);
            QTest::mouseClick(field(page, name), Qt::LeftButton);
            got << keypadTitle();
        }
        EXPECT_EQ(got, want) << lang;
    }
}

TEST_F(LinkPageTest, ApplyWritesAndSetsUpOnlyWhatChanged) {
    LinkOption* page = openLink();
    page->on_Button_wlan_clicked();
    QSignalSpy changes(model.get(), &ZrvRamPara::sig_update_para);
    g_tip->hide();
    child<QPushButton>(page, "Button_net_apply")->click();
    QApplication::processEvents();
    EXPECT_EQ((Vals{changes.size(), board().simShell().commands().size(), g_tip->isVisible()}), (Vals{0, 0, 0}));

    // Only the mask: all three items written, the commands in order, tip 1.
    enter(page, "lineEditMask3", "0");
    child<QPushButton>(page, "Button_net_cancel")->click();
    EXPECT_EQ(field(page, "lineEditMask3")->text(), "0");  // Cancel keeps the edit
    child<QPushButton>(page, "Button_net_apply")->click();
    QSettings s = ini();
    EXPECT_EQ((QStringList{s.value("config/IPAddress").toString(), s.value("config/SubNetMask").toString(),
                           s.value("config/GateWay").toString()}),
              (QStringList{"192.168.1.199", "255.255.0.0", "192.168.1.1"}));
    // The network set-up ran (its commands in order are the settings
    // store's test) with the new mask.
    const auto cmds = board().simShell().commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "ifconfig eth0 192.168.1.199 netmask 255.255.0.0"), cmds.end());
    QTRY_COMPARE_WITH_TIMEOUT(g_tip->kind(), int(TIP::Confirm), 5000);
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_EQ(changes.size(), 1);

    // Applied: a second press does nothing.
    board().simShell().clear();
    child<QPushButton>(page, "Button_net_apply")->click();
    EXPECT_TRUE(board().simShell().commands().empty());

    // A settings file that is there but cannot be read (its reads fail)
    // takes nothing: the failure shows, not the confirmation, and eth0 is
    // not set up again.
    const QString host = QString::fromStdString(hostPath(kIniFile));
    ASSERT_TRUE(QFile::remove(host));
    ASSERT_TRUE(QFile::link("/proc/self/mem", host));
    g_tip->hide();
    enter(page, "lineEditMask3", "255");
    child<QPushButton>(page, "Button_net_apply")->click();
    QApplication::processEvents();
    EXPECT_EQ(g_tip->kind(), int(TIP::Failed));
    EXPECT_EQ(g_tip->text(), "Saving the network settings failed!");
    EXPECT_TRUE(g_tip->isVisible());
    EXPECT_TRUE(board().simShell().commands().empty());
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(QFileInfo(host).symLinkTarget(), "/proc/self/mem");
    EXPECT_NE(readHostFile(hostPath("/data/vimraqd/log/mwrEnglneLog"))
                  .find("network settings not applied: the settings file did not take them"),
              std::string::npos);
}

TEST_F(LinkPageTest, ApplyNeverSendsWhatIsNotAnAddress) {
    {
        QMutexLocker lock(&settingsLock());
        g_str_ip = "10.0.7";
    }
    LinkOption* page = openLink();
    child<QPushButton>(page, "Button_net_apply")->click();  // fourth field empty
    field(page, "lineEditIp4")->setText("1;reboot");
    child<QPushButton>(page, "Button_net_apply")->click();
    EXPECT_TRUE(board().simShell().commands().empty());
    EXPECT_EQ(ini().value("config/IPAddress").toString(), "192.168.1.199");
    // A stored leading zero goes out as the plain number.
    field(page, "lineEditIp4")->setText("010");
    child<QPushButton>(page, "Button_net_apply")->click();
    EXPECT_EQ(ini().value("config/IPAddress").toString(), "10.0.7.10");
}

// ---- USB sub-page

class UsbListTest : public LinkPageTest {
protected:
    QStringList rows(LinkOption* page) {
        QStringList out;
        auto* frame = page->findChild<QFrame*>("frame_file");
        if (!frame) return out;
        for (QLabel* l : frame->findChildren<QLabel*>()) {
            QTextDocument doc;
            doc.setHtml(l->text());
            out << doc.toPlainText() + (l->styleSheet().contains("#4777FF") ? " *" : "");
        }
        return out;
    }
    // A stand-in for the upgrade run's request: counts the requests.
    void installRequest() {
        FpgaPanel::setUsbUpgradeRequest([this] {
            g_send_para.setStep(0);
            g_usb_grade = 1;
            ++requests;
            return true;
        });
    }
    int requests = 0;
};

TEST_F(UsbListTest, ListingKeepsToThePackageRule) {
    using UsbPackages::scan;
    // "K57.new2024-10.ZRV" goes on past where a writer's temporary ends:
    // a package like any other.
    stickFiles("ZRV-K46", {"a.ZRV", "b.zrv", "c.ZRVZK", "d.ZRV.bak", ".e.ZRV", "ZRV", "K57.new2024-10.ZRV"});
    QDir().mkpath(QString::fromStdString(hostPath("/mnt/usb1/ZRV-K46/x.ZRV")));
    ASSERT_EQ(symlink(hostPath("/mnt/usb1/ZRV-K46/a.ZRV").c_str(), hostPath("/mnt/usb1/ZRV-K46/l.ZRV").c_str()), 0);
    UsbPackages::Listing l = scan("ZRV-K46");
    QStringList names = l.paths;
    names.sort();
    EXPECT_EQ(names, (QStringList{"/mnt/usb1/ZRV-K46/K57.new2024-10.ZRV", "/mnt/usb1/ZRV-K46/a.ZRV",
                                  "/mnt/usb1/ZRV-K46/c.ZRVZK"}));
    EXPECT_EQ((Vals{l.highlight[0] + l.highlight[1] + l.highlight[2], l.zrvCount}), (Vals{2, 2}));

    // Two "ZRV" and one "ZRVZK": the first "ZRV" in directory order and the
    // "ZRVZK" are highlighted.
    stickFiles("two", {"p.ZRV", "q.ZRV", "r.ZRVZK"});
    l = scan("two");
    ASSERT_EQ(l.count(), 3);
    int firstZrv = -1;
    for (int i = 0; i < 3; ++i) {
        const bool zk = l.paths[i].endsWith("ZRVZK");
        if (!zk && firstZrv < 0) firstZrv = i;
        EXPECT_EQ(l.highlight[size_t(i)], (zk || i == firstZrv) ? 1 : 0) << l.paths[i].toStdString();
    }
    EXPECT_EQ(l.zrvCount, 2);

    // " ": the stick's own folder.
    stickFiles("", {"top.ZRVZK"});
    EXPECT_EQ(scan(" ").paths, QStringList{"/mnt/usb1/top.ZRVZK"});
    EXPECT_EQ(scan("missing").count(), 0);

    // 120 packages: the first 100.
    QStringList many;
    for (int i = 0; i < 120; ++i) many << QStringLiteral("m%1.ZRVZK").arg(i);
    stickFiles("many", many);
    EXPECT_EQ(scan("many").count(), 100);
}

TEST_F(UsbListTest, RowsFollowTheScanAndTheStick) {
    stickFiles("ZRV-K46", {"a.ZRV", "b.zrv", "c.ZRVZK"});
    LinkOption* page = openLink();
    EXPECT_FALSE(page->findChild<QFrame*>("frame_file"));
    page->on_Button_usb_clicked();
    QStringList got = rows(page);
    got.sort();
    EXPECT_EQ(got, (QStringList{"a.ZRV *", "c.ZRVZK *"}));

    // Seven packages: five rows.
    stickFiles("ZRV-K46", {"d.ZRVZK", "e.ZRVZK", "f.ZRVZK", "g.ZRVZK", "h.ZRVZK"});
    page->syncUpdate(102);
    EXPECT_EQ((Vals{page->packages().count(), rows(page).size()}), (Vals{7, 5}));

    // The stick goes: the no-file text.
    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    page->syncUpdate(101);
    EXPECT_EQ(rows(page), QStringList{"No loaded file!"});
    g_language = 2;
    page->language_changed();
    EXPECT_EQ(rows(page), QStringList{QString::fromUtf8("Нет файлов для загрузки!")});
}

TEST_F(UsbListTest, OkAsksOnceAndOnlyWhenNothingRuns) {
    LinkOption* page = openLink();
    page->on_Button_usb_clicked();
    auto* ok = child<QPushButton>(page, "Button_ok");

    // No FPGA manager: refused, OK stays armed.
    installRequest();
    ok->click();
    EXPECT_EQ((Vals{requests, page->upgradeStarted()}), (Vals{0, 0}));

    fpga_manage manager;  // not started: the panel only needs it to exist
    fpga_manage::p_fpga_manage = &manager;
    struct Restore {
        ~Restore() {
            fpga_manage::p_fpga_manage = nullptr;
            g_send_para.finish();
            g_usb_grade = 0;
        }
    } restore;

    // A card job in the mailbox: its step byte is left alone.
    ASSERT_EQ(post_card_job(3), JobPost::Posted);
    g_send_para.setStep(5);
    ok->click();
    EXPECT_EQ((Vals{requests, g_send_para.step(), g_usb_grade.load()}), (Vals{0, 5, 0}));
    g_send_para.finish();

    // Twice: one request, even once the run is over; the stick's removal
    // arms OK again.
    ok->click();
    ok->click();
    EXPECT_EQ((Vals{requests, g_usb_grade.load()}), (Vals{1, 1}));
    g_usb_grade = 0;
    ok->click();
    EXPECT_EQ(requests, 1);
    page->syncUpdate(101);
    ok->click();
    EXPECT_EQ(requests, 2);
    g_usb_grade = 0;

    // Without an installed run: refused with a log line.
    FpgaPanel::setUsbUpgradeRequest(nullptr);
    page->syncUpdate(101);
    ok->click();
    EXPECT_EQ((Vals{requests, page->upgradeStarted()}), (Vals{2, 0}));
}

TEST_F(UsbListTest, TheEndOfARunShowsOnlyOnTheUsbTab) {
    FpgaPanel::setUsbGradeTimeReader([] { return QStringLiteral("9:5:7    9:6:30"); });
    LinkOption* page = openLink();
    auto* log = child<QLabel>(page, "label_log");
    page->on_Button_wlan_clicked();
    page->syncUpdate(104);
    EXPECT_TRUE(log->text().isEmpty());
    page->on_Button_usb_clicked();
    page->syncUpdate(104);
    EXPECT_EQ(log->text(), "<font style = 'font-size:20px' color = #51BB28 >downing over<br>9:5:7    9:6:30</font>");

    // A run that failed: red, the same times, the text in the page's
    // language.
    FpgaPanel::setUsbGradeFailedReader([] { return true; });
    page->syncUpdate(104);
    EXPECT_EQ(log->text(), "<font style = 'font-size:20px' color = #FF0000 >downing failed<br>9:5:7    9:6:30</font>");
    g_language = 4;
    page->syncUpdate(104);
    EXPECT_EQ(log->text(), "<font style = 'font-size:20px' color = #FF0000 >升級失敗<br>9:5:7    9:6:30</font>");

    // The language changes after the run, with another tab in front: the
    // outcome is relabelled with the outcome and times of its own run, not
    // those the FPGA thread holds by then.
    FpgaPanel::setUsbGradeTimeReader([] { return QStringLiteral("10:0:0"); });
    FpgaPanel::setUsbGradeFailedReader([] { return false; });
    page->on_Button_com_clicked();
    const std::pair<int, const char*> relabelled[] = {
        {2, "Ошибка обновления"}, {1, "downing failed"}, {3, "Cập nhật thất bại"}, {0, "升级失败"}, {4, "升級失敗"}};
    for (const auto& [lang, text] : relabelled) {
        model->live_image.setWord(RamOffset::LANGUAGE, u16(lang));
        SyncUpdate::pInstance()->para_sync(1);
        EXPECT_EQ(log->text(), QStringLiteral("<font style = 'font-size:20px' color = #FF0000 >%1<br>9:5:7    9:6:30</font>")
                                   .arg(QString::fromUtf8(text)));
    }
    // A clean run reads the same in every language, and keeps its times.
    page->on_Button_usb_clicked();
    page->syncUpdate(104);
    FpgaPanel::setUsbGradeTimeReader([] { return QStringLiteral("11:0:0"); });
    FpgaPanel::setUsbGradeFailedReader([] { return true; });
    model->live_image.setWord(RamOffset::LANGUAGE, 2);
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ(log->text(), "<font style = 'font-size:20px' color = #51BB28 >downing over<br>10:0:0</font>");
}

TEST_F(UsbListTest, TheTipsCornersShowTheListBoxBelowIt) {
    // The picture of the page in front as the framebuffer gets it: the
    // tip's bottom corners lie on the light list box and show its colour,
    // never black; its top corners show the page's own pixels.
    LinkOption* page = openLink();
    page->on_Button_usb_clicked();
    const QImage under = page->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QPoint top[] = {{250, 140}, {549, 140}}, bottom[] = {{250, 339}, {549, 339}};
    for (const QPoint& p : bottom) ASSERT_EQ(under.pixelColor(p).name().toStdString(), "#212435");
    auto shown = [&](const char* what) {
        EXPECT_EQ(g_tip->window(), page) << what;
        const QImage with = page->grab().toImage().convertToFormat(QImage::Format_ARGB32);
        for (const QPoint& p : bottom) EXPECT_EQ(with.pixelColor(p).name().toStdString(), "#212435") << what;
        for (const QPoint& p : top)
            EXPECT_EQ(with.pixelColor(p).name().toStdString(), under.pixelColor(p).name().toStdString()) << what;
        return with;
    };
    // A picture is laid over the page as it is, its own translucency included.
    for (int kind : {TIP::Confirm, TIP::UsbInserted, TIP::UsbRemoved, TIP::Reading, TIP::NoAnswer}) {
        g_tip->tip_create(kind);
        const QImage with = shown(QByteArray::number(kind).constData());
        QImage expected = under;
        {
            QPainter painter(&expected);
            painter.drawImage(QRect(250, 140, 300, 200), QImage(TIP::pictureOf(kind)));
        }
        int off = 0;
        for (int y = 140; y < 340; ++y)
            for (int x = 250; x < 550; ++x) {
                const QColor a = with.pixelColor(x, y), b = expected.pixelColor(x, y);
                off += std::abs(a.red() - b.red()) > 2 || std::abs(a.green() - b.green()) > 2 ||
                       std::abs(a.blue() - b.blue()) > 2;
            }
        EXPECT_EQ(off, 0) << kind;
    }
    g_tip->tip_failed(QStringLiteral("Loading the scan file failed!"));
    shown("failed");
}

// A stick folder moved under the root reaches the page through the
// simulated uevents, the watcher and the dispatcher.
TEST_F(UsbListTest, AStickFolderAppearsAndGoes) {
    // Recorded in the watcher thread that emits them, read here; they outlive
    // the watcher, which may still emit until it is joined.
    std::mutex codesMutex;
    std::vector<int> codes;
    UsbServer server;
    shell_follow_usb(&server);
    LinkOption* page = openLink();
    page->on_Button_usb_clicked();
    EXPECT_EQ(rows(page), QStringList{"No loaded file!"});
    QObject::connect(&server, &UsbServer::sig_usb_update, [&](int code) {
        std::lock_guard<std::mutex> lock(codesMutex);
        codes.push_back(code);
    });
    ASSERT_EQ(server.initialize(), 0);

    stickFiles("ZRV-K46", {"a.ZRV", "c.ZRVZK"}, "/mnt/prepared/");
    ASSERT_TRUE(QDir().rename(QString::fromStdString(hostPath("/mnt/prepared")),
                              QString::fromStdString(hostPath("/mnt/usb1"))));
    // Inserted (tip 3) comes first, the ready storage's reading tip (5) last.
    QTRY_COMPARE_WITH_TIMEOUT(g_tip->kind(), int(TIP::Reading), 5000);
    {
        std::lock_guard<std::mutex> lock(codesMutex);
        ASSERT_GE(codes.size(), 2u);
        EXPECT_EQ((Vals{codes.front(), codes.back()}), (Vals{100, 102}));
    }
    QStringList got = rows(page);
    got.sort();
    EXPECT_EQ(got, (QStringList{"a.ZRV *", "c.ZRVZK *"}));

    QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
    QTRY_COMPARE_WITH_TIMEOUT(g_tip->kind(), int(TIP::UsbRemoved), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(rows(page), QStringList{"No loaded file!"}, 5000);
}

}  // namespace
