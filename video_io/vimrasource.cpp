#include "video_io/vimrasource.h"

#include "core/console.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/board.h"
#include "platform/tick_cpu.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_manage.h"
#include "video_io/it66121_sys.h"
#include "video_io/ite6805_sys.h"
#include "video_io/source_handover.h"
#include "video_io/vimra_it6602.h"

#include <QMutexLocker>

#include <pthread.h>

#include <cstring>

using namespace source_bus;

vimrasource* vimrasource::p_vimra_source = nullptr;

const u8 vimrasource::kClockTable[63] = {
    0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
    0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
    0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};

namespace {
ZrvRamPara* model() { return ZrvRamPara::p_zrvrampara_config; }
u8* regByte(int reg) {
    ZrvRamPara* p = model();
    if (!p || reg < 0 || reg >= int(sizeof p->reg_block.REG)) return nullptr;
    return &p->reg_block.REG[reg];
}
}  // namespace

// ---------------------------------------------------------------------------
// Construction and the thread

void vimraSourceInitEdids(vimrasource& s);  // built-in EDIDs (vimrasource_edid.cpp)

vimrasource::vimrasource()
    : p_ite6805(std::make_unique<ite6805_sys>(*this)),
      p_it6602(std::make_unique<vimra_it6602>(*this)),
      p_it66121(std::make_unique<it66121_sys>(*this)) {
    writeLogMsg(INFO, "====vimrasource::vimrasource()=====");
    vimraSourceInitEdids(*this);
    for (auto& f : reinit) f = 1;
    // Requests counted before this manager existed are not its to write.
    for (int i = 0; i < kInputs; ++i) edid_written[i] = edid_restarted[i] = source_handover::custom_edid_requests(i);
    source_handover::raise_audio_changed();
}

vimrasource::~vimrasource() {
    stop();
    if (fd >= 0) Drv_I2C0::release(fd);
}

