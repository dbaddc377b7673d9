// zrvctl: a small client of the device's command protocol for maintainers
// and the end-to-end tests. It speaks over UDP, TCP or a serial line.
// `zrvctl help` lists the commands; each is one entry of kCommands below,
// so a new protocol command is one new entry there.
//
// The exit status is 0 when the device answered with status 0, 1 when it
// answered with another status (printed with its meaning), 2 on a usage
// error (an argument or a serial line refused, a file argument that cannot
// be used: nothing is sent; or an output file or standard output that did
// not take what came) and 3 when no answer came in time, the link closed
// first, or the answer was not the one asked for (another length, no status
// byte); nothing of a wrong answer is printed as if it were the answer.
#include "core/console.h"
#include "core/md5.h"
#include "core/utils.h"
#include "fpga/fpga_regs.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"
#include "tools/zrvctl_wait.h"
#include "video_engine/c331_manage.h"

#include <arpa/inet.h>
#include <climits>
#include <cstdarg>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;
using Args = std::vector<std::string>;

constexpr u16 kUdpPort = 5008;
constexpr u16 kTcpPort = 5005;
constexpr int kDefaultTimeoutMs = 2000;

// Every line the client says on standard error, escaped as the program's
// log escapes outside text: a file name, a host or a device's text given to
// it (a name with a newline or an escape, made by a stick or a device) can
// neither forge a line nor send the terminal a command.
void say(const std::string& line) {
    std::fprintf(stderr, "zrvctl: %s\n", Console::escaped(line).c_str());
}

[[noreturn]] void fail(const std::string& why) {
    say(why);
    std::fprintf(stderr, "run 'zrvctl help' for the commands and their arguments\n");
    std::exit(2);
}

// Every numeric argument is read here, as the help gives numbers: decimal
// digits, a leading zero included (0770 is 770, never octal), or 0x and
// hexadecimal digits; no sign, no space, nothing else. Within [lo, hi]; what
// is wrong is named with the argument's name and the range.
u64 number(const std::string& s, const char* what, u64 lo, u64 hi) {
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const u64 base = hex ? 16 : 10;
    bool digits = s.size() > (hex ? 2u : 0u), above = false;
    u64 v = 0;
    for (size_t i = hex ? 2 : 0; digits && i < s.size(); ++i) {
        const char c = s[i];
        const int d = c >= '0' && c <= '9'             ? c - '0'
                      : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : -1;
        digits = d >= 0;
        const u64 digit = u64(std::max(d, 0));
        // Once past `hi` the value is not counted on: it cannot overflow.
        above = above || digit > hi || v > (hi - digit) / base;
        if (!above) v = v * base + digit;
    }
    if (!digits) fail(std::string(what) + " must be a number (decimal or 0x hexadecimal), not \"" + s + "\"");
    if (above || v < lo || v > hi)
        fail(std::string(what) + " must be " + std::to_string(lo) + " to " + std::to_string(hi) + ", not " + s);
    return v;
}

// Every address and length a command sends passes here before anything is
// sent: the device would only refuse a range that leaves its areas (status
// 1), after a long transfer's earlier pieces perhaps.
void inOneArea(u64 address, u64 length, bool write, const char* what) {
    if (PcRam::served(address, length, write)) return;
    char range[64];
    std::snprintf(range, sizeof range, "0x%06llX to 0x%06llX", static_cast<unsigned long long>(address),
                  static_cast<unsigned long long>(address + length - 1));
    fail(std::string(what) + ": " + range + " is not within one area the device " + (write ? "writes" : "reads") +
         " (see 'zrvctl help " + what + "')");
}

// Everything a command prints on standard output, written in one place at
// its end (printed()), where a standard output that does not take it fails
// the command.
std::string g_printed;

__attribute__((format(printf, 1, 2))) void print(const char* format, ...) {
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const size_t at = g_printed.size();
        g_printed.resize(at + size_t(n) + 1);
        std::vsnprintf(&g_printed[at], size_t(n) + 1, format, again);
        g_printed.resize(at + size_t(n));
    }
    va_end(again);
}

// Writes all of it: 0, or the error that stopped it.
int writeAll(int fd, const u8* data, size_t n) {
    for (size_t done = 0; done < n;) {
        const ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return w < 0 ? errno : EIO;
        done += size_t(w);
    }
    return 0;
}

// The command's status, unless what it printed could not be written whole
// (a full disk, /dev/full, a closed or broken output): then 2, as for an
// output file that did not take what came, said on standard error.
int printed(int rc) {
    const int error = writeAll(STDOUT_FILENO, reinterpret_cast<const u8*>(g_printed.data()), g_printed.size());
    if (!error) return rc;
    say(std::string("standard output did not take what was to be printed: ") + std::strerror(error));
    return rc ? rc : 2;
}

// `what`: the argument's name as the help gives it.
Bytes hexBytes(const std::string& s, const char* what) {
    if (s.empty() || s.size() % 2) fail(std::string(what) + " needs an even, non-zero count of hexadecimal digits");
    Bytes out;
    for (size_t i = 0; i < s.size(); i += 2) {
        const std::string pair = s.substr(i, 2);
        if (!std::isxdigit(u8(pair[0])) || !std::isxdigit(u8(pair[1])))
            fail(std::string(what) + " holds \"" + pair + "\", which is not a hexadecimal byte");
        out.push_back(u8(std::stoul(pair, nullptr, 16)));
    }
    return out;
}

// Four bytes of a dotted IPv4 address.
void putAddress(Bytes& b, const std::string& s, const char* what) {
    in_addr a{};
    if (::inet_pton(AF_INET, s.c_str(), &a) != 1) fail(std::string(what) + " must be a dotted address like 192.168.1.10, not \"" + s + "\"");
    const auto* p = reinterpret_cast<const u8*>(&a.s_addr);
    b.insert(b.end(), p, p + 4);
}

void put16(Bytes& b, u32 v) {
    b.push_back(u8(v));
    b.push_back(u8(v >> 8));
}
void put32(Bytes& b, u32 v) {
    for (int i = 0; i < 4; ++i) b.push_back(u8(v >> (8 * i)));
}
u8 bcd(int v) { return u8(((v / 10) << 4) | (v % 10)); }

// Every file a command sends passes here before anything is sent: a regular
// file, readable, of 1 byte up to `most` (named as `mostText`), read whole.
// Anything else is a usage error naming the file.
Bytes inputFile(const std::string& path, u64 most, const std::string& mostText) {
    // Non-blocking: a FIFO given by mistake must not hold the client.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail("cannot read the file " + path + ": " + std::strerror(errno));
    struct stat st{};
    std::string wrong;
    if (::fstat(fd, &st) != 0)
        wrong = std::string("cannot read the file ") + path + ": " + std::strerror(errno);
    else if (S_ISDIR(st.st_mode))
        wrong = "the file " + path + " is a folder";
    else if (!S_ISREG(st.st_mode))
        wrong = "the file " + path + " is not a regular file";
    else if (st.st_size == 0 || u64(st.st_size) > most)
        wrong = "the file " + path + " must hold 1 byte to " + mostText + ", not " + std::to_string(st.st_size);
    Bytes content(wrong.empty() ? size_t(st.st_size) : 0);
    for (size_t done = 0; wrong.empty() && done < content.size();) {
        const ssize_t n = ::read(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) wrong = "cannot read the file " + path + ": " + (n < 0 ? std::strerror(errno) : "it became shorter");
        done += n > 0 ? size_t(n) : 0;
    }
    ::close(fd);
    if (!wrong.empty()) fail(wrong);
    return content;
}

