#include "video_io/it66121_hdmitx_sys.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "video_io/it66121_hdmitx_drv.h"
#include "video_io/not_built.h"

#include <cstring>

using namespace it66121reg;

namespace {
struct VicOption {
    u8 vic;
    u32 clock;
    u8 repetition;
    u8 aspect;       // 1 16:9
    u8 colorimetry;  // 1 ITU-709
};
constexpr VicOption kVics[] = {
    {1, 25000000, 0, 0, 0},  {2, 27000000, 0, 0, 0},  {3, 27000000, 0, 1, 0},  {4, 74250000, 0, 1, 1},
    {5, 74250000, 0, 1, 1},  {6, 13500000, 1, 0, 0},  {7, 13500000, 1, 1, 0},  {16, 148500000, 0, 1, 1},
    {17, 27000000, 0, 0, 0}, {18, 27000000, 0, 1, 0}, {19, 74250000, 0, 1, 1}, {20, 74250000, 0, 1, 1},
    {21, 13500000, 1, 0, 0}, {22, 13500000, 1, 1, 0}, {31, 148500000, 0, 1, 1}, {32, 74250000, 0, 1, 1},
    {33, 74250000, 0, 1, 1}, {34, 74250000, 0, 1, 1}, {61, 74250000, 0, 1, 1},
};
constexpr u8 kItu709 = 0x10, kLimitedRange = 0x20;
constexpr u8 kFlagHdmi = 0x02, kFlagHpd = 0x08;
}  // namespace

// Device 0 at 0x98, RGB input, 48 kHz audio on channel pair 0, HDMI mode.
const HDMITXDEV it66121_hdmitx_sys::InstanceData = {0, kAddress, 0, 0, 0, 0x01, 0x02, 0, 0, 1, 0, 0};

void it66121_hdmitx_sys::notBuilt(int index, const char* operation) { log_not_built(m_notBuilt[index], operation); }

bool it66121_hdmitx_sys::HDMITX_ChangeDisplayOption(int vic, u8 outputColorMode) {
    const VicOption* o = nullptr;
    for (const VicOption& v : kVics)
        if (v.vic == vic) o = &v;
    if (!o) {
        bChangeMode = 0;
        return false;
    }
    VideoPixelClock = o->clock;
    VIC = u16((o->vic == 61 ? 0 : o->vic) | o->repetition << 8);
    aspec = o->aspect;
    Colorimetry = o->colorimetry;
    bOutputColorMode = bOutputColorMode != 0 ? outputColorMode : 0;
    bInputColorMode = u8(bInputColorMode & ~(kItu709 | kLimitedRange));
    if (Colorimetry) bInputColorMode |= kItu709;
    if (o->vic != 1) bInputColorMode |= kLimitedRange;
    bChangeMode = 1;
    return true;
}

// ---------------------------------------------------------------------------
// Loop

void it66121_hdmitx_sys::HDMITX_DevLoopProc() {
    if (!loop_enable.load()) return;
    bool changed = false;
    const bool hpd = CheckHDMITX(&changed);
    HPDStatus = hpd;
    HPDChangeStatus = changed;
    if (changed && hpd) {
        m_drv.hdmitx_LoadRegSetting(it66121tables::HDMITX_PwrOn_Table);
        if (ParseEDID()) {
            bHDMIMode = 1;
            bAudioEnable = (RxCapability.CEAFlags & 0x40) ? 1 : 0;
            bOutputColorMode = (RxCapability.CEAFlags & 0x20) ? 2 : (RxCapability.CEAFlags & 0x10) ? 1 : 0;
        } else {
            bHDMIMode = 0;
            bAudioEnable = 0;
        }
        RxCapability.ColorDepth = 0;
        m_drv.flags = u8(bHDMIMode ? (m_drv.flags | kFlagHdmi) : (m_drv.flags & ~kFlagHdmi));
        bChangeMode = 1;
        bChangeAudio = 1;
    } else if (changed) {
        HDMITX_DisableVideoOutput();
        m_drv.hdmitx_LoadRegSetting(it66121tables::HDMITX_PwrDown_Table);
        bChangeAudio = 0;
    } else if (hpd) {
        if (bChangeMode) {
            HDMITX_SetOutput();
            bChangeMode = 0;
        }
        if (bChangeAudio) {
            // The audio formats are the chip maker's register sequences.
            notBuilt(0, "HDMITX_EnableAudioOutput");
            bChangeAudio = 0;
        }
    }
}

