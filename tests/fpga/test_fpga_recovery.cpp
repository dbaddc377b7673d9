// Recovery packages and scan files: the reader on well-formed and hostile
// files, the card check, the recovery replay and the scan-file job on the
// simulated card chains.
#include "core/line_limiter.h"
#include "card_jobs_env.h"
#include "card_package.h"

#include "core/logMsg.h"
#include "fpga/rcv_recovery_file.h"
#include "platform/fileops.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <map>

using pkg::Bytes;

namespace {

constexpr const char* kQdfx = "/data/rcvrecovery/QDFX";

void store(const std::string& devicePath, const Bytes& b) {
    const std::string dir = devicePath.substr(0, devicePath.rfind('/'));
    ASSERT_TRUE(FileOps::makeDirs(dir));
    ASSERT_TRUE(FileOps::writeFileAtomic(devicePath, b.data(), b.size()));
}

Bytes counting(u32 n) {
    Bytes b(n);
    for (u32 i = 0; i < n; ++i) b[i] = u8(i * 7 + i / 256);
    return b;
}

// One screen, one net of cards 0-2 on port 9 with 3, 1 and 2 operations.
pkg::Package threeCards() {
    pkg::Net net{9, {{pkg::save(), pkg::save(), pkg::save()}, {pkg::delay(10)},
                     {pkg::ramWrite(0x100, {1, 2, 3}), pkg::regWrite({0x34, 0x12, 1, 0x77})}}};
    return {{{0x1234, {net}, {}}}};
}

// Walks a package as the check and the recovery do; the first reader that
// refuses stops it. 0 when every read succeeded.
int walk(rcvRecovery& r, const QString& f) {
    if (r.get_rcvPackedFileNum(f)) return 1;
    for (u32 k = 0; k < r.packed_count; ++k)
        if (r.get_rcvPackedFileInfo(f, k)) return 2;
    if (r.update_rcvScreenHead(f)) return 3;
    for (u32 s = 0; s < r.screen_head.screen_count; ++s) {
        if (r.update_rcvScreenIDinfo(f, s) || r.update_rcvXYscreenNetnum(f)) return 4;
        for (u32 n = 0; n < r.net_count; ++n) {
            if (r.update_rcvXYscreenNetpara(f, n)) return 5;
            for (u32 c = 0; c < r.net.cards; ++c) {
                if (r.update_rcvXYrcvOperateTimes(f, c)) return 6;
                for (u32 o = 0; o < r.operation_count; ++o) {
                    if (r.update_rcvXYrcvOperatepara(f, o)) return 7;
                    u8 data[1024];
                    if (r.operation.length <= sizeof data &&
                        r.update_rcvOperatedata(f, r.net_base() + r.operation.offset, data, r.operation.length))
                        return 8;
                }
            }
        }
    }
    return 0;
}

class PackageReader : public SimEnv {};

}  // namespace

TEST_F(PackageReader, BlocksRecordsAndDataLieWhereTheFormatPutsThem) {
    store(kQdfx, pkg::package(threeCards()));
    rcvRecovery r;
    const QString f = kQdfx;
    ASSERT_EQ(walk(r, f), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(f, 0), 0);
    EXPECT_EQ((std::vector<u32>{r.net.port, r.net.cards}), (std::vector<u32>{9, 3}));
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(f, 2), 0);
    EXPECT_EQ(r.card_block_offset, 4u + 54 + 4 + 18);
    EXPECT_EQ(r.operation_count, 2);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(f, 1), 0);
    EXPECT_EQ((std::vector<u32>{r.operation.type, r.operation.target, r.operation.length}),
              (std::vector<u32>{1, 2, 4}));
    u8 data[4];
    ASSERT_EQ(r.update_rcvOperatedata(f, r.net_base() + r.operation.offset, data, 4), 0);
    EXPECT_EQ(Bytes(data, data + 4), (Bytes{0x34, 0x12, 1, 0x77}));
    EXPECT_EQ(r.screen.identity, 0x1234u);
    // Screen index 2 of 2 is refused, the record kept.
    pkg::Package two = threeCards();
    two.screens.push_back(two.screens[0]);
    two.screens[1].identity = 0x5678;
    store(kQdfx, pkg::package(two));
    ASSERT_EQ(walk(r, f), 0);
    EXPECT_EQ(r.update_rcvScreenIDinfo(f, 2), 1);
    EXPECT_EQ(r.screen.identity, 0x5678u);

    // A scan file of 2 operations: records at 20 and 38, data counted from 16.
    const Bytes scan = pkg::scanFile({pkg::ramWrite(0x40, {9, 8, 7}), pkg::regWrite({5, 6, 7, 8}, 250)});
    store("/mnt/usb1/a.qdfile", scan);
    const QString s = "/mnt/usb1/a.qdfile";
    ASSERT_EQ(r.update_smartDebugingOperateTimes(s, true), 0);
    EXPECT_EQ(r.operation_count, 2);
    ASSERT_EQ(r.update_smartDebugingOperatepara(s, 1, true), 0);
    EXPECT_EQ(r.operation.time_ms, 250u);
    EXPECT_EQ(scan[38 + 12], 250);
    EXPECT_EQ(scan[20 + 16], 1);
    ASSERT_EQ(r.update_rcvOperatedata(s, 16 + r.operation.offset, data, 4), 0);
    EXPECT_EQ(Bytes(data, data + 4), (Bytes{5, 6, 7, 8}));
    EXPECT_EQ(r.update_smartDebugingOperatepara(s, 2, true), 1);
}

