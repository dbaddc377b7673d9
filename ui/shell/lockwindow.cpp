#include "ui/shell/lockwindow.h"

#include "core/JsonParse.h"
#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QTimerEvent>

#include <algorithm>
#include <iterator>

QPointer<LockWindow> g_lockwindow;

namespace {

// Pictures of the inputs without and with a signal.
const char* const kPicture[6] = {"HDMI.png", "DVI.png", "HDMI13.png", "HDMI13.png", "HDMI20.png", "HDMI20.png"};
const char* const kPictureLit[6] = {"extlv.png", "dvilv.png", "HDMI13_lv.png", "HDMI13_lv.png",
                                    "HDMI20_lv.png", "HDMI20_lv.png"};

QLocale panelLocale() {
    switch (ShellText::language()) {
    case 0: return QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    case 2: return QLocale(QLocale::Russian, QLocale::Russia);
    case 3: return QLocale(QLocale::Vietnamese, QLocale::Vietnam);
    case 4: return QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
    default: return QLocale(QLocale::English, QLocale::UnitedStates);
    }
}

SIGNAL_PARA readSignal(int input) {
    SIGNAL_PARA s{};
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model || input < 0 || input >= ZRV_INPUT_COUNT) return s;
    return model->ZrvGetSignalPara(input);
}

bool present(const SIGNAL_PARA& s) { return s.width != 0 && s.height != 0 && s.rate != 0; }

}  // namespace

LockWindow::LockWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    std::fill(std::begin(m_inputOn), std::end(m_inputOn), -1);
    setObjectName(QStringLiteral("LockWindow"));
    setWindowModality(Qt::ApplicationModal);
    PageFrame::fillPanel(this);

    m_time = new QLabel(this);
    m_time->setObjectName(QStringLiteral("label_time"));
    m_time->setGeometry(30, 14, 360, 72);
    m_time->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: bold 60px;"));

    m_date = new QLabel(this);
    m_date->setObjectName(QStringLiteral("label_date"));
    m_date->setGeometry(34, 90, 560, 34);
    m_date->setStyleSheet(QStringLiteral("color: rgb(190, 194, 214);font: 22px;"));

    for (int i = 0; i < 6; ++i) {
        const int x = 20 + 260 * (i % 3), y = 140 + 122 * (i / 3);
        auto* f = new QFrame(this);
        f->setObjectName(QStringLiteral("frame_input%1").arg(i));
        f->setGeometry(x, y, 240, 110);
        f->setStyleSheet(QStringLiteral("#frame_input%1{background-color: rgb(33, 36, 53);"
                                        "border:1px solid #FFFFFF;border-radius:6px;}").arg(i));
        m_picture[i] = new QLabel(f);
        m_picture[i]->setObjectName(QStringLiteral("label_picture%1").arg(i));
        m_picture[i]->setGeometry(12, 10, 100, 32);
        m_picture[i]->setScaledContents(true);
        m_state[i] = new QLabel(f);
        m_state[i]->setObjectName(QStringLiteral("label_state%1").arg(i));
        m_state[i]->setGeometry(212, 19, 14, 14);
        m_state[i]->setScaledContents(true);
        m_name[i] = new QLabel(f);
        m_name[i]->setObjectName(QStringLiteral("label_name%1").arg(i));
        m_name[i]->setGeometry(12, 48, 216, 28);
        m_name[i]->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 20px;"));
        m_signal[i] = new QLabel(f);
        m_signal[i]->setObjectName(QStringLiteral("label_signal%1").arg(i));
        m_signal[i]->setGeometry(12, 78, 216, 26);
        m_signal[i]->setStyleSheet(QStringLiteral("color: rgb(190, 194, 214);font: 18px;"));
    }

    m_ports = new QFrame(this);
    m_ports->setObjectName(QStringLiteral("frame_ports"));
    m_ports->setGeometry(20, 386, 760, 40);
    for (int o = 0; o < 2; ++o) {
        m_portLabel[o] = new QLabel(QStringLiteral("OUT%1").arg(o + 1), m_ports);
        m_portLabel[o]->setObjectName(QStringLiteral("label_out%1").arg(o + 1));
        m_portLabel[o]->setGeometry(390 * o, 6, 60, 28);
        m_portLabel[o]->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 18px;"));
        for (int p = 0; p < 12; ++p) {
            auto* l = new QLabel(m_ports);
            l->setObjectName(QStringLiteral("label_port%1").arg(o * 12 + p + 1));
            l->setGeometry(390 * o + 64 + 25 * p, 8, 22, 22);
            l->setScaledContents(true);
            m_port[o * 12 + p] = l;
        }
    }

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("label_hint"));
    m_hint->setGeometry(20, 436, 760, 34);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setStyleSheet(QStringLiteral("color: rgb(120, 126, 150);font: 18px;"));

    language_changed();
}

