#include "protocol/link_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
int bindSocket(int fd, u16 port, bool loopback, u16* bound) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return -1;
    socklen_t len = sizeof addr;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return -1;
    if (bound) *bound = ntohs(addr.sin_port);
    return 0;
}
}  // namespace

int LinkSocket::openUdp(u16 port, bool loopback, u16* bound) {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!loopback) {
        const int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    if (bindSocket(fd, port, loopback, bound) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int LinkSocket::openTcpListen(u16 port, bool loopback, u16* bound) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // A restart must not wait for the old connections' TIME_WAIT. UDP gets
    // no such option: two programs sharing a command port would steal each
    // other's frames.
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bindSocket(fd, port, loopback, bound) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int LinkSocket::waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) return errno == EINTR ? 0 : -1;
    if (r == 0) return 0;
    if (p.revents & POLLNVAL) return -1;
    return 1;
}

bool LinkSocket::sendAll(int fd, const u8* data, size_t len, int timeoutMs) {
    using Steady = std::chrono::steady_clock;
    const Steady::time_point end = Steady::now() + std::chrono::milliseconds(timeoutMs);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(fd, data + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Steady::now()).count();
            pollfd p{fd, POLLOUT, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

void LinkSocket::closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}
