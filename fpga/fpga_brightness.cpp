// The LED wall's brightness (register 6 of both FPGAs) from the panel's
// word, a fixed level, the half-hour table or a light sensor on a
// multifunction card, and the daily on/off schedule.
//
// The brightness state, the schedule and their two flash records are
// guarded by bri_mutex: the command block changes them from a protocol
// thread, the task, the reload and the schedule from the FPGA thread.
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/card_frame.h"
#include "fpga/fpga_manage.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace fpgareg;
using namespace card_frame;

namespace {

constexpr u8 kSensorValid = 0xFF;
constexpr int kSensorValidByte = 49;
constexpr int kSensorTargetByte = 52;
constexpr u32 kSensorBase = 0x4000;
// Record bytes 3-5: the change the record holds (ZrvRamPara's count).
constexpr size_t kGenAt = 3;

bool rawMode(u8 mode) { return mode == 16 || mode == 17; }

}  // namespace

u8 fpga_manage::percent_to_value(u32 percent) { return u8(std::min<u32>(percent * 255 / 100, 255)); }

// Rounded to the nearest: a percentage sent truncated comes back as itself,
// as the value lies less than one below b x 2.55, which is 0.4 of a percent.
u16 fpga_manage::value_to_percent(u8 value) { return u16((u32(value) * 100 + 127) / 255); }

u8 fpga_manage::level_to_value(u8 level, u8 mode) {
    if (rawMode(mode)) return level;
    // Level 0 would wrap to 255, full brightness.
    const int l = std::clamp<int>(level, 1, 16);
    return u8(l * 16 - 1);
}

void fpga_manage::set_level_images(u8 level) {
    write_to_register(BRI_LEVEL, 0xFF, level, 0);
    write_to_register(BRI_LEVEL, 0xFF, level, 1);
}

bool fpga_manage::store_record(u32 address, const u8* record, u32 length) {
    // Each store costs the sector an erase and leaves it without a record
    // until it is programmed: compare what is read back, and the bytes
    // programmed, with what the flash holds first.
    const u32 readBack = address == FLASH_ONOFF ? kOnOffRecordBytes : kBrightRecordBytes;
    std::vector<u8> want(std::max(readBack, record ? length : 0), 0xFF);
    if (record) std::memcpy(want.data(), record + 4, length);
    std::vector<u8> have(want.size());
    if (m_drv->FPGA_SPI_FLASH_VBYONE_READ(kRecordFlash, address, u32(have.size()), have.data()) && have == want)
        return true;
    // Stored only when the flash reads back the erase and the record: a
    // protected sector takes both commands and keeps what it held.
    bool ok = m_drv->erase_verified(kRecordFlash, address / kSectorSize, 0, 1);
    if (ok && record) ok = m_drv->program_verified(kRecordFlash, address, record, length);
    if (!ok) {
        // The PC's command block stores its schedule as often as it is run.
        static LineLimiter failures(LineLimiter::logCount(ERROR, "fpga", "records not stored"));
        failures.occur([address] {
            writeLogMsg(ERROR, address == FLASH_ONOFF ? "fpga: on/off schedule record not stored"
                                                      : "fpga: brightness record not stored");
        });
    }
    return ok;
}

namespace {
u32 record_change(const u8* rec) {
    const u32 c = u32(rec[kGenAt]) | u32(rec[kGenAt + 1]) << 8 | u32(rec[kGenAt + 2]) << 16;
    return c <= BriChange::kCycle ? c : 0;
}
void raise_to(u32& held, u32 c) {
    if (BriChange::later(c, held)) held = c;
}
}  // namespace

void fpga_manage::queue_bright_record(const u8* record, u32 length, u32 change, bool fromWord) {
    bri_pending.waiting = true;
    // An erased record keeps the erase's change too (its first byte stays
    // 0xFF: no record for any reader).
    if (record)
        bri_pending.bytes.assign(record + 4, record + 4 + length);
    else
        bri_pending.bytes.assign(kBrightRecordBytes, 0xFF);
    if (bri_pending.bytes.size() >= kGenAt + 3)
        for (size_t i = 0; i < 3; ++i) bri_pending.bytes[kGenAt + i] = u8(change >> (8 * i));
    bri_pending.change = change;
    bri_pending.fromWord = fromWord;
    bri_pending.tick = G_timeTicks;
    raise_to(bri_acted, change);
}

