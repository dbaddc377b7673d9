#include "video_io/vimra_it6602.h"

#include "core/console.h"
#include "core/utils.h"
#include "video_io/drv_i2c0.h"
#include "video_io/it6602_reg.h"
#include "video_io/it6602_tables.h"
#include "video_io/vimrasource.h"

#include <cstdio>
#include <cstring>

using namespace it6602;
namespace R = it6602reg;

namespace {

using R::kPort;
using R::PortRegs;

constexpr int kEccLimit = 23;        // ECC or deskew events before recovery
constexpr int kScdtWaitPolls = 21;   // polls with clock but no SCDT before recovery
constexpr u16 kVideoTimer = 101;     // two polls
constexpr u16 kAudioReadyTimer = 201;
constexpr u16 kAudioCheckTimer = 151;
constexpr u32 kOscDefault = 48696;
constexpr u32 kOscTolerance = 24349;  // a reading this far off the nominal is not trusted

}  // namespace

vimra_it6602::vimra_it6602(vimrasource& source) : m_source(source) {}
vimra_it6602::~vimra_it6602() = default;

void vimra_it6602::select(int fd_, int input) {
    fd = fd_;
    m_in = clampInput(input);
}

void vimra_it6602::publishPresence(bool present) {
    vimrasource::reg_assign_bit(source_reg::kChips, source_reg::kIt6602Bit[m_in], present);
}

void vimra_it6602::clearSummary() { m_source.clear_signal(m_in); }

// ---------------------------------------------------------------------------
// Register access

u8 vimra_it6602::hdmirxrd_it6602(u8 reg) {
    u8 v = 0;
    return Drv_I2C0::i2c_read(fd, m_addr[m_in], reg, &v, 1) == 1 ? v : 0;
}

int vimra_it6602::hdmirxwr_it6602(u8 reg, u8 value) {
    return Drv_I2C0::i2c_write(fd, m_addr[m_in], reg, &value, 1) == 1 ? 0 : 1;
}

void vimra_it6602::hdmirxset_it6602(u8 reg, u8 mask, u8 value) {
    const u8 old = hdmirxrd_it6602(reg);
    hdmirxwr_it6602(reg, u8((old & ~mask) | (value & mask)));
}

int vimra_it6602::hdmirxbwr_it6602(u8 reg, int count, const u8* data) {
    if (count <= 0) return 0;
    return Drv_I2C0::i2c_write(fd, m_addr[m_in], reg, data, count) == 1 ? 0 : 1;
}

void vimra_it6602::chgbank_it6602(u8 bank) { hdmirxset_it6602(R::BANK, 0x03, bank & 0x03); }

void vimra_it6602::hdimrx_write_init_it6602(const RegSet* table) {
    for (; table->reg != 0xFF; ++table) hdmirxset_it6602(table->reg, table->mask, table->value);
}

void vimra_it6602::delay1ms(u32 ms) { Utils::sleep_ms(ms); }

// ---------------------------------------------------------------------------
// Entry points

int vimra_it6602::IT6602_fsm_init(int fd_, int input) {
    select(fd_, input);
    Console::print("IT6602_fsm_init(%d )\n", input);
    const int found = IT6602_Identify_Chip();
    IT6602_Rst();
    return found;
}

void vimra_it6602::IT6602_fsm_init_1(int fd_, int input) {
    select(fd_, input);
    hdmirxset_it6602(0xC0, 0x03, 0x03);
    IT6602PortSelect(0);
}

void vimra_it6602::IT6602_fsm(int fd_, int input) {
    select(fd_, input);
    IT6602HDMIInterruptHandler();
    IT6602VideoHandler();
    IT6602AudioHandler();
    for (int port = 0; port < 2; ++port)
        if (dev().EQPort[port].f_manualEQadjust) HDMIAdjustEQ(port);
    IT6602HDMIEventManager();
}

void vimra_it6602::IT6602PortSelect(u8 port) {
    hdmirxset_it6602(R::PORT_SEL, 0x01, port & 1);
    dev().m_ucCurrentHDMIPort = port;
}

// ---------------------------------------------------------------------------
// Identification and reset

int vimra_it6602::IT6602_Identify_Chip() {
    for (u8 addr : {R::kAddrFirst, R::kAddrSecond}) {
        m_addr[m_in] = addr;
        bool all = true;
        for (u8 reg = 0; reg < 4; ++reg) {
            if (hdmirxrd_it6602(u8(R::ID0 + reg)) != R::kId[reg]) {
                Console::print("I2C Addr %X Error: Can not find IT6602 Chip !!!\n", addr);
                publishPresence(false);
                ++m_idFail[m_in];
                all = false;
                break;
            }
            publishPresence(true);
        }
        if (all) {
            Console::print("OK , Find IT6602 Chip I2C Addr %X !!!\n", addr);
            return 1;
        }
    }
    return 0;
}

void vimra_it6602::hdmirx_Var_init() {
    IT6602_dev_data& d = dev();
    d = IT6602_dev_data{};
    for (int port = 0; port < 2; ++port) {
        d.EQPort[port].ucPkt = u8(port);
        m_eq[m_in][port] = EqBook{};
        m_toggles[m_in][port] = 0;
    }
    m_ipllCount[m_in] = 0;
}

void vimra_it6602::IT6602_Rst() {
    hdmirx_Var_init();
    hdimrx_write_init_it6602(IT6602_HDMI_INIT_TABLE);
    CP_OCLK();
    IT6602SwitchVideoState(VSTATE_SWReset);
    IT6602SwitchAudioState(ASTATE_AudioOff);
}

