#include "video_io/ite6805_sys.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "video_io/ite6805_cec_drv.h"
#include "video_io/ite6805_cec_feture.h"
#include "video_io/ite6805_cec_sys.h"
#include "video_io/ite6805_drv.h"
#include "video_io/ite6805_eq.h"
#include "video_io/ite6805_reg.h"
#include "video_io/source_map.h"
#include "video_io/vimrasource.h"

#include <cstring>

using namespace it6805;

namespace {
const char* const kStateNames[] = {"STATEV_VideoOff", "STATEV_Unplug",    "STATEV_WaitSync",
                                   "STATEV_CheckSync", "STATEV_VidStable", "STATEV_Unknown"};
const char* stateName(STATEV_Type s) { return unsigned(s) <= STATEV_Unknown ? kStateNames[s] : "?"; }
}  // namespace

ite6805_sys::ite6805_sys(vimrasource& source) : m_source(source) {
    m_io = std::make_unique<ite6805_i2c_rdwr>(fd);
    m_drv = std::make_unique<ite6805_drv>(*this, *m_io);
    m_cec_sys = std::make_unique<ite6805_cec_sys>(*this, *m_io);
    m_eq = std::make_unique<ite6805_eq>(*this, *m_io);
    m_cec_drv = std::make_unique<ite6805_cec_drv>(*this, *m_io);
    m_cec_feture = std::make_unique<ite6805_cec_feture>(*this);
    for (int rx = 0; rx < 2; ++rx) {
        clear_counters(rx);
        data[rx].STATEV = STATEV_Unknown;
        data[rx].LastOutputMode = 7;
        data[rx].Flag_VidSelector = 1;
    }
}

ite6805_sys::~ite6805_sys() = default;

void ite6805_sys::delay1ms(u32 ms) { Utils::sleep_ms(ms); }

void ite6805_sys::clear_counters(int rx) {
    count[rx] = iTE6805_COUNT{};
    count[rx].aud_first_read = 1;
    run_state[rx] = 0;
}

void ite6805_sys::ite6805_sys_reset_init() {
    for (int rx = 0; rx < 2; ++rx) {
        clear_counters(rx);
        m_cec_sys->reset_bookkeeping(rx);
    }
}

void ite6805_sys::set_presence(int rx, bool present) {
    vimrasource::reg_assign_bit(source_reg::kChips, source_reg::kIt6805Bit[rx], present);
}

// ---------------------------------------------------------------- main loop

void ite6805_sys::iTE6805_FSM(int rx) {
    if (rx < 0 || rx > 1) return;
    if (run_state[rx] == 0) {
        const u8 id0 = m_io->hdmirxrd(REG_ID0, rx);
        const u8 id1 = m_io->hdmirxrd(REG_ID1, rx);
        const u8 id2 = m_io->hdmirxrd(REG_ID2, rx);
        const u8 id3 = m_io->hdmirxrd(REG_ID3, rx);
        if (id0 == ID0 && id1 == ID1 && (id2 & ~ID2_IGNORED) == ID2 && id3 == ID3) {
            set_presence(rx, true);
            m_drv->iTE6805_Init_fsm(rx);
            run_state[rx] = 1;
        } else {
            set_presence(rx, false);
            ++identify_miss[rx];
        }
        return;
    }
    iTE6805_MainBody(rx);
}

void ite6805_sys::iTE6805_MainBody(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_Port_Reset_Body(rx);
    iTE6805_Port_Select_Body(rx);
    if (d.STATEV > STATEV_Unplug) {
        iTE6805_hdmirx_port0_SYS_irq(rx);
        m_eq->iTE6805_hdmirx_port0_EQ_irq(rx);
        iTE6805_hdmirx_common_irq(rx);
    }
    m_cec_sys->iTE6805_hdmirx_CEC_irq(rx);
    m_eq->iTE6805_EQ_fsm(rx);
    iTE6805_vid_fsm(rx);
    iTE6805_aud_fsm(rx);

    if (rev_10_E0_and_above(rx)) {
        if (d.VideoOutputOn) d.AVMuteStatus = m_drv->iTE6805_Check_AVMute(rx);
        return;
    }
    if (d.VideoOutputOn) {
        d.AVMuteStatus = m_drv->iTE6805_Check_AVMute(rx);
        m_drv->chgbank(5, rx);
        if (m_io->hdmirxrd(0xC9, rx) & 0x01) m_io->hdmirxwr(0xC9, 0x78, rx);
        m_drv->chgbank(0, rx);
    } else if (d.STATEV != STATEV_VidStable) {
        m_drv->chgbank(5, rx);
        if (!(m_io->hdmirxrd(0xC9, rx) & 0x01)) m_io->hdmirxwr(0xC9, 0x79, rx);
        m_drv->chgbank(0, rx);
    }
}

