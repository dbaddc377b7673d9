#include "video_io/ite6805_eq.h"

#include "video_io/ite6805_drv.h"
#include "video_io/ite6805_reg.h"
#include "video_io/ite6805_sys.h"

#include <cstdlib>
#include <cstring>

using namespace it6805;

const u8 ite6805_eq::iTE6805_EQ_Table_Hdmi20[4] = {0x01, 0x07, 0x0F, 0x3F};
const u8 ite6805_eq::iTE6805_EQ_Table_Hdmi10[4] = {0x01, 0x3F, 0x07, 0x0F};
const u8 ite6805_eq::RS_Value[14] = {0x7F, 0x7E, 0x3F, 0x3E, 0x1F, 0x1E, 0x0F,
                                     0x0E, 0x07, 0x06, 0x03, 0x02, 0x01, 0x00};

ite6805_eq::ite6805_eq(ite6805_sys& root, ite6805_i2c_rdwr& io) : m_root(root), m_io(io) {
    for (State& s : st) {
        s.check_interval = 1;
        s.table = iTE6805_EQ_Table_Hdmi10;
    }
}

u8 ite6805_eq::frontend_bank(int rx) const {
    return m_root.data[rx].CurrentPort ? BANK_FRONTEND_P1 : BANK_FRONTEND_P0;
}
void ite6805_eq::frontend(int rx) { m_root.drv().chgbank(frontend_bank(rx), rx); }
void ite6805_eq::bank0(int rx) { m_root.drv().chgbank(0, rx); }

// ---------------------------------------------------------------- events

void ite6805_eq::iTE6805_EQ_chg(u32 state, int rx) {
    u32& cur = m_root.data[rx].STATEEQ;
    if (cur == 7) return;
    State& s = st[rx];
    cur = state;
    std::memset(s.best, 0, sizeof s.best);
    switch (state) {
    case 0: iTE6805_Reset_EQ(rx); break;
    case 1: {
        s.fast_link = m_root.drv().iTE6805_Check_HDMI2(rx) || m_root.drv().iTE6805_Check_TMDS_Bigger_Than_1G(rx);
        frontend(rx);
        m_io.hdmirxset(0xA7, 0x40, s.fast_link ? 0x40 : 0x00, rx);
        break;
    }
    case 2: s.wait_count = 0; break;
    case 3: result_handling(rx); break;
    case 4: bit_error_step(rx); break;
    case 5: manual_step(rx); break;
    case 9:
        std::memset(s.ber_sum, 0, sizeof s.ber_sum);
        iTE6805_Report_EQ(rx);
        if (s.hdmi20) iTE6805_Report_Skew(rx);
        break;
    default: break;
    }
    bank0(rx);
}

void ite6805_eq::result_handling(int rx) {
    State& s = st[rx];
    if (s.eq_fail) {
        iTE6805_Report_EQ(rx);
        iTE6805_EQ_chg(4, rx);
        return;
    }
    if (!s.eq_done) return;
    if (s.skew_pending) {
        s.skew_pending = 0;
        iTE6805_Report_Skew(rx);
    } else {
        iTE6805_Report_EQ(rx);
        iTE6805_Report_Skew(rx);
        if (s.dfe_requested) {
            iTE6805_Set_EQResult_Flag(rx);
            s.dfe_requested = 0;
            if (s.result_flag) {
                frontend(rx);
                m_io.hdmirxset(0x22, 0x40, 0x00, rx);
                iTE6805_EQ_chg(5, rx);
                return;
            }
            for (u8 ch = 0; ch < 3; ++ch) iTE6805_Get_DFE(ch, rx);
            frontend(rx);
            m_io.hdmirxset(0x22, 0x40, 0x40, rx);
        }
    }
    iTE6805_EQ_chg(4, rx);
}

