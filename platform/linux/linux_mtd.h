#pragma once
#include "platform/mtd.h"

#include <string>

// An MTD character device ("/dev/mtdN").
class LinuxMtdDevice : public MtdDevice {
public:
    explicit LinuxMtdDevice(const std::string& hostPath);
    ~LinuxMtdDevice() override;
    LinuxMtdDevice(const LinuxMtdDevice&) = delete;
    LinuxMtdDevice& operator=(const LinuxMtdDevice&) = delete;

    bool isOpen() const override { return m_fd >= 0; }
    int getInfo(MtdInfo& info) override;
    int unlock(uint32_t start, uint32_t length) override;
    int erase(uint32_t start, uint32_t length) override;
    long pwrite(const void* data, size_t len, uint64_t offset) override;
    long pread(void* data, size_t len, uint64_t offset) override;

private:
    std::string m_path;
    int m_fd = -1;
};