void vimrasource::stop() {
    {
        std::lock_guard<std::mutex> lock(m_napMutex);
        m_stop.store(true);
    }
    m_napCv.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

namespace {
c331_state::PortHdmiInfo toPortInfo(const PI_HDMI_INFO& h) {
    return c331_state::PortHdmiInfo{h.Hact,  h.Hsync, h.Hback, h.Hpol,     h.Htotal, h.Vact,
                                    h.Vsync, h.Vback, h.Vpol,  h.Vtotal,   h.pfreq,  h.type,
                                    h.datamode, h.lane, h.ip, h.nosignal};
}
}  // namespace

vimrasource* vimrasource::pInstance() {
    static vimrasource* instance = [] {
        auto* s = new vimrasource();
        p_vimra_source = s;
        c331_chip::installHdmiReader([s](int input, c331_state::PortHdmiInfo& info, s32& stable) {
            PI_HDMI_INFO h;
            if (!s->read_hdminfo(input, h)) return false;
            info = toPortInfo(h);
            stable = h.stable;
            return true;
        });
        // The dump shows what the IT6805 driver last published rather than
        // reading the chip: the source thread owns the bus and its switches,
        // and a read from the c331 thread could select a channel under it.
        c331_chip::installIt6805Readout([s](int rx, c331_state::PortHdmiInfo& info) {
            PI_HDMI_INFO h;
            if (rx < 0 || rx > 1 || !s->read_hdminfo(4 + rx, h)) return false;
            info = toPortInfo(h);
            return true;
        });
        return s;
    }();
    return instance;
}

void vimrasource::replace_drivers(std::unique_ptr<ite6805_sys> a, std::unique_ptr<vimra_it6602> b,
                                  std::unique_ptr<it66121_sys> c) {
    if (a) p_ite6805 = std::move(a);
    if (b) p_it6602 = std::move(b);
    if (c) p_it66121 = std::move(c);
    p_ite6805->fd = fd;
    p_it6602->fd = fd;
}

void vimrasource::open_bus() {
    if (fd < 0) fd = Drv_I2C0::initialize();
    p_it6602->fd = fd;
    p_ite6805->fd = fd;
    poll_mask.store(g_check_source.load());
}

int vimrasource::initialize() {
    open_bus();
    if (m_thread.joinable()) return 0;
    try {
        m_thread = std::thread([this] { checksourceThread(this); });
        pthread_setname_np(m_thread.native_handle(), "source");
    } catch (...) {
        Console::print("create manage thread failed\n");
        writeLogMsg(ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void* vimrasource::checksourceThread(void* arg) {
    auto* s = static_cast<vimrasource*>(arg);
    tick_cpu::join();
    while (!s->m_stop.load()) s->step();
    return nullptr;
}

u8 vimrasource::startup_state() const {
    QMutexLocker lock(&Utils::_source_init_mutex);
    return init_state;
}

void vimrasource::enter_state(u8 state) {
    QMutexLocker lock(&Utils::_source_init_mutex);
    init_state = state;
    init_tick = G_timeTicks;
}

void vimrasource::step() {
    switch (startup_state()) {
    case 0: about_source_init_work_reset(); return;
    case 1: about_source_init_work_reset_wait_ticks(); return;
    case 2: about_source_init_work_ok(); return;
    case 3: about_source_init_work_ok_wait_ticks(); return;
    case 4: about_source_init_deault_edid(); return;
    default: break;
    }
    about_outxx_clk_create_deal();
    about_cec913_clk_create_deal();
    about_set_edid_deal();
    about_source_bug();
    about_volume_deal();
    about_source_ext_change_deal();
    const bool polled = sourcecheck();
    if (p_it66121->fail_count < 10) it66121_sdi_enable();
    // Polling an input sleeps 10 ms; a pass that polled none must not spin.
    // The bare yields between bus steps are left out: each cost a wake-up
    // and gave the bus nothing.
    if (!polled) Board::get().clock().sleepPacedMs(10);
}

// ---------------------------------------------------------------------------
// Start-up states

void vimrasource::about_source_init_work_reset() {
    bool it6602 = false, it6805 = false;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        it6602 = reinit[0] || reinit[1] || reinit[2] || reinit[3];
        it6805 = reinit[4] || reinit[5];
    }
    if (it6602) set_line(GpioName::kIt6602Reset, 0);
    if (it6805) {
        set_line(GpioName::kIt6805Reset, 0);
        p_ite6805->ite6805_sys_reset_init();
    }
    // The reset is held for the ticks state 1 waits.
    enter_state(1);
}

// The waits are tick comparisons; between them the thread sleeps until the
// wait is over: nothing else runs in these states.
void vimrasource::wait_startup(u32 ticks) {
    u32 left;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        const u32 spent = Utils::getTimeSpace(init_tick);
        left = spent > ticks ? 0 : ticks + 1 - spent;
    }
    if (left == 0) return;
    std::unique_lock<std::mutex> lock(m_napMutex);
    Board::get().clock().waitFor(m_napCv, lock, u64(left) * 10, [this] { return m_stop.load(); });
}

void vimrasource::about_source_init_work_reset_wait_ticks() {
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        if (Utils::getTimeSpace(init_tick) > 100) {
            init_state = 2;
            init_tick = G_timeTicks;
            return;
        }
    }
    wait_startup(100);
}

void vimrasource::about_source_init_work_ok() {
    bool it6602 = false, it6805 = false;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        it6602 = reinit[0] || reinit[1] || reinit[2] || reinit[3];
        it6805 = reinit[4] || reinit[5];
    }
    if (it6602) set_line(GpioName::kIt6602Reset, 1);
    if (it6805) set_line(GpioName::kIt6805Reset, 1);
    QMutexLocker lock(&Utils::_source_init_mutex);
    init_state = 3;
    for (auto& f : reinit) f = 0;
    init_tick = G_timeTicks;
}

void vimrasource::about_source_init_work_ok_wait_ticks() {
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        if (Utils::getTimeSpace(init_tick) > 500) {
            init_state = 4;
            init_tick = G_timeTicks;
            return;
        }
    }
    wait_startup(500);
}

// ---------------------------------------------------------------------------
// Bus helpers

bool vimrasource::select_rx(u8 code) { return Drv_I2C0::i2c_write(fd, kRxSwitch, 0, &code, 1) == 1; }
bool vimrasource::select_mem(u8 code) { return Drv_I2C0::i2c_write(fd, kMemSwitch, 0, &code, 1) == 1; }
bool vimrasource::write_audio(u8 value) { return Drv_I2C0::i2c_write(fd, kAudioSwitch, 0, &value, 1) == 1; }

// A line the board cannot drive is logged by the platform; the manager goes on.
void vimrasource::set_line(const char* name, int value) { Board::get().gpio().setLine(name, value); }

// ---------------------------------------------------------------------------
// Publication helpers

void vimrasource::publish_signal(int input, u16 width, u16 height, u32 rate) {
    ZrvRamPara* p = model();
    if (!p || !validInput(input)) return;
    p->ZrvSetSignalPara(input, width, height, u8(rate >= 55 ? 60 : rate));
    p->test_signal(1);
}

void vimrasource::publish_signal(int input, u16 width, u16 height, u32 rate, u32 rawOffset, const u8 raw[3]) {
    ZrvRamPara* p = model();
    if (!p || !validInput(input)) return;
    p->ZrvSetSignalPara(input, width, height, u8(rate >= 55 ? 60 : rate), rawOffset, raw);
    p->test_signal(1);
}

