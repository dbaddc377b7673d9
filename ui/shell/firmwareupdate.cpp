#include "ui/shell/firmwareupdate.h"

#include "ui/shell/page_frame.h"
#include "ui/shell/shell_text.h"

#include <QLabel>
#include <QPainter>
#include <QtMath>

FirmwareUpdate::FirmwareUpdate(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("firmwareupdate"));
    setWindowModality(Qt::ApplicationModal);
    PageFrame::fillPanel(this);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_update_title"));
    m_title->setGeometry(40, 300, 720, 50);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 30px;"));

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("label_update_hint"));
    m_hint->setGeometry(40, 360, 720, 40);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color: #FF5050;font: 22px;"));
    language_changed();
}

void FirmwareUpdate::language_changed() {
    m_title->setText(ShellText::pick("正在升级，请稍候…", "Upgrading, please wait…",
                                     "Обновление, подождите…", "Đang nâng cấp, vui lòng chờ…",
                                     "正在升級，請稍候…"));
    m_hint->setText(ShellText::pick("升级过程中请勿断电", "Do not switch the power off",
                                    "Не выключайте питание", "Không được tắt nguồn",
                                    "升級過程中請勿斷電"));
}

void FirmwareUpdate::animate() {
    if (++m_ticks < kFrameTicks) return;
    m_ticks = 0;
    m_frame = (m_frame + 1) % kFrames;
    update();
}

void FirmwareUpdate::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(400, 170);
    // Twelve dots on a circle; the marker and its fading tail turn by one
    // place per frame.
    for (int i = 0; i < kFrames; ++i) {
        const int age = (m_frame - i + kFrames) % kFrames;
        const qreal a = 2 * M_PI * i / kFrames - M_PI / 2;
        const QPointF pt = centre + QPointF(qCos(a), qSin(a)) * 80;
        QColor c(0x47, 0x77, 0xFF);
        c.setAlpha(age < 6 ? 255 - age * 38 : 40);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(pt, 12, 12);
    }
}
