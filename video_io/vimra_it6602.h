#pragma once
// Driver of the four IT6602 HDMI receivers (inputs 0 EXT, 1 DVI, 2 HDMI1,
// 3 HDMI2). One object serves all four: the source manager selects an
// input's chip on the receiver channel switch and calls the driver with the
// input number, which picks that input's state block. Polled, no thread of
// its own: each call reads the interrupt registers, steps the video and
// audio machines and the equaliser, and publishes what an input carries.
//
// Contract with the input-source manager (vimrasource), which owns the one
// object and calls it only from the source thread:
//   - fd is the bus descriptor (Drv_I2C0), set by vimrasource::initialize.
//   - Before each call the manager has written the input's channel code to
//     the receiver switch 0xEE; the chip answers at 0x90 (or 0x94).
//   - IT6602_fsm_init(fd, input): identify and reset; returns 1 when the chip
//     was found. Called every pass while the input is in "not found" and
//     again after a custom EDID was written for the input.
//   - IT6602_fsm_init_1(fd, input): once after a successful init.
//   - IT6602_fsm(fd, input): one poll per pass while running.
// Results are published through the manager: presence bits of register 37,
// the input's hdminfo record and its SIGNAL_PARA.
// Tests derive from this class to record the calls.
#include "core/global.h"
#include "video_io/source_map.h"

class vimrasource;

namespace it6602 {

struct RegSet;
struct Sync3D;

// Video states (VStateStr) and audio states (AStateStr) the machines use.
enum : u8 { VSTATE_Off = 0, VSTATE_SyncWait = 4, VSTATE_SWReset = 5, VSTATE_SyncChecking = 6, VSTATE_VideoOn = 10,
            VSTATE_Reserved = 13 };
enum : u8 { ASTATE_AudioOff = 0, ASTATE_RequestAudio = 1, ASTATE_WaitForReady = 3, ASTATE_AudioOn = 4,
            ASTATE_Reserved = 5 };
// Event flags of a port (port 1 shifted by 4).
enum : u8 { EVENT_COUNTDOWN = 0x01, EVENT_TMDS_CHECK = 0x02, EVENT_EQ_DETECT = 0x04 };
constexpr u8 kEqIdle = 255;

// Equaliser search of one port.
struct IT6602_eq_data {
    u8 ucEQState = kEqIdle;
    u8 ucAuthR0 = 0;      // error count
    u8 ucECCvalue = 0;    // bit 7 SCDT missed, bit 6 forced restart, low bits errors in a row
    u8 ucECCfailCount = 0;  // polls with an error register reading 0xFF
    u8 ucPkt = 0;         // port number
    u8 f_manualEQadjust = 0;  // 1 while a search runs
    u8 ErrorCount[3] = {};    // score of each table value
};

struct IT6602_dev_data {
    u8 m_VState = VSTATE_Reserved;
    u8 m_AState = ASTATE_Reserved;
    u8 m_bAudioFlag = 0, m_bAudioChannel = 0, m_bAudioSampleFreq = 0;
    u16 m_VideoCountingTimer = 0;
    u16 m_AudioCountingTimer = 0;
    u8 m_ucCurrentHDMIPort = 255;
    u8 m_bOutputVideoMode = 0;
    u8 m_bInputVideoMode = 0;  // bits 1-0 RGB/4:2:2/4:4:4, bit 4 ITU-709, bit 5 limited range
    u8 m_ucSCDTOffCount = 0;
    u8 m_ucEccCount[2] = {};
    u8 m_ucDeskewCount[2] = {};
    u8 de3dframe_handled = 0;
    IT6602_eq_data EQPort[2];
    u8 m_VidOutConfigMode = 0, m_bOutputBusMode = 0, m_bOutputSyncMode = 0;
    u8 m_ucEventFlags = 0;
    u8 m_ucCountDown[2] = {};
    u8 m_AviColorFormat = 0, m_AviColorimetry = 0, m_AviExtColorimetry = 0, m_AviQuantRange = 0, m_AviVic = 0,
       m_AviContent = 0;
    u8 m_bVideoContentOff = 0;
    u8 m_ucDeepColor = 0;
    u8 m_ucAviDB[2] = {};
    u8 m_ucFlags = 0;  // FLAG_HDMI_MODE, FLAG_NEW_AVI
};
constexpr u8 FLAG_HDMI_MODE = 0x08, FLAG_NEW_AVI = 0x20;

// Measured timing of an input (the words get_vid_info fills).
enum { TM_HACT = 0, TM_VACT, TM_HTOTAL, TM_VTOTAL, TM_PCLK, TM_HFP = 7, TM_HSYNC, TM_HBP, TM_VFP, TM_VSYNC, TM_VBP,
       TM_FLAGS, TM_WORDS };

// Equaliser bookkeeping of one port of one input.
struct EqBook {
    u8 overwriteDone = 0;
    u8 ampValid = 0;  // two bits per channel; 0x3F all three valid
    u8 amp[3] = {};
    u8 eqValueSet = 0;
};

}  // namespace it6602

class vimra_it6602 {
public:
    explicit vimra_it6602(vimrasource& source);
    virtual ~vimra_it6602();

    int fd = -1;  // bus descriptor

    virtual int IT6602_fsm_init(int fd, int input);
    virtual void IT6602_fsm_init_1(int fd, int input);
    virtual void IT6602_fsm(int fd, int input);

