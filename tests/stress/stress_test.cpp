// The program of the thread-checking build under load: started in a network
// namespace of its own on the simulated board, given a USB upgrade clicked
// through the panel over the program's own VNC display while the FPGAs come
// up, then, from the FPGA thread's first card search on, driven on every road
// for 40 s and ended with SIGTERM. A loaded machine that has not yet shown
// the panel's last job and a sensor read by then gets overtime, 300 s at
// most: the PCs' busy roads end, the sensor mode stays stored, and the
// quiet roads go on until both have shown. Each 6 s turn has a busy half, every
// link at once (a UDP storm of parameter writes, user-mode saves and slot
// writes, register block reads and writes, FPGA registers and a receiver's
// hot-plug pulled and given back; TCP writes, FPGA command blocks and FPGA
// registers; frames and searches for the receiving cards; the video
// processor's serial flash), and a quiet half in which the FPGA thread runs
// the panel's jobs (clicked in turn from the second turn on; the first turn
// the panel goes through the pages that show the image, whose refreshes read
// it beside the PCs' writes), its periodic card search and its light sensor
// reads, and a broadcast search from the 4G line, which reaches the same
// port, follows each search as soon as it shows. A broadcast search is also
// the busy half's last frame for the cards, so that the FPGA thread's own
// card traffic always comes after an answered PC broadcast. Any report of the thread checker fails the
// test, and so does a road left unanswered or refused, an answer with other
// data (a flash read, or a card reply from another port, for another command
// or with another card count), a card reply that answers no frame waited for
// (a late one), a panel job never seen or a job frame without its
// acknowledgement, a sensor read without its reading, or the upgrade's font
// not found whole in the flash. The figures are printed whether the run
// passes or not. Built and run only with ZRV_TSAN.
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

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Three quiet halves go to the panel's jobs; the others give the broadcast
// search from the 4G line the tries it needs to come while the FPGA thread
// still sends its own searches, and the light sensor its reads (the
// brightness task reads it every 10 s, while the sensor mode holds). A
// loaded machine runs the jobs later, not never: past kDriveSeconds the
// busy roads, which hold the FPGA thread's own card traffic back, end and
// the quiet roads go on alone, to kDriveMaxSeconds at most, until the last
// job and a sensor read have shown.
constexpr int kDriveSeconds = 40;
constexpr int kDriveMaxSeconds = 300;
constexpr int kTurnMs = 6000;  // a busy half, then a quiet one
// The panel waits for a job's frame, or the search after it, two turns.
constexpr int kJobWaitMs = 2 * kTurnMs;
constexpr u16 kTcpPort = 5005;
constexpr u16 kVncPort = 5901;
// What the program promises (docs/protocol.md). Handlers run one at a time:
// a request may wait for another link's, the longest the drive sends being
// the serial flash's block erase (1 s for the flash, 3.2 s for the block),
// and its own takes as long at most. A loaded machine answers later, not
// never: what comes within these bounds is an answer.
constexpr int kEraseMs = 1000 + 3200;
constexpr int kReplyMs = 2 * kEraseMs;
// A frame for the cards may wait for the controller's frame being sent (300
// ticks at most for a busy send buffer); its link then takes it and gives its
// reply up 200 ticks later, or once the frame is out when its own busy send
// buffers held it longer (300 ticks at most): 6 s. A reply the program sends
// later is its fault; one it sent in time may still be carried late on a
// loaded machine, and is waited for 2 s more.
constexpr int kCardReplyMs = 3000 + std::max(2000, 3000) + 2000;
// The cards of the board (FPGA, offset of the port's count in the FPGA's
// parameter area, cards): ports 0 to 7 of both FPGAs.
struct CardCount {
    u32 fpga, at;
    u8 cards;
};
constexpr CardCount kCounts[] = {{0, 100, 4}, {0, 102, 2}, {0, 108, 2}, {0, 110, 3}, {0, 560, 1}, {0, 564, 6},
                                 {0, 568, 2}, {0, 572, 3}, {1, 100, 2}, {1, 102, 6}, {1, 108, 1}, {1, 110, 3},
                                 {1, 560, 2}, {1, 564, 2}, {1, 568, 3}, {1, 572, 1}};

// What came back for a request: its answer with status 0, a refusal (an
// answer with another status, "Busy" for one), an answer whose data is not
// what was written, or nothing in time.
enum class Reply { Ok, Refused, Wrong, Silent };

