// Costs of a parameter change on its way through the model: the persisting
// step with all sixteen user modes saved, beside a bare durable 4 KiB file
// replace; and how long a writer waits for the c331 manager's mutex while
// the manager applies a stream of changes, beside an uncontended lock.
#include "bench_ref.h"

#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"
#include "video_engine/c331_manage.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// A fresh root with a simulated board; the previous model comes back at the end.
class Scene {
public:
    explicit Scene(bool devices) {
        Root::setRoot(m_dir.path().toStdString());
        auto board = std::make_unique<SimBoard>();
        if (devices) simAttachDevices(*board);
        Board::install(std::move(board));
        m_saved = ZrvRamPara::p_zrvrampara_config;
        model.load();
        ZrvRamPara::p_zrvrampara_config = &model;
    }
    ~Scene() { ZrvRamPara::p_zrvrampara_config = m_saved; }
    std::string host(const std::string& devicePath) const { return Root::path(devicePath); }

    ZrvRamPara model;

private:
    QTemporaryDir m_dir;
    ZrvRamPara* m_saved;
};

// The reference: write 4 KiB beside the file, fsync, rename over it.
double durableReplaceNs(const std::string& path) {
    const std::string tmp = path + ".tmp";
    std::vector<char> page(4096, 0x11);
    return benchref::referenceNs(
        [&] {
            const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) return;
            (void)!::write(fd, page.data(), page.size());
            ::fsync(fd);
            ::close(fd);
            ::rename(tmp.c_str(), path.c_str());
        },
        200);
}

void BM_PersistWithSixteenSavedSlots(benchmark::State& state) {
    Scene scene(false);
    ZrvRamPara& m = scene.model;
    for (int slot = 0; slot < ZRV_USER_MODE_COUNT; ++slot) m.mode_file_write(slot, 1);
    c331_manage* mgr = c331_manage::get();
    benchref::Ratio ratio(state, durableReplaceNs(scene.host("/data/ref_page")));
    u16 contrast = 0;
    for (auto _ : state) {
        {
            QMutexLocker lock(&mgr->mutex);
            m.live_image.setWord(RamOffset::CONTRAST, u16(++contrast % 100));
        }
        if (m.ram_para_persist(1) != 1) {
            state.SkipWithError("image not written");
            break;
        }
    }
    ratio.done();
}
BENCHMARK(BM_PersistWithSixteenSavedSlots)->Unit(benchmark::kMillisecond)->UseRealTime();

// One writer's edit: lock, change the contrast, raise the apply flag.
void edit(c331_manage* mgr, ZrvRamPara& m, u16 v) {
    QMutexLocker lock(&mgr->mutex);
    m.live_image.setWord(RamOffset::CONTRAST, v);
    mgr->raise_apply(1);
}

void BM_WriterWaitForTheManagerMutex(benchmark::State& state) {
    Scene scene(true);
    c331_manage* mgr = c331_manage::get();
    mgr->c331_fd = mgr->drv->initialize();
    const double uncontended = benchref::referenceNs([&] {
        QMutexLocker lock(&mgr->mutex);
        benchmark::ClobberMemory();
    });

    // The manager's thread body on the simulated chip, and a PC writing
    // 2000 contrast values a second.
    std::atomic<bool> stop{false};
    std::thread manager([&] {
        while (!stop.load()) {
            mgr->thread_step();
            if (mgr->apply_flag.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int i = 0; i < 3000 && mgr->thread_state.load() < 6; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (mgr->thread_state.load() < 6) state.SkipWithError("the simulated c331 did not come up");
    std::thread pc([&] {
        u16 v = 0;
        auto next = benchref::Clock::now();
        while (!stop.load()) {
            edit(mgr, scene.model, u16(++v % 100));
            next += std::chrono::microseconds(500);
            std::this_thread::sleep_until(next);
        }
    });

    std::vector<double> waits;
    u16 v = 0;
    for (auto _ : state) {
        const auto t0 = benchref::Clock::now();
        QMutexLocker lock(&mgr->mutex);
        waits.push_back(benchref::nsSince(t0));
        scene.model.live_image.setWord(RamOffset::BRIGHTNESS, u16(++v % 100));
        mgr->raise_apply(1);
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // a writer, not a spinner
    }
    stop.store(true);
    pc.join();
    manager.join();

    std::sort(waits.begin(), waits.end());
    double sum = 0;
    for (double w : waits) sum += w;
    const double mean = waits.empty() ? 0 : sum / double(waits.size());
    state.counters["wait_mean_us"] = mean / 1000;
    state.counters["wait_p99_us"] = waits.empty() ? 0 : waits[waits.size() * 99 / 100] / 1000;
    state.counters["wait_max_us"] = waits.empty() ? 0 : waits.back() / 1000;
    state.counters["ref_ns"] = uncontended;
    state.counters["x_ref"] = uncontended > 0 ? mean / uncontended : 0;
}
BENCHMARK(BM_WriterWaitForTheManagerMutex)->Iterations(2000)->UseRealTime();

}  // namespace
