#include "ui/service/smartmapping.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "ui/service/service_pages.h"
#include "ui/settings/port_tiles.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVariant>

#include <algorithm>

QPointer<SmartMapping> g_smartmapping;

using ServicePages::pointFont;
using ServicePages::addButton;
using ShellText::pick;

namespace {

const char* const kOutlined = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";
const char* const kMenuStyle =
    "QPushButton::checked{background-color: rgb(71, 119, 255);}\nQPushButton {color: rgb(255, 255, 255);}";
const char* const kFileFrame = "#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}";
const char* const kListText = "background-color: rgb(33, 36, 53);color: #FFFFFF";

QLabel* addLabel(QWidget* parent, const char* name, const QRect& where) {
    return SettingsPages::addFormLabel(parent, name, where, 13, Qt::AlignLeft | Qt::AlignVCenter);
}

QFrame* addLine(QWidget* parent, const char* name) {
    auto* line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setGeometry(10, 120, 590, 1);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    return line;
}

}  // namespace

const SmartMapping::Limit SmartMapping::kLimits[6] = {
    {"lineEdit_X", 1, 65535},      {"lineEdit_Y", 1, 65535},        {"lineEdit_line", 1, 255},
    {"lineEdit_column", 1, 255},   {"lineEdit_horzion", 0, 65535},  {"lineEdit_vert", 0, 65535},
};

const SmartMapping::Limit* SmartMapping::limitOf(const QString& field) {
    for (const Limit& l : kLimits)
        if (field == QLatin1String(l.field)) return &l;
    return nullptr;
}

LINE_TYPE_PARA& SmartMapping::record() {
    static LINE_TYPE_PARA r = [] {
        LINE_TYPE_PARA first;
        first.cabinet_width = 128;
        first.cabinet_height = 96;
        first.rows = 1;
        first.columns = 1;
        first.routing = 1;
        return first;
    }();
    return r;
}

QString SmartMapping::routingText(int type) {
    return pick("走线%1", "Routing %1", "След%1", "Dấu vết%1", "走線%1").arg(type);
}

SmartMapping::SmartMapping(QWidget* parent)
    : QDialog(parent), m_grid([this](int tile) { zrv_button_wlan_clicked(tile); }) {
    setObjectName(QStringLiteral("SmartMapping"));
    setWindowTitle(QStringLiteral("Dialog"));
    PageFrame::fillPanel(this);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_styleStickChosen = m_styleStickChosen2 = QStringLiteral("background-color:#4777FF;color: #00FF00;");
    m_styleStick = QStringLiteral("background-color: rgb(33, 36, 53);color: #00FF00");
    m_styleDeviceChosen = m_styleDeviceChosen2 = QStringLiteral("background-color:#4777FF;color: #FFFFFF");
    m_styleDevice = QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF");
    m_styleLoadscan = QStringLiteral("background-color:#10101C;color: #FFFFFF");
    m_styleLoadscanCurrent = QStringLiteral("background-color: rgb(71, 119, 255);color: #FFFFFF");
    m_styleLoadscanNone = QStringLiteral("background-color: gray;border:2px;color: #FFFFFF");

    buildForm();
    m_stack->setCurrentIndex(0);
    m_menu = m_menuButtons[0];
    m_menu->setStyleSheet(QString::fromLatin1(ShellText::kSelected));
    m_groupButton = m_groups[0];
    PortTiles::placeGroupButtons(&m_groups[0], 59);
    PortTiles::placeGroupButtons(&m_groups[4], 59);
    record().port = 0;
    language_changed();
    line_select(1);
    m_filePageShown = false;

    for (My_lineEdit* field : m_fields)
        connect(field, &My_lineEdit::send_show, this, &SmartMapping::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this,
                &SmartMapping::confirmString);
    // The FPGA thread's progress reaches the page queued in the GUI thread
    // and stops with the page.
    connect(&fpga_job_notifier::get(), &fpga_job_notifier::quick_progress, this,
            &SmartMapping::sig_qround_bar_update);
    connect(&fpga_job_notifier::get(), &fpga_job_notifier::quick_failed, this, [](int job) {
        if (!g_tip) return;
        g_tip->tip_failed(job == 2 ? pick("扫描文件加载失败!", "Loading the scan file failed!",
                                          "Ошибка загрузки файла скана!", "Tải tệp quét thất bại!", "掃描文件加載失敗!")
                                   : pick("发送失败!", "Sending failed!", "Ошибка отправки!", "Gửi thất bại!",
                                          "發送失敗!"));
    });

    SettingsPages::enterPage(this, PageRegistry::Wizard, [this](int code) { syncUpdate(code); },
                             [this] { on_Button_back_clicked(); });
}

