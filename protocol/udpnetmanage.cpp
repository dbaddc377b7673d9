#include "protocol/udpnetmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"
#include "protocol/link_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include <vector>

udpnetManage* udpnetManage::p_udpnetManage = nullptr;

udpnetManage* udpnetManage::pInstance() {
    if (!p_udpnetManage) {
        p_udpnetManage = new udpnetManage(kCommandPort, kWifiPort, Board::get().isSimulated());
        p_udpnetManage->initialize();
    }
    return p_udpnetManage;
}

udpnetManage::udpnetManage(u16 commandPort, u16 wifiPort, bool loopback)
    : PcLink(PcLinkId::Udp, kUdpRecordSize),
      m_port(commandPort),
      m_wifiPort(wifiPort),
      m_loopback(loopback),
      m_wifiNoise([this](u64 count) {
          debugPrintf("\n udp %u: %llu datagrams ignored in the last second \n", unsigned(m_boundWifiPort),
                      static_cast<unsigned long long>(count));
      }) {}

udpnetManage::~udpnetManage() { stop(); }

int udpnetManage::initialize() {
    if (running()) return 0;
    m_fd = LinkSocket::openUdp(m_port, m_loopback, &m_boundPort);
    if (m_fd < 0) {
        writeLogMsg(ERROR, "UDP command port " + std::to_string(m_port) + " cannot be opened: " + std::strerror(errno));
        return 255;
    }
    m_wifiFd = LinkSocket::openUdp(m_wifiPort, m_loopback, &m_boundWifiPort);
    if (m_wifiFd < 0) writeLogMsg(ERROR, "UDP port " + std::to_string(m_wifiPort) + " cannot be opened: " + std::strerror(errno));
    // One thread serves both ports: the access point's port is only read.
    startThread("link udp", [this] { serveLoop(); });
    return 0;
}

void udpnetManage::stop() {
    stopThread();
    m_wifiNoise.printHeld();
    LinkSocket::closeFd(m_fd);
    LinkSocket::closeFd(m_wifiFd);
}

void udpnetManage::serveLoop() {
    std::vector<u8> buf(65536);
    while (running()) {
        servePassThrough();
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wifiFd, POLLIN, 0}};
        const int ready = waitEvents(fds, m_wifiFd >= 0 ? 2 : 1);
        if (ready < 0) {
            pause(100);  // a descriptor that fails keeps failing: do not spin
            continue;
        }
        if (m_wifiFd >= 0 && fds[1].revents) readWifi(buf);
        if (fds[0].revents & (POLLIN | POLLERR)) readCommand(buf);
    }
}

void udpnetManage::readCommand(std::vector<u8>& buf) {
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n =
        ::recvfrom(m_fd, buf.data(), buf.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n <= 0) return;
    // A frame is assembled from one sender's datagrams only.
    if (from.sin_addr.s_addr != m_lastSender.sin_addr.s_addr || from.sin_port != m_lastSender.sin_port)
        m_decoder.reset();
    m_lastSender = from;
    m_replyAddr = from;
    if (!m_loopback) m_replyAddr.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    feed(buf.data(), size_t(n));
}

void udpnetManage::readWifi(std::vector<u8>& buf) {
    const ssize_t n = ::recv(m_wifiFd, buf.data(), buf.size(), MSG_DONTWAIT);
    // The access point's command set is not served by this build; with the
    // port switched off its datagrams are dropped unread all the same.
    if (n > 0 && g_udpnetmode.load() != 0)
        m_wifiNoise.occur([&] { debugPrintf("\n udp %u: %d bytes ignored \n", unsigned(m_boundWifiPort), int(n)); });
}

bool udpnetManage::sendTo(const sockaddr_in& to, const u8* data, u32 length) {
    const ssize_t n = ::sendto(m_fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == ssize_t(length);
}

bool udpnetManage::sendEncoded(const u8* data, u32 length) { return sendTo(m_replyAddr, data, length); }

bool udpnetManage::sendPassReply(const u8* data, u32 length) { return sendTo(m_passAddr, data, length); }

void udpnetManage::notePassRequester() { m_passAddr = m_replyAddr; }

PcPeer udpnetManage::peer() const {
    return PcPeer{linkId(), m_lastSender.sin_addr.s_addr, m_lastSender.sin_port};
}
