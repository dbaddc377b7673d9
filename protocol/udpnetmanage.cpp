#include "protocol/udpnetmanage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "platform/board.h"
#include "protocol/link_socket.h"

#include <arpa/inet.h>
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
    : PcLink(PcLinkId::Udp, kUdpRecordSize), m_port(commandPort), m_wifiPort(wifiPort), m_loopback(loopback) {}

udpnetManage::~udpnetManage() { stop(); }

int udpnetManage::initialize() {
    if (m_run.load()) return 0;
    m_fd = LinkSocket::openUdp(m_port, m_loopback, &m_boundPort);
    if (m_fd < 0) {
        writeLogMsg(ERROR, "UDP command port " + std::to_string(m_port) + " cannot be opened");
        return 255;
    }
    m_wifiFd = LinkSocket::openUdp(m_wifiPort, m_loopback, &m_boundWifiPort);
    if (m_wifiFd < 0) writeLogMsg(ERROR, "UDP port " + std::to_string(m_wifiPort) + " cannot be opened");
    m_run.store(true);
    m_thread = std::thread(&udpnetManage::commandLoop, this);
    if (m_wifiFd >= 0) m_wifiThread = std::thread(&udpnetManage::wifiLoop, this);
    return 0;
}

void udpnetManage::stop() {
    m_run.store(false);
    if (m_thread.joinable()) m_thread.join();
    if (m_wifiThread.joinable()) m_wifiThread.join();
    LinkSocket::closeFd(m_fd);
    LinkSocket::closeFd(m_wifiFd);
}

void udpnetManage::commandLoop() {
    std::vector<u8> buf(65536);
    while (m_run.load()) {
        servePassThrough();
        if (LinkSocket::waitReadable(m_fd, 10) <= 0) continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        const ssize_t n =
            ::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n <= 0) continue;
        // A frame is assembled from one sender's datagrams only.
        if (from.sin_addr.s_addr != m_lastSender.sin_addr.s_addr || from.sin_port != m_lastSender.sin_port)
            m_decoder.reset();
        m_lastSender = from;
        m_replyAddr = from;
        if (!m_loopback) m_replyAddr.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        feed(buf.data(), size_t(n));
    }
}

void udpnetManage::wifiLoop() {
    std::vector<u8> buf(2048);
    while (m_run.load()) {
        if (g_udpnetmode.load() == 0) {
            Utils::sleep_ms(100);
            continue;
        }
        if (LinkSocket::waitReadable(m_wifiFd, 100) <= 0) continue;
        const ssize_t n = ::recv(m_wifiFd, buf.data(), buf.size(), 0);
        // The access point's command set is not served by this build.
        if (n > 0) debugPrintf("\n udp %u: %d bytes ignored \n", unsigned(m_boundWifiPort), int(n));
    }
}

bool udpnetManage::sendTo(const sockaddr_in& to, const u8* data, u32 length) {
    const ssize_t n = ::sendto(m_fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n == ssize_t(length);
}

bool udpnetManage::sendEncoded(const u8* data, u32 length) { return sendTo(m_replyAddr, data, length); }

bool udpnetManage::sendPassReply(const u8* data, u32 length) { return sendTo(m_passAddr, data, length); }

void udpnetManage::notePassRequester() { m_passAddr = m_replyAddr; }
