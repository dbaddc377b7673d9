#include "video_io/drv_i2c0.h"

#include "core/logMsg.h"
#include "platform/board.h"
#include "video_io/source_map.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

std::atomic<u64> Drv_I2C0::s_messages{0};

namespace {
std::mutex g_busMutex;
std::map<int, std::shared_ptr<I2cBus>> g_buses;
int g_nextFd = 3;

std::shared_ptr<I2cBus> busOf(int fd) {
    std::lock_guard<std::mutex> lock(g_busMutex);
    auto it = g_buses.find(fd);
    return it == g_buses.end() ? nullptr : it->second;
}

// A chip as the lines name it, and the device each of its lines is for.
std::string deviceName(u8 device) { return "device " + std::to_string(device); }
}  // namespace

int Drv_I2C0::initialize() {
    std::shared_ptr<I2cBus> bus = Board::get().openI2c(source_bus::kDevice);
    if (!bus || !bus->isOpen()) return -1;
    std::lock_guard<std::mutex> lock(g_busMutex);
    const int fd = g_nextFd++;
    g_buses[fd] = std::move(bus);
    return fd;
}

void Drv_I2C0::release(int fd) {
    std::lock_guard<std::mutex> lock(g_busMutex);
    g_buses.erase(fd);
}

int Drv_I2C0::i2c_write(int fd, u8 device, u8 reg, const u8* data, int count) {
    if (count < 0 || count > kMaxWrite || (count > 0 && !data)) {
        writeLogMsgFor(deviceName(device), ERROR,
                       "i2c_write: " + std::to_string(count) + " bytes to " + deviceName(device) + " refused");
        return 0;
    }
    auto bus = busOf(fd);
    if (!bus) return 0;
    u8 buf[1 + kMaxWrite];
    buf[0] = reg;
    if (count) std::memcpy(buf + 1, data, size_t(count));
    I2cMsg msg{u16(device >> 1), 0, u16(count + 1), buf};
    s_messages.fetch_add(1);
    return bus->transfer(&msg, 1) == 1 ? 1 : 0;
}

int Drv_I2C0::i2c_read(int fd, u8 device, u8 reg, u8* data, int count) {
    if (count <= 0 || count > kMaxRead || !data) {
        writeLogMsgFor(deviceName(device), ERROR,
                       "i2c_read: " + std::to_string(count) + " bytes from " + deviceName(device) + " refused");
        return 0;
    }
    auto bus = busOf(fd);
    if (!bus) return 0;
    u8 in[kMaxRead];
    I2cMsg msgs[2] = {{u16(device >> 1), 0, 1, &reg}, {u16(device >> 1), I2cMsg::Read, u16(count), in}};
    s_messages.fetch_add(2);
    if (bus->transfer(msgs, 2) != 2) return 0;
    std::memcpy(data, in, size_t(count));
    return 1;
}
