// The client as a user meets it: its help, what it says about arguments it
// refuses, and what it makes of the replies of fake devices.
#include "frame_helpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace {

struct ClientRun {
    int status = -1;  // -1 also when it ended by a signal
    QString out, err;
};

// `boundMs`: how long the run may take before it is killed (status -1).
// `under`: a program (with its arguments) that runs the client, as a shell's
// limits would.
ClientRun zrvctl(const QStringList& args, int boundMs = 10000, const QStringList& under = {}) {
    ClientRun r;
    QProcess p;
    if (under.isEmpty())
        p.start(binary("ZRV_CLIENT_BINARY", "zrvctl"), args);
    else
        p.start(under[0], under.mid(1) + QStringList{binary("ZRV_CLIENT_BINARY", "zrvctl")} + args);
    if (!p.waitForFinished(boundMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Every run of zrvctl(), sixteen at a time: waits that are the client's own
// run side by side.
std::vector<ClientRun> zrvctlSideBySide(const std::vector<QStringList>& runs, int boundMs) {
    std::vector<ClientRun> ended(runs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 16; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < runs.size();) ended[i] = zrvctl(runs[i], boundMs);
        });
    for (std::thread& w : workers) w.join();
    return ended;
}

// The frame a device sends back for `request`, without its check byte:
// addresses swapped, bytes 4 to 9 echoed, then `data` (its status first).
Bytes replyTo(const Bytes& request, const Bytes& data) {
    Bytes r(request.begin(), request.begin() + 10);
    std::swap_ranges(r.begin(), r.begin() + 2, r.begin() + 2);
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

// Devices on loopback UDP ports, all served by one thread: each hands every
// frame sent to it, with its number from 0, to its answer, and sends back
// the frame the answer gives, its check byte appended; none, no reply.
class FakeDevices {
public:
    using Answer = std::function<std::optional<Bytes>(const Bytes& request, int index)>;
    FakeDevices() { (void)!::pipe2(m_wake, O_CLOEXEC); }
    ~FakeDevices() {
        (void)!::write(m_wake[1], "x", 1);
        if (m_thread.joinable()) m_thread.join();
        for (auto& d : m_devices) ::close(d->fd);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
    }
    // A new device's port; all are added before start().
    QString add(Answer answer) {
        sockaddr_in a{};
        m_devices.push_back(std::make_unique<Device>(Device{boundToLoopback(SOCK_DGRAM, a), std::move(answer)}));
        return QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port));
    }
    void start() {
        m_thread = std::thread([this] {
            std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
            for (auto& d : m_devices) fds.push_back({d->fd, POLLIN, 0});
            // Each wait is bounded; the end of the test wakes it.
            while (::poll(fds.data(), fds.size(), 60000) > 0 && !fds[0].revents)
                for (size_t i = 1; i < fds.size(); ++i)
                    if (fds[i].revents) serve(*m_devices[i - 1]);
        });
    }

private:
    struct Device {
        int fd;
        Answer answer;
        FrameDecoder decoder{65536};
        int count = 0;
    };
    static void serve(Device& d) {
        u8 datagram[65536];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(d.fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &len);
        d.decoder.feed(datagram, size_t(std::max<ssize_t>(n, 0)), [&](const u8* f, u32 size) {
            const std::optional<Bytes> reply = d.answer(Bytes(f, f + size), d.count++);
            if (!reply) return;
            Bytes frame = *reply;
            frame.push_back(Utils::BCC(frame.data(), u32(frame.size())));
            const Bytes enc = encode(frame);
            ::sendto(d.fd, enc.data(), enc.size(), 0, reinterpret_cast<const sockaddr*>(&from), len);
        });
    }

    std::vector<std::unique_ptr<Device>> m_devices;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

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
        // A name's control bytes reach the terminal escaped.
        {{"flash-read", "0", "4", dir.filePath("odd\x1b[2J\n\\/back.bin")}, "odd\\x1B[2J\\n\\\\/back.bin: No such file"},
        {{"--serial", dir.filePath("tty\xc2\x9b\x07"), "info"}, "tty\\xC2\\x9B\\x07: No such file"},
    };
    // A port nobody serves: a command that went out would wait and end in 3.
    for (const Case& c : cases) {
        const ClientRun r = zrvctl(QStringList{"--udp", "127.0.0.1:9", "--timeout", "100"} + c.args);
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QRegularExpression("[\\x00-\\x09\\x0B-\\x1F\\x7F]"))) << r.err.toStdString();
    }
}

