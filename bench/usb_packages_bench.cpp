// Cost of listing the upgrade packages in the GUI thread, which it does on
// every stick event and every press of the USB tab: a folder of 10,000
// entries of which 100 are packages (the listing stops at 100), beside a
// bare listing of the same folder's names. Target: well under 100 ms.
#include "bench_ref.h"

#include "core/usb_packages.h"
#include "platform/root.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

void BM_UsbPackageListing(benchmark::State& state) {
    QTemporaryDir dir;
    Root::setRoot(dir.path().toStdString());
    const QString folder = dir.path() + "/mnt/usb1/ZRV-K46";
    QDir().mkpath(folder);
    for (int i = 0; i < 10000; ++i) {
        // Packages spread through the folder, among other files.
        const QString name = i % 97 == 0 ? QStringLiteral("p%1.ZRVZK").arg(i) : QStringLiteral("f%1.bin").arg(i);
        QFile f(folder + "/" + name);
        if (!f.open(QIODevice::WriteOnly)) state.SkipWithError("cannot create the folder's files");
    }
    const double ref = benchref::referenceNs([&] { benchmark::DoNotOptimize(QDir(folder).entryList(QDir::NoFilter, QDir::Unsorted)); }, 50);
    benchref::Ratio ratio(state, ref);
    for (auto _ : state) benchmark::DoNotOptimize(UsbPackages::scan(QStringLiteral("ZRV-K46")));
    ratio.done();
}
BENCHMARK(BM_UsbPackageListing)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
