#include "fpga/fpga_later_ops.h"

#include "core/logMsg.h"

void fpga_later_ops_unbuilt::notBuilt(const char* name) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_logged.insert(name).second) return;
    }
    writeLogMsg(WARNING, std::string("fpga: ") + name + " not built");
}
