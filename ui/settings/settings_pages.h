#pragma once
// The video settings pages' place in the shell and the widgets they share:
// the openers, the input-column strip, frames rebuilt whole, the entry tile
// of a list, the edit buttons and keypad values held to their limits.
#include "core/logMsg.h"

#include <QPointer>
#include <Qt>
#include <QRect>
#include <QString>

#include <functional>
#include <vector>

class My_lineEdit;
class QFont;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
struct PARA_RAM_IMAGE;

namespace SettingsPages {

// Sets the openers of the video settings pages; the shell calls it once
// its main window exists (tests after PageRegistry::reset()).
void install();

// Columns from left to right: HDMI1, HDMI2, HDMI3, HDMI4, DVI, EXT.
constexpr int kColumnInput[6] = {2, 3, 4, 5, 1, 0};
int columnOf(int input);

// The marker over the chosen column: blue left, right and top edges.
extern const char* const kColumnMarkerStyle;

// The strip of the crop and EDID pages: six flat buttons "0" to "5" over the
// columns (y 69) and the marker below them; chosen(column) on a press.
class InputStrip {
public:
    InputStrip(QWidget* page, std::function<void(int column)> chosen);
    void select(int column);
    QFrame* marker() const { return m_marker; }

private:
    QFrame* m_marker;
};

// The column heads of the crop and EDID pages: names "label_3" to "label_8"
// (HDMI1 ... EXT, 13 pt, white) at y 73, nameWidth wide (dviWidth for DVI and
// EXT), and the pictures "label_HDMI1" ... "label_EXT" at pictureY, the DVI
// picture at dviX.
struct ColumnHeads {
    int nameWidth;
    int dviWidth;
    Qt::Alignment align;
    int pictureY;
    int dviX;
};
void addColumnHeads(QWidget* page, const ColumnHeads& heads);

// A picture label scaled to fill its rectangle.
QLabel* addPicture(QWidget* parent, const char* name, const QRect& where, const QString& picture);

// Replaces frame by a new empty one. The old frame may hold the button whose
// click is being handled: it is hidden, taken off the page and deleted once
// control is back in the event loop.
QFrame* renewFrame(QPointer<QFrame>& frame, QWidget* parent, const char* name, const QRect& where,
                   const QString& style);

// One entry of a list of the crop and EDID pages at origin in the list frame:
// its frame, dot, picture, name and size; returns the flat button over it.
QPushButton* addEntryTile(QWidget* list, const QPoint& origin, int input, const QString& name,
                          const QString& size, const QFont& font);

// Form pieces of the edit panels: a white label, and a numeric field that
// opens the keypad (style E: white on the list colour, white frame).
QLabel* addFormLabel(QWidget* parent, const char* name, const QRect& where, int pointSize, Qt::Alignment align);
My_lineEdit* addField(QWidget* parent, const char* name, const QRect& where, int pointSize);
extern const char* const kFieldStyle;

// The page's own title at where, 18 pt, white, centred.
QLabel* addPageTitle(QWidget* page, const QRect& where);
// The edit panel "frame_add" (21, 260, 768, 130), hidden.
QFrame* addEditPanel(QWidget* page);

// A 50 x 50 picture button of a list frame (menu, add, previous, next).
QPushButton* addIconButton(QWidget* parent, const char* name, const QRect& where, const char* icon);

// The window menu of the source and image layout pages: a tile for window 0
// and for each other window whose enable byte is 1 in image (a page's
// view), packed from the left in window order, in the frame
// "frame_windows" (0, 64, 800, 96) rebuilt whole.
// The marker frames the chosen window's tile button. Each tile's label
// shows tileText(window); the caller connects the buttons, whose object
// names are the window numbers.
bool windowShown(const PARA_RAM_IMAGE& image, int window);
struct WindowTile {
    int window;
    QPushButton* button;
    QLabel* label;
};
std::vector<WindowTile> addWindowMenu(const PARA_RAM_IMAGE& image, QPointer<QFrame>& menu, QWidget* page,
                                      int chosen, QPointer<QFrame>& marker,
                                      const std::function<QString(int window)>& tileText);

// Enters page under id in the page registry with its refresh and back.
void enterPage(QWidget* page, int id, std::function<void(int code)> refresh, std::function<void()> back);

// Back of a page the settings menu opened: the menu is re-labelled and in
// front again (the main menu when no settings menu is open).
void returnToSettingsMenu();

// Cancel, OK (Save) and Delete of the edit panels: 180 x 60, hidden.
QPushButton* addEditButton(QWidget* page, const char* name, const QFont& font);

// The text shrunk a pixel at a time (down to 10 px) until it fits the
// label or button; the pages' fonts are fixed, the languages' words are not.
void fitText(QLabel* label, const QString& text);
void fitText(QPushButton* button, const QString& text);

// Keypad: whether the field the keypad was opened for belongs to page, and
// opening it for field with title.
bool ownsKeypadField(const QWidget* page);
void openKeypad(QLineEdit* field, const QString& title);

// A keypad value held to lo..hi: no number at all counts as lo. A limited
// value writes one log line naming field, at the caller's place.
int limitedValue(const QString& text, int lo, int hi, const char* field, LogPlace at = {});
// The text the field shows after a value arrived (the limit when limited).
QString limitedText(const QString& text, int lo, int hi, const char* field, LogPlace at = {});

}  // namespace SettingsPages
