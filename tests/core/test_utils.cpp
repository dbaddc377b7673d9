#include "core/console.h"
#include "core/file_checks.h"
#include "core/global.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/fileops.h"
#include "platform/linux/linux_fault.h"
#include "platform/linux/linux_gpio.h"
#include "platform/linux/linux_i2c.h"
#include "platform/linux/linux_mtd.h"
#include "platform/linux/linux_serial.h"
#include "platform/linux/linux_spi.h"
#include "protocol/k57_wifi_config.h"
#include "sim/sim_log_file.h"
#include "support/test_env.h"
#include "video_engine/c331_chip_print.h"
#include "ui/settings/settings_pages.h"
#include "video_io/drv_i2c0.h"
#include "video_io/not_built.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <linux/userfaultfd.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

class UtilsTest : public SimEnv {};

TEST(UtilsChecks, BccAndCrcVectors) {
    const u8 a55a[] = {0xA5, 0x5A}, abc[] = {'a', 'b', 'c'};
    EXPECT_EQ((Vals{Utils::BCC(a55a, 2), Utils::BCC(nullptr, 0), Utils::calcCRC32(abc, 3),
                    Utils::calcCRC32(nullptr, 0)}),
              (Vals{0xFF, 0, 0xCA6598D0u, 0}));
}

TEST(UtilsChecks, TickDifferenceIsModularAcrossTheWrap) {
    // Two ticks really passed between 0xFFFFFFFF and 1.
    EXPECT_EQ((Vals{Utils::getTimeSpace(5, 8), Utils::getTimeSpace(0xFFFFFFFFu, 1),
                    Utils::getTimeSpace(0xFFFFFFF0u, 0x10)}),
              (Vals{3, 2, 0x20}));
}

TEST(UtilsChecks, DottedQuads) {
    for (const char* ok : {"192.168.1.199", "0.0.0.0", "255.255.255.255"})
        EXPECT_TRUE(Utils::isDottedQuad(QString::fromLatin1(ok))) << ok;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4;reboot", "1..2.3", " 1.2.3.4",
                            "1.2.3.4 ", "a.b.c.d", "1.2.3.0x1", "1.2.3.-1"})
        EXPECT_FALSE(Utils::isDottedQuad(QString::fromLatin1(bad))) << bad;
}

TEST_F(UtilsTest, TicksFollowTheBoardClockNotTheGuiTimer) {
    ManualClock& clock = useManualClock();
    clock.setMs(1000);
    const u32 start = G_timeTicks;
    clock.advanceMs(250);
    const u32 after = Utils::getTimeSpace(start);
    Utils::sleep_ms(30);  // sleeps move virtual time
    EXPECT_EQ((Vals{start, after, Utils::getTimeSpace(start)}), (Vals{100, 25, 28}));
}

// A hardware state polled on the board's clock: read at once, then after
// pauses of 1, 2, 4, 4 ... ms (worked by hand: reads at 0, 1, 3, 7, 11, 15,
// 19 ms), the last pause cut to end at the bound, where it is read once more.
TEST_F(UtilsTest, APollBacksOffAndReadsOnceMoreAtItsBound) {
    ManualClock& clock = useManualClock();
    struct Case {
        const char* what;
        u64 readyAtMs;  // ~0: never
        u32 boundMs;
        bool held;
        std::vector<long long> readsAtMs;
    };
    const Case cases[] = {
        {"ready at once", 0, 20, true, {0}},
        {"ready after 10 ms", 10, 20, true, {0, 1, 3, 7, 11}},
        {"never ready", ~0ull, 20, false, {0, 1, 3, 7, 11, 15, 19, 20}},
        {"no bound", ~0ull, 0, false, {0}},
    };
    for (const Case& c : cases) {
        clock.setMs(1000);
        std::vector<long long> reads;
        const bool held = Utils::pollUntil(c.boundMs, [&] {
            const u64 at = clock.nowMs() - 1000;
            reads.push_back((long long)at);
            return at >= c.readyAtMs;
        });
        EXPECT_EQ(held, c.held) << c.what;
        EXPECT_EQ(reads, c.readsAtMs) << c.what;
    }
}

TEST_F(UtilsTest, ShellCommandsAreRecordedNotRun) {
    int status = -1;
    EXPECT_EQ((Vals{Utils::system_mutex(QStringLiteral("reboot"), &status), status}), (Vals{0, 0}));
    board().simShell().setResult("ifconfig eth0", 256);
    EXPECT_EQ((Vals{Utils::system_mutex(QStringLiteral("ifconfig eth0 >/dev/null 2>&1"), &status), status}),
              (Vals{255, 256}));
    EXPECT_EQ(board().simShell().commands(), (std::vector<std::string>{"reboot", "ifconfig eth0 >/dev/null 2>&1"}));
    // Each line of the log carries its time.
    const QString log = QString::fromStdString(readHostFile(hostPath("/var/log/sim_shell_commands.log")));
    const QRegularExpression line(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] (.*)$"));
    QStringList logged;
    for (const QString& l : log.split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = line.match(l);
        logged << (m.hasMatch() ? m.captured(1) : QStringLiteral("no time: ") + l);
    }
    EXPECT_EQ(logged, (QStringList{"reboot", "ifconfig eth0 >/dev/null 2>&1"}));
}

// Every line the program gives the shell, its first program failing (1):
// the simulated shell answers what /bin/sh answers (worked by hand, and
// /bin/sh asked too, with programs of the same names that answer so), so a
// line whose real status differs cannot pass. A call into the shell that no
// row names fails the table; so does a line the simulated shell cannot judge.
TEST_F(UtilsTest, EveryCommandLineIsJudgedAsShWouldWithItsFirstProgramFailing) {
    struct Row {
        const char* source;  // the line as the program's source gives it (none: the shell's own rows)
        std::string line;    // as it reaches the shell
        const char* failing;
        int status;
    };
    const std::vector<Row> rows = {
        {R"("date \"%1\"")", "date \"2030-1-2 3:4:5\"", "date", 1},
        {R"("hwclock -wu")", "hwclock -wu", "hwclock", 1},
        {R"("date -s \"%1\"")", "date -s \"2024-05-01 12:30:45\"", "date", 1},
        {R"("hwclock -w")", "hwclock -w", "hwclock", 1},
        {R"("ifconfig eth0 >/dev/null 2>&1")", "ifconfig eth0 >/dev/null 2>&1", "ifconfig", 1},
        {R"("route del default wlan0")", "route del default wlan0", "route", 1},
        {R"("ifconfig eth0 %1 netmask %2")", "ifconfig eth0 10.0.0.7 netmask 255.255.0.0", "ifconfig", 1},
        {R"("route add -host %1 dev eth0")", "route add -host 10.0.0.1 dev eth0", "route", 1},
        {R"("route add default gw %1 metric 100")", "route add default gw 10.0.0.1 metric 100", "route", 1},
        {R"("route add -host 255.255.255.255 eth0")", "route add -host 255.255.255.255 eth0", "route", 1},
        {R"("route del 255.255.255.255 wlan1")", "route del 255.255.255.255 wlan1", "route", 1},
        {"kStartDhcp)", K57_WIFI_CONFIG::kStartDhcp, "udhcpd", 0},  // started in the background
        {"kStartAp)", K57_WIFI_CONFIG::kStartAp, "/usr/bin/hostapd", 1},
        // No process found: "kill -9" alone, its usage error.
        {"kStopAp)", K57_WIFI_CONFIG::kStopAp, "pidof", 2},
        {"kStopDhcp)", K57_WIFI_CONFIG::kStopDhcp, "pidof", 2},
        {R"("reboot")", "reboot", "reboot", 1},
        // A list answers with its last command: the clock line the command
        // block once ran read as done with its date failing.
        {nullptr, "date \"2030-1-2 3:4:5\";hwclock -wu", "date", 0},
        {nullptr, "date \"2030-1-2 3:4:5\" && hwclock -wu", "date", 1},
        {nullptr, "date 'x y' || hwclock -wu", "date", 0},
        {nullptr, "date x | hwclock -wu 2>/dev/null", "date", 0},
        {nullptr, "date \\x | hwclock -w", "hwclock", 1},
        {nullptr, "hwclock -wu && reboot || date x", "hwclock", 0},
        {nullptr, "hwclock -wu && reboot & date x; hwclock -w", "hwclock", 1},
    };
    const QStringList programs = {"date", "hwclock", "ifconfig", "route", "udhcpd", "hostapd", "pidof", "reboot"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        SimShell shell;
        shell.setResult(row.failing, 1);
        EXPECT_EQ(shell.run(row.line), row.status);
        // /bin/sh with nothing on its path but programs that answer as the
        // table says (every program path taken to them). Each row has its
        // own: a program an earlier row left running in the background may
        // still be starting, and its file cannot be rewritten meanwhile.
        QTemporaryDir stubs;
        ASSERT_TRUE(stubs.isValid());
        const QString failing = QFileInfo(QString::fromLatin1(row.failing)).fileName();
        for (const QString& program : programs) {
            QFile stub(stubs.filePath(program));
            ASSERT_TRUE(stub.open(QIODevice::WriteOnly | QIODevice::Truncate));
            stub.write(program == failing ? "#!/bin/sh\nexit 1\n" : "#!/bin/sh\nexit 0\n");
            stub.close();
            stub.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        }
        QProcess sh;
        QProcessEnvironment env;
        env.insert("PATH", stubs.path());
        sh.setProcessEnvironment(env);
        sh.start("/bin/sh", {"-c", QString::fromStdString(row.line)
                                       .replace(QRegularExpression("(/usr)?/s?bin/"), stubs.path() + "/")});
        ASSERT_TRUE(sh.waitForFinished(10000));
        EXPECT_EQ(sh.exitCode(), row.status) << sh.readAllStandardError().toStdString();
    }
    // Past the sh the program's lines use: answered as a syntax error, and
    // named.
    const std::vector<std::string> beyond = {"date $X", "date `pidof \"$X\"`", "echo x >/tmp/x", "cat </dev/null",
                                             "if date; then reboot; fi", "date ;; reboot", "&& date",
                                             "date \"open", "(date)", "X=1 date", "rm *"};
    SimShell shell;
    for (const std::string& line : beyond) EXPECT_EQ(shell.run(line), SimShell::kCannotJudge) << line;
    EXPECT_EQ(shell.unjudged(), beyond);

    // Each call into the shell in the program's sources is a row.
    eachSourceLine({"core", "fpga", "video_io", "video_engine", "protocol", "ui"},
                   [&](const std::string& name, int, const std::string& text) {
                       if (text.find("system_mutex(") == std::string::npos || name.rfind("core/utils.", 0) == 0)
                           return;  // the door itself
                       bool named = false;
                       for (const Row& row : rows) named = named || (row.source && text.find(row.source) != std::string::npos);
                       EXPECT_TRUE(named) << name << ": a shell line without a row: " << text;
                   });
}

