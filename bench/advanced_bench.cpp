// The ageing log page's redraw on a full log (3360 lines, seven days of
// samples): the GUI thread runs it every 180 s and on every page turn.
// Beside it, splitting the sixteen lines of a page at their blanks, the
// least a redraw has to do.
#include "bench_ref.h"
#include "gui_bench_env.h"
#include "sim_bench_env.h"

#include "ui/service/advancedoption.h"
#include "ui/shell/mainwindow.h"

#include <benchmark/benchmark.h>

namespace {

void BM_AgeLogRedrawOfAFullLog(benchmark::State& state) {
    benchgui::ensureApplication();
    SimBenchBoard board;
    factoryage_log.clear();
    for (int i = 0; i < MainWindow::kAgeLogLines; ++i)
        MainWindow::appendAgeLine(QStringLiteral("12-%1 %2:%3 %4 %5 7 %6 31 12")
                                      .arg(i / 480 + 1, 2, 10, QLatin1Char('0'))
                                      .arg(i / 20 % 24, 2, 10, QLatin1Char('0'))
                                      .arg(i * 3 % 60, 2, 10, QLatin1Char('0'))
                                      .arg(i * 7 % 256)
                                      .arg(i % 32)
                                      .arg(i * 11 % 256));
    AdvancedOption page;
    // The last page, as the log's newest lines are looked at.
    page.on_pre_clicked();
    volatile int sink = 0;
    const double ref = benchref::referenceNs([&] {
        for (int i = MainWindow::kAgeLogLines - 16; i < MainWindow::kAgeLogLines; ++i)
            sink = sink + factoryage_log.at(i).split(' ').size();
    });
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) page.update_agelog();
    ratio.done();
    factoryage_log.clear();
}
BENCHMARK(BM_AgeLogRedrawOfAFullLog)->Unit(benchmark::kMicrosecond);

}  // namespace
