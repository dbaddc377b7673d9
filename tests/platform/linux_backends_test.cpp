// The real backends off the device: missing or wrong nodes fail cleanly,
// the GPIO table drives the right registers, the SoC id is read from the
// right words, and the uevent socket shares the netlink group.
#include "core/console.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "platform/linux/linux_gpio.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/linux_touch.h"
#include "platform/linux/linux_uevent.h"
#include "platform/root.h"
#include "support/test_env.h"
#include "video_engine/c331_chip_print.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

std::unique_ptr<Board> makeLinuxBoard();

namespace {

using LinuxBackends = SimEnv;  // a temporary root to point the real board at

TEST_F(LinuxBackends, MissingOrWrongNodesFailWithoutCrashing) {
    auto real = makeLinuxBoard();
    ASSERT_FALSE(real->isSimulated());

    auto spi = real->openSpi("/dev/spidev32766.0");
    ASSERT_TRUE(spi);
    uint8_t buf[8] = {};
    I2cMsg msg{0x50, 0, 1, buf};
    auto i2c = real->openI2c("/dev/i2c-0");
    auto mtd = real->openMtd("/dev/mtd10");
    MtdInfo info;
    auto touch = real->openTouch("/dev/input/event1");
    uint16_t x = 7, y = 7, z = 7;
    // Every node missing: nothing opens and every request fails.
    EXPECT_EQ((Vals{spi->isOpen(), spi->configure(3, 10000000), spi->transfer(buf, buf, sizeof buf), i2c->isOpen(),
                    i2c->transfer(&msg, 1), mtd->isOpen(), mtd->getInfo(info), mtd->erase(0, 0x10000),
                    mtd->pwrite(buf, sizeof buf, 0), mtd->pread(buf, sizeof buf, 0),
                    real->openSerial("/dev/ttyS2", 115200)->isOpen(), touch->isOpen(), touch->takeActivity(),
                    real->gpio().isOpen(), real->gpio().setLine(GpioName::kFpga0Select, 1),
                    real->gpio().getLine(GpioName::kFpga0Irq), real->readSocIdWords(x, y, z)}),
              (Vals{0, -1, -1, 0, -1, 0, -1, -1, -1, -1, 0, 0, 0, 0, -1, -1, 0}));

    // Plain files where device nodes belong: they open, but the set-up
    // requests fail and say so.
    writeHostFile(hostPath("/dev/spidev32766.1"), "x");
    writeHostFile(hostPath("/dev/i2c-0"), "x");
    writeHostFile(hostPath("/dev/mtd8"), std::string(64, 'x'));
    writeHostFile(hostPath("/dev/ttyS1"), "x");
    writeHostFile(hostPath("/dev/mem"), std::string(4096, '\0'));
    EXPECT_EQ((Vals{real->openSpi("/dev/spidev32766.1")->configure(3, 10000000),
                    real->openI2c("/dev/i2c-0")->transfer(&msg, 1), real->openMtd("/dev/mtd8")->getInfo(info),
                    real->openSerial("/dev/ttyS1", 115200)->isOpen()}),
              (Vals{-1, -1, -1, 0}));
    EXPECT_FALSE(real->readSocIdWords(x, y, z)) << "a file ending before the id block must not be mapped";
    EXPECT_EQ(x, 7);
}

TEST_F(LinuxBackends, SocIdWordsComeFromTheIdRegisters) {
    // A sparse stand-in for "/dev/mem" reaching the SoC's id block.
    const std::string mem = hostPath("/dev/mem");
    writeHostFile(mem, "");
    const int fd = ::open(mem.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 0x1F2B0000), 0);
    auto put = [fd](off_t at, uint16_t v) { ASSERT_EQ(::pwrite(fd, &v, 2, at), 2); };
    put(0x1F00400C, 0xFFFF);
    put(0x1F004058, 0x1234);
    put(0x1F00405C, 0x5678);
    put(0x1F004060, 0x9ABC);
    put(0x1F004054, 0x1111);  // neighbours that must not be taken
    put(0x1F004064, 0x2222);

    uint16_t x = 0, y = 0, z = 0;
    ASSERT_TRUE(makeLinuxBoard()->readSocIdWords(x, y, z));
    EXPECT_EQ((Vals{x, y, z}), (Vals{0x1234, 0x5678, 0x9ABC}));
    uint16_t control = 0;
    ASSERT_EQ(::pread(fd, &control, 2, 0x1F00400C), 2);
    EXPECT_EQ(control, 0xFEFF) << "only bit 8 of the control register is cleared";
    ::close(fd);
}