void fpga_manage::store_pending_bright(bool now) {
    QMutexLocker lock(&bri_mutex);
    if (!bri_pending.waiting || (!now && Utils::getTimeSpace(bri_pending.tick) < kRecordQuietTicks)) return;
    // The flash behind FPGA 0 is the program's once FPGA 0 was brought up
    // (until then it may be loading itself from it); a stop before that
    // leaves the value to the image file, newer than the record at the next
    // start.
    bool up;
    {
        QMutexLocker shadow(&shadow_mutex);
        up = m_reg[0][RUN_MARK] == RUNNING;
    }
    if (!started(0) || !up) {
        if (now) writeLogMsg(WARNING, "fpga: brightness record not stored, FPGA 0 never started");
        return;
    }
    const std::vector<u8>& want = bri_pending.bytes;
    // The fixed level of a word's change that the flash holds already, made
    // for an earlier change, is not stored again: the image file's word gives
    // the same record back. A record of the PC's is: the image cannot give
    // it back, so the flash must hold its change.
    bool held = false;
    if (bri_pending.fromWord && want.size() >= kGenAt + 3) {
        std::vector<u8> have(want.size());
        held = m_drv->FPGA_SPI_FLASH_VBYONE_READ(kRecordFlash, FLASH_BRIGHT, u32(have.size()), have.data()) &&
               std::equal(have.begin(), have.begin() + kGenAt, want.begin()) &&
               std::equal(have.begin() + kGenAt + 3, have.end(), want.begin() + kGenAt + 3);
    }
    if (!held) {
        std::vector<u8> record(4 + want.size());
        std::copy(want.begin(), want.end(), record.begin() + 4);
        // A failed store is logged and not retried: the next change queues
        // again, and the image file keeps the word's change meanwhile.
        held = store_record(FLASH_BRIGHT, record.data(), u32(want.size()));
    }
    if (held) raise_to(bri_settled, bri_pending.change);
    bri_pending = PendingRecord{};
}

// ---------------------------------------------------------------- the write

fpga_manage::BriWord fpga_manage::bri_word() {
    BriWord w;
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        w.percent = p->live_image.word(RamOffset::BRIGHTNESS);
        w.change = p->bri_word_change;
    }
    return w;
}

int fpga_manage::set_fpga_bri_val() {
    QMutexLocker lock(&bri_mutex);
    const BriWord w = bri_word();
    // The word holds this manager's own level, a change it took already, or
    // one a later change (a record the PC stored or erased) superseded:
    // nothing to take. Without a model the word reads as 100 %.
    if (ZrvRamPara::p_zrvrampara_config && !BriChange::later(w.change, bri_acted)) return 1;
    if (write_brightness(&w) != 1) return 0;
    raise_to(bri_acted, w.change);
    return 1;
}

int fpga_manage::Brightness_hand_dealwith(bool panel) {
    if (!panel) return write_brightness(nullptr);
    const BriWord w = bri_word();
    return write_brightness(&w);
}

