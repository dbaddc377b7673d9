#pragma once
// IT6805 receivers of inputs 4 (HDMI3, chip / rx 0) and 5 (HDMI4, rx 1).
//
// Contract with the input-source manager (vimrasource), which owns the one
// object and calls it only from the source thread:
//   - fd is the bus descriptor (Drv_I2C0), set by vimrasource::initialize.
//   - ite6805_sys_reset_init(): while the receivers' shared reset line is
//     held low (start-up, and register-32 commands that drive it low); both
//     receivers go back to run state 0.
//   - iTE6805_FSM(rx): one polling step; the manager has selected the chip
//     on switch 0xEE first (0x20 for rx 0, 0x10 for rx 1).
//   - iTE6805_Set_HPD_Ctrl(port, level, rx): hot-plug of port 0, level 0 or 1;
//     called after the chip was selected (EDID rewrite, register 32).
//   - run_state[rx]: 0 = identify and initialise at the next step, 1 =
//     running. The manager sets 0 after it rewrote the receiver's EDID.
// Results are published through the manager (presence bits 5 and 6 of
// register 37, hdminfo records 4 and 5, SIGNAL_PARA of inputs 4 and 5).
//
// This root keeps the per-receiver state and runs the video and audio state
// machines; the chip operations, the equaliser and CEC live in the parts it
// owns. The parts reach the root and the register layer through references,
// so a test builds one driver against its own manager.
#include "core/global.h"
#include "video_io/ite6805_i2c_rdwr.h"

#include <atomic>
#include <memory>

class vimrasource;
struct PI_HDMI_INFO;
class ite6805_drv;
class ite6805_eq;
class ite6805_cec_sys;
class ite6805_cec_drv;
class ite6805_cec_feture;

enum STATEV_Type {
    STATEV_VideoOff = 0,
    STATEV_Unplug = 1,
    STATEV_WaitSync = 2,
    STATEV_CheckSync = 3,
    STATEV_VidStable = 4,
    STATEV_Unknown = 5,
};

enum STATEA_Type {
    STATEA_AudioOff = 0,
    STATEA_RequestAudio = 1,
    STATEA_WaitForReady = 2,
    STATEA_AudioOn = 3,
};

// Equaliser states 0 to 9 and CEC states: see ite6805_eq and ite6805_cec_sys.
typedef u32 STATEEQ_Type;
typedef u32 STATECEC_Type;

// Output colour modes of register 0x6B bits 3-2.
enum : u32 { Color_Format_RGB = 0, Color_Format_YUV422 = 1, Color_Format_YUV444 = 2, Color_Format_YUV420 = 3 };

struct iTE6805_DATA {
    u8 EQ_Value[3];
    u8 ChipID;              // revision, register 0x04
    u8 Flag_VidSelector;    // output path selector, always 1
    u8 TwoSection;          // two-section output mode
    STATEV_Type STATEV;
    STATEA_Type STATEA;
    STATEEQ_Type STATEEQ;
    STATECEC_Type STATECEC;
    u8 CurrentPort;
    u8 AudioChannelCount;
    u8 AudioSampleFreq;     // chip sample-rate code
    u32 OutputColorMode;
    u8 OutputFollowInput;
    u8 RequestPort;
    u8 PortSelectRequest;
    u8 ResetPort;
    u8 PortResetRequest;
    u8 AVMuteStatus;
    u32 AVI_ColorFormat;    // Y: 0 RGB, 1 4:2:2, 2 4:4:4, 3 4:2:0
    u32 AVI_Colorimetry;
    u32 AVI_RGBQuant;
    u32 AVI_YCCQuant;
    u8 AVI_VIC;
    u8 AVI_ExtColorimetry;
    u8 AVI_Scan;
    u8 VideoOutputOn;
    u8 DownScale;
    u8 InputType;           // 0 HDMI, 1 MHL, 2 DVI
    u8 ColorChange;         // which AVI values changed, bit per value
    u8 Is420;
    u8 PixelClockDivider;   // 1, 2 or 4
    u8 OutputMode;          // 0 to 3
    u8 LastOutputMode;      // 7: none applied yet
};

struct iTE6805_VTiming {
    u16 HActive, VActive, HTotal, VTotal;
    u32 PCLK;        // kHz
    u32 TMDSCLK;     // kHz
    u32 FrameRate;   // Hz
    u16 HFrontPorch, HSyncWidth, HBackPorch;
    u16 VFrontPorch, VSyncWidth, VBackPorch;
    u16 ScanMode;    // 1 interlaced
    u16 VPolarity, HPolarity;
    u16 ColorDepth;  // input depth code, register 0x98 AND 0xF0
    u32 N, CTS;
};

