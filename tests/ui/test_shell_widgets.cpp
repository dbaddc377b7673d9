// The main window's tick and buttons, the keypad, the tip, the progress
// overlay, the settings menu and the device-information page.
#include "shell_fixture.h"

#include "core/JsonParse.h"
#include "ui/shell/firmwareupdate.h"

#include <QDialog>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <cstring>

namespace {

class WidgetsTest : public ShellTest {
protected:
    std::vector<std::string> rebootCommands() {
        std::vector<std::string> out;
        for (const auto& c : board().simShell().commands())
            if (c.find("reboot") != std::string::npos) out.push_back(c);
        return out;
    }
};

TEST_F(WidgetsTest, RebootRunsOnce300TicksAfterTheResetRequest) {
    G_reboot_tickTicks = G_timeTicks.load();
    g_app_reset_flag = 1;
    tickAfter(299);
    EXPECT_TRUE(rebootCommands().empty());
    for (int i = 0; i < 51; ++i) tickAfter(1);
    EXPECT_EQ(rebootCommands(), std::vector<std::string>{"reboot"});
    g_app_reset_flag = 0;
}

TEST_F(WidgetsTest, TipClosesItself300TicksAfterItWasShown) {
    g_tip->tip_create(TIP::UsbInserted);
    EXPECT_TRUE(g_tip->isVisible());
    tickAfter(299);
    EXPECT_TRUE(g_tip->isVisible());
    tickAfter(1);
    EXPECT_EQ((Vals{g_tip->isVisible(), g_tip->kind()}), (Vals{0, TIP::None}));

    // A new tip replaces the old and starts its own time; kind 2 only clears.
    g_tip->tip_create(TIP::Confirm);
    advanceTicks(200);
    g_tip->tip_create(TIP::Reading);
    advanceTicks(200);
    g_tip->tick();
    EXPECT_EQ(g_tip->kind(), TIP::Reading);
    g_tip->tip_create(TIP::RemoveOnly);
    EXPECT_FALSE(g_tip->isVisible());
}

TEST_F(WidgetsTest, TipIsDrawnInTheWindowInFrontAndItsCornersShowThatWindow) {
    // The picture of the main menu with the tip on it, as the framebuffer
    // gets it: outside the rounded frame the corners are the menu's own
    // pixels, the middle is the picture's.
    const QImage under = g_mainwindow->grab().toImage();
    g_tip->tip_create(TIP::Confirm);
    EXPECT_FALSE(g_tip->isWindow());
    EXPECT_EQ(g_tip->window(), g_mainwindow.data());
    EXPECT_EQ(g_tip->geometry(), QRect(250, 140, 300, 200));
    const QImage with = g_mainwindow->grab().toImage();
    for (const QPoint& p : {QPoint(250, 140), QPoint(549, 140), QPoint(250, 339), QPoint(549, 339)})
        EXPECT_EQ(with.pixelColor(p).name().toStdString(), under.pixelColor(p).name().toStdString())
            << p.x() << "," << p.y();
    EXPECT_NE(with.pixelColor(400, 160).name().toStdString(), under.pixelColor(400, 160).name().toStdString());

    auto lastWidgetOf = [](QWidget* w) {
        QWidget* last = nullptr;
        for (QObject* o : w->children())
            if (o->isWidgetType()) last = static_cast<QWidget*>(o);
        return last;
    };
    // A page opened over the menu takes the tip at the next tick, above a
    // widget it makes afterwards; it keeps its time.
    PageRegistry::open(PageRegistry::Settings);
    tickAfter(100);
    EXPECT_EQ(g_tip->window(), g_option.data());
    QRoundProgressBar::create_qround_bar(g_option);
    tickAfter(1);
    EXPECT_EQ(lastWidgetOf(g_option), g_tip.data());
    g_qround_bar->para_sync(100);

    // The keypad runs over the page: the tip lies in the keypad's middle.
    g_numberkeyboard->label_show(QStringLiteral("IP"), QStringLiteral("192"));
    g_numberkeyboard->setModal(true);
    g_numberkeyboard->show();
    tickAfter(1);
    EXPECT_EQ((std::pair<QWidget*, QRect>{g_tip->window(), g_tip->geometry()}),
              (std::pair<QWidget*, QRect>{g_numberkeyboard.data(), QRect(40, 140, 300, 200)}));
    g_numberkeyboard->hide();
    EXPECT_EQ(g_tip->window(), g_option.data());

    // The page closes and is deleted, or is deleted while shown: the one tip
    // survives and is back on the menu at once.
    g_option->on_Button_back_clicked();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(g_tip);
    EXPECT_EQ((Vals{g_tip->window() == g_mainwindow.data(), g_tip->isVisible()}), (Vals{1, 1}));
    PageRegistry::open(PageRegistry::Settings);
    tickAfter(1);
    ASSERT_EQ(g_tip->window(), g_option.data());
    delete g_option.data();
    ASSERT_TRUE(g_tip);
    tickAfter(1);
    EXPECT_EQ(g_tip->window(), g_mainwindow.data());

    // The updating screen stays above a page opened after it; when it
    // closes the page has the tip at once.
    g_mainwindow->update_start();
    PageRegistry::open(PageRegistry::Settings);
    tickAfter(1);
    EXPECT_EQ(g_tip->window(), static_cast<QWidget*>(g_mainwindow->updateScreen()));
    g_mainwindow->update_over();
    EXPECT_EQ(g_tip->window(), g_option.data());
    g_option->on_Button_back_clicked();

    // The home page over everything, then the end of the tip's time.
    g_lockwindow->lock_show();
    tickAfter(1);
    EXPECT_EQ(g_tip->window(), g_lockwindow.data());
    g_lockwindow->unlock();
    EXPECT_EQ(g_tip->window(), g_mainwindow.data());
    tickAfter(300 - 106);
    EXPECT_EQ((Vals{g_tip->kind(), g_tip->isVisible(), g_tip->parentWidget() == nullptr}), (Vals{TIP::None, 0, 1}));
}

TEST_F(WidgetsTest, KeypadOkGivesTheShownValueOrWhatWasTypedAndCloseGivesNothing) {
    NumberKeyboard* kb = g_numberkeyboard;
    QSignalSpy spy(kb, &NumberKeyboard::sendKeyBoardUIDataToLineEdit);

    // The answer the line edit gets, if one.
    auto answer = [&spy]() -> QString { return spy.count() == 1 ? spy.takeFirst().at(0).toString() : "none"; };
    kb->label_show(QStringLiteral("Width"), QStringLiteral("1920"));
    kb->show();
    QTest::mouseClick(child<QPushButton>(kb, "Button_ok"), Qt::LeftButton);
    EXPECT_EQ(answer(), QStringLiteral("1920"));
    EXPECT_FALSE(kb->isVisible());

    kb->label_show(QStringLiteral("Width"), QStringLiteral("1920"));
    kb->show();
    for (const char* key : {"Button_1", "Button_2", "Button_8", "Button_delete", "Button_0"})
        QTest::mouseClick(child<QPushButton>(kb, key), Qt::LeftButton);
    EXPECT_EQ(kb->displayText(), QStringLiteral("120"));
    QTest::mouseClick(child<QPushButton>(kb, "Button_close"), Qt::LeftButton);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_FALSE(kb->isVisible());

    // A new title starts from nothing typed; the test seam answers exec().
    kb->label_show(QStringLiteral("key"), QStringLiteral("**********"));
    NumberKeyboard::setNextAnswer(QStringLiteral("5719"));
    kb->exec();
    EXPECT_EQ(answer(), QStringLiteral("5719"));
    NumberKeyboard::setNextAnswer(QStringLiteral("12"), false);
    EXPECT_EQ(kb->exec(), int(QDialog::Rejected));
    EXPECT_EQ(spy.count(), 0);

    // Typing is bounded and only takes digits and the point.
    kb->label_show(QStringLiteral("IP"), QString());
    NumberKeyboard::setNextAnswer(QString(40, QChar('9')) + "x");
    kb->exec();
    EXPECT_EQ(answer(), QString(NumberKeyboard::kMaxTyped, QChar('9')));

    // Four-character titles use the smaller font.
    kb->label_show(QStringLiteral("abcd"), QString());
    const int small = child<QLabel>(kb, "label_title")->font().pixelSize();
    kb->label_show(QStringLiteral("abcde"), QString());
    EXPECT_EQ((Vals{small, child<QLabel>(kb, "label_title")->font().pixelSize()}), (Vals{18, 25}));
}

// The keypad is made once; a page opened after it covers its old place in
// the window stack, so every showing must bring it above (no window manager
// does it on the PC's virtual screen).
TEST_F(WidgetsTest, KeypadShownAgainComesAboveAPageOpenedAfterIt) {
    NumberKeyboard* kb = g_numberkeyboard;
    struct Raises : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            count += e->type() == QEvent::ZOrderChange;
            return false;
        }
    } raises;
    kb->show();
    kb->hide();
    QDialog later;
    later.show();
    kb->installEventFilter(&raises);
    kb->show();
    EXPECT_GE(raises.count, 1);
    EXPECT_TRUE(kb->isVisible());
    kb->hide();
}

