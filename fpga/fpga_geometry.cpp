// Output geometry of the ports, screen control, the LED-parameter sequence
// and the ports' link state.
//
// The area and back-up mirrors change under Utils::_fpga_multicast_mutex,
// which each routine here takes itself: callers must not hold it.
#include "fpga/fpga_handover.h"
#include "fpga/fpga_manage.h"
#include "video_io/source_handover.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <algorithm>

using namespace fpgareg;

namespace {
u16 le16(const u8* p) { return u16(p[0] | p[1] << 8); }
void put16(u8* p, u16 v) {
    p[0] = u8(v);
    p[1] = u8(v >> 8);
}
// Link bit of port n (0-11) in the parameter area.
bool linked(const u8* area, int n) {
    if (n < 4) return area[AREA_LINK_1_4] & (1 << (n < 2 ? n : n + 1));
    if (n < 8) return area[AREA_LINK_5_8] & (1 << (n - 4));
    return area[AREA_LINK_9_12] & (1 << (n - 8));
}
}  // namespace

u16 fpga_manage::area_word(u8 fpga, int offset) const { return le16(m_para[fpga] + offset); }
void fpga_manage::set_area_word(u8 fpga, int offset, u16 value) { put16(m_para[fpga] + offset, value); }

void fpga_manage::write_area(u8 fpga, int offset, int length) {
    write_fpga_ram(m_para[fpga] + offset, u16(offset), u16(length), PAGE_PARAM, fpga);
}

u8 fpga_manage::get_eth_param_addr(u8 port, u16* x, u16* y, u16* w, u16* h) {
    const int base = kPortEntry[port < 16 ? port : 0];
    if (x) *x = u16(base);
    if (y) *y = u16(base + 2);
    if (w) *w = u16(base + 4);
    if (h) *h = u16(base + 6);
    return 0;
}

void fpga_manage::K57_back_mcu_set_net_para(u8 fpga) {
    if (fpga > 1) return;
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    u8* back = m_back[fpga];
    const u8* area = m_para[fpga];
    std::copy(area + AREA_WIN_W, area + AREA_WIN_W + 4, back + BACK_WIN_W);
    for (int n = 0; n < kPortsPerFpga; ++n) std::copy(area + kPortEntry[n], area + kPortEntry[n] + 8, back + backPort(n));
    std::copy(area + AREA_WIN_X, area + AREA_WIN_X + 4, back + BACK_WIN_X);
}

void fpga_manage::K57_mcu_set_net_para(u8 fpga) {
    if (fpga > 1) return;
    u16 dx = 0, dy = 0;
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        dx = p->live_image.word(RamOffset::OUT_LAYOUT);
        dy = p->live_image.word(RamOffset::OUT_LAYOUT + 2);
    }
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    const u8* back = m_back[fpga];
    for (int n = 0; n < kPortsPerFpga; ++n) {
        set_area_word(fpga, kPortEntry[n], u16(le16(back + backPort(n)) + dx));
        set_area_word(fpga, kPortEntry[n] + 2, u16(le16(back + backPort(n) + 2) + dy));
    }
    set_area_word(fpga, AREA_WIN_W, u16(le16(back + BACK_WIN_W) + dx));
    set_area_word(fpga, AREA_WIN_H, u16(le16(back + BACK_WIN_H) + dy));
}

void fpga_manage::K57_mcu_set_lcd_x_y_para(u8 fpga) {
    // Only FPGA 1's window is checked against FPGA 0's; what the comparison
    // reads of FPGA 1 is kept as the device has always done it.
    if (fpga != 1) return;
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    const u16 right = u16(area_word(0, AREA_WIN_X) + area_word(0, AREA_WIN_W));
    const u16 bottom = u16(area_word(0, AREA_WIN_Y) + area_word(0, AREA_WIN_H));
    if (le16(m_back[1] + 56) == right) std::fill(m_para[1] + AREA_WIN_X, m_para[1] + AREA_WIN_X + 4, u8(0));
    if (le16(m_back[1] + 58) == bottom) std::fill(m_para[1] + AREA_WIN_X, m_para[1] + AREA_WIN_X + 4, u8(0));
}

void fpga_manage::get_eth_min_x_y(u8 fpga, u16* x, u16* y) {
    if (fpga > 1) return;
    u16 mx = 0xFFFF, my = 0xFFFF;
    for (int n = 0; n < kPortsPerFpga; ++n) {
        mx = std::min(mx, area_word(fpga, kPortEntry[n]));
        my = std::min(my, area_word(fpga, kPortEntry[n] + 2));
    }
    if (x) *x = mx;
    if (y) *y = my;
}

