// FPGA bring-up: the Vby-One start, the parameter load, the run-state
// sequence that starts both outputs in step, resets and lane supervision.
#include "fpga/fpga_manage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/board.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <cstring>

using namespace fpgareg;

namespace {
constexpr const char* kReset[2] = {GpioName::kFpga0Reset, GpioName::kFpga1Reset};
// Ticks an FPGA is held in reset before it is released.
constexpr u32 kResetTicks = 200;

u16 le16(const u8* p) { return u16(p[0] | p[1] << 8); }
u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

// Under the video processor manager's mutex, as every writer of the image
// holds it: a PC writes the wall size from its link's thread.
u16 imageWord(u32 off) {
    ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config;
    if (!p) return 0;
    QMutexLocker lock(&c331_manage::get()->mutex);
    return p->live_image.word(off);
}
}  // namespace

// Output window 1280 x 1024 at 0, 0; ports 1280 x 512; measured input
// 1366 x 768 with a period count of 833753.
const u8 fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0, 0, 0, 0, 0, 0x05, 0, 0x02,     // 0
    0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0x02, 0, 0, 0, 0x02, 0,                            // 16
    0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                  // 32
    0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0, 0x04,                            // 48
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                     // 64
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                                     // 80
    0x05, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                               // 96
    0, 0, 0, 0, 0x56, 0x05, 0, 0x03, 0xD9, 0xB8, 0x0C, 0, 0, 0, 0, 0,                   // 112
};

void fpga_manage::reset_fpga_rst(u8 fpga) {
    if (fpga > 1) return;
    Board::get().gpio().setLine(kReset[fpga], 0);
    st[fpga].held.store(1);
    st[fpga].reset_tick = G_timeTicks;
    st[fpga].resets = 0;
}

void fpga_manage::check_fpga_rst() {
    for (u8 k = 0; k < 2; ++k) {
        FpgaState& s = st[k];
        if (!s.held.load() || Utils::getTimeSpace(s.reset_tick) <= kResetTicks) continue;
        Board::get().gpio().setLine(kReset[k], 1);
        {
            QMutexLocker lock(&shadow_mutex);
            m_reg[k][RUN_MARK] = 0;
            m_reg[k][VERSION3] = 0;
        }
        s.run.store(0);
        g_change[38 + k] = G_timeTicks;
        s.held.store(0);
        s.vbo.store(0);
        s.errors = 0;
        m_handed_back = false;
    }
}

bool fpga_manage::get_fpga_status() {
    QMutexLocker lock(&shadow_mutex);
    for (int k = 0; k < 2; ++k) {
        if (m_reg[k][RUN_MARK] != RUNNING || st[k].vbo.load() != 7 || st[k].run.load() != 18) return false;
        if (m_reg[k][SCREEN] & SCREEN_HOLD) return false;
    }
    return true;
}