SmartMapping::~SmartMapping() { PageRegistry::leave(PageRegistry::Wizard, this); }

// ---- form

void SmartMapping::buildForm() {
    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &SmartMapping::on_Button_back_clicked);
    m_title = SettingsPages::addPageTitle(this, QRect(155, 15, 500, 42));

    const char* menuNames[4] = {"Button_shortcut", "Button_loadscan", "Button_paraweld", "Button_mapping"};
    for (int k = 0; k < 4; ++k) m_menuButtons[k] = addButton(this, menuNames[k], QRect(20, 78 + 74 * k, 140, 60), 13, kMenuStyle);
    m_menuButtons[3]->setText(QStringLiteral("Mapping"));
    connect(m_menuButtons[0], &QPushButton::clicked, this, &SmartMapping::on_Button_shortcut_clicked);
    connect(m_menuButtons[1], &QPushButton::clicked, this, &SmartMapping::on_Button_loadscan_clicked);
    connect(m_menuButtons[2], &QPushButton::clicked, this, &SmartMapping::on_Button_paraweld_clicked);
    connect(m_menuButtons[3], &QPushButton::clicked, this, &SmartMapping::on_Button_mapping_clicked);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(170, 68, 610, 400);
    frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(133, 129, 153);}"));
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    m_stack->setGeometry(171, 69, 608, 398);
    for (int k = 0; k < 8; ++k) {
        auto* p = new QWidget();
        p->setObjectName(k == 0 ? QStringLiteral("page") : QStringLiteral("page_%1").arg(k + 1));
        m_stack->addWidget(p);
    }
    buildQuickPages();
    buildRoutePage(page(3));
    buildJobPages();
}

QWidget* SmartMapping::page(int index) const { return m_stack->widget(index); }

