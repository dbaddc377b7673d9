#pragma once
// The output page (page 6): the LED sub-page shows the wall, chooses how it
// is split over OUT1 and OUT2 and applies it; the port sub-page shows where
// each of the 24 output ports' picture lies on the wall. The split itself
// follows SpliceRules; the port regions come through FpgaPanel, and stay
// empty while there is no FPGA manager.
#include "ui/settings/port_tiles.h"
#include "ui/settings/splice_rules.h"

#include <QDialog>
#include <QPointer>

#include <memory>

class My_lineEdit;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QStackedWidget;

class Ui_OutputSet {
public:
    void setupUi(QDialog* page);

    QPushButton* Button_back;
    QLabel* label_title;
    QStackedWidget* stackedWidget;
    QWidget* page;
    QWidget* page_2;
    QPushButton* Button_ledset;
    QPushButton* Button_lanset;
    QLabel* label_s1;
    QLabel* label_s2;
    QLabel* label_width;
    My_lineEdit* lineEdit_width;
    QLabel* label_height;
    My_lineEdit* lineEdit_height;
    QLabel* label_warning;
    QLabel* label_tip;
    QComboBox* comboBox;
    QLabel* out_label;
    QLabel* label_OUT1;
    QLabel* label_OUT2;
    QFrame* frame_OUT1;
    QFrame* frame_OUT2;
    QLabel* label_out1_width;
    My_lineEdit* lineEdit_out1_width;
    QLabel* label_out1_height;
    My_lineEdit* lineEdit_out1_height;
    QLabel* label_out2_width;
    My_lineEdit* lineEdit_out2_width;
    QLabel* label_out2_height;
    My_lineEdit* lineEdit_out2_height;
    QPushButton* Button_cancel1;
    QPushButton* Button_apply1;
    QPushButton* Button_wlan1;
    QPushButton* Button_wlan2;
    QPushButton* Button_wlan3;
    QPushButton* Button_wlan4;
    QFrame* line;
    QFrame* line_2;
    QLabel* label_X;
    My_lineEdit* lineEdit_X;
    QLabel* label_Y;
    My_lineEdit* lineEdit_Y;
    QLabel* label_W;
    My_lineEdit* lineEdit_W;
    QLabel* label_H;
    My_lineEdit* lineEdit_H;
    QPushButton* Button_cancel2;
    QPushButton* Button_apply2;
};

class OutputSet : public QDialog {
    Q_OBJECT
public:
    explicit OutputSet(QWidget* parent = nullptr);
    ~OutputSet() override;

    void wlan_para_get(unsigned short port);
    void wlan_init();
    void out_label_changed();
    // The LED sub-page from the live image.
    void para_init();
    void syncUpdate();
    void language_changed();
    void combox_language_change();

    Ui_OutputSet* form() const { return ui.get(); }
    int workingMode() const { return m_mode; }
    int group() const { return m_group; }
    int selectedTile() const { return m_tile; }

public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();
    void on_Button_apply2_clicked();
    void on_Button_cancel2_clicked();
    void on_Button_apply1_clicked();
    void on_Button_cancel1_clicked();
    void on_Button_wlan1_clicked() { chooseGroup(0); }
    void on_Button_wlan2_clicked() { chooseGroup(1); }
    void on_Button_wlan3_clicked() { chooseGroup(2); }
    void on_Button_wlan4_clicked() { chooseGroup(3); }
    void on_comboBox_currentIndexChanged(int index);
    void zrv_button_wlan_clicked(int tile);
    void show_numberkeyboard_ui(const QString& text);
    void confirmString(const QString& text);
    void on_Button_back_clicked();

private:
    void chooseGroup(int group);
    // The fields as the splice rules see them, and back.
    SpliceRules::Fields fields() const;
    void show(const SpliceRules::Fields& f);

    std::unique_ptr<Ui_OutputSet> ui;
    PortTiles::Grid m_tiles;
    QString m_field;  // object name of the field that last opened the keypad
    int m_group = 0;
    int m_mode = SpliceRules::Copy;
    int m_tile = 0;
    int m_picture = -1;  // selector item whose picture is shown
};

extern QPointer<OutputSet> g_outputset;
extern QPointer<QPushButton> g_set_focus;
extern QPointer<QPushButton> g_apply_focus1;
extern QPointer<QPushButton> g_apply_focus2;
extern QPointer<QPushButton> g_wlan_focus;
