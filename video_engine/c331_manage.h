#pragma once
// The video-processor manager. Writers anywhere in the program take its
// mutex, edit the live parameter image, raise the apply flag and unlock; the
// c331 thread applies what changed.
//
// The thread identifies the chip (id 0x24 read five times), initialises it,
// opens the FPGA thread's start gate (g_fpga_c331_start) and then runs
// passes: the apply pass while the apply flag is set, then the poll step.
#include "core/global.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_chip_ops.h"
#include "video_engine/c331_drv.h"
#include "video_engine/c331_state.h"

#include <QMutex>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// Image layout the manager compares (byte offsets, little-endian words).
namespace c331img {
constexpr int kImageSize = 4096;
constexpr int TEST_PATTERN = 864;        // low byte
constexpr int CUSTOM_EDID = 896;         // 6 bytes per input, inputs 0-5
constexpr int SPLICE_MODE = 1376;
constexpr int LED_WIDTH = 1378;
constexpr int LED_HEIGHT = 1380;
constexpr int OCH_XOFFS = 1382;
constexpr int OCH_YOFFS = 1384;
constexpr int OUT1_WIDTH = 1412;
constexpr int OUT1_HEIGHT = 1414;
constexpr int CROP_TABLE = 1472;         // 40 records of 10 bytes
constexpr int AUDIO_WIN = 2112;
constexpr int BLACKOUT = 2116;
constexpr int OSD_ON = 2124;
constexpr int BRIGHTNESS = 2176;
constexpr int CONTRAST = 2178;
constexpr int SHARPNESS = 2180;
constexpr int SATURATION = 2182;
constexpr int COLOR_PRESET = 2184;
constexpr int RED = 2186;
constexpr int GREEN = 2188;
constexpr int BLUE = 2190;
constexpr int WIN_PRIORITY = 2208;       // one word per window
constexpr int WIN_RECORDS = 2272;        // 6 x 26 bytes
constexpr int WIN_RECORD_SIZE = 26;
constexpr int FADES = 2816;              // per window: fade-in +0, fade-out +2
// Protocol register block: debug requests.
constexpr int REG_TEST = 33;
constexpr int REG_DEBUG = 34;
constexpr int REG_PARAM_DUMP = 35;
constexpr int REG_GROUP_DUMP = 36;
}  // namespace c331img

class c331_manage : public c331_state {
public:
    static c331_manage* p_c331_manage;
    // Creates the manager on first use without starting its thread. Writers
    // of the parameter image use this to reach the mutex and the apply flag.
    static c331_manage* get();
    // Creates the manager and starts the c331 thread once (start-up); later
    // calls only return the pointer.
    static c331_manage* pInstance();

    // The change protocol's mutex and apply flag: 0 idle, 1 parameters
    // changed, 2 user-mode slots written by the protocol. The thread sleeps
    // on a condition until the flag is raised, a wake or its next poll.
    QMutex mutex;
    std::atomic<u8> apply_flag{0};
    // Raises the apply flag, with the mutex held, and wakes the thread. A
    // pending 2 also applies the parameters, so a 1 never replaces it: that
    // would lose the saving of the user-mode slots the PC wrote.
    void raise_apply(u8 code) {
        if (apply_flag.load() != 2 || code == 2) apply_flag.store(code);
        wake();
    }
    // Ends the thread's current wait at once.
    void wake();
    // A debug request (protocol registers 33 to 36) was written: the thread
    // serves it in its next pass, without an apply flag, so no parameter is
    // applied or signalled for it and a pending flag stays as it is.
    void request_debug() {
        m_debugPending.store(true);
        wake();
    }
    bool debug_pending() const { return m_debugPending.load(); }
    // Asks the thread to end (it leaves its loop at the next wait) and wakes
    // it; joins it unless called from the thread itself, then hands over the
    // brightness of a change the thread never took up.
    void stop();
    bool stopping() const { return m_stop.load(); }

    // Period of the input poll step: the longest the idle thread sleeps.
    static constexpr u32 kPollPeriodMs = 20;

    // Runs `wait` (for a frame, a status bit or a settle time of the chip)
    // without the manager's mutex when this thread holds it for a pass, and
    // takes the mutex again before it returns. Only the c331 thread programs
    // the chip, so a writer may edit the image meanwhile: its apply flag
    // brings the change to the next pass.
    template <class F>
    auto without_mutex(F&& wait) -> decltype(wait()) {
        struct Relock {
            c331_manage& m;
            bool held;
            ~Relock() {
                if (held) m.take_mutex();
            }
        } relock{*this, m_passHolds};
        if (relock.held) give_mutex();
        return wait();
    }

