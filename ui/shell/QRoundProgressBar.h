#pragma once
// The round progress overlay of a receiving-card job. A page creates it on
// itself, connects its progress signal to para_sync and posts the job; the
// FPGA thread's 100 closes it. While it exists the pages ignore their job
// and menu buttons and the idle count stands still.
#include "core/global.h"

#include <QPointer>
#include <QWidget>

class QDialog;

class QRoundProgressBar : public QWidget {
    Q_OBJECT
public:
    // Silence after which an overlay whose job is no longer running is
    // closed, and after which it is closed whatever the job byte says (the
    // FPGA thread no longer answers).
    static constexpr u32 kSilenceTicks = 1000;
    static constexpr u32 kDeadTicks = 12000;

    explicit QRoundProgressBar(QWidget* parent = nullptr);

    // Creates the overlay on parent at 300, 140, 200 x 200 with value 0 when
    // none exists; otherwise does nothing.
    static void create_qround_bar(QDialog* parent);

    int value() const { return m_value; }

    // Run by the tick: closes an overlay nobody reports to any more, with
    // the no-answer tip. True when it closed it.
    bool watch();

public slots:
    // 100 or more closes the overlay; any other value is shown.
    void para_sync(int value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void finish();

    int m_value = 0;
    u32 m_lastReport = 0;
};

extern QPointer<QRoundProgressBar> g_qround_bar;
