#pragma once
// How the LED wall is split over OUT1 and OUT2: what the output fields
// become when the splice selector moves or an OUT1 size is entered, and
// what apply writes into the parameter image. Plain functions over the
// fields, so the output page and the tests share them.
//
// Widths stay at 8188 or below (8192 where a wall wider than 8188 rounds
// widths to 32). Beyond the page's old rules an OUT1 size is never 0, and a
// split mode keeps at least one pixel for OUT2 (OUT1 width 1 to W - 1 when
// horizontal, height 1 to H - 1 when vertical), so OUT2 is never negative;
// each held value is what the field then shows, with one log line.
#include "core/global.h"

struct PARA_RAM_IMAGE;

namespace SpliceRules {

// Working splice modes (image word 1376).
enum Mode { Vertical = 2, Horizontal = 3, Copy = 4 };
// Selector items.
enum Item { ItemHorizontal = 0, ItemVertical = 1, ItemCopy = 2 };

constexpr int kMaxWidth = 8188;
constexpr int kWideWidth = 8192;

// The output page's fields as numbers, and its working mode.
struct Fields {
    int wallWidth = 0;
    int wallHeight = 0;
    int out1Width = 0;
    int out1Height = 0;
    int out2Width = 0;
    int out2Height = 0;
    int mode = Copy;
};

// v / 2 rounded down, plus 2 when v is odd; rounding up to 8 and to 32.
int half(int v);
int up8(int v);
int up32(int v);

// The working mode and selector item of a stored splice word (any value
// other than 2 and 3 is copy).
int modeOfWord(int word);
int itemOfMode(int mode);

// The selector moved to item (-1 while its list is refilled: nothing).
void selected(Fields& f, int item);
// A value entered for the OUT1 width or height.
void out1WidthEntered(Fields& f, int value);
void out1HeightEntered(Fields& f, int value);

// Apply, whole: under the c331 manager's mutex the splice, wall and output
// words of the model's live image; when the splice mode or the wall size
// now differ from the shadow, window 0 over the whole wall (its enable word
// kept), windows 1 to 5 off and the LED re-initialisation request (raised
// only while both FPGAs run); then the apply flag. True when the wall or
// the mode changed.
bool apply(const Fields& f);

// The splice mode or the wall size of live differs from shadow.
bool wallChanged(const PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE& shadow);

}  // namespace SpliceRules
