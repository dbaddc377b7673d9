// The program of the thread-checking build under load: started in a network
// namespace of its own on the simulated board and driven on every road at
// once for about 30 s (a UDP storm of parameter writes, user-mode saves and
// reads; TCP writes and FPGA command blocks; frames and searches for the
// receiving cards; the video processor's serial flash; the panel's quick
// set-up jobs and a USB upgrade through the panel, clicked over the
// program's own VNC display), then ended with SIGTERM. Any report of the
// thread checker fails the test. Built and run only with ZRV_TSAN.
#include "../fpga/upgrade_package.h"
#include "../protocol/frame_helpers.h"

#include "core/zrvrampara.h"
#include "protocol/udpnetmanage.h"
#include "support/test_env.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kDriveSeconds = 28;
constexpr u16 kTcpPort = 5005;
constexpr u16 kVncPort = 5901;
constexpr int kReplyMs = 1000;

// One way to the program: a connected UDP or TCP socket, or a serial line.
class Wire {
public:
    static Wire udp() { return Wire(net(SOCK_DGRAM, udpnetManage::kCommandPort)); }
    static Wire tcp() { return Wire(net(SOCK_STREAM, kTcpPort)); }
    static Wire serial(const QString& path) {
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        if (fd >= 0 && ::tcgetattr(fd, &t) == 0) {
            ::cfmakeraw(&t);
            t.c_cflag |= CLOCAL | CREAD;
            ::tcsetattr(fd, TCSANOW, &t);
        }
        return Wire(fd);
    }
    Wire(Wire&& o) noexcept : m_fd(o.m_fd) { o.m_fd = -1; }
    ~Wire() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }

    // Sends a frame (check byte included) and returns the first frame back
    // to the PC with the same command byte; empty when none came in time.
    Bytes exchange(const Bytes& frame, int ms = kReplyMs) {
        const Bytes enc = encode(frame);
        if (m_fd < 0 || ::write(m_fd, enc.data(), enc.size()) != ssize_t(enc.size())) return {};
        const auto until = Steady::now() + milliseconds(ms);
        Bytes reply;
        u8 buf[65536];
        while (reply.empty()) {
            const auto left = std::chrono::duration_cast<milliseconds>(until - Steady::now()).count();
            if (left <= 0) break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0) break;
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) break;
            m_decoder.feed(buf, size_t(n), [&](const u8* f, u32 len) {
                if (len >= 11 && Frame::destination(f) == Frame::kPc && f[9] == frame[9]) reply.assign(f, f + len);
            });
        }
        return reply;
    }
    // A command to the controller; true when answered with status 0.
    bool command(u8 cmd, const Bytes& data, u8 target = 0, Bytes* out = nullptr, int ms = kReplyMs) {
        const Bytes r = exchange(makeFrame(cmd, data, target), ms);
        if (out) *out = replyData(r);
        return !r.empty() && replyStatus(r) == 0;
    }
    bool wordWrite(u32 offset, u16 value) {
        Bytes d;
        put32(d, offset);
        put32(d, 2);
        put16(d, value);
        return command(PcCmd::RamWrite, d);
    }
    bool ramWrite(u32 addr, const Bytes& bytes) {
        Bytes d;
        put32(d, addr);
        put32(d, u32(bytes.size()));
        d.insert(d.end(), bytes.begin(), bytes.end());
        return command(PcCmd::RamWrite, d);
    }
    bool ramRead(u32 addr, u32 len, Bytes* out = nullptr) {
        Bytes d;
        put32(d, addr);
        put32(d, len);
        return command(PcCmd::RamRead, d, 0, out);
    }
    bool regWrite(u8 target, u16 reg, u8 mask, u8 value) {
        Bytes d;
        put16(d, reg);
        d.push_back(mask);
        d.push_back(value);
        return command(PcCmd::RegWrite, d, target);
    }
    bool regRead(u8 target, u16 reg, u16 count, Bytes* out = nullptr) {
        Bytes d;
        put16(d, reg);
        put16(d, count);
        return command(PcCmd::RegRead, d, target, out);
    }

private:
    explicit Wire(int fd) : m_fd(fd) {}
    static int net(int type, u16 port) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        const sockaddr_in a = loopback(port);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
        if (fd >= 0) ::close(fd);
        return -1;
    }
    int m_fd = -1;
    FrameDecoder m_decoder{65536};
};

