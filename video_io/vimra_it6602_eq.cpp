// Receive equaliser of the IT6602 driver: recovery on link errors, the
// amplitude-based setting and the search over three equaliser values.
#include "video_io/it6602_reg.h"
#include "video_io/it6602_tables.h"
#include "video_io/vimra_it6602.h"

#include <algorithm>

using namespace it6602;
namespace R = it6602reg;

namespace {

const auto& kEq = R::kPort;
using EqRegs = R::PortRegs;

constexpr u8 kAllValid = 0x3F;
constexpr u8 kPolarityToggles = 16;
constexpr u8 kScoreStart = 10;
constexpr u8 kScoreNoSync = 138;
constexpr u8 kNoScdt = 0x80, kForcedRestart = 0x40;

// The table value a search state tries: 0 up to 60, 1 up to 70, 2 above.
int valueIndex(u8 state) { return state < 61 ? 0 : state < 71 ? 1 : 2; }

}  // namespace

void vimra_it6602::DisableOverWriteRS(int port) {
    EqBook& b = m_eq[m_in][port];
    b.overwriteDone = 0;
    b.ampValid = 0;
    b.eqValueSet = 0;
    hdmirxwr_it6602(kEq[port].overwrite, 0x00);
    hdmirxset_it6602(kEq[port].eqEnable, 0x20, 0x00);
    IT6602_dev_data& d = dev();
    d.EQPort[port].f_manualEQadjust = 0;
    d.m_ucEccCount[port] = 0;
    d.m_ucDeskewCount[port] = 0;
    d.m_ucCountDown[port] = 0;
    eventClear(port, EVENT_COUNTDOWN | EVENT_TMDS_CHECK | EVENT_EQ_DETECT);
    d.EQPort[port].ucEQState = kEqIdle;
}

void vimra_it6602::hdmirx_ECCTimingOut(int port) {
    IT6602HPDCtrl(port, false);
    hdmirxset_it6602(kEq[port].afeReset, 0x0F, 0x0F);
    delay1ms(300);
    hdmirxset_it6602(kEq[port].afeReset, 0x0F, 0x00);
    IT6602HPDCtrl(port, true);
}

void vimra_it6602::TMDSCheck(int port) {
    const u32 clock = tmdsClockOf(port);
    if (at94()) {
        if (port == 0) {
            chgbank_it6602(1);
            hdmirxset_it6602(R::B1_IPLL_P0, 0x20, 0x00);
            hdmirxset_it6602(R::B1_PLL_CTRL, 0x07, 0x04);
            chgbank_it6602(0);
        }
        hdmirxwr_it6602(kEq[port].deskew, clock >= 35 && clock <= 160 ? 0x3F : 0x00);
    }
    dev().m_ucCountDown[port] = 3;
    eventSet(port, EVENT_COUNTDOWN | EVENT_EQ_DETECT);
}

void vimra_it6602::linkEvents(int port, u8 bits) {
    IT6602_dev_data& d = dev();
    const bool done = m_eq[m_in][port].overwriteDone;
    bool bitBDone = false;
    if (bits & R::port_int::LINK_A) {
        d.m_ucEccCount[port] = 0;
        const bool countdown = eventIs(port, EVENT_COUNTDOWN);
        const bool tmds = eventIs(port, EVENT_TMDS_CHECK);
        if (done) {
            if (tmds) {
                eventSet(port, EVENT_COUNTDOWN);
                ++d.m_ucCountDown[port];
            }
            return;
        }
        if (countdown && tmds) {
            ++d.m_ucCountDown[port];
        } else if (countdown) {
            if (bits & R::port_int::LINK_B) {
                d.m_ucCountDown[port] = 0;
                eventClear(port, EVENT_COUNTDOWN);
                eventSet(port, EVENT_TMDS_CHECK);
                bitBDone = true;
            }
        } else {
            hdmirxwr_it6602(kEq[port].overwrite, 0x00);
            d.m_ucCountDown[port] = 3;
            eventSet(port, EVENT_COUNTDOWN | EVENT_TMDS_CHECK);
        }
    }
    if ((bits & R::port_int::LINK_B) && !bitBDone && !done) {
        d.m_ucCountDown[port] = 0;
        eventClear(port, EVENT_COUNTDOWN);
        eventSet(port, EVENT_TMDS_CHECK);
    }
}