TEST_F(UtilsTest, MtdEraseCoversWholeBlocksAndWriteReadsBack) {
    board().setMtdGeometry("/dev/mtd8", 4 * 0x1000, 0x1000, 0x100);
    auto mtd = board().openMtd("/dev/mtd8");
    ASSERT_TRUE(mtd->isOpen());
    // Dirty the flash so the erase shows.
    std::vector<u8> zeros(4 * 0x1000, 0);
    ASSERT_EQ(mtd->pwrite(zeros.data(), zeros.size(), 0), long(zeros.size()));

    EXPECT_EQ(Utils::non_region_erase(*mtd, 0, 1, 1), 0u);  // length 1: one whole block
    std::vector<u8> back(4 * 0x1000);
    ASSERT_EQ(mtd->pread(back.data(), back.size(), 0), long(back.size()));
    EXPECT_EQ((Vals{back[0], back[0xFFF], back[0x1000]}), (Vals{0xFF, 0xFF, 0}));

    EXPECT_EQ(Utils::non_region_erase(*mtd, 0x1000, 2 * 0x1000, 0), 0u);  // exactly two blocks
    mtd->pread(back.data(), back.size(), 0);
    EXPECT_EQ((Vals{back[0x2FFF], back[0x3000]}), (Vals{0xFF, 0}));

    std::vector<u8> data(0x1000 + 0x37);
    for (size_t i = 0; i < data.size(); ++i) data[i] = u8(i * 7);
    EXPECT_EQ(Utils::non_region_write(*mtd, data.data(), int(data.size()), 0x1000), 0u);
    std::vector<u8> got(data.size());
    mtd->pread(got.data(), got.size(), 0x1000);
    EXPECT_EQ(got, data);
    // Past the end of the device: a short write is a failure.
    EXPECT_EQ(Utils::non_region_write(*mtd, data.data(), int(data.size()), 3 * 0x1000), 1u);

    // A block its protection covers takes the erase and the write and keeps
    // its bytes: the erase stops at it (10), block 3 never erased, and a
    // write reaching into it does not read back (2).
    board().setMtdProtected("/dev/mtd8", 0x2000, 0x1000);
    mtd = board().openMtd("/dev/mtd8");
    std::vector<u8> blockTwo(0x1000);
    mtd->pread(blockTwo.data(), blockTwo.size(), 0x2000);
    EXPECT_EQ(Utils::non_region_erase(*mtd, 0x1000, 3 * 0x1000, 1), 10u);
    mtd->pread(back.data(), back.size(), 0);
    EXPECT_EQ(std::vector<u8>(back.begin() + 0x1000, back.begin() + 0x2000), std::vector<u8>(0x1000, 0xFF));
    EXPECT_EQ(std::vector<u8>(back.begin() + 0x2000, back.begin() + 0x3000), blockTwo);
    EXPECT_EQ(std::vector<u8>(back.begin() + 0x3000, back.end()), std::vector<u8>(0x1000, 0x00));
    const std::vector<u8> other(0x1100, 0x5A);
    EXPECT_EQ(Utils::non_region_write(*mtd, other.data(), int(other.size()), 0x1000), 2u);
    board().setMtdProtected("/dev/mtd8", 0, 0);
}

// Whatever the program stores in the c331's serial flash or in an MTD
// device is done only once the flash reads it back (a protected block takes
// the requests and keeps its bytes): the raw erase and program of each stand
// only inside the pair that reads back. A store added later that erases or
// writes any other way fails here.
TEST(FlashStores, EveryEraseAndWriteOfTheSerialFlashAndOfAnMtdDeviceIsReadBack) {
    const std::string c331 = "video_engine/c331_flash.cpp", utils = "core/utils.cpp";
    struct Rule {
        const char* what;
        const char* word;  // in every line the pattern matches (a quick look first)
        std::regex raw;
        // The files and functions it may stand in ("*": anywhere in the file).
        std::vector<std::pair<std::string, std::string>> places;
        // Only in files that open or are handed an MTD device.
        bool mtdFiles;
        int found;
    } rules[] = {
        {"serial flash data written", "SFL_DATA", std::regex(R"(write_C331\([^;]*SFL_DATA)"),
         {{c331, "sfl_program"}}, false, 0},
        {"serial flash erase started", "kCmdErase", std::regex(R"(\bkCmdErase\))"), {{c331, "sfl_erase_block"}},
         false, 0},
        {"serial flash erase or program unchecked", "sfl_", std::regex(R"(\bsfl_(erase_block|program)\s*\()"),
         {{c331, "sfl_erase"}, {c331, "sfl_write"}, {"video_engine/c331_manage.h", "*"}}, false, 0},
        {"MTD write", "pwrite", std::regex(R"((\.|->)\s*pwrite\s*\()"), {{utils, "non_region_write"}}, false, 0},
        {"MTD erase or unlock", "", std::regex(R"((\.|->)\s*(erase|unlock)\s*\()"), {{utils, "non_region_erase"}},
         true, 0},
    };
    // A definition starts at the line's first column; its name is the last
    // one before the parenthesis.
    const std::regex definition(R"(^[A-Za-z_][^;=(]*?(\w+)\()");
    const std::regex mtdUse(R"(\bMtdDevice\b|\bopenMtd\s*\()");
    eachSource({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "platform", "fuzz"},
               [&](const std::string& name, const std::vector<std::string>& lines) {
                   const bool mtdFile = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
                       return l.find("Mtd") != std::string::npos && std::regex_search(l, mtdUse);
                   });
                   std::string function;
                   for (size_t i = 0; i < lines.size(); ++i) {
                       std::smatch m;
                       if (!lines[i].empty() && std::isalpha(u8(lines[i][0])) &&
                           std::regex_search(lines[i], m, definition)) {
                           function = m[1];
                           continue;
                       }
                       for (Rule& rule : rules) {
                           if ((rule.mtdFiles && !mtdFile) || lines[i].find(rule.word) == std::string::npos ||
                               !std::regex_search(lines[i], rule.raw))
                               continue;
                           bool placed = false;
                           for (const auto& p : rule.places)
                               placed = placed || (p.first == name && (p.second == "*" || p.second == function));
                           if (placed)
                               ++rule.found;
                           else
                               ADD_FAILURE() << name << ":" << i + 1 << " (" << rule.what << ", in " << function
                                             << ") stores without reading back: " << lines[i];
                       }
                   }
               });
    // Each rule meets its pair: a scan that finds nothing proves nothing.
    for (const Rule& rule : rules) EXPECT_GT(rule.found, 0) << rule.what;
}