TEST_F(PackageReader, HostileFilesAreRefusedBeforeTheirFieldsAreUsed) {
    rcvRecovery r;
    const QString f = kQdfx;
    const Bytes whole = pkg::package(threeCards());
    // Every cut of the file stops at some reader; a short read is an error.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        store(kQdfx, Bytes(whole.begin(), whole.begin() + long(cut)));
        rcvRecovery fresh;
        EXPECT_NE(walk(fresh, f), 0) << "cut at " << cut;
    }
    // More than six packed files.
    pkg::Package seven = threeCards();
    seven.announced = 7;
    store(kQdfx, pkg::package(seven));
    EXPECT_EQ(walk(r, f), 1);
    EXPECT_EQ(r.packed_count, 0);
    // Counts over 255 would wrap the job's one-byte indices.
    pkg::Package nets = threeCards();
    nets.screens[0].netCount = 256;
    store(kQdfx, pkg::package(nets));
    EXPECT_EQ(walk(r, f), 4);
    pkg::Package cards = threeCards();
    cards.screens[0].nets[0].cardCount = 300;
    store(kQdfx, pkg::package(cards));
    EXPECT_EQ(walk(r, f), 5);
    pkg::Package ops;
    ops.screens = {{1, {{0, {std::vector<pkg::Op>(256, pkg::save())}}}, {}}};
    store(kQdfx, pkg::package(ops));
    EXPECT_EQ(walk(r, f), 6);
    // Data that the record says is longer than the file.
    pkg::Package lie = threeCards();
    lie.screens[0].nets[0].cards[2][0].length = 250000;
    store(kQdfx, pkg::package(lie));
    ASSERT_EQ(walk(r, f), 0);  // the walk skips what does not fit its buffer
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(f, 2), 0);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(f, 0), 0);
    u8 data[16];
    EXPECT_EQ(r.update_rcvOperatedata(f, r.net_base() + r.operation.offset, data, 16), 1);
    EXPECT_EQ(r.update_rcvOperatedata(f, ~0ull - 4, data, 16), 1);
    // A missing file.
    EXPECT_EQ(r.get_rcvPackedFileNum("/data/rcvrecovery/none"), 1);
}

TEST_F(PackageReader, ListsHoldThePlainFilesOfTheirFolders) {
    rcvRecovery r;
    EXPECT_EQ(r.get_dir_file("/data/rcvrecovery"), 1);
    store("/data/rcvrecovery/QDFX", {1});
    ASSERT_TRUE(FileOps::makeDirs("/data/rcvrecovery/sub"));
    // What a write cut off before its rename leaves, and a name the device
    // never stores: neither is a card file (the recovery job wants one).
    store("/data/rcvrecovery/QDFX.new812-3", {1});
    store("/data/rcvrecovery/QDFX copy", {1});
    EXPECT_EQ(r.get_dir_file("/data/rcvrecovery"), 0);
    EXPECT_EQ(r.recovery_files(), QStringList{"QDFX"});
    store("/mnt/usb1/x.qdfile", {1});
    store("/mnt/usb1/notes.txt", {1});
    // A FIFO is no file to list, and one put in a listed file's place is
    // refused at once, not waited on for a writer.
    ASSERT_TRUE(fifoAt("/mnt/usb1/QDFRfifo"));
    store("/mnt/usb1/x.qdfile.new9-0", {1});
    EXPECT_EQ(r.get_dir_file("/mnt/usb1/"), 0);
    EXPECT_EQ(r.scan_files().size(), 2);
    EXPECT_FALSE(r.scan_files().contains("QDFRfifo"));
    int opened = 0;
    EXPECT_TRUE(endsWithoutAWriter("/mnt/usb1/QDFRfifo", [&] { opened = r.get_rcvPackedFileNum("/mnt/usb1/QDFRfifo"); }));
    EXPECT_EQ(opened, 1);
    const std::string refused = "card package /mnt/usb1/QDFRfifo: cannot be opened (a FIFO, not a regular file)";
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find(refused), std::string::npos);
    // A missing folder keeps the list; other folders change nothing.
    EXPECT_EQ(r.get_dir_file("/data/smartmapping"), 1);
    EXPECT_EQ(r.scan_files().size(), 2);
    store("/data/other/y", {1});
    EXPECT_EQ(r.get_dir_file("/data/other"), 0);
    EXPECT_EQ(r.scan_files().size(), 2);
    EXPECT_EQ(r.recovery_files().size(), 1);
}

