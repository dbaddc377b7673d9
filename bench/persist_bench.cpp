// Cost of the persisting step in the GUI thread when the PC has written all
// sixteen user-mode slots (change code 2): sixteen whole-file writes, each
// flushed and renamed, and the image file. Target: well under 100 ms.
// Beside it, as "ref_ns", one bare durable replace of a 4 KiB file (write
// beside it, fsync, rename), and the ratio of the two as "x_ref".
#include "bench_ref.h"

#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "video_engine/c331_manage.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

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

void BM_PersistSixteenSlots(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    Board::install(std::make_unique<SimBoard>());
    ZrvRamPara model;
    model.load();
    c331_manage* mgr = c331_manage::get();
    u16 value = 0;
    benchref::Ratio ratio(state, durableReplaceNs(Root::path("/data/ref_page")));
    for (auto _ : state) {
        {
            QMutexLocker lock(&mgr->mutex);
            for (auto& slot : model.user_mode) {
                slot.marker[0] = slot.marker[1] = USER_MODE_SAVED;
                slot.snapshot[0] = u8(++value);
            }
            model.live_image.setWord(RamOffset::CONTRAST, value);
        }
        benchmark::DoNotOptimize(model.ram_para_persist(2));
    }
    ratio.done();
}
BENCHMARK(BM_PersistSixteenSlots)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