// Every command of the help takes as its answer only the device's reply to
// it, in the length it asked for: a reply a byte short or long, of another
// command, to another request (another target byte echoed) or none at all is
// no answer (status 3, said), and nothing of it is printed. Where a command
// sends several frames, the one answered wrongly is the last, the others
// right. Data lengths from the command table of docs/protocol.md; a card's
// reply holds at most a receive page, 1024 bytes: 1012 after the header, the
// status and the check byte.
TEST(Client, EveryCommandTakesOnlyTheAnswerToWhatItAsked) {
    QTemporaryDir dir;
    const QString file = dir.filePath("file.bin");  // 1025 bytes: 1024 and 1 in two frames
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(1025));
    }
    struct Row {
        QStringList args;  // "%1": the file written
        std::vector<size_t> data;  // of each frame's right reply, after the status byte
        u8 command;  // of the last frame
        bool cards = false;  // answered by the cards, who echo nothing
        int longer = 0;  // ms the client waits beyond its time-out
    };
    const Row rows[] = {
        // The longest waits first, so that they run beside all the others.
        // A search, and 4 bytes of RAM; the device may hold the frame 6 s.
        {{"card", "fe0f10f010aaff010010000000"}, {0}, 0x10, true, 6000},
        {{"card", "020010f010aa010100618001000004000000"}, {4}, 0x61, true, 6000},
        // A block's erase and read-back: 1 s and 3.2 s a block.
        {{"flash-erase", "6144", "0", "1"}, {0}, 0x70, false, 4200},
        {{"info"}, {48}, 0x90},  // id 32, version 4, address, mask and gateway 4 each
        {{"ram-read", "0x200000", "4"}, {4}, 0x61},
        {{"ram-write", "0x882", "3c00"}, {0}, 0x60},
        {{"word-read", "2176"}, {2}, 0x61},
        {{"word-write", "2176", "50"}, {0}, 0x60},
        {{"reg-read", "1", "31", "2"}, {2}, 0xA1},
        {{"reg-write", "2", "23", "0xF0", "0x50"}, {0}, 0xA0},
        {{"send-file", "21", file}, {0, 0, 0, 0}, 0x82},  // start, 1024 bytes, 1 byte, end
        {{"delete-files"}, {0}, 0x83},
        {{"set-clock", "2024-05-06", "07:08:09"}, {0}, 0x91},
        {{"time-report"}, {22}, 0x92},
        {{"network", "192.168.1.199", "255.255.255.0", "192.168.1.1"}, {0}, 0x93},
        // 1.1 s and 0.4 s a page: the last piece, 1 byte, touches one.
        {{"flash-write", "0x1800000", file}, {0, 0}, 0x71, false, 1500},
        {{"flash-read", "0x1800000", "1030", "%1"}, {1024, 6}, 0x72},
    };
    // Every command the help lists has its row.
    QSet<QString> named;
    for (const Row& row : rows) named << row.args[0];
    const QRegularExpression listed(QStringLiteral("^  ([a-z-]+) .*\\[0x[0-9A-F]{2}\\]"),
                                    QRegularExpression::MultilineOption);
    for (auto it = listed.globalMatch(zrvctl({"help"}).out); it.hasNext();) {
        const QString name = it.next().captured(1);
        EXPECT_TRUE(named.contains(name)) << name.toStdString() << " has no row";
        named.remove(name);
    }
    EXPECT_TRUE(named.isEmpty());

    enum Fault { Right, Failed, Short, Long, OtherCommand, OtherRequest, Silent, kFaults };
    FakeDevices devices;
    std::vector<QStringList> runs;
    for (const Row& row : rows) {
        for (int f = 0; f < kFaults; ++f) {
            const Fault fault = Fault(f);
            const QString device = devices.add([&row, fault](const Bytes& request, int index) {
                using Reply = std::optional<Bytes>;
                const size_t i = size_t(index);
                const bool last = i + 1 == row.data.size();
                if (i >= row.data.size() || (last && fault == Silent)) return Reply();
                if (last && fault == Short && row.data[i] == 0) return Reply(replyTo(request, {}));
                size_t data = row.data[i];
                if (last && fault == Short) data -= 1;
                if (last && fault == Long) data = row.cards ? 1013 : data + 1;
                Bytes reply = replyTo(request, Bytes(data + 1, 0x5A));
                reply[10] = last && fault == Failed ? 1 : 0;
                if (last && fault == OtherCommand) ++reply[9];
                if (last && fault == OtherRequest) ++reply[7];
                return Reply(reply);
            });
            const QString wait = fault == Silent ? "200" : "3000";
            runs.push_back(QStringList{"--udp", device, "--timeout", wait} + row.args);
            runs.back().replaceInStrings("%1", dir.filePath(QStringLiteral("out%1.bin").arg(f)));
        }
    }
    devices.start();
    const std::vector<ClientRun> ended = zrvctlSideBySide(runs, 30000);

    const char* faultNames[kFaults] = {"right",         "failed",        "short", "long",
                                       "other command", "other request", "silent"};
    auto hex = [](int byte) {
        return QStringLiteral("0x") + QStringLiteral("%1").arg(byte, 2, 16, QChar('0')).toUpper();
    };
    for (size_t r = 0; r < std::size(rows); ++r) {
        const Row& row = rows[r];
        const size_t d = row.data.back();
        const QString from = row.cards ? " from the cards" : "";
        const QString wrong = "zrvctl: wrong answer" + from + " to command " + hex(row.command) + ": ";
        const QString unanswered = QStringLiteral("zrvctl: no answer%1 within %2 ms").arg(from);
        const QString other =
            unanswered.arg(3000 + row.longer) + "; what came answers another request: a frame of command ";
        // Another status than done is said; but for a read, the cards' reply is printed whole.
        const QString failed =
            row.cards ? "zrvctl: the cards answered status 1" : "zrvctl: status 1: bad argument or out of range";
        const QString said[kFaults] = {
            "",
            row.command == 0x10 ? "" : failed,
            wrong + (d == 0       ? QStringLiteral("no status byte")
                     : row.cards ? QStringLiteral("%1 data bytes, not %2 to 1012").arg(d - 1).arg(d)
                                 : QStringLiteral("%1 data bytes, not %2").arg(d - 1).arg(d)),
            wrong + (row.cards ? QStringLiteral("1025 bytes, more than a card's reply holds")
                               : QStringLiteral("%1 data bytes, not %2").arg(d + 1).arg(d)),
            other + hex(row.command + 1),
            row.cards ? "" : other + hex(row.command) + " that echoes another request",
            unanswered.arg(200 + row.longer),
        };
        for (int f = 0; f < kFaults; ++f) {
            const ClientRun& run = ended[r * kFaults + size_t(f)];
            const std::string where = row.args.join(' ').toStdString() + ", " + faultNames[f];
            if (said[f].isEmpty()) {
                EXPECT_EQ(run.status, 0) << where << ": " << run.err.toStdString();
                continue;
            }
            EXPECT_EQ(run.status, f == Failed ? 1 : 3) << where;
            EXPECT_EQ(run.err.toStdString(), (said[f] + "\n").toStdString()) << where;
            EXPECT_EQ(run.out.toStdString(), "") << where;
            EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("out%1.bin").arg(f)))) << where;
        }
    }
}

