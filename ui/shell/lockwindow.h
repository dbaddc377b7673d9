#pragma once
// The home page (page 0): clock, the six inputs with their names and signal
// summaries and, once the FPGAs are managed, the link state of the output
// ports. It is made once and reused: the idle return raises the same page
// over whatever is open, modal to the whole panel, and a touch takes the
// panel back to the page that was in front.
#include "core/zrvrampara.h"

#include <QBasicTimer>
#include <QPointer>
#include <QWidget>

class QFrame;
class QLabel;

class LockWindow : public QWidget {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;

    // Shows the home page above every open page and makes it page 0.
    void lock_show();
    // Leaves the home page for the page that was in front before it.
    void unlock();

    void language_changed();
    void refresh(int code);

    // Text of an input's signal summary ("1920x1080@60Hz", or no signal).
    static QString signalText(int input);
    static bool signalPresent(int input);
    // One read of an input's signal summary (a zero summary out of range).
    static SIGNAL_PARA readSignal(int input);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void updateClock();
    void updateInputs();
    void updateNames();
    void updatePorts();

    QLabel* m_time;
    QLabel* m_date;
    QLabel* m_hint;
    QLabel* m_picture[6];
    QLabel* m_state[6];
    QLabel* m_name[6];
    QLabel* m_signal[6];
    QFrame* m_ports;
    QLabel* m_portLabel[2];
    QLabel* m_port[24];
    QBasicTimer m_clock;
    int m_previousFocus = 1;
    // What the labels show, so a refresh redraws only what changed: the
    // signal state of each input (-1 not drawn yet), the port link mask
    // (-1 not drawn yet).
    int m_inputOn[6];
    qint64 m_portMask = -1;
};

extern QPointer<LockWindow> g_lockwindow;
