#include "ui/shell/page_frame.h"

#include "ui/shell/mainwindow.h"
#include "ui/shell/shell_text.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QToolButton>

namespace PageFrame {

void fillPanel(QWidget* page) {
    page->setFixedSize(800, 480);
    page->setAutoFillBackground(true);
    QPalette pal = page->palette();
    pal.setColor(QPalette::Window, QColor(16, 16, 28));
    page->setPalette(pal);
}

void coverPanel(QWidget* page) {
    if (!page) return;
    const QSize size = g_mainwindow ? g_mainwindow->size() : QSize(800, 480);
    if (!(page->windowFlags() & Qt::FramelessWindowHint))
        page->setWindowFlags(page->windowFlags() | Qt::FramelessWindowHint);
    page->setGeometry(QRect(panelOrigin(), size));
}

void placeOnPanel(QWidget* window, const QPoint& offset) {
    if (window) window->move(panelOrigin() + offset);
}

QPushButton* addBackButton(QWidget* page) {
    auto* back = new QPushButton(page);
    back->setObjectName(QStringLiteral("Button_back"));
    back->setGeometry(11, 11, 50, 50);
    back->setFocusPolicy(Qt::NoFocus);
    back->setIcon(QIcon(ShellText::picture(QStringLiteral("back.png"))));
    back->setIconSize(QSize(32, 32));
    back->setStyleSheet(QStringLiteral("border:none;"));
    return back;
}

QLabel* addTitle(QWidget* page) {
    auto* title = new QLabel(page);
    title->setObjectName(QStringLiteral("label_title"));
    title->setGeometry(80, 11, 640, 50);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 28px;"));
    return title;
}

QToolButton* addTile(QWidget* parent, const char* name, const QRect& where, const char* icon, int iconSize) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(where);
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setIcon(QIcon(ShellText::picture(QString::fromLatin1(icon))));
    b->setIconSize(QSize(iconSize, iconSize));
    b->setStyleSheet(QStringLiteral(
        "QToolButton{background-color: rgb(33, 36, 53);color:#FFFFFF;border:1px solid #FFFFFF;"
        "border-radius:8px;font: 20px;}QToolButton:pressed{background-color:#4777FF;}"
        "QToolButton:disabled{color:#60647A;border-color:#60647A;}"));
    return b;
}

}  // namespace PageFrame
