#include "platform/linux/linux_socid.h"

#include "platform/linux/linux_fault.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {
// The SoC's register block that holds the unique-id words.
constexpr off_t kBlockBase = 0x1F000000;
constexpr size_t kBlockLength = 0x2B0000;
// Bit 8 of this register is cleared before the id words are read.
constexpr size_t kIdControl = 0x1F00400C - kBlockBase;
constexpr uint16_t kIdControlHide = 0x0100;
constexpr size_t kIdWordX = 0x1F004058 - kBlockBase;
constexpr size_t kIdWordY = 0x1F00405C - kBlockBase;
constexpr size_t kIdWordZ = 0x1F004060 - kBlockBase;
}  // namespace

bool linuxReadSocIdWords(const std::string& memHostPath, uint16_t& x, uint16_t& y, uint16_t& z) {
    const int fd = ::open(memHostPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        writeLogMsg(ERROR, linuxfault::describe("device id: can't open", memHostPath, errno));
        return false;
    }
    // A plain file standing in for the node (a PC run under another root)
    // that ends before the block would fault on the first access.
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < off_t(kBlockBase + off_t(kBlockLength))) {
        writeLogMsg(ERROR, "device id: " + memHostPath + " does not reach the id registers");
        ::close(fd);
        return false;
    }
    void* p = ::mmap(nullptr, kBlockLength, PROT_READ | PROT_WRITE, MAP_SHARED, fd, kBlockBase);
    const int mapErr = errno;
    ::close(fd);
    if (p == MAP_FAILED) {
        writeLogMsg(ERROR, linuxfault::describe("device id: mapping failed on", memHostPath, mapErr));
        return false;
    }
    volatile uint8_t* block = static_cast<volatile uint8_t*>(p);
    auto word = [block](size_t off) -> volatile uint16_t& { return *reinterpret_cast<volatile uint16_t*>(block + off); };
    word(kIdControl) = uint16_t(word(kIdControl) & ~kIdControlHide);
    x = word(kIdWordX);
    y = word(kIdWordY);
    z = word(kIdWordZ);
    ::munmap(p, kBlockLength);
    return true;
}