namespace {

class CardRecovery : public CardJobs {
protected:
    // Every card of FPGA k's port gets the identity; `marked` needs
    // recovery.
    void identify(int k, int port, u32 identity, int marked = -1) {
        const int n = board().scenario().snapshot().cardsPerPort[size_t(12 * k + port)];
        for (int i = 0; i < n; ++i) {
            SimFpga::Card c = fpga[k]->card(port, i);
            c.identity = identity;
            c.needsRecovery = i == marked;
            fpga[k]->setCard(port, i, c);
        }
    }
    int searches() {
        int n = 0;
        for (auto& f : fpga)
            for (auto& s : f->sentFrames()) n += s.second.size() == 30 && s.second[card_frame::CLASS] == 0xAA;
        return n;
    }
    // Frames sent on FPGA k's port with command cmd, in order.
    std::vector<Bytes> framesOn(int k, int port, u8 cmd) {
        std::vector<Bytes> out;
        for (auto& s : fpga[k]->sentFrames())
            if (s.first == port && s.second.size() > 9 && s.second[9] == cmd) out.push_back(s.second);
        return out;
    }
    bool checkFinds() {
        events.clear();
        progress.clear();
        if (post_card_job(5) != JobPost::Posted) return false;
        return runJob(1500);
    }
    // An error end: 100 and the failure, then after more than 100 ticks an
    // empty job word and code 1. Without `failed` the job found nothing to
    // do: no failure is told.
    void expectErrorEnd(const char* what, bool failed = true) {
        const std::string job = std::to_string(g_send_para.job());
        ASSERT_TRUE(runUntil([this] { return !progress.empty() && progress.back() == 100; }, 2000)) << what;
        EXPECT_NE(g_send_para.job_step.load(), 0) << what;
        tick();
        const auto end = std::find(events.begin(), events.end(), "p100");
        ASSERT_NE(end, events.end()) << what;
        EXPECT_EQ(end + 1 == events.end() ? "" : end[1], failed ? "failed " + job : "") << what;
        int ticks = 0;
        while (g_send_para.job_step.load() != 0 && ticks < 500) tick(), ++ticks;
        EXPECT_GE(ticks, 100) << what;
        EXPECT_LE(ticks, 103) << what;
        EXPECT_EQ(events.back(), "code 1") << what;
    }
};

pkg::Package twoScreens() {
    pkg::Package p;
    for (u32 s = 0; s < 2; ++s) {
        pkg::Screen screen{0x100 + s, {}, {}};
        for (u16 n = 0; n < 3; ++n)
            screen.nets.push_back({u16(3 * s + n), std::vector<std::vector<pkg::Op>>(3, {pkg::save()})});
        p.screens.push_back(screen);
    }
    return p;
}

}  // namespace

TEST_F(CardRecovery, CheckAsksEveryNetAndReportsTheMarkedCard) {
    start(R"({"0": 3, "1": 3, "2": 3, "3": 3, "4": 3, "5": 3})");
    for (int port = 0; port < 6; ++port) identify(0, port, 0x100 + port / 3);
    store(kQdfx, pkg::package(twoScreens()));
    ASSERT_TRUE(checkFinds());
    // Every net answered "none" at once: six searches, no waiting.
    EXPECT_EQ(searches(), 6);
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return e.rfind("entry", 0) == 0; }), 0);
    EXPECT_EQ(progress.back(), 100);

    identify(0, 5, 0x101, 1);
    for (auto& f : fpga) f->clearLog();
    ASSERT_TRUE(checkFinds());
    EXPECT_EQ(searches(), 6);
    const std::vector<std::string> tail(events.end() - 3, events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"entry 02/06/02/03", "code 1", "p100"}));
    EXPECT_EQ((std::vector<int>{m->recovery_screen, m->recovery_port, m->recovery_card}),
              (std::vector<int>{1, 5, 1}));
    EXPECT_EQ(g_send_para.job_step.load(), 0);
}

TEST_F(CardRecovery, CheckWaitsForASilentNetThenGoesOn) {
    start(R"({"0": 3, "1": 3, "2": 3, "3": 3, "4": 3, "5": 3})");
    for (int port = 0; port < 6; ++port) identify(0, port, 0x100 + port / 3);
    fpga[0]->setSilentPort(1, true);
    store(kQdfx, pkg::package(twoScreens()));
    ASSERT_EQ(post_card_job(5), JobPost::Posted);
    ASSERT_TRUE(runUntil([this] { return searches() == 2; }, 600));
    int ticks = 0;
    while (searches() == 2 && ticks < 1000) tick(), ++ticks;
    EXPECT_GE(ticks, 500);
    EXPECT_LE(ticks, 504);
    ASSERT_TRUE(runJob(600));
    EXPECT_EQ(searches(), 6);
    // A periodic search of the silent port, whose replies would be alike,
    // holds the check's frame to it for the search's one cycle, no longer.
    m->g_change[2] = G_timeTicks - 80;
    m->Search_Card_Cmd();
    const u32 before = G_timeTicks;
    m->check_error_rcv_search_card_cmd(1, 0, 0x100, 0, 0, m->ctrl_wait, 500);
    EXPECT_GE(Utils::getTimeSpace(before), 80u);
    EXPECT_LE(Utils::getTimeSpace(before), 82u);
}

TEST_F(CardRecovery, CheckWithTwoFilesOrNoScreenFileEndsWithoutSending) {
    start(R"({"0": 3})");
    store(kQdfx, pkg::package(twoScreens()));
    store("/data/rcvrecovery/QDFX2", {1, 2, 3});
    ASSERT_TRUE(checkFinds());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(searches(), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "code 1"), 0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "failed 5"), 0);

    ASSERT_TRUE(FileOps::removePath("/data/rcvrecovery/QDFX2"));
    pkg::Package noScreen = twoScreens();
    noScreen.screenFile = false;
    store(kQdfx, pkg::package(noScreen));
    events.clear();
    progress.clear();
    ASSERT_EQ(post_card_job(5), JobPost::Posted);
    expectErrorEnd("no screen file");
    EXPECT_EQ(fpga[0]->sentFrames().size(), 0u);
}

