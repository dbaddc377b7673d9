#include "fpga/fpga_manage.h"

#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_handover.h"
#include "platform/board.h"
#include "platform/tick_cpu.h"
#include "protocol/pc_link.h"
#include "video_engine/c331_manage.h"
#include "video_io/source_handover.h"

#include <QMutexLocker>

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <vector>

using namespace fpgareg;

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
u8* fpga_manage::MCU_REG_func[2] = {};
u8* fpga_manage::MCU_RAM_PARA_func[2] = {};
u8* fpga_manage::MCU_RAM_RX_func[2] = {};
u8* fpga_manage::MCU_RAM_TX_func[2] = {};
u8* fpga_manage::MCU_RAM_ETH_PARA_func[2] = {};
u8* fpga_manage::MCU_RAM_ETH_BACK_PARA_func[2] = {};
u8 fpga_manage::MCU_RAM_CMD[1024] = {};
u8 fpga_manage::MCU_RAM_EXTEND[1024] = {};
u8 fpga_manage::MCU_RAM_ZOOM[1024] = {};

SEND_PARA g_send_para;
LINE_TYPE_PARA line_type;
std::atomic<u32> g_usb_grade{0};
std::atomic<u8> g_update_flag{0};

namespace {
constexpr const char* kSelect[2] = {GpioName::kFpga0Select, GpioName::kFpga1Select};
constexpr const char* kCommand[2] = {GpioName::kFpga0Command, GpioName::kFpga1Command};
}  // namespace

fpga_manage::fpga_manage() {
    writeLogMsg(INFO, "====fpga_manage::fpga_manage()=====");
    m_drv = std::make_unique<fpga_drv>();
    for (int k = 0; k < 2; ++k) {
        MCU_REG_func[k] = m_reg[k];
        MCU_RAM_PARA_func[k] = m_para[k];
        MCU_RAM_RX_func[k] = m_rx[k];
        MCU_RAM_TX_func[k] = m_tx[k];
        MCU_RAM_ETH_PARA_func[k] = m_eth[k];
        MCU_RAM_ETH_BACK_PARA_func[k] = m_back[k];
    }
    recovery = std::make_unique<rcvRecovery>();
}

fpga_manage::~fpga_manage() {
    stop();
    if (m_hookInstalled) PassThrough::install({});
    if (MCU_REG_func[0] == m_reg[0]) {
        for (int k = 0; k < 2; ++k) {
            MCU_REG_func[k] = MCU_RAM_PARA_func[k] = MCU_RAM_RX_func[k] = nullptr;
            MCU_RAM_TX_func[k] = MCU_RAM_ETH_PARA_func[k] = MCU_RAM_ETH_BACK_PARA_func[k] = nullptr;
        }
    }
    if (p_fpga_manage == this) p_fpga_manage = nullptr;
}

fpga_manage* fpga_manage::pInstance() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto* m = new fpga_manage();
        p_fpga_manage = m;
        m->recovery->check_file_dir("/data/smartmapping");
        m->recovery->check_file_dir("/data/rcvrecovery");
        m->initialize();
        install_usb_upgrade_request();
    });
    return p_fpga_manage;
}

