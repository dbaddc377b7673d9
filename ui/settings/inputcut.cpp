#include "ui/settings/inputcut.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/input_entries.h"
#include "ui/settings/inputchoose.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

QPointer<InputCut> g_inputcut;

using namespace RamOffset;
using namespace SettingsPages;

namespace {

ZrvRamPara& model() { return *ZrvRamPara::p_zrvrampara_config; }

// What the keypad may put into a field of this page.
struct FieldLimit {
    const char* name;
    int lo;
    int hi;
};
const FieldLimit kLimits[4] = {
    {"lineEdit_X", 0, 32767}, {"lineEdit_Y", 0, 32767}, {"lineEdit_W", 1, 32767}, {"lineEdit_H", 1, 32767}};

const FieldLimit& limitOf(const QString& field) {
    for (const FieldLimit& l : kLimits)
        if (field == QLatin1String(l.name)) return l;
    return kLimits[0];
}

}  // namespace

InputCut::InputCut(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("InputCut"));
    setWindowTitle(QStringLiteral("Dialog"));
    setFixedSize(800, 480);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_title = addPageTitle(this, QRect(198, 15, 404, 42));
    addColumnHeads(this, ColumnHeads{57, 32, Qt::AlignRight | Qt::AlignVCenter, 106, 550});
    static const char* const countNames[6] = {"HDMI1_num", "HDMI2_num", "HDMI3_num", "HDMI4_num", "DVI_num", "EXT_num"};
    static const int countX[6] = {93, 223, 353, 483, 604, 731};
    for (int k = 0; k < 6; ++k) {
        m_count[k] = new QLabel(this);
        m_count[k]->setObjectName(QString::fromLatin1(countNames[k]));
        m_count[k]->setGeometry(countX[k], 73, 32, 28);
        m_count[k]->setStyleSheet(QStringLiteral("color: rgb(71, 119, 255);font: 13pt;"));
    }
    QPushButton* back = PageFrame::addBackButton(this);
    connect(back, &QPushButton::clicked, this, &InputCut::on_Button_back_clicked);

    m_frameAdd = addEditPanel(this);
    m_header = addFormLabel(m_frameAdd, "label_change_source", QRect(10, 30, 280, 28), 13, Qt::AlignLeft | Qt::AlignVCenter);
    m_labelCrop = addFormLabel(m_frameAdd, "label_crop", QRect(10, 83, 82, 28), 13, Qt::AlignLeft | Qt::AlignVCenter);
    addFormLabel(m_frameAdd, "label_X", QRect(92, 83, 28, 28), 13, Qt::AlignCenter)->setText(QStringLiteral("X"));
    m_x = addField(m_frameAdd, "lineEdit_X", QRect(120, 72, 100, 50), 13);
    addFormLabel(m_frameAdd, "label_Y", QRect(250, 83, 28, 28), 13, Qt::AlignCenter)->setText(QStringLiteral("Y"));
    m_y = addField(m_frameAdd, "lineEdit_Y", QRect(278, 72, 100, 50), 13);
    m_labelW = addFormLabel(m_frameAdd, "label_W", QRect(385, 83, 71, 28), 13, Qt::AlignCenter);
    m_w = addField(m_frameAdd, "lineEdit_W", QRect(460, 72, 100, 50), 13);
    m_labelH = addFormLabel(m_frameAdd, "label_H", QRect(565, 83, 71, 28), 13, Qt::AlignCenter);
    m_h = addField(m_frameAdd, "lineEdit_H", QRect(640, 72, 100, 50), 13);

    m_strip = std::make_unique<InputStrip>(this, [this](int column) { zrv_button_input_clicked(column); });
    model().ZrvCropSourceInit();
    const ImageView view = PageView::get();
    crop_source_num_update(view);
    source_init(view);

    m_font.setPointSize(12);
    m_cancel = addEditButton(this, "Button_cancel", m_font);
    m_ok = addEditButton(this, "Button_ok", m_font);
    m_delete = addEditButton(this, "Button_delete", m_font);
    connect(m_cancel, &QPushButton::clicked, this, &InputCut::zrv_button_cancel_clicked);
    connect(m_ok, &QPushButton::clicked, this, &InputCut::zrv_button_ok_clicked);
    connect(m_delete, &QPushButton::clicked, this, &InputCut::zrv_button_delete_clicked);
    for (My_lineEdit* field : {m_x, m_y, m_w, m_h})
        connect(field, &My_lineEdit::send_show, this, &InputCut::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &InputCut::confirmString);
    language_changed();

    enterPage(this, PageRegistry::Crop, [this](int code) { syncUpdate(code); }, [this] { on_Button_back_clicked(); });
}

