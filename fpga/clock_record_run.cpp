#include "fpga/clock_record_run.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "fpga/fpga_manage.h"

#include <QMutexLocker>

#include <cstring>

CLOCK_RECORD g_clock_record;

namespace {

constexpr u8 kHeaderBytes[3] = {0xAA, 0x5A, 0xA5};
constexpr u8 kOpened = 0xAA;
constexpr u32 kSectorBytes = 0x1000;
// Progress value after 1, 2, 3 and 4 steps of a byte.
constexpr u8 kProgress[4] = {0xFD, 0xF5, 0xD5, 0x55};
constexpr u8 kFlash0 = 2;

u8 bcd(int v) { return u8((v / 10) << 4 | (v % 10)); }

void put32(u8* p, u32 v) {
    for (int i = 0; i < 4; ++i) p[i] = u8(v >> (8 * i));
}
u32 get32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }
void put24(u8* p, u32 v) {
    for (int i = 0; i < 3; ++i) p[i] = u8(v >> (8 * i));
}
u32 get24(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16; }

u32 slotAddress(u32 seq) { return clock_record_run::kSlots + clock_record_run::kSlotBytes * (seq & 0xFFFFF); }

}  // namespace

clock_record_run::clock_record_run(fpga_manage& manager) : m_manager(manager) {}

clock_record_run::~clock_record_run() {
    QMutexLocker lock(&record_mutex());
    g_clock_record.running = 0;
}

namespace {
// A PC may set the clock (which marks the record) as fast as it is
// answered: a failing flash logs the first of each second, then a count.
void flashFailed(const char* what, LogPlace at = {}) {
    static LineLimiter failures(LineLimiter::logCount(ERROR, "run-time record", "flash operations failed"));
    failures.occur([what, at] { writeLogMsg(ERROR, std::string("run-time record: flash ") + what + " failed", at); });
}
}  // namespace

QMutex& clock_record_run::record_mutex() {
    static QMutex m;
    return m;
}

bool clock_record_run::ExFlash_RD(u32 address, u8* dst, u32 len) {
    if (m_manager.drv().FPGA_SPI_FLASH_VBYONE_READ(kFlash0, address + kFlashOffset, len, dst)) return true;
    std::memset(dst, 0xFF, len);
    flashFailed("read");
    return false;
}

// Both true only when the flash reads back what was asked.
bool clock_record_run::ExFlash_WR(u32 address, const u8* src, u32 len) {
    // The flash routine takes its data four bytes into the buffer.
    u8 buf[4 + kSectorBytes];
    if (len == 0 || len > kSectorBytes) return false;
    std::memcpy(buf + 4, src, len);
    if (m_manager.drv().program_verified(kFlash0, address + kFlashOffset, buf, len)) return true;
    flashFailed("write");
    return false;
}

bool clock_record_run::ExFlash_Erase_Format(u32 sector, u8 type, u32 count) {
    if (m_manager.drv().erase_verified(kFlash0, sector + kFlashOffset / kSectorBytes, type, count)) return true;
    flashFailed("erase");
    return false;
}

u32 clock_record_run::progress_minutes(const u8* group) {
    u32 full = 0;
    while (full < kProgressBytes && group[kProgressStart + full] == kProgress[3]) ++full;
    if (full == kProgressBytes) return kGroupMinutes;
    u32 minutes = 8 * full;
    const u8 next = group[kProgressStart + full];
    for (int s = 0; s < 3; ++s)
        if (next == kProgress[s]) minutes += 2 * u32(s + 1);
    return minutes;
}

u32 clock_record_run::next_seq(u32 seq) {
    const u32 slot = (seq & 0xFFFFF) + 1;
    const u32 wrap = seq >> 20 & 0xF;
    if (slot < kSlotCount) return wrap << 20 | slot;
    return ((wrap + 1) & 0xF) << 20;
}

// Copies a sector so that its byte 0 (the opened mark of group 0) comes last:
// a cut leaves the target's first group unopened and restorable again.
void clock_record_run::copy_sector(u32 from, u32 to) {
    u8 data[kSectorBytes];
    ExFlash_RD(from, data, kSectorBytes);
    ExFlash_Erase_Format(to / kSectorBytes, 0, 1);
    for (u32 off = 256; off < kSectorBytes; off += 256) ExFlash_WR(to + off, data + off, 256);
    ExFlash_WR(to + 1, data + 1, 255);
    write_byte(to, data[0]);
}