// A frame for the receiving cards as the PC software sends it.
Bytes cardFrame(Bytes head) {
    head.push_back(Utils::BCC(head.data(), u32(head.size())));
    return head;
}

// The panel over the program's VNC display: pointer events only.
class Panel {
public:
    ~Panel() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool open(u16 port) {
        for (int i = 0; i < 100 && m_fd < 0; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in a = loopback(port);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
                m_fd = fd;
            else {
                ::close(fd);
                std::this_thread::sleep_for(milliseconds(200));
            }
        }
        if (m_fd < 0) return false;
        // Version 3.3: the server's version, ours, security "none" (1),
        // a shared session, then the server's size, pixel format and name.
        u8 version[12];
        if (!readAll(version, 12) || !writeAll("RFB 003.003\n", 12)) return false;
        u8 security[4];
        if (!readAll(security, 4) || security[3] != 1) return false;
        const u8 shared = 1;
        u8 init[24];
        if (!writeAll(&shared, 1) || !readAll(init, 24)) return false;
        const u32 nameLen = u32(init[20]) << 24 | u32(init[21]) << 16 | u32(init[22]) << 8 | init[23];
        std::string name(nameLen, '\0');
        return nameLen > 4096 || readAll(name.data(), nameLen);
    }
    // Press and release at a point of the 800 x 480 screen, then a pause so
    // the page it opens is up before the next click.
    bool click(int x, int y, int pauseMs = 350) {
        const bool ok = pointer(0, x, y) && pointer(1, x, y) && pointer(0, x, y);
        std::this_thread::sleep_for(milliseconds(pauseMs));
        if (ok) ++clicks;
        return ok;
    }
    int clicks = 0;

private:
    bool pointer(u8 mask, int x, int y) {
        const u8 m[6] = {5, mask, u8(x >> 8), u8(x), u8(y >> 8), u8(y)};
        return writeAll(m, 6);
    }
    bool writeAll(const void* p, size_t n) { return ::send(m_fd, p, n, MSG_NOSIGNAL) == ssize_t(n); }
    bool readAll(void* p, size_t n) {
        auto* b = static_cast<u8*>(p);
        while (n > 0) {
            pollfd q{m_fd, POLLIN, 0};
            if (::poll(&q, 1, 5000) <= 0) return false;
            const ssize_t r = ::recv(m_fd, b, n, 0);
            if (r <= 0) return false;
            b += r;
            n -= size_t(r);
        }
        return true;
    }
    int m_fd = -1;
};

// Points of the panel's pages (fixed 800 x 480 layouts).
namespace at {
const int unlock[2] = {100, 450};          // home page: any touch (not under a tip)
const int settingsTile[2] = {205, 261};    // main menu
const int wizardTile[2] = {686, 360};      // settings menu, eighth tile
const int linkTile[2] = {110, 360};        // settings menu, fifth tile
const int back[2] = {36, 36};
const int shortcut[2] = {90, 108};         // quick set-up menu
const int curing[2] = {90, 256};
const int mapping[2] = {90, 330};
const int nextOrSend[2] = {679, 434};      // "Next", "Next", "Send"
const int confirm[2] = {671, 434};         // save to the cards
const int mappingSwitch[2] = {696, 95};
const int usbTab[2] = {97, 232};           // communication page
const int upgradeOk[2] = {690, 433};
}  // namespace at

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray b = f.readAll();
    return std::string(b.constData(), size_t(b.size()));
}