void ite6805_sys::iTE6805_Set_HPD_Ctrl(int port, int level, int rx) {
    if (rx < 0 || rx > 1) return;
    m_drv->iTE6805_Set_HPD_Ctrl(u8(port), u8(level ? 1 : 0), rx);
}

// ---------------------------------------------------------------- video

void ite6805_sys::iTE6805_vid_chg(STATEV_Type state, int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_COUNT& c = count[rx];
    d.STATEV = state;
    if (state != m_old_statev[rx]) {
        debugPrintf("[iTE6805_vid_chg] dev_id:%d old_statev: %s ==> \n%s\n", rx, stateName(m_old_statev[rx]),
                    stateName(state));
        if (m_old_statev[rx] == STATEV_VidStable)
            m_source.update_hdminfo(4 + rx, [](PI_HDMI_INFO& info) { info.stable = 0; });
        m_old_statev[rx] = state;
    }
    switch (state) {
    case STATEV_VideoOff:
        m_drv->iTE6805_Set_HPD_Ctrl(0, 0, rx);
        m_drv->iTE6805_Set_HPD_Ctrl(1, 0, rx);
        break;
    case STATEV_Unplug:
        m_drv->chgbank(d.CurrentPort ? BANK_FRONTEND_P1 : BANK_FRONTEND_P0, rx);
        m_io->hdmirxset(0xE5, 0x1C, 0x00, rx);
        m_drv->chgbank(0, rx);
        d.VideoOutputOn = 0;
        d.DownScale = 0;
        d.Is420 = 0;
        c.last_avi = 0;
        std::memset(c.aud_cs, 0, sizeof c.aud_cs);
        c.int6_count = 0;
        std::memset(c.reg06_count, 0, sizeof c.reg06_count);
        c.clk_stable_count = 0;
        c.ber_check_armed = 1;
        m_io->hdmirxwr(REG_INT_P0_CLK, 0x04, rx);
        m_io->hdmirxwr(REG_INT_P1_CLK, 0x04, rx);
        m_io->hdmirxwr(0x22, 0x12, rx);
        m_io->hdmirxwr(0x22, 0x10, rx);
        m_io->hdmirxset(0x23, 0xFD, 0xAD, rx);
        m_io->hdmirxset(0x23, 0xFD, 0xA0, rx);
        m_io->hdmirxset(0x2B, 0xFD, 0xAD, rx);
        m_io->hdmirxset(0x2B, 0xFD, 0xA0, rx);
        m_cec_sys->iTE6805_CEC_INIT(rx);
        m_drv->iTE6805_Set_Video_Tristate(true, rx);
        break;
    case STATEV_WaitSync:
        d.VideoOutputOn = 0;
        c.int6_count = 0;
        c.clk_stable_count = 0;
        m_drv->iTE6805_Set_Video_Tristate(true, rx);
        break;
    case STATEV_CheckSync:
        c.checksync_count = 6;
        break;
    case STATEV_VidStable:
        m_drv->chgbank(0, rx);
        m_io->hdmirxwr(0x90, 0x8F, rx);
        m_drv->iTE6805_Get_AVIInfoFrame_Info(rx);
        m_drv->iTE6805_Get_VID_Info(rx);
        m_drv->iTE6805_Check_ColorChange_Update(rx);
        m_drv->iTE6807_Video_Output_Setting(rx);
        m_drv->iTE6805_Set_1B0_By_PixelClock(rx);
        iTE6805_Enable_Video_Output(rx);
        iTE6805_update_hdmi(rx);
        m_drv->iTE6805_Set_AVMute(true, rx);
        iTE6805_aud_chg(STATEA_RequestAudio, rx);
        m_drv->iTE6805_Set_Video_Tristate(false, rx);
        d.VideoOutputOn = 1;
        if (d.STATEEQ == 7) d.STATEEQ = 9;
        iTE6805_Show_VID_Info(rx);
        break;
    default: break;
    }
}

