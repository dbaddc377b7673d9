#include "ui/service/linkoption.h"

#include "core/config_engine.h"
#include "core/global.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/fileops.h"
#include "ui/service/service_pages.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMutexLocker>
#include <QPushButton>
#include <QStackedWidget>
#include <QVariant>

QPointer<LinkOption> g_linkoption;

using ServicePages::pointFont;
using ServicePages::addButton;

namespace {

const char* const kFieldColours = "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53);";
const char* const kOutlined = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";

QLabel* addLabel(QWidget* parent, const char* name, const QRect& where, int pt) {
    auto* l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(where);
    l->setFont(pointFont(parent, pt));
    l->setStyleSheet(QString::fromLatin1(ShellText::kWhiteText));
    return l;
}

// An octet as the operator typed it, in plain decimal: "010" is 10, never
// the 8 a network command would read from a leading zero.
bool plainOctet(const QString& text, QString* out) {
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (!ok || v > 255) return false;
    *out = QString::number(v);
    return true;
}

}  // namespace

LinkOption::LinkOption(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LinkOption"));
    setWindowTitle(QStringLiteral("Dialog"));
    PageFrame::fillPanel(this);
    setFont(pointFont(this, 15));
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_title = addLabel(this, "label_title", QRect(135, 15, 524, 42), 18);
    m_title->setAlignment(Qt::AlignCenter);
    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &LinkOption::on_Button_back_clicked);

    const char* tabNames[3] = {"Button_com", "Button_wlan", "Button_usb"};
    for (int k = 0; k < 3; ++k)
        m_tabs[k] = addButton(this, tabNames[k], QRect(20, 78 + 62 * k, 155, 60), 14, ShellText::kWhiteText);
    connect(m_tabs[0], &QPushButton::clicked, this, &LinkOption::on_Button_com_clicked);
    connect(m_tabs[1], &QPushButton::clicked, this, &LinkOption::on_Button_wlan_clicked);
    connect(m_tabs[2], &QPushButton::clicked, this, &LinkOption::on_Button_usb_clicked);

    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    m_stack->setGeometry(190, 68, 610, 400);
    m_stack->setFont(pointFont(this, 12));
    m_stack->setStyleSheet(QStringLiteral("#stackedWidget{border:1px solid rgb(133, 129, 153);}"));
    const char* pageNames[3] = {"page", "page_2", "page_3"};
    QWidget* pages[3];
    for (int k = 0; k < 3; ++k) {
        pages[k] = new QWidget();
        pages[k]->setObjectName(QString::fromLatin1(pageNames[k]));
        m_stack->addWidget(pages[k]);
    }
    buildSerialPage(pages[0]);
    buildNetworkPage(pages[1]);
    buildUsbPage(pages[2]);

    m_stack->setCurrentIndex(0);
    m_tab = m_tabs[0];
    m_direct->setIcon(QIcon(ShellText::picture(QStringLiteral("checked.png"))));
    m_fixed->setIcon(QIcon(ShellText::picture(QStringLiteral("unchecked.png"))));
    language_changed();

    QString ip, mask, gateway;
    {
        QMutexLocker lock(&settingsLock());
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    fillRow(m_ip, ip);
    fillRow(m_mask, mask);
    fillRow(m_gate, gateway);

    for (QLineEdit* const* row : {m_ip, m_mask, m_gate})
        for (int k = 0; k < 4; ++k)
            connect(static_cast<My_lineEdit*>(row[k]), &My_lineEdit::send_show, this,
                    &LinkOption::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &LinkOption::confirmString);

    PageOps ops;
    ops.refresh = [this](int code) { syncUpdate(code); };
    ops.back = [this] { on_Button_back_clicked(); };
    PageRegistry::enter(PageRegistry::Communication, this, ops);
}

LinkOption::~LinkOption() { PageRegistry::leave(PageRegistry::Communication, this); }

