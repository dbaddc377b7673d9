#include "support/test_env.h"

#include "core/zrvrampara.h"
#include "sim/sim_devices.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

void SimEnv::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    Root::setRoot(m_dir.path().toStdString());
    auto board = std::make_unique<SimBoard>();
    m_board = board.get();
    simAttachDevices(*m_board);
    Board::install(std::move(board));
}

void SimEnv::TearDown() {
    // The board stays installed until the next test replaces it: threads a
    // test started may still read the clock while the process ends.
}

ManualClock& SimEnv::useManualClock() {
    auto clock = std::make_unique<ManualClock>();
    m_manual = clock.get();
    m_board->setClock(std::move(clock));
    return *m_manual;
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