void clock_record_run::take_time() {
    TimeRealType t;
    m_manager.IT8563WE_Get(&t);
    u8* b = g_clock_record.time_bcd;
    b[0] = bcd(t.year % 100);
    b[1] = bcd(t.year / 100 % 100);
    b[2] = bcd(t.month);
    b[3] = bcd(t.day);
    b[4] = bcd(t.hour);
    b[5] = bcd(t.minute);
    b[6] = bcd(t.second);
}

bool clock_record_run::get_new_seq(u32 minutes) {
    CLOCK_RECORD& r = g_clock_record;
    u8 m[4];
    put32(m, minutes);
    bool stored = ExFlash_WR(slotAddress(r.seq) + 8, m, 4);
    r.seq = next_seq(r.seq);
    const u32 slot = r.seq & 0xFFFFF;
    r.slot_addr = slotAddress(r.seq);
    r.seq_sector = u8(slot / 256);
    if (slot % 256 == 0) stored = ExFlash_Erase_Format(r.slot_addr / kSectorBytes, 0, 1) && stored;
    return stored;
}

bool clock_record_run::new_record_group_init(u8 group, bool firstOfRun) {
    CLOCK_RECORD& r = g_clock_record;
    bool stored = true;
    if (group >= kGroups) {
        group = 0;
        r.group_index = 0;
        u8 head[2];
        ExFlash_RD(kCopyA, head, 2);
        if (head[0] != 0xFF || head[1] != 0xFF) stored = ExFlash_Erase_Format(kCopyA / kSectorBytes, 0, 1);
        stored = ExFlash_Erase_Format(kCopyB / kSectorBytes, 0, 1) && stored;
    }
    for (u32 base : {kCopyA, kCopyB}) {
        const u32 a = base + kGroupBytes * group;
        (base == kCopyA ? r.addr_a : r.addr_b) = a;
        u8 head[15];
        std::memcpy(head, r.time_bcd, 7);
        put32(head + 7, r.cumulative);
        head[11] = 0xFF;
        put24(head + 12, r.seq);
        stored = ExFlash_WR(a + 1, head, sizeof head) && stored;
        if (r.marker == kMark) stored = write_byte(a + 44, kMark) && stored;
        if (firstOfRun) {
            static constexpr u8 kFirst[4] = {0x55, 0x55, 0x55, 0xD5};
            stored = ExFlash_WR(a + 33, r.time_bcd, 7) && stored;
            stored = ExFlash_WR(a + kProgressStart, kFirst, 4) && stored;
        }
        stored = write_byte(a, kOpened) && stored;
    }
    return stored;
}

void clock_record_run::clock_record_init() {
    QMutexLocker lock(&record_mutex());
    CLOCK_RECORD& r = g_clock_record;
    r = CLOCK_RECORD{};
    u8 head[3];
    ExFlash_RD(kHeader, head, 3);
    if (std::memcmp(head, kHeaderBytes, 3) != 0) {
        ExFlash_Erase_Format(kHeader / kSectorBytes, 0, 1);
        ExFlash_WR(kHeader, kHeaderBytes, 3);
    }
    r.running = 1;

    u8 used = kGroups;
    for (u8 g = 0; g < kGroups; ++g) {
        u8 a[2], b = 0;
        ExFlash_RD(kCopyB + kGroupBytes * g, &b, 1);
        if (b == kOpened) continue;
        ExFlash_RD(kCopyA + kGroupBytes * g, a, 2);
        if (a[0] == kOpened) {
            // Cut between the copies: the group was opened, so it counts;
            // leaving it out would program the next group over it unerased.
            copy_sector(kCopyA, kCopyB);
            writeLogMsg(WARNING, "run-time record: group " + std::to_string(g) + " restored from copy A");
            continue;
        }
        if (a[1] != 0xFF) copy_sector(kCopyB, kCopyA);
        used = g;
        break;
    }

    if (used > 0) {
        u8 group[kGroupBytes];
        ExFlash_RD(kCopyA + kGroupBytes * (used - 1), group, kGroupBytes);
        const u32 minutes = progress_minutes(group);
        r.group_index = used;
        r.cumulative = get32(group + 8) + minutes;
        r.seq = get24(group + 13);
        r.slot_addr = slotAddress(r.seq);
        get_new_seq(minutes);
    } else {
        ExFlash_Erase_Format(kCopyA / kSectorBytes, 0, 1);
        ExFlash_Erase_Format(kCopyB / kSectorBytes, 0, 1);
        ExFlash_Erase_Format(kSlots / kSectorBytes, 0, 1);
        r.slot_addr = kSlots;
    }
    take_time();
    r.tick = G_timeTicks;
}