LockWindow::~LockWindow() { PageRegistry::leave(PageRegistry::Home, this); }

void LockWindow::language_changed() {
    // Pictures carry the language's prefix: all of them are drawn again.
    std::fill(std::begin(m_inputOn), std::end(m_inputOn), -1);
    m_portMask = -1;
    m_hint->setText(ShellText::pick("轻触屏幕进入主菜单", "Touch the screen to open the menu",
                                    "Коснитесь экрана, чтобы открыть меню",
                                    "Chạm vào màn hình để mở menu", "輕觸螢幕進入主選單"));
    updateClock();
    updateNames();
    updateInputs();
    updatePorts();
}

SIGNAL_PARA LockWindow::readSignal(int input) { return ::readSignal(input); }
bool LockWindow::signalPresent(int input) { return present(readSignal(input)); }

namespace {
QString textOf(const SIGNAL_PARA& s) {
    if (!present(s)) return ShellText::pick("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無訊號");
    return QStringLiteral("%1x%2@%3Hz").arg(s.width).arg(s.height).arg(s.rate);
}
}  // namespace

// One read, so the text never mixes two summaries.
QString LockWindow::signalText(int input) { return textOf(readSignal(input)); }

void LockWindow::updateClock() {
    const QDateTime now = QDateTime::currentDateTime();
    m_time->setText(now.toString(QStringLiteral("hh:mm:ss")));
    m_date->setText(panelLocale().toString(now.date(), QStringLiteral("yyyy-MM-dd  dddd")));
}

void LockWindow::updateNames() {
    for (int i = 0; i < 6; ++i) {
        QString name = ShellText::inputName(i);
        ALIAS_PARA alias;
        if (get_json_alias_para(&alias, "source", i) == 1) name = QString::fromStdString(alias.name);
        // Measured with the style sheet's font, the one that is drawn; before
        // the first show the label still has the application's font.
        m_name[i]->ensurePolished();
        const QFontMetrics fm(m_name[i]->font());
        // QLabel leaves an unchanged text alone.
        m_name[i]->setText(fm.elidedText(name, Qt::ElideRight, m_name[i]->width()));
    }
}

void LockWindow::updateInputs() {
    for (int i = 0; i < 6; ++i) {
        const SIGNAL_PARA s = readSignal(i);
        const int on = present(s) ? 1 : 0;
        if (on != m_inputOn[i]) {
            m_inputOn[i] = on;
            m_picture[i]->setPixmap(QPixmap(ShellText::picture(on ? kPictureLit[i] : kPicture[i])));
            m_state[i]->setPixmap(QPixmap(ShellText::picture(on ? "state_on.png" : "state_off.png")));
        }
        m_signal[i]->setText(textOf(s));
    }
}

void LockWindow::updatePorts() {
    u32 mask = 0;
    if (!FpgaPanel::portLinks(&mask)) {
        m_ports->hide();
        m_portMask = -1;
        return;
    }
    for (int p = 0; p < 24; ++p) {
        const bool on = (mask >> p) & 1;
        if (m_portMask >= 0 && bool((m_portMask >> p) & 1) == on) continue;
        m_port[p]->setPixmap(QPixmap(ShellText::picture(on ? "online.png" : "offline.png")));
    }
    m_portMask = mask;
    m_ports->show();
}

void LockWindow::refresh(int code) {
    (void)code;  // an alias file that arrived (103) is seen by the name look-up
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (model && model->ZrvLanguageChanged()) {
        language_changed();
        return;
    }
    updateNames();
    updateInputs();
    updatePorts();
}

void LockWindow::lock_show() {
    const int focus = g_page_focus.load();
    if (focus != PageRegistry::Home) m_previousFocus = focus;
    g_page_focus = PageRegistry::Home;
    PageOps ops;
    ops.refresh = [this](int code) { refresh(code); };
    PageRegistry::enter(PageRegistry::Home, this, ops);
    language_changed();
    PageFrame::coverPanel(this);
    show();
    raise();
    activateWindow();
    m_clock.start(1000, this);
}

void LockWindow::unlock() {
    m_clock.stop();
    hide();
    PageRegistry::leave(PageRegistry::Home, this);
    // The page that was in front may have been closed meanwhile (a file
    // handler or a USB event closes pages too): fall back to its menu.
    int back = m_previousFocus;
    if (back == PageRegistry::Home || !PageRegistry::isOpen(back))
        back = PageRegistry::isOpen(PageRegistry::Settings) ? int(PageRegistry::Settings)
                                                            : int(PageRegistry::MainMenu);
    g_page_focus = back;
    if (back == PageRegistry::MainMenu && g_mainwindow) g_mainwindow->language_changed();
}

void LockWindow::mousePressEvent(QMouseEvent*) { unlock(); }

void LockWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_clock.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    updateClock();
    updateInputs();
    updatePorts();
}
