#include "ui/settings/ui_imagequality.h"

#include <QMetaObject>

namespace {

const char* const kWhite = "color: rgb(255, 255, 255);";
const char* const kBox = "border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, 255, 255);";
const char* const kSliderStyle =
    "QSlider::handle:horizontal {\nwidth: 32px;\nbackground-color: rgb(255, 255, 255);\n"
    "margin: -14px 0px -14px 0px;\nborder-radius: 16px;\n}\n"
    "QSlider::groove:horizontal {\nheight: 4px;\nbackground-color: rgb(204, 204, 204);\n}\n"
    "QSlider::sub-page:horizontal{\nbackground-color: rgb(71, 119, 255);\n}\n"
    "QSlider::add-page:horizontal{\nbackground-color: rgb(204, 204, 204);\n}";

QFont sized(int points) {
    QFont f;
    f.setPointSize(points);
    return f;
}

template <class W>
W* make(QWidget* parent, const char* name, const QRect& where) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(where);
    return w;
}

QLabel* nameLabel(QWidget* parent, const char* name, const QRect& where) {
    QLabel* l = make<QLabel>(parent, name, where);
    l->setFont(sized(14));
    l->setStyleSheet(QString::fromLatin1(kWhite));
    return l;
}

QLabel* valueLabel(QWidget* parent, const char* name, int row) {
    QLabel* l = make<QLabel>(parent, name, QRect(474, 34 + 70 * row, 72, 44));
    l->setFont(sized(14));
    l->setStyleSheet(QString::fromLatin1(kBox));
    l->setAlignment(Qt::AlignCenter);
    return l;
}

QSlider* slider(QWidget* parent, const char* name, int row, int max) {
    QSlider* s = make<QSlider>(parent, name, QRect(170, 40 + 70 * row, 240, 32));
    s->setOrientation(Qt::Horizontal);
    s->setMaximum(max);
    s->setStyleSheet(QString::fromLatin1(kSliderStyle));
    return s;
}

// "+" left of the value, "-" right of it; held down, they repeat.
QPushButton* stepButton(QWidget* parent, const char* name, int row, bool add) {
    QPushButton* b = make<QPushButton>(parent, name, QRect(add ? 430 : 546, 34 + 70 * row, 44, 44));
    b->setFont(sized(30));
    b->setStyleSheet(QString::fromLatin1(kBox));
    b->setAutoRepeat(true);
    return b;
}

QPushButton* menuButton(QWidget* parent, const char* name, int y) {
    QPushButton* b = make<QPushButton>(parent, name, QRect(20, y, 140, 60));
    b->setFont(sized(14));
    b->setStyleSheet(QString::fromLatin1(kWhite));
    return b;
}

}  // namespace

