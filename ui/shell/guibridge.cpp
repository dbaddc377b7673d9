#include "ui/shell/guibridge.h"

#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_registry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <atomic>

namespace GuiBridge {

namespace {

// One posted call. The worker hands it to Qt's queue and never touches it
// again: the GUI thread runs it and Qt deletes it there, so nothing of the
// call is shared between the two threads once it is posted (Qt's own queued
// functor call is released by the poster after the GUI thread ran it).
class CallEvent : public QEvent {
public:
    explicit CallEvent(std::function<void()> fn) : QEvent(kind()), m_fn(std::move(fn)) {
        // Qt's queue orders the hand-over, but its mutex is invisible to the
        // thread checker; this release/acquire pair states the same order.
        m_posted.store(true, std::memory_order_release);
    }

    void run() {
        if (m_posted.load(std::memory_order_acquire)) m_fn();
    }

    static QEvent::Type kind() {
        static const QEvent::Type type = QEvent::Type(QEvent::registerEventType());
        return type;
    }

private:
    std::function<void()> m_fn;
    std::atomic<bool> m_posted{false};
};

class CallReceiver : public QObject {
public:
    explicit CallReceiver(QThread* guiThread) { moveToThread(guiThread); }

protected:
    void customEvent(QEvent* e) override {
        if (e->type() == CallEvent::kind()) static_cast<CallEvent*>(e)->run();
    }
};

// Made by the first post, in whichever thread, and handed at once to the GUI
// thread, where every call posted to it runs.
QObject* receiver(QCoreApplication* app) {
    static CallReceiver r(app->thread());
    return &r;
}

}  // namespace

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
    QCoreApplication::postEvent(receiver(app), new CallEvent(std::move(fn)));
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
