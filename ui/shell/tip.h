#pragma once
// The tip pop-up: one picture in the middle of the panel that closes itself
// 300 ticks after it was shown. It never takes input and never runs an event
// loop of its own, so raising it from the refresh dispatcher cannot re-enter
// anything; the main window's tick closes it.
//
// It is drawn inside the window in front, not as a window of its own: the
// framebuffer's compositor copies the transparent pixels of a window of its
// own as black, so the square corners around the rounded picture showed
// black over the page. As a child, the page's own pixels lie under them.
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
        NoAnswer = 6,     // a job did not answer; its progress was closed
        Failed = 7        // a job ended in an error; shows the page's text
    };
    static constexpr u32 kShowTicks = 300;

    explicit TIP(QWidget* parent = nullptr);

    // Replaces what is shown by the picture of kind (see Kind).
    // A confirmation never covers a failure that is still shown: the change
    // signal a failed job raises must not read as success.
    void tip_create(int kind);
    // Shows a job's failure with the posting page's text, in its language.
    void tip_failed(const QString& text);
    // Closes a shown tip once kShowTicks have passed; run by the tick.
    void tick();

    int kind() const { return m_kind; }
    // The failure text shown ("" for a picture).
    QString text() const;
    // Name of the picture of a kind for the current language ("" for none).
    static QString pictureOf(int kind);
    // The window the tip is drawn in: the updating screen, else the modal
    // page, keypad or home page on top, else the main menu.
    static QWidget* frontWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts the shown tip into the window in front, at its place on the panel
    // (in the middle of a smaller window), above that window's other widgets.
    void showInFront();
    // Hidden and out of any window, so that a page deleted on close never
    // takes the one tip with it.
    void leaveWindow();
    bool onTopOfItsWindow() const;

    QLabel* m_picture;
    int m_kind = None;
    u32 m_start = 0;
    QPointer<QWidget> m_host;  // the window the tip is drawn in, while shown
};

extern QPointer<TIP> g_tip;
