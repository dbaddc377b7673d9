#include "core/usbserver.h"
#include "support/test_env.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Codes = std::vector<int>;

TEST(UsbServerClassify, HeadersGiveTheirCodes) {
    const std::string dev = "/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0";
    const struct {
        std::string header;
        Codes codes;
    } table[] = {
        {"add@/devices/platform/soc/usb1/1-1", {100}},
        {"remove@/devices/platform/soc/usb1/1-1", {101}},
        {"add@" + dev + "/block/sda/sda1", {100, 102}},
        {"add@" + dev + "/block/sda/sda9", {100, 102}},
        {"add@" + dev + "/block/sda", {100}},
        {"add@" + dev + "/block/sdb/sdb1", {100}},
        {"add@" + dev + "/block/sda/sda10", {100}},
        {"add@" + dev + "/block/sda/sdax", {100}},
        {"add@" + dev + "/block//sda1", {100}},
        // A partition that goes away is not storage that became ready.
        {"remove@" + dev + "/block/sda/sda1", {101}},
        {"change@" + dev + "/block/sda/sda1", {}},
        {"add@", {100}},
        {"", {}},
        {"block/sda/sda1", {}},
    };
    for (const auto& row : table) EXPECT_EQ(UsbServer::classify(row.header), row.codes) << row.header;
}

class UsbServerTest : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        useManualClock();
        g_page_focus = 0;
        server = std::make_unique<UsbServer>();
        QObject::connect(server.get(), &UsbServer::sig_usb_update, server.get(), [this](int code) {
            std::lock_guard<std::mutex> lock(m);
            codes.push_back(code);
            if (code == 102) readyTick = G_timeTicks.load();
        }, Qt::DirectConnection);
        QObject::connect(server.get(), &UsbServer::sig_storage_ready_close_settings, server.get(),
                         [this] { ++closeRequests; }, Qt::DirectConnection);
    }
    void TearDown() override {
        server.reset();
        g_page_focus = 0;
        SimEnv::TearDown();
    }

    // Waits in real time for n codes; the default only bounds codes that
    // are due, so a loaded machine gets its time.
    Codes waitCodes(size_t n, int ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            {
                std::lock_guard<std::mutex> lock(m);
                if (codes.size() >= n) return codes;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        std::lock_guard<std::mutex> lock(m);
        return codes;
    }

    std::unique_ptr<UsbServer> server;
    std::mutex m;
    Codes codes;
    std::atomic<u32> readyTick{0};
    std::atomic<int> closeRequests{0};
    // NUL-separated like the kernel's messages.
    const std::string partition =
        std::string("add@/devices/platform/soc/usb1/1-1/host0/target0:0:0/0:0:0:0/block/sda/sda1") + '\0' +
        "ACTION=add";
};

TEST_F(UsbServerTest, StorageReadyFollowsThePartitionAfterTheMountSettles) {
    writeHostFile(hostPath("/proc/scsi/usb-storage"), "");
    g_page_focus = 5;  // settings menu in front
    ASSERT_EQ(server->initialize(), 0);
    const u32 start = G_timeTicks;
    board().injectUevent(partition);
    EXPECT_EQ(waitCodes(2), (Codes{100, 102}));
    EXPECT_GE(readyTick.load() - start, 300u);
    // The watcher asks to close the menu after it reported the code: wait
    // for that before the menu goes, or the watcher may find it gone.
    EXPECT_TRUE(QTest::qWaitFor([this] { return closeRequests.load() == 1; }, 5000));

    g_page_focus = 1;  // main menu: nothing to close
    board().injectUevent(partition);
    EXPECT_EQ(waitCodes(4), (Codes{100, 102, 100, 102}));
    server->stop();  // whatever the watcher would still ask has been asked
    EXPECT_EQ(closeRequests.load(), 1);
}

TEST_F(UsbServerTest, InterruptEndsTheSimulatedReceiveInProgressAndLaterOnes) {
    // What the watcher's stop relies on to join at once.
    auto source = board().openUevents();
    char buf[256];
    auto waiting = std::async(std::launch::async, [&] { return source->receive(buf, sizeof buf, 60000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source->interrupt();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);
    board().injectUevent(partition);
    EXPECT_EQ(source->receive(buf, sizeof buf, 60000), 0) << "an interrupted source went on receiving";
}

// A PC run plugs the stick by making its folder: a receive already waiting
// notices it (and its removal) within its wait, not at the next receive. The
// receive waits a minute; the stick goes in or out once the receive sleeps
// (in the kernel's futex wait), past the look it made as it began.
TEST_F(UsbServerTest, TheSimulatedBoardNoticesAStickPluggedOrPulledWhileAReceiveWaits) {
    auto source = board().openUevents();
    const QString stick = QString::fromStdString(hostPath("/mnt/usb1"));
    // The first NUL-terminated string of a message.
    auto header = [&](int waitMs) {
        char buf[512] = {};
        source->receive(buf, sizeof buf - 1, waitMs);
        return std::string(buf);
    };
    std::vector<std::string> events;
    for (const bool plug : {true, false}) {
        std::atomic<long> tid{0};
        std::thread waiting([&] {
            tid.store(syscall(SYS_gettid));
            events.push_back(header(60000));
        });
        EXPECT_TRUE(QTest::qWaitFor([&] {
            std::ifstream in("/proc/self/task/" + std::to_string(tid.load()) + "/syscall");
            long nr = -1;
            return tid.load() != 0 && (in >> nr) && nr == SYS_futex;
        }, 10000));
        ASSERT_TRUE(plug ? QDir().mkpath(stick) : QDir(stick).removeRecursively());
        const auto start = std::chrono::steady_clock::now();
        waiting.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << plug;
        events.push_back(header(0));
    }
    const std::string disk = "@/devices/platform/soc/usb1/1-1/host0/target0:0:0/0:0:0:0/block/sda";
    EXPECT_EQ(events, (std::vector<std::string>{"add" + disk, "add" + disk + "/sda1", "remove" + disk + "/sda1",
                                                "remove" + disk}));
}

TEST_F(UsbServerTest, RemovalAndMissingUsbStorageNeverReportReadiness) {
    ASSERT_EQ(server->initialize(), 0);
    board().injectUevent("remove@/devices/x/block/sda/sda1");
    // No usb-storage driver: the bounded wait gives up without a 102.
    board().injectUevent(partition);
    board().injectUevent("add@/devices/platform/soc/usb1/1-2");
    EXPECT_EQ(waitCodes(3), (Codes{101, 100, 100}));
    EXPECT_EQ(waitCodes(4, 300), (Codes{101, 100, 100}));
    EXPECT_EQ(closeRequests.load(), 0);
}

}  // namespace
