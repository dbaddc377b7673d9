#pragma once
// IT6602 receivers of inputs 0 to 3 (EXT, DVI, HDMI1, HDMI2).
//
// Contract with the input-source manager (vimrasource), which owns the one
// object and calls it only from the source thread:
//   - fd is the bus descriptor (Drv_I2C0), set by vimrasource::initialize.
//   - Before each call the manager has written the input's channel code to
//     the receiver switch 0xEE; the chip answers at 0x90 (or 0x94).
//   - IT6602_fsm_init(fd, input): identify and reset; returns 1 when the chip
//     was found. Called every pass while the input is in "not found" and
//     again after a custom EDID was written for the input.
//   - IT6602_fsm_init_1(fd, input): once after a successful init.
//   - IT6602_fsm(fd, input): one poll per pass while running.
// Results are published through the manager: presence bits of register 37
// (reg_set_bit / reg_clear_bit), the input's hdminfo record (fill_hdminfo /
// update_hdminfo) and its SIGNAL_PARA (publish_signal / clear_signal).
// Tests derive from this class to record the calls.
#include "core/global.h"

#include <atomic>

class vimrasource;

class vimra_it6602 {
public:
    explicit vimra_it6602(vimrasource& source);
    virtual ~vimra_it6602();

    int fd = -1;  // bus descriptor

    virtual int IT6602_fsm_init(int fd, int input);
    virtual void IT6602_fsm_init_1(int fd, int input);
    virtual void IT6602_fsm(int fd, int input);

protected:
    vimrasource& m_source;

private:
    std::atomic<bool> m_notBuilt[3]{};
};
