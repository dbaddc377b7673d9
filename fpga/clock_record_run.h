#pragma once
// The device's running-time log in the flash behind FPGA 0.
//
// Time is kept in groups of 48 hours; inside a group each two minutes clear
// bits of an already programmed progress byte, so a sector is erased only
// when the eight group records wrap, and a power cut at any moment leaves a
// readable log. Every group record is kept twice (copies A and B, one sector
// each); a copy found opened while the other is not is restored at start.
//
// The FPGA thread opens the log and steps it; the clock setting marks it from
// the protocol thread. One lock (record_mutex()) covers the minute step, the
// mark and the time report's snapshot. It is taken before Utils::_spi_mutex.
#include "core/global.h"

#include <QMutex>

class fpga_drv;
class fpga_manage;

struct CLOCK_RECORD {
    u8 minute_count = 0;   // only bit 0 counts: a step every second minute
    u8 last_progress = 0;  // last progress value written
    u8 seq_sector = 0;
    u8 group_index = 0;    // 0 to 8 (8: the next opening wraps to 0)
    u8 marker = 0xFF;      // 0x5A once the clock was set
    u8 group_not_open = 1;
    u8 running = 0;
    u8 time_bcd[7] = {};   // power-on time, replaced by each group close
    u32 step = 0;          // steps done in the open group, 0 to 1440
    u32 seq = 0;           // bits 0-19 slot index, 20-23 wrap count
    u32 addr_a = 0;        // record addresses of the open group's copies
    u32 addr_b = 0;
    u32 slot_addr = 0;
    u32 progress_offset = 0;
    u32 tick = 0;
    u32 minutes_on = 0;        // minutes since power-on
    u32 minutes_reported = 0;  // minutes reported since power-on
    u32 cumulative = 0;        // minutes of the groups before the open one
    u32 closed_in_run = 0;     // groups closed in this run
};
extern CLOCK_RECORD g_clock_record;

class clock_record_run {
public:
    // Record addresses (the flash address is the record address + kFlashOffset).
    static constexpr u32 kFlashOffset = 0x273000;
    static constexpr u32 kHeader = 0x480000;
    static constexpr u32 kCopyA = 0x481000;
    static constexpr u32 kCopyB = 0x482000;
    static constexpr u32 kSlots = 0x483000;
    static constexpr u32 kGroupBytes = 512;
    static constexpr u32 kGroups = 8;
    static constexpr u32 kSlotBytes = 16;
    static constexpr u32 kSlotCount = 61 * 256;
    static constexpr u32 kProgressStart = 48;
    static constexpr u32 kProgressBytes = 360;
    static constexpr u32 kGroupSteps = 1440;
    static constexpr u32 kGroupMinutes = 2880;
    static constexpr u32 kMinuteTicks = 6000;
    static constexpr u32 kFirstGroupMinutes = 30;
    static constexpr u8 kMark = 0x5A;
    static constexpr u32 kReportBytes = 22;

    explicit clock_record_run(fpga_manage& manager);
    // The log is closed with its manager: the report answers busy again.
    ~clock_record_run();

    // Opens the log (before the FPGA thread starts).
    void clock_record_init();
    // One minute step when a minute has passed; called every pass.
    void clock_record_deal();
    // Marks the open group (or the next one) after the clock was set; false
    // (logged) when the flash does not read the mark back.
    bool dealwith_record_timing();

    // The time report: total minutes, minutes since power-on, sequence
    // number (3 bytes), power-on time (7 BCD), minutes reported since
    // power-on; u32 little-endian. From one snapshot under the lock; false
    // while the log is not open.
    static bool report(u8 out[kReportBytes]);
    static QMutex& record_mutex();

    // Flash access in record addresses and record sectors (4 KB).
    bool ExFlash_RD(u32 address, u8* dst, u32 len);
    bool ExFlash_WR(u32 address, const u8* src, u32 len);
    bool ExFlash_Erase_Format(u32 sector, u8 type, u32 count);

    // Minutes held by a group record's progress bytes.
    static u32 progress_minutes(const u8* group);
    // Slot q + 1 (wrapping to slot 0 with the wrap count + 1).
    static u32 next_seq(u32 seq);

private:
    // Each false when the flash did not read back all it wrote.
    bool step();
    bool get_new_seq(u32 minutes);
    bool new_record_group_init(u8 group, bool firstOfRun);
    void copy_sector(u32 from, u32 to);
    void take_time();
    bool write_byte(u32 address, u8 value) { return ExFlash_WR(address, &value, 1); }

    fpga_manage& m_manager;
};