size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Stress : public ::testing::Test {
protected:
    void SetUp() override {
        m_net = std::make_unique<ProgramNetwork>();
        ASSERT_TRUE(m_net->isPrivate()) << "the stress run needs a network namespace of its own (root)";
        ASSERT_TRUE(m_root.isValid());
        QDir().mkpath(m_root.filePath("data/configs"));
        QFile ini(m_root.filePath("data/configs/tcpip.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[config]\nTcpPort=%1\n").arg(kTcpPort).toLatin1());
        ini.close();
        // Cards behind FPGA 0 ports 0 (the quick set-up's) and 5, and behind
        // FPGA 1 port 1.
        QFile board(m_root.filePath("board.json"));
        ASSERT_TRUE(board.open(QIODevice::WriteOnly));
        board.write(R"({"ports": {"0": 4, "5": 6, "13": 6}})");
        board.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZRV_BOARD", "sim");
        env.insert("ZRV_ROOT", m_root.path());
        env.insert("ZRV_BOARD_CONFIG", m_root.filePath("board.json"));
        env.insert("ZRV_START_DELAY_MS", "0");
        env.insert("QT_QPA_PLATFORM", QStringLiteral("vnc:size=800x480:port=%1").arg(kVncPort));
        if (!env.contains("TSAN_OPTIONS"))
            env.insert("TSAN_OPTIONS", "halt_on_error=1:suppressions=" ZRV_SOURCE_DIR "/tests/support/tsan.supp");
        m_proc.setProcessEnvironment(env);
        m_proc.setStandardOutputFile(m_root.filePath("program.out"));
        m_proc.setStandardErrorFile(m_root.filePath("program.err"));
        m_proc.start(QStringLiteral(ZRV_APP_PATH), QStringList());
        ASSERT_TRUE(m_proc.waitForStarted(10000));
    }
    void TearDown() override {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.kill();
            m_proc.waitForFinished(5000);
        }
        m_net.reset();
    }
    std::string reports() { return readFile(m_root.filePath("program.err")); }

    std::unique_ptr<ProgramNetwork> m_net;
    QTemporaryDir m_root;
    QProcess m_proc;
};

// Counted operations of one kind: answered ones, and those left unanswered.
struct Count {
    std::atomic<int> done{0}, unanswered{0};
    void add(bool ok) { ++(ok ? done : unanswered); }
};

}  // namespace

