#pragma once
// Texts, picture names, colours and the font of the front panel. Every page
// takes its texts from here by g_language, so a language the panel does not
// know shows English.
#include "core/global.h"

#include <QString>

namespace ShellText {

// 0 simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, 4 traditional
// Chinese; any other value of g_language counts as English.
int language();
int language(int raw);

// The text of the current language among the five given.
QString pick(const char* zh, const char* en, const char* ru, const char* vn, const char* tw);

// Prefix of the pictures that carry text: none, "en_", "ru_", "vn_", "tn_".
QString picturePrefix();
// ":/png/" + name, with the language prefix when localized is set.
QString picture(const QString& name, bool localized = false);

// The one font family of the panel and its fallback for Chinese, installed
// into the application once.
void installFont();
QString fontFamily();

// Colours and styles shared by the pages.
constexpr const char* kPageBackground = "background-color: rgb(16, 16, 28);";
constexpr const char* kSelected = "background-color:#4777FF;color:#FFFFFF";
constexpr const char* kUnselected = "background-color:#10101C;color:#FFFFFF";
constexpr const char* kListFrame = "background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;";
constexpr const char* kWhiteText = "color: rgb(255, 255, 255);";
constexpr const char* kFault = "<font color = #FF0000 >%1</font>";
constexpr const char* kGood = "<font color = #00FF00 >%1</font>";
constexpr const char* kNeutral = "<font color = #FFFFFF >%1</font>";

// Built-in names of the inputs 0 to 5.
QString inputName(int input);

}  // namespace ShellText
