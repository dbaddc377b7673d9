#pragma once
// The input-source manager: owns the board's I2C bus and everything on it
// (receivers, EDID EEPROMs, audio switch, output clock chips, SDI path) and
// does all of that bus work in one thread, the source thread.
//
// The thread brings the receivers out of reset, checks the EDID EEPROMs once,
// then runs polling passes: output clocks (then the FPGAs are released),
// custom EDID writes, register-32 commands, the audio source, the SDI reset
// pulse, every enabled input's receiver and the SDI path. One turn of the
// thread is step(); tests call it pass by pass in virtual time.
//
// Publishing for the rest of the system happens through the helpers below,
// which the receiver drivers use as well: the per-input hdminfo records (read
// by the c331 manager), SIGNAL_PARA in the parameter image, and the status
// bits of registers 37 to 39.
#include "core/global.h"
#include "video_io/drv_i2c0.h"
#include "video_io/source_map.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class ite6805_sys;
class vimra_it6602;
class it66121_sys;
class ZrvRamPara;

class vimrasource {
public:
    // The one manager of the running program; created on first call (logs
    // "====vimrasource::vimrasource()=====") and never destroyed. It installs
    // the reader the c331 chip objects take the hdminfo records through.
    static vimrasource* pInstance();
    static vimrasource* p_vimra_source;

    // A manager of its own (tests); touches no bus and no line.
    vimrasource();
    ~vimrasource();
    // Ends the source thread after its current step and joins it (orderly
    // shutdown).
    void stop();
    vimrasource(const vimrasource&) = delete;
    vimrasource& operator=(const vimrasource&) = delete;

    // Opens the bus, hands the descriptor to the drivers, takes the poll mask
    // from "SourceCheck" and starts the source thread. 0, or 255 when the
    // thread cannot be started.
    int initialize();
    // The first half of initialize() without the thread (tests).
    void open_bus();
    // One turn of the source thread: the step of the current start-up state,
    // or a polling pass, with their sleeps.
    void step();
    static void* checksourceThread(void* arg);

    // ---- drivers (tests put recording doubles here before stepping)
    ite6805_sys& it6805() { return *p_ite6805; }
    vimra_it6602& it6602() { return *p_it6602; }
    it66121_sys& it66121() { return *p_it66121; }
    void replace_drivers(std::unique_ptr<ite6805_sys> a, std::unique_ptr<vimra_it6602> b,
                         std::unique_ptr<it66121_sys> c);

    // ---- publication helpers for the drivers (any thread)
    // SIGNAL_PARA of an input; a rate of 55 and above is stored as 60. Then
    // the change signal (test_signal(1)) so the pages refresh.
    void publish_signal(int input, u16 width, u16 height, u32 rate);
    // The same with three raw bytes written at image offset rawOffset under
    // the same lock (the IT6805 driver's unclamped low bytes).
    void publish_signal(int input, u16 width, u16 height, u32 rate, u32 rawOffset, const u8 raw[3]);
    void clear_signal(int input);
    // The input's hdminfo record, under Utils::_source_hdminfo_mutex.
    void fill_hdminfo(int input, const PI_HDMI_INFO& info);
    void clear_hdminfo(int input);
    void update_hdminfo(int input, const std::function<void(PI_HDMI_INFO&)>& edit);
    bool read_hdminfo(int input, PI_HDMI_INFO& out) const;
    // Register 37 to 39 bits, one atomic byte operation each; never under the
    // c331 manager's mutex.
    static void reg_set_bit(int reg, u8 bits);
    static void reg_clear_bit(int reg, u8 bits);
    static void reg_assign_bit(int reg, u8 bits, bool on);
    static u8 reg_read(int reg);

    // ---- EDID store
    static u8 CalcSum4LCD(u8 start, const u8* data, int count);
    // Patches input's built-in EDID with a timing descriptor for width x
    // height at rate Hz; false (nothing changed, WARNING logged) for values
    // out of range.
    bool Set_Custom_HDMI_EDID(int width, int height, int rate, int input);
    // Whether input's EDID can carry width x height at rate Hz (12-bit sizes,
    // a pixel clock of at most 655.35 MHz with the input's blanking); clock,
    // when given, gets that clock in 10 kHz units. The custom EDID page asks
    // before it stores a timing, so it never shows one the input refuses.
    static bool custom_edid_fits(int width, int height, int rate, int input, int64_t* clock = nullptr);
    void about_set_edid_deal();
    void about_source_init_deault_edid();
    // The built-in EDID of an input (256 bytes), patched by custom timings.
    u8* default_edid(int input);
    static bool edid_valid(const u8* edid);

    // ---- the polling pass, in its order
    void about_outxx_clk_create_deal();
    void s5p210_setup(int output);
    void about_cec913_clk_create_deal() {}
    void about_source_bug();
    void about_volume_deal();
    void about_source_ext_change_deal();
    // Polls every enabled input; false when none is enabled.
    bool sourcecheck();
    void it66121_sdi_enable();

    // ---- start-up states 0 to 4
    void about_source_init_work_reset();
    void about_source_init_work_reset_wait_ticks();
    void about_source_init_work_ok();
    void about_source_init_work_ok_wait_ticks();

    static const u8 kClockTable[63];

    // ---- state (source thread unless said otherwise)
    std::unique_ptr<ite6805_sys> p_ite6805;
    std::unique_ptr<vimra_it6602> p_it6602;
    std::unique_ptr<it66121_sys> p_it66121;
    // Custom EDID requests: the request count last written per input, and
    // the written count the input was last restarted for.
    u32 edid_written[source_bus::kInputs]{};
    u32 edid_restarted[source_bus::kInputs]{};
    // SDI reset pulse: 0 idle, 1 line held low since sdi_pulse_tick.
    u8 sdi_pulse_state = 0;
    u32 sdi_pulse_tick = 0;
    std::atomic<u8> poll_mask{0};
    u8 audio_code = 0;    // last code written, without bit 0
    u8 eeprom_idle = 1;   // bit 0 of the audio switch
    PI_HDMI_INFO hdminfo[source_bus::kInputs]{};  // under Utils::_source_hdminfo_mutex
    Drv_I2C0 i2c;
    int fd = -1;
    u8 it6602_state[4]{};  // 0 not found, 1 found and reset, 2 running
    u8 sdi_state = 0;      // 0..3
    u8 clock_state[source_bus::kOutputs]{};
    u8 clock_done[source_bus::kOutputs]{};
    // Start-up, under Utils::_source_init_mutex.
    u32 init_tick = 0;
    u8 init_state = 0;
    u8 reinit[source_bus::kInputs]{};

    u8 vimra_default_edid_6602[4][256];
    u8 vimra_default_edid_6805[2][256];

    u8 startup_state() const;

private:
    // Channel switches: true when acknowledged.
    bool select_rx(u8 code);
    bool select_mem(u8 code);
    bool write_audio(u8 value);
    void set_line(const char* name, int value);
    // EEPROM of the selected channel.
    bool eeprom_read(u8* edid);
    bool eeprom_write(const u8* edid);
    bool eeprom_ack_poll(u8 next);
    // Code of the audio source from the image (copied under the c331
    // manager's mutex).
    u8 audio_source_code();
    void restart_input(int input);
    void poll_input(int input);
    void set_clock_state(int output, u8 state);
    void enter_state(u8 state);
    // A start-up wait of `ticks` since init_tick: sleeps until it is over
    // (or stop() is called) instead of waking every tick to look.
    void wait_startup(u32 ticks);

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_napMutex;
    std::condition_variable m_napCv;
};
