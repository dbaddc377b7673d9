#pragma once
// What the panel's full-screen pages share: the 800x480 window on the page
// background, the back arrow with the centred title above a page, and the
// menu tiles of the main and settings menus.
#include <QPoint>
#include <QRect>

class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

namespace PageFrame {

// Fixed to the panel's size and filled with the page background.
void fillPanel(QWidget* page);

// On the device the screen is the panel; on a PC the panel is the main
// window somewhere on the desktop. A page or dialog takes its place: same
// position and size, frameless, so nothing opens beside the panel.
void coverPanel(QWidget* page);
// A smaller window (the keypad) at offset from the panel's top-left corner.
void placeOnPanel(QWidget* window, const QPoint& offset);

// The back arrow at the top left ("Button_back") and the title beside it
// ("label_title"); the caller connects the arrow and sets the text.
QPushButton* addBackButton(QWidget* page);
QLabel* addTitle(QWidget* page);

// A menu tile: icon above its text, pressed in the selected colour.
QToolButton* addTile(QWidget* parent, const char* name, const QRect& where, const char* icon, int iconSize);

}  // namespace PageFrame
