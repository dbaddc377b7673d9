#pragma once
// Requests the c331 thread hands to the FPGA thread. Each is raised by the
// c331 thread when it applied a changed image word and served by the FPGA
// thread. The consumer takes a request with take() (an exchange, so a raise
// that arrives while it works is kept for its next pass) and puts it back
// with restore() when serving it failed. A raise wakes the FPGA thread; a
// restore does not, so a request that cannot be served yet is retried on the
// thread's next timed pass instead of spinning.
#include "core/global.h"
#include "core/utils.h"
#include "platform/clock.h"

#include <QMutexLocker>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace fpga_handover {

// The FPGA thread's wake-up: raised requests, posted jobs and pass-through
// frames set it; the thread sleeps until it is set or its next pass is due.
inline std::mutex g_wake_mutex;
inline std::condition_variable g_wake_cv;
inline bool g_wake_pending = false;  // guarded by g_wake_mutex

inline void wake_fpga_thread() {
    {
        std::lock_guard<std::mutex> lock(g_wake_mutex);
        g_wake_pending = true;
    }
    g_wake_cv.notify_all();
}
// Sleeps until woken or `ms` have passed on the platform clock, paced onto
// the tick (or `stop` is set); consumes the wake-up.
inline void wait_for_wake(Clock& clock, uint64_t ms, const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lock(g_wake_mutex);
    clock.waitPaced(g_wake_cv, lock, ms, [&] { return g_wake_pending || stop.load(); });
    g_wake_pending = false;
}

// The LED-parameter sequence (g_set_led_para 1) ends in the FPGA thread;
// the c331 thread waits for that end before it sets up the panel. Every
// store that moves the word off 1 goes through end_led_para, so the waiter
// sleeps until then (or its bound) instead of looking every millisecond.
inline std::mutex g_led_para_mutex;
inline std::condition_variable g_led_para_cv;

inline void end_led_para(u8 value) {
    g_set_led_para.store(value);
    { std::lock_guard<std::mutex> lock(g_led_para_mutex); }
    g_led_para_cv.notify_all();
}
// True when the sequence is over, false when `ms` passed first.
inline bool wait_led_para_end(Clock& clock, uint64_t ms) {
    std::unique_lock<std::mutex> lock(g_led_para_mutex);
    return clock.waitFor(g_led_para_cv, lock, ms, [] { return g_set_led_para.load() != 1; });
}

// Brightness word (image 2176) changed; written under Utils::_bri_set_mutex.
inline std::atomic<u8> g_bri_set_flag{0};
// Output-channel layout words (image 1382, 1384) changed.
inline std::atomic<u8> g_lcd_set_flag{0};
// Blackout word (image 2116) changed.
inline std::atomic<u8> g_output_status_flag{0};

inline void raise_brightness() {
    {
        QMutexLocker lock(&Utils::_bri_set_mutex);
        g_bri_set_flag.store(1);
    }
    wake_fpga_thread();
}
inline bool take_brightness() {
    QMutexLocker lock(&Utils::_bri_set_mutex);
    return g_bri_set_flag.exchange(0) != 0;
}
inline void restore_brightness() {
    QMutexLocker lock(&Utils::_bri_set_mutex);
    g_bri_set_flag.store(1);
}

inline void raise_output_layout() {
    g_lcd_set_flag.store(1);
    wake_fpga_thread();
}
inline bool take_output_layout() { return g_lcd_set_flag.exchange(0) != 0; }
inline void restore_output_layout() { g_lcd_set_flag.store(1); }

inline void raise_output_status() {
    g_output_status_flag.store(1);
    wake_fpga_thread();
}
inline bool take_output_status() { return g_output_status_flag.exchange(0) != 0; }
inline void restore_output_status() { g_output_status_flag.store(1); }

// Register 0's blackout bit as last written to each FPGA (bit k: FPGA k),
// written by the FPGA manager's one register write; read by the c331 pass,
// which holds none of the FPGA manager's locks.
inline std::atomic<u8> g_screen_black{0};
inline void note_screen(u8 fpga, bool black) {
    const u8 bit = u8(1u << fpga);
    if (black)
        g_screen_black.fetch_or(bit);
    else
        g_screen_black.fetch_and(u8(~bit));
}
// Whether both FPGAs were last written blacked out (`black`) or showing.
inline bool screen_is(bool black) { return g_screen_black.load() == (black ? 3 : 0); }

}  // namespace fpga_handover