    // Register access and its handle.
    c331_drv* drv = nullptr;
    int c331_fd = -1;
    // The chip operations the passes call (tests put a recording one here);
    // the manager's own stay owned by it when replaced.
    c331_chip_ops* ops = nullptr;

    // Thread state: 0-4 identifying, 5 initialising, 6 running.
    std::atomic<u8> thread_state{0};

    // Opens the SPI device, reads the chip id once and starts the thread;
    // 0, or 255 when the thread cannot be started.
    int initialize();
    static void* c331manageThread(void* arg);
    // One pass of the running thread: the apply pass when the flag is set,
    // then the poll step.
    void c331managerdeal(void* arg);
    void load_system_param();
    void define_param();
    void Sleep(int ms);
    void c331_debugEnv() {}

    // Chip initialisation.
    static const int parameters_txt[160];
    void write_initial_setting(int fd, int mode);
    void set_rtct(int fd, int mode);
    void load_param();
    void set_input_bkg(int fd, int port, int on);

    // ---- driving the thread body step by step (start-up logic and tests)
    // One turn of the thread body by its state (identify, initialise, run).
    void thread_step();
    // While the chip is not running: a raised apply flag is cleared and
    // signalled without programming anything, so the change persists; a
    // changed brightness is handed to the FPGA manager all the same.
    void signal_without_chip();
    // Hands the brightness word to the FPGA manager when it, or the change
    // it holds, differs from the one last handed over or applied (c331
    // thread, or after stop()).
    void hand_over_brightness();
    // The identification step: one id read; advances the state on 0x24.
    void identify_step();
    // Brings the chip up (state 5) and opens the FPGA start gate.
    void init_chip();
    // The apply pass (takes the manager mutex itself).
    void apply_pass();
    // The poll step (without the manager mutex).
    void poll_step();
    // The parameter image the chip operations read (c331 thread): the live
    // image while a pass holds the manager mutex, else the copy the poll
    // step took under it at its start; never the live image unlocked, which
    // the links and the panel write.
    const PARA_RAM_IMAGE& chip_image() const;
    // A pass that serves only the pending debug requests (takes the manager
    // mutex itself).
    void debug_pass();

    // Longest wait for the FPGA thread's LED hand-over in the panel step.
    static constexpr u32 kLedWaitMs = 3000;
    // Whether the live image asks for a panel (splice mode, LED wall, output
    // 1 size) other than the one the chip was last set up for. Only then has
    // an LED set-up anything to wait for: the pass that meets the difference
    // sets the panel up and has both FPGAs restart, which shows the wall
    // again. Caller holds the manager's mutex.
    bool panel_owed_locked() const;
    // Upper bound of a fade step count taken from the image.
    static constexpr s32 kMaxFadeSteps = 255;

    void setChipOps(c331_chip_ops* chipOps) { ops = chipOps; }

    // ---- the serial flash behind the chip (any thread)
    // Results: 0 done; 1 refused, nothing touched; 2 the flash did not
    // answer within its bound; 3 the flash lock was not obtained in 1 s;
    // 4 the flash does not read back what was erased or written (sectors
    // its protection covers take the commands and keep their bytes, and a
    // write over bytes not erased only clears bits), with a log line.
    static constexpr u32 kFlashSize = 32u * 1024 * 1024;
    // The checks the operations make before touching anything: a range
    // inside the flash (computed without overflow), an erase aligned to its
    // block size.
    static bool flash_range_ok(u64 address, u64 length);
    static bool flash_erase_ok(int block, int count, int type);
    // `count` blocks from 4 KiB block `block`, each 4 KiB (type 0), 32 KiB
    // (1) or 64 KiB (any other), aligned to its size. Count 0: nothing.
    int erase_flash(int fd, int block, int count, int type);
    // Programs without erasing first: the bytes must land on erased flash.
    int write_flash(int fd, u32 address, u32 length, const u8* data);
    int read_flash(int fd, u32 address, u32 length, u8* buffer);
    // Asks the c331 thread to read the font headers again, copy the fonts
    // into the chip and redraw the OSD (after new fonts were written).
    void request_font_reload();
    bool font_reload_pending() const { return m_fontReload.load(); }
    // Fonts found in the flash: bit 0 32-dot Chinese, 1 32-dot English,
    // 2 64-dot Chinese, 3 64-dot English. Read without the manager's mutex.
    u32 font_status() const { return m_fontStatus.load(); }
    void set_font_status(u32 bits) { m_fontStatus.store(bits); }

