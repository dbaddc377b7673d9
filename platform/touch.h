#pragma once

// Touch activity of the panel ("/dev/input/event1" on the device).
class TouchSource {
public:
    virtual ~TouchSource() = default;
    virtual bool isOpen() const = 0;
    // True when any input event arrived since the last call; never blocks.
    virtual bool takeActivity() = 0;
};
