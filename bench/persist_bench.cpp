// Cost of the persisting step in the GUI thread when the PC has written all
// sixteen user-mode slots (change code 2): sixteen whole-file writes, each
// flushed and renamed, and the image file. Target: well under 100 ms.
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "video_engine/c331_manage.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

#include <memory>

namespace {

void BM_PersistSixteenSlots(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    Board::install(std::make_unique<SimBoard>());
    ZrvRamPara model;
    model.load();
    c331_manage* mgr = c331_manage::get();
    u16 value = 0;
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
}
BENCHMARK(BM_PersistSixteenSlots)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