TEST_F(LinuxBackends, ShellCommandsEndWithinTheirTimeOutWithTheirChildren) {
    // Harmless commands only: this runs the host's real shell.
    LinuxShellRunner shell(300);
    EXPECT_EQ((Vals{shell.run("true"), WEXITSTATUS(shell.run("exit 3"))}), (Vals{0, 3}));

    const std::string marker = hostPath("/late");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(shell.run("(sleep 1; touch '" + marker + "') & sleep 30"), -1);
    const auto took = std::chrono::steady_clock::now() - start;
    // Ended by its time-out, not by its own end: a loaded machine only
    // takes longer to end it.
    EXPECT_LT(took, std::chrono::seconds(30));
    // The command's own child went with it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(readHostFile(marker).empty() && ::access(marker.c_str(), F_OK) != 0);
}

// What `print` puts on the console's standard output and error, each a file
// meanwhile, or with `oneConsole` both the one file (as "2>&1" gives it,
// all of it then standard output's); "(not drained)" when the console did
// not take it all.
std::pair<std::string, std::string> printedBy(const std::function<void()>& print, bool oneConsole = false) {
    const std::string out = Root::path("/out"), err = Root::path("/err");
    bool drained = false;
    {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const ConsoleOn console(outFd, oneConsole ? outFd : errFd);
        ::close(outFd);
        ::close(errFd);
        print();
        drained = Console::drain(std::chrono::seconds(10));
    }
    if (!drained) return {"(not drained)", ""};
    return {readHostFile(out), readHostFile(err)};
}

std::string times(const std::string& text, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += text;
    return out;
}