void vimra_it6602::AmpValidCheck(int port) {
    EqBook& b = m_eq[m_in][port];
    chgbank_it6602(1);
    const u8 valid = hdmirxrd_it6602(kEq[port].b1AmpValid);
    for (int c = 0; c < 3; ++c) {
        const u8 bits = u8(0x03 << (2 * c));
        if ((valid & bits) != bits) continue;
        b.amp[c] = hdmirxrd_it6602(u8(kEq[port].b1Amp + c));
        b.ampValid |= bits;
    }
    chgbank_it6602(0);
    if (b.ampValid == kAllValid) {
        OverWriteAmpValue2EQ(port);
        HDMIStartEQDetect(port);
    }
}

void vimra_it6602::OverWriteAmpValue2EQ(int port) {
    EqBook& b = m_eq[m_in][port];
    if (b.ampValid != kAllValid) return;
    b.overwriteDone = 1;
    hdmirxset_it6602(kEq[port].eqEnable, 0x20, 0x20);
    for (int c = 0; c < 3; ++c) {
        const u8 amp = b.amp[c] & 0x7F;
        hdmirxwr_it6602(u8(kEq[port].eqValue + c), amp < 3 ? 3 : amp);
    }
    eventClear(port, EVENT_COUNTDOWN | EVENT_TMDS_CHECK | EVENT_EQ_DETECT);
    hdmirxwr_it6602(kEq[port].overwrite, 0x00);
    hdmirxwr_it6602(R::INT_EQ, kEq[port].ampAck);
}

void vimra_it6602::TogglePolarity(int port) {
    if (at94() && port != dev().m_ucCurrentHDMIPort) return;
    chgbank_it6602(1);
    const u8 ctrl = port == 0 ? R::B1_POL_P0 : R::B1_POL_P1;
    const u8 bits = port == 0 || at94() ? R::B1_POL_BITS_A : R::B1_POL_BITS_B;
    hdmirxset_it6602(ctrl, 0x10, 0x00);
    hdmirxwr_it6602(bits, hdmirxrd_it6602(bits) ^ 0x80);
    hdmirxset_it6602(ctrl, 0x10, 0x10);
    chgbank_it6602(0);
    hdmirxwr_it6602(kEq[port].overwrite, 0x38);
    hdmirxset_it6602(kEq[port].overwrite, 0x04, 0x04);
    hdmirxset_it6602(kEq[port].overwrite, 0x04, 0x00);
}

void vimra_it6602::hdmirx_INT_EQ_FAIL(int port) {
    IT6602_dev_data& d = dev();
    if (d.EQPort[port].f_manualEQadjust) return;
    if (!(hdmirxrd_it6602(kEq[port].status) & R::status::PWR5V)) return;
    if (eventIs(port, EVENT_TMDS_CHECK)) {
        if (!eventIs(port, EVENT_COUNTDOWN)) {
            hdmirxwr_it6602(kEq[port].overwrite, 0x00);
            d.m_ucCountDown[port] = 3;
            eventSet(port, EVENT_COUNTDOWN | EVENT_TMDS_CHECK);
        } else {
            ++d.m_ucCountDown[port];
        }
        return;
    }
    u8& toggles = m_toggles[m_in][port];
    if (m_eq[m_in][port].ampValid != kAllValid && toggles < kPolarityToggles) {
        AmpValidCheck(port);
        if (m_eq[m_in][port].ampValid != kAllValid) {
            TogglePolarity(port);
            ++toggles;
        }
        return;
    }
    if (toggles >= kPolarityToggles) {
        hdmirxwr_it6602(kEq[port].overwrite, 0x00);
        HDMIStartEQDetect(port);
    }
}

void vimra_it6602::eqInterrupt(u8 d0) {
    namespace E = R::eq_int;
    bool ampReady0 = false;
    if (d0 & E::P0_AMP_READY) {
        ampReady0 = true;
        hdmirxwr_it6602(R::INT_EQ, 0x30);
        AmpValidCheck(0);
        HDMIStartEQDetect(0);
        if (d0 & E::P0_EQ_FAIL) {
            hdmirxwr_it6602(R::INT_EQ, 0x20);
            hdmirx_INT_EQ_FAIL(0);
        }
    } else if (d0 & E::P1_AMP_READY) {
        hdmirxwr_it6602(R::INT_EQ, 0xC0);
        AmpValidCheck(1);
    } else if (d0 & E::P0_EQ_FAIL) {
        hdmirxwr_it6602(R::INT_EQ, 0x20);
        hdmirx_INT_EQ_FAIL(0);
    }
    if (!ampReady0 && (d0 & E::P1_EQ_FAIL)) {
        hdmirxwr_it6602(R::INT_EQ, 0x80);
        hdmirx_INT_EQ_FAIL(1);
    }
}