void LinkOption::buildSerialPage(QWidget* page) {
    const char* names[3] = {"label_baud", "label_bit", "label_stop"};
    const char* values[3] = {"label_num_baud", "label_num_bit", "label_num_stop"};
    const char* fixed[3] = {"115200", "8", "1"};
    for (int k = 0; k < 3; ++k) {
        m_serialLabel[k] = addLabel(page, names[k], QRect(10, 101 + 70 * k, 300, 28), 14);
        QLabel* v = addLabel(page, values[k], QRect(360, 90 + 70 * k, 230, 50), 15);
        v->setStyleSheet(QString::fromLatin1(kOutlined));
        v->setText(QString::fromLatin1(fixed[k]));
    }
}

void LinkOption::buildNetworkPage(QWidget* page) {
    m_network = addLabel(page, "label_network", QRect(15, 20, 170, 28), 14);
    auto* combo = new QComboBox(page);
    combo->setObjectName(QStringLiteral("comboBox2"));
    combo->setGeometry(190, 20, 400, 30);

    m_direct = addButton(page, "Button_direct", QRect(71, 70, 50, 50), 12, "border:none;");
    m_direct->setIconSize(QSize(32, 32));
    m_directLabel = addLabel(page, "label_direct", QRect(122, 80, 190, 28), 14);
    m_fixed = addButton(page, "Button_IP", QRect(323, 70, 50, 50), 12, "border:none;");
    m_fixed->setIconSize(QSize(32, 32));
    m_fixedLabel = addLabel(page, "label_IP", QRect(374, 80, 180, 28), 14);
    connect(m_direct, &QPushButton::clicked, this, &LinkOption::on_Button_direct_clicked);
    connect(m_fixed, &QPushButton::clicked, this, &LinkOption::on_Button_IP_clicked);

    const char* rowNames[3] = {"label_IpSet", "label_netmask", "label_gateway"};
    const QRect rowRects[3] = {{19, 140, 100, 21}, {17, 210, 130, 21}, {17, 272, 100, 21}};
    const char* rowKeys[3] = {"Ip", "Mask", "Gate"};
    QLineEdit** rows[3] = {m_ip, m_mask, m_gate};
    for (int r = 0; r < 3; ++r) {
        m_rowLabel[r] = addLabel(page, rowNames[r], rowRects[r], 13);
        m_rowLabel[r]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        const int y = 130 + 65 * r;
        // Each row reads as one framed address: the fields and dots share the
        // background and the top and bottom lines, the ends close the frame.
        const QString edge = QStringLiteral("border:none;border-top:1px solid rgb(255, 255, 255);"
                                            "border-bottom:1px solid rgb(255, 255, 255);");
        for (int k = 0; k < 4; ++k) {
            auto* f = new My_lineEdit(page);
            f->setObjectName(QStringLiteral("lineEdit%1%2").arg(QLatin1String(rowKeys[r])).arg(k + 1));
            f->setGeometry(150 + 88 * k, y, 70, 50);
            f->setFont(pointFont(page, 14));
            f->setAlignment(Qt::AlignCenter);
            QString style = QString::fromLatin1(kFieldColours) + edge;
            if (k == 0) style += QStringLiteral("border-left:1px solid rgb(255, 255, 255);");
            if (k == 3) style += QStringLiteral("border-right:1px solid rgb(255, 255, 255);");
            f->setStyleSheet(style);
            rows[r][k] = f;
            if (k == 3) continue;
            QLabel* dot = addLabel(page, "", QRect(220 + 88 * k, y, (r == 2 && k == 0) ? 21 : 18, 50), 14);
            dot->setObjectName(QStringLiteral("label%1Dot%2").arg(QLatin1String(rowKeys[r])).arg(k + 1));
            if (r == 1 && k == 2) dot->setFont(pointFont(page, 11));
            dot->setAlignment(Qt::AlignCenter);
            dot->setStyleSheet(QString::fromLatin1(kFieldColours) + edge);
            dot->setText(QStringLiteral("."));
        }
    }
    m_cancel = addButton(page, "Button_net_cancel", QRect(210, 330, 180, 60), 15, kOutlined);
    m_apply = addButton(page, "Button_net_apply", QRect(410, 330, 180, 60), 15, kOutlined);
    connect(m_cancel, &QPushButton::clicked, this, &LinkOption::on_Button_net_cancel_clicked);
    connect(m_apply, &QPushButton::clicked, this, &LinkOption::on_Button_net_apply_clicked);
}