InputCut::~InputCut() { PageRegistry::leave(PageRegistry::Crop, this); }

void InputCut::language_changed() {
    m_title->setText(ShellText::pick("输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"));
    fitText(m_labelCrop, ShellText::pick("截取:", "Crop:", "Обрезать:", "Cắt:", "截取:"));
    fitText(m_labelW, ShellText::pick("宽", "W", "Ширина", "Rộng", "寬"));
    fitText(m_labelH, ShellText::pick("高", "H", "Высота", "Cao", "高"));
    fitText(m_cancel, ShellText::pick("取消", "Cancle", "Отмена", "Hủy bỏ", "取消"));
    fitText(m_ok, ShellText::pick("确定", "OK", "OK", "Đồng ý", "確定"));
    fitText(m_delete, ShellText::pick("删除", "Delete", "Удалить", "Xoá bỏ", "删除"));
}

void InputCut::crop_source_num_update() { crop_source_num_update(PageView::get()); }

void InputCut::crop_source_num_update(const ImageView& view) {
    for (int k = 0; k < 6; ++k)
        m_count[k]->setText(QStringLiteral("(%1)").arg(InputEntries::count(view, kColumnInput[k])));
}

void InputCut::zrv_button_input_clicked(int column) {
    m_page = 0;
    m_input = kColumnInput[column];
    m_strip->select(column);
    source_init();
    para_changed_over();
}

void InputCut::source_init() { source_init(PageView::get()); }

void InputCut::source_init(const ImageView& view) {
    const int count = InputEntries::count(view, m_input);
    m_lastPage = InputEntries::lastPage(count);
    const int shown = InputEntries::shownOnPage(count, m_page);

    QFrame* list = renewFrame(m_list, this, "frame_source", QRect(20, 152, 770, 240),
                              QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}"));
    list->lower();
    m_font.setPointSize(12);
    const QString name = ShellText::inputName(m_input);
    for (int p = 0; p < shown; ++p) {
        const int e = InputEntries::kPerPage * m_page + p;
        QString title = name;
        QString size;
        if (e == 0) {
            size = InputEntries::signalText(m_input);
        } else {
            CROP_PARA para{};
            const int index = view.cropPara(m_input, e, &para);
            const bool found = index < int(CROP_COUNT);
            title = SourceNames::crop(index, m_input, found ? ((para.id >> 8) & 0x7F) + 1 : 0, m_font, 172);
            if (found) size = QStringLiteral("%1x%2").arg(para.w).arg(para.h);
        }
        QPushButton* b = addEntryTile(list, QPoint(240 * (p % 3), 110 * (p / 3)), m_input, title, size, m_font);
        b->setObjectName(QString::number(p));
        connect(b, &QPushButton::clicked, this, &InputCut::zrv_button_source_clicked);
    }

    m_add = addIconButton(list, "Button_add", QRect(715, 10, 50, 50), "add.png");
    connect(m_add.data(), &QPushButton::clicked, this, &InputCut::zrv_button_add_clicked);
    if (m_page != 0)
        connect(addIconButton(list, "Button_previous", QRect(715, 110, 50, 50), "previous.png"), &QPushButton::clicked, this,
                &InputCut::zrv_Button_previous_clicked);
    if (m_page < m_lastPage)
        connect(addIconButton(list, "Button_next", QRect(715, 175, 50, 50), "next.png"), &QPushButton::clicked, this,
                &InputCut::zrv_Button_next_clicked);
    list->show();
}

void InputCut::zrv_button_source_clicked() {
    QObject* s = sender();
    if (!s) return;
    m_mode = 0;
    m_entry = InputEntries::kPerPage * m_page + s->objectName().toInt();
    CROP_PARA para{};
    const int index = m_entry != 0 ? PageView::get().cropPara(m_input, m_entry, &para) : int(CROP_COUNT);
    // The input itself, or a crop whose record cannot be found: nothing to edit.
    if (index >= int(CROP_COUNT)) {
        para_changed_over();
        return;
    }
    if (m_add) m_add->hide();
    m_header->setText(ShellText::pick("名称:", "Name:", "Название:", "Tên:", "名稱:") + ShellText::inputName(m_input) +
                      QStringLiteral("-Crop-%1").arg(m_entry));
    m_x->setText(QString::number(para.x));
    m_y->setText(QString::number(para.y));
    m_w->setText(QString::number(para.w));
    m_h->setText(QString::number(para.h));
    m_delete->move(80, 406);
    m_cancel->move(310, 406);
    m_ok->move(540, 406);
    for (QWidget* w : {static_cast<QWidget*>(m_frameAdd), static_cast<QWidget*>(m_cancel),
                       static_cast<QWidget*>(m_ok), static_cast<QWidget*>(m_delete)})
        w->show();
}