void ite6805_sys::iTE6805_vid_fsm(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_COUNT& c = count[rx];
    switch (d.STATEV) {
    case STATEV_Unplug:
        if (m_drv->iTE6805_Check_5V_State(d.CurrentPort, rx)) iTE6805_INT_5VPWR_Chg(d.CurrentPort, rx);
        break;
    case STATEV_WaitSync:
        if (m_drv->iTE6805_Check_SCDT(rx)) {
            iTE6805_vid_chg(STATEV_CheckSync, rx);
        } else if (m_drv->iTE6805_Check_CLK_Stable(rx)) {
            if (++c.clk_stable_count > 6) {
                c.clk_stable_count = 0;
                m_drv->iTE6805_Set_47_By_TMDS(rx);
            }
        }
        break;
    case STATEV_CheckSync: {
        if (c.checksync_count == 0) {
            iTE6805_vid_chg(STATEV_VidStable, rx);
            break;
        }
        // The AVI colour byte must hold still for the whole countdown.
        m_drv->chgbank(2, rx);
        const u8 avi = m_io->hdmirxrd(REG_AVI_DB1, rx);
        m_drv->chgbank(0, rx);
        if (c.checksync_count == 6 || avi == c.last_avi) {
            c.last_avi = avi;
            --c.checksync_count;
        } else {
            c.last_avi = avi;
        }
        break;
    }
    case STATEV_VidStable: {
        if (c.color_change_pending) {
            m_drv->iTE6805_Get_AVIInfoFrame_Info(rx);
            m_drv->iTE6805_Check_ColorChange_Update(rx);
            m_drv->iTE6805_Get_VID_Info(rx);
            iTE6805_Show_VID_Info(rx);
            m_drv->iTE6807_Video_Output_Setting(rx);
            m_drv->iTE6805_Set_1B0_By_PixelClock(rx);
            iTE6805_Enable_Video_Output(rx);
            c.color_change_pending = 0;
            m_drv->iTE6805_Set_Video_Tristate(false, rx);
        }
        m_drv->chgbank(0, rx);
        if ((m_io->hdmirxrd(0x4F, rx) & 0x20) && !m_drv->iTE6805_Check_AVMute(rx))
            m_drv->iTE6805_Set_AVMute(false, rx);
        if (++c.stable_tick >= 50) {
            c.stable_tick = 0;
            if (c.aud_fs_mismatch < 6) c.aud_fs_mismatch = 0;
        }
        if (!(m_io->hdmirxrd(REG_AUD_FORCE, rx) & 0x40)) {
            const u8 first = m_io->hdmirxrd(REG_AUD_FS, rx);
            const u8 second = m_io->hdmirxrd(REG_AUD_FS, rx);
            d.AudioSampleFreq = u8(((first >> 2) & 0x30) | (second & 0x0F));
        }
        break;
    }
    default: break;
    }
}

// ---------------------------------------------------------------- audio

void ite6805_sys::iTE6805_aud_chg(STATEA_Type state, int rx) {
    iTE6805_DATA& d = data[rx];
    if (d.STATEA == state) return;
    d.STATEA = state;
    switch (state) {
    case STATEA_AudioOff:
    case STATEA_RequestAudio:
        count[rx].aud_fs_mismatch = 0;
        m_drv->chgbank(0, rx);
        m_io->hdmirxset(REG_AUD_FORCE, 0x40, 0x00, rx);
        m_drv->iTE6805_Set_Audio_Tristate(true, rx);
        break;
    case STATEA_WaitForReady:
        m_drv->chgbank(0, rx);
        m_io->hdmirxset(0x8C, 0x10, 0x10, rx);
        m_io->hdmirxset(0x8C, 0x10, 0x00, rx);
        count[rx].aud_ready_count = 4;
        break;
    case STATEA_AudioOn:
        m_drv->iTE6805_Show_AUD_Info(rx);
        iTE6805_Enable_Audio_Output(rx);
        m_drv->iTE6805_Set_Audio_Tristate(false, rx);
        break;
    }
}

