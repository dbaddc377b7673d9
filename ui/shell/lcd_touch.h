#pragma once
// Touch activity and the idle return. Any touch of the panel (the touch
// device "/dev/input/event1", and on a PC the mouse and touch events of the
// application) resets the idle count; the tick runs auto_timeout_back, which
// closes open pages back to the menu after g_back_to_mainwindow_time and
// raises the home page after g_auto_lock_time.
#include "core/global.h"

#include <QObject>

#include <atomic>
#include <memory>

#include "platform/touch.h"

class lcd_touch : public QObject {
    Q_OBJECT
public:
    static constexpr u32 kCountLimit = 100001;
    static constexpr u32 kNeverLock = 120000;

    // The first call opens the touch device (non-blocking); no thread.
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;
    // The program uses the singleton; a test may build its own watcher.
    lcd_touch();

    // Run on every tick.
    void auto_timeout_back();

    // Touch activity from anywhere (the event filter, a test).
    void touched() { m_touched = true; }
    u32 idleCount() const { return m_count; }
    void resetCount() { m_count = 0; }

    // Closes the pages above the menu as the idle return does for page id.
    static void idleBack(int page);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool takeActivity();

    std::unique_ptr<TouchSource> m_touch;
    std::atomic<bool> m_touched{false};
    bool m_filterInstalled = false;
    u32 m_count = 0;
};
