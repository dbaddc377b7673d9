#include "core/console.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace Console {

namespace {

// What one caller handed over, with the lines lost just before it.
struct Piece {
    std::string text;
    unsigned long long lostBefore;
};

// The queue between the callers and the writer thread of one stream. Each
// stream has its own: standard output sent to a file and standard error to
// a terminal held with flow control, the file still gets every line. Never
// destroyed: a line printed while the process ends (a static's destructor,
// a worker still running) must find it, and the writer may still be held in
// a write.
struct Queue {
    std::mutex mutex;
    std::condition_variable filled;   // a piece came
    std::condition_variable emptied;  // the writer has nothing left
    std::deque<Piece> pieces;
    size_t bytes = 0;
    unsigned long long lost = 0;  // lines that did not fit since the last piece queued
    bool writing = false;         // the writer holds pieces taken from the queue
    bool started = false;
};

// The lines a text stands for: its line ends, and a text without one counts
// as one.
unsigned long long linesIn(const std::string& text) {
    return std::max<unsigned long long>(1, std::count(text.begin(), text.end(), '\n'));
}

// Writes it all to the descriptor; false when the console refused it (a
// reader gone, a terminal hung up, a descriptor closed). Waits as long as
// the console does not take it: nobody waits for this thread but a stop,
// and that for a bounded time. A descriptor that someone else made
// non-blocking is waited on a second at a time instead of spun on.
bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 1000);
        } else {
            return false;
        }
    }
    return true;
}

void writerLoop(Queue& q, int fd) {
    // A terminal set to stop a background job that writes to it ("stty
    // tostop", the program started with "&") would stop the whole process
    // at this thread's first write: blocked here, the signal is not sent
    // and the write goes through, as it does without tostop.
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
    // Lines the console refused since it last took one, and whether what it
    // took last ended its line (a count starts a line of its own).
    unsigned long long refused = 0;
    bool atLineStart = true;
    std::deque<Piece> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(q.mutex);
            q.writing = false;
            if (q.pieces.empty() && q.lost == 0) q.emptied.notify_all();
            while (q.pieces.empty() && q.lost == 0) q.filled.wait_for(lock, std::chrono::seconds(1));
            batch.swap(q.pieces);
            // Lines lost after the last piece: their count closes the batch,
            // with no piece to wait for.
            if (q.lost) batch.push_back({std::string(), q.lost});
            q.lost = 0;
            q.bytes = 0;
            q.writing = true;
        }
        for (Piece& piece : batch) {
            const unsigned long long missing = refused + piece.lostBefore;
            if (missing) {
                char note[160];
                std::snprintf(note, sizeof note, "%sconsole: %llu lines not printed: the console did not take them\n",
                              atLineStart ? "" : "\n", missing);
                if (writeAll(fd, note)) {
                    refused = 0;
                    atLineStart = true;
                } else {
                    refused = missing;
                }
            }
            if (piece.text.empty()) continue;
            if (writeAll(fd, piece.text)) {
                // Written after the note, or the note is still owed.
                atLineStart = piece.text.back() == '\n';
            } else {
                refused += linesIn(piece.text);
            }
        }
        batch.clear();
    }
}

Queue& queue(Stream stream) {
    static Queue* const out = new Queue;
    static Queue* const err = new Queue;
    return stream == Stream::Err ? *err : *out;
}

void put(Stream stream, std::string text) {
    if (text.empty()) return;
    Queue& q = queue(stream);
    std::lock_guard<std::mutex> lock(q.mutex);
    if (!q.started) {
        q.started = true;
        const int fd = stream == Stream::Err ? STDERR_FILENO : STDOUT_FILENO;
        try {
            std::thread writer([&q, fd] { writerLoop(q, fd); });
            pthread_setname_np(writer.native_handle(), "console");
            writer.detach();
        } catch (...) {
            q.started = false;
        }
    }
    // A text larger than the whole queue still goes out once the queue is
    // empty; anything else that does not fit is counted.
    if (!q.started || (q.bytes > 0 && q.bytes + text.size() > kQueueBytes)) {
        q.lost += linesIn(text);
        q.filled.notify_one();
        return;
    }
    q.bytes += text.size();
    q.pieces.push_back({std::move(text), q.lost});
    q.lost = 0;
    q.filled.notify_one();
}

// The length of the UTF-8 character at s (at most n bytes), with its code
// point; 0 when the bytes there are not one (a stray continuation, a
// character cut off, an overlong form, a surrogate, past U+10FFFF).
size_t utf8Char(const unsigned char* s, size_t n, unsigned* cp) {
    const unsigned c = s[0];
    size_t len;
    unsigned lo = 0x80, hi = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        *cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        *cp = c & 0x0F;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        *cp = c & 0x07;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (n < len || s[1] < lo || s[1] > hi) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (s[i] & 0x3F);
    }
    return len;
}

void appendHex(std::string& out, unsigned char c) {
    char code[8];
    std::snprintf(code, sizeof code, "\\x%02X", unsigned(c));
    out += code;
}

// One conversion of a format, taken from the arguments and formatted alone.
// The conversion is the format's own from "%" on: flags, width, precision
// (a "*" replaced by its argument), length and conversion character.
template <class T>
std::string formatted(const std::string& directive, T value) {
    const int n = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (n <= 0) return std::string();
    std::string out(size_t(n) + 1, '\0');
    std::snprintf(&out[0], out.size(), directive.c_str(), value);
    out.resize(size_t(n));
    return out;
}

}  // namespace