void ite6805_sys::iTE6805_aud_fsm(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_COUNT& c = count[rx];
    switch (d.STATEA) {
    case STATEA_RequestAudio:
        c.aud_first_read = 1;
        std::memset(c.aud_cs, 0, sizeof c.aud_cs);
        iTE6805_aud_chg(STATEA_WaitForReady, rx);
        break;
    case STATEA_WaitForReady:
        if (c.aud_ready_count > 0) {
            --c.aud_ready_count;
            break;
        }
        m_drv->chgbank(d.CurrentPort ? 4 : 0, rx);
        if (m_io->hdmirxrd(REG_AUD_ERR, rx) & 0xC0) m_drv->iTE6805_Reset_Audio_Logic(rx);
        m_drv->chgbank(0, rx);
        if (!m_drv->iTE6805_Check_SCDT(rx) || !m_drv->iTE6805_Check_AUDT(rx)) {
            c.aud_ready_count = 4;
            break;
        }
        iTE6805_aud_chg(STATEA_AudioOn, rx);
        break;
    case STATEA_AudioOn: {
        if (c.aud_check_count > 0) {
            --c.aud_check_count;
            break;
        }
        c.aud_check_count = 3;
        m_drv->chgbank(0, rx);
        const u8 cs[3] = {u8(m_io->hdmirxrd(REG_AUD_CS0, rx) & 0xF0), m_io->hdmirxrd(REG_AUD_STATUS, rx),
                          u8(m_io->hdmirxrd(REG_AUD_CS2, rx) & 0x02)};
        if (c.aud_first_read) {
            std::memcpy(c.aud_cs, cs, sizeof cs);
            c.aud_first_read = 0;
            m_io->hdmirxset(0x8C, 0x08, 0x08, rx);
        } else if (std::memcmp(c.aud_cs, cs, sizeof cs) != 0) {
            iTE6805_aud_chg(STATEA_RequestAudio, rx);
        }
        break;
    }
    default: break;
    }
}

// ---------------------------------------------------------------- interrupts

void ite6805_sys::iTE6805_hdmirx_port0_SYS_irq(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_COUNT& c = count[rx];
    m_drv->chgbank(0, rx);
    const u8 r05 = m_io->hdmirxrd(REG_INT_P0_SYS, rx);
    m_io->hdmirxwr(REG_INT_P0_SYS, r05, rx);
    const u8 r06 = m_io->hdmirxrd(REG_INT_P0_SYS2, rx);
    m_io->hdmirxwr(REG_INT_P0_SYS2, r06, rx);
    const u8 r08 = m_io->hdmirxrd(REG_INT_P0_CLK, rx);
    m_io->hdmirxwr(REG_INT_P0_CLK, r08, rx);
    const u8 r09 = m_io->hdmirxrd(REG_INT_COMMON0, rx);
    m_io->hdmirxwr(REG_INT_COMMON0, u8(r09 & ~0x04), rx);

    if ((r05 & INT5_HDMI_MODE) && m_drv->iTE6805_Check_CLK_Vaild(rx)) iTE6805_INT_HDMI_DVI_Mode_Chg(0, rx);
    if (r05 & INT5_ECC) iTE6805_INT_ECC_ERROR(rx);
    if (r05 & INT5_SYMLOCK) {
        if (++c.int6_count > 6 && !m_drv->iTE6805_Check_HDMI2(rx)) {
            c.int6_count = 0;
            m_eq->iTE6805_EQ_chg(1, rx);
            if (++c.int6_reset_count >= 3) {
                c.int6_reset_count = 0;
                m_drv->iTE6805_Reset_ALL_Logic(0, rx);
            }
        }
    }
    if (r05 & INT5_CLK_CHG) {
        std::memset(c.reg06_count, 0, sizeof c.reg06_count);
        if (!m_drv->iTE6805_Check_CLK_Stable(rx)) {
            m_eq->iTE6805_EQ_chg(0, rx);
            m_eq->iTE6805_EQ_chg(1, rx);
        }
    }
    if (r05 & INT5_ECC_CLEAR) c.ecc_error = 0;
    if (r05 & INT5_PWR5V) iTE6805_INT_5VPWR_Chg(0, rx);

    auto bump = [](u8& n) {
        if (n < 0xFF) ++n;
    };
    const bool mhl = m_drv->iTE6805_Check_PORT0_IS_MHL_Mode(0, rx);
    const bool bit6 = (r06 & 0x40) && !mhl;
    const bool bit5 = (r06 & 0x20) && !mhl;
    if (bit6) bump(c.reg06_count[2]);
    if (bit5) bump(c.reg06_count[1]);
    if (r06 & 0x10) bump(c.reg06_count[0]);
    if (bit5 && (r06 & 0x10) && (r05 & INT5_CLK_CHG) && bit6) iTE6805_vid_chg(STATEV_WaitSync, rx);
    if ((r06 & 0x10) && c.reg06_count[0] >= 21 && c.reg06_count[1] >= 21 && c.reg06_count[2] >= 21 &&
        d.STATEEQ == 0 && !m_drv->iTE6805_Check_HDMI2(rx)) {
        m_drv->chgbank(BANK_FRONTEND_P0, rx);
        m_io->hdmirxset(0xE5, 0x1C, 0x1C, rx);
        m_drv->chgbank(0, rx);
    }
    if (r06 & 0x01) {
        m_drv->chgbank(0, rx);
        if ((m_io->hdmirxrd(REG_P0_STATUS2, rx) & ST2_LOCKS) && d.STATEEQ == 0) {
            m_eq->iTE6805_EQ_chg(0, rx);
            m_eq->iTE6805_EQ_chg(1, rx);
        }
    }
    if (r08 & 0x01) {
        iTE6805_vid_chg(STATEV_WaitSync, rx);
        m_eq->iTE6805_EQ_chg(0, rx);
        m_eq->iTE6805_EQ_chg(1, rx);
    }
    if (r08 & 0x80) {
        m_drv->chgbank(0, rx);
        m_io->hdmirxset(0x4C, 0x80, 0x80, rx);
    }
    if (r09 & 0x09) c.ecc_error = 0;
    m_drv->chgbank(0, rx);
}