// ---------------------------------------------------------------------------
// Interrupts

void vimra_it6602::IT6602HDMIInterruptHandler() {
    if (dev().m_VState == VSTATE_Off) return;
    chgbank_it6602(0);
    u8 ints[5];
    for (int i = 0; i < 5; ++i) ints[i] = hdmirxrd_it6602(u8(R::INT_P0 + i));
    const u8 status = hdmirxrd_it6602(R::STATUS_P0);
    const u8 d0 = hdmirxrd_it6602(R::INT_EQ);
    for (int i = 0; i < 5; ++i) hdmirxwr_it6602(u8(R::INT_P0 + i), ints[i]);
    hdmirxwr_it6602(R::INT_EQ, d0 & 0x0F);

    for (int port = 0; port < 2; ++port) portInterrupt(port, ints[port], hdmirxrd_it6602(kPort[port].status));

    const u8 sys = ints[2];
    if (sys & R::sys_int::AUD_FIFO_ERR) aud_fiforst();
    if (sys & R::sys_int::UNMUTE) IT6602_SetVideoMute(false);
    if (sys & R::sys_int::MUTE) IT6602_SetVideoMute(true);
    if (sys & R::sys_int::SCDT_CHG) hdmirx_INT_SCDT_Chg();
    if ((sys & R::sys_int::PLL_LOCK) && !(status & R::status::PLL_BUSY) && at94()) {
        chgbank_it6602(1);
        hdmirxset_it6602(R::B1_DESKEW_CTRL, 0x07, 0x03);
        hdmirxset_it6602(R::B1_IPLL_P0, 0x20, 0x00);
        hdmirxset_it6602(R::B1_PLL_CTRL, 0x07, 0x04);
        chgbank_it6602(0);
    }

    if ((ints[3] & 0x04) && !dev().de3dframe_handled) dev().de3dframe_handled = IT6602_DE3DFrame();

    const u8 misc = ints[4];
    if (misc & 0x40) {
        hdmirxwr_it6602(R::INT_MISC, at94() ? 0x20 : 0x40);
        hdmirx_INT_P0_Deskew(1);
    }
    if (misc & 0x20) {
        hdmirxwr_it6602(R::INT_MISC, 0x20);
        hdmirx_INT_P0_Deskew(0);
    }
    if (misc & 0x01) {
        chgbank_it6602(2);
        const u8 a = hdmirxrd_it6602(R::B2_AVI_SUM);
        const u8 b = hdmirxrd_it6602(R::B2_AVI_PB1);
        chgbank_it6602(0);
        if (a != dev().m_ucAviDB[0] || b != dev().m_ucAviDB[1]) dev().m_ucFlags |= FLAG_NEW_AVI;
        dev().m_ucAviDB[0] = a;
        dev().m_ucAviDB[1] = b;
    }

    if (d0 & 0xF0) eqInterrupt(d0);
}

void vimra_it6602::portInterrupt(int port, u8 bits, u8 status) {
    namespace B = R::port_int;
    IT6602_dev_data& d = dev();
    const bool clock = status & R::status::CLOCK;
    if (bits & B::ECC_CLR) d.m_ucEccCount[port] = 0;
    if (bits & B::ECC_ERR) hdmirx_INT_P0_ECC(port);
    if ((bits & B::HDMI_MODE_CHG) && clock) hdmirx_INT_HDMIMode_Chg(port);
    if (bits & (B::LINK_A | B::LINK_B)) linkEvents(port, bits);
    if ((bits & B::IPLL_LOCK) && !(hdmirxrd_it6602(R::PLL_STATUS) & 0x40)) {
        chgbank_it6602(1);
        hdmirxset_it6602(kPort[port].b1Ipll, 0x60, 0x00);
        chgbank_it6602(0);
        m_ipllCount[m_in] = 0;
    }
    if (bits & B::CLK_CHG) {
        d.m_ucEccCount[port] = 0;
        d.m_ucDeskewCount[port] = 0;
        if (clock) TMDSCheck(port);
    }
    if (bits & B::PWR5V_CHG) hdmirx_INT_5V_Pwr_Chg(port);
}

void vimra_it6602::hdmirx_INT_P0_ECC(int port) {
    IT6602_dev_data& d = dev();
    if (++d.m_ucEccCount[port] < kEccLimit || d.EQPort[port].f_manualEQadjust) return;
    d.m_ucEccCount[port] = 0;
    hdmirx_ECCTimingOut(port);
}

void vimra_it6602::hdmirx_INT_P0_Deskew(int port) {
    IT6602_dev_data& d = dev();
    if (++d.m_ucDeskewCount[port] < kEccLimit || d.EQPort[port].f_manualEQadjust) return;
    d.m_ucDeskewCount[port] = 0;
    const u8 reg = kPort[port].deskew;
    hdmirxwr_it6602(reg, hdmirxrd_it6602(reg) ? 0x00 : 0x3F);
}

void vimra_it6602::hdmirx_INT_HDMIMode_Chg(int port) {
    IT6602_dev_data& d = dev();
    if (port != d.m_ucCurrentHDMIPort) return;
    if (!IsHDMIMode()) {
        IT6602SwitchAudioState(ASTATE_AudioOff);
        d.m_ucFlags &= u8(~FLAG_NEW_AVI);
        if (d.m_VState == VSTATE_VideoOn) IT6602VideoOutputConfigure();
        d.m_ucFlags &= u8(~FLAG_HDMI_MODE);
    } else {
        if (d.m_VState == VSTATE_VideoOn) IT6602SwitchAudioState(ASTATE_RequestAudio);
        d.m_ucFlags |= FLAG_HDMI_MODE;
    }
}