namespace {
class NoGeometryMtd : public MtdDevice {
public:
    bool isOpen() const override { return true; }
    int getInfo(MtdInfo&) override { return -1; }
    int unlock(uint32_t, uint32_t) override { return 0; }
    int erase(uint32_t, uint32_t) override {
        ++erases;
        return 0;
    }
    long pwrite(const void*, size_t len, uint64_t) override { return long(len); }
    long pread(void*, size_t len, uint64_t) override { return long(len); }
    int erases = 0;
};
}  // namespace

TEST(UtilsChecks, EraseWithoutGeometryIsAFailure) {
    NoGeometryMtd mtd;
    EXPECT_NE(Utils::non_region_erase(mtd, 0, 100, 1), 0u);
    EXPECT_EQ(mtd.erases, 0);
    EXPECT_NE(Utils::non_region_write(mtd, reinterpret_cast<const u8*>("x"), 1, 0), 0u);
}

namespace {
// What the console's writer puts on standard output while fn runs, the
// console a file meanwhile.
std::string consoleOf(const std::function<void()>& fn) {
    Console::drain(std::chrono::seconds(10));
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (!file) return "(no file)";
    const int saved = ::dup(1);
    ::dup2(fileno(file), 1);
    fn();
    const bool drained = Console::drain(std::chrono::seconds(10));
    ::dup2(saved, 1);
    ::close(saved);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::pread(fileno(file), buf, sizeof buf, off_t(text.size()))) > 0;) text.append(buf, size_t(n));
    std::fclose(file);
    return drained ? text : "(not drained) " + text;
}

// The log's last line.
std::string lastLogLine(const std::string& hostLog) {
    const std::string log = readHostFile(hostLog);
    const size_t from = log.rfind('\n', log.size() >= 2 ? log.size() - 2 : 0);
    return log.substr(from == std::string::npos ? 0 : from + 1);
}
}  // namespace

TEST_F(UtilsTest, LogLineFormatAndTenMiBRemoval) {
    g_debugSwitch = 0;
    writeLogMsg(WARNING, "hello");
    writeLogMsg(_LogType(9), "untagged");
    const std::string log = readHostFile(hostPath(kLogFile));
    // "[YYYY-MM-DD HH:MM:SS] [ENGINEASSEMBLY] [WARNING ] # PELKMSG # hello\n"
    ASSERT_GE(log.size(), 21u);
    EXPECT_EQ((Vals{log[0], log[20]}), (Vals{'[', ']'}));
    EXPECT_NE(log.find("] [ENGINEASSEMBLY] [WARNING ] # PELKMSG # hello\n"), std::string::npos);
    EXPECT_NE(log.find("]# PELKMSG # untagged\n"), std::string::npos);

    // A line that brings the file to 10 MiB is written, then the file goes;
    // the next line starts a new one.
    writeHostFile(hostPath(kLogFile), std::string(0xA00000 - 20, 'x'));
    writeLogMsg(ERROR, "overflow");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(hostPath(kLogFile))));
    writeLogMsg(ERROR, "fresh");
    const std::string fresh = readHostFile(hostPath(kLogFile));
    EXPECT_NE(fresh.find("# PELKMSG # fresh\n"), std::string::npos);
    EXPECT_LT(fresh.size(), 200u);

    // A long text is cut so the line keeps to 511 characters.
    FileOps::removePath(kLogFile);
    writeLogMsg(INFO, std::string(2000, 'y'));
    EXPECT_EQ(readHostFile(hostPath(kLogFile)).size(), 511u);
    g_debugSwitch = 254;
}

// A disk that fills (here a file size limit) takes no half line: a line it
// cuts short is taken back, so the next one never joins it, and the lines
// it refuses are counted. The console is told when the log stops taking
// lines, and the count is written, on the console too, once one fits again.
// SIGXFSZ is at its default, as a start has it when it writes its first log
// lines: the write past the limit fails, the process goes on.
TEST_F(UtilsTest, AFullDiskLeavesNoHalfLineAndItsLostLinesAreCounted) {
    g_debugSwitch = 254;
    const std::string before = "[2026-12-08 20:27:33] # PELKMSG # " + std::string(70000, 'p') + "\n";
    writeHostFile(hostPath(kLogFile), before);
    struct sigaction byDefault {}, was {};
    byDefault.sa_handler = SIG_DFL;
    ASSERT_EQ(::sigaction(SIGXFSZ, &byDefault, &was), 0);
    rlimit unlimited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const std::string console = consoleOf([&] {
        // Room for part of a line, not for a whole one.
        rlimit full = unlimited;
        full.rlim_cur = before.size() + 100;
        ::setrlimit(RLIMIT_FSIZE, &full);
        {
            const LogWhole whole;
            for (int i = 0; i < 5; ++i) writeLogMsg(INFO, "fpga: " + std::string(200, 'f'));
        }
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        writeLogMsg(INFO, "after");
    });
    ::sigaction(SIGXFSZ, &was, nullptr);
    const std::string log = readHostFile(hostPath(kLogFile));
    const std::string lost = "log: 5 lines lost while /data/vimraqd/log/mwrEnglneLog could not be written (File too large)";
    ASSERT_EQ(log.compare(0, before.size(), before), 0);
    std::vector<std::string> added;
    std::istringstream rest(log.substr(before.size()));
    for (std::string line; std::getline(rest, line);) added.push_back(line.substr(line.find("# PELKMSG # ") + 12));
    EXPECT_EQ(added, (std::vector<std::string>{lost, "after"}));
    EXPECT_EQ(log.back(), '\n');
    // The echo of each line as before, the log's failure before the first.
    std::string echoed = "log: /data/vimraqd/log/mwrEnglneLog cannot be written (File too large); its lines are "
                         "counted until it can be\n";
    for (int i = 0; i < 5; ++i) echoed += "fpga: " + std::string(200, 'f') + "\n";
    EXPECT_EQ(console, echoed + lost + "\nafter\n");
}

// The removal at 10 MiB takes the file its writer measured, never one
// another thread has begun since: with several threads writing across the
// 10 MiB, every line is in the file removed or in the new one.
TEST_F(UtilsTest, TheRemovalAtTenMiBTakesOnlyTheFileItMeasured) {
    g_debugSwitch = 0;
    constexpr int kThreads = 8, kLines = 400;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        writeHostFile(hostPath(kLogFile), std::string(0xA00000 - 8000, 'x') + "\n");
        // Held open, the removed file stays readable.
        const int removed = ::open(hostPath(kLogFile).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(removed, 0);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t)
            writers.emplace_back([t] {
                const LogWhole whole;
                for (int i = 0; i < kLines; ++i) writeLogMsg(INFO, "w " + std::to_string(t) + " " + std::to_string(i));
            });
        for (std::thread& w : writers) w.join();
        std::string old;
        char buf[65536];
        for (ssize_t n; (n = ::read(removed, buf, sizeof buf)) > 0;) old.append(buf, size_t(n));
        ::close(removed);
        EXPECT_GE(old.size(), size_t(0xA00000));
        EXPECT_EQ(countIn(old, "# PELKMSG # w ") + countIn(readHostFile(hostPath(kLogFile)), "# PELKMSG # w "),
                  size_t(kThreads * kLines));
    }
    g_debugSwitch = 254;
}

