#include "ui/shell/option.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

QPointer<Option> g_option;

Option::Option(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("Option"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_back = PageFrame::addBackButton(this);
    connect(m_back, &QPushButton::clicked, this, &Option::on_Button_back_clicked);
    m_title = PageFrame::addTitle(this);

    m_tiles[0] = makeTile("output_set", 0, "icon_output.png");
    m_tiles[1] = makeTile("Button_layout", 1, "icon_layout.png");
    m_tiles[2] = makeTile("Button_quality", 2, "icon_quality.png");
    m_tiles[3] = makeTile("input_cut", 3, "icon_crop.png");
    m_tiles[4] = makeTile("link_set", 4, "icon_link.png");
    m_tiles[5] = makeTile("AdvanceButton", 5, "icon_advanced.png");
    m_tiles[6] = makeTile("test_chart", 6, "icon_test.png");
    m_tiles[7] = makeTile("smart_mapping", 7, "icon_wizard.png");
    connect(m_tiles[0], &QToolButton::clicked, this, &Option::on_output_set_clicked);
    connect(m_tiles[1], &QToolButton::clicked, this, &Option::on_Button_layout_clicked);
    connect(m_tiles[2], &QToolButton::clicked, this, &Option::on_Button_quality_clicked);
    connect(m_tiles[3], &QToolButton::clicked, this, &Option::on_input_cut_clicked);
    connect(m_tiles[4], &QToolButton::clicked, this, &Option::on_link_set_clicked);
    connect(m_tiles[5], &QToolButton::clicked, this, &Option::on_AdvanceButton_clicked);
    connect(m_tiles[6], &QToolButton::clicked, this, &Option::on_test_chart_clicked);
    connect(m_tiles[7], &QToolButton::clicked, this, &Option::on_smart_mapping_clicked);

    PageOps ops;
    ops.refresh = [this](int code) { syncUpdate(code); };
    ops.back = [this] { on_Button_back_clicked(); };
    PageRegistry::enter(PageRegistry::Settings, this, ops);
    language_changed();
}

Option::~Option() { PageRegistry::leave(PageRegistry::Settings, this); }

QToolButton* Option::makeTile(const char* name, int index, const char* icon) {
    return PageFrame::addTile(this, name, QRect(20 + 192 * (index % 4), 100 + 180 * (index / 4), 180, 160), icon, 72);
}

void Option::language_changed() {
    m_title->setText(ShellText::pick("设置", "Settings", "Настройки", "Cài đặt", "設定"));
    m_tiles[0]->setText(ShellText::pick("输出设置", "Output", "Выход", "Đầu ra", "輸出設定"));
    m_tiles[1]->setText(ShellText::pick("画面布局", "Image layout", "Раскладка", "Bố cục hình ảnh", "畫面佈局"));
    m_tiles[2]->setText(ShellText::pick("画质调节", "Image quality", "Качество", "Chất lượng hình", "畫質調節"));
    m_tiles[3]->setText(ShellText::pick("输入裁剪", "Input crop", "Обрезка входа", "Cắt đầu vào", "輸入裁剪"));
    m_tiles[4]->setText(ShellText::pick("通讯设置", "Communication", "Связь", "Truyền thông", "通訊設定"));
    m_tiles[5]->setText(ShellText::pick("高级设置", "Advanced", "Дополнительно", "Nâng cao", "進階設定"));
    m_tiles[6]->setText(ShellText::pick("测试画面", "Test pattern", "Тест экрана", "Mẫu kiểm tra", "測試畫面"));
    m_tiles[7]->setText(ShellText::pick("智能设置", "Smart setup", "Быстрый старт", "Cài đặt nhanh", "智慧設定"));
    m_back->setIcon(QIcon(ShellText::picture("back.png")));
    m_wizard_flag = true;
}

void Option::syncUpdate(int) {
    ZrvRamPara* model = ZrvRamPara::p_zrvrampara_config;
    if (model && model->ZrvLanguageChanged()) language_changed();
}

void Option::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::Settings, this);
    if (g_option == this) g_option = nullptr;
    if (g_mainwindow) g_mainwindow->language_changed();
    g_page_focus = PageRegistry::MainMenu;
    close();
}

void Option::on_output_set_clicked() { PageRegistry::open(PageRegistry::Output); }
void Option::on_Button_layout_clicked() { PageRegistry::open(PageRegistry::ImageLayout); }
void Option::on_Button_quality_clicked() { PageRegistry::open(PageRegistry::ImageQuality); }
void Option::on_input_cut_clicked() { PageRegistry::open(PageRegistry::Crop); }
void Option::on_link_set_clicked() { PageRegistry::open(PageRegistry::Communication); }
void Option::on_AdvanceButton_clicked() { PageRegistry::open(PageRegistry::Advanced); }
void Option::on_test_chart_clicked() { PageRegistry::open(PageRegistry::TestPattern); }

void Option::on_smart_mapping_clicked() {
    if (!m_wizard_flag) return;
    PageRegistry::open(PageRegistry::Wizard);
}
