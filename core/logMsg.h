#pragma once
#include <string>

enum _LogType { CRITICAL = 0, ERROR = 1, WARNING = 2, INFO = 3, DEBUG = 4 };

// Appends one line "[%Y-%m-%d %X] <tag> # PELKMSG # <text>" to
// "/data/vimraqd/log/mwrEnglneLog"; the file is removed once it reaches 10 MiB.
void writeLogMsg(_LogType level, const std::string& text);

// Console debug output, printed only while g_debugSwitch is 254.
void debugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

static constexpr const char* kLogFile = "/data/vimraqd/log/mwrEnglneLog";
