#include "ui/settings/outputset.h"

#include "core/global.h"
#include "core/zrvrampara.h"
#include "ui/settings/settings_pages.h"
#include "ui/shell/fpga_panel.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/page_frame.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/page_view.h"
#include "ui/shell/shell_text.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>

#include <limits>

QPointer<OutputSet> g_outputset;
QPointer<QPushButton> g_set_focus;
QPointer<QPushButton> g_apply_focus1;
QPointer<QPushButton> g_apply_focus2;
QPointer<QPushButton> g_wlan_focus;

using namespace SpliceRules;

namespace {

const char* const kTabChosen = "background-color: #4777FF;color: #FFFFFF;";
const char* const kTabOther = "color: #FFFFFF;";
// Cancel and apply buttons are styled like the port group buttons.
const char* const kButtonChosen = PortTiles::kGroupChosen;
const char* const kButtonOther = PortTiles::kGroupOther;
const char* const kLedFieldStyle =
    "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);";
const char* const kPortFieldStyle = "color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
constexpr int kWallMax = 16376;  // the largest wall the tip names

template <class W>
W* make(QWidget* parent, const char* name, const QRect& where) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(where);
    return w;
}

QLabel* label(QWidget* parent, const char* name, const QRect& where, int points,
              Qt::Alignment align = Qt::AlignCenter) {
    QLabel* l = SettingsPages::addFormLabel(parent, name, where, points, align);
    return l;
}

My_lineEdit* field(QWidget* parent, const char* name, const QRect& where, const char* style) {
    My_lineEdit* e = SettingsPages::addField(parent, name, where, 14);
    e->setStyleSheet(QString::fromLatin1(style) + QStringLiteral("font: 14pt;"));
    return e;
}

QPushButton* button(QWidget* parent, const char* name, const QRect& where, int points, const char* style) {
    auto* b = make<QPushButton>(parent, name, where);
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QString::fromLatin1(style) + QStringLiteral("font: %1pt;").arg(points));
    return b;
}

// Moves a chosen style from current to pressed (the base style is what
// fitText shrinks from).
void restyle(QPointer<QPushButton>& current, QPushButton* pressed, const char* chosen, const char* other) {
    auto set = [](QPushButton* b, const char* style) {
        const QString font = b->property("pointSize").toString();
        b->setProperty("fitBaseStyle", QString::fromLatin1(style) + font);
        SettingsPages::fitText(b, b->text());
    };
    if (current && current != pressed) set(current, other);
    current = pressed;
    if (pressed) set(pressed, chosen);
}

QPushButton* styled(QPushButton* b, int points) {
    b->setProperty("pointSize", QStringLiteral("font: %1pt;").arg(points));
    return b;
}

// A field's number as the rules read it: signed 16 bits, no number is 0.
int fieldValue(const QLineEdit* e) {
    bool ok = false;
    const int v = e->text().toInt(&ok);
    return ok ? int(int16_t(v)) : 0;
}

// The keypad's text as a number; digits beyond any wall read as very large.
int enteredValue(const QString& text) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok) {
        bool digits = !text.isEmpty();
        for (QChar c : text) digits = digits && c.isDigit();
        return digits ? 1 << 20 : 0;
    }
    return int(qBound<qlonglong>(0, v, 1 << 20));
}

}  // namespace