bool allDigits(const std::string& s) {
    return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> pathParts(const std::string& path) {
    std::vector<std::string> parts;
    for (size_t at = 0; at <= path.size();) {
        const size_t slash = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, slash - at);
        if (!part.empty() && part != ".") parts.push_back(part);
        at = slash + 1;
    }
    return parts;
}

// The descriptor of this client that a path names through the system's
// links to open descriptors (/dev/stdout, /dev/stderr, /dev/fd/N,
// /proc/self/fd/N, /proc/PID/fd/N, and any link to them): N; -1 when it
// names none, -2 when it names another process's. The path is followed link
// by link as the system would, up to the folder of descriptors of /proc;
// whatever the descriptor leads to (a file, a pipe) is not looked at.
int descriptorNamed(const std::string& path) {
    std::vector<std::string> todo;  // parts still to follow, the next last
    auto follow = [&todo](const std::string& p) {
        const std::vector<std::string> parts = pathParts(p);
        todo.insert(todo.end(), parts.rbegin(), parts.rend());
    };
    std::string done;  // the folder reached, without links ("" for /)
    if (path.empty() || path[0] != '/') {
        char* here = ::getcwd(nullptr, 0);
        if (!here) return -1;
        done = here == std::string("/") ? "" : here;
        std::free(here);
    }
    follow(path);
    for (int links = 0; !todo.empty();) {
        const std::string part = todo.back();
        todo.pop_back();
        if (part == "..") {
            done.erase(std::min(done.size(), done.rfind('/')));
            continue;
        }
        // "/proc/PID/fd" or "/proc/PID/task/TID/fd": the part is a descriptor.
        const std::vector<std::string> at = pathParts(done);
        if (at.size() >= 3 && at[0] == "proc" && at.back() == "fd" && allDigits(at[1]) &&
            (at.size() == 3 || (at.size() == 5 && at[2] == "task" && allDigits(at[3])))) {
            if (!todo.empty() || !allDigits(part)) return -1;
            return std::stoi(at[1]) == ::getpid() ? std::stoi(part) : -2;
        }
        done += "/" + part;
        struct stat st{};
        if (::lstat(done.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(done.c_str(), &target[0], target.size());
        if (n <= 0 || ++links > 40) return -1;
        target.resize(size_t(n));
        done.erase(target[0] == '/' ? 0 : done.rfind('/'));
        follow(target);
    }
    return -1;
}

// The file a command writes, judged before anything is asked of the device
// (a long read is not lost at its end) as the inputs are: without waiting (a
// FIFO given by mistake must not hold the client) and only as a writable
// regular file or a new one in a folder that can be written. The data goes
// into a file beside it, which is flushed and then renamed over it, so the
// file holds its old bytes or all the new ones, never a part: a disk that
// does not take every byte, or an answer that never comes, leaves it as it
// was and nothing beside it. Anything wrong is a usage error naming the file.
// A path that names one of the client's own descriptors (/dev/stdout, a
// shell's "3>>log" as /dev/fd/3) is written through that descriptor, where
// it writes, as a redirection of the shell would be: the file behind it is
// never replaced.
class OutputFile {
public:
    explicit OutputFile(const std::string& path) : m_path(path), m_place(path), m_descriptor(descriptorNamed(path)) {
        if (m_descriptor == -2) fail("the file " + path + " is a descriptor of another process");
        if (m_descriptor >= 0) {
            // It must be open for writing: the link is opened only later and
            // can never be the descriptor named.
            const int flags = ::fcntl(m_descriptor, F_GETFL);
            if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY)
                fail("cannot write the file " + path + ": " + std::strerror(EBADF));
            return;
        }
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        int error = fd < 0 || ::fstat(fd, &m_old) != 0 ? errno : 0;
        if (fd >= 0) ::close(fd);
        struct stat link{};
        if (error == ENOENT && ::lstat(path.c_str(), &link) != 0) error = 0;  // nothing there, not even a link
        if (error == EISDIR || error == ENXIO)  // ENXIO: a FIFO nobody reads, a socket
            fail("the file " + path + (error == EISDIR ? " is a folder" : " is not a regular file"));
        if (fd >= 0 && !error && !S_ISREG(m_old.st_mode)) fail("the file " + path + " is not a regular file");
        m_exists = fd >= 0 && !error;
        // Through a link the file it leads to is replaced, the link kept.
        if (char* real = m_exists ? ::realpath(path.c_str(), nullptr) : nullptr) {
            m_place = real;
            std::free(real);
        } else if (m_exists) {
            error = errno;
        }
        // The file beside it must be possible where it goes: in a folder
        // that can be written, its longest name one the folder takes.
        const std::string folder = folderOf(m_place);
        if (!error && ::access(folder.c_str(), W_OK | X_OK) != 0) error = errno;
        const long nameMost = error ? -1 : ::pathconf(folder.c_str(), _PC_NAME_MAX);
        const std::string longest = temporaryOf(99);
        if (!error && m_place.empty()) error = ENOENT;  // "" names nothing
        else if (!error && (longest.size() >= PATH_MAX ||
                            (nameMost > 0 && longest.size() - longest.find_last_of('/') - 1 > size_t(nameMost))))
            error = ENAMETOOLONG;
        if (error) fail("cannot write the file " + path + ": " + std::strerror(error));
    }

    // The whole file, in place of what it held; or all of it through the
    // descriptor named.
    void write(const Bytes& data) {
        if (m_descriptor >= 0) {
            if (const int error = writeAll(m_descriptor, data.data(), data.size()))
                fail("cannot write the file " + m_path + ": " + std::strerror(error));
            return;
        }
        // Every signal that would end the client (a Ctrl+C, a kill, an alarm
        // or a user signal) waits until the file is whole or the old one is
        // left as it was, and then ends it: nothing is left beside the file.
        sigset_t all, before;
        sigfillset(&all);
        ::sigprocmask(SIG_BLOCK, &all, &before);
        const int error = replace(data);
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        if (error) fail("cannot write the file " + m_path + ": " + std::strerror(error));
    }

private:
    static std::string folderOf(const std::string& path) {
        const size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    }

    // The n-th name tried for the file beside it.
    std::string temporaryOf(int n) const {
        return m_place + ".new" + std::to_string(::getpid()) + "-" + std::to_string(n);
    }

    // 0, or the error that left the old file in place.
    int replace(const Bytes& data) {
        std::string temporary;
        int fd = -1;
        for (int n = 0; fd < 0 && n < 100; ++n) {
            temporary = temporaryOf(n);
            fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, m_exists ? 0600 : 0644);
            if (fd < 0 && errno != EEXIST) return errno;
        }
        if (fd < 0) return EEXIST;
        int error = 0;
        if (m_exists) {
            // The old file's owner and permissions go to the new one (only
            // root can give a file away: a user who replaces another's file
            // owns the new one).
            (void)!::fchown(fd, m_old.st_uid, m_old.st_gid);
            if (::fchmod(fd, m_old.st_mode & 07777) != 0) error = errno;
        }
        if (!error) error = writeAll(fd, data.data(), data.size());
        // A disk that is full may say so only when the data goes out.
        if (!error && ::fsync(fd) != 0) error = errno;
        if (::close(fd) != 0 && !error) error = errno;
        if (!error && ::rename(temporary.c_str(), m_place.c_str()) != 0) error = errno;
        if (error) {
            ::unlink(temporary.c_str());
            return error;
        }
        // The rename itself survives a power cut once the folder is flushed.
        const int folder = ::open(folderOf(m_place).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
        return 0;
    }

    std::string m_path;   // as given, for the messages
    std::string m_place;  // what is replaced: the file a link leads to
    int m_descriptor;     // the client's own descriptor named, or below 0
    bool m_exists = false;
    struct stat m_old{};
};

using ClientWait::Wait;

// The milliseconds left until `until`, none once it passed, as poll() takes
// them: a longer wait is waited in slices, each caller asking again.
int msLeft(std::chrono::steady_clock::time_point until) {
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    return int(std::clamp<long long>(left, 0, INT_MAX));
}

// One way to the device. Every wait on it is bounded by the time left.
class Link {
public:
    virtual ~Link() = default;
    // 0, or the error that stopped it (ETIMEDOUT: it could not go out
    // within timeoutMs).
    virtual int send(const u8* data, size_t len, int timeoutMs) = 0;
    // Bytes received within timeoutMs; empty on time-out or once closed().
    virtual Bytes receive(int timeoutMs) = 0;
    // The far end closed the link (a device that turns a second TCP client
    // away, a serial line that hung up): nothing more will come.
    virtual bool closed() const = 0;
    // What closed() means on this link, for the message.
    virtual std::string closedText() const { return {}; }
};

// A connection (TCP) or a serial line: a stream of bytes both ways, its
// descriptor non-blocking, so that neither a device that takes nothing nor
// one that sends nothing holds the client past its time-out.
class StreamLink : public Link {
public:
    StreamLink(int fd, std::string closedText) : m_fd(fd), m_closedText(std::move(closedText)) {
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    }
    ~StreamLink() override { ::close(m_fd); }
    int send(const u8* data, size_t len, int timeoutMs) override {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (size_t done = 0; done < len;) {
            const ssize_t w = ::write(m_fd, data + done, len - done);
            if (w > 0) {
                done += size_t(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return w < 0 ? errno : EIO;
            const int left = msLeft(until);
            pollfd p{m_fd, POLLOUT, 0};
            if (left <= 0 || (::poll(&p, 1, left) == 0 && msLeft(until) <= 0)) return ETIMEDOUT;
        }
        return 0;
    }
    Bytes receive(int timeoutMs) override {
        pollfd p{m_fd, POLLIN, 0};
        if (m_closed || ::poll(&p, 1, timeoutMs) <= 0) return {};
        Bytes buf(65536);
        const ssize_t n = ::read(m_fd, buf.data(), buf.size());
        // An end (0), an error (a reset connection, a serial line gone: EIO)
        // or a hang-up with nothing left to read: nothing more will come.
        const bool nothing = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        m_closed = n == 0 || (n < 0 && !nothing) || (nothing && (p.revents & (POLLHUP | POLLERR)));
        buf.resize(size_t(std::max<ssize_t>(n, 0)));
        return buf;
    }
    bool closed() const override { return m_closed; }
    std::string closedText() const override { return m_closedText; }

private:
    int m_fd;
    std::string m_closedText;
    bool m_closed = false;
};

// UDP. The device answers on the network to the broadcast address at the
// port the request came from (the PC run answers the sender on 127.0.0.1):
// the socket is bound to no address, so both reach it, and only datagrams
// from the device asked, its address and port, are taken.
class UdpLink : public Link {
public:
    UdpLink(int fd, const sockaddr_in& device) : m_fd(fd), m_device(device) {}
    ~UdpLink() override { ::close(m_fd); }
    int send(const u8* data, size_t len, int) override {
        const ssize_t n = ::sendto(m_fd, data, len, 0, reinterpret_cast<const sockaddr*>(&m_device), sizeof m_device);
        return n == ssize_t(len) ? 0 : n < 0 ? errno : EMSGSIZE;
    }
    Bytes receive(int timeoutMs) override {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return {};
        Bytes buf(65536);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        const bool device = n > 0 && from.sin_family == AF_INET && from.sin_addr.s_addr == m_device.sin_addr.s_addr &&
                            from.sin_port == m_device.sin_port;
        buf.resize(device ? size_t(n) : 0);
        return buf;
    }
    bool closed() const override { return false; }

private:
    int m_fd;
    sockaddr_in m_device;
};

// HOST's address: a dotted address of four decimal numbers, or a name. A
// form the system would also read as an address (192.168.1.010 as octal,
// 0xC0A801C7, 192.168.455) is refused, as numbers other than the help's are.
in_addr hostAddress(const std::string& host) {
    in_addr a{};
    if (::inet_pton(AF_INET, host.c_str(), &a) == 1) return a;
    if (::inet_aton(host.c_str(), &a) != 0)
        fail("HOST must be a dotted address of four decimal numbers like 192.168.1.199, or a name, not \"" + host +
             "\"");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) fail("unknown host \"" + host + "\"");
    a = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
    freeaddrinfo(res);
    return a;
}

// The link to HOST[:PORT]; a TCP connection is made within the wait (a
// host that does not answer would hold the connect for minutes).
std::unique_ptr<Link> openNet(const std::string& address, bool tcp, const Wait& wait) {
    const size_t colon = address.rfind(':');
    const std::string host = address.substr(0, colon);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(u16(colon == std::string::npos ? (tcp ? kTcpPort : kUdpPort)
                                                       : number(address.substr(colon + 1), "PORT", 1, 65535)));
    to.sin_addr = host.empty() ? in_addr{htonl(INADDR_LOOPBACK)} : hostAddress(host);
    const int fd = ::socket(AF_INET, (tcp ? SOCK_STREAM | SOCK_NONBLOCK : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd >= 0 && !tcp) return std::make_unique<UdpLink>(fd, to);
    const std::string where = (host.empty() ? std::string("127.0.0.1") : host) + " port " +
                              std::to_string(ntohs(to.sin_port));
    int error = fd < 0 ? errno : 0;
    if (!error && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) error = errno;
    if (error == EINPROGRESS) {
        const auto until = std::chrono::steady_clock::now() + wait.total;
        pollfd p{fd, POLLOUT, 0};
        int ready = 0;
        for (int left; (left = msLeft(until)) > 0 && (ready = ::poll(&p, 1, left)) <= 0;) {
        }
        socklen_t len = sizeof error;
        if (ready <= 0) {
            say("no answer from " + where + " within " + ClientWait::text(wait) + ": the connection was not taken");
            std::exit(3);
        }
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
    if (error) {
        say("cannot reach " + where + ": " + std::strerror(error));
        std::exit(3);
    }
    return std::make_unique<StreamLink>(
        fd, "the device closed the connection before answering (it serves one TCP client at a time: another may "
            "be connected)");
}

std::unique_ptr<Link> openSerial(const std::string& path) {
    // Without waiting for the line's carrier: a line that cannot be used is
    // a refused argument, said at once, never a wait for an answer.
    // It stays non-blocking: its link waits only as long as time is left.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    const int error = errno;
    if (fd < 0 || !::isatty(fd)) {
        if (fd >= 0) ::close(fd);
        fail("cannot open the serial line " + path + ": " + (fd < 0 ? std::strerror(error) : "not a terminal"));
    }
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B115200);
        t.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &t);
    }
    tcflush(fd, TCIOFLUSH);  // whatever waited on the line is not ours
    return std::make_unique<StreamLink>(fd, "the serial line " + path + " hung up before an answer came");
}

// A card's reply fills at most one receive page of its FPGA.
constexpr size_t kCardReplyMost = 1024;
// Header, status byte and check byte around a reply's data.
constexpr size_t kReplyFrame = Frame::kMinLen + 1;

// What a command takes for its answer: how many data bytes follow the
// status byte of a reply that says done (status 0).
struct Expect {
    size_t least, most;
    // A card answers with header bytes of its own; only the controller
    // echoes the request's.
    bool fromCards;
    // What is wrong with data of the right length that holds values no
    // answer has ("" when nothing is), or none to check.
    std::string (*malformed)(const u8* data) = nullptr;

    static Expect exactly(size_t n, std::string (*malformed)(const u8*) = nullptr) {
        return {n, n, false, malformed};
    }
    static Expect cards(size_t least) { return {least, kCardReplyMost - kReplyFrame, true}; }
};

// How a frame that came stands to the request `sent` (without its check
// byte): the answer, a frame that answers something else (passed over: a
// late reply to an earlier request may still come), or the answer in a
// shape the request does not take. `why` says what is wrong.
struct Verdict {
    enum Kind { Answer, Other, Wrong } kind;
    std::string why;
};

std::string hex8(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

std::string byteRange(size_t least, size_t most) {
    return std::to_string(least) + (most <= least ? "" : " to " + std::to_string(most));
}

// The one judge of every frame that comes back, whatever the command.
Verdict judge(const Bytes& sent, const u8* f, size_t n, const Expect& e) {
    // The decoder gives no frame shorter than its header and check byte.
    if (Frame::destination(f) != Frame::kPc) return {Verdict::Other, "a frame for " + hex8(Frame::destination(f))};
    if (f[9] != sent[9]) return {Verdict::Other, "a frame of command " + hex8(f[9])};
    // The cards' reply comes from a card: a frame of the controller with the
    // same command (a late answer to a RAM read on the same serial line)
    // answers another request, whatever it holds.
    if (e.fromCards && Frame::source(f) >= Frame::kController)
        return {Verdict::Other, "a frame of command " + hex8(f[9]) + " from the controller"};
    if (!e.fromCards && (Frame::source(f) != Frame::destination(sent.data()) ||
                         !std::equal(f + 4, f + 9, sent.begin() + 4)))
        return {Verdict::Other, "a frame of command " + hex8(f[9]) + " that echoes another request"};
    if (n < kReplyFrame) return {Verdict::Wrong, "no status byte"};
    if (e.fromCards && n > kCardReplyMost)
        return {Verdict::Wrong, std::to_string(n) + " bytes, more than a card's reply holds"};
    // Another status than done is the answer whatever follows it.
    const size_t data = n - kReplyFrame;
    if (f[10] == 0 && (data < e.least || data > e.most))
        return {Verdict::Wrong, std::to_string(data) + " data bytes, not " + byteRange(e.least, e.most)};
    if (f[10] == 0 && e.malformed)
        if (std::string why = e.malformed(f + 11); !why.empty()) return {Verdict::Wrong, why};
    return {Verdict::Answer, {}};
}

// Every exchange with the device goes through ask(), and every frame that
// comes back through judge(): a command cannot take a reply unjudged.
class Client {
public:
    // The link is opened for the first request, once every argument (an
    // output file among them) has been judged.
    Client(std::function<std::unique_ptr<Link>(const Wait&)> open, int timeoutMs)
        : m_open(std::move(open)), m_timeout(timeoutMs), m_wait(ClientWait::wait(timeoutMs)),
          m_tag(std::random_device{}()) {}

    // Sends one command to the controller. 0 with the reply data when it
    // answered done in the shape `expect` gives, 1 for another status (said
    // with its meaning), 3 for no answer or a wrong one (said).
    int run(u8 cmd, const Bytes& req, const Expect& expect, Bytes* data = nullptr, u8 target = 0) {
        // The controller echoes header bytes 4 to 8; byte 7 is the target of
        // the register commands, the others are each request's own tag. So
        // no answer to another request is taken for this one's: neither a
        // doubled one (a network repeats datagrams, a device answers twice)
        // nor a late one (after a time-out, or an earlier run's on the same
        // serial line: the tags start anywhere).
        const u32 tag = m_tag++;
        Bytes f = {0x00, 0xF0, 0x10, 0xF0, u8(tag), u8(tag >> 8), u8(tag >> 16), target, u8(tag >> 24), cmd};
        f.insert(f.end(), req.begin(), req.end());
        Bytes reply;
        if (const int rc = ask(f, expect, reply)) return rc;
        if (reply[10] != 0) {
            say("status " + std::to_string(reply[10]) + ": " + statusMeaning(reply[10]));
            return 1;
        }
        if (data) data->assign(reply.begin() + 11, reply.end() - 1);
        return 0;
    }
    // Sends a frame for the cards (without its check byte); 0 with the whole
    // reply when one came that holds at least `least` data bytes after a
    // status 0, else 3 (said).
    int cards(const Bytes& frame, size_t least, Bytes& reply) {
        return ask(frame, Expect::cards(least), reply, " from the cards");
    }
    // The time-out given; the wait of the requests that follow, made from it.
    int timeout() const { return m_timeout; }
    void setWait(const Wait& wait) { m_wait = wait; }

    static const char* statusMeaning(u8 s) {
        switch (s) {
        case 0: return "done";
        case 1: return "bad argument or out of range";
        case 2: return "busy or not ready";
        case 0xFF: return "unsupported command";
        default: return "unknown status";
        }
    }

private:
    // Sends the frame (its check byte appended) and takes the first frame
    // back that answers it: 0 with it in `answer`, or 3 after saying why
    // none did.
    int ask(Bytes f, const Expect& expect, Bytes& answer, const char* from = "") {
        const Bytes sent = f;
        f.push_back(Utils::BCC(f.data(), u32(f.size())));
        Bytes enc(protocol_phy::encodedMax(u32(f.size())));
        enc.resize(protocol_phy::data_re_transf_meaning(f.data(), u32(f.size()), enc.data(), u32(enc.size())));
        // The time-out counts from the request's start: making the
        // connection and sending it take their part of it.
        const auto until = std::chrono::steady_clock::now() + m_wait.total;
        if (!m_link) m_link = m_open(m_wait);
        const int unsent = m_link->send(enc.data(), enc.size(), msLeft(until));
        if (unsent == ETIMEDOUT) {
            say("the request could not go out within " + ClientWait::text(m_wait) + ": the device takes nothing");
            return 3;
        }
        if (unsent) {
            say(std::string("cannot send to the device: ") + std::strerror(unsent));
            return 3;
        }
        bool done = false;
        Verdict last{Verdict::Other, {}};
        std::string others;  // said with the reason when no answer comes
        while (!done && !m_link->closed()) {
            const int left = msLeft(until);
            if (left <= 0) break;
            const Bytes got = m_link->receive(left);
            m_decoder.feed(got.data(), got.size(), [&](const u8* fr, u32 n) {
                if (done) return;
                last = judge(sent, fr, n, expect);
                done = last.kind != Verdict::Other;
                if (last.kind == Verdict::Answer) answer.assign(fr, fr + n);
                if (!done && others.empty()) others = "; what came answers another request: " + last.why;
            });
        }
        if (done && last.kind == Verdict::Answer) return 0;
        if (done && last.kind == Verdict::Wrong) {
            say("wrong answer" + std::string(from) + " to command " + hex8(sent[9]) + ": " + last.why);
            return 3;
        }
        if (m_link->closed())
            say(m_link->closedText() + others);
        else
            say("no answer" + std::string(from) + " within " + ClientWait::text(m_wait) +
                (m_wait.beyond ? std::string(": ") + m_wait.beyond : "") + others);
        return 3;
    }

    std::function<std::unique_ptr<Link>(const Wait&)> m_open;
    std::unique_ptr<Link> m_link;
    int m_timeout;
    Wait m_wait;
    u32 m_tag;
    FrameDecoder m_decoder{65536};
};

void printHex(const Bytes& b) {
    for (u8 v : b) print("%02x", v);
    print("\n");
}

// ---------------------------------------------------------------- commands

// The device id (32 characters, up to a NUL), the version and three addresses.
int cmdInfo(Client& c, const Args&) {
    Bytes d;
    const int rc = c.run(0x90, {}, Expect::exactly(32 + 4 + 12), &d);
    if (rc == 0) {
        const size_t id = size_t(std::find(d.begin(), d.begin() + 32, 0) - d.begin());
        print("id %s\nversion %u.%u.%u.%u\n", Console::escaped(std::string(d.begin(), d.begin() + long(id))).c_str(),
              d[32], d[33], d[34], d[35]);
        print("ip %u.%u.%u.%u\nmask %u.%u.%u.%u\ngateway %u.%u.%u.%u\n", d[36], d[37], d[38], d[39], d[40], d[41],
              d[42], d[43], d[44], d[45], d[46], d[47]);
    }
    return rc;
}

int cmdRamRead(Client& c, const Args& a) {
    Bytes req, d;
    const u32 addr = u32(number(a[0], "ADDR", 0, 0xFFFFFFFF));
    const u32 len = u32(number(a[1], "LEN", 1, 1024));
    inOneArea(addr, len, false, "ram-read");
    put32(req, addr);
    put32(req, len);
    const int rc = c.run(0x61, req, Expect::exactly(len), &d);
    if (rc == 0) printHex(d);
    return rc;
}

int cmdRamWrite(Client& c, const Args& a) {
    const u32 addr = u32(number(a[0], "ADDR", 0, 0xFFFFFFFF));
    const Bytes bytes = hexBytes(a[1], "BYTES");
    inOneArea(addr, bytes.size(), true, "ram-write");
    Bytes req;
    put32(req, addr);
    put32(req, u32(bytes.size()));
    req.insert(req.end(), bytes.begin(), bytes.end());
    return c.run(0x60, req, Expect::exactly(0));
}

// A word of the image starts at an even offset.
u32 wordOffset(const std::string& s) {
    const u32 off = u32(number(s, "OFFSET", 0, 4094));
    if (off % 2) fail("OFFSET must be even: a word of the image starts at an even offset, not at " + s);
    return off;
}

int cmdWordRead(Client& c, const Args& a) {
    Bytes req, d;
    put32(req, wordOffset(a[0]));
    put32(req, 2);
    const int rc = c.run(0x61, req, Expect::exactly(2), &d);
    if (rc == 0) print("%u\n", unsigned(d[0] | (d[1] << 8)));
    return rc;
}

int cmdWordWrite(Client& c, const Args& a) {
    Bytes req;
    put32(req, wordOffset(a[0]));
    put32(req, 2);
    put16(req, u32(number(a[1], "VALUE", 0, 0xFFFF)));
    return c.run(0x60, req, Expect::exactly(0));
}

int cmdRegRead(Client& c, const Args& a) {
    const u8 target = u8(number(a[0], "TARGET", 0, 2));
    Bytes req, d;
    const u32 reg = u32(number(a[1], "REG", 0, PcReg::LastReadable));
    put16(req, reg);
    const u32 count = u32(number(a[2], "COUNT", 1, 1024));
    // The controller's block holds registers 0 to 1060, an FPGA's 0 to 169.
    const u64 last = target == PcReg::TargetController ? PcReg::LastReadable : fpgareg::kImageSize - 1;
    if (reg + count - 1 > last)
        fail("REG and COUNT must name registers 0 to " + std::to_string(last) + " of TARGET " + a[0] + ", not " +
             std::to_string(reg) + " to " + std::to_string(reg + count - 1));
    put16(req, count);
    const int rc = c.run(0xA1, req, Expect::exactly(count), &d, target);
    if (rc == 0) printHex(d);
    return rc;
}

int cmdRegWrite(Client& c, const Args& a) {
    const u8 target = u8(number(a[0], "TARGET", 0, 2));
    Bytes req;
    put16(req, u32(number(a[1], "REG", 0, 169)));
    req.push_back(u8(number(a[2], "MASK", 0, 255)));
    req.push_back(u8(number(a[3], "VALUE", 0, 255)));
    return c.run(0xA0, req, Expect::exactly(0), nullptr, target);
}

// "5 MiB", "64 KiB": the most a file may hold.
std::string sizeText(u32 bytes) {
    return bytes % (1024 * 1024) == 0 ? std::to_string(bytes >> 20) + " MiB"
           : bytes % 1024 == 0        ? std::to_string(bytes >> 10) + " KiB"
                                      : std::to_string(bytes) + " bytes";
}

int cmdSendFile(Client& c, const Args& a) {
    const u8 type = u8(number(a[0], "TYPE", 0, 255));
    const std::string& path = a[1];
    const std::string name = a.size() == 3 ? a[2] : path.substr(path.find_last_of('/') + 1);
    // What the device would refuse at the start is refused here, by its own
    // checks, before anything is sent.
    if (name.size() > PcFile::MaxName)
        fail("NAME must be at most " + std::to_string(PcFile::MaxName) + " bytes, not " + std::to_string(name.size()));
    std::string why;
    const auto refused = message_deal::startRefusal(type, name, 1, why);
    if (refused == message_deal::Type) fail("TYPE must be 9, 13, 20, 21, 30 or 31, not " + a[0]);
    if (refused != message_deal::kRefusals) fail("the device takes no file of type " + a[0] + " by the " + why);
    const u32 most = message_deal::transferMost(type);
    const Bytes content = inputFile(path, most, sizeText(most));
    MD5 md5(content.data(), u32(content.size()));
    Bytes start = {type};
    put32(start, u32(content.size()));
    start.insert(start.end(), md5.digest(), md5.digest() + 16);
    start.insert(start.end(), name.begin(), name.end());
    int rc = c.run(0x80, start, Expect::exactly(0));
    constexpr size_t kChunk = 1024;
    for (size_t off = 0; rc == 0 && off < content.size(); off += kChunk) {
        Bytes chunk;
        put32(chunk, u32(off));
        chunk.insert(chunk.end(), content.begin() + long(off),
                     content.begin() + long(std::min(content.size(), off + kChunk)));
        rc = c.run(0x81, chunk, Expect::exactly(0));
    }
    return rc ? rc : c.run(0x82, {}, Expect::exactly(0));
}

int cmdDeleteFiles(Client& c, const Args&) { return c.run(0x83, {}, Expect::exactly(0)); }

int cmdSetClock(Client& c, const Args& a) {
    std::tm t{};
    if (a.empty() || a[0] == "now") {
        const std::time_t now = std::time(nullptr);
        localtime_r(&now, &t);
    } else {
        const std::string when = a.size() == 2 ? a[0] + " " + a[1] : a[0];
        // Digit for digit as the help gives it (the system's reading would
        // take " 2024-5-6 7:8:9"), and a time that is one: the system puts
        // 2024-02-30 on 1 March.
        constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
        bool shaped = when.size() == sizeof kShape - 1;
        for (size_t i = 0; shaped && i < when.size(); ++i)
            shaped = kShape[i] == 'd' ? when[i] >= '0' && when[i] <= '9' : when[i] == kShape[i];
        const char* end = shaped ? strptime(when.c_str(), "%Y-%m-%d %H:%M:%S", &t) : nullptr;
        std::tm normal = t;
        if (end && !*end) ::timegm(&normal);
        if (!end || *end || normal.tm_mday != t.tm_mday || normal.tm_mon != t.tm_mon || normal.tm_sec != t.tm_sec)
            fail("the time must read YYYY-MM-DD HH:MM:SS and be one, not \"" + when + "\"");
    }
    const int year = t.tm_year + 1900;
    if (year < 2000 || year > 9999) fail("the year must be 2000 to 9999, not " + std::to_string(year));
    const Bytes req = {bcd(t.tm_sec), bcd(t.tm_min), bcd(t.tm_hour), bcd(t.tm_mday), bcd(t.tm_mon + 1),
                       bcd(year % 100), bcd(year / 100)};
    return c.run(0x91, req, Expect::exactly(0));
}

// The power-on time of a time report (bytes 11 to 17: BCD year within the
// century, century, month, day, hour, minute, second): "" when it is a time
// there is, else what is wrong, its bytes in hexadecimal. Printed, anything
// else would be a date that never was.
std::string powerOnTimeFault(const u8* d) {
    int v[7];
    bool bcd = true;
    for (int i = 0; i < 7; ++i) bcd = (v[i] = Utils::fromBcd(d[11 + i])) >= 0 && bcd;
    const int year = v[1] * 100 + v[0], month = v[2], day = v[3];
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (bcd && month >= 1 && month <= 12 && day >= 1 && day <= days[month - 1] && v[4] <= 23 && v[5] <= 59 &&
        v[6] <= 59)
        return {};
    std::string bytes;
    for (int i = 0; i < 7; ++i) bytes += (i ? " " : "") + hex8(d[11 + i]).substr(2);
    return "a power-on time that is no time (" + bytes + ")";
}

// The run-time record's 22 bytes, one named value a line.
int cmdTimeReport(Client& c, const Args&) {
    Bytes d;
    const int rc = c.run(0x92, {}, Expect::exactly(22, powerOnTimeFault), &d);
    if (rc != 0) return rc;
    auto le = [&](size_t at, size_t n) {
        u32 v = 0;
        for (size_t k = n; k-- > 0;) v = v << 8 | d[at + k];
        return unsigned(v);
    };
    auto two = [&](size_t at) { return Utils::fromBcd(d[at]); };
    print("total minutes %u\nminutes since power-on %u\nsequence %u\n", le(0, 4), le(4, 4), le(8, 3));
    print("power-on %02d%02d-%02d-%02d %02d:%02d:%02d\n", two(12), two(11), two(13), two(14), two(15), two(16),
          two(17));
    print("minutes reported since power-on %u\n", le(18, 4));
    return rc;
}

// A frame for the receiving cards, passed through the FPGAs. Its header
// bytes are the cards' (mode, port), so it carries no tag: its answer is the
// cards' reply with its command, the one frame a run sends. The reply of a
// RAM read (command 0x61: u32 address, u32 length) is cut to the bytes asked
// for, which follow its status byte: a card may answer with a whole page.
// Any other reply of status 0 is printed whole.
int cmdCard(Client& c, const Args& a) {
    const Bytes frame = hexBytes(a[0], "HEX");
    if (frame.size() < 10 || frame.size() > 1022) fail("card: 10 to 1022 bytes before the check byte");
    // A short read would have the check byte taken for the top of its length.
    if (frame[9] == 0x61 && frame.size() < 18) fail("card: a RAM read (0x61) takes a u32 address and a u32 length");
    const bool read = frame[9] == 0x61;
    const u32 asked = read ? u32(frame[14]) | u32(frame[15]) << 8 | u32(frame[16]) << 16 | u32(frame[17]) << 24 : 0;
    // The device may hold the frame before it goes out (behind the
    // controller's own frame, then for busy send buffers).
    c.setWait(ClientWait::cards(c.timeout()));
    Bytes reply;
    if (const int rc = c.cards(frame, asked, reply)) return rc;
    // Another status than done is said and fails, as the controller's.
    if (reply[10] != 0) {
        say("the cards answered status " + std::to_string(reply[10]));
        return 1;
    }
    if (!read) {
        printHex(reply);
        return 0;
    }
    constexpr long kData = 11;  // after the command and the status byte
    printHex(Bytes(reply.begin() + kData, reply.begin() + kData + long(asked)));
    return 0;
}

int cmdNetwork(Client& c, const Args& a) {
    Bytes req;
    putAddress(req, a[0], "IP");
    putAddress(req, a[1], "MASK");
    putAddress(req, a[2], "GATEWAY");
    return c.run(0x93, req, Expect::exactly(0));
}

// The serial flash goes in chunks of at most one reply's worth.
constexpr u32 kFlashChunk = 1024;
constexpr u64 kFlashBytes = 32u * 1024 * 1024;

int cmdFlashErase(Client& c, const Args& a) {
    Bytes req;
    const u32 start = u32(number(a[0], "START", 0, 0xFFFF));
    const u32 mode = u32(number(a[1], "MODE", 0, 2));
    const u32 count = u32(number(a[2], "COUNT", 0, 0xFFFF));
    // The device's own check: aligned to the block size, ending within the flash.
    if (!c331_manage::flash_erase_ok(int(start), int(count), int(mode)))
        fail("START " + a[0] + ", MODE " + a[1] + " and COUNT " + a[2] +
             " must name blocks aligned to their size that end within the 32 MiB flash");
    put16(req, start);
    req.push_back(u8(mode));
    put16(req, count);
    c.setWait(ClientWait::erase(c.timeout(), count));
    return c.run(0x70, req, Expect::exactly(0));
}

int cmdFlashWrite(Client& c, const Args& a) {
    const u64 addr = number(a[0], "ADDRESS", 0, kFlashBytes - 1);
    const u64 room = kFlashBytes - addr;
    const std::string most = std::to_string(room) + (room == 1 ? " byte" : " bytes");
    const Bytes content = inputFile(a[1], room, most + " (from ADDRESS to the flash's end)");
    int rc = 0;
    for (size_t off = 0; rc == 0 && off < content.size(); off += kFlashChunk) {
        const size_t n = std::min<size_t>(kFlashChunk, content.size() - off);
        Bytes req;
        put32(req, u32(addr + off));
        put32(req, u32(n));
        req.insert(req.end(), content.begin() + long(off), content.begin() + long(off + n));
        const u64 pages = (addr + off + n - 1) / 256 - (addr + off) / 256 + 1;
        c.setWait(ClientWait::write(c.timeout(), pages));
        rc = c.run(0x71, req, Expect::exactly(0));
    }
    return rc;
}

int cmdFlashRead(Client& c, const Args& a) {
    const u64 addr = number(a[0], "ADDRESS", 0, kFlashBytes - 1);
    const u64 len = number(a[1], "LENGTH", 1, kFlashBytes - addr);
    OutputFile file(a[2]);
    Bytes all;
    int rc = 0;
    for (u64 off = 0; rc == 0 && off < len; off += kFlashChunk) {
        const u32 n = u32(std::min<u64>(kFlashChunk, len - off));
        Bytes req, d;
        put32(req, u32(addr + off));
        put32(req, n);
        rc = c.run(0x72, req, Expect::exactly(n), &d);
        all.insert(all.end(), d.begin(), d.end());
    }
    if (rc == 0) file.write(all);
    return rc;
}

struct Command {
    const char* name;
    const char* args;
    u8 code;  // protocol command
    size_t minArgs, maxArgs;
    const char* summary;
    const char* detail;
    int (*run)(Client&, const Args&);
};

const Command kCommands[] = {
    {"info", "", 0x90, 0, 0, "device id, software version, address, mask, gateway", "", cmdInfo},
    {"ram-read", "ADDR LEN", 0x61, 2, 2, "LEN (1 to 1024) bytes from ADDR, as hexadecimal",
     "ADDR 0x000000-0x000FFF is the parameter image, 0x001000-0x010FFF the user-mode slots\n"
     "(slot s at s x 0x1000), 0x200000-0x2003FF the status registers.",
     cmdRamRead},
    {"ram-write", "ADDR BYTES", 0x60, 2, 2, "writes hexadecimal BYTES at ADDR, e.g. ram-write 0x882 3c00",
     "Image writes are applied at once; user-mode slot writes once register 161 bit 2 is set\n"
     "(reg-write 0 161 0x04 0x04).",
     cmdRamWrite},
    {"word-read", "OFFSET", 0x61, 1, 1, "one 16-bit word of the parameter image, in decimal",
     "OFFSET is the word's even byte offset in the image, 0 to 4094 (docs/parameters.md).", cmdWordRead},
    {"word-write", "OFFSET VALUE", 0x60, 2, 2, "writes one 16-bit word of the parameter image",
     "OFFSET is even, 0 to 4094; VALUE 0 to 65535. Example: word-write 868 5 saves the\n"
     "current settings as user mode 5.",
     cmdWordWrite},
    {"reg-read", "TARGET REG COUNT", 0xA1, 3, 3, "COUNT bytes of registers from REG, as hexadecimal",
     "TARGET 0 the controller (REG 0 to 1060), 1 FPGA 0, 2 FPGA 1.", cmdRegRead},
    {"reg-write", "TARGET REG MASK VALUE", 0xA0, 4, 4, "stores VALUE under MASK in register REG",
     "TARGET 0 the controller (REG 0 to 169), 1 FPGA 0, 2 FPGA 1. Register 161 acts on the\n"
     "mask bits: 0x02 applies what was written into the image, 0x04 the user-mode slots.\n"
     "Registers 33 to 36 ask for debug dumps and tests printed on the program's console,\n"
     "e.g. reg-write 0 35 0xFF 1 (full parameter dump); see docs/protocol.md.",
     cmdRegWrite},
    {"send-file", "TYPE PATH [NAME]", 0x80, 2, 3, "sends a file (commands 0x80, 0x81, 0x82)",
     "TYPE 9 card recovery file, 13 scan file (NAME starts with QDFR), 20 OSD menu,\n"
     "21 alias names, 30 kernel image, 31 boot logo. NAME defaults to the file's name and\n"
     "holds at most 64 bytes. The file holds at most 64 KiB (alias names), 1 MiB (OSD\n"
     "menu) or 5 MiB (the others).",
     cmdSendFile},
    {"delete-files", "", 0x83, 0, 0, "deletes the scan and card recovery files on the device", "", cmdDeleteFiles},
    {"set-clock", "[YYYY-MM-DD HH:MM:SS]", 0x91, 0, 2, "sets the device's clock (default: this PC's time)",
     "Without a time, or with \"now\", this PC's local time is sent.\nExample: set-clock 2024-05-06 07:08:09", cmdSetClock},
    {"time-report", "", 0x92, 0, 0, "the run-time record: minutes, sequence, power-on time",
     "Total minutes counted, minutes since power-on, the sequence number of the record group,\n"
     "the power-on time (from the device clock) and the minutes reported since power-on;\n"
     "see docs/protocol.md (0x92).",
     cmdTimeReport},
    {"card", "HEX", 0x00, 1, 1, "sends a frame to the receiving cards and prints the reply",
     "HEX is the frame without its check byte: destination, source F010, 10, class, mode,\n"
     "port (1-12 FPGA 0, 13-24 FPGA 1, 0xFF all), 0, command, data. The reply is printed\n"
     "whole, but for a RAM read (command 0x61) only the bytes read; a reply of another\n"
     "status than 0 is said, and the exit status is 1. Example, a card search\n"
     "on port 1: card fe0f10f010aaff010010000000\n"
     "Reading 4 bytes of RAM at 0x180 (the position the quick set-up stores, x then y, u16\n"
     "each) of card 2 on port 1, command 0x61 with u32 address and u32 length:\n"
     "card 020010f010aa010100618001000004000000 prints those 4 bytes.\n"
     "It waits the time-out and 6 s more: the device may hold a frame for the cards that\n"
     "long before it goes out.\n",
     cmdCard},
    {"network", "IP MASK GATEWAY", 0x93, 3, 3, "sets the device's address, mask and gateway",
     "Example: network 192.168.1.199 255.255.255.0 192.168.1.1\n"
     "The reply may be lost when the address changes.",
     cmdNetwork},
    {"flash-erase", "START MODE COUNT", 0x70, 3, 3, "erases COUNT blocks of the video processor's serial flash",
     "START is a 4 KiB block number; MODE 0 erases 4 KiB blocks, 1 32 KiB, 2 64 KiB (START\n"
     "aligned to the block size); the range must end within the 32 MiB flash. Waits its\n"
     "time-out, 1 s and 3.2 s per block for the answer (its erase, then reading it back).\n"
     "The fonts and the OSD bitmap lie below 0x10D4000; above it the flash is free. Example:\n"
     "flash-erase 6144 0 1 erases 0x1800000-0x1800FFF.",
     cmdFlashErase},
    {"flash-write", "ADDRESS FILE", 0x71, 2, 2, "writes FILE into the serial flash at ADDRESS",
     "Sent in 1024-byte pieces; waits for each its time-out, 1.1 s and 0.4 s for each\n"
     "256-byte page it touches. The flash is not erased first: erase the range with\n"
     "flash-erase before, or the bytes come back wrong. Example: flash-write 0x1800000 my.bin",
     cmdFlashWrite},
    {"flash-read", "ADDRESS LENGTH FILE", 0x72, 3, 3, "reads LENGTH bytes of the serial flash into FILE",
     "Read in 1024-byte pieces; FILE is replaced whole once all of it came. A FILE that is\n"
     "one of the client's own descriptors (/dev/stdout, /dev/fd/3) is written through it,\n"
     "where it writes. Example: flash-read 0x1800000 1024 back.bin", cmdFlashRead},
};

const Command* findCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

std::string usageLine(const Command& c) {
    return std::string("zrvctl [LINK] ") + c.name + (*c.args ? " " : "") + c.args;
}

void printHelp() {
    print(
        "zrvctl: client of the device's command protocol\n\n"
        "usage: zrvctl [LINK] [--timeout MS] COMMAND ARGS...\n"
        "       zrvctl help [COMMAND]\n\n"
        "LINK:\n"
        "  --udp HOST[:PORT]   UDP, port %u by default (the default link: --udp 127.0.0.1)\n"
        "  --tcp HOST[:PORT]   TCP, port %u by default\n"
        "  --serial PATH       serial line at 115200 baud\n"
        "  --timeout MS        wait for an answer this long (default %d)\n\n"
        "Commands (numbers in decimal or 0x hexadecimal; protocol command in brackets):\n",
        kUdpPort, kTcpPort, kDefaultTimeoutMs);
    for (const Command& c : kCommands) {
        const std::string left = std::string(c.name) + (*c.args ? " " : "") + c.args;
        print("  %-31s [0x%02X] %s\n", left.c_str(), c.code, c.summary);
    }
    print(
        "\nExit status: 0 the device answered status 0; 1 another status (printed with its\n"
        "meaning); 2 a usage error (a refused argument or serial line, or a file argument\n"
        "that is missing, unreadable, not a regular file, empty or too large for its\n"
        "command: nothing is sent; or an output file or standard output that did not take\n"
        "all it was given, said on standard error);\n"
        "3 no answer, the device closed the connection or the serial line hung up first, or\n"
        "its answer was not the one asked for (nothing of it is printed).\n");
}

void printCommandHelp(const Command& c) {
    print("usage: %s\n[0x%02X] %s\n", usageLine(c).c_str(), c.code, c.summary);
    if (*c.detail) print("%s\n", c.detail);
}

bool isHelp(const std::string& s) { return s == "help" || s == "--help" || s == "-h"; }

// The command line's command; its status. The link it opens is closed when
// it returns, before what it printed is written.
int command(const Args& args) {
    if (args.empty()) {
        printHelp();
        return 2;
    }
    std::string linkKind = "--udp", linkWhere = "127.0.0.1";
    int timeoutMs = kDefaultTimeoutMs;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("-", 0) == 0 && !isHelp(args[i]); ++i) {
        const std::string& opt = args[i];
        if (opt != "--udp" && opt != "--tcp" && opt != "--serial" && opt != "--timeout")
            fail("unknown option " + opt);
        if (i + 1 >= args.size()) fail(opt + " needs a value");
        const std::string& v = args[++i];
        if (opt == "--timeout") {
            timeoutMs = int(number(v, "MS", 1, 600000));
        } else {
            linkKind = opt;
            linkWhere = v;
        }
    }
    if (i >= args.size()) fail("no command given");
    const std::string name = args[i++];
    const Args rest(args.begin() + long(i), args.end());

    if (isHelp(name)) {
        if (rest.empty()) {
            printHelp();
            return 0;
        }
        const Command* c = findCommand(rest[0]);
        if (!c) fail("no command \"" + rest[0] + "\"");
        printCommandHelp(*c);
        return 0;
    }
    const Command* cmd = findCommand(name);
    if (!cmd) fail("no command \"" + name + "\"");
    if (rest.size() == 1 && isHelp(rest[0])) {
        printCommandHelp(*cmd);
        return 0;
    }
    if (rest.size() < cmd->minArgs || rest.size() > cmd->maxArgs) fail("usage: " + usageLine(*cmd));

    Client client(
        [&](const Wait& wait) {
            return linkKind == "--serial" ? openSerial(linkWhere) : openNet(linkWhere, linkKind == "--tcp", wait);
        },
        timeoutMs);
    return cmd->run(client, rest);
}

}  // namespace

int main(int argc, char** argv) {
    // Before the link or a file is opened: one would else take the number
    // of a standard descriptor the client was started without, and a
    // closed standard error would send the client's lines to the device.
    // A closed standard output still takes nothing, as before: a command
    // whose output is lost fails.
    Console::holdStandardDescriptors(Console::HeldWrites::Fail);
    // A file size limit (ulimit -f) makes a write that passes it fail, as a
    // full disk does, rather than end the client with its file half written
    // beside the one it was to replace; an output whose reader has gone (a
    // "| head" that ended) fails as any other that does not take what it is
    // given, said, and so does a connection the device closed.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    return printed(command(Args(argv + 1, argv + argc)));
}
