#pragma once
// The image layout page (page 9): the windows that are shown, one of them
// chosen, and a panel with the chosen window's state, source, position and
// size, read from the live image. The page edits nothing itself: its source
// button opens the source selection page, whose back returns here.
#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;
struct ImageView;

class ImageLayout : public QDialog {
    Q_OBJECT
public:
    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void syncUpdate(int code);
    void language_changed();
    // The window tiles from the live image; a chosen window no longer shown
    // gives way to window 0.
    void image_init();
    // The chosen window's panel from the live image.
    void image_para_update();

    int chosenWindow() const { return m_window; }

public slots:
    void on_Button_source_select_clicked();
    void on_Button_back_clicked();
    void zrv_image_button_clicked();

private:
    enum Row { State, Source, X, Y, Width, Height, RowCount };

    // The same from a view the caller took (PageView).
    void image_init(const ImageView& view);
    void image_para_update(const ImageView& view);

    QLabel* m_title;
    QPushButton* m_sourceButton;
    QPointer<QFrame> m_menu;
    QPointer<QFrame> m_windowMarker;
    QLabel* m_windowName;
    QLabel* m_rowName[RowCount];
    QLabel* m_rowValue[RowCount];

    int m_window = 0;
};

extern QPointer<ImageLayout> g_imagelayout;
