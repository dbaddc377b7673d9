#pragma once
// Size and shape checks of the files the program parses. Every such file
// can come from a PC, a USB stick or a torn write, so it is checked before
// any parser sees it: a file that fails at arrival is refused, one found on
// disk is removed and the built-in values are used.
#include <QByteArray>

#include <string>

namespace FileCheck {
// Largest alias file taken; a normal one is a few KiB.
constexpr long long kAliasMax = 64 * 1024;
// Largest OSD menu file taken; a normal one is a few KiB.
constexpr long long kOsdMenuMax = 1024 * 1024;
// Largest settings file taken.
constexpr long long kIniMax = 64 * 1024;
// Deepest JSON nesting taken: the alias file needs four levels.
constexpr int kJsonDepth = 16;

// True when every bracket of the JSON text is closed in order and no value
// nests deeper than maxDepth. Strings (with their escapes) are skipped, so
// a bracket inside a name counts for nothing. Says nothing else about the
// text: the parser still has to accept it.
bool jsonNestingWithin(const QByteArray& text, int maxDepth);

// True when the text looks like an INI file: no NUL or other control byte
// but tab, CR and LF, and every line blank, a comment, a "[section]" or a
// "key=value".
bool iniShapeOk(const QByteArray& text);

// Size of the file at a device path; -1 when there is none.
long long fileSize(const std::string& devicePath);

// Removes a file found bad on disk, with a log line saying why.
void discard(const std::string& devicePath, const std::string& why);
}  // namespace FileCheck
