#include "ui/shell/tip.h"

#include "core/utils.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_text.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPixmap>

QPointer<TIP> g_tip;

namespace {
constexpr int kX = 250, kY = 140, kW = 300, kH = 200;
// A page's background rule reaches every widget on it: the picture's own
// corners must stay clear.
const char* const kPictureStyle = "background: transparent;border: none;";
}  // namespace

TIP::TIP(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tip"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(kW, kH);
    m_picture = new QLabel(this);
    m_picture->setObjectName(QStringLiteral("label_tip"));
    m_picture->setGeometry(0, 0, kW, kH);
    m_picture->setScaledContents(true);
    m_picture->setStyleSheet(QString::fromLatin1(kPictureStyle));
    hide();
}

QWidget* TIP::frontWindow() {
    // The updating screen stays above everything, a page shown after it too.
    if (g_mainwindow && g_mainwindow->isUpdating()) return g_mainwindow->updateScreen();
    // The pages, the keypad and the home page run modal: the one shown last
    // is in front.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) return modal;
    return g_mainwindow;
}

void TIP::showInFront() {
    QWidget* host = frontWindow();
    if (!host) {
        leaveWindow();
        return;
    }
    if (host != parentWidget()) {
        leaveWindow();
        setParent(host);
        host->installEventFilter(this);
        m_host = host;
    }
    QRect place(QPoint(kX, kY) - (host->mapToGlobal(QPoint(0, 0)) - panelOrigin()), QSize(kW, kH));
    if (!host->rect().contains(place)) place.moveCenter(host->rect().center());
    setGeometry(place);
    show();
    raise();
}

void TIP::leaveWindow() {
    hide();
    if (m_host) m_host->removeEventFilter(this);
    m_host = nullptr;
    if (parentWidget()) setParent(nullptr);
}

bool TIP::onTopOfItsWindow() const {
    const QWidget* host = parentWidget();
    if (!host) return false;
    const QObjectList& siblings = host->children();
    for (auto it = siblings.crbegin(); it != siblings.crend(); ++it)
        if ((*it)->isWidgetType()) return *it == this;
    return false;
}

bool TIP::eventFilter(QObject* watched, QEvent* event) {
    // Its window closes (a page's back, the end of an update, the home page
    // unlocked): the tip goes over the window in front now, or away.
    if (watched == m_host && event->type() == QEvent::Hide) {
        leaveWindow();
        if (m_kind != None) showInFront();
    }
    return QWidget::eventFilter(watched, event);
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
    m_picture->setStyleSheet(QString::fromLatin1(kPictureStyle));
    const QString name = pictureOf(kind);
    if (name.isEmpty()) {
        m_kind = None;
        leaveWindow();
        return;
    }
    m_kind = kind;
    m_start = G_timeTicks;
    m_picture->setPixmap(QPixmap(name));
    showInFront();
}

void TIP::tip_failed(const QString& text) {
    m_picture->clear();
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
    showInFront();
}

QString TIP::text() const { return m_kind == Failed ? m_picture->text() : QString(); }

void TIP::tick() {
    if (m_kind == None) return;
    if (Utils::getTimeSpace(m_start) >= kShowTicks) {
        m_kind = None;
        m_picture->clear();
        leaveWindow();
        return;
    }
    // A page opened over its window, or a widget was added above it.
    if (frontWindow() != parentWidget() || !onTopOfItsWindow()) showInFront();
}