void LinkOption::buildUsbPage(QWidget* page) {
    m_usbPage = page;
    m_ok = addButton(page, "Button_ok", QRect(410, 340, 180, 50), 15, kOutlined);
    connect(m_ok, &QPushButton::clicked, this, &LinkOption::on_Button_ok_clicked);
    m_log = addLabel(page, "label_log", QRect(10, 17, 550, 61), 14);
    m_log->setAlignment(Qt::AlignCenter);
}

void LinkOption::fillRow(QLineEdit* const row[4], const QString& text) {
    // A stored text of fewer than four parts leaves the missing fields empty.
    const QStringList parts = text.split('.');
    for (int k = 0; k < 4; ++k) row[k]->setText(k < parts.size() ? parts[k] : QString());
}

bool LinkOption::joinRow(QLineEdit* const row[4], QString* text) {
    QStringList parts;
    for (int k = 0; k < 4; ++k) {
        QString octet;
        if (!plainOctet(row[k]->text(), &octet)) return false;
        parts << octet;
    }
    *text = parts.join('.');
    return true;
}

void LinkOption::language_changed() {
    m_title->setText(ShellText::pick("通讯设置", "Communication", "Связь", "Giao tiếp", "通訊設置"));
    m_tabs[0]->setText(ShellText::pick("串口", "Serial port", "COM-порт", "Cổng nối tiếp", "串口"));
    m_tabs[1]->setText(ShellText::pick("网络连接", "Net connect", "Сеть", "Kết nối mạng", "網絡連接"));
    m_tabs[2]->setText(ShellText::pick("USB升级", "USB UPDATE", "Обновление USB", "Cập nhật USB", "USB升級"));
    restyleTabs();
    m_serialLabel[0]->setText(ShellText::pick("波特率", "Baud rate", "Скорость, бод", "Tốc độ baud", "波特率"));
    m_serialLabel[1]->setText(ShellText::pick("数据位", "Data bits", "Биты данных", "Bit dữ liệu", "數據位"));
    m_serialLabel[2]->setText(ShellText::pick("停止位", "Stop bit", "Стоповый бит", "Bit dừng", "停止位"));
    m_network->setText(ShellText::pick("网络", "Network", "Сеть", "Mạng", "網絡"));
    SettingsPages::fitText(m_directLabel,
                           ShellText::pick("直连", "Direct link", "Прямое подключение", "Kết nối trực tiếp", "直連"));
    SettingsPages::fitText(m_fixedLabel,
                           ShellText::pick("固定IP模式", "Fixed IP mode", "Постоянный IP", "Chế độ IP tĩnh", "固定IP模式"));
    m_rowLabel[0]->setText(QStringLiteral("IP"));
    SettingsPages::fitText(m_rowLabel[1], ShellText::pick("子网掩码", "Mask", "Маска", "Mặt nạ", "子網掩碼"));
    SettingsPages::fitText(m_rowLabel[2], ShellText::pick("网关", "Gate", "Шлюз", "Cổng", "網關"));
    m_cancel->setText(ShellText::pick("取消", "Cancle", "Отмена", "Hủy", "取消"));
    m_apply->setText(ShellText::pick("应用", "Apply", "Применить", "Áp dụng", "應用"));
    m_ok->setText(ShellText::pick("确定", "OK", "OK", "OK", "確定"));
    // The list's no-file text and the last run's outcome follow the
    // language too; the outcome keeps the times of its own run.
    if (m_listFrame) rcv_self_recovery_file_list();
    showOutcome();
}

void LinkOption::showTab(int index, QPushButton* tab) {
    m_stack->setCurrentIndex(index);
    m_tab = tab;
    restyleTabs();
}

void LinkOption::restyleTabs() {
    // The fitted text keeps the tab's new style as its base.
    for (QPushButton* t : m_tabs) {
        t->setProperty("fitBaseStyle", QVariant());
        t->setStyleSheet(QString::fromLatin1(t == m_tab ? ShellText::kSelected : ShellText::kUnselected));
        SettingsPages::fitText(t, t->text());
    }
}

