#pragma once
#include <cstddef>

// Kernel object uevents (netlink), or injected ones in simulation.
class UeventSource {
public:
    virtual ~UeventSource() = default;
    virtual bool isOpen() const = 0;
    // Waits at most timeoutMs for one message; bytes received, 0 on time-out,
    // -1 on error.
    virtual long receive(char* buf, size_t cap, int timeoutMs) = 0;
    // Ends the receive in progress, and every later one, at once (returning
    // 0): the watcher's stop. Safe from any thread.
    virtual void interrupt() = 0;
};