void ite6805_eq::bit_error_step(int rx) {
    State& s = st[rx];
    if (iTE6805_BitErr_Check(rx)) {
        s.skew_pending = 0;
        iTE6805_EQ_chg(9, rx);
        return;
    }
    const u8 slot = s.trial < 5 ? s.trial : 0;
    if (!s.ber[slot][0][1] && !s.ber[slot][1][1] && !s.ber[slot][2][1]) {
        // Nothing measured at all: move the front end and start over.
        frontend(rx);
        const u8 e5 = m_io.hdmirxrd(0xE5, rx);
        const u8 v = (e5 & 0x10) ? 0x00 : s.hdmi20 ? 0x10 : 0x1C;
        m_io.hdmirxset(0xE5, 0x1C, v, rx);
        iTE6805_EQ_chg(0, rx);
        return;
    }
    if (s.skew_pending) {
        iTE6805_Trigger_RSSKEW_EQ(rx);
        iTE6805_EQ_chg(2, rx);
    } else {
        iTE6805_EQ_chg(5, rx);
    }
}

void ite6805_eq::manual_step(int rx) {
    State& s = st[rx];
    ++s.trial;
    if (s.trial < 5) {
        const u8 value = s.table[s.trial - 1];
        frontend(rx);
        m_io.hdmirxwr(0x2C, 0x00, rx);
        m_io.hdmirxwr(0x2D, 0x07, rx);
        for (u8 ch = 0; ch < 3; ++ch) {
            if (s.passed[ch]) continue;
            frontend(rx);
            m_io.hdmirxwr(u8(0x27 + ch), u8(value | 0x80), rx);
            if (s.hdmi20 && !s.result_flag) iTE6805_Set_DFE(value, ch, rx);
        }
        iTE6805_EQ_chg(4, rx);
        return;
    }
    s.trial = 0;
    for (u8 ch = 0; ch < 3; ++ch) {
        if (s.passed[ch]) continue;
        bool found = false;
        for (u8 t = 1; t <= 4; ++t) {
            const u8 hi = s.ber[t][ch][1];
            if (!(hi & 0x80)) continue;
            const u16 errors = u16(s.ber[t][ch][0] + (hi & 0x7F) * 256);
            if (!found || errors < s.best_err[ch]) {
                found = true;
                s.best_err[ch] = errors;
                s.best[ch] = s.table[t - 1];
            }
        }
        if (found) s.chosen[ch] = s.best[ch];
    }
    if (s.hdmi20) {
        s.skew_pending = 1;
        iTE6805_Trigger_RSSKEW_EQ(rx);
        iTE6805_EQ_chg(2, rx);
        return;
    }
    frontend(rx);
    for (u8 ch = 0; ch < 3; ++ch) m_io.hdmirxwr(u8(0x27 + ch), u8(s.chosen[ch] | 0x80), rx);
    iTE6805_EQ_chg(iTE6805_BitErr_Check_Again(rx) ? 9 : 6, rx);
}

// ---------------------------------------------------------------- machine

void ite6805_eq::iTE6805_EQ_fsm(int rx) {
    State& s = st[rx];
    ite6805_drv& drv = m_root.drv();
    switch (m_root.data[rx].STATEEQ) {
    case 1:
        if (!drv.iTE6805_Check_CLK_Vaild(rx)) break;
        s.hdmi1x = s.hdmi20 = 0;
        if (drv.iTE6805_Check_HDMI2(rx)) {
            s.table = iTE6805_EQ_Table_Hdmi20;
            s.hdmi20 = 1;
            s.dfe_requested = 1;
            if (iTE6805_BitErr_Check(rx)) {
                iTE6805_EQ_chg(9, rx);
            } else {
                iTE6805_Trigger_SAREQ(rx);
                iTE6805_EQ_chg(2, rx);
            }
        } else {
            s.table = iTE6805_EQ_Table_Hdmi10;
            s.hdmi1x = 1;
            iTE6805_Trigger_EQ(rx);
            iTE6805_EQ_chg(2, rx);
        }
        break;
    case 2: {
        if (s.eq_fail || s.eq_done) {
            iTE6805_EQ_chg(3, rx);
            break;
        }
        const bool early = (s.event7 && s.hdmi1x) || (s.event5 && s.hdmi20);
        if (++s.wait_count < 31 && !early) break;
        s.wait_count = 0;
        s.event5 = s.event7 = 0;
        s.result_flag = 1;
        iTE6805_EQ_chg(5, rx);
        break;
    }
    case 6: iTE6805_EQ_chg(5, rx); break;
    case 9:
        if (++s.check_count < s.check_interval) break;
        s.check_count = 0;
        if (s.check_interval < 32) ++s.check_interval;
        if (s.hdmi20) {
            if (m_root.data[rx].VideoOutputOn) iTE6805_BitErr_Get(rx);
        } else if (s.hdmi1x && !iTE6805_BitErr_Check_Again(rx)) {
            iTE6805_EQ_chg(1, rx);
        }
        break;
    default: break;
    }
}

