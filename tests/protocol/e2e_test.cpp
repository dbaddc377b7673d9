// The whole program against the simulated board, driven with the client
// over UDP, TCP and the RS-485 line. The binaries are found beside the test
// program's build folder, or through ZRV_APP_BINARY and ZRV_CLIENT_BINARY.
#include "frame_helpers.h"

#include "core/line_limiter.h"
#include "core/md5.h"
#include "core/zrvrampara.h"
#include "protocol/message_deal.h"
#include "protocol/udpnetmanage.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <random>
#include <mutex>
#include <set>
#include <poll.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>


namespace {

// True when nothing on the loopback interface holds the UDP port.
bool udpPortFree(u16 port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

u16 freeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        m_net = std::make_unique<ProgramNetwork>();
        m_app = binary("ZRV_APP_BINARY", "zrvK57N");
        m_client = binary("ZRV_CLIENT_BINARY", "zrvctl");
        if (!QFileInfo(m_app).isExecutable() || !QFileInfo(m_client).isExecutable())
            ZRV_SKIP_OR_FAIL_UNDER_CI("program or client not built: " << m_app.toStdString());
        if (!m_net->isPrivate()) {
            // Another program run (another test, a maintainer's PC run) may
            // hold the port for a while.
            bool free = false;
            for (int i = 0; i < 120 && !(free = udpPortFree(udpnetManage::kCommandPort)); ++i) QThread::msleep(250);
            if (!free) ZRV_SKIP_OR_FAIL_UNDER_CI("UDP port 5008 is in use on this host");
        }
        ASSERT_TRUE(m_root.isValid());
        m_tcpPort = freeTcpPort();
        QDir().mkpath(m_root.filePath("data/configs"));
        QFile ini(m_root.filePath("data/configs/tcpip.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[config]\nTcpPort=%1\n").arg(m_tcpPort).toLatin1());
        ini.close();
        beforeStart();
        startProgram();
    }
    // What a test leaves in the root for the first start.
    virtual void beforeStart() {}
    // display: an X display to draw on instead of the offscreen platform.
    void startProgram(const QString& display = QString()) {
        m_proc.setProcessEnvironment(programEnvironment(display));
        m_proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_proc.setStandardOutputFile(m_console.isEmpty() ? m_root.filePath("program.out") : m_console,
                                     QIODevice::Append);
        QStringList args;
        if (m_framebuffer) {
            // One frame of the device's LCD, 800x480 pixels of 32 bits, all
            // black before each start.
            QFile fb(m_root.filePath("fb"));
            ASSERT_TRUE(fb.open(QIODevice::WriteOnly | QIODevice::Truncate) && fb.resize(800 * 480 * 4));
            args << "-platform" << "linuxfb:fb=" + fb.fileName() + ":nographicsmodeswitch";
        }
        m_proc.start(m_app, args);
        ASSERT_TRUE(m_proc.waitForStarted(10000));
    }
    QProcessEnvironment programEnvironment(const QString& display = QString()) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZRV_BOARD", "sim");
        env.insert("ZRV_ROOT", m_root.path());
        env.insert("ZRV_START_DELAY_MS", "0");
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        if (!display.isEmpty()) env.insert("DISPLAY", display);
        // The panel draws without OpenGL; the GLX probe on a virtual X server
        // only adds a driver that crashes under the thread checker.
        if (!display.isEmpty()) env.insert("QT_XCB_GL_INTEGRATION", "none");
        // On X the accessibility bridge waits for the session bus. With no
        // bus address the bus library forks to launch one, and a child forked
        // while a sanitizer's allocator lock is held spins for ever: the GUI
        // thread would never reach its loop. A bus that is not there fails
        // at once.
        if (!display.isEmpty())
            env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + m_root.filePath("no-session-bus"));
        env.insert("LSAN_OPTIONS", "suppressions=" ZRV_LSAN_SUPP);
        if (m_framebuffer) {
            // The device's display platform, as its loader starts the program
            // (startProgram names it): a file in the root stands for the
            // framebuffer through the preloaded library, which comes before
            // the sanitizer's runtime; no input device of this machine is
            // probed. The platform's own leaks are told by their whole stacks.
            env.remove("QT_QPA_PLATFORM");
            env.insert("LD_PRELOAD", ZRV_FB_SHIM);
            const QString asan = env.value("ASAN_OPTIONS");
            env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") +
                                           "verify_asan_link_order=0:fast_unwind_on_malloc=0");
            env.insert("QT_QPA_FB_DISABLE_INPUT", "1");
        }
        // A test that wants a board scenario leaves it in the root.
        env.remove("ZRV_BOARD_CONFIG");
        if (m_scenarioNamed || QFileInfo::exists(m_root.filePath("board.json")))
            env.insert("ZRV_BOARD_CONFIG", m_root.filePath("board.json"));
        return env;
    }
    void TearDown() override {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(5000);
        }
        m_net.reset();
    }
    // Sends the signal and waits for the program to end: its exit status,
    // or -1 when it crashed or did not end.
    // The wait bounds a program that does not stop; a loaded machine stops
    // it later.
    int endWith(int sig) {
        ::kill(pid_t(m_proc.processId()), sig);
        if (!m_proc.waitForFinished(60000)) return -1;
        return m_proc.exitStatus() == QProcess::NormalExit ? m_proc.exitCode() : -1;
    }

    // Every command is answered: a loaded machine answers later, never not
    // at all. The client's wait bounds only a program that does not answer;
    // a frame for the cards gets 6 s more from the client itself.
    static constexpr int kAnswerMs = 10000;
    // Runs the client; its exit status, and its output in out.
    int client(const QStringList& args, QString* out = nullptr, QString* err = nullptr, int waitMs = kAnswerMs) {
        QProcess p;
        p.start(m_client, QStringList{"--timeout", QString::number(waitMs)} + args);
        if (!p.waitForFinished(waitMs + 30000)) {
            p.kill();
            p.waitForFinished(2000);
            return -1;
        }
        if (out) *out = QString::fromLatin1(p.readAllStandardOutput()).trimmed();
        if (err) *err = QString::fromLatin1(p.readAllStandardError()).trimmed();
        return p.exitCode();
    }
    QStringList udp() const { return {"--udp", "127.0.0.1:5008"}; }
    QStringList tcp() const { return {"--tcp", QStringLiteral("127.0.0.1:%1").arg(m_tcpPort)}; }
    QStringList serial() const { return {"--serial", m_root.filePath("dev/ttyS2.pc")}; }

    // The program answers on UDP within a minute. Before its link is open
    // an ask costs its whole wait: the first are short, later ones as long
    // as any other.
    bool waitReady() {
        QElapsedTimer spent;
        spent.start();
        for (int waitMs = 500; spent.elapsed() < 60000; waitMs = std::min(2 * waitMs, kAnswerMs)) {
            if (m_proc.state() == QProcess::NotRunning) return false;
            if (client(udp() + QStringList{"info"}, nullptr, nullptr, waitMs) == 0) return true;
            QThread::msleep(250);
        }
        return false;
    }
    // The six cards behind port 6 of FPGA 0 (on a board that has them) are
    // counted: the FPGAs come up within seconds of the start, and the
    // search counts the cards. Every PC frame pauses the search for 80
    // ticks: asked once a second. The last answer in out.
    bool sixCardsCounted(QString* out) {
        for (int i = 0; i < 45; ++i) {
            QThread::msleep(1000);
            if (client(udp() + QStringList{"ram-read", "0x101234", "2"}, out) == 0 && *out == "0600") return true;
        }
        return false;
    }
    int persistedWord(u32 offset) {
        QFile f(m_root.filePath("data/ram_device_info"));
        if (!f.open(QIODevice::ReadOnly)) return -1;
        const QByteArray b = f.readAll();
        const int at = int(offset - RamOffset::PERSIST_BEGIN + RamFile::DATA_OFFSET);
        if (b.size() < at + 2) return -1;
        return u8(b[at]) | (u8(b[at + 1]) << 8);
    }
    // The board scenario of the next start.
    void writeBoard(const char* json) {
        QFile board(m_root.filePath("board.json"));
        ASSERT_TRUE(board.open(QIODevice::WriteOnly));
        board.write(json);
    }
    void sendRaw(const Bytes& bytes) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in a = loopback(udpnetManage::kCommandPort);
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        ::close(fd);
    }

    // The status the program answers a frame with, sent as it is: past the
    // client, which refuses before sending what the program would refuse.
    u8 rawStatus(const Bytes& frame) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(udpnetManage::kCommandPort);
        const Bytes enc = encode(frame);
        ::sendto(fd, enc.data(), enc.size(), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        FrameDecoder decoder(65536);
        Bytes reply;
        std::vector<u8> buf(65536);
        pollfd p{fd, POLLIN, 0};
        while (reply.empty() && ::poll(&p, 1, kThreadWorkMs) == 1) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            decoder.feed(buf.data(), size_t(std::max<ssize_t>(n, 0)),
                         [&](const u8* f, u32 size) { reply.assign(f, f + size); });
        }
        ::close(fd);
        return replyStatus(reply);
    }

    std::unique_ptr<ProgramNetwork> m_net;
    QTemporaryDir m_root;
    QProcess m_proc;
    QString m_app, m_client;
    u16 m_tcpPort = 0;
    bool m_scenarioNamed = false;  // the board is given board.json, there or not
    bool m_framebuffer = false;    // started on the device's display platform
    QString m_console;             // where standard output goes, when not program.out
};

}  // namespace

TEST_F(EndToEnd, BrightnessOnEveryLinkAndContrastIsPersisted) {
    ASSERT_TRUE(waitReady());
    QString out;
    for (const QStringList& link : {udp(), tcp(), serial()}) {
        EXPECT_EQ(client(link + QStringList{"word-read", "2176"}, &out), 0) << link.join(' ').toStdString();
        EXPECT_EQ(out, "100") << link.join(' ').toStdString();
    }

    const int before = persistedWord(RamOffset::CONTRAST);
    const int wanted = before == 61 ? 62 : 61;
    ASSERT_EQ(client(tcp() + QStringList{"word-write", "2178", QString::number(wanted)}), 0);
    EXPECT_TRUE(waitFor([&] { return persistedWord(RamOffset::CONTRAST) == wanted; }, 10000))
        << "contrast in the image file: " << persistedWord(RamOffset::CONTRAST);
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2178"}, &out), 0);
    EXPECT_EQ(out, QString::number(wanted));
}