// A child given the console itself would wait in its write for a console
// that does not take lines until its time-out kills it, and die of SIGPIPE
// on one whose reader has gone: a clock setting answered failed because of
// the console. What a command prints goes through the console's road
// instead: its status is its own, and the lines the console could not take
// are counted as the road counts them.
TEST_F(LinuxBackends, ACommandsStatusIsItsOwnWhateverTheConsoleDoes) {
    constexpr int kLines = 60000;  // of 17 bytes: 1 MiB
    const std::string flood = "yes 0123456789abcdef | head -n " + std::to_string(kLines) + "; echo done >&2";
    LinuxShellRunner shell;
    for (const bool readerGone : {false, true}) {
        SCOPED_TRACE(readerGone ? "a console whose reader has gone" : "a console nobody reads");
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        if (readerGone) ::close(ends[0]);
        int status = -2;
        bool drained = false;
        std::string got;
        std::thread reader;
        {
            const ConsoleOn console(ends[1], ends[1]);
            ::close(ends[1]);
            status = shell.run(flood);
            // Now read: the console's writer held in its write comes free.
            if (!readerGone)
                reader = std::thread([&] {
                    char buf[65536];
                    for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
                });
            drained = Console::drain(std::chrono::seconds(20));
        }  // the pipe's last writer gone: the reader sees its end
        if (reader.joinable()) {
            reader.join();
            ::close(ends[0]);
        }
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(drained);
        if (readerGone) {
            // All refused, and counted where the console takes lines again:
            // one count on the one console, the flood on standard output
            // and "done" on standard error.
            bool drainedErr = false;
            {
                const int file = ::open(hostPath("/console").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
                const ConsoleOn console(file, file);
                ::close(file);
                Console::print("after\n");
                drained = Console::drain(std::chrono::seconds(10));
                Console::printErr("after\n");
                drainedErr = Console::drain(std::chrono::seconds(10));
            }
            EXPECT_TRUE(drained && drainedErr);
            EXPECT_EQ(readHostFile(hostPath("/console")),
                      "console: 60001 lines not printed: the console did not take them\nafter\nafter\n");
            continue;
        }
        // Every line printed or counted.
        long long printed = 0, said = 0, notes = 0;
        std::istringstream lines(got);
        for (std::string line; std::getline(lines, line);) {
            const long long missed = consoleNoteCount(line);
            if (missed >= 0) {
                ++notes;
                said += missed;
            } else if (line == "0123456789abcdef" || line == "done") {
                ++printed;
            } else {
                ADD_FAILURE() << "a line of neither: " << line;
            }
        }
        EXPECT_GE(notes, 1);
        EXPECT_EQ(printed + said, kLines + 1);
    }
}

// What a command prints is outside text: each line reaches the console
// escaped, so no escape sequence of it commands the console and nothing it
// hides behind a carriage return stands as a line of the program's. Its
// standard error reaches the console's standard error. A line it leaves
// unended is printed when it ends, not joined to the next command's; a line
// longer than a console line is printed in pieces that each fill one, cut
// between two characters, so that nothing of it is lost to the console's
// cut.
TEST_F(LinuxBackends, WhatACommandPrintsReachesTheConsoleEscapedALineAtATime) {
    const struct {
        const char* what;
        std::vector<std::string> commands;
        std::string out, err;
    } rows[] = {
        {"an escape sequence and a line forged behind a carriage return",
         {"printf 'ok\\033[2J\\033]0;OWNED\\007\\rfpga: FPGA 1 lost\\n'"},
         "ok\\x1B[2J\\x1B]0;OWNED\\x07\\rfpga: FPGA 1 lost\n", ""},
        {"standard output and error apart", {"echo out; echo err >&2"}, "out\n", "err\n"},
        {"a line left unended", {"printf 'no end'", "echo next"}, "no end\nnext\n", ""},
        // Only its 1 and 2 lead to the pipes: a daemon that kept the read end
        // of one would never see its reader go.
        {"no other end of the pipes",
         {"o=$(readlink /proc/$$/fd/1); e=$(readlink /proc/$$/fd/2); "
          "ls -l /proc/$$/fd | grep -c -F \"$o\"; ls -l /proc/$$/fd | grep -c -F \"$e\""},
         "1\n1\n", ""},
        // Nothing else of the program's, even what it opened inheritable
        // (below). Listed by a subshell into a file: the shell holds a
        // pipeline's pipe, and a redirection's saved descriptor, itself
        // while its command starts.
        {"only the standard descriptors",
         {"f=$(mktemp); (ls /proc/$$/fd > \"$f\"); tr '\\n' ' ' < \"$f\"; rm \"$f\"; echo"}, "0 1 2 \n", ""},
        // 510 bytes a line: "a" and 254 characters of 2 bytes, then 255.
        {"a long line", {"printf a; head -c 3000 /dev/zero | tr '\\0' x | sed 's/x/é/g'"},
         "a" + times("é", 254) + "\n" + times(times("é", 255) + "\n", 10) + times("é", 196) + "\n", ""},
    };
    LinuxShellRunner shell;
    const int inheritable = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(inheritable, STDERR_FILENO);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<int> statuses;
        const auto printed = printedBy([&] {
            for (const std::string& command : row.commands) statuses.push_back(shell.run(command));
        });
        EXPECT_EQ(statuses, std::vector<int>(row.commands.size(), 0));
        EXPECT_EQ(printed, std::make_pair(row.out, row.err));
    }
    ::close(inheritable);
}

