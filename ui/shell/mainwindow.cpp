#include "ui/shell/mainwindow.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/firmwareupdate.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/guibridge.h"
#include "ui/shell/lcd_touch.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

QPointer<MainWindow> g_mainwindow;
QPointer<QTimer> g_timer;

u32 G_factoryage_ticks = 0;
u32 factoryage_log_diff3 = 0, factoryage_log_diff5 = 0, factoryage_log_diff10 = 0,
    factoryage_log_diff20 = 0, factoryage_log_diffmore = 0;
u32 factoryage_log2_diff3 = 0, factoryage_log2_diff5 = 0, factoryage_log2_diff10 = 0,
    factoryage_log2_diff20 = 0, factoryage_log2_diffmore = 0;

QPoint panelOrigin() {
    if (!g_mainwindow) return QPoint(0, 0);
    return g_mainwindow->isVisible() ? g_mainwindow->mapToGlobal(QPoint(0, 0)) : g_mainwindow->pos();
}

namespace {

// A control the key lock blocks is disabled and drawn in the grey of an
// empty mode, so a locked panel looks locked.
#define ZRV_LOCKED_LOOK "QPushButton:disabled{color:#60647A;border-color:#60647A;}"
const char* kTopStyle =
    "QPushButton{%1;border:1px solid #FFFFFF;border-radius:6px;font: 18px;}" ZRV_LOCKED_LOOK;
const char* kModeSaved = "QPushButton{background-color: rgb(33, 36, 53);color:#FFFFFF;"
                         "border:1px solid #FFFFFF;border-radius:6px;font: 20px;}" ZRV_LOCKED_LOOK;
const char* kModeEmpty = "QPushButton{background-color: rgb(33, 36, 53);color:#60647A;"
                         "border:1px solid #60647A;border-radius:6px;font: 20px;}";
const char* kModeCurrent = "QPushButton{background-color:#4777FF;color:#FFFFFF;"
                           "border:1px solid #FFFFFF;border-radius:6px;font: 20px;}" ZRV_LOCKED_LOOK;
#undef ZRV_LOCKED_LOOK

// A word of the live image changed under the change protocol, so the c331
// thread applies it and the persisting step stores it.
void writeLiveWord(u32 offset, u16 value) {
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        live.setWord(offset, value);
        return true;
    });
}

// A toggle: the word flips from what it holds when the edit runs.
void toggleLiveWord(u32 offset) {
    editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
        live.setWord(offset, live.word(offset) ? 0 : 1);
        return true;
    });
}

void countRise(int previous, int now, u32& d3, u32& d5, u32& d10, u32& d20, u32& dmore) {
    if (now < previous) now += 256;  // the 8-bit counter wrapped
    const int rise = now - previous;
    if (rise <= 0) return;
    if (rise < 3)
        ++d3;
    else if (rise < 5)
        ++d5;
    else if (rise < 10)
        ++d10;
    else if (rise < 20)
        ++d20;
    else
        ++dmore;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("MainWindow"));
    ShellText::installFont();
    PageFrame::fillPanel(this);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_title"));
    m_title->setGeometry(20, 10, 370, 56);
    m_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 30px;"));

    m_blackout = new QPushButton(this);
    m_blackout->setObjectName(QStringLiteral("Button_blackout"));
    m_blackout->setGeometry(405, 12, 185, 52);
    m_blackout->setFocusPolicy(Qt::NoFocus);
    m_blackout->setIconSize(QSize(32, 32));
    connect(m_blackout, &QPushButton::clicked, this, &MainWindow::on_Button_blackout_clicked);

    m_lock = new QPushButton(this);
    m_lock->setObjectName(QStringLiteral("Button_lock"));
    m_lock->setGeometry(600, 12, 185, 52);
    m_lock->setFocusPolicy(Qt::NoFocus);
    m_lock->setIconSize(QSize(32, 32));
    connect(m_lock, &QPushButton::clicked, this, &MainWindow::on_Button_lock_clicked);

    m_tiles[0] = makeTile("inputchoose", 20, 80, "icon_source.png");
    m_tiles[1] = makeTile("Button_usermode", 415, 80, "icon_mode.png");
    m_tiles[2] = makeTile("Button_option", 20, 205, "icon_settings.png");
    m_tiles[3] = makeTile("Button_info", 415, 205, "icon_info.png");
    connect(m_tiles[0], &QToolButton::clicked, this, &MainWindow::on_inputchoose_clicked);
    connect(m_tiles[1], &QToolButton::clicked, this, &MainWindow::on_Button_usermode_clicked);
    connect(m_tiles[2], &QToolButton::clicked, this, &MainWindow::on_Button_option_clicked);
    connect(m_tiles[3], &QToolButton::clicked, this, &MainWindow::on_Button_info_clicked);

    m_modeTitle = new QLabel(this);
    m_modeTitle->setObjectName(QStringLiteral("label_mode"));
    m_modeTitle->setGeometry(20, 330, 760, 32);
    m_modeTitle->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 20px;"));
    for (int i = 0; i < 16; ++i) {
        auto* b = new QPushButton(QString::number(i + 1), this);
        b->setObjectName(QStringLiteral("Button_mode%1").arg(i + 1));
        b->setGeometry(20 + 95 * (i % 8), 368 + 54 * (i / 8), 88, 46);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QPushButton::clicked, this, &MainWindow::zrv_button_mode_clicked);
        m_modes[i] = b;
    }

    // The shared keypad and the tip live as long as the main menu.
    g_numberkeyboard = new NumberKeyboard();
    g_tip = new TIP();

    // The shell's own pages; the other front-panel pages add theirs.
    PageRegistry::setOpener(PageRegistry::Settings, [] {
        if (g_option) return;
        auto* page = new Option();
        g_option = page;
        g_page_focus = PageRegistry::Settings;
        PageRegistry::runDialog(page);
    });
    PageRegistry::setOpener(PageRegistry::DeviceInfo, [] {
        if (g_machinestate) return;
        auto* page = new machinestate();
        g_machinestate = page;
        g_page_focus = PageRegistry::DeviceInfo;
        PageRegistry::runDialog(page);
    });
    PageOps ops;
    ops.refresh = [this](int code) { refresh(code); };
    PageRegistry::enter(PageRegistry::MainMenu, this, ops);

    G_factoryage_ticks = G_timeTicks;
    language_changed();
}

