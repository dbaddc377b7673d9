#pragma once
#include <string>

// GPIO lines by name. Which SoC register and bit a name stands for is the
// real backend's business (one board table); models and tests see names.
class GpioLines {
public:
    virtual ~GpioLines() = default;
    virtual bool isOpen() const = 0;
    virtual int setLine(const std::string& name, int value) = 0;  // 0 or -1
    virtual int getLine(const std::string& name) = 0;             // 0, 1 or -1
};
