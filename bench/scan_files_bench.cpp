// Cost of the smart set-up wizard's scan-file list, built in the GUI thread
// on the stick's storage-ready and removal events: no scan file on the
// device and a stick folder of 10,000 entries among which scan files lie
// spread (the list stops at 100), beside a bare listing of the same
// folder's names. Target: well under 100 ms.
#include "bench_ref.h"

#include "platform/root.h"
#include "ui/service/scan_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void BM_ScanFileList(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    const QString stick = dir.path() + "/mnt/usb1";
    QDir().mkpath(stick);
    QDir().mkpath(dir.path() + "/data/smartmapping");
    for (int i = 0; i < 10000; ++i) {
        const QString name = i % 97 == 0 ? QStringLiteral("s%1.qdfile").arg(i) : QStringLiteral("f%1.bin").arg(i);
        QFile f(stick + "/" + name);
        if (!f.open(QIODevice::WriteOnly)) state.SkipWithError("cannot create the folder's files");
    }
    const double ref = benchref::referenceNs([&] { benchmark::DoNotOptimize(QDir(stick).entryList(QDir::NoFilter, QDir::Unsorted)); }, 50);
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) benchmark::DoNotOptimize(ScanFiles::list());
    ratio.done();
}
BENCHMARK(BM_ScanFileList)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
