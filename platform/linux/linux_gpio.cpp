#include "platform/linux/linux_gpio.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

constexpr uint32_t U = GpioLineDesc::kUnknown;

// Offsets in the register window. Lines written 0x10 for high unless the
// board drives them with bit 0. The lines of the receivers' resets, the
// EDID write protect and the SDI transmitter are wired somewhere in this
// window, but where is not known: they stay unknown and fail when used
// rather than poke a guessed register.
const GpioLineDesc kBoardLines[] = {
    {GpioName::kFpga0Select, 0x207810, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga1Select, 0x207900, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga0Command, 0x207838, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga1Command, 0x20794C, 0x207954, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga0FlashSelect, 0x207860, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga1FlashSelect, 0x20790C, 0x207950, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga0Reset, 0x207858, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga1Reset, 0x207864, U, 0x10, GpioLineDesc::Out},
    {GpioName::kFpga0Irq, 0x207908, U, 0x01, GpioLineDesc::In},
    {GpioName::kFpga1Irq, 0x207910, U, 0x01, GpioLineDesc::In},
    {GpioName::kBoardLow0, 0x207940, U, 0x10, GpioLineDesc::Out},
    {GpioName::kBoardLow1, 0x207944, U, 0x10, GpioLineDesc::Out},
    {GpioName::kBoardHigh, 0x207948, U, 0x10, GpioLineDesc::Out},
    {GpioName::kBoardOne, 0x001F1C, U, 0x01, GpioLineDesc::Out},
    {GpioName::kGs2971Reset, 0x002848, U, 0x01, GpioLineDesc::Out},
    {GpioName::kIt6602Reset, U, U, 0x10, GpioLineDesc::Out},
    {GpioName::kIt6805Reset, U, U, 0x10, GpioLineDesc::Out},
    {GpioName::kEdidWrite, U, U, 0x10, GpioLineDesc::Out},
    {GpioName::kSdiTransmitter, U, U, 0x10, GpioLineDesc::Out},
};
constexpr size_t kLineCount = sizeof kBoardLines / sizeof kBoardLines[0];

// The request block msys fills in with the window's physical base and size.
struct MsysWindowRequest {
    uint32_t tag;
    uint32_t physBase;
    uint32_t reserved;
    uint32_t length;
    uint32_t size;
};
constexpr uint32_t kMsysWindowTag = 0x4D530100;
constexpr unsigned long kMsysWindowRequest = 0x5315;

}  // namespace

const GpioLineDesc* gpioBoardTable(size_t& count) {
    count = kLineCount;
    return kBoardLines;
}

LinuxGpio::LinuxGpio() : m_lineFault(new FaultNote[kLineCount]) {}

LinuxGpio::LinuxGpio(volatile uint8_t* window, size_t length) : LinuxGpio() {
    m_window = window;
    m_length = length;
}

LinuxGpio::~LinuxGpio() {
    if (m_mapped) ::munmap(const_cast<uint8_t*>(m_window), m_length);
}

bool LinuxGpio::mapWindow(const std::string& msysHostPath, const std::string& memHostPath) {
    if (m_window) return true;
    const int msys = ::open(msysHostPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (msys < 0) {
        writeLogMsg(ERROR, linuxfault::describe("can't open", msysHostPath, errno));
        return false;
    }
    MsysWindowRequest req{kMsysWindowTag, 0, 0, 0, sizeof(MsysWindowRequest)};
    const int r = ::ioctl(msys, kMsysWindowRequest, &req);
    const int reqErr = errno;
    ::close(msys);
    if (r != 0 || req.length == 0) {
        writeLogMsg(ERROR, linuxfault::describe("GPIO window request failed on", msysHostPath, r ? reqErr : 0));
        return false;
    }
    const int mem = ::open(memHostPath.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    if (mem < 0) {
        writeLogMsg(ERROR, linuxfault::describe("can't open", memHostPath, errno));
        return false;
    }
    void* p = ::mmap(nullptr, req.length, PROT_READ | PROT_WRITE, MAP_SHARED, mem, off_t(req.physBase));
    const int mapErr = errno;
    ::close(mem);  // the mapping outlives the descriptor
    if (p == MAP_FAILED || p == nullptr) {
        writeLogMsg(ERROR, linuxfault::describe("GPIO window mapping failed on", memHostPath, mapErr));
        return false;
    }
    m_window = static_cast<volatile uint8_t*>(p);
    m_length = req.length;
    m_mapped = true;
    return true;
}

const GpioLineDesc* LinuxGpio::usable(const std::string& name, size_t& index) {
    for (index = 0; index < kLineCount; ++index)
        if (name == kBoardLines[index].name) break;
    if (index == kLineCount) {
        m_unknownNameFault.fail(name, "GPIO line " + name + ": no such line on this board");
        return nullptr;
    }
    // Each line's faults are its own, a window not mapped included: the
    // first line used never hides the others'.
    if (!m_window) {
        m_lineFault[index].fail(name, "GPIO line " + name + ": the register window is not mapped");
        return nullptr;
    }
    const GpioLineDesc& d = kBoardLines[index];
    const bool placed = d.offset != GpioLineDesc::kUnknown && size_t(d.offset) + 2 <= m_length &&
                        (d.offset2 == GpioLineDesc::kUnknown || size_t(d.offset2) + 2 <= m_length);
    if (!placed) {
        m_lineFault[index].fail(name, d.offset == GpioLineDesc::kUnknown
                                          ? "GPIO line " + name + ": register offset unknown on this board"
                                          : "GPIO line " + name + ": register outside the mapped window");
        return nullptr;
    }
    return &d;
}

int LinuxGpio::setLine(const std::string& name, int value) {
    size_t index = 0;
    const GpioLineDesc* d = usable(name, index);
    if (!d) return -1;
    if (d->direction != GpioLineDesc::Out) {
        m_lineFault[index].fail(name, "GPIO line " + name + ": an input cannot be driven");
        return -1;
    }
    const uint16_t v = value ? d->onValue : 0;
    *reg(d->offset) = v;
    if (d->offset2 != GpioLineDesc::kUnknown) *reg(d->offset2) = v;
    return 0;
}

int LinuxGpio::getLine(const std::string& name) {
    size_t index = 0;
    const GpioLineDesc* d = usable(name, index);
    if (!d) return -1;
    return (*reg(d->offset) & d->onValue) ? 1 : 0;
}
