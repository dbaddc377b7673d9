#include "ui/shell/machinestate.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "protocol/message_deal.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>

QPointer<machinestate> g_machinestate;

machinestate::machinestate(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("machinestate"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_back = PageFrame::addBackButton(this);
    connect(m_back, &QPushButton::clicked, this, &machinestate::on_Button_back_clicked);
    m_title = PageFrame::addTitle(this);

    for (int i = 0; i < kRows; ++i) {
        const int y = 84 + 48 * i;
        m_name[i] = new QLabel(this);
        m_name[i]->setObjectName(QStringLiteral("label_name%1").arg(i));
        m_name[i]->setGeometry(40, y, 300, 40);
        m_name[i]->setStyleSheet(QStringLiteral("color: rgb(190, 194, 214);font: 20px;"));
        m_value[i] = new QLabel(this);
        m_value[i]->setObjectName(QStringLiteral("label_value%1").arg(i));
        m_value[i]->setGeometry(350, y, 420, 40);
        m_value[i]->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 20px;"));
        m_value[i]->setTextInteractionFlags(Qt::NoTextInteraction);
    }

    PageOps ops;
    ops.refresh = [this](int code) { syncUpdate(code); };
    ops.back = [this] { on_Button_back_clicked(); };
    PageRegistry::enter(PageRegistry::DeviceInfo, this, ops);
    language_changed();
}

machinestate::~machinestate() { PageRegistry::leave(PageRegistry::DeviceInfo, this); }

void machinestate::language_changed() {
    m_title->setText(ShellText::pick("设备信息", "Device information", "Об устройстве",
                                     "Thông tin thiết bị", "裝置資訊"));
    m_name[0]->setText(ShellText::pick("设备ID", "Device ID", "ID устройства", "ID thiết bị", "裝置ID"));
    m_name[1]->setText(ShellText::pick("软件版本", "Software version", "Версия ПО", "Phiên bản phần mềm", "軟體版本"));
    m_name[2]->setText(ShellText::pick("IP地址", "IP address", "IP-адрес", "Địa chỉ IP", "IP位址"));
    m_name[3]->setText(ShellText::pick("子网掩码", "Subnet mask", "Маска подсети", "Mặt nạ mạng con", "子網路遮罩"));
    m_name[4]->setText(ShellText::pick("网关", "Gateway", "Шлюз", "Cổng mặc định", "閘道"));
    m_name[5]->setText(ShellText::pick("Wi-Fi地址", "Wi-Fi address", "Адрес Wi-Fi", "Địa chỉ Wi-Fi", "Wi-Fi位址"));
    m_name[6]->setText(ShellText::pick("FPGA1版本", "FPGA1 version", "Версия FPGA1", "Phiên bản FPGA1", "FPGA1版本"));
    m_name[7]->setText(ShellText::pick("FPGA2版本", "FPGA2 version", "Версия FPGA2", "Phiên bản FPGA2", "FPGA2版本"));
    updateValues();
}

void machinestate::updateValues() {
    m_value[0]->setText(QString::fromLatin1(g_pid, sizeof(g_pid)).trimmed().remove(QChar('\0')));
    // One version for the panel and the PC software.
    const auto& v = message_deal::kSoftwareVersion;
    m_value[1]->setText(QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));
    {
        QMutexLocker lock(&settingsLock());
        m_value[2]->setText(g_str_ip);
        m_value[3]->setText(g_srt_mask);
        m_value[4]->setText(g_str_gateway);
        m_value[5]->setText(g_str_wifi_ip);
    }
    for (int f = 0; f < 2; ++f) {
        QString text;
        const bool known = FpgaPanel::version(f, &text);
        m_name[6 + f]->setVisible(known);
        m_value[6 + f]->setVisible(known);
        m_value[6 + f]->setText(text);
    }
}

void machinestate::syncUpdate(int) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (model && model->ZrvLanguageChanged())
        language_changed();
    else
        updateValues();
}

void machinestate::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::DeviceInfo, this);
    if (g_machinestate == this) g_machinestate = nullptr;
    g_page_focus = PageRegistry::MainMenu;
    if (g_mainwindow) g_mainwindow->language_changed();
    close();
}