int fpga_manage::write_brightness(const BriWord* panel) {
    g_change[12] = 0;
    g_change[13] = 1;
    ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config;
    // The value is worked out whether or not a port is linked: the panel's
    // value is stored either way.
    u8 v;
    if (panel) {
        v = percent_to_value(panel->percent);
        // The live mode stays until the stored record is reloaded. In a
        // 16-step mode the level images keep the task's level: the value
        // read back as a level would be full brightness at the next run of
        // the half-hour table, the sensor or the fixed level.
        if (!rawMode(bri_mode))
            v = std::max<u8>(v, 15);
        else
            set_level_images(v);
    } else {
        u8 level0;
        {
            QMutexLocker lock(&shadow_mutex);
            level0 = m_reg[0][BRI_LEVEL];
        }
        v = level_to_value(level0, bri_mode);
        const u16 word = value_to_percent(v);
        bool changed = false;
        if (p) {
            QMutexLocker lock(&c331_manage::get()->mutex);
            // A user's change the flash does not hold yet stays in the word,
            // whatever its value: the FPGAs take it next, and after a power
            // cut the image file gives it back.
            const u32 held = p->bri_word_change;
            const bool mayWrite = held == 0 || !BriChange::later(held, bri_settled);
            if (mayWrite && p->live_image.word(RamOffset::BRIGHTNESS) != word) {
                p->setOwnBrightness(word);
                changed = true;
            }
        }
        if (changed) p->test_signal(1);
    }
    // Only FPGAs that were started are read or written: one not started
    // takes the value from the record or the image when it starts.
    const bool on[2] = {started(0), started(1)};
    u8 link = 0;
    for (u8 k = 0; k < 2; ++k) {
        if (!on[k]) continue;
        read_from_register(LINK_LOW, k);
        read_from_register(LINK_HIGH, k);
        QMutexLocker lock(&shadow_mutex);
        link |= m_reg[k][LINK_LOW] | m_reg[k][LINK_HIGH];
    }
    if (link != 0) {
        g_change[12] = 2;
        {
            QMutexLocker lock(&Utils::_fpga_multicast_mutex);
            m_para[0][256] = 1;
        }
        for (u8 k = 0; k < 2; ++k) {
            if (!on[k]) continue;
            write_to_register(BRIGHTNESS, 0xFF, v, k);
            write_to_register(OUTPUT, OUTPUT_BRI_LOAD, OUTPUT_BRI_LOAD, k);
        }
        u8 back[2] = {0, 0};
        for (u8 k = 0; k < 2; ++k)
            if (on[k]) read_fpga_register(BRIGHTNESS, &back[k], k);
        g_change[31] = 1;
        if (on[0] && on[1] && back[0] != back[1]) {
            g_change[13] = 0;
            // The pass tries again while the flag stays. After the stop
            // none comes: the record keeps the panel's value for the next
            // start, which writes it to both.
            if (panel && m_stop.load()) queue_panel_record(v, panel->change);
            return 0;
        }
    }
    g_change[13] = 0;
    if (panel) queue_panel_record(v, panel->change);
    return 1;
}

void fpga_manage::queue_panel_record(u8 v, u32 change) {
    // A fixed level of the panel's value, levels used as they are.
    u8 record[4 + kBrightRecordBytes];
    const u8 head[9] = {kRecordValid, 3, 0xAA, 0, 0, 0, 49, 0, 16};
    std::memcpy(record + 4, head, sizeof head);
    std::memset(record + 4 + sizeof head, v, kBrightRecordBytes - sizeof head);
    queue_bright_record(record, kBrightRecordBytes, change, true);
    // A fixed level in use gives way to the panel's value, or the task
    // would write the old level back in its repeats. A half-hour table or
    // the sensor keeps acting until the record is read at the next start.
    if (bri_mode == 0 || bri_mode == 16) g_change[17] = 1;
}

// ---------------------------------------------------------------- stored records

void fpga_manage::record_bright_change() {
    QMutexLocker lock(&bri_mutex);
    reload_bright_record();
}

void fpga_manage::reload_bright_record() {
    {
        QMutexLocker shadow(&shadow_mutex);
        if (m_reg[0][RUN_MARK] != RUNNING && m_reg[1][RUN_MARK] != RUNNING) return;
    }
    // Read into a buffer of its own: MCU_RAM_CMD holds what the PC reads.
    // A record still waiting for its store is what the flash will hold.
    u8 rec[kBrightRecordBytes];
    const bool waiting = bri_pending.waiting;
    bool read = true;
    if (waiting) {
        std::memset(rec, 0xFF, sizeof rec);
        std::copy_n(bri_pending.bytes.begin(), std::min(bri_pending.bytes.size(), sizeof rec), rec);
    } else {
        read = m_drv->FPGA_SPI_FLASH_VBYONE_READ(kRecordFlash, FLASH_BRIGHT, sizeof rec, rec);
    }
    bool valid = read && rec[0] == kRecordValid;
    // The change the record holds, or an erased one (0: a record of an
    // older version, or none).
    const u32 recChange = read ? record_change(rec) : 0;
    if (read && !waiting) raise_to(bri_settled, recChange);
    raise_to(bri_acted, recChange);
    BriWord w;
    if (ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        // Changes counted from now on are later than the record, even when
        // the image file was written before it.
        p->noteBrightnessRecord(recChange);
        w.percent = p->live_image.word(RamOffset::BRIGHTNESS);
        w.change = p->bri_word_change;
    }
    if (BriChange::later(w.change, recChange)) {
        // The word holds a later change than the record (made before a power
        // cut, or before FPGA 0 was started): stored in the record's place.
        writeLogMsg(INFO, "fpga: brightness " + std::to_string(w.percent) +
                              " % of the image is a later change than the record: stored in its place");
        queue_panel_record(percent_to_value(w.percent), w.change);
        std::copy_n(bri_pending.bytes.begin(), sizeof rec, rec);
        valid = true;
    }
    if (!valid) {
        g_change[14] = 0;
        g_change[16] = 16;
        return;
    }
    const u8 mode = rec[8];
    bri_mode = mode;
    bri_last_slot = 255;
    g_change[19] = 0xFFFFFFFFu;
    g_change[14] = 0;
    switch (mode) {
    case 0:
    case 16:
        set_level_images(rec[9]);
        g_change[16] = rec[9];
        g_change[18] = 0;
        g_change[14] = 1;
        break;
    case 1:
    case 17:
        std::memcpy(HalfHourValue, rec + 9, sizeof HalfHourValue);
        g_change[14] = 1;
        break;
    case 2: g_change[14] = 1; break;
    default: break;
    }
}