void Ui_OutputSet::setupUi(QDialog* dialog) {
    dialog->setObjectName(QStringLiteral("OutputSet"));
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    dialog->setFixedSize(800, 480);
    dialog->setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    Button_back = PageFrame::addBackButton(dialog);
    label_title = SettingsPages::addPageTitle(dialog, QRect(199, 15, 402, 42));

    stackedWidget = make<QStackedWidget>(dialog, "stackedWidget", QRect(170, 68, 610, 400));
    stackedWidget->setStyleSheet(QStringLiteral("#stackedWidget{border:1px solid rgb(133, 129, 153);}"));
    page = new QWidget();
    page->setObjectName(QStringLiteral("page"));
    page_2 = new QWidget();
    page_2->setObjectName(QStringLiteral("page_2"));
    stackedWidget->addWidget(page);
    stackedWidget->addWidget(page_2);

    Button_ledset = styled(button(dialog, "Button_ledset", QRect(20, 78, 140, 60), 13, kTabOther), 13);
    Button_lanset = styled(button(dialog, "Button_lanset", QRect(20, 138, 140, 60), 13, kTabOther), 13);

    // LED sub-page.
    label_s1 = label(page, "label_s1", QRect(10, 10, 360, 21), 13, Qt::AlignLeft | Qt::AlignVCenter);
    label_s2 = label(page, "label_s2", QRect(10, 130, 360, 21), 13, Qt::AlignLeft | Qt::AlignVCenter);
    label_width = label(page, "label_width", QRect(20, 50, 90, 41), 14);
    lineEdit_width = field(page, "lineEdit_width", QRect(115, 50, 100, 41), kLedFieldStyle);
    label_height = label(page, "label_height", QRect(290, 50, 90, 41), 14);
    lineEdit_height = field(page, "lineEdit_height", QRect(385, 50, 100, 41), kLedFieldStyle);
    label_warning = SettingsPages::addPicture(page, "label_warning", QRect(30, 100, 24, 24),
                                              ShellText::picture(QStringLiteral("warning.png")));
    label_tip = label(page, "label_tip", QRect(59, 100, 530, 28), 12, Qt::AlignLeft | Qt::AlignVCenter);
    comboBox = make<QComboBox>(page, "comboBox", QRect(64, 165, 200, 40));
    comboBox->setFocusPolicy(Qt::NoFocus);
    comboBox->setStyleSheet(QStringLiteral(
        "QComboBox{color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);"
        "font: 14pt;}"
        "QComboBox QAbstractItemView{color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);}"
        "QComboBox QAbstractItemView::item{min-height: 40px;}"));
    out_label = make<QLabel>(page, "out_label", QRect(388, 155, 100, 40));
    out_label->setScaledContents(true);
    frame_OUT1 = make<QFrame>(page, "frame_OUT1", QRect(64, 225, 240, 115));
    frame_OUT2 = make<QFrame>(page, "frame_OUT2", QRect(348, 225, 240, 115));
    for (QFrame* f : {frame_OUT1, frame_OUT2})
        f->setStyleSheet(QStringLiteral("#%1{border:1px solid rgb(255, 255, 255);border-radius: 6px;}").arg(f->objectName()));
    // The names sit on the frames' top edges.
    label_OUT1 = label(page, "label_OUT1", QRect(79, 210, 60, 28), 13);
    label_OUT2 = label(page, "label_OUT2", QRect(363, 210, 60, 28), 13);
    for (QLabel* l : {label_OUT1, label_OUT2}) {
        l->setStyleSheet(l->styleSheet() + QString::fromLatin1(ShellText::kPageBackground));
        l->raise();
    }
    label_OUT1->setText(QStringLiteral("OUT1"));
    label_OUT2->setText(QStringLiteral("OUT2"));
    label_out1_width = label(frame_OUT1, "label_out1_width", QRect(10, 20, 105, 33), 13);
    lineEdit_out1_width = field(frame_OUT1, "lineEdit_out1_width", QRect(120, 20, 100, 33), kLedFieldStyle);
    label_out1_height = label(frame_OUT1, "label_out1_height", QRect(10, 70, 105, 33), 13);
    lineEdit_out1_height = field(frame_OUT1, "lineEdit_out1_height", QRect(120, 70, 100, 33), kLedFieldStyle);
    label_out2_width = label(frame_OUT2, "label_out2_width", QRect(10, 20, 105, 33), 13);
    lineEdit_out2_width = field(frame_OUT2, "lineEdit_out2_width", QRect(120, 20, 100, 33), kLedFieldStyle);
    label_out2_height = label(frame_OUT2, "label_out2_height", QRect(10, 70, 105, 33), 13);
    lineEdit_out2_height = field(frame_OUT2, "lineEdit_out2_height", QRect(120, 70, 100, 33), kLedFieldStyle);
    Button_cancel1 = styled(button(page, "Button_cancel1", QRect(240, 350, 120, 40), 16, kButtonOther), 16);
    Button_apply1 = styled(button(page, "Button_apply1", QRect(410, 350, 120, 40), 16, kButtonOther), 16);

    // Port sub-page.
    Button_wlan1 = styled(button(page_2, "Button_wlan1", QRect(85, 10, 130, 50), 14, kButtonOther), 14);
    Button_wlan2 = styled(button(page_2, "Button_wlan2", QRect(235, 10, 130, 50), 14, kButtonOther), 14);
    Button_wlan3 = styled(button(page_2, "Button_wlan3", QRect(385, 10, 130, 50), 14, kButtonOther), 14);
    Button_wlan4 = styled(button(page_2, "Button_wlan4", QRect(535, 10, 130, 50), 14, kButtonOther), 14);
    line = make<QFrame>(page_2, "line", QRect(10, 74, 590, 1));
    line_2 = make<QFrame>(page_2, "line_2", QRect(10, 240, 590, 1));
    for (QFrame* l : {line, line_2}) l->setStyleSheet(QStringLiteral("background-color: rgb(133, 129, 153);"));
    label_X = label(page_2, "label_X", QRect(3, 256, 28, 50), 13);
    lineEdit_X = field(page_2, "lineEdit_X", QRect(33, 256, 80, 50), kPortFieldStyle);
    label_Y = label(page_2, "label_Y", QRect(116, 256, 58, 50), 13);
    lineEdit_Y = field(page_2, "lineEdit_Y", QRect(176, 256, 80, 50), kPortFieldStyle);
    label_W = label(page_2, "label_W", QRect(258, 256, 86, 50), 13);
    lineEdit_W = field(page_2, "lineEdit_W", QRect(346, 256, 80, 50), kPortFieldStyle);
    label_H = label(page_2, "label_H", QRect(428, 256, 66, 50), 13);
    lineEdit_H = field(page_2, "lineEdit_H", QRect(496, 256, 80, 50), kPortFieldStyle);
    label_X->setText(QStringLiteral("X"));
    label_Y->setText(QStringLiteral("Y"));
    Button_cancel2 = styled(button(page_2, "Button_cancel2", QRect(210, 330, 180, 60), 16, kButtonOther), 16);
    Button_apply2 = styled(button(page_2, "Button_apply2", QRect(410, 330, 180, 60), 16, kButtonOther), 16);
}

