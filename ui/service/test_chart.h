#pragma once
// The test pattern page (page 16): puts one of eight full-screen patterns on
// the LED wall through image byte 864 and takes it off. The page only writes
// the byte; the c331 thread switches the chip's pattern generator on its
// next pass. A pattern stays on after the page closes.
#include "core/global.h"

#include <QDialog>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;

class test_chart : public QDialog {
    Q_OBJECT
public:
    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;

    void testimage_button_init();
    void para_init();
    void language_changed();

    // 0 to 7: the marked pattern button; kNone: none.
    static constexpr u8 kNone = 102;
    u8 chosenIndex() const { return m_index; }

public slots:
    void zrv_image_button_clicked();
    void on_Button_back_clicked();
    void on_Button_closetest_clicked();

private:
    void choose(int i);
    void unmark();
    static void writePattern(u8 pattern);

    QLabel* m_title;
    QFrame* m_frame;
    QLabel* m_picture[8];
    QLabel* m_name[8];
    QPushButton* m_close;
    u8 m_index = kNone;
};

extern QPointer<test_chart> g_test_chart;
