// What the MTD users rely on, run against the simulated flash always and
// against a real MTD node when one is set aside for it.
#include "platform/linux/linux_mtd.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// A real node only when it is certainly scratch: named by ZRV_TEST_MTD, or
// the kernel's RAM-backed test device. A flash of the host is never erased
// by guess.
std::string scratchMtdNode() {
    if (const char* env = std::getenv("ZRV_TEST_MTD")) return env;
    for (const QString& entry : QDir("/sys/class/mtd").entryList({"mtd*"}, QDir::Dirs)) {
        QFile name("/sys/class/mtd/" + entry + "/name");
        if (entry.endsWith("ro") || !name.open(QIODevice::ReadOnly)) continue;
        if (name.readAll().trimmed() == "mtdram test device") return "/dev/" + entry.toStdString();
    }
    return "";
}

class MtdContract : public SimEnv, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        if (GetParam()) {
            mtd = std::make_unique<LinuxMtdDevice>(scratchMtdNode());
        } else {
            mtd = board().openMtd("/dev/mtd8");
        }
        ASSERT_TRUE(mtd && mtd->isOpen());
        ASSERT_EQ(mtd->getInfo(info), 0);
    }
    std::vector<uint8_t> readBack(uint32_t offset, uint32_t len) {
        std::vector<uint8_t> out(len, 0x5A);
        EXPECT_EQ(mtd->pread(out.data(), len, offset), long(len));
        return out;
    }
    std::unique_ptr<MtdDevice> mtd;
    MtdInfo info;
};

TEST_P(MtdContract, EraseSetsOnlyItsBlocksToFF) {
    const uint32_t eb = info.erasesize;
    std::vector<uint8_t> zeros(2 * eb, 0x00);
    ASSERT_EQ(mtd->unlock(0, 2 * eb), 0);
    ASSERT_EQ(mtd->erase(0, 2 * eb), 0);
    ASSERT_EQ(mtd->pwrite(zeros.data(), zeros.size(), 0), long(zeros.size()));

    ASSERT_EQ(mtd->erase(eb, eb), 0);
    const auto first = readBack(0, eb);
    const auto second = readBack(eb, eb);
    EXPECT_EQ(first, std::vector<uint8_t>(eb, 0x00)) << "the block before the erased one was touched";
    EXPECT_EQ(second, std::vector<uint8_t>(eb, 0xFF));
}

TEST_P(MtdContract, WriteAfterEraseReadsBack) {
    const uint32_t eb = info.erasesize;
    ASSERT_EQ(mtd->erase(0, eb), 0);
    std::vector<uint8_t> data(info.writesize * 3 + 7);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 37 + 11);
    ASSERT_LE(data.size() + info.writesize, eb);
    ASSERT_EQ(mtd->pwrite(data.data(), data.size(), info.writesize), long(data.size()));
    EXPECT_EQ(readBack(info.writesize, uint32_t(data.size())), data);
    EXPECT_EQ(readBack(0, info.writesize), std::vector<uint8_t>(info.writesize, 0xFF));
}

TEST_P(MtdContract, UnalignedOrOutOfRangeEraseIsRefused) {
    EXPECT_NE(mtd->erase(1, info.erasesize), 0);
    EXPECT_NE(mtd->erase(info.size, info.erasesize), 0);
}

// The real backend's rows exist only where a scratch node does (a board, or
// a host with the kernel's mtdram loaded): a row that could only skip would
// read as run in every listing, and a host without MTD support (CI's) has
// nothing for it to run on. ctest lists the rows when the tests are built,
// so ZRV_TEST_MTD is set for the build as for the run.
std::vector<bool> backends() {
    if (scratchMtdNode().empty()) return {false};
    return {false, true};
}

INSTANTIATE_TEST_SUITE_P(Backends, MtdContract, ::testing::ValuesIn(backends()),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "Real" : "Simulated"; });

}  // namespace