void fpga_manage::power_up_fpga_start(u8 skipWhenDone, u8 fpga) {
    if (fpga > 1) return;
    FpgaState& s = st[fpga];
    u32& stepTick = g_change[32 + fpga];
    if (skipWhenDone && reg_image(fpga, RUN_MARK) == RUNNING && s.vbo.load() == 7) return;
    if (Utils::getTimeSpace(stepTick) <= 30) return;
    const int n = fpga + 1;

    // A start (state 0 at power-up or after a release, 17 after a reset of
    // the run-state wait) always reads the version first: the PC's register
    // reads refresh the image from other threads, so a valid version there
    // may predate this start, and no state would take the start further.
    const u8 version = reg_image(fpga, VERSION3);
    const bool starting = s.vbo.load() == 0 || s.vbo.load() == 17;
    if (starting || version < VERSION_MIN || version > VERSION_MAX) {
        for (u8 r : {u8(31), u8(30), u8(29), u8(28), VERSION_ID}) read_from_register(r, fpga);
        s.vbo.store(1);
        s.errors = 0;
        stepTick = G_timeTicks;
        return;
    }
    switch (s.vbo.load()) {
    case 1:
        debugPrintf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S1++++++++++++++++++++++++ !!!\n", n);
        write_to_register(OUTPUT, OUTPUT_VBO1, OUTPUT_VBO1, fpga);
        s.vbo.store(2);
        stepTick = G_timeTicks;
        return;
    case 2:
        debugPrintf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S2++++++++++++++++++++++++ !!!\n", n);
        read_from_register(STATUS, fpga);
        if (!(reg_image(fpga, STATUS) & STATUS_LOCK_ERROR)) {
            s.vbo.store(3);
        } else if (++s.errors >= 5) {
            debugPrintf("\n FPGA[%d] Vby-One lock error, reset %d\n", n, s.resets + 1);
            if (++s.resets < 3) {
                const u8 resets = s.resets;
                reset_fpga_rst(fpga);
                s.resets = resets;
            } else {
                s.vbo.store(3);
            }
        }
        stepTick = G_timeTicks;
        return;
    case 3:
        debugPrintf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S3++++++++++++++++++++++++ !!!\n", n);
        write_to_register(OUTPUT, OUTPUT_VBO3, OUTPUT_VBO3, fpga);
        s.vbo.store(5);
        s.errors = 0;
        s.resets = 0;
        stepTick = G_timeTicks;
        return;
    case 5:
        debugPrintf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S5++++++++++++++++++++++++ !!!\n", n);
        read_from_register(STATUS, fpga);
        if (reg_image(fpga, STATUS) & STATUS_VBO_READY) {
            s.vbo.store(6);
            s.resets = 0;
            write_to_register(HANDSHAKE, HS_VBO_DONE, 0, fpga);
        } else if (++s.errors >= 6 && ++s.resets >= 3) {
            debugPrintf("\n FPGA[%d] Vby-One not ready, going on\n", n);
            s.vbo.store(6);
        }
        stepTick = G_timeTicks;
        return;
    case 6:
        debugPrintf("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S6++++++++++++++++++++++++ !!!\n", n);
        write_to_register(HANDSHAKE, HS_VBO_DONE, HS_VBO_DONE, fpga);
        write_to_register(RUN_MARK, 0xFF, RUNNING, fpga);
        fpgainit(fpga);
        // A failed parameter check put the FPGA into reset: it does not count
        // as running until the release starts it over.
        write_to_register(RUN_MARK, 0xFF, s.held.load() ? 0 : RUNNING, fpga);
        if (!s.held.load()) restore_screen(fpga);
        s.vbo.store(7);
        writeLogMsgFor(fpgaName(fpga), INFO, "fpga: " + fpgaName(fpga) + " brought up");
        return;
    default:
        stepTick = G_timeTicks;
        return;
    }
}

void fpga_manage::restore_screen(u8 fpga) {
    // Every start passes here; the screen state a PC reads follows from the
    // register write, as for any other write of register 0.
    const bool black = imageWord(RamOffset::BLACKOUT) != 0;
    write_to_register(SCREEN, SCREEN_BLACK, black ? SCREEN_BLACK : 0, fpga, true);
}

void fpga_manage::get_control_uid(u8 fpga) {
    std::memset(control_uid, 0, sizeof control_uid);
    // Both FPGAs carry the id of the flash behind FPGA 0.
    m_drv->FPGA_SPI_FLASH_SSTF016B_RD_UID(2, control_uid);
    for (u8 i = 0; i < kUidLength; ++i) write_to_register(u8(UID0 + i), 0xFF, control_uid[i], fpga);
    device_id = Utils::calcCRC32(control_uid, sizeof control_uid);
    debugPrintf("\n device_id = %#x \n", device_id);
}

void fpga_manage::eth_param_init(u8 defaults, u8 fpga) {
    for (int n = 0; n < 16; ++n) {
        const bool spare = n >= kPortsPerFpga;
        if (!spare && !defaults) continue;
        const int x = kPortEntry[n];
        set_area_word(fpga, x, 0);
        set_area_word(fpga, x + 2, 0);
        set_area_word(fpga, x + 4, spare ? 1 : 1280);
        set_area_word(fpga, x + 6, spare ? 1 : 512);
    }
}

