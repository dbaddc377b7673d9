#include "ui/shell/shell_start.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/usbserver.h"
#include "core/zrvrampara.h"
#include "platform/board.h"
#include "platform/tick_cpu.h"
#include "ui/service/service_pages.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/syncupdate.h"

#include <QApplication>
#include <QTimer>

void shell_gui_start() {
    ShellText::installFont();

    g_mainwindow = new MainWindow();
    g_lockwindow = new LockWindow();
    SettingsPages::install();
    ServicePages::install();
    g_mainwindow->show();
    g_page_focus = PageRegistry::Home;
    g_lockwindow->lock_show();

    shell_connect_model();
    // Connected before the watcher's thread starts, so no event is lost.
    shell_follow_usb(UsbServer::get());
    UsbServer::pInstance();

    // The panel's tick joins the worker threads' CPU and starts on a tick
    // boundary; a precise timer keeps it there, where the workers' periodic
    // waits end too. Threads started before this point stay free.
    tick_cpu::join();
    Clock& clock = Board::get().clock();
    clock.sleepUntilUs((clock.nowUs() / Clock::kTickUs + 1) * Clock::kTickUs);
    g_timer = new QTimer();
    g_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(g_timer.data(), &QTimer::timeout, g_mainwindow.data(),
                     &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);
}

void shell_connect_model() {
    // Direct: the dispatcher merges the signal into its one pending refresh,
    // which it runs in the GUI thread.
    if (ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config)
        QObject::connect(model, &ZrvRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::post,
                         Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    else
        writeLogMsg(ERROR, "front panel started without the parameter model");
}

void shell_follow_usb(UsbServer* usb) {
    if (!usb) return;
    QObject::connect(usb, &UsbServer::sig_usb_update, SyncUpdate::pInstance(), &SyncUpdate::post,
                     Qt::ConnectionType(Qt::DirectConnection | Qt::UniqueConnection));
    // A stick that became ready while the settings menu was in front takes
    // the panel back to the main menu, in the GUI thread and only if the
    // menu is still open by then.
    QObject::connect(
        usb, &UsbServer::sig_storage_ready_close_settings, qApp,
        [] {
            if (g_page_focus.load() == PageRegistry::Settings) PageRegistry::back(PageRegistry::Settings);
        },
        Qt::QueuedConnection);
}
