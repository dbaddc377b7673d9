#include "video_engine/c331_manage.h"

#include <mutex>

c331_manage* c331_manage::p_c331_manage = nullptr;

c331_manage* c331_manage::get() {
    static std::once_flag once;
    std::call_once(once, [] { p_c331_manage = new c331_manage(); });
    return p_c331_manage;
}

c331_manage* c331_manage::pInstance() { return get(); }
