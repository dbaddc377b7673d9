#pragma once
#include <string>

enum _LogType { CRITICAL = 0, ERROR = 1, WARNING = 2, INFO = 3, DEBUG = 4 };

// Where a line is written from: the place whose limit it spends (below).
// A helper that writes lines for its callers (a fault note, a refusal, a
// file check) takes its caller's place as its last argument, defaulted as
// here, and hands it on: one caller's flood then never spends the limit of
// another's line.
struct LogPlace {
    const char* file;
    int line;
    constexpr LogPlace(const char* f = __builtin_FILE(), int l = __builtin_LINE()) : file(f), line(l) {}
};

// Each place takes a burst of kLogBurst lines whole (a start writes a line a
// place for each of the six inputs at most); once it is spent, the
// place's further lines are counted, and at the end of the period (from the
// burst's first line) the count is written as "<n> more lines from
// <file>:<line> suppressed". The first line after the period opens the next
// with a whole burst: while the lines keep coming, the place writes a burst
// and a count a period, so the log goes on showing what it says. The counts add
// up to what came; the panel's tick writes one that fell due with no line
// to bring it, and the stop the ones still held. Every line takes this road,
// those a LineLimiter lets through and its counts included.
constexpr unsigned kLogBurst = 6;
constexpr unsigned long long kLogPeriodMs = 5000;

// While one lives, the lines of its thread pass the limit of their places:
// a run that must be written whole, a line for each thing it found, bounded
// by what there is and that no peer can make come again (the start's removal
// of the temporaries that cut writes left, its load of the parameter image
// and the user modes, made before any link exists).
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
// "/data/vimraqd/log/mwrEnglneLog" and then echoes the text on the console
// (by level; see console.h), within the limit of the place `at`; the file is
// removed once it reaches 10 MiB. The text is one line whatever it holds,
// escaped as Console::escaped says (a newline is "\n", an escape "\x1B", a
// backslash "\\"), so no name from a stick, a PC or a file can make a line
// of its own or reach the console as a command. The file is taken only as a
// regular file (or a new one) and never waited on: anything else in its
// place is kept aside as "<name>.refused" and a new log begun. A line is
// written whole or not at all; lines that could not be written are counted,
// and the count is written, and told on the console, once a line can be.
// Calls nothing that writes to the log, and no lock is held while the
// console is written to: any thread may write at any time, a board's
// installation too.
void writeLogMsg(_LogType level, const std::string& text, LogPlace at = {});
// As writeLogMsg, for one of several things one place writes for (each
// program a shell runs, each kind of line a LineLimiter counts): each has
// the limit of a place of its own, named "<file>:<line> (<what>)". `what`
// comes from a set the program knows, never from a peer: each is kept for
// good.
void writeLogMsgFor(const std::string& what, _LogType level, const std::string& text, LogPlace at = {});

// Console debug output, printed only while g_debugSwitch is 254 and the
// calling thread is not in a DebugQuiet scope, through the console's road
// (console.h): it never waits for the console, and every %s and %c argument
// is escaped.
void debugPrintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
bool debugConsoleOn();

// While one that was made quiet lives, the debug console lines of its
// thread are not printed: a pass that a peer can repeat as fast as it sends
// prints for the first of each second and is only counted after (see
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
