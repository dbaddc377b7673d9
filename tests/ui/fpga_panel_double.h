#pragma once
// The FPGA side as the pages see it: no ports, and an LED request that
// records whether the c331 manager's mutex was held when it came.
#include "ui/shell/fpga_panel.h"
#include "video_engine/c331_manage.h"

#include <QMutex>

struct RecordingPanel : FpgaPanel::Backend {
    int requests = 0;
    int requestsUnlocked = 0;
    bool running = true;
    bool portRegion(int, FpgaPanel::PortRegion*) override { return false; }
    bool requestLedReinit() override {
        ++requests;
        QMutex& m = c331_manage::get()->mutex;
        if (m.tryLock()) {
            ++requestsUnlocked;
            m.unlock();
        }
        return running;
    }
};
