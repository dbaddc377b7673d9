#include "platform/linux/linux_shell.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// A PC may send what runs a command (a clock setting, a network set-up) as
// fast as it is answered, and a command that fails on this board fails each
// time: each program's failures log the first of a burst, then a count a
// second. The programs are the program's own, a handful; each has the log's
// limit of a place of its own at each of the caller's places.
void logFailure(const std::string& command, _LogType level, const std::string& text, LogPlace at = {}) {
    static LineLimiterSet byProgram(
        [](const std::string& program) { return LineLimiter::logCount(WARNING, "shell", "failures of " + program); });
    const std::string program = command.substr(0, command.find(' '));
    byProgram.of(program).occur([&] { writeLogMsgFor(program, level, text, at); });
}

// Waits for the child until the deadline; true when it ended (status set).
bool waitUntil(pid_t pid, int timeoutMs, int* status) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
#ifdef SYS_pidfd_open
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
#else
    const int pidfd = -1;
#endif
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            if (pidfd >= 0) ::close(pidfd);
            return false;
        }
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            ::poll(&p, 1, int(left));
        } else {
            // Kernels without process descriptors: look again in 20 ms.
            ::usleep(useconds_t(std::min<long long>(left, 20) * 1000));
        }
    }
    if (pidfd >= 0) ::close(pidfd);
    return true;
}

}  // namespace

int LinuxShellRunner::run(const std::string& command) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so a time-out ends the command's children too.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, "/bin/sh", nullptr, &attr, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        // No shell could be started at all, which no command's own status
        // explains; the caller only sees "failed".
        logFailure(command, ERROR, "shell could not run: " + command);
        return -1;
    }
    int status = 0;
    if (!waitUntil(pid, m_timeoutMs, &status)) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        logFailure(command, ERROR, "shell command killed after " + std::to_string(m_timeoutMs) + " ms: " + command);
        return -1;
    }
    if (status != 0)
        logFailure(command, WARNING, "shell command failed (status " + std::to_string(status) + "): " + command);
    return status;
}
