#include "protocol/k57_wifi_config.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

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
    m_run.store(false);
    if (m_thread.joinable()) m_thread.join();
}

void K57_WIFI_CONFIG::set_wifi_reset_flag() {
    m_resetTick.store(G_timeTicks.load());
    m_resetFlag.store(1);
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
        Utils::sleep_ms(100);
        if (m_resetFlag.load() == 0 || Utils::getTimeSpace(m_resetTick.load()) < kSettleTicks) continue;
        m_resetFlag.store(0);
        if (apSwitch() == 1) continue;
        writeLogMsg(INFO, "Wi-Fi access point restarted");
        Utils::system_mutex(QString::fromLatin1(kStopAp));
        Utils::system_mutex(QString::fromLatin1(kStopDhcp));
        startAp();
    }
}
