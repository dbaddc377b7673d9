#pragma once
// The per-input video information: seventeen 32-bit words, filled by the
// receiver drivers under Utils::_source_hdminfo_mutex and read by the c331
// side.
#include "core/global.h"

#include <cstdint>

struct PI_HDMI_INFO {
    int32_t Hact, Hsync, Hback, Hpol, Htotal;
    int32_t Vact, Vsync, Vback, Vpol, Vtotal;
    float pfreq;  // MHz
    int32_t type, datamode, lane, ip, nosignal, stable;
};
static_assert(sizeof(PI_HDMI_INFO) == 17 * 4, "PI_HDMI_INFO layout");
