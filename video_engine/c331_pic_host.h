#pragma once
// What the panel set-up and the picture operations need from the rest of
// the c331 chip operations: the clock-domain control of the chip start-up,
// the window background of the output stage, and the window layout that a
// new panel must be followed by. The chip operations object implements it;
// tests give a recording stand-in.

class c331_pic_host {
public:
    virtual ~c331_pic_host() = default;

    // Clock-domain control registers: 2 while the picture path is being
    // reprogrammed, 1 the working state.
    virtual void set_rtct(int fd, int mode) = 0;
    // Background fill of the output channels that show layout slot `win`.
    virtual void set_input_bkg2(int fd, int win, int on) = 0;
    // After a panel change: the window layout again (zrvApi_initEnvC331,
    // a fresh multi-window slice table, zrvApi_MultiWinChAlloc(1),
    // zrvApi_MultiWinChInit).
    virtual void panel_layout_rebuild() = 0;
    // The full parameter dump that ends a panel set-up; its result is the
    // panel set-up's result.
    virtual int panel_param_dump() = 0;
};
