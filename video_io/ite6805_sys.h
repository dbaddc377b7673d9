#pragma once
// IT6805 receivers of inputs 4 (HDMI3, chip / rx 0) and 5 (HDMI4, rx 1).
//
// Contract with the input-source manager (vimrasource), which owns the one
// object and calls it only from the source thread:
//   - fd is the bus descriptor (Drv_I2C0), set by vimrasource::initialize.
//   - ite6805_sys_reset_init(): while the receivers' shared reset line is
//     held low (start-up, and register-32 commands that drive it low); both
//     receivers go back to run state 0.
//   - iTE6805_FSM(rx): one polling step; the manager has selected the chip
//     on switch 0xEE first (0x20 for rx 0, 0x10 for rx 1).
//   - iTE6805_Set_HPD_Ctrl(port, level, rx): hot-plug of port 0, level 0 or 1;
//     called after the chip was selected (EDID rewrite, register 32).
//   - run_state[rx]: 0 = identify and initialise at the next step, 1 =
//     running. The manager sets 0 after it rewrote the receiver's EDID.
// Results are published through the manager (presence bits 5 and 6 of
// register 37, hdminfo records 4 and 5, SIGNAL_PARA of inputs 4 and 5).
// Tests derive from this class to record the calls.
#include "core/global.h"

#include <atomic>

class vimrasource;

class ite6805_sys {
public:
    explicit ite6805_sys(vimrasource& source);
    virtual ~ite6805_sys();

    int fd = -1;  // bus descriptor
    u8 run_state[2]{};

    virtual void ite6805_sys_reset_init();
    virtual void iTE6805_FSM(int rx);
    virtual void iTE6805_Set_HPD_Ctrl(int port, int level, int rx);

protected:
    vimrasource& m_source;

private:
    std::atomic<bool> m_notBuilt[3]{};
};
