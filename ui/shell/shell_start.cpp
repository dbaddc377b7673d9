#include "ui/shell/shell_start.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/syncupdate.h"

#include <QTimer>

void shell_gui_start() {
    ShellText::installFont();

    g_mainwindow = new MainWindow();
    g_lockwindow = new LockWindow();
    g_mainwindow->show();
    g_page_focus = PageRegistry::Home;
    g_lockwindow->lock_show();

    // The keypad covers the right part of the panel, beside the field.
    const QPoint origin = panelOrigin();
    if (g_numberkeyboard)
        g_numberkeyboard->setGeometry(origin.x() + 420, origin.y(), NumberKeyboard::kWidth,
                                      NumberKeyboard::kHeight);

    g_timer = new QTimer();
    QObject::connect(g_timer.data(), &QTimer::timeout, g_mainwindow.data(),
                     &MainWindow::slot_update_timer_ticks);
    g_timer->start(10);

    // Queued even from the GUI thread: a page that asks for a save while it
    // edits is refreshed after its handler has returned, never inside it.
    if (ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config)
        QObject::connect(model, &ZrvRamPara::sig_update_para, SyncUpdate::pInstance(),
                         &SyncUpdate::para_sync, Qt::QueuedConnection);
    else
        writeLogMsg(ERROR, "front panel started without the parameter model");
}
