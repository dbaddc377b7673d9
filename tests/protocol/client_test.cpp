// The client as a user meets it before any device answers: its help, and
// what it says about arguments it refuses.
#include "frame_helpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

namespace {

struct ClientRun {
    int status = -1;  // -1 also when it ended by a signal
    QString out, err;
};

ClientRun zrvctl(const QStringList& args) {
    ClientRun r;
    QProcess p;
    p.start(binary("ZRV_CLIENT_BINARY", "zrvctl"), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Command codes of the command table of docs/protocol.md.
QStringList documentedCommands() {
    QFile f(QStringLiteral(ZRV_SOURCE_DIR "/docs/protocol.md"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList codes;
    const QRegularExpression row(QStringLiteral("^\\| (0x[0-9A-F]{2}) [a-zA-Z]"), QRegularExpression::MultilineOption);
    auto it = row.globalMatch(QString::fromUtf8(f.readAll()));
    while (it.hasNext()) codes << it.next().captured(1);
    return codes;
}

TEST(Client, HelpListsEveryDocumentedCommandWithItsArguments) {
    const QStringList codes = documentedCommands();
    ASSERT_GE(codes.size(), 12);
    for (const char* ask : {"--help", "-h", "help"}) {
        const ClientRun r = zrvctl({ask});
        EXPECT_EQ(r.status, 0) << ask;
        for (const QString& code : codes)
            EXPECT_TRUE(r.out.contains(code)) << code.toStdString() << " missing from " << ask;
        EXPECT_TRUE(r.out.contains("word-write OFFSET VALUE")) << r.out.toStdString();
        EXPECT_FALSE(r.out.contains(".cpp"));
    }
    const ClientRun one = zrvctl({"help", "network"});
    EXPECT_EQ(one.status, 0);
    EXPECT_TRUE(one.out.startsWith("usage: zrvctl [LINK] network IP MASK GATEWAY")) << one.out.toStdString();
}

TEST(Client, RefusedArgumentsSayWhatIsWrongAndSendNothing) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("alias.json");
    // Every file a command names: a folder, a missing, an empty and an
    // oversized one (5 MiB is the transfer's most; one byte is left from
    // the flash's last address).
    const QString folder = dir.filePath("folder"), empty = dir.filePath("empty");
    const QString big = dir.filePath("big"), two = dir.filePath("two");
    const QString fifo = dir.filePath("fifo");
    QDir().mkpath(folder);
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    for (const auto& [path, size] : {std::pair{empty, 0}, {big, 5 * 1024 * 1024 + 1}, {two, 2}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(size));
    }
    struct Case {
        QStringList args;
        QString says;
        int status = 2;
    };
    const Case cases[] = {
        {{"word-read", "2177"}, "even"},
        {{"word-write", "5000", "1"}, "0 to 4094"},
        {{"word-write", "2176", "70000"}, "0 to 65535"},
        {{"ram-read", "0", "0"}, "1 to 1024"},
        {{"word-read", "twelve"}, "must be a number"},
        {{"send-file", "21", missing}, "alias.json"},
        {{"network", "192.168.1.300", "255.255.255.0", "192.168.1.1"}, "IP must be a dotted address"},
        {{"set-clock", "2024-13-01", "00:00:00"}, "YYYY-MM-DD HH:MM:SS"},
        {{"info", "extra"}, "usage: zrvctl [LINK] info"},
        {{"frob"}, "no command \"frob\""},
        // A RAM read one byte short of its u32 length.
        {{"card", "020010f010aa0101006180010000040000"}, "u32 length"},
        // Each names its argument as the help does.
        {{"card", "zz"}, "HEX holds \"zz\""},
        {{"card", "fe0f1"}, "HEX needs an even"},
        {{"ram-write", "0", "0g"}, "BYTES holds \"0g\""},
        {{"send-file", "21", folder}, "folder is a folder"},
        {{"send-file", "20", fifo}, "fifo is not a regular file"},
        {{"send-file", "9", empty}, "empty must hold 1 byte to 5 MiB, not 0"},
        {{"send-file", "13", big, "QDFR1"}, "big must hold 1 byte to 5 MiB, not 5242881"},
        {{"flash-write", "0x1800000", folder}, "folder is a folder"},
        {{"flash-write", "0x1800000", missing}, "alias.json: No such file"},
        {{"flash-write", "0x1800000", empty}, "empty must hold 1 byte"},
        {{"flash-write", "0x1FFFFFF", two}, "two must hold 1 byte to 1 byte"},
        {{"flash-read", "0", "4", folder}, "folder is a folder"},
        {{"flash-read", "0", "4", missing + "/back.bin"}, "alias.json/back.bin: No such file"},
        // Refused before anything is asked: a FIFO would hold the client
        // until a reader came, a device may take nothing.
        {{"flash-read", "0", "4", fifo}, "fifo is not a regular file"},
        {{"flash-read", "0", "4", "/dev/full"}, "/dev/full is not a regular file"},
        {{"--serial", folder, "info"}, "serial line " + folder + ": Is a directory"},
        {{"--serial", missing, "info"}, "alias.json: No such file"},
        {{"--serial", empty, "info"}, "empty: not a terminal"},
    };
    // A port nobody serves: a command that went out would wait and end in 3.
    for (const Case& c : cases) {
        const ClientRun r = zrvctl(QStringList{"--udp", "127.0.0.1:9", "--timeout", "100"} + c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
    }
}

// A flash read into a disk that takes less than what came (a file size
// limit stands in for a full disk) is no success, and the new file goes;
// where the disk takes it, the same read fills the file.
TEST(Client, AFlashReadTheDiskDoesNotTakeWholeFailsAndLeavesNoFile) {
    sockaddr_in a{};
    const int device = boundToLoopback(SOCK_DGRAM, a);
    ASSERT_GE(device, 0);
    // Answers two flash reads with 600 bytes of 0x5A.
    std::thread answer([device] {
        for (int i = 0; i < 2; ++i) {
            pollfd p{device, POLLIN, 0};
            u8 frame[4096];
            sockaddr_in from{};
            socklen_t n = sizeof from;
            if (::poll(&p, 1, 20000) <= 0 ||
                ::recvfrom(device, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&from), &n) <= 0)
                return;
            Bytes data(601, 0x5A);
            data[0] = 0;  // status: done
            const Bytes reply = encode(makeFrame(0x72, data, 0, Frame::kPc, Frame::kController));
            ::sendto(device, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), n);
        }
    });
    QTemporaryDir dir;
    const QString back = dir.filePath("back.bin");
    const QStringList args = {"--udp", QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port)), "flash-read", "0", "600", back};
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit full = saved;
    full.rlim_cur = 100;
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of a signal
    ::setrlimit(RLIMIT_FSIZE, &full);  // the client takes the limit with it
    const ClientRun failed = zrvctl(args);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(failed.status, 2);
    EXPECT_TRUE(failed.err.contains("cannot write the file " + back + ": File too large")) << failed.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(back));
    const ClientRun taken = zrvctl(args);
    EXPECT_EQ(taken.status, 0) << taken.err.toStdString();
    EXPECT_EQ(QFileInfo(back).size(), 600);
    answer.join();
    ::close(device);
}

