#include "ui/shell/tip.h"

#include "core/utils.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/shell_text.h"

#include <QLabel>
#include <QPixmap>

QPointer<TIP> g_tip;

namespace {
constexpr int kX = 250, kY = 140, kW = 300, kH = 200;
}

TIP::TIP(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("tip"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // The pictures have rounded corners: outside them the window shows what
    // lies below instead of the window colour.
    setAttribute(Qt::WA_TranslucentBackground);
    resize(kW, kH);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("label_tip"));
    m_picture->setGeometry(0, 0, kW, kH);
    m_picture->setScaledContents(true);
}

QString TIP::pictureOf(int kind) {
    switch (kind) {
    case Confirm: return ShellText::picture(QStringLiteral("tip_ok.png"), true);
    case UsbInserted: return ShellText::picture(QStringLiteral("tip_usb_in.png"), true);
    case UsbRemoved: return ShellText::picture(QStringLiteral("tip_usb_out.png"), true);
    case Reading: return ShellText::picture(QStringLiteral("tip_reading.png"), true);
    case NoAnswer: return ShellText::picture(QStringLiteral("tip_no_answer.png"), true);
    default: return QString();
    }
}

void TIP::tip_create(int kind) {
    if (kind == Confirm && m_kind == Failed) return;
    m_picture->clear();
    m_picture->setStyleSheet(QString());
    hide();
    const QString name = pictureOf(kind);
    if (name.isEmpty()) {
        m_kind = None;
        return;
    }
    m_kind = kind;
    m_start = G_timeTicks;
    m_picture->setPixmap(QPixmap(name));
    PageFrame::placeOnPanel(this, QPoint(kX, kY));
    show();
    raise();
}

void TIP::tip_failed(const QString& text) {
    m_picture->clear();
    hide();
    m_kind = Failed;
    m_start = G_timeTicks;
    QFont f = m_picture->font();
    f.setPixelSize(26);
    f.setBold(true);
    m_picture->setFont(f);
    m_picture->setWordWrap(true);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setStyleSheet(QStringLiteral(
        "background-color: rgb(33, 36, 53);color: #FFFFFF;border:3px solid #FF4040;border-radius:14px;padding:12px;"));
    m_picture->setText(text);
    PageFrame::placeOnPanel(this, QPoint(kX, kY));
    show();
    raise();
}

QString TIP::text() const { return m_kind == Failed ? m_picture->text() : QString(); }

void TIP::tick() {
    if (m_kind == None) return;
    if (Utils::getTimeSpace(m_start) < kShowTicks) return;
    m_kind = None;
    m_picture->clear();
    hide();
}
