#include "ui/settings/inputchoose.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/imagelayout.h"
#include "ui/settings/input_entries.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<InputChoose> g_inputchoose;

using namespace RamOffset;

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

// The input row by column (HDMI1, HDMI2, HDMI3, HDMI4, DVI, EXT).
struct Column {
    const char* key;
    QRect name;
    int countX;
    QRect picture;
    const char* off;
    const char* on;
};
const Column kColumns[6] = {
    {"HDMI1", {31, 178, 65, 28}, 97, {28, 206, 100, 32}, "HDMI13.png", "HDMI13_lv.png"},
    {"HDMI2", {161, 178, 66, 28}, 227, {158, 206, 100, 32}, "HDMI13.png", "HDMI13_lv.png"},
    {"HDMI3", {291, 178, 66, 28}, 357, {290, 206, 100, 32}, "HDMI20.png", "HDMI20_lv.png"},
    {"HDMI4", {421, 178, 66, 28}, 487, {420, 206, 100, 32}, "HDMI20.png", "HDMI20_lv.png"},
    {"DVI", {551, 178, 66, 28}, 617, {550, 206, 100, 32}, "DVI.png", "dvilv.png"},
    {"EXT", {681, 178, 66, 28}, 747, {680, 206, 100, 32}, "HDMI.png", "extlv.png"},
};

const char* const kWhite = "color: rgb(255, 255, 255);";

}  // namespace

InputChoose::InputChoose(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("InputChoose"));
    setWindowTitle(QStringLiteral("Dialog"));
    setFixedSize(800, 480);
    QFont f = font();
    f.setPointSize(12);
    setFont(f);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    // Created bottom to top: every input button lies above its column's labels.
    m_inputMarker = new QFrame(this);
    m_inputMarker->setObjectName(QStringLiteral("frame1"));
    m_inputMarker->setGeometry(20, 173, 120, 85);
    m_inputMarker->setFrameShape(QFrame::StyledPanel);
    m_inputMarker->setFrameShadow(QFrame::Raised);
    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &InputChoose::on_Button_back_clicked);
    auto* line = new QFrame(this);
    line->setObjectName(QStringLiteral("line"));
    line->setGeometry(0, 167, 800, 1);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    m_title = SettingsPages::addPageTitle(this, QRect(101, 15, 598, 42));

    auto addName = [this](int k) {
        m_inputName[k] = new QLabel(this);
        m_inputName[k]->setObjectName(QStringLiteral("label_%1_text").arg(kColumns[k].key));
        m_inputName[k]->setGeometry(kColumns[k].name);
        m_inputName[k]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_inputName[k]->setStyleSheet(QString::fromLatin1(k == 2 || k == 3 ? "color: rgb(81, 187, 40);" : kWhite));
    };
    auto addPicture = [this](int k) {
        m_inputPicture[k] = SettingsPages::addPicture(this, nullptr, kColumns[k].picture, QString());
        m_inputPicture[k]->setObjectName(QStringLiteral("label_%1").arg(kColumns[k].key));
    };
    addName(0);
    addPicture(0);
    for (int k = 1; k < 6; ++k) addName(k);
    for (int k = 1; k < 6; ++k) addPicture(k);
    for (int x : {430, 300}) {
        auto* l = new QLabel(QStringLiteral("HDMI2.0"), this);
        l->setObjectName(x == 430 ? QStringLiteral("label_15") : QStringLiteral("label_12"));
        l->setGeometry(x, 230, 81, 27);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QStringLiteral("color: rgb(81, 187, 40);"));
        l->hide();
    }
    for (int k = 0; k < 6; ++k) {
        m_inputCount[k] = new QLabel(this);
        m_inputCount[k]->setObjectName(QStringLiteral("label_%1_num").arg(kColumns[k].key));
        m_inputCount[k]->setGeometry(kColumns[k].countX, 178, 32, 28);
        m_inputCount[k]->setStyleSheet(QStringLiteral("color: rgb(71, 119, 255);"));
        m_inputButton[k] = new QPushButton(this);
        m_inputButton[k]->setObjectName(QStringLiteral("Button_%1").arg(kColumns[k].key));
        m_inputButton[k]->setGeometry(21 + 130 * k, 174, 118, 83);
        m_inputButton[k]->setFocusPolicy(Qt::NoFocus);
        m_inputButton[k]->setFlat(true);
        connect(m_inputButton[k], &QPushButton::clicked, this, [this, k] { chooseInput(k); });
    }

    for (QPushButton** b : {&m_popupCrop, &m_popupEdid}) {
        *b = new QPushButton(this);
        QFont pf = font();
        pf.setPointSize(12);
        (*b)->setFont(pf);
        (*b)->setFocusPolicy(Qt::NoFocus);
        (*b)->setStyleSheet(QStringLiteral("background-color: rgb(95, 100, 129); color: rgb(255, 255, 255);"));
        (*b)->hide();
    }
    m_popupCrop->setObjectName(QStringLiteral("Button_inputcut"));
    m_popupEdid->setObjectName(QStringLiteral("Button_EDID"));
    connect(m_popupCrop, &QPushButton::clicked, this, &InputChoose::zrv_button_inputcut_clicked);
    connect(m_popupEdid, &QPushButton::clicked, this, &InputChoose::zrv_button_EDID_clicked);

    model().ZrvCropSourceInit();
    const ImageView view = PageView::get();
    crop_source_num_update(view);
    initMenu(view);
    image_select(view);
    // A window 0 that shows no known input leaves HDMI1, and the grid is
    // built for it all the same.
    if (!m_grid) chooseInput(SettingsPages::columnOf(m_input), view);
    language_changed();

    SettingsPages::enterPage(this, PageRegistry::SourceSelect, [this](int code) { syncUpdate(code); },
                             [this] { on_Button_back_clicked(); });
}