void ite6805_eq::iTE6805_hdmirx_port0_EQ_irq(int rx) {
    State& s = st[rx];
    bank0(rx);
    const u8 r07 = m_io.hdmirxrd(REG_INT_P0_EQ, rx);
    m_io.hdmirxwr(REG_INT_P0_EQ, u8(r07 & ~0x08), rx);
    auto stop = [&] {
        frontend(rx);
        m_io.hdmirxset(0x22, 0x04, 0x00, rx);
        bank0(rx);
    };
    if (r07 & 0x10) {
        s.eq_done = 1;
        stop();
    }
    if (r07 & 0x20) {
        s.event5 = 1;
        iTE6805_Set_EQResult_Flag(rx);
        if (s.result_flag2) {
            s.event5 = 0;
            s.eq_done = 1;
            iTE6805_EQ_chg(3, rx);
        }
        stop();
    }
    if (r07 & 0x40) {
        s.eq_fail = 1;
        stop();
    }
    if (r07 & 0x80) {
        s.event7 = 1;
        stop();
    }
}

// ---------------------------------------------------------------- sequences

void ite6805_eq::iTE6805_Trigger_EQ(int rx) {
    State& s = st[rx];
    s.eq_done = s.event7 = s.event5 = s.eq_fail = 0;
    bank0(rx);
    m_io.hdmirxwr(REG_INT_P0_EQ, 0xFF, rx);
    m_io.hdmirxwr(0x23, 0xB0, rx);
    m_root.delay1ms(10);
    m_io.hdmirxwr(0x23, 0xA0, rx);
    const bool above1G = m_root.drv().iTE6805_Check_TMDS_Bigger_Than_1G(rx);
    frontend(rx);
    m_io.hdmirxwr(0x20, above1G ? 0x36 : 0x1B, rx);
    m_io.hdmirxwr(0x21, above1G ? 0x0E : 0x03, rx);
    for (u8 r = 0x26; r <= 0x29; ++r) m_io.hdmirxwr(r, 0x00, rx);
    m_io.hdmirxwr(0x22, 0x38, rx);
    m_io.hdmirxset(0x22, 0x04, 0x04, rx);
    m_root.delay1ms(1);
    m_io.hdmirxset(0x22, 0x04, 0x00, rx);
    bank0(rx);
}

void ite6805_eq::iTE6805_Trigger_SAREQ(int rx) {
    State& s = st[rx];
    s.eq_done = s.event7 = s.event5 = s.eq_fail = 0;
    frontend(rx);
    m_io.hdmirxwr(0x20, 0x1B, rx);
    m_io.hdmirxwr(0x21, 0x03, rx);
    m_io.hdmirxset(0x20, 0x80, 0x00, rx);
    m_io.hdmirxwr(0x22, 0x00, rx);
    bank0(rx);
    m_io.hdmirxwr(REG_INT_P0_EQ, 0xFF, rx);
    m_io.hdmirxwr(0x23, 0xB0, rx);
    m_root.delay1ms(10);
    m_io.hdmirxwr(0x23, 0xA0, rx);
    m_root.drv().chgbank(m_root.data[rx].CurrentPort ? 4 : 0, rx);
    m_io.hdmirxwr(0x3B, 0x23, rx);
    frontend(rx);
    m_io.hdmirxwr(0x26, 0x00, rx);
    for (u8 r = 0x27; r <= 0x29; ++r) m_io.hdmirxwr(r, 0x1F, rx);
    m_io.hdmirxset(0x2C, 0xC0, 0xC0, rx);
    m_io.hdmirxset(0x2D, 0xF7, 0x20, rx);
    const u8 r30[6] = {0x8C, 0xB0, 0x43, 0x47, 0x4B, 0x53};
    for (u8 i = 0; i < 6; ++i) m_io.hdmirxwr(u8(0x30 + i), r30[i], rx);
    m_io.hdmirxset(0x36, 0xC0, 0x00, rx);
    m_io.hdmirxwr(0x37, 0x0B, rx);
    m_io.hdmirxwr(0x38, 0xF2, rx);
    m_io.hdmirxwr(0x39, 0x0D, rx);
    m_io.hdmirxset(0x4A, 0x80, 0x00, rx);
    m_io.hdmirxset(0x4B, 0x80, 0x00, rx);
    m_io.hdmirxset(0x54, 0x80, 0x80, rx);
    m_io.hdmirxwr(0x55, 0x40, rx);
    m_io.hdmirxset(0x22, 0x04, 0x04, rx);
    bank0(rx);
}

