#pragma once
// The UDP link: PC command frames on port 5008, and the Wi-Fi access
// point's port 13769. Replies go to the broadcast address with the sender's
// port, so a PC on another subnet still hears the device; on a simulated
// board everything stays on the loopback interface and replies go to the
// sender itself.
#include "core/line_limiter.h"
#include "protocol/pc_link.h"

#include <netinet/in.h>

#include <vector>

class udpnetManage : public PcLink {
public:
    static constexpr u16 kCommandPort = 5008;
    static constexpr u16 kWifiPort = 13769;

    static udpnetManage* p_udpnetManage;
    // Creates the link and starts its thread on the first call.
    static udpnetManage* pInstance();

    // Ports 0 pick free ones (tests). loopback: bind to 127.0.0.1 and answer
    // the sender instead of broadcasting.
    udpnetManage(u16 commandPort, u16 wifiPort, bool loopback);
    ~udpnetManage() override;

    // Opens both ports and starts the thread serving them; 0 when the command port
    // is open, else 255.
    int initialize();
    void stop() override;
    u16 commandPort() const { return m_boundPort; }
    u16 wifiPort() const { return m_boundWifiPort; }

private:
    void serveLoop();
    void readCommand(std::vector<u8>& buf);
    void readWifi(std::vector<u8>& buf);
    bool sendEncoded(const u8* data, u32 length) override;
    bool sendPassReply(const u8* data, u32 length) override;
    void notePassRequester() override;
    PcPeer peer() const override;
    bool sendTo(const sockaddr_in& to, const u8* data, u32 length);

    u16 m_port, m_wifiPort;
    bool m_loopback;
    int m_fd = -1;
    int m_wifiFd = -1;
    u16 m_boundPort = 0, m_boundWifiPort = 0;
    sockaddr_in m_lastSender{};  // the sender of the frame in hand
    sockaddr_in m_replyAddr{};  // where the reply to the frame in hand goes
    sockaddr_in m_passAddr{};   // where the pending card reply goes
    LineLimiter m_wifiNoise;    // port 13769's "ignored" lines
};
