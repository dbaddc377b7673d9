#pragma once
// The program's console (standard output and standard error): the one road
// of everything it prints there, the log's echo, the debug lines and the
// stop lines alike.
//
// Printing never waits for whatever stands at the other end. The console
// may be a terminal paused with flow control, a pipe nobody reads ("| less"
// held), or a pipe whose reader has gone ("| head"): a caller (the c331
// thread under its manager's mutex, the GUI thread at a stop) must not
// stand still with it. So a caller only hands its text to a queue, and a
// writer thread of the stream's own writes it out (a standard error that
// does not take lines never holds standard output); standard error that is
// the same file, terminal or pipe as standard output ("2>&1") goes through
// standard output's queue and writer, so that the console's one line is cut
// as one and the lines of both keep their order. The descriptors are
// left blocking: their file description is shared with the terminal and
// the shell that started the program, which a non-blocking flag would
// break. While the console does not take its lines the queue fills; what
// does not fit is counted, and the count is printed where the gap is once
// the console takes lines again ("console: N lines not printed ..."), after
// a reset of the colour that what the console took left in force. Once
// a text did not fit, nothing more is taken until the writer has taken
// what waits, so a gap is one gap with one count, not a gap broken by the
// short texts that still fitted. A console that is a regular file has no
// reader that may stop: there a caller waits for room for as long as the
// writer gets text into the file, and at most kStallWait past the last
// write it finished (a disk that hangs); a full disk refuses at once.
//
// A writer's write to a pipe whose reader has gone, or past the file size
// limit, fails (EPIPE, EFBIG) whatever the process's signal handlers are
// at the time: the writers hold SIGPIPE and SIGXFSZ, which would end the
// process, and take back the one such a write raised.
//
// Text from outside (a PC's names and texts, a stick's file names, a file's
// contents) can never reach the console as a line of its own or as a
// terminal command: every %s and %c argument of a format is escaped as the
// log escapes it (escaped() below), while the format itself, the program's
// own text with its line ends and colour codes, is printed as it is. No
// console line is longer than a log line (kLineMax, its newline included):
// what a line holds past that is dropped, wherever it comes from (a long
// argument, a line printed in many pieces), cut between two characters,
// escapes or colour codes, never inside one; the line's end stays, and so
// does the program's reset of a colour in force at the cut, so that a cut
// line never leaves the terminal coloured.
#include <chrono>
#include <cstdarg>
#include <string>

#include <signal.h>

namespace Console {

enum class Stream { Out, Err };

// printf's road for standard output: the format is the program's own and is
// printed as it is; every %s and %c argument is escaped.
void print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same for standard error.
void printErr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vprint(Stream stream, const char* fmt, va_list ap);
// The text print would hand to the console, for a test's own sink.
std::string format(const char* fmt, va_list ap);
// A line of outside text: the text escaped, then a newline.
void line(const std::string& text, Stream stream = Stream::Out);

// Outside text as one line of plain characters: a control character (C0,
// DEL, and the C1 controls U+0080 to U+009F) is written as an escape ("\n",
// "\r", "\t", "\x1B", "\xC2\x9B"), so are the bytes that are not UTF-8, and
// a backslash is written "\\", so that no escape can be forged by text that
// spells one. Other UTF-8 characters (a Chinese name) stay as they are. At
// most `limit` bytes: the text is cut before the first escape or character
// that would not fit whole; `taken`, when given, gets the number of the
// text's bytes that the result stands for.
std::string escaped(const std::string& text, size_t limit = std::string::npos, size_t* taken = nullptr);

// Takes back, without waiting, each of the signals pending for the calling
// thread, which holds them: the one a write that failed raised (a pipe's
// reader gone, a file at its size limit) is then never delivered later.
void takeBackPending(const sigset_t& held);

// The longest console line, as the longest log line: bytes, its newline
// included.
constexpr size_t kLineMax = 511;

// Waits, at most `bound`, until everything handed over so far has been
// written or counted as lost; true when it has. The stop calls it before
// the process ends, so the stop lines reach a console that takes them.
bool drain(std::chrono::milliseconds bound);
// How long a process about to end waits for the console to take its last
// lines.
constexpr std::chrono::milliseconds kLastLinesWait{2000};

// Holds each standard descriptor that is closed (a launcher that closed
// the console) open on /dev/null: else the next file the program opens
// would take its number and get the console's lines. Call first in main.
// What a write to a held descriptor does: the program's console goes into
// /dev/null; a tool's output may fail as on the closed descriptor (EBADF),
// so that what it had to print is never taken for printed.
enum class HeldWrites { Vanish, Fail };
void holdStandardDescriptors(HeldWrites writes = HeldWrites::Vanish);

// The most text the queue holds (bytes) before further text is counted
// as lost.
constexpr size_t kQueueBytes = 64 * 1024;
// How long a caller waits for room in the queue of a console that is a
// regular file, past the writer's last finished write.
constexpr std::chrono::milliseconds kStallWait{2000};

}  // namespace Console