InputChoose::~InputChoose() { PageRegistry::leave(PageRegistry::SourceSelect, this); }

void InputChoose::language_changed() {
    m_title->setText(ShellText::pick("信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"));
    // The buttons take their width for the language first: a text fitted to
    // the width they had before would be drawn far too small.
    const int lang = ShellText::language();
    const int x = (lang == 0 || lang == 4) ? 680 : (lang == 1 ? 620 : 640);
    m_popupCrop->setGeometry(x, 310, 780 - x, 60);
    m_popupEdid->setGeometry(x, 370, 780 - x, 60);
    SettingsPages::fitText(m_popupCrop, ShellText::pick("输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"));
    SettingsPages::fitText(m_popupEdid, ShellText::pick("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"));
}

void InputChoose::chooseInput(int column) { chooseInput(column, PageView::get()); }

void InputChoose::chooseInput(int column, const ImageView& view) {
    m_page = 0;
    m_input = SettingsPages::kColumnInput[column];
    initSource(view);
    m_inputMarker->setGeometry(20 + 130 * column, 173, 120, 85);
    m_inputMarker->setStyleSheet(QString::fromLatin1(SettingsPages::kColumnMarkerStyle));
}

QString InputChoose::windowSourceName(const ImageView& view, int window, bool withCrop) const {
    short isCrop = 0;
    char record = 0;
    view.windowInput(window, &isCrop, &record);
    QString name = SourceNames::windowInput(view, window);
    if (withCrop && isCrop && !name.isEmpty()) {
        const u16 id = view.live.word(crop(u8(record)) + CROP_ID);
        name += QStringLiteral("_Crop%1").arg(((id >> 8) & 0x7F) + 1);
    }
    return name;
}

void InputChoose::initMenu(const ImageView& view) {
    for (auto& label : m_tileLabel) label = nullptr;
    const auto tiles = SettingsPages::addWindowMenu(view.live, m_menu, this, m_window, m_windowMarker,
                                                    [&](int w) { return windowSourceName(view, w, false); });
    for (const SettingsPages::WindowTile& t : tiles) {
        m_tileLabel[t.window] = t.label;
        connect(t.button, &QPushButton::clicked, this, &InputChoose::zrv_image_button_clicked);
    }
}

void InputChoose::input_source_changed(int window, const ImageView& view) {
    if (window < 0 || window >= 6 || !m_tileLabel[window]) return;
    SettingsPages::fitText(m_tileLabel[window], windowSourceName(view, window, true));
}

void InputChoose::image_select(const ImageView& view) {
    const int input = view.windowInput(m_window);
    if (input >= 0 && input < ZRV_INPUT_COUNT) chooseInput(SettingsPages::columnOf(input), view);
}

void InputChoose::initSource() { initSource(PageView::get()); }

