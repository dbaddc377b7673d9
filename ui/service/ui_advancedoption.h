#pragma once
// The advanced dialog's form: the widget tree its logic works on. The slots
// of the dialog are connected by object name, so the names are part of the
// page's interface.
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QWidget>

class Ui_AdvancedOption {
public:
    QLabel* label_title;
    QPushButton* Button_back;
    // The menu, top to bottom.
    QPushButton* Button_LCDshow;
    QPushButton* Button_rcv_recovery;
    QPushButton* Button_timeplan;
    QPushButton* Button_other;
    QPushButton* Button_factory;
    QPushButton* Button_factory_age;
    QFrame* frame;
    QStackedWidget* stackedWidget;

    // 0: idle times.
    QWidget* page;
    QLabel* label_backmainwindow;
    QSlider* horizontalSlider;
    QLabel* label_time;
    QLabel* label_autolock;
    QPushButton* Button_5min;
    QPushButton* Button_10min;
    QPushButton* Button_never;
    QLabel* label_5min;
    QLabel* label_10min;
    QLabel* label_never;

    // 1: receiving-card check and self-recovery.
    QWidget* page_2;
    QLabel* label_para_file;
    QLabel* label_para_name;
    QLabel* label_rcv_update;
    QPushButton* Button_check;
    QPushButton* Button_self_recovery;

    // 2: time plan (never shown).
    QWidget* page_3;
    QPushButton* Button_plan;
    QPushButton* Button_switch;
    QFrame* line_2;
    QFrame* line_choose_2;
    QStackedWidget* stackedWidget_3;

    // 3: other settings.
    QWidget* page_4;
    QComboBox* ImageVolume;
    QLabel* label_name_volume;
    QPushButton* Button_volume_state;
    QLabel* label_name_switch;
    QPushButton* Button_seamless;
    QPushButton* Button_fade;
    QLabel* label_seamless;
    QLabel* label_fade;
    QLabel* label_name_mode;
    QPushButton* modeButton;
    QLabel* label_wifi;
    QPushButton* Button_wifi_state;
    QLabel* label_name_DBD;
    QPushButton* Button_DBD_open;
    QPushButton* Button_DBD_close;
    QLabel* label_DBD_open;
    QLabel* label_DBD_open_2;

    // 4: factory settings, a languages tab and a resets tab.
    QWidget* page_5;
    QPushButton* Button_language;
    QPushButton* Button_reset;
    QFrame* line;
    QFrame* line_choose;
    QStackedWidget* stackedWidget_2;
    QWidget* page_6;
    QLabel* label_language;
    QPushButton* Button_chinese;
    QPushButton* Button_english;
    QPushButton* Button_ru;
    QPushButton* Button_vn;
    QPushButton* Button_tn;
    QLabel* label_cn;
    QLabel* label_en;
    QLabel* label_ru;
    QLabel* label_vn;
    QLabel* label_tn;
    // Font names and their marks: 32 CN, 32 EN, 64 CN, 64 EN, 128 CN, 128 EN.
    QLabel* fontName[6];
    QLabel* fontMark[6];
    QWidget* page_7;
    QPushButton* Button_reset1;
    QPushButton* Button_reset2;
    QPushButton* Button_reset3;

    // 5: the ageing log.
    QWidget* page_8_osd;
    QLabel* label_log1;
    QLabel* label_3;
    QLabel* page_info;
    QLabel* label_page;
    QPushButton* next;
    QPushButton* pre;

    void setupUi(QDialog* dialog);
};
