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

void appendLine(_LogType level, const std::string& message) {
    const std::string text = message + "\n";
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

LogSite& logSite(const char* file, int line) { return *new LogSite(placeOf(file, line)); }

namespace {
thread_local bool t_whole = false;
}  // namespace

LogWhole::LogWhole() : m_outer(t_whole) { t_whole = true; }
LogWhole::~LogWhole() { t_whole = m_outer; }

void writeLogMsgAt(LogSite& site, _LogType level, const std::string& text) {
    if (t_whole || LineLimiter::inside())
        appendLine(level, text);
    else
        site.write(level, text);
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
