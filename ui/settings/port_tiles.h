#pragma once
// The LED output ports as the output page and the smart set-up wizard show
// them: LED1 to LED24 in groups of eight tiles (port = 8 x group + tile),
// chosen with three group buttons. The pages keep what a tile means; the
// grid only builds the tiles, marks one and reports a press.
#include <QFrame>
#include <QPoint>
#include <QPointer>
#include <QPushButton>
#include <QString>

#include <functional>

class QWidget;

namespace PortTiles {

constexpr int kPorts = 24;
constexpr int kTiles = 8;
// Groups offered: LED1~8, LED9~16, LED17~24. The fourth group button
// (LED25~32) exists on the forms but stays hidden.
constexpr int kGroups = 3;

inline int portOf(int group, int tile) { return kTiles * group + tile; }

// Tile text of port 0-23 ("LED1" ...) and group button text ("LED1~8" ...),
// in the panel's language.
QString tileText(int port);
QString groupText(int group);

extern const char* const kTileMarked;
extern const char* const kTileOther;
extern const char* const kGroupChosen;
extern const char* const kGroupOther;

// The four group buttons of a form: the first three at (85, y), (235, y),
// (385, y), 130 x 50, labelled and styled as not chosen; the fourth hidden.
void placeGroupButtons(QPushButton* const buttons[4], int y);
// Moves the chosen style from current to pressed, which becomes current.
void chooseGroup(QPointer<QPushButton>& current, QPushButton* pressed);

// The eight tiles of one group in a 608 x 165 frame: each a frame with the
// port picture, its "LEDn" text and a flat button named "0" to "7" over it.
class Grid {
public:
    explicit Grid(std::function<void(int tile)> pressed);

    // Rebuilds the frame on parent at origin for group, with tile marked
    // (-1: none). The old frame may hold the button being handled: it goes
    // once control is back in the event loop.
    void build(QWidget* parent, const QPoint& origin, int group, int marked);
    // Moves the mark to tile (-1: none).
    void mark(int tile);
    int marked() const { return m_marked; }

    QFrame* frame() const { return m_frame.data(); }
    QFrame* tile(int t) const;
    QPushButton* button(int t) const;

private:
    std::function<void(int)> m_pressed;
    QPointer<QFrame> m_frame;
    QPointer<QFrame> m_tiles[kTiles];
    QPointer<QPushButton> m_buttons[kTiles];
    int m_marked = -1;
};

}  // namespace PortTiles