OutputSet::OutputSet(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      ui(std::make_unique<Ui_OutputSet>()),
      m_tiles([this](int tile) { zrv_button_wlan_clicked(tile); }) {
    ui->setupUi(this);
    QPushButton* groups[4] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3, ui->Button_wlan4};
    PortTiles::placeGroupButtons(groups, 10);
    for (QPushButton* b : groups) b->setStyleSheet(QString::fromLatin1(kButtonOther) + QStringLiteral("font: 14pt;"));
    wlan_init();
    para_init();
    wlan_para_get(0);
    restyle(g_set_focus, ui->Button_ledset, kTabChosen, kTabOther);
    restyle(g_apply_focus1, ui->Button_cancel1, kButtonChosen, kButtonOther);
    restyle(g_apply_focus2, ui->Button_cancel2, kButtonChosen, kButtonOther);
    restyle(g_wlan_focus, ui->Button_wlan1, kButtonChosen, kButtonOther);
    ui->stackedWidget->setCurrentIndex(0);

    for (My_lineEdit* e : {ui->lineEdit_width, ui->lineEdit_height, ui->lineEdit_out1_width, ui->lineEdit_out1_height})
        connect(e, &My_lineEdit::send_show, this, &OutputSet::show_numberkeyboard_ui);
    // The wall comes from the image: only OUT1 is typed.
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->lineEdit_out2_width, ui->lineEdit_out2_height, ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W,
             ui->lineEdit_H, ui->lineEdit_width, ui->lineEdit_height, ui->label_out1_width, ui->label_out1_height,
             ui->label_out2_width, ui->label_out2_height})
        w->setEnabled(false);
    if (g_numberkeyboard)
        connect(g_numberkeyboard.data(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &OutputSet::confirmString);

    connect(ui->Button_back, &QPushButton::clicked, this, &OutputSet::on_Button_back_clicked);
    connect(ui->Button_ledset, &QPushButton::clicked, this, &OutputSet::on_Button_ledset_clicked);
    connect(ui->Button_lanset, &QPushButton::clicked, this, &OutputSet::on_Button_lanset_clicked);
    connect(ui->Button_apply1, &QPushButton::clicked, this, &OutputSet::on_Button_apply1_clicked);
    connect(ui->Button_cancel1, &QPushButton::clicked, this, &OutputSet::on_Button_cancel1_clicked);
    connect(ui->Button_apply2, &QPushButton::clicked, this, &OutputSet::on_Button_apply2_clicked);
    connect(ui->Button_cancel2, &QPushButton::clicked, this, &OutputSet::on_Button_cancel2_clicked);
    connect(ui->Button_wlan1, &QPushButton::clicked, this, &OutputSet::on_Button_wlan1_clicked);
    connect(ui->Button_wlan2, &QPushButton::clicked, this, &OutputSet::on_Button_wlan2_clicked);
    connect(ui->Button_wlan3, &QPushButton::clicked, this, &OutputSet::on_Button_wlan3_clicked);
    connect(ui->Button_wlan4, &QPushButton::clicked, this, &OutputSet::on_Button_wlan4_clicked);
    connect(ui->comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &OutputSet::on_comboBox_currentIndexChanged);

    language_changed();
    // The refill of the selector runs the selector rule; the page opens on
    // what is stored, so that an apply without edits changes nothing.
    para_init();
    ui->comboBox->setView(new QListView(ui->comboBox));
    ui->Button_apply2->hide();
    ui->Button_cancel2->hide();

    SettingsPages::enterPage(this, PageRegistry::Output, [this](int) { syncUpdate(); },
                             [this] { on_Button_back_clicked(); });
}

