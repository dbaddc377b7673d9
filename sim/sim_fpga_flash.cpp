#include "sim/sim_fpga_flash.h"

#include "core/logMsg.h"
#include "platform/gpio.h"
#include "sim/sim_board.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
constexpr const char* kSelect[2] = {GpioName::kFpga0Select, GpioName::kFpga1Select};
constexpr const char* kFlashSelect[2] = {GpioName::kFpga0FlashSelect, GpioName::kFpga1FlashSelect};
constexpr uint32_t kPage = 256;
constexpr uint32_t kSector = 4096;

uint32_t addr24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
}  // namespace

SimFpgaFlash::SimFpgaFlash(int fpga, SimGpio& gpio, const std::string& hostPath, const std::string& logHostPath)
    : m_fpga(fpga & 1), m_gpio(gpio), m_path(hostPath), m_logPath(logHostPath) {}

SimFpgaFlash::~SimFpgaFlash() {
    if (m_fd >= 0) ::close(m_fd);
}

bool SimFpgaFlash::open(bool create) {
    if (m_fd >= 0) return true;
    // A file not there reads as an erased flash until the first write
    // makes it.
    m_fd = simOpenFile(m_path, O_RDWR);
    if (m_fd >= 0 || !create) return m_fd >= 0;
    m_fd = simOpenFile(m_path, O_RDWR | O_CREAT);
    if (m_fd < 0) return false;
    const std::vector<uint8_t> erased(1 << 20, 0xFF);
    for (uint32_t at = 0; at < kSize; at += uint32_t(erased.size()))
        if (::pwrite(m_fd, erased.data(), erased.size(), off_t(at)) != ssize_t(erased.size())) {
            writeLogMsgFor(m_path, ERROR, "sim flash: can't write " + m_path);
            break;
        }
    return true;
}

void SimFpgaFlash::readLocked(uint32_t address, uint8_t* out, uint32_t length) {
    std::fill(out, out + length, uint8_t(0xFF));
    if (!open(false)) return;
    for (uint32_t done = 0; done < length;) {
        const uint32_t a = (address + done) % kSize;
        const uint32_t n = std::min(length - done, kSize - a);
        if (::pread(m_fd, out + done, n, off_t(a)) < 0) return;
        done += n;
    }
}

void SimFpgaFlash::programLocked(uint32_t address, const uint8_t* data, uint32_t length) {
    if (!open(true)) return;
    const uint32_t base = address & ~(kPage - 1);
    uint8_t page[kPage];
    if (::pread(m_fd, page, kPage, off_t(base)) != ssize_t(kPage)) return;
    for (uint32_t i = 0; i < length; ++i) page[(address + i) % kPage] &= data[i];
    if (::pwrite(m_fd, page, kPage, off_t(base)) != ssize_t(kPage))
        writeLogMsgFor(m_path, ERROR, "sim flash: can't write " + m_path);
}

void SimFpgaFlash::eraseLocked(uint32_t address, uint32_t length) {
    if (!open(true)) return;
    const std::vector<uint8_t> erased(length, 0xFF);
    if (::pwrite(m_fd, erased.data(), length, off_t(address)) != ssize_t(length))
        writeLogMsgFor(m_path, ERROR, "sim flash: can't write " + m_path);
    for (uint32_t s = address / kSector; s < (address + length) / kSector; ++s) ++m_erases[s];
    if (!m_logPath.empty()) {
        char line[48];
        std::snprintf(line, sizeof line, "erase 0x%06X %u", unsigned(address), unsigned(length));
        m_logFile.append(m_logPath, line);
    }
}

void SimFpgaFlash::transfer(const uint8_t* tx, uint8_t* rx, uint32_t len) {
    const bool selected = m_gpio.getLine(kSelect[m_fpga]) == 0 && m_gpio.getLine(kFlashSelect[m_fpga]) == 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::fill(rx, rx + len, uint8_t(0xFF));
    if (len == 0) return;
    if (!selected) {
        ++m_ignored;
        return;
    }
    const uint8_t op = tx[0];
    switch (op) {
    case 0x06:
        m_writeEnabled = true;
        m_log.push({op, 0, 0});
        return;
    case 0x05: {
        bool busy = m_busyLeft != 0;
        if (m_busyLeft > 0) --m_busyLeft;
        if (len >= 2) rx[1] = uint8_t((busy ? 0x01 : 0) | (m_writeEnabled ? 0x02 : 0));
        return;
    }
    case 0x20:
    case 0x52:
    case 0xD8: {
        if (len < 4) return;
        const uint32_t size = op == 0x20 ? 4096 : op == 0x52 ? 32768 : 65536;
        const uint32_t a = addr24(tx + 1);
        m_log.push({op, a, 0});
        if (!m_writeEnabled || a % size || a + size > kSize) return;
        if (!protectedLocked(a, size)) eraseLocked(a, size);
        m_writeEnabled = false;
        m_busyLeft = m_busyPolls;
        return;
    }
    case 0x02: {
        if (len < 5) return;
        const uint32_t a = addr24(tx + 1);
        m_log.push({op, a, len - 4});
        if (!m_writeEnabled) return;
        // The page the command programs wraps at its end.
        if (!protectedLocked(a & ~(kPage - 1), kPage)) programLocked(a, tx + 4, len - 4);
        m_writeEnabled = false;
        m_busyLeft = m_busyPolls;
        return;
    }
    case 0x0B:
        if (len < 5) return;
        m_log.push({op, addr24(tx + 1), len - 5});
        readLocked(addr24(tx + 1), rx + 5, len - 5);
        return;
    case 0x4B:
        m_log.push({op, 0, 0});
        for (uint32_t i = 5; i < len && i < 13; ++i) rx[i] = m_uid[i - 5];
        return;
    default:
        m_log.push({op, 0, 0});
        return;
    }
}

std::vector<uint8_t> SimFpgaFlash::read(uint32_t address, uint32_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint8_t> out(length);
    readLocked(address, out.data(), length);
    return out;
}

void SimFpgaFlash::preload(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (uint32_t done = 0; done < bytes.size();) {
        const uint32_t a = address + done;
        const uint32_t n = std::min(uint32_t(bytes.size()) - done, kPage - a % kPage);
        programLocked(a, bytes.data() + done, n);
        done += n;
    }
}

std::vector<SimFpgaFlash::Command> SimFpgaFlash::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log.items();
}

void SimFpgaFlash::clearLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

uint32_t SimFpgaFlash::eraseCount(uint32_t sector) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_erases.find(sector);
    return it == m_erases.end() ? 0 : it->second;
}

int SimFpgaFlash::ignoredMessages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ignored;
}

void SimFpgaFlash::setBusyPolls(int polls) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_busyPolls = polls;
    m_busyLeft = polls < 0 ? -1 : 0;
}

bool SimFpgaFlash::protectedLocked(uint32_t address, uint32_t length) const {
    return m_protectedLength != 0 && address < m_protectedFrom + m_protectedLength &&
           m_protectedFrom < address + length;
}

void SimFpgaFlash::setProtected(uint32_t address, uint32_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_protectedFrom = address;
    m_protectedLength = length;
}

void SimFpgaFlash::setUid(const std::array<uint8_t, 8>& uid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_uid = uid;
}
