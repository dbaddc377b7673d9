#include "video_io/ite6805_drv.h"

#include "core/logMsg.h"
#include "video_io/ite6805_cec_sys.h"
#include "video_io/ite6805_reg.h"
#include "video_io/ite6805_sys.h"

using namespace it6805;

// The chip maker's power-on programme, applied row by row as masked writes.
const iTE6805_INI_REG ite6805_drv::iTE6805_INIT_HDMI_TABLE[133] = {
    {0x0F, 0xFF, 0x00}, {0x22, 0xFF, 0x08}, {0x22, 0xFF, 0x17}, {0x23, 0xFF, 0x1F}, {0x2B, 0xFF, 0x1F},
    {0x24, 0xFF, 0xF8}, {0x22, 0xFF, 0x10}, {0x23, 0xFF, 0xA0}, {0x2B, 0xFF, 0xA0}, {0x24, 0xFF, 0x00},
    {0x34, 0xFF, 0x00}, {0x0F, 0xFF, 0x03}, {0xAA, 0xFF, 0xEC}, {0x0F, 0xFF, 0x00}, {0x0F, 0xFF, 0x03},
    {0xAC, 0xFF, 0x40}, {0x0F, 0xFF, 0x00}, {0x3A, 0xFF, 0x89}, {0x49, 0xFF, 0xE1}, {0x43, 0xFF, 0x01},
    {0x0F, 0xFF, 0x04}, {0x43, 0xFF, 0x01}, {0x3A, 0xFF, 0x89}, {0x0F, 0xFF, 0x03}, {0xA8, 0xFF, 0x0B},
    {0x0F, 0xFF, 0x00}, {0x4F, 0xFF, 0x84}, {0x44, 0xFF, 0x19}, {0x46, 0xFF, 0x15}, {0x47, 0xFF, 0x88},
    {0xD9, 0xFF, 0x00}, {0xF0, 0xFF, 0x78}, {0xF1, 0xFF, 0x10}, {0x0F, 0xFF, 0x03}, {0x3A, 0xFF, 0x02},
    {0x0F, 0xFF, 0x00}, {0x28, 0xFF, 0x88}, {0x6E, 0xFF, 0x80}, {0x77, 0xFF, 0x87}, {0x7B, 0xFF, 0x00},
    {0x86, 0xFF, 0x00}, {0x0F, 0xFF, 0x00}, {0x36, 0xFF, 0x06}, {0x8F, 0xFF, 0x41}, {0x0F, 0xFF, 0x01},
    {0xC0, 0xFF, 0x42}, {0xC4, 0x70, 0x30}, {0xC4, 0x80, 0x00}, {0xC5, 0xFF, 0x00}, {0xC6, 0xFF, 0x00},
    {0xC7, 0xFF, 0x00}, {0xC8, 0xFF, 0x00}, {0xC9, 0xFF, 0x99}, {0xCA, 0xFF, 0x99}, {0x0F, 0xFF, 0x00},
    {0x86, 0x0C, 0x08}, {0x81, 0x80, 0x80}, {0x0F, 0x07, 0x01}, {0x10, 0xFF, 0x00}, {0x11, 0xFF, 0x00},
    {0x12, 0xFF, 0x00}, {0x13, 0xFF, 0x00}, {0x28, 0xFF, 0x00}, {0x29, 0xFF, 0x00}, {0x2A, 0xFF, 0x00},
    {0x2B, 0xFF, 0x00}, {0x2C, 0xFF, 0x00}, {0xC0, 0xC0, 0x40}, {0x0F, 0x07, 0x03}, {0xE3, 0xFF, 0x07},
    {0x27, 0xFF, 0x9F}, {0x28, 0xFF, 0x9F}, {0x29, 0xFF, 0x9F}, {0xA7, 0x40, 0x40}, {0x0F, 0x07, 0x07},
    {0xE3, 0xFF, 0x07}, {0x27, 0xFF, 0x9F}, {0x28, 0xFF, 0x9F}, {0x29, 0xFF, 0x9F}, {0xA7, 0x40, 0x40},
    {0x0F, 0x07, 0x00}, {0x21, 0x04, 0x00}, {0x4A, 0xFF, 0xC8}, {0xF8, 0xFF, 0xC3}, {0xF8, 0xFF, 0xA5},
    {0x0F, 0x07, 0x01}, {0x5F, 0xFF, 0x04}, {0x58, 0xFF, 0x12}, {0x58, 0xFF, 0x02}, {0x5F, 0xFF, 0x00},
    {0x0F, 0x07, 0x00}, {0xF8, 0xFF, 0xFF}, {0x0F, 0x07, 0x03}, {0xA6, 0x08, 0x08}, {0x0F, 0x07, 0x07},
    {0xA6, 0x08, 0x08}, {0x0F, 0x07, 0x05}, {0x20, 0x03, 0x01}, {0xC7, 0xFF, 0x49}, {0x0F, 0x07, 0x00},
    {0x0F, 0x07, 0x04}, {0x3C, 0x20, 0x00}, {0x0F, 0x07, 0x00}, {0x91, 0x40, 0x40}, {0x0F, 0x07, 0x03},
    {0xF0, 0xFF, 0xC0}, {0x0F, 0x07, 0x00}, {0x21, 0x40, 0x40}, {0xCE, 0x30, 0x00}, {0x0F, 0x07, 0x04},
    {0xCE, 0x30, 0x00}, {0x42, 0xE0, 0xC0}, {0x0F, 0x07, 0x00}, {0x42, 0xE0, 0xC0}, {0x7B, 0x10, 0x10},
    {0x3C, 0x21, 0x00}, {0x3B, 0xFF, 0x23}, {0xF6, 0xFF, 0x08}, {0x0F, 0x07, 0x04}, {0x3C, 0x21, 0x00},
    {0x3B, 0xFF, 0x23}, {0x0F, 0x07, 0x00}, {0x59, 0xFF, 0x00}, {0x2C, 0x01, 0x01}, {0x2D, 0x10, 0x10},
    {0x39, 0x01, 0x01}, {0x67, 0x80, 0x80}, {0x68, 0x10, 0x00}, {0xD8, 0xF0, 0x20}, {0x0F, 0x07, 0x05},
    {0xCB, 0x06, 0x00}, {0x0F, 0x07, 0x00}, {0xFF, 0xFF, 0xFF},
};

