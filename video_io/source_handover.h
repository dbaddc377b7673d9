#pragma once
// Requests other threads hand to the input-source thread. A request is taken
// with an exchange so that a raise arriving while the source thread serves
// the previous one is kept for its next pass.
#include "core/global.h"

#include <atomic>

namespace source_handover {

constexpr int kInputs = 6;

// Custom EDID of input i (image 896 + 6i) changed: write it to the input's
// EEPROM. The companion written mark is set by the EDID writer once the
// EEPROM holds the new EDID.
inline std::atomic<u8> g_edid_request[kInputs]{};
inline std::atomic<u8> g_edid_written[kInputs]{};
// The audio source must be re-selected (starts raised so the first poll
// selects it).
inline std::atomic<u8> g_audio_changed{1};
// Pulse the SDI receiver's reset line (message_deal::RegUpdate11).
inline std::atomic<u8> g_sdi_reset_request{0};

// Clears the written mark before raising the request, so a consumer that
// sees the request never sees a stale mark.
inline void request_custom_edid(int input) {
    if (input < 0 || input >= kInputs) return;
    g_edid_written[input].store(0);
    g_edid_request[input].store(1);
}
inline bool take_custom_edid(int input) {
    if (input < 0 || input >= kInputs) return false;
    return g_edid_request[input].exchange(0) != 0;
}
inline void raise_audio_changed() { g_audio_changed.store(1); }
inline bool take_audio_changed() { return g_audio_changed.exchange(0) != 0; }
inline void raise_sdi_reset() { g_sdi_reset_request.store(1); }
inline bool take_sdi_reset() { return g_sdi_reset_request.exchange(0) != 0; }

}  // namespace source_handover
