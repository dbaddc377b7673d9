#pragma once
// A source manager of its own on the simulated board, in virtual time, with
// recording receiver and transmitter drivers that note which receiver
// channel was selected when they were called.
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "sim/sim_audio_switch.h"
#include "sim/sim_clock_chip.h"
#include "sim/sim_edid_eeprom.h"
#include "sim/sim_i2c_switch.h"
#include "support/test_env.h"
#include "video_io/it66121_sys.h"
#include "video_io/ite6805_sys.h"
#include "video_io/source_handover.h"
#include "video_io/vimra_it6602.h"
#include "video_io/vimrasource.h"

#include <QMutexLocker>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

struct SourceCalls {
    std::vector<std::string> list;
    std::shared_ptr<SimI2cSwitch> rxSwitch;
    void add(const char* fmt, int a = 0, int b = 0, int c = 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, fmt, a, b, c);
        char sel[16];
        std::snprintf(sel, sizeof sel, " @%02X", rxSwitch ? rxSwitch->control() : 0);
        list.push_back(std::string(buf) + sel);
    }
    std::vector<std::string> take() {
        auto out = list;
        list.clear();
        return out;
    }
};

class RecIt6602 : public vimra_it6602 {
public:
    RecIt6602(vimrasource& s, SourceCalls& c) : vimra_it6602(s), calls(c) {}
    int IT6602_fsm_init(int, int input) override { return calls.add("init(%d)", input), found; }
    void IT6602_fsm_init_1(int, int input) override { calls.add("init_1(%d)", input); }
    void IT6602_fsm(int, int input) override { calls.add("fsm(%d)", input); }
    SourceCalls& calls;
    int found = 1;
};

class RecIt6805 : public ite6805_sys {
public:
    RecIt6805(vimrasource& s, SourceCalls& c) : ite6805_sys(s), calls(c) {}
    void ite6805_sys_reset_init() override { calls.add("reset_init"); }
    void iTE6805_FSM(int rx) override { calls.add("FSM(%d) run=%d", rx, run_state[rx]); }
    void iTE6805_Set_HPD_Ctrl(int port, int level, int rx) override { calls.add("HPD(%d,%d,%d)", port, level, rx); }
    SourceCalls& calls;
};

class RecIt66121 : public it66121_sys {
public:
    RecIt66121(vimrasource& s, SourceCalls& c) : it66121_sys(s), calls(c) {}
    void sdi_it66121_init() override { calls.add("sdi_init"); }
    int IT66121_Test() override { return calls.add("test"), found; }
    void IT66121_init() override { calls.add("tx_init"); }
    void HDMITX_DevLoopProc() override { calls.add("loop"); }
    SourceCalls& calls;
    int found = 0;
};

class SourceEnv : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        clock = &useManualClock();
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        {
            QMutexLocker lock(&settingsLock());
            savedCheck = g_check_edid;
            g_check_edid = "Never";
        }
        savedMask = g_check_source.load();
        g_check_source = 0;
        source_handover::g_sdi_reset_request.store(0);
        calls.rxSwitch = sw(source_bus::kRxSwitch);
        src = std::make_unique<vimrasource>();
        auto a = std::make_unique<RecIt6805>(*src, calls);
        auto b = std::make_unique<RecIt6602>(*src, calls);
        auto c = std::make_unique<RecIt66121>(*src, calls);
        it6805 = a.get(), it6602 = b.get(), it66121 = c.get();
        src->replace_drivers(std::move(a), std::move(b), std::move(c));
        src->open_bus();
    }
    void TearDown() override {
        EXPECT_EQ(board().i2cCollisions(), expectedCollisions);
        src.reset();
        {
            QMutexLocker lock(&settingsLock());
            g_check_edid = savedCheck;
        }
        g_check_source = savedMask;
        source_handover::take_audio_changed();
        SimEnv::TearDown();
    }

    static std::string bus() { return source_bus::kDevice; }
    std::shared_ptr<SimI2cSwitch> sw(u8 address) {
        return std::dynamic_pointer_cast<SimI2cSwitch>(board().i2cModel(bus(), address >> 1));
    }
    std::shared_ptr<SimAudioSwitch> audio() {
        return std::dynamic_pointer_cast<SimAudioSwitch>(board().i2cModel(bus(), source_bus::kAudioSwitch >> 1));
    }
    std::shared_ptr<SimEdidEeprom> eeprom(int input) {
        return std::dynamic_pointer_cast<SimEdidEeprom>(board().i2cModelBehind(
            bus(), source_bus::kMemSwitch >> 1, source_bus::kChannel[input], source_bus::kEeprom >> 1));
    }
    std::shared_ptr<SimClockChip> clockChip(int output) {
        return std::dynamic_pointer_cast<SimClockChip>(board().i2cModelBehind(
            bus(), source_bus::kMemSwitch >> 1, source_bus::kClockChannel[output], source_bus::kClockChip >> 1));
    }
    // Straight to polling passes.
    void polling() {
        QMutexLocker lock(&Utils::_source_init_mutex);
        src->init_state = 5;
    }
    u8 reg(int r) const { return model->reg_block.REG[r]; }
    // Values the named line was set to, in order.
    std::vector<int> line(const std::string& name) const {
        std::vector<int> out;
        for (const auto& e : const_cast<SourceEnv*>(this)->board().simGpio().history())
            if (e.first == name) out.push_back(e.second);
        return out;
    }

    ManualClock* clock = nullptr;
    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    SourceCalls calls;
    std::unique_ptr<vimrasource> src;
    RecIt6805* it6805 = nullptr;
    RecIt6602* it6602 = nullptr;
    RecIt66121* it66121 = nullptr;
    int expectedCollisions = 0;

private:
    QString savedCheck;
    u8 savedMask = 255;
};