void ite6805_eq::iTE6805_Trigger_RSSKEW_EQ(int rx) {
    State& s = st[rx];
    s.eq_done = s.event7 = s.event5 = s.eq_fail = 0;
    frontend(rx);
    m_io.hdmirxset(0x22, 0x04, 0x00, rx);
    for (u8 ch = 0; ch < 3; ++ch) m_io.hdmirxwr(u8(0x27 + ch), u8(s.chosen[ch] | 0x80), rx);
    if (!s.result_flag) {
        for (u8 ch = 0; ch < 3; ++ch) iTE6805_Set_DFE(s.chosen[ch], ch, rx);
        frontend(rx);
        m_io.hdmirxset(0x4B, 0x80, 0x80, rx);
    }
    m_io.hdmirxwr(0x2D, 0x00, rx);
    m_io.hdmirxwr(0x30, 0x94, rx);
    m_io.hdmirxwr(0x31, 0xB0, rx);
    m_io.hdmirxset(0x37, 0x10, 0x10, rx);
    m_io.hdmirxset(0x54, 0x80, 0x00, rx);
    m_io.hdmirxset(0x22, 0x04, 0x04, rx);
    bank0(rx);
}

void ite6805_eq::iTE6805_Reset_EQ(int rx) {
    State& s = st[rx];
    std::memset(s.passed, 0, sizeof s.passed);
    s.rec_ch01 = s.rec_ch01_taken = s.rec_ch1 = s.rec_ch1_taken = s.rec_ch2 = s.rec_ch2_taken = 0;
    s.eq_done = s.event7 = s.event5 = s.eq_fail = 0;
    s.skew_pending = 0;
    s.wait_count = s.check_count = 0;
    s.trial = 0;
    s.check_interval = 32;
    frontend(rx);
    m_io.hdmirxwr(0x2C, 0x00, rx);
    m_io.hdmirxwr(0x2D, 0x07, rx);
    bank0(rx);
    m_io.hdmirxwr(REG_INT_P0_EQ, 0xFF, rx);
    m_io.hdmirxwr(0x23, 0xB0, rx);
    m_root.delay1ms(1);
    m_io.hdmirxwr(0x23, 0xA0, rx);
    frontend(rx);
    for (u8 r = 0x27; r <= 0x29; ++r) m_io.hdmirxwr(r, 0x9F, rx);
    m_io.hdmirxwr(0x22, 0x00, rx);
    m_io.hdmirxset(0x4B, 0x80, 0x00, rx);
    bank0(rx);
}

void ite6805_eq::iTE6805_Set_EQResult_Flag(int rx) {
    State& s = st[rx];
    s.result_flag = s.result_flag2 = 0;
    frontend(rx);
    for (u8 ch = 0; ch < 3; ++ch) {
        m_io.hdmirxset(REG_EQ_CHSEL, 0xC0, u8(ch * 0x40), rx);
        const u16 first = u16(m_io.hdmirxrd(REG_EQ_RES1_LO, rx) | m_io.hdmirxrd(REG_EQ_RES1_HI, rx) << 8);
        const u16 second = u16(m_io.hdmirxrd(REG_EQ_RES2_LO, rx) | m_io.hdmirxrd(REG_EQ_RES2_HI, rx) << 8);
        s.results[ch][0] = first;
        s.results[ch][1] = second;
        if (first == 0x3FFF) s.result_flag = 1;
    }
    bank0(rx);
}