void vimra_it6602::hdmirx_INT_5V_Pwr_Chg(int port) {
    chgbank_it6602(1);
    hdmirxset_it6602(R::B1_IPLL_P0, 0x60, 0x00);
    hdmirxset_it6602(R::B1_IPLL_P1, 0x60, 0x00);
    chgbank_it6602(0);
    m_ipllCount[m_in] = 0;
    const bool power = hdmirxrd_it6602(kPort[port].status) & R::status::PWR5V;
    if (port == dev().m_ucCurrentHDMIPort) {
        if (power) {
            IT6602SwitchVideoState(VSTATE_SyncWait);
            IT6602HPDCtrl(port, true);
        } else {
            IT6602HPDCtrl(port, false);
            IT6602SwitchVideoState(VSTATE_SWReset);
        }
    } else if (!power) {
        DisableOverWriteRS(port);
        IT6602HPDCtrl(port, false);
    } else {
        IT6602HPDCtrl(port, true);
    }
}

void vimra_it6602::hdmirx_INT_SCDT_Chg() {
    const u8 selected = hdmirxrd_it6602(R::PORT_SEL) & 0x01;
    if (dev().m_ucCurrentHDMIPort == selected && (hdmirxrd_it6602(R::STATUS_P0) & R::status::SCDT)) {
        IT6602SwitchVideoState(VSTATE_SyncChecking);
    } else {
        IT6602SwitchVideoState(VSTATE_SyncWait);
        IT6602SwitchAudioState(ASTATE_AudioOff);
    }
}

void vimra_it6602::aud_fiforst() {
    hdmirxset_it6602(R::AUD_FIFO, 0x0C, 0x0C);
    delay1ms(100);
    hdmirxset_it6602(R::AUD_FIFO, 0x0C, 0x00);
    hdmirx_ResetAudio();
}

void vimra_it6602::hdmirx_ResetAudio() {
    hdmirxset_it6602(R::RESET, 0x02, 0x02);
    hdmirxset_it6602(R::RESET, 0x02, 0x00);
    const u8 v = hdmirxrd_it6602(R::AUD_RST_SEQ);
    for (int i = 0; i < 4; ++i) hdmirxwr_it6602(R::AUD_RST_SEQ, v);
}

void vimra_it6602::IT6602HPDCtrl(int port, bool on) {
    if (port != 0) return;
    const bool power = hdmirxrd_it6602(R::STATUS_P0) & R::status::PWR5V;
    chgbank_it6602(1);
    hdmirxset_it6602(R::B1_HPD, 0x03, power ? (on ? 0x03 : 0x01) : 0x00);
    chgbank_it6602(0);
}

// ---------------------------------------------------------------------------
// Video machine

void vimra_it6602::IT6602SwitchVideoState(u8 state) {
    IT6602_dev_data& d = dev();
    if (d.m_VState == state) return;
    d.m_VState = state;
    if (state < 14) Console::print("IT6602[%d] %s\n", m_in, VStateStr[state]);
    if (state > VSTATE_VideoOn) return;
    switch (state) {
    case VSTATE_Off:
        IT6602HPDCtrl(0, false);
        IT6602HPDCtrl(1, false);
        break;
    case VSTATE_SyncWait:
        IT6602VideoOutputEnable(false);
        d.m_ucFlags &= u8(~FLAG_NEW_AVI);
        d.m_ucDeskewCount[0] = d.m_ucDeskewCount[1] = 0;
        d.de3dframe_handled = 0;
        hdmirxwr_it6602(R::VID_MODE, 0x82);
        break;
    case VSTATE_SWReset:
        IT6602VideoOutputEnable(false);
        IT6602_AFE_Rst();
        IT6602HPDCtrl(0, hdmirxrd_it6602(R::STATUS_P0) & R::status::PWR5V);
        break;
    case VSTATE_SyncChecking:
        d.m_VideoCountingTimer = kVideoTimer;
        hdmirxwr_it6602(R::VID_MODE, 0x82);
        break;
    case VSTATE_VideoOn: {
        IT6602VideoOutputConfigure();
        IT6602VideoOutputEnable(true);
        IT6602SwitchAudioState(ASTATE_RequestAudio);
        get_vid_info();
        show_vid_info();
        // The record's timing, its stable word and nosignal change together,
        // so the c331 side never sees a signal with the previous timing.
        const float pfreq = it6602_measure_pfreq();
        const u16* t = m_timing[m_in];
        m_source.update_hdminfo(m_in, [&](PI_HDMI_INFO& r) {
                r.Hact = t[TM_HACT];
                r.Vact = t[TM_VACT];
                r.Htotal = t[TM_HTOTAL];
                r.Vtotal = t[TM_VTOTAL];
                r.Hsync = t[TM_HSYNC];
                r.Hback = t[TM_HBP];
                r.Vsync = t[TM_VSYNC];
                r.Vback = t[TM_VBP];
                r.ip = t[TM_FLAGS] & 0x01;
                r.Hpol = r.Vpol = 1;
                r.type = r.datamode = r.lane = 0;
                r.pfreq = pfreq;
                r.stable = 1;
                r.nosignal = 0;
            });
        Console::print("\t VSTATE_VideoOn %d stable=1\n", m_in);
        hdmirxwr_it6602(R::VID_CTRL, 0x8F);
        hdmirxwr_it6602(R::VID_MODE, 0x81);
        d.m_ucSCDTOffCount = 0;
        break;
    }
    default:
        break;
    }
}

