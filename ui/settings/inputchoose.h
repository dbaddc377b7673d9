#pragma once
// The source selection page (page 3): which input or crop each of the six
// windows shows. The window menu picks a window, the input row an input, the
// source grid one of the input's entries; a touch on an entry writes the
// window's source word through the change protocol. The pop-up opens the
// crop and EDID pages, which come back here through their back operations.
#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;
struct ImageView;

class InputChoose : public QDialog {
    Q_OBJECT
public:
    explicit InputChoose(QWidget* parent = nullptr);
    ~InputChoose() override;

    void syncUpdate(int code);
    void language_changed();
    void initSource();
    void crop_source_num_update();

    int chosenWindow() const { return m_window; }
    int chosenInput() const { return m_input; }
    int pageIndex() const { return m_page; }
    int lastPageIndex() const { return m_lastPage; }

public slots:
    void on_Button_HDMI1_clicked() { chooseInput(0); }
    void on_Button_HDMI2_clicked() { chooseInput(1); }
    void on_Button_HDMI3_clicked() { chooseInput(2); }
    void on_Button_HDMI4_clicked() { chooseInput(3); }
    void on_Button_DVI_clicked() { chooseInput(4); }
    void on_Button_EXT_clicked() { chooseInput(5); }
    void zrv_source_button_clicked();
    void zrv_image_button_clicked();
    void zrv_Button_menu_clicked();
    void zrv_Button_previous_clicked();
    void zrv_Button_next_clicked();
    void zrv_button_inputcut_clicked();
    void zrv_button_EDID_clicked();
    void on_Button_back_clicked();

private:
    // Each turn reads one view of the model (PageView) and hands it down.
    void chooseInput(int column);
    void chooseInput(int column, const ImageView& view);
    void initSource(const ImageView& view);
    void crop_source_num_update(const ImageView& view);
    void initMenu(const ImageView& view);
    void image_select(const ImageView& view);
    void input_source_changed(int window, const ImageView& view);
    void source_name_update();
    void source_check_update();
    // Built-in name of the input of a window's source; for a crop with the
    // "_Crop" suffix when withCrop is set. Empty for an input above 5.
    QString windowSourceName(const ImageView& view, int window, bool withCrop) const;
    // Back to the image layout page, which opened this one.
    void backToImageLayout();

    QPushButton* m_popupCrop;
    QPushButton* m_popupEdid;
    QPointer<QFrame> m_menu;
    QPointer<QFrame> m_windowMarker;
    // Valid only for the windows with a tile in the current menu.
    QPointer<QLabel> m_tileLabel[6];
    QPointer<QFrame> m_grid;

    QLabel* m_title;
    QFrame* m_inputMarker;
    QPushButton* m_inputButton[6];
    QLabel* m_inputName[6];
    QLabel* m_inputCount[6];
    QLabel* m_inputPicture[6];

    int m_window = 0;
    int m_input = 2;  // HDMI1 until window 0's source names an input
    int m_page = 0;
    int m_lastPage = 0;
};

extern QPointer<InputChoose> g_inputchoose;