void vimrasource::clear_signal(int input) {
    ZrvRamPara* p = model();
    if (!p || !validInput(input)) return;
    p->ZrvSetSignalPara(input, 0, 0, 0);
    p->test_signal(1);
}

void vimrasource::fill_hdminfo(int input, const PI_HDMI_INFO& info) {
    update_hdminfo(input, [&](PI_HDMI_INFO& r) { r = info; });
}

void vimrasource::clear_hdminfo(int input) {
    update_hdminfo(input, [](PI_HDMI_INFO& r) { r = PI_HDMI_INFO{}; });
}

void vimrasource::update_hdminfo(int input, const std::function<void(PI_HDMI_INFO&)>& edit) {
    if (!validInput(input)) return;
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    edit(hdminfo[input]);
}

bool vimrasource::read_hdminfo(int input, PI_HDMI_INFO& out) const {
    if (!validInput(input)) return false;
    QMutexLocker lock(&Utils::_source_hdminfo_mutex);
    out = hdminfo[input];
    return true;
}

void vimrasource::reg_set_bit(int reg, u8 bits) {
    if (u8* b = regByte(reg)) __atomic_fetch_or(b, bits, __ATOMIC_SEQ_CST);
}

void vimrasource::reg_clear_bit(int reg, u8 bits) {
    if (u8* b = regByte(reg)) __atomic_fetch_and(b, u8(~bits), __ATOMIC_SEQ_CST);
}

void vimrasource::reg_assign_bit(int reg, u8 bits, bool on) { on ? reg_set_bit(reg, bits) : reg_clear_bit(reg, bits); }

u8 vimrasource::reg_read(int reg) {
    u8* b = regByte(reg);
    return b ? __atomic_load_n(b, __ATOMIC_SEQ_CST) : 0;
}

// ---------------------------------------------------------------------------
// Polling pass

void vimrasource::set_clock_state(int output, u8 state) {
    clock_state[output] = state;
    source_handover::g_output_clock_state[output].store(state);
}

void vimrasource::about_outxx_clk_create_deal() {
    for (int o = 0; o < kOutputs; ++o) {
        const bool ok = select_mem(kClockChannel[o]);
        reg_assign_bit(source_reg::kEeproms, source_reg::kSwitchAck, ok);
        if (!ok || clock_done[o]) continue;
        Utils::sleep_us(100);
        s5p210_setup(o);
    }
}

// Written in one pass, the FPGA released in the next.
void vimrasource::s5p210_setup(int output) {
    if (clock_state[output] == 0) {
        set_clock_state(output, 1);
        for (int r = 0; r < int(sizeof kClockTable); ++r) {
            if (!Drv_I2C0::i2c_write(fd, kClockChip, u8(r), &kClockTable[r], 1)) {
                set_clock_state(output, 0);
                return;
            }
        }
    } else if (clock_state[output] == 1) {
        clock_done[output] = 1;
        if (output == 0) {
            reg_set_bit(source_reg::kEeproms, source_reg::kClock0Done);
            set_line(GpioName::kFpga0Reset, 1);
        } else {
            reg_set_bit(source_reg::kClocks, source_reg::kClock1Done);
            set_line(GpioName::kFpga1Reset, 1);
        }
        set_clock_state(output, 2);
    }
}

void vimrasource::about_source_bug() {
    u8* reg = regByte(source_reg::kCommand);
    if (!reg) return;
    // The protocol stores the byte under the c331 manager's mutex; taking it
    // with an exchange keeps a command written meanwhile for the next pass.
    const u8 cmd = __atomic_exchange_n(reg, u8(0), __ATOMIC_SEQ_CST);
    if (!cmd) return;
    using namespace source_reg;
    struct Hpd {
        u8 bit;
        int input;
        int level;
    };
    for (const Hpd& h : {Hpd{kHpd5Low, 5, 0}, Hpd{kHpd5High, 5, 1}, Hpd{kHpd4Low, 4, 0}, Hpd{kHpd4High, 4, 1}}) {
        if (!(cmd & h.bit)) continue;
        // The command is for the chip of that input, not the one polled last.
        select_rx(kChannel[h.input]);
        p_ite6805->iTE6805_Set_HPD_Ctrl(0, h.level, h.input - 4);
    }
    for (u8 bit : {kIt6805ResetLowA, kIt6805ResetHighA, kIt6805ResetLowB, kIt6805ResetHighB}) {
        if (!(cmd & bit)) continue;
        const bool low = bit == kIt6805ResetLowA || bit == kIt6805ResetLowB;
        set_line(GpioName::kIt6805Reset, low ? 0 : 1);
        // A chip held in reset loses its set-up: identify and set it up again
        // once the line is high.
        if (low) p_ite6805->ite6805_sys_reset_init();
    }
}