TEST_F(EndToEnd, HostileFramesLeaveTheProgramServing) {
    ASSERT_TRUE(waitReady());
    sendRaw(Bytes(5000, 0xA5));
    sendRaw({0xA5, 0xA5, 0xA5, 0x5A});
    Bytes bad = encode(makeFrame(PcCmd::RamRead, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    sendRaw(bad);
    bad[bad.size() - 2] ^= 0x40;
    sendRaw(bad);
    sendRaw(encode(makeFrame(PcCmd::RamWrite, {0xFC, 0x0F, 0, 0, 0xFF, 0xFF, 0, 0, 1})));
    sendRaw(encode(makeFrame(PcCmd::FileStart, Bytes(5, 0xFF))));
    Bytes hostile = {PcFile::ScanFile, 4, 0, 0, 0};
    hostile.insert(hostile.end(), 16, 0);
    for (char c : std::string("../../../etc/QDFRx")) hostile.push_back(u8(c));
    sendRaw(encode(makeFrame(PcCmd::FileStart, hostile)));

    QString out;
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2176"}, &out), 0);
    EXPECT_EQ(out, "100");
    EXPECT_EQ(client(udp() + QStringList{"ram-read", "0", "1025"}), 2);  // refused by the client itself
    // Registers 1060 and 1061, one past the block.
    EXPECT_EQ(rawStatus(makeFrame(PcCmd::RegRead, {0x24, 0x04, 2, 0})), ReplyStatus::BadArgument);
    EXPECT_EQ(m_proc.state(), QProcess::Running);
    EXPECT_FALSE(QFileInfo::exists(m_root.filePath("etc/QDFRx")));
}

TEST_F(EndToEnd, AFloodOfRefusedFileStartsLogsAFewLinesAndTheStopWritesTheCountHeld) {
    ASSERT_TRUE(waitReady());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(m_tcpPort);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    const timeval bound{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    Bytes unknownType = {77, 10, 0, 0, 0};
    unknownType.insert(unknownType.end(), 17, 'a');
    const Bytes one = encode(makeFrame(PcCmd::FileStart, unknownType));
    // n refused starts at once; true when each was answered with status 1.
    auto flood = [&](int n) {
        Bytes burst;
        for (int i = 0; i < n; ++i) burst.insert(burst.end(), one.begin(), one.end());
        if (::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) != ssize_t(burst.size())) return false;
        FrameDecoder decoder(4096);
        Collector replies;
        u8 buf[4096];
        while (int(replies.frames.size()) < n) {
            const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
            if (got <= 0) return false;
            replies.feed(decoder, Bytes(buf, buf + got));
        }
        for (const Bytes& r : replies.frames)
            if (replyStatus(r) != ReplyStatus::BadArgument) return false;
        return true;
    };
    const QString logPath = m_root.filePath("data/vimraqd/log/mwrEnglneLog");
    auto text = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
    };
    // Refusals the log tells of: a line each, or the number a count line
    // gives; and the lines that do.
    auto told = [](const QString& log, int* lines) {
        const QRegularExpression count("file transfer refused: (\\d+) more for unknown type in the last second");
        int n = 0;
        *lines = 0;
        for (const QString& line : log.split('\n')) {
            if (!line.contains("file transfer refused: ")) continue;
            ++*lines;
            const QRegularExpressionMatch m = count.match(line);
            n += m.hasMatch() ? m.captured(1).toInt() : 1;
        }
        return n;
    };
    int lines = 0;
    ASSERT_TRUE(flood(300));
    // The count falls due with no frame to bring it.
    EXPECT_TRUE(waitFor([&] { return told(text(logPath), &lines) == 300; }, 10000)) << text(logPath).toStdString();
    // A quiet second ends the burst; the next one's count is still held
    // when the program stops.
    QThread::msleep(LineLimiter::kPeriodMs + 100);
    ASSERT_TRUE(flood(300));
    ::close(fd);
    EXPECT_EQ(endWith(SIGTERM), 0);
    const QString log = text(logPath);
    EXPECT_EQ(told(log, &lines), 600) << log.toStdString();
    EXPECT_LE(lines, 12) << log.toStdString();
    EXPECT_LT(log.lastIndexOf("file transfer refused: "), log.indexOf("worker threads stopped")) << log.toStdString();
    // The console echoes the log's lines, no more.
    int echoed = 0;
    EXPECT_EQ(told(text(m_root.filePath("program.out")), &echoed), 600);
    EXPECT_EQ(echoed, lines);
}

TEST_F(EndToEnd, TermInterruptAndHangupEndWithStatusZeroAndTheLastChangeOnDisk) {
    const QString consolePath = m_root.filePath("program.out");
    // The console from a start's first byte.
    auto console = [&](qint64 from) {
        QFile f(consolePath);
        return f.open(QIODevice::ReadOnly) && f.seek(from) ? f.readAll() : QByteArray();
    };
    // The stop line starts a line of the console of its own, the last line
    // says every change is stored, and the signal was the program's own.
    auto stoppedInOrder = [&](qint64 from, int sig, const std::string& row) {
        const QByteArray text = console(from);
        const int at = text.indexOf("signal " + QByteArray::number(sig) + ": stopping\n");
        ASSERT_GT(at, 0) << row << ": " << text.right(2000).toStdString();
        EXPECT_EQ(text[at - 1], '\n') << row << ": " << text.mid(std::max(0, at - 40), 80).toStdString();
        EXPECT_GT(text.indexOf("worker threads stopped, parameters persisted\n", at), at) << row;
        EXPECT_FALSE(text.contains("display platform took")) << row;
    };
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(client(tcp() + QStringList{"word-write", "2178", "71"}), 0);
    // Slot s written whole (markers 0xAA, then bytes s) and applied.
    auto slotHex = [](int s) { return "aaaa" + QStringLiteral("%1").arg(s, 2, 16, QLatin1Char('0')).repeated(4096); };
    auto writeSlot = [&](int s) {
        return client(udp() + QStringList{"ram-write", QString::number(0x1000 * s), slotHex(s)}) == 0 &&
               client(udp() + QStringList{"reg-write", "0", "161", "0x04", "0x04"}) == 0;
    };
    auto slotFile = [&](int s) {
        QFile f(m_root.filePath(QStringLiteral("data/modes/custom_mode%1").arg(s)));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // Slots 1 to 13 hold modes, so each slot pass writes a dozen files and
    // the refresh after it owes a pause; slot 15 is applied during that
    // pause, and the stop comes at once.
    for (int s = 1; s <= 13; ++s) ASSERT_TRUE(writeSlot(s));
    ASSERT_TRUE(waitFor([&] { return !slotFile(13).isEmpty(); }, 10000));
    ASSERT_TRUE(writeSlot(14));
    ASSERT_TRUE(writeSlot(15));
    EXPECT_EQ(endWith(SIGTERM), 0);
    EXPECT_EQ(persistedWord(RamOffset::CONTRAST), 71);
    for (int s : {14, 15}) EXPECT_EQ(slotFile(s).toHex(), slotHex(s).left(8192).toLatin1()) << s;
    stoppedInOrder(0, SIGTERM, "first start");

    // Each next start reads the last value back, takes a new one and is
    // stopped at once; a terminal that goes (its window closed) hangs up.
    // The same on the device's display platform, with both FPGAs running
    // as on the device. On the first, the console was left in the middle of
    // the image file's debug line, which ends without a newline.
    struct Stop {
        int sig;
        bool framebuffer;
        bool storedFirst;
    };
    const Stop stops[] = {{SIGINT, false, true},  {SIGHUP, false, false}, {SIGTERM, true, false},
                          {SIGINT, true, false}, {SIGHUP, true, false}};
    int value = 71;
    for (const Stop& stop : stops) {
        const std::string row = "signal " + std::to_string(stop.sig) + (stop.framebuffer ? " on linuxfb" : "");
        const qint64 from = QFileInfo(consolePath).size();
        m_framebuffer = stop.framebuffer;
        startProgram();
        ASSERT_TRUE(waitReady()) << row;
        QString out;
        EXPECT_EQ(client(udp() + QStringList{"word-read", "2178"}, &out), 0) << row;
        EXPECT_EQ(out, QString::number(value)) << row;
        // On the framebuffer, once the panel is drawn there.
        auto drawn = [&] {
            QFile fb(m_root.filePath("fb"));
            return fb.open(QIODevice::ReadOnly) && fb.readAll().count('\0') < fb.size();
        };
        if (stop.framebuffer) {
            ASSERT_TRUE(waitFor([&] { return console(from).contains("fpga: FPGA 2 running"); }, 60000)) << row;
            ASSERT_TRUE(waitFor(drawn, 60000)) << row;
        }
        ASSERT_EQ(client(udp() + QStringList{"word-write", "2178", QString::number(++value)}), 0) << row;
        if (stop.storedFirst) {
            EXPECT_TRUE(waitFor([&] { return persistedWord(RamOffset::CONTRAST) == value; }, 10000)) << row;
        }
        EXPECT_EQ(endWith(stop.sig), 0) << row;
        EXPECT_EQ(persistedWord(RamOffset::CONTRAST), value) << row;
        stoppedInOrder(from, stop.sig, row);
    }
}

// A terminal that stops a background job's writes ("stty tostop"), the
// program started on it with "&": the console's writes never stop the
// program, which answers, stores what it answered and stops in order.
TEST_F(EndToEnd, ATerminalThatStopsABackgroundJobsWritesNeverStopsTheProgram) {
    // The fixture's own start ends first: one program runs on a root.
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(endWith(SIGTERM), 0);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    {
        const int tty = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(tty, 0);
        termios mode{};
        ASSERT_EQ(::tcgetattr(tty, &mode), 0);
        mode.c_lflag |= TOSTOP;
        ASSERT_EQ(::tcsetattr(tty, TCSANOW, &mode), 0);
        ::close(tty);
    }
    // Built before the fork: the children call only what a forked child of
    // a threaded process may.
    const QByteArray app = QFile::encodeName(m_app);
    std::vector<QByteArray> envText;
    for (const QString& kv : programEnvironment().toStringList()) envText.push_back(kv.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& kv : envText) envp.push_back(kv.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(app.constData()), nullptr};
    // Its standard error apart: the sanitizers' report at the end is
    // written past the console's road.
    const int errors = ::open(QFile::encodeName(m_root.filePath("program.err")).constData(),
                              O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    ASSERT_GE(errors, 0);
    int told[2];
    ASSERT_EQ(::pipe2(told, O_CLOEXEC), 0);
    // A session of its own whose terminal this is: its leader stays in the
    // foreground and the program runs in a group of its own behind it.
    const pid_t leader = ::fork();
    ASSERT_GE(leader, 0);
    if (leader == 0) {
        ::setsid();
        const int tty = ::open(terminal.c_str(), O_RDWR);  // the session's terminal
        const pid_t program = ::fork();
        if (program == 0) {
            ::setpgid(0, 0);
            ::dup2(tty, STDOUT_FILENO);
            ::dup2(errors, STDERR_FILENO);
            ::execve(argv[0], argv, envp.data());
            ::_exit(127);
        }
        (void)!::write(told[1], &program, sizeof program);
        int status = 0;
        while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
        }
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    ::close(told[1]);
    ::close(errors);
    pid_t program = -1;
    const bool known = ::read(told[0], &program, sizeof program) == ssize_t(sizeof program);
    ::close(told[0]);
    auto leaderStatus = [&](int boundMs) {
        int status = 0;
        const bool ended = waitFor([&] { return ::waitpid(leader, &status, WNOHANG) == leader; }, boundMs);
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_TRUE(known);
    bool ready = false;
    QElapsedTimer spent;
    spent.start();
    while (known && !ready && spent.elapsed() < 30000) {
        ready = client(udp() + QStringList{"info"}, nullptr, nullptr, 1000) == 0;
        if (!ready) QThread::msleep(250);
    }
    EXPECT_TRUE(ready) << "the program does not answer";
    if (ready) {
        EXPECT_EQ(client(udp() + QStringList{"word-write", "2178", "74"}), 0);
    }
    if (known) ::kill(program, SIGTERM);
    const int status = leaderStatus(15000);
    EXPECT_EQ(status, 0);
    if (status < 0) {
        if (known) ::kill(program, SIGKILL);
        leaderStatus(5000);
    }
    ::close(master);
    if (ready) {
        EXPECT_EQ(persistedWord(RamOffset::CONTRAST), 74);
    }
}

namespace {
// The program's console is a pipe (a FIFO in the root) of 4 KiB that its
// reader holds open without reading, as "./scripts/run | less" paused; the
// program's start alone prints more than that.
class EndToEndConsolePipe : public EndToEnd {
protected:
    void beforeStart() override {
        const QString fifo = m_root.filePath("console.fifo");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        m_reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_reader, 0);
        ::fcntl(m_reader, F_SETPIPE_SZ, 4096);
        m_console = fifo;
    }
    void TearDown() override {
        EndToEnd::TearDown();
        if (m_reader >= 0) ::close(m_reader);
    }
    // The wall width changed n times, a second apart: each change prints the
    // video processor's whole parameter dump, some 12 KiB.
    void changeTheWallWidth(int n) {
        for (int i = 0; i < n; ++i) {
            if (i) QThread::msleep(LineLimiter::kPeriodMs + 100);
            ASSERT_EQ(client(udp() + QStringList{"word-write", "1378", i % 2 ? "1920" : "1984"}), 0) << "change " << i;
        }
    }
    int m_reader = -1;
};
}  // namespace

// While nobody reads the console, a PC's changes are answered and stored,
// and a SIGTERM stops the program in order within its bound: the lines the
// console does not take are lost, nothing else.
TEST_F(EndToEndConsolePipe, AConsoleNobodyReadsLeavesThePcAnsweredAndTheStopInOrder) {
    ASSERT_TRUE(waitReady());
    changeTheWallWidth(3);
    ASSERT_EQ(client(tcp() + QStringList{"word-write", "2178", "76"}), 0);
    EXPECT_EQ(client(serial() + QStringList{"info"}), 0);
    EXPECT_EQ(endWith(SIGTERM), 0);
    EXPECT_EQ(persistedWord(RamOffset::CONTRAST), 76);
}

// A console whose reader has gone ("| head" done, "less" quit) costs the
// lines printed to it, nothing else: the program lives on, answers, stores
// the change it answered and stops in order.
TEST_F(EndToEndConsolePipe, AConsoleWhoseReaderHasGoneCostsOnlyItsLines) {
    ASSERT_TRUE(waitReady());
    ::close(m_reader);
    m_reader = -1;
    changeTheWallWidth(2);
    ASSERT_EQ(client(tcp() + QStringList{"word-write", "2178", "77"}), 0);
    EXPECT_EQ(client(udp() + QStringList{"info"}), 0);
    EXPECT_EQ(endWith(SIGTERM), 0);
    EXPECT_EQ(persistedWord(RamOffset::CONTRAST), 77);
}

namespace {
// Every entry under the root: a link's target, a file's bytes, else nothing.
std::map<QString, QByteArray> rootEntries(const QString& root) {
    std::map<QString, QByteArray> all;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    for (QFileInfo f; it.hasNext();) {
        QFile file((f = QFileInfo(it.next())).filePath());
        all[f.filePath()] = f.isSymLink() ? f.symLinkTarget().toUtf8()
                            : f.isFile() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    return all;
}

// Every thread of the process is stopped (state T): it writes nothing until
// continued. The stop reaches each thread on its own, so the main thread's
// state alone says nothing of a worker still inside its write.
bool stopped(qint64 pid) {
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty()) return false;
    for (const QString& id : ids) {
        QFile stat(tasks.filePath(id + "/stat"));
        if (!stat.open(QIODevice::ReadOnly)) return false;
        const QByteArray text = stat.readAll();
        if (text.mid(text.lastIndexOf(')') + 2, 1) != "T") return false;
    }
    return true;
}

// The entries that differ between two looks at a root, for a message.
QString changedEntries(const std::map<QString, QByteArray>& a, const std::map<QString, QByteArray>& b) {
    QStringList names;
    for (const auto& [name, content] : a)
        if (!b.count(name) || b.at(name) != content) names << name;
    for (const auto& [name, content] : b)
        if (!a.count(name)) names << name;
    return names.join(", ");
}
}  // namespace

// A second start on the root of a running program ends at once, naming the
// running one, and leaves every file as it was; once the running one is
// killed outright, the next start runs. So it does on every console it may
// be given: it ends with status 1, never killed by what its console's
// writes raise (SIGPIPE of a pipe whose reader has gone, SIGXFSZ of a file
// at its size limit), and says why where the console takes it.
TEST_F(EndToEnd, ASecondStartOnOneRootEndsNamingTheFirstAndTouchesNothing) {
    ASSERT_TRUE(waitReady());
    const qint64 first = m_proc.processId();
    // Held still, the first writes nothing: whatever changes is the second's.
    ::kill(pid_t(first), SIGSTOP);
    ASSERT_TRUE(waitFor([&] { return stopped(first); }, 10000));
    // Held in the middle of a settings write: its temporary is there, which
    // a start of its own would remove.
    writeHostFile(m_root.filePath("data/configs/tcpip.ini.new%1-1").arg(first).toStdString(), "[config]\n");
    const auto before = rootEntries(m_root.path());
    QProcess second;
    second.setProcessEnvironment(m_proc.processEnvironment());
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(m_app, QStringList());
    const bool ended = second.waitForFinished(20000);

    // Its standard output and error on each console, made outside the root.
    QTemporaryDir elsewhere;
    int gone[2], held[2];
    ASSERT_EQ(::pipe2(gone, O_CLOEXEC) | ::pipe2(held, O_CLOEXEC | O_NONBLOCK), 0);
    ::close(gone[0]);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const struct {
        const char* what;
        int console;  // -1: closed
        int said;     // where its words can be read, or -1
        bool sizeLimit;
    } consoles[] = {
        {"a pipe whose reader has gone", gone[1], -1, false},
        {"a pipe nobody reads", held[1], held[0], false},
        {"closed", -1, -1, false},
        {"a file at its size limit",
         ::open(QFile::encodeName(elsewhere.filePath("console")).constData(),
                O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600),
         -1, true},
        {"a full disk", ::open("/dev/full", O_WRONLY | O_CLOEXEC), -1, false},
        {"a terminal", ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC), master, false},
    };
    // Built before the fork: the child calls only what a forked child of a
    // threaded process may.
    const QByteArray app = QFile::encodeName(m_app);
    std::vector<QByteArray> envText;
    for (const QString& kv : m_proc.processEnvironment().toStringList()) envText.push_back(kv.toLocal8Bit());
    std::vector<char*> envp;
    for (QByteArray& kv : envText) envp.push_back(kv.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(app.constData()), nullptr};
    // Room for the files a sanitizer's runtime writes as the program
    // starts, none past the console's end.
    const rlimit limit{1 << 20, 1 << 20};
    for (const auto& c : consoles) EXPECT_TRUE(!c.sizeLimit || ::ftruncate(c.console, off_t(limit.rlim_cur)) == 0);
    for (const auto& c : consoles) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int fd : {STDOUT_FILENO, STDERR_FILENO}) c.console >= 0 ? ::dup2(c.console, fd) : ::close(fd);
            if (c.sizeLimit) ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGPIPE, SIG_DFL);
            ::signal(SIGXFSZ, SIG_DFL);
            ::execve(argv[0], argv, envp.data());
            ::_exit(127);
        }
        int status = -1;
        EXPECT_TRUE(waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20000)) << c.what;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.what << ": status " << status;
        if (c.said < 0) continue;
        char text[4096] = {};
        const ssize_t n = ::read(c.said, text, sizeof text - 1);
        EXPECT_NE(std::string(text, size_t(std::max<ssize_t>(0, n))).find("already runs on the root"), std::string::npos)
            << c.what;
    }
    for (const auto& c : consoles) ::close(c.console);
    for (int fd : {held[0], master}) ::close(fd);
    // Looked at before the first goes on, which then writes again.
    const auto after = rootEntries(m_root.path());
    ::kill(pid_t(first), SIGCONT);
    ASSERT_TRUE(ended);
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(second.exitCode(), 0);
    const QString said = QString::fromUtf8(second.readAll());
    EXPECT_TRUE(said.contains(QStringLiteral("already runs on the root %1 (process %2 holds").arg(m_root.path()).arg(first)))
        << said.toStdString();
    EXPECT_TRUE(before == after) << "changed: " << changedEntries(before, after).toStdString();
    // The first still serves, on its serial line too.
    EXPECT_EQ(client(serial() + QStringList{"info"}), 0);

    EXPECT_EQ(endWith(SIGKILL), -1);
    startProgram();
    EXPECT_TRUE(waitReady());
}

