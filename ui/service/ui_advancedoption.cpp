#include "ui/service/ui_advancedoption.h"

#include "ui/service/service_pages.h"

#include <QListView>

using ServicePages::pointFont;

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kMenuStyle =
    "QPushButton::checked{background-color: rgb(71, 119, 255);}\nQPushButton {color: rgb(255, 255, 255);}";
const char* const kRule = "background-color: rgb(133, 129, 153);";
const char* const kBar = "background-color: rgb(71, 119, 255);";
const char* const kRowLine = "border:1px solid rgb(133, 129, 153);";
const char* const kOutlined = "color: rgb(255, 255, 255);\nborder:1px solid rgb(255, 255, 255);";
const char* const kIdleSlider =
    "QSlider::groove:horizontal{height: 4px;background-color: rgb(204, 204, 204);}\n"
    "QSlider::handle:horizontal{width: 32px;background-color: rgb(255, 255, 255);"
    "margin: -14px 0px -14px 0px;border-radius: 16px;}\n"
    "QSlider::sub-page:horizontal{background-color: rgb(71, 119, 255);}";

template <class W>
W* make(QWidget* parent, const char* name, const QRect& where) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(where);
    return w;
}

QLabel* text(QWidget* parent, const char* name, const QRect& where, int pt = 0) {
    QLabel* l = make<QLabel>(parent, name, where);
    if (pt) l->setFont(pointFont(parent, pt));
    l->setStyleSheet(QString::fromLatin1(kWhite));
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QRect& where, const char* style, int pt = 0) {
    QPushButton* b = make<QPushButton>(parent, name, where);
    if (pt) b->setFont(pointFont(parent, pt));
    b->setFocusPolicy(Qt::NoFocus);
    b->setStyleSheet(QString::fromLatin1(style));
    return b;
}

// A radio mark or switch: a picture button without a frame.
QPushButton* mark(QWidget* parent, const char* name, const QRect& where, const QSize& icon = QSize(32, 32)) {
    QPushButton* b = button(parent, name, where, "border:none;");
    b->setIconSize(icon);
    return b;
}

QFrame* rule(QWidget* parent, const char* name, const QRect& where, const char* style) {
    QFrame* f = make<QFrame>(parent, name, where);
    f->setFrameShape(QFrame::HLine);
    f->setStyleSheet(QString::fromLatin1(style));
    return f;
}

QWidget* stackPage(QStackedWidget* stack, const char* name) {
    auto* w = new QWidget();
    w->setObjectName(QString::fromLatin1(name));
    stack->addWidget(w);
    return w;
}

}  // namespace

