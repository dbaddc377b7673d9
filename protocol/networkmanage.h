#pragma once
// The TCP link: PC command frames on the TCP command port (setting
// "TcpPort"), one client at a time. A new client takes over from the one
// before, so a PC that vanished without closing never locks the others out.
#include "protocol/pc_link.h"

#include <atomic>

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

private:
    void serveLoop();
    bool sendEncoded(const u8* data, u32 length) override;
    void dropClient();

    u16 m_port;
    bool m_loopback;
    int m_listenFd = -1;
    std::atomic<int> m_client{-1};
    u16 m_boundPort = 0;
};