// The device id is printed as text: whatever else the device puts in it
// reaches the terminal escaped, up to a NUL that ends it or all 32 bytes.
TEST(Client, TheDeviceIdReachesTheTerminalEscaped) {
    const std::string ids[] = {std::string("AB\x1b[2J\r\n\t\x7f\xc2\x9b\0Z", 13), std::string(32, '7')};
    FakeDevices devices;
    const QString device = devices.add([&ids](const Bytes& request, int index) {
        Bytes data = {0};  // done
        data.insert(data.end(), ids[index % 2].begin(), ids[index % 2].end());
        data.resize(1 + 32);
        data.insert(data.end(), {1, 17, 0, 0, 192, 168, 1, 199, 255, 255, 255, 0, 192, 168, 1, 1});
        return std::optional<Bytes>(replyTo(request, data));
    });
    devices.start();
    const std::string rest = "\nversion 1.17.0.0\nip 192.168.1.199\nmask 255.255.255.0\ngateway 192.168.1.1\n";
    for (const std::string& id : {std::string("AB\\x1B[2J\\r\\n\\t\\x7F\\xC2\\x9B"), std::string(32, '7')}) {
        const ClientRun r = zrvctl({"--udp", device, "info"});
        EXPECT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_EQ(r.out.toStdString(), "id " + id + rest);
    }
}