// Counters and flags of one receiver.
struct iTE6805_COUNT {
    u8 last_avi;             // bank 2 register 0x15
    u8 aud_cs[3];            // audio channel-status copies
    u8 int6_count;           // register-0x05 bit-6 interrupts
    u8 int6_reset_count;
    u8 color_change_pending;
    u8 aud_first_read;
    u8 ber_check_armed;
    u8 reg06_count[3];
    u8 stable_tick;          // 0 to 49
    u8 clk_stable_count;
    u8 ecc_recovery;
    u8 ecc_error;
    u8 checksync_count;
    u8 aud_ready_count;
    u8 aud_check_count;
    u8 aud_fs_mismatch;
    u8 prev_avi[5];          // Y, colorimetry, ext. colorimetry, RGB and YCC quantisation
    u8 last_scdt;
};

class ite6805_sys {
public:
    explicit ite6805_sys(vimrasource& source);
    virtual ~ite6805_sys();
    ite6805_sys(const ite6805_sys&) = delete;
    ite6805_sys& operator=(const ite6805_sys&) = delete;

    int fd = -1;  // bus descriptor
    u8 run_state[2]{};
    u8 identify_miss[2]{};

    iTE6805_DATA data[2]{};
    iTE6805_VTiming timing[2]{};
    iTE6805_COUNT count[2]{};

    // ---- entry points of the manager
    virtual void ite6805_sys_reset_init();
    virtual void iTE6805_FSM(int rx);
    virtual void iTE6805_Set_HPD_Ctrl(int port, int level, int rx);

    void iTE6805_MainBody(int rx);
    void delay1ms(u32 ms);

    // ---- state changes and machines
    void iTE6805_vid_chg(STATEV_Type state, int rx);
    void iTE6805_vid_fsm(int rx);
    void iTE6805_aud_chg(STATEA_Type state, int rx);
    void iTE6805_aud_fsm(int rx);

    // ---- interrupt handlers (port 0; port 1 never becomes current)
    void iTE6805_hdmirx_port0_SYS_irq(int rx);
    void iTE6805_hdmirx_common_irq(int rx);
    void iTE6805_INT_5VPWR_Chg(int port, int rx);
    void iTE6805_INT_SCDT_Chg(int rx);
    void iTE6805_INT_HDMI_DVI_Mode_Chg(int port, int rx);
    void iTE6805_INT_ECC_ERROR(int rx);

    // ---- port requests: recorded, the bodies only clear them
    void iTE6805_Port_Select(u8 port, int rx);
    void iTE6805_Port_Reset(u8 port, int rx);
    void iTE6805_Port_Select_Body(int rx);
    void iTE6805_Port_Reset_Body(int rx);

    // ---- output and audio enabling
    void iTE6805_Enable_Video_Output(int rx);
    void iTE6805_Enable_Audio_Output(int rx);

    // ---- publication of input 4 + rx
    void iTE6805_Set_Stable(int rx, int flag, PI_HDMI_INFO& info);
    void iTE6805_Get_Hdmi(int rx, PI_HDMI_INFO& info);
    void iTE6805_update_hdmi(int rx);
    void iTE6805_Show_VID_Info(int rx);
    // No signal: SIGNAL_PARA cleared, the record cleared, change signal.
    void publish_no_signal(int rx);

    // Revisions whose registers sit in the first layout, and those that take
    // the newer main-loop and interrupt paths.
    bool rev_10_E0(int rx) const { return data[rx].ChipID == 0x10 || data[rx].ChipID == 0xE0; }
    bool rev_10_E0_and_above(int rx) const { return data[rx].ChipID == 0x10 || data[rx].ChipID >= 0xE0; }

    ite6805_i2c_rdwr& io() { return *m_io; }
    ite6805_drv& drv() { return *m_drv; }
    ite6805_eq& eq() { return *m_eq; }
    ite6805_cec_sys& cec_sys() { return *m_cec_sys; }
    ite6805_cec_drv& cec_drv() { return *m_cec_drv; }
    ite6805_cec_feture& cec_feture() { return *m_cec_feture; }
    vimrasource& source() { return m_source; }

protected:
    vimrasource& m_source;

private:
    void clear_counters(int rx);
    void set_presence(int rx, bool present);

    std::unique_ptr<ite6805_i2c_rdwr> m_io;
    std::unique_ptr<ite6805_drv> m_drv;
    std::unique_ptr<ite6805_cec_sys> m_cec_sys;
    std::unique_ptr<ite6805_eq> m_eq;
    std::unique_ptr<ite6805_cec_drv> m_cec_drv;
    std::unique_ptr<ite6805_cec_feture> m_cec_feture;
    STATEV_Type m_old_statev[2]{STATEV_Unknown, STATEV_Unknown};
};
