// The source selection page's costs in the GUI thread (offscreen): its
// refresh after a change signal that touches nothing it shows, which the
// dispatcher runs after every signal (protocol bursts included), and the
// rebuild of the source grid of an input with all forty crops; the output
// page's refresh, which reloads its whole LED sub-page after every signal
// while it is in front. Each beside
// the comparison of two whole images, what every refresh starts from.
#include "bench_ref.h"
#include "gui_bench_env.h"
#include "sim_bench_env.h"

#include "ui/settings/inputchoose.h"
#include "ui/settings/outputset.h"
#include "ui/shell/page_registry.h"
#include "ui/shell/shell_text.h"

#include <benchmark/benchmark.h>

#include <QApplication>

#include <cstring>
#include <memory>

namespace {

using benchgui::ensureApplication;

double imageCompareNs(ZrvRamPara& model) {
    volatile int sink = 0;
    return benchref::referenceNs(
        [&] { sink = sink + std::memcmp(model.live_image.data, model.shadow_image.data, sizeof model.live_image.data); });
}

void BM_SourcePageRefreshOfAnUnrelatedChange(benchmark::State& state) {
    ensureApplication();
    SimBenchBoard board;
    ZrvRamPara& model = *ZrvRamPara::p_zrvrampara_config;
    model.load();
    auto page = std::make_unique<InputChoose>();
    const double ref = imageCompareNs(model);
    u16 brightness = 0;
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) {
        model.live_image.setWord(RamOffset::BRIGHTNESS, ++brightness);
        page->syncUpdate(1);
    }
    ratio.done();
    page.reset();
    PageRegistry::reset();
}
BENCHMARK(BM_SourcePageRefreshOfAnUnrelatedChange)->Unit(benchmark::kMicrosecond);

void BM_SourceGridRebuildOfFortyOneEntries(benchmark::State& state) {
    ensureApplication();
    SimBenchBoard board;
    ZrvRamPara& model = *ZrvRamPara::p_zrvrampara_config;
    model.load();
    for (u32 r = 0; r < RamOffset::CROP_COUNT; ++r)
        model.live_image.setWord(RamOffset::crop(r) + RamOffset::CROP_ID, u16(0x8000 | (r << 8) | 2));
    model.shadow_image = model.live_image;
    model.ZrvCropSourceInit();
    auto page = std::make_unique<InputChoose>();
    const double ref = imageCompareNs(model);
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) {
        page->initSource();
        // The old grid goes when control is back in the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ratio.done();
    page.reset();
    PageRegistry::reset();
}
BENCHMARK(BM_SourceGridRebuildOfFortyOneEntries)->Unit(benchmark::kMicrosecond);

void BM_OutputPageRefresh(benchmark::State& state) {
    ensureApplication();
    SimBenchBoard board;
    ZrvRamPara& model = *ZrvRamPara::p_zrvrampara_config;
    model.load();
    model.live_image.setWord(RamOffset::SPLICE_MODE, 3);
    model.shadow_image = model.live_image;
    auto page = std::make_unique<OutputSet>();
    const double ref = imageCompareNs(model);
    u16 brightness = 0;
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) {
        model.live_image.setWord(RamOffset::BRIGHTNESS, ++brightness);
        page->syncUpdate();
    }
    ratio.done();
    page.reset();
    PageRegistry::reset();
}
BENCHMARK(BM_OutputPageRefresh)->Unit(benchmark::kMicrosecond);

}  // namespace
