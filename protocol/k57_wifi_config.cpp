#include "protocol/k57_wifi_config.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <algorithm>
#include <chrono>

K57_WIFI_CONFIG* K57_WIFI_CONFIG::p_wifi = nullptr;

K57_WIFI_CONFIG* K57_WIFI_CONFIG::pInstance() {
    if (!p_wifi) {
        p_wifi = new K57_WIFI_CONFIG();
        p_wifi->initialize();
    }
    return p_wifi;
}

K57_WIFI_CONFIG::~K57_WIFI_CONFIG() { stop(); }

int K57_WIFI_CONFIG::initialize() {
    if (m_run.exchange(true)) return 0;
    m_thread = std::thread(&K57_WIFI_CONFIG::loop, this);
    return 0;
}

void K57_WIFI_CONFIG::stop() {
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_run.store(false);
    }
    m_wait.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void K57_WIFI_CONFIG::set_wifi_reset_flag() {
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        m_resetTick.store(G_timeTicks.load());
        m_resetFlag.store(1);
    }
    m_wait.notify_all();
}

int K57_WIFI_CONFIG::apSwitch() {
    ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config;
    if (!p) return -1;
    QMutexLocker lock(&c331_manage::get()->mutex);
    return p->live_image.byte(RamOffset::WIFI_AP);
}

void K57_WIFI_CONFIG::startAp() {
    Utils::system_mutex(QString::fromLatin1(kStartDhcp));
    Utils::system_mutex(QString::fromLatin1(kStartAp));
}

void K57_WIFI_CONFIG::loop() {
    if (apSwitch() == 0) startAp();
    while (m_run.load()) {
        {
            std::unique_lock<std::mutex> lock(m_waitMutex);
            if (m_resetFlag.load() == 0) {
                m_wait.wait(lock, [this] { return !m_run.load() || m_resetFlag.load() != 0; });
                continue;
            }
            const u32 waited = Utils::getTimeSpace(m_resetTick.load());
            if (waited < kSettleTicks) {
                // Until the requests settle; looked at again at least every
                // 100 ms, as the tick clock may be a test's virtual one.
                const u32 leftMs = std::min<u32>((kSettleTicks - waited) * 10, 100);
                m_wait.wait_for(lock, std::chrono::milliseconds(leftMs));
                continue;
            }
        }
        m_resetFlag.store(0);
        if (apSwitch() == 1) continue;
        writeLogMsg(INFO, "Wi-Fi access point restarted");
        Utils::system_mutex(QString::fromLatin1(kStopAp));
        Utils::system_mutex(QString::fromLatin1(kStopDhcp));
        startAp();
    }
}
