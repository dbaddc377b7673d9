// One steady polling pass of the source thread over every input on the
// simulated board, in virtual time, with the I2C messages it puts on the bus.
#include "core/utils.h"
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"
#include "video_io/drv_i2c0.h"
#include "video_io/vimrasource.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

namespace {

void BM_SourcePass(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    auto board = std::make_unique<SimBoard>();
    board->setClock(std::make_unique<ManualClock>());
    simAttachDevices(*board);
    Board::install(std::move(board));
    ZrvRamPara model;
    ZrvRamPara* saved = ZrvRamPara::p_zrvrampara_config;
    ZrvRamPara::p_zrvrampara_config = &model;
    {
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
    ZrvRamPara::p_zrvrampara_config = saved;
}
BENCHMARK(BM_SourcePass);

}  // namespace