void Ui_AdvancedOption::setupUi(QDialog* dialog) {
    dialog->setObjectName(QStringLiteral("AdvancedOption"));
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    dialog->setFont(pointFont(dialog, 15));
    dialog->setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));

    label_title = text(dialog, "label_title", QRect(285, 15, 230, 42), 18);
    label_title->setAlignment(Qt::AlignCenter);
    Button_back = button(dialog, "Button_back", QRect(11, 11, 50, 50), "border:none;");

    const char* menuNames[6] = {"Button_LCDshow", "Button_rcv_recovery", "Button_timeplan",
                                "Button_other",   "Button_factory",      "Button_factory_age"};
    QPushButton** menu[6] = {&Button_LCDshow, &Button_rcv_recovery, &Button_timeplan,
                             &Button_other,   &Button_factory,      &Button_factory_age};
    for (int k = 0; k < 6; ++k) *menu[k] = button(dialog, menuNames[k], QRect(20, 80 + 60 * k, 140, 60), kMenuStyle, 13);

    frame = make<QFrame>(dialog, "frame", QRect(170, 68, 610, 400));
    frame->setStyleSheet(QStringLiteral("border:1px solid rgb(133, 129, 153);"));
    stackedWidget = make<QStackedWidget>(dialog, "stackedWidget", QRect(171, 69, 608, 398));
    stackedWidget->setFont(pointFont(dialog, 12));

    // 0: idle times.
    page = stackPage(stackedWidget, "page");
    label_backmainwindow = text(page, "label_backmainwindow", QRect(20, 42, 235, 28));
    horizontalSlider = make<QSlider>(page, "horizontalSlider", QRect(255, 42, 290, 32));
    horizontalSlider->setOrientation(Qt::Horizontal);
    horizontalSlider->setRange(3000, 18000);
    horizontalSlider->setFocusPolicy(Qt::NoFocus);
    horizontalSlider->setStyleSheet(QString::fromLatin1(kIdleSlider));
    label_time = text(page, "label_time", QRect(555, 48, 45, 28));
    label_time->setText(QStringLiteral("XXX"));
    label_autolock = text(page, "label_autolock", QRect(20, 122, 210, 28));
    Button_5min = mark(page, "Button_5min", QRect(234, 111, 50, 50));
    Button_10min = mark(page, "Button_10min", QRect(365, 111, 50, 50));
    Button_never = mark(page, "Button_never", QRect(234, 170, 50, 50));
    label_5min = text(page, "label_5min", QRect(287, 122, 70, 28));
    label_10min = text(page, "label_10min", QRect(416, 122, 70, 28));
    label_never = text(page, "label_never", QRect(287, 180, 300, 28));

    // 1: receiving-card check and self-recovery.
    page_2 = stackPage(stackedWidget, "page_2");
    label_para_file = text(page_2, "label_para_file", QRect(10, 10, 200, 28), 14);
    label_para_name = text(page_2, "label_para_name", QRect(308, 10, 280, 28), 14);
    label_rcv_update = text(page_2, "label_rcv_update", QRect(10, 50, 550, 28), 14);
    Button_check = button(page_2, "Button_check", QRect(120, 340, 150, 50), kOutlined, 15);
    Button_self_recovery = button(page_2, "Button_self_recovery", QRect(330, 340, 150, 50), kOutlined, 15);

    // 2: time plan.
    page_3 = stackPage(stackedWidget, "page_3");
    Button_plan = button(page_3, "Button_plan", QRect(68, 9, 170, 43), "color:#FFFFFF;");
    Button_switch = button(page_3, "Button_switch", QRect(386, 9, 144, 43), "color:#FFFFFF;");
    line_2 = rule(page_3, "line_2", QRect(0, 60, 610, 1), kRule);
    line_choose_2 = rule(page_3, "line_choose_2", QRect(0, 57, 305, 4), kBar);
    stackedWidget_3 = make<QStackedWidget>(page_3, "stackedWidget_3", QRect(0, 61, 610, 337));
    stackPage(stackedWidget_3, "page_8");
    stackPage(stackedWidget_3, "page_9");

    // 3: other settings.
    page_4 = stackPage(stackedWidget, "page_4");
    ImageVolume = make<QComboBox>(page_4, "ImageVolume", QRect(30, 40, 121, 40));
    ImageVolume->setFocusPolicy(Qt::NoFocus);
    ImageVolume->setStyleSheet(
        QStringLiteral("QComboBox{\ncolor:rgb(255,255,255);\n}\nQComboBox QAbstractItemView::item { min-height: 40px;}"));
    ImageVolume->setView(new QListView(ImageVolume));
    label_name_volume = text(page_4, "label_name_volume", QRect(260, 10, 140, 28));
    label_name_volume->setAlignment(Qt::AlignCenter);
    Button_volume_state = mark(page_4, "Button_volume_state", QRect(518, 40, 70, 32), QSize(70, 32));
    label_name_switch = text(page_4, "label_name_switch", QRect(20, 115, 160, 28));
    Button_seamless = mark(page_4, "Button_seamless", QRect(212, 105, 50, 50));
    Button_fade = mark(page_4, "Button_fade", QRect(405, 105, 50, 50));
    label_seamless = text(page_4, "label_seamless", QRect(269, 115, 110, 28));
    label_fade = text(page_4, "label_fade", QRect(461, 115, 110, 28));
    label_name_mode = text(page_4, "label_name_mode", QRect(20, 195, 200, 28));
    modeButton = button(page_4, "modeButton", QRect(480, 185, 125, 50),
                        "QPushButton::checked{background-color:#4777FF;}\nQPushButton {color: rgb(255, 255, 255);}");
    label_wifi = text(page_4, "label_wifi", QRect(20, 270, 160, 28));
    Button_wifi_state = mark(page_4, "Button_wifi_state", QRect(518, 270, 70, 32), QSize(70, 32));
    label_name_DBD = text(page_4, "label_name_DBD", QRect(20, 350, 160, 28));
    Button_DBD_open = mark(page_4, "Button_DBD_open", QRect(212, 335, 50, 50));
    Button_DBD_close = mark(page_4, "Button_DBD_close", QRect(405, 335, 50, 50));
    label_DBD_open = text(page_4, "label_DBD_open", QRect(269, 350, 80, 28));
    label_DBD_open_2 = text(page_4, "label_DBD_open_2", QRect(461, 350, 80, 28));
    const char* rows[4] = {"line_3", "line_4", "line_5", "line_6"};
    for (int k = 0; k < 4; ++k) rule(page_4, rows[k], QRect(0, 88 + 78 * k - (k == 3 ? 2 : 0), 608, 1), kRowLine);

    // 4: factory settings.
    page_5 = stackPage(stackedWidget, "page_5");
    Button_language = button(page_5, "Button_language", QRect(78, 9, 150, 43), "color:#4777FF;", 15);
    Button_reset = button(page_5, "Button_reset", QRect(350, 9, 222, 43), "color:#FFFFFF;", 15);
    line = rule(page_5, "line", QRect(0, 60, 610, 1), kRule);
    line_choose = rule(page_5, "line_choose", QRect(0, 57, 305, 4), kBar);
    stackedWidget_2 = make<QStackedWidget>(page_5, "stackedWidget_2", QRect(0, 61, 610, 337));
    page_6 = stackPage(stackedWidget_2, "page_6");
    page_7 = stackPage(stackedWidget_2, "page_7");

    label_language = text(page_6, "label_language", QRect(20, 30, 120, 33), 15);
    Button_chinese = mark(page_6, "Button_chinese", QRect(299, 22, 50, 50));
    Button_english = mark(page_6, "Button_english", QRect(459, 22, 50, 50));
    Button_ru = mark(page_6, "Button_ru", QRect(140, 90, 50, 50));
    Button_vn = mark(page_6, "Button_vn", QRect(299, 90, 50, 50));
    Button_tn = mark(page_6, "Button_tn", QRect(459, 90, 50, 50));
    struct Own {
        QLabel** label;
        const char* name;
        QRect where;
        const char* text;
    };
    const Own own[5] = {{&label_cn, "label_cn", {350, 30, 48, 33}, "中文"},
                        {&label_en, "label_en", {510, 30, 85, 33}, "English"},
                        {&label_ru, "label_ru", {190, 95, 105, 33}, "Русский"},
                        {&label_vn, "label_vn", {350, 100, 95, 33}, "Tiếng việt"},
                        {&label_tn, "label_tn", {510, 100, 95, 33}, "繁体中文"}};
    for (const Own& o : own) {
        *o.label = text(page_6, o.name, o.where, 13);
        (*o.label)->setText(QString::fromUtf8(o.text));
    }
    const char* fontNames[6] = {"label_32CN", "label_32EN", "label_64CN", "label_64EN", "label_128CN", "label_128EN"};
    const char* markNames[6] = {"label_32CNS", "label_32ENS", "label_64CNS", "label_64ENS", "label_128CNS", "label_128ENS"};
    const int nameX[3] = {30, 220, 420}, markX[3] = {120, 300, 510};
    for (int k = 0; k < 6; ++k) {
        fontName[k] = text(page_6, fontNames[k], QRect(nameX[k / 2], 200 + 40 * (k % 2), 81, 41));
        fontMark[k] = make<QLabel>(page_6, markNames[k], QRect(markX[k / 2], 210 + 40 * (k % 2), 67, 21));
        fontMark[k]->setScaledContents(true);
    }

    const char* resets[3] = {"Button_reset1", "Button_reset2", "Button_reset3"};
    QPushButton** resetButtons[3] = {&Button_reset1, &Button_reset2, &Button_reset3};
    for (int k = 0; k < 3; ++k) *resetButtons[k] = button(page_7, resets[k], QRect(164, 30 + 90 * k, 280, 60), kOutlined);

    // 5: the ageing log.
    page_8_osd = stackPage(stackedWidget, "page_8_osd");
    label_log1 = text(page_8_osd, "label_log1", QRect(20, 20, 490, 340), 9);
    label_log1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label_log1->setTextFormat(Qt::RichText);
    label_log1->setText(QStringLiteral("TextLabel"));
    label_3 = text(page_8_osd, "label_3", QRect(10, 375, 490, 17), 9);
    label_3->setTextFormat(Qt::PlainText);
    label_3->setText(QStringLiteral("0<3"));
    page_info = text(page_8_osd, "page_info", QRect(520, 80, 60, 17));
    page_info->setAlignment(Qt::AlignCenter);
    page_info->setText(QStringLiteral("0"));
    label_page = text(page_8_osd, "label_page", QRect(520, 120, 60, 17));
    label_page->setAlignment(Qt::AlignCenter);
    label_page->setText(QStringLiteral("0/0"));
    next = button(page_8_osd, "next", QRect(520, 200, 60, 40), kOutlined);
    next->setText(QStringLiteral("Next"));
    pre = button(page_8_osd, "pre", QRect(520, 270, 60, 40), kOutlined);
    pre->setText(QStringLiteral("Pre"));
}