// Colour-space conversion rows, 22 bytes each, picked by byte offset.
const u8 ite6805_drv::CSC_Matrix[11 * 22] = {
    0x00, 0x80, 0x10, 0xB2, 0x04, 0x65, 0x02, 0xE9, 0x00, 0x93, 0x3C, 0x18, 0x04, 0x55, 0x3F, 0x49, 0x3D, 0x9F, 0x3E, 0x18, 0x04, 0x00,
    0x10, 0x80, 0x10, 0x09, 0x04, 0x0E, 0x02, 0xC9, 0x00, 0x0F, 0x3D, 0x84, 0x03, 0x6D, 0x3F, 0xAB, 0x3D, 0xD1, 0x3E, 0x84, 0x03, 0x00,
    0x00, 0x80, 0x10, 0xB8, 0x05, 0xB4, 0x01, 0x94, 0x00, 0x4A, 0x3C, 0x17, 0x04, 0x9F, 0x3F, 0xD9, 0x3C, 0x10, 0x3F, 0x17, 0x04, 0x00,
    0x10, 0x80, 0x10, 0xEA, 0x04, 0x77, 0x01, 0x7F, 0x00, 0xD0, 0x3C, 0x83, 0x03, 0xAD, 0x3F, 0x4B, 0x3D, 0x32, 0x3F, 0x83, 0x03, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x08, 0x6B, 0x3A, 0x50, 0x3D, 0x00, 0x08, 0xF5, 0x0A, 0x02, 0x00, 0x00, 0x08, 0xFD, 0x3F, 0xDA, 0x0D, 0x00,
    0x04, 0x00, 0xA7, 0x4F, 0x09, 0x81, 0x39, 0xDD, 0x3C, 0x4F, 0x09, 0xC4, 0x0C, 0x01, 0x00, 0x4F, 0x09, 0xFD, 0x3F, 0x1F, 0x10, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x08, 0x55, 0x3C, 0x88, 0x3E, 0x00, 0x08, 0x51, 0x0C, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x84, 0x0E, 0x00,
    0x04, 0x00, 0xA7, 0x4F, 0x09, 0xBA, 0x3B, 0x4B, 0x3E, 0x4F, 0x09, 0x57, 0x0E, 0x02, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0xE8, 0x10, 0x00,
    0x04, 0x00, 0xA7, 0x4F, 0x09, 0xCC, 0x3A, 0x7E, 0x3E, 0x4F, 0x09, 0x69, 0x0D, 0x0B, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0x1D, 0x11, 0x00,
    0x10, 0x10, 0x00, 0xE0, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x06, 0x10,
    0xED, 0xED, 0x00, 0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x09, 0xED,
};

ite6805_drv::ite6805_drv(ite6805_sys& root, ite6805_i2c_rdwr& io) : m_root(root), m_io(io) {}

void ite6805_drv::chgbank(u8 bank, int rx) { m_io.hdmirxset(REG_BANK, BANK_MASK, u8(bank & 7), rx); }

u8 ite6805_drv::frontend_bank(int rx) const {
    return m_root.data[rx].CurrentPort ? BANK_FRONTEND_P1 : BANK_FRONTEND_P0;
}

// ---------------------------------------------------------------- initialisation

void ite6805_drv::iTE6805_Init_fsm(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    d.ChipID = m_io.hdmirxrd(REG_REVISION, rx);
    d.Flag_VidSelector = 1;
    d.STATEV = STATEV_Unplug;
    d.STATEA = STATEA_AudioOff;
    d.STATEEQ = 0;
    d.LastOutputMode = 7;

    m_io.hdimrx_write_init(iTE6805_INIT_HDMI_TABLE, rx);

    m_io.hdmirxset(0x3E, 0x20, m_root.rev_10_E0(rx) ? 0x00 : 0x20, rx);
    m_io.hdmirxset(0x3D, 0x02, 0x02, rx);
    m_io.hdmirxwr(0x3F, 0x57, rx);
    m_io.hdmirxset(0x41, 0xC0, 0x40, rx);

    iTE6805_Init_CAOF(rx);
    chgbank(0, rx);
    m_io.hdmirxwr(0x28, 0x88, rx);
    iTE6805_Set_Video_Tristate(true, rx);
    iTE6805_OCLK_Cal(rx);

    d.PortSelectRequest = 0;
    d.PortResetRequest = 0;

    m_io.hdmirxset(0xC5, 0x01, 0x01, rx);
    chgbank(4, rx);
    m_io.hdmirxset(0xC5, 0x01, 0x01, rx);
    chgbank(0, rx);

    iTE6805_Init_TTL_VideoOutputConfigure(rx);
    iTE6805_Set_TTL_Video_Path(rx);
    m_root.cec_sys().iTE6805_CEC_INIT(rx);

    d.CurrentPort = 0;
    d.RequestPort = 0;
    m_root.iTE6805_INT_5VPWR_Chg(0, rx);
}