    // Read-only views for the manager and tests.
    const it6602::IT6602_dev_data& get_IT6602_dev_data(int input) const { return m_dev[clampInput(input)]; }
    const u16* timing(int input) const { return m_timing[clampInput(input)]; }
    u8 chipAddress(int input) const { return m_addr[clampInput(input)]; }
    u8 identifyFailures(int input) const { return m_idFail[clampInput(input)]; }
    const it6602::EqBook& eqBook(int input, int port) const { return m_eq[clampInput(input)][port & 1]; }
    u8 polarityToggles(int input, int port) const { return m_toggles[clampInput(input)][port & 1]; }
    u32 tmdsClock(int input) const { return m_tmdsClk[clampInput(input)]; }
    // The oscillator reading (in hundredths) if plausible, else the nominal value.
    static u32 OSCvalueCompare(u32 v);

protected:
    vimrasource& m_source;

private:
    static int clampInput(int input) { return input < 0 ? 0 : input > 3 ? 3 : input; }
    it6602::IT6602_dev_data& dev() { return m_dev[m_in]; }
    void select(int fd, int input);
    void publishPresence(bool present);
    void clearSummary();

    // Register access on the current input's chip.
    u8 hdmirxrd_it6602(u8 reg);
    int hdmirxwr_it6602(u8 reg, u8 value);
    void hdmirxset_it6602(u8 reg, u8 mask, u8 value);
    int hdmirxbwr_it6602(u8 reg, int count, const u8* data);
    void chgbank_it6602(u8 bank);
    void hdimrx_write_init_it6602(const it6602::RegSet* table);
    void delay1ms(u32 ms);

    // Identification, reset, start.
    int IT6602_Identify_Chip();
    void IT6602_Rst();
    void hdmirx_Var_init();
    void IT6602PortSelect(u8 port);

    // Interrupts and the video machine.
    void IT6602HDMIInterruptHandler();
    void portInterrupt(int port, u8 bits, u8 status);
    void hdmirx_INT_HDMIMode_Chg(int port);
    void hdmirx_INT_5V_Pwr_Chg(int port);
    void hdmirx_INT_SCDT_Chg();
    void hdmirx_INT_P0_ECC(int port);
    void hdmirx_INT_P0_Deskew(int port);
    void aud_fiforst();
    void hdmirx_ResetAudio();
    void IT6602HPDCtrl(int port, bool on);
    void IT6602SwitchVideoState(u8 state);
    void IT6602VideoOutputEnable(bool on);
    void IT6602_AFE_Rst();
    void IT6602VideoHandler();
    void WaitingForSCDT();
    void IPLLOvw_chk(int port);
    bool CheckAVMute();
    bool IsHDMIMode();
    void IT6602VideoOutputConfigure();
    void getAviInfo();
    void SetColorSpaceConvert();
    void loadCsc(const u8* matrix);
    void get_vid_info();
    void show_vid_info();
    float it6602_measure_pfreq();
    u32 fineClockKHz();
    u32 CP_OCLK();
    void IT6602_SetVideoMute(bool mute);
    void IT6602SwitchAudioState(u8 state);
    void IT6602AudioHandler();
    void readAudioCaps(u8& flag, u8& ch, u8& fs);
    void IT6602HDMIEventManager();
    u8 IT6602_DE3DFrame();
    void frame3dSyncGen(const it6602::Sync3D& row);
    u32 tmdsClockOf(int port);

    // Equaliser.
    void DisableOverWriteRS(int port);
    void hdmirx_ECCTimingOut(int port);
    void TMDSCheck(int port);
    void linkEvents(int port, u8 bits);
    void AmpValidCheck(int port);
    void OverWriteAmpValue2EQ(int port);
    void TogglePolarity(int port);
    void hdmirx_INT_EQ_FAIL(int port);
    void eqInterrupt(u8 d0);
    void HDMIStartEQDetect(int port);
    void HDMIAdjustEQ(int port);
    void HDMISwitchEQstate(int port, u8 state);
    void HDMISetEQValue(int port, int index);
    void HDMICheckSCDTon(int port);
    void HDMIPollingErrorCount(int port);
    void HDMIJudgeECCvalue(int port);
    void JudgeBestEQ(int port);
    void IT6602_VideoContentOff(int port, bool off);
    void eventSet(int port, u8 bits) { dev().m_ucEventFlags |= u8(bits << (4 * port)); }
    void eventClear(int port, u8 bits) { dev().m_ucEventFlags &= u8(~(bits << (4 * port))); }
    bool eventIs(int port, u8 bit) { return dev().m_ucEventFlags & (bit << (4 * port)); }
    bool at94() const { return m_addr[m_in] == 0x94; }

    int m_in = 0;  // input the current call works on

    u8 m_idFail[4] = {};
    it6602::IT6602_dev_data m_dev[4];
    u16 m_timing[4][it6602::TM_WORDS] = {};
    u32 m_tmdsClk[4] = {};
    u32 m_fineKHz[4] = {};
    u8 m_ipllCount[4] = {};
    it6602::EqBook m_eq[4][2];
    u8 m_toggles[4][2] = {};
    // Kept per input: a chip missing at 0x90 must not move the others.
    u8 m_addr[4] = {0x94, 0x94, 0x94, 0x94};
    u32 m_aviColor[4] = {}, m_outQuant[4] = {}, m_depth[4] = {};
    // 3D bookkeeping of the last vendor InfoFrame.
    u8 m_3dVic[4] = {};
    u8 m_3dInfo[4][11] = {};
};
