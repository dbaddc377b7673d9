#include "platform/board.h"

// Placeholder of the real backends; replaced by the Linux implementations.
namespace {
class LinuxBoard : public Board {
public:
    bool isSimulated() const override { return false; }
    std::unique_ptr<SpiDevice> openSpi(const std::string&) override { return nullptr; }
    std::unique_ptr<I2cBus> openI2c(const std::string&) override { return nullptr; }
    std::unique_ptr<MtdDevice> openMtd(const std::string&) override { return nullptr; }
    std::unique_ptr<SerialPort> openSerial(const std::string&, int) override { return nullptr; }
    std::unique_ptr<UeventSource> openUevents() override { return nullptr; }
    std::unique_ptr<TouchSource> openTouch(const std::string&) override { return nullptr; }
    GpioLines& gpio() override { return *static_cast<GpioLines*>(nullptr); }
    ShellRunner& shell() override { return *static_cast<ShellRunner*>(nullptr); }
    Clock& clock() override { return m_clock; }
    bool readSocIdWords(uint16_t&, uint16_t&, uint16_t&) override { return false; }

private:
    SystemClock m_clock;
};
}  // namespace

std::unique_ptr<Board> makeLinuxBoard() { return std::make_unique<LinuxBoard>(); }
