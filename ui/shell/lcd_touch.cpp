#include "ui/shell/lcd_touch.h"

#include "core/logMsg.h"
#include "platform/board.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_registry.h"

#include <QCoreApplication>
#include <QEvent>

lcd_touch* lcd_touch::p_lcd_touch = nullptr;

lcd_touch::lcd_touch() {
    m_touch = Board::get().openTouch("/dev/input/event1");
    if (!m_touch || !m_touch->isOpen())
        writeLogMsg(WARNING, "touch device /dev/input/event1 not open");
}

lcd_touch* lcd_touch::pInstance() {
    if (!p_lcd_touch) p_lcd_touch = new lcd_touch();
    return p_lcd_touch;
}

bool lcd_touch::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        m_touched = true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool lcd_touch::takeActivity() {
    // The filter goes in once the application exists (this object is made
    // before it at start-up).
    if (!m_filterInstalled && QCoreApplication::instance()) {
        QCoreApplication::instance()->installEventFilter(this);
        m_filterInstalled = true;
    }
    bool active = m_touched.exchange(false);
    if (m_touch && m_touch->isOpen() && m_touch->takeActivity()) active = true;
    return active;
}

void lcd_touch::idleBack(int page) {
    using R = PageRegistry;
    switch (page) {
    case R::SourceSelect:
        R::back(R::SourceSelect);
        if (R::isOpen(R::ImageLayout)) R::back(R::ImageLayout);
        R::back(R::Settings);
        break;
    case R::Output:
    case R::ImageLayout:
    case R::ImageQuality:
    case R::Communication:
    case R::Advanced:
    case R::Wizard:
        R::back(page);
        R::back(R::Settings);
        break;
    case R::Crop:
    case R::Edid:
        R::back(page);
        if (R::isOpen(R::SourceSelect))
            R::back(R::SourceSelect);
        else
            R::back(R::Settings);
        break;
    case R::Settings:
        R::back(R::Settings);
        break;
    case R::UserModes:
        R::back(page);
        break;
    default:  // the test pattern page stays open; menus and home stay
        break;
    }
}

void lcd_touch::auto_timeout_back() {
    const bool updating = g_mainwindow && g_mainwindow->isUpdating();
    if (takeActivity()) {
        m_count = 0;
    } else if (!updating && m_count < kCountLimit && g_auto_lock_time.load() != kNeverLock &&
               !g_qround_bar) {
        ++m_count;
    }

    if (m_count > g_back_to_mainwindow_time.load()) {
        const int page = g_page_focus.load();
        if (page != PageRegistry::Home && page != PageRegistry::MainMenu &&
            page != PageRegistry::TestPattern) {
            if (g_numberkeyboard && g_numberkeyboard->isVisible()) g_numberkeyboard->hide();
            idleBack(page);
        }
    }
    if (m_count > g_auto_lock_time.load() && g_page_focus.load() != PageRegistry::Home) {
        if (g_numberkeyboard && g_numberkeyboard->isVisible()) g_numberkeyboard->hide();
        if (g_lockwindow) g_lockwindow->lock_show();
    }
}