OutputSet::~OutputSet() { PageRegistry::leave(PageRegistry::Output, this); }

SpliceRules::Fields OutputSet::fields() const {
    Fields f;
    f.wallWidth = fieldValue(ui->lineEdit_width);
    f.wallHeight = fieldValue(ui->lineEdit_height);
    f.out1Width = fieldValue(ui->lineEdit_out1_width);
    f.out1Height = fieldValue(ui->lineEdit_out1_height);
    f.out2Width = fieldValue(ui->lineEdit_out2_width);
    f.out2Height = fieldValue(ui->lineEdit_out2_height);
    f.mode = m_mode;
    return f;
}

void OutputSet::show(const SpliceRules::Fields& f) {
    ui->lineEdit_width->setText(QString::number(f.wallWidth));
    ui->lineEdit_height->setText(QString::number(f.wallHeight));
    ui->lineEdit_out1_width->setText(QString::number(f.out1Width));
    ui->lineEdit_out1_height->setText(QString::number(f.out1Height));
    ui->lineEdit_out2_width->setText(QString::number(f.out2Width));
    ui->lineEdit_out2_height->setText(QString::number(f.out2Height));
    m_mode = f.mode;
}

namespace {
void setNumber(QLineEdit* e, int v) {
    const QString text = QString::number(v);
    if (e->text() != text) e->setText(text);
}
}  // namespace

void OutputSet::para_init() {
    const ImageView view = PageView::get();
    const PARA_RAM_IMAGE& img = view.live;
    using namespace RamOffset;
    setNumber(ui->lineEdit_width, img.sword(WALL_WIDTH));
    setNumber(ui->lineEdit_height, img.sword(WALL_HEIGHT));
    m_mode = modeOfWord(img.word(SPLICE_MODE));
    ui->comboBox->setCurrentIndex(itemOfMode(m_mode));
    m_mode = modeOfWord(img.word(SPLICE_MODE));
    out_label_changed();
    setNumber(ui->lineEdit_out1_width, img.word(OUT1_WIDTH));
    setNumber(ui->lineEdit_out1_height, img.word(OUT1_HEIGHT));
    setNumber(ui->lineEdit_out2_width, img.word(OUT2_WIDTH));
    setNumber(ui->lineEdit_out2_height, img.word(OUT2_HEIGHT));
}

