// The command block the PC leaves in MCU_RAM_CMD and runs through register 2
// bit 2. The clock setting is handled here; the schedule and brightness kinds
// go to the later operations.
#include "core/logMsg.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

#include <QDate>
#include <QMutexLocker>

#include <cstring>

namespace {

constexpr u8 kPresent = 0xAA;
constexpr u32 kHead = 8;
constexpr u32 kClockBytes = 7;

}  // namespace

void fpga_manage::Dealwith_mcu_ram() {
    u8 block[sizeof MCU_RAM_CMD];
    {
        QMutexLocker lock(&Utils::_fpga_multicast_mutex);
        std::memcpy(block, MCU_RAM_CMD, sizeof block);
    }
    if (block[0] != kPresent || block[1] != 1) {
        m_ops->run_command_block();
        return;
    }
    const u32 len = u32(block[6]) | u32(block[7]) << 8;
    if (len + kHead > sizeof block || len < kClockBytes) {
        writeLogMsg(ERROR, "command block: clock setting refused, length " + std::to_string(len));
        return;
    }
    const u8* d = block + kHead;
    const int yearLow = Utils::fromBcd(d[0]), century = Utils::fromBcd(d[1]), month = Utils::fromBcd(d[2]), day = Utils::fromBcd(d[3]);
    const int hour = Utils::fromBcd(d[4]), minute = Utils::fromBcd(d[5]), second = Utils::fromBcd(d[6]);
    // Only checked numbers reach the command line.
    if (yearLow < 0 || century < 0 || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
        second > 59 || !QDate::isValid(century * 100 + yearLow, month, day)) {
        writeLogMsg(ERROR, "command block: clock setting refused, not a valid BCD time");
        return;
    }
    const QString command = QStringLiteral("date \"%1-%2-%3 %4:%5:%6\";hwclock -wu")
                                .arg(century * 100 + yearLow)
                                .arg(month)
                                .arg(day)
                                .arg(hour)
                                .arg(minute)
                                .arg(second);
    if (Utils::system_mutex(command) != 0) {
        writeLogMsg(ERROR, "command block: clock setting failed");
        return;
    }
    clock_record.dealwith_record_timing();
}