int fpga_manage::initialize(bool startThread) {
    for (int i = 0; i < 4; ++i) m_fd[i] = m_drv->initialize_vbyne1(i);

    GpioLines& gpio = Board::get().gpio();
    if (!gpio.isOpen()) return 255;  // the backend logged the failing step
    gpio.setLine(GpioName::kFpga0Select, 1);
    gpio.setLine(GpioName::kFpga1Select, 1);
    gpio.setLine(GpioName::kFpga1Command, 1);
    gpio.setLine(GpioName::kFpga1FlashSelect, 1);
    gpio.setLine(GpioName::kBoardLow0, 0);
    gpio.setLine(GpioName::kBoardLow1, 0);
    gpio.setLine(GpioName::kBoardHigh, 1);
    gpio.setLine(GpioName::kBoardOne, 1);

    softinit();
    // PC frames for the cards reach the ports through this manager.
    PassThrough::install({[this](const u8* frame, u32 length, const std::function<void()>& enter) {
                              QMutexLocker lock(&port_mutex);
                              take_waiting_replies();
                              enter();
                              Dealwith1_PC_to_eth(length, frame);
                          },
                          [this] {
                              QMutexLocker lock(&port_mutex);
                              reg_IRQ_Dealwith(0, 0);
                              reg_IRQ_Dealwith(1, 0);
                          }});
    m_hookInstalled = true;
    // The lines settle for kSettleMs before the FPGAs are driven. With its
    // thread the wait is the thread's first step: start-up goes on, and the
    // PC links open without waiting for the FPGAs.
    if (!startThread) Utils::sleep_ms(kSettleMs);
    g_fpga_c331_start.store(0);
    clock_record.clock_record_init();
    if (!startThread) return 0;
    try {
        m_thread = std::thread(&fpga_manage::thread_main, this);
        pthread_setname_np(m_thread.native_handle(), "fpga");
    } catch (const std::system_error&) {
        writeLogMsg(ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void fpga_manage::softinit() {
    const u32 now = G_timeTicks;
    for (int w : {3, 4, 32, 33, 38, 39, 45}) g_change[w] = now;
    g_change[34] = g_change[35] = 15;
    g_change[42] = g_change[43] = g_change[44] = 0;
    std::fill(std::begin(HalfHourValue), std::end(HalfHourValue), u8(0x0F));
    const u8 software[4] = {1, 17, 0, 0};
    std::memcpy(MCU_RAM_CMD + 24, software, 4);
    std::memset(MCU_RAM_CMD + 30, 0, 4);
    MCU_RAM_CMD[29] = 1;
    MCU_RAM_CMD[28] = 0xFF;
    MCU_RAM_EXTEND[49] = 0x9F;
    MCU_RAM_EXTEND[50] = 0x1F;
    // The screen state a PC reads before any write of register 0 (which
    // keeps it after): the wall shows unless the image's blackout word says
    // it is blacked out.
    u8 screen = 1;
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        screen = p->live_image.byte(RamOffset::BLACKOUT) ? 0 : 1;
    }
    {
        QMutexLocker lock(&shadow_mutex);
        MCU_RAM_EXTEND[29] = screen;
    }
    g_send_para.job_step.store(0xFF00);
    g_send_para.reply.store(0);
}

void fpga_manage::stop() {
    m_stop.store(true);
    fpga_handover::wake_fpga_thread();
    if (m_thread.joinable()) m_thread.join();
    finish_brightness();
}

void fpga_manage::finish_brightness() {
    // A change raised after the last pass, or while the thread still
    // settled before its first: the pass never took it.
    if (fpga_handover::take_brightness()) set_fpga_bri_val();
    store_pending_bright(true);
}

// ---------------------------------------------------------------- thread

void fpga_manage::thread_main() {
    tick_cpu::join();
    Clock& clock = Board::get().clock();
    const uint64_t settled = clock.nowMs() + kSettleMs;
    while (!m_stop.load() && clock.nowMs() < settled)
        fpga_handover::wait_for_wake(clock, settled - clock.nowMs(), m_stop);
    while (!m_stop.load()) {
        thread_turn();
        fpga_handover::wait_for_wake(Board::get().clock(), pass_interval_ms(), m_stop);
    }
}

u32 fpga_manage::pass_interval_ms() {
    if (g_fpga_c331_start.load() == 0) return kGateClosedMs;
    // Bring-up, jobs, pass-through waits and lane recovery count their
    // steps in passes or poll for answers: they keep the short pass.
    const u8 job = g_send_para.job();
    const bool busy = g_usb_grade.load() != 0 || (job >= 1 && job <= 6) || pc_cmd_valid.load() != 0 ||
                      led_setup_busy() || fpga_handover::g_bri_set_flag.load() != 0 ||
                      fpga_handover::g_lcd_set_flag.load() != 0 || fpga_handover::g_output_status_flag.load() != 0 ||
                      st[0].lane_fault || st[1].lane_fault || !get_fpga_status();
    return busy ? kPassMs : kQuietPassMs;
}

void fpga_manage::thread_turn() {
    if (g_fpga_c331_start.load() == 0) return;
    if (usb_upgrade_manage_deal()) return;
    pass();
}

bool fpga_manage::released(u8 fpga) const {
    return fpga < 2 && source_handover::output_clock_state(fpga) == 2 && !st[fpga].held;
}

bool fpga_manage::started(u8 fpga) const { return g_fpga_c331_start.load() != 0 && released(fpga); }

void fpga_manage::pass() {
    check_fpga_rst();
    for (u8 k = 0; k < 2; ++k)
        if (released(k)) power_up_fpga_start(1, k);
    {
        QMutexLocker lock(&port_mutex);
        for (u8 k = 0; k < 2; ++k)
            if (released(k)) reg_IRQ_Dealwith(k, 0);
    }
    for (u8 k = 0; k < 2; ++k)
        if (released(k)) power_up_check_fpga_status(k);
    if (fpga_handover::take_output_layout() && set_fpga_lcd() != 1) fpga_handover::restore_output_layout();
    if (fpga_handover::take_brightness() && set_fpga_bri_val() != 1) fpga_handover::restore_brightness();
    store_pending_bright(false);
    if (led_setup_busy()) set_led_para_deal();
    if (get_fpga_status() && Utils::getTimeSpace(m_time_tick) >= 26) {
        IT8563WE_Get(&current_time);
        m_time_tick = G_timeTicks;
    }
    const u8 job = g_send_para.job();
    if (job >= 1 && job <= 6)
        run_card_job(job);
    else
        Check_search_card();
    if (fpga_handover::take_output_status() && set_output_status() != 1) fpga_handover::restore_output_status();
    clock_record.clock_record_deal();
}

void fpga_manage::Check_search_card() {
    if (pc_cmd_valid.load() == 0 && get_fpga_status()) {
        check_vbo_status(0);
        check_vbo_status(1);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
    } else if (pc_cmd_valid.load() != 0 && Utils::getTimeSpace(pc_cmd_time.load()) > 80) {
        pc_cmd_valid.store(0);
        searched_mask = 0;
    }
}

int fpga_manage::IT8563WE_Get(TimeRealType* time) {
    if (!time) return 0;
    const std::tm t = Board::get().clock().wallTime();
    time->second = u8(t.tm_sec);
    time->minute = u8(t.tm_min);
    time->hour = u8(t.tm_hour);
    time->day = u8(t.tm_mday);
    time->month = u8(t.tm_mon + 1);
    time->year = u16(t.tm_year + 1900);
    return 0;
}

// ---------------------------------------------------------------- wire access

void fpga_manage::fpga_reg_cmd_to_spi_data(u8 cls, u8 page, u8 reg, u8 read, u8 mask, u8 out[4]) {
    out[0] = u8(cls * 2 + read);
    out[1] = page;
    out[2] = reg;
    out[3] = read ? 0 : mask;
}

void fpga_manage::fpga_cmd_to_spi_data(u8 cls, u8 page, u16 address, u8 read, u8 out[4]) {
    out[0] = u8(cls * 2 + read);
    out[1] = page;
    out[2] = u8(address);
    out[3] = u8((address >> 8) & 0x0F);
}

void fpga_manage::select_fpga(u8 fpga, bool command) {
    GpioLines& gpio = Board::get().gpio();
    gpio.setLine(kCommand[fpga], command ? 1 : 0);
    if (!command) return;
    gpio.setLine(kSelect[fpga], 0);
    gpio.setLine(kSelect[fpga ^ 1], 1);
}

void fpga_manage::deselect(u8) {
    GpioLines& gpio = Board::get().gpio();
    gpio.setLine(GpioName::kFpga0Select, 1);
    gpio.setLine(GpioName::kFpga1Select, 1);
}

void fpga_manage::read_fpga_register(u8 reg, u8* value, u8 fpga) {
    if (fpga > 1 || !value) return;
    u8 header[4];
    fpga_reg_cmd_to_spi_data(kRegClass, 0, reg, 1, 0, header);
    const u8 tx = 0xFF;
    u8 rx = 0;
    QMutexLocker lock(&Utils::_spi_mutex);
    select_fpga(fpga, true);
    m_drv->SPI_Transfer_Write(m_fd[fpga], header, 4);
    select_fpga(fpga, false);
    m_drv->SPI_Transfer(m_fd[fpga], &tx, &rx, 1);
    deselect(fpga);
    *value = rx;
}

void fpga_manage::write_fpga_register(u8 reg, u8 value, u8 fpga, u8 mask) {
    if (fpga > 1) return;
    u8 header[4];
    fpga_reg_cmd_to_spi_data(kRegClass, 0, reg, 0, mask, header);
    QMutexLocker lock(&Utils::_spi_mutex);
    select_fpga(fpga, true);
    m_drv->SPI_Transfer_Write(m_fd[fpga], header, 4);
    select_fpga(fpga, false);
    m_drv->SPI_Transfer_Write(m_fd[fpga], &value, 1);
    deselect(fpga);
}

void fpga_manage::read_fpga_ram(u8* dst, u16 address, u16 length, u8 page, u8 fpga) {
    if (fpga > 1 || !dst || length == 0) return;
    u8 header[4];
    fpga_cmd_to_spi_data(kRamClass, page, address, 1, header);
    std::vector<u8> tx(length, 0xFF);
    QMutexLocker lock(&Utils::_spi_mutex);
    select_fpga(fpga, true);
    m_drv->SPI_Transfer_Write(m_fd[fpga], header, 4);
    select_fpga(fpga, false);
    m_drv->SPI_Transfer(m_fd[fpga], tx.data(), dst, length);
    deselect(fpga);
}

void fpga_manage::write_fpga_ram(const u8* src, u16 address, u16 length, u8 page, u8 fpga) {
    if (fpga > 1 || !src || length == 0) return;
    u8 header[4];
    fpga_cmd_to_spi_data(kRamClass, page, address, 0, header);
    QMutexLocker lock(&Utils::_spi_mutex);
    select_fpga(fpga, true);
    m_drv->SPI_Transfer_Write(m_fd[fpga], header, 4);
    select_fpga(fpga, false);
    m_drv->SPI_Transfer_Write(m_fd[fpga], src, length);
    deselect(fpga);
}

// ---------------------------------------------------------------- register image

void fpga_manage::read_from_register(u8 reg, u8 fpga) {
    if (fpga > 1 || !mirrored(reg)) return;
    QMutexLocker regLock(&m_reg_lock);
    u8 value = 0;
    read_fpga_register(reg, &value, fpga);
    QMutexLocker lock(&shadow_mutex);
    m_reg[fpga][reg] = value;
}

int fpga_manage::write_to_register(u8 reg, u8 mask, u8 value, u8 fpga, bool keepWord) {
    if (fpga > 1 || reg >= kImageSize) return 0;
    if (imageOnly(reg)) {
        QMutexLocker lock(&shadow_mutex);
        m_reg[fpga][reg] = u8((m_reg[fpga][reg] & ~mask) | (value & mask));
        return 0;
    }
    if (!mirrored(reg)) return 0;

    // The command block runs before register 2 reaches the wire, and
    // outside the register lock, which its own register writes take. The
    // request is in the value written: bit 2 is never sent, so the FPGA
    // never holds it.
    const int block = reg == CONTROL && (value & mask & CONTROL_CMD_BLOCK) ? Dealwith_mcu_ram() : 0;
    bool blackoutWord = false;
    u8 screen = 1;
    {
        // One lock from the read to the wire write, so two writers of
        // different bits of one register never undo each other.
        QMutexLocker regLock(&m_reg_lock);
        u8 current = 0;
        read_fpga_register(reg, &current, fpga);
        u8 merged;
        {
            QMutexLocker lock(&shadow_mutex);
            merged = u8((current & ~mask) | (value & mask));
            m_reg[fpga][reg] = merged;
        }
        u8 send = merged;
        if (reg == CONTROL) {
            send &= u8(~(CONTROL_CMD_BLOCK | CONTROL_NEVER_SENT));
        } else if (reg == SCREEN) {
            screen = (merged & SCREEN_BLACK) ? 0 : 1;
            ScreenState.store(screen);
            fpga_handover::note_screen(fpga, screen == 0);
            // Whoever writes the blackout bit without carrying the word's
            // own state (a PC, the schedule) changes the operator's
            // blackout: the word follows, during an LED set-up too, whose
            // end then shows the wall as this last change asked.
            blackoutWord = !keepWord && (mask & SCREEN_BLACK);
            QMutexLocker lock(&shadow_mutex);
            MCU_RAM_EXTEND[29] = screen;
        }
        write_fpga_register(reg, send, fpga, mask);
    }
    if (blackoutWord) set_blackout_word(screen == 0);
    return block;
}

void fpga_manage::set_blackout_word(bool black) {
    ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config;
    if (!p) return;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        p->live_image.setByte(RamOffset::BLACKOUT, black ? 1 : 0);
        p->live_image.setByte(RamOffset::BLACKOUT + 1, 0);
    }
    p->test_signal(1);
    // The other FPGA follows the word: a PC writes the FPGAs one by one,
    // and the wall shows one state.
    fpga_handover::raise_output_status();
}

void fpga_manage::FPGA_to_RAM(u8 fpga) {
    for (u8 r = VERSION0; r <= VERSION3; ++r) read_from_register(r, fpga);
    QMutexLocker lock(&shadow_mutex);
    std::memcpy(MCU_RAM_CMD + 12, m_reg[fpga] + VERSION0, 4);
}

void fpga_manage::hand_back_to_c331() {
    c331_manage* c331 = c331_manage::get();
    QMutexLocker lock(&c331->mutex);
    c331->raise_apply(1);
    g_force_bkcolor.store(0);
}