// A flash read into a disk that takes less than what came (a file size
// limit stands in for a full disk) is no success, and leaves the folder as
// it was: no new file, an old one with its old bytes, nothing beside them.
// Where the disk takes it, the same read fills a new file or replaces an
// old one whole, keeping its permissions, and through a link the file the
// link leads to.
TEST(Client, AFlashReadTheDiskDoesNotTakeWholeFailsAndLeavesTheFolderAsItWas) {
    // Answers every flash read with 600 bytes of 0x5A.
    FakeDevices devices;
    const QString device = devices.add([](const Bytes& request, int) {
        Bytes data(601, 0x5A);
        data[0] = 0;  // status: done
        return std::optional<Bytes>(replyTo(request, data));
    });
    devices.start();
    QTemporaryDir dir;
    auto read = [&](const QString& file) {
        return QStringList{"--udp", device, "flash-read", "0", "600", dir.filePath(file)};
    };
    // As a shell's "ulimit -f" gives it: the limit with the signal it sends
    // at its default, which ends a program that does not see to it.
    auto onAFullDisk = [&](const QString& file) {
        const auto handler = std::signal(SIGXFSZ, SIG_DFL);
        const ClientRun r = zrvctl(read(file), 10000, {"prlimit", "--fsize=100", "--"});
        std::signal(SIGXFSZ, handler);
        return r;
    };
    auto content = [&](const QString& file) {
        QFile f(dir.filePath(file));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    };
    auto folder = [&] { return QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot); };

    const ClientRun failed = onAFullDisk("back.bin");
    EXPECT_EQ(failed.status, 2);
    EXPECT_TRUE(failed.err.contains("cannot write the file " + dir.filePath("back.bin") + ": File too large"))
        << failed.err.toStdString();
    EXPECT_EQ(folder(), QStringList());
    {
        QFile old(dir.filePath("keep.bin"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    }
    ASSERT_EQ(::chmod(dir.filePath("keep.bin").toUtf8().constData(), 0640), 0);
    ASSERT_TRUE(QFile::link(dir.filePath("keep.bin"), dir.filePath("link.bin")));
    for (const char* file : {"keep.bin", "link.bin"}) {
        const ClientRun kept = onAFullDisk(file);
        EXPECT_EQ(kept.status, 2) << file;
        EXPECT_TRUE(kept.err.contains("File too large")) << kept.err.toStdString();
        EXPECT_EQ(content("keep.bin"), QByteArray("old")) << file;
        EXPECT_EQ(folder(), (QStringList{"keep.bin", "link.bin"})) << file;
    }

    const QByteArray read600(600, 0x5A);
    for (const char* file : {"back.bin", "link.bin"}) {
        const ClientRun taken = zrvctl(read(file));
        EXPECT_EQ(taken.status, 0) << taken.err.toStdString();
        EXPECT_EQ(content(file), read600) << file;
    }
    EXPECT_EQ(content("keep.bin"), read600);
    EXPECT_TRUE(QFileInfo(dir.filePath("link.bin")).isSymLink());
    struct stat st{};
    ASSERT_EQ(::stat(dir.filePath("keep.bin").toUtf8().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(folder(), (QStringList{"back.bin", "keep.bin", "link.bin"}));
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

// The device answers a flash erase within 1 s and 3.2 s a block, a flash
// write within 1.1 s and 0.4 s for each 256-byte page it touches: the
// client waits that long beyond its time-out, so a slow but sound answer is
// never called missing. Each device answers later than the client's time-out
// and the wait of the other command allow.
TEST(Client, AFlashAnswerIsWaitedForAsLongAsTheDeviceMayTakeIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath("piece.bin");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(1024));
    }
    struct Row {
        QStringList args;
        int answerAfterMs;
    };
    const Row rows[] = {
        // One block: 100 + 1000 + 3200 ms.
        {{"flash-erase", "6144", "0", "1"}, 3900},
        // 1024 bytes from 0x80 into a page touch five: 100 + 1100 + 2000 ms.
        {{"flash-write", "0x1800080", file}, 2900},
    };
    for (const Row& row : rows) {
        sockaddr_in a{};
        const int device = boundToLoopback(SOCK_DGRAM, a);
        ASSERT_GE(device, 0);
        std::thread holdAndAnswer([device, &row] {
            pollfd p{device, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return;
            u8 datagram[4096];
            sockaddr_in pc{};
            socklen_t pcLen = sizeof pc;
            const ssize_t n = ::recvfrom(device, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&pc), &pcLen);
            Bytes request;
            FrameDecoder decoder(65536);
            decoder.feed(datagram, size_t(std::max<ssize_t>(n, 0)), [&](const u8* f, u32 size) { request.assign(f, f + size); });
            if (request.size() < 10) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(row.answerAfterMs));
            Bytes reply = replyTo(request, {0});
            reply.push_back(Utils::BCC(reply.data(), u32(reply.size())));
            const Bytes enc = encode(reply);
            ::sendto(device, enc.data(), enc.size(), 0, reinterpret_cast<const sockaddr*>(&pc), pcLen);
        });
        const ClientRun r =
            zrvctl(QStringList{"--udp", QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port)), "--timeout", "100"} + row.args);
        holdAndAnswer.join();
        ::close(device);
        EXPECT_EQ(r.status, 0) << row.args.join(' ').toStdString() << ": " << r.err.toStdString();
    }
}

}  // namespace