void fpga_manage::get_eth_max_border(u8 fpga, u16* x, u16* y) {
    if (fpga > 1) return;
    u16 mx = 0, my = 0;
    for (int n = 0; n < kPortsPerFpga; ++n) {
        const int e = kPortEntry[n];
        mx = std::max(mx, u16(area_word(fpga, e) + area_word(fpga, e + 4)));
        my = std::max(my, u16(area_word(fpga, e + 2) + area_word(fpga, e + 6)));
    }
    if (x) *x = mx;
    if (y) *y = my;
}

void fpga_manage::get_eth_lcd_x_y(u8 fpga, u16* x, u16* y) {
    if (fpga > 1) return;
    if (x) *x = area_word(fpga, AREA_WIN_X);
    if (y) *y = area_word(fpga, AREA_WIN_Y);
}

void fpga_manage::get_eth_lcd_w_h(u8 fpga, u16* w, u16* h) {
    if (fpga > 1) return;
    if (w) *w = area_word(fpga, AREA_WIN_W);
    if (h) *h = area_word(fpga, AREA_WIN_H);
}

void fpga_manage::update_eth_state(u8 fpga) {
    if (fpga > 1) return;
    read_from_register(LINK_LOW, fpga);
    read_from_register(LINK_HIGH, fpga);
    u8 low, high;
    {
        QMutexLocker lock(&shadow_mutex);
        low = m_reg[fpga][LINK_LOW];
        high = m_reg[fpga][LINK_HIGH];
    }
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    u8* area = m_para[fpga];
    const u8 b96 = u8((area[AREA_LINK_1_4] & 0xE4) | (low & 0x03) | ((low >> 2) & 0x03) << 3);
    const u8 b512 = u8((area[AREA_LINK_5_8] & 0xF0) | (low >> 4));
    const u8 b513 = high;
    const int offsets[3] = {AREA_LINK_1_4, AREA_LINK_5_8, AREA_LINK_9_12};
    const u8 values[3] = {b96, b512, b513};
    for (int i = 0; i < 3; ++i) {
        if (area[offsets[i]] == values[i]) continue;
        area[offsets[i]] = values[i];
        write_area(fpga, offsets[i], 1);
    }
    // The mirror and page 1 change together everywhere, so a count that is
    // already 0 in the mirror is 0 in the FPGA: only what changes is sent.
    for (int n = 0; n < kPortsPerFpga; ++n) {
        if (linked(area, n)) continue;
        if (area_word(fpga, kCardCount[n]) != 0) {
            set_area_word(fpga, kCardCount[n], 0);
            write_area(fpga, kCardCount[n], 2);
        }
        if (area[kCardStatus[n]] != 0) {
            area[kCardStatus[n]] = 0;
            write_area(fpga, kCardStatus[n], 1);
        }
    }
}

u32 fpga_manage::get_wlan_state() {
    u32 mask = 0;
    for (u8 k = 0; k < 2; ++k) {
        {
            // The panel asks from the GUI thread while the FPGA thread sets
            // the mark: read it under the images' mutex.
            QMutexLocker lock(&shadow_mutex);
            if (m_reg[k][RUN_MARK] != RUNNING) continue;
        }
        read_from_register(LINK_LOW, k);
        read_from_register(LINK_HIGH, k);
        QMutexLocker lock(&shadow_mutex);
        mask |= ((m_reg[k][LINK_LOW] | u32(m_reg[k][LINK_HIGH]) << 8) & 0xFFF) << (12 * k);
    }
    return mask;
}

void fpga_manage::check_wlanonline_state() {
    u32 word[2] = {0, 0};
    for (u8 k = 0; k < 2; ++k) {
        if (source_handover::output_clock_state(k) != 2 || reg_image(k, RUN_MARK) != RUNNING) continue;
        read_from_register(LINK_LOW, k);
        read_from_register(LINK_HIGH, k);
        QMutexLocker lock(&shadow_mutex);
        word[k] = m_reg[k][LINK_LOW] + 256u * m_reg[k][LINK_HIGH];
    }
    if (!get_fpga_status() || (word[0] == m_online_word[0] && word[1] == m_online_word[1])) return;
    m_online_word[0] = word[0];
    m_online_word[1] = word[1];
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) p->test_signal(11);
}

int fpga_manage::set_fpga_lcd() {
    if (!get_fpga_status()) return 0;
    K57_mcu_set_net_para(0);
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        write_area(0, 0, kAreaSize);
    }
    write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, 0);
    K57_mcu_set_lcd_x_y_para(1);
    return 1;
}

int fpga_manage::set_output_status() {
    if (!get_fpga_status() || led_setup_busy()) return 0;
    show_blackout_word();
    return 1;
}