void InputCut::zrv_button_add_clicked() {
    m_mode = 1;
    if (m_add) m_add->hide();
    m_header->setText(ShellText::pick("名称:", "Name:", "Название:", "Tên:", "名稱:") + ShellText::inputName(m_input) +
                      QStringLiteral("-Crop-%1").arg(InputEntries::count(PageView::get(), m_input)));
    m_x->setText(QStringLiteral("0"));
    m_y->setText(QStringLiteral("0"));
    m_w->setText(QStringLiteral("1920"));
    m_h->setText(QStringLiteral("1080"));
    m_cancel->move(195, 406);
    m_ok->move(425, 406);
    // A Delete left over from an edit before paging would delete the crop
    // chosen then, not one the operator picks now.
    m_delete->hide();
    m_frameAdd->show();
    m_cancel->show();
    m_ok->show();
}

void InputCut::zrv_Button_previous_clicked() {
    if (m_page > 0) --m_page;
    source_init();
}

void InputCut::zrv_Button_next_clicked() {
    ++m_page;
    source_init();
}

void InputCut::show_numberkeyboard_ui(const QString&) {
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field) return;
    const QString name = field->objectName();
    const int lang = ShellText::language();
    QString title;
    if (name == QLatin1String("lineEdit_X"))
        title = QStringLiteral("X");
    else if (name == QLatin1String("lineEdit_Y"))
        title = QStringLiteral("Y");
    else if (name == QLatin1String("lineEdit_W"))
        title = lang == 0 ? QStringLiteral("宽") : lang == 4 ? QStringLiteral("寬") : QStringLiteral("W");
    else if (name == QLatin1String("lineEdit_H"))
        title = lang == 0 ? QStringLiteral("高") : QStringLiteral("H");
    else
        return;
    openKeypad(field, title);
}

void InputCut::confirmString(const QString& text) {
    // Every open page hears the keypad; only the page that opened it takes the value.
    if (!ownsKeypadField(this)) return;
    const FieldLimit& l = limitOf(g_lineedit->objectName());
    g_lineedit->setText(limitedText(text, l.lo, l.hi, l.name));
}

void InputCut::zrv_button_ok_clicked() {
    CROP_PARA para{};
    para.id = m_input;
    para.x = limitedValue(m_x->text(), kLimits[0].lo, kLimits[0].hi, kLimits[0].name);
    para.y = limitedValue(m_y->text(), kLimits[1].lo, kLimits[1].hi, kLimits[1].name);
    para.w = limitedValue(m_w->text(), kLimits[2].lo, kLimits[2].hi, kLimits[2].name);
    para.h = limitedValue(m_h->text(), kLimits[3].lo, kLimits[3].hi, kLimits[3].name);
    if (m_mode == 1)
        model().ZrvAddNewCrop(m_input, &para);
    else
        model().ZrvSetCropPara(char(m_input), char(m_entry), &para);
    finishEdit();
}

void InputCut::zrv_button_delete_clicked() {
    model().ZrvDeleteCrop(char(m_input), char(m_entry));
    finishEdit();
}

void InputCut::finishEdit() {
    model().ZrvCropSourceInit();
    const ImageView view = PageView::get();
    crop_source_num_update(view);
    source_init(view);
    para_changed_over();
}

void InputCut::zrv_button_cancel_clicked() { para_changed_over(); }

void InputCut::para_changed_over() {
    m_frameAdd->hide();
    m_cancel->hide();
    m_ok->hide();
    m_delete->hide();
    if (m_add) m_add->show();
}

void InputCut::syncUpdate(int reason) {
    ZrvRamPara& m = model();
    if (m.ZrvLanguageChanged()) language_changed();
    const ImageView view = PageView::get();
    if (view.differs(CROP_BASE, CROP_SIZE * CROP_COUNT) || reason == 103) {
        m.ZrvCropSourceInit();
        crop_source_num_update(view);
        source_init(view);
    }
}

void InputCut::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::Crop, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputcut == this) g_inputcut = nullptr;
    if (InputChoose* source = g_inputchoose.data()) {
        source->language_changed();
        g_page_focus = PageRegistry::SourceSelect;
        source->initSource();
        source->crop_source_num_update();
    } else {
        if (g_option) g_option->language_changed();
        g_page_focus = PageRegistry::Settings;
    }
}
