#include "ui/settings/edidset.h"

#include "core/global.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "ui/settings/inputchoose.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"
#include "ui/shell/tip.h"
#include "video_io/vimrasource.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<EDIDset> g_edidset;

using namespace RamOffset;
using namespace SettingsPages;

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

// What an EDID timing descriptor carries: 12-bit active width and height.
constexpr int kMaxEdidSize = 4095;

QPushButton* addArrow(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QString::fromLatin1(kFieldStyle) + QStringLiteral("font: 25pt;font-weight: normal;"));
    return b;
}

}  // namespace

EDIDset::EDIDset(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("EDIDset"));
    setWindowTitle(QStringLiteral("Dialog"));
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_title = addPageTitle(this, QRect(103, 15, 594, 42));
    addColumnHeads(this, ColumnHeads{89, 64, Qt::AlignCenter, 101, 569});
    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &EDIDset::on_Button_back_clicked);

    m_frameAdd = addEditPanel(this);
    m_source = addFormLabel(m_frameAdd, "label_edid_source", QRect(10, 30, 200, 28), 15, Qt::AlignLeft | Qt::AlignVCenter);
    m_labelW = addFormLabel(m_frameAdd, "label_W", QRect(10, 83, 58, 28), 13, Qt::AlignCenter);
    m_w = addField(m_frameAdd, "lineEdit_W", QRect(70, 72, 100, 50), 15);
    m_w->setText(QStringLiteral("1920"));
    m_labelH = addFormLabel(m_frameAdd, "label_H", QRect(190, 83, 58, 28), 13, Qt::AlignCenter);
    m_h = addField(m_frameAdd, "lineEdit_H", QRect(250, 72, 100, 50), 15);
    m_h->setText(QStringLiteral("1080"));
    m_freq = addFormLabel(m_frameAdd, "label_freq", QRect(360, 83, 130, 28), 13, Qt::AlignRight | Qt::AlignVCenter);
    m_left = addArrow(m_frameAdd, "Button_left", QStringLiteral("<"));
    m_right = addArrow(m_frameAdd, "Button_right", QStringLiteral(">"));
    m_rate = new QLabel(QStringLiteral("60"), m_frameAdd);
    m_rate->setObjectName(QStringLiteral("label_rate"));
    m_rate->setAlignment(Qt::AlignCenter);
    m_rate->setStyleSheet(QString::fromLatin1(kFieldStyle) + QStringLiteral("font: 15pt;"));
    connect(m_left, &QPushButton::clicked, this, &EDIDset::on_Button_left_clicked);
    connect(m_right, &QPushButton::clicked, this, &EDIDset::on_Button_right_clicked);

    m_strip = std::make_unique<InputStrip>(this, [this](int column) { zrv_button_input_clicked(column); });
    source_init();

    m_font.setPointSize(12);
    m_cancel = addEditButton(this, "Button_cancel", m_font);
    m_save = addEditButton(this, "Button_ok", m_font);
    m_delete = addEditButton(this, "Button_delete", m_font);
    connect(m_cancel, &QPushButton::clicked, this, &EDIDset::zrv_button_cancel_clicked);
    connect(m_save, &QPushButton::clicked, this, &EDIDset::zrv_button_ok_clicked);
    connect(m_delete, &QPushButton::clicked, this, &EDIDset::zrv_button_delete_clicked);
    for (My_lineEdit* field : {m_w, m_h}) connect(field, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &EDIDset::confirmString);
    language_changed();

    enterPage(this, PageRegistry::Edid, [this](int) { syncUpdate(); }, [this] { on_Button_back_clicked(); });
}

EDIDset::~EDIDset() { PageRegistry::leave(PageRegistry::Edid, this); }