u8 vimrasource::audio_source_code() {
    ZrvRamPara* p = model();
    if (!p) return 0;
    u16 window = 0;
    WIN_RECORD win{};
    CROP_RECORD crop{};
    bool cropOk = false;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        const PARA_RAM_IMAGE& img = p->live_image;
        window = img.word(RamOffset::AUDIO_WINDOW);
        if (window < RamOffset::WIN_COUNT) {
            win = img.win(window);
            const u16 idx = win.source & 0xFF;
            cropOk = idx < RamOffset::CROP_COUNT;
            if (cropOk) crop = img.crop(idx);
        }
    }
    if (window >= RamOffset::WIN_COUNT) {
        writeLogMsg(WARNING, "audio window " + std::to_string(window) + " out of range: no audio source");
        return 0;
    }
    if (!(win.audio & 0x8000)) return 0;
    int input = win.source;
    if (win.source & 0x8000) {
        if (!cropOk) {
            writeLogMsg(WARNING, "audio window " + std::to_string(window) + " shows crop " +
                                     std::to_string(win.source & 0xFF) + ", out of range: no audio source");
            return 0;
        }
        input = crop.id & 0x0F;
        if (input >= kInputs) {
            writeLogMsg(WARNING, "crop " + std::to_string(win.source & 0xFF) + " names input " +
                                     std::to_string(input) + ": no audio source");
            return 0;
        }
    }
    return validInput(input) ? kAudioCode[input] : 0;
}

void vimrasource::about_volume_deal() {
    if (!source_handover::take_audio_changed()) return;
    audio_code = audio_source_code();
    // Not acknowledged: select again next pass.
    if (!write_audio(u8(audio_code | eeprom_idle))) source_handover::raise_audio_changed();
}

void vimrasource::about_source_ext_change_deal() {
    if (sdi_pulse_state == 0) {
        // Taken at the start of a pulse, so a request raised during one gives
        // one more.
        if (!source_handover::take_sdi_reset()) return;
        set_line(GpioName::kGs2971Reset, 0);
        sdi_pulse_state = 1;
        sdi_pulse_tick = G_timeTicks;
    } else if (Utils::getTimeSpace(sdi_pulse_tick) >= 16) {
        set_line(GpioName::kGs2971Reset, 1);
        sdi_pulse_state = 0;
    }
}

void vimrasource::restart_input(int input) {
    if (input < 4) {
        it6602_state[input] = 0;
        if (p_it6602->IT6602_fsm_init(fd, input)) it6602_state[input] = 1;
        return;
    }
    const int rx = input - 4;
    p_ite6805->iTE6805_Set_HPD_Ctrl(0, 0, rx);
    p_ite6805->run_state[rx] = 0;
    p_ite6805->iTE6805_FSM(rx);
}

void vimrasource::poll_input(int input) {
    if (input >= 4) {
        p_ite6805->iTE6805_FSM(input - 4);
        return;
    }
    switch (it6602_state[input]) {
    case 0:
        if (p_it6602->IT6602_fsm_init(fd, input)) it6602_state[input] = 1;
        break;
    case 1:
        p_it6602->IT6602_fsm_init_1(fd, input);
        it6602_state[input] = 2;
        break;
    default: p_it6602->IT6602_fsm(fd, input); break;
    }
}

bool vimrasource::sourcecheck() {
    bool polled = false;
    for (int input = 0; input < kInputs; ++input) {
        if (!(poll_mask.load() & kPollBit[input])) continue;
        polled = true;
        reg_assign_bit(source_reg::kEeproms, source_reg::kSwitchAck, select_rx(kChannel[input]));
        // One restart per EDID written, so the source reads the new one.
        if (edid_restarted[input] != edid_written[input]) {
            edid_restarted[input] = edid_written[input];
            restart_input(input);
        } else {
            poll_input(input);
        }
        Board::get().clock().sleepPacedMs(10);
    }
    return polled;
}

void vimrasource::it66121_sdi_enable() {
    switch (sdi_state) {
    case 0:
        p_it66121->sdi_it66121_init();
        sdi_state = 1;
        break;
    case 1:
        p_it66121->last_test = u8(p_it66121->IT66121_Test());
        if (p_it66121->last_test) {
            reg_set_bit(source_reg::kChips, source_reg::kIt66121Found);
            sdi_state = 2;
        } else {
            ++p_it66121->fail_count;
            reg_clear_bit(source_reg::kChips, source_reg::kIt66121Found);
        }
        break;
    case 2:
        p_it66121->IT66121_init();
        sdi_state = 3;
        break;
    default: p_it66121->HDMITX_DevLoopProc(); break;
    }
}