void vimra_it6602::IT6602VideoOutputEnable(bool on) {
    if (!on) {
        hdmirxset_it6602(R::VID_OUT, 0x0F, 0x0F);
        clearSummary();
        m_source.update_hdminfo(m_in, [](PI_HDMI_INFO& r) { r.nosignal = 1; });
        return;
    }
    // nosignal is cleared together with the new timing (video-on entry).
    hdmirxset_it6602(R::VID_RST, 0x80, 0x80);
    hdmirxset_it6602(R::VID_RST, 0x80, 0x00);
    delay1ms(10);
    hdmirxset_it6602(R::VID_OUT, 0x0F, 0x00);
}

void vimra_it6602::IT6602_AFE_Rst() {
    IT6602_dev_data& d = dev();
    const u8 port = d.m_ucCurrentHDMIPort;
    if (port < 2) {
        const u8 reg = kPort[port].afeReset;
        hdmirxset_it6602(reg, 0x01, 0x01);
        delay1ms(1);
        hdmirxset_it6602(reg, 0x01, 0x00);
        DisableOverWriteRS(port);
    }
    d.m_ucSCDTOffCount = 0;
}

void vimra_it6602::IT6602VideoHandler() {
    IT6602_dev_data& d = dev();
    if (d.m_VideoCountingTimer < kVideoTimer) {
        d.m_VideoCountingTimer = 0;
        if (d.m_VState == VSTATE_SyncChecking) {
            IT6602SwitchVideoState(VSTATE_VideoOn);
            return;
        }
    } else {
        d.m_VideoCountingTimer -= 100;
    }
    if (d.m_VState == VSTATE_SyncWait) {
        WaitingForSCDT();
        return;
    }
    if (d.m_VState != VSTATE_VideoOn) return;
    if (d.m_ucFlags & FLAG_NEW_AVI) {
        IT6602VideoOutputConfigure();
        d.m_ucFlags &= u8(~FLAG_NEW_AVI);
    }
    if ((hdmirxrd_it6602(R::VID_OUT) & 0x80) && !d.m_bVideoContentOff && !CheckAVMute()) IT6602_SetVideoMute(false);
}

void vimra_it6602::WaitingForSCDT() {
    IT6602_dev_data& d = dev();
    const u8 s0 = hdmirxrd_it6602(R::STATUS_P0);
    const u8 s1 = hdmirxrd_it6602(R::STATUS_P1);
    const int port = hdmirxrd_it6602(R::PORT_SEL) & 0x01;
    if (port == 1)
        IPLLOvw_chk(1);
    else if (!(s0 & R::status::PLL_BUSY))
        IPLLOvw_chk(0);
    if (s0 & R::status::SCDT) {
        IT6602SwitchVideoState(VSTATE_SyncChecking);
        return;
    }
    if (d.EQPort[port].f_manualEQadjust) return;
    const u8 s = port ? s1 : s0;
    if ((s & (R::status::PWR5V | R::status::CLOCK)) != (R::status::PWR5V | R::status::CLOCK)) return;
    if (++d.m_ucSCDTOffCount <= kScdtWaitPolls) return;
    d.m_ucSCDTOffCount = 0;
    hdmirx_ECCTimingOut(port);
    DisableOverWriteRS(port);
    TMDSCheck(port);
}

void vimra_it6602::IPLLOvw_chk(int port) {
    const PortRegs& P = kPort[port];
    if (!(hdmirxrd_it6602(R::PLL_STATUS) & P.pllBits)) {
        chgbank_it6602(1);
        hdmirxset_it6602(P.b1Ipll, 0x60, 0x00);
        chgbank_it6602(0);
        return;
    }
    u8& count = m_ipllCount[m_in];
    Console::print("IPLL check %x\n", count);
    if (count < 16) {
        ++count;
        return;
    }
    count = 0;
    const u8 div = (hdmirxrd_it6602(R::TMDS_DIV) >> P.divShift) & 0x03;
    const u8 raw = hdmirxrd_it6602(P.tmdsCount);
    const u8 clk = u8(raw >> (div == 0 ? 0 : div == 1 ? 1 : 2));
    const u8 st = hdmirxrd_it6602(P.status);
    const u8 r4e = hdmirxrd_it6602(R::PLL_OVWR);
    if (clk < 28 && !(r4e & P.pllBits) && st < 0x80) {
        Console::print(" Regsts=%02X, Reg4Eh=%02X, reg0=%02X, reg1=%02X\n", st, r4e, hdmirxrd_it6602(R::TMDS_DIV), raw);
        Console::print("OverWrite IPLL/OPLL \n");
        chgbank_it6602(1);
        hdmirxset_it6602(R::B1_PLL_CTRL, 0x05, 0x04);
        hdmirxset_it6602(R::B1_IPLL_P0, 0xE0, 0xE0);
        chgbank_it6602(0);
    }
}

bool vimra_it6602::CheckAVMute() {
    const u8 port = dev().m_ucCurrentHDMIPort & 1;
    return hdmirxrd_it6602(R::VID_FLAGS) & kPort[port].avMuteBit;
}

bool vimra_it6602::IsHDMIMode() {
    const u8 port = dev().m_ucCurrentHDMIPort & 1;
    return hdmirxrd_it6602(kPort[port].status) & R::status::HDMI;
}