// A console sent to a file, as the README suggests, gets each echoed line
// when it is written, not once stdio's buffer is full. A name from a stick
// holding a newline, a carriage return and an escape sequence is one line,
// on the console and in the log: it forges no line of its own and sends the
// console no command.
TEST_F(UtilsTest, AnEchoedLogLineReachesAConsoleThatIsAFileAtOnceAndWhole) {
    g_debugSwitch = 254;
    FileOps::removePath(kLogFile);
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const int saved = ::dup(1);
    ::dup2(fileno(file), 1);
    // As stdio buffers a file or a pipe: whole blocks.
    static char block[BUFSIZ];
    std::setvbuf(stdout, block, _IOFBF, sizeof block);
    writeLogMsg(WARNING, "fpga: FPGA 2 running");
    writeLogMsg(ERROR, "USB upgrade: a\n[2026-12-08 10:00:00] USB upgrade: FPGA 2 image written\r\x1b[2J");
    Console::drain(std::chrono::seconds(10));
    char got[256] = {};
    const ssize_t n = ::pread(fileno(file), got, sizeof got - 1, 0);
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::fclose(file);
    const std::string oneLine = "USB upgrade: a\\n[2026-12-08 10:00:00] USB upgrade: FPGA 2 image written\\r\\x1B[2J\n";
    EXPECT_EQ(std::string(got, size_t(std::max<ssize_t>(n, 0))), "fpga: FPGA 2 running\n" + oneLine);
    const std::string log = readHostFile(hostPath(kLogFile));
    EXPECT_EQ(log.substr(log.rfind("# PELKMSG # ") + 12), oneLine);
}

// Text from outside is one line of plain characters wherever it is printed:
// in the log, in the log's echo and as an argument of a debug line, the
// format's own colour codes kept. A backslash is doubled, so a name that
// spells an escape cannot pass for one; a C1 control (an 8-bit CSI) and a
// byte that is no UTF-8 are escaped byte by byte; a Chinese name stays
// readable. The log's cut at 511 characters falls between two characters
// or escapes, never inside one.
TEST_F(UtilsTest, OutsideTextIsEscapedAlikeInTheLogItsEchoAndTheDebugLines) {
    g_debugSwitch = 254;
    const struct {
        const char* what;
        std::string text, shown;
    } rows[] = {
        {"backslashes", "a\\nb \\x1B", "a\\\\nb \\\\x1B"},
        {"line ends", "a\nb\r\tc", "a\\nb\\r\\tc"},
        {"escape and DEL", "\x1b[2J\x7f", "\\x1B[2J\\x7F"},
        {"C1 as characters", "\xc2\x9b" "2J \xc2\x80", "\\xC2\\x9B2J \\xC2\\x80"},
        {"C1 as a byte", "\x9b" "2J", "\\x9B2J"},
        {"a lead byte without its continuation", "\xc3(", "\\xC3("},
        {"a character cut off at the end", "ab\xe4\xb8", "ab\\xE4\\xB8"},
        {"an overlong slash", "\xc0\xaf", "\\xC0\\xAF"},
        {"a surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        {"Chinese, an accent, a no-break space", "屏幕 é\xc2\xa0", "屏幕 é\xc2\xa0"},
    };
    const LogWhole whole;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string console = consoleOf([&] {
            writeLogMsg(WARNING, row.text);
            debugPrintf("\033[1;34m[%s]\033[0m\n", row.text.c_str());
        });
        EXPECT_EQ(console, row.shown + "\n\033[1;34m[" + row.shown + "]\033[0m\n");
        const std::string line = lastLogLine(hostPath(kLogFile));
        EXPECT_EQ(line.substr(line.find("# PELKMSG # ") + 12), row.shown + "\n");
    }
    // The chip's debug lines: their colour stays, an argument's is escaped.
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    c331print::setSink(sink);
    c331print::dbg("%s", "\x1b]0;OWNED\x07");
    c331print::setSink(nullptr);
    char got[128] = {};
    EXPECT_STREQ((::pread(fileno(sink), got, sizeof got - 1, 0), got), "\033[1;34m\\x1B]0;OWNED\\x07\033[0m");
    std::fclose(sink);
    // Numbers and padding come out as printf prints them.
    const std::string console = consoleOf([] {
        debugPrintf("%5d|%-4s|%.*s|%05.1f|%llx|%zu|%c|%%|%+i\n", 42, "ab", 3, "abcdef", 3.14159, 0xABCDEFULL,
                    size_t(7), 'z', -3);
        debugPrintf("%c%c\n", '\x1b', '\\');
    });
    char want[128];
    std::snprintf(want, sizeof want, "%5d|%-4s|%.*s|%05.1f|%llx|%zu|%c|%%|%+i\n", 42, "ab", 3, "abcdef", 3.14159,
                  0xABCDEFULL, size_t(7), 'z', -3);
    EXPECT_EQ(console, std::string(want) + "\\x1B\\\\\n");

    // The cut: the text's room is what the line's 511 characters leave
    // after its head and its newline.
    FileOps::removePath(kLogFile);
    writeLogMsg(INFO, "x");
    const std::string probe = readHostFile(hostPath(kLogFile));
    const size_t room = 511 - (probe.find("# PELKMSG # ") + 12) - 1;
    const struct {
        std::string last, shown;  // the text's last character, as the line shows it
    } ends[] = {{"\x1b", "\\x1B"}, {"屏", "屏"}, {"\\", "\\\\"}, {"\xc2\x9b", "\\xC2\\x9B"}, {"\xff", "\\xFF"}};
    g_debugSwitch = 0;
    for (const auto& end : ends) {
        // Room left for it whole, and one byte less.
        for (const size_t left : {end.shown.size(), end.shown.size() - 1}) {
            SCOPED_TRACE(end.shown + " with " + std::to_string(left) + " bytes left");
            FileOps::removePath(kLogFile);
            writeLogMsg(INFO, std::string(room - left, 'a') + end.last);
            const std::string line = readHostFile(hostPath(kLogFile));
            const std::string text = line.substr(line.find("# PELKMSG # ") + 12);
            const bool whole = left == end.shown.size();
            EXPECT_EQ(line.size(), whole ? 511u : 511u - left);
            EXPECT_EQ(text.substr(room - left), whole ? end.shown + "\n" : "\n");
        }
    }
    g_debugSwitch = 254;
}