bool it66121_hdmitx_sys::CheckHDMITX(bool* changed) {
    const u8 status = m_drv.HDMITX_ReadI2C_Byte(SYS_STATUS);
    const bool hpd = status & 0x40;
    bool change = hpd != bool(m_drv.flags & kFlagHpd);
    if (status & 0x80) {
        const u8 i1 = m_drv.HDMITX_ReadI2C_Byte(INT_STAT1);
        const u8 i2 = m_drv.HDMITX_ReadI2C_Byte(INT_STAT2);
        if (i1 & 0x80) {
            m_drv.HDMITX_SetI2C_Byte(SW_RST, 0x14, 0x14);
            m_drv.HDMITX_SetI2C_Byte(SW_RST, 0x14, 0x00);
        }
        if (i1 & 0x10) {
            m_drv.HDMITX_WriteI2C_Byte(DDC_MASTER, 0x01);
            m_drv.HDMITX_WriteI2C_Byte(DDC_CMD, DDC_CMD_FIFO_CLEAR);
        }
        if (i1 & 0x04) hdmitx_AbortDDC();
        if (i1 & 0x01) change = true;
        if (i2 & 0x02) m_drv.HDMITX_SetI2C_Byte(INT_MASK2, 0x02, 0x02);
        if (i2 & 0x01) hdmitx_AbortDDC();
        const u8 pending = m_drv.HDMITX_ReadI2C_Byte(INT_STAT_PENDING);
        if (pending) m_drv.HDMITX_WriteI2C_Byte(INT_STAT_PENDING, pending);
        m_drv.HDMITX_WriteI2C_Byte(INT_CLR0, 0xFF);
        m_drv.HDMITX_WriteI2C_Byte(INT_CLR1, 0xFF);
        m_drv.HDMITX_WriteI2C_Byte(SYS_STATUS, u8(status | 0x03));
        m_drv.HDMITX_WriteI2C_Byte(SYS_STATUS, u8((status & 0xFE) | 0x02));
    }
    if (change && !hpd) m_drv.HDMITX_WriteI2C_Byte(AFE_DRV, 0x30);
    m_drv.flags = u8(hpd ? (m_drv.flags | kFlagHpd) : (m_drv.flags & ~kFlagHpd));
    *changed = change;
    return hpd;
}

void it66121_hdmitx_sys::hdmitx_AbortDDC() {
    m_drv.HDMITX_SetI2C_Byte(SW_RST, 0x01, 0x01);
    m_drv.HDMITX_WriteI2C_Byte(DDC_MASTER, 0x01);
    for (int k = 0; k < 2; ++k) {
        m_drv.HDMITX_WriteI2C_Byte(DDC_CMD, DDC_CMD_ABORT);
        Utils::pollUntil(kDdcWaitMs, [&] { return (m_drv.HDMITX_ReadI2C_Byte(DDC_STATUS) & (DDC_DONE | DDC_ERRORS)) != 0; });
    }
}

// One EDID block through the DDC master, in FIFO-sized pieces: segment
// block / 2, offset 0 or 128.
bool it66121_hdmitx_sys::getHDMITX_EDIDBlock(int block, u8* out) {
    if (m_drv.HDMITX_ReadI2C_Byte(DDC_STATUS) & DDC_ERRORS) hdmitx_AbortDDC();
    for (int off = 0; off < 128; off += DDC_FIFO_SIZE) {
        m_drv.HDMITX_WriteI2C_Byte(DDC_MASTER, 0x01);
        m_drv.HDMITX_WriteI2C_Byte(DDC_CMD, DDC_CMD_FIFO_CLEAR);
        m_drv.HDMITX_WriteI2C_Byte(DDC_HEADER, 0xA0);
        m_drv.HDMITX_WriteI2C_Byte(DDC_OFFSET, u8((block % 2) * 128 + off));
        m_drv.HDMITX_WriteI2C_Byte(DDC_COUNT, DDC_FIFO_SIZE);
        m_drv.HDMITX_WriteI2C_Byte(DDC_SEGMENT, u8(block / 2));
        m_drv.HDMITX_WriteI2C_Byte(DDC_CMD, DDC_CMD_EDID_READ);
        u8 s = 0;
        const bool ended = Utils::pollUntil(kDdcWaitMs, [&] {
            s = m_drv.HDMITX_ReadI2C_Byte(DDC_STATUS);
            return (s & (DDC_DONE | DDC_ERRORS)) != 0;
        });
        if (!ended || (s & DDC_ERRORS)) return false;
        for (int i = 0; i < DDC_FIFO_SIZE; ++i) out[off + i] = m_drv.HDMITX_ReadI2C_Byte(DDC_FIFO);
    }
    return true;
}

bool it66121_hdmitx_sys::ParseCEAEDID(const u8* b, bool* hdmi) {
    *hdmi = false;
    if (b[0] != 0x02 || b[1] != 0x03) return false;
    // Data blocks lie between byte 4 and the descriptor offset (0: none).
    const int end = b[2] == 0 ? 4 : b[2];
    if (end < 4 || end > 127) return false;
    int pos = 4;
    while (pos < end) {
        const int tag = b[pos] >> 5, len = b[pos] & 0x1F;
        if (pos + 1 + len > end) return false;
        if (tag == 3 && len >= 3 && b[pos + 1] == 0x03 && b[pos + 2] == 0x0C && b[pos + 3] == 0x00) *hdmi = true;
        pos += 1 + len;
    }
    return true;
}