TEST_F(EndToEnd, LosingTheDisplayEndsWithStatusZeroAndTheLastChangeOnDisk) {
    // The panel on an X server of its own, which then dies.
    // Servers started by other test runs, each in a network namespace of
    // its own, do not see each other's sockets and may take the same display
    // number; two that build their keymap file, named after it, at once can
    // both die. So a number of this run's own, and another try if the server
    // dies before it is ready.
    QProcess x;
    QByteArray number;
    for (int attempt = 0; attempt < 5 && !number.contains('\n'); ++attempt) {
        const int display = 100 + int((u32(::getpid()) * 31u + u32(attempt) * 97u) % 800u);
        x.start("Xvfb", {":" + QString::number(display), "-displayfd", "1", "-screen", "0", "800x480x24",
                         "-nolisten", "tcp"});
        if (!x.waitForStarted(5000)) ZRV_SKIP_OR_FAIL_UNDER_CI("no Xvfb to lose");
        number.clear();
        for (int i = 0; i < 200 && !number.contains('\n') && x.state() == QProcess::Running; ++i) {
            x.waitForReadyRead(100);
            number += x.readAllStandardOutput();
        }
        if (number.contains('\n')) break;
        x.kill();
        x.waitForFinished(5000);
    }
    ASSERT_TRUE(number.contains('\n')) << "Xvfb gave no display number";
    endWith(SIGKILL);  // the offscreen one the fixture started
    startProgram(":" + QString::fromLatin1(number.trimmed()));
    ASSERT_TRUE(waitReady());
    // The links answer before the panel is on the display; a change reaches
    // the file only through the panel's loop, so once it is there the
    // program holds its display.
    ASSERT_EQ(client(udp() + QStringList{"word-write", "2178", "73"}), 0);
    for (int i = 0; i < 600 && persistedWord(RamOffset::CONTRAST) != 73; ++i) QThread::msleep(100);
    ASSERT_EQ(persistedWord(RamOffset::CONTRAST), 73);
    ASSERT_EQ(client(udp() + QStringList{"word-write", "2178", "74"}), 0);
    x.kill();
    x.waitForFinished(5000);
    ASSERT_TRUE(m_proc.waitForFinished(15000));
    EXPECT_EQ((Vals{m_proc.exitStatus(), m_proc.exitCode()}), (Vals{QProcess::NormalExit, 0}));
    EXPECT_EQ(persistedWord(RamOffset::CONTRAST), 74);
}

namespace {
// The processes whose environment holds the entry. A zombie shows none,
// and holds no display or port either.
std::set<pid_t> processesWith(const std::string& entry) {
    std::set<pid_t> found;
    for (const QString& name : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(name.toInt(&number));
        QFile environ("/proc/" + name + "/environ");
        if (!number || !environ.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& kv : environ.readAll().split('\0'))
            if (kv.toStdString() == entry) found.insert(pid);
    }
    return found;
}
// A process's state ('T': stopped; 'Z': a zombie), '?' once it is gone.
char processState(pid_t pid) {
    const std::string stat = readHostFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? '?' : stat[end + 2];
}
std::string processName(pid_t pid) {
    return QByteArray::fromStdString(readHostFile("/proc/" + std::to_string(pid) + "/comm")).trimmed().toStdString();
}
// The X displays listening in this network namespace (the abstract
// socket "@/tmp/.X11-unix/X<N>" and the file's), with the inode of each
// socket.
std::multimap<int, std::string> displaySockets() {
    std::multimap<int, std::string> found;
    const QRegularExpression x("^\\S+:(?:\\s+\\S+){5}\\s+(\\d+) @?/tmp/\\.X11-unix/X(\\d+)$");
    for (const QString& line : QString::fromStdString(readHostFile("/proc/thread-self/net/unix")).split('\n')) {
        const QRegularExpressionMatch m = x.match(line);
        if (m.hasMatch()) found.emplace(m.captured(2).toInt(), m.captured(1).toStdString());
    }
    return found;
}
// The displays the processes serve: those whose sockets they hold.
std::set<int> displaysServedBy(const std::set<pid_t>& pids) {
    std::set<std::string> held;
    for (pid_t p : pids) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(p);
        for (const QString& fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[64] = {};
            const QByteArray link = QFile::encodeName(fds + "/" + fd);
            if (::readlink(link.constData(), target, sizeof target - 1) > 0 && !strncmp(target, "socket:[", 8))
                held.insert(std::string(target + 8, strcspn(target + 8, "]")));
        }
    }
    std::set<int> displays;
    for (const auto& [display, inode] : displaySockets())
        if (held.count(inode)) displays.insert(display);
    return displays;
}
bool displayServed(int display) { return displaySockets().count(display) > 0; }
bool tcpPortFree(u16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in a = loopback(port);
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}
}  // namespace

// The screen of scripts/run (Xvfb and x11vnc, where DISPLAY is unset) ends
// with the run whatever stops it and whenever: a Ctrl+C (SIGINT to the
// terminal's process group), a kill (SIGTERM to the process), a terminal
// closed (SIGHUP to the group) or a kill -9, before Xvfb starts, at each
// point of the set-up (each helper's own process too, before it is tied to
// the run), or once the program has taken over the process, which then
// stops in order (but for the kill -9). Another run's screen beside it
// stays, and a run's display and VNC port are free once it has ended. The
// script's set-up step runs alone, as scripts/run runs it, and hands over
// to the program built for the tests.
TEST_F(EndToEnd, TheStartScriptsScreenEndsWithTheRunWheneverItIsStopped) {
    endWith(SIGKILL);  // the offscreen one the fixture started
    QProcessEnvironment base = programEnvironment(":0");
    base.remove("DISPLAY");
    const QByteArray bash = QFile::encodeName(QStandardPaths::findExecutable("bash"));
    ASSERT_FALSE(bash.isEmpty());
    int runs = 0;
    struct Run {
        pid_t pid = -1;
        std::string mark;  // an entry of its environment, and of its helpers'
        QString console;
        // The set-up's lines and the program's console.
        QString said() const {
            QFile f(console);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        }
        // The VNC port it said it serves on; 0 when it did not say.
        u16 port() const {
            const QRegularExpressionMatch m = QRegularExpression("connect a viewer to 127\\.0\\.0\\.1:(\\d+) ").match(said());
            return m.hasMatch() ? u16(m.captured(1).toUInt()) : 0;
        }
        // Its process (the script's, then the program's) has ended: true
        // with the status, reaped.
        bool ended(int* status) const { return ::waitpid(pid, status, WNOHANG) == pid; }
    };
    // What a failed check leaves of the runs is killed at the end.
    struct Sweep {
        std::vector<std::pair<pid_t, std::string>> runs;
        ~Sweep() {
            for (const auto& [pid, mark] : runs) {
                for (pid_t p : processesWith(mark)) ::kill(p, SIGKILL);
                waitFor([pid = pid] { return ::waitpid(pid, nullptr, WNOHANG) != 0; }, 10000);
            }
        }
    } sweep;
    // A run as a terminal starts it, a process group of its own with the
    // signals' own ends, stopping itself at the point named.
    auto start = [&](const QString& pauseAt, const QStringList& program) {
        Run run;
        run.mark = "ZRV_TEST_RUN=" + std::to_string(::getpid()) + "." + std::to_string(++runs);
        run.console = m_root.filePath(QStringLiteral("run%1.out").arg(runs));
        QProcessEnvironment env = base;
        if (!pauseAt.isEmpty()) env.insert("ZRV_RUN_PAUSE_AT", pauseAt);
        // Built before the fork: the child calls only what a forked child
        // of a threaded process may.
        std::vector<QByteArray> text;
        for (const QString& kv : env.toStringList()) text.push_back(kv.toLocal8Bit());
        text.push_back(QByteArray::fromStdString(run.mark));
        std::vector<char*> envp;
        for (QByteArray& kv : text) envp.push_back(kv.data());
        envp.push_back(nullptr);
        std::vector<QByteArray> args = {bash, "-c",
                                        "set -euo pipefail; . \"$0/places.sh\"; . \"$0/screen.sh\"; "
                                        "zrv_serve_screen; zrv_pause_at served; exec \"$@\"",
                                        ZRV_SOURCE_DIR "/scripts"};
        for (const QString& a : program) args.push_back(QFile::encodeName(a));
        std::vector<char*> argv;
        for (QByteArray& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int out = ::open(QFile::encodeName(run.console).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        run.pid = ::fork();
        if (run.pid == 0) {
            ::setpgid(0, 0);
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) ::signal(sig, SIG_DFL);
            ::dup2(in, STDIN_FILENO);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out);
        ::close(in);
        sweep.runs.emplace_back(run.pid, run.mark);
        return run;
    };
    // The run's process stopped at its point (its own or a helper's); -1
    // when none stopped within a minute.
    auto paused = [&](const Run& run) {
        pid_t at = -1;
        waitFor(
            [&] {
                for (pid_t p : processesWith(run.mark))
                    if (processState(p) == 'T') return at = p, true;
                return false;
            },
            60000);
        return at;
    };
    // Waits for the run's end and then for every process of its own to
    // have gone: true when all have (those left are named and killed).
    auto gone = [&](const Run& run, int* status) {
        const bool ended = waitFor([&] { return run.ended(status); }, 60000);
        if (!ended) ::kill(-run.pid, SIGKILL), waitFor([&] { return run.ended(status); }, 10000);
        EXPECT_TRUE(ended) << "the run did not end";
        std::set<pid_t> left;
        waitFor([&] { return (left = processesWith(run.mark)).empty(); }, 30000);
        for (pid_t p : left) {
            ADD_FAILURE() << "left running: " << processName(p) << " (" << p << ")";
            ::kill(p, SIGKILL);
        }
        return ended && left.empty();
    };
    auto hasScreenAndServer = [](const std::set<pid_t>& pids) {
        std::multiset<std::string> names;
        for (pid_t p : pids) names.insert(processName(p));
        return names.count("Xvfb") == 1 && names.count("x11vnc") == 1;
    };

    // Another run beside, its screen served, stopped where it would hand
    // over.
    const Run other = start("served", {"sleep", "600"});
    const pid_t otherPaused = paused(other);
    ASSERT_EQ(otherPaused, other.pid);
    const std::set<pid_t> others = processesWith(other.mark);
    ASSERT_TRUE(hasScreenAndServer(others));
    const std::set<int> otherDisplays = displaysServedBy(others);
    ASSERT_EQ(otherDisplays.size(), 1u);
    ASSERT_NE(other.port(), 0) << other.said().toStdString();
    auto otherStays = [&] {
        for (pid_t p : others)
            if (processState(p) == '?' || processState(p) == 'Z') return false;
        return displaysServedBy(others) == otherDisplays && !tcpPortFree(other.port());
    };

    const struct {
        int sig;
        bool group;  // to the run's process group, as a terminal sends it
    } stops[] = {{SIGINT, true}, {SIGTERM, false}, {SIGHUP, true}, {SIGKILL, false}};
    // "": once the program has taken over.
    const char* points[] = {"screen", "xvfb child", "xvfb", "display", "vnc child", "vnc", "served", ""};
    for (const char* point : points) {
        for (const auto& stop : stops) {
            SCOPED_TRACE(std::string("at \"") + point + "\", signal " + std::to_string(stop.sig));
            const Run run = start(point, {m_app});
            pid_t at = -1;
            if (*point) {
                at = paused(run);
                ASSERT_GT(at, 0) << run.said().toStdString();
            } else {
                bool ready = false;
                QElapsedTimer spent;
                spent.start();
                while (!ready && processState(run.pid) != 'Z' && spent.elapsed() < 60000) {
                    ready = client(udp() + QStringList{"info"}, nullptr, nullptr, 1000) == 0;
                    if (!ready) QThread::msleep(250);
                }
                EXPECT_TRUE(ready) << run.said().toStdString();
                EXPECT_EQ(QFileInfo("/proc/" + QString::number(run.pid) + "/exe").canonicalFilePath(),
                          QFileInfo(m_app).canonicalFilePath());
            }
            const std::set<pid_t> mine = processesWith(run.mark);
            const std::set<int> displays = displaysServedBy(mine);
            if (!*point || !strcmp(point, "served")) {
                EXPECT_TRUE(hasScreenAndServer(mine));
                EXPECT_EQ(displays.size(), 1u);
            }
            ::kill(stop.group ? -run.pid : run.pid, stop.sig);
            if (at > 0) ::kill(at, SIGCONT);
            int status = 0;
            const bool clean = gone(run, &status);
            if (*point) {
                EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == stop.sig) ||
                            (WIFEXITED(status) && WEXITSTATUS(status) == 128 + stop.sig))
                    << "status " << status;
            } else if (stop.sig == SIGKILL) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
            } else {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
                const QString said = run.said();
                EXPECT_TRUE(said.contains(QStringLiteral("signal %1: stopping\n").arg(stop.sig)) &&
                            said.contains("worker threads stopped, parameters persisted"))
                    << said.toStdString();
            }
            EXPECT_TRUE(clean);
            if (clean) {
                for (int display : displays) EXPECT_FALSE(displayServed(display)) << ":" << display;
                if (run.port()) {
                    EXPECT_TRUE(tcpPortFree(run.port())) << run.port();
                }
            }
            ASSERT_TRUE(otherStays());
        }
    }
    // The one beside ends with its own run too.
    ::kill(other.pid, SIGTERM);
    ::kill(other.pid, SIGCONT);
    int status = 0;
    EXPECT_TRUE(gone(other, &status));
    EXPECT_FALSE(displayServed(*otherDisplays.begin()));
    EXPECT_TRUE(tcpPortFree(other.port()));
}

