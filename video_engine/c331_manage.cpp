#include "video_engine/c331_manage.h"

#include "core/logMsg.h"

c331_manage* c331_manage::p_c331_manage = nullptr;

c331_manage::c331_manage() {
    writeLogMsg(INFO, "====c331_manage::c331_manage()=====");
    drv = new c331_drv();
    ops = new c331_chip_ops_unbuilt();
}

c331_manage* c331_manage::get() {
    static std::once_flag once;
    std::call_once(once, [] { p_c331_manage = new c331_manage(); });
    return p_c331_manage;
}

c331_manage* c331_manage::pInstance() { return get(); }

void c331_manage::wake() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCv.notify_one();
}