// No console line is longer than a log line (511 bytes, its newline
// included), whichever road it takes and however long the outside text it
// quotes: an OSD menu's name of 170,000 control bytes, escaped four bytes
// each. What a line holds past that is dropped, between two escapes or
// characters; its end stays, and so does the program's reset of a colour
// in force, for which a coloured line keeps 4 bytes. A command's line
// comes in pieces, each as long as a line may be. Standard output and
// error on one console ("2>&1") write one line, cut as one, and their
// lines in the order printed.
TEST_F(LinuxBackends, NoConsoleLineIsLongerThanALogLineWhicheverRoadItTakes) {
    const std::string name(170000, '\x01'), chinese = times("屏", 200);
    const std::string x01 = "\\x01";
    g_debugSwitch = 254;
    LinuxShellRunner shell;
    const struct {
        const char* road;
        std::function<void()> print;
        std::string out, err;
        bool oneConsole = false;
    } rows[] = {
        {"a line", [&] { Console::line(name); }, times(x01, 127) + "\n", ""},
        {"a line of standard error", [&] { Console::line(name, Console::Stream::Err); }, "",
         times(x01, 127) + "\n"},
        {"a line that fits whole", [] { Console::line(std::string(510, 'x')); }, std::string(510, 'x') + "\n", ""},
        {"a line one byte longer", [] { Console::line(std::string(511, 'x')); }, std::string(510, 'x') + "\n", ""},
        {"an argument", [&] { Console::print("menu %s loaded\n", name.c_str()); }, "menu " + times(x01, 126) + "\n",
         ""},
        {"an argument of standard error", [&] { Console::printErr("%s\n", name.c_str()); }, "",
         times(x01, 127) + "\n"},
        {"characters of three bytes", [&] { Console::print("a%s\n", chinese.c_str()); },
         "a" + times("屏", 169) + "\n", ""},
        {"the log's echo",
         [&] {
             const LogWhole whole;
             writeLogMsg(WARNING, name);
         },
         times(x01, 127) + "\n", ""},
        {"a debug line", [&] { debugPrintf("osd: %s\n", name.c_str()); }, "osd: " + times(x01, 126) + "\n", ""},
        {"a line printed in pieces",
         [] {
             for (int i = 0; i < 1000; ++i) Console::print("%s", "ab");
             Console::print("\n");
         },
         times("ab", 255) + "\n", ""},
        // The chip's colour, its reset after the line's end (on the next
        // line, here ended).
        {"a coloured debug line",
         [&] {
             c331print::dbg("[%s]\n", name.c_str());
             Console::print("\n");
         },
         "\033[1;34m[" + times(x01, 124) + "\n\033[0m\n", ""},
        {"a reset within the line", [&] { Console::print("\033[5m\033[1;31m%s\033[0m\n", name.c_str()); },
         "\033[5m\033[1;31m" + times(x01, 123) + "\033[0m\n", ""},
        // 170,000 = 1338 pieces of 127, and 74.
        {"a command's line", [&] { shell.run("head -c 170000 /dev/zero | tr '\\0' '\\1'"); },
         times(times(x01, 127) + "\n", 1338) + times(x01, 74) + "\n", ""},
        // 200 + 2 + 308 bytes.
        {"standard error within a line of standard output, on one console",
         [] {
             for (int i = 0; i < 1000; ++i) {
                 if (i == 100) Console::printErr("%s", "ee");
                 Console::print("%s", "ab");
             }
             Console::print("\n");
         },
         times("ab", 100) + "ee" + times("ab", 154) + "\n", "", true},
        {"lines of both streams in turn, on one console",
         [] {
             for (int i = 0; i < 300; ++i) {
                 Console::print("out\n");
                 Console::printErr("err\n");
             }
         },
         times("out\nerr\n", 300), "", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.road);
        const auto printed = printedBy(row.print, row.oneConsole);
        // Compared only when they differ: a mismatch of 680 KB would be
        // printed whole.
        EXPECT_TRUE(printed == std::make_pair(row.out, row.err))
            << printed.first.substr(0, 600) << "|" << printed.second.substr(0, 600);
    }
}

// A daemon started in the background (udhcpd, hostapd) keeps what it was
// given as its output for its whole life: it holds neither the command
// that started it nor the next, and a console nobody reads does not hold it.
TEST_F(LinuxBackends, ABackgroundChildThatKeepsPrintingHoldsNoCommandAndIsNotHeld) {
    // The child's words, on a FIFO the test holds open at both ends.
    const std::string fifo = hostPath("/said"), stop = hostPath("/stop");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int said = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int kept = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_TRUE(said >= 0 && kept >= 0);
    auto hear = [said] {
        pollfd p{said, POLLIN, 0};
        char buf[64] = {};
        return ::poll(&p, 1, 20000) == 1 && ::read(said, buf, sizeof buf - 1) > 0 ? std::string(buf) : "";
    };
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    LinuxShellRunner shell;
    int started = -2, next = -2;
    std::string flooded, ended;
    {
        const ConsoleOn console(ends[1], ends[1]);
        ::close(ends[1]);
        started = shell.run("(yes background | head -n 60000; echo flooded >'" + fifo + "'; while [ ! -e '" + stop +
                            "' ]; do echo background; sleep 0.05; done; echo ended >'" + fifo + "') &");
        flooded = hear();
        next = shell.run("echo next");
        writeHostFile(stop, "");
        ended = hear();
        // The console's reader goes: its writer's held write fails.
        ::close(ends[0]);
        Console::drain(std::chrono::seconds(10));
    }
    ::close(said);
    ::close(kept);
    EXPECT_EQ((Vals{started, next}), (Vals{0, 0}));
    EXPECT_EQ(flooded, "flooded\n");
    EXPECT_EQ(ended, "ended\n");
}

