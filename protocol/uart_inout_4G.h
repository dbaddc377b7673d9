#pragma once
// The 4G module's serial link on "/dev/ttyS1".
#include "protocol/serial_modules.h"

class Qd_uart_inout_4G : public serial_modules {
public:
    static constexpr const char* kDevice = "/dev/ttyS1";
    static Qd_uart_inout_4G* p_uart_4g;
    // Opens the line at g_BPS and starts the receive thread on the first call.
    static Qd_uart_inout_4G* pInstance();

    Qd_uart_inout_4G() : serial_modules(PcLinkId::Serial4G, kDevice, false) {}
};
