#pragma once
// IT66121 transmitter and GS2971 SDI receiver of the SDI path.
//
// Contract with the input-source manager (vimrasource), which owns the one
// object and steps it from the source thread at the end of every polling
// pass while fail_count is below 10:
//   SDI state 0: sdi_it66121_init() (transmitter and GS2971 lines), then 1;
//   state 1: IT66121_Test(): 1 found (register 37 bit 1 set, state 2), 0 not
//            found (fail_count + 1, bit 1 cleared, stays 1);
//   state 2: IT66121_init(), then 3;
//   state 3: HDMITX_DevLoopProc() every pass.
// GS2971_Reset() is also called from the GUI thread (advanced page): it then
// only writes its line and sleeps.
// Tests derive from this class to record the calls.
#include "core/global.h"

#include <memory>

class vimrasource;
class it66121_hdmitx_sys;
class it66121_hdmitx_drv;
class sdi_it66121;

class it66121_sys {
public:
    explicit it66121_sys(vimrasource& source);
    virtual ~it66121_sys();

    u8 last_test = 0;   // result of the last IT66121_Test
    u8 fail_count = 0;  // unsuccessful identifications
    std::unique_ptr<it66121_hdmitx_sys> hdmitx_sys;
    std::unique_ptr<it66121_hdmitx_drv> hdmitx_drv;
    std::unique_ptr<sdi_it66121> sdi;

    virtual void sdi_it66121_init();
    virtual int IT66121_Test();
    virtual void IT66121_init();
    virtual void GS2971_Reset();
    virtual void HDMITX_DevLoopProc();

    // Display option by code: code mod 18 = 1..17 gives VIC 2, 3, 4, 5, 6, 7,
    // 16, 17, 18, 19, 20, 21, 22, 31, 32, 33, 34, anything else VIC 1; RGB.
    void CHANGE_INPUT(int code);
    void InitHDMITX_Variable();
    void InitHDMITX();

protected:
    vimrasource& m_source;
};
