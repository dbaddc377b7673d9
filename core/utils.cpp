#include "core/utils.h"

#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "platform/board.h"
#include "platform/mtd.h"

#include <QMutexLocker>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

QMutex Utils::_system_mutex;
QMutex Utils::_spi_mutex;
QMutex Utils::_c331_bnk_mutex;
QMutex Utils::_file_deal_mutex;
QMutex Utils::_source_init_mutex;
QMutex Utils::_source_hdminfo_mutex;
QMutex Utils::_check_nosig_mutex;
QMutex Utils::_test_signal_mutex;
QMutex Utils::_led_para_init_mutex;
QMutex Utils::_bri_set_mutex;
QMutex Utils::_fpga_multicast_mutex;
QMutex Utils::_usleep_mutex;

u8 Utils::BCC(const u8* data, u32 len) {
    // Eight bytes at a time, folded at the end: XOR does not care about order.
    u64 w = 0;
    u32 i = 0;
    for (; i + 8 <= len; i += 8) {
        u64 v;
        std::memcpy(&v, data + i, sizeof v);
        w ^= v;
    }
    w ^= w >> 32;
    w ^= w >> 16;
    w ^= w >> 8;
    u8 x = u8(w);
    for (; i < len; ++i) x ^= data[i];
    return x;
}

namespace {
std::array<u32, 256> makeCrcTable() {
    std::array<u32, 256> t{};
    for (u32 n = 0; n < 256; ++n) {
        u32 c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    return t;
}
}  // namespace

u32 Utils::calcCRC32(const u8* data, u32 len) {
    static const std::array<u32, 256> table = makeCrcTable();
    u32 crc = 0;
    for (u32 i = 0; i < len; ++i) crc = table[(data[i] ^ crc) & 0xFF] ^ (crc >> 8);
    return crc;
}

u32 Utils::getTimeSpace(u32 start) { return getTimeSpace(start, G_timeTicks.load()); }

int Utils::system_mutex(const QString& command, int* status) {
    QMutexLocker lock(&_system_mutex);
    const int r = Board::get().shell().run(command.toLatin1().toStdString());
    if (status) *status = r;
    return r == 0 ? 0 : 255;
}

int Utils::fromBcd(u8 b) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return -1;
    return (b >> 4) * 10 + (b & 0x0F);
}

void Utils::sleep_us(u32 microseconds) { Board::get().clock().sleepUs(microseconds); }
void Utils::sleep_ms(u32 milliseconds) { Board::get().clock().sleepMs(milliseconds); }

bool Utils::pollUntil(u32 boundMs, const std::function<bool()>& ready, u32 firstUs, u32 maxUs) {
    Clock& clock = Board::get().clock();
    const u64 end = clock.nowUs() + u64(boundMs) * 1000;
    u64 pause = std::max<u32>(firstUs, 1);
    for (;;) {
        if (ready()) return true;
        const u64 now = clock.nowUs();
        if (now >= end) return false;
        // The last pause ends at the bound, for the last read.
        clock.sleepUs(std::min(pause, end - now));
        pause = std::min<u64>(2 * pause, std::max(maxUs, firstUs));
    }
}

int Utils::usleep_mutex(u32 microseconds) {
    QMutexLocker lock(&_usleep_mutex);
    sleep_us(microseconds);
    return 0;
}

int Utils::msleep_mutex(u32 milliseconds) { return usleep_mutex(milliseconds * 1000); }

namespace {
// True when the MTD device holds `want` over [offset, offset + length)
// (every byte 0xFF for null), read through the device in pieces.
bool mtdHolds(MtdDevice& mtd, u32 offset, u32 length, const u8* want) {
    constexpr u32 kPiece = 64 * 1024;
    std::vector<u8> back(std::min(length, kPiece));
    for (u32 done = 0; done < length;) {
        const u32 n = std::min(length - done, kPiece);
        if (mtd.pread(back.data(), n, u64(offset) + done) != long(n)) return false;
        const bool same = want ? std::memcmp(back.data(), want + done, n) == 0
                               : std::all_of(back.begin(), back.begin() + n, [](u8 b) { return b == 0xFF; });
        if (!same) return false;
        done += n;
    }
    return true;
}
}  // namespace

u32 Utils::non_region_erase(MtdDevice& mtd, int offset, int length, int unlock) {
    MtdInfo info;
    // Without the geometry nothing can be erased: report it, the caller
    // would otherwise write over old data.
    if (mtd.getInfo(info) != 0 || info.erasesize == 0) return 9;
    if (offset < 0 || length < 0) return 8;
    u32 blocks = u32(length) / info.erasesize + ((u32(length) % info.erasesize) ? 1 : 0);
    u32 start = u32(offset);
    // The PC sends kernel and logo images as often as it likes: the lines of
    // their erases and failed writes print the first of each second, then a
    // count.
    static LineLimiter eraseLines([](u64 n) {
        debugPrintf("\r\n%llu more flash erases in the last second\n", static_cast<unsigned long long>(n));
    });
    for (u32 i = 0; i < blocks; ++i) {
        eraseLines.occur([&] {
            debugPrintf("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", info.erasesize, start);
        });
        if (unlock && mtd.unlock(start, info.erasesize) != 0) return 8;
        if (mtd.erase(start, info.erasesize) != 0) return 8;
        // A block its protection covers takes the erase and keeps its bytes.
        if (!mtdHolds(mtd, start, info.erasesize, nullptr)) return 10;
        start += info.erasesize;
    }
    return 0;
}

u32 Utils::non_region_write(MtdDevice& mtd, const u8* data, int length, int offset) {
    static LineLimiter writeErrors([](u64 n) {
        debugPrintf("\n nand non_region_write: %llu more errors in the last second\n",
                    static_cast<unsigned long long>(n));
    });
    MtdInfo info;
    if (mtd.getInfo(info) != 0 || info.writesize == 0 || length < 0 || offset < 0) return 1;
    const u32 piece = info.writesize;
    u32 done = 0;
    const u32 total = u32(length);
    while (total - done >= piece) {
        long n = mtd.pwrite(data + done, piece, u64(offset) + done);
        if (n != long(piece)) {
            writeErrors.occur([&] {
                debugPrintf("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n", unsigned(n),
                            piece, unsigned(offset) + done, total);
            });
            return 1;
        }
        done += piece;
    }
    if (done < total) {
        long n = mtd.pwrite(data + done, total - done, u64(offset) + done);
        if (n != long(total - done)) {
            writeErrors.occur(
                [&] { debugPrintf("\n nand non_region_write error %#x,size=%#x \n", unsigned(n), total - done); });
            return 1;
        }
    }
    // Written is what the flash gives back: a protected block takes the
    // write and keeps its bytes, a block not erased only clears bits.
    return mtdHolds(mtd, u32(offset), total, data) ? 0 : 2;
}

bool Utils::isDottedQuad(const QString& text) {
    const QStringList parts = text.split('.');
    if (parts.size() != 4) return false;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3) return false;
        for (QChar c : p)
            if (!c.isDigit() || c.unicode() > '9') return false;
        if (p.toInt() > 255) return false;
    }
    return true;
}