void ite6805_drv::iTE6805_Init_TTL_VideoOutputConfigure(int rx) {
    m_root.data[rx].OutputColorMode = Color_Format_RGB;
    m_root.data[rx].OutputFollowInput = 0;
}

void ite6805_drv::iTE6805_Set_TTL_Video_Path(int rx) {
    m_io.hdmirxset(0x6B, 0x0C, u8((m_root.data[rx].OutputColorMode & 3) << 2), rx);
}

void ite6805_drv::iTE6805_Init_CAOF(int rx) {
    auto frontEnd = [&](u8 bank) {
        chgbank(bank, rx);
        m_io.hdmirxset(0x3A, 0x80, 0x00, rx);
        m_io.hdmirxset(0xA0, 0x80, 0x80, rx);
        m_io.hdmirxset(0xA1, 0x80, 0x80, rx);
        m_io.hdmirxset(0xA2, 0x80, 0x80, rx);
        m_io.hdmirxset(0xA4, 0x08, 0x08, rx);
        m_io.hdmirxset(0x3B, 0xC0, 0x00, rx);
        m_io.hdmirxset(0xA7, 0x10, 0x10, rx);
        m_io.hdmirxset(0x48, 0x80, 0x80, rx);
    };
    // Waits for a port's calibration: five 10 ms polls, then another pulse
    // of the start bit; after six pulses the port is given up.
    auto waitPort = [&](u8 intReg, u8 startReg, u8 bank) {
        auto pulse = [&] {
            m_io.hdmirxset(startReg, 0x40, 0x40, rx);
            m_root.delay1ms(10);
            m_io.hdmirxset(startReg, 0x40, 0x00, rx);
        };
        chgbank(0, rx);
        for (int retries = 0;;) {
            for (int poll = 0; poll < 5; ++poll) {
                if (m_io.hdmirxrd(intReg, rx) & INT8_CAL_DONE) return;
                m_root.delay1ms(10);
            }
            pulse();
            if (++retries >= 6) {
                chgbank(bank, rx);
                m_io.hdmirxset(0x3A, 0x80, 0x00, rx);
                chgbank(0, rx);
                pulse();
                return;
            }
        }
    };

    frontEnd(BANK_FRONTEND_P0);
    chgbank(0, rx);
    m_io.hdmirxset(0x29, 0x01, 0x01, rx);
    m_io.hdmirxset(0x2A, 0x41, 0x41, rx);
    m_root.delay1ms(10);
    m_io.hdmirxset(0x2A, 0x40, 0x00, rx);
    m_io.hdmirxset(0x24, 0x04, 0x04, rx);
    for (u8 r = 0x25; r <= 0x28; ++r) m_io.hdmirxwr(r, 0x00, rx);
    m_io.hdmirxset(0x3C, 0x10, 0x00, rx);

    frontEnd(BANK_FRONTEND_P1);
    chgbank(0, rx);
    m_io.hdmirxset(0x32, 0x41, 0x41, rx);
    m_root.delay1ms(10);
    m_io.hdmirxset(0x32, 0x40, 0x00, rx);
    m_io.hdmirxset(0x2C, 0x04, 0x04, rx);
    m_io.hdmirxset(0x2D, 0x6F, 0x00, rx);
    for (u8 r = 0x2E; r <= 0x30; ++r) m_io.hdmirxwr(r, 0x00, rx);

    chgbank(4, rx);
    m_io.hdmirxset(0x3C, 0x10, 0x00, rx);
    chgbank(BANK_FRONTEND_P0, rx);
    m_io.hdmirxset(0x3A, 0x80, 0x80, rx);
    waitPort(REG_INT_P0_CLK, 0x2A, BANK_FRONTEND_P0);

    chgbank(BANK_FRONTEND_P1, rx);
    m_io.hdmirxset(0x3A, 0x80, 0x80, rx);
    waitPort(REG_INT_P1_CLK, 0x32, BANK_FRONTEND_P1);

    chgbank(0, rx);
    m_io.hdmirxset(REG_INT_P0_CLK, 0x30, 0x30, rx);
    m_io.hdmirxset(REG_INT_P1_CLK, 0x30, 0x30, rx);
    m_io.hdmirxset(0x29, 0x01, 0x00, rx);
    m_io.hdmirxset(0x24, 0x04, 0x00, rx);
    m_io.hdmirxset(0x3C, 0x10, 0x10, rx);
    m_io.hdmirxset(0x2C, 0x04, 0x00, rx);
    chgbank(4, rx);
    m_io.hdmirxset(0x3C, 0x10, 0x10, rx);
    for (u8 bank : {BANK_FRONTEND_P0, BANK_FRONTEND_P1}) {
        chgbank(bank, rx);
        for (u8 r : {0x3A, 0xA0, 0xA1, 0xA2}) m_io.hdmirxset(r, 0x80, 0x00, rx);
    }
    chgbank(0, rx);
}

