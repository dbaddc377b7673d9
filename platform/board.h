#pragma once
// The set of platform backends, chosen once at start-up from the environment
// (ZRV_BOARD=sim: the simulated board, else the real one). Code reaches the
// hardware only through Board::get(), never through #ifdef.
#include "platform/clock.h"
#include "platform/gpio.h"
#include "platform/i2c.h"
#include "platform/mtd.h"
#include "platform/serial.h"
#include "platform/shell.h"
#include "platform/spi.h"
#include "platform/touch.h"
#include "platform/uevent.h"

#include <cstdint>
#include <memory>
#include <string>

class Board {
public:
    virtual ~Board() = default;

    // The installed board; installs the one the environment names on first
    // use when none was installed (once, whichever threads ask).
    static Board& get();
    // The installed board, or null: never installs one. For the log, whose
    // lines an installation writes.
    static Board* installed();
    // Replaces the board (start-up, tests). Not thread-safe: call it before
    // any worker thread runs.
    static void install(std::unique_ptr<Board> board);
    // ZRV_BOARD, ZRV_ROOT and ZRV_BOARD_CONFIG: builds and installs the board
    // and sets the root folder, unless a board is installed already.
    static void installFromEnvironment();

    virtual bool isSimulated() const = 0;

    // Device paths are device paths ("/dev/spidev32766.0"); the backend
    // resolves them under the root where it needs files.
    virtual std::unique_ptr<SpiDevice> openSpi(const std::string& devicePath) = 0;
    virtual std::unique_ptr<I2cBus> openI2c(const std::string& devicePath) = 0;
    virtual std::unique_ptr<MtdDevice> openMtd(const std::string& devicePath) = 0;
    virtual std::unique_ptr<SerialPort> openSerial(const std::string& devicePath, int baud) = 0;
    virtual std::unique_ptr<UeventSource> openUevents() = 0;
    virtual std::unique_ptr<TouchSource> openTouch(const std::string& devicePath) = 0;
    virtual GpioLines& gpio() = 0;
    virtual ShellRunner& shell() = 0;
    virtual Clock& clock() = 0;
    // The SoC's three unique-id words; false when they cannot be read.
    virtual bool readSocIdWords(uint16_t& x, uint16_t& y, uint16_t& z) = 0;
};