TEST_F(CardRecovery, RecoveryReplaysTheMarkedCardsOperations) {
    start(R"({"3": 3})");
    identify(0, 3, 0x77, 1);
    const Bytes big = counting(2500);
    pkg::Net net{3, {{pkg::save()},
                     {pkg::ramWrite(0x1000, big), pkg::ramWrite(0x8000, counting(2000)),
                      pkg::regWrite({0x34, 0x12, 1, 0x5A}), pkg::delay(1500)},
                     {pkg::save()}}};
    store(kQdfx, pkg::package({{{0x77, {net}, {}}}}));
    ASSERT_TRUE(checkFinds());
    ASSERT_EQ(m->recovery_card, 1);
    for (auto& f : fpga) f->clearLog();
    events.clear();
    ASSERT_EQ(post_card_job(6), JobPost::Posted);
    ASSERT_TRUE(runUntil([this] { return framesOn(0, 3, card_frame::CMD_REG_WRITE).size() == 1; }, 600));
    int ticks = 0;
    while (g_send_para.job_step.load() != 0 && ticks < 400) tick(), ++ticks;
    // The pause of 1500 ms after the register write (its acknowledgement
    // and the next operation's sub-steps take a pass each).
    EXPECT_GE(ticks, 150);
    EXPECT_LE(ticks, 160);

    const auto ram = framesOn(0, 3, card_frame::CMD_RAM_WRITE);
    // 2500 bytes in three packets, 2000 in two (no empty third).
    ASSERT_EQ(ram.size(), 5u);
    const u32 lengths[5] = {1000, 1000, 500, 1000, 1000};
    const u32 addresses[5] = {0x1000, 0x1000 + 1000, 0x1000 + 2000, 0x8000, 0x8000 + 1000};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(card_frame::rd32(ram[size_t(i)].data(), 10), addresses[i]);
        EXPECT_EQ(card_frame::rd32(ram[size_t(i)].data(), 14), lengths[i]);
        EXPECT_EQ(card_frame::rd16(ram[size_t(i)].data(), 0) & 0x0FFF, 1);
    }
    // Nothing after the register write but the pause.
    const auto all = fpga[0]->sentFrames();
    EXPECT_EQ(all.back().second[9], card_frame::CMD_REG_WRITE);
    const SimFpga::Card c = fpga[0]->card(3, 1);
    Bytes got;
    for (u32 i = 0; i < 2500; ++i) got.push_back(c.ram.count(0x1000 + i) ? c.ram.at(0x1000 + i) : 0);
    EXPECT_EQ(got, big);
    EXPECT_EQ(c.regs.at(0x1234), 0x5A);
    EXPECT_TRUE(fpga[0]->card(3, 0).ram.empty());
    EXPECT_EQ(fpga[0]->card(3, 0).saves + fpga[0]->card(3, 2).saves, 0);
    // A recovery ends by emptying the shown entry.
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()), (std::vector<std::string>{"clear", "p100"}));
}

TEST_F(CardRecovery, HostilePackagesEndCleanly) {
    start(R"({"3": 3})");
    identify(0, 3, 0x77, 1);
    pkg::Net net{3, {{pkg::save()}, {pkg::regWrite(counting(1013))}, {pkg::save()}}};
    const pkg::Package oversized{{{0x77, {net}, {}}}};
    store(kQdfx, pkg::package(oversized));
    ASSERT_TRUE(checkFinds());
    ASSERT_EQ(m->recovery_card, 1);
    for (auto& f : fpga) f->clearLog();
    events.clear();
    progress.clear();
    ASSERT_EQ(post_card_job(6), JobPost::Posted);
    expectErrorEnd("oversized register write");
    EXPECT_TRUE(framesOn(0, 3, card_frame::CMD_REG_WRITE).empty());

    pkg::Package user = oversized;
    user.screens[0].nets[0].cards[1] = {pkg::user(counting(1014))};
    pkg::Package seven = oversized;
    seven.announced = 7;
    pkg::Package nets = oversized;
    nets.screens[0].netCount = 256;
    pkg::Package cards = oversized;
    cards.screens[0].nets[0].cardCount = 256;
    const Bytes whole = pkg::package(oversized);
    struct Case {
        const char* what;
        Bytes file;
        u8 job;
    };
    const std::vector<Case> cases = {
        {"user data over 1013", pkg::package(user), 6},
        {"seven packed files", pkg::package(seven), 5},
        {"256 nets", pkg::package(nets), 5},
        {"256 cards", pkg::package(cards), 5},
        {"cut in the screen head", Bytes(whole.begin(), whole.begin() + 50), 5},
        {"cut in the operations", Bytes(whole.begin(), whole.end() - 500), 6},
    };
    for (const Case& c : cases) {
        store(kQdfx, c.file);
        events.clear();
        progress.clear();
        ASSERT_EQ(post_card_job(c.job), JobPost::Posted) << c.what;
        expectErrorEnd(c.what);
    }
}

