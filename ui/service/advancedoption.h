#pragma once
// The advanced dialog (page 12): idle times and auto-lock, the other
// settings (audio window, switching effect, SDI receiver reset, Wi-Fi access
// point, point-to-point), the panel language with the OSD font marks, the
// three factory resets, the factory ageing log behind its access code, and
// the receiving-card check and self-recovery run as FPGA jobs under the
// progress overlay.
#include "core/global.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <initializer_list>

class QPushButton;
class Ui_AdvancedOption;
struct PARA_RAM_IMAGE;

class AdvancedOption : public QDialog {
    Q_OBJECT
public:
    explicit AdvancedOption(QWidget* parent = nullptr);
    ~AdvancedOption() override;

    // The other-settings sub-page from the live image.
    void para_init();
    // Moves the menu highlight to b.
    void button_select(QPushButton* b);
    // Recounts the recovery files and sets every text for g_language.
    void language_changed();
    // After a change signal while the dialog is in front.
    void syncUpdate(int code);
    // The recovery sub-page is the one shown.
    bool rcv_self_recovery_ornot() const;
    // The ageing log: its start or the current log page.
    void ageloginit();
    void update_agelog();
    // Redraws the recovery entry list and shows its sub-page.
    void rcv_self_recovery_file_list();

    // What the page holds, for its tests.
    Ui_AdvancedOption* form() const { return ui; }
    u8 recoveryFileCount() const { return m_recoveryCount; }
    QPushButton* selectedMenuButton() const { return m_selected; }
    QPushButton* highlightedReset() const { return m_reset; }
    bool ageLogUnlocked() const { return m_ageUnlocked != 0; }
    int ageLogPage() const { return m_agePage; }
    u32 shownCount() const { return m_shown; }
    bool recoveryBlocked() const { return m_blocked != 0; }
    QStringList entries() const { return m_entries; }
    int selectedRow() const { return m_selectedRow; }
    QFrame* fileFrame() const { return m_fileFrame.data(); }

    // The idle label of a slider value in 10 ms ticks ("30s", "1.5m", "3m").
    static QString idleText(int ticks);

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_LCDshow_clicked();
    void on_Button_rcv_recovery_clicked();
    void on_Button_timeplan_clicked();
    void on_Button_other_clicked();
    void on_Button_factory_clicked();
    void on_horizontalSlider_valueChanged(int value);
    void on_Button_language_clicked();
    void on_Button_reset_clicked();
    void on_Button_5min_clicked();
    void on_Button_10min_clicked();
    void on_Button_never_clicked();
    void on_Button_chinese_clicked();
    void on_Button_english_clicked();
    void on_Button_seamless_clicked();
    void on_Button_fade_clicked();
    void on_Button_wifi_state_clicked();
    void on_Button_plan_clicked();
    void on_Button_switch_clicked();
    void on_Button_volume_state_clicked();
    void on_horizontalSlider_sliderReleased();
    void on_modeButton_clicked();
    void on_Button_reset1_clicked();
    void on_Button_reset2_clicked();
    void on_Button_reset3_clicked();
    void on_Button_self_recovery_clicked();
    void on_ImageVolume_currentIndexChanged(int index);
    void on_Button_DBD_open_clicked();
    void on_Button_DBD_close_clicked();
    void on_Button_ru_clicked();
    void on_Button_vn_clicked();
    void on_Button_factory_age_clicked();
    void on_next_clicked();
    void on_pre_clicked();
    void on_Button_check_clicked();
    void on_Button_tn_clicked();
    void on_Button_back_clicked();
    void confirmString(QString text);
    void zrv_Button_previous_clicked();
    void zrv_Button_next_clicked();
    void zrv_button_rcv_data_list_file_clicked();

private:
    // A menu button's sub-page: refused while the overlay is up.
    bool showSubPage(int index, QPushButton* b);
    void setTab(QPushButton* active, QPushButton* other, QFrame* bar, int barX);
    void setAutoLock(u32 ticks);
    void setLanguage(int n);
    // The radio marks of the languages tab: the given language marked.
    void markLanguage(int current);
    void setEffect(bool fade);
    void setPointToPoint(bool on);
    // Factory reset k (1 to 3): 2 keeps image bytes 896 to 1375, 3 resets the
    // network settings first and stops there when they could not be reset.
    void factoryReset(int k, QPushButton* b);
    // The network settings to the factory values; false when the settings
    // file did not take them (logged; eth0 is then left as it is) or eth0
    // did not (logged).
    bool resetNetwork();
    // Starts card job 5 or 6 under the overlay; false when refused.
    bool startJob(u8 job);
    // Job 5 or 6 ended in an error.
    void jobFailed(int job);
    // The window of list index i of ImageVolume; -1 when none.
    static int audioWindow(const PARA_RAM_IMAGE& live, int index);
    void setRadio(QPushButton* on, std::initializer_list<QPushButton*> off);
    // A new style for a button whose text is fitted: the fitting is done
    // again on the new style, and the next fitting keeps it.
    static void restyleFitted(QPushButton* b, const char* style);

    Ui_AdvancedOption* ui;
    u8 m_recoveryCount = 0;
    QPushButton* m_selected = nullptr;
    QPushButton* m_reset = nullptr;

    // Ageing log.
    u8 m_ageUnlocked = 0;
    int m_agePage = 0;
    bool m_codeAsked = false;  // the keypad is open for the access code

    // Recovery sub-page.
    QPointer<QFrame> m_fileFrame;
    u32 m_shown = 0;
    u32 m_blocked = 0;
    qint8 m_listPage = 0;
    u8 m_lastPage = 0;
    int m_selectedRow = -1;  // a drawn row, or -1
    QStringList m_entries;
    bool m_checkFailed = false;  // the last check ended in an error
    QPointer<QLabel> m_rowLabel[5];
    QString m_rowText[5];
};

extern QPointer<AdvancedOption> g_advancedoption;