void ite6805_sys::iTE6805_hdmirx_common_irq(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_COUNT& c = count[rx];
    m_drv->chgbank(0, rx);
    const u8 r09 = m_io->hdmirxrd(REG_INT_COMMON0, rx);
    m_io->hdmirxwr(REG_INT_COMMON0, u8(r09 & 0x04), rx);
    const u8 r10 = m_io->hdmirxrd(REG_INT_VID, rx);
    m_io->hdmirxwr(REG_INT_VID, r10, rx);
    if (!rev_10_E0_and_above(rx) && (r10 & INT10_SCDT)) {
        m_io->hdmirxwr(REG_BANK, 0x05, rx);
        m_io->hdmirxwr(0xC9, 0x79, rx);
        m_io->hdmirxwr(REG_BANK, 0x00, rx);
    }
    const u8 r11 = m_io->hdmirxrd(REG_INT_11, rx);
    m_io->hdmirxwr(REG_INT_11, u8(r11 & ~0x40), rx);
    const u8 r12 = m_io->hdmirxrd(REG_INT_PKT, rx);
    m_io->hdmirxwr(REG_INT_PKT, u8(r12 & 0x5F), rx);
    const u8 r1d = m_io->hdmirxrd(REG_INT_1D, rx);
    m_io->hdmirxwr(REG_INT_1D, r1d, rx);
    m_io->hdmirxwr(REG_INT_D4, m_io->hdmirxrd(REG_INT_D4, rx), rx);
    m_io->hdmirxwr(REG_INT_D5, m_io->hdmirxrd(REG_INT_D5, rx), rx);

    if ((r10 & 0x80) && d.STATEV == STATEV_VidStable) {
        m_drv->iTE6805_Reset_Audio_Logic(rx);
        iTE6805_Enable_Audio_Output(rx);
    }
    if ((r10 & 0x20) && d.VideoOutputOn) m_drv->iTE6805_Set_AVMute(false, rx);
    if ((r10 & 0x10) && d.VideoOutputOn) m_drv->iTE6805_Set_AVMute(true, rx);
    if (r10 & INT10_SCDT) iTE6805_INT_SCDT_Chg(rx);

    if (r11 & 0x02) m_io->hdmirxwr(REG_INT_11, 0x02, rx);
    if (r11 & 0x01) m_io->hdmirxwr(REG_INT_11, 0x01, rx);

    if (r12 & 0x80) {
        m_io->hdmirxrd(0x1A, rx);
        m_io->hdmirxrd(0x1B, rx);
        m_io->hdmirxwr(REG_INT_PKT, 0x80, rx);
    }
    if (r12 & INT12_AVI) {
        m_drv->chgbank(2, rx);
        const u8 avi = m_io->hdmirxrd(REG_AVI_DB1, rx);
        m_drv->chgbank(0, rx);
        if (d.VideoOutputOn) {
            m_drv->iTE6805_Check_ColorChange_Update(rx);
            if (avi != c.last_avi) {
                c.last_avi = avi;
                c.color_change_pending = 1;
            }
        } else {
            c.last_avi = avi;
        }
    }
    if ((r1d & 0x08) && !m_drv->iTE6805_Check_HDMI2(rx) && c.ber_check_armed) {
        c.ber_check_armed = 0;
        if (m_eq->iTE6805_BitErr_Check_Again(rx)) m_eq->iTE6805_EQ_chg(1, rx);
    }
    m_drv->chgbank(0, rx);
}

