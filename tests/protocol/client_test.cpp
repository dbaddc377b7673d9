// The client as a user meets it: its help, what it says about arguments it
// refuses, and what it makes of the replies of fake devices.
#include "frame_helpers.h"
#include "tools/zrvctl_wait.h"

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
#include <sched.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <thread>

namespace {

struct ClientRun {
    int status = -1;  // -1 also when it ended by a signal
    QString out, err;
};

// What a started run ends with, once it ended within `boundMs`; killed
// after that (status -1).
ClientRun finished(QProcess& p, int boundMs) {
    ClientRun r;
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

// `boundMs`: how long the run may take before it is killed (status -1).
// `under`: a program (with its arguments) that runs the client, as a shell's
// limits would. `output`: a file standard output goes to.
ClientRun zrvctl(const QStringList& args, int boundMs = 10000, const QStringList& under = {},
                 const QString& output = {}) {
    QProcess p;
    if (!output.isEmpty()) p.setStandardOutputFile(output);
    if (under.isEmpty())
        p.start(binary("ZRV_CLIENT_BINARY", "zrvctl"), args);
    else
        p.start(under[0], under.mid(1) + QStringList{binary("ZRV_CLIENT_BINARY", "zrvctl")} + args);
    return finished(p, boundMs);
}

// A shell line run in `folder` ("set -e" first), where "$Z" is the client
// and $L its link: what a shell's redirections make of a run.
ClientRun zrvctlInShell(const QString& line, const QStringList& link, const QString& folder) {
    QProcess sh;
    sh.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("Z", binary("ZRV_CLIENT_BINARY", "zrvctl"));
    env.insert("L", link.join(' '));
    sh.setProcessEnvironment(env);
    sh.start("sh", {"-c", "set -e; " + line});
    return finished(sh, 20000);
}

// Every run of zrvctl() (its arguments, and where its standard output goes),
// sixteen at a time: waits that are the client's own run side by side.
std::vector<ClientRun> zrvctlSideBySide(const std::vector<std::pair<QStringList, QString>>& runs, int boundMs) {
    std::vector<ClientRun> ended(runs.size());
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 16; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < runs.size();) ended[i] = zrvctl(runs[i].first, boundMs, {}, runs[i].second);
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

// A device on another host of the network: the calling thread moves into a
// network namespace of its own, joined by a veth pair to the device's, where
// the device is 10.9.0.2 (10.9.0.3 another host on its link), with its
// gateway; the test's end is 10.9.0.1. The processes and threads the calling
// thread starts share its namespace; sockets made in onDevice() are the
// device's. Both namespaces are new, so no other test meets their names and
// addresses; at the end the thread returns to its own.
class PeerNetwork {
public:
    PeerNetwork() : m_home(netns()) {
        if (::unshare(CLONE_NEWNET) != 0 || (m_device = netns()) < 0 || ::unshare(CLONE_NEWNET) != 0 ||
            (m_pc = netns()) < 0)
            return;
        const QString device = QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(m_device);
        m_up = ip("link add zpc type veth peer name zdev netns " + device) && ip("addr add 10.9.0.1/24 dev zpc") &&
               ip("link set zpc up") && ip("link set lo up");
        onDevice([this] {
            m_up = m_up && ip("addr add 10.9.0.2/24 dev zdev") && ip("addr add 10.9.0.3/24 dev zdev") &&
                   ip("link set zdev up") && ip("route add default dev zdev");
        });
    }
    ~PeerNetwork() {
        ::setns(m_home, CLONE_NEWNET);
        for (int fd : {m_home, m_device, m_pc}) ::close(fd);
    }
    bool up() const { return m_up; }
    template <class F>
    void onDevice(F f) {
        ::setns(m_device, CLONE_NEWNET);
        f();
        ::setns(m_pc, CLONE_NEWNET);
    }

private:
    static int netns() { return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }
    static bool ip(const QString& args) { return QProcess::execute("ip", args.split(' ')) == 0; }
    int m_home, m_device = -1, m_pc = -1;
    bool m_up = false;
};

// Fake devices, all served by one thread: each hands every frame sent to
// it, with its number from 0, to its answer, and sends back each frame the
// answer gives (none, one or more), its check byte appended. On UDP a device
// on the loopback answers the sender, as the PC run does; one on a
// PeerNetwork answers to the broadcast address at the sender's port, as the
// device does on a network, and, with `strangers`, first sends each request
// a failed answer from another host (10.9.0.3) at its port and from another
// port of its own. A serial device is a pseudo-terminal.
class FakeDevices {
public:
    enum Link { Udp, Tcp, Serial };
    using Answer = std::function<std::vector<Bytes>(const Bytes& request, int index)>;
    explicit FakeDevices(PeerNetwork* network = nullptr) : m_network(network) { (void)!::pipe2(m_wake, O_CLOEXEC); }
    ~FakeDevices() {
        (void)!::write(m_wake[1], "x", 1);
        if (m_thread.joinable()) m_thread.join();
        for (auto& d : m_devices)
            for (int fd : {d->fd, d->connection, d->slave, d->strangers[0], d->strangers[1]}) ::close(fd);
        for (int fd : m_wake) ::close(fd);
    }
    // A new device's LINK arguments; all are added before start().
    QStringList add(Answer answer, Link link = Udp, bool strangers = false) {
        auto d = std::make_unique<Device>(Device{link, -1, -1, -1, std::move(answer)});
        sockaddr_in a = loopback(0);
        if (link == Serial) {
            d->fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            // Held open, so the line stays whole while no client has it.
            if (::grantpt(d->fd) == 0 && ::unlockpt(d->fd) == 0)
                d->slave = ::open(::ptsname(d->fd), O_RDWR | O_NOCTTY | O_CLOEXEC);
            termios t{};
            ::tcgetattr(d->slave, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(d->slave, TCSANOW, &t);
            m_devices.push_back(std::move(d));
            return {"--serial", QString::fromLocal8Bit(::ptsname(m_devices.back()->fd))};
        }
        auto open = [&] {
            if (m_network) a = bound(0x0A090002, 0, link == Tcp ? SOCK_STREAM : SOCK_DGRAM, &d->fd);
            else d->fd = boundToLoopback(link == Tcp ? SOCK_STREAM : SOCK_DGRAM, a);
            if (link == Tcp) ::listen(d->fd, 4);
            if (strangers && m_network && link == Udp) {
                bound(0x0A090003, ntohs(a.sin_port), SOCK_DGRAM, &d->strangers[0]);
                bound(0x0A090002, 0, SOCK_DGRAM, &d->strangers[1]);
            }
        };
        if (m_network) m_network->onDevice(open);
        else open();
        m_devices.push_back(std::move(d));
        return {link == Tcp ? "--tcp" : "--udp",
                QStringLiteral("%1:%2").arg(m_network ? "10.9.0.2" : "127.0.0.1").arg(ntohs(a.sin_port))};
    }
    void start() {
        m_thread = std::thread([this] {
            // Each wait is bounded; the end of the test wakes it.
            for (;;) {
                std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}};
                for (auto& d : m_devices) fds.push_back({d->connection >= 0 ? d->connection : d->fd, POLLIN, 0});
                if (::poll(fds.data(), fds.size(), 60000) <= 0 || fds[0].revents) return;
                for (size_t i = 1; i < fds.size(); ++i)
                    if (fds[i].revents) serve(*m_devices[i - 1]);
            }
        });
    }

private:
    struct Device {
        Link link;
        int fd, connection, slave;
        Answer answer;
        int strangers[2] = {-1, -1};
        FrameDecoder decoder{65536};
        int count = 0;
    };
    // A socket bound to the address and port (host order), its port in the answer.
    static sockaddr_in bound(u32 address, u16 port, int type, int* fd) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(address);
        a.sin_port = htons(port);
        socklen_t len = sizeof a;
        const int one = 1;
        *fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        ::setsockopt(*fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        ::bind(*fd, reinterpret_cast<sockaddr*>(&a), len);
        ::getsockname(*fd, reinterpret_cast<sockaddr*>(&a), &len);
        return a;
    }
    void serve(Device& d) {
        if (d.link == Tcp && d.connection < 0) {
            d.connection = ::accept4(d.fd, nullptr, nullptr, SOCK_CLOEXEC);
            return;
        }
        u8 got[65536];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const int fd = d.connection >= 0 ? d.connection : d.fd;
        const ssize_t n = d.link == Udp ? ::recvfrom(fd, got, sizeof got, 0, reinterpret_cast<sockaddr*>(&from), &len)
                                        : ::read(fd, got, sizeof got);
        if (n <= 0 && d.connection >= 0) {
            ::close(d.connection);
            d.connection = -1;
        }
        // On a network the answer goes to every host's port of the sender.
        if (m_network) from.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        auto send = [&](int through, Bytes frame) {
            frame.push_back(Utils::BCC(frame.data(), u32(frame.size())));
            const Bytes enc = encode(frame);
            if (d.link == Udp)
                ::sendto(through, enc.data(), enc.size(), 0, reinterpret_cast<const sockaddr*>(&from), len);
            else
                (void)!::write(through, enc.data(), enc.size());
        };
        d.decoder.feed(got, size_t(std::max<ssize_t>(n, 0)), [&](const u8* f, u32 size) {
            const Bytes request(f, f + size);
            for (int stranger : d.strangers)
                if (stranger >= 0) send(stranger, replyTo(request, {1}));
            for (const Bytes& reply : d.answer(request, d.count++)) send(fd, reply);
        });
    }

    PeerNetwork* m_network;
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
    const QString big = dir.filePath("big"), two = dir.filePath("two"), alias = dir.filePath("alias");
    const QString fifo = dir.filePath("fifo");
    QDir().mkpath(folder);
    ASSERT_EQ(::mkfifo(fifo.toUtf8().constData(), 0600), 0);
    for (const auto& [path, size] : {std::pair{empty, 0}, {big, 5 * 1024 * 1024 + 1}, {two, 2}, {alias, 65537}}) {
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
        // A name that names nothing, and one whose file beside it (the name
        // and ".new<process id>-<n>") the folder cannot take.
        {{"flash-read", "0", "4", ""}, "cannot write the file : No such file or directory"},
        {{"flash-read", "0", "4", dir.filePath(QString(250, 'n'))}, QString(250, 'n') + ": File name too long"},
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
        // Numbers as the help gives them, decimal or 0x hexadecimal, and
        // nothing else, whichever argument they are.
        {{"ram-read", " 5", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \" 5\""},
        {{"ram-read", "5 ", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"5 \""},
        {{"ram-read", "+5", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"+5\""},
        {{"ram-read", "-5", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"-5\""},
        {{"ram-read", "", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"\""},
        {{"ram-read", "0x", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"0x\""},
        {{"ram-read", "0x+5", "4"}, "ADDR must be a number (decimal or 0x hexadecimal), not \"0x+5\""},
        {{"ram-read", "4294967296", "4"}, "ADDR must be 0 to 4294967295, not 4294967296"},
        {{"ram-read", "18446744073709551617", "4"}, "ADDR must be 0 to 4294967295, not 18446744073709551617"},
        {{"word-write", "0770", "0x10000"}, "VALUE must be 0 to 65535, not 0x10000"},
        {{"--timeout", "1e3", "info"}, "MS must be a number (decimal or 0x hexadecimal), not \"1e3\""},
        {{"--udp", "127.0.0.1:+9", "info"}, "PORT must be a number (decimal or 0x hexadecimal), not \"+9\""},
        {{"--udp", "0177.0.0.1", "info"}, "HOST must be a dotted address of four decimal numbers"},
        {{"--udp", "127.1", "info"}, "HOST must be a dotted address of four decimal numbers"},
        {{"set-clock", "2024-5-6", "7:8:9"}, "YYYY-MM-DD HH:MM:SS"},
        {{"set-clock", "2024-02-30", "00:00:00"}, "YYYY-MM-DD HH:MM:SS and be one"},
        // What the device refuses at a transfer's start (docs/protocol.md).
        {{"send-file", "7", two}, "TYPE must be 9, 13, 20, 21, 30 or 31, not 7"},
        {{"send-file", "21", two, QString(65, 'n')}, "NAME must be at most 64 bytes, not 65"},
        {{"send-file", "13", two, "scan.qdfile"}, "no file of type 13 by the name \"scan.qdfile\""},
        {{"send-file", "21", alias}, "alias must hold 1 byte to 64 KiB, not 65537"},
        // Ranges the device serves none of (docs/protocol.md): past the
        // image's end, past a slot's 4098 bytes, beyond the last slot, past a
        // port back-up area's 136 bytes, into the read-only status window,
        // past the end of a register block or the flash, a misaligned
        // erase, and a sum that would wrap in 32 bits.
        {{"ram-read", "0xFFE", "4"}, "ram-read: 0x000FFE to 0x001001 is not within one area the device reads"},
        {{"ram-read", "0x1FFF", "4"}, "ram-read: 0x001FFF to 0x002002 is not within one area"},
        {{"ram-read", "0x11000", "1"}, "ram-read: 0x011000 to 0x011000 is not within one area"},
        {{"ram-read", "0x103080", "16"}, "ram-read: 0x103080 to 0x10308F is not within one area"},
        {{"ram-read", "0xFFFFFFFF", "1024"}, "ram-read: 0xFFFFFFFF to 0x1000003FE is not within one area"},
        {{"ram-write", "0xFFF", "0000"}, "ram-write: 0x000FFF to 0x001000 is not within one area the device writes"},
        {{"ram-write", "0x200000", "00"}, "ram-write: 0x200000 to 0x200000 is not within one area the device writes"},
        {{"reg-read", "1", "169", "2"}, "REG and COUNT must name registers 0 to 169 of TARGET 1, not 169 to 170"},
        {{"reg-read", "0", "1060", "2"}, "REG and COUNT must name registers 0 to 1060 of TARGET 0, not 1060 to 1061"},
        {{"flash-erase", "6145", "1", "1"}, "must name blocks aligned to their size that end within the 32 MiB flash"},
        {{"flash-erase", "8191", "0", "2"}, "must name blocks aligned to their size that end within the 32 MiB flash"},
        {{"flash-read", "0x1FFFFFF", "2", dir.filePath("back.bin")}, "LENGTH must be 1 to 1, not 2"},
        // A descriptor not open to write, another process's.
        {{"flash-read", "0", "4", "/dev/fd/987"}, "cannot write the file /dev/fd/987: Bad file descriptor"},
        {{"flash-read", "0", "4", "/proc/1/fd/1"}, "/proc/1/fd/1 is a descriptor of another process"},
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
        u8 fill = '0';  // each byte of the first answer's data, the next answers' counted on from it
        QString beyond = {};  // said of a wait longer than the time-out, which is said in seconds
    };
    const QString kHeld = "the time-out and the 6 s the device may hold the frame";
    const Row rows[] = {
        // The longest waits first, so that they run beside all the others.
        // A search, and 4 bytes of RAM; the device may hold the frame 6 s.
        {{"card", "fe0f10f010aaff010010000000"}, {0}, 0x10, true, 6000, '0', kHeld},
        {{"card", "020010f010aa010100618001000004000000"}, {4}, 0x61, true, 6000, '0', kHeld},
        // A block's erase and read-back: 1 s and 3.2 s a block.
        {{"flash-erase", "6144", "0", "1"}, {0}, 0x70, false, 4200, '0', "the erase may still be running"},
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
        {{"time-report"}, {22}, 0x92, false, 0, 0x01},  // power-on 0101-01-01 01:01:01, a time there is
        {{"network", "192.168.1.199", "255.255.255.0", "192.168.1.1"}, {0}, 0x93},
        // 1.1 s and 0.4 s a page: the last piece, 1 byte, touches one.
        {{"flash-write", "0x1800000", file}, {0, 0}, 0x71, false, 1500, '0', "the write may still be running"},
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

    // Twice: every answer comes twice, the second time with the next one;
    // Stale: the last request gets the answer to the one before again, then
    // its own, failed; Strangers: a
    // failed answer from another host and another port comes first;
    // Controller: the controller's failed answer to another request with
    // the command comes first (a late one on a serial line);
    // Unprinted: standard output is a full disk.
    enum Fault {
        Right, Failed, Short, Long, OtherCommand, OtherRequest, Silent, Twice, Stale, Strangers, Controller,
        Unprinted, kFaults
    };
    // Over UDP to a device on another host, over TCP and on a serial line.
    const FakeDevices::Link links[] = {FakeDevices::Udp, FakeDevices::Tcp, FakeDevices::Serial};
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;  // a device on each of 612 sockets or lines
    ::setrlimit(RLIMIT_NOFILE, &files);
    PeerNetwork network;
    ASSERT_TRUE(network.up());
    FakeDevices devices(&network);
    std::vector<std::pair<QStringList, QString>> runs;
    auto written = [&](size_t run) { return dir.filePath(QStringLiteral("out%1.bin").arg(run)); };
    for (FakeDevices::Link link : links) {
        for (const Row& row : rows) {
            for (int f = 0; f < kFaults; ++f) {
                const Fault fault = Fault(f);
                const QStringList device = devices.add(
                    [&row, fault, earlier = Bytes()](const Bytes& request, int index) mutable {
                        using Reply = std::vector<Bytes>;
                        const size_t i = size_t(index);
                        const bool last = i + 1 == row.data.size();
                        if (i >= row.data.size() || (last && fault == Silent)) return Reply();
                        if (last && fault == Short && row.data[i] == 0) return Reply{replyTo(request, {})};
                        size_t data = row.data[i];
                        if (last && fault == Short) data -= 1;
                        if (last && fault == Long) data = row.cards ? 1013 : data + 1;
                        // The data of each request's answer its own: '0' for the first, '1' the next.
                        Bytes reply = replyTo(request, Bytes(data + 1, u8(row.fill + i)));
                        reply[10] = last && (fault == Failed || fault == Stale) ? 1 : 0;
                        if (last && fault == OtherCommand) ++reply[9];
                        if (last && fault == OtherRequest) ++reply[7];
                        Reply replies{reply};
                        if (fault == Twice && last) replies.push_back(reply);
                        if ((fault == Twice || (last && fault == Stale)) && !earlier.empty())
                            replies.insert(replies.begin(), earlier);
                        if (last && fault == Controller) {
                            Bytes other = replyTo(request, {1});
                            other[2] = 0x00;
                            other[3] = 0xF0;
                            ++other[4];
                            replies.insert(replies.begin(), other);
                        }
                        earlier = reply;
                        return replies;
                    },
                    link, fault == Strangers);
                // An answer ends the wait at once: only the runs that must
                // wait it out (nothing, or only other frames, comes) wait long.
                const bool waitedOut = fault == Silent || fault == OtherCommand || fault == OtherRequest;
                const QString wait = fault == Silent ? "200" : waitedOut ? "5000" : "20000";
                const QString output = fault == Unprinted ? "/dev/full" : "";
                runs.push_back({device + QStringList{"--timeout", wait} + row.args, output});
                runs.back().first.replaceInStrings("%1", written(runs.size() - 1));
            }
        }
    }
    devices.start();
    const std::vector<ClientRun> ended = zrvctlSideBySide(runs, 40000);
    // A request that cannot go out is said at once: no route leads there.
    const ClientRun unsent = zrvctl({"--udp", "192.0.2.1", "info"});
    EXPECT_EQ((std::pair{unsent.status, unsent.err.toStdString()}),
              (std::pair{3, std::string("zrvctl: cannot send to the device: Network is unreachable\n")}));

    const char* faultNames[kFaults] = {"right", "failed", "short", "long", "other command", "other request",
                                       "silent", "twice", "stale", "strangers", "controller", "unprinted"};
    auto hex = [](int byte) {
        return QStringLiteral("0x") + QStringLiteral("%1").arg(byte, 2, 16, QChar('0')).toUpper();
    };
    auto content = [&](size_t run) {
        QFile read(written(run));
        return read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray("(none)");
    };
    // 1024 bytes of the first answer, 6 of the second.
    EXPECT_EQ(content((2 * std::size(rows) - 1) * kFaults), QByteArray(1024, '0') + QByteArray(6, '1'));
    for (size_t k = 0; k < std::size(links) * std::size(rows); ++k) {
        const Row& row = rows[k % std::size(rows)];
        const size_t d = row.data.back();
        const QString from = row.cards ? " from the cards" : "";
        const QString wrong = "zrvctl: wrong answer" + from + " to command " + hex(row.command) + ": ";
        // 200 ms, or 4.4 s with what may still be under way.
        auto unanswered = [&](int given) {
            return "zrvctl: no answer" + from + " within " +
                   (row.longer ? QString::number((given + row.longer) / 1000.0) + " s: " + row.beyond
                               : QString::number(given) + " ms");
        };
        const QString other = unanswered(5000) + "; what came answers another request: a frame of command ";
        const QString failed =
            row.cards ? "zrvctl: the cards answered status 1" : "zrvctl: status 1: bad argument or out of range";
        const ClientRun& right = ended[k * kFaults];
        const QString said[kFaults] = {
            "",
            failed,
            wrong + (d == 0       ? QStringLiteral("no status byte")
                     : row.cards ? QStringLiteral("%1 data bytes, not %2 to 1012").arg(d - 1).arg(d)
                                 : QStringLiteral("%1 data bytes, not %2").arg(d - 1).arg(d)),
            wrong + (row.cards ? QStringLiteral("1025 bytes, more than a card's reply holds")
                               : QStringLiteral("%1 data bytes, not %2").arg(d + 1).arg(d)),
            other + hex(row.command + 1),
            row.cards ? "" : other + hex(row.command) + " that echoes another request",
            unanswered(200),
            "",
            failed,
            "",
            "",
            right.out.isEmpty() ? ""
                                : "zrvctl: standard output did not take what was to be printed: No space left on device",
        };
        for (int f = 0; f < kFaults; ++f) {
            const size_t at = k * kFaults + size_t(f);
            const ClientRun& run = ended[at];
            const std::string where = row.args.join(' ').toStdString() + ", " +
                                      runs[k * kFaults].first[0].toStdString() + ", " + faultNames[f];
            if (said[f].isEmpty()) {
                EXPECT_EQ(run.status, 0) << where << ": " << run.err.toStdString();
                if (f != Twice && f != Strangers && f != Controller) continue;
                EXPECT_EQ(run.out.toStdString(), right.out.toStdString()) << where;
                EXPECT_EQ(content(at), content(k * kFaults)) << where;
                continue;
            }
            EXPECT_EQ(run.status, f == Failed || f == Stale ? 1 : f == Unprinted ? 2 : 3) << where;
            EXPECT_EQ(run.err.toStdString(), (said[f] + "\n").toStdString()) << where;
            EXPECT_EQ(run.out.toStdString(), "") << where;
            EXPECT_FALSE(QFileInfo::exists(written(at))) << where;
        }
    }
}

// A time report's power-on time (bytes 11 to 17: BCD year within the
// century, century, month, day, hour, minute, second) is printed only when
// it is a time there is; anything else is a wrong answer (3), nothing of it
// printed. The other values: 2880 total minutes, 5 since power-on, slot 3
// of wrap 1 (0x100003), 5 reported.
TEST(Client, ATimeReportIsPrintedOnlyWithAPowerOnTimeThereIs) {
    struct Row {
        Bytes powerOn;
        std::string out;  // or, empty, said: the bytes given back
    };
    const Row rows[] = {
        {{0x24, 0x20, 0x02, 0x29, 0x23, 0x59, 0x58}, "2024-02-29 23:59:58"},
        {{0x00, 0x20, 0x12, 0x31, 0x00, 0x00, 0x00}, "2000-12-31 00:00:00"},
        {{0x23, 0x20, 0x02, 0x29, 0x00, 0x00, 0x00}, ""},  // 2023 is no leap year
        {{0x00, 0x21, 0x02, 0x29, 0x00, 0x00, 0x00}, ""},  // nor is 2100
        {{0x24, 0x20, 0x04, 0x31, 0x00, 0x00, 0x00}, ""},
        {{0x24, 0x20, 0x13, 0x01, 0x00, 0x00, 0x00}, ""},
        {{0x24, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00}, ""},
        {{0x24, 0x20, 0x01, 0x00, 0x00, 0x00, 0x00}, ""},
        {{0x24, 0x20, 0x01, 0x01, 0x24, 0x00, 0x00}, ""},
        {{0x24, 0x20, 0x01, 0x01, 0x00, 0x60, 0x00}, ""},
        {{0x24, 0x20, 0x01, 0x01, 0x00, 0x00, 0x60}, ""},
        {{0x2A, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00}, ""},  // not BCD
        {{0x24, 0x20, 0x01, 0x01, 0x00, 0x00, 0x1F}, ""},
    };
    FakeDevices devices;
    const QStringList device = devices.add([&rows](const Bytes& request, int index) {
        Bytes data = {0, 0x40, 0x0B, 0, 0, 5, 0, 0, 0, 0x03, 0x00, 0x10};
        const Bytes& at = rows[size_t(index) % std::size(rows)].powerOn;
        data.insert(data.end(), at.begin(), at.end());
        data.insert(data.end(), {5, 0, 0, 0});
        return std::vector<Bytes>{replyTo(request, data)};
    });
    devices.start();
    for (const Row& row : rows) {
        const ClientRun r = zrvctl(device + QStringList{"time-report"});
        QString bytes;
        for (u8 b : row.powerOn) bytes += QStringLiteral("%1 ").arg(b, 2, 16, QChar('0')).toUpper();
        if (!row.out.empty()) {
            EXPECT_EQ((std::pair{r.status, r.out.toStdString()}),
                      (std::pair{0, "total minutes 2880\nminutes since power-on 5\nsequence 1048579\npower-on " +
                                        row.out + "\nminutes reported since power-on 5\n"}))
                << r.err.toStdString();
            continue;
        }
        EXPECT_EQ((std::vector<std::string>{std::to_string(r.status), r.out.toStdString(), r.err.toStdString()}),
                  (std::vector<std::string>{"3", "",
                                            "zrvctl: wrong answer to command 0x92: a power-on time that is no time (" +
                                                bytes.trimmed().toStdString() + ")\n"}));
    }
}

// The device id is printed as text: whatever else the device puts in it
// reaches the terminal escaped, up to a NUL that ends it or all 32 bytes.
TEST(Client, TheDeviceIdReachesTheTerminalEscaped) {
    const std::string ids[] = {std::string("AB\x1b[2J\r\n\t\x7f\xc2\x9b\0Z", 13), std::string(32, '7')};
    FakeDevices devices;
    const QStringList device = devices.add([&ids](const Bytes& request, int index) {
        Bytes data = {0};  // done
        data.insert(data.end(), ids[index % 2].begin(), ids[index % 2].end());
        data.resize(1 + 32);
        data.insert(data.end(), {1, 17, 0, 0, 192, 168, 1, 199, 255, 255, 255, 0, 192, 168, 1, 1});
        return std::vector<Bytes>{replyTo(request, data)};
    });
    devices.start();
    const std::string rest = "\nversion 1.17.0.0\nip 192.168.1.199\nmask 255.255.255.0\ngateway 192.168.1.1\n";
    for (const std::string& id : {std::string("AB\\x1B[2J\\r\\n\\t\\x7F\\xC2\\x9B"), std::string(32, '7')}) {
        const ClientRun r = zrvctl(device + QStringList{"info"});
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
    const QStringList device = devices.add([](const Bytes& request, int) {
        Bytes data(601, 0x5A);
        data[0] = 0;  // status: done
        return std::vector<Bytes>{replyTo(request, data)};
    });
    devices.start();
    QTemporaryDir dir;
    auto read = [&](const QString& file) {
        return device + QStringList{"flash-read", "0", "600", dir.filePath(file)};
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
// connection, and a serial line may hang up (the far end goes): that is
// said at once, not after the whole wait. A host that does not take the
// connection at all (its queue of connections is full, so it drops the
// client's) is no answer within the time-out, not a wait of minutes.
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

    // A serial line whose far end closes once the request came.
    const int far = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(far >= 0 && ::grantpt(far) == 0 && ::unlockpt(far) == 0);
    const QString line = QString::fromLocal8Bit(::ptsname(far));
    // Held open until the far end closes, so the line is whole till then.
    const int near = ::open(::ptsname(far), O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::thread hangUp([far] {
        pollfd p{far, POLLIN, 0};
        ::poll(&p, 1, 20000);
        ::close(far);
    });
    const ClientRun hung = zrvctl({"--serial", line, "--timeout", "60000", "info"});
    hangUp.join();
    ::close(near);
    EXPECT_EQ((std::pair{hung.status, hung.err.toStdString()}),
              (std::pair{3, "zrvctl: the serial line " + line.toStdString() + " hung up before an answer came\n"}));

    // A queue of one connection, filled: the next ones are dropped.
    sockaddr_in b{};
    const int full = boundToLoopback(SOCK_STREAM, b);
    ASSERT_EQ(::listen(full, 0), 0);
    const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    (void)!::connect(taken, reinterpret_cast<const sockaddr*>(&b), sizeof b);
    pollfd connected{taken, POLLOUT, 0};
    ASSERT_EQ(::poll(&connected, 1, 20000), 1);
    const ClientRun notTaken =
        zrvctl({"--tcp", QStringLiteral("127.0.0.1:%1").arg(ntohs(b.sin_port)), "--timeout", "300", "info"});
    EXPECT_EQ((std::pair{notTaken.status, notTaken.err.toStdString()}),
              (std::pair{3, QStringLiteral("zrvctl: no answer from 127.0.0.1 port %1 within 300 ms: the connection "
                                           "was not taken\n").arg(ntohs(b.sin_port)).toStdString()}));
    for (int fd : {taken, full}) ::close(fd);
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

// However long the device may take, the client waits for it: the time-out
// given and the command's own bound (docs/protocol.md), never cut to a bound
// of the client's. An erase of 200 blocks the device answers after 615 s is
// waited 2 + 1 + 200 x 3.2 s; one of the whole flash in 4 KiB blocks past
// 7 hours. A wait longer than the time-out given is said in seconds.
TEST(Client, ALongCommandIsWaitedForAllTheDeviceMayTake) {
    struct Row {
        ClientWait::Wait wait;
        long long ms;
        std::string said;
    };
    const Row rows[] = {
        {ClientWait::erase(2000, 200), 643000, "643 s"},
        {ClientWait::erase(600000, 8192), 26815400, "26815.4 s"},
        {ClientWait::erase(2000, 512), 1641400, "1641.4 s"},  // the whole flash in 64 KiB blocks
        {ClientWait::erase(1, 0), 1001, "1.001 s"},
        {ClientWait::write(600000, 5), 603100, "603.1 s"},
        {ClientWait::cards(600000), 606000, "606 s"},
        {ClientWait::wait(600000), 600000, "600000 ms"},
    };
    for (const Row& row : rows)
        EXPECT_EQ((std::pair{static_cast<long long>(row.wait.total.count()), ClientWait::text(row.wait)}), (std::pair{row.ms, row.said}));
}

// A number with a leading zero is decimal, 0x or 0X hexadecimal: the device
// that answers a RAM read with the address it was asked shows what was sent.
TEST(Client, NumbersAreReadAsTheHelpGivesThem) {
    FakeDevices devices;
    const QStringList device = devices.add([](const Bytes& request, int) {
        return std::vector<Bytes>{replyTo(request, {0, request[10], request[11], request[12], request[13]})};
    });
    devices.start();
    const std::pair<QString, std::string> forms[] = {
        {"0770", "02030000"}, {"010", "0a000000"},        {"0768", "00030000"},         {"00", "00000000"},
        {"0x1F", "1f000000"}, {"0XfF", "ff000000"},       {"0x000000ff", "ff000000"}, {"2098172", "fc032000"},
    };
    for (const auto& [form, sent] : forms) {
        const ClientRun r = zrvctl(device + QStringList{"ram-read", form, "4"});
        EXPECT_EQ(r.status, 0) << form.toStdString() << ": " << r.err.toStdString();
        EXPECT_EQ(r.out.toStdString(), sent + "\n") << form.toStdString();
    }
}

// A flash read into one of the client's descriptors (standard output, a
// descriptor a shell opened) goes through it, after what was written there
// and before what follows, and a result printed on standard output that
// does not take it fails (2) with a line; a descriptor that cannot be
// written is refused before anything is sent.
TEST(Client, WhatIsReadOrPrintedGoesWhereTheShellSendsItOrFails) {
    FakeDevices devices;
    // Each read (16 bytes asked) gets "0123456789abcdef", the device's
    // information 48 bytes of it.
    const QStringList device = devices.add([](const Bytes& request, int) {
        Bytes data{0};
        for (size_t i = 0; i < (request[9] == 0x90 ? 48u : 16u); ++i) data.push_back(u8("0123456789abcdef"[i % 16]));
        return std::vector<Bytes>{replyTo(request, data)};
    });
    devices.start();
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link("/dev/stdout", dir.filePath("out.lnk")));
    const QString read = "\"$Z\" $L flash-read 0x1800000 16 ", log = "before\n0123456789abcdef\nafter\n";
    struct Row {
        QString shell;  // "$Z" $L: the client and its link
        int status;
        QString log;  // app.log afterwards
        QString said = {};
    } rows[] = {
        {"{ echo before; " + read + "/dev/stdout; echo; echo after; } >> app.log", 0, log},
        {"{ echo before; " + read + "/dev/fd/1; echo; echo after; } >> app.log", 0, log},
        {"{ echo before; " + read + "/proc/self/fd/1; echo; echo after; } >> app.log", 0, log},
        {"{ echo before; sh -c 'exec " + read + "/proc/$$/fd/1'; echo; echo after; } >> app.log", 0, log},
        {"{ echo before; " + read + "out.lnk; echo; echo after; } >> app.log", 0, log},
        {"{ echo before; " + read + "/dev/stdout | cat; echo; echo after; } >> app.log", 0, log},
        {"exec 3>>app.log; echo before >&3; " + read + "/dev/fd/3; echo >&3; echo after >&3", 0, log},
        {"{ echo before >&2; " + read + "/dev/stderr; echo >&2; echo after >&2; } 2>>app.log", 0, log},
        // Refused before anything is sent: to a port nobody serves, a read
        // sent would end in 3.
        {"\"$Z\" --udp 127.0.0.1:9 flash-read 0 16 /dev/stdout >&-", 2, "", "/dev/stdout: Bad file descriptor"},
        {"\"$Z\" --udp 127.0.0.1:9 flash-read 0 16 /dev/fd/3 3</dev/null", 2, "", "/dev/fd/3: Bad file descriptor"},
        // Printed into a full disk (a tmpfs of one page, filled first), a
        // closed output, a device that takes nothing, a pipe whose reader
        // has gone.
        {"mkdir full; unshare -m sh -c 'mount -t tmpfs -o size=4k tmpfs full; cat /dev/zero > full/fill;"
         " exec \"$Z\" $L ram-read 0 16 > full/dump.txt'",
         2, "", "printed: No space left on device"},
        {"\"$Z\" $L info >&-", 2, "", "printed: Bad file descriptor"},
        {"\"$Z\" $L reg-read 0 0 16 > /dev/full", 2, "", "printed: No space left on device"},
        {"mkfifo p; exec 3<>p 4>p; exec 3>&-; \"$Z\" $L ram-read 0 16 >&4", 2, "", "printed: Broken pipe"},
    };
    for (const Row& row : rows) {
        QFile::remove(dir.filePath("app.log"));
        const ClientRun sh = zrvctlInShell(row.shell, device, dir.path());
        ASSERT_NE(sh.status, -1) << row.shell.toStdString();
        EXPECT_EQ(sh.status, row.status) << row.shell.toStdString();
        QFile app(dir.filePath("app.log"));
        const QByteArray logged = app.open(QIODevice::ReadOnly) ? app.readAll() : QByteArray();
        EXPECT_EQ(logged, row.log.toUtf8()) << row.shell.toStdString();
        EXPECT_TRUE(sh.err.contains(row.said)) << row.shell.toStdString() << ": " << sh.err.toStdString();
    }
}

// A standard descriptor the client was started without is held: neither
// the link nor a file takes its number. The device hears the request and
// nothing else, to the end of the connection (the line about its status 1
// went nowhere), and the exit status is the one of a run with every
// descriptor open: 1 for the refused write, 2 for a read whose value a
// closed standard output did not take.
TEST(Client, AClosedStandardDescriptorSendsTheDeviceNothingOfTheClients) {
    struct Row {
        QString shell;
        int status;
        QString said = {};
    } rows[] = {
        {"\"$Z\" $L word-write 2176 1", 1, "zrvctl: status 1: bad argument or out of range\n"},
        {"\"$Z\" $L word-write 2176 1 2>&-", 1},
        {"\"$Z\" $L word-write 2176 1 <&- 2>&-", 1},
        {"\"$Z\" $L word-read 2176 >&-", 2, "zrvctl: standard output did not take what was to be printed: Bad file "
                                            "descriptor\n"},
        {"\"$Z\" $L word-read 2176 <&- >&- 2>&-", 2},
    };
    sockaddr_in a{};
    const int door = boundToLoopback(SOCK_STREAM, a);
    ASSERT_GE(door, 0);
    ASSERT_EQ(::listen(door, 4), 0);
    const QStringList link = {"--tcp", QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port))};
    QTemporaryDir dir;
    for (const Row& row : rows) {
        // A write is refused (status 1), a read answered with the word 2.
        Bytes heard;
        std::thread device([door, &heard] {
            pollfd p{door, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) return;
            p.fd = ::accept4(door, nullptr, nullptr, SOCK_CLOEXEC);
            FrameDecoder decoder(65536);
            u8 got[4096];
            for (ssize_t n; ::poll(&p, 1, 20000) > 0 && (n = ::read(p.fd, got, sizeof got)) > 0;) {
                heard.insert(heard.end(), got, got + n);
                decoder.feed(got, size_t(n), [&](const u8* f, u32 size) {
                    Bytes reply = replyTo(Bytes(f, f + size), f[9] == 0x61 ? Bytes{0, 2, 0} : Bytes{1});
                    reply.push_back(Utils::BCC(reply.data(), u32(reply.size())));
                    const Bytes enc = encode(reply);
                    (void)!::write(p.fd, enc.data(), enc.size());
                });
            }
            ::close(p.fd);
        });
        const ClientRun r = zrvctlInShell(row.shell, link, dir.path());
        device.join();
        Collector frames;
        FrameDecoder decoder(65536);
        frames.feed(decoder, heard);
        EXPECT_EQ(frames.frames.size(), 1u) << row.shell.toStdString();
        EXPECT_EQ(frames.frames.empty() ? Bytes() : encode(frames.frames[0]), heard) << row.shell.toStdString();
        EXPECT_EQ((std::pair{r.status, r.err.toStdString()}), (std::pair{row.status, row.said.toStdString()}))
            << row.shell.toStdString();
    }
    ::close(door);
}

// A device's answer that comes after the client gave up on it (late, on a
// serial line) is no answer to the next run's request.
TEST(Client, ALateAnswerIsNoAnswerToTheNextRunsRequest) {
    FakeDevices devices;
    // The first request's answer (the word holds 1) is held until the next
    // request comes, which then gets it before its own (the word holds 2).
    const QStringList line = devices.add(
        [held = Bytes()](const Bytes& request, int index) mutable {
            if (index == 0) held = replyTo(request, {0, 1, 0});
            return index == 0 ? std::vector<Bytes>{} : std::vector<Bytes>{held, replyTo(request, {0, 2, 0})};
        },
        FakeDevices::Serial);
    devices.start();
    EXPECT_EQ(zrvctl(line + QStringList{"--timeout", "200", "word-read", "2176"}).status, 3);
    const ClientRun r = zrvctl(line + QStringList{"word-read", "2176"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "2\n");
}

// Any signal that would end the client, coming while flash-read writes its
// file (the temporary beside it has appeared), waits until the file is the
// whole new one, nothing beside it.
TEST(Client, ASignalWhileAFlashReadWritesItsFileLeavesItWhole) {
    FakeDevices devices;
    const QStringList device = devices.add([](const Bytes& request, int) {
        Bytes data(17, 'N');
        data[0] = 0;
        return std::vector<Bytes>{replyTo(request, data)};
    });
    devices.start();
    // Every signal whose default ends a process and that a process can catch.
    std::vector<int> ending = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP,   SIGABRT,   SIGBUS,  SIGFPE,
                                SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE,   SIGALRM,   SIGTERM,   SIGSTKFLT, SIGXCPU,
                                SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSYS};
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) ending.push_back(s);
    QTemporaryDir dir;
    const QString back = dir.filePath("back.bin");
    // The fault signals take their default action, as in a build without a
    // sanitizer, whose own handler would report them as a crash.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* options : {"ASAN_OPTIONS", "TSAN_OPTIONS"})
        env.insert(options, env.value(options) + ":handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0");
    const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(::inotify_add_watch(watch, dir.path().toUtf8().constData(), IN_CREATE), 0);
    for (int sig : ending) {
        QFile old(back);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
        QProcess p;
        p.setProcessEnvironment(env);
        // No core files from the signals that would leave one.
        p.start("prlimit", QStringList{"--core=0", "--", binary("ZRV_CLIENT_BINARY", "zrvctl")} + device +
                               QStringList{"flash-read", "0", "16", back});
        pollfd created{watch, POLLIN, 0};
        ASSERT_EQ(::poll(&created, 1, 20000), 1) << "signal " << sig;
        ::kill(pid_t(p.processId()), sig);
        // Whether the signal came before the client ended or after (a busy
        // machine may let it finish first), the file is whole.
        ASSERT_TRUE(p.waitForFinished(20000)) << "signal " << sig;
        QFile now(back);
        const QByteArray written = now.open(QIODevice::ReadOnly) ? now.readAll() : QByteArray();
        EXPECT_EQ(written, QByteArray(16, 'N')) << "signal " << sig;
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"back.bin"}) << "signal " << sig;
    }
    ::close(watch);
}

}  // namespace
