#pragma once
// A manager of the two simulated FPGAs in virtual time, with a parameter
// model of its own and the later operations recorded.
#include "core/zrvrampara.h"
#include "fpga/fpga_handover.h"
#include "fpga/fpga_manage.h"
#include "protocol/pc_link.h"
#include "video_io/source_handover.h"
#include "sim/sim_fpga.h"
#include "sim/sim_fpga_flash.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <functional>
#include <memory>
#include <vector>

// A kind-1 command block (set the clock to 2030-01-02 03:04:05) in
// MCU_RAM_CMD: running it records one shell command.
inline void putClockBlock() {
    const u8 b[15] = {0xAA, 0x01, 0x00, 0, 0, 0, 7, 0, 0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05};
    std::memcpy(fpga_manage::MCU_RAM_CMD, b, sizeof b);
}
inline void clearCommandBlock() { std::memset(fpga_manage::MCU_RAM_CMD, 0, 16); }

// A PC link whose replies (encoded, as sent) the test reads.
struct TestLink : PcLink {
    explicit TestLink(u8 id = PcLinkId::Udp) : PcLink(id, kUdpRecordSize) {}
    ~TestLink() override { stop(); }
    void stop() override {}
    using PcLink::handleFrame;
    using PcLink::servePassThrough;
    bool sendEncoded(const u8* data, u32 length) override {
        replies.emplace_back(data, data + length);
        return true;
    }
    std::vector<std::vector<u8>> replies;
};

class FpgaEnv : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        clock = &useManualClock();
        clock->setMs(1000000);
        for (int k = 0; k < 2; ++k) {
            fpga[k] = std::dynamic_pointer_cast<SimFpga>(board().spiModel(fpgareg::kSpiDevices[k]));
            flash[k] = std::dynamic_pointer_cast<SimFpgaFlash>(board().spiModel(fpgareg::kSpiDevices[2 + k]));
            ASSERT_TRUE(fpga[k] && flash[k]);
            source_handover::g_output_clock_state[k].store(0);
        }
        model = std::make_unique<ZrvRamPara>();
        model->load();
        install = std::make_unique<ModelInstall>(model.get());
        QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [this](int code) { signals_.push_back(code); });
        takeHandOvers();
        g_set_led_para.store(0);
        g_set_led_setup.store(0);
        g_fpga_c331_start.store(0);
        g_force_bkcolor.store(1);
        c331_manage::get()->apply_flag.store(0);
        m = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = m.get();
        ASSERT_EQ(m->initialize(false), 0);
    }
    void TearDown() override {
        m.reset();
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
        g_fpga_c331_start.store(0);
        g_set_led_para.store(0);
        takeHandOvers();
        SimEnv::TearDown();
    }
    static void takeHandOvers() {
        fpga_handover::take_brightness();
        fpga_handover::take_output_layout();
        fpga_handover::take_output_status();
    }

    // What the input-source manager does once output k's clock is set up.
    void release(int k) {
        board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
        source_handover::g_output_clock_state[k].store(2);
    }
    // One tick, then one turn of the thread body; counts the hand-backs to
    // the c331 (apply flag raised and taken, as the c331 thread would).
    void tick(int ticks = 1) {
        for (int i = 0; i < ticks; ++i) {
            clock->advanceMs(10);
            m->thread_turn();
            c331_manage* c331 = c331_manage::get();
            if (c331->apply_flag.exchange(0) == 1) ++handBacks;
        }
    }
    bool runUntil(const std::function<bool()>& done, int maxTicks) {
        for (int i = 0; i < maxTicks; ++i) {
            if (done()) return true;
            tick();
        }
        return done();
    }
    bool bringUpBoth() {
        release(0);
        release(1);
        g_fpga_c331_start.store(1);
        return runUntil([this] { return m->get_fpga_status(); }, 3000);
    }
    u8 image(int k, int reg) const { return fpga_manage::MCU_REG_func[k][reg]; }
    u16 area(int k, int off) const {
        const u8* a = fpga_manage::MCU_RAM_PARA_func[k];
        return u16(a[off] | a[off + 1] << 8);
    }
    // Where the x, y, width and height words of each of an FPGA's twelve
    // ports and of its four spare entries lie in the parameter area.
    static constexpr int kPortAt[16] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592, 600, 608, 616, 624, 632};
    u16 ramWord(int k, int off) const {
        const auto b = fpga[k]->ram(1, u16(off), 2);
        return u16(b[0] | b[1] << 8);
    }
    void setOffset(u16 x, u16 y) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        model->live_image.setWord(RamOffset::OUT_LAYOUT, x);
        model->live_image.setWord(RamOffset::OUT_LAYOUT + 2, y);
    }
    int resetsOf(int k) const {
        int n = 0;
        for (const auto& e : const_cast<FpgaEnv*>(this)->board().simGpio().history())
            if (e.first == (k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset) && e.second == 0) ++n;
        return n;
    }

    ManualClock* clock = nullptr;
    std::shared_ptr<SimFpga> fpga[2];
    std::shared_ptr<SimFpgaFlash> flash[2];
    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    std::vector<int> signals_;
    std::unique_ptr<fpga_manage> m;
    int handBacks = 0;
};