MainWindow::~MainWindow() {
    PageRegistry::leave(PageRegistry::MainMenu, this);
    delete m_update.data();
    delete g_numberkeyboard.data();
    delete g_tip.data();
}

QToolButton* MainWindow::makeTile(const char* name, int x, int y, const char* icon) {
    return PageFrame::addTile(this, name, QRect(x, y, 370, 112), icon, 56);
}

void MainWindow::language_changed() {
    m_title->setText(ShellText::pick("主菜单", "Main menu", "Главное меню", "Menu chính", "主選單"));
    m_tiles[0]->setText(ShellText::pick("信号源", "Source", "Источник", "Nguồn tín hiệu", "訊號源"));
    m_tiles[1]->setText(ShellText::pick("用户模式", "User modes", "Режимы", "Chế độ người dùng", "使用者模式"));
    m_tiles[2]->setText(ShellText::pick("设置", "Settings", "Настройки", "Cài đặt", "設定"));
    m_tiles[3]->setText(ShellText::pick("设备信息", "Device info", "Об устройстве", "Thông tin thiết bị", "裝置資訊"));
    m_blackout->setText(ShellText::pick("黑屏", "Blackout", "Затемнить", "Tắt hình", "黑屏"));
    m_lock->setText(ShellText::pick("按键锁", "Key lock", "Блокировка", "Khóa phím", "按鍵鎖"));
    m_modeTitle->setText(ShellText::pick("调用用户模式", "Recall user mode", "Вызов режима",
                                         "Gọi chế độ người dùng", "調用使用者模式"));
    if (g_numberkeyboard) g_numberkeyboard->language_changed();
    updateStates();
}

void MainWindow::updateStates() {
    const ImageView view = PageView::get();
    m_keylock = view.live.byte(RamOffset::KEY_LOCK) == 1 ? 1 : 0;
    const bool black = view.live.word(RamOffset::BLACKOUT) != 0;
    m_lock->setIcon(QIcon(ShellText::picture(m_keylock ? "icon_lock.png" : "icon_unlock.png")));
    m_lock->setStyleSheet(QString::fromLatin1(kTopStyle).arg(m_keylock ? ShellText::kSelected : ShellText::kUnselected));
    m_blackout->setIcon(QIcon(ShellText::picture("icon_blackout.png")));
    m_blackout->setStyleSheet(QString::fromLatin1(kTopStyle).arg(black ? ShellText::kSelected : ShellText::kUnselected));
    const int current = view.currentMode();
    for (int i = 0; i < 16; ++i) {
        const bool saved = view.modeSaved(i);
        const char* style = (current == i + 1 && saved) ? kModeCurrent : saved ? kModeSaved : kModeEmpty;
        m_modes[i]->setStyleSheet(QString::fromLatin1(style));
        m_modes[i]->setEnabled(!m_keylock);
    }
    // The device information and the lock itself stay usable.
    for (QToolButton* tile : m_tiles)
        if (tile != m_tiles[3]) tile->setEnabled(!m_keylock);
    m_blackout->setEnabled(!m_keylock);
}

void MainWindow::refresh(int) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (model && model->ZrvLanguageChanged())
        language_changed();
    else
        updateStates();
}