u32 ite6805_drv::iTE6805_OCLK_Load(int rx) {
    chgbank(0, rx);
    m_io.hdmirxwr(0xF8, 0xC3, rx);
    m_io.hdmirxwr(0xF8, 0xA5, rx);
    m_io.hdmirxwr(0x34, 0x00, rx);
    chgbank(1, rx);
    m_io.hdmirxwr(0x5F, 0x04, rx);
    m_io.hdmirxwr(0x5F, 0x05, rx);
    m_io.hdmirxwr(0x58, 0x12, rx);
    m_io.hdmirxwr(0x58, 0x02, rx);
    if (m_io.hdmirxrd(REG_OSC_READY, rx) != OSC_READY) {
        m_io.hdmirxwr(0xF8, 0xC3, rx);
        m_io.hdmirxwr(0xF8, 0xA5, rx);
        m_io.hdmirxwr(0x5F, 0x04, rx);
        m_io.hdmirxwr(0x58, 0x12, rx);
        m_io.hdmirxwr(0x58, 0x02, rx);
        for (int i = 0; i < 5000 && m_io.hdmirxrd(REG_OSC_READY, rx) != OSC_READY; ++i) m_root.delay1ms(1);
        m_root.delay1ms(10);
        chgbank(0, rx);
        m_io.hdmirxset(0xCF, 0x01, 0x01, rx);
        chgbank(1, rx);
    }
    m_io.hdmirxwr(0x57, 0x01, rx);
    auto readPair = [&](u8 sel0, u8 sel1, u8& lo, u8& hi) {
        m_io.hdmirxwr(REG_OSC_SEL0, sel0, rx);
        m_io.hdmirxwr(REG_OSC_SEL1, sel1, rx);
        m_io.hdmirxwr(0x54, 0x04, rx);
        lo = m_io.hdmirxrd(REG_OSC_D0, rx);
        hi = m_io.hdmirxrd(REG_OSC_D1, rx);
    };
    u8 a, b, c, dd;
    readPair(0x00, 0x00, a, b);
    readPair(0x00, 0x01, c, dd);
    const u8 sel = (c == 0 && dd == 0 && (a & b) == 0xFF) ? 4 : 0;
    u8 low, mid, high, flags;
    readPair(sel, 0xB0, low, mid);
    readPair(sel, 0xB1, high, flags);
    u32 value = u32(high) * 65536 + u32(mid) * 256 + low;
    if ((flags & 0xC0) == 0xC0) value /= 100;
    m_io.hdmirxwr(0x5F, 0x00, rx);
    chgbank(0, rx);
    m_io.hdmirxwr(0xF8, 0x00, rx);
    return (value >= 13000 && value <= 27000) ? value : 19000;
}

void ite6805_drv::iTE6805_OCLK_Cal(int rx) {
    const u32 clk = iTE6805_OCLK_Load(rx);
    chgbank(BANK_FRONTEND_P0, rx);
    m_io.hdmirxset(0xAA, 0x1F, 0x0C, rx);
    RCLKVALUE[rx] = clk;
    RCLKVALUE_160[rx] = u8(clk / 160);
    chgbank(0, rx);
    m_io.hdmirxset(0x91, 0x3F, u8(clk / 1000), rx);
    m_io.hdmirxwr(0x92, u8((clk % 1000) * 256 / 1000), rx);
    chgbank(BANK_FRONTEND_P0, rx);
    m_io.hdmirxwr(0xE1, u8(clk / 100), rx);
    chgbank(0, rx);
    m_io.hdmirxwr(0x45, u8(2 * clk / 312), rx);
    m_io.hdmirxwr(0x44, u8(2 * clk / 1560), rx);
    m_io.hdmirxwr(0x46, u8(2 * clk / 2320), rx);
    m_io.hdmirxwr(0x47, u8(2 * clk / 5312), rx);
    chgbank(5, rx);
    const u32 t = 2560 * ((2 * clk) / 4) / 1000000;
    m_io.hdmirxwr(0xD3, u8((2 * t) & 0xFE), rx);
    m_io.hdmirxwr(0xD4, u8(t), rx);
    chgbank(0, rx);
}

// ---------------------------------------------------------------- hot-plug

void ite6805_drv::iTE6805_Set_HPD_Ctrl(u8 port, u8 level, int rx) {
    if (port != 0) {
        m_root.data[rx].InputType = 0;
        return;
    }
    if (!iTE6805_Check_5V_State(0, rx)) {
        chgbank(BANK_FRONTEND_P0, rx);
        m_io.hdmirxset(REG_HPD, HPD_MASK, 0x00, rx);
        chgbank(0, rx);
        if (!level) m_root.publish_no_signal(rx);
        return;
    }
    if (iTE6805_Check_PORT0_IS_MHL_Mode(0, rx)) return;
    m_root.data[rx].InputType = 0;
    chgbank(BANK_FRONTEND_P0, rx);
    m_io.hdmirxset(REG_HPD, HPD_MASK, level ? HPD_HIGH : HPD_LOW, rx);
    m_io.hdmirxset(0xAC, 0x7C, 0x40, rx);
    chgbank(0, rx);
}

// ---------------------------------------------------------------- checks

namespace {
constexpr u8 portStatus(u8 port) { return port ? REG_P1_STATUS : REG_P0_STATUS; }
}  // namespace

bool ite6805_drv::iTE6805_Check_5V_State(u8 port, int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(portStatus(port), rx) & ST_PWR5V;
}

bool ite6805_drv::iTE6805_Check_CLK_Vaild(int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(portStatus(m_root.data[rx].CurrentPort), rx) & ST_CLK_VALID;
}

bool ite6805_drv::iTE6805_Check_CLK_Stable(int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(portStatus(m_root.data[rx].CurrentPort), rx) & ST_CLK_STABLE;
}

u8 ite6805_drv::iTE6805_Check_HDMI_OR_DVI_Mode(u8 port, int rx) {
    chgbank(0, rx);
    if (port > 1) return 2;
    return (m_io.hdmirxrd(portStatus(port), rx) & ST_HDMI) ? 0 : 2;
}

