#pragma once
// The TCP link: PC command frames on the TCP command port (setting
// "TcpPort"), one client at a time. A new connection takes over only from a
// client that has been silent for 10 s or whose socket is dead, so a PC that
// vanished without closing never locks the others out for long, and no host
// that merely connects can cut off a PC at work. A client that does not read
// its answers is closed at the first answer its socket does not take in
// time, however busily it sends.
#include "core/line_limiter.h"
#include "protocol/pc_link.h"

#include <atomic>
#include <vector>

class networkManage : public PcLink {
public:
    static networkManage* p_networkManage;
    // Creates the link and starts its thread on the first call (port g_port).
    static networkManage* pInstance();

    // Port 0 picks a free one (tests). loopback: listen on 127.0.0.1 only.
    networkManage(u16 port, bool loopback);
    ~networkManage() override;

    // Listens on the port and starts the thread while g_networkMode is not
    // 0; 0 when listening, else 255.
    int initialize();
    void stop() override;
    u16 port() const { return m_boundPort; }

    // Silence after which the current client yields to a new connection.
    static constexpr u64 kClientSilenceMs = 10000;
    // An answer not handed to the socket within this bound closes the
    // client: it does not read.
    static constexpr int kAnswerBoundMs = 1000;

private:
    void serveLoop();
    bool sendEncoded(const u8* data, u32 length) override;
    PcPeer peer() const override { return m_clientPeer; }
    void dropClient();
    // True when a new connection may replace the current client.
    bool clientMayBeReplaced();
    // True when the client's peer closed or reset its end.
    static bool peerGone(int client);
    // Serves the bytes a client whose peer is gone sent before its end.
    void serveRest(std::vector<u8>& buf);

    u16 m_port;
    bool m_loopback;
    int m_listenFd = -1;
    std::atomic<int> m_client{-1};
    u16 m_boundPort = 0;
    u64 m_lastHeardMs = 0;  // link thread only
    PcPeer m_clientPeer;    // the current client's address, link thread only
    LineLimiter m_refusals;  // a host may connect as often as it likes
};
