#pragma once
// The communication page (page 10): the fixed serial line values, the wired
// address, mask and gateway edited octet by octet with the keypad and
// applied to the settings and eth0, and the list of upgrade packages on a
// USB stick with the button that asks for the upgrade.
#include "core/usb_packages.h"

#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QWidget;

class LinkOption : public QDialog {
    Q_OBJECT
public:
    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void language_changed();
    void syncUpdate(int code);
    // The USB sub-page: scan of the stick, drawing of the list, the request.
    void get_file_list_smartpath();
    void rcv_self_recovery_file_list();
    void menulist_button_ok_page();

    QPushButton* highlightedTab() const { return m_tab; }
    const UsbPackages::Listing& packages() const { return m_list; }
    bool upgradeStarted() const { return m_started != 0; }

public slots:
    void on_Button_com_clicked();
    void on_Button_wlan_clicked();
    void on_Button_direct_clicked();
    void on_Button_IP_clicked();
    void on_Button_net_apply_clicked();
    void on_Button_net_cancel_clicked();
    void on_Button_usb_clicked();
    void on_Button_ok_clicked();
    void on_Button_back_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);

private:
    void buildSerialPage(QWidget* page);
    void buildNetworkPage(QWidget* page);
    void buildUsbPage(QWidget* page);
    void showTab(int index, QPushButton* tab);
    void restyleTabs();
    void fillRow(QLineEdit* const row[4], const QString& text);
    // The row's text from its four fields, each a plain decimal 0-255; false
    // when a field holds anything else.
    static bool joinRow(QLineEdit* const row[4], QString* text);
    // The last run's outcome with its times, in the current language.
    void showOutcome();

    QLabel* m_title;
    QPushButton* m_tabs[3];
    QPushButton* m_tab;  // the highlighted one
    QStackedWidget* m_stack;
    QString m_editName;  // object name of the field whose keypad opened last

    // Serial and network sub-pages.
    QLabel* m_serialLabel[3];
    QLabel* m_network;
    QPushButton* m_direct;
    QLabel* m_directLabel;
    QPushButton* m_fixed;
    QLabel* m_fixedLabel;
    QLabel* m_rowLabel[3];
    QLineEdit* m_ip[4];
    QLineEdit* m_mask[4];
    QLineEdit* m_gate[4];
    QPushButton* m_cancel;
    QPushButton* m_apply;

    // USB sub-page.
    QWidget* m_usbPage;
    QPushButton* m_ok;
    QLabel* m_log;
    QPointer<QFrame> m_listFrame;
    u8 m_started = 0;
    enum Outcome { NoRun, RunOver, RunFailed };
    Outcome m_outcome = NoRun;  // of the last run shown on the USB tab
    QString m_outcomeTimes;
    UsbPackages::Listing m_list;
};

extern QPointer<LinkOption> g_linkoption;
