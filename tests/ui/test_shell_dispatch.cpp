// The refresh dispatcher, the page registry and the road from worker
// threads into the panel.
#include "shell_fixture.h"

#include "core/usbserver.h"
#include "platform/fileops.h"
#include "ui/shell/guibridge.h"
#include "ui/shell/shell_start.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class DispatchTest : public ShellTest {};

TEST_F(DispatchTest, TipKindFollowsThePageInFrontAndTheCode) {
    struct Case {
        int page, code, kind;
    };
    const Case cases[] = {
        {6, 1, TIP::Confirm},      {6, 100, TIP::Confirm},     {12, 99, TIP::Confirm},
        {10, 100, TIP::UsbInserted}, {10, 101, TIP::UsbRemoved}, {10, 102, TIP::Reading},
        {10, 104, TIP::None},      {10, 1, TIP::Confirm},      {10, 103, TIP::Confirm},
        {24, 100, TIP::UsbInserted}, {24, 101, TIP::UsbRemoved}, {24, 102, TIP::Reading},
        {24, 1, TIP::None},        {1, 100, TIP::None},        {5, 102, TIP::None},
        {3, 1, TIP::None},         {16, 100, TIP::None},       {0, 1, TIP::None},
    };
    for (const Case& c : cases) {
        g_page_focus = c.page;
        g_tip->tip_create(TIP::RemoveOnly);
        SyncUpdate::pInstance()->para_sync(c.code);
        EXPECT_EQ(g_tip->kind(), c.kind) << "page " << c.page << " code " << c.code;
        EXPECT_EQ(g_tip->isVisible(), c.kind != TIP::None) << "page " << c.page << " code " << c.code;
    }
}

TEST_F(DispatchTest, SignalsFromWorkersFoldIntoOneRefreshAndNoneIsLost) {
    // The road start-up builds: the model's signal straight into the merge.
    QObject::connect(model.get(), &ZrvRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::post,
                     Qt::DirectConnection);
    std::vector<std::string> log;
    FakePage* page = openFake(PageRegistry::Advanced, PageRegistry::Settings, &log);
    g_tip->hide();

    // A burst from the c331 thread and the USB watcher while the GUI thread is busy.
    std::thread([&] {
        for (int i = 0; i < 500; ++i) model->test_signal(1);
        for (int code : {103, 1, 11, 2, 11, 1}) model->test_signal(code);
    }).join();
    EXPECT_TRUE(log.empty());  // nothing ran in the worker
    EXPECT_EQ(SyncUpdate::pInstance()->pendingCodes(), (std::vector<int>{1, 103, 11, 2}));
    QTRY_COMPARE(page->refreshes, 4);
    QTest::qWait(20);
    EXPECT_EQ(log, (std::vector<std::string>{"refresh 12 1", "refresh 12 103", "refresh 12 11", "refresh 12 2"}));

    // A change signalled while the refresh runs is served by the next one.
    log.clear();
    bool again = true;
    PageOps ops;
    ops.refresh = [&](int code) {
        log.push_back("refresh " + std::to_string(code));
        if (again) {
            again = false;
            std::thread([&] { model->test_signal(1); }).join();
        }
    };
    PageRegistry::enter(PageRegistry::Advanced, page->dialog, ops);
    model->test_signal(99);
    QTRY_COMPARE(log.size(), size_t(2));
    EXPECT_EQ(log, (std::vector<std::string>{"refresh 99", "refresh 1"}));
    EXPECT_TRUE(SyncUpdate::pInstance()->pendingCodes().empty());
    QObject::disconnect(model.get(), nullptr, SyncUpdate::pInstance(), nullptr);
}

