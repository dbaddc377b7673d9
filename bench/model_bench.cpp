// The persisting step of a parameter change with all sixteen user modes
// saved, beside a bare durable 4 KiB file replace.
#include "bench_ref.h"

#include "core/zrvrampara.h"
#include "platform/root.h"
#include "sim/sim_board.h"
#include "video_engine/c331_manage.h"

#include <benchmark/benchmark.h>

#include <QMutexLocker>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// A fresh root with a simulated board; the previous model comes back at the end.
class Scene {
public:
    Scene() {
        Root::setRoot(m_dir.path().toStdString());
        Board::install(std::make_unique<SimBoard>());
        m_saved = ZrvRamPara::p_zrvrampara_config;
        model.load();
        ZrvRamPara::p_zrvrampara_config = &model;
    }
    ~Scene() { ZrvRamPara::p_zrvrampara_config = m_saved; }
    std::string host(const std::string& devicePath) const { return Root::path(devicePath); }

    ZrvRamPara model;

private:
    QTemporaryDir m_dir;
    ZrvRamPara* m_saved;
};

// The reference: write 4 KiB beside the file, fsync, rename over it.
double durableReplaceNs(const std::string& path) {
    const std::string tmp = path + ".tmp";
    std::vector<char> page(4096, 0x11);
    return benchref::referenceNs(
        [&] {
            const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) return;
            (void)!::write(fd, page.data(), page.size());
            ::fsync(fd);
            ::close(fd);
            ::rename(tmp.c_str(), path.c_str());
        },
        200);
}

void BM_PersistWithSixteenSavedSlots(benchmark::State& state) {
    Scene scene;
    ZrvRamPara& m = scene.model;
    for (int slot = 0; slot < ZRV_USER_MODE_COUNT; ++slot) m.mode_file_write(slot, 1);
    c331_manage* mgr = c331_manage::get();
    benchref::Ratio ratio(state, durableReplaceNs(scene.host("/data/ref_page")));
    u16 contrast = 0;
    for (auto _ : state) {
        {
            QMutexLocker lock(&mgr->mutex);
            m.live_image.setWord(RamOffset::CONTRAST, u16(++contrast % 100));
        }
        if (m.ram_para_persist(1) != 1) {
            state.SkipWithError("image not written");
            break;
        }
    }
    ratio.done();
}
BENCHMARK(BM_PersistWithSixteenSavedSlots)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