TEST_F(EndToEnd, HostileFilesAreRefusedOrKeptInTheirFolderAndTheProgramGoesOn) {
    ASSERT_TRUE(waitReady());
    QTemporaryDir src;
    ASSERT_TRUE(src.isValid());
    auto file = [&](const QString& name, const QByteArray& data) {
        QFile f(src.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return src.filePath(name);
    };
    // Alias files nested far too deep: one over the size cap, refused by
    // the client before it sends anything (as the device would at the
    // start), one within it, refused once it is whole.
    const QString deep = file("deep.json", QByteArray(300000, '[') + QByteArray(300000, ']'));
    const QString nested = file("nested.json", QByteArray(30000, '[') + QByteArray(30000, ']'));
    EXPECT_EQ((Vals{client(udp() + QStringList{"send-file", "21", deep}),
                    client(tcp() + QStringList{"send-file", "21", nested})}),
              (Vals{2, 1}));
    EXPECT_FALSE(QFileInfo::exists(m_root.filePath("data/configs/alias.json")));

    // Scan files under hostile names: only the base name counts, the file
    // lands whole in its folder or is refused (by the client, with the
    // device's own checks, before anything is sent).
    const QByteArray scan = QByteArray("scan data ") + QByteArray(5000, 's');
    const QString data = file("scan.qdfile", scan);
    const struct {
        QString name;
        QString stored;  // empty: refused
    } names[] = {
        {"../../../etc/QDFRa.qdfile", "QDFRa.qdfile"},
        {"/tmp/QDFRb.qdfile", "QDFRb.qdfile"},
        {"..\\..\\QDFRc.qdfile", "QDFRc.qdfile"},
        {"sub/dir/QDFRd.qdfile", "QDFRd.qdfile"},
        {"..", ""},
        {"/", ""},
        {"QDFR" + QString(200, 'x'), ""},
    };
    for (const auto& n : names) {
        const int rc = client(udp() + QStringList{"send-file", "13", data, n.name});
        EXPECT_EQ(rc, n.stored.isEmpty() ? 2 : 0) << n.name.toStdString();
        if (n.stored.isEmpty()) continue;
        QFile stored(m_root.filePath("data/smartmapping/" + n.stored));
        ASSERT_TRUE(stored.open(QIODevice::ReadOnly)) << n.name.toStdString();
        const QByteArray back = stored.readAll();
        EXPECT_EQ(MD5(back.constData(), u32(back.size())).toString(), MD5(scan.constData(), u32(scan.size())).toString());
    }
    // Nothing named like a scan file anywhere but in its folder.
    QDirIterator it(m_root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo fi(it.next());
        if (fi.fileName().startsWith("QDFR")) {
            EXPECT_EQ(fi.absolutePath(), QDir(m_root.filePath("data/smartmapping")).absolutePath())
                << fi.filePath().toStdString();
        }
    }
    EXPECT_FALSE(QFileInfo::exists("/tmp/QDFRb.qdfile"));

    QString out;
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2176"}, &out), 0);
    EXPECT_EQ(out, "100");
    EXPECT_EQ(endWith(SIGTERM), 0);
}

TEST_F(EndToEnd, EveryCommandOfTheClientIsAnsweredAndAModeSaveIsKept) {
    ASSERT_TRUE(waitReady());
    QString out, err;
    EXPECT_EQ(client(udp() + QStringList{"set-clock", "2024-05-06", "07:08:09"}), 0);
    EXPECT_EQ(client(udp() + QStringList{"delete-files"}), 0);
    // The run-time record's 22 bytes, decoded; the run is younger than a
    // minute and its power-on time is the clock's (a simulated set-clock
    // changes no clock).
    EXPECT_EQ(client(udp() + QStringList{"time-report"}, &out, &err), 0);
    const QRegularExpression report(
        "total minutes 0\nminutes since power-on 0\nsequence 0\n"
        "power-on (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\nminutes reported since power-on 0");
    const QRegularExpressionMatch m = report.match(out);
    EXPECT_TRUE(m.hasMatch() && m.capturedLength() == out.size()) << out.toStdString();
    const QDateTime powerOn = QDateTime::fromString(m.captured(1), "yyyy-MM-dd HH:mm:ss");
    EXPECT_TRUE(powerOn.isValid() && std::abs(powerOn.secsTo(QDateTime::currentDateTime())) <= 600)
        << out.toStdString();
    EXPECT_EQ(client(tcp() + QStringList{"network", "192.168.7.20", "255.255.255.0", "192.168.7.1"}), 0);
    EXPECT_EQ(client(udp() + QStringList{"info"}, &out), 0);
    EXPECT_TRUE(out.contains("ip 192.168.7.20\nmask 255.255.255.0\ngateway 192.168.7.1")) << out.toStdString();
    const QByteArray shell = [&] {
        QFile f(m_root.filePath("var/log/sim_shell_commands.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    EXPECT_TRUE(shell.contains("date -s \"2024-05-06 07:08:09\"")) << shell.toStdString();

    // A user mode saved over the protocol: the persisting step carries out
    // the request and marks the mode.
    ASSERT_EQ(client(udp() + QStringList{"word-write", "868", "5"}), 0);
    EXPECT_TRUE(waitFor([&] { return persistedWord(RamOffset::LOADED_MODE) == 5; }, 10000));
    EXPECT_EQ(client(udp() + QStringList{"word-read", "866"}, &out), 0);
    EXPECT_EQ(out, "5");
    EXPECT_TRUE(QFileInfo::exists(m_root.filePath("data/modes/custom_mode5")));
}

TEST_F(EndToEnd, ADebugDumpRequestIsPrintedAtOnceAndClearedAfter) {
    ASSERT_TRUE(waitReady());
    auto console = [&] {
        QFile f(m_root.filePath("program.out"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // The panel set-up at start ends with the full dump (no name line): the
    // video processor thread is running once it is there.
    ASSERT_TRUE(waitFor([&] { return console().contains("<<===PI HDMI INFO"); }, 10000));
    // The start's last parameter pass comes with the FPGAs' bring-up: once
    // both run, no pass of the start's would serve the request.
    const QString log = m_root.filePath("data/vimraqd/log/mwrEnglneLog");
    ASSERT_TRUE(waitFor([&] {
        QFile f(log);
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        return text.contains("FPGA 1 running") && text.contains("FPGA 2 running");
    }, 45000));
    ASSERT_FALSE(console().contains("[zrvDbg_c331_param] c331_param"));
    ASSERT_EQ(client(udp() + QStringList{"reg-write", "0", "35", "0xFF", "1"}), 0);
    // Served without any parameter change to wake the thread.
    EXPECT_TRUE(waitFor([&] { return console().contains("[zrvDbg_c331_param] c331_param\n<<===OCH SPEC"); }, 10000));
    QString out;
    EXPECT_EQ(client(udp() + QStringList{"reg-read", "0", "35", "1"}, &out), 0);
    EXPECT_FALSE(out.isEmpty());
    EXPECT_EQ(out.toInt(nullptr, 16), 0) << out.toStdString();
}

// A PC's new wall re-initialises the LED outputs: blacked out, both FPGAs
// restarted; once they run again the wall shows and a PC reads it so.
TEST_F(EndToEnd, AfterAWallChangeThePcReadsTheScreenShownAsItIs) {
    ASSERT_TRUE(waitReady());
    auto log = [&] {
        QFile f(m_root.filePath("data/vimraqd/log/mwrEnglneLog"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    auto bothRunning = [&](int times) {
        const QByteArray text = log();
        return text.count("FPGA 1 running") >= times && text.count("FPGA 2 running") >= times;
    };
    ASSERT_TRUE(waitFor([&] { return bothRunning(1); }, 45000));
    ASSERT_EQ(client(udp() + QStringList{"word-write", "1378", "2560"}), 0);
    ASSERT_EQ(client(udp() + QStringList{"reg-write", "0", "161", "0x02", "0x02"}), 0);
    ASSERT_TRUE(waitFor([&] { return log().contains("LED outputs re-initialised") && bothRunning(2); }, 60000))
        << log().toStdString();
    QString screen, fpga0, fpga1, word;
    EXPECT_EQ(client(udp() + QStringList{"ram-read", "0x10041D", "1"}, &screen), 0);
    EXPECT_EQ(client(udp() + QStringList{"reg-read", "1", "0", "1"}, &fpga0), 0);
    EXPECT_EQ(client(udp() + QStringList{"reg-read", "2", "0", "1"}, &fpga1), 0);
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2116"}, &word), 0);
    // Answered in hex, the word in decimal; -1 for an empty answer.
    auto hex = [](const QString& v) { return v.isEmpty() ? -1 : v.toInt(nullptr, 16); };
    EXPECT_EQ((Vals{hex(screen), hex(fpga0) & 4, hex(fpga1) & 4, word.isEmpty() ? -1 : word.toInt()}),
              (Vals{1, 0, 0, 0}));
}

namespace {
// The program with receiving cards behind port 6 of FPGA 0 and port 1 of
// FPGA 1.
class EndToEndCards : public EndToEnd {
protected:
    void SetUp() override {
        writeBoard(R"({"ports": {"5": 6, "12": 4}})");
        EndToEnd::SetUp();
    }
};
}  // namespace

TEST_F(EndToEndCards, FpgaRegistersRamBlocksAndCardsOnEveryLink) {
    ASSERT_TRUE(waitReady());
    QString out;
    ASSERT_TRUE(sixCardsCounted(&out)) << out.toStdString();
    EXPECT_EQ(client(udp() + QStringList{"reg-read", "1", "31", "1"}, &out), 0);
    EXPECT_EQ(out, "24");
    EXPECT_EQ(client(udp() + QStringList{"ram-read", "0x10000C", "4"}, &out), 0);
    EXPECT_EQ(out, "01201024");
    EXPECT_EQ(client(udp() + QStringList{"ram-read", "0x101464", "2"}, &out), 0);
    EXPECT_EQ(out, "0400");
    EXPECT_EQ(client(tcp() + QStringList{"ram-read", "0x100018", "4"}, &out), 0);
    EXPECT_EQ(out, "01110000");
    // FPGA 1's register 170, its 160 to 179, and 2 bytes from the command
    // block's last.
    EXPECT_EQ((Vals{rawStatus(makeFrame(PcCmd::RegRead, {170, 0, 1, 0}, PcReg::TargetFpga1)),
                    rawStatus(makeFrame(PcCmd::RegRead, {160, 0, 20, 0}, PcReg::TargetFpga1)),
                    rawStatus(makeFrame(PcCmd::RamRead, {0xFF, 0x03, 0x10, 0, 2, 0, 0, 0}))}),
              (Vals{1, 1, 1}));
    EXPECT_EQ(client(udp() + QStringList{"reg-write", "2", "23", "0xF0", "0x50"}), 0);
    EXPECT_EQ(client(serial() + QStringList{"reg-read", "2", "23", "1"}, &out), 0);
    EXPECT_EQ(out, "51");  // bit 0 set at bring-up, kept by the masked write
    // A card search on port 6 through every link answers 6 cards, on the
    // link that asked.
    const QStringList line4g = {"--serial", m_root.filePath("dev/ttyS1.pc")};
    for (const QStringList& link : {udp(), tcp(), serial(), line4g}) {
        EXPECT_EQ(client(link + QStringList{"card", "fe0f10f010aaff060010000000"}, &out), 0);
        EXPECT_EQ(out, "10f0050010aaff06001000060000b0") << link.join(' ').toStdString();
    }
    // A port without cards: no answer, and the link serves the next frame.
    EXPECT_EQ(client(udp() + QStringList{"card", "fe0f10f010aaff0a0010000000"}), 3);
    EXPECT_EQ(client(udp() + QStringList{"card", "fe0f10f010aaff060010000000"}, &out), 0);
}

namespace {
// The program on the board `scripts/run` gives a maintainer's PC run, taken
// from the script itself.
class EndToEndRunBoard : public EndToEnd {
protected:
    void SetUp() override {
        QFile script(QStringLiteral(ZRV_SOURCE_DIR "/scripts/run"));
        ASSERT_TRUE(script.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(script.readAll());
        const QRegularExpression json(QStringLiteral("<<'JSON'\\n(.*?)\\nJSON\\n"),
                                      QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch m = json.match(text);
        ASSERT_TRUE(m.hasMatch());
        QFile f(m_root.filePath("board.json"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(m.captured(1).toUtf8());
        f.close();
        EndToEnd::SetUp();
    }
};
}  // namespace

// What `zrvctl help card` gives as examples answers on that board, and a
// RAM read prints the bytes it asked for, no more.
TEST_F(EndToEndRunBoard, CardHelpExamplesAnswerAndAReadPrintsTheBytesAsked) {
    ASSERT_TRUE(waitReady());
    QString help;
    ASSERT_EQ(client({"help", "card"}, &help), 0);
    const QRegularExpression example(QStringLiteral("\\bcard ([0-9a-f]{20,})"));
    QStringList frames;
    for (auto it = example.globalMatch(help); it.hasNext();) frames << it.next().captured(1);
    ASSERT_EQ(frames.size(), 2) << help.toStdString();
    // The FPGAs come up and find their cards within seconds; every PC frame
    // pauses the search for 80 ticks: ask once a second.
    QString out;
    bool answered = false;
    for (int i = 0; i < 45 && !answered; ++i) {
        QThread::msleep(1000);
        answered = client(udp() + QStringList{"card", frames[0]}, &out) == 0;
    }
    ASSERT_TRUE(answered) << frames[0].toStdString();
    // Four cards on port 1: count 4 in bytes 11-12 of the search reply.
    EXPECT_EQ(out.mid(22, 4), "0400") << out.toStdString();
    // Card 2 of port 1 keeps 0x1234 at 0x180 (command 0x60, u32 address,
    // u32 length 2, the bytes); the example reads 4 bytes from there.
    EXPECT_EQ(client(udp() + QStringList{"card", "020010f010aa0101006080010000020000003412"}), 0);
    EXPECT_EQ(client(udp() + QStringList{"card", frames[1]}, &out), 0);
    EXPECT_EQ(out, "34120000");
    // One byte asked for at 0x181: one byte printed.
    EXPECT_EQ(client(udp() + QStringList{"card", "020010f010aa010100618101000001000000"}, &out), 0);
    EXPECT_EQ(out, "12");
}

namespace {
// The brightness as the PC sets it (image word 2176, a percentage) and the
// record of it in the flash behind FPGA 0, which the simulated board keeps
// in a file and whose erases it lists in a log.
class EndToEndBrightness : public EndToEnd {
protected:
    static constexpr u32 kRecord = 0x6CE000;  // the record's 4 KB sector

    // Both FPGAs report running (register image 80 = 3).
    bool fpgasUp() {
        return waitFor(
            [&] {
                QString a, b;
                const bool up = client(udp() + QStringList{"reg-read", "1", "80", "1"}, &a) == 0 && a == "03" &&
                                client(udp() + QStringList{"reg-read", "2", "80", "1"}, &b) == 0 && b == "03";
                // Every PC frame holds the FPGA thread's idle work back
                // for a while: ask seldom.
                if (!up) QThread::msleep(500);
                return up;
            },
            45000);
    }
    // Erases that took in the record's sector, from both files of the log.
    int recordErases() {
        int n = 0;
        for (const char* name : {"var/log/sim_fpga0_flash.log.1", "var/log/sim_fpga0_flash.log"}) {
            QFile f(m_root.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) continue;
            for (const QByteArray& line : f.readAll().split('\n')) {
                const QList<QByteArray> w = line.split(' ');
                if (w.size() != 3 || w[0] != "erase") continue;
                const u32 at = w[1].toUInt(nullptr, 16), len = w[2].toUInt();
                if (at <= kRecord && kRecord < at + len) ++n;
            }
        }
        return n;
    }
    // The record's 57 bytes, read from the flash's file, without bytes 3-5
    // (the change it holds).
    Bytes record() {
        Bytes r = rawRecord();
        if (r.size() == 57) std::fill(r.begin() + 3, r.begin() + 6, 0);
        return r;
    }
    Bytes rawRecord() {
        QFile f(m_root.filePath("var/lib/sim/fpga0_flash.bin"));
        if (!f.open(QIODevice::ReadOnly) || !f.seek(kRecord)) return {};
        const QByteArray b = f.read(57);
        return Bytes(b.begin(), b.end());
    }
    // The change the record holds, and the one the image file gives the
    // word: the later one wins at the next start.
    u32 recordChange() {
        const Bytes r = rawRecord();
        return r.size() == 57 ? u32(r[3] | r[4] << 8 | r[5] << 16) : 0;
    }
    u32 fileWordChange() {
        QFile f(m_root.filePath("data/ram_device_info"));
        if (!f.open(QIODevice::ReadOnly) || !f.seek(RamFile::BRI_GEN_OFFSET)) return 0;
        const QByteArray b = f.read(6);
        if (b.size() != 6 || u8(b[0]) != 'B' || u8(b[1]) != 'G') return 0;
        return u8(b[2]) | u8(b[3]) << 8 | u8(b[4]) << 16 | u32(u8(b[5])) << 24;
    }
    // A condition that asks the program, asked once a second: every PC
    // frame holds the FPGA thread's idle work (the brightness task) back
    // for 0.8 s.
    bool waitAsking(const std::function<bool()>& cond, int seconds) {
        for (int i = 0; i < seconds; ++i) {
            if (cond()) return true;
            QThread::msleep(1000);
        }
        return cond();
    }
    // FPGA 1's and FPGA 2's register 6 as the PC reads them.
    Vals reg6() {
        QString a, b;
        const int ra = client(udp() + QStringList{"reg-read", "1", "6", "1"}, &a);
        const int rb = client(udp() + QStringList{"reg-read", "2", "6", "1"}, &b);
        return Vals{ra, rb, a.toInt(nullptr, 16), b.toInt(nullptr, 16)};
    }
    // A fixed level of `value` used as it is: mode 16 and 48 copies of it.
    static Bytes fixedLevel(u8 value) {
        Bytes r = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 16};
        r.insert(r.end(), 48, value);
        return r;
    }
    void setPersistedWord(u32 offset, u16 value) {
        QFile f(m_root.filePath("data/ram_device_info"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(qint64(offset - RamOffset::PERSIST_BEGIN + RamFile::DATA_OFFSET)));
        const char b[2] = {char(value & 0xFF), char(value >> 8)};
        ASSERT_EQ(f.write(b, 2), 2);
    }
};
}  // namespace

TEST_F(EndToEndBrightness, AThousandWritesInASecondEraseTheRecordAtMostThreeTimes) {
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(fpgasUp());
    const int before = recordErases();

    // The writes as the client's word-write sends them, each waiting for
    // its answer, a millisecond apart and every hundredth a few passes of
    // the FPGA thread later, so they span about a second as a PC's slider
    // does, with its pauses; the values wander over the whole range and end
    // at 64.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_in to = loopback(udpnetManage::kCommandPort);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    timeval limit{kAnswerMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    int answered = 0;
    for (int i = 0; i < 1000; ++i) {
        const u16 value = i == 999 ? 64 : u16((i * 37 + 11) % 101);
        Bytes d;
        put32(d, 2176);
        put32(d, 2);
        put16(d, value);
        const Bytes frame = encode(makeFrame(PcCmd::RamWrite, d));
        ::send(fd, frame.data(), frame.size(), 0);
        u8 reply[256];
        if (::recv(fd, reply, sizeof reply, 0) > 0) ++answered;
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 100 == 99 ? 30 : 1));
    }
    ::close(fd);
    EXPECT_EQ(answered, 1000);
    QString out;
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2176"}, &out), 0);
    EXPECT_EQ(out, "64");

    // The stop stores what has not been stored yet; after it nothing erases.
    EXPECT_EQ(endWith(SIGTERM), 0);
    // 64% of 255 is 163.2.
    EXPECT_EQ(record(), fixedLevel(163));
    const int erases = recordErases() - before;
    std::printf("[ brightness ] record sector erased %d times for 1000 writes\n", erases);
    EXPECT_GE(erases, 1);
    EXPECT_LE(erases, 3);
}

TEST_F(EndToEndBrightness, EachPercentageComesBackFromTheRecordAfterAStopAndAStart) {
    // Percentage and the FPGA value it is stored as, b x 255 / 100 with the
    // fraction dropped: 221.85, 178.5, 127.5, 84.15.
    const struct {
        int percent;
        u8 value;
    } cases[] = {{87, 221}, {70, 178}, {50, 127}, {33, 84}};
    // The first is written as soon as a restarted program answers, while
    // its threads are still starting; the others while the FPGAs run. A card
    // behind each FPGA, so the brightness is sent to both.
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(endWith(SIGTERM), 0);
    writeBoard(R"({"ports": {"0": 1, "12": 1}})");
    startProgram();
    ASSERT_TRUE(waitReady());
    bool first = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.percent);
        ASSERT_EQ(client(udp() + QStringList{"word-write", "2176", QString::number(c.percent)}), 0);
        // At once: the stop stores a change that has not stood its second,
        // once FPGA 0 was brought up. Before that the flash is not the
        // program's: the image file keeps the word, newer than the record.
        ASSERT_EQ(endWith(SIGTERM), 0);
        if (first) {
            first = false;
            startProgram();
            ASSERT_TRUE(waitReady());
            ASSERT_TRUE(fpgasUp());
            ASSERT_TRUE(waitAsking([&] { return reg6() == Vals{0, 0, c.value, c.value}; }, 20)) << ::testing::PrintToString(reg6());
            ASSERT_TRUE(waitFor([&] { return record() == fixedLevel(c.value); }, 20000));
            continue;
        }
        EXPECT_EQ(record(), fixedLevel(c.value));

        // The image file keeps the word too; spoiled (the word alone, the
        // change it holds kept), the word can only come back from the record,
        // once the FPGAs run and their brightness is taken up again (the
        // image file follows the word).
        setPersistedWord(RamOffset::BRIGHTNESS, 100);
        startProgram();
        ASSERT_TRUE(waitFor([&] { return persistedWord(RamOffset::BRIGHTNESS) != 100; }, 45000))
            << "the stored brightness was not taken up";
        QString out;
        EXPECT_EQ(client(udp() + QStringList{"word-read", "2176"}, &out), 0);
        EXPECT_EQ(out, QString::number(c.percent));
        // Both FPGAs were given the stored value.
        EXPECT_EQ(reg6(), (Vals{0, 0, c.value, c.value}));
        std::printf("[ brightness ] %d%% stored as %d, read back %s\n", c.percent,
                    record().size() > 9 ? int(record()[9]) : -1, qPrintable(out));
    }
}

TEST_F(EndToEndBrightness, ABrightnessAcknowledgedBeforeTheFpgasRunOutlivesAPowerCut) {
    // 50 % stored as the record (127.5) while the FPGAs run.
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(fpgasUp());
    ASSERT_EQ(client(udp() + QStringList{"word-write", "2176", "50"}), 0);
    ASSERT_TRUE(waitFor([&] { return record() == fixedLevel(127); }, 20000));
    ASSERT_EQ(endWith(SIGTERM), 0);

    // Next start: FPGAs that never report ready. 80 % acknowledged at the
    // first answer, a power cut 1.2 s later: the record still holds 50 %.
    writeBoard(R"({"fpga": {"ready_after_reads": 1000000}})");
    startProgram();
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(client(udp() + QStringList{"word-write", "2176", "80"}), 0);
    QThread::msleep(1200);
    EXPECT_TRUE(waitFor([&] { return persistedWord(RamOffset::BRIGHTNESS) == 80; }, 5000));
    EXPECT_EQ(endWith(SIGKILL), -1);
    EXPECT_EQ(record(), fixedLevel(127));

    // The start after it, with FPGAs that come up and a card behind each,
    // so the brightness is sent to both: 80 % of 255 is 204.
    writeBoard(R"({"ports": {"0": 1, "12": 1}})");
    startProgram();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(fpgasUp());
    EXPECT_TRUE(waitAsking([&] { return reg6() == Vals{0, 0, 204, 204}; }, 20)) << ::testing::PrintToString(reg6());
    QString out;
    EXPECT_EQ(client(udp() + QStringList{"word-read", "2176"}, &out), 0);
    EXPECT_EQ(out, "80");
    EXPECT_TRUE(waitFor([&] { return record() == fixedLevel(204); }, 20000));
}

// The PC's half-hour table of level 8 stored, 70 % written to the word, the
// same table stored again 0.3 s later: the table is the later change. After
// an orderly stop or a kill -9 once the flash holds it, the next start
// brings the table back (level 8 in 16 steps: register 6 = 8 x 16 - 1 = 127,
// shown as 50 %, 49.8), not the 70 % (178).
TEST_F(EndToEndBrightness, AnIdenticalTableStoredAgainAfterAWordComesBackAfterAStopOrAKill) {
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(endWith(SIGTERM), 0);
    writeBoard(R"({"ports": {"0": 1, "12": 1}})");
    Bytes block = {0xAA, 3, 0xAA, 0, 0, 0, 49, 0, 1};
    block.insert(block.end(), 48, 8);
    QString hex;
    for (u8 b : block) hex += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    // The block into MCU_RAM_CMD, run by register 2 bit 2 of the first FPGA.
    auto storeTable = [&] {
        return client(udp() + QStringList{"ram-write", "0x100000", hex}) == 0 &&
               client(udp() + QStringList{"reg-write", "1", "2", "0x04", "0x04"}) == 0;
    };
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        startProgram();
        ASSERT_TRUE(waitReady());
        ASSERT_TRUE(fpgasUp());
        ASSERT_TRUE(storeTable());
        ASSERT_EQ(client(udp() + QStringList{"word-write", "2176", "70"}), 0);
        QThread::msleep(300);
        ASSERT_TRUE(storeTable());
        // Stored a quiet second later: the flash holds the table with a
        // change later than the one the image file gives the word. The word
        // in the file is not asked for: once the table acts it shows the
        // table's level there too, as soon as a loaded machine lets it.
        EXPECT_TRUE(waitFor([&] { return record() == block && BriChange::later(recordChange(), fileWordChange()); },
                            20000));
        EXPECT_EQ(endWith(sig), sig == SIGTERM ? 0 : -1);

        startProgram();
        ASSERT_TRUE(waitReady());
        ASSERT_TRUE(fpgasUp());
        EXPECT_TRUE(waitAsking([&] { return reg6() == Vals{0, 0, 127, 127}; }, 20)) << ::testing::PrintToString(reg6());
        QString out;
        EXPECT_TRUE(waitAsking(
            [&] { return client(udp() + QStringList{"word-read", "2176"}, &out) == 0 && out == "50"; }, 20))
            << out.toStdString();
        EXPECT_EQ(record(), block);
        ASSERT_EQ(endWith(SIGTERM), 0);
    }
}

// The flash behind FPGA 1 protects every sector (the scenario's
// "flash_protected"): it takes the erase and the program of the PC's on/off
// schedule and keeps its bytes. The register write that stores it answers
// status 2, and register 66 reads 0, as the flash holds no schedule, before
// and after a restart.
TEST_F(EndToEndBrightness, AScheduleTheFlashDoesNotTakeIsAnsweredTwoAndNotActiveBeforeOrAfterARestart) {
    ASSERT_TRUE(waitReady());
    ASSERT_EQ(endWith(SIGTERM), 0);
    writeBoard(R"({"fpga": {"flash_protected": true}})");
    auto active = [&] {
        QString out;
        return client(udp() + QStringList{"reg-read", "1", "66", "1"}, &out) == 0 ? out : QStringLiteral("no answer");
    };
    startProgram();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(fpgasUp());
    ASSERT_EQ(client(udp() + QStringList{"ram-write", "0x100000", "aa02aa00000005000101020304"}), 0);
    QString err;
    EXPECT_EQ(client(udp() + QStringList{"reg-write", "1", "2", "4", "4"}, nullptr, &err), 1);
    EXPECT_TRUE(err.startsWith("zrvctl: status 2")) << err.toStdString();
    EXPECT_EQ(active(), "00");
    EXPECT_NE(readHostFile(m_root.filePath("data/vimraqd/log/mwrEnglneLog").toStdString())
                  .find("fpga: on/off schedule record not stored"),
              std::string::npos);
    ASSERT_EQ(endWith(SIGTERM), 0);

    startProgram();
    ASSERT_TRUE(waitReady());
    ASSERT_TRUE(fpgasUp());
    EXPECT_EQ(active(), "00");
    ASSERT_EQ(endWith(SIGTERM), 0);
}

namespace {
// The video processor's serial flash protects every sector (the scenario's
// "c331_flash_protected"): it takes the PC's write and keeps its bytes.
class EndToEndProtectedSerialFlash : public EndToEnd {
protected:
    void beforeStart() override { writeBoard(R"({"c331_flash_protected": true})"); }
};
}  // namespace

// Once the chip runs (a read is answered), a write the flash does not keep
// is answered status 2 with its log line, and the flash reads as it was.
TEST_F(EndToEndProtectedSerialFlash, AWriteTheFlashDoesNotKeepIsAnsweredTwoAndTheFlashReadsAsItWas) {
    ASSERT_TRUE(waitReady());
    const QString back = m_root.filePath("back.bin"), data = m_root.filePath("data.bin");
    const QStringList read = udp() + QStringList{"flash-read", "0x1800000", "16", back};
    QElapsedTimer spent;
    spent.start();
    bool running = false;
    while (!(running = client(read) == 0) && spent.elapsed() < 30000) QThread::msleep(250);
    ASSERT_TRUE(running);
    writeHostFile(data.toStdString(), "sixteen bytes..!");
    QString err;
    EXPECT_EQ(client(udp() + QStringList{"flash-write", "0x1800000", data}, nullptr, &err), 1);
    EXPECT_TRUE(err.startsWith("zrvctl: status 2")) << err.toStdString();
    ASSERT_EQ(client(read), 0);
    EXPECT_EQ(readHostFile(back.toStdString()), std::string(16, '\xFF'));
    EXPECT_NE(readHostFile(m_root.filePath("data/vimraqd/log/mwrEnglneLog").toStdString())
                  .find("c331: serial flash does not read back the bytes written at 0x1800000 (16 bytes)"),
              std::string::npos);
    EXPECT_EQ(endWith(SIGTERM), 0);
}

// ---------------------------------------------------------------- floods

namespace {

// How a flood reaches the program.
enum class Via { Udp, Tcp, Rs485, Line4G, AccessPoint, TcpConnects };

// One row of the flood table: frames a PC sends in turn, over and over, for
// ten seconds, on one link.
struct FloodRow {
    const char* name;
    Via via;
    std::vector<Bytes> frames;  // decoded frames (AccessPoint: datagrams)
    bool answered;              // the program answers every one
    bool cards = false;         // receiving cards on the board, FPGAs running
    bool raw = false;           // the frames go out as they are, not encoded
    // Prepares the root before the program starts.
    std::function<void(const QTemporaryDir&)> prepare = nullptr;
    // Each frame causes one line holding `tally`, written or counted: a line
    // of its own stands for 1, a count line ("... <n> more ...") for n, and
    // together they must come to the frames sent (over a link that loses
    // none).
    const char* tally = nullptr;
    // Console lines the row may add: more where one occurrence prints a
    // dump of many.
    int consoleLines = kFloodLines;
    // At most four kinds of line a row: of each, a line and a count each
    // second, eleven of each where the ten seconds meet eleven, and one
    // more at the edges.
    static constexpr int kFloodLines = 4 * 2 * 11 + 4;
    // Frames in flight before the sender waits for answers.
    int window = 16;
    // A line the row's values must cause: each row of refused image values
    // reaches its refusal (a pattern: a thread that looks at the image now
    // and then finds either of the two values a row writes in turn, and
    // only the first lines of a place are written).
    const char* refusal = nullptr;
    // Log lines the row may add.
    int logLines = kFloodLines;
};

// Rows are named in the test's name; gtest prints them by it too.
void PrintTo(const FloodRow& row, std::ostream* os) { *os << row.name; }

Bytes cardFrame(Bytes f) {
    f.push_back(Utils::BCC(f.data(), u32(f.size())));
    return f;
}
Bytes ramWriteFrame(u32 addr, const Bytes& bytes, u32 declared = ~0u) {
    Bytes d;
    put32(d, addr);
    put32(d, declared == ~0u ? u32(bytes.size()) : declared);
    d.insert(d.end(), bytes.begin(), bytes.end());
    return makeFrame(PcCmd::RamWrite, d);
}
Bytes addrLenFrame(u8 cmd, u32 addr, u32 len) {
    Bytes d;
    put32(d, addr);
    put32(d, len);
    return makeFrame(cmd, d);
}
Bytes regWriteFrame(u16 reg, u8 mask, u8 value, u8 target = 0) {
    Bytes d;
    put16(d, reg);
    d.push_back(mask);
    d.push_back(value);
    return makeFrame(PcCmd::RegWrite, d, target);
}
Bytes regReadFrame(u16 reg, u16 count, u8 target = 0) {
    Bytes d;
    put16(d, reg);
    put16(d, count);
    return makeFrame(PcCmd::RegRead, d, target);
}
// A whole file transfer: start, the data in one chunk, end.
std::vector<Bytes> transferFrames(u8 type, const std::string& name, const Bytes& content) {
    Bytes start = {type};
    put32(start, u32(content.size()));
    MD5 md5(content.data(), u32(content.size()));
    start.insert(start.end(), md5.digest(), md5.digest() + 16);
    start.insert(start.end(), name.begin(), name.end());
    Bytes data;
    put32(data, 0);
    data.insert(data.end(), content.begin(), content.end());
    return {makeFrame(PcCmd::FileStart, start), makeFrame(PcCmd::FileData, data), makeFrame(PcCmd::FileEnd, {})};
}
Bytes textBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
// The command block in the FPGA manager's RAM, then the register write that
// runs it.
std::vector<Bytes> commandBlockFrames(const Bytes& block) {
    return {ramWriteFrame(PcRam::FpgaCmd, block), regWriteFrame(2, 0x04, 0x04, PcReg::TargetFpga0)};
}
// Writes of the image that the video processor or the source thread refuse:
// the setting words, then two refused values in turn, so that every write is
// a change.
std::vector<Bytes> set(u32 at, u16 v) { return {ramWriteFrame(at, {u8(v), u8(v >> 8)})}; }
std::vector<Bytes> flip(u32 at, u16 a, u16 b) { return {set(at, a)[0], set(at, b)[0]}; }
FloodRow refusedRow(const char* name, const char* refusal, std::vector<Bytes> frames, int consoleLines = 400,
                    const char* menu = nullptr) {
    FloodRow row{name, Via::Udp, std::move(frames), true};
    row.consoleLines = consoleLines;
    row.refusal = refusal;
    if (menu)
        row.prepare = [menu](const QTemporaryDir& root) {
            QDir().mkpath(root.filePath("data/configs"));
            QFile f(root.filePath("data/configs/omenu.json"));
            if (f.open(QIODevice::WriteOnly)) f.write(menu);
        };
    return row;
}
std::vector<Bytes> joined(std::initializer_list<std::vector<Bytes>> parts) {
    std::vector<Bytes> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<FloodRow> floodRows() {
    using namespace RamOffset;
    const Bytes bcdClock = {0x09, 0x08, 0x07, 0x06, 0x05, 0x24, 0x20};
    const Bytes badClock = {0x99, 0x08, 0x07, 0x06, 0x05, 0x24, 0x20};
    Bytes net;
    for (u8 b : {192, 168, 7, 20, 255, 255, 255, 0, 192, 168, 7, 1}) net.push_back(b);
    Bytes badNet = net;
    badNet[5] = 0;  // mask 255.0.255.0
    Bytes unknownType = {77, 10, 0, 0, 0};
    unknownType.insert(unknownType.end(), 17, 'a');
    const std::string menu = R"({"name":"m","osdcount":0,"oactcount":0})";
    const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"Desk"}]}})";
    // Cards: six behind port 6 of FPGA 0, none behind port 10.
    const Bytes search6 = cardFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0x06, 0x00, 0x10, 0, 0, 0, 0});
    const Bytes search10 = cardFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0x0A, 0x00, 0x10, 0, 0, 0, 0});
    // Every card of port 6 answers a RAM read of all cards.
    const Bytes readAll6 = cardFrame({0xFF, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x06, 0x00, 0x61, 0x80, 0x01, 0, 0,
                                      0x04, 0, 0, 0});
    Bytes oversized = {0x00, 0x10, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x06, 0x00, 0x60};
    oversized.resize(1099, 0x33);
    oversized = cardFrame(oversized);
    const Bytes broadcast = cardFrame({0xFF, 0x0F, 0x10, 0xF0, 0x10, 0x67, 0x01, 0xFF, 0x00, 0x61, 0x80, 0x01, 0, 0,
                                       0x04, 0, 0, 0});
    const Bytes mode2 = cardFrame({0x00, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x02, 0x06, 0x00, 0x61, 0, 0, 0, 0, 4, 0, 0, 0});
    Bytes clockBlock = {0xAA, 1, 0, 0, 0, 0, 7, 0};
    clockBlock.insert(clockBlock.end(), {0x24, 0x20, 0x05, 0x06, 0x07, 0x08, 0x09});
    Bytes badClockBlock = {0xAA, 1, 0, 0, 0, 0, 7, 0};
    badClockBlock.insert(badClockBlock.end(), {0x24, 0x20, 0x13, 0x06, 0x07, 0x08, 0x09});
    const Bytes unknownBlock = {0xAA, 9, 0, 0, 0, 0, 1, 0, 0};
    const Bytes shortBlock = {0xAA, 3, 0, 0, 0, 0, 0, 0};
    Bytes badCheck = encode(makeFrame(PcCmd::DeviceInfo, {}));
    badCheck[badCheck.size() - 2] ^= 0x40;
    Bytes scan(3000, 's');

    return {
        {"RamWritesOfImageSlotAndFpgaBlocks",
         Via::Udp,
         {ramWriteFrame(CONTRAST, {61, 0}), ramWriteFrame(CONTRAST, {62, 0}), ramWriteFrame(0x1000 * 3, {0xAA, 0xAA}),
          ramWriteFrame(PcRam::FpgaPara + 100, {1, 0}), ramWriteFrame(PcRam::FpgaExtend, {1, 2, 3})},
         true},
        {"PictureLayoutAndModeSaves",
         Via::Udp,
         {ramWriteFrame(BRIGHTNESS, {40, 0}), ramWriteFrame(BRIGHTNESS, {41, 0}), ramWriteFrame(win(0) + WIN_X, {8, 0}),
          ramWriteFrame(win(0) + WIN_X, {0, 0}), ramWriteFrame(SAVE_REQUEST, {5, 0}), regWriteFrame(161, 0x02, 0x02)},
         true, false, false, nullptr, nullptr,
         // A pass that moves a window prints some 60 lines (the layout and
         // both inputs' timings), once a second, beside the counts.
         800},
        {"WallSizeChanges",
         Via::Udp,
         {ramWriteFrame(WALL_WIDTH, {0x80, 0x07}), regWriteFrame(161, 0x02, 0x02), ramWriteFrame(WALL_WIDTH, {0x00, 0x04}),
          regWriteFrame(161, 0x02, 0x02)},
         true, false, false, nullptr, nullptr,
         // The pass that sets the panel up prints its dump, some 300 lines,
         // and comes every few seconds, while the FPGAs restart.
         3000},
        {"RamWritesRefused",
         Via::Udp,
         {ramWriteFrame(4093, {9, 9, 9, 9}), ramWriteFrame(PcRam::StatusBase, {1}), ramWriteFrame(100, {1, 2}, 3),
          ramWriteFrame(0x2FFF, {1, 2, 3, 4}), ramWriteFrame(0x300000, {1})},
         true},
        {"RamReadsAndRefusals",
         Via::Udp,
         {addrLenFrame(PcCmd::RamRead, BRIGHTNESS, 2), addrLenFrame(PcCmd::RamRead, 0x3000, 64),
          addrLenFrame(PcCmd::RamRead, PcRam::StatusBase, 1024),
          addrLenFrame(PcCmd::RamRead, PcRam::FpgaPara, 256), addrLenFrame(PcCmd::RamRead, 0, 1025),
          addrLenFrame(PcCmd::RamRead, 0x11000, 1)},
         true},
        {"SerialFlashEraseWriteReadAndRefusals",
         Via::Udp,
         [] {
             Bytes erase;
             put16(erase, 6144);
             erase.push_back(0);
             put16(erase, 1);
             Bytes badErase = erase;
             badErase[2] = 3;
             Bytes write;
             put32(write, 0x1800000);
             put32(write, 16);
             write.insert(write.end(), 16, 0x5A);
             Bytes badWrite;
             put32(badWrite, 0x1800000);
             put32(badWrite, 17);
             badWrite.insert(badWrite.end(), 16, 0x5A);
             return std::vector<Bytes>{makeFrame(PcCmd::FlashErase, erase), makeFrame(PcCmd::FlashErase, badErase),
                                       makeFrame(PcCmd::FlashWrite, write), makeFrame(PcCmd::FlashWrite, badWrite),
                                       addrLenFrame(PcCmd::FlashRead, 0x1800000, 256),
                                       addrLenFrame(PcCmd::FlashRead, 0x1FFFFFF, 2)};
         }(),
         true},
        {"FileStartsRefused", Via::Tcp, {makeFrame(PcCmd::FileStart, unknownType)}, true, false, false, nullptr,
         "file transfer refused: "},
        {"FileDataAndEndsWithoutAStart",
         Via::Udp,
         {makeFrame(PcCmd::FileData, {0, 0, 0, 0, 1}), makeFrame(PcCmd::FileEnd, {}),
          makeFrame(PcCmd::FileStart, Bytes(5, 0xFF))},
         true},
        {"SmallScanFiles", Via::Udp, transferFrames(PcFile::ScanFile, "QDFR1.qdfile", scan), true},
        {"ScanFilesThatCannotBeStored", Via::Tcp, transferFrames(PcFile::ScanFile, "QDFR1", scan), true, false, false,
         [](const QTemporaryDir& root) { QDir().mkpath(root.filePath("data/smartmapping/QDFR1")); }},
        {"RecoveryOsdMenuAndAliasFiles",
         Via::Udp,
         joined({transferFrames(PcFile::RecoveryFile, "QDFX", scan),
                 transferFrames(PcFile::OsdMenu, "omenu.json", textBytes(menu)),
                 transferFrames(PcFile::AliasFile, "alias.json", textBytes(alias))}),
         true},
        {"KernelAndLogoImages",
         Via::Udp,
         joined({transferFrames(PcFile::KernelImage, "k", Bytes(100, 1)),
                 transferFrames(PcFile::BootLogo, "l", Bytes(100, 2))}),
         true},
        {"DeleteCardFiles", Via::Udp, {makeFrame(PcCmd::DeleteCardFiles, {})}, true},
        {"DeviceInfoTimeReportAndUnknownCommands",
         Via::Udp,
         {makeFrame(PcCmd::DeviceInfo, {}), makeFrame(PcCmd::TimeReport, {}), makeFrame(0xC4, {1, 2, 3}),
          makeFrame(0x00, {}), makeFrame(0xFF, Bytes(40, 0xFF))},
         true},
        {"ClockSetAndRefused", Via::Tcp, {makeFrame(PcCmd::SetClock, bcdClock), makeFrame(PcCmd::SetClock, badClock)},
         true},
        {"NetworkSetUpAndRefused", Via::Udp, {makeFrame(PcCmd::NetworkSetup, net), makeFrame(PcCmd::NetworkSetup, badNet)},
         true},
        {"NetworkSetUpOverASettingsFileThatCannotBeRead", Via::Udp, {makeFrame(PcCmd::NetworkSetup, net)}, true, false,
         false,
         [](const QTemporaryDir& root) {
             const QString ini = root.filePath("data/configs/tcpip.ini");
             QFile::remove(ini);
             QFile::link(QStringLiteral("/proc/self/mem"), ini);
         }},
        {"ControllerRegisterWritesAndRefused",
         Via::Udp,
         {regWriteFrame(161, 0x0E, 0x0E), regWriteFrame(160, 0xFF, 0x00), regWriteFrame(17, 0x01, 0x01),
          regWriteFrame(100, 0xFF, 0x12), regWriteFrame(170, 0xFF, 1), regWriteFrame(10, 0xFF, 1, 3)},
         true},
        {"DebugDumpRequests",
         Via::Udp,
         {regWriteFrame(33, 0x01, 0x01), regWriteFrame(34, 0xFF, 0x20), regWriteFrame(35, 0xFF, 1),
          regWriteFrame(36, 0x01, 0x01)},
         true, false, false, nullptr, nullptr,
         // Each register's first request of each second prints its dump or
         // sequence, some 350 lines in all.
         4000},
        {"FpgaRegisterWritesAndCommandBlocks",
         Via::Udp,
         joined({{regWriteFrame(23, 0xF0, 0x50, PcReg::TargetFpga0), regWriteFrame(200, 0xFF, 1, PcReg::TargetFpga1)},
                 commandBlockFrames(clockBlock), commandBlockFrames(badClockBlock),
                 commandBlockFrames(unknownBlock), commandBlockFrames(shortBlock)}),
         true},
        {"RegisterReadsAndRefusals",
         Via::Udp,
         {regReadFrame(0, 64), regReadFrame(1000, 61), regReadFrame(1000, 62), regReadFrame(80, 1, PcReg::TargetFpga0),
          regReadFrame(160, 20, PcReg::TargetFpga1), regReadFrame(0, 0)},
         true},
        {"GarbageAndWrongCheckBytes",
         Via::Udp,
         {Bytes(300, 0xA5), {0xA5, 0xA5, 0xA5, 0x5A}, badCheck, Bytes(50, 0x00)},
         false, false, true},
        {"CardSearchesAndReadsOfAPort", Via::Udp, {search6, search10, readAll6}, false, true},
        {"CardFramesTooLongToSend", Via::Tcp, {oversized}, false, true, false, nullptr, "not sent"},
        {"CardBroadcastsAndRefusedModes", Via::Udp, {broadcast, mode2}, false, true},
        // A frame at a time, as the PC sends them: the simulated cards keep
        // every answer a flood asked for and hand them over for minutes.
        {"CardFramesOverRs485", Via::Rs485, {search6, search6, search10, mode2}, false, true, false, nullptr, nullptr,
         FloodRow::kFloodLines, 1},
        {"CardFramesOver4G", Via::Line4G, {search6, search6, search10, mode2}, false, true, false, nullptr, nullptr,
         FloodRow::kFloodLines, 1},
        {"ReadsAndWritesOverRs485",
         Via::Rs485,
         {addrLenFrame(PcCmd::RamRead, BRIGHTNESS, 2), ramWriteFrame(CONTRAST, {61, 0}), makeFrame(0xC4, {1})},
         true},
        {"ReadsAndWritesOver4G",
         Via::Line4G,
         {addrLenFrame(PcCmd::RamRead, BRIGHTNESS, 2), ramWriteFrame(CONTRAST, {61, 0}), makeFrame(0xC4, {1})},
         true},
        {"AccessPointPortGarbage", Via::AccessPoint, {Bytes(7, 0x41), Bytes(200, 0)}, false, false, true},
        {"TcpConnectionsRefused", Via::TcpConnects, {}, false},
        // Values the image takes and the video processor or the source
        // thread refuse, each at the rate of the apply pass.
        refusedRow("WindowOnCropsThatDoNotExist", "crop 4[56] does not exist", flip(win(0) + WIN_SOURCE, 0x802D, 0x802E)),
        refusedRow("AudioWindowOnACropThatDoesNotExist", "shows crop 4[56], out of range",
                   joined({set(win(0) + WIN_AUDIO, 0x8000), flip(win(0) + WIN_SOURCE, 0x802D, 0x802E)})),
        refusedRow("WindowOnCropsNotInUse", "crop record 3[89] is not in use",
                   joined({set(crop(38), 0), set(crop(39), 0), flip(win(0) + WIN_SOURCE, 0x8026, 0x8027)})),
        refusedRow("CropOfAWindowNamingNoInput", "names input",
                   joined({set(crop(0), 0x8000), set(win(0) + WIN_AUDIO, 0x8000), set(win(0) + WIN_SOURCE, 0x8000),
                           flip(crop(0), 0x8009, 0x8000), set(crop(0), 0x800A)})),
        refusedRow("TestPatternWithASecondWindow", "test pattern 2 waits until one window is shown",
                   joined({set(win(1) + WIN_ENABLE, 1), flip(TEST_PATTERN, 1, 2)})),
        refusedRow("OsdMenuWithoutItsStatusNode", "status", flip(OSD_ON, 1, 0), 400,
                   R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":0}]})"),
        refusedRow("OsdMenuItemNeitherTextNorBitmap", "neither text nor bitmap", flip(OSD_ON, 1, 0), 400,
                   R"({"name":"m","osdcount":1,"oactcount":0,"menu":[{"type":5,"status":"on"}]})"),
        refusedRow("AudioWindowOutOfRange", "audio window [78] out of range", flip(AUDIO_WINDOW, 7, 8)),
        // A change of the panel or the layout prints its dump, some 300
        // lines, at a pass a second; the panel's restarts the FPGAs.
        refusedRow("WallSizeOutOfRange", "out of range, limited to", flip(WALL_WIDTH, 20000, 20001), 4000),
        refusedRow("OutputOneTallerThanTheWall", "does not fit the 1920x1080 wall",
                   joined({set(SPLICE_MODE, 2), flip(OUT1_HEIGHT, 30000, 30001)}), 4000),
        refusedRow("OutputChannelsTallerThanTheirTotals", "does not fit the totals",
                   joined({set(SPLICE_MODE, 2), flip(WALL_HEIGHT, 16000, 16001)}), 4000),
        refusedRow("WindowLayoutOutOfRange", "window layout out of range", flip(win(0) + WIN_X, 30000, 30001), 4000),
        // Each request restarts the input, whose receiver prints its start
        // on the console, refused or not.
        refusedRow("CustomEdidRefused", "custom EDID of input 0 refused", flip(edid(0), 9000, 9001), 3000),
        // Random words at random places, the same each run: some ten places
        // refuse them, each writing its burst of six and a count every five
        // seconds, three times in the ten seconds at most. On the console,
        // a panel's dump a second, and the inputs' restarts as a custom
        // EDID's (some 700 lines).
        [] {
            std::mt19937 random(20261208);
            std::vector<Bytes> frames;
            for (int i = 0; i < 4000; ++i) frames.push_back(set(random() % (IMAGE_SIZE - 1), u16(random()))[0]);
            FloodRow row = refusedRow("RandomWordsAnywhereInTheImage", nullptr, frames, 5000);
            row.logLines = 10 * 3 * (6 + 1);
            return row;
        }(),
    };
}

}  // namespace

