#pragma once
// The shared on-screen number keypad and the line edit that opens it. A page
// connects the keypad's sendKeyBoardUIDataToLineEdit to its confirmString,
// points g_lineedit at the field being edited and runs the keypad; OK sends
// the value to every connected page, Close sends nothing.
#include <QDialog>
#include <QLineEdit>
#include <QPointer>
#include <QString>

#include <deque>

class QLabel;
class QPushButton;

class NumberKeyboard : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 380;
    static constexpr int kHeight = 480;
    static constexpr int kPanelX = 420;  // left edge on the panel
    static constexpr int kMaxTyped = 20;

    explicit NumberKeyboard(QWidget* parent = nullptr);

    // Title (18-pixel font for a four-character title, else 25), the value
    // shown until something is typed, keys relabelled for g_language.
    void label_show(const QString& title, const QString& value);

    // The keypad as a page runs it. A test may queue answers with
    // setNextAnswer: the next exec() then types them and presses OK or
    // Close without an event loop of its own.
    int exec() override;
    static void setNextAnswer(const QString& typed, bool ok = true);
    static void clearAnswers();

    QString displayText() const;
    void language_changed();

signals:
    void sendKeyBoardUIDataToLineEdit(QString value);

public slots:
    void zrv_key_clicked();
    void on_Button_delete_clicked();
    void on_Button_ok_clicked();
    void on_Button_close_clicked();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void typeText(const QString& text);
    void showDisplay();

    QLabel* m_title;
    QLineEdit* m_display;
    QPushButton* m_delete;
    QPushButton* m_ok;
    QPushButton* m_close;
    QString m_value;  // shown until something is typed
    QString m_typed;

    struct Answer {
        QString typed;
        bool ok;
    };
    static std::deque<Answer> s_answers;
};

// The numeric fields of the forms: a press asks the page to open the keypad
// with the field's text. A disabled field gets no press.
class My_lineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit My_lineEdit(QWidget* parent = nullptr);

signals:
    void send_show(QString text);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

extern QPointer<NumberKeyboard> g_numberkeyboard;
// The field whose keypad is open; cleared by itself when the field goes away.
extern QPointer<QLineEdit> g_lineedit;