// A console that stops taking lines (a pipe nobody reads, "| less" held)
// never holds the thread that prints, whatever lock it holds: what does not
// fit is counted, and the count is printed where the gap is once the
// console takes lines again, so that the lines shown and the counts add up
// to what was printed.
TEST_F(UtilsTest, AConsoleThatStopsTakingLinesCostsTheLinesItMissedAndTheirCount) {
    g_debugSwitch = 254;
    Console::drain(std::chrono::seconds(10));
    int pipeEnds[2];
    ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
    ::fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
    std::fflush(stdout);
    const int saved = ::dup(1);
    ::dup2(pipeEnds[1], 1);
    ::close(pipeEnds[1]);
    // Some 280 KiB: past the pipe and the console's queue together.
    constexpr int kLines = 20000;
    std::mutex held;  // as the video processor's manager holds its own
    auto printing = std::async(std::launch::async, [&] {
        std::lock_guard<std::mutex> lock(held);
        for (int i = 0; i < kLines; ++i) debugPrintf("line %05d\n", i);
    });
    const bool returned = printing.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    // Now read: a thread held in a write comes free too.
    std::string got;
    std::thread reader([&] {
        char buf[65536];
        for (ssize_t n; (n = ::read(pipeEnds[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    });
    printing.wait();
    const bool drained = Console::drain(std::chrono::seconds(20));
    ::dup2(saved, 1);  // the pipe's last writer gone: the reader sees its end
    ::close(saved);
    reader.join();
    ::close(pipeEnds[0]);
    EXPECT_TRUE(returned) << "the printing thread waited for the console";
    EXPECT_TRUE(drained);
    int next = 0, notes = 0;
    long long said = 0;  // lines the counts since the last line printed say were missed
    std::istringstream lines(got);
    for (std::string line; std::getline(lines, line);) {
        if (const long long missed = consoleNoteCount(line); missed >= 0) {
            ++notes;
            said += missed;
            continue;
        }
        ASSERT_EQ(line.substr(0, 5), "line ") << line;
        // In order, each gap as large as its count says.
        const int at = std::stoi(line.substr(5));
        EXPECT_EQ(at, next + said) << "after line " << next - 1;
        next = at + 1;
        said = 0;
    }
    EXPECT_GE(notes, 1);
    EXPECT_EQ(next + said, kLines);
}

// Standard error held (a terminal paused with flow control) while standard
// output goes to a file or a pipe that is read: standard output still gets
// every line as it is printed.
TEST_F(UtilsTest, AStandardErrorThatStopsTakingLinesCostsStandardOutputNothing) {
    Console::drain(std::chrono::seconds(10));
    int errEnds[2], outEnds[2];
    ASSERT_EQ(::pipe2(errEnds, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(outEnds, O_CLOEXEC), 0);
    ::fcntl(errEnds[1], F_SETPIPE_SZ, 4096);
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1), savedErr = ::dup(2);
    ::dup2(errEnds[1], 2);
    ::close(errEnds[1]);
    ::dup2(outEnds[1], 1);
    ::close(outEnds[1]);
    // More than the pipe takes, and nobody reads it.
    Console::printErr("%s\n", std::string(8192, 'e').c_str());
    std::string want;
    for (int i = 0; i < 100; ++i) {
        Console::print("line %d\n", i);
        want += "line " + std::to_string(i) + "\n";
    }
    std::string got;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < want.size() && std::chrono::steady_clock::now() < until) {
        pollfd in{outEnds[0], POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(outEnds[0], buf, sizeof buf);
        if (n > 0) got.append(buf, size_t(n));
    }
    // Standard error read now: its writer comes free.
    std::thread reader([&] {
        char buf[4096];
        while (::read(errEnds[0], buf, sizeof buf) > 0) {
        }
    });
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);
    EXPECT_TRUE(Console::drain(std::chrono::seconds(10)));
    reader.join();
    ::close(errEnds[0]);
    ::close(outEnds[0]);
    EXPECT_EQ(got, want);
}

namespace {
// What `print` puts on standard output, the console meanwhile the file at
// `path` as "> path" would give it (appending).
std::string consoleAt(const std::string& path, const std::function<void()>& print) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return "(no file)";
    bool drained = false;
    {
        const ConsoleOn console(fd, STDERR_FILENO);
        ::close(fd);
        print();
        drained = Console::drain(std::chrono::seconds(20));
    }
    return drained ? readHostFile(path) : "(not drained)";
}

// The file at a path on a disk that is slow, or hangs until let go: every
// other write to the file waits while a write of the disk's own holds the
// file's lock, a write from a page of memory that the kernel asks the disk
// for first (userfaultfd) and gets after 10 ms when paced, else once let go.
// Paced, the disk takes the lock again at once. Its write puts the file's
// first byte back as it is.
class SlowDisk {
public:
    SlowDisk(const std::string& path, bool paced) : m_paced(paced) {
        const std::string first = readHostFile(path).substr(0, 1);
        m_fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        m_uffd = int(::syscall(SYS_userfaultfd, O_CLOEXEC | O_NONBLOCK));  // polled only so
        void* pages = ::mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        uffdio_api api{UFFD_API, 0, {}};
        if (first.empty() || m_fd < 0 || m_uffd < 0 || pages == MAP_FAILED || ::ioctl(m_uffd, UFFDIO_API, &api) != 0)
            return;
        m_page = static_cast<char*>(pages);
        std::memset(m_page + kPage, first[0], kPage);
        uffdio_register asked{{u64(uintptr_t(m_page)), kPage}, UFFDIO_REGISTER_MODE_MISSING, 0};
        if (::ioctl(m_uffd, UFFDIO_REGISTER, &asked) != 0) return;
        m_holder = std::thread([this] {
            while (!m_done) {
                ::madvise(m_page, kPage, MADV_DONTNEED);
                (void)!::pwrite(m_fd, m_page, 1, 0);
            }
            (void)!::eventfd_write(m_ended, 1);
        });
        m_server = std::thread([this] { serve(); });
        std::unique_lock<std::mutex> lock(m_mutex);
        m_heldCv.wait_for(lock, std::chrono::seconds(10), [this] { return m_held; });
    }
    ~SlowDisk() {
        letGo();
        if (m_page) ::munmap(m_page, 2 * kPage);
        for (int fd : {m_fd, m_uffd, m_stop, m_ended})
            if (fd >= 0) ::close(fd);
    }
    // The file's lock is held: the disk's write waits for its page.
    bool holding() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_held;
    }
    void letGo() {
        m_done = true;
        (void)!::eventfd_write(m_stop, 1);
        for (std::thread* t : {&m_holder, &m_server})
            if (t->joinable()) t->join();
    }

private:
    static constexpr size_t kPage = 4096;
    void serve() {
        for (;;) {
            pollfd asked[2] = {{m_uffd, POLLIN, 0}, {m_ended, POLLIN, 0}};
            if (::poll(asked, 2, 1000) <= 0) continue;
            if (asked[0].revents & POLLIN) {
                uffd_msg msg{};
                if (::read(m_uffd, &msg, sizeof msg) != ssize_t(sizeof msg)) continue;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_held = true;
                }
                m_heldCv.notify_all();
                pollfd stop{m_stop, POLLIN, 0};
                if (m_paced) ::poll(&stop, 1, 10);
                else
                    while (::poll(&stop, 1, 1000) == 0) {
                    }
                uffdio_copy page{u64(uintptr_t(m_page)), u64(uintptr_t(m_page + kPage)), kPage, 0, 0};
                ::ioctl(m_uffd, UFFDIO_COPY, &page);
            } else if (asked[1].revents & POLLIN) {
                return;
            }
        }
    }
    const bool m_paced;
    int m_fd = -1, m_uffd = -1;
    const int m_stop = ::eventfd(0, EFD_CLOEXEC), m_ended = ::eventfd(0, EFD_CLOEXEC);
    char* m_page = nullptr;
    std::atomic<bool> m_done{false};
    std::mutex m_mutex;
    std::condition_variable m_heldCv;
    bool m_held = false;
    std::thread m_holder, m_server;
};
}  // namespace

namespace {
// What a console got after its first line, up to its line "after": the
// lines printed in order, each the one `want` gives for its place, and the
// counts between them, each skipping the places its gap took. {counts,
// places passed, whether each run of lines before a count is what the
// writer takes whole, a full queue less at most one line}; a line out of
// its place fails.
Vals printedAndCounted(const std::string& got, const std::string& first,
                       const std::function<std::string(long long)>& want) {
    std::istringstream lines(got);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, first);
    long long notes = 0, next = 0;
    size_t run = 0;
    bool wholeRuns = true;
    while (std::getline(lines, line) && line != "after") {
        if (const long long missed = consoleNoteCount(line); missed >= 0) {
            ++notes;
            next += missed;
            wholeRuns = wholeRuns && run > Console::kQueueBytes - Console::kLineMax;
            run = 0;
        } else if (line == want(next)) {
            ++next;
            run += line.size() + 1;
        } else {
            ADD_FAILURE() << "place " << next << " after " << notes << " counts: " << line.substr(0, 40);
            break;
        }
    }
    EXPECT_EQ(line, "after");
    return {notes, next, wholeRuns};
}
}  // namespace

// A console sent to a file gets each line as it is printed, however many
// and however slowly its disk takes them: a regular file has no reader that
// may stop, so a caller waits for room in the queue while the disk takes
// lines. A disk that hangs holds a caller at most 2 s past its last write;
// what it then misses is counted as on a terminal.
TEST_F(UtilsTest, AConsoleFileGetsEveryLineOnASlowDiskAndAHungDiskHoldsNobody) {
    constexpr int kLines = 20000;  // 220 KB: three times the queue
    for (const bool hung : {false, true}) {
        SCOPED_TRACE(hung ? "a disk that hangs" : "a slow disk");
        const std::string path = hostPath("/console");
        writeHostFile(path, "start\n");
        bool held = false, returned = false;
        const std::string console = consoleAt(path, [&] {
            SlowDisk disk(path, !hung);
            held = disk.holding();
            auto printing = std::async(std::launch::async, [] {
                for (int i = 0; i < kLines; ++i) Console::print("line %05d\n", i);
            });
            returned = printing.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
            // Let go, the writer writes what waited and takes lines again.
            disk.letGo();
            Console::drain(std::chrono::seconds(20));
            Console::print("after\n");
        });
        ASSERT_TRUE(held) << "no disk to slow";
        EXPECT_TRUE(returned) << "the printing thread waited for the disk";
        const auto line = [](long long i) {
            char text[16];
            std::snprintf(text, sizeof text, "line %05lld", i);
            return std::string(text);
        };
        const Vals got = printedAndCounted(console, "start", line);
        EXPECT_EQ((Vals{got[0] > 0, got[1], got[2]}), (Vals{hung, kLines, 1}));
    }
}

