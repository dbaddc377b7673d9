#include "sim/sim_serial.h"

#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_ring.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace {

std::mutex g_rtsMutex;
std::map<std::string, SimRing<bool>> g_rts;

void makeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Replaces whatever is at link with a symbolic link to target.
bool publish(const std::string& link, const std::string& target) {
    QDir().mkpath(QFileInfo(QString::fromStdString(link)).absolutePath());
    ::unlink(link.c_str());
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

// Removes link only while it still points at target (a newer line may own it).
void unpublish(const std::string& link, const std::string& target) {
    char buf[256];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return;
    buf[n] = 0;
    if (target == buf) ::unlink(link.c_str());
}

class SimSerialLine : public SerialPort {
public:
    SimSerialLine(std::string devicePath, int baud) : m_device(std::move(devicePath)) {
        if (::openpty(&m_masterA, &m_slaveA, nullptr, nullptr, nullptr) != 0) return;
        if (::openpty(&m_masterB, &m_slaveB, nullptr, nullptr, nullptr) != 0) {
            closeAll();
            return;
        }
        for (int fd : {m_slaveA, m_slaveB}) {
            makeRaw(fd);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        for (int fd : {m_masterA, m_masterB}) {
            setNonBlocking(fd);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        setNonBlocking(m_slaveA);
        termios t{};
        if (tcgetattr(m_slaveA, &t) == 0) {
            const speed_t s = baud == 9600 ? B9600 : baud == 57600 ? B57600 : B115200;
            cfsetspeed(&t, s);
            tcsetattr(m_slaveA, TCSANOW, &t);
        }
        m_nameA = ttyname(m_slaveA) ? ttyname(m_slaveA) : "";
        m_nameB = ttyname(m_slaveB) ? ttyname(m_slaveB) : "";
        // Published only under a run's own root: a simulation must never
        // replace the host's real serial devices.
        if (!Root::root().empty()) {
            publish(Root::path(m_device), m_nameA);
            publish(simSerialPcPath(m_device), m_nameB);
        }
        m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        m_relay = std::thread(&SimSerialLine::relay, this);
        pthread_setname_np(m_relay.native_handle(), "sim serial");
    }

    ~SimSerialLine() override {
        m_stop = true;
        if (m_stopFd >= 0) {
            const uint64_t one = 1;
            (void)!::write(m_stopFd, &one, sizeof one);
        }
        if (m_relay.joinable()) m_relay.join();
        if (m_stopFd >= 0) ::close(m_stopFd);
        if (!Root::root().empty()) {
            unpublish(Root::path(m_device), m_nameA);
            unpublish(simSerialPcPath(m_device), m_nameB);
        }
        closeAll();
    }

    bool isOpen() const override { return m_slaveA >= 0; }
    int descriptor() const override { return m_slaveA; }

    long readTimeout(uint8_t* buf, size_t cap, int timeoutMs) override {
        if (m_slaveA < 0) return -1;
        pollfd p{m_slaveA, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0) return errno == EINTR ? 0 : -1;
        if (r == 0) return 0;
        const ssize_t n = ::read(m_slaveA, buf, cap);
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
        return long(n);
    }

    long write(const uint8_t* data, size_t len) override {
        if (m_slaveA < 0) return -1;
        size_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(m_slaveA, data + done, len - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
            pollfd p{m_slaveA, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) break;  // the line stays full
        }
        return done ? long(done) : -1;
    }

    void drain() override {
        // Bounded: the relay empties the queue at once, but a stopped relay
        // must not hang the caller.
        for (int i = 0; i < 100; ++i) {
            int queued = 0;
            if (ioctl(m_slaveA, TIOCOUTQ, &queued) != 0 || queued == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    int setRts(bool on) override {
        std::lock_guard<std::mutex> lock(g_rtsMutex);
        g_rts.try_emplace(m_device, kSimSerialRtsKeep).first->second.push(on);
        return 0;
    }

private:
    void closeAll() {
        for (int* fd : {&m_masterA, &m_slaveA, &m_masterB, &m_slaveB}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

    // Copies what one side wrote to the other, sleeping in poll() until a
    // side has bytes or the line is closed. Bytes the far side has no room
    // for are lost, as on a line nobody listens to.
    void relay() {
        uint8_t buf[4096];
        for (;;) {
            pollfd p[3] = {{m_masterA, POLLIN, 0}, {m_masterB, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
            const int r = ::poll(p, 3, m_stopFd < 0 ? 100 : -1);
            if (r < 0 && errno != EINTR) return;
            if (p[2].revents || (m_stopFd < 0 && m_stop)) return;
            if (r <= 0) continue;
            if (p[0].revents & POLLIN) copy(m_masterA, m_masterB, buf, sizeof buf);
            if (p[1].revents & POLLIN) copy(m_masterB, m_masterA, buf, sizeof buf);
            // A side without a reader reports a hang-up until one opens it:
            // wait for the stop descriptor a while instead of spinning.
            if ((p[0].revents | p[1].revents) & (POLLHUP | POLLERR)) {
                pollfd stop{m_stopFd, POLLIN, 0};
                if (::poll(&stop, 1, 10) > 0) return;
            }
        }
    }

    static void copy(int from, int to, uint8_t* buf, size_t cap) {
        const ssize_t n = ::read(from, buf, cap);
        if (n <= 0) return;
        ssize_t done = 0;
        // The far side's queue drains as its reader reads; give it a bounded
        // time in all, then drop the rest.
        for (int waits = 0; done < n && waits < 5;) {
            const ssize_t w = ::write(to, buf + done, size_t(n - done));
            if (w > 0) {
                done += w;
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR) return;
            pollfd out{to, POLLOUT, 0};
            ::poll(&out, 1, 10);
            ++waits;
        }
    }

    std::string m_device;
    std::string m_nameA, m_nameB;
    int m_masterA = -1, m_slaveA = -1, m_masterB = -1, m_slaveB = -1;
    int m_stopFd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_relay;
};

}  // namespace

std::vector<bool> simSerialRtsHistory(const std::string& devicePath) {
    std::lock_guard<std::mutex> lock(g_rtsMutex);
    auto it = g_rts.find(devicePath);
    return it == g_rts.end() ? std::vector<bool>{} : it->second.items();
}

void simSerialClearRtsHistory() {
    std::lock_guard<std::mutex> lock(g_rtsMutex);
    g_rts.clear();
}

std::string simSerialPcPath(const std::string& devicePath) { return Root::path(devicePath + ".pc"); }

std::unique_ptr<SerialPort> simOpenSerial(const std::string& devicePath, int baud) {
    return std::make_unique<SimSerialLine>(devicePath, baud);
}