void fpga_manage::fpgainit(u8 fpga) {
    const u8 flash = u8(fpga + 2);
    u8 table[256];
    if (!m_drv->FPGA_SPI_FLASH_VBYONE_READ(flash, FLASH_TABLE, sizeof table, table)) std::memset(table, 0xFF, 256);
    write_fpga_ram(table, 0, sizeof table, PAGE_TABLE, fpga);

    get_control_uid(fpga);

    write_to_register(HANDSHAKE, HS_LOAD, HS_LOAD, fpga);
    write_to_register(HANDSHAKE, HS_LOAD, 0, fpga);
    read_from_register(STATUS, fpga);
    write_to_register(STATUS, STATUS_LOAD, 0, fpga);

    record_bright_change();
    record_onoff_time(flash);

    for (int i = 0; i < 3; ++i) read_from_register(PROBE, fpga);

    u8 mark = 0;
    m_drv->FPGA_SPI_FLASH_VBYONE_READ(flash, FLASH_AREA_MARK, 1, &mark);
    u8 stored[kAreaSize];
    const bool haveStored =
        mark == kAreaStored && m_drv->FPGA_SPI_FLASH_VBYONE_READ(flash, FLASH_AREA, kAreaSize, stored);
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        if (haveStored) {
            std::memcpy(m_para[fpga], stored, kAreaSize);
            // Link bits and card counts are found again by the search.
            std::memset(m_para[fpga] + 96, 0, 32);
            eth_param_init(0, fpga);
        } else {
            std::memset(m_para[fpga], 0, kAreaSize);
            std::memcpy(m_para[fpga], RAM1, sizeof RAM1);
            static const u8 group[4] = {0x76, 0x05, 0xD2, 0x01};
            for (int g = 0; g < 16; ++g) std::memcpy(m_para[fpga] + AREA_GROUPS + 4 * g, group, 4);
            m_para[fpga][496] = 0;
            m_para[fpga][498] = 0;
            eth_param_init(1, fpga);
        }
    }
    K57_back_mcu_set_net_para(fpga);
    if (haveStored) {
        K57_mcu_set_lcd_x_y_para(fpga);
        if (fpga == 0) K57_mcu_set_net_para(0);
    }
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        for (int i = 0; i < kPortsPerFpga; ++i) m_para[fpga][AREA_PORT_NUMBERS + i] = u8(fpga * 12 + i + 1);
        write_fpga_ram(m_para[fpga], 0, kAreaSize, PAGE_PARAM, fpga);
    }
    update_eth_state(fpga);
    FPGA_to_RAM(fpga);
    write_to_register(CONTROL, CONTROL_LOADED, CONTROL_LOADED, fpga);

    st[fpga].ram_ok = check_fpga_ram_param(fpga);
    if (!st[fpga].ram_ok) {
        debugPrintf("\n check fpga%d ram error ,start to reset .... \n", fpga + 1);
        writeLogMsgFor(fpgaName(fpga), ERROR,
                       "fpga: parameter area of " + fpgaName(fpga) + " did not read back; resetting it");
        reset_fpga_rst(fpga);
    }
}

u8 fpga_manage::check_fpga_ram_param(u8 fpga) {
    for (int n = 0; n < kPortsPerFpga; ++n) {
        for (int w = 0; w < 4; ++w) {
            const int off = kPortEntry[n] + 2 * w;
            u8 got[2] = {};
            read_fpga_ram(got, u16(off), 2, PAGE_PARAM, fpga);
            if (le16(got) != area_word(fpga, off)) return 0;
        }
    }
    for (int i = 0; i < 12; ++i) {
        for (int off : {AREA_GROUPS + 4 * i, AREA_GROUPS + 2 + 4 * i}) {
            u8 got[2] = {};
            read_fpga_ram(got, u16(off), 2, PAGE_PARAM, fpga);
            if (le16(got) != area_word(fpga, off)) return 0;
        }
    }
    return 1;
}