void ite6805_sys::iTE6805_INT_5VPWR_Chg(int port, int rx) {
    if (!m_drv->iTE6805_Check_5V_State(u8(port), rx)) {
        m_drv->iTE6805_Set_HPD_Ctrl(u8(port), 0, rx);
        iTE6805_vid_chg(STATEV_Unplug, rx);
        data[rx].STATEEQ = 0;
        m_eq->iTE6805_EQ_chg(0, rx);
    } else {
        iTE6805_vid_chg(STATEV_WaitSync, rx);
        m_drv->iTE6805_Set_HPD_Ctrl(u8(port), 1, rx);
    }
}

void ite6805_sys::iTE6805_INT_SCDT_Chg(int rx) {
    iTE6805_COUNT& c = count[rx];
    const u8 scdt = m_drv->iTE6805_Check_SCDT(rx) ? 1 : 0;
    auto clear1C = [&] {
        if (m_io->hdmirxrd(0x1C, rx) & 0x80) m_io->hdmirxset(0x1C, 0x80, 0x80, rx);
    };
    if (scdt != c.last_scdt) {
        c.last_scdt = scdt;
        m_drv->chgbank(0, rx);
        if (!scdt) {
            iTE6805_vid_chg(STATEV_WaitSync, rx);
            iTE6805_aud_chg(STATEA_AudioOff, rx);
            publish_no_signal(rx);
        } else {
            if (rev_10_E0(rx)) clear1C();
            iTE6805_vid_chg(STATEV_CheckSync, rx);
        }
        return;
    }
    if (rev_10_E0_and_above(rx)) {
        clear1C();
    } else if (scdt) {
        m_drv->chgbank(5, rx);
        if (m_io->hdmirxrd(0xC9, rx) == 0x79) m_io->hdmirxwr(0xC9, 0x78, rx);
        m_drv->chgbank(0, rx);
    }
}

void ite6805_sys::iTE6805_INT_HDMI_DVI_Mode_Chg(int port, int rx) {
    const bool stable = data[rx].STATEV == STATEV_VidStable;
    if (m_drv->iTE6805_Check_HDMI_OR_DVI_Mode(u8(port), rx) == 2) {
        iTE6805_aud_chg(STATEA_AudioOff, rx);
        if (stable) iTE6805_Enable_Video_Output(rx);
    } else if (stable) {
        iTE6805_Enable_Video_Output(rx);
        iTE6805_aud_chg(STATEA_RequestAudio, rx);
    }
}

void ite6805_sys::iTE6805_INT_ECC_ERROR(int rx) {
    iTE6805_COUNT& c = count[rx];
    if (c.ecc_error < 6) {
        ++c.ecc_error;
        return;
    }
    if (c.ecc_error == 6 || c.ecc_error == 9) {
        m_drv->chgbank(0, rx);
        m_io->hdmirxset(0xD9, 0x04, 0x04, rx);
    }
    if (c.ecc_error < 11) {
        ++c.ecc_error;
        return;
    }
    c.ecc_error = 0;
    if (++c.ecc_recovery >= 3) {
        c.ecc_recovery = 0;
        data[rx].STATEEQ = 0;
        m_eq->iTE6805_EQ_chg(0, rx);
        m_drv->iTE6805_Reset_ALL_Logic(0, rx);
        return;
    }
    // Hold the equaliser while the source sees the sink go away and back.
    const u8 port = data[rx].CurrentPort;
    data[rx].STATEEQ = 7;
    m_drv->iTE6805_Set_HPD_Ctrl(port, 0, rx);
    const u8 reg = port ? 0x2B : 0x23;
    m_drv->chgbank(0, rx);
    const bool wasSet = m_io->hdmirxrd(reg, rx) & 0x02;
    if (!wasSet) m_io->hdmirxset(reg, 0x02, 0x02, rx);
    delay1ms(300);
    if (!wasSet) m_io->hdmirxset(reg, 0x02, 0x00, rx);
    m_drv->iTE6805_Set_HPD_Ctrl(port, 1, rx);
}

