#include "ui/shell/QRoundProgressBar.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/tip.h"

#include <QDialog>
#include <QPainter>

QPointer<QRoundProgressBar> g_qround_bar;

QRoundProgressBar::QRoundProgressBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("qround_bar"));
    setAttribute(Qt::WA_TranslucentBackground);
    m_lastReport = G_timeTicks;
}

void QRoundProgressBar::create_qround_bar(QDialog* parent) {
    if (g_qround_bar) return;
    auto* bar = new QRoundProgressBar(parent);
    bar->setGeometry(300, 140, 200, 200);
    bar->para_sync(0);
    bar->show();
    bar->raise();
    g_qround_bar = bar;
}

void QRoundProgressBar::para_sync(int value) {
    m_lastReport = G_timeTicks;
    if (value >= 100) {
        finish();
        return;
    }
    m_value = value < 0 ? 0 : value;
    update();
}

void QRoundProgressBar::finish() {
    if (g_qround_bar == this) g_qround_bar = nullptr;
    hide();
    deleteLater();
}

bool QRoundProgressBar::watch() {
    const u32 silent = Utils::getTimeSpace(m_lastReport);
    const bool orphan = silent > kSilenceTicks && !FpgaPanel::jobRunning();
    if (!orphan && silent <= kDeadTicks) return false;
    writeLogMsg(WARNING, "progress overlay closed: its job gave no progress for " +
                             std::to_string(silent) + " ticks");
    finish();
    if (g_tip) g_tip->tip_create(TIP::NoAnswer);
    return true;
}

void QRoundProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ring = QRectF(rect()).adjusted(14, 14, -14, -14);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(16, 16, 28, 220));
    p.drawEllipse(QRectF(rect()).adjusted(2, 2, -2, -2));
    QPen track(QColor(33, 36, 53), 16, Qt::SolidLine, Qt::FlatCap);
    p.setPen(track);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ring);
    QPen arc(QColor(0x47, 0x77, 0xFF), 16, Qt::SolidLine, Qt::FlatCap);
    p.setPen(arc);
    p.drawArc(ring, 90 * 16, -int(m_value * 360 * 16 / 100));
    p.setPen(Qt::white);
    QFont f = font();
    f.setPixelSize(40);
    f.setBold(true);
    p.setFont(f);
    p.drawText(rect(), Qt::AlignCenter, QString::number(m_value) + "%");
}