// The end of the drive, which every wait of a driver gives way to.
class Stop {
public:
    void set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_set = true;
        }
        m_cv.notify_all();
    }
    bool isSet() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_set;
    }
    // Waits ms, or less when the drive ends; false when it has ended.
    bool pause(int ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return !m_cv.wait_for(lock, milliseconds(ms > 0 ? ms : 0), [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set = false;
};

// How long the calling thread's last exchange waited for its answer (0
// when none came).
thread_local int t_lastExchangeMs = 0;

// The first card replies and card counts that were not the answer asked
// for, with the requests they came for, printed with the figures.
std::mutex g_wrongMutex;
std::string g_wrong;
std::string hexOf(const Bytes& b) {
    std::string s;
    char x[4];
    for (u8 v : b) {
        std::snprintf(x, sizeof x, "%02X ", v);
        s += x;
    }
    return s;
}
void noteWrong(const Bytes& frame, const Bytes& reply, const std::string& what = "card reply") {
    std::lock_guard<std::mutex> lock(g_wrongMutex);
    if (std::count(g_wrong.begin(), g_wrong.end(), '\n') >= 20) return;
    g_wrong += "  " + what + " for " + hexOf(frame) + "\n    came " + hexOf(reply) + "\n";
}

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
    // to the PC with the same command byte (with cardReply, the first frame
    // back to the PC that the cards sent, whatever its command: the
    // controller's late answer to an earlier command of this link is not a
    // card's); empty when none came in time. A card reply that does not
    // answer this frame is late (its frame was given up): a PC drops it, and
    // it is counted.
    Bytes exchange(const Bytes& frame, int ms = kReplyMs, bool cardReply = false) {
        const Bytes enc = encode(frame);
        drain();
        const auto sent = Steady::now();
        t_lastExchangeMs = 0;
        if (m_fd < 0 || ::write(m_fd, enc.data(), enc.size()) != ssize_t(enc.size())) return {};
        const auto until = sent + milliseconds(ms);
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
                if (!reply.empty() || len < 11 || Frame::destination(f) != Frame::kPc) return;
                if (Frame::source(f) < Frame::kController) {
                    if (cardReply && answers(f, frame))
                        reply.assign(f, f + len);
                    else
                        ++lateReplies;
                } else if (!cardReply && f[9] == frame[9]) {
                    reply.assign(f, f + len);
                }
            });
        }
        if (!reply.empty())
            t_lastExchangeMs = int(std::chrono::duration_cast<milliseconds>(Steady::now() - sent).count());
        return reply;
    }
    // Card replies that answer no frame waiting for them: late ones, their
    // frame given up.
    static inline std::atomic<int> lateReplies{0};
    // A command to the controller and what came back.
    Reply command(u8 cmd, const Bytes& data, u8 target = 0, Bytes* out = nullptr, int ms = kReplyMs) {
        const Bytes r = exchange(makeFrame(cmd, data, target), ms);
        if (out) *out = replyData(r);
        if (r.empty()) return Reply::Silent;
        return replyStatus(r) == 0 ? Reply::Ok : Reply::Refused;
    }
    Reply wordWrite(u32 offset, u16 value) {
        Bytes d;
        put32(d, offset);
        put32(d, 2);
        put16(d, value);
        return command(PcCmd::RamWrite, d);
    }
    Reply ramWrite(u32 addr, const Bytes& bytes) {
        Bytes d;
        put32(d, addr);
        put32(d, u32(bytes.size()));
        d.insert(d.end(), bytes.begin(), bytes.end());
        return command(PcCmd::RamWrite, d);
    }
    Reply ramRead(u32 addr, u32 len) {
        Bytes d;
        put32(d, addr);
        put32(d, len);
        return command(PcCmd::RamRead, d);
    }
    Reply regWrite(u8 target, u16 reg, u8 mask, u8 value) {
        Bytes d;
        put16(d, reg);
        d.push_back(mask);
        d.push_back(value);
        return command(PcCmd::RegWrite, d, target);
    }
    Reply regRead(u8 target, u16 reg, u16 count) {
        Bytes d;
        put16(d, reg);
        put16(d, count);
        return command(PcCmd::RegRead, d, target);
    }
    // A frame for the receiving cards and the first card reply back: it must
    // come from the port asked (byte 7), answer the command asked and, for a
    // search, give the number of cards on that port (0: any count).
    Reply cardFrame(const Bytes& frame, u8 port7, u16 cards = 0) {
        const Bytes r = exchange(frame, kCardReplyMs, true);
        if (r.empty()) return Reply::Silent;
        const bool count = frame[9] != 0x10 || cards == 0 || (r.size() > 13 && (r[11] | r[12] << 8) == cards);
        if (r[7] == port7 && r[9] == frame[9] && r[10] == 0 && count) return Reply::Ok;
        noteWrong(frame, r);
        return Reply::Wrong;
    }

private:
    explicit Wire(int fd) : m_fd(fd) {}
    // The frame a card reply answers, as a PC tells it: the port it came
    // from (0xFF for a broadcast's), the command, and for a frame to one
    // card (not a search) that card.
    static bool answers(const u8* reply, const Bytes& frame) {
        const u16 card = u16(frame[0] | frame[1] << 8) & 0x0FFF;
        const bool one = card < 0x0FFE && frame[9] != 0x10;
        return reply[7] == frame[7] && reply[9] == frame[9] && (!one || (Frame::source(reply) & 0x0FFF) == card);
    }
    // What came after the last exchange's answer (a late reply the program
    // still sent) is not taken for the next one's; a late card reply is
    // counted.
    void drain() {
        u8 buf[4096];
        pollfd p{m_fd, POLLIN, 0};
        ssize_t n;
        while (m_fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) && (n = ::read(m_fd, buf, sizeof buf)) > 0)
            m_decoder.feed(buf, size_t(n), [&](const u8* f, u32 len) {
                if (len >= 11 && Frame::destination(f) == Frame::kPc && Frame::source(f) < Frame::kController)
                    ++lateReplies;
            });
        m_decoder = FrameDecoder{65536};
    }
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
    explicit Panel(Stop& stop) : m_stop(stop) {}
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
    // the page it opens is up before the next click; false, and no click,
    // once the drive has ended.
    bool click(int x, int y, int pauseMs = 350) {
        if (m_stop.isSet()) return false;
        const bool ok = pointer(0, x, y) && pointer(1, x, y) && pointer(0, x, y);
        if (ok) ++clicks;
        return m_stop.pause(pauseMs) && ok;
    }
    int clicks = 0;

