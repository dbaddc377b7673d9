// The command block the PC leaves in MCU_RAM_CMD and runs through register 2
// bit 2: the clock setting, the daily on/off schedule and the brightness
// mode, the last two kept in the flash behind FPGA 0 (the brightness record
// once it has stood for a quiet second, as the panel's).
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "fpga/fpga_manage.h"
#include "video_engine/c331_manage.h"

#include <QDate>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace fpgareg;

namespace {

// The PC runs the block as often as it writes the register: each refusal
// is logged for the first of each second, then counted.
LineLimiter& refusedBlocks() {
    static LineLimiter l(LineLimiter::logCount(WARNING, "command block", "blocks refused"));
    return l;
}

constexpr u8 kPresent = 0xAA;
constexpr u8 kStore = 0xAA;
constexpr u8 kErase = 0x55;
constexpr u32 kHead = 8;
constexpr u32 kClockBytes = 7;

bool fixedLevelMode(u8 mode) { return mode == 0 || mode == 16; }

// Data bytes a block of this kind needs (from data byte 8 on); 0 for a kind
// that is not run.
u32 needed(u8 kind, const u8* data, u32 len) {
    switch (kind) {
    case 1: return kClockBytes;
    case 2: return len < 1 ? 1 : 1 + 4 * std::min<u32>(data[0], 4);
    case 3:
        if (len < 1) return 1;
        if (fixedLevelMode(data[0])) return 2;
        if (data[0] == 1 || data[0] == 17) return 49;
        return 1;
    default: return 0;
    }
}

}  // namespace

int fpga_manage::Dealwith_mcu_ram() {
    u8 block[sizeof MCU_RAM_CMD];
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        std::memcpy(block, MCU_RAM_CMD, sizeof block);
    }
    if (block[0] != kPresent) return 0;
    const u8 kind = block[1];
    const u32 len = u32(block[6]) | u32(block[7]) << 8;
    const u8* data = block + kHead;
    const u32 need = needed(kind, data, len);
    if (need == 0) {
        refusedBlocks().occur(
            [&] { writeLogMsg(WARNING, "command block: unknown kind " + std::to_string(kind) + " ignored"); });
        return 0;
    }
    if (len + kHead > sizeof block || len < need) {
        refusedBlocks().occur([&] {
            writeLogMsg(ERROR, "command block: kind " + std::to_string(kind) + " refused, length " + std::to_string(len));
        });
        return 1;
    }
    if (kind == 1) return Checktime(block);
    // The flash driver programs from four bytes into its buffer.
    u8 record[4 + sizeof block];
    std::memcpy(record + 4, block, len + kHead);
    const u8 store = block[2];
    QMutexLocker lock(&bri_mutex);
    if (kind == 2) {
        OnOff_time(block);
        if (store == kStore || store == kErase) {
            // A record the flash did not take (or an erase it did not do)
            // is not marked as done: the schedule and register 66 are the
            // ones the flash holds, as after the next start.
            if (!store_record(FLASH_ONOFF, store == kStore ? record : nullptr, len + kHead)) {
                write_to_register(ONOFF_ACTIVE, 0xFF, take_onoff_record() ? 1 : 0, 0);
                return 2;
            }
            write_to_register(ONOFF_ACTIVE, 0xFF, store == kStore ? 1 : 0, 0);
        }
        return 0;
    }
    const u8 mode = data[0];
    if (!fixedLevelMode(mode)) {
        if (store == kStore || store == kErase) {
            queue_bright_record(store == kStore ? record : nullptr, len + kHead, count_pc_record(), false);
            g_change[17] = 1;
        }
        g_change[26] = 0;
        return 0;
    }
    // A stored level is a change, counted before the level reaches the word:
    // a user's word it supersedes is not handed to the FPGAs after it.
    const u32 change = store == kStore ? count_pc_record() : 0;
    bri_mode = mode;
    set_level_images(data[1]);
    g_change[16] = data[1];
    Brightness_hand_dealwith(false);
    if (store == kStore) {
        queue_bright_record(record, len + kHead, change, false);
        g_change[17] = 1;
    }
    return 0;
}

u32 fpga_manage::count_pc_record() {
    ZrvRamPara* p = ZrvRamPara::p_zrvrampara_config;
    if (!p) return 0;
    u32 change;
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        change = p->countBrightnessRecord();
    }
    // The image file keeps the count, so that a change made after the next
    // start, before the record is read, counts past the record's.
    p->test_signal(1);
    return change;
}

int fpga_manage::Checktime(const u8* block) {
    const u8* d = block + kHead;
    const int yearLow = Utils::fromBcd(d[0]), century = Utils::fromBcd(d[1]), month = Utils::fromBcd(d[2]),
              day = Utils::fromBcd(d[3]);
    const int hour = Utils::fromBcd(d[4]), minute = Utils::fromBcd(d[5]), second = Utils::fromBcd(d[6]);
    // Only checked numbers reach the command line.
    if (yearLow < 0 || century < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59 || !QDate::isValid(century * 100 + yearLow, month, day)) {
        refusedBlocks().occur([] { writeLogMsg(ERROR, "command block: clock setting refused, not a valid BCD time"); });
        return 1;
    }
    const QString stamp =
        QStringLiteral("%1-%2-%3 %4:%5:%6").arg(century * 100 + yearLow).arg(month).arg(day).arg(hour).arg(minute).arg(second);
    // Two lines, as a shell answers a list with its last command's status:
    // a date that did not take would be answered as done, and hwclock would
    // keep the old time over the next power cut. Done only when both took.
    int status = 0;
    const char* step = "date";
    if (Utils::system_mutex(QStringLiteral("date \"%1\"").arg(stamp), &status) == 0) {
        step = "hwclock";
        if (Utils::system_mutex(QStringLiteral("hwclock -wu"), &status) == 0) step = nullptr;
    }
    static LineLimiter failed(LineLimiter::logCount(ERROR, "command block", "clock settings failed"));
    if (step) {
        failed.occur([&] {
            writeLogMsg(ERROR, "command block: clock setting failed at " + stamp.toStdString() + ", " + step +
                                   " ended with status " + std::to_string(status));
        });
        return 2;
    }
    // Done once the run-time record in the flash holds its mark too.
    if (!clock_record.dealwith_record_timing()) {
        failed.occur([&] {
            writeLogMsg(ERROR, "command block: clock set to " + stamp.toStdString() +
                                   ", but the run-time record not marked");
        });
        return 2;
    }
    return 0;
}
