#include "core/console.h"

#include <algorithm>
#include <atomic>
#include <cctype>
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
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Console {

namespace {

// What one caller handed over, with the lines lost just before it.
struct Piece {
    std::string text;
    unsigned long long lostBefore;
};

// Where a stream's current line stands, for the cut at kLineMax.
struct LineState {
    size_t column = 0;      // bytes the line holds so far
    bool cut = false;       // the line is full: the rest of it is dropped
    bool coloured = false;  // a colour code of the program's own is in force
};

// The queue between the callers and the writer thread of one stream. Each
// stream has its own: standard output sent to a file and standard error to
// a terminal held with flow control, the file still gets every line. Both
// streams on one console share standard output's (see put()). Never
// destroyed: a line printed while the process ends (a static's destructor,
// a worker still running) must find it, and the writer may still be held in
// a write.
struct Queue {
    std::mutex mutex;
    std::condition_variable filled;   // a piece came
    std::condition_variable emptied;  // the writer has nothing left
    std::condition_variable room;     // the writer took what waited, or a gap began
    std::deque<Piece> pieces;
    size_t bytes = 0;
    unsigned long long lost = 0;  // lines that did not fit since the last piece queued
    // Text was lost since the writer last took the queue: nothing more is
    // taken until it does, so that the gap has one count.
    bool gap = false;
    bool writing = false;  // the writer holds pieces taken from the queue
    bool started = false;
    LineState line;
    // Writes the writer finished, for a caller waiting for room.
    std::atomic<unsigned long long> progress{0};
};

// The lines a text stands for: its line ends, and a text without one counts
// as one.
unsigned long long linesIn(const char* text, size_t n) {
    return std::max<unsigned long long>(1, std::count(text, text + n, '\n'));
}
unsigned long long linesIn(const std::string& text) { return linesIn(text.data(), text.size()); }

// Writes as much of it as the console takes; the bytes written, all of them
// unless the console refused the rest (a reader gone, a terminal hung up, a
// full disk). Waits as long as the console does not take it: nobody waits
// for this thread but a stop, for a bounded time, and a caller at a regular
// file, which counts each write finished. A descriptor that someone else
// made non-blocking is waited on a second at a time instead of spun on.
// Each write ends at a line's end and holds at most PIPE_BUF bytes, which a
// pipe takes whole: standard output and error on one pipe ("2>&1 | less")
// never split each other's lines.
size_t writeAll(int fd, const std::string& text, std::atomic<unsigned long long>& progress) {
    size_t done = 0;
    while (done < text.size()) {
        size_t chunk = std::min<size_t>(text.size() - done, PIPE_BUF);
        if (done + chunk < text.size())
            if (const void* end = ::memrchr(text.data() + done, '\n', chunk))
                chunk = size_t(static_cast<const char*>(end) - (text.data() + done)) + 1;
        const ssize_t n = ::write(fd, text.data() + done, chunk);
        if (n > 0) {
            done += size_t(n);
            ++progress;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, 1000);
        } else {
            // The signal the refusal raised (held in this thread) is taken
            // back, so that it is never delivered later.
            sigset_t raised;
            sigemptyset(&raised);
            sigaddset(&raised, SIGPIPE);
            sigaddset(&raised, SIGXFSZ);
            takeBackPending(raised);
            ++progress;
            break;
        }
    }
    return done;
}

bool colourAfter(const std::string& text, size_t from, size_t to, bool coloured);

// One part of a batch's text: a count note or a caller's piece.
struct Part {
    size_t end;                    // where it ends in the batch's text
    unsigned long long noteCount;  // a note's count; 0 for a piece
};

void writerLoop(Queue& q, int fd) {
    // A terminal set to stop a background job that writes to it ("stty
    // tostop", the program started with "&") would stop the whole process
    // at this thread's first write: blocked here, the signal is not sent
    // and the write goes through, as it does without tostop. A pipe whose
    // reader has gone and a file at its size limit raise signals that end
    // the process unless a handler is installed: blocked, they stay with
    // this thread and the write fails, whenever it comes.
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGTTOU);
    sigaddset(&held, SIGPIPE);
    sigaddset(&held, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &held, nullptr);
    // Lines the console refused since it last took text, and whether what
    // it took last ended its line (a count starts a line of its own).
    unsigned long long refused = 0;
    bool atLineStart = true;
    // Whether what reached the console left a colour in force: the reset
    // that ends it may be among the text it refused, and a count then
    // starts with a reset of its own, so that a gap never leaves the
    // console coloured.
    bool colouredOut = false;
    std::deque<Piece> batch;
    std::string text;
    std::vector<Part> parts;
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
            q.gap = false;
            q.writing = true;
            q.room.notify_all();
        }
        // The batch as one text, each count where its gap is.
        batch.front().lostBefore += refused;
        refused = 0;
        text.clear();
        parts.clear();
        bool coloured = colouredOut;  // at the end of the batch's text so far
        for (const Piece& piece : batch) {
            if (piece.lostBefore) {
                char note[160];
                const bool lineStart = text.empty() ? atLineStart : text.back() == '\n';
                std::snprintf(note, sizeof note, "%s%sconsole: %llu lines not printed: the console did not take them\n",
                              coloured ? "\033[0m" : "", lineStart ? "" : "\n", piece.lostBefore);
                coloured = false;
                text += note;
                parts.push_back({text.size(), piece.lostBefore});
            }
            if (piece.text.empty()) continue;
            text += piece.text;
            coloured = colourAfter(text, parts.empty() ? 0 : parts.back().end, text.size(), coloured);
            parts.push_back({text.size(), 0});
        }
        batch.clear();
        const size_t written = writeAll(fd, text, q.progress);
        colouredOut = colourAfter(text, 0, written, colouredOut);
        // What reached the console, a part of a line too, says where the
        // next text starts.
        if (written > 0) atLineStart = text[written - 1] == '\n';
        // What did not: a count still owed, the lines of a piece that did
        // not reach the console whole.
        size_t begin = 0;
        for (const Part& part : parts) {
            if (part.end > written) {
                const size_t from = std::max(begin, written);
                refused += part.noteCount ? part.noteCount : linesIn(text.data() + from, part.end - from);
            }
            begin = part.end;
        }
    }
}

