#include "ui/shell/numberkeyboard.h"

#include "ui/shell/page_frame.h"
#include "ui/shell/shell_text.h"

#include <QFont>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

QPointer<NumberKeyboard> g_numberkeyboard;
QPointer<QLineEdit> g_lineedit;
std::deque<NumberKeyboard::Answer> NumberKeyboard::s_answers;

namespace {
const char* kKeyStyle =
    "QPushButton{background-color: rgb(33, 36, 53);color: rgb(255, 255, 255);"
    "border:1px solid rgb(255, 255, 255);border-radius:6px;font: 28px;}"
    "QPushButton:pressed{background-color:#4777FF;}";
const char* kActionStyle =
    "QPushButton{background-color:#4777FF;color: rgb(255, 255, 255);"
    "border-radius:6px;font: 22px;}";
}  // namespace

NumberKeyboard::NumberKeyboard(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::Dialog) {
    setObjectName(QStringLiteral("NumberKeyboard"));
    setFixedSize(kWidth, kHeight);
    setStyleSheet(QString::fromLatin1(ShellText::kPageBackground));

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_title"));
    m_title->setGeometry(10, 5, 360, 40);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setStyleSheet(QString::fromLatin1(ShellText::kWhiteText));

    m_display = new QLineEdit(this);
    m_display->setObjectName(QStringLiteral("lineEdit_display"));
    m_display->setGeometry(10, 50, 360, 52);
    m_display->setReadOnly(true);
    m_display->setFocusPolicy(Qt::NoFocus);
    m_display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_display->setStyleSheet(QStringLiteral(
        "background-color: rgb(33, 36, 53);color: rgb(255, 255, 255);"
        "border:1px solid rgb(255, 255, 255);font: 28px;"));

    // 1 2 3 / 4 5 6 / 7 8 9 / . 0 Del
    static const char* const keys[12] = {"1", "2", "3", "4", "5", "6",
                                         "7", "8", "9", ".", "0", nullptr};
    for (int i = 0; i < 12; ++i) {
        const int c = i % 3, r = i / 3;
        auto* b = new QPushButton(this);
        b->setGeometry(10 + 122 * c, 110 + 74 * r, 114, 66);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(QString::fromLatin1(kKeyStyle));
        if (keys[i]) {
            const QString key = QString::fromLatin1(keys[i]);
            b->setObjectName(key == "." ? QStringLiteral("Button_point")
                                        : QStringLiteral("Button_") + key);
            b->setText(key);
            connect(b, &QPushButton::clicked, this, &NumberKeyboard::zrv_key_clicked);
        } else {
            b->setObjectName(QStringLiteral("Button_delete"));
            m_delete = b;
            connect(b, &QPushButton::clicked, this, &NumberKeyboard::on_Button_delete_clicked);
        }
    }
    m_ok = new QPushButton(this);
    m_ok->setObjectName(QStringLiteral("Button_ok"));
    m_ok->setGeometry(10, 410, 175, 62);
    m_ok->setFocusPolicy(Qt::NoFocus);
    m_ok->setStyleSheet(QString::fromLatin1(kActionStyle));
    connect(m_ok, &QPushButton::clicked, this, &NumberKeyboard::on_Button_ok_clicked);

    m_close = new QPushButton(this);
    m_close->setObjectName(QStringLiteral("Button_close"));
    m_close->setGeometry(195, 410, 175, 62);
    m_close->setFocusPolicy(Qt::NoFocus);
    m_close->setStyleSheet(QString::fromLatin1(kActionStyle));
    connect(m_close, &QPushButton::clicked, this, &NumberKeyboard::on_Button_close_clicked);

    language_changed();
}

void NumberKeyboard::language_changed() {
    m_delete->setText(ShellText::pick("删除", "Del", "Удал.", "Xóa", "刪除"));
    m_ok->setText(ShellText::pick("确定", "OK", "ОК", "OK", "確定"));
    m_close->setText(ShellText::pick("关闭", "Close", "Закрыть", "Đóng", "關閉"));
}

void NumberKeyboard::label_show(const QString& title, const QString& value) {
    QFont f = m_title->font();
    f.setPixelSize(title.size() == 4 ? 18 : 25);
    m_title->setFont(f);
    m_title->setText(title);
    m_typed.clear();
    m_value = value;
    showDisplay();
    language_changed();
    // The keypad covers the right part of the panel, beside the field.
    PageFrame::placeOnPanel(this, QPoint(kPanelX, 0));
}

QString NumberKeyboard::displayText() const { return m_typed.isEmpty() ? m_value : m_typed; }

void NumberKeyboard::showDisplay() { m_display->setText(displayText()); }

void NumberKeyboard::typeText(const QString& text) {
    for (QChar c : text) {
        if (m_typed.size() >= kMaxTyped) break;
        if (c.isDigit() || c == '.') m_typed.append(c);
    }
    showDisplay();
}

void NumberKeyboard::zrv_key_clicked() {
    auto* b = qobject_cast<QPushButton*>(sender());
    if (b) typeText(b->text());
}

void NumberKeyboard::on_Button_delete_clicked() {
    m_typed.chop(1);
    showDisplay();
}

void NumberKeyboard::on_Button_ok_clicked() {
    const QString value = displayText();
    hide();
    setResult(QDialog::Accepted);
    emit sendKeyBoardUIDataToLineEdit(value);
}

void NumberKeyboard::on_Button_close_clicked() {
    hide();
    setResult(QDialog::Rejected);
}

void NumberKeyboard::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The keypad is made once and shown again over pages opened after it:
    // without a window manager (the PC's virtual screen) a window shown again
    // keeps its old place in the stack, below those pages, and the modal
    // keypad would take every touch while nobody can see it.
    raise();
    activateWindow();
}

int NumberKeyboard::exec() {
    if (!s_answers.empty()) {
        const Answer a = s_answers.front();
        s_answers.pop_front();
        typeText(a.typed);
        if (a.ok)
            on_Button_ok_clicked();
        else
            on_Button_close_clicked();
        return result();
    }
    return QDialog::exec();
}

void NumberKeyboard::setNextAnswer(const QString& typed, bool ok) { s_answers.push_back({typed, ok}); }
void NumberKeyboard::clearAnswers() { s_answers.clear(); }

My_lineEdit::My_lineEdit(QWidget* parent) : QLineEdit(parent) {}

void My_lineEdit::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    emit send_show(text());
}
