#include "video_io/it66121_sys.h"

#include "video_io/not_built.h"

it66121_sys::it66121_sys(vimrasource& source) : m_source(source) {}
it66121_sys::~it66121_sys() = default;

void it66121_sys::sdi_it66121_init() { log_not_built(m_notBuilt[0], "sdi_it66121_init"); }

int it66121_sys::IT66121_Test() {
    log_not_built(m_notBuilt[1], "IT66121_Test");
    return 0;
}

void it66121_sys::IT66121_init() { log_not_built(m_notBuilt[2], "IT66121_init"); }

void it66121_sys::GS2971_Reset() { log_not_built(m_notBuilt[3], "GS2971_Reset"); }

void it66121_sys::HDMITX_DevLoopProc() { log_not_built(m_notBuilt[4], "HDMITX_DevLoopProc"); }