Queue& queue(Stream stream) {
    static Queue* const out = new Queue;
    static Queue* const err = new Queue;
    return stream == Stream::Err ? *err : *out;
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

// The length of the unit of text at i that a cut must not split: an escape
// ("\x1B", "\\"), a colour code or another escape sequence, a UTF-8
// character; else one byte.
size_t unitAt(const std::string& text, size_t i) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    if (i + 1 == n || s[i + 1] == '\n') return 1;
    if (s[i] == '\\') return s[i + 1] == 'x' && i + 3 < n && std::isxdigit(s[i + 2]) && std::isxdigit(s[i + 3]) ? 4 : 2;
    if (s[i] == 0x1B) {
        if (s[i + 1] != '[') return 2;
        size_t j = i + 2;
        while (j < n && s[j] >= 0x20 && s[j] <= 0x3F) ++j;
        return (j < n && s[j] >= 0x40 && s[j] <= 0x7E ? j + 1 : j) - i;
    }
    unsigned cp;
    const size_t len = s[i] >= 0x80 ? utf8Char(s + i, n - i, &cp) : 0;
    return len ? len : 1;
}

// What the unit of `len` bytes at i does to the colour in force: a colour
// code sets one, or resets it when it holds only 0s and ;s.
enum class Colour { None, Set, Reset };
Colour colourOf(const std::string& text, size_t i, size_t len) {
    if (len < 3 || text[i] != 0x1B || text[i + 1] != '[' || text[i + len - 1] != 'm') return Colour::None;
    return text.find_first_not_of("0;", i + 2) == i + len - 1 ? Colour::Reset : Colour::Set;
}

// Whether a colour of the program's own is in force after the text's bytes
// from..to, given whether one was before them: for a count that follows
// text the console took, perhaps without the reset that was to end it.
bool colourAfter(const std::string& text, size_t from, size_t to, bool coloured) {
    for (size_t i = from, len; i < to; i += len) {
        len = unitAt(text, i);
        if (i + len > to) break;
        if (const Colour c = colourOf(text, i, len); c != Colour::None) coloured = c == Colour::Set;
    }
    return coloured;
}