TEST_F(WidgetsTest, LineEditOpensTheKeypadAndTheFieldPointerCannotDangle) {
    auto* field = new My_lineEdit();
    field->setText(QStringLiteral("64"));
    QSignalSpy spy(field, &My_lineEdit::send_show);
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.takeFirst().at(0).toString(), QStringLiteral("64"));
    field->setEnabled(false);
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_EQ(spy.count(), 0);

    g_lineedit = field;
    delete field;
    EXPECT_TRUE(g_lineedit.isNull());
}

TEST_F(WidgetsTest, OverlayIsMadeOnceAndClosesAt100OrAfterSilence) {
    QDialog page;
    QRoundProgressBar::create_qround_bar(&page);
    QPointer<QRoundProgressBar> bar = g_qround_bar;
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->geometry(), QRect(300, 140, 200, 200));
    EXPECT_EQ(bar->parentWidget(), &page);
    QRoundProgressBar::create_qround_bar(&page);
    EXPECT_EQ(g_qround_bar.data(), bar.data());

    const int before = bar->value();
    bar->para_sync(99);
    EXPECT_EQ((Vals{before, bar->value()}), (Vals{0, 99}));
    bar->para_sync(100);
    EXPECT_TRUE(g_qround_bar.isNull());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(bar.isNull());

    // An overlay whose page goes away leaves no pointer behind.
    auto* other = new QDialog();
    QRoundProgressBar::create_qround_bar(other);
    ASSERT_TRUE(g_qround_bar);
    delete other;
    EXPECT_TRUE(g_qround_bar.isNull());

    // One nobody reports to closes after a long silence, with a tip.
    QRoundProgressBar::create_qround_bar(&page);
    advanceTicks(QRoundProgressBar::kSilenceTicks - 100);
    g_qround_bar->para_sync(30);  // a report starts the silence again
    tickAfter(QRoundProgressBar::kSilenceTicks);
    ASSERT_TRUE(g_qround_bar);
    tickAfter(1);
    EXPECT_TRUE(g_qround_bar.isNull());
    EXPECT_EQ(g_tip->kind(), TIP::NoAnswer);
}

