#include "support/test_env.h"

#include "core/console.h"
#include "core/line_limiter.h"
#include "core/zrvrampara.h"
#include "sim/sim_devices.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <fstream>
#include <regex>
#include <sstream>

void SimEnv::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    Root::setRoot(m_dir.path().toStdString());
    auto board = std::make_unique<SimBoard>();
    m_board = board.get();
    simAttachDevices(*m_board);
    Board::install(std::move(board));
    // Each test is a new device, whatever ran before it in this process: the
    // log's limits of its places (and every other limiter) start afresh.
    // Counts still held from the test before, if any, go to this log.
    LineLimiter::writeHeldCounts();
}

void SimEnv::TearDown() {
    // A line the simulated shell could not judge as sh would was answered
    // with a status nothing proves.
    EXPECT_EQ(m_board->simShell().unjudged(), std::vector<std::string>{}) << "lines the simulated shell cannot judge";
    // The board stays installed until the next test replaces it: threads a
    // test started may still read the clock while the process ends.
}

ManualClock& SimEnv::useManualClock() {
    auto clock = std::make_unique<ManualClock>();
    m_manual = clock.get();
    m_board->setClock(std::move(clock));
    return *m_manual;
}

long long bytesReadByThisThread() {
    std::ifstream io("/proc/thread-self/io");
    std::string key;
    long long n = -1;
    while (io >> key >> n)
        if (key == "rchar:") return n;
    return -1;
}

namespace {
constexpr int kConsoleSignals[2] = {SIGPIPE, SIGXFSZ};
}  // namespace

ConsoleOn::ConsoleOn(int out, int err) {
    Console::drain(std::chrono::seconds(10));
    std::fflush(nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int i : {0, 1}) ::sigaction(kConsoleSignals[i], &byDefault, &m_was[i]);
    for (int fd : {1, 2}) m_saved[fd - 1] = ::dup(fd);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
}

ConsoleOn::~ConsoleOn() {
    for (int fd : {1, 2}) {
        ::dup2(m_saved[fd - 1], fd);
        ::close(m_saved[fd - 1]);
    }
    for (int i : {0, 1}) ::sigaction(kConsoleSignals[i], &m_was[i], nullptr);
}

long long consoleNoteCount(const std::string& line) {
    static const std::regex note("console: (\\d+) lines not printed: the console did not take them");
    std::smatch m;
    return std::regex_match(line, m, note) ? std::stoll(m[1]) : -1;
}

size_t countIn(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string readHostFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeHostFile(const std::string& hostPath, const std::string& data) {
    QDir().mkpath(QFileInfo(QString::fromStdString(hostPath)).absolutePath());
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << data;
}

bool oddAt(Odd kind, const std::string& host) {
    QDir().mkpath(QFileInfo(QString::fromStdString(host)).absolutePath());
    QDir(QString::fromStdString(host)).removeRecursively();
    ::unlink(host.c_str());
    switch (kind) {
    case Odd::Folder: return QDir().mkpath(QString::fromStdString(host));
    case Odd::Fifo: return ::mkfifo(host.c_str(), 0644) == 0;
    case Odd::Link: {
        const std::string target = host + ".target";
        writeHostFile(target, std::string("\0\0\0\1", 4));
        return ::symlink(target.c_str(), host.c_str()) == 0;
    }
    case Odd::Socket: {
        sockaddr_un at{};
        at.sun_family = AF_UNIX;
        if (host.size() >= sizeof at.sun_path) return false;
        std::memcpy(at.sun_path, host.c_str(), host.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
        if (fd >= 0) ::close(fd);  // the socket's name stays behind
        return bound;
    }
    }
    return false;
}

std::string whatIsAt(const std::string& hostPath) {
    struct stat st {};
    if (::lstat(hostPath.c_str(), &st) != 0) return "nothing";
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISLNK(st.st_mode)) return "a link";
    return S_ISREG(st.st_mode) ? "a file" : "something else";
}

bool endsWithoutAWriter(const std::string& fifoDevicePath, const std::function<void()>& fn) {
    auto done = std::async(std::launch::async, fn);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
    // A reader held open until the end releases a writer's open and takes
    // what it writes.
    const int r = ::open(Root::path(fifoDevicePath).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    for (;;) {
        const int w = ::open(Root::path(fifoDevicePath).c_str(), O_WRONLY | O_NONBLOCK);
        if (w >= 0) ::close(w);
        char buf[4096];
        while (r >= 0 && ::read(r, buf, sizeof buf) > 0) {
        }
        if (done.wait_for(std::chrono::milliseconds(100)) == std::future_status::ready) break;
    }
    if (r >= 0) ::close(r);
    return false;
}

void eachSource(const std::vector<const char*>& folders,
                const std::function<void(const std::string&, const std::vector<std::string>&)>& fn) {
    const QDir top(QStringLiteral(ZRV_SOURCE_DIR));
    for (const char* folder : folders) {
        QDirIterator it(top.filePath(QString::fromLatin1(folder)), {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile source(it.next());
            if (!source.open(QIODevice::ReadOnly)) {
                ADD_FAILURE() << "cannot read " << source.fileName().toStdString();
                continue;
            }
            std::vector<std::string> lines;
            for (const QByteArray& text : source.readAll().split('\n')) lines.push_back(text.toStdString());
            fn(top.relativeFilePath(source.fileName()).toStdString(), lines);
        }
    }
}

void eachSourceLine(const std::vector<const char*>& folders,
                    const std::function<void(const std::string&, int, const std::string&)>& fn) {
    eachSource(folders, [&](const std::string& name, const std::vector<std::string>& lines) {
        for (size_t i = 0; i < lines.size(); ++i) fn(name, int(i + 1), lines[i]);
    });
}

ModelInstall::ModelInstall(ZrvRamPara* model) : m_saved(ZrvRamPara::p_zrvrampara_config) {
    ZrvRamPara::p_zrvrampara_config = model;
}
ModelInstall::~ModelInstall() { ZrvRamPara::p_zrvrampara_config = m_saved; }

namespace {
bool loopbackUp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    if (ok) {
        ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
        ok = ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    }
    ::close(fd);
    return ok;
}
}  // namespace

ProgramNetwork::ProgramNetwork() {
    // The namespace is the calling thread's; processes it starts inherit it.
    m_private = ::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0 && loopbackUp();
    if (m_private) return;
    m_lock = ::open("/tmp/zrv_e2e_ports.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_lock >= 0) ::flock(m_lock, LOCK_EX);
}

ProgramNetwork::~ProgramNetwork() {
    if (m_lock >= 0) ::close(m_lock);
}
