#include "core/logMsg.h"

#include "core/global.h"
#include "core/line_limiter.h"
#include "platform/root.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

namespace {

// Appends src to a 512-byte line, cutting it to keep the line at 511
// characters.
void appendCut(char* line, const char* src) {
    size_t have = std::strlen(line);
    if (have >= 511) return;
    std::strncat(line, src, 511 - have);
}

const char* tagOf(_LogType level) {
    switch (level) {
    case CRITICAL: return " [ENGINEASSEMBLY] [CRITICAL] ";
    case ERROR: return " [ENGINEASSEMBLY] [ERROR   ] ";
    case WARNING: return " [ENGINEASSEMBLY] [WARNING ] ";
    case INFO: return " [ENGINEASSEMBLY] [INFO    ] ";
    case DEBUG: return " [ENGINEASSEMBLY] [DEBUG   ] ";
    }
    return "";
}

bool echoed(_LogType level) {
    const u8 sw = g_debugSwitch.load();
    switch (level) {
    case ERROR: return sw != 0;
    case WARNING:
    case INFO: return sw > 2;
    case DEBUG: return sw > 3;
    default: return false;
    }
}

// The text as one line: each control character written as an escape.
std::string oneLine(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", unsigned(c));
            out += code;
        }
    }
    return out;
}

void appendLine(_LogType level, const std::string& message) {
    const std::string text = oneLine(message) + "\n";
    char line[512] = {};
    std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&now, &tmNow);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %X]", &tmNow);
    appendCut(line, stamp);
    appendCut(line, tagOf(level));
    if (echoed(level)) {
        // On a console sent to a file or a pipe stdio would keep the line
        // in its buffer until a few KiB more came, for minutes or for ever.
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
    appendCut(line, "# PELKMSG # ");
    appendCut(line, text.c_str());
    // A text cut to fit still ends its line: the next one never joins it.
    line[std::strlen(line) - 1] = '\n';

    const std::string path = Root::path(kLogFile);
    FILE* f = std::fopen(path.c_str(), "a+");
    if (!f) {
        // The folder is missing on a first start; make it once and retry.
        QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
        f = std::fopen(path.c_str(), "a+");
        if (!f) return;
    }
    std::fputs(line, f);
    std::fflush(f);
    long size = std::ftell(f);
    std::fclose(f);
    if (size >= 0xA00000L) std::remove(path.c_str());
}

// The place as a maintainer finds it in the sources: the path from the
// source tree's top, whatever the compiler was given.
std::string placeOf(const char* file, int line) {
    static const std::string self = __FILE__;
    static const std::string top = self.substr(0, self.size() - std::strlen("core/logMsg.cpp"));
    std::string path = file;
    if (path.compare(0, top.size(), top) == 0) path.erase(0, top.size());
    return path + ":" + std::to_string(line);
}

}  // namespace

namespace {

// One place's limit (or one thing's of a place, see writeLogMsgFor).
class LogSite {
public:
    explicit LogSite(std::string place)
        : m_place(std::move(place)), m_limiter([this](u64 n) { count(n); }, kLogBurst, kLogPeriodMs) {}

    // The level as a number: the log takes any, and writes no tag for one
    // it does not know.
    void write(int level, const std::string& text) {
        m_level.store(level);
        m_limiter.occur([&] { appendLine(_LogType(level), text); });
    }

private:
    void count(u64 n) {
        appendLine(_LogType(m_level.load()), std::to_string(n) + " more lines from " + m_place + " suppressed");
    }

    const std::string m_place;
    std::atomic<int> m_level{INFO};  // of its last line
    LineLimiter m_limiter;
};

// Every place that wrote a line, found by its name; made on its first line,
// never freed (the places are the program's own, a bounded set). The lock
// is held to find or make one, never while a line is written.
LogSite& siteOf(const LogPlace& at, const std::string* what) {
    static std::mutex* mutex = new std::mutex;
    static auto* sites = new std::map<std::string, LogSite*>;
    std::string name = placeOf(at.file, at.line);
    if (what) name += " (" + *what + ")";
    std::lock_guard<std::mutex> lock(*mutex);
    LogSite*& site = (*sites)[name];
    if (!site) site = new LogSite(name);
    return *site;
}

thread_local bool t_whole = false;

void writeAt(const LogPlace& at, const std::string* what, _LogType level, const std::string& text) {
    if (t_whole)
        appendLine(level, text);
    else
        siteOf(at, what).write(level, text);
}

}  // namespace

LogWhole::LogWhole() : m_outer(t_whole) { t_whole = true; }
LogWhole::~LogWhole() { t_whole = m_outer; }

void writeLogMsg(_LogType level, const std::string& text, LogPlace at) { writeAt(at, nullptr, level, text); }

void writeLogMsgFor(const std::string& what, _LogType level, const std::string& text, LogPlace at) {
    writeAt(at, &what, level, text);
}

namespace {
thread_local bool t_quiet = false;
}  // namespace

DebugQuiet::DebugQuiet(bool quiet) : m_outer(t_quiet) { t_quiet = quiet; }
DebugQuiet::~DebugQuiet() { t_quiet = m_outer; }
bool DebugQuiet::on() { return t_quiet; }

bool debugConsoleOn() { return g_debugSwitch.load() == 254 && !t_quiet; }

void debugPrintf(const char* fmt, ...) {
    if (!debugConsoleOn()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}