TEST_F(WidgetsTest, UpdatingScreenCoversThePanelAndTurns) {
    g_mainwindow->update_start();
    FirmwareUpdate* screen = g_mainwindow->updateScreen();
    ASSERT_TRUE(screen);
    EXPECT_TRUE(screen->isVisible());
    EXPECT_EQ(screen->size(), QSize(800, 480));
    EXPECT_EQ(QApplication::activeModalWidget(), screen);
    const int frame = screen->frame();
    for (unsigned i = 0; i < FirmwareUpdate::kFrameTicks; ++i) g_mainwindow->slot_update_timer_ticks();
    EXPECT_EQ(screen->frame(), (frame + 1) % FirmwareUpdate::kFrames);
    g_mainwindow->update_start();  // a second start keeps the one screen
    EXPECT_EQ(g_mainwindow->updateScreen(), screen);
    g_mainwindow->update_over();
    EXPECT_FALSE(g_mainwindow->isUpdating());
}

TEST_F(WidgetsTest, AgeingSamplesCountTheRiseOfBothCounters) {
    factoryage_log.clear();
    const u32 d10 = factoryage_log_diff10, more = factoryage_log_diffmore, d3 = factoryage_log_diff3;
    const u32 o2d5 = factoryage_log2_diff5;
    MainWindow::appendAgeLine("01-02 03:04 250 31 0 10 31 0");
    MainWindow::appendAgeLine("01-02 03:07 3 31 0 13 31 0");   // 250 -> 3 wraps: 9; out 2 rose 3
    MainWindow::appendAgeLine("01-02 03:10 3 31 0 13 31 0");   // no rise: counts nowhere
    MainWindow::appendAgeLine("01-02 03:13 23 31 0 14 31 0");  // exactly 20
    EXPECT_EQ((Vals{factoryage_log_diff10, factoryage_log_diffmore, factoryage_log_diff3, factoryage_log2_diff5}),
              (Vals{d10 + 1, more + 1, d3, o2d5 + 1}));

    factoryage_log.clear();
    // Seven days of three-minute samples: 3360 lines, the oldest dropped.
    for (int i = 0; i < 3360 + 1; ++i)
        MainWindow::appendAgeLine(QStringLiteral("01-01 00:00 %1 0 0 0 0 0").arg(i % 256));
    EXPECT_EQ(factoryage_log.size(), 3360);
    EXPECT_TRUE(factoryage_log.first().startsWith("01-01 00:00 1 "));
    factoryage_log.clear();
}

