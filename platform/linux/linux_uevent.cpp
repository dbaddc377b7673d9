#include "platform/linux/linux_uevent.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

LinuxUeventSource::LinuxUeventSource() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        writeLogMsg(ERROR, linuxfault::describe("UsbServer socket error", "", errno));
        return;
    }
    int rcvbuf = 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_nl addr;
    std::memset(&addr, 0, sizeof addr);
    addr.nl_family = AF_NETLINK;
    // Port id 0: the kernel hands out a free one. A fixed id fails to bind
    // as soon as any other socket of the host holds it.
    addr.nl_pid = 0;
    addr.nl_groups = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        writeLogMsg(ERROR, linuxfault::describe("UsbServer bind error", "", errno));
        ::close(fd);
        return;
    }
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) {
        writeLogMsg(ERROR, linuxfault::describe("UsbServer eventfd error", "", errno));
        ::close(fd);
        return;
    }
    m_fd = fd;
}

LinuxUeventSource::~LinuxUeventSource() {
    if (m_fd >= 0) ::close(m_fd);
    if (m_stopFd >= 0) ::close(m_stopFd);
}

void LinuxUeventSource::interrupt() {
    if (m_stopFd < 0) return;
    const uint64_t one = 1;
    // Never read back: the descriptor stays readable, so every later
    // receive returns at once too.
    if (::write(m_stopFd, &one, sizeof one) < 0) {
    }
}

long LinuxUeventSource::receive(char* buf, size_t cap, int timeoutMs) {
    if (m_fd < 0 || !buf || cap < 2) return -1;
    pollfd p[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    int r;
    do {
        r = ::poll(p, 2, timeoutMs < 0 ? 0 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        m_receiveFault.fail("uevent socket", linuxfault::describe("UsbServer select error", "", errno));
        return -1;
    }
    // Stopped, or nothing on the socket. An error condition on it goes on
    // to the receive, which reports it (the watcher then pauses).
    if (r == 0 || p[1].revents != 0 || p[0].revents == 0) return 0;
    sockaddr_nl from;
    socklen_t fromLen = sizeof from;
    std::memset(&from, 0, sizeof from);
    const ssize_t n = ::recvfrom(m_fd, buf, cap - 1, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return 0;
        if (errno == ENOBUFS) return 0;  // the kernel dropped events for a full buffer; read on
        m_receiveFault.fail("uevent socket", linuxfault::describe("UsbServer receive error", "", errno));
        return -1;
    }
    m_receiveFault.ok();
    // Only the kernel (port id 0) speaks for the hardware; anything else
    // sent to the group is not a hot-plug event.
    if (from.nl_pid != 0) return 0;
    buf[n] = '\0';
    return long(n);
}
