#pragma once
// One log line per fault, not one per failing call: a device that is gone
// fails on every polling pass, and the log file is capped at 10 MiB.
#include "core/logMsg.h"

#include <poll.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

namespace linuxfault {
// strerror() shares one buffer between threads; strerror_r comes in a GNU
// and an XSI flavour, and these two overloads take whichever the C library has.
inline const char* pick(int rc, const char* buf) { return rc == 0 ? buf : "unknown error"; }
inline const char* pick(const char* text, const char*) { return text; }

inline std::string errorText(int err) {
    char buf[128] = {};
    return pick(strerror_r(err, buf, sizeof buf), buf);
}

// "<what> <path>: <errno text>", the shape of every device failure line.
inline std::string describe(const std::string& what, const std::string& path, int err) {
    std::string text = what;
    if (!path.empty()) text += " " + path;
    if (err) text += ": " + errorText(err);
    return text;
}

// Waits up to timeoutMs for fd to become readable, across interrupting
// signals: 1 readable (revents in p), 0 time-out, -1 error (errno set).
inline int pollIn(int fd, pollfd& p, int timeoutMs) {
    p = pollfd{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
}  // namespace linuxfault

class FaultNote {
public:
    // Logs the line at ERROR unless this fault was already logged and no
    // success came in between. One line of code serves every device of its
    // kind (each bus, node, serial or GPIO line): the line has a place of
    // its own for each device it names (the caller's place for that
    // device), so one device's fault that comes and goes never spends
    // another's lines. The device's name is the program's own (its path, its
    // line's name), never text from a peer.
    void fail(const std::string& device, const std::string& line, LogPlace at = {}) {
        if (m_noted.exchange(true)) return;
        writeLogMsgFor(device, ERROR, line, at);
    }
    void ok() { m_noted.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> m_noted{false};
};