TEST_F(WidgetsTest, AgeingTickReachesTheOpenPagesEvery180Seconds) {
    QDialog page;
    int updates = 0;
    PageOps ops;
    ops.agelog = [&] { ++updates; };
    PageRegistry::enter(PageRegistry::Advanced, &page, ops);
    tickAfter(17999);  // a sample once more than 17999 ticks have passed
    EXPECT_EQ(updates, 0);
    tickAfter(1);
    g_mainwindow->slot_update_timer_ticks();
    EXPECT_EQ(updates, 1);
    EXPECT_TRUE(factoryage_log.isEmpty());  // no FPGA manager: no sample
}

TEST_F(WidgetsTest, KeyLockAndBlackoutWriteTheImageUnderTheChangeProtocol) {
    int sourceOpened = 0, settingsOpened = 0;
    PageRegistry::setOpener(PageRegistry::SourceSelect, [&] { ++sourceOpened; });
    auto* lock = child<QPushButton>(g_mainwindow, "Button_lock");
    auto* black = child<QPushButton>(g_mainwindow, "Button_blackout");

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_EQ((Vals{model->live_image.word(RamOffset::KEY_LOCK), c331_manage::get()->apply_flag.load(),
                    g_mainwindow->keylock()}),
              (Vals{1, 1, 1}));

    // Locked: the menu opens nothing and the blackout stays.
    PageRegistry::setOpener(PageRegistry::Settings, [&] { ++settingsOpened; });
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "inputchoose"), Qt::LeftButton);
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_option"), Qt::LeftButton);
    QTest::mouseClick(black, Qt::LeftButton);
    EXPECT_EQ((Vals{sourceOpened, settingsOpened, model->live_image.word(RamOffset::BLACKOUT)}), (Vals{0, 0, 0}));

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_EQ(model->live_image.word(RamOffset::KEY_LOCK), 0);
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "inputchoose"), Qt::LeftButton);
    EXPECT_EQ(sourceOpened, 1);
    QTest::mouseClick(black, Qt::LeftButton);
    const u16 blackout = model->live_image.word(RamOffset::BLACKOUT);
    QTest::mouseClick(black, Qt::LeftButton);
    EXPECT_EQ((Vals{blackout, model->live_image.word(RamOffset::BLACKOUT)}), (Vals{1, 0}));
}

