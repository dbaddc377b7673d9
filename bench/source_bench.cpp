// One steady polling pass of the source thread over every input on the
// simulated board, in virtual time, with the I2C messages it puts on the bus.
#include "core/utils.h"
#include "sim_bench_env.h"
#include "video_io/drv_i2c0.h"
#include "video_io/vimrasource.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>

namespace {

void BM_SourcePass(benchmark::State& state) {
    SimBenchBoard board;
    vimrasource src;
    src.open_bus();
    src.poll_mask = 255;
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        src.init_state = 5;
    }
    for (int i = 0; i < 20; ++i) src.step();  // clocks done, transmitter given up
    const u64 before = Drv_I2C0::messageCount();
    for (auto _ : state) src.step();
    state.counters["i2c_messages_per_pass"] =
        benchmark::Counter(double(Drv_I2C0::messageCount() - before) / double(state.iterations()));
}
BENCHMARK(BM_SourcePass);

}  // namespace
