#include "frame_helpers.h"

#include "core/console.h"
#include "core/line_limiter.h"
#include "core/md5.h"
#include "core/zrvrampara.h"
#include "protocol/k57_wifi_config.h"
#include "protocol/message_deal.h"
#include "protocol/networkmanage.h"
#include "protocol/serial_modules.h"
#include "protocol/udpnetmanage.h"
#include "sim/sim_serial.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <set>
#include <sstream>
#include <chrono>
#include <thread>

// The access point's commands, as the shell receives them (recorded, never run).
constexpr const char* kStopAp = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
constexpr const char* kStopDhcp = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";
constexpr const char* kStartDhcp = "udhcpd -fS /etc/udhcpd.conf &";
constexpr const char* kStartAp = "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B";

namespace {

// One end of a test connection: a socket or a tty, with a decoder.
class Peer {
public:
    explicit Peer(int fd) : m_fd(fd) {}
    ~Peer() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }
    void hangUp() {
        ::close(m_fd);
        m_fd = -1;
    }
    void write(const Bytes& b) { ASSERT_EQ(::write(m_fd, b.data(), b.size()), ssize_t(b.size())); }
    // The next decoded frame within timeoutMs; empty on time-out. The
    // default only bounds a reply that is due: a loaded machine may be slow.
    Bytes frame(int timeoutMs = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_frames.empty()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {};
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0) continue;
            u8 buf[4096];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n <= 0) return {};
            m_decoder.feed(buf, size_t(n), [this](const u8* f, u32 len) { m_frames.emplace_back(f, f + len); });
        }
        Bytes f = m_frames.front();
        m_frames.erase(m_frames.begin());
        return f;
    }

private:
    int m_fd;
    FrameDecoder m_decoder{65536};
    std::vector<Bytes> m_frames;
};

int connectTo(int type, u16 port) {
    const int fd = ::socket(AF_INET, type, 0);
    const sockaddr_in a = loopback(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return fd;
}

int openTty(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        tcflush(fd, TCIOFLUSH);
    }
    return fd;
}

Bytes brightnessRead() {
    Bytes d;
    put32(d, RamOffset::BRIGHTNESS);
    put32(d, 2);
    return makeFrame(PcCmd::RamRead, d);
}

Bytes brightnessWrite(u8 percent) {
    Bytes d;
    put32(d, RamOffset::BRIGHTNESS);
    put32(d, 2);
    d.push_back(percent);
    d.push_back(0);
    return makeFrame(PcCmd::RamWrite, d);
}

// The local port of a socket.
u16 portOf(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

// The state (as /proc/net/tcp gives it, 8 for CLOSE_WAIT) of this host's
// loopback TCP socket from port `local` to port `remote`; -1 when none.
int tcpState(u16 local, u16 remote) {
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string sl, from, to, st;
        f >> sl >> from >> to >> st;
        if (std::stoul(from.substr(from.find(':') + 1), nullptr, 16) == local &&
            std::stoul(to.substr(to.find(':') + 1), nullptr, 16) == remote)
            return int(std::stoul(st, nullptr, 16));
    }
    return -1;
}

class PcLinks : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        m_model.live_image.setWord(RamOffset::BRIGHTNESS, 100);
        PassThrough::install({});
        g_passby_trans_port.store(PcLinkId::None);
        pc_cmd_valid.store(0);
        simSerialClearRtsHistory();
    }
    void TearDown() override {
        PassThrough::install({});
        SimEnv::TearDown();
    }
    ZrvRamPara m_model;
    ModelInstall m_install{&m_model};
};

}  // namespace