bool it66121_hdmitx_sys::ParseEDID() {
    RxCapability = RxCap{};
    std::memset(EDIDBuf, 0, sizeof EDIDBuf);
    if (!getHDMITX_EDIDBlock(0, EDIDBuf)) return false;
    static const u8 header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    u8 sum = 0;
    for (u8 v : EDIDBuf) sum = u8(sum + v);
    if (sum != 0 || std::memcmp(EDIDBuf, header, 8) != 0) return false;
    const int extensions = std::min<int>(EDIDBuf[126], kMaxExtensions);
    for (int blk = 1; blk <= extensions && !RxCapability.ValidHDMI; ++blk) {
        if (!getHDMITX_EDIDBlock(blk, EDIDBuf)) break;
        if (EDIDBuf[0] != 0x02 || EDIDBuf[1] != 0x03) continue;
        bool hdmi = false;
        const bool ok = ParseCEAEDID(EDIDBuf, &hdmi);
        debugPrintf("ParseCEAEDID err = %s\n", ok ? "SUCCESS" : "FAIL");
        if (!ok) break;
        RxCapability.ValidCEA = 1;
        RxCapability.CEAFlags = EDIDBuf[3];
        RxCapability.ValidHDMI = hdmi;
    }
    return RxCapability.ValidHDMI;
}

// ---------------------------------------------------------------------------
// Output

void it66121_hdmitx_sys::setHDMITX_AVMute(bool on) {
    m_drv.Switch_HDMITX_Bank(0);
    m_drv.HDMITX_SetI2C_Byte(GCP, 0x01, on ? 0x01 : 0x00);
    m_drv.HDMITX_WriteI2C_Byte(PKT_GEN_CTRL, 0x03);
}

void it66121_hdmitx_sys::hdmitx_FireAFE() {
    m_drv.Switch_HDMITX_Bank(0);
    m_drv.HDMITX_WriteI2C_Byte(AFE_DRV, 0x00);
}

void it66121_hdmitx_sys::HDMITX_DisableVideoOutput() {
    m_drv.HDMITX_SetI2C_Byte(SW_RST, 0x08, 0x08);
    m_drv.HDMITX_WriteI2C_Byte(AFE_DRV, 0x30);
    m_drv.HDMITX_SetI2C_Byte(0x62, 0x90, 0x00);
    m_drv.HDMITX_SetI2C_Byte(0x64, 0x89, 0x00);
}

void it66121_hdmitx_sys::HDMITX_EnableVideoOutput() {
    m_drv.HDMITX_WriteI2C_Byte(SW_RST, 0x1D);
    m_drv.Switch_HDMITX_Bank(1);
    m_drv.HDMITX_WriteI2C_Byte(AVI_DB1, 0x00);
    m_drv.Switch_HDMITX_Bank(0);
    if (bHDMIMode) setHDMITX_AVMute(true);
    // Input mode bits, colour-space matrices and the front-end settings are
    // the chip maker's register sequences.
    notBuilt(1, "hdmitx_SetInputMode");
    notBuilt(2, "hdmitx_SetCSCScale");
    m_drv.HDMITX_WriteI2C_Byte(HDMI_MODE, bHDMIMode ? 0x01 : 0x00);
    notBuilt(3, "hdmitx_SetupAFE");
    m_drv.HDMITX_WriteI2C_Byte(SW_RST, 0x15);
    hdmitx_FireAFE();
}

void it66121_hdmitx_sys::hdmitx_SetAVIInfoFrame() {
    u8 db[13] = {};
    db[0] = bOutputColorMode == 1 ? 0x30 : bOutputColorMode == 2 ? 0x50 : 0x10;
    db[1] = u8(0x08 | (aspec ? 0x20 : 0x10) | (Colorimetry ? 0x80 : 0x40));
    db[3] = u8(VIC & 0xFF);
    db[4] = u8(VIC >> 8);
    u8 sum = 0x82 + 0x02 + 0x0D;
    for (u8 v : db) sum = u8(sum + v);
    m_drv.Switch_HDMITX_Bank(1);
    for (int i = 0; i < 5; ++i) m_drv.HDMITX_WriteI2C_Byte(u8(AVI_DB1 + i), db[i]);
    m_drv.HDMITX_WriteI2C_Byte(AVI_SUM, u8(0 - sum));
    for (int i = 5; i < 13; ++i) m_drv.HDMITX_WriteI2C_Byte(u8(AVI_DB6 + i - 5), db[i]);
    m_drv.Switch_HDMITX_Bank(0);
    m_drv.HDMITX_WriteI2C_Byte(AVI_INFOFRM_CTRL, 0x03);
}

void it66121_hdmitx_sys::HDMITX_SetOutput() {
    notBuilt(4, "HDMITX_DisableAudioOutput");
    const u64 tmds = u64(VideoPixelClock) * (1 + (VIC >> 8));
    afeLevel = tmds > 80000000 ? 2 : tmds > 20000000 ? 1 : 0;
    HDMITX_EnableVideoOutput();
    if (bHDMIMode) {
        hdmitx_SetAVIInfoFrame();
        if (bAudioEnable) notBuilt(0, "HDMITX_EnableAudioOutput");
    } else {
        m_drv.HDMITX_WriteI2C_Byte(AVI_INFOFRM_CTRL, 0x00);
        m_drv.HDMITX_WriteI2C_Byte(VSI_INFOFRM_CTRL, 0x00);
    }
    setHDMITX_AVMute(false);
}
