#pragma once
#include <cstddef>
#include <cstdint>

struct MtdInfo {
    uint8_t type = 0;
    uint32_t flags = 0;
    uint32_t size = 0;
    uint32_t erasesize = 0;
    uint32_t writesize = 0;
};

// An MTD character device (info, unlock, erase, positioned read and write).
class MtdDevice {
public:
    virtual ~MtdDevice() = default;
    virtual bool isOpen() const = 0;
    virtual int getInfo(MtdInfo& info) = 0;                        // 0 or -1
    virtual int unlock(uint32_t start, uint32_t length) = 0;      // 0 or -1
    virtual int erase(uint32_t start, uint32_t length) = 0;       // 0 or -1
    virtual long pwrite(const void* data, size_t len, uint64_t offset) = 0;  // bytes or -1
    virtual long pread(void* data, size_t len, uint64_t offset) = 0;         // bytes or -1
};
