// Cost of one polling step of an IT6805 receiver whose input is stable, and
// how many I2C messages it puts on the bus.
#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"
#include "video_io/drv_i2c0.h"
#include "video_io/ite6805_sys.h"
#include "video_io/source_map.h"
#include "video_io/vimrasource.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

namespace {

void BM_It6805StableStep(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    auto owned = std::make_unique<SimBoard>();
    SimBoard& board = *owned;
    board.setClock(std::make_unique<ManualClock>());  // the measurement sleeps cost nothing
    simAttachDevices(board);
    Board::install(std::move(owned));
    ZrvRamPara model;
    ZrvRamPara* saved = ZrvRamPara::p_zrvrampara_config;
    ZrvRamPara::p_zrvrampara_config = &model;
    {
        SimSource s;
        s.present = true, s.width = 1920, s.height = 1080, s.refreshHz = 60, s.audioRateHz = 48000;
        board.scenario().setInput(4, s);
        vimrasource src;
        src.open_bus();
        Drv_I2C0::i2c_write(src.fd, source_bus::kRxSwitch, source_bus::kChannel[4], nullptr, 0);
        ite6805_sys& sys = src.it6805();
        for (int i = 0; i < 40 && sys.data[0].STATEV != STATEV_VidStable; ++i) sys.iTE6805_FSM(0);
        for (int i = 0; i < 20; ++i) sys.iTE6805_FSM(0);  // audio on
        const u64 before = Drv_I2C0::messageCount();
        for (auto _ : state) sys.iTE6805_FSM(0);
        state.counters["i2c_msgs_per_step"] =
            double(Drv_I2C0::messageCount() - before) / double(std::max<int64_t>(1, int64_t(state.iterations())));
        if (sys.data[0].STATEV != STATEV_VidStable) state.SkipWithError("input did not stay stable");
    }
    ZrvRamPara::p_zrvrampara_config = saved;
}
BENCHMARK(BM_It6805StableStep);

}  // namespace
