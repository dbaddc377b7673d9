// A USB upgrade package as a stick brings it: the head, the entry table and
// each entry's sub-head or font head go through the checks the upgrade runs
// before it erases anything. Every range they let through is read whole
// here, so a check that lets one reach past the package shows as an
// overflow, and one that lets an image or a font past its place traps.
#include "fpga/usb_upgrade.h"

#include <cstdint>
#include <cstring>

using namespace usbupgrade;

namespace {

volatile u8 g_sink;

// Reads every byte of what a write would take from the package.
void take(const uint8_t* data, u64 offset, u64 length) {
    u8 x = 0;
    for (u64 i = 0; i < length; ++i) x ^= data[offset + i];
    g_sink = x;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeadBytes) return 0;
    u8 hb[kHeadBytes];
    std::memcpy(hb, data, kHeadBytes);
    const Head head = parseHead(hb);
    if (!entryCountFits(head.FileNum)) return 0;  // refused whole
    for (u32 i = 0; i < head.FileNum; ++i) {
        if (!holds(size, entryOffset(i), kEntryBytes)) break;
        u8 eb[kEntryBytes];
        std::memcpy(eb, data + entryOffset(i), kEntryBytes);
        const Entry e = parseEntry(eb);
        if (e.type == kApplication) {
            if (checkApp(size, e.offset, e.length) != AppCheck::Fits) continue;
            if (e.length > kAppMax) __builtin_trap();
            take(data, e.offset, e.length);
        } else if (e.type == kFpga0Image || e.type == kFpga1Image) {
            if (e.length < kSubHeadBytes || !holds(size, e.offset, kSubHeadBytes)) continue;
            u8 sub[kSubHeadBytes];
            std::memcpy(sub, data + e.offset, kSubHeadBytes);
            const u32 len = fpgaImageLength(sub, size, e.offset, e.length);
            if (len == 0) continue;
            // The image stays inside its entry and below the stored areas.
            if (len > e.length - kSubHeadBytes || len > kFpgaImageMax) __builtin_trap();
            take(data, u64(e.offset) + kSubHeadBytes, len);
        } else if (e.type == kOsdFont) {
            if (e.length < kFontHeadBytes || !holds(size, e.offset, kFontHeadBytes)) continue;
            u8 fh[kFontHeadBytes];
            std::memcpy(fh, data + e.offset, kFontHeadBytes);
            FontPlace place;
            if (checkFont(fh, size, e.offset, e.length, &place) != FontCheck::Fits) continue;
            // A font stays in its place of the serial flash (16 MB).
            if (e.length > place.limit || u64(place.address) + e.length > 0x1000000u) __builtin_trap();
            take(data, e.offset, e.length);
        }
    }
    return 0;
}