// A command that fails on this board fails each time a PC asks for it: each
// program's failures log the first of each second, then a count.
TEST_F(LinuxBackends, ACommandThatFailsAgainAndAgainLogsItsFirstFailureThenACount) {
    ManualClock& clock = useManualClock();
    LinuxShellRunner shell(3000);
    for (int i = 0; i < 20; ++i) shell.run("exit 3");
    shell.run("false");
    clock.advanceMs(LineLimiter::kPeriodMs);
    LineLimiter::writeDueCounts();
    const std::string log = readHostFile(hostPath(kLogFile));
    std::vector<std::string> lines;
    for (size_t at = 0; at < log.size();) {
        const size_t eol = log.find('\n', at);
        const std::string line = log.substr(at, eol - at);
        lines.push_back(line.substr(line.find("# PELKMSG # ") + 12));
        at = eol + 1;
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"shell command failed (status 768): exit 3",
                                               "shell command failed (status 256): false",
                                               "shell: 19 more failures of exit in the last second"}));
}

TEST(LinuxGpio, LinesDriveTheirRegistersAndNothingElse) {
    std::vector<uint16_t> regs(0x208000 / 2, 0);
    auto* window = reinterpret_cast<volatile uint8_t*>(regs.data());
    LinuxGpio gpio(window, regs.size() * 2);
    auto at = [&](uint32_t off) { return regs[off / 2]; };
    ASSERT_TRUE(gpio.isOpen());

    EXPECT_EQ((Vals{gpio.setLine(GpioName::kFpga0Select, 1), at(0x207810), gpio.getLine(GpioName::kFpga0Select),
                    gpio.setLine(GpioName::kFpga0Select, 0), at(0x207810)}),
              (Vals{0, 0x10, 1, 0, 0}));
    // FPGA 1's command phase and flash select are two registers each; the
    // SDI receiver's reset takes 1, not 0x10.
    EXPECT_EQ((Vals{gpio.setLine(GpioName::kFpga1Command, 1), at(0x20794C), at(0x207954),
                    gpio.setLine(GpioName::kFpga1FlashSelect, 1), at(0x20790C), at(0x207950),
                    gpio.setLine(GpioName::kGs2971Reset, 1), at(0x002848)}),
              (Vals{0, 0x10, 0x10, 0, 0x10, 0x10, 0, 1}));

    // Interrupt inputs: bit 0 only, and never driven.
    regs[0x207908 / 2] = 0x0010;
    EXPECT_EQ(gpio.getLine(GpioName::kFpga0Irq), 0);
    regs[0x207908 / 2] = 0x0001;
    EXPECT_EQ((Vals{gpio.getLine(GpioName::kFpga0Irq), gpio.setLine(GpioName::kFpga0Irq, 0), at(0x207908)}),
              (Vals{1, -1, 1}));

    // Lines whose register is not known, and names that are no line, fail
    // without writing anywhere.
    const std::vector<uint16_t> before = regs;
    for (const char* name : {GpioName::kIt6602Reset, GpioName::kIt6805Reset, GpioName::kEdidWrite,
                             GpioName::kSdiTransmitter, "no_such_line"})
        EXPECT_EQ((Vals{gpio.setLine(name, 1), gpio.getLine(name)}), (Vals{-1, -1})) << name;
    EXPECT_TRUE(regs == before);

    // A window too small for a line refuses it instead of writing past it.
    LinuxGpio small(window, 0x3000);
    EXPECT_EQ((Vals{small.setLine(GpioName::kGs2971Reset, 0), small.setLine(GpioName::kFpga0Select, 1)}),
              (Vals{0, -1}));
}