// ---------------------------------------------------------------- port requests

void ite6805_sys::iTE6805_Port_Select(u8 port, int rx) {
    if (port > 1) return;
    data[rx].RequestPort = port;
    data[rx].PortSelectRequest = 1;
}

void ite6805_sys::iTE6805_Port_Reset(u8 port, int rx) {
    data[rx].ResetPort = port;
    data[rx].PortResetRequest = 1;
}

// Initialisation selects the port that is already current and nothing asks
// for another, so both bodies only take their request.
void ite6805_sys::iTE6805_Port_Select_Body(int rx) { data[rx].PortSelectRequest = 0; }
void ite6805_sys::iTE6805_Port_Reset_Body(int rx) { data[rx].PortResetRequest = 0; }

// ---------------------------------------------------------------- output enabling

void ite6805_sys::iTE6805_Enable_Video_Output(int rx) {
    iTE6805_DATA& d = data[rx];
    if (m_drv->iTE6805_Check_HDMI_OR_DVI_Mode(d.CurrentPort, rx) == 2) {
        d.InputType = 2;
        m_io->hdmirxset(0x6B, 0x30, 0x10, rx);
        m_io->hdmirxset(0x6B, 0x01, 0x01, rx);
        m_drv->chgbank(d.CurrentPort ? 4 : 0, rx);
        d.AVI_Colorimetry = m_io->hdmirxrd(0x48, rx) < 52 ? 2 : 1;
        m_drv->chgbank(0, rx);
    } else {
        m_drv->iTE6805_Get_AVIInfoFrame_Info(rx);
        m_drv->iTE6805_GET_InputType(rx);
        m_io->hdmirxset(0x6B, 0x30, u8((d.AVI_ColorFormat & 3) << 4), rx);
        m_io->hdmirxset(0x6B, 0x01, 0x00, rx);
    }
    if (d.OutputFollowInput) {
        d.OutputColorMode = d.AVI_ColorFormat;
        m_drv->iTE6805_Set_TTL_Video_Path(rx);
    }
    m_io->hdmirxwr(0x6E, 0xE0, rx);
    m_drv->chgbank(1, rx);
    m_io->hdmirxwr(0x86, 0x00, rx);
    m_drv->chgbank(0, rx);

    const u32 out = d.OutputColorMode;
    const u32 y = d.AVI_ColorFormat;
    int row = -1;
    if (out >= 1 && out <= 3 && y == Color_Format_RGB) {
        m_io->hdmirxset(0x6C, 0x03, 0x02, rx);
        if (d.AVI_Colorimetry == 2)
            row = d.AVI_RGBQuant == 1 ? 44 : 66;
        else
            row = d.AVI_RGBQuant == 1 ? 0 : 22;
    } else if (out == Color_Format_RGB && y >= 1 && y <= 3) {
        m_io->hdmirxset(0x6C, 0x03, 0x03, rx);
        if (d.AVI_Colorimetry == 2)
            row = 154;
        else if (d.AVI_Colorimetry == 3 && (d.AVI_ExtColorimetry == 5 || d.AVI_ExtColorimetry == 6))
            row = 176;
        else
            row = 110;
    }
    if (row >= 0) {
        m_drv->chgbank(1, rx);
        m_io->hdmirxbwr(0x70, 22, ite6805_drv::CSC_Matrix + row, rx);
    } else {
        m_io->hdmirxset(0x6C, 0x03, 0x00, rx);
        m_drv->chgbank(1, rx);
        m_io->hdmirxwr(0x85, 0x00, rx);
    }
    m_drv->chgbank(0, rx);
    m_drv->iTE6805_Set_ColorDepth(rx);
}

