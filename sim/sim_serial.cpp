#include "sim/sim_board.h"

// Placeholder until the serial lines are built: every port opens as absent.
namespace {
class AbsentSerial : public SerialPort {
public:
    bool isOpen() const override { return false; }
    long readTimeout(uint8_t*, size_t, int) override { return -1; }
    long write(const uint8_t*, size_t) override { return -1; }
    void drain() override {}
    int setRts(bool) override { return -1; }
};
}  // namespace

std::unique_ptr<SerialPort> simOpenSerial(const std::string&, int) { return std::make_unique<AbsentSerial>(); }