TEST_F(DispatchTest, ARefreshThatHeldTheGuiThreadLongIsFollowedByAPause) {
    // A slow disk under the persisting step: the next refresh waits, so the
    // panel's tick gets its turns in between; nothing is lost meanwhile.
    QDialog page;
    std::vector<qint64> starts;
    QElapsedTimer clock;
    clock.start();
    PageOps ops;
    ops.refresh = [&](int) {
        starts.push_back(clock.elapsed());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    };
    PageRegistry::enter(PageRegistry::Advanced, &page, ops);
    g_page_focus = PageRegistry::Advanced;
    g_tip->hide();
    SyncUpdate::pInstance()->post(1);
    QTRY_COMPARE(starts.size(), size_t(1));
    SyncUpdate::pInstance()->post(1);
    SyncUpdate::pInstance()->post(99);
    QTRY_COMPARE(starts.size(), size_t(3));
    EXPECT_GE(starts[1] - starts[0], 30 + SyncUpdate::pauseAfterMs(30) - 5);
    EXPECT_EQ((Vals{SyncUpdate::pauseAfterMs(30), SyncUpdate::pauseAfterMs(5000)}), (Vals{200, 200}));
}

// The orderly stop, after the workers were joined and the queued calls
// delivered: the PC wrote slot 6 (contrast 66) and contrast 71, and the
// codes of the row wait in the dispatcher behind the pause a slow refresh
// left, or in the c331 thread's untaken flag. What was applied with code
// 2 is stored; a slot write never applied is not.
TEST_F(DispatchTest, TheStopPersistsWhatWaitsBehindThePauseWithItsSlotPass) {
    struct Case {
        std::vector<int> pending;
        int untaken;
        bool slotStored;
    };
    const Case cases[] = {{{2}, 0, true}, {{1, 11}, 2, true}, {{1, 11}, 1, false}};
    QDialog page;
    PageOps ops;
    ops.refresh = [](int) { std::this_thread::sleep_for(std::chrono::milliseconds(30)); };
    PageRegistry::enter(PageRegistry::Advanced, &page, ops);
    g_page_focus = PageRegistry::Advanced;
    SyncUpdate* sync = SyncUpdate::pInstance();
    const std::string slotFile = hostPath(ZrvFiles::customModePath(5));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.untaken);
        FileOps::removePath(ZrvFiles::customModePath(5));
        // A slow refresh: the next one owes a pause.
        sync->post(1);
        QTRY_VERIFY(sync->pendingCodes().empty());
        u8 slot[4098] = {0xAA, 0xAA};
        slot[2 + RamOffset::CONTRAST - RamOffset::MODE_BEGIN] = 66;
        const u8 contrast[2] = {71, 0};
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            ASSERT_EQ(model->ZrvModeUserRamParaDeal(slot, sizeof slot, 0x6000), 0);
            ASSERT_EQ(model->ZrvRamParaDeal(contrast, 2, RamOffset::CONTRAST), 0);
        }
        for (int code : c.pending) sync->post(code);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        ASSERT_EQ(sync->pendingCodes(), c.pending) << "served before the stop";
        sync->persistAtStop(c.untaken);
        const std::string stored = readHostFile(slotFile);
        EXPECT_EQ((Vals{stored.size() == 4096 ? u8(stored[2 + RamOffset::CONTRAST - RamOffset::MODE_BEGIN]) : -1,
                        u8(readHostFile(hostPath(ZrvFiles::RAM_DEVICE_INFO))[RamOffset::CONTRAST - 766]),
                        sync->pendingCodes().size()}),
                  (Vals{c.slotStored ? 66 : -1, 71, 0}));
    }
}

TEST_F(DispatchTest, RegistryForgetsOnlyTheLeavingPage) {
    QDialog a, b;
    int backs = 0;
    PageOps ops;
    ops.back = [&] { ++backs; };
    PageRegistry::setOpener(PageRegistry::Communication, nullptr);  // as in a build without the page
    PageRegistry::enter(PageRegistry::Communication, &a, ops);
    PageRegistry::enter(PageRegistry::Communication, &b, ops);  // reopened: b replaces a
    PageRegistry::leave(PageRegistry::Communication, &a);       // a late leave of the old one
    EXPECT_EQ(PageRegistry::page(PageRegistry::Communication), &b);
    EXPECT_TRUE(PageRegistry::back(PageRegistry::Communication));
    PageRegistry::leave(PageRegistry::Communication, &b);
    // Gone: no back; no opener: nothing opens.
    EXPECT_EQ((Vals{PageRegistry::back(PageRegistry::Communication), backs, PageRegistry::open(PageRegistry::Communication)}),
              (Vals{0, 1, 0}));
}

