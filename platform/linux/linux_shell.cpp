#include "platform/linux/linux_shell.h"

#include "core/console.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// A PC may send what runs a command (a clock setting, a network set-up) as
// fast as it is answered, and a command that fails on this board fails each
// time: each program's failures log the first of each second, then a
// count. The programs are the program's own, a handful; each has the log's
// limit of a place of its own at each of the caller's places.
void logFailure(const std::string& command, _LogType level, const std::string& text, LogPlace at = {}) {
    static LineLimiterSet byProgram(
        [](const std::string& program) { return LineLimiter::logCount(WARNING, "shell", "failures of " + program); });
    const std::string program = command.substr(0, command.find(' '));
    byProgram.of(program).occur([&] { writeLogMsgFor(program, level, text, at); });
}

// What the commands print. A child given the console itself would wait in
// its write for a console that does not take it (a pipe nobody reads, a
// terminal held by flow control) until its time-out kills it, or die of
// SIGPIPE on a console whose reader has gone: a clock setting or a network
// set-up would fail because of the console. So every child gets, as its
// standard output and standard error, the write ends of two pipes the
// program keeps for its whole life, and a thread of the program's own reads
// them and hands each line to the console's road, which never waits and
// escapes the line as the outside text it is. One pair for every child, not
// one a command: a daemon started in the background (udhcpd, hostapd,
// wpa_supplicant) keeps what it was given for as long as it runs, and a
// pipe nobody read any more would hold it in its next write.
class ChildOutput {
public:
    // The pipes and their reader, made at the first command; null when
    // they could not be made (the commands then print into /dev/null).
    static ChildOutput* get() {
        static ChildOutput* const one = make();
        return one;
    }

    int outFd() const { return m_out.write; }
    int errFd() const { return m_err.write; }

    // Hands what the pipes hold now to the console, a line a child began
    // and did not end included, and waits at most `bound` for it. Called
    // once a command has ended: its lines stand before whatever the
    // program prints next, and are not joined to the next command's.
    void handOver(std::chrono::milliseconds bound) {
        std::unique_lock<std::mutex> lock(m_mutex);
        const uint64_t mine = ++m_asked;
        const uint64_t one = 1;
        if (::write(m_wake, &one, sizeof one) != ssize_t(sizeof one)) return;
        m_handed.wait_for(lock, bound, [&] { return m_done >= mine; });
    }

private:
    struct Pipe {
        explicit Pipe(Console::Stream to) : stream(to) {}
        const Console::Stream stream;
        int read = -1;
        int write = -1;
        std::string partial;  // a line begun and not yet ended
    };
    // A line longer than a console line is printed in pieces that each
    // fill one, so that the console's cut drops nothing of it. Where the
    // line has not ended, a piece is cut off only with bytes enough behind
    // it for a whole character, so that no character still arriving is
    // split.
    static void printPieces(std::string& text, Console::Stream stream, bool ended) {
        constexpr size_t kCharMax = 4;
        size_t from = 0;
        for (;;) {
            // A line's room takes fewer bytes than this, and a character
            // begun within that room ends within this.
            size_t taken = 0;
            Console::escaped(text.substr(from, Console::kLineMax + kCharMax), Console::kLineMax - 1, &taken);
            const size_t rest = text.size() - from - taken;
            if (rest == 0 ? !ended : !ended && rest < kCharMax) break;
            Console::line(text.substr(from, taken), stream);
            from += taken;
            if (rest == 0) break;
        }
        text.erase(0, from);
    }

    static ChildOutput* make() {
        auto* made = new ChildOutput;
        std::string why;
        if (made->open(why)) {
            try {
                std::thread reader([made] { made->loop(); });
                pthread_setname_np(reader.native_handle(), "shell output");
                reader.detach();
                return made;
            } catch (const std::system_error& e) {
                why = e.what();
            }
        }
        writeLogMsg(ERROR, "shell: no pipe for what commands print (" + why + "); their output is not shown");
        made->close();
        delete made;
        return nullptr;
    }

