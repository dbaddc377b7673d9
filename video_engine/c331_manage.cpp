#include "video_engine/c331_manage.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_chip_print.h"

#include "core/line_limiter.h"
#include "core/console.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_handover.h"
#include "platform/board.h"
#include "platform/tick_cpu.h"
#include "video_io/source_handover.h"

#include <QMutexLocker>

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

c331_manage* c331_manage::p_c331_manage = nullptr;

// The parsed OSD menu file, applied at the end of a pass that asked for it.
OSD_MENU_LIST g_osd_list;

namespace {

u16 word(const u8* image, int off) { return u16(image[off] | (image[off + 1] << 8)); }

// Identification retries back off from 10 ms to one second.
constexpr u32 kIdBackoffMinMs = 10;
constexpr u32 kIdBackoffMaxMs = 1000;

// Words the chip start-up programs from the image (offset, length in bytes):
// the panel, the picture words and everything the window layout is built
// from. The rest (brightness, blackout, pattern, OSD, custom EDIDs, audio)
// is left to the first pass.
struct Range {
    int off, len;
};
const Range kStartupWords[] = {
    {c331img::SPLICE_MODE, 6},                            // splice mode, LED wall width and height
    {c331img::OUT1_WIDTH, 4},                             // output 1 width and height
    {c331img::CONTRAST, 6},                               // contrast, sharpness, saturation
    {c331img::COLOR_PRESET, 8},                           // colour preset, red, green, blue
    {c331img::WIN_PRIORITY, 2 * C331_WIN_NUM},            // window priorities
    {c331img::WIN_RECORDS, c331img::WIN_RECORD_SIZE * C331_WIN_NUM},
    {c331img::CROP_TABLE, 10 * int(RamOffset::CROP_COUNT)},
    {c331img::FADES, 4 * C331_WIN_NUM},
};

const int kPresetCounts[C331_MWIN_PRESETS] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};

}  // namespace

c331_manage::c331_manage() {
    writeLogMsg(INFO, "====c331_manage::c331_manage()=====");
    drv = new c331_drv();
    m_ownOps = std::make_unique<c331_chip>(*this);
    ops = m_ownOps.get();
    std::memset(m_applied, 0, sizeof m_applied);
}

c331_manage* c331_manage::get() {
    static std::once_flag once;
    std::call_once(once, [] { p_c331_manage = new c331_manage(); });
    return p_c331_manage;
}

c331_manage* c331_manage::pInstance() {
    c331_manage* m = get();
    static std::once_flag started;
    std::call_once(started, [m] {
        m->reset_layout_descriptors();
        m->apply_flag.store(0);
        m->pattern_gen = 0;
        // What the rest of the device starts from: words the chip start-up
        // does not program compare against this, so a change written while
        // the chip is identified is applied by the first pass.
        if (ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config) {
            QMutexLocker lock(&m->mutex);
            // The receivers already write their signal summaries, under the
            // model's own mutex.
            zp->copy_live(m->m_applied, 0, sizeof m->m_applied);
            m->m_appliedBriChange = zp->bri_word_change;
        }
        m->initialize();
    });
    return m;
}

void c331_manage::reset_layout_descriptors() {
    for (int i = 0; i < C331_MWIN_PRESETS; ++i) {
        mwin_preset[i].wincnt = kPresetCounts[i];
        mwin_preset[i].win = mwin_room[i];
    }
}

void c331_manage::Sleep(int ms) {
    if (ms > 0) without_mutex([ms] { Utils::sleep_ms(u32(ms)); });
}

void c331_manage::take_mutex() {
    mutex.lock();
    m_passHolds = true;
}

void c331_manage::give_mutex() {
    m_passHolds = false;
    mutex.unlock();
}

void c331_manage::wake() {
    {
        std::lock_guard<std::mutex> lock(m_wakeMutex);
        m_woken = true;
    }
    m_wakeCv.notify_all();
}

void c331_manage::stop() {
    m_stop.store(true);
    wake();
    if (m_thread.joinable() && m_thread.get_id() == std::this_thread::get_id()) return;
    if (m_thread.joinable()) m_thread.join();
    // The thread leaves at its next wait: a change raised while it
    // identified or initialised the chip, or after its last pass, was never
    // taken up. Its brightness still goes to the FPGA manager, which sends
    // it and stores its record when it finishes after this.
    if (apply_flag.load() != 0) hand_over_brightness();
}

