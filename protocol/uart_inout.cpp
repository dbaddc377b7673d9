#include "protocol/uart_inout.h"

Qd_uart_inout* Qd_uart_inout::p_uart = nullptr;

Qd_uart_inout* Qd_uart_inout::pInstance() {
    if (!p_uart) {
        p_uart = new Qd_uart_inout();
        p_uart->initialize(int(g_BPS));
    }
    return p_uart;
}