TEST_F(PcLinks, UdpAnswersTheSenderAndSurvivesGarbage) {
    udpnetManage udp(0, 0, true);
    ASSERT_EQ(udp.initialize(), 0);
    Peer pc(connectTo(SOCK_DGRAM, udp.commandPort()));
    // A port another program holds: the log line says so (the access
    // point's port is only read: the link serves without it).
    const std::string port = std::to_string(udp.commandPort());
    udpnetManage taken(udp.commandPort(), 0, true), wifiTaken(0, udp.commandPort(), true);
    EXPECT_EQ((Vals{taken.initialize(), wifiTaken.initialize()}), (Vals{255, 0}));
    wifiTaken.stop();
    const std::string log = readHostFile(hostPath(kLogFile));
    EXPECT_EQ(countIn(log, "UDP command port " + port + " cannot be opened: Address already in use"), 1u);
    EXPECT_EQ(countIn(log, "UDP port " + port + " cannot be opened: Address already in use"), 1u);

    Bytes garbage = encode(brightnessRead());
    garbage[garbage.size() - 2] ^= 0xFF;  // broken check byte
    pc.write(garbage);
    pc.write({0xA5, 0xA5, 0xA6, 0x07, 0x5A});  // bad escape
    pc.write(Bytes(3000, 0x5B));
    // A good frame split over two datagrams is still answered.
    const Bytes enc = encode(brightnessRead());
    pc.write(Bytes(enc.begin(), enc.begin() + 7));
    pc.write(Bytes(enc.begin() + 7, enc.end()));
    // Another sender cannot finish (or spoil) a frame this one started.
    Peer other(connectTo(SOCK_DGRAM, udp.commandPort()));
    pc.write(Bytes(enc.begin(), enc.begin() + 7));
    other.write(Bytes(enc.begin() + 7, enc.end()));
    EXPECT_TRUE(other.frame(200).empty());
    const Bytes r = pc.frame();
    EXPECT_EQ(replyStatus(r), ReplyStatus::Ok);  // 0xEE when nothing came
    EXPECT_EQ(replyData(r), (Bytes{100, 0}));
    EXPECT_TRUE(pc.frame(200).empty());  // the bad frames got no reply
    EXPECT_EQ(pc_cmd_valid.load(), 1);
    udp.stop();
}

TEST_F(PcLinks, TcpServesConcatenatedFramesAndANewClientTakesOverOnlyFromASilentOrDeadOne) {
    ManualClock& clock = useManualClock();
    networkManage tcp(0, true);
    ASSERT_EQ(tcp.initialize(), 0);
    networkManage taken(tcp.port(), true);
    EXPECT_EQ(taken.initialize(), 255);
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)),
                      "TCP command port " + std::to_string(tcp.port()) + " cannot be opened: Address already in use"),
              1u);
    Peer first(connectTo(SOCK_STREAM, tcp.port()));
    Bytes two = encode(brightnessRead());
    const Bytes info = encode(makeFrame(PcCmd::DeviceInfo, {}));
    two.insert(two.end(), info.begin(), info.end());
    first.write(two);
    EXPECT_EQ(replyData(first.frame()), (Bytes{100, 0}));
    EXPECT_EQ(first.frame()[9], PcCmd::DeviceInfo);
    auto closedByDevice = [](const Peer& p) {
        return waitFor([&] {
            pollfd f{p.fd(), POLLIN, 0};
            char c;
            return ::poll(&f, 1, 0) > 0 && ::recv(p.fd(), &c, 1, MSG_DONTWAIT) == 0;
        });
    };

    // A host that connects while the client works is turned away.
    clock.advanceMs(networkManage::kClientSilenceMs - 1000);
    Peer intruder(connectTo(SOCK_STREAM, tcp.port()));
    EXPECT_TRUE(closedByDevice(intruder));
    // Silent for 10 s, with a half-sent frame that must not spoil the next
    // client's: the next connection takes over. The half frame rides behind
    // a whole one, so the reply shows the link has read it (the silence is
    // counted from then) before virtual time moves on.
    Bytes whole = encode(brightnessRead());
    whole.insert(whole.end(), two.begin(), two.begin() + 6);
    first.write(whole);
    EXPECT_EQ(replyData(first.frame()), (Bytes{100, 0}));
    clock.advanceMs(networkManage::kClientSilenceMs);
    Peer second(connectTo(SOCK_STREAM, tcp.port()));
    EXPECT_TRUE(closedByDevice(first));
    second.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(second.frame()), (Bytes{100, 0}));

    // A client that hung up yields at once.
    ::shutdown(second.fd(), SHUT_RDWR);
    Peer third(connectTo(SOCK_STREAM, tcp.port()));
    third.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(third.frame()), (Bytes{100, 0}));

    // A client that sends a request and closes, with the next one already
    // connecting, while the link is held (in a card frame's hand-over): the
    // link meets both at once, the request unread before the end of the
    // stream, the close seen first. The request is served and the new
    // client takes over.
    constexpr int kClosing = 8;  // the device's side of a stream its peer closed
    std::mutex holdMutex;
    std::condition_variable holdCv;
    bool held = false, release = false;
    PassThrough::install({[&](const u8*, u32, const std::function<void()>&) {
                              std::unique_lock<std::mutex> lock(holdMutex);
                              held = true;
                              holdCv.notify_all();
                              holdCv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
                          },
                          [] {}});
    third.write(encode(makeFrame(0x10, {0, 0, 0, 0}, 0, 0x0FFF, Frame::kPc)));
    {
        std::unique_lock<std::mutex> lock(holdMutex);
        ASSERT_TRUE(holdCv.wait_for(lock, std::chrono::seconds(10), [&] { return held; }));
    }
    third.write(encode(brightnessWrite(42)));
    const u16 thirdPort = portOf(third.fd());
    third.hangUp();
    EXPECT_TRUE(waitFor([&] { return tcpState(tcp.port(), thirdPort) == kClosing; }, 10000));
    Peer fourth(connectTo(SOCK_STREAM, tcp.port()));
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        release = true;
    }
    holdCv.notify_all();
    fourth.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(fourth.frame()), (Bytes{42, 0}));
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), "the current client is still active"), 1u);
    tcp.stop();
}