// A device that turns a TCP client away while another is at work closes the
// connection: that is said at once, not after the whole wait.
TEST(Client, AConnectionTheDeviceClosesIsReportedAtOnce) {
    sockaddr_in a{};
    const int door = boundToLoopback(SOCK_STREAM, a);
    ASSERT_GE(door, 0);
    ASSERT_EQ(::listen(door, 4), 0);
    // The first connection is closed on the frame it sent, unread (a reset);
    // the second once its frame is read (an end of stream).
    std::thread turnAway([door] {
        for (int i = 0; i < 2; ++i) {
            pollfd p{door, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return;
            p.fd = ::accept(door, nullptr, nullptr);
            char frame[4096];
            if (::poll(&p, 1, 20000) > 0 && i == 1) (void)!::recv(p.fd, frame, sizeof frame, 0);
            ::close(p.fd);
        }
    });
    const QString where = QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port));
    // A wait beyond the run's own bound of 10 s would end the run: -1.
    for (const char* cmd : {"info", "time-report"}) {
        const ClientRun r = zrvctl({"--tcp", where, "--timeout", "60000", cmd});
        EXPECT_EQ(r.status, 3) << cmd;
        EXPECT_TRUE(r.err.contains("the device closed the connection before answering")) << r.err.toStdString();
    }
    turnAway.join();
    ::close(door);
}

// A device may hold a frame for the cards 6 s before it goes out: the
// client waits that long beyond its time-out for the cards' reply.
TEST(Client, ACardReplyIsWaitedForAsLongAsTheDeviceMayHoldItsFrame) {
    sockaddr_in a{};
    const int device = boundToLoopback(SOCK_DGRAM, a);
    ASSERT_GE(device, 0);
    std::thread holdAndAnswer([device] {
        pollfd p{device, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return;
        u8 frame[4096];
        sockaddr_in pc{};
        socklen_t pcLen = sizeof pc;
        if (::recvfrom(device, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&pc), &pcLen) <= 0) return;
        // Held behind busy send buffers, ten times the client's time-out.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const Bytes reply = encode(makeFrame(0x10, {0, 4, 0}, 1, Frame::kPc, 0x0001));
        ::sendto(device, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&pc), pcLen);
    });
    const ClientRun r = zrvctl({"--udp", QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port)), "--timeout", "100",
                                "card", "fe0f10f010aaff010010000000"});
    holdAndAnswer.join();
    ::close(device);
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
}

}  // namespace