namespace {

class CommandFlood : public EndToEnd, public ::testing::WithParamInterface<FloodRow> {
protected:
    static constexpr int kFloodMs = 10000;
    // The reply to the flood's last frame: header, status, three bytes, check.
    static constexpr u32 kLastReplyLength = 15;

    void SetUp() override {
        if (GetParam().cards) {
            QFile f(m_root.filePath("board.json"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(R"({"ports": {"5": 6, "12": 4}})");
        }
        EndToEnd::SetUp();
    }
    void beforeStart() override {
        if (GetParam().prepare) GetParam().prepare(m_root);
    }

    // A connected descriptor of the row's link; -1 when it cannot be had.
    int open(Via via) {
        if (via == Via::Rs485 || via == Via::Line4G) {
            const QString path = m_root.filePath(via == Via::Rs485 ? "dev/ttyS2.pc" : "dev/ttyS1.pc");
            const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            termios t{};
            if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
                ::cfmakeraw(&t);
                ::tcsetattr(fd, TCSANOW, &t);
            }
            return fd;
        }
        const bool tcp = via == Via::Tcp;
        const int fd = ::socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        const sockaddr_in to = loopback(tcp ? m_tcpPort : via == Via::AccessPoint ? udpnetManage::kWifiPort
                                                                                   : udpnetManage::kCommandPort);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    QByteArray file(const QString& name) {
        QFile f(m_root.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray log() { return file("data/vimraqd/log/mwrEnglneLog"); }
    QByteArray console() { return file("program.out"); }
    // Waits until neither the log nor the console grew for `quietMs` (at
    // most 45 s).
    void settle(int quietMs) {
        qint64 last = -1;
        int quiet = 0;
        for (int i = 0; i < 180 && quiet < quietMs / 250; ++i) {
            const qint64 now = log().size() + console().size();
            quiet = now == last ? quiet + 1 : 0;
            last = now;
            QThread::msleep(250);
        }
    }

    // Sends the row's frames in turn for kFloodMs; returns how many went
    // out, and the answers that came in `answers`.
    long flood(const FloodRow& row, long* answers) {
        const int fd = open(row.via);
        if (fd < 0) return -1;
        const bool tty = row.via == Via::Rs485 || row.via == Via::Line4G;
        std::mutex m;
        std::condition_variable cv;
        long answered = 0;
        bool lastAnswered = false;
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            FrameDecoder decoder(kUdpRecordSize);
            u8 buf[65536];
            while (!stop.load()) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 100) <= 0) continue;
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n <= 0) {
                    if (n == 0) break;
                    continue;
                }
                std::lock_guard<std::mutex> lock(m);
                decoder.feed(buf, size_t(n), [&](const u8* f, u32 len) {
                    ++answered;
                    if (len == kLastReplyLength && f[9] == PcCmd::RamRead && Frame::source(f) == Frame::kController)
                        lastAnswered = true;
                });
                cv.notify_all();
            }
        });
        std::vector<Bytes> wire;
        for (const Bytes& f : row.frames) wire.push_back(row.raw ? f : encode(f));
        long sent = 0, forgiven = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFloodMs);
        for (size_t i = 0; std::chrono::steady_clock::now() < end; i = (i + 1) % wire.size()) {
            {
                // Answered rows wait for their answers, a frame at a time a
                // while for one; the others are paced so a datagram link is
                // not merely flooded into its drops. An answer that does not
                // come is taken for lost (UDP) or none.
                std::unique_lock<std::mutex> lock(m);
                const auto bound = std::chrono::milliseconds(row.answered ? 50 : row.window == 1 ? 20 : 2);
                if (!cv.wait_for(lock, bound, [&] { return sent - answered - forgiven < row.window; }))
                    forgiven = sent - answered;
            }
            const Bytes& w = wire[i];
            const ssize_t n = tty ? ::write(fd, w.data(), w.size()) : ::send(fd, w.data(), w.size(), MSG_NOSIGNAL);
            if (n != ssize_t(w.size())) break;
            ++sent;
        }
        // The answer to a last frame (a read no row floods, of three bytes)
        // tells that the link took every frame before it, however long a
        // loaded machine took. The access point's port answers nothing.
        if (row.via != Via::AccessPoint) {
            const Bytes last = encode(addrLenFrame(PcCmd::RamRead, 0, 3));
            std::unique_lock<std::mutex> lock(m);
            if (::write(fd, last.data(), last.size()) == ssize_t(last.size()))
                cv.wait_for(lock, std::chrono::seconds(30), [&] { return lastAnswered; });
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        stop.store(true);
        reader.join();
        ::close(fd);
        *answers = answered;
        return sent;
    }

    // A client at work on the TCP link while other hosts connect as fast as
    // they can, several at once (a connection the kernel could not queue
    // waits a second for its retry); returns the connections made.
    long floodConnects() {
        const int client = open(Via::Tcp);
        if (client < 0) return -1;
        std::atomic<long> made{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> hosts;
        for (int h = 0; h < 16; ++h)
            hosts.emplace_back([&] {
                while (!stop.load()) {
                    const int fd = open(Via::Tcp);
                    if (fd >= 0) {
                        ++made;
                        ::close(fd);
                    }
                }
            });
        const Bytes info = encode(makeFrame(PcCmd::DeviceInfo, {}));
        for (int i = 0; i < kFloodMs / 1000; ++i) {
            ::send(client, info.data(), info.size(), MSG_NOSIGNAL);
            QThread::msleep(1000);
            u8 buf[256];
            while (::recv(client, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            }
        }
        stop.store(true);
        for (std::thread& t : hosts) t.join();
        ::close(client);
        return made.load();
    }
};

// Lines with something on them (the console's debug lines come with empty
// ones around them).
int lineCount(const QByteArray& text) {
    int n = 0;
    for (const QByteArray& line : text.split('\n'))
        if (!line.trimmed().isEmpty()) ++n;
    return n;
}

// What the lines naming `tally` count: 1 for a line of its own, n for a
// count line.
long tallied(const QByteArray& log, const char* tally) {
    const QRegularExpression count(QStringLiteral("(\\d+) more"));
    long n = 0;
    for (const QByteArray& line : log.split('\n')) {
        if (!line.contains(tally)) continue;
        const QRegularExpressionMatch m = count.match(QString::fromLatin1(line));
        n += m.hasMatch() ? m.captured(1).toLong() : 1;
    }
    return n;
}

}  // namespace

