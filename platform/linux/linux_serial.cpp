#include "platform/linux/linux_serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

unsigned LinuxSerialPort::speedConstant(int baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return 0;
    }
}

LinuxSerialPort::LinuxSerialPort(const std::string& hostPath, int baud) : m_path(hostPath) {
    const speed_t speed = speed_t(speedConstant(baud));
    if (speed == 0) {
        writeLogMsgFor(m_path, ERROR, "serial " + m_path + ": unsupported baud rate " + std::to_string(baud));
        return;
    }
    // Opened non-blocking so a line without carrier cannot hang the open;
    // reads wait in poll() with their own time-out instead.
    int fd = ::open(hostPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("serial open", m_path, errno));
        return;
    }
    termios tio;
    if (::tcgetattr(fd, &tio) != 0) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("serial set-up (not a tty?)", m_path, errno));
        ::close(fd);
        return;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 || ::tcsetattr(fd, TCSANOW, &tio) != 0) {
        writeLogMsgFor(m_path, ERROR, linuxfault::describe("serial set-up", m_path, errno));
        ::close(fd);
        return;
    }
    // Bytes that arrived before the port was set up were read at the wrong
    // rate: drop them.
    ::tcflush(fd, TCIOFLUSH);
    m_fd = fd;
}

LinuxSerialPort::~LinuxSerialPort() {
    if (m_fd >= 0) ::close(m_fd);
}

long LinuxSerialPort::readTimeout(uint8_t* buf, size_t cap, int timeoutMs) {
    if (m_fd < 0 || !buf) return -1;
    if (cap == 0) return 0;
    pollfd p;
    const int r = linuxfault::pollIn(m_fd, p, timeoutMs);
    if (r < 0) {
        m_readFault.fail(m_path, linuxfault::describe("serial poll", m_path, errno));
        return -1;
    }
    if (r == 0) return 0;
    const ssize_t n = ::read(m_fd, buf, cap);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        m_readFault.fail(m_path, linuxfault::describe("serial read", m_path, errno));
        return -1;
    }
    if (n == 0 && (p.revents & (POLLHUP | POLLERR))) {
        // The far end is gone: an error, or the caller would spin on
        // "readable, nothing read".
        m_readFault.fail(m_path, "serial read " + m_path + ": line hung up");
        return -1;
    }
    m_readFault.ok();
    return long(n);
}

long LinuxSerialPort::write(const uint8_t* data, size_t len) {
    if (m_fd < 0 || (!data && len)) return -1;
    size_t done = 0;
    int idleWaits = 0;
    while (done < len) {
        const ssize_t n = ::write(m_fd, data + done, len - done);
        if (n > 0) {
            done += size_t(n);
            idleWaits = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && idleWaits < 20) {
            // The output queue is full: wait for room, but not for ever on
            // a stuck line.
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            ++idleWaits;
            continue;
        }
        m_writeFault.fail(m_path, linuxfault::describe("serial write", m_path, n < 0 ? errno : 0));
        return done ? long(done) : -1;
    }
    m_writeFault.ok();
    return long(done);
}

void LinuxSerialPort::drain() {
    if (m_fd < 0) return;
    while (::tcdrain(m_fd) != 0 && errno == EINTR) {
    }
}

int LinuxSerialPort::setRts(bool on) {
    if (m_fd < 0) return -1;
    int bits = TIOCM_RTS;
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) {
        m_rtsFault.fail(m_path, linuxfault::describe("serial RTS", m_path, errno));
        return -1;
    }
    m_rtsFault.ok();
    return 0;
}