void vimra_it6602::getAviInfo() {
    IT6602_dev_data& d = dev();
    chgbank_it6602(2);
    d.m_AviColorFormat = (hdmirxrd_it6602(R::B2_AVI_PB1) >> 5) & 0x03;
    d.m_AviColorimetry = (hdmirxrd_it6602(R::B2_AVI_PB2) >> 6) & 0x03;
    const u8 pb3 = hdmirxrd_it6602(R::B2_AVI_PB3);
    d.m_AviExtColorimetry = (pb3 >> 4) & 0x07;
    d.m_AviVic = hdmirxrd_it6602(R::B2_AVI_VIC) & 0x7F;
    d.m_AviQuantRange = (pb3 >> 2) & 0x03;
    if (d.m_AviQuantRange == 0) d.m_AviQuantRange = d.m_AviVic <= 1 ? 2 : 1;
    d.m_AviContent = (hdmirxrd_it6602(R::B2_AVI_PB5) >> 6) & 0x03;
    chgbank_it6602(0);
}

void vimra_it6602::IT6602VideoOutputConfigure() {
    IT6602_dev_data& d = dev();
    if (IsHDMIMode())
        d.m_ucFlags |= FLAG_HDMI_MODE;
    else
        d.m_ucFlags &= u8(~FLAG_HDMI_MODE);
    if (d.m_ucFlags & FLAG_HDMI_MODE) {
        getAviInfo();
        const u8 fmt = d.m_AviColorFormat == 2 ? 2 : d.m_AviColorFormat == 3 ? 3 : d.m_AviColorFormat == 1 ? 1 : 0;
        d.m_bInputVideoMode = fmt;
        if (d.m_AviQuantRange == 1) d.m_bInputVideoMode |= 0x20;
        hdmirxset_it6602(R::DVI_PATH, 0x04, 0x00);
        if (d.m_AviColorimetry == 2) d.m_bInputVideoMode |= 0x10;
    } else {
        d.m_bInputVideoMode = 0;
        hdmirxwr_it6602(R::DVI_PATH, u8((hdmirxrd_it6602(R::DVI_PATH) & 0xFC) | 0x04));
        if (hdmirxrd_it6602(R::PCLK_CNT) < 52) d.m_bInputVideoMode |= 0x10;
    }
    SetColorSpaceConvert();
    hdmirxset_it6602(R::OUT_FMT, 0x30, 0x00);
    d.m_ucFlags &= u8(~FLAG_NEW_AVI);
    d.m_ucDeepColor = hdmirxrd_it6602(R::VID_STATUS) >> 4;
    hdmirxset_it6602(R::OUT_FMT, 0x0C, d.m_ucDeepColor == 5 ? 0x04 : d.m_ucDeepColor == 6 ? 0x08 : 0x00);
    hdmirxwr_it6602(R::PORT_SEL, hdmirxrd_it6602(R::PORT_SEL) & 0x9B);
    hdmirxwr_it6602(R::OUT_FMT, hdmirxrd_it6602(R::OUT_FMT) & 0x0F);
    chgbank_it6602(1);
    hdmirxwr_it6602(R::B1_OUT_MODE0, 0x00);
    hdmirxwr_it6602(R::B1_OUT_MODE1, 0x00);
    chgbank_it6602(0);
}

void vimra_it6602::loadCsc(const u8* matrix) {
    chgbank_it6602(1);
    hdmirxbwr_it6602(R::B1_CSC_MATRIX, kCscBytes, matrix);
    chgbank_it6602(0);
}

void vimra_it6602::SetColorSpaceConvert() {
    const u8 mode = dev().m_bInputVideoMode;
    const u8 format = mode & 0x03;
    if (format == 1 || format == 2) {
        loadCsc((mode & 0x10) ? bCSCMtx_YUV2RGB_ITU709_0_255 : bCSCMtx_YUV2RGB_ITU601_0_255);
        hdmirxset_it6602(R::CSC_SEL, 0x78, 0x00);
        hdmirxwr_it6602(R::CSC_OFFSET, 0x00);
        hdmirxset_it6602(R::OUT_FMT, 0x03, 0x03);
    } else if (format == 0 && (mode & 0x20)) {
        loadCsc(bCSCMtx_RGB_16_235_RGB_0_255);
        hdmirxset_it6602(R::CSC_SEL, 0x78, 0x78);
        hdmirxwr_it6602(R::CSC_OFFSET, 0xED);
        hdmirxset_it6602(R::OUT_FMT, 0x03, 0x02);
    } else {
        hdmirxset_it6602(R::OUT_FMT, 0x03, 0x00);
        hdmirxset_it6602(R::CSC_SEL, 0x7F, 0x00);
        hdmirxwr_it6602(R::CSC_OFFSET, 0x00);
        hdmirxset_it6602(R::PORT_SEL, 0x80, 0x80);
        hdmirxset_it6602(R::CSC_CTRL, 0x03, 0x00);
        return;
    }
    hdmirxset_it6602(R::CSC_SEL, 0x07, 0x00);
    hdmirxset_it6602(R::PORT_SEL, 0x80, 0x00);
    hdmirxset_it6602(R::CSC_CTRL, 0x03, 0x02);
}

u32 vimra_it6602::tmdsClockOf(int port) {
    const u8 c = hdmirxrd_it6602(kPort[port].tmdsCount);
    if (c == 0) return 0;
    const u8 div = hdmirxrd_it6602(R::TMDS_DIV) >> kPort[port].divShift;
    if (div & 0x01) return 6144u / c;
    if (div & 0x02) return 12288u / c;
    return 3072u / c;
}

