#include "ui/shell/guibridge.h"

#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_registry.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace GuiBridge {

bool inGuiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void post(std::function<void()> fn) {
    if (!fn) return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;  // no GUI yet: nothing to show it on
    if (inGuiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void pageBack(int id) {
    post([id] { PageRegistry::back(id); });
}

void pageCall(int id, std::function<void()> fn) {
    post([id, fn = std::move(fn)] {
        if (PageRegistry::isOpen(id)) fn();
    });
}

void progress(int value) {
    post([value] {
        if (g_qround_bar) g_qround_bar->para_sync(value);
    });
}

void updateStart() {
    post([] {
        if (g_mainwindow) g_mainwindow->update_start();
    });
}

void updateOver() {
    post([] {
        if (g_mainwindow) g_mainwindow->update_over();
    });
}

}  // namespace GuiBridge