    // The program's own ends are close-on-exec, so that no child keeps a
    // read end; only the copies a child gets as its 1 and 2 stay open in it.
    // The read ends do not block the reader; the write ends are left
    // blocking, as a child expects of its standard output.
    bool open(std::string& why) {
        for (Pipe* p : {&m_out, &m_err}) {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0 || ::fcntl(ends[0], F_SETFL, O_NONBLOCK) != 0) {
                why = std::strerror(errno);
                return false;
            }
            p->read = ends[0];
            p->write = ends[1];
        }
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_wake < 0) why = std::strerror(errno);
        return m_wake >= 0;
    }

    void close() {
        for (int fd : {m_out.read, m_out.write, m_err.read, m_err.write, m_wake})
            if (fd >= 0) ::close(fd);
    }

    // Never ends: the children (the daemons among them) may print for as
    // long as the program runs. It waits on the pipes with a bound, and a
    // line left unended for that long is printed as it stands.
    void loop() {
        for (;;) {
            pollfd fds[3] = {{m_out.read, POLLIN, 0}, {m_err.read, POLLIN, 0}, {m_wake, POLLIN, 0}};
            const int ready = ::poll(fds, 3, 1000);
            uint64_t asked = 0;
            if (fds[2].revents & POLLIN) {
                uint64_t count;
                (void)!::read(m_wake, &count, sizeof count);
                std::lock_guard<std::mutex> lock(m_mutex);
                asked = m_asked;
            }
            for (Pipe* p : {&m_out, &m_err}) {
                take(*p);
                if ((ready == 0 || asked) && !p->partial.empty()) printPieces(p->partial, p->stream, true);
            }
            if (asked) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_done = asked;
                m_handed.notify_all();
            }
        }
    }

    // Takes what the pipe holds, at most a few reads: everything a command
    // that has ended wrote is within the pipe's size, and a daemon that
    // never stops printing cannot keep the reader here.
    static void take(Pipe& p) {
        char buf[65536];
        for (int reads = 0; reads < 4; ++reads) {
            const ssize_t n = ::read(p.read, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            p.partial.append(buf, size_t(n));
            size_t from = 0;
            for (size_t eol; (eol = p.partial.find('\n', from)) != std::string::npos; from = eol + 1) {
                std::string line = p.partial.substr(from, eol - from);
                printPieces(line, p.stream, true);
            }
            p.partial.erase(0, from);
            printPieces(p.partial, p.stream, false);
        }
    }

    Pipe m_out{Console::Stream::Out};
    Pipe m_err{Console::Stream::Err};
    int m_wake = -1;  // a command ended: hand over what it printed
    std::mutex m_mutex;
    std::condition_variable m_handed;
    uint64_t m_asked = 0;  // hand-overs asked for, and done
    uint64_t m_done = 0;
};

// The longest a command's end waits for its lines to reach the console's
// road; the reader takes them at once unless the machine is loaded.
constexpr std::chrono::milliseconds kHandOver{1000};

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
    // Its standard output and error go to the program's pipes, never to the
    // console itself; standard input stays the program's.
    ChildOutput* output = ChildOutput::get();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    if (output) {
        posix_spawn_file_actions_adddup2(&files, output->outFd(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&files, output->errFd(), STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    }
    // Nothing of the program's but its standard descriptors (after the
    // copies above, which read the pipes' ends): a daemon a command starts
    // would otherwise keep for its life whatever descriptor someone opened
    // without close-on-exec (a socket's port, a device, the instance lock),
    // beyond the program's end.
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group, so a time-out ends the command's children too.
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, "/bin/sh", &files, &attr, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    if (err != 0) {
        // No shell could be started at all, which no command's own status
        // explains; the caller only sees "failed".
        logFailure(command, ERROR, "shell could not run: " + command);
        return -1;
    }
    int status = 0;
    const bool ended = waitUntil(pid, m_timeoutMs, &status);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (output) output->handOver(kHandOver);
    if (!ended) {
        logFailure(command, ERROR, "shell command killed after " + std::to_string(m_timeoutMs) + " ms: " + command);
        return -1;
    }
    if (status != 0)
        logFailure(command, WARNING, "shell command failed (status " + std::to_string(status) + "): " + command);
    return status;
}
