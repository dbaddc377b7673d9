#pragma once
// An operation this build does not carry out logs so once and does nothing.
#include "core/logMsg.h"

#include <atomic>
#include <string>

// At the caller's place: each operation's line has its own limit.
inline void log_not_built(std::atomic<bool>& logged, const char* operation, LogPlace at = {}) {
    if (!logged.exchange(true)) writeLogMsg(WARNING, std::string(operation) + ": not built", at);
}
