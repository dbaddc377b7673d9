#pragma once
// The FPGA thread's operation that comes with the upgrade work. The manager
// holds one implementation; until it is built the stand-in below logs "not
// built" once.
#include "core/global.h"

#include <mutex>
#include <set>
#include <string>

class fpga_later_ops {
public:
    virtual ~fpga_later_ops() = default;

    // One step of the USB upgrade (while g_usb_grade is set).
    virtual void usb_upgrade_deal() = 0;
};

class fpga_later_ops_unbuilt : public fpga_later_ops {
public:
    void usb_upgrade_deal() override { notBuilt("usb_upgrade_deal"); }

protected:
    // Logs "fpga: <name> not built" once per name.
    void notBuilt(const char* name);

private:
    std::mutex m_mutex;
    std::set<std::string> m_logged;
};
