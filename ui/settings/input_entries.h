#pragma once
// What the video settings pages know about an input's list: entry 0 is the
// input itself, then its crops in ascending crop number, six entries a page.
// The source, crop, layout and wizard pages all page through the same list,
// so the arithmetic and the names live here once.
#include <QString>

class QFont;
struct ImageView;
struct PARA_RAM_IMAGE;

namespace InputEntries {

constexpr int kPerPage = 6;

// The input and its valid crop records; 0 for an input out of range.
int count(const ImageView& view, int input);
// Index of the last page of a list of count entries (0 for an empty list).
int lastPage(int count);
// How many entries page shows (0 past the last page).
int shownOnPage(int count, int page);

// Entry index of the crop held in record: 1 plus the valid crops of its
// input with a smaller crop number. -1 when the record holds no crop.
int usedEntry(const PARA_RAM_IMAGE& image, int record);

// The input's signal summary as the lists show it ("1920x1080@60Hz"), or
// the no-signal text of the language.
QString signalText(int input);

// The input whose picture the list shows for input (DVI has its own).
QString entryPicture(int input);

}  // namespace InputEntries

namespace SourceNames {

// The input's name for the input row: its alias of kind "source", else the
// built-in name; elided at the right to width pixels of font.
QString input(int input, const QFont& font, int width);
// A crop in a list: the alias of kind "crop" keyed by its record index, else
// the input's built-in name, "_crop" and the crop number (none when the crop
// has no record: number 0).
QString crop(int record, int input, int number, const QFont& font, int width);
// The built-in name of the input a window shows (a crop's input); empty for
// a source naming no input.
QString windowInput(const ImageView& view, int window);

}  // namespace SourceNames
