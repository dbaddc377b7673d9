#pragma once
// The main menu (page 1) and the panel's time base. It is created once at
// start-up and kept; it owns the shared keypad, the tip pop-up and the
// updating screen, and its 10 ms tick drives every time-out of the panel.
#include "core/global.h"

#include <QPointer>
#include <QWidget>

#include "ui/shell/firmwareupdate.h"
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr u32 kRebootTicks = 300;
    static constexpr u32 kAgeSampleTicks = 17999;
    static constexpr int kAgeLogLines = 3360;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void language_changed();

    // Updating screen of an upgrade; safe to call from any thread.
    void update_start();
    void update_over();
    bool isUpdating() const;
    FirmwareUpdate* updateScreen() const { return m_update; }

    // One ageing sample of the FPGAs (needs the FPGA manager).
    void getagelog();
    // Appends a sample line and counts the rise of both output counters.
    static void appendAgeLine(const QString& line);

    // The panel's one recall of user mode m (1 to 16), for the mode buttons
    // here and on the user-mode page: the saved snapshot into the live image
    // under the c331 manager's mutex with the apply flag, and the LED
    // re-initialisation request when the mode's wall differs. False for an
    // empty slot or a mode out of range.
    static bool recallUserMode(int m);

    // Panel key lock (image word 772) as last read.
    u8 keylock() const { return m_keylock; }
    bool rebootIssued() const { return m_rebootIssued; }

public slots:
    void slot_update_timer_ticks();

    void on_inputchoose_clicked();
    void on_Button_usermode_clicked();
    void on_Button_option_clicked();
    void on_Button_info_clicked();
    void on_Button_lock_clicked();
    void on_Button_blackout_clicked();
    void zrv_button_mode_clicked();

protected:
    // On a desktop the window manager places the panel, often after the
    // first pages opened: the open pages follow it.
    void moveEvent(QMoveEvent* event) override;

private:
    QToolButton* makeTile(const char* name, int x, int y, const char* icon);
    // Redraws lock, blackout and user-mode states from the live image.
    void updateStates();
    void refresh(int code);
    // Opens page id through its opener unless the panel is key-locked.
    void openLocked(int id);

    QLabel* m_title;
    QLabel* m_modeTitle;
    QPushButton* m_lock;
    QPushButton* m_blackout;
    QToolButton* m_tiles[4];
    QPushButton* m_modes[16];
    QPointer<FirmwareUpdate> m_update;
    u8 m_keylock = 0;
    bool m_rebootIssued = false;
};

extern QPointer<MainWindow> g_mainwindow;
extern QPointer<QTimer> g_timer;

// Top-left corner of the panel on the screen (the main menu's), where the
// full-screen pages, the tip and the keypad are placed.
QPoint panelOrigin();

// Ageing sampler state: tick of the last attempt, and how often each
// output's counter rose by <3, <5, <10, <20 and more between two samples.
extern u32 G_factoryage_ticks;
extern u32 factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10,
    factoryage_log_diff20, factoryage_log_diffmore;
extern u32 factoryage_log2_diff3, factoryage_log2_diff5, factoryage_log2_diff10,
    factoryage_log2_diff20, factoryage_log2_diffmore;
