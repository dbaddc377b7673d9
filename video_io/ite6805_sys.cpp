#include "video_io/ite6805_sys.h"

#include "video_io/not_built.h"

ite6805_sys::ite6805_sys(vimrasource& source) : m_source(source) {}
ite6805_sys::~ite6805_sys() = default;

void ite6805_sys::ite6805_sys_reset_init() {
    run_state[0] = run_state[1] = 0;
    log_not_built(m_notBuilt[0], "ite6805_sys_reset_init");
}

void ite6805_sys::iTE6805_FSM(int) { log_not_built(m_notBuilt[1], "iTE6805_FSM"); }

void ite6805_sys::iTE6805_Set_HPD_Ctrl(int, int, int) { log_not_built(m_notBuilt[2], "iTE6805_Set_HPD_Ctrl"); }
