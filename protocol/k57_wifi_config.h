#pragma once
// The Wi-Fi access point: hostapd and udhcpd, started at start-up while
// image byte 774 is 0 and restarted on request (advanced page).
#include "core/global.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class K57_WIFI_CONFIG {
public:
    static K57_WIFI_CONFIG* p_wifi;
    // Creates the manager and starts the Wi-Fi thread on the first call.
    static K57_WIFI_CONFIG* pInstance();

    K57_WIFI_CONFIG() = default;
    ~K57_WIFI_CONFIG();

    int initialize();
    void stop();

    // Asks the thread to restart the access point; repeated requests within
    // the settling time restart it once.
    void set_wifi_reset_flag();

    static constexpr u32 kSettleTicks = 100;
    static constexpr const char* kStartDhcp = "udhcpd -fS /etc/udhcpd.conf &";
    static constexpr const char* kStartAp = "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B";
    static constexpr const char* kStopAp = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
    static constexpr const char* kStopDhcp = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";

private:
    void loop();
    // Image byte 774: 0 the access point runs, 1 it is off; -1 no image yet.
    static int apSwitch();
    static void startAp();

    std::atomic<u8> m_resetFlag{0};
    std::atomic<u32> m_resetTick{0};
    std::atomic<bool> m_run{false};
    // The thread sleeps on this until a restart request or a stop.
    std::mutex m_waitMutex;
    std::condition_variable m_wait;
    std::thread m_thread;
};