TEST_F(DispatchTest, WorkerCallsRunInTheGuiThreadAndOnlyOnOpenPages) {
    std::vector<std::string> log;
    FakePage* wizard = openFake(PageRegistry::Wizard, PageRegistry::Settings, &log);
    (void)wizard;
    std::atomic<bool> ranInWorker{false};
    std::thread worker([&] {
        GuiBridge::pageCall(PageRegistry::Wizard, [&] {
            if (!GuiBridge::inGuiThread()) ranInWorker = true;
            log.push_back("call");
        });
        GuiBridge::pageBack(PageRegistry::Wizard);
        GuiBridge::pageBack(PageRegistry::Wizard);  // already closed by then
        GuiBridge::updateStart();
    });
    worker.join();
    EXPECT_TRUE(log.empty());  // nothing ran in the worker
    QTRY_VERIFY(g_mainwindow->isUpdating());
    EXPECT_FALSE(ranInWorker);
    EXPECT_EQ(log, (std::vector<std::string>{"call", "back 24"}));

    std::thread([] { g_mainwindow->update_over(); }).join();
    QTRY_VERIFY(!g_mainwindow->isUpdating());
}

TEST_F(DispatchTest, ProgressFromAWorkerMovesAndClosesTheOverlay) {
    QDialog page;
    QRoundProgressBar::create_qround_bar(&page);
    ASSERT_TRUE(g_qround_bar);
    std::thread([] { GuiBridge::progress(40); }).join();
    QTRY_COMPARE(g_qround_bar ? g_qround_bar->value() : -1, 40);
    std::thread([] { GuiBridge::progress(100); }).join();
    QTRY_VERIFY(!g_qround_bar);
}

TEST_F(DispatchTest, StickReadyClosesTheSettingsMenuFromTheWatcherThread) {
    UsbServer usb;
    shell_follow_usb(&usb);
    PageRegistry::open(PageRegistry::Settings);
    ASSERT_TRUE(g_option);
    std::thread([&] { emit usb.sig_storage_ready_close_settings(); }).join();
    EXPECT_TRUE(g_option);  // nothing happens in the watcher's thread
    QTRY_VERIFY(g_option.isNull());
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);

    // Asked again with the menu already gone: nothing to close.
    std::thread([&] { emit usb.sig_storage_ready_close_settings(); }).join();
    QTest::qWait(20);
    EXPECT_EQ(g_page_focus.load(), PageRegistry::MainMenu);
}

TEST_F(DispatchTest, AModeSavedByThePersistingStepIsMarkedAtOnce) {
    // Mode 3 is marked; the PC asks to save mode 5 (word 868), as a
    // word-write of the protocol does.
    model->user_mode[2].marker[0] = model->user_mode[2].marker[1] = USER_MODE_SAVED;
    model->live_image.setWord(RamOffset::LOADED_MODE, 3);
    model->shadow_image = model->live_image;
    g_page_focus = PageRegistry::MainMenu;
    {
        const u8 five[2] = {5, 0};
        QMutexLocker lock(&c331_manage::get()->mutex);
        ASSERT_EQ(model->ZrvRamParaDeal(five, 2, RamOffset::SAVE_REQUEST), 0);
    }
    SyncUpdate::pInstance()->para_sync(1);
    EXPECT_EQ((Vals{model->live_image.word(RamOffset::LOADED_MODE), model->ZrvUserModeSaved(4)}), (Vals{5, 1}));
    EXPECT_TRUE(child<QPushButton>(g_mainwindow, "Button_mode5")->styleSheet().contains("#4777FF"));
    EXPECT_FALSE(child<QPushButton>(g_mainwindow, "Button_mode3")->styleSheet().contains("#4777FF"));
}

}  // namespace
