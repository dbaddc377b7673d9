#include "sim/sim_edid_eeprom.h"

#include "video_io/source_map.h"

#include "platform/fileops.h"
#include "sim/sim_board.h"

#include "platform/root.h"

#include "core/logMsg.h"

#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

SimEdidEeprom::SimEdidEeprom(SimBoard& board, int input) : m_board(board), m_path(devicePath(input)) {
    std::memset(m_mem, 0xFF, sizeof m_mem);
    QByteArray stored;
    if (FileOps::readFile(m_path, stored, kSize) && stored.size() == kSize) std::memcpy(m_mem, stored.constData(), kSize);
}

std::string SimEdidEeprom::devicePath(int input) { return "/var/lib/sim/edid_eeprom" + std::to_string(input) + ".bin"; }

bool SimEdidEeprom::write(const uint8_t* data, uint16_t len) {
    const uint64_t now = m_board.clock().nowMs();
    const bool protectedNow = m_board.simGpio().getLine(GpioName::kEdidWrite) == 1;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_absent || now < m_busyUntil) return false;
    if (len == 0) return true;
    m_pointer = data[0];
    if (len == 1 || protectedNow) return true;
    const int base = m_pointer & ~(kPage - 1);
    int at = m_pointer;
    for (uint16_t i = 1; i < len; ++i) {
        m_mem[at] = data[i];
        at = base + ((at + 1) & (kPage - 1));
    }
    m_pointer = uint8_t(at);
    m_busyUntil = now + kWriteMs;
    ++m_pageWrites;
    save();
    return true;
}

bool SimEdidEeprom::read(uint8_t* buf, uint16_t len) {
    const uint64_t now = m_board.clock().nowMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_absent || now < m_busyUntil) return false;
    for (uint16_t i = 0; i < len; ++i) buf[i] = m_mem[m_pointer++];
    return true;
}

std::vector<uint8_t> SimEdidEeprom::contents() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<uint8_t>(m_mem, m_mem + kSize);
}

void SimEdidEeprom::setContents(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::memset(m_mem, 0xFF, sizeof m_mem);
    std::memcpy(m_mem, bytes.data(), std::min<size_t>(bytes.size(), kSize));
    save();
}

int SimEdidEeprom::pageWrites() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pageWrites;
}

void SimEdidEeprom::corruptBaseChecksum() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_mem[127];
    save();
}

void SimEdidEeprom::corruptExtensionChecksum() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_mem[255];
    save();
}

void SimEdidEeprom::setAbsent(bool absent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_absent = absent;
}

// Kept in step with the memory; a model needs no flush to disk.
void SimEdidEeprom::save() {
    const int fd = simOpenFile(Root::path(m_path), O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return;
    if (::write(fd, m_mem, sizeof m_mem) != ssize_t(sizeof m_mem))
        writeLogMsgFor(m_path, ERROR, "sim: " + Root::path(m_path) + " not written whole");
    ::close(fd);
}

std::function<bool(std::vector<uint8_t>&)> simEdidReader(SimBoard& board, int input) {
    SimBoard* b = &board;
    return [b, input](std::vector<uint8_t>& edid) {
        using namespace source_bus;
        if (!validInput(input)) return false;
        auto mem = std::dynamic_pointer_cast<SimEdidEeprom>(
            b->i2cModelBehind(kDevice, kMemSwitch >> 1, kChannel[input], kEeprom >> 1));
        if (!mem) return false;
        edid = mem->contents();
        return true;
    };
}