void OutputSet::syncUpdate() {
    if (ZrvRamPara::p_zrvrampara_config->ZrvLanguageChanged()) language_changed();
    para_init();
}

void OutputSet::out_label_changed() {
    struct Picture {
        const char* name;
        QRect where;
    };
    static const Picture pictures[3] = {{"out_horizontal.png", QRect(348, 155, 180, 40)},
                                        {"out_vertical.png", QRect(430, 130, 100, 80)},
                                        {"out_copy.png", QRect(388, 155, 100, 40)}};
    const int item = ui->comboBox->currentIndex();
    // The refresh after every signal lands here: the picture is loaded
    // only when the mode shown changes.
    if (item < 0 || item > 2 || item == m_picture) return;
    m_picture = item;
    ui->out_label->setGeometry(pictures[item].where);
    ui->out_label->setPixmap(QPixmap(ShellText::picture(QString::fromLatin1(pictures[item].name))));
}

void OutputSet::on_comboBox_currentIndexChanged(int index) {
    Fields f = fields();
    selected(f, index);
    show(f);
    out_label_changed();
}

void OutputSet::show_numberkeyboard_ui(const QString&) {
    auto* e = qobject_cast<QLineEdit*>(sender());
    if (!e) return;
    m_field = e->objectName();
    static const char* const widths[] = {"lineEdit_width", "lineEdit_out1_width", "lineEdit_out2_width"};
    static const char* const heights[] = {"lineEdit_height", "lineEdit_out1_height", "lineEdit_out2_height"};
    QString title;
    for (const char* n : widths)
        if (m_field == QLatin1String(n)) title = QStringLiteral("宽");
    for (const char* n : heights)
        if (m_field == QLatin1String(n)) title = QStringLiteral("高");
    for (const char* n : {"X", "Y", "W", "H"})
        if (m_field == QStringLiteral("lineEdit_") + QLatin1String(n)) title = QLatin1String(n);
    if (title.isEmpty()) {
        g_lineedit = e;
        if (g_numberkeyboard) g_numberkeyboard->exec();
        return;
    }
    SettingsPages::openKeypad(e, title);
}

void OutputSet::confirmString(const QString& text) {
    // Every open page hears the keypad; only the page that opened it takes the value.
    if (!SettingsPages::ownsKeypadField(this)) return;
    const int v = enteredValue(text);
    Fields f = fields();
    if (m_field == QLatin1String("lineEdit_out1_width")) {
        out1WidthEntered(f, v);
        show(f);
    } else if (m_field == QLatin1String("lineEdit_out1_height")) {
        out1HeightEntered(f, v);
        show(f);
    } else {
        g_lineedit->setText(text);
    }
}

void OutputSet::on_Button_apply1_clicked() {
    apply(fields());
    restyle(g_apply_focus1, ui->Button_apply1, kButtonChosen, kButtonOther);
}

void OutputSet::on_Button_cancel1_clicked() {
    restyle(g_apply_focus1, ui->Button_cancel1, kButtonChosen, kButtonOther);
}

void OutputSet::on_Button_apply2_clicked() {
    restyle(g_apply_focus2, ui->Button_apply2, kButtonChosen, kButtonOther);
}

void OutputSet::on_Button_cancel2_clicked() {
    restyle(g_apply_focus2, ui->Button_cancel2, kButtonChosen, kButtonOther);
}

void OutputSet::on_Button_ledset_clicked() {
    restyle(g_set_focus, ui->Button_ledset, kTabChosen, kTabOther);
    ui->stackedWidget->setCurrentIndex(0);
}

void OutputSet::on_Button_lanset_clicked() {
    restyle(g_set_focus, ui->Button_lanset, kTabChosen, kTabOther);
    ui->stackedWidget->setCurrentIndex(1);
}

void OutputSet::chooseGroup(int group) {
    QPushButton* groups[4] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3, ui->Button_wlan4};
    restyle(g_wlan_focus, groups[group], kButtonChosen, kButtonOther);
    m_group = group;
    m_tile = 0;
    wlan_init();
    wlan_para_get(u16(PortTiles::portOf(m_group, 0)));
}

