#pragma once
// Requests the c331 thread hands to the FPGA thread. Each is raised by the
// c331 thread when it applied a changed image word and served by the FPGA
// thread. The consumer takes a request with take() (an exchange, so a raise
// that arrives while it works is kept for its next pass) and puts it back
// with restore() when serving it failed.
#include "core/global.h"
#include "core/utils.h"

#include <QMutexLocker>

#include <atomic>

namespace fpga_handover {

// Brightness word (image 2176) changed; written under Utils::_bri_set_mutex.
inline std::atomic<u8> g_bri_set_flag{0};
// Output-channel layout words (image 1382, 1384) changed.
inline std::atomic<u8> g_lcd_set_flag{0};
// Blackout word (image 2116) changed.
inline std::atomic<u8> g_output_status_flag{0};

inline void raise_brightness() {
    QMutexLocker lock(&Utils::_bri_set_mutex);
    g_bri_set_flag.store(1);
}
inline bool take_brightness() {
    QMutexLocker lock(&Utils::_bri_set_mutex);
    return g_bri_set_flag.exchange(0) != 0;
}
inline void restore_brightness() { raise_brightness(); }

inline void raise_output_layout() { g_lcd_set_flag.store(1); }
inline bool take_output_layout() { return g_lcd_set_flag.exchange(0) != 0; }
inline void restore_output_layout() { g_lcd_set_flag.store(1); }

inline void raise_output_status() { g_output_status_flag.store(1); }
inline bool take_output_status() { return g_output_status_flag.exchange(0) != 0; }
inline void restore_output_status() { g_output_status_flag.store(1); }

}  // namespace fpga_handover