void InputChoose::initSource(const ImageView& view) {
    const int count = InputEntries::count(view, m_input);
    m_lastPage = InputEntries::lastPage(count);
    const int shown = InputEntries::shownOnPage(count, m_page);

    short isCrop = 0;
    char record = 0;
    const int usedInput = view.windowInput(m_window, &isCrop, &record);
    const int used = isCrop ? InputEntries::usedEntry(view.live, u8(record)) : 0;

    QFrame* grid = SettingsPages::renewFrame(m_grid, this, "frame", QRect(20, 257, 770, 215),
                                             QStringLiteral("#frame{border:1px solid rgb(71, 119, 255);}"));
    grid->lower();
    QFont gridFont = font();
    gridFont.setPixelSize(20);

    for (int u = 0; u < shown; ++u) {
        const int e = InputEntries::kPerPage * m_page + u;
        auto* entry = new QFrame(grid);
        entry->setObjectName(QStringLiteral("source_frame"));
        entry->setGeometry(10 + 235 * (u % 3), 15 + 100 * (u / 3), 220, 90);
        auto* state = new QLabel(entry);
        state->setObjectName(QStringLiteral("label_state"));
        state->setGeometry(10, 10, 14, 14);
        state->setScaledContents(true);
        SettingsPages::addPicture(entry, "label_picture", QRect(29, 5, 63, 24), InputEntries::entryPicture(m_input));
        auto* name = new QLabel(entry);
        name->setObjectName(QStringLiteral("label_name"));
        name->setGeometry(10, 29, 172, 24);
        name->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255)"));
        name->setFont(gridFont);
        auto* size = new QLabel(entry);
        size->setObjectName(QStringLiteral("label_size"));
        size->setGeometry(10, 57, 172, 24);
        size->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 20px"));
        if (e == 0) {
            SettingsPages::fitText(name, ShellText::inputName(m_input));
            SettingsPages::fitText(size, InputEntries::signalText(m_input));
        } else {
            CROP_PARA para{};
            const int index = view.cropPara(m_input, e, &para);
            const bool found = index < int(CROP_COUNT);
            const int number = found ? ((para.id >> 8) & 0x7F) + 1 : 0;
            SettingsPages::fitText(name, SourceNames::crop(index, m_input, number, gridFont, name->width()));
            SettingsPages::fitText(size, found ? QStringLiteral("%1x%2").arg(para.w).arg(para.h) : QString());
        }
        if (e == used && usedInput == m_input) {
            entry->setStyleSheet(QStringLiteral("#source_frame{border:1px solid #00D65B;border-radius:5px;}"));
            state->setPixmap(QPixmap(ShellText::picture(QStringLiteral("state_on.png"))));
            const QString text = ShellText::pick("使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD");
            QFont badgeFont = font();
            badgeFont.setPixelSize(18);
            // The badge keeps its right edge and grows to the left, up to the
            // input picture, for the longer words.
            const int width = std::min(128, std::max(56, QFontMetrics(badgeFont).horizontalAdvance(text) + 8));
            auto* badge = new QLabel(entry);
            badge->setObjectName(QStringLiteral("label_using"));
            badge->setGeometry(220 - width, 0, width, 30);
            badge->setAlignment(Qt::AlignCenter);
            badge->setStyleSheet(QStringLiteral(
                "background-color: #00D65B;color: rgb(255, 255, 255);font: 18px;border-radius:5px;"));
            SettingsPages::fitText(badge, text);
        } else {
            entry->setStyleSheet(QStringLiteral("#source_frame{border:1px solid #CCCCCC;border-radius:5px;}"));
            state->setPixmap(QPixmap(ShellText::picture(QStringLiteral("state_off.png"))));
        }
        auto* button = new QPushButton(entry);
        button->setObjectName(QString::number(u));
        button->setGeometry(1, 1, 218, 88);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, &InputChoose::zrv_source_button_clicked);
    }

    connect(SettingsPages::addIconButton(grid, "Button_menu", QRect(715, 10, 50, 50), "menu.png"), &QPushButton::clicked, this,
            &InputChoose::zrv_Button_menu_clicked);
    if (m_page != 0)
        connect(SettingsPages::addIconButton(grid, "Button_previous", QRect(715, 95, 50, 50), "previous.png"),
                &QPushButton::clicked, this, &InputChoose::zrv_Button_previous_clicked);
    if (m_page < m_lastPage)
        connect(SettingsPages::addIconButton(grid, "Button_next", QRect(715, 155, 50, 50), "next.png"), &QPushButton::clicked,
                this, &InputChoose::zrv_Button_next_clicked);
    grid->show();
    m_popupCrop->hide();
    m_popupEdid->hide();
}

void InputChoose::zrv_source_button_clicked() {
    QObject* s = sender();
    if (!s) return;
    const int entry = s->objectName().toInt() + InputEntries::kPerPage * m_page;
    model().ZrvSetImageSource(entry, char(m_input), char(m_window));
    const ImageView view = PageView::get();
    initSource(view);
    input_source_changed(m_window, view);
    if (g_tip) g_tip->tip_create(TIP::RemoveOnly);
}