void SmartMapping::buildQuickPages() {
    QWidget* p0 = page(0);
    addLabel(p0, "label_step1", QRect(10, 10, 491, 30));
    addLabel(p0, "label_boxwidth", QRect(10, 65, 261, 30));
    addLabel(p0, "label_boxheight", QRect(10, 120, 261, 30));
    m_fields[0] = SettingsPages::addField(p0, "lineEdit_X", QRect(398, 60, 200, 40), 14);
    m_fields[1] = SettingsPages::addField(p0, "lineEdit_Y", QRect(398, 115, 200, 40), 14);
    m_fields[0]->setText(QStringLiteral("128"));
    m_fields[1]->setText(QStringLiteral("96"));
    connect(addButton(p0, "Button_next", QRect(418, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_next_clicked);

    QWidget* p1 = page(1);
    addLabel(p1, "label_step2", QRect(10, 10, 451, 30));
    connect(addButton(p1, "Button_front_2", QRect(223, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_front_2_clicked);
    connect(addButton(p1, "Button_next_2", QRect(418, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_next_2_clicked);
    addLine(p1, "line_2");

    QWidget* p2 = page(2);
    const char* labels[6] = {"label_step3", "label_boxline", "label_boxlcolumn", "label_routeway", "label_horizon", "label_vert"};
    const int labelY[6] = {10, 65, 120, 175, 230, 280};
    const int labelW[6] = {431, 281, 281, 321, 341, 341};
    for (int k = 0; k < 6; ++k) addLabel(p2, labels[k], QRect(10, labelY[k], labelW[k], 30));
    const char* fields[4] = {"lineEdit_line", "lineEdit_column", "lineEdit_horzion", "lineEdit_vert"};
    const int fieldY[4] = {60, 115, 225, 280};
    const char* initial[4] = {"1", "1", "0", "0"};
    for (int k = 0; k < 4; ++k) {
        m_fields[2 + k] = SettingsPages::addField(p2, fields[k], QRect(398, fieldY[k], 200, 40), 14);
        m_fields[2 + k]->setText(QString::fromLatin1(initial[k]));
    }
    m_route = addButton(p2, "Button_route", QRect(398, 170, 200, 40), 15, kOutlined);
    connect(m_route, &QPushButton::clicked, this, &SmartMapping::on_Button_route_clicked);
    connect(addButton(p2, "Button_front_3", QRect(223, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_front_3_clicked);
    connect(addButton(p2, "Button_send", QRect(418, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_send_clicked);

    // Port groups: 1-4 on the quick set-up's port step, 5-8 on the load's.
    for (int k = 0; k < 8; ++k) {
        m_groups[k] = addButton(page(k < 4 ? 1 : 4), QStringLiteral("Button_wlan%1").arg(k + 1).toLatin1().constData(),
                                QRect(85 + 150 * (k % 4), 59, 130, 50), 14, PortTiles::kGroupOther);
        connect(m_groups[k], &QPushButton::clicked, this, [this, k] { groupClicked(k + 1); });
    }
}

void SmartMapping::buildRoutePage(QWidget* p) {
    for (int k = 0; k < 16; ++k) {
        auto* b = new QToolButton(p);
        b->setObjectName(QStringLiteral("Button_route%1").arg(k + 1));
        b->setGeometry(k < 15 ? 10 + 120 * (k % 5) : 10, 20 + 95 * (k / 5), 80, 80);
        b->setFont(pointFont(p, 9));
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(QString::fromLatin1(kOutlined));
        connect(b, &QToolButton::clicked, this, [this, k] { routeClicked(k + 1); });
        m_routes[k] = b;
    }
    connect(addButton(p, "Button_cancel", QRect(410, 330, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_cancel_clicked);
}

void SmartMapping::buildJobPages() {
    QWidget* p4 = page(4);
    addLabel(p4, "label_step1_5", QRect(10, 10, 431, 30));
    addLine(p4, "line");
    connect(addButton(p4, "Button_next_5", QRect(420, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_next_5_clicked);

    QWidget* p5 = page(5);
    addLabel(p5, "label_step2_6", QRect(10, 10, 531, 30));
    addLabel(p5, "label_step2_7", QRect(10, 50, 590, 30));
    connect(addButton(p5, "Button_front_6", QRect(220, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_front_6_clicked);
    connect(addButton(p5, "Button_load", QRect(410, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_load_clicked);

    QWidget* p6 = page(6);
    addLabel(p6, "label_step1_6", QRect(10, 10, 551, 30));
    connect(addButton(p6, "Button_confirm", QRect(410, 340, 180, 50), 15, kOutlined), &QPushButton::clicked, this,
            &SmartMapping::on_Button_confirm_clicked);

    QWidget* p7 = page(7);
    addLabel(p7, "label_step1_7", QRect(10, 10, 311, 30));
    m_mappingState = addButton(p7, "Button_mapping_state", QRect(490, 10, 70, 32), 15, "border:none;");
    m_mappingState->setIconSize(QSize(70, 32));
    connect(m_mappingState, &QPushButton::clicked, this, &SmartMapping::on_Button_mapping_state_clicked);
    setMappingIcon(false);
}

// ---- texts

namespace {
void setText(QWidget* page, const char* name, const QString& text) {
    if (auto* l = page->findChild<QLabel*>(QString::fromLatin1(name)))
        SettingsPages::fitText(l, text);
    else if (auto* b = page->findChild<QPushButton*>(QString::fromLatin1(name)))
        SettingsPages::fitText(b, text);
}
QString nextText() { return pick("下一步", "Next", "Далее", "Tiếp", "下一步"); }
QString previousText() { return pick("上一步", "Previous", "Назад", "Trở lại", "上一步"); }
}  // namespace

void SmartMapping::language_for_shortcutt_page0() {
    QWidget* p = page(0);
    setText(p, "label_step1", pick("第一步 箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета",
                                   "Bước 1 Cài đặt tủ", "第一步 箱體設置"));
    setText(p, "label_boxwidth", pick("箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng tủ", "箱體寬度"));
    setText(p, "label_boxheight", pick("箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao tủ", "箱體高度"));
    setText(p, "Button_next", nextText());
}

void SmartMapping::language_for_shortcutt_page1() {
    QWidget* p = page(1);
    setText(p, "label_step2", pick("第二步 选择网口", "Step 2 Select port", "Шаг 2. Выбор порта", "Bước 2 Chọn cổng",
                                   "第二步 選擇網口"));
    setText(p, "Button_front_2", previousText());
    setText(p, "Button_next_2", nextText());
    for (int k = 0; k < 4; ++k) m_groups[k]->setText(PortTiles::groupText(k));
}

void SmartMapping::language_for_shortcutt_page2() {
    QWidget* p = page(2);
    setText(p, "label_step3", pick("第三步 屏幕参数设置", "Step 3 Screen parameter setting", "Шаг 3. Параметры экрана",
                                   "Bước 3 Cài đặt thông số màn hình", "第三步 屏幕參數設置"));
    setText(p, "label_boxline", pick("箱体行数", "Number of Cabinet in rows", "Число рядов кабинетов",
                                     "Số hàng tủ", "箱體行數"));
    setText(p, "label_boxlcolumn", pick("箱体列数", "Number of Cabinet in lines", "Число столбцов кабинетов",
                                        "Số cột tủ", "箱體列數"));
    setText(p, "label_routeway", pick("走线方式", "Screen alignment mode", "Схема соединения", "Kiểu đi dây", "走線方式"));
    setText(p, "label_horizon", pick("水平偏移", "Horizontal offset", "Смещение по горизонтали", "Độ lệch ngang",
                                     "水平偏移"));
    setText(p, "label_vert", pick("垂直偏移", "Vertical offset", "Смещение по вертикали", "Độ lệch dọc", "垂直偏移"));
    setText(p, "Button_send", pick("发送", "Send", "Отправить", "Gửi", "發送"));
    setText(p, "Button_front_3", previousText());
    line_select(char(record().routing));
}

void SmartMapping::language_for_shortcutt_page3() {
    for (int k = 0; k < 16; ++k) {
        QToolButton* b = m_routes[k];
        b->setIcon(QIcon(ShellText::picture(QStringLiteral("line%1.png").arg(k + 1))));
        b->setIconSize(QSize(48, 48));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setText(routingText(k + 1));
    }
    setText(page(3), "Button_cancel", pick("取消", "Cancle", "Отмена", "Hủy", "取消"));
}

void SmartMapping::language_for_loadscan_page4() {
    QWidget* p = page(4);
    setText(p, "label_step1_5", pick("第一步 选择网口", "Step 1 Select network port", "Шаг 1. Выбор сетевого порта",
                                     "Bước 1 Chọn cổng mạng", "第一步 選擇網口"));
    setText(p, "Button_next_5", nextText());
    for (int k = 0; k < 4; ++k) m_groups[4 + k]->setText(PortTiles::groupText(k));
}

void SmartMapping::language_for_loadscan_page5() {
    QWidget* p = page(5);
    setText(p, "label_step2_6", pick("第二步 上传扫描参数", "Step 2 Upload scan parameters",
                                     "Шаг 2. Загрузка параметров сканирования", "Bước 2 Tải thông số quét",
                                     "第二步 上傳掃描參數"));
    setText(p, "label_step2_7", pick("检测到以下屏参文件", "Detected the following screen parameter files",
                                     "Найдены файлы параметров экрана", "Đã tìm thấy các tệp thông số màn hình sau",
                                     "檢測到以下屏參文件"));
    setText(p, "Button_front_6", previousText());
    setText(p, "Button_load", pick("加载", "Load", "Загрузить", "Tải", "加載"));
    if (m_fileFrame)
        if (auto* empty = m_fileFrame->findChild<QLabel*>(QStringLiteral("label_nofile")))
            SettingsPages::fitText(empty, pick("无加载文件!", "No loaded file!", "Нет файлов для загрузки!",
                                               "Không có tập tin để tải!", "無加載文件!"));
}

void SmartMapping::language_for_paraweld_page6() {
    QWidget* p = page(6);
    setText(p, "label_step1_6", pick("参数固化操作", "Parameter curing operation", "Сохранение параметров в картах",
                                     "Lưu thông số vào thẻ", "參數固化操作"));
    setText(p, "Button_confirm", pick("确定", "OK", "OK", "OK", "確定"));
}

void SmartMapping::language_for_mapping_onoff_page7() {
    setText(page(7), "label_step1_7", pick("Mapping开关", "Mapping switch", "Переключатель Mapping", "Công tắc Mapping",
                                           "Mapping開關"));
}

void SmartMapping::language_changed() {
    // Every sub-page at once: a page shown later is in the new language too.
    language_for_shortcutt_page0();
    language_for_shortcutt_page1();
    language_for_shortcutt_page2();
    language_for_shortcutt_page3();
    language_for_loadscan_page4();
    language_for_loadscan_page5();
    language_for_paraweld_page6();
    if (m_grid.frame()) wlan_init(m_tilesKind);

    countScanFiles();
    m_title->setText(pick("智能调屏", "Smart debugging screen", "Умная настройка экрана", "Gỡ lỗi màn hình thông minh",
                          "智能調屏"));
    m_menuButtons[0]->setText(pick("快捷点屏", "Debugging\nscreen", "Быстрая\nнастройка", "Gỡ lỗi\nmàn hình", "快捷點屏"));
    m_menuButtons[1]->setText(pick("加载扫描", "Load scan", "Загрузка\nскана", "Tải quét", "加載掃描"));
    m_menuButtons[2]->setText(pick("参数固化", "Curing\nparameter", "Сохранение\nпараметров", "Lưu\nthông số", "參數固化"));
    language_for_mapping_onoff_page7();
}

// ---- refresh, menu, back

void SmartMapping::syncUpdate(int code) {
    switch (code) {
    case 100:
        debugPrintf("\n smart mapping: usb in\n");
        countScanFiles();
        break;
    case 101:
    case 102:
        countScanFiles();
        if (code == 101 && !m_filePageShown) break;
        // The chosen file must not change under a load that runs.
        if (busy() || FpgaPanel::jobRunning()) {
            writeLogMsg(INFO, "scan file list not rebuilt: a card job runs");
            break;
        }
        on_Button_next_5_clicked();
        break;
    default: {
        ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
        if (model && model->ZrvLanguageChanged()) language_changed();
        break;
    }
    }
}

bool SmartMapping::busy() { return g_qround_bar != nullptr; }

void SmartMapping::button_select(QPushButton* button) {
    if (m_menu) m_menu->setStyleSheet(QString::fromLatin1(ShellText::kUnselected));
    m_menu = button;
    m_menu->setStyleSheet(QString::fromLatin1(ShellText::kSelected));
}

void SmartMapping::on_Button_shortcut_clicked() {
    if (busy()) return;
    button_select(m_menuButtons[0]);
    m_stack->setCurrentIndex(0);
    m_filePageShown = false;
    language_for_shortcutt_page0();
}

void SmartMapping::on_Button_loadscan_clicked() {
    if (busy() || m_scanCount == 0) return;
    button_select(m_menuButtons[1]);
    m_stack->setCurrentIndex(4);
    on_Button_wlan5_clicked();
    language_for_loadscan_page4();
    m_filePageShown = false;
}

void SmartMapping::on_Button_paraweld_clicked() {
    if (busy()) return;
    button_select(m_menuButtons[2]);
    m_stack->setCurrentIndex(6);
    language_for_paraweld_page6();
    m_filePageShown = false;
}

void SmartMapping::on_Button_mapping_clicked() {
    if (busy()) return;
    button_select(m_menuButtons[3]);
    setMappingIcon(FpgaPanel::mappingOn());
    m_stack->setCurrentIndex(7);
    m_filePageShown = false;
    language_for_mapping_onoff_page7();
}

void SmartMapping::on_Button_back_clicked() {
    if (busy()) return;
    PageRegistry::leave(PageRegistry::Wizard, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_smartmapping == this) g_smartmapping = nullptr;
    if (g_option) g_option->language_changed();
    g_page_focus = PageRegistry::Settings;
}

// ---- quick set-up

int SmartMapping::fieldValue(QLineEdit* field) const {
    const Limit* l = limitOf(field->objectName());
    return SettingsPages::limitedValue(field->text(), l->lo, l->hi, l->field);
}

void SmartMapping::on_Button_next_clicked() {
    record().cabinet_width = u16(fieldValue(m_fields[0]));
    record().cabinet_height = u16(fieldValue(m_fields[1]));
    on_Button_wlan1_clicked();
    language_for_shortcutt_page1();
    m_stack->setCurrentIndex(1);
}

void SmartMapping::on_Button_front_2_clicked() { m_stack->setCurrentIndex(0); }

void SmartMapping::on_Button_next_2_clicked() {
    m_stack->setCurrentIndex(2);
    language_for_shortcutt_page2();
}

void SmartMapping::on_Button_front_3_clicked() {
    if (busy()) return;
    m_stack->setCurrentIndex(1);
}

void SmartMapping::startJob(const std::function<bool()>& post) {
    if (busy()) return;
    QRoundProgressBar::create_qround_bar(this);
    connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar.data(), &QRoundProgressBar::para_sync);
    if (!post() && g_qround_bar) g_qround_bar->para_sync(100);
}

void SmartMapping::on_Button_send_clicked() {
    if (busy()) return;
    startJob([this] {
        LINE_TYPE_PARA& r = record();
        r.rows = u8(fieldValue(m_fields[2]));
        r.columns = u8(fieldValue(m_fields[3]));
        r.x_offset = u16(fieldValue(m_fields[4]));
        r.y_offset = u16(fieldValue(m_fields[5]));
        return FpgaPanel::postJob(1, &r);
    });
}

void SmartMapping::on_Button_route_clicked() {
    m_stack->setCurrentIndex(3);
    language_for_shortcutt_page3();
}

void SmartMapping::on_Button_cancel_clicked() { m_stack->setCurrentIndex(2); }

void SmartMapping::routeClicked(int type) {
    line_select(char(type));
    m_stack->setCurrentIndex(2);
}

void SmartMapping::line_select(char type) {
    if (type < 1 || type > 16) return;
    m_route->setIcon(QIcon(ShellText::picture(QStringLiteral("line%1.png").arg(int(type)))));
    m_route->setText(routingText(type));
    m_route->setIconSize(QSize(30, 30));
    record().routing = u8(type);
}

// ---- port picker

void SmartMapping::groupClicked(int button) {
    PortTiles::chooseGroup(m_groupButton, m_groups[button - 1]);
    m_group = (button - 1) % 4;
    wlan_init(button <= 4 ? 0 : 1);
}

void SmartMapping::wlan_init(unsigned char kind) {
    m_tilesKind = kind ? 1 : 0;
    const int port = record().port;
    m_grid.build(page(m_tilesKind ? 4 : 1), QPoint(1, 135), m_group, port / PortTiles::kTiles == m_group ? port % PortTiles::kTiles : -1);
}

void SmartMapping::zrv_button_wlan_clicked(int tile) {
    // The only place a port is chosen: changing the group alone changes none.
    m_grid.mark(tile);
    record().port = u8(PortTiles::portOf(m_group, tile));
}

// ---- scan files

void SmartMapping::countScanFiles() {
    // The count relists the load job's folder list, which a load reads as
    // it starts: while a job runs the last count stands.
    if (!FpgaPanel::jobRunning()) {
        int count = 0;
        if (FpgaPanel::deviceScanFiles(&count) && count == 0)
            count = int(ScanFiles::listFolder(QString::fromLatin1(ScanFiles::kStickDir), ScanFiles::kMaxOffered).size());
        m_scanCount = std::min(count, ScanFiles::kMaxOffered);
    }
    // Grey and refused while there is nothing to load.
    m_menuButtons[1]->setStyleSheet(m_scanCount == 0                 ? m_styleLoadscanNone
                                    : m_menu == m_menuButtons[1] ? m_styleLoadscanCurrent
                                                                   : m_styleLoadscan);
}

void SmartMapping::on_Button_next_5_clicked() {
    m_shown = 0;
    m_list = ScanFiles::list();
    m_shown = m_list.total();
    m_filePage = 0;
    m_lastPage = ScanFiles::lastPage(m_shown);
    m_filePageShown = true;
    scan_file_list();
    language_for_loadscan_page5();
}

void SmartMapping::scan_file_list() {
    QWidget* p = page(5);
    QFrame* frame = SettingsPages::renewFrame(m_fileFrame, p, "frame_file", QRect(10, 90, 580, 240),
                                              QString::fromLatin1(kFileFrame));
    m_slot = 0;
    FpgaPanel::setScanFile(QString());
    for (int k = 0; k < ScanFiles::kPageRows; ++k) {
        m_fileLabels[k] = nullptr;
        m_shownNames[k].clear();
        m_paths[k].clear();
    }
    const QFont font = pointFont(p, 15);
    auto addRow = [&](int row, const char* name, int width) {
        auto* l = new QLabel(frame);
        l->setObjectName(QString::fromLatin1(name));
        l->setGeometry(5, 5 + 45 * row, width, 40);
        l->setFont(font);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        // Names come from a stick: never read as markup.
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    if (m_shown == 0) {
        addRow(0, "label_nofile", 570)->setStyleSheet(QString::fromLatin1(kListText));
    } else {
        const int rows = ScanFiles::rowsOnPage(m_shown, m_filePage);
        for (int k = 0; k < rows; ++k) {
            const int i = m_filePage * ScanFiles::kPageRows + k;
            const QString& path = m_list.paths[i];
            m_paths[k] = path;
            m_shownNames[k] = ScanFiles::shownName(path);
            m_fileLabels[k] = addRow(k, "label_file", 520);
            SettingsPages::fitText(m_fileLabels[k], m_shownNames[k]);
            styleFileLabel(k, i == m_slot);
            if (i == m_slot) FpgaPanel::setScanFile(path);
            auto* b = new QPushButton(frame);
            b->setObjectName(QString::number(k));
            b->setGeometry(5, 5 + 45 * k, 520, 40);
            b->setFlat(true);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QPushButton::clicked, this, &SmartMapping::zrv_button_file_clicked);
        }
    }
    const QString navStyle = QStringLiteral("background-color: rgb(33, 36, 53);");
    if (m_filePage >= 1) {
        m_previous = SettingsPages::addIconButton(frame, "Button_previous", QRect(530, 5, 50, 50), "previous.png");
        m_previous->setStyleSheet(navStyle);
        connect(m_previous.data(), &QPushButton::clicked, this, &SmartMapping::zrv_Button_previous_clicked);
    }
    if (m_filePage < m_lastPage) {
        m_next = SettingsPages::addIconButton(frame, "Button_nextpage", QRect(530, 185, 50, 50), "next.png");
        m_next->setStyleSheet(navStyle);
        connect(m_next.data(), &QPushButton::clicked, this, &SmartMapping::zrv_Button_next_clicked);
    }
    frame->show();
    m_stack->setCurrentIndex(5);
}

void SmartMapping::styleFileLabel(int slot, bool chosen) {
    QLabel* l = slot >= 0 && slot < ScanFiles::kPageRows ? m_fileLabels[slot] : nullptr;
    if (!l) return;
    const bool device = m_filePage * ScanFiles::kPageRows + slot < m_list.fromDevice;
    const QString& style = device ? (chosen ? m_styleDeviceChosen : m_styleDevice)
                                  : (chosen ? m_styleStickChosen : m_styleStick);
    l->setProperty("fitBaseStyle", QVariant());
    l->setStyleSheet(style);
    SettingsPages::fitText(l, l->text());
}

void SmartMapping::zrv_Button_previous_clicked() {
    if (busy()) return;
    m_filePage = std::max(0, m_filePage - 1);
    scan_file_list();
}

void SmartMapping::zrv_Button_next_clicked() {
    if (busy()) return;
    m_filePage = m_filePage + 1 > m_lastPage ? 0 : m_filePage + 1;
    scan_file_list();
}

void SmartMapping::zrv_button_file_clicked() {
    if (busy()) return;
    QObject* button = sender();
    bool ok = false;
    const int slot = button ? button->objectName().toInt(&ok) : -1;
    if (!ok || slot < 0 || slot >= ScanFiles::kPageRows || !m_fileLabels[slot]) return;
    styleFileLabel(m_slot, false);
    m_slot = slot;
    FpgaPanel::setScanFile(m_paths[slot]);
    styleFileLabel(slot, true);
}

void SmartMapping::on_Button_front_6_clicked() {
    if (busy()) return;
    m_stack->setCurrentIndex(4);
}

void SmartMapping::on_Button_load_clicked() {
    if (busy()) return;
    const QString file = FpgaPanel::scanFile();
    if (file.isEmpty() || m_scanCount == 0) {
        writeLogMsg(INFO, "scan file load refused: no scan file chosen");
        return;
    }
    startJob([] { return FpgaPanel::postJob(2, &record()); });
}

// ---- parameter save and mapping

void SmartMapping::on_Button_confirm_clicked() {
    if (busy()) return;
    startJob([] { return FpgaPanel::postJob(3, nullptr); });
}

void SmartMapping::setMappingIcon(bool on) {
    m_mappingState->setIcon(QIcon(ShellText::picture(on ? QStringLiteral("button_on.png") : QStringLiteral("button_off.png"))));
    m_mappingState->setIconSize(QSize(70, 32));
}

void SmartMapping::on_Button_mapping_state_clicked() {
    if (busy()) return;
    startJob([this] {
        bool on = false;
        if (!FpgaPanel::switchMapping(&on)) return false;
        setMappingIcon(on);
        return true;
    });
}

// ---- keypad

void SmartMapping::show_numberkeyboard_ui(QString) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field) return;
    const QString name = field->objectName();
    QString title;
    if (name == QLatin1String("lineEdit_X"))
        title = pick("箱体宽度", "width", "width", "width", "箱體寬度");
    else if (name == QLatin1String("lineEdit_Y"))
        title = pick("箱体高度", "height", "height", "height", "箱體高度");
    else if (name == QLatin1String("lineEdit_line"))
        title = pick("箱体行数", "rows", "rows", "rows", "箱體行數");
    else if (name == QLatin1String("lineEdit_column"))
        title = pick("箱体列数", "lines", "lines", "lines", "箱體列數");
    else if (name == QLatin1String("lineEdit_horzion"))
        title = pick("水平偏移", "Horizontal", "Horizontal", "Horizontal", "水平偏移");
    else if (name == QLatin1String("lineEdit_vert"))
        title = pick("垂直偏移", "Vertical", "Vertical", "Vertical", "垂直偏移");
    SettingsPages::openKeypad(field, title);
}

void SmartMapping::confirmString(QString text) {
    // Every page connected to the keypad hears each value: only this page's
    // fields take it, held to the field's limits.
    if (!SettingsPages::ownsKeypadField(this)) return;
    const Limit* l = limitOf(g_lineedit->objectName());
    if (!l) return;
    g_lineedit->setText(SettingsPages::limitedText(text, l->lo, l->hi, l->field));
}
