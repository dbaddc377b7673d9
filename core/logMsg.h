#pragma once
#include <string>

enum _LogType { CRITICAL = 0, ERROR = 1, WARNING = 2, INFO = 3, DEBUG = 4 };

// Appends one line "[%Y-%m-%d %X] <tag> # PELKMSG # <text>" to
// "/data/vimraqd/log/mwrEnglneLog"; the file is removed once it reaches 10 MiB.
void writeLogMsg(_LogType level, const std::string& text);

// Console debug output, printed only while g_debugSwitch is 254 and the
// calling thread is not in a DebugQuiet scope.
void debugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
bool debugConsoleOn();

// While one that was made quiet lives, the debug console lines of its
// thread are not printed: a pass that a peer can repeat as fast as it sends
// prints for the first of a burst and is only counted after (see
// LineLimiter). One made loud inside it prints again for its own life.
class DebugQuiet {
public:
    explicit DebugQuiet(bool quiet);
    ~DebugQuiet();
    DebugQuiet(const DebugQuiet&) = delete;
    DebugQuiet& operator=(const DebugQuiet&) = delete;
    // Whether the calling thread is in a quiet scope.
    static bool on();

private:
    bool m_outer;
};

static constexpr const char* kLogFile = "/data/vimraqd/log/mwrEnglneLog";
