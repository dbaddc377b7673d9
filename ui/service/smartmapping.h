#pragma once
// The smart set-up wizard (page 24): sets up the LED receiving cards behind
// one output port without a PC. Quick set-up (cabinet size, port, routing,
// rows, columns and offsets, then Send), loading a scan file from the
// device or the USB stick into a port's cards, the cards' parameter save
// and the mapping switch. Each task is a card job of the FPGA thread,
// followed on the round progress overlay; while the overlay is up the page
// is busy.
#include "fpga/fpga_jobs.h"
#include "ui/settings/port_tiles.h"
#include "ui/service/scan_files.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class My_lineEdit;

class SmartMapping : public QDialog {
    Q_OBJECT
public:
    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    // Keypad limits of the fields, held when a value arrives.
    struct Limit {
        const char* field;
        int lo, hi;
    };
    static const Limit kLimits[6];
    // The limit of a field by its object name; null for another field.
    static const Limit* limitOf(const QString& field);

    // The quick set-up record the wizard's next job takes (GUI thread only).
    // It outlives the page like the FPGA thread's copy: a new page resets
    // only the port and the routing.
    static LINE_TYPE_PARA& record();
    // "Routing %d" and its other languages.
    static QString routingText(int type);

    void language_changed();
    void syncUpdate(int code);
    void button_select(QPushButton* button);
    void wlan_init(unsigned char kind);
    void line_select(char type);
    void scan_file_list();
    void language_for_shortcutt_page0();
    void language_for_shortcutt_page1();
    void language_for_shortcutt_page2();
    void language_for_shortcutt_page3();
    void language_for_loadscan_page4();
    void language_for_loadscan_page5();
    void language_for_paraweld_page6();
    void language_for_mapping_onoff_page7();

    // What tests and the tour read.
    int scanFileCount() const { return m_scanCount; }
    const ScanFiles::Listing& fileList() const { return m_list; }
    int filePage() const { return m_filePage; }
    int chosenSlot() const { return m_slot; }
    bool filePageShown() const { return m_filePageShown; }
    int group() const { return m_group; }
    QPushButton* currentMenu() const { return m_menu; }

signals:
    void sig_qround_bar_update(int value);

public slots:
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_next_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_send_clicked();
    void on_Button_route_clicked();
    void on_Button_cancel_clicked();
    void on_Button_next_5_clicked();
    void on_Button_front_6_clicked();
    void on_Button_load_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();
    void on_Button_back_clicked();
    void zrv_button_wlan_clicked(int tile);
    void zrv_button_file_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString text);
    void zrv_Button_previous_clicked();
    void zrv_Button_next_clicked();

    // The group buttons (1-4 on the quick set-up's port step, 5-8 on the
    // load's) and the routing buttons.
    void on_Button_wlan1_clicked() { groupClicked(1); }
    void on_Button_wlan2_clicked() { groupClicked(2); }
    void on_Button_wlan3_clicked() { groupClicked(3); }
    void on_Button_wlan4_clicked() { groupClicked(4); }
    void on_Button_wlan5_clicked() { groupClicked(5); }
    void on_Button_wlan6_clicked() { groupClicked(6); }
    void on_Button_wlan7_clicked() { groupClicked(7); }
    void on_Button_wlan8_clicked() { groupClicked(8); }
    void on_Button_route1_clicked() { routeClicked(1); }
    void on_Button_route2_clicked() { routeClicked(2); }
    void on_Button_route3_clicked() { routeClicked(3); }
    void on_Button_route4_clicked() { routeClicked(4); }
    void on_Button_route5_clicked() { routeClicked(5); }
    void on_Button_route6_clicked() { routeClicked(6); }
    void on_Button_route7_clicked() { routeClicked(7); }
    void on_Button_route8_clicked() { routeClicked(8); }
    void on_Button_route9_clicked() { routeClicked(9); }
    void on_Button_route10_clicked() { routeClicked(10); }
    void on_Button_route11_clicked() { routeClicked(11); }
    void on_Button_route12_clicked() { routeClicked(12); }
    void on_Button_route13_clicked() { routeClicked(13); }
    void on_Button_route14_clicked() { routeClicked(14); }
    void on_Button_route15_clicked() { routeClicked(15); }
    void on_Button_route16_clicked() { routeClicked(16); }

private:
    void groupClicked(int button);
    void routeClicked(int type);
    void buildForm();
    void buildQuickPages();
    void buildRoutePage(QWidget* page);
    void buildJobPages();
    QWidget* page(int index) const;
    // Overlay on the page with the progress connected, then the post; a
    // refused post closes the overlay at once.
    void startJob(const std::function<bool()>& post);
    // The page's job buttons and menu do nothing while this holds.
    static bool busy();
    void setMappingIcon(bool on);
    void styleFileLabel(int slot, bool chosen);
    void countScanFiles();
    int fieldValue(QLineEdit* field) const;

    QStackedWidget* m_stack = nullptr;
    QLabel* m_title = nullptr;
    QPushButton* m_menuButtons[4] = {};
    QPushButton* m_menu = nullptr;        // the current menu button
    QPointer<QPushButton> m_groupButton;  // the current port-group button
    QPushButton* m_groups[8] = {};
    QToolButton* m_routes[16] = {};
    QPushButton* m_route = nullptr;
    QPushButton* m_mappingState = nullptr;
    My_lineEdit* m_fields[6] = {};  // X, Y, line, column, horzion, vert

    // Scan files.
    QPointer<QPushButton> m_previous;
    QPointer<QPushButton> m_next;
    int m_filePage = 0;
    int m_scanCount = 0;
    int m_lastPage = 0;
    int m_shown = 0;
    ScanFiles::Listing m_list;
    bool m_filePageShown = false;
    QPointer<QFrame> m_fileFrame;
    QLabel* m_fileLabels[ScanFiles::kPageRows] = {};
    QString m_shownNames[ScanFiles::kPageRows];
    QString m_paths[ScanFiles::kPageRows];
    int m_slot = 0;

    // Port picker.
    PortTiles::Grid m_grid;
    unsigned char m_tilesKind = 0;
    int m_group = 0;

    // The nine style sheets of the file list and the menu.
    QString m_styleStickChosen, m_styleStickChosen2, m_styleStick;
    QString m_styleDeviceChosen, m_styleDeviceChosen2, m_styleDevice;
    QString m_styleLoadscan, m_styleLoadscanCurrent, m_styleLoadscanNone;
};

extern QPointer<SmartMapping> g_smartmapping;
