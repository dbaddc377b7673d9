#pragma once
// IT6805 chip operations: initialisation with its table and calibrations,
// hot-plug, measurement of the incoming signal, the output path set-up,
// audio detection and the logic resets. Every operation takes the receiver
// last and ends in bank 0.
#include "core/global.h"
#include "video_io/ite6805_i2c_rdwr.h"

class ite6805_sys;

class ite6805_drv {
public:
    ite6805_drv(ite6805_sys& root, ite6805_i2c_rdwr& io);

    static const iTE6805_INI_REG iTE6805_INIT_HDMI_TABLE[133];
    static const u8 CSC_Matrix[11 * 22];

    u8 RCLKVALUE_160[2]{};   // oscillator clock / 160
    u8 SupportedDSTimingCount = 6;
    u32 RCLKVALUE[2]{};      // oscillator clock in kHz

    void chgbank(u8 bank, int rx);

    void iTE6805_Init_fsm(int rx);
    void iTE6805_Init_CAOF(int rx);
    u32 iTE6805_OCLK_Load(int rx);
    void iTE6805_OCLK_Cal(int rx);
    void iTE6805_Init_TTL_VideoOutputConfigure(int rx);
    void iTE6805_Set_TTL_Video_Path(int rx);

    void iTE6805_Set_HPD_Ctrl(u8 port, u8 level, int rx);

    bool iTE6805_Check_5V_State(u8 port, int rx);
    bool iTE6805_Check_CLK_Vaild(int rx);
    bool iTE6805_Check_CLK_Stable(int rx);
    u8 iTE6805_Check_HDMI_OR_DVI_Mode(u8 port, int rx);
    bool iTE6805_Check_PORT0_IS_MHL_Mode(u8 port, int rx);
    bool iTE6805_Check_SCDT(int rx);
    bool iTE6805_Check_AUDT(int rx);
    bool iTE6805_Check_AVMute(int rx);
    bool iTE6805_Check_HDMI2(int rx);
    bool iTE6805_Check_TMDS_Bigger_Than_1G(int rx);
    bool iTE6805_Check_Single_Dual_Mode(int rx);
    bool iTE6805_Check_4K_Resolution(int rx);

    u32 iTE6805_Get_TMDS(u8 samples, int rx);
    u32 iTE6805_Get_PCLK(int rx);
    u32 iTE6805_Get_VID_Info(int rx);
    void iTE6805_Get_AVIInfoFrame_Info(int rx);
    void iTE6805_Check_ColorChange_Update(int rx);
    void iTE6805_GET_InputType(int rx);

    void iTE6807_Video_Output_Setting(int rx);
    void iTE6805_Set_1B0_By_PixelClock(int rx);
    void iTE6805_Set_ColorDepth(int rx);
    void iTE6805_Set_Video_Tristate(bool on, int rx);
    void iTE6805_Set_Audio_Tristate(bool on, int rx);
    void iTE6805_Set_AVMute(bool on, int rx);
    void iTE6805_Show_AUD_Info(int rx);

    void iTE6805_Reset_Video_Logic(int rx);
    void iTE6805_Reset_Audio_Logic(int rx);
    void iTE6805_Reset_ALL_Logic(u8 port, int rx);
    void iTE6805_Set_47_By_TMDS(int rx);

    // Sample-rate code of a computed rate in kHz; `keep` for rates without one.
    static u8 fs_code(u32 khz, u8 keep);
    // Output mode 0 to 3 for a pixel clock (kHz) and the measured timing.
    u8 output_mode(u32 pclk, int rx) const;

private:
    // Selection of the revision-0x10/0xE0 output-block register settings.
    void set_C9_for_10_E0(int rx);
    // Port-0 front-end bank (3), or port 1's (7).
    u8 frontend_bank(int rx) const;

    ite6805_sys& m_root;
    ite6805_i2c_rdwr& m_io;
};