void vimra_it6602::get_vid_info() {
    u16* t = m_timing[m_in];
    auto rd = [this](u8 reg) -> u16 { return hdmirxrd_it6602(reg); };
    t[TM_HACT] = u16(((rd(R::HACT_H) & 0x3F) << 8) + rd(R::HACT_L));
    t[TM_VACT] = u16(((rd(R::V_H) << 4) & 0xF00) + rd(R::VACT_L));
    t[TM_HTOTAL] = u16(((rd(R::HTOTAL_H) & 0x3F) << 8) + rd(R::HTOTAL_L));
    t[TM_VTOTAL] = u16(((rd(R::V_H) << 8) & 0xF00) + rd(R::VTOTAL_L));
    // 0x9A reads 0 without a clock or on a NACK: no pixel clock then.
    const u16 count = rd(R::PCLK_CNT);
    t[TM_PCLK] = count ? u16(31620 / count / 10) : 0;
    const u16 hfpReg = rd(R::HFP_HSYNC_H);
    t[TM_HFP] = u16(((hfpReg << 4) & 0xF00) + rd(R::HFP_L));
    t[TM_HSYNC] = u16(((hfpReg << 8) & 0x100) + rd(R::HSYNC_L));
    t[TM_HBP] = u16(t[TM_HTOTAL] - (t[TM_HACT] + t[TM_HFP]) - t[TM_HSYNC]);
    t[TM_VFP] = rd(R::VFP) & 0x3F;
    t[TM_VSYNC] = rd(R::VSYNC) & 0x1F;
    t[TM_VBP] = u16(t[TM_VTOTAL] - t[TM_VFP] - t[TM_VSYNC] - t[TM_VACT]);
    const u16 flags = rd(R::VID_FLAGS);
    t[TM_FLAGS] = u16((t[TM_FLAGS] & 0xF8) | ((rd(R::VID_STATUS) >> 1) & 0x01) | (((flags >> 3) & 1) << 1) |
                      ((flags & 1) << 2));
    const int port = hdmirxrd_it6602(R::PORT_SEL) & 0x01;
    m_tmdsClk[m_in] = tmdsClockOf(port);
    m_fineKHz[m_in] = fineClockKHz();
}

void vimra_it6602::show_vid_info() {
    const u8 depth = hdmirxrd_it6602(R::VID_STATUS) >> 4;
    m_depth[m_in] = depth == 5 ? 1 : depth == 6 ? 2 : 0;
    hdmirxset_it6602(R::OUT_FMT, 0x0C, u8(m_depth[m_in] << 2));
    chgbank_it6602(2);
    m_aviColor[m_in] = (hdmirxrd_it6602(R::B2_AVI_PB1) >> 5) & 0x03;
    chgbank_it6602(0);
    m_outQuant[m_in] = (hdmirxrd_it6602(R::OUT_FMT) >> 4) & 0x03;
    const u16* t = m_timing[m_in];
    const u64 frame = u64(t[TM_HTOTAL]) * t[TM_VTOTAL];
    // The rate from the fine clock, to the nearest hertz. The clock word in
    // whole MHz from the coarse count is too rough for it (59.4 MHz reads 59,
    // 297 reads 316: 720p24 came out 23, 3840x2160 at 30 Hz 31), and a count
    // of whole periods may read a hair below a whole rate (148499 kHz at
    // 2640 x 1125 is 49.9997 Hz). The clock word is left only when the fine
    // counter reads nothing.
    u32 rate = 0;
    if (frame && m_fineKHz[m_in])
        rate = u32((1000ull * m_fineKHz[m_in] + frame / 2) / frame);
    else if (frame)
        rate = u32(1000000ull * t[TM_PCLK] / frame);
    m_source.publish_signal(m_in, t[TM_HACT], t[TM_VACT], rate);
}

u32 vimra_it6602::CP_OCLK() {
    chgbank_it6602(0);
    hdmirxwr_it6602(R::OSC_SEL, 0x05);
    chgbank_it6602(1);
    hdmirxwr_it6602(0x57, 0x12);
    hdmirxwr_it6602(0x57, 0x02);
    hdmirxwr_it6602(0x56, 0x01);
    hdmirxwr_it6602(0x50, 0x00);
    hdmirxwr_it6602(0x51, 0x00);
    hdmirxwr_it6602(0x53, 0x04);
    const u8 a = hdmirxrd_it6602(R::B1_OSC_RESULT);
    const u8 b = hdmirxrd_it6602(R::B1_OSC_RESULT);
    const u8 c = hdmirxrd_it6602(R::B1_OSC_RESULT);
    u32 v = 0;
    const bool counted = a == 2 && b == 2 && c == 2;
    if (counted || ((a & c) == 0xFF && b == 0)) {
        hdmirxwr_it6602(0x50, counted ? 0x01 : 0x03);
        hdmirxwr_it6602(0x51, 0x60);
        hdmirxwr_it6602(0x53, 0x04);
        const u32 v0 = hdmirxrd_it6602(R::B1_OSC_RESULT);
        const u32 v1 = hdmirxrd_it6602(R::B1_OSC_RESULT);
        const u32 v2 = hdmirxrd_it6602(R::B1_OSC_RESULT);
        v = v0 + (v1 << 8) + (v2 << 16);
    }
    chgbank_it6602(0);
    hdmirxwr_it6602(R::OSC_SEL, 0x00);
    return v;
}

