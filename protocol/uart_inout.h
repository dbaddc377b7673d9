#pragma once
// The RS-485 link on "/dev/ttyS2".
#include "protocol/serial_modules.h"

class Qd_uart_inout : public serial_modules {
public:
    static constexpr const char* kDevice = "/dev/ttyS2";
    static Qd_uart_inout* p_uart;
    // Opens the line at g_BPS and starts the receive thread on the first call.
    static Qd_uart_inout* pInstance();

    Qd_uart_inout() : serial_modules(PcLinkId::Serial, kDevice, true) {}
};