TEST(LinuxGpio, EveryLineDrivesItsBoardRegistersOnly) {
    std::vector<uint16_t> regs(0x208000 / 2, 0);
    LinuxGpio gpio(reinterpret_cast<volatile uint8_t*>(regs.data()), regs.size() * 2);
    struct Line {
        const char* name;
        std::vector<uint32_t> at;
        uint16_t high;
    };
    const Line lines[] = {{GpioName::kFpga0Select, {0x207810}, 0x10},
                          {GpioName::kFpga1Select, {0x207900}, 0x10},
                          {GpioName::kFpga0Command, {0x207838}, 0x10},
                          {GpioName::kFpga1Command, {0x20794C, 0x207954}, 0x10},
                          {GpioName::kFpga0FlashSelect, {0x207860}, 0x10},
                          {GpioName::kFpga1FlashSelect, {0x20790C, 0x207950}, 0x10},
                          {GpioName::kFpga0Reset, {0x207858}, 0x10},
                          {GpioName::kFpga1Reset, {0x207864}, 0x10},
                          {GpioName::kBoardLow0, {0x207940}, 0x10},
                          {GpioName::kBoardLow1, {0x207944}, 0x10},
                          {GpioName::kBoardHigh, {0x207948}, 0x10},
                          {GpioName::kBoardOne, {0x001F1C}, 1},
                          {GpioName::kGs2971Reset, {0x002848}, 1}};
    for (const Line& l : lines) {
        std::fill(regs.begin(), regs.end(), 0);
        std::vector<uint16_t> want(regs.size(), 0);
        for (uint32_t off : l.at) want[off / 2] = l.high;
        EXPECT_EQ(gpio.setLine(l.name, 1), 0) << l.name;
        EXPECT_TRUE(regs == want) << l.name;
    }
    // The interrupt inputs are read at 0x207908 and 0x207910.
    std::fill(regs.begin(), regs.end(), 0);
    regs[0x207910 / 2] = 1;
    EXPECT_EQ((Vals{gpio.getLine(GpioName::kFpga0Irq), gpio.getLine(GpioName::kFpga1Irq)}), (Vals{0, 1}));
}

TEST(LinuxGpio, BoardTableHasNoDuplicates) {
    size_t count = 0;
    const GpioLineDesc* table = gpioBoardTable(count);
    std::set<std::string> names;
    std::set<uint32_t> offsets;
    for (size_t i = 0; i < count; ++i) {
        EXPECT_TRUE(names.insert(table[i].name).second) << table[i].name;
        for (uint32_t off : {table[i].offset, table[i].offset2}) {
            if (off == GpioLineDesc::kUnknown) continue;
            EXPECT_EQ(off % 2, 0u) << table[i].name;
            EXPECT_TRUE(offsets.insert(off).second) << table[i].name << " shares a register";
        }
    }
}

TEST_F(LinuxBackends, TouchDrainsEverythingPendingAtOnce) {
    const std::string fifo = hostPath("/dev/input/event1");
    writeHostFile(fifo, "");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LinuxTouchSource touch(fifo);  // opened first: a non-blocking read end needs no writer
    ASSERT_TRUE(touch.isOpen());
    const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(w, 0);

    EXPECT_FALSE(touch.takeActivity());
    std::vector<input_event> burst(40);
    std::memset(burst.data(), 0, burst.size() * sizeof(input_event));
    const ssize_t bytes = ssize_t(burst.size() * sizeof(input_event));
    ASSERT_EQ(::write(w, burst.data(), size_t(bytes)), bytes);
    EXPECT_TRUE(touch.takeActivity());
    EXPECT_FALSE(touch.takeActivity()) << "one touch burst reported twice";
    ::close(w);
}

TEST(LinuxUevents, TwoListenersCanOpenAtOnce) {
    LinuxUeventSource a;
    if (!a.isOpen()) ZRV_SKIP_OR_FAIL_UNDER_CI("no kobject uevent netlink here");
    // The watcher and any other listener of the host (or a second watcher
    // after a restart) must not fight over one fixed port id.
    LinuxUeventSource b;
    EXPECT_TRUE(b.isOpen());
    char buf[1024];
    const auto t0 = std::chrono::steady_clock::now();
    const long n = a.receive(buf, sizeof buf, 50);
    EXPECT_GE(n, 0);
    if (n > 0) {
        EXPECT_EQ(buf[n], '\0');
    }
    // Back by its time-out, with or without an event: one that waited for
    // an event would wait as long as the host sends none.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));
}

TEST(LinuxUevents, InterruptEndsTheReceiveInProgressAndLaterOnes) {
    LinuxUeventSource source;
    if (!source.isOpen()) ZRV_SKIP_OR_FAIL_UNDER_CI("no kobject uevent netlink here");
    // The watcher's stop must not wait out the receive's bound.
    char buf[256];
    auto waiting = std::async(std::launch::async, [&] { return source.receive(buf, sizeof buf, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source.interrupt();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
    EXPECT_EQ(source.receive(buf, sizeof buf, 60000), 0);
}

}  // namespace