// A gap in what the console took is one count, on a line of its own. A
// console held while long lines and short ones come gets one count for
// each time the queue filled, though the queue's last bytes would still
// have room for a short line between two long ones that do not fit, and
// no short line between two counts; a disk that fills in the
// middle of a line (a file size limit) leaves the count after the part of
// the line it took, not joined to it, and that line among those counted.
TEST_F(UtilsTest, AGapInTheConsoleIsOneCountOnALineOfItsOwn) {
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
    // Full before the first line: the writer is held in its first write.
    const std::string fill(size_t(::fcntl(ends[1], F_GETPIPE_SZ)) - 1, 'p');
    ASSERT_EQ(::write(ends[1], (fill + "\n").data(), fill.size() + 1), ssize_t(fill.size() + 1));
    constexpr int kPairs = 400;  // of 510 bytes: three times the queue
    const std::string l(490, 'l');
    std::string got;
    std::thread reader;
    {
        const ConsoleOn console(ends[1], STDERR_FILENO);
        ::close(ends[1]);
        for (int i = 0; i < kPairs; ++i) {
            Console::print("long %03d %s\n", i, l.c_str());
            Console::print("short %03d\n", i);
        }
        // Now read: the writer comes free, and takes lines again once it
        // has written what waited.
        reader = std::thread([&] {
            char buf[65536];
            for (ssize_t n; (n = ::read(ends[0], buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
        });
        Console::drain(std::chrono::seconds(20));
        Console::print("after\n");
        Console::drain(std::chrono::seconds(20));
    }  // the pipe's last writer gone: the reader sees its end
    reader.join();
    ::close(ends[0]);
    const auto line = [&](long long i) {
        char text[16];
        std::snprintf(text, sizeof text, i % 2 ? "short %03lld" : "long %03lld ", i / 2);
        return i % 2 ? text : text + l;
    };
    // A count for each time the queue filled: once while the writer was
    // held, and once more if it took its first lines only once the queue
    // was full. Never a short line between two counts.
    const Vals printed = printedAndCounted(got, fill, line);
    EXPECT_EQ((Vals{printed[0] > 0, printed[1], printed[2]}), (Vals{1, 2 * kPairs, 1}));

    // The disk full after `room` bytes of the first line; a colour the
    // part it took left in force is reset before the count, and only then.
    const std::string note = "console: 2 lines not printed: the console did not take them\n";
    const struct {
        const char* name;
        std::function<void()> first;
        size_t room;
        std::string want;
    } rows[] = {
        {"a plain line", [] { Console::print("line one is long\n"); }, 15, "line one is lon\n" + note},
        {"a coloured line", [] { Console::print("\033[1;31mline one is long\033[0m\n"); }, 15,
         "\033[1;31mline one\033[0m\n" + note},
        // The chip's debug line: its reset after its line's end.
        {"the reset after the line's end", [] { Console::print("\033[1;34mline one\n\033[0m"); }, 16,
         "\033[1;34mline one\n\033[0m" + note},
        {"a colour reset before the cut", [] { Console::print("\033[1;31mline\033[0m one is long\n"); }, 15,
         "\033[1;31mline\033[0m\n" + note},
        {"two codes in force", [] { Console::print("\033[5m\033[1;31mline one\n"); }, 16,
         "\033[5m\033[1;31mline \033[0m\n" + note},
    };
    const std::string path = hostPath("/console");
    rlimit unlimited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeHostFile(path, "start\n");
        const std::string console = consoleAt(path, [&] {
            rlimit full = unlimited;
            full.rlim_cur = 6 + row.room;
            ::setrlimit(RLIMIT_FSIZE, &full);
            row.first();
            Console::print("second\n");
            Console::drain(std::chrono::seconds(10));
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            Console::print("after\n");
        });
        EXPECT_EQ(Console::escaped(console), Console::escaped("start\n" + row.want + "after\n"));
    }
}

TEST_F(UtilsTest, LimitedLinePrintsTheFirstThenACountASecondAndLosesNothing) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    std::vector<std::string> out;
    LineLimiter lim([&](u64 n) { out.push_back("count " + std::to_string(n)); });
    auto occur = [&](u64 atMs) {
        clock.setMs(atMs);
        lim.occur([&] { out.push_back("line"); });
    };
    auto takeDue = [&](u64 atMs) {
        clock.setMs(atMs);
        return lim.takeDue();
    };
    occur(0);
    for (u64 t = 10; t < 1000; t += 10) occur(t);  // 99 held back
    EXPECT_EQ(out, std::vector<std::string>{"line"});
    // Due when the second ends, more coming or not.
    EXPECT_EQ((Vals{takeDue(999), takeDue(1000)}), (Vals{0, 99}));
    // The next one opens a second of its own, from its own time.
    occur(1200);
    occur(1700);
    EXPECT_EQ((Vals{takeDue(2199), takeDue(2200)}), (Vals{0, 1}));
    EXPECT_EQ(takeDue(3000), 0u);
    occur(3050);
    occur(3100);
    occur(3200);
    // A stop hands over what is held, due or not, and starts afresh.
    EXPECT_EQ(lim.takeAll(), 2u);
    occur(3300);
    occur(3400);
    occur(4400);  // the held one comes out first; this one opens a second
    EXPECT_EQ(takeDue(5400), 0u);
    EXPECT_EQ(out, (std::vector<std::string>{"line", "line", "line", "line", "count 1", "line"}));

    // A stream of one a millisecond for 5 s: a line and a count at each
    // second, and every occurrence in a line or a count.
    out.clear();
    clock.setMs(100000);
    LineLimiter stream([&](u64 n) { out.push_back("count " + std::to_string(n)); });
    for (u64 t = 100000; t < 105000; ++t) {
        clock.setMs(t);
        stream.occur([&] { out.push_back("line"); });
    }
    EXPECT_EQ(out, (std::vector<std::string>{"line", "count 999", "line", "count 999", "line", "count 999", "line",
                                             "count 999", "line"}));
    EXPECT_EQ(stream.takeAll(), 999u);
}

// The period is fixed from the occurrence printed: the first one after it
// prints again, however closely the others came, and the count of those in
// between comes at the period's end, from the tick when nothing else brings
// it. The tick runs every 10 ms, after the occurrences of its time.
TEST_F(UtilsTest, ALimiterPrintsTheFirstOfEachPeriodOfAStreamThatNeverPauses) {
    ManualClock& clock = useManualClock();
    LineLimiter::writeHeldCounts();
    auto every = [](u64 from, u64 step, u64 to) {
        std::vector<u64> t;
        for (u64 at = from; at < to; at += step) t.push_back(at);
        return t;
    };
    auto linesAndCounts = [](int periods, u64 periodMs, int lines, const std::string& count) {
        std::vector<std::string> want;
        for (int p = 0; p < periods; ++p) {
            if (p) want.push_back(count + "@" + std::to_string(p * periodMs));
            for (int i = 0; i < lines; ++i) want.push_back("line@" + std::to_string(p * periodMs + i * 500));
        }
        return want;
    };
    const struct {
        const char* name;
        u32 burst;
        u64 periodMs;
        std::vector<u64> at;  // the occurrences, multiples of 10 ms
        u64 endMs;            // the last tick
        std::vector<std::string> want;
    } rows[] = {
        // A slider dragged: 4 a second for 8 s, 8 lines and 8 counts of 3
        // (32 - 8), the last one written by the tick.
        {"4 a second for 8 s", 1, 1000, every(0, 250, 8000), 8000,
         [&] {
             auto w = linesAndCounts(8, 1000, 1, "count 3");
             w.push_back("count 3@8000");
             return w;
         }()},
        {"a burst, then silence", 1, 1000, every(0, 10, 100), 3000, {"line@0", "count 9@1000"}},
        {"one a period", 1, 1000, every(0, 1000, 4000), 5000, {"line@0", "line@1000", "line@2000", "line@3000"}},
        // The one at 990 is counted at 1000 by the tick; the one at 1980
        // opens the next period.
        {"a little faster than one a period", 1, 1000, every(0, 990, 4000), 5000,
         {"line@0", "count 1@1000", "line@1980", "count 1@2980", "line@3960"}},
        // The log's limit: 6 lines whole in 5 s, then a count; each 5 s of a
        // stream begins with a whole burst again.
        {"a burst of 6 in 5 s, 2 a second for 12 s", 6, 5000, every(0, 500, 12000), 12000, [&] {
             auto w = linesAndCounts(3, 5000, 6, "count 4");
             w.resize(w.size() - 2);  // the last 5 s have 4 lines, none held
             return w;
         }()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        clock.setMs(0);
        std::vector<std::string> out;
        u64 now = 0;
        LineLimiter lim([&](u64 n) { out.push_back("count " + std::to_string(n) + "@" + std::to_string(now)); },
                        row.burst, row.periodMs);
        auto next = row.at.begin();
        for (now = 0; now <= row.endMs; now += 10) {
            clock.setMs(now);
            for (; next != row.at.end() && *next == now; ++next)
                lim.occur([&] { out.push_back("line@" + std::to_string(now)); });
            LineLimiter::writeDueCounts();
        }
        EXPECT_EQ(out, row.want);
        EXPECT_EQ(lim.takeAll(), 0u);
    }
}

namespace {
// The texts of the log's lines, without time and tag.
std::vector<std::string> logTexts() {
    std::vector<std::string> out;
    const std::string log = readHostFile(Root::path(kLogFile));
    for (size_t at = 0; at < log.size();) {
        const size_t eol = log.find('\n', at);
        const std::string line = log.substr(at, eol - at);
        out.push_back(line.substr(line.find("# PELKMSG # ") + 12));
        at = eol + 1;
    }
    return out;
}
}  // namespace

// Every limiter's count is written by the tick once its second is over,
// with no occurrence to bring it, whoever owns the limiter; the stop writes
// what is held. A limiter that is gone is no longer asked.
TEST_F(UtilsTest, EveryLimitersCountFallsDueOnTheTickAndTheStopWritesWhatIsHeld) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    // What earlier tests left held goes out before this test's lines.
    LineLimiter::writeHeldCounts();
    FileOps::removePath(kLogFile);
    auto oversized = [] {
        static LineLimiter l(LineLimiter::logCount(WARNING, "fpga", "PC frames for the cards not sent"));
        return &l;
    };
    LineLimiter clockSet(LineLimiter::logCount(INFO, "clock set", "times"));
    auto gone = std::make_unique<LineLimiter>(LineLimiter::logCount(INFO, "gone", "lines"));
    auto lines = logTexts;
    for (int i = 0; i < 10; ++i) {
        oversized()->occur([] { writeLogMsg(WARNING, "oversized"); });
        clockSet.occur([] { writeLogMsg(INFO, "clock"); });
        gone->occur([] { writeLogMsg(INFO, "gone"); });
    }
    gone.reset();
    clock.setMs(999);
    LineLimiter::writeDueCounts();
    EXPECT_EQ(lines(), (std::vector<std::string>{"oversized", "clock", "gone"}));
    clock.setMs(1000);
    LineLimiter::writeDueCounts();
    LineLimiter::writeDueCounts();
    std::vector<std::string> counts = lines();
    ASSERT_EQ(counts.size(), 5u);
    counts.erase(counts.begin(), counts.begin() + 3);
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, (std::vector<std::string>{"clock set: 9 more times in the last second",
                                                "fpga: 9 more PC frames for the cards not sent in the last second"}));
    // The first after the second is printed again; the others are held at
    // the stop, however young their second.
    clock.setMs(1100);
    for (int i = 0; i < 3; ++i) oversized()->occur([] { writeLogMsg(WARNING, "oversized"); });
    LineLimiter::writeHeldCounts();
    LineLimiter::writeHeldCounts();
    std::vector<std::string> all = lines();
    ASSERT_EQ(all.size(), 7u);
    all.erase(all.begin(), all.begin() + 5);
    EXPECT_EQ(all, (std::vector<std::string>{"oversized",
                                             "fpga: 2 more PC frames for the cards not sent in the last second"}));
}