void ite6805_eq::iTE6805_Report_EQ(int rx) {
    State& s = st[rx];
    frontend(rx);
    for (u8 ch = 0; ch < 3; ++ch) {
        s.chosen[ch] = m_io.hdmirxrd(u8(REG_EQ_VALUE0 + ch), rx) & 0x7F;
        m_root.data[rx].EQ_Value[ch] = s.chosen[ch];
    }
    bank0(rx);
}

void ite6805_eq::iTE6805_Report_Skew(int rx) {
    frontend(rx);
    m_io.hdmirxrd(0x74, rx);
    for (u8 ch = 0; ch < 3; ++ch) {
        m_io.hdmirxset(REG_EQ_CHSEL, 0xC0, u8(ch * 0x40), rx);
        for (u8 r = 0x75; r <= 0x7A; ++r) m_io.hdmirxrd(r, rx);
    }
    bank0(rx);
}

// ---------------------------------------------------------------- bit errors

void ite6805_eq::iTE6805_BitErr_Get(int rx) {
    State& s = st[rx];
    m_root.drv().chgbank(m_root.data[rx].CurrentPort ? 4 : 0, rx);
    m_io.hdmirxset(0x3B, 0x08, 0x08, rx);
    frontend(rx);
    m_io.hdmirxset(0x55, 0x80, 0x00, rx);
    m_io.hdmirxwr(REG_BER_SEL, 0x80, rx);
    m_root.delay1ms(100);
    m_io.hdmirxwr(REG_BER_SEL, 0x00, rx);
    const u8 slot = s.trial < 5 ? s.trial : 0;
    for (u8 ch = 0; ch < 3; ++ch) {
        if (ch) m_io.hdmirxwr(REG_BER_SEL, u8(ch * 0x20), rx);
        s.ber[slot][ch][0] = m_io.hdmirxrd(REG_BER_LO, rx);
        s.ber[slot][ch][1] = m_io.hdmirxrd(REG_BER_HI, rx);
    }
    bank0(rx);
    if (m_root.data[rx].STATEEQ == 9)
        for (u8 ch = 0; ch < 3; ++ch)
            s.ber_sum[ch] += u32(s.ber[slot][ch][0] + (s.ber[slot][ch][1] & 0x7F) * 256);
}

int ite6805_eq::iTE6805_BitErr_Check(int rx) {
    State& s = st[rx];
    iTE6805_BitErr_Get(rx);
    const u8 slot = s.trial < 5 ? s.trial : 0;
    for (u8 ch = 0; ch < 3; ++ch)
        if (s.ber[slot][ch][1] == 0x80 && s.ber[slot][ch][0] < 240) s.passed[ch] = 1;
    if (s.passed[0] && s.passed[1] && s.passed[2]) {
        frontend(rx);
        m_io.hdmirxset(0x22, 0x08, 0x00, rx);
        bank0(rx);
        m_io.hdmirxwr(REG_INT_P0_EQ, 0xF0, rx);
        m_io.hdmirxwr(REG_INT_P1_EQ, 0xF0, rx);
        return 1;
    }
    if (s.passed[0] && s.passed[1] && !s.passed[2] && !s.rec_ch01_taken) {
        s.rec_ch01 = s.trial;
        s.rec_ch01_taken = 1;
    }
    if (s.passed[1] && !s.rec_ch1_taken) {
        s.rec_ch1 = s.trial;
        s.rec_ch1_taken = 1;
    }
    if (s.passed[2] && !s.rec_ch2_taken) {
        s.rec_ch2 = s.trial;
        s.rec_ch2_taken = 1;
    }
    if (s.rec_ch01_taken || s.rec_ch1_taken || s.rec_ch2_taken) return 0;
    return iTE6805_BitErr_Check_For_Parity_Error(rx);
}