void InputChoose::zrv_image_button_clicked() {
    auto* b = qobject_cast<QWidget*>(sender());
    if (!b) return;
    m_window = b->objectName().toInt();
    image_select(PageView::get());
    if (m_windowMarker) m_windowMarker->setGeometry(b->x(), 0, 126, 96);
}

void InputChoose::zrv_Button_menu_clicked() {
    if (m_popupCrop->isHidden()) {
        m_popupCrop->show();
        m_popupEdid->show();
        m_popupCrop->raise();
        m_popupEdid->raise();
    } else {
        m_popupCrop->hide();
        m_popupEdid->hide();
    }
}

void InputChoose::zrv_Button_previous_clicked() {
    if (m_page > 0) --m_page;
    initSource();
}

void InputChoose::zrv_Button_next_clicked() {
    ++m_page;
    initSource();
}

void InputChoose::zrv_button_inputcut_clicked() { PageRegistry::open(PageRegistry::Crop); }
void InputChoose::zrv_button_EDID_clicked() { PageRegistry::open(PageRegistry::Edid); }

void InputChoose::crop_source_num_update() { crop_source_num_update(PageView::get()); }

void InputChoose::crop_source_num_update(const ImageView& view) {
    for (int k = 0; k < 6; ++k)
        m_inputCount[k]->setText(
            QStringLiteral("(%1)").arg(InputEntries::count(view, SettingsPages::kColumnInput[k])));
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update() {
    for (int k = 0; k < 6; ++k) {
        m_inputName[k]->ensurePolished();
        m_inputName[k]->setText(
            SourceNames::input(SettingsPages::kColumnInput[k], m_inputName[k]->font(), m_inputName[k]->width()));
    }
}

void InputChoose::source_check_update() {
    for (int k = 0; k < 6; ++k) {
        const bool on = LockWindow::signalPresent(SettingsPages::kColumnInput[k]);
        m_inputPicture[k]->setPixmap(QPixmap(ShellText::picture(QString::fromLatin1(on ? kColumns[k].on : kColumns[k].off))));
    }
}

void InputChoose::syncUpdate(int code) {
    ZrvRamPara& m = model();
    const ImageView view = PageView::get();
    if (m.ZrvLanguageChanged()) {
        language_changed();
        // The grid's "Using" badge and no-signal text are chosen when it is
        // built: a new language needs a new grid.
        initSource(view);
    }

    bool enables = false;
    for (int w = 0; w < int(WIN_COUNT); ++w) {
        if (view.differs(win(u32(w)) + WIN_ENABLE, 2)) enables = true;
        if (view.differs(win(u32(w)) + WIN_SOURCE, 2)) input_source_changed(w, view);
    }
    bool summaries = false;
    for (int i = 0; i < ZRV_INPUT_COUNT; ++i)
        if (view.differs(signal(u32(i)), 6)) summaries = true;
    enum { None, Source, Signal } kind = None;
    if (view.differs(win(u32(m_window)) + WIN_SOURCE, 2))
        kind = Source;
    else if (view.differs(signal(u32(m_input)), 6))
        kind = Signal;
    const bool crops = view.differs(CROP_BASE, CROP_SIZE * CROP_COUNT);

    if (enables) {
        if (view.live.byte(win(u32(m_window)) + WIN_ENABLE) != 0) {
            initMenu(view);
            if (kind == Source) image_select(view);
            if (kind == Signal) initSource(view);
        } else {
            m_window = 0;
            image_select(view);
            initMenu(view);
        }
    } else if (kind == Source) {
        image_select(view);
    } else if (kind == Signal) {
        initSource(view);
    }

    if (code == 103 || crops) {
        m.ZrvCropSourceInit();
        initSource(view);
        crop_source_num_update(view);
        return;
    }
    if (summaries) source_check_update();
}

void InputChoose::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::SourceSelect, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputchoose == this) g_inputchoose = nullptr;
    if (PageRegistry::isOpen(PageRegistry::ImageLayout)) {
        backToImageLayout();
    } else {
        if (g_mainwindow) g_mainwindow->language_changed();
        g_page_focus = PageRegistry::MainMenu;
    }
}

void InputChoose::backToImageLayout() {
    // The layout page opened this one. The sources chosen here may already
    // be persisted (live equal to shadow), so its refresh would see nothing:
    // it redraws from the live image.
    if (ImageLayout* layout = g_imagelayout.data()) {
        layout->language_changed();
        layout->image_para_update();
        layout->image_init();
    }
    g_page_focus = PageRegistry::ImageLayout;
}
