#pragma once
// The video-processor manager. Writers anywhere in the program take its
// mutex, edit the live parameter image, raise the apply flag and unlock; the
// c331 thread applies what changed.
#include "core/global.h"

#include <QMutex>

#include <atomic>

class c331_manage {
public:
    static c331_manage* p_c331_manage;
    // Creates the manager on first use without starting its thread. Writers
    // of the parameter image use this to reach the mutex and the apply flag.
    static c331_manage* get();
    // Creates the manager and starts the c331 thread once (start-up).
    static c331_manage* pInstance();

    // The change protocol's mutex and apply flag: 0 idle, 1 parameters
    // changed, 2 user-mode slots written by the protocol.
    QMutex mutex;
    std::atomic<u8> apply_flag{0};

private:
    c331_manage() = default;
};