TEST_F(CardRecovery, ScanFileFromTheStickConfiguresThePortCardByCard) {
    start(R"({"4": 3, "5": 2})");
    ASSERT_TRUE(FileOps::makeDirs("/data/smartmapping"));
    store("/mnt/usb1/wall.qdfile", pkg::scanFile({pkg::ramWrite(0x2000, {1, 2, 3, 4}), pkg::activate()}));
    set_qdfile_name("/mnt/usb1/wall.qdfile");
    LINE_TYPE_PARA l;
    l.port = 4;
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    ASSERT_TRUE(runJob(1000));
    EXPECT_EQ(progress.back(), 100);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ram32(fpga[0]->card(4, i), 0x2000), 0x04030201u) << i;
        EXPECT_EQ(fpga[0]->card(4, i).activations, 1) << i;
    }
    EXPECT_TRUE(fpga[0]->card(5, 0).ram.empty());
    auto targets = [this] {
        std::vector<int> out;
        for (auto& f : framesOn(0, 4, card_frame::CMD_ACTIVATE)) out.push_back(card_frame::rd16(f.data(), 0) & 0x0FFF);
        return out;
    };
    EXPECT_EQ(targets(), (std::vector<int>{2, 1, 0}));

    // Cards that never answer: each gets the frame and three retries.
    fpga[0]->setSilentPort(4, true);
    fpga[0]->clearLog();
    progress.clear();
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    ASSERT_TRUE(runJob(3000));
    EXPECT_EQ(targets(), (std::vector<int>{2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(framesOn(0, 4, card_frame::CMD_RAM_WRITE).size(), 4u);
    // The RAM write and each card's activation given up: four, 400 ms
    // apart. The first names the port (index 4), the next two fall in its
    // second and are counted, the fourth (1200 ms after the first) names it
    // again.
    LineLimiter::writeHeldCounts();
    const std::string log = readHostFile(hostPath(kLogFile));
    const std::string more = " more card frames of the panel's jobs not acknowledged";
    int counted = 0;
    for (size_t at = log.find(more); at != std::string::npos; at = log.find(more, at + 1))
        counted += std::atoi(log.c_str() + log.rfind(' ', at - 1) + 1);
    EXPECT_EQ((Vals{countIn(log, "fpga: scan file load: no card of port LED5 acknowledged in 400 ms"), counted}),
              (Vals{2, 2}));

    // No file chosen: finished at once, nothing sent.
    set_qdfile_name("");
    fpga[0]->clearLog();
    progress.clear();
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    ASSERT_TRUE(runJob(300));
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(fpga[0]->sentFrames().empty());
    // A name outside the scan folders is refused.
    set_qdfile_name("/data/rcvrecovery/QDFX");
    progress.clear();
    events.clear();
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    expectErrorEnd("file outside the scan folders");

    // A file cut inside its operation count cannot be read; a port without
    // cards has nothing to load.
    store("/data/smartmapping/cut.qdfile", Bytes(17, 0));
    set_qdfile_name("/data/smartmapping/cut.qdfile");
    progress.clear();
    events.clear();
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    expectErrorEnd("cut scan file");
    set_qdfile_name("/mnt/usb1/wall.qdfile");
    l.port = 6;
    progress.clear();
    events.clear();
    ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted);
    expectErrorEnd("port without cards", false);
}

// Every number of a scan file from the stick at its bound and past it: a
// file past one is refused whole with a line naming it and the operation,
// nothing is sent, and the job word is free for the next job.
TEST_F(CardRecovery, ScanFileNumbersPastTheirBoundsAreRefusedAndTheJobsStayFree) {
    start(R"({"4": 1})");
    ASSERT_TRUE(FileOps::makeDirs("/data/smartmapping"));
    set_qdfile_name("/mnt/usb1/n.qdfile");
    LINE_TYPE_PARA l;
    l.port = 4;
    const std::vector<pkg::Op> thirty(30, pkg::regWrite({1}, 30000));  // 30 x 4 x 30 s: one hour
    std::vector<pkg::Op> thirtyOne = thirty;
    thirtyOne.push_back(pkg::save(1));
    const struct {
        const char* what;
        std::vector<pkg::Op> ops;
        const char* refused;  // the log's words after the file's name; none: replayed
    } rows[] = {
        {"a pause of 30 s", {pkg::delay(30000)}, nullptr},
        {"a pause of 30.001 s", {pkg::save(), pkg::delay(30001)},
         "operation 2 waits 30001 ms, more than 30000"},
        {"a pause of 49.7 days", {pkg::delay(0xFFFFFFFF)}, "operation 1 waits 4294967295 ms, more than 30000"},
        {"an acknowledgement wait of 49.7 days", {pkg::regWrite({1}, 0xFFFFFFFF)},
         "operation 1 waits 4294967295 ms"},
        {"a save's wait past 30 s", {pkg::save(30001)}, "operation 1 waits 30001 ms"},
        {"a RAM write of 255 packets", {pkg::ramWrite(0, counting(255000), 10)}, nullptr},
        {"a RAM write of 256 packets", {pkg::ramWrite(0, counting(255001))},
         "operation 1 type 1 carries 255001 bytes, 1 to 255000 fit"},
        {"a register write of 1012 bytes", {pkg::regWrite(counting(1012))}, nullptr},
        {"a register write of 1013 bytes", {pkg::regWrite(counting(1013))},
         "operation 1 type 1 carries 1013 bytes, 1 to 1012 fit"},
        {"a user frame of 1013 bytes", {pkg::user(counting(1013))}, nullptr},
        {"a user frame of 1014 bytes", {pkg::user(counting(1014))},
         "operation 1 type 16 carries 1014 bytes, 1 to 1013 fit"},
        {"a user frame without its command", {pkg::user({})}, "operation 1 type 16 carries 0 bytes"},
        {"an activation of 1013 bytes", {pkg::activate(), {3, 0, 0, 100, counting(1013)}},
         "operation 2 type 3 carries"},
        {"waits of one hour in all", thirty, nullptr},
        {"waits past one hour in all", thirtyOne, "its operations wait up to 3600004 ms when no card answers"},
        {"255 operations", std::vector<pkg::Op>(255, pkg::save(1)), nullptr},
        {"256 operations", std::vector<pkg::Op>(256, pkg::save(1)), "256 operations"},
    };
    for (const auto& row : rows) {
        store("/mnt/usb1/n.qdfile", pkg::scanFile(row.ops));
        fpga[0]->clearLog();
        events.clear();
        progress.clear();
        ASSERT_EQ(post_card_job(2, {&l}), JobPost::Posted) << row.what;
        if (row.refused) {
            expectErrorEnd(row.what);
            EXPECT_TRUE(fpga[0]->sentFrames().empty()) << row.what;
            const std::string line = std::string("card package /mnt/usb1/n.qdfile: ") + row.refused;
            EXPECT_NE(readHostFile(hostPath(kLogFile)).find(line), std::string::npos) << row.what;
        } else {
            EXPECT_TRUE(runJob(3600)) << row.what;
            EXPECT_EQ(std::count(events.begin(), events.end(), "failed 2"), 0) << row.what;
        }
    }
}

TEST_F(CardRecovery, DeletedFilesEmptyTheReadersLists) {
    start(R"({"0": 1})");
    store(kQdfx, {1});
    store("/data/smartmapping/QDFR1", {1});
    ASSERT_EQ(m->recovery->get_dir_file("/data/rcvrecovery"), 0);
    ASSERT_EQ(m->recovery->get_dir_file("/data/smartmapping"), 0);
    EXPECT_TRUE(message_deal::delete_file_name());
    EXPECT_TRUE(m->recovery->recovery_files().isEmpty());
    EXPECT_TRUE(m->recovery->scan_files().isEmpty());
}

// Every frame of the controller that waits for a card reply, sent to FPGA 0
// port 5 (one card) whose card keeps silent, gets one reply as it leaves:
// its own, or a late one of a frame before (from another card of the port,
// from port 4 with the same command, with another command). Only its own
// ends the wait; the others leave it its full length, and the silent port
// is logged.
TEST_F(CardRecovery, AControllersFrameIsEndedByItsOwnReplyNeverByALateOneOfAnother) {
    start(R"({"5": 1})");
    store("/mnt/usb1/wall.qdfile", pkg::scanFile({pkg::ramWrite(0x2000, {1, 2, 3, 4}, 1000), pkg::activate(1000)}));
    set_qdfile_name("/mnt/usb1/wall.qdfile");
    store(kQdfx, pkg::package({{{0x100, {{5, {{pkg::save()}}}}, {}}}}));
    const LINE_TYPE_PARA l = grid(5, 1, 1, 10);
    const u32 on = 9;
    auto job = [&](u8 j, CardJobParams params = {}) { return [=] { post_card_job(j, params); }; };
    size_t sentAtReply = 0;
    struct Waiter {
        const char* what;
        std::function<void()> start;
        u8 cmd;
        bool oneCard, afterFirst;  // afterFirst: the port's frame before it is answered
        int wait;                  // ticks (the sensor's runs inside start, the search's to its next cycle)
        const char* silent;
        std::function<bool()> ended = {};  // none: the job's next frame, closing progress (90 or more) or end
    };
    const Waiter waiters[] = {
        {"quick set-up, the card's position", job(1, {&l}), 0x60, true, false, 1200,
         "quick set-up: no card of port LED6 acknowledged in 12 s"},
        {"quick set-up, the port's reset", job(1, {&l}), 0xA0, false, true, 1200,
         "quick set-up: no card of port LED6 acknowledged in 12 s"},
        {"parameter save", job(3), 0x81, false, false, 1300,
         "parameter save: no card of port LED6 acknowledged in 13 s"},
        {"mapping switch", job(4, {nullptr, &on}), 0xA0, false, false, 1200,
         "mapping switch: no card of port LED6 acknowledged in 12 s"},
        {"scan file, RAM write to all cards", job(2, {&l}), 0x60, false, false, 100,
         "scan file load: no card of port LED6 acknowledged in 4 s"},
        {"scan file, activation of the card", job(2, {&l}), 0xB4, true, true, 100,
         "scan file load: no card of port LED6 acknowledged in 4 s"},
        // The cards' search of a scan file is a job frame of class 'g': its
        // acknowledgement is the job's, not the periodic search's answer.
        {"scan file, the cards' search",
         [&] {
             store("/mnt/usb1/search.qdfile", pkg::scanFile({{7, 0, 0, 1000, {0, 0, 0, 0}}}));
             set_qdfile_name("/mnt/usb1/search.qdfile");
             post_card_job(2, {&l});
         },
         0x10, false, false, 100, nullptr},
        {"card check", job(5), 0x10, false, false, 500, "card check: no card of port LED6 acknowledged in 5 s"},
        {"light sensor read",
         [&] {
             board().scenario().setSensor(5, SimSensor{true, 4, false, false});
             m->g_change[27] = 2;
             m->g_change[28] = 0x5000;
             m->sensor_unread = false;
             m->read_sensor();
         },
         0x61, true, false, 0, "light sensor gave no reading", [&] { return m->g_change[31] == 1; }},
        {"periodic search", [&] { m->g_change[2] = G_timeTicks - 80, m->Search_Card_Cmd(); }, 0x10, false, false, 80,
         nullptr, [&] { return (m->search_result_mask >> 2 & 1) == 1; }},
    };
    // From status on: a card count of 1, the check's identity and no card to
    // recover, a valid sensor reading of level 9; the check byte.
    Bytes data = {0, 1, 0, 0, 0, 0, 0, 0, 0x00, 0x01, 0, 0, 0xFF, 0};
    data.resize(1 + 128 + 1, 0);
    data[1 + 49] = 0xFF;
    data[1 + 52] = 9;
    enum Kind { Own, AnotherCard, AnotherPort, AnotherCommand };
    for (const Waiter& w : waiters) {
        for (Kind kind : {Own, AnotherCard, AnotherPort, AnotherCommand}) {
            if (kind == AnotherCard && !w.oneCard) continue;  // every card's reply is its own
            const std::string what = std::string(w.what) + ", reply kind " + std::to_string(kind);
            g_send_para.finish();
            fpga_manage::MCU_RAM_PARA_func[0][564] = 1;  // the count a search of the silent port took away
            progress.clear();
            fpga[0]->clearLog();
            fpga[0]->setSilentPort(5, !w.afterFirst);
            bool replied = false;
            fpga[0]->setRegWriteHook([&](u8, u8) {
                const auto frames = fpga[0]->sentFrames();
                if (replied || frames.empty() || frames.back().first != 5) return;
                const Bytes f = frames.back().second;
                fpga[0]->setSilentPort(5, true);
                if (f[card_frame::CMD] != w.cmd) return;
                // From the card addressed (all cards: the only one), port 5's
                // address bits 1 (port 4's 0).
                const u16 dst = card_frame::rd16(f.data(), card_frame::DST);
                const u16 card = u16(((dst & 0x0FFF) < 0x0FFE ? dst & 0x0FFF : 0) + (kind == AnotherCard));
                const u16 src = u16((kind == AnotherPort ? 0 : 0x1000) | (dst & 0x4000) | card);
                const u8 cmd = u8(f[9] ^ (kind == AnotherCommand ? 0x21 : 0));
                Bytes r = {0x00, 0xF0, u8(src), u8(src >> 8), 0x10, f[5], f[6], f[7], 0, cmd};
                r.insert(r.end(), data.begin(), data.end());
                card_frame::seal(r.data(), u32(r.size()));
                fpga[0]->injectReply(kind == AnotherPort ? 4 : 5, r);
                sentAtReply = frames.size();
                replied = true;
            });
            auto ended = w.ended ? w.ended : [&] {
                return fpga[0]->sentFrames().size() > sentAtReply || (!progress.empty() && progress.back() >= 90) ||
                       g_send_para.job_step.load() == 0;
            };
            const size_t silentBefore = w.silent ? countIn(readHostFile(hostPath(kLogFile)), w.silent) : 0;
            w.start();
            if (!runUntil([&] { return replied; }, 3000)) {
                ADD_FAILURE() << what << ": the frame was not sent";
            } else if (kind == Own) {
                EXPECT_TRUE(runUntil(ended, 10)) << what;
            } else {
                tick(std::max(0, w.wait - 3));
                EXPECT_FALSE(ended()) << what;
                runJob(5000);
                if (w.silent) {
                    EXPECT_GT(countIn(readHostFile(hostPath(kLogFile)), w.silent), silentBefore) << what;
                }
            }
            fpga[0]->setRegWriteHook(nullptr);
        }
    }
    fpga[0]->setSilentPort(5, false);
}

namespace {

// The frames the controller can have waiting for an answer on one port at
// once, and the pairs of them that meet: the FPGA thread sends one frame of
// the panel's jobs or of its idle work at a time, so a job's frame meets a
// search sent just before the job was posted; a PC's frame meets whatever
// the thread sent before it, and, when the cards answer the PC later than
// the 80 ticks it holds the thread back, whatever the thread sends next.
enum Sent { Search, Check, QuickSetUp, Save, Mapping, Scan, Sensor, Pc };
const char* const kFrameNames[] = {"periodic search", "card check", "quick set-up", "parameter save",
                                   "mapping switch",  "scan file",  "sensor read",  "PC's search"};
const std::pair<Sent, Sent> kMeetings[] = {
    {Search, Check}, {Search, QuickSetUp}, {Search, Save}, {Search, Mapping}, {Search, Scan}, {Search, Sensor},
    {Search, Pc},    {Check, Pc},          {QuickSetUp, Pc}, {Save, Pc},     {Mapping, Pc},   {Scan, Pc},
    {Pc, Search},    {Pc, Check},          {Pc, Save},       {Pc, Scan},     {Pc, Sensor},
};

}  // namespace

// FPGA 0 port 5: three cards of identity 0x100, card 2 lost its
// configuration, the light sensor asks for level 4, and every reply comes
// 300 ms late. Of each pair, the second frame is sent while the first still
// waits; each finds its own answer: the search its reply, the check card 2,
// each job its acknowledgements (one missed would cost it 1000 ticks or
// more), the sensor its level, the PC its count of 3.
TEST_F(CardRecovery, FramesWaitingOnOnePortAtOnceEachFindTheirOwnAnswer) {
    start(R"({"5": 3})");
    board().scenario().loadJson(R"({"ports": {"5": 3}, "slow_replies": {"5": {"ms": 300}}})");
    identify(0, 5, 0x100, 2);
    board().scenario().setSensor(5, SimSensor{true, 4, false, false});
    store(kQdfx, pkg::package({{{0x100, {{5, {{pkg::save()}, {pkg::save()}, {pkg::save()}}}}, {}}}}));
    store("/mnt/usb1/all.qdfile",
          pkg::scanFile({pkg::ramWrite(0x2000, {1, 2, 3, 4}, 10000), pkg::regWrite({0x34, 0x12, 1, 0x77}, 10000),
                         pkg::activate(10000), {7, 0, 0, 10000, {0, 0, 0, 0}}, pkg::user({0x42, 1}, 10000)}));
    set_qdfile_name("/mnt/usb1/all.qdfile");
    const LINE_TYPE_PARA l = grid(5, 1, 3, 10);
    const u32 on = 9;
    TestLink link;
    Bytes pcSearch = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0x06, 0x00, 0x10, 0, 0, 0, 0, 0};
    // Worked by hand: from the last card (index 2, port bits cleared), 3
    // cards, the sensor's status byte 1.
    Bytes counted = {0x10, 0xF0, 0x02, 0x00, 0x10, 0xAA, 0xFF, 0x06, 0x00, 0x10, 0x00, 0x03, 0x00, 0x01, 0};
    for (Bytes* f : {&pcSearch, &counted}) card_frame::seal(f->data(), u32(f->size()));

    u32 posted = 0, ended = 0;
    bool searchAnswered = false;
    struct Kind {
        std::function<void()> post;  // a job: posted, then run until armed
        std::function<bool()> armed;
        std::function<void()> fire;  // sends the frame
        std::function<bool()> own;
    };
    auto job = [&](u8 j, CardJobParams params, u8 sendingStep, std::function<bool()> more = [] { return true; }) {
        return Kind{[=, &posted] {
                        posted = G_timeTicks;
                        post_card_job(j, params);
                    },
                    [=] { return g_send_para.step() == sendingStep; },
                    [&] {
                        const size_t n = fpga[0]->sentFrames().size();
                        runUntil([&] { return fpga[0]->sentFrames().size() > n; }, 100);
                    },
                    [=, &posted, &ended] { return ended - posted < 1000 && more(); }};
    };
    const std::map<Sent, Kind> kinds = {
        {Search,
         {{}, {}, [&] { m->g_change[2] = G_timeTicks - 80, m->Search_Card_Cmd(); }, [&] { return searchAnswered; }}},
        {Check, job(5, {}, 0x0D, [&] { return std::count(events.begin(), events.end(), "entry 01/06/03/03") == 1; })},
        {QuickSetUp, job(1, {&l}, 0)},
        {Save, job(3, {}, 0)},
        {Mapping, job(4, {nullptr, &on}, 0)},
        {Scan, job(2, {&l}, 0x12)},
        {Sensor,
         {{}, {}, [&] { m->g_change[27] = 2, m->g_change[28] = 0x5000, m->read_sensor(); },
          [&] { return m->g_change[31] == 1 && m->sensor_block[52] == 4; }}},
        {Pc,
         {{}, {}, [&] { link.handleFrame(pcSearch.data(), u32(pcSearch.size())), pc_cmd_valid.store(0); },
          [&] {
              std::vector<Bytes> frames;
              FrameDecoder d(65536);
              for (const auto& r : link.replies)
                  d.feed(r.data(), r.size(), [&](const u8* f, u32 n) { frames.emplace_back(f, f + n); });
              return frames == std::vector<Bytes>{counted};
          }}},
    };
    for (const auto& [first, second] : kMeetings) {
        const Kind &a = kinds.at(first), &b = kinds.at(second);
        const std::string what = std::string(kFrameNames[first]) + ", then " + kFrameNames[second];
        g_send_para.finish();
        pc_cmd_valid.store(0);
        events.clear();
        link.replies.clear();
        m->g_change[31] = 0;
        m->sensor_block[52] = 0;
        searchAnswered = false;
        posted = ended = 0;
        for (const Kind* k : {&b, &a}) {
            if (!k->post) continue;
            k->post();
            ASSERT_TRUE(runUntil(k->armed, 600)) << what;
        }
        a.fire();
        if (!b.post) b.fire();
        for (int i = 0; i < 3000 && (i < 40 || g_send_para.job_step.load() != 0 || link.passPending()); ++i) {
            searchAnswered |= (m->search_result_mask >> 2) & 1;
            tick();
            link.servePassThrough();
            if (g_send_para.job_step.load() == 0 && ended == 0) ended = G_timeTicks;
        }
        EXPECT_TRUE(a.own()) << what << ", the first";
        EXPECT_TRUE(b.own()) << what << ", the second";
        tick(40);  // whatever is still on its way
    }
}