void fpga_manage::record_onoff_time(u8 flash) {
    QMutexLocker lock(&bri_mutex);
    {
        QMutexLocker shadow(&shadow_mutex);
        if (m_reg[0][RUN_MARK] != RUNNING && flash != kRecordFlash) return;
    }
    if (take_onoff_record()) write_to_register(ONOFF_ACTIVE, 0xFF, 1, 0);
}

bool fpga_manage::take_onoff_record() {
    u8 rec[kOnOffRecordBytes];
    if (!m_drv->FPGA_SPI_FLASH_VBYONE_READ(kRecordFlash, FLASH_ONOFF, sizeof rec, rec) || rec[0] != kRecordValid)
        return false;
    OnOff_time(rec);
    return true;
}

void fpga_manage::OnOff_time(const u8* block) {
    const u8* d = block + 8;
    onoff_count = std::min<u8>(d[0], 4);
    for (auto& e : onoff) e.on_armed = e.off_armed = false;
    for (u8 i = 0; i < onoff_count; ++i) {
        const u8* t = d + 1 + 4 * i;
        // A byte that is not BCD (-1) becomes 255 and never matches the clock.
        auto plain = [](u8 b) { return u8(Utils::fromBcd(b)); };
        onoff[i] = OnOffEntry{plain(t[0]), plain(t[1]), plain(t[2]), plain(t[3]), true, true};
    }
}

// ---------------------------------------------------------------- idle work

void fpga_manage::Extension_function() {
    QMutexLocker lock(&bri_mutex);
    if (g_change[17] != 0) {
        reload_bright_record();
        g_change[17] = 0;
    }
    if (g_change[14] != 0) brightness_task();
    u8 active;
    {
        QMutexLocker shadow(&shadow_mutex);
        active = m_reg[0][ONOFF_ACTIVE];
    }
    if (active == 1) dealwith_onoff();
}

void fpga_manage::brightness_task() {
    if (Utils::getTimeSpace(g_change[15]) < kTaskTicks) return;
    u32& repeat = g_change[18];
    switch (bri_mode) {
    case 0:
    case 16:
        if (repeat > 4) break;
        if (Brightness_hand_dealwith(false) == 1 || repeat + 1 < 5)
            ++repeat;
        else
            repeat = 0;
        break;
    case 1:
    case 17: {
        const u8 slot = u8(std::min((current_time.hour * 60 + current_time.minute) / 30, 47));
        if (slot == bri_last_slot) {
            if (repeat <= 1) {
                Brightness_hand_dealwith(false);
                ++repeat;
            }
            break;
        }
        const u8 level = HalfHourValue[slot];
        g_change[16] = level;
        set_level_images(level);
        Brightness_hand_dealwith(false);
        bri_last_slot = slot;
        repeat = 0;
        Brightness_hand_dealwith(false);
        repeat = 1;
        break;
    }
    case 2:
        search_sensor();
        read_sensor();
        filter_sensor();
        Brightness_hand_dealwith(false);
        break;
    default: break;
    }
    g_change[15] = G_timeTicks;
}

// ---------------------------------------------------------------- the sensor

void fpga_manage::search_sensor() {
    QMutexLocker lock(&Utils::_fpga_multicast_mutex);
    g_change[27] = g_change[28] = 0;
    for (u32 pos = 0; pos < 32; ++pos) {
        if (m_para[pos / 16][kT2[pos % 16]] == 0) continue;
        g_change[27] = pos / 4 + 1;
        g_change[28] = kSensorBase + 0x1000 * (pos % 4);
        return;
    }
}