private:
    Stop& m_stop;
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
const int sourceTile[2] = {205, 136};      // main menu
const int userModesTile[2] = {600, 136};
const int qualityTile[2] = {494, 180};     // settings menu, third tile
}  // namespace at

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray b = f.readAll();
    return std::string(b.constData(), size_t(b.size()));
}


// The first FPGA's frames for the cards as the simulated board logs them,
// followed from a thread of its own while the program runs: the FPGA
// thread's periodic searches and the panel's jobs on port 0, the light
// sensor's reads on port 5, and frames that went to no port, counted as
// they show. The board moves its log aside
// to ".1" at a size; the rest of the moved file is read first.
class FrameLog {
public:
    enum Kind { Search, SetUp, Save, Mapping, Sensor, Lost, kKinds };

    FrameLog(const QString& path, Stop& stop) : m_path(path), m_stop(stop), m_thread([this] { follow(); }) {}
    ~FrameLog() {
        m_stop.set();
        m_thread.join();
    }
    int count(Kind k) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts[k];
    }
    // Waits until more than `seen` frames of a kind have shown, at most ms
    // or until the drive ends; true when they have.
    bool waitBeyond(Kind k, int seen, int ms) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, milliseconds(ms), [&] { return m_counts[k] > seen || m_ended; }) &&
               m_counts[k] > seen;
    }

private:
    void follow() {
        qint64 offset = 0;
        std::string partial;
        for (;;) {
            const bool last = !m_stop.pause(3);
            QFile f(m_path);
            if (f.open(QIODevice::ReadOnly)) {
                if (f.size() < offset) {
                    QFile moved(m_path + ".1");
                    if (moved.open(QIODevice::ReadOnly) && moved.seek(offset)) take(partial, moved.readAll());
                    offset = 0;
                }
                if (f.seek(offset)) {
                    const QByteArray more = f.readAll();
                    offset += more.size();
                    take(partial, more);
                }
            }
            if (last) break;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        m_cv.notify_all();
    }
    void take(std::string& partial, const QByteArray& bytes) {
        partial.append(bytes.constData(), size_t(bytes.size()));
        size_t start = 0;
        int found[kKinds] = {};
        for (size_t end = partial.find('\n'); end != std::string::npos; end = partial.find('\n', start)) {
            const std::string line = partial.substr(start, end - start);
            start = end + 1;
            // A frame started on a pair whose port the select register no
            // longer names: two senders' register steps interleaved.
            if (line.find("started with no port selected") != std::string::npos) ++found[Lost];
            if (line.find("ram page") != 0) continue;
            // A search the FPGA thread sends (from the controller, 0xF000),
            // not one of the PC's (from 0xF010).
            if (line.find(": FE 0F 00 F0 10 AA FF") != std::string::npos) ++found[Search];
            // The first card's position (quick set-up), the save and the
            // mapping switch, all on port 0's page.
            if (line.find("ram page 3 address 0x000: 00 00 00 F0 10 67 01 01 00 60 80 01") == 0) ++found[SetUp];
            if (line.find("ram page 3 address 0x000: FF 0F 00 F0 10 67 01 01 00 81 FF 00") == 0) ++found[Save];
            if (line.find("ram page 3 address 0x000: FF 0F 00 F0 10 67 01 01 00 A0 03 0F 01") == 0) ++found[Mapping];
            // The light sensor's read, on port 5's page.
            if (line.find("ram page 7 address 0x000: 00 50 00 F0 10 BB 03 00 00 61") == 0) ++found[Sensor];
        }
        partial.erase(0, start);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (int k = 0; k < kKinds; ++k) m_counts[k] += found[k];
        }
        m_cv.notify_all();
    }

    const QString m_path;
    Stop& m_stop;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_counts[kKinds] = {};
    bool m_ended = false;
    std::thread m_thread;
};

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
        // Cards behind ports 0 to 7 of both FPGAs (kCounts; port 0 is the
        // quick set-up's), so that the FPGA thread's search of port 0 is
        // followed by searches of every pair of both FPGAs' first port
        // select register; the light sensor, asking for level 4, on FPGA 0
        // port 5; cards on FPGA 1 port 1 that answer a register write after
        // 1.1 s, which the PC must wait for; a source on HDMI3, whose
        // hot-plug the PC pulls and gives back, and one on HDMI1.
        QFile board(m_root.filePath("board.json"));
        ASSERT_TRUE(board.open(QIODevice::WriteOnly));
        board.write(R"({"ports": {"0": 4, "1": 2, "2": 2, "3": 3, "4": 1, "5": 6, "6": 2, "7": 3,
                                  "12": 2, "13": 6, "14": 1, "15": 3, "16": 2, "17": 2, "18": 3, "19": 1},
                        "sensors": {"5": {"level": 4}}, "slow_replies": {"13": {"command": 160, "ms": 1100}},
                        "inputs": {"HDMI3": {"width": 1920, "height": 1080},
                                   "HDMI1": {"width": 1280, "height": 720}}})");
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