TEST_F(WidgetsTest, SettingsMenuOpensItsPagesAndGoesBackToTheMenu) {
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_option"), Qt::LeftButton);
    QPointer<Option> menu = g_option;
    ASSERT_TRUE(menu);
    EXPECT_EQ((Vals{g_page_focus.load(), PageRegistry::isOpen(PageRegistry::Settings), menu->wizardFlag()}),
              (Vals{PageRegistry::Settings, 1, 1}));
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_option"), Qt::LeftButton);
    EXPECT_EQ(g_option.data(), menu.data());  // a second tap opens no second menu

    // Pages of other parts open through their opener; none registered opens nothing.
    std::vector<int> opened;
    for (int id : {6, 7, 9, 10, 11, 12, 16, 24})
        PageRegistry::setOpener(id, [&opened, id] { opened.push_back(id); });
    for (const char* name : {"output_set", "Button_layout", "Button_quality", "input_cut", "link_set", "AdvanceButton",
                             "test_chart", "smart_mapping"})
        QTest::mouseClick(child<QToolButton>(menu, name), Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<int>{6, 9, 11, 7, 10, 12, 16, 24}));
    PageRegistry::setOpener(PageRegistry::Output, nullptr);
    QTest::mouseClick(child<QToolButton>(menu, "output_set"), Qt::LeftButton);
    EXPECT_EQ(opened.size(), 8u);
    // The layout and quality tiles moved here from the main menu, which keeps
    // source, user modes, settings and device information.
    EXPECT_FALSE(g_mainwindow->findChild<QToolButton*>("Button_layout"));
    EXPECT_FALSE(g_mainwindow->findChild<QToolButton*>("Button_quality"));
    EXPECT_EQ(g_mainwindow->findChildren<QToolButton*>().size(), 4);

    // Back: closed, forgotten, the menu in front and relabelled.
    g_language = 0;
    QTest::mouseClick(child<QPushButton>(menu, "Button_back"), Qt::LeftButton);
    EXPECT_EQ((Vals{g_option.isNull(), g_page_focus.load(), PageRegistry::isOpen(PageRegistry::Settings)}),
              (Vals{1, PageRegistry::MainMenu, 0}));
    EXPECT_EQ(child<QLabel>(g_mainwindow, "label_title")->text(), QString::fromUtf8("主菜单"));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(menu.isNull());
}

TEST_F(WidgetsTest, DeviceInformationShowsTheIdAndAddresses) {
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    g_str_ip = QStringLiteral("192.168.1.199");
    QTest::mouseClick(child<QToolButton>(g_mainwindow, "Button_info"), Qt::LeftButton);
    QPointer<machinestate> page = g_machinestate;
    ASSERT_TRUE(page);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::DeviceInfo);
    EXPECT_EQ(child<QLabel>(page, "label_value0")->text(), QStringLiteral("0123456789abcdef0123456789abcdef"));
    EXPECT_EQ(child<QLabel>(page, "label_value1")->text(), QStringLiteral("1.17.0.0"));  // as the PC reads it
    EXPECT_EQ(child<QLabel>(page, "label_value2")->text(), QStringLiteral("192.168.1.199"));
    EXPECT_FALSE(child<QLabel>(page, "label_value6")->isVisibleTo(page));  // no FPGA manager
    QTest::mouseClick(child<QPushButton>(page, "Button_back"), Qt::LeftButton);
    EXPECT_TRUE(g_machinestate.isNull());
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
}

TEST_F(WidgetsTest, ALockedPanelDrawsWhatTheLockBlocksGreyed) {
    auto* source = child<QToolButton>(g_mainwindow, "inputchoose");
    auto* info = child<QToolButton>(g_mainwindow, "Button_info");
    auto* mode = child<QPushButton>(g_mainwindow, "Button_mode1");
    model->user_mode[0].marker[0] = model->user_mode[0].marker[1] = USER_MODE_SAVED;
    g_mainwindow->language_changed();
    const QImage sourceFree = source->grab().toImage(), infoFree = info->grab().toImage();
    const QImage modeFree = mode->grab().toImage();

    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_lock"), Qt::LeftButton);
    EXPECT_NE(source->grab().toImage(), sourceFree);
    EXPECT_NE(mode->grab().toImage(), modeFree);
    EXPECT_EQ(info->grab().toImage(), infoFree);  // still usable, looks the same

    QTest::mouseClick(child<QPushButton>(g_mainwindow, "Button_lock"), Qt::LeftButton);
    EXPECT_EQ(source->grab().toImage(), sourceFree);
}

TEST_F(WidgetsTest, ALongInputNameIsElidedWithTheFontItIsDrawnIn) {
    writeHostFile(hostPath(kAliasFile),
                  R"({"namelist":{"source":[{"id":2,"valid":"on","name":"Stage left camera of the main hall"}]}})");
    // A home page that has never been shown, as at start-up.
    LockWindow fresh;
    auto* name = child<QLabel>(&fresh, "label_name2");
    name->ensurePolished();
    EXPECT_TRUE(name->text().endsWith(QChar(0x2026))) << name->text().toStdString();
    EXPECT_LE(QFontMetrics(name->font()).horizontalAdvance(name->text()), name->width());
}

}  // namespace
