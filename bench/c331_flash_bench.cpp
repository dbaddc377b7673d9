// The c331's serial flash and OSD on the simulated chip: bytes per second of
// a 64 KiB block erased and written and a 1 KiB read with the SPI frames
// each byte costs (the fonts are about 14 MB), beside a memcpy of the same
// bytes; and a full OSD redraw of 64 lines of 127 characters, which the
// poll step waits for. The erase and the write each read the flash back
// (one frame a byte), so the block costs about three frames a byte: the
// erase's read-back, the write, and the write's read-back.
#include "bench_ref.h"
#include "sim/sim_c331.h"
#include "sim_bench_env.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_manage.h"
#include "video_engine/c331_osd.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {

struct FlashBench {
    SimBenchBoard board;
    c331_manage* m = c331_manage::get();
    std::shared_ptr<SimC331> chip = std::dynamic_pointer_cast<SimC331>(dynamic_cast<SimBoard&>(Board::get()).spiModel(c331reg::kSpiDevice));
    std::atomic<u64> frames{0};
    FlashBench() {
        m->c331_fd = m->drv->initialize();
        if (chip) {
            chip->addWriteHook([this](uint8_t, uint8_t, uint8_t) { ++frames; });
            chip->addReadHook([this](uint8_t, uint8_t, uint8_t&) { return ++frames, false; });
        }
    }
};

void reportAgainstMemcpy(benchmark::State& state, size_t bytes, double nsPerOp, u64 frames, u64 ops) {
    std::vector<u8> a(bytes, 1), b(bytes);
    const double ref = benchref::referenceNs([&] { std::memcpy(b.data(), a.data(), bytes); });
    state.SetBytesProcessed(int64_t(ops * bytes));
    state.counters["frames_per_byte"] = double(frames) / double(ops * bytes);
    state.counters["x_memcpy"] = nsPerOp / ref;
}

void BM_WriteFlash64K(benchmark::State& state) {
    FlashBench b;
    std::vector<u8> data(64 * 1024, 0x5A);
    u64 ops = 0;
    const auto t0 = benchref::Clock::now();
    for (auto _ : state) {
        b.m->erase_flash(b.m->c331_fd, 0x100, 1, 2);
        b.m->write_flash(b.m->c331_fd, 0x100000, u32(data.size()), data.data());
        ++ops;
    }
    reportAgainstMemcpy(state, data.size(), benchref::nsSince(t0) / double(ops), b.frames.load(), ops);
}
BENCHMARK(BM_WriteFlash64K)->Unit(benchmark::kMillisecond);

void BM_ReadFlash1K(benchmark::State& state) {
    FlashBench b;
    std::vector<u8> buf(1024);
    u64 ops = 0;
    const auto t0 = benchref::Clock::now();
    for (auto _ : state) {
        b.m->read_flash(b.m->c331_fd, 0x10000, 1024, buf.data());
        ++ops;
    }
    reportAgainstMemcpy(state, buf.size(), benchref::nsSince(t0) / double(ops), b.frames.load(), ops);
}
BENCHMARK(BM_ReadFlash1K)->Unit(benchmark::kMicrosecond);

void BM_UpdateOsd64Lines(benchmark::State& state) {
    FlashBench b;
    b.m->load_system_param();
    b.m->define_param();
    c331_osd& osd = static_cast<c331_chip*>(b.m->ops)->osd();
    osd.load_char();
    osd.zrvApi_OsdSet(3, 1);
    osd.zrvApi_OsdSet(0, 1);
    osd.zrvApi_OsdSet(14, 0);
    std::vector<std::vector<u32>> lines(64, std::vector<u32>(127, 'W'));
    std::vector<int> len(64, 127);
    std::vector<const u32*> ptr;
    for (auto& l : lines) ptr.push_back(l.data());
    osd.zrvApi_OsdSetUnicode(64, len.data(), ptr.data());
    for (auto _ : state) osd.update_osd(b.m->c331_fd);
    state.counters["frames"] = benchmark::Counter(double(b.frames.load()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UpdateOsd64Lines)->Unit(benchmark::kMillisecond);

}  // namespace
