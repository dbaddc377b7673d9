// set_ip on the simulated chip for an interlaced and a progressive channel:
// it runs under the manager's mutex for every window that is reprogrammed,
// so its register traffic is what a writer may wait behind.
#include "sim_bench_env.h"
#include "sim/sim_c331.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_regs.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void BM_SetIp(benchmark::State& state) {
    const bool interlaced = state.range(0) != 0;
    SimBenchBoard board([&](SimScenario& sc) {
        SimSource s;
        s.present = true, s.width = 1920, s.height = 1080, s.refreshHz = 60, s.interlaced = interlaced;
        sc.setInput(2, s);  // HDMI1, c331 port 1
    });
    auto sim = std::dynamic_pointer_cast<SimC331>(SimBoard::current()->spiModel("/dev/spidev32766.0"));
    c331_manage* m = c331_manage::get();
    static_cast<c331_state&>(*m) = c331_state{};
    m->c331_fd = m->drv->initialize();
    m->drv->init_reg_acc_param();
    m->load_system_param();
    m->define_param();
    const int port = 1, ich = 0;
    m->ich_owner[ich] = 0;
    m->PM_INPUT[0] = port;
    m->PI_STATE[port] = interlaced ? 5 : 4;
    m->PI_SCAN_MODE[port] = interlaced ? 1 : 0;
    const s32 act[4] = {192, 1920, interlaced ? 20 : 41, interlaced ? 540 : 1080};
    for (int i = 0; i < 4; ++i) m->PI_ACT[port][i] = act[i];
    // Every reducer on at level 2: the progressive channel takes the
    // noise path too.
    m->PM_HNR[port] = m->PM_VNR[port] = m->PM_TNR[port] = m->PM_BNR[port] = m->PM_MNR[port] = 2;
    m->PM_COMB[port] = 2;
    m->drv->write_C331(m->c331_fd, c331reg::ICH_SOURCE(ich), u32(2 * port));
    c331_chip chip(*m);

    long writes = 0;
    for (auto _ : state) {
        sim->clearLog();
        chip.set_ip(m->c331_fd, ich);
        state.PauseTiming();
        for (const auto& a : sim->log()) writes += a.write && a.reg != 0;
        state.ResumeTiming();
    }
    state.counters["register_writes_per_call"] = double(writes) / double(state.iterations());
}
BENCHMARK(BM_SetIp)->Arg(1)->ArgName("interlaced")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SetIp)->Arg(0)->ArgName("interlaced")->Unit(benchmark::kMicrosecond);

}  // namespace