// Ten seconds of each command a PC can send, answered or refused, on each
// link whose handling differs: the log grows by a line and a count a second
// of each kind, every count is written within a second of its end with no
// frame to bring it, and the console grows no faster.
TEST_P(CommandFlood, GrowsTheLogByAFewLinesAndCountsEveryFrame) {
    const FloodRow& row = GetParam();
    ASSERT_TRUE(waitReady());
    if (row.cards) {
        // The FPGAs up and the cards counted: the search's own lines are over.
        QString out;
        ASSERT_TRUE(sixCardsCounted(&out)) << out.toStdString();
    }
    // The start-up's lines are over once both FPGAs run (its last step) and
    // all is quiet.
    waitFor([&] { return log().contains("FPGA 1 running") && log().contains("FPGA 2 running"); }, 45000);
    settle(1500);
    const QByteArray logBefore = log(), consoleBefore = console();
    QElapsedTimer window;
    window.start();
    long answers = 0;
    const long sent = row.via == Via::TcpConnects ? floodConnects() : flood(row, &answers);
    ASSERT_GT(sent, 0) << "the link could not be opened";
    // The link took every frame; the cards' replies to the last ones come
    // within the 2 s their link waits for them. Every count falls due within
    // a second of the last occurrence, and the tick writes it: once all is
    // quiet for longer, nothing is held but the log's own counts of its
    // places, which the same tick writes every five seconds.
    const int settleMs = int(2 * LineLimiter::kPeriodMs + 500 + (row.cards ? 10 * PcLink::kPassTimeoutTicks : 0));
    settle(settleMs);
    const QByteArray logAfter = log(), consoleAfter = console();
    // The console prints the first of each second: its bound is a rate, so a
    // loaded machine that stretches the window gets the seconds it took, and
    // the second begun at the window's end.
    const double stretch =
        std::max(1.0, double(window.elapsed() + LineLimiter::kPeriodMs) / double(kFloodMs + settleMs));
    EXPECT_EQ(endWith(SIGTERM), 0);
    const QByteArray logStopped = log();
    std::printf("[ flood ] %s: %ld sent, %ld answers, log +%d lines, console +%d lines\n", row.name, sent, answers,
                lineCount(logStopped) - lineCount(logBefore), lineCount(consoleAfter) - lineCount(consoleBefore));

    // A flood the table would not tell from a limited one is no flood: a
    // line of its own per frame would come to at least twice the bound.
    EXPECT_GE(sent, 2 * FloodRow::kFloodLines);
    if (row.answered && row.via != Via::Udp) {
        EXPECT_EQ(answers, sent + 1);
    }
    ASSERT_TRUE(logStopped.startsWith(logBefore)) << "the log was removed or rewritten";
    const QByteArray added = logStopped.mid(logBefore.size());
    EXPECT_LE(lineCount(added), row.logLines) << added.toStdString();
    const QByteArray stop = logStopped.mid(logAfter.size());
    EXPECT_FALSE(stop.contains("in the last second")) << "a count held until the stop:\n" << stop.toStdString();
    ASSERT_TRUE(consoleAfter.startsWith(consoleBefore));
    const QByteArray printed = consoleAfter.mid(consoleBefore.size());
    EXPECT_LE(lineCount(printed), int(row.consoleLines * stretch))
        << "in " << window.elapsed() << " ms:\n" << printed.left(4000).toStdString();
    if (row.tally) {
        EXPECT_EQ(tallied(added, row.tally), sent) << added.toStdString();
    }
    if (row.refusal) {
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(row.refusal)).match(QString::fromUtf8(added)).hasMatch())
            << added.toStdString();
    }
}

