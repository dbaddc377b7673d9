#pragma once
// Words of the parameter image as the persisted file holds them.
#include "support/test_env.h"

#include "core/zrvrampara.h"

#include <string>

// words image words from offset in "/data/ram_device_info"; -1 for a word
// the file does not reach.
inline Vals persistedWords(u32 offset, int words) {
    const std::string file = readHostFile(Root::path(ZrvFiles::RAM_DEVICE_INFO));
    Vals v;
    for (int i = 0; i < words; ++i) {
        const size_t at = RamFile::DATA_OFFSET + offset + 2 * u32(i) - RamOffset::PERSIST_BEGIN;
        v.push_back(at + 1 < file.size() ? u8(file[at]) | (u8(file[at + 1]) << 8) : -1);
    }
    return v;
}
