// A writer's wait for the c331 manager's mutex while the c331 thread fades a
// window on the simulated chip, on the real clock, beside the same lock
// taken when nobody holds it.
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "video_engine/c331_manage.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double lockMicros(QMutex& mutex) {
    const auto t0 = Clock::now();
    mutex.lock();
    const auto t1 = Clock::now();
    mutex.unlock();
    return std::chrono::duration<double, std::micro>(t1 - t0).count();
}

// Window 0 fades (60 steps out, 60 in, a frame each) on every source change.
void setUpImage(PARA_RAM_IMAGE& img) {
    for (auto [off, v] : {std::pair<int, u16>{c331img::LED_WIDTH, 1920}, {c331img::LED_HEIGHT, 1080},
                          {c331img::OUT1_WIDTH, 1920}, {c331img::OUT1_HEIGHT, 1080}})
        img.setWord(u32(off), v);
    WIN_RECORD r{};
    r.enable = 1, r.source = 2, r.width = 1920, r.height = 1080, r.output = 4;
    img.setWin(0, r);
    img.setWord(RamOffset::fadeIn(0), 60);
    img.setWord(RamOffset::fadeOut(0), 60);
}

void BM_WriterWaitDuringFade(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    Board::install(std::make_unique<SimBoard>());
    ZrvRamPara model;
    ZrvRamPara* saved = ZrvRamPara::p_zrvrampara_config;
    ZrvRamPara::p_zrvrampara_config = &model;
    setUpImage(model.live_image);

    c331_manage* m = c331_manage::get();
    m->c331_fd = m->drv->initialize();
    m->thread_state = 5;
    m->thread_step();

    // The c331 thread's part: switch the window's source back and forth,
    // each pass fading it out and in.
    std::atomic<bool> stop{false};
    std::atomic<int> passes{0};
    std::thread c331([&] {
        u16 source = 2;
        while (!stop) {
            {
                QMutexLocker lock(&m->mutex);
                source = source == 2 ? 3 : 2;
                model.live_image.setWord(RamOffset::win(0) + RamOffset::WIN_SOURCE, source);
                m->raise_apply(1);
            }
            m->apply_pass();
            ++passes;
        }
    });

    double total = 0, longest = 0, reference = 0;
    for (int i = 0; i < 100; ++i) reference += lockMicros(m->mutex) / 100;
    for (auto _ : state) {
        // A panel slider's pace: a write every few milliseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double wait = lockMicros(m->mutex);
        total += wait;
        longest = std::max(longest, wait);
        state.SetIterationTime(wait / 1e6);
    }
    stop = true;
    c331.join();
    ZrvRamPara::p_zrvrampara_config = saved;

    const double mean = total / double(state.iterations());
    state.counters["wait_mean_us"] = mean;
    state.counters["wait_max_us"] = longest;
    state.counters["uncontended_us"] = reference;
    state.counters["ratio_to_uncontended"] = reference > 0 ? mean / reference : 0;
    state.counters["fade_passes"] = passes.load();
}
BENCHMARK(BM_WriterWaitDuringFade)->UseManualTime()->Iterations(600)->Unit(benchmark::kMicrosecond);

}  // namespace