bool ite6805_drv::iTE6805_Check_PORT0_IS_MHL_Mode(u8 port, int rx) {
    chgbank(0, rx);
    return port == 0 && (m_io.hdmirxrd(REG_P0_STATUS, rx) & ST_MHL);
}

bool ite6805_drv::iTE6805_Check_SCDT(int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(REG_SYS_STATUS, rx) & SYS_SCDT;
}

bool ite6805_drv::iTE6805_Check_AUDT(int rx) {
    chgbank(0, rx);
    return (m_io.hdmirxrd(REG_AUD_STATUS, rx) & 0x80) && !(m_io.hdmirxrd(REG_INT_VID, rx) & 0x80);
}

bool ite6805_drv::iTE6805_Check_AVMute(int rx) {
    chgbank(m_root.data[rx].CurrentPort ? 4 : 0, rx);
    const bool muted = m_io.hdmirxrd(REG_VID_POL, rx) & POL_AVMUTE;
    chgbank(0, rx);
    return muted;
}

bool ite6805_drv::iTE6805_Check_HDMI2(int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(m_root.data[rx].CurrentPort ? REG_P1_STATUS2 : REG_P0_STATUS2, rx) & ST2_HDMI2;
}

bool ite6805_drv::iTE6805_Check_TMDS_Bigger_Than_1G(int rx) {
    chgbank(0, rx);
    return m_io.hdmirxrd(m_root.data[rx].CurrentPort ? REG_P1_STATUS2 : REG_P0_STATUS2, rx) & ST2_ABOVE_1G;
}

bool ite6805_drv::iTE6805_Check_Single_Dual_Mode(int rx) {
    chgbank(1, rx);
    const bool dual = m_io.hdmirxrd(0xC0, rx) & 0x01;
    chgbank(0, rx);
    return dual;
}

bool ite6805_drv::iTE6805_Check_4K_Resolution(int rx) {
    const u32 pclk = iTE6805_Get_PCLK(rx);
    if (pclk > 320000) return true;
    if (pclk <= 160000) return false;
    return m_root.data[rx].Is420;
}

// ---------------------------------------------------------------- measurement

u32 ite6805_drv::iTE6805_Get_TMDS(u8 samples, int rx) {
    if (samples == 0) samples = 1;
    chgbank(m_root.data[rx].CurrentPort ? 4 : 0, rx);
    u32 sum = 0;
    for (u8 i = 0; i < samples; ++i) {
        sum += u8(m_io.hdmirxrd(REG_TMDS_COUNT, rx) + 1);
        m_root.delay1ms(3);
    }
    const u8 r43 = m_io.hdmirxrd(REG_TMDS_SCALE, rx);
    const u32 scale = (r43 & 0x80) ? 1024 : (r43 & 0x40) ? 512 : (r43 & 0x20) ? 256 : 128;
    chgbank(0, rx);
    // Every count reading 0xFF sums to 0: no clock to measure.
    const u32 tmds = sum ? u32(u64(RCLKVALUE[rx]) * samples * scale / sum) : 0;
    m_root.timing[rx].TMDSCLK = tmds;
    return tmds;
}

u32 ite6805_drv::iTE6805_Get_PCLK(int rx) {
    chgbank(0, rx);
    u32 sum = 0;
    for (u32 k = 1; k <= 20; ++k) {
        m_root.delay1ms(10 * k);
        m_io.hdmirxset(REG_PCLK_HI, 0x80, 0x00, rx);
        const u8 hi = m_io.hdmirxrd(REG_PCLK_HI, rx);
        const u8 lo = m_io.hdmirxrd(REG_PCLK_LO, rx);
        m_io.hdmirxset(REG_PCLK_HI, 0x80, 0x80, rx);
        sum += u32(hi & 0x03) * 256 + lo;
    }
    const u32 pclk = sum ? u32(10240ull * RCLKVALUE[rx] / sum) : 0;
    m_root.timing[rx].PCLK = pclk;
    return pclk;
}

u32 ite6805_drv::iTE6805_Get_VID_Info(int rx) {
    iTE6805_VTiming& t = m_root.timing[rx];
    chgbank(m_root.data[rx].CurrentPort ? 4 : 0, rx);
    iTE6805_Get_TMDS(1, rx);
    iTE6805_Get_PCLK(rx);
    auto rd = [&](u8 r) { return u32(m_io.hdmirxrd(r, rx)); };
    auto v6 = [&](u8 lo, u8 hi) { return u16(rd(lo) + (rd(hi) & 0x3F) * 256); };
    t.HTotal = v6(0x9B, 0x9C);
    t.HActive = v6(0x9D, 0x9E);
    if (m_root.rev_10_E0(rx)) {
        t.HFrontPorch = v6(0xA1, 0xA2);
        t.HSyncWidth = v6(0x9F, 0xA0);
        t.VTotal = v6(0xA3, 0xA4);
        t.VActive = v6(0xA5, 0xA6);
        t.VFrontPorch = v6(0xA9, 0xAB);
        t.VSyncWidth = v6(0xA7, 0xA8);
    } else {
        t.HFrontPorch = u16(rd(0xA0) + (rd(0xA1) & 0xF0) * 16);
        t.HSyncWidth = u16(rd(0x9F) + (rd(0xA1) & 0x01) * 256);
        t.VTotal = v6(0xA2, 0xA3);
        t.VActive = v6(0xA4, 0xA5);
        t.VFrontPorch = u16(rd(0xA7) + (rd(0xA8) & 0xF0) * 16);
        t.VSyncWidth = u16(rd(0xA6) + (rd(0xA8) & 0x01) * 256);
    }
    t.HBackPorch = u16(t.HTotal - t.HActive - t.HFrontPorch - t.HSyncWidth);
    t.VBackPorch = u16(t.VTotal - t.VActive - t.VFrontPorch - t.VSyncWidth);
    t.ScanMode = (rd(REG_VID_MODE) & 0x02) ? 1 : 0;
    t.HPolarity = (rd(REG_VID_POL) & POL_H) ? 1 : 0;
    t.VPolarity = (rd(REG_VID_POL) & POL_V) ? 1 : 0;
    // No lines measured: no rate rather than a division by zero.
    const u64 frame = u64(t.HTotal) * t.VTotal;
    t.FrameRate = frame ? u32(1000ull * t.PCLK / frame) : 0;
    chgbank(0, rx);
    return t.FrameRate;
}