// The text as the console shows it after what the stream's line already
// holds: each line cut at kLineMax. A line's end always stays; past the
// cut, only the program's reset of a colour in force goes out, for which
// a coloured line keeps room. The text's own bytes are the format's and
// escaped arguments: an escape byte in it is the program's own.
std::string cutLines(const std::string& text, LineState& line) {
    static const std::string kReset = "\033[0m";
    constexpr size_t kRoom = kLineMax - 1;  // the newline's byte kept
    std::string out;
    out.reserve(std::min(text.size(), kLineMax));
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\n') {
            out += '\n';
            line.column = 0;
            line.cut = false;
            ++i;
            continue;
        }
        const size_t len = unitAt(text, i);
        const Colour colour = colourOf(text, i, len);
        const bool reset = colour == Colour::Reset;
        if (!line.cut) {
            const bool colouredAfter = colour == Colour::None ? line.coloured : !reset;
            if (line.column + len + (colouredAfter ? kReset.size() : 0) <= kRoom) {
                out.append(text, i, len);
                line.column += len;
                line.coloured = colouredAfter;
                i += len;
                continue;
            }
            line.cut = true;
        }
        if (reset && line.coloured) {
            out += kReset;
            line.column += kReset.size();
            line.coloured = false;
        }
        i += len;
    }
    return out;
}

// Whether the stream's descriptor is a regular file, which has no reader
// that may stop taking lines.
bool regularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether the two descriptors lead to one console: the same file, terminal
// or pipe ("2>&1", a terminal both were opened on).
bool sameConsole(int a, int b) {
    struct stat sa {}, sb {};
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Waits, the queue's lock let go meanwhile, until the writer has taken what
// waits or room for `size` bytes has come; false when the writer finished
// no write for kStallWait, or another caller found it so.
bool waitForRoom(Queue& q, std::unique_lock<std::mutex>& lock, size_t size) {
    for (;;) {
        const unsigned long long seen = q.progress.load();
        if (q.room.wait_for(lock, kStallWait, [&] { return q.gap || q.bytes == 0 || q.bytes + size <= kQueueBytes; }))
            return !q.gap;
        if (q.progress.load() == seen) return false;
    }
}

void put(Stream stream, const std::string& text) {
    if (text.empty()) return;
    // Standard error on the console of standard output goes through its
    // queue and writer: the console's line is one line, cut as one, and the
    // lines of both come in the order they were printed. Asked at each text:
    // the descriptors may be given another file at any time.
    if (stream == Stream::Err && sameConsole(STDOUT_FILENO, STDERR_FILENO)) stream = Stream::Out;
    Queue& q = queue(stream);
    const int fd = stream == Stream::Err ? STDERR_FILENO : STDOUT_FILENO;
    std::unique_lock<std::mutex> lock(q.mutex);
    if (!q.started) {
        q.started = true;
        try {
            std::thread writer([&q, fd] { writerLoop(q, fd); });
            pthread_setname_np(writer.native_handle(), "console");
            writer.detach();
        } catch (...) {
            q.started = false;
        }
    }
    for (;;) {
        LineState line = q.line;
        std::string shown = cutLines(text, line);
        if (shown.empty()) {
            q.line = line;
            return;
        }
        // A text larger than the whole queue still goes out once the queue
        // is empty.
        if (q.started && !q.gap && (q.bytes == 0 || q.bytes + shown.size() <= kQueueBytes)) {
            q.line = line;
            q.bytes += shown.size();
            q.pieces.push_back({std::move(shown), q.lost});
            q.lost = 0;
            q.filled.notify_one();
            return;
        }
        if (q.started && !q.gap && regularFile(fd) && waitForRoom(q, lock, shown.size())) continue;
        // Counted: its count, where the writer puts it, ends a line, so the
        // next text starts one.
        q.gap = true;
        q.room.notify_all();
        q.line.column = 0;
        q.line.cut = false;
        q.lost += linesIn(shown);
        q.filled.notify_one();
        return;
    }
}

}  // namespace

std::string escaped(const std::string& text, size_t limit, size_t* taken) {
    std::string out;
    out.reserve(std::min(text.size(), limit));
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::string unit;
    size_t i = 0;
    while (i < n) {
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
    if (taken) *taken = i;
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
                out += escaped(formatted(directive, va_arg(args, wint_t)), kLineMax);
            else
                out += escaped(formatted(directive, va_arg(args, int)), kLineMax);
            break;
        case 's':
            if (length == Long) {
                out += escaped(formatted(directive, va_arg(args, const wchar_t*)), kLineMax);
            } else {
                const char* text = va_arg(args, const char*);
                out += escaped(formatted(directive, text ? text : "(null)"), kLineMax);
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

void line(const std::string& text, Stream stream) { put(stream, escaped(text, kLineMax) + "\n"); }

void takeBackPending(const sigset_t& held) {
    const timespec now{0, 0};
    while (::sigtimedwait(&held, nullptr, &now) > 0) {
    }
}

void holdStandardDescriptors(HeldWrites writes) {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest number free: this one.
        const int held = ::open("/dev/null", writes == HeldWrites::Fail ? O_RDONLY : O_RDWR);
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