void fpga_manage::power_up_check_fpga_status(u8 fpga) {
    if (fpga > 1) return;
    FpgaState& s = st[fpga];
    if (reg_image(fpga, RUN_MARK) != RUNNING || s.vbo.load() != 7) return;
    u32& handshake = g_change[47 + fpga];
    switch (s.run.load()) {
    case 0:
        if (Utils::getTimeSpace(s.run_tick) <= 10) return;
        read_from_register(STATUS, fpga);
        if (reg_image(fpga, STATUS) & STATUS_READY) {
            s.run.store(7);
        } else if (s.c1 < (s.c2 + 1) * 20) {
            ++s.c1;
        } else {
            ++s.c2;
            writeLogMsgFor(fpgaName(fpga), WARNING, "fpga: " + fpgaName(fpga) + " not ready; resetting it");
            reset_fpga_rst(fpga);
            s.vbo.store(17);
        }
        s.run_tick = G_timeTicks;
        return;
    case 7: {
        if (Utils::getTimeSpace(s.run_tick) <= 70) return;
        u8 input[8] = {};
        read_fpga_ram(input, AREA_INPUT, 8, PAGE_PARAM, fpga);
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            std::memcpy(m_para[fpga] + AREA_INPUT, input, 8);
        }
        const u16 width = le16(input), height = le16(input + 2);
        const u32 period = le32(input + 4);
        if (width >= imageWord(RamOffset::WALL_WIDTH) / 2 && height >= imageWord(RamOffset::WALL_HEIGHT) / 2 &&
            period >= kPeriodMin && period <= kPeriodMax) {
            write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, fpga);
            write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, fpga);
            s.run.store(1);
        }
        s.run_tick = G_timeTicks;
        return;
    }
    case 1:
        write_to_register(START, 0x01, 0x01, fpga);
        handshake = G_timeTicks;
        write_to_register(HANDSHAKE, HS_START, HS_START, fpga);
        s.run.store(8);
        return;
    case 8:
        if (Utils::getTimeSpace(handshake) <= 5) return;
        read_from_register(HANDSHAKE, fpga);
        s.run.store((reg_image(fpga, HANDSHAKE) & HS_START) ? 2 : 1);
        handshake = G_timeTicks;
        return;
    case 2:
        if (Utils::getTimeSpace(handshake) <= 20) return;
        read_from_register(START, fpga);
        s.done41 = 1;
        s.run.store(9);
        return;
    case 9:
        write_to_register(HANDSHAKE, HS_START, 0, fpga);
        handshake = G_timeTicks;
        s.run.store(10);
        return;
    case 10:
        if (Utils::getTimeSpace(handshake) <= 5) return;
        read_from_register(HANDSHAKE, fpga);
        s.run.store((reg_image(fpga, HANDSHAKE) & HS_START) ? 9 : 3);
        return;
    case 3: {
        // Both have read their start result, and the other has also left
        // its handshake (run state 3 or later), so the outputs start in step.
        const u8 other = st[fpga ^ 1].run.load();
        if (!st[0].done41 || !st[1].done41 || (other != 3 && other < 14)) return;
        write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, fpga);
        // Both outputs are up: the c331 stops forcing its background colour
        // and programs the picture once, whichever FPGA gets here first.
        if (!m_handed_back) {
            hand_back_to_c331();
            m_handed_back = true;
        }
        s.run.store(14);
        return;
    }
    case 14:
        if (Utils::getTimeSpace(s.run_tick) <= 50) return;
        write_to_register(HANDSHAKE, HS_HOLD, 0, fpga);
        s.run.store(15);
        write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, fpga);
        write_to_register(CONTROL, CONTROL_APPLY, CONTROL_APPLY, fpga);
        s.run_tick = G_timeTicks;
        return;
    case 15:
        if (Utils::getTimeSpace(s.run_tick) <= 50) return;
        write_to_register(OUTPUT, OUTPUT_ON, OUTPUT_ON, fpga);
        s.run.store(18);
        s.run_tick = G_timeTicks;
        writeLogMsgFor(fpgaName(fpga), INFO, "fpga: " + fpgaName(fpga) + " running");
        return;
    default:
        return;
    }
}

u8 fpga_manage::check_vbo_status(u8 fpga) {
    if (fpga > 1) return 0;
    FpgaState& s = st[fpga];
    u32& tick = g_change[3 + fpga];
    if (Utils::getTimeSpace(tick) <= 9) return s.lane_fault;
    if (!s.lane_fault) {
        int missing = 0;
        for (int i = 0; i < 8; ++i) {
            read_from_register(LANES, fpga);
            if ((reg_image(fpga, LANES) & LANES_LOCKED) != LANES_LOCKED) ++missing;
        }
        if (missing > 3) {
            s.lane_fault = 1;
            write_to_register(OUTPUT, OUTPUT_VBO1 | OUTPUT_VBO3, 0, fpga);
            s.lane_step = 0;
        }
    } else if (s.lane_step == 0) {
        write_to_register(OUTPUT, OUTPUT_VBO1, OUTPUT_VBO1, fpga);
        s.lane_step = 1;
        s.lane_retries = 0;
    } else {
        read_from_register(STATUS, fpga);
        ++s.lane_retries;
        if (!(reg_image(fpga, STATUS) & STATUS_LOCK_ERROR) || s.lane_retries >= 1000) {
            write_to_register(OUTPUT, OUTPUT_VBO3, OUTPUT_VBO3, fpga);
            s.lane_fault = 0;
        }
    }
    tick = G_timeTicks;
    return s.lane_fault;
}
