#include "platform/board.h"

#include "platform/linux/linux_gpio.h"
#include "platform/linux/linux_i2c.h"
#include "platform/linux/linux_mtd.h"
#include "platform/linux/linux_serial.h"
#include "platform/linux/linux_shell.h"
#include "platform/linux/linux_socid.h"
#include "platform/linux/linux_spi.h"
#include "platform/linux/linux_touch.h"
#include "platform/linux/linux_uevent.h"
#include "platform/root.h"

#include <mutex>

// The device's own hardware. Every node is opened under the root, so a PC
// run with ZRV_ROOT can point this backend at stand-in nodes. A node that
// cannot be opened gives a device whose isOpen() is false, never null.
namespace {
class LinuxBoard : public Board {
public:
    bool isSimulated() const override { return false; }
    std::unique_ptr<SpiDevice> openSpi(const std::string& devicePath) override {
        return std::make_unique<LinuxSpiDevice>(Root::path(devicePath));
    }
    std::unique_ptr<I2cBus> openI2c(const std::string& devicePath) override {
        return std::make_unique<LinuxI2cBus>(Root::path(devicePath));
    }
    std::unique_ptr<MtdDevice> openMtd(const std::string& devicePath) override {
        return std::make_unique<LinuxMtdDevice>(Root::path(devicePath));
    }
    std::unique_ptr<SerialPort> openSerial(const std::string& devicePath, int baud) override {
        return std::make_unique<LinuxSerialPort>(Root::path(devicePath), baud);
    }
    std::unique_ptr<UeventSource> openUevents() override { return std::make_unique<LinuxUeventSource>(); }
    std::unique_ptr<TouchSource> openTouch(const std::string& devicePath) override {
        return std::make_unique<LinuxTouchSource>(Root::path(devicePath));
    }
    // The register window is mapped on first use: the FPGA manager's start
    // asks for it, and a board that never touches a line never maps it.
    GpioLines& gpio() override {
        std::call_once(m_gpioOnce, [this] { m_gpio.mapWindow(Root::path("/dev/msys"), Root::path("/dev/mem")); });
        return m_gpio;
    }
    ShellRunner& shell() override { return m_shell; }
    Clock& clock() override { return m_clock; }
    bool readSocIdWords(uint16_t& x, uint16_t& y, uint16_t& z) override {
        return linuxReadSocIdWords(Root::path("/dev/mem"), x, y, z);
    }

private:
    std::once_flag m_gpioOnce;
    LinuxGpio m_gpio;
    LinuxShellRunner m_shell;
    SystemClock m_clock;
};
}  // namespace

std::unique_ptr<Board> makeLinuxBoard() { return std::make_unique<LinuxBoard>(); }
