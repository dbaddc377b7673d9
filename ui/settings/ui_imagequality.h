#pragma once
// The image quality page's form: the widget tree its logic works on. The
// logic finds the widgets through these members and its slots are connected
// by object name, so the names are part of the page's interface.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QWidget>

class Ui_ImageQuality {
public:
    QPushButton* Button_back;
    QLabel* label_title;
    QPushButton* Button_quality;
    QPushButton* Button_temperature;
    QStackedWidget* stackedWidget;
    QWidget* page;
    QLabel* label_name_bright;
    QLabel* label_name_sharp;
    QLabel* label_name_contrast;
    QLabel* label_name_saturation;
    QSlider* horizontalSlider_bright;
    QLabel* label_bright;
    QSlider* horizontalSlider_sharpness;
    QSlider* horizontalSlider_contrast;
    QSlider* horizontalSlider_saturation;
    QLabel* label_sharpness;
    QLabel* label_contrast;
    QLabel* label_saturation;
    QPushButton* Button_bright_add;
    QPushButton* Button_bright_reduce;
    QPushButton* Button_sharpness_add;
    QPushButton* Button_sharpness_reduce;
    QPushButton* Button_contrast_add;
    QPushButton* Button_contrast_reduce;
    QPushButton* Button_saturation_add;
    QPushButton* Button_saturation_reduce;
    QPushButton* Button_reset;
    QWidget* page_2;
    QLabel* label_type;
    QLabel* label_name_red;
    QLabel* label_name_green;
    QLabel* label_name_blue;
    QComboBox* comboBox;
    QSlider* horizontalSlider_red;
    QLabel* label_red;
    QSlider* horizontalSlider_green;
    QSlider* horizontalSlider_blue;
    QLabel* label_green;
    QLabel* label_blue;
    QPushButton* Button_red_add;
    QPushButton* Button_red_reduce;
    QPushButton* Button_green_add;
    QPushButton* Button_green_reduce;
    QPushButton* Button_blue_add;
    QPushButton* Button_blue_reduce;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};
