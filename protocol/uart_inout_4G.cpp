#include "protocol/uart_inout_4G.h"

Qd_uart_inout_4G* Qd_uart_inout_4G::p_uart_4g = nullptr;

Qd_uart_inout_4G* Qd_uart_inout_4G::pInstance() {
    if (!p_uart_4g) {
        p_uart_4g = new Qd_uart_inout_4G();
        p_uart_4g->initialize(int(g_BPS));
    }
    return p_uart_4g;
}
