#pragma once
// An operation this build does not carry out logs so once and does nothing.
#include "core/logMsg.h"

#include <atomic>
#include <string>

inline void log_not_built(std::atomic<bool>& logged, const char* operation) {
    if (!logged.exchange(true)) writeLogMsg(WARNING, std::string(operation) + ": not built");
}
