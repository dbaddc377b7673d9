#include "protocol/networkmanage.h"

#include "core/logMsg.h"
#include "platform/board.h"
#include "protocol/link_socket.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

networkManage* networkManage::p_networkManage = nullptr;

networkManage* networkManage::pInstance() {
    if (!p_networkManage) {
        const u16 port = (g_port > 0 && g_port <= 0xFFFF) ? u16(g_port) : u16(5005);
        p_networkManage = new networkManage(port, Board::get().isSimulated());
        p_networkManage->initialize();
    }
    return p_networkManage;
}

networkManage::networkManage(u16 port, bool loopback)
    : PcLink(PcLinkId::Tcp, kTcpRecordSize),
      m_port(port),
      m_loopback(loopback),
      m_refusals(LineLimiter::logCount(WARNING, "TCP connection refused", "")) {}

networkManage::~networkManage() { stop(); }

int networkManage::initialize() {
    if (running()) return 0;
    if (g_networkMode.load() == 0) return 255;
    m_listenFd = LinkSocket::openTcpListen(m_port, m_loopback, &m_boundPort);
    if (m_listenFd < 0) {
        writeLogMsg(ERROR, "TCP command port " + std::to_string(m_port) + " cannot be opened: " + std::strerror(errno));
        return 255;
    }
    startThread("link tcp", [this] { serveLoop(); });
    return 0;
}

void networkManage::stop() {
    stopThread();
    m_refusals.printHeld();
    dropClient();
    LinkSocket::closeFd(m_listenFd);
}

void networkManage::dropClient() {
    int fd = m_client.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void networkManage::serveLoop() {
    std::vector<u8> buf(65536);
    while (running()) {
        servePassThrough();
        const int client = m_client.load();
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {client, POLLIN, 0}};
        const int r = waitEvents(fds, client >= 0 ? 2 : 1);
        if (r < 0) {
            pause(100);  // a descriptor that fails keeps failing: do not spin
            continue;
        }
        if (r == 0) continue;
        if (fds[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t fromLen = sizeof from;
            const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&from), &fromLen, SOCK_CLOEXEC);
            if (fd >= 0 && !clientMayBeReplaced()) {
                // Any host that connects must not cut off a PC at work.
                m_refusals.occur(
                    [] { writeLogMsg(WARNING, "TCP connection refused: the current client is still active"); });
                ::close(fd);
            } else if (fd >= 0) {
                serveRest(buf);
                dropClient();
                m_decoder.reset();
                m_client.store(fd);
                m_clientPeer = PcPeer{linkId(), from.sin_addr.s_addr, from.sin_port};
                m_lastHeardMs = Board::get().clock().nowMs();
                continue;
            }
        }
        if (client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(client, buf.data(), buf.size(), 0);
            if (n <= 0) {
                dropClient();
                m_decoder.reset();
                continue;
            }
            m_lastHeardMs = Board::get().clock().nowMs();
            feed(buf.data(), size_t(n));
            // Closed for not reading its answers: the next client starts clean.
            if (m_client.load() != client) m_decoder.reset();
        }
    }
}

bool networkManage::peerGone(int client) {
    // The peer's end of the stream, seen by the kernel even while bytes it
    // sent before it are still unread.
    pollfd p{client, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) < 0) return true;
    return p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL);
}

bool networkManage::clientMayBeReplaced() {
    const int client = m_client.load();
    if (client < 0) return true;
    if (Board::get().clock().nowMs() - m_lastHeardMs >= kClientSilenceMs) return true;
    // A peer that closed or reset its end is gone, however recently it spoke.
    return peerGone(client);
}

void networkManage::serveRest(std::vector<u8>& buf) {
    // What a peer sent before it closed is served before it goes: its end
    // bounds it, and a request sent then closed is carried out as if the
    // link had read it first.
    const int client = m_client.load();
    if (client < 0 || !peerGone(client)) return;
    for (;;) {
        const ssize_t n = ::recv(client, buf.data(), buf.size(), MSG_DONTWAIT);
        if (n <= 0) return;
        feed(buf.data(), size_t(n));
        if (m_client.load() != client) return;
    }
}

bool networkManage::sendEncoded(const u8* data, u32 length) {
    const int fd = m_client.load();
    if (fd < 0) return false;
    if (LinkSocket::sendAll(fd, data, length, kAnswerBoundMs)) return true;
    // A client that does not take its answers is not reading (or is gone):
    // its requests alone would keep it "active" for ever, every answer
    // waiting out the bound, and every other PC locked out. It is closed and
    // the next connection is let in.
    writeLogMsg(WARNING,
                "TCP client closed: an answer was not taken within " + std::to_string(kAnswerBoundMs) + " ms");
    dropClient();
    return false;
}
