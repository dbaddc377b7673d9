#pragma once
// The input crop page (page 7): the chosen input's entries six a page, and
// the editor that adds, changes or deletes a crop. The crop table changes
// only through the model's crop operations; windows that show a deleted
// crop fall back to its input there.
#include "ui/settings/settings_pages.h"

#include <QDialog>
#include <QFont>
#include <QPointer>

#include <memory>

class My_lineEdit;
class QFrame;
class QLabel;
class QPushButton;
struct ImageView;

class InputCut : public QDialog {
    Q_OBJECT
public:
    explicit InputCut(QWidget* parent = nullptr);
    ~InputCut() override;

    void syncUpdate(int reason);
    void language_changed();
    void crop_source_num_update();
    void source_init();
    void para_changed_over();

    int chosenInput() const { return m_input; }
    int pageIndex() const { return m_page; }
    int chosenEntry() const { return m_entry; }
    bool addMode() const { return m_mode == 1; }

public slots:
    void zrv_button_input_clicked(int column);
    void zrv_button_source_clicked();
    void zrv_button_add_clicked();
    void zrv_Button_previous_clicked();
    void zrv_Button_next_clicked();
    void zrv_button_cancel_clicked();
    void zrv_button_ok_clicked();
    void zrv_button_delete_clicked();
    void show_numberkeyboard_ui(const QString& text);
    void confirmString(const QString& text);
    void on_Button_back_clicked();

private:
    void finishEdit();
    // The same from a view the caller took (PageView).
    void crop_source_num_update(const ImageView& view);
    void source_init(const ImageView& view);

    std::unique_ptr<SettingsPages::InputStrip> m_strip;
    QPointer<QFrame> m_list;
    QPointer<QPushButton> m_add;
    QLabel* m_title;
    QLabel* m_count[6];
    QFrame* m_frameAdd;
    QLabel* m_header;
    QLabel* m_labelCrop;
    QLabel* m_labelW;
    QLabel* m_labelH;
    My_lineEdit* m_x;
    My_lineEdit* m_y;
    My_lineEdit* m_w;
    My_lineEdit* m_h;
    QPushButton* m_cancel;
    QPushButton* m_ok;
    QPushButton* m_delete;
    QFont m_font;

    int m_input = 2;
    int m_page = 0;
    int m_lastPage = 0;
    int m_entry = 0;
    int m_mode = 0;  // 1 add, 0 edit
};

extern QPointer<InputCut> g_inputcut;
