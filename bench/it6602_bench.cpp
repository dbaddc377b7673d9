// One poll of a stable 1080p60 input on an IT6602 receiver, as the source
// manager makes it (channel select and the driver's poll), in virtual time,
// with the I2C messages it puts on the bus.
#include "sim_bench_env.h"
#include "video_io/drv_i2c0.h"
#include "video_io/vimra_it6602.h"
#include "video_io/vimrasource.h"

#include <benchmark/benchmark.h>

namespace {

void BM_It6602StablePoll(benchmark::State& state) {
    SimBenchBoard board([](SimScenario& sc) {
        SimSource hdmi1;
        hdmi1.present = true, hdmi1.width = 1920, hdmi1.height = 1080, hdmi1.refreshHz = 60;
        sc.setInput(2, hdmi1);
    });
    vimrasource src;
    src.open_bus();
    src.poll_mask = source_bus::kPollBit[2];
    for (int i = 0; i < 10; ++i) src.sourcecheck();
    if (src.it6602().get_IT6602_dev_data(2).m_VState != it6602::VSTATE_VideoOn) {
        state.SkipWithError("HDMI1 did not reach video-on");
        return;
    }
    const u64 before = Drv_I2C0::messageCount();
    for (auto _ : state) src.sourcecheck();
    state.counters["i2c_messages_per_poll"] =
        benchmark::Counter(double(Drv_I2C0::messageCount() - before) / double(state.iterations()));
}
BENCHMARK(BM_It6602StablePoll);

}  // namespace
