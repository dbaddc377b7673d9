#pragma once
// Display and audio options of the SDI-path transmitter, the sink's EDID
// and the transmitter's loop. The loop is stepped only while its enable flag
// is set, which nothing in the running system does: after initialisation the
// transmitter keeps its 1080p60 RGB set-up.
#include "core/global.h"
#include "video_io/it66121_hdmitx_drv.h"

#include <atomic>

class it66121_hdmitx_sys {
public:
    explicit it66121_hdmitx_sys(it66121_hdmitx_drv& drv) : m_drv(drv) {}

    // Display option.
    u8 bInputColorMode = 0;   // bit 4 ITU-709, bit 5 limited range
    u8 bOutputColorMode = 0;  // 0 RGB, 1 YUV 4:2:2, 2 YUV 4:4:4
    u32 VideoPixelClock = 0;  // Hz
    u16 VIC = 0;              // pixel repetition in the high byte
    u8 aspec = 0;             // 0 4:3, 1 16:9
    u8 Colorimetry = 0;       // 0 ITU-601, 1 ITU-709
    u32 ulAudioSampleFS = 48000;
    u8 bAudioChannel = 2;
    u8 bHDMIMode = 0, bAudioEnable = 0, HPDStatus = 0, HPDChangeStatus = 0;
    u8 bChangeMode = 0, bChangeAudio = 0;
    u8 afeLevel = 0;  // 0 up to 20 MHz, 1 up to 80 MHz, 2 above (TMDS clock)
    // The sink's EDID block being parsed and what it told.
    u8 EDIDBuf[128] = {};
    struct RxCap {
        u8 ValidHDMI = 0;
        u8 ValidCEA = 0;
        u8 CEAFlags = 0;
        u8 ColorDepth = 0;
    } RxCapability;
    std::atomic<u8> loop_enable{0};
    // The device record the register part starts from.
    static const HDMITXDEV InstanceData;

    static constexpr int kMaxExtensions = 4;

    // The known VICs; false (mode-changed cleared) for any other.
    bool HDMITX_ChangeDisplayOption(int vic, u8 outputColorMode);
    void HDMITX_DevLoopProc();

    // Loop parts.
    // Reads the HPD state and serves pending interrupts; true when present.
    bool CheckHDMITX(bool* changed);
    // Reads and parses the sink's EDID: HDMI vendor block found or not.
    bool ParseEDID();
    // A CEA extension block; false (FAIL) when it does not parse inside
    // its 128 bytes. Sets *hdmi when it holds the HDMI vendor block.
    static bool ParseCEAEDID(const u8* block, bool* hdmi);
    bool getHDMITX_EDIDBlock(int block, u8* out);
    void HDMITX_SetOutput();
    void HDMITX_EnableVideoOutput();
    void HDMITX_DisableVideoOutput();
    void hdmitx_SetAVIInfoFrame();
    void setHDMITX_AVMute(bool on);
    void hdmitx_AbortDDC();
    void hdmitx_FireAFE();

private:
    void notBuilt(int index, const char* operation);

    it66121_hdmitx_drv& m_drv;
    std::atomic<bool> m_notBuilt[6]{};
};