    // The flash lock, held for each whole erase, write, read and DMA, for a
    // redraw and a font load. Lock order: manager mutex, flash lock, bank
    // lock, SPI lock; nothing takes the manager mutex inside it. With `wait`
    // the caller tries for at most kFlashLockWaitMs; the c331 thread only
    // tries once and leaves its work pending.
    static constexpr u32 kFlashLockWaitMs = 1000;
    std::unique_lock<std::mutex> flash_lock(bool wait);
    // The operations with the flash lock held by the caller; results as
    // above (no refusal: the ranges are the caller's). The erase reads each
    // block back as erased (all 0xFF) before the next, the write reads its
    // bytes back: every erase and program of the flash goes through these
    // two, so nothing is answered stored that the flash does not hold.
    int sfl_erase(int fd, u32 address, int count, int type);
    int sfl_write(int fd, u32 address, u32 length, const u8* data);
    int sfl_read(int fd, u32 address, u32 length, u8* buffer);
    int osd_write_dma_sfl(int fd, u32 src, u32 dst, int mode, u32 size);
    // Bounds of the flash waits on the board clock.
    static constexpr u32 kSflWaitMs = 100;
    static constexpr u32 kSflEraseMs = 3000;
    static constexpr u32 kSflDmaMs = 10000;

private:
    c331_manage();

    void reset_layout_descriptors();
    void apply_panel(const u8* live);
    void apply_windows(const u8* live);
    void apply_pattern(const u8* seen);
    void serve_debug_requests();
    void wait_led_handover();
    // Sleeps until the apply flag, a wake, stop() or at most `ms`.
    void wait_for_work(u32 ms);
    // The pass's hold on the manager mutex (c331 thread only): taken for a
    // whole pass, given up only inside without_mutex.
    void take_mutex();
    void give_mutex();
    struct PassHold {
        explicit PassHold(c331_manage& m) : m(m) { m.take_mutex(); }
        ~PassHold() { m.give_mutex(); }
        PassHold(const PassHold&) = delete;
        PassHold& operator=(const PassHold&) = delete;
        c331_manage& m;
    };

    std::unique_ptr<c331_chip_ops> m_ownOps;
    bool m_started = false;
    u32 m_idFailures = 0;
    // The poll step's copy of the live image (chip_image()).
    PARA_RAM_IMAGE m_pollImage{};
    void take_poll_image();
    // The image as last applied: the apply pass compares the image it took
    // at its start against it, so no change is lost when the shadow is
    // overwritten or the image is edited while the pass waits for the chip.
    u8 m_applied[c331img::kImageSize]{};
    // The brightness change (ZrvRamPara::bri_word_change) last handed to the
    // FPGA manager: a user's change hands the word over even when its value
    // is the one applied.
    u32 m_appliedBriChange = 0;
    bool m_passHolds = false;
    // Last pattern refused for several windows (logged once).
    u8 m_refusedPattern = 0;

    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCv;
    bool m_woken = false;  // under m_wakeMutex
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_debugPending{false};

    // Serial flash.
    // Reads the font headers and copies the fonts into the chip when the
    // flash lock is free (c331 thread); false when it was held.
    bool load_fonts(int fd);
    void sfl_pins(int fd);
    // Waits for a controller status; at the bound logs `message`, sets the
    // controller idle and returns false.
    // A time-out's line is the caller's place in the log.
    bool sfl_wait(int fd, u32 code, u32 mask, u32 want, u32 boundMs, const char* message, LogPlace at = {});
    // After a program or erase: clears a write-enable latch left set.
    bool sfl_clear_latch(int fd);
    bool sfl_reissue(int fd, u32 address);
    // The controller's sequences of one block's erase, of a program and of
    // a read, without the pin set-up; the erase and the program are called
    // only by the checked pair above.
    int sfl_erase_block(int fd, u32 address, int type);
    int sfl_program(int fd, u32 address, u32 length, const u8* data);
    int sfl_fetch(int fd, u32 address, u32 length, u8* buffer, bool progress);
    // 0 when the flash holds `want` over the range (every byte 0xFF for
    // null), 4 and a log line naming `what` when not, 2 when it does not
    // answer.
    int sfl_holds(int fd, u32 address, u32 length, const u8* want, const char* what);
    std::mutex m_flashMutex;
    std::atomic<bool> m_fontReload{false};
    std::atomic<u32> m_fontStatus{0};
};