void fpga_manage::read_sensor() {
    if (g_change[28] == 0) return;
    const u32 group = g_change[27];
    const u8 fpga = group > 4 ? 1 : 0;
    const u8 port = u8(((group - 1) * 4 + (g_change[28] - kSensorBase) / 0x1000) % 16);
    u8 frame[19] = {u8(g_change[28]), u8(g_change[28] >> 8), 0x00, 0xF0, kMagic, CLASS_MULTI, MODE_MULTI_READ, 0x00,
                    0x00, CMD_RAM_READ, 0x00, 0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0};
    seal(frame, sizeof frame);
    g_change[29] = g_change[31] = 0;
    g_change[30] = CMD_RAM_READ;
    {
        QMutexLocker lock(&port_mutex);
        // A reply still waiting answers an earlier frame, not this read.
        take_waiting_replies();
        ctrl_reply_flag = 0;
        m_send_budget = kSendWaitTicks;
        Send_to_port(frame, sizeof frame, port, fpga, ctrl_wait, false, kSensorTicks);
    }
    // The receive path raises no notification: poll it, a tick apart, for
    // at most kSensorTicks; the port mutex is let go between polls so a PC's
    // pass-through is not held up.
    const u32 start = G_timeTicks;
    for (;;) {
        {
            QMutexLocker lock(&port_mutex);
            reg_IRQ_Dealwith(0, 0);
            reg_IRQ_Dealwith(1, 0);
            if (ctrl_reply_flag) {
                ctrl_reply_flag = 0;
                if (ctrl_reply_len >= 2 + sizeof sensor_block && ctrl_reply[0] == g_change[30] &&
                    ctrl_reply[1] == 0) {
                    std::memcpy(sensor_block, ctrl_reply + 2, sizeof sensor_block);
                    g_change[29] = g_change[31] = 1;
                } else {
                    g_change[6] = 2;
                    write_to_register(SENSOR_FAILS, 0xFF, u8(reg_image(0, SENSOR_FAILS) + 1), 0);
                }
            }
        }
        if (g_change[31] == 1) {
            if (sensor_unread) writeLogMsg(INFO, "fpga: the light sensor gives readings again");
            sensor_unread = false;
            return;
        }
        if (Utils::getTimeSpace(start) >= kSensorTicks) break;
        Utils::sleep_ms(10);
    }
    ++g_change[26];
    // Its failures put full brightness on the wall in the end: the log
    // says why, once for a run of them.
    if (!sensor_unread)
        writeLogMsg(WARNING, "fpga: the light sensor gave no reading; after " + std::to_string(kSensorFailures) +
                                 " such reads the level goes back to 16");
    sensor_unread = true;
}

void fpga_manage::filter_sensor() {
    u32& level = g_change[16];
    if (g_change[29] != 0 && sensor_block[kSensorValidByte] == kSensorValid) {
        const u32 target = sensor_block[kSensorTargetByte];
        if (level < target)
            ++level;
        else if (level > target)
            --level;
        level = std::clamp<u32>(level, 1, 16);
        set_level_images(u8(level));
        g_change[29] = 0;
    }
    if (g_change[26] >= kSensorFailures) {
        level = 16;
        set_level_images(16);
        g_change[26] = 0;
    }
}

// ---------------------------------------------------------------- the schedule

void fpga_manage::dealwith_onoff() {
    const TimeRealType now = current_time;
    // On-times first, then off-times.
    for (const bool on : {true, false}) {
        for (u8 i = 0; i < onoff_count; ++i) {
            OnOffEntry& e = onoff[i];
            bool& armed = on ? e.on_armed : e.off_armed;
            if (!armed || (on ? e.on_hour : e.off_hour) != now.hour || (on ? e.on_minute : e.off_minute) != now.minute)
                continue;
            // Screen code 1 shows, 0 blacks out; the operator's blackout word
            // follows the write. An LED set-up holds the outputs: the word
            // alone changes, and its end shows the wall as the word says.
            if (led_setup_busy())
                set_blackout_word(!on);
            else
                SCREEN_fpgactrl_status(on ? 1 : 0);
            armed = false;
            onoff_state = on ? 0 : 1;
        }
    }
    if (now.day != onoff_day) {
        // The first check of a run only notes the day: the entries were
        // armed when the schedule was read, and re-arming them now would
        // act on a time just acted on a second time.
        if (onoff_day != 0)
            for (u8 i = 0; i < onoff_count; ++i) onoff[i].on_armed = onoff[i].off_armed = true;
        onoff_day = now.day;
    }
}