void fpga_manage::show_blackout_word() {
    u8 blackout = 0;
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        blackout = p->live_image.byte(RamOffset::BLACKOUT);
    }
    SCREEN_fpgactrl_status(blackout == 0 ? 1 : 0, true);
}

void fpga_manage::SCREEN_fpgactrl_status(u8 code, bool keepWord) {
    struct Action {
        u8 reg, mask, value;
    };
    static const Action kActions[10] = {
        {SCREEN, SCREEN_BLACK, SCREEN_BLACK}, {SCREEN, SCREEN_BLACK, 0}, {SCREEN, 0x02, 0x02}, {SCREEN, 0x02, 0},
        {OUTPUT, OUTPUT_ON, OUTPUT_ON},       {OUTPUT, OUTPUT_ON, 0},    {0, 0, 0},
        {HANDSHAKE, HS_VBO_DONE, 0},          {HANDSHAKE, HS_VBO_DONE, HS_VBO_DONE}, {STATUS, 0, 0},
    };
    if (code > 9 || code == 6) return;
    for (u8 k = 0; k < 2; ++k) {
        if (code == 9)
            read_from_register(STATUS, k);
        else
            write_to_register(kActions[code].reg, kActions[code].mask, kActions[code].value, k, keepWord);
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(u8 code, u8 fpga) {
    switch (code) {
    case 0: write_to_register(SCREEN, SCREEN_BLACK, SCREEN_BLACK, fpga); break;
    case 4: write_to_register(OUTPUT, OUTPUT_ON, OUTPUT_ON, fpga); break;
    case 10: write_to_register(HANDSHAKE, HS_HOLD, HS_HOLD, fpga); break;
    case 11: write_to_register(HANDSHAKE, HS_HOLD, 0, fpga); break;
    default: break;
    }
}

void fpga_manage::set_led_para_deal() {
    if (!get_fpga_status()) return;
    u8 request, step;
    bool owed = true;
    {
        // The c331's record and the request read together: the pass that
        // sets the panel up raises 2 under the same mutex it records the
        // panel under, so "nothing owed" with a 1 or 0 here means no pass
        // will bring the restart.
        QMutexLocker c331Lock(&c331_manage::get()->mutex);
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        request = g_set_led_para.load();
        step = g_set_led_setup.load();
        if (request == 2) {
            g_set_led_setup.store(0);
            fpga_handover::end_led_para(0);
        } else {
            owed = c331_manage::get()->panel_owed_locked();
            if (!owed && request == 1) {
                g_set_led_setup.store(0);
                fpga_handover::end_led_para(0);
            }
        }
    }
    if (request == 2) {
        writeLogMsg(INFO, "fpga: LED outputs re-initialised for the new panel, both FPGAs restart");
        m_led_held.store(false);
        reset_fpga_rst(0);
        reset_fpga_rst(1);
        return;
    }
    if (!owed) {
        // Nothing to set up: whatever this set-up blacked out shows again.
        if (m_led_held.exchange(false)) end_led_hold();
        return;
    }
    if (request != 1) return;
    // The register writes run outside the hand-over's mutex; the step only
    // moves on when no writer restarted the request meanwhile. They are the
    // set-up's own: the operator's blackout word stays as it is.
    u8 next = step;
    if (step == 0) {
        m_led_held.store(true);
        SCREEN_fpgactrl_status(0, true);
        m_led_tick = G_timeTicks;
        next = 1;
    } else if (step == 1 && Utils::getTimeSpace(m_led_tick) >= 11) {
        m_led_tick = G_timeTicks;
        SCREEN_fpgactrl_status(5, true);
        next = 2;
    } else if (step == 2 && Utils::getTimeSpace(m_led_tick) >= 31) {
        m_led_tick = G_timeTicks;
        next = 0;
    }
    if (next == step) return;
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    if (g_set_led_para.load() != 1 || g_set_led_setup.load() != step) return;
    g_set_led_setup.store(next);
    if (step == 2) fpga_handover::end_led_para(0);
}

void fpga_manage::end_led_hold() {
    writeLogMsg(INFO, "fpga: LED set-up found no new panel to set up; outputs shown again");
    SCREEN_fpgactrl_status(4);
    show_blackout_word();
}

bool fpga_manage::request_led_para_if_running() {
    fpga_manage* m = p_fpga_manage;
    if (!m) return false;
    {
        QMutexLocker lock(&m->shadow_mutex);
        if (m->m_reg[0][RUN_MARK] != RUNNING || m->m_reg[1][RUN_MARK] != RUNNING) return false;
    }
    QMutexLocker lock(&Utils::_led_para_init_mutex);
    g_set_led_para.store(1);
    g_set_led_setup.store(0);
    fpga_handover::wake_fpga_thread();
    return true;
}
