#pragma once
// A fresh simulated board and a temporary root folder for each test.
#include "platform/board.h"
#include "platform/root.h"
#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <cstdlib>
#include <functional>

#include <string>
#include <vector>

class ZrvRamPara;

class SimEnv : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    SimBoard& board() { return *m_board; }
    // Host path of a device path under the test's root.
    std::string hostPath(const std::string& devicePath) const { return Root::path(devicePath); }
    // Switches the board to virtual time; returns the clock.
    ManualClock& useManualClock();

private:
    QTemporaryDir m_dir;
    SimBoard* m_board = nullptr;
    ManualClock* m_manual = nullptr;
};

// How long a test waits for what a thread of the program runs through in
// virtual time on its own (a bring-up of the FPGAs, a card job, a refresh
// it raised): the thread gives the CPU away at each of its virtual sleeps,
// so on a loaded machine what takes it a fraction of a second takes many.
// Only a thread that never gets there meets this bound.
constexpr int kThreadWorkMs = 60000;

// Several integer values checked in one assertion, evaluated left to
// right: EXPECT_EQ((Vals{a, b}), (Vals{1, 2})).
struct Vals : std::vector<long long> {
    template <class... T>
    Vals(T... v) : std::vector<long long>{static_cast<long long>(v)...} {}
};

// Makes a parameter model the process's one while it lives.
class ModelInstall {
public:
    explicit ModelInstall(ZrvRamPara* model);
    ~ModelInstall();

private:
    ZrvRamPara* m_saved;
};

// Reads a whole host file; empty when missing.
std::string readHostFile(const std::string& hostPath);
// Bytes this thread has read so far, as the kernel counts its reads.
long long bytesReadByThisThread();
// How often `what` occurs in `text` (overlaps counted).
size_t countIn(const std::string& text, const std::string& what);
// The lines a console's note of those it did not take counts ("console: N
// lines not printed: the console did not take them"); -1 for another line.
long long consoleNoteCount(const std::string& line);
void writeHostFile(const std::string& hostPath, const std::string& data);

// The console's descriptors (standard output and error) on the given ones
// while it lives, what was printed before written out first where it
// belongs, and SIGPIPE and SIGXFSZ at their default, as a start has them
// before it installs its handlers: a write to a console whose reader has
// gone or past the file size limit must fail without them, or the test
// program ends. No check may fail meanwhile: gtest prints on the console
// too.
class ConsoleOn {
public:
    ConsoleOn(int out, int err);
    ~ConsoleOn();

private:
    int m_saved[2];
    struct sigaction m_was[2];
};

// Something other than a regular file, made at a host path in place of
// whatever is there (its folder made first): a folder; a FIFO, whose open
// for reading waits for a writer; a socket, which nobody can open, root
// included (mode bits do not stop root, and unlike a device node it takes
// no privilege to make); a link to a card package of one packed file
// beside it ("<path>.target"). True when made.
enum class Odd { Folder, Fifo, Socket, Link };
bool oddAt(Odd kind, const std::string& hostPath);
inline bool fifoAt(const std::string& devicePath) { return oddAt(Odd::Fifo, Root::path(devicePath)); }
// What stands at the host path: "a folder", "a FIFO", "a socket", "a link",
// "a file" or "nothing" (a link is not followed).
std::string whatIsAt(const std::string& hostPath);
// Runs fn in a thread of its own; true when it ends within 10 s. A thread
// held in the open of the FIFO at the device path, or in a write to it, is
// then released (a writer comes and goes; a reader stays until fn ends and
// takes what is written), so the test ends either way.
bool endsWithoutAWriter(const std::string& fifoDevicePath, const std::function<void()>& fn);

// Calls fn with each source (*.cpp and *.h) under the given folders of the
// source tree: the file from the tree's top and its lines.
void eachSource(const std::vector<const char*>& folders,
                const std::function<void(const std::string& file, const std::vector<std::string>& lines)>& fn);

// Calls fn with each line of the sources (*.cpp and *.h) under the given
// folders of the source tree, and its place: the file from the tree's top
// and the line's number.
void eachSourceLine(const std::vector<const char*>& folders,
                    const std::function<void(const std::string& file, int line, const std::string& text)>& fn);

// The program listens on fixed ports. Where the test may (root, as in CI),
// it enters a network namespace of its own with the loopback interface up,
// so the programs it starts from this thread share nothing with the host or
// with other tests; elsewhere the tests that start the program take turns
// through a lock file for as long as this object lives.
class ProgramNetwork {
public:
    ProgramNetwork();
    ~ProgramNetwork();
    bool isPrivate() const { return m_private; }

private:
    bool m_private = false;
    int m_lock = -1;
};

// A test that cannot run here is skipped, except under CI (CI set in the
// environment), where a skip would hide that it never ran: there it fails.
#define ZRV_SKIP_OR_FAIL_UNDER_CI(why)                                   \
    do {                                                                \
        if (std::getenv("CI"))                                          \
            FAIL() << why << " (a skip under CI counts as a failure)"; \
        else                                                            \
            GTEST_SKIP() << why;                                        \
    } while (0)