void EDIDset::language_changed() {
    m_title->setText(ShellText::pick("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "设置EDID"));
    m_source->setText(ShellText::pick("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") +
                      ShellText::inputName(m_input));
    fitText(m_labelW, ShellText::pick("宽", "W", "Ширина", "Rộng", "寬"));
    fitText(m_labelH, ShellText::pick("高", "H", "Высота", "Cao", "高"));
    fitText(m_cancel, ShellText::pick("取消", "Cancle", "Отмена", "Hủy bỏ", "取消"));
    fitText(m_save, ShellText::pick("保存", "SAVE", "Сохранить", "lưu", "保存"));
    fitText(m_delete, ShellText::pick("删除", "Delete", "Удалить", "Xoá bỏ", "删除"));
    const int lang = ShellText::language();
    if (lang == 0 || lang == 4) {
        m_freq->setGeometry(360, 83, 70, 28);
        m_left->setGeometry(440, 72, 44, 50);
        m_rate->setGeometry(484, 72, 92, 50);
        m_right->setGeometry(576, 72, 44, 50);
    } else {
        m_freq->setGeometry(360, 83, 130, 28);
        m_left->setGeometry(500, 72, 44, 50);
        m_rate->setGeometry(544, 72, lang == 3 ? 72 : 92, 50);
        m_right->setGeometry(lang == 3 ? 616 : 636, 72, 44, 50);
    }
    fitText(m_freq, ShellText::pick("刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"));
    fitText(m_source, m_source->text());
}

void EDIDset::zrv_button_input_clicked(int column) {
    m_input = kColumnInput[column];
    m_strip->select(column);
    source_init();
    zrv_button_cancel_clicked();
}

void EDIDset::source_init() {
    QFrame* tile = renewFrame(m_tile, this, "frame_source", QRect(20, 152, 770, 240),
                              QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    tile->lower();
    m_font.setPointSize(12);
    const ImageView view = PageView::get();
    const PARA_RAM_IMAGE& img = view.live;
    const u32 b = edid(u32(m_input));
    const QString timing = QStringLiteral("%1x%2@%3Hz").arg(img.sword(b)).arg(img.sword(b + 2)).arg(img.sword(b + 4));
    QPushButton* button = addEntryTile(tile, QPoint(0, 0), m_input, ShellText::inputName(m_input), timing, m_font);
    button->setObjectName(QStringLiteral("Button_source"));
    connect(button, &QPushButton::clicked, this, &EDIDset::zrv_button_source_clicked);
    tile->show();
}

void EDIDset::zrv_button_source_clicked() {
    fitText(m_source, ShellText::pick("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") +
                          ShellText::inputName(m_input));
    const ImageView view = PageView::get();
    const PARA_RAM_IMAGE& img = view.live;
    const u32 b = edid(u32(m_input));
    m_w->setText(QString::number(img.sword(b)));
    m_h->setText(QString::number(img.sword(b + 2)));
    m_rate->setText(QString::number(img.sword(b + 4)));
    m_cancel->move(310, 406);
    m_save->move(540, 406);
    m_delete->move(80, 406);
    for (QWidget* w : {static_cast<QWidget*>(m_frameAdd), static_cast<QWidget*>(m_cancel),
                       static_cast<QWidget*>(m_save), static_cast<QWidget*>(m_delete)})
        w->show();
}

void EDIDset::on_Button_left_clicked() {
    m_refresh = m_refresh == 30 ? 60 : 30;
    m_rate->setText(QString::number(m_refresh));
}

void EDIDset::on_Button_right_clicked() { on_Button_left_clicked(); }

void EDIDset::show_numberkeyboard_ui(const QString&) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field) return;
    const int lang = ShellText::language();
    if (field == m_w)
        openKeypad(field, lang == 0 ? QStringLiteral("宽") : lang == 4 ? QStringLiteral("寬") : QStringLiteral("W"));
    else if (field == m_h)
        openKeypad(field, lang == 0 || lang == 4 ? QStringLiteral("高") : QStringLiteral("H"));
}

void EDIDset::confirmString(const QString& text) {
    // Every open page hears the keypad; only the page that opened it takes the value.
    if (!ownsKeypadField(this)) return;
    g_lineedit->setText(limitedText(text, 1, kMaxEdidSize, g_lineedit == m_w ? "EDID width" : "EDID height"));
}

void EDIDset::zrv_button_ok_clicked() {
    const int width = limitedValue(m_w->text(), 1, kMaxEdidSize, "EDID width");
    const int height = limitedValue(m_h->text(), 1, kMaxEdidSize, "EDID height");
    bool ok = false;
    const short refresh = m_rate->text().toShort(&ok);
    int64_t clock = 0;
    if (!vimrasource::custom_edid_fits(width, height, ok ? refresh : 0, m_input, &clock)) {
        // Stored, the input would refuse it and keep offering its old EDID
        // while this page showed the new one: nothing is stored, the panel
        // stays open for another value.
        writeLogMsg(WARNING, "EDID page: " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                                 std::to_string(ok ? refresh : 0) + " Hz for input " + std::to_string(m_input) +
                                 " not stored, the EDID cannot carry it (pixel clock " + std::to_string(clock) +
                                 " x 10 kHz)");
        if (g_tip)
            g_tip->tip_failed(ShellText::pick("EDID不支持该分辨率!", "The EDID cannot carry this timing!",
                                              "EDID не поддерживает это разрешение!",
                                              "EDID không hỗ trợ độ phân giải này!", "EDID不支持該分辨率!"));
        return;
    }
    model().ZrvSetEDIDPara(m_input, short(width), short(height), refresh);
    source_init();
    zrv_button_cancel_clicked();
}

void EDIDset::zrv_button_cancel_clicked() {
    m_frameAdd->hide();
    m_cancel->hide();
    m_save->hide();
    m_delete->hide();
}

void EDIDset::syncUpdate() {
    if (model().ZrvLanguageChanged()) language_changed();
    if (PageView::get().differs(edid(u32(m_input)), EDID_SIZE)) source_init();
}

void EDIDset::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::Edid, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_edidset == this) g_edidset = nullptr;
    if (InputChoose* source = g_inputchoose.data()) {
        source->language_changed();
        g_page_focus = PageRegistry::SourceSelect;
        source->initSource();
    } else {
        g_page_focus = PageRegistry::MainMenu;
    }
}
