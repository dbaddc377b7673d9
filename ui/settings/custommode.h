#pragma once
// The user-mode page (page 4): the sixteen user modes with their names, which
// are saved and which is current. A touch chooses a mode; recall, save and
// delete act on the chosen one. Recall goes through the shell's one recall,
// save through the persisting step's save request, delete removes the
// mode's file at once.
#include "core/global.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;
struct ImageView;

class CustomMode : public QDialog {
    Q_OBJECT
public:
    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    void syncUpdate(int code);
    void language_changed();
    // Names and the saved and current marks from the model (a view of it
    // taken now, or the refresh's).
    void mode_update();

    int chosenMode() const { return m_mode; }
    // Mode m (1 to 16) as the page shows it from a view: saved, or current.
    // A save still pending (word 868) counts as both: the persisting step
    // carries it out right after the refresh.
    static bool shownSaved(const ImageView& view, int m);
    static bool shownCurrent(const ImageView& view, int m);
    // The marks of all sixteen modes as the page would draw them from the
    // view: bit m - 1 saved, bit m + 15 current.
    static u32 shownMarks(const ImageView& view);

public slots:
    void zrv_button_mode_clicked();
    void on_Button_recall_clicked();
    void on_Button_save_clicked();
    void on_Button_delete_clicked();
    void on_Button_back_clicked();

private:
    QLabel* m_title;
    QPushButton* m_modes[16];
    QPushButton* m_recall;
    QPushButton* m_save;
    QPushButton* m_delete;
    int m_mode = 1;
    u32 m_drawnMarks = 0;  // shownMarks() when the buttons were last drawn
};

extern QPointer<CustomMode> g_custommode;