void clock_record_run::clock_record_deal() {
    QMutexLocker lock(&record_mutex());
    CLOCK_RECORD& r = g_clock_record;
    if (!r.running || u32(G_timeTicks - r.tick) <= kMinuteTicks) return;
    ++r.minutes_on;
    ++r.minutes_reported;
    ++r.minute_count;
    // A step the flash did not take leaves the record as the flash holds it
    // (the minutes since power-on count on): the next step writes it again.
    const CLOCK_RECORD before = r;
    if (!(r.minute_count & 1) && !step()) r = before;
    r.tick = G_timeTicks;
}

bool clock_record_run::step() {
    CLOCK_RECORD& r = g_clock_record;
    bool stored = true;
    if (r.group_not_open) {
        if (r.minutes_on < kFirstGroupMinutes) return true;
        stored = new_record_group_init(r.group_index, true);
        u8 slot[15];
        std::memcpy(slot, r.time_bcd, 7);
        std::memset(slot + 7, 0xFF, 4);
        slot[11] = r.marker;
        put24(slot + 12, r.seq);
        stored = ExFlash_WR(r.slot_addr + 1, slot, sizeof slot) && stored;
        stored = write_byte(r.slot_addr, kOpened) && stored;
        r.group_not_open = 0;
        r.step = 14;
        r.progress_offset = kProgressStart + 3;
        r.last_progress = kProgress[3];
    } else {
        r.progress_offset = kProgressStart + r.step / 4;
        r.last_progress = kProgress[r.step % 4];
        stored = write_byte(r.addr_a + r.progress_offset, r.last_progress);
        stored = write_byte(r.addr_b + r.progress_offset, r.last_progress) && stored;
    }
    // A group holds exactly 1440 steps: its last progress byte is byte 407.
    if (stored && ++r.step >= kGroupSteps) {
        ++r.group_index;
        take_time();
        stored = get_new_seq(kGroupMinutes);
        r.cumulative += kGroupMinutes;
        ++r.closed_in_run;
        stored = new_record_group_init(r.group_index, false) && stored;
        r.step = 0;
    }
    return stored;
}

bool clock_record_run::dealwith_record_timing() {
    QMutexLocker lock(&record_mutex());
    CLOCK_RECORD& r = g_clock_record;
    // The mark counts once the flash holds it: the marker stays as the
    // flash has it, and the answer says the record was not marked.
    bool stored = true;
    if (!r.group_not_open) {
        stored = write_byte(r.slot_addr + 12, kMark);
        stored = write_byte(r.addr_a + 44, kMark) && stored;
    } else {
        u8 group = r.group_index;
        if (group >= kGroups) {
            group = 0;
            u8 head[2];
            ExFlash_RD(kCopyA, head, 2);
            if (head[0] != 0xFF || head[1] != 0xFF) stored = ExFlash_Erase_Format(kCopyA / kSectorBytes, 0, 1);
        }
        stored = stored && write_byte(kCopyA + kGroupBytes * group + 44, kMark);
    }
    if (stored) r.marker = kMark;
    return stored;
}

bool clock_record_run::report(u8 out[kReportBytes]) {
    QMutexLocker lock(&record_mutex());
    const CLOCK_RECORD& r = g_clock_record;
    if (!r.running) return false;
    // Each group closed in this run is in the cumulative minutes already.
    put32(out, r.cumulative + r.minutes_reported - kGroupMinutes * r.closed_in_run);
    put32(out + 4, r.minutes_on);
    put24(out + 8, r.seq);
    std::memcpy(out + 11, r.time_bcd, 7);
    put32(out + 18, r.minutes_reported);
    return true;
}
