#pragma once
// Requests other threads hand to the input-source thread, and what the
// source thread publishes for them. A flag is taken with an exchange so that
// a raise arriving while the source thread serves the previous one is kept
// for its next pass.
#include "core/global.h"

#include <atomic>

namespace source_handover {

constexpr int kInputs = 6;
constexpr int kOutputs = 2;

// Custom EDID of input i (image 896 + 6i) changed: one more request counted.
// The source thread remembers the count it last wrote and writes again while
// the two differ, so a change made during a write is never taken for written.
inline std::atomic<u32> g_edid_requests[kInputs]{};
// The audio source must be re-selected (starts raised so the first poll
// selects it).
inline std::atomic<u8> g_audio_changed{1};
// Pulse the SDI receiver's reset line (message_deal::RegUpdate11).
inline std::atomic<u8> g_sdi_reset_request{0};
// Per output: 0 clock chip not programmed, 1 table written, 2 FPGA released.
// Written only by the source thread.
inline std::atomic<u8> g_output_clock_state[kOutputs]{};

inline void request_custom_edid(int input) {
    if (input < 0 || input >= kInputs) return;
    g_edid_requests[input].fetch_add(1);
}
inline u32 custom_edid_requests(int input) {
    return input < 0 || input >= kInputs ? 0 : g_edid_requests[input].load();
}
inline void raise_audio_changed() { g_audio_changed.store(1); }
inline bool take_audio_changed() { return g_audio_changed.exchange(0) != 0; }
inline void raise_sdi_reset() { g_sdi_reset_request.store(1); }
inline bool take_sdi_reset() { return g_sdi_reset_request.exchange(0) != 0; }
inline u8 output_clock_state(int output) {
    return output < 0 || output >= kOutputs ? 0 : g_output_clock_state[output].load();
}

}  // namespace source_handover