// A place added anywhere that writes to the log, named nowhere, is limited
// by the log itself: its burst whole, then a count, and while the lines keep
// coming a burst and a count each period, all adding up to what came.
// Another place keeps its own burst. What limiters let through takes the
// same road: twelve of one place pass six of their lines, while each one's
// count is a place of its own.
TEST_F(UtilsTest, EveryPlaceThatWritesToTheLogIsLimitedWithoutBeingNamed) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    LineLimiter::writeHeldCounts();
    FileOps::removePath(kLogFile);
    g_debugSwitch = 0;
    const std::string place = "tests/core/test_utils.cpp:" + std::to_string(__LINE__ + 1);
    auto scratch = [](int i) { writeLogMsg(WARNING, "scratch " + std::to_string(i)); };
    // One line every 2 ms for 10 s, the tick between them.
    for (int i = 0; i < 5000; ++i) {
        clock.setMs(2 * u64(i));
        scratch(i);
        if (i == 4000) writeLogMsg(INFO, "another place");
        LineLimiter::writeDueCounts();
    }
    clock.setMs(10000);
    LineLimiter::writeDueCounts();
    std::vector<std::string> want;
    for (int i = 0; i < 6; ++i) want.push_back("scratch " + std::to_string(i));
    want.push_back("2494 more lines from " + place + " suppressed");
    for (int i = 2500; i < 2506; ++i) want.push_back("scratch " + std::to_string(i));
    want.push_back("another place");
    want.push_back("2494 more lines from " + place + " suppressed");
    EXPECT_EQ(logTexts(), want);

    FileOps::removePath(kLogFile);
    std::vector<std::unique_ptr<LineLimiter>> kinds;
    const std::string kindPlace = "tests/core/test_utils.cpp:" + std::to_string(__LINE__ + 3);
    for (int k = 0; k < 12; ++k) {
        kinds.push_back(std::make_unique<LineLimiter>(LineLimiter::logCount(INFO, "kind " + std::to_string(k), "")));
        for (int i = 0; i < 3; ++i) kinds.back()->occur([] { writeLogMsg(INFO, "a kind"); });
    }
    clock.setMs(21000);
    LineLimiter::writeDueCounts();
    g_debugSwitch = 254;
    std::vector<std::string> kindLines = logTexts();
    std::sort(kindLines.begin(), kindLines.end());
    ASSERT_EQ(kindLines.size(), 19u);
    EXPECT_EQ((std::vector<std::string>{kindLines[0], kindLines[5], kindLines[6], kindLines[7], kindLines[18]}),
              (std::vector<std::string>{"6 more lines from " + kindPlace + " suppressed", "a kind", "a kind",
                                        "kind 0: 2 more in the last second", "kind 9: 2 more in the last second"}));
}

namespace {
// Virtual time whose next reading, once armed, runs `hook` after it has
// taken the time, as a thread pre-empted right after its reading would.
class PreemptedClock : public ManualClock {
public:
    uint64_t nowUs() override {
        const uint64_t t = ManualClock::nowUs();
        std::function<void()> h;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            h.swap(m_hook);
        }
        if (h) h();
        return t;
    }
    void arm(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hook = std::move(hook);
    }

private:
    std::mutex m_mutex;
    std::function<void()> m_hook;
};
}  // namespace

// A thread that read the clock and lost the processor before the limiter's
// lock must not open a second older than the one another thread opened
// meanwhile: that would print a second line of one burst.
TEST_F(UtilsTest, TheLimiterReadsTheClockUnderItsLock) {
    auto owned = std::make_unique<PreemptedClock>();
    PreemptedClock& clock = *owned;
    board().setClock(std::move(owned));
    clock.setMs(5000);
    int printed = 0;
    LineLimiter lim([](u64) {});
    std::thread other;
    std::promise<void> done;
    clock.arm([&] {
        // The other thread comes half a second later; it gets the lock, if
        // at all, within a bound.
        clock.setMs(5500);
        std::future<void> finished = done.get_future();
        other = std::thread([&] {
            if (lim.admit()) ++printed;
            done.set_value();
        });
        finished.wait_for(std::chrono::milliseconds(500));
    });
    const bool first = lim.admit();
    other.join();
    EXPECT_EQ((Vals{first, printed}), (Vals{1, 0}));
    EXPECT_EQ(lim.takeAll(), 1u);
}