std::string escaped(const std::string& text, size_t limit) {
    std::string out;
    out.reserve(std::min(text.size(), limit));
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::string unit;
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t take = 1;
        unit.clear();
        unsigned cp = 0;
        size_t len = 0;
        if (c == '\\') {
            unit = "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            unit = char(c);
        } else if (c == '\n') {
            unit = "\\n";
        } else if (c == '\r') {
            unit = "\\r";
        } else if (c == '\t') {
            unit = "\\t";
        } else if (c >= 0x80 && (len = utf8Char(s + i, n - i, &cp)) != 0) {
            take = len;
            // A C1 control (an 8-bit CSI among them) as a character: each
            // of its bytes escaped; any other character as it is.
            for (size_t k = 0; k < len; ++k) {
                if (cp <= 0x9F)
                    appendHex(unit, s[i + k]);
                else
                    unit += char(s[i + k]);
            }
        } else {
            appendHex(unit, c);
        }
        if (unit.size() > limit - out.size()) break;
        out += unit;
        i += take;
    }
    return out;
}

std::string format(const char* fmt, va_list ap) {
    std::string out;
    va_list args;
    va_copy(args, ap);
    const char* p = fmt;
    while (*p) {
        if (*p != '%') {
            const char* next = std::strchr(p, '%');
            const size_t n = next ? size_t(next - p) : std::strlen(p);
            out.append(p, n);
            p += n;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        const char* start = p++;
        std::string directive = "%";
        while (*p && std::strchr("-+ #0'", *p)) directive += *p++;
        if (*p == '*') {
            directive += std::to_string(va_arg(args, int));
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') directive += *p++;
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                // A negative precision is taken as none.
                const int precision = va_arg(args, int);
                if (precision >= 0) directive += "." + std::to_string(precision);
                ++p;
            } else {
                directive += '.';
                while (*p >= '0' && *p <= '9') directive += *p++;
            }
        }
        // The length modifier; hh and h take an int as none does.
        enum { None, Long, LongLong, Max, Size, Diff, LongDouble } length = None;
        const size_t modifier = std::strspn(p, "hljztL");
        const std::string given(p, std::min<size_t>(modifier, 2));
        if (given == "ll") length = LongLong;
        else if (given[0] == 'l') length = Long;
        else if (given[0] == 'j') length = Max;
        else if (given[0] == 'z') length = Size;
        else if (given[0] == 't') length = Diff;
        else if (given[0] == 'L') length = LongDouble;
        directive += given;
        p += given.size();
        const char conversion = *p;
        if (!conversion) {
            out.append(start);
            break;
        }
        ++p;
        directive += conversion;
        switch (conversion) {
        case 'd':
        case 'i':
            switch (length) {
            case Long: out += formatted(directive, va_arg(args, long)); break;
            case LongLong: out += formatted(directive, va_arg(args, long long)); break;
            case Max: out += formatted(directive, va_arg(args, intmax_t)); break;
            case Size: out += formatted(directive, va_arg(args, ssize_t)); break;
            case Diff: out += formatted(directive, va_arg(args, ptrdiff_t)); break;
            default: out += formatted(directive, va_arg(args, int)); break;
            }
            break;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            switch (length) {
            case Long: out += formatted(directive, va_arg(args, unsigned long)); break;
            case LongLong: out += formatted(directive, va_arg(args, unsigned long long)); break;
            case Max: out += formatted(directive, va_arg(args, uintmax_t)); break;
            case Size: out += formatted(directive, va_arg(args, size_t)); break;
            case Diff: out += formatted(directive, va_arg(args, ptrdiff_t)); break;
            default: out += formatted(directive, va_arg(args, unsigned)); break;
            }
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == LongDouble)
                out += formatted(directive, va_arg(args, long double));
            else
                out += formatted(directive, va_arg(args, double));
            break;
        case 'p': out += formatted(directive, va_arg(args, void*)); break;
        case 'c':
            // Outside text, as every %s.
            if (length == Long)
                out += escaped(formatted(directive, va_arg(args, wint_t)));
            else
                out += escaped(formatted(directive, va_arg(args, int)));
            break;
        case 's':
            if (length == Long) {
                out += escaped(formatted(directive, va_arg(args, const wchar_t*)));
            } else {
                const char* text = va_arg(args, const char*);
                out += escaped(formatted(directive, text ? text : "(null)"));
            }
            break;
        case 'n': (void)va_arg(args, void*); break;
        default: out.append(start, size_t(p - start)); break;
        }
    }
    va_end(args);
    return out;
}

void vprint(Stream stream, const char* fmt, va_list ap) { put(stream, format(fmt, ap)); }

void print(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprint(Stream::Out, fmt, ap);
    va_end(ap);
}

void printErr(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprint(Stream::Err, fmt, ap);
    va_end(ap);
}

void line(const std::string& text, Stream stream) { put(stream, escaped(text) + "\n"); }

void holdStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest number free: this one.
        const int held = ::open("/dev/null", O_RDWR);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
    }
}

bool drain(std::chrono::milliseconds bound) {
    // One bound for both streams.
    const auto until = std::chrono::steady_clock::now() + bound;
    bool drained = true;
    for (const Stream stream : {Stream::Out, Stream::Err}) {
        Queue& q = queue(stream);
        std::unique_lock<std::mutex> lock(q.mutex);
        drained = q.emptied.wait_until(lock, until, [&q] { return q.pieces.empty() && q.lost == 0 && !q.writing; }) &&
                  drained;
    }
    return drained;
}

}  // namespace Console