void ite6805_drv::iTE6805_Get_AVIInfoFrame_Info(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    chgbank(2, rx);
    const u8 db1 = m_io.hdmirxrd(REG_AVI_DB1, rx);
    d.AVI_ColorFormat = (db1 >> 5) & 0x03;
    d.AVI_Scan = db1 & 0x03;
    d.AVI_Colorimetry = (m_io.hdmirxrd(REG_AVI_DB2, rx) >> 6) & 0x03;
    const u8 db3 = m_io.hdmirxrd(REG_AVI_DB3, rx);
    d.AVI_ExtColorimetry = (db3 >> 4) & 0x07;
    d.AVI_RGBQuant = (db3 >> 2) & 0x03;
    d.AVI_VIC = m_io.hdmirxrd(REG_AVI_DB4, rx) & 0x7F;
    d.AVI_YCCQuant = (m_io.hdmirxrd(REG_AVI_DB5, rx) >> 6) & 0x03;
    // No quantisation sent: the default of the format (full for VGA).
    if (d.AVI_RGBQuant == 0) d.AVI_RGBQuant = d.AVI_VIC <= 1 ? 2 : 1;
    d.Is420 = d.AVI_ColorFormat == Color_Format_YUV420;
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Check_ColorChange_Update(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    u8* prev = m_root.count[rx].prev_avi;
    const u8 now[5] = {u8(d.AVI_ColorFormat), u8(d.AVI_Colorimetry), d.AVI_ExtColorimetry, u8(d.AVI_RGBQuant),
                       u8(d.AVI_YCCQuant)};
    u8 changed = 0;
    for (int i = 0; i < 5; ++i)
        if (now[i] != prev[i]) changed |= u8(1 << i);
    d.ColorChange = changed;
    if (changed)
        for (int i = 0; i < 5; ++i) prev[i] = now[i];
}

void ite6805_drv::iTE6805_GET_InputType(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    if (iTE6805_Check_PORT0_IS_MHL_Mode(d.CurrentPort, rx))
        d.InputType = 1;
    else
        d.InputType = iTE6805_Check_HDMI_OR_DVI_Mode(d.CurrentPort, rx) == 2 ? 2 : 0;
}

// ---------------------------------------------------------------- output path

u8 ite6805_drv::output_mode(u32 pclk, int rx) const {
    const iTE6805_VTiming& t = m_root.timing[rx];
    const bool fourK = pclk > 320000 || (pclk > 160000 && m_root.data[rx].Is420);
    if (fourK) return 3;
    if (pclk <= 80000) return 0;
    if (pclk > 160000 || t.HActive > 2176) {
        // The four-lane output splits lines in groups of four pixels.
        const bool by4 = t.HTotal % 4 == 0 && t.HActive % 4 == 0 && t.HFrontPorch % 4 == 0 &&
                         t.HSyncWidth % 4 == 0 && t.HBackPorch % 4 == 0;
        return by4 ? 2 : 1;
    }
    return 1;
}

void ite6805_drv::set_C9_for_10_E0(int rx) {
    chgbank(5, rx);
    m_io.hdmirxset(0xC9, 0xF7, 0x78, rx);
    m_io.hdmirxwr(0xD5, 0x80, rx);
    m_io.hdmirxwr(0xD7, 0x0C, rx);
    m_io.hdmirxwr(0xDF, 0x87, rx);
    m_io.hdmirxset(0xE1, 0x80, 0x80, rx);
    m_io.hdmirxset(0xC9, 0x02, (m_io.hdmirxrd(REG_OUT_STATUS, rx) & 0x08) ? 0x02 : 0x00, rx);
}

void ite6805_drv::iTE6807_Video_Output_Setting(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    iTE6805_VTiming& t = m_root.timing[rx];
    d.DownScale = 0;
    chgbank(0, rx);
    m_io.hdmirxset(0x64, 0x04, 0x00, rx);
    m_io.hdmirxset(0x64, 0x02, 0x02, rx);
    m_io.hdmirxset(0x64, 0x02, 0x00, rx);
    chgbank(5, rx);
    m_io.hdmirxset(0x20, 0x40, 0x40, rx);
    m_io.hdmirxset(0xCB, 0x01, 0x00, rx);
    m_io.hdmirxset(0xD3, 0x80, 0x80, rx);
    m_io.hdmirxset(0xD3, 0x80, 0x00, rx);
    m_io.hdmirxwr(0xC7, t.PCLK >= 30000 ? 0x00 : 0x49, rx);
    chgbank(1, rx);
    m_io.hdmirxset(0xC0, 0x01, 0x00, rx);

    d.Flag_VidSelector = 1;
    d.TwoSection = (t.HActive <= 2176 && t.PCLK < 160000) ? 0 : 1;
    debugPrintf("\t iTE6807_Video_Output_Setting:dev_id:%d hact:%d,pclk=%d,_iTE6807_EnableTwoSectionMode_=%d\n", rx,
                t.HActive, int(t.PCLK), d.TwoSection);
    if (d.TwoSection) {
        chgbank(5, rx);
        m_io.hdmirxset(0xCB, 0x01, 0x01, rx);
        chgbank(0, rx);
        m_io.hdmirxset(0x64, 0x04, 0x04, rx);
        m_io.hdmirxset(0x33, 0x02, 0x02, rx);
        m_io.hdmirxset(0x33, 0x02, 0x00, rx);
    } else {
        chgbank(5, rx);
        m_io.hdmirxset(0xCB, 0x01, 0x00, rx);
        chgbank(0, rx);
        m_io.hdmirxset(0x64, 0x04, 0x00, rx);
    }

    iTE6805_Check_4K_Resolution(rx);  // a fresh pixel-clock measurement
    const u8 mode = output_mode(t.PCLK, rx);
    d.OutputMode = mode;

    chgbank(1, rx);
    m_io.hdmirxset(0xBD, 0x30, mode ? 0x10 : 0x00, rx);
    chgbank(5, rx);
    m_io.hdmirxset(0xC0, 0xF0, u8(0x40 + 16 * mode), rx);
    m_io.hdmirxset(0xD2, 0x10, 0x00, rx);
    m_io.hdmirxset(0xD2, 0x10, 0x10, rx);
    m_root.delay1ms(10);
    u8 status = m_io.hdmirxrd(REG_OUT_STATUS, rx);
    for (int i = 0; i < 500 && !(status & 0x10); ++i) {
        m_io.hdmirxset(0xD2, 0x10, 0x00, rx);
        m_io.hdmirxset(0xD2, 0x10, 0x10, rx);
        m_root.delay1ms(10);
        status = m_io.hdmirxrd(REG_OUT_STATUS, rx);
    }
    m_io.hdmirxset(0xC6, 0x07, (status & 0x0C) == 0x0C ? 4 : 3, rx);
    m_io.hdmirxset(0xC1, 0x04, 0x00, rx);
    if (m_root.rev_10_E0(rx)) set_C9_for_10_E0(rx);

    const u8 last = d.LastOutputMode;
    if (last == 7 || (mode == 0 && last != 0) || (mode != 0 && last == 0)) {
        d.LastOutputMode = mode;
        iTE6805_Reset_Video_Logic(rx);
        m_root.delay1ms(1);
        chgbank(5, rx);
    }
    chgbank(5, rx);
    m_io.hdmirxset(0xC9, 0x01, 0x00, rx);
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Set_1B0_By_PixelClock(int rx) {
    iTE6805_DATA& d = m_root.data[rx];
    const iTE6805_VTiming& t = m_root.timing[rx];
    chgbank(0, rx);
    const u8 div = (m_io.hdmirxrd(REG_PCLK_DIV, rx) >> 4) & 0x03;
    d.PixelClockDivider = div == 1 ? 2 : div == 3 ? 4 : 1;
    const bool dual = iTE6805_Check_Single_Dual_Mode(rx);
    chgbank(1, rx);
    m_io.hdmirxset(0xB0, 0x01, (t.PCLK / d.PixelClockDivider >= 25000) ? 0x01 : 0x00, rx);
    if (!dual) m_io.hdmirxset(0xB0, 0x01, 0x00, rx);
    m_io.hdmirxset(0xB0, 0x01, d.OutputMode ? 0x01 : 0x00, rx);
    const bool above1G = iTE6805_Check_TMDS_Bigger_Than_1G(rx);
    const bool mhl = iTE6805_Check_PORT0_IS_MHL_Mode(d.CurrentPort, rx);
    chgbank(BANK_FRONTEND_P0, rx);
    m_io.hdmirxset(0xB0, 0x08, above1G ? 0x00 : 0x08, rx);
    if (mhl && t.HActive == 640 && t.VActive == 480) m_io.hdmirxwr(0xA7, 0x1F, rx);
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Set_ColorDepth(int rx) {
    chgbank(5, rx);
    m_io.hdmirxwr(0xC7, m_root.timing[rx].PCLK < 30000 ? 0x49 : 0x00, rx);
    chgbank(0, rx);
    m_io.hdmirxset(0x6B, 0x03, 0x01, rx);
    if (m_root.rev_10_E0(rx)) set_C9_for_10_E0(rx);
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Set_Video_Tristate(bool on, int rx) {
    chgbank(0, rx);
    const u8 depth = m_io.hdmirxrd(REG_VID_MODE, rx) & 0xF0;
    m_root.timing[rx].ColorDepth = depth;
    if (on) {
        chgbank(1, rx);
        m_io.hdmirxwr(0xC5, 0xFF, rx);
        m_io.hdmirxwr(0xC6, 0xFF, rx);
        chgbank(0, rx);
        return;
    }
    const bool dual = iTE6805_Check_Single_Dual_Mode(rx);
    chgbank(1, rx);
    m_io.hdmirxset(0xC5, 0x80, 0x00, rx);
    m_io.hdmirxset(0xC6, 0x80, 0x00, rx);
    if (dual) {
        m_io.hdmirxwr(0xC6, depth == 0x10 ? 0x40 : 0x00, rx);
    } else {
        const u8 sel = m_io.hdmirxrd(0xC0, rx) >> 6;
        if (sel == 2)
            m_io.hdmirxwr(0xC5, depth == 0x10 ? 0x63 : depth == 0x20 ? 0x23 : 0x03, rx);
        else if (sel < 2)
            m_io.hdmirxwr(0xC5, depth == 0x10 ? 0x78 : depth == 0x20 ? 0x38 : 0x18, rx);
    }
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Set_Audio_Tristate(bool on, int rx) {
    chgbank(1, rx);
    m_io.hdmirxwr(0xC7, on ? 0x7F : 0x00, rx);
    chgbank(0, rx);
}

void ite6805_drv::iTE6805_Set_AVMute(bool on, int rx) {
    if (on) {
        chgbank(0, rx);
        m_io.hdmirxset(0x4F, 0xA0, 0xA0, rx);
        chgbank(1, rx);
        m_io.hdmirxset(0xC5, 0x80, 0x80, rx);
        chgbank(0, rx);
        return;
    }
    if (m_root.data[rx].STATEV != STATEV_VidStable) return;
    if (iTE6805_Check_AVMute(rx)) {
        m_io.hdmirxset(0x4F, 0x80, 0x80, rx);
        return;
    }
    const bool dual = iTE6805_Check_Single_Dual_Mode(rx);
    chgbank(1, rx);
    m_io.hdmirxset(0xC5, 0x01, 0x01, rx);
    m_io.hdmirxset(0xC5, 0x01, 0x00, rx);
    if (dual) m_io.hdmirxset(0xC5, 0x01, 0x01, rx);
    chgbank(0, rx);
    m_io.hdmirxset(0x4F, 0xA0, 0xA0, rx);
    m_io.hdmirxset(0x4F, 0x20, 0x00, rx);
}

// ---------------------------------------------------------------- audio

void ite6805_drv::iTE6805_Show_AUD_Info(int rx) {
    chgbank(0, rx);
    u8& n = m_root.data[rx].AudioChannelCount;
    if (m_io.hdmirxrd(REG_AUD_CS0, rx) & 0x40) {
        n = 2;
        return;
    }
    switch (m_io.hdmirxrd(REG_AUD_STATUS, rx) & 0x3F) {
    case 0x01: n = 2; break;
    case 0x03: n = 4; break;
    case 0x07: n = 6; break;
    case 0x0F: n = 8; break;
    case 0x1F: n = 10; break;
    case 0x3F: n = 12; break;
    default: break;
    }
}

u8 ite6805_drv::fs_code(u32 khz, u8 keep) {
    struct Range {
        u16 lo, hi;
        u8 code;
    };
    static const Range ranges[] = {
        {26, 38, 0x03},    {39, 45, 0x00},    {46, 58, 0x02},    {59, 78, 0x0B},    {79, 91, 0x08},
        {92, 106, 0x0A},   {107, 166, 0x2B},  {167, 182, 0x0C},  {183, 202, 0x0E},  {225, 320, 0x1B},
        {321, 448, 0x05},  {449, 638, 0x3B},  {639, 894, 0x09},  {895, 1324, 0x35},
    };
    for (const Range& r : ranges)
        if (khz >= r.lo && khz <= r.hi) return r.code;
    return keep;
}

void ite6805_drv::iTE6805_Reset_Video_Logic(int rx) {
    m_io.hdmirxset(0x22, 0x01, 0x01, rx);
    m_root.delay1ms(1);
    m_io.hdmirxset(0x22, 0x01, 0x00, rx);
    m_io.hdmirxset(REG_INT_VID, 0x02, 0x02, rx);
    m_io.hdmirxset(REG_INT_PKT, 0x80, 0x80, rx);
}

void ite6805_drv::iTE6805_Reset_Audio_Logic(int rx) {
    m_io.hdmirxset(0x22, 0x02, 0x02, rx);
    m_io.hdmirxset(0x22, 0x02, 0x00, rx);
    for (int i = 0; i < 4; ++i) m_io.hdmirxwr(0x8A, m_io.hdmirxrd(0x8A, rx), rx);
}

void ite6805_drv::iTE6805_Reset_ALL_Logic(u8 port, int rx) {
    if (port != 0) return;  // port 1 never becomes current
    iTE6805_Set_HPD_Ctrl(0, 0, rx);
    m_io.hdmirxwr(REG_INT_P0_CLK, 0x04, rx);
    m_io.hdmirxwr(0x22, 0x12, rx);
    m_io.hdmirxwr(0x22, 0x10, rx);
    m_io.hdmirxset(0x23, 0xFD, 0xAC, rx);
    m_io.hdmirxset(0x23, 0xFD, 0xA0, rx);
    m_root.iTE6805_INT_5VPWR_Chg(0, rx);
}

void ite6805_drv::iTE6805_Set_47_By_TMDS(int rx) {
    chgbank(0, rx);
    const u8 r43 = m_io.hdmirxrd(REG_TMDS_SCALE, rx);
    const u8 r48 = m_io.hdmirxrd(REG_TMDS_COUNT, rx);
    const u8 r14 = m_io.hdmirxrd(m_root.data[rx].CurrentPort ? REG_P1_STATUS2 : REG_P0_STATUS2, rx);
    const u32 scaled = (r43 & 0x80) ? r48 / 8u : (r43 & 0x40) ? r48 / 4u : (r43 & 0x20) ? r48 / 2u : r48;
    if ((r14 & 0x02) || scaled >= RCLKVALUE[rx] / 1000) return;
    m_io.hdmirxwr(0x47, m_io.hdmirxrd(0x47, rx), rx);
}