TEST_F(Stress, EveryRoadAtOnceForHalfAMinuteGivesNoThreadReport) {
    // A link the program closed is counted, not the end of the test.
    std::signal(SIGPIPE, SIG_IGN);
    {
        Wire probe = Wire::udp();
        bool ready = false;
        for (int i = 0; i < 120 && !ready && m_proc.state() == QProcess::Running; ++i) {
            ready = probe.command(PcCmd::DeviceInfo, {}, 0, nullptr, 250);
            if (!ready) std::this_thread::sleep_for(milliseconds(250));
        }
        ASSERT_TRUE(ready) << reports();
    }

    const auto start = Steady::now();
    const auto deadline = start + std::chrono::seconds(kDriveSeconds);
    std::atomic<bool> stop{false};
    // Every PC frame holds the FPGA thread's card work for 80 ticks: the
    // links rest 3 s of every 6 s, so the panel's jobs and the card search
    // run too.
    auto linksRest = [&] {
        if (stop.load() || Steady::now() >= deadline) return false;
        const auto phase = std::chrono::duration_cast<milliseconds>(Steady::now() - start).count() % 6000;
        if (phase >= 3000) std::this_thread::sleep_for(milliseconds(6000 - phase));
        return !stop.load() && Steady::now() < deadline;
    };
    constexpr int kBound = 200000;  // operations per driver at most

    std::map<std::string, Count> n;
    for (const char* k : {"udp image writes", "udp user-mode saves", "udp register and image reads",
                          "tcp image writes", "tcp command blocks", "tcp FPGA register reads",
                          "tcp card register writes", "4G card searches", "4G card broadcast searches",
                          "flash erases", "flash writes", "flash reads (verified)", "panel clicks"})
        n[k];

    // One frame for the cards at a time, as one PC program sends them: the
    // program answers the link whose frame is the latest.
    std::mutex cardTurn;
    std::vector<std::thread> drivers;
    // UDP: parameter writes as fast as they are answered, a user-mode save
    // every tenth, and the register block and signal summaries read back.
    drivers.emplace_back([&] {
        Wire w = Wire::udp();
        for (int i = 0; i < kBound && linksRest(); ++i) {
            n.at("udp image writes").add(w.wordWrite(RamOffset::CONTRAST, u16(40 + i % 50)));
            n.at("udp image writes").add(w.wordWrite(RamOffset::SATURATION, u16(30 + i % 40)));
            if (i % 10 == 0) n.at("udp user-mode saves").add(w.wordWrite(RamOffset::SAVE_REQUEST, u16(1 + (i / 10) % 16)));
            n.at("udp register and image reads").add(w.regRead(0, 37, 7));
            n.at("udp register and image reads").add(w.ramRead(PcRam::StatusBase, 8));
            n.at("udp register and image reads").add(w.ramRead(RamOffset::SIGNAL_BASE, 36));
        }
    });
    // TCP: brightness and sharpness, the FPGA command blocks (a fixed
    // brightness level, then the clock), FPGA registers, and a register
    // write to card 5 of FPGA 1 port 1.
    drivers.emplace_back([&] {
        Wire w = Wire::tcp();
        for (int i = 0; i < kBound && linksRest(); ++i) {
            n.at("tcp image writes").add(w.wordWrite(RamOffset::BRIGHTNESS, u16(60 + i % 40)));
            n.at("tcp image writes").add(w.wordWrite(RamOffset::SHARPNESS, u16(i % 30)));
            const Bytes block = i % 2 ? Bytes{0xAA, 3, 0, 0, 0, 0, 2, 0, 16, u8(1 + i % 16)}
                                      : Bytes{0xAA, 1, 0, 0, 0, 0, 7, 0, 0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05};
            n.at("tcp command blocks").add(w.ramWrite(PcRam::FpgaCmd, block) && w.regWrite(1, 2, 0x04, 0x04));
            n.at("tcp FPGA register reads").add(w.regRead(1, 0, 32) && w.regRead(2, 128, 42));
            std::lock_guard<std::mutex> turn(cardTurn);
            const Bytes r = w.exchange(cardFrame({0x05, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x0E, 0x00, 0xA0, 0x00,
                                                  0x10, 0x01, u8(i)}));
            n.at("tcp card register writes").add(!r.empty());
        }
    });
    // The 4G line: broadcast searches and searches of FPGA 0 ports 0 and 5.
    // A broadcast's collection takes every card reply until the next PC
    // frame for the cards, the jobs' too: a single-port search follows each.
    drivers.emplace_back([&] {
        Wire w = Wire::serial(m_root.filePath("dev/ttyS1.pc"));
        for (int i = 0; i < kBound && w.ok() && linksRest(); ++i) {
            std::lock_guard<std::mutex> turn(cardTurn);
            if (i % 4 == 0) {
                const Bytes all = cardFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0xFF, 0x00, 0x10, 0, 0, 0});
                n.at("4G card broadcast searches").add(!w.exchange(all).empty());
            }
            const u8 port7 = i % 2 ? 6 : 1;
            const Bytes port = cardFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, port7, 0x00, 0x10, 0, 0, 0});
            n.at("4G card searches").add(!w.exchange(port).empty());
        }
    });
    // RS-485: the video processor's serial flash, one block at 24 MiB
    // erased, written and read back.
    drivers.emplace_back([&] {
        Wire w = Wire::serial(m_root.filePath("dev/ttyS2.pc"));
        for (int i = 0; i < kBound && w.ok() && linksRest(); ++i) {
            Bytes erase;
            put16(erase, 0x1800);
            erase.push_back(0);
            put16(erase, 1);
            n.at("flash erases").add(w.command(PcCmd::FlashErase, erase, 0, nullptr, 5000));
            Bytes data = upkg::pattern(256, u8(i));
            Bytes write;
            put32(write, 0x1800000);
            put32(write, u32(data.size()));
            write.insert(write.end(), data.begin(), data.end());
            n.at("flash writes").add(w.command(PcCmd::FlashWrite, write));
            Bytes read, back;
            put32(read, 0x1800000);
            put32(read, u32(data.size()));
            n.at("flash reads (verified)").add(w.command(PcCmd::FlashRead, read, 0, &back) && back == data);
        }
    });
    // The panel: a stick with a font package for the video processor and its
    // upgrade from the communication page first, then the quick set-up
    // (job 1), saving to the cards (job 3) and the mapping switch (job 4) in
    // turn; a click while a job runs is refused by the page.
    const Bytes font = upkg::fontData(1, 0x40, 5000);
    bool panelOpen = false;
    drivers.emplace_back([&] {
        const QString folder = m_root.filePath("mnt/usb1/ZRV-K46");
        QDir().mkpath(folder);
        const Bytes pkg = upkg::build({0, 0x7652, {upkg::font(font)}});
        QFile f(folder + "/pkg.ZRV");
        if (f.open(QIODevice::WriteOnly)) f.write(reinterpret_cast<const char*>(pkg.data()), qint64(pkg.size()));
        f.close();

        Panel p;
        panelOpen = p.open(kVncPort);
        if (!panelOpen) return;
        auto click = [&](const int* xy, int pauseMs = 350) { return p.click(xy[0], xy[1], pauseMs); };
        click(at::unlock);
        click(at::settingsTile);
        click(at::linkTile);
        click(at::usbTab);
        click(at::upgradeOk, 4000);
        click(at::back);
        click(at::wizardTile);
        for (int i = 0; i < kBound && !stop.load() && Steady::now() < deadline; ++i) {
            click(at::shortcut);
            click(at::nextOrSend);
            click(at::nextOrSend);
            click(at::nextOrSend, 2000);
            click(at::curing);
            click(at::confirm, 2000);
            click(at::mapping);
            click(at::mappingSwitch, 2000);
        }
        n.at("panel clicks").done = p.clicks;
    });

    // The checker stops the program at its first report: stop driving then.
    while (Steady::now() < deadline && reports().find("ThreadSanitizer") == std::string::npos &&
           m_proc.state() == QProcess::Running)
        std::this_thread::sleep_for(milliseconds(500));
    stop.store(true);
    for (auto& t : drivers) t.join();

    // The 64-dot font of the package where the chip's serial flash keeps it.
    Bytes read, fontBack;
    put32(read, 0x410000);
    put32(read, u32(font.size() < 1024 ? font.size() : 1024));
    const bool upgradeWritten = Wire::serial(m_root.filePath("dev/ttyS2.pc")).command(PcCmd::FlashRead, read, 0, &fontBack) &&
                                fontBack == Bytes(font.begin(), font.begin() + long(fontBack.size())) && !fontBack.empty();
    ::kill(pid_t(m_proc.processId()), SIGTERM);
    const bool ended = m_proc.waitForFinished(20000);
    const int seconds = int(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - start).count());

    // The simulated board moves its log aside to ".1" at a size: both parts.
    const std::string fpgaLog = readFile(m_root.filePath("var/log/sim_fpga0_writes.log.1")) +
                                readFile(m_root.filePath("var/log/sim_fpga0_writes.log"));
    // The panel's jobs as FPGA 0 sent them to port 0: the first card's
    // position (quick set-up), the save and the mapping switch.
    const size_t setups = countOf(fpgaLog, "ram page 3 address 0x000: 00 00 00 F0 10 67 01 01 00 60 80 01");
    const size_t saves = countOf(fpgaLog, "ram page 3 address 0x000: FF 0F 00 F0 10 67 01 01 00 81 FF 00");
    const size_t mappings = countOf(fpgaLog, "ram page 3 address 0x000: FF 0F 00 F0 10 67 01 01 00 A0 03 0F 01");

    const std::string report = reports();
    const size_t reportCount = countOf(report, "WARNING: ThreadSanitizer");
    std::printf("stress run of %d s:\n", seconds);
    for (auto& [kind, c] : n)
        std::printf("  %-32s %6d answered, %d unanswered\n", kind.c_str(), c.done.load(), c.unanswered.load());
    std::printf("  %-32s %6zu\n  %-32s %6zu\n  %-32s %6zu\n  %-32s %6s\n", "panel quick set-ups on port 0",
                setups, "panel card saves on port 0", saves, "panel mapping jobs on port 0", mappings,
                "USB upgrade: font in the flash", upgradeWritten ? "yes" : "no");
    std::printf("  thread reports: %zu\n", reportCount);

    EXPECT_EQ(report.find("ThreadSanitizer"), std::string::npos) << report.substr(0, 20000);
    EXPECT_TRUE(ended && m_proc.exitStatus() == QProcess::NormalExit && m_proc.exitCode() == 0)
        << "exit " << m_proc.exitCode();
    // Every road was taken.
    EXPECT_TRUE(panelOpen);
    for (auto& [kind, c] : n) EXPECT_GT(c.done.load(), 0) << kind;
    EXPECT_GT(setups + saves + mappings, 0u);
    EXPECT_TRUE(upgradeWritten);
}
