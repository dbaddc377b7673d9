// The image file written off the GUI thread: the newest content always
// reaches the file, older content waiting behind a slow write is skipped,
// a failed write is tried again, and the persisting step hands over without
// waiting for the disk.
#include "core/latest_file_writer.h"
#include "core/zrvrampara.h"
#include "platform/fileops.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

#include <QMutexLocker>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = LatestFileWriter::Bytes;

// A disk whose writes can be held and made to fail, recording what it got.
struct Disk {
    std::mutex m;
    std::condition_variable cv;
    bool held = false;
    bool writing = false;
    int failuresLeft = 0;
    std::vector<int> written;  // the first byte of each content written

    bool write(const Bytes& b) {
        std::unique_lock<std::mutex> lock(m);
        writing = true;
        cv.notify_all();
        cv.wait(lock, [this] { return !held; });
        writing = false;
        if (failuresLeft > 0) {
            --failuresLeft;
            return false;
        }
        written.push_back(b.empty() ? -1 : b[0]);
        return true;
    }
    void hold() {
        std::lock_guard<std::mutex> lock(m);
        held = true;
    }
    void waitWriting() {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return writing; });
    }
    void release() {
        {
            std::lock_guard<std::mutex> lock(m);
            held = false;
        }
        cv.notify_all();
    }
    std::vector<int> got() {
        std::lock_guard<std::mutex> lock(m);
        return written;
    }
};

class LatestFileWriterTest : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
    }
    Disk disk;
};

}  // namespace

TEST_F(LatestFileWriterTest, ContentWaitingBehindASlowWriteIsReplacedByTheNewest) {
    LatestFileWriter w([this](const Bytes& b) { return disk.write(b); }, "test file");
    disk.hold();
    w.post({1});
    disk.waitWriting();
    // While 1 is on its way, 2, 3 and 4 come: only 4 follows it.
    w.post({2});
    w.post({3});
    w.post({4});
    // A disk that hangs: the wait for it ends at its bound, not done.
    EXPECT_FALSE(w.drain(50));
    disk.release();
    EXPECT_TRUE(w.drain());
    EXPECT_EQ(disk.got(), (std::vector<int>{1, 4}));
}

TEST_F(LatestFileWriterTest, AFailedWriteIsTriedAgainUntilItIsOnDisk) {
    LatestFileWriter w([this](const Bytes& b) { return disk.write(b); }, "test file");
    disk.failuresLeft = 3;
    w.post({7});
    // Virtual time: the retry waits pass at once; the content is kept
    // through every failure.
    for (long i = 0; i < 10000000 && disk.got().empty(); ++i) std::this_thread::yield();
    EXPECT_TRUE(w.drain());
    EXPECT_EQ((Vals{disk.failuresLeft, static_cast<long long>(disk.got().size()), disk.got().front()}),
              (Vals{0, 1, 7}));
}

TEST_F(LatestFileWriterTest, TheEndWritesWhatStillWaits) {
    {
        LatestFileWriter w([this](const Bytes& b) { return disk.write(b); }, "test file");
        disk.hold();
        w.post({1});
        disk.waitWriting();
        w.post({2});
        disk.release();
    }
    EXPECT_EQ(disk.got(), (std::vector<int>{1, 2}));
}

TEST_F(LatestFileWriterTest, PersistingStepHandsTheImageOverAndTheFileFollows) {
    ZrvRamPara m;
    m.load();
    m.writeImageFileInBackground();
    auto fileWord = [this](u32 off) {
        const std::string f = readHostFile(hostPath("/data/ram_device_info"));
        const u32 p = off - 766;
        return f.size() > p + 1 ? int(u8(f[p]) | (u8(f[p + 1]) << 8)) : -1;
    };
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        m.live_image.setWord(RamOffset::CONTRAST, 23);
    }
    // The shadow moves at once: the next change is compared with what was
    // handed over.
    EXPECT_EQ((Vals{m.ram_para_persist(1), m.shadow_image.word(RamOffset::CONTRAST)}), (Vals{1, 23}));
    EXPECT_TRUE(m.drainImageFile());
    EXPECT_EQ(fileWord(RamOffset::CONTRAST), 23);

    // A file that cannot be written: the newest image waits for the retry
    // and reaches the file once it can.
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        m.live_image.setWord(RamOffset::CONTRAST, 24);
    }
    ASSERT_TRUE(FileOps::removePath("/data/ram_device_info"));
    ASSERT_TRUE(FileOps::makeDirs("/data/ram_device_info/x"));
    EXPECT_EQ(m.ram_para_persist(1), 1);
    EXPECT_FALSE(m.drainImageFile());
    ASSERT_TRUE(FileOps::removePath("/data/ram_device_info"));
    for (long i = 0; i < 10000000 && fileWord(RamOffset::CONTRAST) != 24; ++i) std::this_thread::yield();
    EXPECT_TRUE(m.drainImageFile());
    EXPECT_EQ(fileWord(RamOffset::CONTRAST), 24);
}