// Every command the dispatcher serves has a row in the table: a command
// added later without one fails here. Asked with no data, a command it does
// not serve is "unsupported", every other refuses the request or answers.
using CommandFloodTable = SimEnv;
TEST_F(CommandFloodTable, HasARowForEveryCommandTheDispatcherServes) {
    std::set<int> rows;
    for (const FloodRow& row : floodRows())
        for (const Bytes& f : row.frames)
            if (!row.raw && f.size() > 9 && !Frame::isPassThrough(f.data())) rows.insert(f[9]);
    message_deal deal;
    int served = 0;
    for (int cmd = 0; cmd < 256; ++cmd) {
        const Bytes req = makeFrame(u8(cmd), {});
        Bytes reply(2048);
        reply.resize(deal.message_group_deal(req.data(), u32(req.size()), reply.data(), u32(reply.size())));
        if (replyStatus(reply) == ReplyStatus::Unsupported) continue;
        ++served;
        EXPECT_TRUE(rows.count(cmd)) << "no row floods command " << cmd;
    }
    EXPECT_EQ(served, 15);
    EXPECT_TRUE(rows.count(0xC4)) << "no row floods a command that is not served";
}

INSTANTIATE_TEST_SUITE_P(Table, CommandFlood, ::testing::ValuesIn(floodRows()),
                         [](const ::testing::TestParamInfo<FloodRow>& info) { return std::string(info.param.name); });

