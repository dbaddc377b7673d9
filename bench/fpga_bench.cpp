// Costs of the FPGA link on the simulated board: one register write and
// read, a 1024-byte RAM write, and an idle pass of the FPGA thread with both
// FPGAs running.
#include "fpga/fpga_manage.h"
#include "video_io/source_handover.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "sim/sim_devices.h"
#include "sim/sim_fpga.h"
#include "sim/sim_fpga_flash.h"
#include "fpga/card_frame.h"
#include "protocol/pc_link.h"
#include "fpga/rcv_recovery_file.h"
#include "platform/fileops.h"
#include "../tests/fpga/card_package.h"
#include "../tests/fpga/upgrade_package.h"
#include "bench_ref.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

#include <memory>

namespace {

// A simulated board with its models and a manager without a thread.
struct FpgaBench {
    QTemporaryDir dir;
    std::unique_ptr<fpga_manage> m;
    ManualClock* clock = nullptr;
    SimBoard* board = nullptr;
    FpgaBench() {
        Root::setRoot(dir.path().toStdString());
        auto board = std::make_unique<SimBoard>();
        auto manual = std::make_unique<ManualClock>();
        clock = manual.get();
        board->setClock(std::move(manual));
        simAttachDevices(*board);
        board->scenario().loadJson(R"({"ports": {"5": 6, "12": 4}})");
        this->board = board.get();
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

bool bringUp(FpgaBench& b) {
    source_handover::g_output_clock_state[0].store(2);
    source_handover::g_output_clock_state[1].store(2);
    g_fpga_c331_start.store(1);
    for (int i = 0; i < 5000 && !b.m->get_fpga_status(); ++i) {
        b.clock->advanceMs(10);
        b.m->thread_turn();
    }
    return b.m->get_fpga_status();
}

void BM_IdlePassBothRunning(benchmark::State& state) {
    FpgaBench b;
    if (!bringUp(b)) state.SkipWithError("the FPGAs did not come up");
    for (auto _ : state) {
        b.clock->advanceMs(10);
        b.m->thread_turn();
    }
}
BENCHMARK(BM_IdlePassBothRunning);

// A link whose replies are counted.
struct BenchLink : PcLink {
    BenchLink() : PcLink(PcLinkId::Udp, kUdpRecordSize) {}
    void stop() override {}
    using PcLink::handleFrame;
    using PcLink::servePassThrough;
    bool sendEncoded(const u8*, u32) override { return ++replies, true; }
    int replies = 0;
};

// A card search on FPGA 0 port 6 through the pass-through, to its reply.
void BM_PassThroughSearchRoundTrip(benchmark::State& state) {
    FpgaBench b;
    if (!bringUp(b)) state.SkipWithError("the FPGAs did not come up");
    BenchLink link;
    u8 frame[15] = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0x06, 0x00, 0x10, 0, 0, 0, 0, 0};
    card_frame::seal(frame, sizeof frame);
    for (auto _ : state) {
        const int before = link.replies;
        link.handleFrame(frame, sizeof frame);
        while (link.replies == before && link.passPending()) link.servePassThrough();
    }
    g_passby_trans_port.store(255);
}
BENCHMARK(BM_PassThroughSearchRoundTrip);

// One receive poll that finds a card's reply in its page.
void BM_ReceivePollReadyPage(benchmark::State& state) {
    FpgaBench b;
    if (!bringUp(b)) state.SkipWithError("the FPGAs did not come up");
    auto model = std::dynamic_pointer_cast<SimFpga>(b.board->spiModel("/dev/spidev32766.1"));
    std::vector<u8> reply = {0x00, 0xF0, 0x05, 0x10, 0x10, 0x67, 0x01, 0x06, 0x00, 0xA0, 0x00, 0x00};
    card_frame::seal(reply.data(), u32(reply.size()));
    for (auto _ : state) {
        state.PauseTiming();
        model->injectReply(5, reply);
        state.ResumeTiming();
        QMutexLocker lock(&b.m->port_mutex);
        b.m->reg_IRQ_Dealwith(0, 0);
    }
}
BENCHMARK(BM_ReceivePollReadyPage);

// Opening the run-time record at start, as the FPGA manager's start waits
// for it: all eight groups used in both copies, the sequence slots in use
// well into their sectors.
void BM_OpenFullRunTimeRecord(benchmark::State& state) {
    using R = clock_record_run;
    FpgaBench b;
    auto flash = std::dynamic_pointer_cast<SimFpgaFlash>(b.board->spiModel("/dev/spidev32766.3"));
    auto put = [&](u32 address, const std::vector<u8>& bytes) { flash->preload(address + R::kFlashOffset, bytes); };
    constexpr u32 kFirstSeq = 4000;
    put(R::kHeader, {0xAA, 0x5A, 0xA5});
    for (u32 g = 0; g < R::kGroups; ++g) {
        const u32 cumulative = g * R::kGroupMinutes, seq = kFirstSeq + g;
        for (u32 base : {R::kCopyA, R::kCopyB}) {
            const u32 a = base + R::kGroupBytes * g;
            put(a, {0xAA, 0x26, 0x20, 0x01, 0x01, 0x00, 0x00, 0x00, u8(cumulative), u8(cumulative >> 8),
                    u8(cumulative >> 16), u8(cumulative >> 24), 0xFF, u8(seq), u8(seq >> 8), u8(seq >> 16)});
            put(a + R::kProgressStart, std::vector<u8>(R::kProgressBytes, 0x55));
        }
    }
    for (u32 q = 0; q < kFirstSeq + R::kGroups; ++q) {
        std::vector<u8> slot(R::kSlotBytes, 0);
        slot[0] = 0xAA;
        put(R::kSlots + R::kSlotBytes * q, slot);
    }
    for (auto _ : state) b.m->clock_record.clock_record_init();
    if (g_clock_record.group_index != R::kGroups) state.SkipWithError("the record did not open all groups");
}
BENCHMARK(BM_OpenFullRunTimeRecord);

}  // namespace

// The recovery reader walking to the last card's block of a net of 255
// cards with 16 operations each: every earlier block is read again.
static void BM_ReaderWalkToLastCard(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    pkg::Net net{0, std::vector<std::vector<pkg::Op>>(255, std::vector<pkg::Op>(16, pkg::save()))};
    const pkg::Bytes file = pkg::package({{{1, {net}, {}}}});
    FileOps::makeDirs("/data/rcvrecovery");
    FileOps::writeFileAtomic("/data/rcvrecovery/QDFX", file.data(), file.size());
    rcvRecovery r;
    const QString f = "/data/rcvrecovery/QDFX";
    bool ok = r.get_rcvPackedFileNum(f) == 0;
    for (u32 k = 0; ok && k < r.packed_count; ++k) ok = r.get_rcvPackedFileInfo(f, k) == 0;
    ok = ok && r.update_rcvScreenHead(f) == 0 && r.update_rcvScreenIDinfo(f, 0) == 0 &&
         r.update_rcvXYscreenNetnum(f) == 0 && r.update_rcvXYscreenNetpara(f, 0) == 0;
    if (!ok) state.SkipWithError("package refused");
    for (auto _ : state)
        if (r.update_rcvXYrcvOperateTimes(f, 254) != 0) state.SkipWithError("walk refused");
}
BENCHMARK(BM_ReaderWalkToLastCard);

// The USB upgrade writing a 4 MB FPGA image from a package on the stick into
// the flash model (erase, program in 32 KB chunks, read-back), which keeps
// the FPGA thread from its passes; beside a bare read of the package's
// bytes. Every iteration writes the whole image again.
static void BM_UsbUpgradeFpgaImage4MB(benchmark::State& state) {
    FpgaBench b;
    const upkg::Bytes image = upkg::pattern(4u << 20, 7);
    const upkg::Bytes file = upkg::build({0, 0x7652, {upkg::fpga(0, upkg::fpgaImage(image))}});
    upkg::onStick("ZRV-K46", "fpga.ZRV", file);
    const QString path = "/mnt/usb1/ZRV-K46/fpga.ZRV";
    const u32 offset = 49 + 21;
    std::vector<char> plain(file.size());
    const double ref = benchref::referenceNs([&] {
        QFile f(Root::qpath(path));
        if (f.open(QIODevice::ReadOnly)) f.read(plain.data(), qint64(plain.size()));
    }, 50);
    benchref::Ratio ratio(state, ref);
    for (auto _ : state)
        if (b.m->update_txc_file(path, 2, offset, u32(image.size() + 64)) != fpga_manage::EntryWrite::Written)
            state.SkipWithError("image not written");
    ratio.done();
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_UsbUpgradeFpgaImage4MB)->Unit(benchmark::kMillisecond)->UseRealTime();