void ite6805_sys::iTE6805_Enable_Audio_Output(int rx) {
    iTE6805_DATA& d = data[rx];
    iTE6805_VTiming& t = timing[rx];
    iTE6805_COUNT& c = count[rx];
    m_drv->chgbank(0, rx);
    m_io->hdmirxset(0x86, 0x01, 0x01, rx);
    m_drv->chgbank(2, rx);
    const u32 nHi = m_io->hdmirxrd(REG_N_HI, rx), nMid = m_io->hdmirxrd(REG_N_MID, rx);
    const u32 mixed = m_io->hdmirxrd(REG_N_LO_CTS_LO, rx);
    const u32 ctsHi = m_io->hdmirxrd(REG_CTS_HI, rx), ctsMid = m_io->hdmirxrd(REG_CTS_MID, rx);
    m_drv->chgbank(0, rx);
    t.N = nHi * 4096 + nMid * 16 + (mixed & 0x0F);
    t.CTS = (mixed >> 4) + ctsHi * 4096 + ctsMid * 16;
    const u32 tmds = m_drv->iTE6805_Get_TMDS(10, rx);

    u8 code = d.AudioSampleFreq;
    if (t.CTS) {
        // At high rates TMDS x N passes 32 bits.
        const u16 fs = u16(u64(tmds) * t.N / (u64(t.CTS) * 128));
        code = ite6805_drv::fs_code(fs, code);
    }
    const u8 first = m_io->hdmirxrd(REG_AUD_FS, rx);
    const u8 second = m_io->hdmirxrd(REG_AUD_FS, rx);
    const u8 chip = u8(((first >> 2) & 0x30) | (second & 0x0F));
    if (chip == code) {
        if (m_io->hdmirxrd(REG_AUD_FORCE, rx) & 0x40) {
            m_io->hdmirxset(REG_AUD_FORCE, 0x40, 0x00, rx);
            m_drv->iTE6805_Reset_Audio_Logic(rx);
        }
        d.AudioSampleFreq = code;
        c.aud_fs_mismatch = 0;
    } else if (++c.aud_fs_mismatch > 15) {
        m_io->hdmirxset(REG_AUD_FORCE, 0x40, 0x40, rx);
        m_io->hdmirxset(0x8A, 0x3F, code, rx);
        d.AudioSampleFreq = code;
        c.aud_fs_mismatch = 0;
        m_drv->iTE6805_Reset_Audio_Logic(rx);
    }
}

// ---------------------------------------------------------------- publication

void ite6805_sys::iTE6805_Set_Stable(int, int flag, PI_HDMI_INFO& info) { info.stable = flag ? 1 : 0; }

void ite6805_sys::iTE6805_Get_Hdmi(int rx, PI_HDMI_INFO& info) {
    if (info.nosignal) {
        const s32 nosignal = info.nosignal, stable = info.stable;
        info = PI_HDMI_INFO{};
        info.type = info.datamode = info.lane = 1;
        info.nosignal = nosignal;
        info.stable = stable;
        return;
    }
    const iTE6805_VTiming& t = timing[rx];
    const s32 h = data[rx].Is420 ? 2 : 1;
    info.Hact = s32(t.HActive) * h;
    info.Hsync = s32(t.HSyncWidth) * h;
    info.Hback = s32(t.HBackPorch) * h;
    info.Htotal = s32(t.HTotal) * h;
    info.Hpol = t.HPolarity;
    info.Vact = t.VActive;
    info.Vsync = t.VSyncWidth;
    info.Vback = t.VBackPorch;
    info.Vtotal = t.VTotal;
    info.Vpol = t.VPolarity;
    info.pfreq = float(t.PCLK) / 1000.0f;
    info.type = 1;
    info.datamode = 1;
    info.lane = s32(1) << (data[rx].OutputMode & 3);
    info.ip = t.ScanMode;
}

void ite6805_sys::iTE6805_update_hdmi(int rx) {
    m_source.update_hdminfo(4 + rx, [&](PI_HDMI_INFO& info) {
        iTE6805_Set_Stable(rx, 0, info);
        info.nosignal = 0;
        iTE6805_Get_Hdmi(rx, info);
        iTE6805_Set_Stable(rx, 1, info);
    });
}

void ite6805_sys::iTE6805_Show_VID_Info(int rx) {
    const iTE6805_VTiming& t = timing[rx];
    const u32 width = u32(t.HActive) * (data[rx].Is420 ? 2 : 1);
    const u32 height = t.VActive;
    const u32 rate = t.FrameRate;
    const u8 raw[3] = {u8(width), u8(height), u8(rate)};
    m_source.publish_signal(4 + rx, u16(width), u16(height), rate, u32(3 * rx), raw);
}

void ite6805_sys::publish_no_signal(int rx) {
    m_source.clear_signal(4 + rx);
    m_source.update_hdminfo(4 + rx, [&](PI_HDMI_INFO& info) {
        iTE6805_Set_Stable(rx, 0, info);
        info.nosignal = 1;
        iTE6805_Get_Hdmi(rx, info);
        iTE6805_Set_Stable(rx, 1, info);
    });
}
