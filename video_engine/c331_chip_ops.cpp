#include "video_engine/c331_chip_ops.h"

#include "core/logMsg.h"

void c331_chip_ops_unbuilt::notBuilt(const char* name) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_logged.insert(name).second) return;
    }
    writeLogMsg(WARNING, std::string("c331: ") + name + " not built");
}
