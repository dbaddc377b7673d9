#include "ui/settings/imagelayout.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/input_entries.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<ImageLayout> g_imagelayout;

using namespace RamOffset;

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

const char* const kRowNames[] = {"label_name_state", "label_name_source", "label_name_x",
                                 "label_name_y",     "label_name_w",      "label_name_h"};
const char* const kRowValues[] = {"label_state", "label_source", "label_x", "label_y", "label_w", "label_h"};

}  // namespace

ImageLayout::ImageLayout(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("ImageLayout"));
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &ImageLayout::on_Button_back_clicked);
    m_title = SettingsPages::addPageTitle(this, QRect(101, 15, 598, 42));

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("frame_window"));
    panel->setGeometry(20, 175, 760, 210);
    panel->setStyleSheet(QStringLiteral("#frame_window{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"
                                        "QLabel{background-color: rgb(33, 36, 53);}"));
    m_windowName = SettingsPages::addFormLabel(panel, "label_window", QRect(20, 8, 720, 40), 16,
                                               Qt::AlignLeft | Qt::AlignVCenter);
    for (int r = 0; r < RowCount; ++r) {
        const int x = 20 + 370 * (r % 2);
        const int y = 58 + 50 * (r / 2);
        m_rowName[r] = SettingsPages::addFormLabel(panel, kRowNames[r], QRect(x, y, 140, 40), 14,
                                                   Qt::AlignLeft | Qt::AlignVCenter);
        m_rowValue[r] = SettingsPages::addFormLabel(panel, kRowValues[r], QRect(x + 145, y, 190, 40), 14,
                                                    Qt::AlignLeft | Qt::AlignVCenter);
    }

    m_sourceButton = new QPushButton(this);
    m_sourceButton->setObjectName(QStringLiteral("Button_source_select"));
    m_sourceButton->setGeometry(250, 400, 300, 60);
    m_sourceButton->setFocusPolicy(Qt::NoFocus);
    m_sourceButton->setStyleSheet(
        QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px"));
    connect(m_sourceButton, &QPushButton::clicked, this, &ImageLayout::on_Button_source_select_clicked);

    image_init();
    language_changed();
    SettingsPages::enterPage(this, PageRegistry::ImageLayout, [this](int code) { syncUpdate(code); },
                             [this] { on_Button_back_clicked(); });
}

ImageLayout::~ImageLayout() { PageRegistry::leave(PageRegistry::ImageLayout, this); }

void ImageLayout::language_changed() {
    using ShellText::pick;
    m_title->setText(pick("画面布局", "Image layout", "Раскладка изображения", "Bố cục hình ảnh", "畫面佈局"));
    SettingsPages::fitText(m_sourceButton,
                           pick("信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"));
    const QString names[RowCount] = {
        pick("状态", "State", "Состояние", "Trạng thái", "狀態"),
        pick("信号源", "Source", "Источник", "Nguồn", "訊號源"),
        QStringLiteral("X"),
        QStringLiteral("Y"),
        pick("宽度", "Width", "Ширина", "Chiều rộng", "寬度"),
        pick("高度", "Height", "Высота", "Chiều cao", "高度"),
    };
    for (int r = 0; r < RowCount; ++r) SettingsPages::fitText(m_rowName[r], names[r]);
    image_para_update();
}

void ImageLayout::image_init() { image_init(PageView::get()); }

void ImageLayout::image_init(const ImageView& view) {
    if (!SettingsPages::windowShown(view.live, m_window)) m_window = 0;
    const auto tiles = SettingsPages::addWindowMenu(view.live, m_menu, this, m_window, m_windowMarker,
                                                    [&](int w) { return SourceNames::windowInput(view, w); });
    for (const SettingsPages::WindowTile& t : tiles)
        connect(t.button, &QPushButton::clicked, this, &ImageLayout::zrv_image_button_clicked);
}

void ImageLayout::image_para_update() { image_para_update(PageView::get()); }

void ImageLayout::image_para_update(const ImageView& view) {
    const PARA_RAM_IMAGE& img = view.live;
    const u32 rec = win(u32(m_window));
    SettingsPages::fitText(m_windowName, ShellText::pick("窗口%1", "Window %1", "Окно %1", "Cửa sổ %1", "視窗%1")
                                             .arg(m_window + 1));
    const bool on = img.byte(rec + WIN_ENABLE) == 1;
    SettingsPages::fitText(m_rowValue[State], on ? ShellText::pick("开", "On", "Вкл", "Bật", "開")
                                                 : ShellText::pick("关", "Off", "Выкл", "Tắt", "關"));

    short isCrop = 0;
    char record = 0;
    const int input = view.windowInput(m_window, &isCrop, &record);
    QString source;
    if (input >= 0 && input < ZRV_INPUT_COUNT) {
        if (isCrop) {
            const int r = u8(record);
            const u16 id = img.word(crop(u32(r)) + CROP_ID);
            const int number = (id & 0x8000) ? ((id >> 8) & 0x7F) + 1 : 0;
            QLabel* value = m_rowValue[Source];
            value->ensurePolished();
            source = SourceNames::crop(r, input, number, value->font(), value->width());
        } else {
            source = ShellText::inputName(input);
        }
    }
    SettingsPages::fitText(m_rowValue[Source], source);
    const u32 fields[] = {WIN_X, WIN_Y, WIN_WIDTH, WIN_HEIGHT};
    for (int k = 0; k < 4; ++k) SettingsPages::fitText(m_rowValue[X + k], QString::number(img.word(rec + fields[k])));
}

void ImageLayout::zrv_image_button_clicked() {
    auto* b = qobject_cast<QWidget*>(sender());
    if (!b) return;
    m_window = b->objectName().toInt();
    if (m_windowMarker) m_windowMarker->setGeometry(b->geometry());
    image_para_update();
}

void ImageLayout::syncUpdate(int) {
    if (model().ZrvLanguageChanged()) language_changed();
    const ImageView view = PageView::get();
    if (view.differs(WIN_BASE, WIN_SIZE * WIN_COUNT) || view.differs(CROP_BASE, CROP_SIZE * CROP_COUNT)) {
        image_init(view);
        image_para_update(view);
    }
}

void ImageLayout::on_Button_source_select_clicked() {
    if (InputChoose* open = g_inputchoose.data()) {
        // Already open beneath: bring it to the front rather than make a second.
        PageRegistry::setFocus(PageRegistry::SourceSelect);
        open->raise();
        open->activateWindow();
        return;
    }
    PageRegistry::open(PageRegistry::SourceSelect);
}

void ImageLayout::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::ImageLayout, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_imagelayout == this) g_imagelayout = nullptr;
    SettingsPages::returnToSettingsMenu();
}
