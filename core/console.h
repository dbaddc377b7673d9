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
// does not take lines never holds standard output). The descriptors are
// left blocking: their file description is shared with the terminal and
// the shell that started the program, which a non-blocking flag would
// break. While the console does not take its lines the queue fills; what
// does not fit is counted, and the count is printed where the gap is once
// the console takes lines again ("console: N lines not printed ...").
//
// Text from outside (a PC's names and texts, a stick's file names, a file's
// contents) can never reach the console as a line of its own or as a
// terminal command: every %s and %c argument of a format is escaped as the
// log escapes it (escaped() below), while the format itself, the program's
// own text with its line ends and colour codes, is printed as it is.
#include <chrono>
#include <cstdarg>
#include <string>

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
// that would not fit whole.
std::string escaped(const std::string& text, size_t limit = std::string::npos);

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
void holdStandardDescriptors();

// The most text the queue holds (bytes) before further text is counted
// as lost.
constexpr size_t kQueueBytes = 64 * 1024;

}  // namespace Console
