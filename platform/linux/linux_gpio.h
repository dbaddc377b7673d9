#pragma once
#include "platform/gpio.h"
#include "platform/linux/linux_fault.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// One line of the board: the 16-bit register(s) in the SoC's register
// window that stand for it. A line driven through two registers has both
// written together; `onValue` is what a high level writes and the bit a read
// tests.
struct GpioLineDesc {
    enum Direction { Out, In };
    static constexpr uint32_t kUnknown = 0xFFFFFFFF;
    const char* name;
    uint32_t offset;
    uint32_t offset2;  // kUnknown when the line has one register
    uint16_t onValue;
    Direction direction;
};

// The board's line table, in one place.
const GpioLineDesc* gpioBoardTable(size_t& count);

// The GPIO lines over the SoC register window. On the device the window is
// asked of "/dev/msys" and mapped from "/dev/mem"; a test lends a buffer.
class LinuxGpio : public GpioLines {
public:
    LinuxGpio();
    // Lines over a window owned by the caller.
    LinuxGpio(volatile uint8_t* window, size_t length);
    ~LinuxGpio() override;
    LinuxGpio(const LinuxGpio&) = delete;
    LinuxGpio& operator=(const LinuxGpio&) = delete;

    // Asks the window's place of msys and maps it from mem; false (logged)
    // when either fails. Call once, before any line is used.
    bool mapWindow(const std::string& msysHostPath, const std::string& memHostPath);

    bool isOpen() const override { return m_window != nullptr; }
    int setLine(const std::string& name, int value) override;
    int getLine(const std::string& name) override;

private:
    // The line's table entry, or null (logged) when it cannot be used.
    const GpioLineDesc* usable(const std::string& name, size_t& index);
    volatile uint16_t* reg(uint32_t offset) const {
        return reinterpret_cast<volatile uint16_t*>(m_window + offset);
    }

    volatile uint8_t* m_window = nullptr;
    size_t m_length = 0;
    bool m_mapped = false;  // the window is ours to unmap
    FaultNote m_unknownNameFault;
    std::unique_ptr<FaultNote[]> m_lineFault;
};