// Helpers that write lines for their callers, and lines that serve several
// devices: a flood through one caller or one device (a device whose fault
// comes and goes, a refusal at a peer's rate) spends that one's place only,
// and another caller's or device's line comes out whole. Where each device
// fails once (every absent chip, every GPIO line of a window too small),
// every line is written.
TEST_F(UtilsTest, AFloodThroughOneCallerOfAHelperLeavesAnotherCallersLineWhole) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    g_debugSwitch = 0;
    struct Row {
        const char* helper;
        std::function<void(int i)> flood;
        std::function<void()> other;
        std::string line;
        size_t lines = kLogBurst + 1;
    };
    FaultNote serialRead, spiTransfer, spiA, spiB;
    std::atomic<bool> notBuilt[20] = {}, otherNotBuilt{false};
    auto spiFault = [](FaultNote& note, const std::string& node) {
        note.fail(node, "can't send spi message on " + node);
    };
    // Plain files where the nodes belong: every request of theirs fails.
    // The c331's SPI node and FPGA 2's.
    const std::string node[2] = {hostPath("/dev/spidev32766.0"), hostPath("/dev/spidev32766.2")};
    for (const char* n : {"/dev/spidev32766.0", "/dev/spidev32766.2", "/dev/ttyS1", "/dev/ttyS2", "/dev/mtd10",
                          "/dev/mtd8", "/dev/i2c-0"})
        writeHostFile(hostPath(n), "x");
    LinuxSpiDevice spi0(node[0]), spi1(node[1]);
    LinuxMtdDevice kernel(hostPath("/dev/mtd10")), logo(hostPath("/dev/mtd8"));
    LinuxI2cBus i2c(hostPath("/dev/i2c-0"));
    auto absent = [&](u16 chip) {
        u8 byte = 0;
        I2cMsg msg{chip, I2cMsg::Read, 1, &byte};
        i2c.transfer(&msg, 1);
    };
    static volatile uint8_t window[2];
    LinuxGpio gpio(window, sizeof window);
    size_t gpioLines = 0;
    const GpioLineDesc* gpioTable = gpioBoardTable(gpioLines);
    // Folders where two of the simulated board's files belong, opened from one line.
    const std::string simFile[2] = {hostPath("/var/log/sim_fpga0.log"), hostPath("/var/lib/sim/edid_eeprom3.bin")};
    for (const std::string& f : simFile) QDir().mkpath(QString::fromStdString(f));
    auto simOpen = [](const std::string& file) { simOpenFile(file, O_WRONLY | O_APPEND | O_CREAT); };
    MtdInfo info;
    const std::vector<Row> rows = {
        {"FaultNote::fail",
         [&](int) {
             serialRead.fail("/dev/ttyS2", "serial read /dev/ttyS2: I/O error");
             serialRead.ok();
         },
         [&] { spiTransfer.fail("/dev/spidev1.0", "can't send spi message on /dev/spidev1.0"); },
         "can't send spi message on /dev/spidev1.0"},
        {"FaultNote::fail, one line for two devices",
         [&](int) {
             spiFault(spiA, "/dev/spidev32766.3");
             spiA.ok();
         },
         [&] { spiFault(spiB, "/dev/spidev32766.4"); }, "can't send spi message on /dev/spidev32766.4"},
        {"LinuxSpiDevice::configure", [&](int) { spi0.configure(3, 10000000); }, [&] { spi1.configure(3, 10000000); },
         "can't set spi mode " + node[1] + ": Inappropriate ioctl for device"},
        {"LinuxSerialPort", [&](int) { LinuxSerialPort(hostPath("/dev/ttyS2"), 115200); },
         [&] { LinuxSerialPort(hostPath("/dev/ttyS1"), 115200); },
         "serial set-up (not a tty?) " + hostPath("/dev/ttyS1") + ": Inappropriate ioctl for device"},
        {"LinuxMtdDevice::getInfo", [&](int) { kernel.getInfo(info); }, [&] { logo.getInfo(info); },
         "MEMGETINFO " + hostPath("/dev/mtd8") + ": Inappropriate ioctl for device"},
        {"LinuxI2cBus::transfer, a chip absent at each address", [&](int i) { absent(u16(0x10 + i)); },
         [&] { absent(0x50); },
         "I2C transfer to 0xA0 on " + hostPath("/dev/i2c-0") + ": Inappropriate ioctl for device", 21},
        {"LinuxGpio, every line outside its window",
         [&](int i) { gpio.setLine(gpioTable[size_t(i) % (gpioLines - 1)].name, 1); },
         [&] { gpio.setLine(GpioName::kSdiTransmitter, 1); },
         "GPIO line sdi_transmitter: register offset unknown on this board", gpioLines},
        {"Drv_I2C0::i2c_write", [](int) { Drv_I2C0::i2c_write(3, 0x98, 0, nullptr, 300); },
         [] { Drv_I2C0::i2c_write(3, 0xA0, 0, nullptr, 300); }, "i2c_write: 300 bytes to device 160 refused"},
        {"simOpenFile", [&](int) { simOpen(simFile[0]); }, [&] { simOpen(simFile[1]); },
         "sim: " + simFile[1] + " not written: a folder is in its place"},
        {"FileCheck::keepAside",
         [](int i) { FileCheck::keepAside(FileCheck::Checked::UserMode, "/data/modes/m" + std::to_string(i), "bad"); },
         [] { FileCheck::keepAside(FileCheck::Checked::OsdMenu, "/data/configs/omenu.json", "not JSON"); },
         "OSD menu file /data/configs/omenu.json refused: not JSON; cannot be kept aside, left as it is; built-in "
         "values used"},
        {"FileCheck::notTaken",
         [](int) {
             FileCheck::notTaken(FileCheck::Checked::AliasNames, "/data/configs/alias.json",
                                 {FileOps::FileRead::Failed, "a read failed"});
         },
         [] {
             FileCheck::notTaken(FileCheck::Checked::Settings, "/data/configs/tcpip.ini",
                                 {FileOps::FileRead::Failed, "EIO"});
         },
         "settings file /data/configs/tcpip.ini cannot be read (EIO); built-in values used, the file left as it is"},
        {"log_not_built", [&](int i) { log_not_built(notBuilt[i], "it6805 CEC"); },
         [&] { log_not_built(otherNotBuilt, "SDI receiver reset"); }, "SDI receiver reset: not built"},
        {"SettingsPages::limitedValue", [](int) { SettingsPages::limitedValue("x", 1, 40, "crop x"); },
         [] { SettingsPages::limitedValue("9999", 1, 4096, "EDID width"); }, "EDID width \"9999\" held to 4096"},
    };
    for (const Row& row : rows) {
        LineLimiter::writeHeldCounts();
        FileOps::removePath(kLogFile);
        for (int i = 0; i < 20; ++i) row.flood(i);
        row.other();
        const std::vector<std::string> lines = logTexts();
        EXPECT_EQ(lines.size(), row.lines) << row.helper;
        EXPECT_EQ(lines.back(), row.line) << row.helper;
    }
    g_debugSwitch = 254;
}

// A count written by the tick (or the stop) may be the first line of its
// place, whose limiter joins the list, while another thread makes a
// limiter or writes a place's first line: the list is not held while a
// count is written, or the two would wait for each other for good.
TEST_F(UtilsTest, ACountIsWrittenWithoutHoldingTheListOfLimiters) {
    ManualClock& clock = useManualClock();
    clock.setMs(0);
    LineLimiter::writeHeldCounts();
    bool joined[2] = {false, false};
    std::future<void> others[2];  // ended once the counts are written, whatever they held
    for (bool atStop : {false, true}) {
        LineLimiter lim([&](u64) {
            // Bounded: under a lock held here the other thread waits for good.
            others[atStop] = std::async(std::launch::async, [] {
                LineLimiter another([](u64) {});
                writeLogMsg(INFO, "a place's first line");
            });
            joined[atStop] = others[atStop].wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        });
        lim.occur([] {});
        lim.occur([] {});
        clock.advanceMs(LineLimiter::kPeriodMs);
        if (atStop)
            LineLimiter::writeHeldCounts();
        else
            LineLimiter::writeDueCounts();
    }
    EXPECT_EQ((Vals{joined[0], joined[1]}), (Vals{1, 1}));
}
