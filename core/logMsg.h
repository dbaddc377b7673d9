#pragma once
#include <string>

enum _LogType { CRITICAL = 0, ERROR = 1, WARNING = 2, INFO = 3, DEBUG = 4 };

// One place in the code that writes to the log, with its own limit: a line
// that a peer's values make a place write at the peer's rate costs a few
// lines, whichever place it is. Made on the place's first line, never freed.
class LogSite;
LogSite& logSite(const char* file, int line);

// Each place takes a burst of kLogBurst lines whole (a start writes a line a
// place for each of the six inputs at most); once it is spent, the
// place's further lines are counted, and at the end of the period the count
// is written as "<n> more lines from <file>:<line> suppressed". While the
// lines keep coming, the place writes only that count, one a period; a
// period without one gives the next line a whole burst again. The counts add
// up to what came; the panel's tick writes one that fell due with no line
// to bring it, and the stop the ones still held.
constexpr unsigned kLogBurst = 6;
constexpr unsigned long long kLogPeriodMs = 5000;

// While one lives, the lines of its thread pass the limit of their places:
// a run that must be written whole, a line for each thing it found, and that
// no peer can make come again (the start's removal of the temporaries that
// cut writes left, made before any link exists).
class LogWhole {
public:
    LogWhole();
    ~LogWhole();
    LogWhole(const LogWhole&) = delete;
    LogWhole& operator=(const LogWhole&) = delete;

private:
    bool m_outer;
};

// Appends one line "[%Y-%m-%d %X] <tag> # PELKMSG # <text>" to
// "/data/vimraqd/log/mwrEnglneLog" (and echoes the text on the console, by
// level) within the calling place's limit; the file is removed once it
// reaches 10 MiB. A line that a LineLimiter let through, and its count,
// pass: that limiter keeps them to a few a period already.
void writeLogMsgAt(LogSite& site, _LogType level, const std::string& text);
#define writeLogMsg(level, text)                                             \
    writeLogMsgAt(                                                           \
        []() -> LogSite& {                                                   \
            static LogSite& zrvLogSite_ = logSite(__FILE__, __LINE__);       \
            return zrvLogSite_;                                              \
        }(),                                                                 \
        (level), (text))

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
