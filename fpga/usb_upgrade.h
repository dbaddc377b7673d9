#pragma once
// The upgrade package on a USB stick: a 49-byte head, a table of 21-byte
// entries and the entries' data (little-endian). Every number in it comes
// from the stick and is checked before it is used.
#include "core/global.h"

namespace usbupgrade {

constexpr u32 kHeadBytes = 49;
constexpr u32 kEntryBytes = 21;

constexpr u8 kRelease = 128;             // PublishType: written only when newer
constexpr u16 kController = 0x7652;      // ControllerType of this device

// Entry types.
constexpr u8 kApplication = 10;
constexpr u8 kFpga0Image = 7;
constexpr u8 kFpga1Image = 8;
constexpr u8 kOsdFont = 13;

// A package carries at most one application, one image for each FPGA and
// the four OSD fonts (two encodings, two dot sizes): seven entries. Each
// FPGA entry erases and reprograms its flash from address 0, so a table that
// repeats entries by the thousand wears the flash out and holds the FPGA
// thread for minutes. A table announcing more than kMaxEntries is no package
// of this device: it is refused whole, before any entry is read.
constexpr u16 kMaxEntries = 64;
inline bool entryCountFits(u16 fileNum) { return fileNum <= kMaxEntries; }

// The running application's version: year, month, date, hardware,
// software, function.
constexpr u8 kAppVersion[6] = {24, 10, 20, 11, 2, 1};
// The application goes through one buffer: a longer entry is refused.
constexpr u32 kAppMax = 5u * 1024 * 1024;
constexpr const char* kAppStaged = "/data/app/zrvK57N2";
constexpr const char* kAppFile = "/data/app/zrvK57N";
constexpr const char* kAppFolder = "/data/app";
constexpr const char* kAppName = "zrvK57N";

// A staged application is only ever installed by the run that wrote and
// verified it. One found at start-up was left by a run cut short (power cut,
// kill): it was never installed, and up to kAppMax bytes of it would stay on
// the data partition for good. Removed, with a log line, before the FPGA
// thread can stage another.
void removeLeftStagedApplication();

// FPGA image: a sub-head, then the image, written to the flash from 0. The
// parameter areas, the stored records and the run-time log lie from
// 0x6C0000 up: an image never reaches them.
constexpr u32 kSubHeadBytes = 64;
constexpr u32 kSubHeadLength = 31;       // u32 image length, at an odd offset
constexpr u32 kFpgaImageMax = 0x6C0000;
constexpr u32 kFpgaChunk = 32 * 1024;

// OSD font: the 35-byte head the chip's font reader expects, then the data,
// written whole to the c331's serial flash.
constexpr u32 kFontHeadBytes = 35;
constexpr u32 kFontEncoding = 5;
constexpr u32 kFontDots = 18;
constexpr u32 kFontChunk = 16 * 1024;

struct Head {
    u8 FileType = 0;
    u8 FileVersion = 0;
    u8 PublishType = 0;
    u16 ControllerType = 0;
    u16 FileNum = 0;
};

struct Entry {
    u8 type = 0;
    u32 length = 0;
    u32 offset = 0;
    u8 version[6] = {};
    u32 File_Flashaddr = 0;  // shown only
    u16 SecNum = 0;          // shown only
};

inline u16 rd16(const u8* p) { return u16(p[0] | p[1] << 8); }
inline u32 rd32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

inline Head parseHead(const u8 (&b)[kHeadBytes]) {
    Head h;
    h.FileType = b[0];
    h.FileVersion = b[1];
    h.PublishType = b[2];
    h.ControllerType = rd16(b + 18);
    h.FileNum = rd16(b + 47);
    return h;
}

// Where entry i of the table starts in the package.
inline u64 entryOffset(u32 i) { return kHeadBytes + u64(i) * kEntryBytes; }

inline Entry parseEntry(const u8 (&b)[kEntryBytes]) {
    Entry e;
    e.type = b[0];
    e.length = rd32(b + 1);
    e.offset = rd32(b + 5);
    for (int i = 0; i < 6; ++i) e.version[i] = b[9 + i];
    e.File_Flashaddr = rd32(b + 15);
    e.SecNum = rd16(b + 19);
    return e;
}

// Where a font goes in the c331's serial flash, and how far it may reach
// there (up to the next font, or to the sector holding the OSD bitmap); false
// for an encoding or dot size that has no place.
struct FontPlace {
    u32 address = 0;
    u32 limit = 0;  // bytes from address
};
inline bool fontPlace(u8 encoding, u8 dots, FontPlace* out) {
    if (encoding > 1 || (dots != 0x20 && dots != 0x40)) return false;
    static const FontPlace places[2][2] = {
        {{0x010000, 0x400000}, {0x450000, 0xED9000 - 0x450000}},  // encoding 0: 32, 64 dots
        {{0x000000, 0x010000}, {0x410000, 0x040000}},             // encoding 1
    };
    *out = places[encoding][dots == 0x40 ? 1 : 0];
    return true;
}

// The checks an entry passes before anything is erased or written, on the
// bytes read from the package and the package's size alone, so that they can
// be run on any bytes without a target to write.

// The whole range lies inside a package of `size` bytes.
inline bool holds(u64 size, u64 offset, u64 length) { return offset <= size && length <= size - offset; }

// An application entry of 1 to kAppMax bytes inside the package.
enum class AppCheck { Fits, BadLength, BeyondPackage };
inline AppCheck checkApp(u64 size, u32 offset, u32 length) {
    if (length == 0 || length > kAppMax) return AppCheck::BadLength;
    return holds(size, offset, length) ? AppCheck::Fits : AppCheck::BeyondPackage;
}

// The image length of an FPGA entry whose sub-head has been read: an image
// inside its entry (behind the sub-head), inside the package and below the
// flash's stored areas; 0 when refused.
inline u32 fpgaImageLength(const u8 (&sub)[kSubHeadBytes], u64 size, u32 offset, u32 length) {
    const u32 len = rd32(sub + kSubHeadLength);
    if (length < kSubHeadBytes || len == 0 || len > length - kSubHeadBytes || len > kFpgaImageMax ||
        !holds(size, u64(offset) + kSubHeadBytes, len))
        return 0;
    return len;
}

// Where a font entry whose head has been read goes: false for a font with no
// place, or one reaching beyond its place or its package.
enum class FontCheck { Fits, NoPlace, BeyondPlace };
inline FontCheck checkFont(const u8 (&head)[kFontHeadBytes], u64 size, u32 offset, u32 length, FontPlace* out) {
    if (!fontPlace(head[kFontEncoding], head[kFontDots], out)) return FontCheck::NoPlace;
    if (length < kFontHeadBytes || length > out->limit || !holds(size, offset, length)) return FontCheck::BeyondPlace;
    return FontCheck::Fits;
}

}  // namespace usbupgrade