namespace {
// A scenario the simulated board does not take, made at the given path.
struct UntakenScenario {
    const char* name;
    std::function<bool(const std::string& path)> make;
};
void PrintTo(const UntakenScenario& row, std::ostream* os) { *os << row.name; }

class ScenarioNotTaken : public EndToEnd, public ::testing::WithParamInterface<UntakenScenario> {
protected:
    void beforeStart() override {
        ASSERT_TRUE(GetParam().make(m_root.filePath("board.json").toStdString()));
        m_scenarioNamed = true;
        m_started.start();
    }
    QElapsedTimer m_started;
};
}  // namespace

// The board's scenario is not taken: the program writes why, naming the
// file, and runs on the defaults; it answers a PC and stops on a SIGTERM.
TEST_P(ScenarioNotTaken, StartsOnTheDefaultsNamesTheFileAndStops) {
    ASSERT_TRUE(waitReady());
    EXPECT_LT(m_started.elapsed(), 30000);
    QFile log(m_root.filePath("data/vimraqd/log/mwrEnglneLog"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains(("board scenario " + m_root.filePath("board.json")).toUtf8()));
    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(endWith(SIGTERM), 0);
    EXPECT_LT(stopping.elapsed(), 5000);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScenarioNotTaken,
    ::testing::Values(
        UntakenScenario{"NotJson", [](const std::string& p) { writeHostFile(p, "{\"inputs\": "); return true; }},
        UntakenScenario{"RefusedMember",
                        [](const std::string& p) { writeHostFile(p, R"({"fpga": {"lock_errors": -3}})"); return true; }},
        UntakenScenario{"Folder", [](const std::string& p) { return oddAt(Odd::Folder, p); }},
        UntakenScenario{"Fifo", [](const std::string& p) { return oddAt(Odd::Fifo, p); }},
        UntakenScenario{"Missing", [](const std::string& p) { return !QFileInfo::exists(QString::fromStdString(p)); }},
        UntakenScenario{"LinkToNothing",
                        [](const std::string& p) { return ::symlink((p + ".gone").c_str(), p.c_str()) == 0; }},
        UntakenScenario{"SparseGiB",
                        [](const std::string& p) {
                            writeHostFile(p, "{");
                            return ::truncate(p.c_str(), off_t(1) << 30) == 0;
                        }},
        UntakenScenario{"RefusedValues", [](const std::string& p) {
                            writeHostFile(p, R"({"ports": {"0": 4, "1": "four", "port3": 2},
                                                "soc_id": ["0x1234", 22136, 39612], "inputs": {"HDMI9": {}},
                                                "sensors": {"3": {"level": 40}}})");
                            return true;
                        }}),
    [](const ::testing::TestParamInfo<UntakenScenario>& info) { return std::string(info.param.name); });