u32 vimra_it6602::OSCvalueCompare(u32 v) {
    if (v != 0) {
        const u32 scaled = v / 100;
        const u32 diff = scaled > kOscDefault ? scaled - kOscDefault : kOscDefault - scaled;
        if (diff < kOscTolerance) return scaled;
    }
    return kOscDefault;
}

float vimra_it6602::it6602_measure_pfreq() {
    const u32 osc = OSCvalueCompare(CP_OCLK());
    const u8 count = hdmirxrd_it6602(R::PCLK_CNT);
    float pfreq = count ? float(osc) / 400.0f * 255.0f / float(count) / 10.0f : 0.0f;
    // The fine clock the rate was published from, so the record and the
    // rate say the same clock.
    if (m_fineKHz[m_in] != 0) pfreq = float(m_fineKHz[m_in]) / 1000.0f;
    Console::print(" hdminfo[%d].pfreq:%f\n", m_in, double(pfreq));
    return pfreq;
}

u32 vimra_it6602::fineClockKHz() {
    hdmirxset_it6602(R::PCLK_LATCH, 0x01, 0x01);
    chgbank_it6602(2);
    hdmirxrd_it6602(R::B2_PCLK0);
    hdmirxrd_it6602(0xBF);
    hdmirxrd_it6602(0xBE);
    const u32 c0 = hdmirxrd_it6602(R::B2_PCLK0);
    const u32 c2 = hdmirxrd_it6602(R::B2_PCLK2);
    const u32 c1 = hdmirxrd_it6602(R::B2_PCLK1);
    chgbank_it6602(0);
    return (c1 << 12) + c2 * 16 + (c0 >> 4);
}

void vimra_it6602::IT6602_SetVideoMute(bool mute) {
    if (mute) {
        hdmirxset_it6602(R::VID_OUT, 0xC0, 0xC0);
        hdmirxset_it6602(R::OUT_CTRL, 0x20, 0x20);
        hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
        return;
    }
    if (dev().m_VState != VSTATE_VideoOn) return;
    hdmirxset_it6602(R::VID_OUT, 0x01, 0x00);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
    if (CheckAVMute()) {
        hdmirxset_it6602(R::OUT_CTRL, 0x20, 0x20);
        return;
    }
    hdmirxset_it6602(R::VID_RST, 0x80, 0x80);
    hdmirxset_it6602(R::VID_RST, 0x80, 0x00);
    delay1ms(10);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x0E);
    hdmirxset_it6602(R::VID_OUT, 0x0E, 0x00);
    hdmirxset_it6602(R::VID_OUT, 0xC0, 0xC0);
    hdmirxset_it6602(R::VID_OUT, 0xC0, 0x40);
}

// ---------------------------------------------------------------------------
// Audio machine

void vimra_it6602::IT6602SwitchAudioState(u8 state) {
    IT6602_dev_data& d = dev();
    if (d.m_AState == state) return;
    d.m_AState = state;
    if (state < 6) Console::print("IT6602[%d] %s\n", m_in, AStateStr[state]);
    switch (state) {
    case ASTATE_AudioOff:
        hdmirxset_it6602(R::RESET, 0x02, 0x02);
        hdmirxset_it6602(R::OUT_CTRL, 0x1F, 0x1F);
        break;
    case ASTATE_RequestAudio:
        hdmirxset_it6602(R::OUT_CTRL, 0x1F, 0x1F);
        break;
    case ASTATE_WaitForReady:
        hdmirxset_it6602(R::AUD_MUTE, 0x10, 0x10);
        hdmirxset_it6602(R::AUD_MUTE, 0x10, 0x00);
        d.m_AudioCountingTimer = kAudioReadyTimer;
        break;
    case ASTATE_AudioOn:
        hdmirxset_it6602(R::OUT_CTRL, 0x1F, 0x00);
        Console::print("Cat6023 Audio--> Audio flag=%02X,Ch No=%02X,Fs=%02X ...\n", d.m_bAudioFlag, d.m_bAudioChannel,
                    d.m_bAudioSampleFreq);
        break;
    default:
        break;
    }
}

void vimra_it6602::readAudioCaps(u8& flag, u8& ch, u8& fs) {
    const u8 cap = hdmirxrd_it6602(R::AUD_CAP);
    const u8 cap2 = hdmirxrd_it6602(R::AUD_CAP2);
    flag = cap & 0xF0;
    if (!(cap & 0x60) && !(cap2 & 0x01)) flag |= 0x01;
    ch = cap & 0x0F;
    fs = hdmirxrd_it6602(R::AUD_FS) & 0x0F;
}

