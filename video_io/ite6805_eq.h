#pragma once
// IT6805 input equaliser of the current port's three TMDS channels: starts
// the chip's automatic equalisation (one way for HDMI 1.x, another for 2.0),
// measures bit errors, falls back to a manual search over a small table of
// values and sets the DFE coefficients that go with the chosen value. Driven
// by events (iTE6805_EQ_chg) from the state machines; states 0 idle, 1 start,
// 2 wait for the automatic result, 3 result arrived, 4 bit-error check,
// 5 manual search step, 6 repeat the search, 7 held during an ECC recovery,
// 8 no action, 9 tuned.
#include "core/global.h"
#include "video_io/ite6805_i2c_rdwr.h"

class ite6805_sys;

class ite6805_eq {
public:
    ite6805_eq(ite6805_sys& root, ite6805_i2c_rdwr& io);

    static const u8 iTE6805_EQ_Table_Hdmi20[4];
    static const u8 iTE6805_EQ_Table_Hdmi10[4];
    static const u8 RS_Value[14];

    void iTE6805_EQ_chg(u32 state, int rx);
    void iTE6805_EQ_fsm(int rx);
    void iTE6805_hdmirx_port0_EQ_irq(int rx);
    // 1 when the link is good.
    int iTE6805_BitErr_Check_Again(int rx);

    void iTE6805_Reset_EQ(int rx);
    void iTE6805_Trigger_EQ(int rx);
    void iTE6805_Trigger_SAREQ(int rx);
    void iTE6805_Trigger_RSSKEW_EQ(int rx);
    void iTE6805_Set_EQResult_Flag(int rx);
    void iTE6805_Report_EQ(int rx);
    void iTE6805_Report_Skew(int rx);
    void iTE6805_BitErr_Get(int rx);
    int iTE6805_BitErr_Check(int rx);
    int iTE6805_BitErr_Check_For_Parity_Error(int rx);
    static u8 iTE6805_Find_indexof_DEF(u8 value);
    void iTE6805_Get_DFE(u8 channel, int rx);
    void iTE6805_Set_DFE(u8 value, u8 channel, int rx);

    // Per receiver.
    struct State {
        u8 eq_done, event7, event5, eq_fail;
        u8 skew_pending, dfe_requested, result_flag, result_flag2;
        u8 hdmi1x, hdmi20, fast_link;
        u32 ber_sum[3];
        u8 chosen[3];
        u8 passed[3];
        u8 rec_ch01, rec_ch01_taken, rec_ch1, rec_ch1_taken, rec_ch2, rec_ch2_taken;
        u8 wait_count, check_count, check_interval;
        const u8* table;
        u8 trial;
        u8 ber[5][3][2];     // slot (trial index), channel, {low, high}
        u16 results[3][2];   // 0x63/0x64 and 0x6D/0x6E per channel
        u8 dfe[14][3][3];    // RS_Value index, channel, coefficient
        u8 best[3];
        u16 best_err[3];
    };
    State st[2]{};

private:
    u8 frontend_bank(int rx) const;
    void frontend(int rx);
    void bank0(int rx);
    void result_handling(int rx);
    void bit_error_step(int rx);
    void manual_step(int rx);

    ite6805_sys& m_root;
    ite6805_i2c_rdwr& m_io;
};
