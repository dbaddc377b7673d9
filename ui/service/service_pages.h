#pragma once
// The service pages' place in the shell: the openers of the communication,
// test pattern, advanced and smart set-up pages.
class QFont;
class QPushButton;
class QRect;
class QWidget;

namespace ServicePages {

// Sets the openers of the service pages; the shell calls it once its main
// window exists (tests after PageRegistry::reset()).
void install();

// The widget's font at a size in points (the forms give their sizes so).
QFont pointFont(const QWidget* w, int pt);

// A form button that never takes the keyboard focus (the panel has no
// keyboard; a focus frame would only draw over the style sheet).
QPushButton* addButton(QWidget* parent, const char* name, const QRect& where, int pt, const char* style);

}  // namespace ServicePages
