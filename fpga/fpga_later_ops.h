#pragma once
// The FPGA thread's operations that come with the schedule work. The manager holds one implementation;
// until those are built the stand-in below logs "not built" once per
// operation, and a flag step whose operation is missing keeps its flag.
#include "core/global.h"

#include <mutex>
#include <set>
#include <string>

class fpga_later_ops {
public:
    virtual ~fpga_later_ops() = default;

    // Idle work: the multifunction-card work.
    virtual void Extension_function() = 0;
    // Applies the brightness; 1 when done, 0 to keep the request.
    virtual int set_brightness() = 0;
    // Runs the command block MCU_RAM_CMD (register 2 bit 2).
    virtual void run_command_block() = 0;
    // Reloads the stored brightness record and on/off schedule (bring-up).
    virtual void reload_brightness_records(u8 fpga) = 0;
};

class fpga_later_ops_unbuilt : public fpga_later_ops {
public:
    void Extension_function() override { notBuilt("Extension_function"); }
    int set_brightness() override { return notBuilt("set_brightness"), 0; }
    void run_command_block() override { notBuilt("command block"); }
    void reload_brightness_records(u8) override { notBuilt("brightness record reload"); }

protected:
    // Logs "fpga: <name> not built" once per name.
    void notBuilt(const char* name);

private:
    std::mutex m_mutex;
    std::set<std::string> m_logged;
};