void vimra_it6602::HDMIStartEQDetect(int port) {
    IT6602_eq_data& eq = dev().EQPort[port];
    if (eq.ucEQState != kEqIdle) return;
    HDMISwitchEQstate(port, port == dev().m_ucCurrentHDMIPort ? 0 : 21);
    eq.f_manualEQadjust = 1;
    HDMIAdjustEQ(port);
    for (u8& score : eq.ErrorCount) score = kScoreStart;
}

void vimra_it6602::HDMISwitchEQstate(int port, u8 state) {
    IT6602_eq_data& eq = dev().EQPort[port];
    eq.ucEQState = state;
    if (state == 30 || state == 60 || state == 70)
        HDMISetEQValue(port, state == 30 ? 0 : state == 60 ? 1 : 2);
    else if (state != 80)
        IT6602_VideoContentOff(port, false);
    eq.ucAuthR0 = 0;
    eq.ucECCvalue = 0;
    eq.ucECCfailCount = 0;
}

void vimra_it6602::HDMISetEQValue(int port, int index) {
    m_eq[m_in][port].eqValueSet = 1;
    hdmirxset_it6602(kEq[port].eqEnable, 0x20, 0x20);
    hdmirxwr_it6602(kEq[port].eqValue, IT6602EQTable[index]);
}

void vimra_it6602::HDMIAdjustEQ(int port) {
    IT6602_dev_data& d = dev();
    IT6602_eq_data& eq = d.EQPort[port];
    const u8 s = eq.ucEQState;
    if (s == kEqIdle) {
        eq.f_manualEQadjust = 0;
        return;
    }
    if (s == 81 || s == 156) {
        eq.f_manualEQadjust = 0;
        HDMISwitchEQstate(port, kEqIdle);
        if (port == d.m_ucCurrentHDMIPort) d.m_VideoCountingTimer = 0;
        return;
    }
    if (s <= 19) {
        HDMICheckSCDTon(port);
    } else if (s == 80) {
        HDMIJudgeECCvalue(port);
        eq.ucEQState = 156;
        return;
    } else if (s <= 79) {
        if (s == 30 || s == 60 || s == 70) HDMIJudgeECCvalue(port);
        if (eq.ucEQState != 155) HDMIPollingErrorCount(port);
    }
    ++eq.ucEQState;
}

void vimra_it6602::HDMICheckSCDTon(int port) {
    IT6602_dev_data& d = dev();
    if (port != d.m_ucCurrentHDMIPort) return;
    IT6602_eq_data& eq = d.EQPort[port];
    const EqRegs& P = kEq[port];
    const u8 status = hdmirxrd_it6602(P.status);
    const u8 err = hdmirxrd_it6602(P.errFirst);
    hdmirxwr_it6602(P.errFirst, err);
    if ((status & 0x89) == 0x09) eq.ucECCvalue |= kNoScdt;
    if (err & 0xC0) {
        ++eq.ucAuthR0;
        IT6602_VideoContentOff(port, true);
        if (eq.ucAuthR0 % 3 == 0 && hdmirxrd_it6602(P.deskew) == 0) hdmirxwr_it6602(P.deskew, 0x3F);
        if (eq.ucEQState == 19 && (err & 0xC0) == 0xC0) {
            hdmirx_ECCTimingOut(port);
            HDMISwitchEQstate(port, 155);
            return;
        }
    }
    if (eq.ucEQState != 19) return;
    const EqBook& b = m_eq[m_in][port];
    const bool strong = b.amp[0] > 14 && b.amp[1] > 14 && b.amp[2] > 14;
    if (!(eq.ucECCvalue & kNoScdt) && (b.eqValueSet || strong))
        HDMISwitchEQstate(port, 155);
    else
        HDMISwitchEQstate(port, 20);
}

