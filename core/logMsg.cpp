#include "core/logMsg.h"

#include "core/console.h"
#include "core/file_checks.h"
#include "core/global.h"
#include "core/line_limiter.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// The line as it stands in the file: time, tag, mark and the text as one
// line, cut so that the whole keeps to 511 characters, its newline
// included. The cut falls between two characters or escapes, never inside
// one.
std::string fileLine(_LogType level, const std::string& text) {
    std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&now, &tmNow);
    char stamp[64];
    std::strftime(stamp, sizeof stamp, "[%Y-%m-%d %X]", &tmNow);
    std::string line = std::string(stamp) + tagOf(level) + "# PELKMSG # ";
    constexpr size_t kLineMax = Console::kLineMax;
    line += Console::escaped(text, kLineMax - 1 - std::min(line.size(), kLineMax - 1));
    return line + "\n";
}

// The log file's writes, one at a time: the removal at 10 MiB takes only the
// file that was measured, never one another thread has just begun, and a
// line that could not be written whole is taken back before the next one is
// written. Only the file is touched under the lock: nothing here writes to
// the console or to the log, and a regular file never waits for a reader.
struct LogFile {
    std::mutex mutex;
    unsigned long long lost = 0;  // lines not written since the last one that was
    std::string why;              // what kept the first of them out
};
LogFile& logFile() {
    static LogFile* f = new LogFile;
    return *f;
}

// The log opened to append to: the regular file at its place, or a new one.
// The open never waits (a FIFO without a reader fails at once, one with a
// reader is opened and judged); anything but a regular file in the place
// is kept aside as a refused file is, and `kept` tells of it. -1, with
// `why`, when there is no log to write to.
int openLog(std::string& why, std::string& kept) {
    const std::string path = Root::path(kLogFile);
    for (int attempt = 0; attempt < 3; ++attempt) {
        // A link is not followed: the lines would go wherever it points (a
        // stored file, a device), or nowhere for a link to nothing.
        const int fd =
            ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, 0666);
        std::string what;
        if (fd >= 0) {
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
            ::close(fd);
            what = FileOps::kindAt(kLogFile);
        } else {
            const int error = errno;
            why = std::strerror(error);
            if (error == ENOENT && attempt == 0) {
                // The folder is missing on a first start.
                FileOps::makeDirs(QFileInfo(QString::fromLatin1(kLogFile)).path().toStdString());
                continue;
            }
            // A FIFO without a reader, a socket, a device without a driver,
            // a folder, a link: something that is no file.
            if (error != ENXIO && error != EISDIR && error != ELOOP) return -1;
            what = FileOps::kindAt(kLogFile);
        }
        if (what.empty()) continue;  // gone meanwhile
        const std::string keptPath = FileCheck::keptAsidePath(kLogFile);
        if (!FileCheck::moveAside(kLogFile)) {
            why = what + " in its place, which cannot be kept aside (" + std::strerror(errno) + ")";
            return -1;
        }
        kept = std::string("log file ") + kLogFile + " refused: " + what + ", not a regular file; kept as " +
               keptPath + "; a new log begun";
    }
    why = "its place changes under it";
    return -1;
}

// A write past the file size limit raises SIGXFSZ, which ends the process
// unless a handler is installed, and a start writes its first lines (a lock
// file kept aside, a start unguarded) before it installs one. Held while
// the log is written, it fails the write instead (EFBIG), and the one it
// raised is taken back before it is let go.
class FileSizeSignalHeld {
public:
    FileSizeSignalHeld() {
        sigemptyset(&m_signal);
        sigaddset(&m_signal, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &m_signal, &m_was);
    }
    ~FileSizeSignalHeld() {
        Console::takeBackPending(m_signal);
        pthread_sigmask(SIG_SETMASK, &m_was, nullptr);
    }

private:
    sigset_t m_signal, m_was;
};

// Appends the line whole or not at all: a write cut short (a full disk, a
// file size limit) is taken back, and a line left cut off all the same
// (the take-back failed) is ended before the next one, which never joins
// it. False, with `why`, when the line is not in the file.
bool appendWhole(int fd, const std::string& line, std::string& why) {
    const FileSizeSignalHeld held;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        why = std::strerror(errno);
        return false;
    }
    std::string text = line;
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') text.insert(0, 1, '\n');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = n < 0 ? std::strerror(errno) : "nothing written";
            if (done > 0 && ::ftruncate(fd, st.st_size) != 0) {
                // Left as it is: the next line starts a line of its own.
            }
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// Writes the line to the file; what the console is to be told besides the
// line's own echo (a refused file kept aside, lines lost or found lost)
// comes back in `notes`, for after the lock.
void writeFile(const std::string& line, std::vector<std::pair<_LogType, std::string>>& notes) {
    LogFile& f = logFile();
    std::lock_guard<std::mutex> lock(f.mutex);
    std::string why, kept;
    const int fd = openLog(why, kept);
    auto lose = [&](const std::string& reason) {
        if (f.lost++ == 0) {
            f.why = reason;
            notes.emplace_back(ERROR, std::string("log: ") + kLogFile + " cannot be written (" + reason +
                                          "); its lines are counted until it can be");
        }
    };
    if (fd < 0) return lose(why);
    auto note = [&](_LogType noteLevel, const std::string& text) {
        if (!appendWhole(fd, fileLine(noteLevel, text), why)) return false;
        notes.emplace_back(noteLevel, text);
        return true;
    };
    if (!kept.empty()) note(ERROR, kept);
    if (f.lost != 0 && note(WARNING, "log: " + std::to_string(f.lost) + " lines lost while " + kLogFile +
                                         " could not be written (" + f.why + ")"))
        f.lost = 0;
    if (!appendWhole(fd, line, why)) lose(why);
    struct stat st {};
    const bool full = ::fstat(fd, &st) == 0 && st.st_size >= 0xA00000L;
    ::close(fd);
    // Under the lock the file at the path is still the one measured.
    if (full) ::unlink(Root::path(kLogFile).c_str());
}

void appendLine(_LogType level, const std::string& message) {
    std::vector<std::pair<_LogType, std::string>> notes;
    writeFile(fileLine(level, message), notes);
    // The record on disk first, then the console's echo: the console may be
    // slow or gone, the file never waits on it.
    for (const auto& n : notes)
        if (echoed(n.first)) Console::line(n.second);
    if (echoed(level)) Console::line(message);
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
    Console::vprint(Console::Stream::Out, fmt, ap);
    va_end(ap);
}
