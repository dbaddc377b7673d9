// Costs of the FPGA link on the simulated board: one register write and
// read, a 1024-byte RAM write, and an idle pass of the FPGA thread with both
// FPGAs running.
#include "fpga/fpga_manage.h"
#include "video_io/source_handover.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <memory>

namespace {

// A simulated board with its models and a manager without a thread.
struct FpgaBench {
    QTemporaryDir dir;
    std::unique_ptr<fpga_manage> m;
    ManualClock* clock = nullptr;
    FpgaBench() {
        Root::setRoot(dir.path().toStdString());
        auto board = std::make_unique<SimBoard>();
        auto manual = std::make_unique<ManualClock>();
        clock = manual.get();
        board->setClock(std::move(manual));
        simAttachDevices(*board);
        board->simGpio().setLine(GpioName::kFpga0Reset, 1);
        board->simGpio().setLine(GpioName::kFpga1Reset, 1);
        Board::install(std::move(board));
        m = std::make_unique<fpga_manage>();
        m->initialize(false);
    }
    ~FpgaBench() {
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
        g_fpga_c331_start.store(0);
    }
};

void BM_RegisterWrite(benchmark::State& state) {
    FpgaBench b;
    u8 v = 0;
    for (auto _ : state) b.m->write_fpga_register(23, v++, 0, 0xFF);
}
BENCHMARK(BM_RegisterWrite);

void BM_RegisterRead(benchmark::State& state) {
    FpgaBench b;
    u8 v = 0;
    for (auto _ : state) {
        b.m->read_fpga_register(31, &v, 0);
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RegisterRead);

void BM_RamWrite1024(benchmark::State& state) {
    FpgaBench b;
    std::vector<u8> area(1024, 0x5A);
    for (auto _ : state) b.m->write_fpga_ram(area.data(), 0, 1024, 2, 0);
    state.SetBytesProcessed(int64_t(state.iterations()) * 1024);
}
BENCHMARK(BM_RamWrite1024);

void BM_IdlePassBothRunning(benchmark::State& state) {
    FpgaBench b;
    source_handover::g_output_clock_state[0].store(2);
    source_handover::g_output_clock_state[1].store(2);
    g_fpga_c331_start.store(1);
    for (int i = 0; i < 5000 && !b.m->get_fpga_status(); ++i) {
        b.clock->advanceMs(10);
        b.m->thread_turn();
    }
    if (!b.m->get_fpga_status()) state.SkipWithError("the FPGAs did not come up");
    for (auto _ : state) {
        b.clock->advanceMs(10);
        b.m->thread_turn();
    }
}
BENCHMARK(BM_IdlePassBothRunning);

}  // namespace