void vimra_it6602::HDMIPollingErrorCount(int port) {
    IT6602_dev_data& d = dev();
    IT6602_eq_data& eq = d.EQPort[port];
    const EqRegs& P = kEq[port];
    u8 e[5];
    for (int i = 0; i < 5; ++i) e[i] = hdmirxrd_it6602(u8(P.errFirst + i));
    for (int i = 0; i < 5; ++i) hdmirxwr_it6602(u8(P.errFirst + i), i == 1 ? (e[i] & 0xE0) : e[i]);
    const bool selected = port == d.m_ucCurrentHDMIPort;
    const bool noSync = selected && !(hdmirxrd_it6602(P.status) & R::status::SCDT);
    if (noSync) {
        e[0] = 0xFF;
        eq.ucECCvalue |= kNoScdt;
    }
    const bool ffNow = e[2] == 0xFF || e[3] == 0xFF;
    if (ffNow) {
        if (++eq.ucECCfailCount >= 4) {
            if (eq.ucEQState > 30 && hdmirxrd_it6602(u8(P.errFirst + 2)) == 0xFF)
                hdmirxwr_it6602(P.deskew, hdmirxrd_it6602(P.deskew) ? 0x00 : 0x3F);
            hdmirxset_it6602(P.afeReset, 0x0C, 0x0C);
            hdmirxset_it6602(P.afeReset, 0x0C, 0x00);
            eq.ucECCfailCount = 0;
            eq.ucECCvalue |= kForcedRestart;
        }
    } else {
        eq.ucECCfailCount = 0;
    }
    if (e[0] == 0) {
        eq.ucECCvalue = 0;
        return;
    }
    ++eq.ucAuthR0;
    ++eq.ucECCvalue;
    if (!(eq.ucECCvalue & 0x0C)) return;
    if (!(eq.ucECCvalue & kForcedRestart) && ffNow) return;
    const u8 score = (noSync || (eq.ucECCvalue & kNoScdt)) ? kScoreNoSync : kScoreStart;
    const u8 s = eq.ucEQState;
    const int index = valueIndex(s);
    eq.ErrorCount[index] = score;
    if (index == 2) JudgeBestEQ(port);
    HDMISwitchEQstate(port, s < 30 ? 30 : s < 60 ? 60 : s < 70 ? 70 : 80);
}

void vimra_it6602::HDMIJudgeECCvalue(int port) {
    IT6602_eq_data& eq = dev().EQPort[port];
    const u8 s = eq.ucEQState;
    eq.ErrorCount[valueIndex(s)] = eq.ucAuthR0;
    if (eq.ucAuthR0 >= 6) {
        if (s == 30 || s == 60 || s == 70 || s == 80) HDMISwitchEQstate(port, s);
    } else {
        HDMISwitchEQstate(port, 155);
    }
    eq.ucAuthR0 = 0;
    eq.ucECCvalue = 0;
    eq.ucECCfailCount = 0;
}

void vimra_it6602::JudgeBestEQ(int port) {
    const EqRegs& P = kEq[port];
    if (!(hdmirxrd_it6602(P.eqValue) & 0x80)) {
        OverWriteAmpValue2EQ(port);
        return;
    }
    const u8* score = dev().EQPort[port].ErrorCount;
    int best;
    if (score[2] <= std::min(score[0], score[1]))
        best = 2;
    else if (score[0] < score[1])
        best = 0;
    else
        best = 1;
    hdmirxset_it6602(P.eqEnable, 0x20, 0x20);
    hdmirxwr_it6602(P.eqValue, IT6602EQTable[best]);
}

void vimra_it6602::IT6602_VideoContentOff(int port, bool off) {
    IT6602_dev_data& d = dev();
    if (port != d.m_ucCurrentHDMIPort) return;
    if (off) {
        hdmirxset_it6602(R::VID_OUT, 0xC0, 0xC0);
        hdmirxset_it6602(R::OUT_CTRL, 0x20, 0x20);
        hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
        d.m_bVideoContentOff = 1;
        return;
    }
    if (d.m_VState != VSTATE_VideoOn || !d.m_bVideoContentOff) return;
    hdmirxset_it6602(R::VID_OUT, 0x01, 0x00);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x0E);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
    hdmirxset_it6602(R::VID_OUT, 0xC0, 0xC0);
    hdmirxset_it6602(R::VID_OUT, 0xC0, 0x40);
    d.m_bVideoContentOff = 0;
}
