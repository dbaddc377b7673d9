#pragma once
// The tip pop-up: one picture in the middle of the panel that closes itself
// 300 ticks after it was shown. It never takes input and never runs an event
// loop of its own, so raising it from the refresh dispatcher cannot re-enter
// anything; the main window's tick closes it.
#include "core/global.h"

#include <QPointer>
#include <QWidget>

class QLabel;

class TIP : public QWidget {
    Q_OBJECT
public:
    enum Kind {
        None = 0,
        Confirm = 1,      // the change was taken
        RemoveOnly = 2,   // take away what is shown, show nothing
        UsbInserted = 3,
        UsbRemoved = 4,
        Reading = 5,      // reading data from the stick
        NoAnswer = 6      // a job did not answer; its progress was closed
    };
    static constexpr u32 kShowTicks = 300;

    explicit TIP(QWidget* parent = nullptr);

    // Replaces what is shown by the picture of kind (see Kind).
    void tip_create(int kind);
    // Closes a shown tip once kShowTicks have passed; run by the tick.
    void tick();

    int kind() const { return m_kind; }
    // Name of the picture of a kind for the current language ("" for none).
    static QString pictureOf(int kind);

private:
    QLabel* m_picture;
    int m_kind = None;
    u32 m_start = 0;
};

extern QPointer<TIP> g_tip;