// Counted requests of one road by what came back, and the longest wait for
// an answer (the calling thread's last exchange).
struct Count {
    std::atomic<int> ok{0}, refused{0}, wrong{0}, silent{0}, slowestMs{0};
    void add(Reply r) {
        const int took = t_lastExchangeMs;
        for (int was = slowestMs.load(); took > was && !slowestMs.compare_exchange_weak(was, took);) {
        }
        switch (r) {
        case Reply::Ok: ++ok; break;
        case Reply::Refused: ++refused; break;
        case Reply::Wrong: ++wrong; break;
        case Reply::Silent: ++silent; break;
        }
    }
    int total() const { return ok + refused + wrong + silent; }
};

}  // namespace

TEST_F(Stress, EveryRoadAtOnceForFortySecondsGivesNoThreadReport) {
    // A link the program closed is counted, not the end of the test.
    std::signal(SIGPIPE, SIG_IGN);
    {
        Wire probe = Wire::udp();
        bool ready = false;
        for (int i = 0; i < 120 && !ready && m_proc.state() == QProcess::Running; ++i) {
            // Before the link is open the ask is refused at once.
            ready = probe.command(PcCmd::DeviceInfo, {}, 0, nullptr) == Reply::Ok;
            if (!ready) std::this_thread::sleep_for(milliseconds(250));
        }
        ASSERT_TRUE(ready) << reports();
    }

    Stop stop;
    FrameLog frames(m_root.filePath("var/log/sim_fpga0_writes.log"), stop);
    // Before the drive, the panel: a stick with a font package for the video
    // processor and its upgrade from the communication page; then the quick
    // set-up menu. The drive starts once the FPGAs are up and the FPGA
    // thread searches for cards.
    const Bytes font = upkg::fontData(1, 0x40, 5000);
    {
        const QString folder = m_root.filePath("mnt/usb1/ZRV-K46");
        QDir().mkpath(folder);
        const Bytes pkg = upkg::build({0, 0x7652, {upkg::font(font)}});
        QFile f(folder + "/pkg.ZRV");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(reinterpret_cast<const char*>(pkg.data()), qint64(pkg.size()));
    }
    Panel panel(stop);
    auto click = [&](const int* xy, int pauseMs = 350) { return panel.click(xy[0], xy[1], pauseMs); };
    const bool panelOpen = panel.open(kVncPort);
    const bool upgradeClicked = panelOpen && click(at::unlock) && click(at::settingsTile) && click(at::linkTile) &&
                                click(at::usbTab) && click(at::upgradeOk, 4000) && click(at::back) &&
                                click(at::wizardTile);
    ASSERT_TRUE(frames.waitBeyond(FrameLog::Search, 0, 60000)) << "the FPGA thread never searched for cards";

    const auto start = Steady::now();
    const auto deadline = start + std::chrono::seconds(kDriveSeconds);
    auto msIntoTurn = [&] {
        return int(std::chrono::duration_cast<milliseconds>(Steady::now() - start).count() % kTurnMs);
    };
    // Past the drive's 40 s with the panel's last job or a sensor read not
    // yet shown: every half is a quiet one.
    std::atomic<bool> overtime{false};
    // Every PC frame holds the FPGA thread's search and the panel's jobs for
    // 80 ticks: the roads of the busy half rest in the quiet half. False
    // once the drive has ended, or in overtime.
    auto busyHalf = [&] {
        if (overtime) return false;
        const int at = msIntoTurn();
        if (at >= kTurnMs / 2 && !stop.pause(kTurnMs - at)) return false;
        return !stop.isSet() && !overtime;
    };
    auto quietLeftMs = [&] {
        if (overtime) return kTurnMs;
        const int at = msIntoTurn();
        return at < kTurnMs / 2 ? 0 : kTurnMs - at;
    };
    constexpr int kBound = 200000;  // operations per driver at most

    std::map<std::string, Count> n;
    for (const char* k : {"udp image writes", "udp user-mode saves", "udp user-mode slot writes",
                          "udp register and image reads",
                          "udp controller register writes", "udp FPGA register reads", "udp card counts (verified)",
                          "tcp image writes", "tcp command blocks", "tcp FPGA register reads", "tcp card register writes",
                          "4G card searches", "4G card broadcast searches", "4G broadcasts after the FPGA's search",
                          "tcp sensor mode blocks",
                          "flash erases", "flash writes", "flash reads (verified)", "rs485 FPGA register reads"})
        n[k];

    // One frame for the cards at a time, as one PC program sends them: the
    // program answers the link whose frame is the latest. The last half
    // second of a busy half is for the 4G line's broadcast, sent last.
    std::mutex cardTurn;
    auto cardsInBusyHalf = [&] { return msIntoTurn() < kTurnMs / 2 - 500; };
    std::vector<std::thread> drivers;
    // UDP: parameter writes as fast as they are answered, a user-mode save
    // every tenth, the register block and signal summaries read back, a
    // register write that changes no bit of the byte the source thread
    // keeps its switch acknowledgement in, and HDMI3's hot-plug pulled and
    // given back (register 160, carried out by the source thread), so the
    // receiver writes its signal summary while the image is read and copied;
    // both FPGAs' status and port 0 receive registers, which the card polls
    // of the 4G line (FPGA 0) and of TCP (FPGA 1) read meanwhile; and the
    // card counts of both FPGAs' ports. Besides, what the main menu and the
    // user-mode page show (read when they open and refresh): the key lock,
    // and user mode 16's slot marked empty and saved by turns, applied now
    // and then.
    drivers.emplace_back([&] {
        Wire w = Wire::udp();
        auto hotPlug = Steady::now();
        bool plugged = true;
        for (int i = 0; i < kBound && busyHalf(); ++i) {
            n.at("udp image writes").add(w.wordWrite(RamOffset::CONTRAST, u16(40 + i % 50)));
            n.at("udp image writes").add(w.wordWrite(RamOffset::SATURATION, u16(30 + i % 40)));
            n.at("udp image writes").add(w.wordWrite(RamOffset::KEY_LOCK, 0));
            if (i % 10 == 0)
                n.at("udp user-mode saves").add(w.wordWrite(RamOffset::SAVE_REQUEST, u16(1 + (i / 10) % 16)));
            const u8 mark = i % 4 < 2 ? 0xFF : 0xAA;
            n.at("udp user-mode slot writes").add(w.ramWrite(16 * PcRam::SlotBase, {mark, mark}));
            if (i % 20 == 5) n.at("udp user-mode slot writes").add(w.regWrite(0, PcReg::McuFlag, 0x04, 0x04));
            n.at("udp register and image reads").add(w.regRead(0, 37, 7));
            n.at("udp register and image reads").add(w.ramRead(PcRam::StatusBase, 8));
            n.at("udp register and image reads").add(w.ramRead(RamOffset::SIGNAL_BASE, 36));
            n.at("udp controller register writes").add(w.regWrite(0, 38, 0x00, 0x00));
            for (u8 fpga : {1, 2}) {
                n.at("udp FPGA register reads").add(w.regRead(fpga, 22, 4));
                n.at("udp FPGA register reads").add(w.regRead(fpga, 129, 17));
            }
            // The card counts the searches keep, from the second turn on (a
            // quiet half's searches have run): a count stored for another
            // port, or a port counted as 0 after an odd search cycle whose
            // frame went nowhere, reads other than the board's.
            if (Steady::now() - start >= milliseconds(kTurnMs)) {
                for (u32 fpga : {0, 1}) {
                    for (u32 first : {100, 560}) {
                        // Ports 0-3 lie in bytes 100-111, ports 4-7 in 560-575.
                        Bytes read, back;
                        put32(read, PcRam::FpgaPara + 0x400 * fpga + first);
                        put32(read, 16);
                        Reply r = w.command(PcCmd::RamRead, read, 0, &back);
                        for (const CardCount& c : kCounts)
                            if (r == Reply::Ok && c.fpga == fpga && c.at >= first && c.at < first + 16 &&
                                (back.size() < 16 || back[c.at - first] != c.cards || back[c.at - first + 1] != 0))
                                r = Reply::Wrong;
                        if (r == Reply::Wrong) noteWrong(read, back, "FPGA " + std::to_string(fpga + 1) + " counts");
                        n.at("udp card counts (verified)").add(r);
                    }
                }
            }
            if (Steady::now() - hotPlug > milliseconds(400)) {
                plugged = !plugged;
                n.at("udp controller register writes").add(w.regWrite(0, 160, 0xC0, plugged ? 0x80 : 0x40));
                hotPlug = Steady::now();
            }
        }
        if (!plugged) w.regWrite(0, 160, 0xC0, 0x80);
    });
    // TCP: brightness and sharpness, the FPGA command blocks (a fixed
    // brightness level, then the clock), FPGA registers (the first FPGA's
    // receive registers too, which the links' card polls read), and a
    // register write to card 5 of FPGA 1 port 1. In the busy half's last
    // half second, after its last brightness change, the light sensor's mode
    // stored, which the fixed levels left: the quiet half reads the sensor.
    drivers.emplace_back([&] {
        Wire w = Wire::tcp();
        const Bytes sensorMode = {0xAA, 3, 0xAA, 0, 0, 0, 1, 0, 2};
        for (int i = 0; i < kBound && busyHalf(); ++i) {
            if (!cardsInBusyHalf()) {
                n.at("tcp sensor mode blocks").add(w.ramWrite(PcRam::FpgaCmd, sensorMode));
                n.at("tcp sensor mode blocks").add(w.regWrite(1, 2, 0x04, 0x04));
                stop.pause(kTurnMs / 2 - msIntoTurn());
                continue;
            }
            // The card first: on a loaded machine the requests after it may
            // take the rest of the half. Not once the 4G line has sent the
            // busy half's last broadcast.
            {
                std::lock_guard<std::mutex> turn(cardTurn);
                if (cardsInBusyHalf())
                    n.at("tcp card register writes")
                        .add(w.cardFrame(cardFrame({0x05, 0x00, 0x10, 0xF0, 0x10, 0x67, 0x01, 0x0E, 0x00, 0xA0, 0x00,
                                                    0x10, 0x01, u8(i)}),
                                         0x0E));
            }
            n.at("tcp image writes").add(w.wordWrite(RamOffset::BRIGHTNESS, u16(60 + i % 40)));
            n.at("tcp image writes").add(w.wordWrite(RamOffset::SHARPNESS, u16(i % 30)));
            const Bytes block = i % 2 ? Bytes{0xAA, 3, 0, 0, 0, 0, 2, 0, 16, u8(1 + i % 16)}
                                      : Bytes{0xAA, 1, 0, 0, 0, 0, 7, 0, 0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05};
            n.at("tcp command blocks").add(w.ramWrite(PcRam::FpgaCmd, block));
            n.at("tcp command blocks").add(w.regWrite(1, 2, 0x04, 0x04));
            n.at("tcp FPGA register reads").add(w.regRead(1, 0, 32));
            n.at("tcp FPGA register reads").add(w.regRead(1, 128, 42));
            n.at("tcp FPGA register reads").add(w.regRead(2, 128, 42));
        }
        // Overtime may have cut a busy half short after a fixed level: the
        // sensor mode is stored again and holds until the stop.
        if (overtime && !stop.isSet()) {
            n.at("tcp sensor mode blocks").add(w.ramWrite(PcRam::FpgaCmd, sensorMode));
            n.at("tcp sensor mode blocks").add(w.regWrite(1, 2, 0x04, 0x04));
        }
    });
    // The 4G line. Busy half: broadcast searches and searches of FPGA 0
    // ports 0 (4 cards) and 5 (6 cards), and last a broadcast search, after
    // every other road's frame for the cards. Quiet half: a broadcast
    // search as soon as the FPGA thread's own search of FPGA 0 port 0
    // shows, so that the PC's frames reach that port and the others while
    // the FPGA thread still sends its searches (a frame that went to no port
    // leaves the broadcast unanswered). The panel's jobs and the sensor
    // reads, which the FPGA thread runs in the quiet half only, so always
    // follow an answered PC broadcast, whose collection must leave the
    // controller's replies to the controller.
    drivers.emplace_back([&] {
        Wire w = Wire::serial(m_root.filePath("dev/ttyS1.pc"));
        auto search = [](u8 port7) {
            return cardFrame({0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, port7, 0x00, 0x10, 0, 0, 0});
        };
        for (int i = 0; i < kBound && w.ok() && !stop.isSet(); ++i) {
            if (const int quiet = quietLeftMs()) {
                const int seen = frames.count(FrameLog::Search);
                if (frames.waitBeyond(FrameLog::Search, seen, quiet) && !stop.isSet()) {
                    std::lock_guard<std::mutex> turn(cardTurn);
                    n.at("4G broadcasts after the FPGA's search").add(w.cardFrame(search(0xFF), 0xFF));
                }
                continue;
            }
            if (!cardsInBusyHalf()) {
                {
                    std::lock_guard<std::mutex> turn(cardTurn);
                    n.at("4G card broadcast searches").add(w.cardFrame(search(0xFF), 0xFF));
                }
                stop.pause(kTurnMs / 2 - msIntoTurn());
                continue;
            }
            std::lock_guard<std::mutex> turn(cardTurn);
            if (i % 4 == 0) n.at("4G card broadcast searches").add(w.cardFrame(search(0xFF), 0xFF));
            n.at("4G card searches").add(w.cardFrame(search(i % 2 ? 6 : 1), i % 2 ? 6 : 1, i % 2 ? 6 : 4));
        }
    });
    // RS-485: the video processor's serial flash, one block at 24 MiB
    // erased, written and read back, and the receive registers of FPGA 0.
    drivers.emplace_back([&] {
        Wire w = Wire::serial(m_root.filePath("dev/ttyS2.pc"));
        for (int i = 0; i < kBound && w.ok() && busyHalf(); ++i) {
            Bytes erase;
            put16(erase, 0x1800);
            erase.push_back(0);
            put16(erase, 1);
            n.at("flash erases").add(w.command(PcCmd::FlashErase, erase));
            Bytes data = upkg::pattern(256, u8(i));
            Bytes write;
            put32(write, 0x1800000);
            put32(write, u32(data.size()));
            write.insert(write.end(), data.begin(), data.end());
            n.at("flash writes").add(w.command(PcCmd::FlashWrite, write));
            Bytes read, back;
            put32(read, 0x1800000);
            put32(read, u32(data.size()));
            const Reply r = w.command(PcCmd::FlashRead, read, 0, &back);
            n.at("flash reads (verified)").add(r == Reply::Ok && back != data ? Reply::Wrong : r);
            n.at("rs485 FPGA register reads").add(w.regRead(1, 129, 17));
        }
    });
    // The panel: first, in the first turn, the pages that show the image,
    // each in front while the PCs write what it shows, so that its
    // refreshes read the image beside the links' writes; then back in the
    // quick set-up menu, from the next turn on, the quick set-up (job 1),
    // saving to the cards (job 3) and
    // the mapping switch (job 4), each clicked in a quiet half until its
    // frame shows on port 0, and then followed until the FPGA thread's next
    // search, which it runs only once no job is left (the page refuses its
    // buttons while a job runs). The quiet halves after them are the card
    // search's alone: the panel goes on following the searches, as after a
    // job, so that the stop finds its thread in a job's wait.
    std::atomic<long long> panelEndMs{-1};
    drivers.emplace_back([&] {
        auto job = [&](std::initializer_list<const int*> clicks, FrameLog::Kind kind) {
            while (!stop.isSet()) {
                if (!stop.pause(quietLeftMs() > 0 ? 0 : kTurnMs / 2 - msIntoTurn())) return false;
                const int seen = frames.count(kind);
                for (const int* xy : clicks)
                    if (!click(xy)) return false;
                if (frames.waitBeyond(kind, seen, kJobWaitMs)) {
                    // Whether the cards' acknowledgements reached the job
                    // the program logs; how long it took is the machine's.
                    frames.waitBeyond(FrameLog::Search, frames.count(FrameLog::Search), kJobWaitMs);
                    return true;
                }
            }
            return false;
        };
        const std::pair<const int*, int> tour[] = {
            {at::back, 350},       {at::qualityTile, 900},   {at::back, 350}, {at::back, 350},
            {at::sourceTile, 900}, {at::back, 700},          {at::userModesTile, 900},
            {at::back, 350},       {at::settingsTile, 350},  {at::wizardTile, 350}};
        bool toured = upgradeClicked;
        for (const auto& [xy, stayMs] : tour) toured = toured && click(xy, stayMs);
        if (toured && quietLeftMs() > 0) stop.pause(quietLeftMs());
        if (toured && job({at::shortcut, at::nextOrSend, at::nextOrSend, at::nextOrSend}, FrameLog::SetUp) &&
            job({at::curing, at::confirm}, FrameLog::Save))
            job({at::mapping, at::mappingSwitch}, FrameLog::Mapping);
        while (toured && !stop.isSet())
            frames.waitBeyond(FrameLog::Search, frames.count(FrameLog::Search), kJobWaitMs);
        panelEndMs = std::chrono::duration_cast<milliseconds>(Steady::now() - start).count();
    });

    // The checker stops the program at its first report: stop driving then.
    auto roadsLeft = [&] {
        return Steady::now() < start + std::chrono::seconds(kDriveMaxSeconds) &&
               (frames.count(FrameLog::Mapping) == 0 || frames.count(FrameLog::Sensor) == 0);
    };
    while ((Steady::now() < deadline || roadsLeft()) && reports().find("ThreadSanitizer") == std::string::npos &&
           m_proc.state() == QProcess::Running) {
        if (Steady::now() >= deadline) overtime = true;
        std::this_thread::sleep_for(milliseconds(500));
    }
    const long long stopMs = std::chrono::duration_cast<milliseconds>(Steady::now() - start).count();
    stop.set();
    for (auto& t : drivers) t.join();

    // The 64-dot font of the package, whole, where the chip's serial flash
    // keeps it. A read may find the flash held by another operation (busy)
    // or be slow on a loaded machine: it is asked again, five times at most.
    Bytes fontBack;
    {
        Wire rs485 = Wire::serial(m_root.filePath("dev/ttyS2.pc"));
        for (u32 at = 0; at < font.size();) {
            const u32 len = std::min<u32>(1024, u32(font.size()) - at);
            Bytes read, part;
            put32(read, 0x410000 + at);
            put32(read, len);
            Reply r = Reply::Silent;
            for (int i = 0; i < 5 && r != Reply::Ok; ++i) r = rs485.command(PcCmd::FlashRead, read, 0, &part);
            if (r != Reply::Ok || part.size() != len) break;
            fontBack.insert(fontBack.end(), part.begin(), part.end());
            at += len;
        }
    }
    const bool upgradeWritten = fontBack == font;
    ::kill(pid_t(m_proc.processId()), SIGTERM);
    const bool ended = m_proc.waitForFinished(20000);
    const int seconds = int(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - start).count());

    const int setups = frames.count(FrameLog::SetUp), saves = frames.count(FrameLog::Save),
              mappings = frames.count(FrameLog::Mapping), searches = frames.count(FrameLog::Search),
              lost = frames.count(FrameLog::Lost), sensorReads = frames.count(FrameLog::Sensor);
    // The program logs a sensor read that got no reading, once for a run.
    const std::string log = readFile(m_root.filePath("data/vimraqd/log/mwrEnglneLog"));
    const size_t unread = countIn(log, "light sensor gave no reading");
    // A job frame no card acknowledged: its line, or the count of those
    // held back.
    const size_t unacknowledged = countIn(log, " acknowledged in ") + countIn(log, " jobs not acknowledged");
    const std::string report = reports();
    const size_t reportCount = countIn(report, "WARNING: ThreadSanitizer");
    std::string figures = "stress run of " + std::to_string(seconds) + " s" +
                          (overtime ? ", the quiet roads alone after " + std::to_string(kDriveSeconds) + " s" : "") +
                          " (requests: ok, refused, wrong, silent; slowest answer in ms):\n";
    char line[1024];
    for (auto& [kind, c] : n) {
        std::snprintf(line, sizeof line, "  %-32s %6d %6d %6d %6d %6d\n", kind.c_str(), c.ok.load(), c.refused.load(),
                      c.wrong.load(), c.silent.load(), c.slowestMs.load());
        figures += line;
    }
    std::snprintf(line, sizeof line,
                  "  %-32s %6d\n  %-32s %6d\n  %-32s %6d\n  %-32s %6d\n  %-32s %6d\n  %-32s %6d\n"
                  "  %-32s %6d\n  %-32s %6zu\n"
                  "  %-32s %6d, the last %lld ms after the stop\n  %-32s %6s\n  %-32s %6zu\n  %-32s %6d\n",
                  "FPGA searches of port 0", searches, "FPGA 0 frames sent to no port", lost,
                  "panel quick set-ups on port 0", setups,
                  "panel card saves on port 0", saves, "panel mapping jobs on port 0", mappings,
                  "job frames not acknowledged", int(unacknowledged), "light sensor reads", sensorReads,
                  "sensor runs without a reading", unread, "panel clicks",
                  panel.clicks, panelEndMs.load() - stopMs, "USB upgrade: font whole in flash",
                  upgradeWritten ? "yes" : "no", "thread reports", reportCount, "card replies after a give-up",
                  Wire::lateReplies.load());
    figures += line;
    {
        std::lock_guard<std::mutex> lock(g_wrongMutex);
        if (!g_wrong.empty()) figures += "answers with other data:\n" + g_wrong;
    }
    std::fputs(figures.c_str(), stdout);
    // Printed by scripts/test after ctest, which shows a passing test's
    // output nowhere.
    QFile out(QStringLiteral(ZRV_BUILD_DIR "/stress-figures.txt"));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) out.write(figures.c_str());

    EXPECT_EQ(report.find("ThreadSanitizer"), std::string::npos) << report.substr(0, 20000);
    EXPECT_TRUE(ended && m_proc.exitStatus() == QProcess::NormalExit && m_proc.exitCode() == 0)
        << "exit " << m_proc.exitCode();
    // Every road was taken and answered: a road may lose one request in ten
    // to a loaded machine, not more; a refusal is an answer, but at most half
    // of a road's requests may be refused; no answer may carry wrong data
    // (flash reads, and the port, command and card count of card replies).
    EXPECT_TRUE(panelOpen);
    for (auto& [kind, c] : n) {
        EXPECT_GT(c.ok.load(), 0) << kind;
        EXPECT_LE(c.silent.load(), 2 + c.total() / 10) << kind << ": unanswered";
        EXPECT_LE(2 * c.refused.load(), c.total()) << kind << ": refused";
        EXPECT_EQ(c.wrong.load(), 0) << kind << ": answered with other data";
    }
    // A card reply comes while its frame is waited for, never after.
    EXPECT_EQ(Wire::lateReplies.load(), 0) << "card replies that came after their frame was given up";
    // The register steps of two frames never interleave: none went nowhere.
    EXPECT_EQ(lost, 0) << "frames started on a pair with no port selected";
    EXPECT_GT(setups, 0);
    EXPECT_GT(saves, 0);
    EXPECT_GT(mappings, 0);
    // The FPGA thread's own card traffic after a PC broadcast: every job's
    // acknowledgements and every sensor reading reached it.
    EXPECT_EQ(unacknowledged, 0u) << "panel job frames whose cards' acknowledgements did not come";
    EXPECT_GT(sensorReads, 0);
    EXPECT_EQ(unread, 0u) << "sensor reads that got no reading";
    EXPECT_TRUE(upgradeWritten) << fontBack.size() << " of " << font.size() << " bytes read back";
    // The panel's waits give way to the stop: its thread, still at work
    // when the stop comes, ends within a turn of it. A job's wait that did
    // not would end two turns after it began, and no wait of the panel's
    // begins more than the busy half, which holds the searches, before the
    // stop.
    EXPECT_GE(panelEndMs.load() - stopMs, 0) << "the panel's thread ended before the stop";
    EXPECT_LT(panelEndMs.load() - stopMs, kTurnMs);
}