// A file transfer is carried on only by the peer that started it: another
// UDP port, the TCP link, or a TCP client connected after the one that
// started it finds none (status 2), and its chunk spoils nothing.
TEST_F(PcLinks, AFileTransferIsCarriedOnOnlyByThePeerThatStartedIt) {
    udpnetManage udp(0, 0, true);
    networkManage tcp(0, true);
    ASSERT_EQ((Vals{udp.initialize(), tcp.initialize()}), (Vals{0, 0}));
    const std::string text = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"hall"}]}})";
    MD5 md5(text.data(), u32(text.size()));
    Bytes start = {PcFile::AliasFile, u8(text.size()), 0, 0, 0}, chunk(4, 0), junk(4 + text.size(), 0);
    start.insert(start.end(), md5.digest(), md5.digest() + 16);
    chunk.insert(chunk.end(), text.begin(), text.end());
    std::fill(junk.begin() + 4, junk.end(), 'x');
    auto ask = [](Peer& pc, u8 cmd, const Bytes& d) {
        pc.write(encode(makeFrame(cmd, d)));
        return replyStatus(pc.frame());
    };
    using namespace PcCmd;
    Peer a(connectTo(SOCK_DGRAM, udp.commandPort())), b(connectTo(SOCK_DGRAM, udp.commandPort()));
    Peer c(connectTo(SOCK_STREAM, tcp.port()));
    EXPECT_EQ((Vals{ask(a, FileStart, start), ask(b, FileData, junk), ask(c, FileEnd, {}), ask(a, FileData, chunk),
                    ask(b, FileEnd, {}), ask(a, FileEnd, {}), ask(c, FileStart, start)}),
              (Vals{0, 2, 2, 0, 2, 0, 0}));
    EXPECT_EQ(readHostFile(hostPath(PcFile::AliasPath)), text);
    ::shutdown(c.fd(), SHUT_RDWR);
    Peer d(connectTo(SOCK_STREAM, tcp.port()));
    EXPECT_EQ((Vals{ask(d, FileData, chunk), ask(d, FileStart, start), ask(d, FileData, chunk), ask(d, FileEnd, {})}),
              (Vals{2, 0, 0, 0}));
    udp.stop();
    tcp.stop();
}

TEST_F(PcLinks, Rs485RepliesWithRtsAroundTheWrite) {
    serial_modules line(PcLinkId::Serial, "/dev/ttyS2", true);
    ASSERT_EQ(line.initialize(115200), 0);
    Peer pc(openTty(simSerialPcPath("/dev/ttyS2")));
    ASSERT_GE(pc.fd(), 0);
    pc.write({0x00, 0xA5});  // noise, then an unfinished start
    pc.write(encode(brightnessRead()));
    const Bytes r = pc.frame();
    EXPECT_EQ(replyData(r), (Bytes{100, 0}));
    // Listening at start, driven for the reply, released after it (the
    // release follows the drain, so it may come just after the reply).
    const std::vector<bool> rts{false, true, false};
    EXPECT_TRUE(waitFor([&] { return simSerialRtsHistory("/dev/ttyS2") == rts; }));
    EXPECT_EQ(simSerialRtsHistory("/dev/ttyS2"), rts);
    line.stop();
}