void Ui_ImageQuality::setupUi(QDialog* dialog) {
    dialog->setObjectName(QStringLiteral("ImageQuality"));
    dialog->resize(800, 480);
    dialog->setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));

    Button_back = make<QPushButton>(dialog, "Button_back", QRect(11, 11, 50, 50));
    Button_back->setFocusPolicy(Qt::NoFocus);
    label_title = make<QLabel>(dialog, "label_title", QRect(307, 15, 186, 42));
    label_title->setFont(sized(18));
    label_title->setStyleSheet(QString::fromLatin1(kWhite));
    label_title->setAlignment(Qt::AlignCenter);
    Button_quality = menuButton(dialog, "Button_quality", 78);
    Button_temperature = menuButton(dialog, "Button_temperature", 140);
    stackedWidget = make<QStackedWidget>(dialog, "stackedWidget", QRect(170, 68, 610, 400));
    QFont ubuntu(QStringLiteral("Ubuntu"));
    ubuntu.setPointSize(12);
    stackedWidget->setFont(ubuntu);
    stackedWidget->setStyleSheet(QStringLiteral("#stackedWidget{\nborder:1px solid rgb(133, 129, 153);\n}"));

    page = new QWidget();
    page->setObjectName(QStringLiteral("page"));
    label_name_bright = nameLabel(page, "label_name_bright", QRect(10, 42, 120, 28));
    label_name_sharp = nameLabel(page, "label_name_sharp", QRect(10, 112, 120, 28));
    label_name_contrast = nameLabel(page, "label_name_contrast", QRect(10, 182, 120, 28));
    label_name_saturation = nameLabel(page, "label_name_saturation", QRect(10, 252, 150, 28));
    horizontalSlider_bright = slider(page, "horizontalSlider_bright", 0, 100);
    label_bright = valueLabel(page, "label_bright", 0);
    horizontalSlider_sharpness = slider(page, "horizontalSlider_sharpness", 1, 10);
    horizontalSlider_contrast = slider(page, "horizontalSlider_contrast", 2, 100);
    horizontalSlider_saturation = slider(page, "horizontalSlider_saturation", 3, 100);
    label_sharpness = valueLabel(page, "label_sharpness", 1);
    label_contrast = valueLabel(page, "label_contrast", 2);
    label_saturation = valueLabel(page, "label_saturation", 3);
    Button_bright_add = stepButton(page, "Button_bright_add", 0, true);
    Button_bright_reduce = stepButton(page, "Button_bright_reduce", 0, false);
    Button_sharpness_add = stepButton(page, "Button_sharpness_add", 1, true);
    Button_sharpness_reduce = stepButton(page, "Button_sharpness_reduce", 1, false);
    Button_contrast_add = stepButton(page, "Button_contrast_add", 2, true);
    Button_contrast_reduce = stepButton(page, "Button_contrast_reduce", 2, false);
    Button_saturation_add = stepButton(page, "Button_saturation_add", 3, true);
    Button_saturation_reduce = stepButton(page, "Button_saturation_reduce", 3, false);
    Button_reset = make<QPushButton>(page, "Button_reset", QRect(410, 330, 180, 60));
    Button_reset->setFont(sized(20));
    Button_reset->setStyleSheet(
        QStringLiteral("border:1px solid rgb(255, 255, 255);\ncolor: rgb(255, 255, 255);\nborder-radius: 10px;"));
    stackedWidget->addWidget(page);

    page_2 = new QWidget();
    page_2->setObjectName(QStringLiteral("page_2"));
    label_type = nameLabel(page_2, "label_type", QRect(20, 41, 200, 28));
    label_name_red = nameLabel(page_2, "label_name_red", QRect(20, 112, 120, 28));
    label_name_green = nameLabel(page_2, "label_name_green", QRect(20, 182, 120, 28));
    label_name_blue = nameLabel(page_2, "label_name_blue", QRect(20, 252, 120, 28));
    comboBox = make<QComboBox>(page_2, "comboBox", QRect(236, 30, 354, 50));
    for (int i = 0; i < 4; ++i) comboBox->addItem(QString());
    comboBox->setFont(sized(14));
    comboBox->setStyleSheet(QStringLiteral(
        "QComboBox { color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255); }\n"
        "QComboBox QAbstractItemView::item { color: rgb(255, 255, 255); min-height: 40px; min-width: 60px; }"));
    horizontalSlider_red = slider(page_2, "horizontalSlider_red", 1, 128);
    label_red = valueLabel(page_2, "label_red", 1);
    horizontalSlider_green = slider(page_2, "horizontalSlider_green", 2, 128);
    horizontalSlider_blue = slider(page_2, "horizontalSlider_blue", 3, 128);
    label_green = valueLabel(page_2, "label_green", 2);
    label_blue = valueLabel(page_2, "label_blue", 3);
    Button_red_add = stepButton(page_2, "Button_red_add", 1, true);
    Button_red_reduce = stepButton(page_2, "Button_red_reduce", 1, false);
    Button_green_add = stepButton(page_2, "Button_green_add", 2, true);
    Button_green_reduce = stepButton(page_2, "Button_green_reduce", 2, false);
    Button_blue_add = stepButton(page_2, "Button_blue_add", 3, true);
    Button_blue_reduce = stepButton(page_2, "Button_blue_reduce", 3, false);
    stackedWidget->addWidget(page_2);

    retranslateUi(dialog);
    stackedWidget->setCurrentIndex(1);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_ImageQuality::retranslateUi(QDialog* dialog) {
    dialog->setWindowTitle(QStringLiteral("Dialog"));
    label_title->setText(QStringLiteral("图像效果"));
    Button_quality->setText(QStringLiteral("画质"));
    Button_temperature->setText(QStringLiteral("色温"));
    label_name_bright->setText(QStringLiteral("亮度"));
    label_name_sharp->setText(QStringLiteral("锐度"));
    label_name_contrast->setText(QStringLiteral("对比度"));
    label_name_saturation->setText(QStringLiteral("饱和度"));
    for (QLabel* l : {label_bright, label_sharpness, label_contrast, label_saturation, label_red, label_green, label_blue})
        l->setText(QStringLiteral("XXX"));
    for (QPushButton* b : {Button_bright_add, Button_sharpness_add, Button_contrast_add, Button_saturation_add,
                           Button_red_add, Button_green_add, Button_blue_add})
        b->setText(QStringLiteral("+"));
    for (QPushButton* b : {Button_bright_reduce, Button_sharpness_reduce, Button_contrast_reduce,
                           Button_saturation_reduce, Button_red_reduce, Button_green_reduce, Button_blue_reduce})
        b->setText(QStringLiteral("-"));
    Button_reset->setText(QStringLiteral("恢复默认"));
    label_type->setText(QStringLiteral("色温类型"));
    label_name_red->setText(QStringLiteral("红色"));
    label_name_green->setText(QStringLiteral("绿色"));
    label_name_blue->setText(QStringLiteral("蓝色"));
    comboBox->setItemText(0, QStringLiteral("自定义"));
    comboBox->setItemText(1, QStringLiteral("偏暖"));
    comboBox->setItemText(2, QStringLiteral("自然"));
    comboBox->setItemText(3, QStringLiteral("偏冷"));
}