void MainWindow::openLocked(int id) {
    if (m_keylock == 1) return;
    PageRegistry::open(id);
}

void MainWindow::on_inputchoose_clicked() { openLocked(PageRegistry::SourceSelect); }
void MainWindow::on_Button_usermode_clicked() { openLocked(PageRegistry::UserModes); }
void MainWindow::on_Button_option_clicked() { openLocked(PageRegistry::Settings); }
void MainWindow::on_Button_info_clicked() { PageRegistry::open(PageRegistry::DeviceInfo); }

void MainWindow::on_Button_lock_clicked() {
    writeLiveWord(RamOffset::KEY_LOCK, m_keylock ? 0 : 1);
    updateStates();
}

void MainWindow::on_Button_blackout_clicked() {
    if (m_keylock == 1) return;
    toggleLiveWord(RamOffset::BLACKOUT);
    updateStates();
}

void MainWindow::zrv_button_mode_clicked() {
    if (m_keylock == 1) return;
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    auto* b = qobject_cast<QPushButton*>(sender());
    if (!model || !b) return;
    const int mode = b->text().toInt();
    if (mode < 1 || mode > 16) return;
    recallUserMode(mode);
    updateStates();
}

bool MainWindow::recallUserMode(int m) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (!model) return false;
    return editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow) {
        if (!model->user_mode_recall_locked(m)) return false;
        // The recalled mode may split another wall: the LED outputs follow it
        // like any other change of the wall (its own windows stay as saved).
        for (u32 off : {RamOffset::SPLICE_MODE, RamOffset::WALL_WIDTH, RamOffset::WALL_HEIGHT}) {
            if (live.word(off) != shadow.word(off)) {
                FpgaPanel::requestLedReinit();
                break;
            }
        }
        return true;
    });
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible() && w->size() == size()) PageFrame::coverPanel(w);
}

bool MainWindow::isUpdating() const { return m_update && m_update->isVisible(); }

void MainWindow::update_start() {
    if (!GuiBridge::inGuiThread()) {
        GuiBridge::updateStart();
        return;
    }
    if (!m_update) m_update = new FirmwareUpdate();
    m_update->language_changed();
    PageFrame::coverPanel(m_update);
    m_update->show();
    m_update->raise();
    m_update->activateWindow();
}

void MainWindow::update_over() {
    if (!GuiBridge::inGuiThread()) {
        GuiBridge::updateOver();
        return;
    }
    if (!m_update) return;
    m_update->close();
    m_update->deleteLater();
    m_update = nullptr;
}

void MainWindow::appendAgeLine(const QString& line) {
    factoryage_log.append(line);
    while (factoryage_log.size() > kAgeLogLines) factoryage_log.removeFirst();
    if (factoryage_log.size() < 2) return;
    const QStringList prev = factoryage_log.at(factoryage_log.size() - 2).split(' ');
    const QStringList now = factoryage_log.last().split(' ');
    if (prev.size() < 8 || now.size() < 8) return;
    countRise(prev[2].toInt(), now[2].toInt(), factoryage_log_diff3, factoryage_log_diff5,
              factoryage_log_diff10, factoryage_log_diff20, factoryage_log_diffmore);
    countRise(prev[5].toInt(), now[5].toInt(), factoryage_log2_diff3, factoryage_log2_diff5,
              factoryage_log2_diff10, factoryage_log2_diff20, factoryage_log2_diffmore);
}

void MainWindow::getagelog() {
    QString when;
    {
        QMutexLocker lock(&Utils::_system_mutex);
        when = QDateTime::currentDateTime().toString(QStringLiteral("MM-dd hh:mm"));
    }
    u8 r[6];
    if (!FpgaPanel::readAgeRegisters(r)) return;
    QString line = when;
    for (u8 v : r) line += ' ' + QString::number(v);
    appendAgeLine(line);
}

void MainWindow::slot_update_timer_ticks() {
    // Counts of lines held back fall due with no new occurrence to bring them.
    LineLimiter::writeDueCounts();
    lcd_touch::pInstance()->auto_timeout_back();
    if (g_tip) g_tip->tick();
    if (g_qround_bar) g_qround_bar->watch();
    if (m_update) m_update->animate();

    if (Utils::getTimeSpace(G_factoryage_ticks) > kAgeSampleTicks) {
        G_factoryage_ticks = G_timeTicks;
        if (FpgaPanel::exists() && pc_cmd_valid.load() == 0 && FpgaPanel::running()) getagelog();
        PageRegistry::agelogUpdated();
    }

    if (g_app_reset_flag.load() && !m_rebootIssued &&
        Utils::getTimeSpace(G_reboot_tickTicks.load()) >= kRebootTicks) {
        m_rebootIssued = true;
        writeLogMsg(INFO, "reboot after reset request");
        Utils::system_mutex(QStringLiteral("reboot"));
    }
}