void OutputSet::wlan_init() { m_tiles.build(ui->page_2, QPoint(1, 75), m_group, m_tile); }

void OutputSet::zrv_button_wlan_clicked(int tile) {
    m_tile = tile;
    m_tiles.mark(tile);
    wlan_para_get(u16(PortTiles::portOf(m_group, tile)));
}

void OutputSet::wlan_para_get(unsigned short port) {
    FpgaPanel::PortRegion r;
    QLineEdit* edits[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    if (!FpgaPanel::portRegion(port, &r)) {
        // No FPGA manager: nothing to show.
        for (QLineEdit* e : edits) e->clear();
        return;
    }
    const u16 values[4] = {r.x, r.y, r.w, r.h};
    for (int k = 0; k < 4; ++k) edits[k]->setText(QString::number(values[k]));
}

void OutputSet::language_changed() {
    using ShellText::pick;
    using SettingsPages::fitText;
    fitText(ui->label_s1, pick("1.设置LED屏宽高", "1.Set LED W&H", "1.Разрешение LED шир и выс",
                               "1.Cài đặt thông số led", "1.設置LED屏寬高"));
    fitText(ui->label_s2, pick("2.选择拼接方式", "2.Splice", "2.Сплайсер", "2.Ghép nối", "2.選擇拼接方式"));
    fitText(ui->label_title, pick("输出设置", "Output Seeting", "Выход", "Thông số đầu ra", "輸出設置"));
    fitText(ui->Button_ledset, pick("LED设置", "LED Setting", "Настройки LED", "Cài đặt LED", "LED設置"));
    fitText(ui->Button_lanset, pick("网口输出", "Port output", "Настройка LAN", "Cài đặt\ncổng MẠNG", "網口輸出"));
    const QString w = pick("宽", "W", "Ширина", "Rộng", "寬");
    const QString h = pick("高", "H", "Высота", "Cao", "高");
    for (QLabel* l : {ui->label_width, ui->label_W, ui->label_out1_width, ui->label_out2_width}) fitText(l, w);
    for (QLabel* l : {ui->label_height, ui->label_H, ui->label_out1_height, ui->label_out2_height}) fitText(l, h);
    fitText(ui->label_tip, pick("可设LED屏最大点数:%1(宽),%2(高)", "LED max:%1(w),%2(h)", "Ширина:%1(px)Высота:%2(px)",
                                "Điểm ảnh lớn nhất:%1(ngang),%2(dọc)", "可設LED屏最大點數:%1(寬),%2(高)")
                               .arg(kWallMax)
                               .arg(kWallMax));
    const QString cancel = pick("取消", "Cancle", "Отмена", "Hủy bỏ", "取消");
    const QString ok = pick("应用", "Apply", "OK", "Đồng ý", "應用");
    fitText(ui->Button_cancel1, cancel);
    fitText(ui->Button_cancel2, cancel);
    fitText(ui->Button_apply1, ok);
    fitText(ui->Button_apply2, ok);
    QPushButton* groups[3] = {ui->Button_wlan1, ui->Button_wlan2, ui->Button_wlan3};
    for (int g = 0; g < 3; ++g) fitText(groups[g], PortTiles::groupText(g));
    combox_language_change();
}

void OutputSet::combox_language_change() {
    using ShellText::pick;
    const int index = ui->comboBox->currentIndex();
    ui->comboBox->clear();
    ui->comboBox->addItem(pick("水平拼接", "horizontal", "Горизонтально", "Chiều ngang", "水平拼接"));
    ui->comboBox->addItem(pick("垂直拼接", "VerticalS", "Вертикально", "Chiều cao", "垂直拼接"));
    ui->comboBox->addItem(pick("复制模式", "copy", "Дублирование", "Sao chép", "複製模式"));
    ui->comboBox->setCurrentIndex(index);
}

void OutputSet::on_Button_back_clicked() {
    PageRegistry::leave(PageRegistry::Output, this);
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_outputset == this) g_outputset = nullptr;
    if (Option* menu = g_option.data()) menu->language_changed();
    g_page_focus = PageRegistry::Settings;
}