int ite6805_eq::iTE6805_BitErr_Check_For_Parity_Error(int rx) {
    const bool p1 = m_root.data[rx].CurrentPort;
    bank0(rx);
    const bool status = m_io.hdmirxrd(p1 ? REG_P1_STATUS : REG_P0_STATUS, rx) == 0xBF;
    const bool locks = (m_io.hdmirxrd(p1 ? REG_P1_STATUS2 : REG_P0_STATUS2, rx) & ST2_LOCKS) == ST2_LOCKS;
    m_root.drv().chgbank(p1 ? 4 : 0, rx);
    m_io.hdmirxwr(REG_AUD_ERR, 0xFF, rx);
    m_io.hdmirxwr(REG_AUD_PARITY, 0xFF, rx);
    const bool clean = m_io.hdmirxrd(REG_AUD_ERR, rx) == 0 && m_io.hdmirxrd(REG_AUD_PARITY, rx) == 0;
    bank0(rx);
    const bool scdt = m_root.drv().iTE6805_Check_SCDT(rx);
    return status && locks && clean && scdt;
}

int ite6805_eq::iTE6805_BitErr_Check_Again(int rx) {
    State& s = st[rx];
    iTE6805_BitErr_Get(rx);
    const u8 slot = s.trial < 5 ? s.trial : 0;
    bool bad[3];
    for (u8 ch = 0; ch < 3; ++ch) {
        bad[ch] = s.ber[slot][ch][1] != 0x80 || s.ber[slot][ch][0] >= 241;
        if (bad[ch]) s.passed[ch] = 0;
    }
    const int r = (!bad[0] && !bad[1]) ? 1 : 0;
    if (!bad[2]) {
        if (s.passed[0] || s.passed[2]) return r;
        return !s.passed[1] ? iTE6805_BitErr_Check_For_Parity_Error(rx) : r;
    }
    if (s.passed[0]) return 0;
    return !s.passed[1] ? iTE6805_BitErr_Check_For_Parity_Error(rx) : 0;
}

// ---------------------------------------------------------------- DFE

u8 ite6805_eq::iTE6805_Find_indexof_DEF(u8 value) {
    for (u8 i = 0; i < 14; ++i)
        if (RS_Value[i] == value) return i;
    return 4;
}

void ite6805_eq::iTE6805_Get_DFE(u8 channel, int rx) {
    State& s = st[rx];
    if (s.result_flag || channel > 2) return;
    frontend(rx);
    m_io.hdmirxset(REG_EQ_CHSEL, 0xC0, u8(channel * 0x40), rx);
    m_io.hdmirxrd(u8(REG_EQ_VALUE0 + channel), rx);
    // Each coefficient is a base (higher when a exceeds the other reading)
    // plus half the difference, held at the top of its range.
    auto coeff = [](int a, int b, u8 baseHi, u8 baseLo, int limit, u8 satHi, u8 satLo) {
        const int half = std::abs(a - b) / 2;
        if (half > limit) return a > b ? satHi : satLo;
        return u8((a > b ? baseHi : baseLo) + half);
    };
    for (u8 i = 0; i < 14; ++i) {
        m_io.hdmirxset(REG_DFE_INDEX, 0x0F, i, rx);
        const int a = m_io.hdmirxrd(REG_DFE_A, rx);
        const int b = m_io.hdmirxrd(REG_DFE_A + 1, rx);
        const int c = m_io.hdmirxrd(REG_DFE_A + 2, rx);
        const int d = m_io.hdmirxrd(REG_DFE_A + 3, rx);
        s.dfe[i][channel][0] = coeff(a, b, 0x60, 0x40, 31, 0x7F, 0x5F);
        s.dfe[i][channel][1] = coeff(a, c, 0x30, 0x20, 15, 0x3F, 0x2F);
        s.dfe[i][channel][2] = coeff(a, d, 0x18, 0x10, 7, 0x1F, 0x17);
    }
    bank0(rx);
}

void ite6805_eq::iTE6805_Set_DFE(u8 value, u8 channel, int rx) {
    if (channel > 2) return;
    const u8 i = iTE6805_Find_indexof_DEF(value);
    frontend(rx);
    for (u8 k = 0; k < 3; ++k) m_io.hdmirxwr(u8(0x4B + 3 * channel + k), st[rx].dfe[i][channel][k], rx);
    bank0(rx);
}