void LinkOption::on_Button_com_clicked() { showTab(0, m_tabs[0]); }
void LinkOption::on_Button_wlan_clicked() { showTab(1, m_tabs[1]); }

void LinkOption::on_Button_usb_clicked() {
    showTab(2, m_tabs[2]);
    get_file_list_smartpath();
    rcv_self_recovery_file_list();
}

void LinkOption::on_Button_direct_clicked() {
    m_direct->setIcon(QIcon(ShellText::picture(QStringLiteral("checked.png"))));
    m_fixed->setIcon(QIcon(ShellText::picture(QStringLiteral("unchecked.png"))));
}

void LinkOption::on_Button_IP_clicked() {
    m_fixed->setIcon(QIcon(ShellText::picture(QStringLiteral("checked.png"))));
    m_direct->setIcon(QIcon(ShellText::picture(QStringLiteral("unchecked.png"))));
}

void LinkOption::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field) return;
    m_editName = field->objectName();
    QString title = QStringLiteral("IP");
    if (m_editName.startsWith(QLatin1String("lineEditMask")))
        title = ShellText::pick("掩码", "mask", "mask", "mask", "掩碼");
    else if (m_editName.startsWith(QLatin1String("lineEditGate")))
        title = ShellText::pick("网关", "gateway", "gateway", "gateway", "網關");
    SettingsPages::openKeypad(field, title);
}

void LinkOption::confirmString(QString text) {
    // Every page connected to the keypad hears each value: only this page's
    // fields take it.
    if (!SettingsPages::ownsKeypadField(this)) return;
    QString octet;
    if (!plainOctet(text, &octet)) return;
    g_lineedit->setText(octet);
    for (int k = 0; k < 3; ++k)
        if (m_editName == m_ip[k]->objectName()) m_gate[k]->setText(octet);
}

void LinkOption::on_Button_net_apply_clicked() {
    m_cancel->setStyleSheet(QString::fromLatin1(kOutlined) + ShellText::kUnselected);
    m_apply->setStyleSheet(QString::fromLatin1(kOutlined) + ShellText::kSelected);

    QString ip, mask, gateway;
    if (!joinRow(m_ip, &ip) || !joinRow(m_mask, &mask) || !joinRow(m_gate, &gateway)) {
        writeLogMsg(ERROR, "network settings not applied: a field is not a number from 0 to 255");
        return;
    }
    bool same = false;
    {
        QMutexLocker lock(&settingsLock());
        same = ip == g_str_ip && mask == g_srt_mask && gateway == g_str_gateway;
    }
    if (same) return;
    debugPrintf("\n ip = %s mask = %s gateway = %s \n", qPrintable(ip), qPrintable(mask), qPrintable(gateway));
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config) {
        writeLogMsg(ERROR, "network settings not applied: the settings store is not loaded");
        return;
    }
    // The change signal would raise the confirmation: an address the
    // settings file or eth0 did not take must not read as applied.
    switch (config->apply_network(ip, mask, gateway)) {
    case ConfigEngine::NetworkFault::None:
        FileOps::syncAll();
        if (ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config) model->test_signal(1);
        return;
    case ConfigEngine::NetworkFault::NotTaken:
        writeLogMsg(ERROR, "network settings not applied: eth0 did not take them; the settings file holds them");
        // Stored: the next start sets them up; saying the save failed would
        // have the operator look for a fault in the file.
        if (g_tip)
            g_tip->tip_failed(ShellText::pick("网络设置已保存，但网口未接受该地址!",
                                              "The network settings are stored, but eth0 did not take the address!",
                                              "Настройки сети сохранены, но eth0 не принял адрес!",
                                              "Đã lưu cài đặt mạng, nhưng eth0 không nhận địa chỉ!",
                                              "網絡設置已保存，但網口未接受該地址!"));
        return;
    case ConfigEngine::NetworkFault::Unreadable:
    case ConfigEngine::NetworkFault::NotWritten:
        writeLogMsg(ERROR, "network settings not applied: the settings file did not take them");
        break;
    }
    if (g_tip)
        g_tip->tip_failed(ShellText::pick("网络设置保存失败!", "Saving the network settings failed!",
                                          "Ошибка сохранения настроек сети!", "Lưu cài đặt mạng thất bại!",
                                          "網絡設置保存失敗!"));
}