void vimra_it6602::IT6602AudioHandler() {
    IT6602_dev_data& d = dev();
    d.m_AudioCountingTimer = d.m_AudioCountingTimer > 100 ? u16(d.m_AudioCountingTimer - 100) : 0;
    switch (d.m_AState) {
    case ASTATE_WaitForReady:
        if (d.m_AudioCountingTimer == 0) IT6602SwitchAudioState(ASTATE_AudioOn);
        break;
    case ASTATE_AudioOn:
        if (d.m_AudioCountingTimer == 0) {
            d.m_AudioCountingTimer = kAudioCheckTimer;
            u8 flag, ch, fs;
            readAudioCaps(flag, ch, fs);
            if (flag != d.m_bAudioFlag || ch != d.m_bAudioChannel || fs != d.m_bAudioSampleFreq)
                IT6602SwitchAudioState(ASTATE_RequestAudio);
        }
        break;
    case ASTATE_RequestAudio:
        readAudioCaps(d.m_bAudioFlag, d.m_bAudioChannel, d.m_bAudioSampleFreq);
        if (d.m_bAudioFlag & 0x80) {
            hdmirxset_it6602(R::AUD_CTRL, 0x70, 0x10);
            if (d.m_bAudioFlag & 0x40) {
                Console::print("+++++++++++ B_CAP_HBR_AUDIO +++++++++++++++++\n");
                hdmirxset_it6602(R::AUD_CTRL, 0x70, 0x00);
            } else if (!(d.m_bAudioFlag & 0x20)) {
                hdmirxset_it6602(R::AUD_MUTE, 0x10, 0x00);
            }
            hdmirxset_it6602(R::AUD_MUTE, 0x20, 0x20);
            hdmirx_ResetAudio();
            IT6602SwitchAudioState(ASTATE_WaitForReady);
        }
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------
// Event manager and 3D frames

void vimra_it6602::IT6602HDMIEventManager() {
    IT6602_dev_data& d = dev();
    for (int port = 0; port < 2; ++port) {
        if (eventIs(port, EVENT_COUNTDOWN)) {
            if (d.m_ucCountDown[port]) --d.m_ucCountDown[port];
            if (d.m_ucCountDown[port] == 0) eventClear(port, EVENT_COUNTDOWN);
            continue;
        }
        const bool clock = hdmirxrd_it6602(kPort[port].status) & R::status::CLOCK;
        if (eventIs(port, EVENT_TMDS_CHECK)) {
            if (clock) {
                eventClear(port, EVENT_TMDS_CHECK);
                TMDSCheck(port);
            }
        } else if (eventIs(port, EVENT_EQ_DETECT)) {
            if (clock) {
                eventClear(port, EVENT_EQ_DETECT);
                HDMIStartEQDetect(port);
            }
        }
    }
}

u8 vimra_it6602::IT6602_DE3DFrame() {
    chgbank_it6602(2);
    const u8 type = hdmirxrd_it6602(R::B2_VSI_TYPE);
    const u8 ieee[3] = {hdmirxrd_it6602(0x28), hdmirxrd_it6602(0x29), hdmirxrd_it6602(0x2A)};
    if (type != 0x81 || ieee[0] != 0x03 || ieee[1] != 0x0C || ieee[2] != 0x00) {
        chgbank_it6602(0);
        m_3dVic[m_in] = 0;
        std::memset(m_3dInfo[m_in], 0, sizeof m_3dInfo[m_in]);
        return 0;
    }
    m_3dVic[m_in] = hdmirxrd_it6602(R::B2_AVI_VIC);
    u8* info = m_3dInfo[m_in];
    Console::print("\nIT653x - HDMI_DumpDE3DFrameInfo:");
    for (int i = 0; i < 11; ++i) {
        info[i] = hdmirxrd_it6602(u8(R::B2_VSI_TYPE + i));
        Console::print(" %02X", info[i]);
    }
    Console::print("\n");
    chgbank_it6602(0);
    const u8 pb4 = info[0x2B - 0x24], pb5 = info[0x2C - 0x24];
    if ((pb4 >> 5) == 2) {
        const u8 structure = pb5 >> 4;
        if (structure == 0) {
            for (const Sync3D* row = t_3d_syncgen; row->vic != 0xFF; ++row)
                if (row->vic == (m_3dVic[m_in] & 0x7F)) {
                    frame3dSyncGen(*row);
                    break;
                }
            Console::print("it660x - HDMI_3DFORMAT is FRAME_PACKING\n");
        } else if (structure == 6) {
            Console::print("it660x - HDMI_3DFORMAT is TOP_AND_BOTTOM\n");
        } else if (structure == 8) {
            Console::print("it660x - HDMI_3DFORMAT is SIDE_BY_SIDE\n");
        }
    }
    Console::print("\nit660x - HDMI_3D_SourceConfiguration:\n");
    return 1;
}

void vimra_it6602::frame3dSyncGen(const Sync3D& row) {
    const u16 lrStart = u16(row.vactStart - row.vact / 2);
    const u16 lrEnd = u16(row.vactStart + row.vact / 2);
    chgbank_it6602(1);
    hdmirxwr_it6602(0x9D, u8(row.vtotal >> 4));
    hdmirxset_it6602(0x9C, 0xF0, u8(row.vtotal << 4));
    hdmirxwr_it6602(0x92, u8(row.vactStart));
    hdmirxset_it6602(0x93, 0x0F, u8(row.vactStart >> 8));
    hdmirxset_it6602(0x93, 0xF0, u8(row.vactEnd << 4));
    hdmirxwr_it6602(0x94, u8(row.vactEnd >> 4));
    hdmirxset_it6602(0x9F, 0xF0, u8(row.vsyncEnd << 4));
    hdmirxwr_it6602(0x8F, u8(lrStart));
    hdmirxset_it6602(0x90, 0x0F, u8(lrStart >> 8));
    hdmirxset_it6602(0x90, 0xF0, u8(lrEnd << 4));
    hdmirxwr_it6602(0x91, u8(lrEnd >> 4));
    chgbank_it6602(0);
    hdmirxset_it6602(R::FRAME_3D, 0x10, 0x10);
    hdmirxset_it6602(R::FRAME_3D_EN, 0x20, 0x20);
    Console::print("3D sync: vtotal %u, vact start %u, vact end %u, vsync end %u, lr %u-%u\n", row.vtotal, row.vactStart,
                row.vactEnd, row.vsyncEnd, lrStart, lrEnd);
}