void c331_manage::hand_over_brightness() {
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    if (!zp) return;
    const int at = c331img::BRIGHTNESS;
    {
        QMutexLocker lock(&mutex);
        const u16 now = zp->live_image.word(u32(at));
        if (now == word(m_applied, at) && zp->bri_word_change == m_appliedBriChange) return;
        m_applied[at] = u8(now);
        m_applied[at + 1] = u8(now >> 8);
        m_appliedBriChange = zp->bri_word_change;
    }
    fpga_handover::raise_brightness();
}

void c331_manage::wait_for_work(u32 ms) {
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    Board::get().clock().waitPaced(m_wakeCv, lock, ms,
                                 [this] { return m_woken || m_stop.load() || apply_flag.load() != 0 || m_debugPending.load(); });
    m_woken = false;
}

int c331_manage::initialize() {
    debugPrintf("\n======c331_manage::initialize()===== ");
    c331_fd = drv->initialize();
    debugPrintf("\n c331_fd = %02x \n", c331_fd);
    const u32 id = drv->read_C331(c331_fd, c331reg::CHIP_ID);
    debugPrintf("\n c331_id = %02x \n", id);
    if (m_started) return 0;
    try {
        m_thread = std::thread(&c331_manage::c331manageThread, this);
        pthread_setname_np(m_thread.native_handle(), "c331");
        m_started = true;
    } catch (const std::system_error&) {
        debugPrintf("create manage thread failed");
        writeLogMsg(ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void* c331_manage::c331manageThread(void* arg) {
    if (!arg) return nullptr;
    auto* m = static_cast<c331_manage*>(arg);
    tick_cpu::join();
    while (!m->stopping()) {
        m->thread_step();
        // Running: sleep until a change or the next input poll. Identifying
        // backs off in its own step; initialising goes straight on.
        if (m->thread_state.load() == 6 && m->apply_flag.load() == 0 && !m->m_debugPending.load())
            m->wait_for_work(kPollPeriodMs);
    }
    return nullptr;
}

void c331_manage::signal_without_chip() {
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    if (!zp || apply_flag.load() == 0) return;
    int code;
    {
        QMutexLocker lock(&mutex);
        code = apply_flag.exchange(0);
    }
    if (!code) return;
    // Nothing to program yet; once the chip comes up it is initialised
    // from the live image, which holds this change. The brightness is the
    // FPGAs', not the chip's: it goes to them and their record now, or a
    // stop before the chip runs would leave the record with the old one.
    hand_over_brightness();
    zp->test_signal(code);
}

void c331_manage::thread_step() {
    const u8 state = thread_state.load();
    if (state <= 4) {
        // A chip that is absent or not yet identified must not keep the
        // panel's and the PC's changes from reaching the files.
        signal_without_chip();
        identify_step();
    } else if (state == 5) {
        init_chip();
    } else {
        c331managerdeal(this);
    }
}

void c331_manage::identify_step() {
    const u32 id = drv->read_C331(c331_fd, c331reg::CHIP_ID);
    if (id == c331reg::kChipId) {
        debugPrintf("\n ok c331_id = 0x24x ");
        thread_state.fetch_add(1);
        m_idFailures = 0;
        return;
    }
    debugPrintf("\n error c331_id = %02x \n", id);
    ++m_idFailures;
    if (m_idFailures == 1 || m_idFailures % 100 == 0) {
        char text[96];
        std::snprintf(text, sizeof text, "c331: chip id reads %02X instead of 24 (%u times)", id, m_idFailures);
        writeLogMsg(ERROR, text);
    }
    // Back off: a chip that is absent or held in reset is not worth a busy bus.
    u32 delay = kIdBackoffMinMs;
    for (u32 i = 1; i < m_idFailures && delay < kIdBackoffMaxMs; ++i) delay *= 2;
    wait_for_work(std::min(delay, kIdBackoffMaxMs));
}

void c331_manage::load_system_param() {
    C331_SYS_PARAM& p = sys;
    p = C331_SYS_PARAM{};
    p.PS_XTAL_CLK = 32000000;
    p.PS_MEM_CLK = 800000000;
    p.PS_IN_CLK = 27000000;
    p.PS_OUT_CLK = 27000000;
    p.PS_ACTHW = 1920;
    p.PS_ACTVW = 2160;
    p.PS_HTOTAL = 2200;
    p.PS_VTOTAL = 2250;
    p.PS_HSYNC = 88;
    p.PS_HBP = 88;
    p.PS_VSYNC = 10;
    p.PS_VBP = 72;
    p.PS_VBOTX_MODE = 0;
    p.PS_VBOTX_LAYOUT = 0;
    const u32 pll[9] = {0, 137, 0, 1, 22, 137, 0, 2, 24};
    std::copy(pll, pll + 9, p.PS_PLL);
    for (u32 r = 0; r < 8; ++r)
        for (u32 c = 0; c < 5; ++c) p.PS_MEM_SC[r][c] = r * 0x2000 + c * 0x08800000;
    p.PS_MEM_DBD_LINE = 64;
    const u32 dbd[5] = {0x2A800000, 0x35A80000, 0x40D00000, 0x4BF80000, 0x57200000};
    std::copy(dbd, dbd + 5, p.PS_MEM_DBD);
    p.PS_MEM_DBD_BLOCK = 0x01DC0000;
    p.PS_MEM_RSV0 = 14;
    const u32 ipP[8] = {0x65000000, 0x65339000, 0x66EB8800, 0x671F1800,
                        0x68D71000, 0x690AA000, 0x6AC29800, 0x6AF62800};
    const u32 ipI[8] = {0x65717000, 0x65000000, 0x675CF800, 0x66EB8800,
                        0x69488000, 0x68D71000, 0x6B340800, 0x6AC29800};
    for (int k = 0; k < 4; ++k) {
        p.PS_MEM_IP_P[k][0] = ipP[2 * k];
        p.PS_MEM_IP_P[k][1] = ipP[2 * k + 1];
        p.PS_MEM_IP_I[k][0] = ipI[2 * k];
        p.PS_MEM_IP_I[k][1] = ipI[2 * k + 1];
        p.PS_MEM_IPYOFF[k] = 207;
        p.PS_MWI_IP[k] = 35;
    }
    const u32 nr[4] = {0x65CEA000, 0x67BA2800, 0x69A5B000, 0x6B913800};
    std::copy(nr, nr + 4, p.PS_MEM_NR);
    for (int w = 0; w < C331_WIN_NUM; ++w) p.PS_MEM_WMODE[w] = 1;
    p.PS_MEM_OSD_BMP = 0x70000000;
    p.PS_MEM_OSD_BUF = 0x725C0000;
    p.PS_MEM_OSD_SCROLL = 0x74B80000;
    p.PS_MEM_FONT = 0x7F000000;
}

void c331_manage::define_param() {
    PS_ACTHST = sys.PS_HSYNC + sys.PS_HBP;
    PS_ACTHEND = PS_ACTHST + sys.PS_ACTHW;
    PS_ACTVST = sys.PS_VSYNC + sys.PS_VBP;
    PS_ACTVEND = PS_ACTVST + sys.PS_ACTVW;
    PS_OAOIHST = PS_ACTHST;
    PS_OAOIHEND = PS_ACTHEND;
    PS_OAOIVST = PS_ACTVST;
    PS_OAOIVEND = PS_ACTVEND;
    PS_MEM_CLK_Q = sys.PS_MEM_CLK / 4;

    const u32 w = sys.PS_ACTHW, h = sys.PS_ACTVW;
    const bool t1 = sys.PS_VBOTX_LAYOUT == 1;
    switch (sys.PS_VBOTX_MODE) {
    case 0:
        PS_CANVAS_W = t1 ? 2 * w : 4 * w;
        PS_CANVAS_H = t1 ? 2 * h : h;
        PS_OCH_H = t1 ? 2 : 4;
        PS_OCH_V = t1 ? 2 : 1;
        break;
    case 2:
        PS_CANVAS_W = t1 ? w : 2 * w;
        PS_CANVAS_H = t1 ? 2 * h : h;
        PS_OCH_H = t1 ? 1 : 2;
        PS_OCH_V = t1 ? 2 : 1;
        break;
    default:
        PS_CANVAS_W = t1 ? 4 * w : 8 * w;
        PS_CANVAS_H = t1 ? 2 * h : h;
        PS_OCH_H = t1 ? 4 : 8;
        PS_OCH_V = t1 ? 2 : 1;
        break;
    }

    for (int i = 0; i < C331_WIN_NUM; ++i) {
        win_port[i] = -1;
        win_order[i] = i;
        for (int k = 0; k < C331_CH_NUM; ++k) {
            win_ich[i][k] = -1;
            win_slice[i][k] = -1;
        }
    }
    for (int k = 0; k < C331_CH_NUM; ++k) {
        ich_owner[k] = -1;
        g_och_layer_cnt[k] = 0;
        for (int j = 0; j < C331_CH_NUM; ++j) g_och_layer[k][j] = -1;
    }
    for (int p = 0; p < C331_PORT_NUM; ++p) {
        PM_HNR[p] = PM_VNR[p] = PM_TNR[p] = PM_BNR[p] = PM_MNR[p] = PM_COMB[p] = 0;
        PM_22PD[p] = PM_23PD[p] = PM_24SF[p] = 0;
        PM_IPEN[p] = 1;
        PM_DIAG[p] = 2;
        PM_MVFLT[p] = 3;
        PM_22PDSQTH[p] = 1;
        PM_23PDSQTH[p] = 1;
    }
    PM_OSD_SCROLL_SPEED = 32;
    PM_OSD_CHAR_64DOT = 1;
}

void c331_manage::init_chip() {
    PassHold hold(*this);
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    // The image start-up programs from. The waits below let writers in: what
    // they change after this copy differs from the record and is applied by
    // the first pass.
    u8 seen[c331img::kImageSize] = {};
    if (zp) zp->copy_live(seen, 0, sizeof seen);
    const u8* live = seen;
    const int fd = c331_fd;

    load_system_param();
    define_param();
    drv->init_reg_acc_param();

    write_initial_setting(fd, 1);
    set_rtct(fd, 1);
    load_param();

    if (word(live, c331img::OSD_ON) == 1) g_osd_update.store(1);

    ops->check_input_port(fd);
    ops->load_char();
    // The font copies take a while: writers get the manager's mutex
    // meanwhile. A flash held by another user leaves them to the poll step.
    without_mutex([&] {
        if (!load_fonts(fd)) m_fontReload.store(true);
    });

    if (g_force_bkcolor.load() == 1) {
        for (u32 l = 0; l < C331_CH_NUM; ++l) {
            drv->write_C331(fd, c331reg::LAYER_BKG_COLOR, 0xFF00, l * c331reg::kBankBaseStep);
            drv->write_C331(fd, c331reg::LAYER_BKG_FILL, 1, l * c331reg::kBankBaseStep);
        }
    }

    ops->zrvApi_PnlInit2(word(live, c331img::LED_WIDTH), word(live, c331img::LED_HEIGHT),
                         word(live, c331img::OUT1_WIDTH), word(live, c331img::OUT1_HEIGHT),
                         word(live, c331img::SPLICE_MODE));

    ops->c331_SetBrightness(50);
    ops->c331_SetContrast(word(live, c331img::CONTRAST));
    ops->c331_SetSharpness(word(live, c331img::SHARPNESS));
    const int colour = int(u32(live[c331img::RED]) << 24 | u32(live[c331img::GREEN]) << 16 |
                           u32(live[c331img::BLUE]) << 8 | live[c331img::COLOR_PRESET]);
    ops->c331_SetColorTemp(colour);
    ops->c331_SetSaturation(word(live, c331img::SATURATION));

    c331_debugEnv();
    ops->set_output(fd);

    // Only what start-up programmed counts as applied.
    for (const Range& r : kStartupWords) std::memcpy(m_applied + r.off, seen + r.off, size_t(r.len));

    thread_state.store(6);
    g_fpga_c331_start.store(1);
    writeLogMsg(INFO, "c331: chip initialised, c331 thread running");
}

bool c331_manage::load_fonts(int fd) {
    std::unique_lock<std::mutex> lock = flash_lock(false);
    if (!lock.owns_lock()) return false;
    if (ops->read_c331_font(fd) == 0) ops->update_font(fd);
    return true;
}

void c331_manage::c331managerdeal(void*) {
    // A PC may change parameters as fast as it is answered, and a pass
    // prints what it programs, its poll step what the change moved: the
    // first pass of each second prints, those within that second are
    // only counted.
    static LineLimiter passes([](u64 n) {
        debugPrintf("\n c331: %llu more parameter passes in the last second, their lines not printed \n",
                    static_cast<unsigned long long>(n));
    });
    const bool applying = apply_flag.load() != 0;
    bool loud = !applying;
    if (applying) passes.occur([&] { loud = true; });
    const DebugQuiet quiet(!loud);
    if (applying)
        apply_pass();
    else if (m_debugPending.load())
        debug_pass();
    if (thread_state.load() == 6) poll_step();
}

void c331_manage::wait_led_handover() {
    if (g_set_led_para.load() != 1) return;
    // The FPGA thread and the front panel need this mutex while the LED
    // settings are applied: let go of it while waiting, and not for ever.
    const bool timedOut =
        without_mutex([] { return !fpga_handover::wait_led_para_end(Board::get().clock(), kLedWaitMs); });
    if (timedOut) writeLogMsg(WARNING, "c331: LED settings still being applied after 3 s; setting up the panel anyway");
}

namespace {
const int kPanelWords[] = {c331img::SPLICE_MODE, c331img::LED_WIDTH, c331img::LED_HEIGHT, c331img::OUT1_WIDTH,
                           c331img::OUT1_HEIGHT};

bool panelDiffers(const u8* live, const u8* applied) {
    for (int off : kPanelWords)
        if (word(live, off) != word(applied, off)) return true;
    return false;
}
}  // namespace

bool c331_manage::panel_owed_locked() const {
    const ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    return zp && panelDiffers(zp->live_image.data, m_applied);
}

void c331_manage::apply_panel(const u8* live) {
    if (!panelDiffers(live, m_applied)) return;
    wait_led_handover();
    ops->zrvApi_PnlInit2(word(live, c331img::LED_WIDTH), word(live, c331img::LED_HEIGHT),
                         word(live, c331img::OUT1_WIDTH), word(live, c331img::OUT1_HEIGHT),
                         word(live, c331img::SPLICE_MODE));
    {
        QMutexLocker lock(&Utils::_led_para_init_mutex);
        fpga_handover::end_led_para(2);
    }
    fpga_handover::wake_fpga_thread();  // it resets both FPGAs for the new panel
    if (word(live, c331img::OSD_ON) != 0) g_osd_update.store(1);
}

void c331_manage::apply_windows(const u8* live) {
    const int fd = c331_fd;
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const int base = c331img::WIN_RECORDS + w * c331img::WIN_RECORD_SIZE;
        for (int r = 0; r < c331img::WIN_RECORD_SIZE; r += 2) {
            const int off = base + r;
            const u16 oldv = word(m_applied, off), newv = word(live, off);
            if (oldv == newv) continue;
            debugPrintf("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", w, off - 2176, oldv, newv);
            switch (r) {
            case 0:
            case 10:
            case 12:
            case 14:
            case 16:
                // A geometry change rebuilds the whole layout from the image,
                // which covers every other window word as well.
                ops->zrvApi_initEnvC331();
                ops->zrvApi_MultiWinChAlloc(1);
                ops->zrvApi_MultiWinChInit();
                ops->set_output(fd);
                return;
            case 4: ops->c331_SetWinAttr(char(w), newv); break;
            case 8: ops->c331_SetWinSource(w, newv, oldv); break;
            case 18: ops->c331_SetWinOutput(fd, char(w), newv); break;
            case 22: ops->c331_SetWinDbdMode(fd, char(w), newv); break;
            default: break;
            }
        }
    }
}

void c331_manage::apply_pattern(const u8* seen) {
    const u8 pattern = seen[c331img::TEST_PATTERN];
    if (pattern == m_applied[c331img::TEST_PATTERN]) return;
    if (ops->c331_SetPattern(pattern) < 0 && pattern != 0) {
        // Refused (several windows): not applied, so the next pass that finds
        // one window again shows it.
        if (pattern != m_refusedPattern) {
            char text[96];
            std::snprintf(text, sizeof text, "c331: test pattern %d waits until one window is shown", pattern);
            writeLogMsg(WARNING, text);
        }
        m_refusedPattern = pattern;
        return;
    }
    m_refusedPattern = 0;
    m_applied[c331img::TEST_PATTERN] = pattern;
}

void c331_manage::apply_pass() {
    PassHold hold(*this);
    if (apply_flag.load() == 0) return;
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    if (!zp) {
        writeLogMsg(ERROR, "c331: no parameter model; change not applied");
        apply_flag.store(0);
        return;
    }
    // The pass works on the image as it is now and takes the flag that asked
    // for it: a writer who edits the image while the pass waits for the chip
    // raises the flag again, and the next pass finds the difference.
    u8 seen[c331img::kImageSize];
    // The receiver drivers write the signal summaries under the model's
    // mutex, not under ours.
    zp->copy_live(seen, 0, sizeof seen);
    const u32 briChange = zp->bri_word_change;
    const int code = apply_flag.exchange(0);
    const u8* live = seen;
    const int fd = c331_fd;
    auto differs = [&](int off) { return word(live, off) != word(m_applied, off); };

    // 1. The FPGAs are up: release the forced background colour.
    if (g_force_bkcolor.load() == 0) ops->zrvApi_forceColorDisable(fd);

    // 2. Panel (may let go of the mutex while the FPGA thread finishes).
    // The FPGA thread may have asked for the picture meanwhile; its apply
    // flag is consumed by this pass, so the release is served here too.
    apply_panel(live);
    if (g_force_bkcolor.load() == 0) ops->zrvApi_forceColorDisable(fd);

    // 3. Picture. The chip's brightness stays at 50: the FPGAs set the LEDs'.
    if (differs(c331img::BRIGHTNESS) || briChange != m_appliedBriChange) {
        ops->c331_SetBrightness(50);
        fpga_handover::raise_brightness();
    }
    if (differs(c331img::CONTRAST)) ops->c331_SetContrast(word(live, c331img::CONTRAST));
    if (differs(c331img::SHARPNESS)) ops->c331_SetSharpness(word(live, c331img::SHARPNESS));
    if (differs(c331img::SATURATION)) ops->c331_SetSaturation(word(live, c331img::SATURATION));
    if (differs(c331img::COLOR_PRESET) || differs(c331img::RED) || differs(c331img::GREEN) || differs(c331img::BLUE)) {
        ops->c331_SetColorTemp(int(u32(live[c331img::RED]) << 24 | u32(live[c331img::GREEN]) << 16 |
                                   u32(live[c331img::BLUE]) << 8 | live[c331img::COLOR_PRESET]));
    }

    // 4. Window priorities.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const int off = c331img::WIN_PRIORITY + 2 * w;
        if (!differs(off)) continue;
        ops->c331_SetWinPriority(w, word(live, off));
        ops->c331_SetWinPriority1(fd);
        debugPrintf("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", w + 1, word(m_applied, off),
                    word(live, off));
    }

    // 5. Window records, then crop rectangles edited under windows that
    // already show them.
    apply_windows(live);
    ops->zrvApi_applyCropEdits();

    // 6. Fade step counts, used by the next set_output. The image word is 16
    // bits; a fade runs one output frame per step.
    for (int w = 0; w < C331_WIN_NUM; ++w) {
        const int in = c331img::FADES + 4 * w, out = in + 2;
        if (differs(in)) {
            debugPrintf("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", w, 4 * w, c331img::FADES,
                        word(m_applied, in), word(live, in));
            PM_WIN_FADE_IN[w] = std::min<s32>(word(live, in), kMaxFadeSteps);
        }
        if (differs(out)) {
            debugPrintf("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", w, 4 * w + 2, c331img::FADES,
                        word(m_applied, out), word(live, out));
            PM_WIN_FADE_OUT[w] = std::min<s32>(word(live, out), kMaxFadeSteps);
        }
    }

    // 7. Test pattern.
    apply_pattern(live);

    // 8. Custom EDIDs: every input whose record changed.
    for (int i = 0; i < source_handover::kInputs; ++i) {
        const int off = c331img::CUSTOM_EDID + 6 * i;
        if (std::memcmp(live + off, m_applied + off, 6) != 0) source_handover::request_custom_edid(i);
    }

    // Audio routing: the audio window index, any window's audio word, the
    // audio window's source or the input of the crop it shows.
    {
        bool audio = differs(c331img::AUDIO_WIN);
        for (int w = 0; w < C331_WIN_NUM && !audio; ++w)
            audio = differs(c331img::WIN_RECORDS + w * c331img::WIN_RECORD_SIZE + 20);
        const int aw = word(live, c331img::AUDIO_WIN);
        if (!audio && aw < C331_WIN_NUM) {
            const int src = c331img::WIN_RECORDS + aw * c331img::WIN_RECORD_SIZE + 8;
            audio = differs(src);
            const u16 s = word(live, src);
            if (!audio && (s & 0x8000) && (s & 0xFF) < 40) audio = differs(c331img::CROP_TABLE + 10 * (s & 0xFF));
        }
        if (audio) source_handover::raise_audio_changed();
    }

    // 9. Blackout: handed on when the word changed, and whenever the FPGAs
    // show otherwise than it says. Roads other than this pass change the
    // word or the FPGAs (a PC's register write, the on/off schedule): a
    // later change is then carried out even when it brings the word back
    // to the value this pass last saw.
    if (differs(c331img::BLACKOUT) || !fpga_handover::screen_is(word(live, c331img::BLACKOUT) != 0))
        fpga_handover::raise_output_status();
    // 10. Output-channel layout (also written by the panel set-up).
    if (differs(c331img::OCH_XOFFS) || differs(c331img::OCH_YOFFS)) fpga_handover::raise_output_layout();

    // 11. OSD.
    if (differs(c331img::OSD_ON)) {
        const u16 v = word(live, c331img::OSD_ON);
        ops->zrvApi_OsdSet(0, v);
        if (v) g_osd_update.store(1);
    }

    // 12. Record what was applied (a refused pattern stays pending), then
    // signal it.
    const u8 pattern = m_applied[c331img::TEST_PATTERN];
    std::memcpy(m_applied, live, sizeof m_applied);
    m_applied[c331img::TEST_PATTERN] = pattern;
    m_appliedBriChange = briChange;
    zp->test_signal(code);

    // 13. OSD menu file.
    u8 one = 1;
    if (g_osd_update.compare_exchange_strong(one, 0)) {
        ops->get_json_omenu_para("/data/configs/omenu.json", g_osd_list);
        ops->set_OSD_para(g_osd_list);
    }

    // 14. Debug requests.
    serve_debug_requests();
}

void c331_manage::debug_pass() {
    PassHold hold(*this);
    serve_debug_requests();
}

namespace {
// A PC may write the request registers as fast as it is answered, and a
// dump runs to a hundred lines and more: the first request of each second
// on each register is served, those that follow within its second are only
// counted, and the count is printed once the second is over.
bool debugRequestServed(int reg) {
    auto counted = [](int r) {
        return [r](u64 n) {
            c331print::always("\n c331: %llu more debug requests of register %d in the last second, not served\n",
                              static_cast<unsigned long long>(n), r);
        };
    };
    static LineLimiter limiters[] = {LineLimiter(counted(c331img::REG_TEST)), LineLimiter(counted(c331img::REG_DEBUG)),
                                     LineLimiter(counted(c331img::REG_PARAM_DUMP)),
                                     LineLimiter(counted(c331img::REG_GROUP_DUMP))};
    bool served = false;
    limiters[reg - c331img::REG_TEST].occur([&] { served = true; });
    return served;
}
}  // namespace

void c331_manage::serve_debug_requests() {
    // A request served prints, in a quiet parameter pass too: it has a
    // limiter of its own.
    const DebugQuiet loud(false);
    // Cleared before the bytes are taken: a request written from here on
    // wakes another pass.
    m_debugPending.store(false);
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    if (!zp) return;
    u8* reg = zp->reg_block.REG;
    const int fd = c331_fd;
    // The protocol threads write these bytes: take each with an exchange so a
    // request written meanwhile is not wiped.
    const u8 r34 = __atomic_exchange_n(&reg[c331img::REG_DEBUG], u8(0), __ATOMIC_SEQ_CST);
    if (r34 && debugRequestServed(c331img::REG_DEBUG)) {
        int bit = 0;
        while (!(r34 & (1u << bit))) ++bit;
        switch (bit) {
        case 0: ops->input_slidebar(fd); break;
        case 1: ops->output_slidebar(fd); break;
        case 2: ops->disable_slidebar(fd); break;
        case 3: ops->vbyone_rx_ch1_seq(fd); break;
        case 4: ops->vbyone_rx_ch2_seq(fd); break;
        case 5: ops->read_c331_b174bug(fd); break;
        case 6:
            writeLogMsg(INFO, "c331: restart requested; identifying the chip again");
            thread_state.store(0);
            break;
        default: ops->write_read_c331_b80_iacthstch5(fd); break;
        }
    }
    const u8 r35 = __atomic_exchange_n(&reg[c331img::REG_PARAM_DUMP], u8(0), __ATOMIC_SEQ_CST);
    if (r35 && debugRequestServed(c331img::REG_PARAM_DUMP)) ops->zrvDbg_c331_param(r35 - 1);
    const u8 r36 = __atomic_exchange_n(&reg[c331img::REG_GROUP_DUMP], u8(0), __ATOMIC_SEQ_CST);
    if ((r36 & 1) && debugRequestServed(c331img::REG_GROUP_DUMP)) ops->zrvDbg_c331_print_regGrp(0);
    const u8 r33 = __atomic_exchange_n(&reg[c331img::REG_TEST], u8(0), __ATOMIC_SEQ_CST);
    if ((r33 & 3) && debugRequestServed(c331img::REG_TEST)) {
        if (r33 & 1)
            ops->sync_c331_device_test_input(fd);
        else
            ops->sync_c331_device_test_frame_lock(fd);
    }
}

const PARA_RAM_IMAGE& c331_manage::chip_image() const {
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    return m_passHolds && zp ? zp->live_image : m_pollImage;
}

void c331_manage::take_poll_image() {
    ZrvRamPara* zp = ZrvRamPara::p_zrvrampara_config;
    if (!zp) return;
    QMutexLocker lock(&mutex);
    zp->copy_live(m_pollImage.data, 0, sizeof m_pollImage.data);
}

void c331_manage::poll_step() {
    if (pattern_gen) return;
    // The step reads the windows and crops without the manager's mutex: from
    // a copy taken whole under it. A change made meanwhile raised the apply
    // flag, and the next pass applies it.
    take_poll_image();
    const int fd = c331_fd;
    ops->load_hdmi();
    ops->check_port_valid(fd);
    // New fonts first, then the redraws; each meeting a busy flash stays
    // pending for the next pass.
    if (m_fontReload.load() && load_fonts(fd)) {
        m_fontReload.store(false);
        if (PM_OSD_EN) osd_update_req = 1;
    }
    if (osd_update_req) {
        if (ops->update_osd(fd) == 0) osd_update_req = 0;
    } else if (osd_redraw_req) {
        ops->set_osd(fd, 1);
        ops->set_scroll(fd);
        osd_redraw_req = 0;
    }
    ops->check_input_port(fd);
    for (int p = 0; p < C331_PORT_NUM; ++p) {
        for (int w = 0; w < C331_WIN_NUM; ++w) {
            if (PM_INPUT[w] != p || (!PI_UPDATE[p] && !PI_UPDATE2[p])) continue;
            Console::print("\n [c331_main]PI_UPDATE[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", p,
                        PI_UPDATE[p], PI_ACT[p][0], PI_ACT[p][1], PI_ACT[p][2], PI_ACT[p][3]);
            g_chg_input[w] = 3;
            ops->set_output(fd);
        }
        PI_UPDATE[p] = 0;
        PI_UPDATE2[p] = 0;
    }
}