TEST_F(PcLinks, PassThroughWithoutCardPathIsDroppedAndTheLinkGoesOn) {
    udpnetManage udp(0, 0, true);
    ASSERT_EQ(udp.initialize(), 0);
    Peer pc(connectTo(SOCK_DGRAM, udp.commandPort()));
    pc.write(encode(makeFrame(0x10, {0, 0, 0, 0}, 0, 0x0FFF, Frame::kPc)));
    EXPECT_TRUE(pc.frame(200).empty());
    EXPECT_EQ(g_passby_trans_port.load(), PcLinkId::None);
    pc.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(pc.frame()), (Bytes{100, 0}));
    udp.stop();
}


TEST_F(PcLinks, UnansweredPassThroughIsGivenUp) {
    ManualClock& clock = useManualClock();
    udpnetManage udp(0, 0, true);
    ASSERT_EQ(udp.initialize(), 0);
    Peer pc(connectTo(SOCK_DGRAM, udp.commandPort()));
    std::atomic<int> polls{0};
    PassThrough::install({[](const u8*, u32, const std::function<void()>& enter) { enter(); }, [&] { ++polls; }});

    pc.write(encode(makeFrame(0x61, {0, 0, 0, 0, 8, 0, 0, 0}, 2, 0x0001, Frame::kPc)));
    ASSERT_TRUE(waitFor([&] { return udp.passPending() && polls.load() > 2; }));
    EXPECT_EQ(g_passby_trans_port.load(), PcLinkId::Udp);
    clock.advanceMs(10 * (PcLink::kPassTimeoutTicks - 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(udp.passPending());
    clock.advanceMs(200);
    ASSERT_TRUE(waitFor([&] { return !udp.passPending(); }));
    EXPECT_EQ(g_passby_trans_port.load(), PcLinkId::None);
    pc.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(pc.frame()), (Bytes{100, 0}));
    udp.stop();
}

namespace {
// The threads of this process named by our own code with the given prefix.
// Threads a checker or a library adds (ThreadSanitizer's own background
// thread wakes every 100 ms) keep the process's name and are left out.
std::set<std::string> tasksNamed(const std::string& prefix) {
    std::set<std::string> ids;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream in(e.path() / "comm");
        std::string name;
        std::getline(in, name);
        if (name.rfind(prefix, 0) == 0) ids.insert(e.path().filename());
    }
    return ids;
}

// True when the thread sleeps in poll with no time-out: only one of its
// descriptors (a frame, or the wake a stop writes) can end that wait.
bool waitsWithoutTimeOut(const std::string& task) {
    std::ifstream in("/proc/self/task/" + task + "/syscall");
    long nr = -1;
    std::string args[3];
    if (!(in >> nr >> args[0] >> args[1] >> args[2])) return false;  // "running"
    const unsigned long long third = std::stoull(args[2], nullptr, 16);
#ifdef SYS_poll
    if (nr == SYS_poll) return int(u32(third)) == -1;
#endif
    return nr == SYS_ppoll && third == 0;  // no time-out given
}

// Times the given threads went to sleep, all together.
long sleepsOf(const std::set<std::string>& tasks) {
    long total = 0;
    for (const std::string& t : tasks) {
        std::ifstream in("/proc/self/task/" + t + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stol(line.substr(24));
    }
    return total;
}
}  // namespace

TEST_F(PcLinks, IdleLinksSleepUntilAFrameOrAStop) {
    udpnetManage udp(0, 0, true);
    networkManage tcp(0, true);
    serial_modules line(PcLinkId::Serial, "/dev/ttyS2", true);
    ASSERT_EQ((Vals{udp.initialize(), tcp.initialize(), line.initialize(115200)}), (Vals{0, 0, 0}));
    std::set<std::string> threads = tasksNamed("link ");
    ASSERT_EQ(threads.size(), 3u);
    const std::set<std::string> relay = tasksNamed("sim serial");
    ASSERT_EQ(relay.size(), 1u);  // the line's far end
    threads.insert(relay.begin(), relay.end());

    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long start = sleepsOf(threads);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LE(sleepsOf(threads) - start, 4);  // a 10 ms step would be 50 or more

    // Still serving, and a stop ends a thread asleep in its wait: the links
    // sleep without a time-out, so no period of theirs ends them and only the
    // stop's wake can (timing the stop would only measure the machine's load).
    Peer pc(connectTo(SOCK_DGRAM, udp.commandPort()));
    pc.write(encode(brightnessRead()));
    EXPECT_EQ(replyData(pc.frame()), (Bytes{100, 0}));
    const std::set<std::string> links = tasksNamed("link ");
    EXPECT_TRUE(waitFor([&] {
        return std::all_of(links.begin(), links.end(), [](const std::string& t) { return waitsWithoutTimeOut(t); });
    }));
    auto stopped = std::async(std::launch::async, [&] {
        udp.stop();
        tcp.stop();
        line.stop();
    });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "a link was never woken";
}

TEST_F(PcLinks, WifiAccessPointStartsAndRestartsOnlyWhileSwitchedOn) {
    m_model.live_image.setByte(RamOffset::WIFI_AP, 0);
    {
        K57_WIFI_CONFIG wifi;
        wifi.initialize();
        ASSERT_TRUE(waitFor([&] { return board().simShell().commands().size() >= 2; }));
        EXPECT_EQ(board().simShell().commands(),
                  (std::vector<std::string>{kStartDhcp, kStartAp}));
        board().simShell().clear();
        wifi.set_wifi_reset_flag();
        wifi.set_wifi_reset_flag();  // pressed twice: restarted once
        ASSERT_TRUE(waitFor([&] { return board().simShell().commands().size() >= 4; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(board().simShell().commands(),
                  (std::vector<std::string>{kStopAp, kStopDhcp,
                                            kStartDhcp, kStartAp}));
    }
    board().simShell().clear();
    m_model.live_image.setByte(RamOffset::WIFI_AP, 1);
    K57_WIFI_CONFIG off;
    off.initialize();
    off.set_wifi_reset_flag();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(board().simShell().commands().empty());
}

namespace {
// What the program prints on standard output while this lives, readable at
// any moment: what the console's writer has written by then.
class StdoutTap {
public:
    StdoutTap() : m_file(std::tmpfile()) {
        Console::drain(std::chrono::seconds(10));
        std::fflush(stdout);
        m_saved = ::dup(1);
        ::dup2(fileno(m_file), 1);
    }
    ~StdoutTap() {
        Console::drain(std::chrono::seconds(10));
        std::fflush(stdout);
        ::dup2(m_saved, 1);
        ::close(m_saved);
        std::fclose(m_file);
    }
    std::string text() {
        Console::drain(std::chrono::seconds(10));
        std::fflush(stdout);
        std::string s;
        char buf[4096];
        for (off_t at = 0;;) {
            const ssize_t n = ::pread(fileno(m_file), buf, sizeof buf, at);
            if (n <= 0) return s;
            s.append(buf, size_t(n));
            at += n;
        }
    }

private:
    std::FILE* m_file;
    int m_saved = -1;
};

// Bytes waiting in the receive queue of the local UDP socket on port.
long udpQueued(u16 port) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string sl, local, remote, st, queues;
        f >> sl >> local >> remote >> st >> queues;
        if (std::stoul(local.substr(local.find(':') + 1), nullptr, 16) == port)
            return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return -1;
}

bool inPoll(const std::string& task) {
    std::ifstream in("/proc/self/task/" + task + "/syscall");
    long nr = -1;
    if (!(in >> nr)) return false;
#ifdef SYS_poll
    if (nr == SYS_poll) return true;
#endif
    return nr == SYS_ppoll;
}

}  // namespace

TEST_F(PcLinks, GarbageOnTheAccessPointPortPrintsItsFirstLineThenACountASecond) {
    ManualClock& clock = useManualClock();
    const u8 savedSwitch = g_debugSwitch.load();
    g_debugSwitch.store(254);
    udpnetManage udp(0, 0, true);
    ASSERT_EQ(udp.initialize(), 0);
    const std::set<std::string> thread = tasksNamed("link udp");
    ASSERT_EQ(thread.size(), 1u);
    const std::string port = std::to_string(udp.wifiPort());
    const std::string first = " udp " + port + ": 7 bytes ignored ";
    const std::string counted = " udp " + port + ": 49 datagrams ignored in the last second ";
    {
        StdoutTap out;
        Peer ap(connectTo(SOCK_DGRAM, udp.wifiPort()));
        for (int i = 0; i < 50; ++i) ap.write(Bytes(7, u8(i)));
        // All 50 taken and the thread back in its wait: every one is
        // printed or counted by now.
        ASSERT_TRUE(waitFor([&] { return udpQueued(udp.wifiPort()) == 0 && inPoll(*thread.begin()); }, 10000));
        std::string text = out.text();
        EXPECT_EQ((Vals{countIn(text, " bytes ignored "), countIn(text, " datagrams ignored ")}), (Vals{1, 0})) << text;
        EXPECT_NE(text.find(first), std::string::npos) << text;
        // The count comes when the second is over, with no datagram to
        // bring it: the tick writes it.
        clock.advanceMs(LineLimiter::kPeriodMs);
        LineLimiter::writeDueCounts();
        EXPECT_NE(out.text().find(counted), std::string::npos) << out.text();
        udp.stop();
        text = out.text();
        EXPECT_EQ((Vals{countIn(text, " bytes ignored "), countIn(text, " datagrams ignored ")}), (Vals{1, 1})) << text;
    }
    g_debugSwitch.store(savedSwitch);
}

TEST_F(PcLinks, ATcpClientThatNeverReadsIsClosedAndTheNextClientIsAnswered) {
    networkManage tcp(0, true);
    ASSERT_EQ(tcp.initialize(), 0);
    // The hog: a small receive window, requests as fast as the link takes
    // them, not one answer read.
    const int hog = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ASSERT_EQ(::setsockopt(hog, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    const sockaddr_in a = loopback(tcp.port());
    ASSERT_EQ(::connect(hog, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    Bytes burst;
    for (int i = 0; i < 200; ++i) {
        const Bytes one = encode(brightnessRead());
        burst.insert(burst.end(), one.begin(), one.end());
    }
    std::atomic<bool> end{false};
    std::atomic<long> sent{0};
    std::atomic<int> hogError{0};
    std::thread flood([&] {
        while (!end.load()) {
            const ssize_t n = ::send(hog, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += n;
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                hogError.store(errno);  // the device closed it
                return;
            } else {
                pollfd p{hog, POLLOUT, 0};
                ::poll(&p, 1, 50);
            }
        }
    });
    // The hog holds the link: many requests in, its answers piling up.
    ASSERT_TRUE(waitFor([&] { return sent.load() > 100000; }, 10000));

    // Another PC tries, and tries again when turned away, as PC software
    // does; it is answered once the hog's untaken answer has closed it (a
    // second on the device; how long that is here is the machine's load,
    // so the time taken is printed, not judged).
    const auto start = std::chrono::steady_clock::now();
    Bytes reply;
    int tries = 0;
    while (reply.empty() && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kThreadWorkMs)) {
        ++tries;
        // Bounded: a link that never accepts leaves the connection hanging.
        Peer pc(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        const sockaddr_in to = loopback(tcp.port());
        pollfd p{pc.fd(), POLLOUT, 0};
        if (::connect(pc.fd(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ||
            (errno == EINPROGRESS && ::poll(&p, 1, 2000) == 1 && !(p.revents & (POLLERR | POLLHUP)))) {
            ::fcntl(pc.fd(), F_SETFL, 0);
            pc.write(encode(brightnessRead()));
            reply = pc.frame(2000);
        }
        if (reply.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    end.store(true);
    flood.join();
    // Once closed by the device, the hog's next writes fail.
    for (int i = 0; i < 100 && hogError.load() == 0; ++i) {
        const u8 b = 0;
        if (::send(hog, &b, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            hogError.store(errno);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(replyData(reply), (Bytes{100, 0})) << tries << " tries";
    // The hog was closed, not merely outlived.
    EXPECT_TRUE(hogError.load() == EPIPE || hogError.load() == ECONNRESET) << hogError.load();
    std::printf("a second client %s after %lld ms (%d tries), %ld request bytes from the hog\n",
                reply.empty() ? "still unanswered" : "answered", static_cast<long long>(waited), tries, sent.load());
    ::close(hog);
    tcp.stop();
}