void LinkOption::on_Button_net_cancel_clicked() {
    m_apply->setStyleSheet(QString::fromLatin1(kOutlined) + ShellText::kUnselected);
    m_cancel->setStyleSheet(QString::fromLatin1(kOutlined) + ShellText::kSelected);
}

void LinkOption::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::Communication, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_linkoption == this) g_linkoption = nullptr;
    g_page_focus = PageRegistry::Settings;
}

// ---- USB sub-page

void LinkOption::get_file_list_smartpath() {
    QString setting;
    {
        QMutexLocker lock(&settingsLock());
        setting = g_usb_grade_path;
    }
    m_list = UsbPackages::scan(setting);
}

void LinkOption::rcv_self_recovery_file_list() {
    QFrame* frame = SettingsPages::renewFrame(
        m_listFrame, m_usbPage, "frame_file", QRect(10, 90, 580, 240),
        QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    QFont font = pointFont(m_usbPage, 15);
    auto row = [&](int r, const QString& text, const char* style, int width) {
        auto* l = new QLabel(frame);
        l->setObjectName(QStringLiteral("label_file"));
        l->setGeometry(5, 5 + 45 * r, width, 40);
        l->setFont(font);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        l->setStyleSheet(QString::fromLatin1(style));
        l->setText(text);
    };
    if (m_list.count() == 0) {
        row(0,
            ShellText::pick("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!",
                            "無加載文件!"),
            "background-color: rgb(33, 36, 53);color: #FFFFFF", 570);
    } else {
        for (int r = 0; r < 5 && r < m_list.count(); ++r)
            row(r, QString::fromLatin1(ShellText::kNeutral).arg(UsbPackages::fileName(m_list.paths[r]).toHtmlEscaped()),
                m_list.highlight[size_t(r)] ? "background-color:#4777FF;color: #FFFFFF;"
                                            : "background-color: rgb(33, 36, 53);color: #FFFFFF",
                520);
    }
    frame->show();
}

void LinkOption::showOutcome() {
    if (m_outcome == NoRun) return;
    const bool failed = m_outcome == RunFailed;
    const QString what = failed ? ShellText::pick("升级失败", "downing failed", "Ошибка обновления",
                                                  "Cập nhật thất bại", "升級失敗")
                                : QStringLiteral("downing over");
    m_log->setText(QStringLiteral("<font style = 'font-size:20px' color = %1 >%2</font>")
                       .arg(QLatin1String(failed ? "#FF0000" : "#51BB28"), what + QStringLiteral("<br>") + m_outcomeTimes));
}

void LinkOption::on_Button_ok_clicked() { menulist_button_ok_page(); }

void LinkOption::menulist_button_ok_page() {
    if (m_started) return;
    debugPrintf("\n menulist_button_ok_page 00 in  file_downing = %#x \n", 1);
    // Armed again only by a refused request or the stick's removal.
    if (FpgaPanel::postUsbUpgrade()) m_started = 1;
}

void LinkOption::syncUpdate(int code) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (model && model->ZrvLanguageChanged()) language_changed();
    switch (code) {
    case 100:
        debugPrintf("\n yes ,got the usb in");
        break;
    case 101:
        debugPrintf("\n yes ,got the usb out");
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        m_started = 0;
        break;
    case 102:
        get_file_list_smartpath();
        rcv_self_recovery_file_list();
        break;
    case 104:
        if (m_tab == m_tabs[2]) {
            // A run that refused a package or did not write an entry must not
            // read as done.
            m_outcome = FpgaPanel::usbGradeFailed() ? RunFailed : RunOver;
            m_outcomeTimes = FpgaPanel::usbGradeTime();
            showOutcome();
        }
        break;
    default:
        break;
    }
}
