#pragma once
// The custom EDID page (page 8): the timing (width, height, 30 or 60 Hz)
// that each input's EDID offers. Save writes the input's record through the
// change protocol; the c331 side then asks the source manager to write the
// EDID into the input's EEPROM.
#include "ui/settings/settings_pages.h"

#include <QDialog>
#include <QFont>
#include <QPointer>

#include <memory>

class My_lineEdit;
class QFrame;
class QLabel;
class QPushButton;

class EDIDset : public QDialog {
    Q_OBJECT
public:
    explicit EDIDset(QWidget* parent = nullptr);
    ~EDIDset() override;

    void syncUpdate();
    void language_changed();
    void source_init();

    int chosenInput() const { return m_input; }
    int refreshToggle() const { return m_refresh; }

public slots:
    void on_Button_left_clicked();
    void on_Button_right_clicked();
    void zrv_button_input_clicked(int column);
    void zrv_button_source_clicked();
    void zrv_button_cancel_clicked();
    void zrv_button_ok_clicked();
    void zrv_button_delete_clicked() { zrv_button_cancel_clicked(); }
    void show_numberkeyboard_ui(const QString& text);
    void confirmString(const QString& text);
    void on_Button_back_clicked();

private:
    std::unique_ptr<SettingsPages::InputStrip> m_strip;
    QPointer<QFrame> m_tile;
    QLabel* m_title;
    QFrame* m_frameAdd;
    QLabel* m_source;
    QLabel* m_labelW;
    QLabel* m_labelH;
    QLabel* m_freq;
    QLabel* m_rate;
    My_lineEdit* m_w;
    My_lineEdit* m_h;
    QPushButton* m_left;
    QPushButton* m_right;
    QPushButton* m_cancel;
    QPushButton* m_save;
    QPushButton* m_delete;
    QFont m_font;

    int m_input = 2;
    int m_refresh = 60;
};

extern QPointer<EDIDset> g_edidset;
