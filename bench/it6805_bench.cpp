// One polling step of a stable 1080p60 input on an IT6805 receiver
// (iTE6805_FSM), in virtual time, with the I2C messages it puts on the bus.
#include "sim_bench_env.h"
#include "video_io/drv_i2c0.h"
#include "video_io/ite6805_sys.h"
#include "video_io/vimrasource.h"

#include <benchmark/benchmark.h>

namespace {

void BM_It6805StableStep(benchmark::State& state) {
    SimBenchBoard board([](SimScenario& sc) {
        SimSource hdmi3;
        hdmi3.present = true, hdmi3.width = 1920, hdmi3.height = 1080, hdmi3.refreshHz = 60;
        hdmi3.audioRateHz = 48000;
        sc.setInput(4, hdmi3);
    });
    vimrasource src;
    src.open_bus();
    Drv_I2C0::i2c_write(src.fd, source_bus::kRxSwitch, source_bus::kChannel[4], nullptr, 0);
    ite6805_sys& sys = src.it6805();
    for (int i = 0; i < 40 && sys.data[0].STATEV != STATEV_VidStable; ++i) sys.iTE6805_FSM(0);
    for (int i = 0; i < 20; ++i) sys.iTE6805_FSM(0);  // audio on as well
    if (sys.data[0].STATEV != STATEV_VidStable) {
        state.SkipWithError("HDMI3 did not reach video-on");
        return;
    }
    const u64 before = Drv_I2C0::messageCount();
    for (auto _ : state) sys.iTE6805_FSM(0);
    state.counters["i2c_messages_per_step"] =
        benchmark::Counter(double(Drv_I2C0::messageCount() - before) / double(state.iterations()));
}
BENCHMARK(BM_It6805StableStep);

}  // namespace
