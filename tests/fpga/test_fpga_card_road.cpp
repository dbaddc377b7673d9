// The whole road of the card jobs: the FPGA thread running on its own, jobs
// posted the way the pages post them, a recovery package arriving through
// the command protocol's file transfer, the findings collected in the GUI
// thread. Virtual time: the thread's pass waits advance the clock, so the
// jobs' long time-outs pass at once; the test only polls with a bound.
#include "fpga_env.h"
#include "pc_file.h"

#include "fpga/card_frame.h"
#include "fpga/fpga_jobs.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"
#include "ui/shell/guibridge.h"

#include <QCoreApplication>
#include <QtTest/QTest>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using pkg::Bytes;

class CardRoad : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        pc_cmd_valid.store(0);
        g_usb_grade.store(0);
        auto& n = fpga_job_notifier::get();
        // Queued to this (the GUI) thread through the page stand-in; an
        // entry after its job's end, or a call in the FPGA thread, shows in
        // the entries.
        auto note = [this](int v) {
            progress.push_back(GuiBridge::inGuiThread() ? v : -1);
        };
        QObject::connect(&n, &fpga_job_notifier::quick_progress, &page, note);
        QObject::connect(&n, &fpga_job_notifier::advanced_progress, &page, note);
        QObject::connect(&n, &fpga_job_notifier::recovery_entry_found, &page, [this](const QString& t) {
            const bool late = !progress.empty() && progress.back() == 100;
            entries.push_back(t.toStdString() + (late ? " after the end" : "") +
                              (GuiBridge::inGuiThread() ? "" : " off the GUI thread"));
        });
    }
    void TearDown() override {
        if (m) m->stop();
        g_send_para.finish();
        FpgaEnv::TearDown();
    }
    // Cards per port, then a manager whose own thread brings both FPGAs
    // up and searches the chains.
    void start(const std::string& ports, const std::string& more = "") {
        ASSERT_TRUE(board().scenario().loadJson("{\"ports\": " + ports + more + "}"));
        u16 expected = 0;
        for (u16 c : board().scenario().snapshot().cardsPerPort) expected = u16(expected + c);
        m.reset();
        m = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = m.get();
        ASSERT_EQ(m->initialize(true), 0);
        // What the input-source and c331 managers do: outputs clocked, the
        // start gate opened.
        release(0);
        release(1);
        g_fpga_c331_start.store(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return m->get_fpga_status() && m->total_cards == expected; }, kThreadWorkMs));
        g_send_para.job_step.store(0);
    }
    // Posted like a page, then polled until the job word is empty and the
    // last progress (100) reached this thread.
    bool run(u8 job, const CardJobParams& params = {}) {
        progress.clear();
        if (post_card_job(job, params) != JobPost::Posted) return false;
        return QTest::qWaitFor(
                   [this] { return g_send_para.job_step.load() == 0 && !progress.empty() && progress.back() == 100; },
                   kThreadWorkMs) &&
               std::count(progress.begin(), progress.end(), -1) == 0;
    }
    u8 sendFile(u8 type, const std::string& name, const Bytes& content) {
        return pkg::sendFile(deal, type, name, content);
    }
    static u32 ram32(const SimFpga::Card& c, u32 at) {
        u32 v = 0;
        for (u32 i = 0; i < 4; ++i) v |= u32(c.ram.count(at + i) ? c.ram.at(at + i) : 0) << (8 * i);
        return v;
    }
    void mark(int k, int port, int count, u32 identity, int marked) {
        for (int i = 0; i < count; ++i) {
            SimFpga::Card c = fpga[k]->card(port, i);
            c.identity = identity;
            c.needsRecovery = i == marked;
            fpga[k]->setCard(port, i, c);
        }
    }

    QObject page;
    message_deal deal;
    std::vector<int> progress;
    std::vector<std::string> entries;
};

Bytes counting(u32 n) {
    Bytes b(n);
    for (u32 i = 0; i < n; ++i) b[i] = u8(i * 13 + 7);
    return b;
}

}  // namespace

TEST_F(CardRoad, QuickSetUpOfTwoRowsOfThreeCardsPlacesEveryCard) {
    // Port 16 is FPGA 1's port 4.
    start(R"({"16": 6})");
    LINE_TYPE_PARA l;
    l.cabinet_width = 128;
    l.cabinet_height = 64;
    l.x_offset = 8;
    l.y_offset = 16;
    l.port = 16;
    l.rows = 2;
    l.columns = 3;
    l.routing = 2;
    ASSERT_TRUE(run(1, {&l}));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(std::vector<int>(progress.end() - 2, progress.end()), (std::vector<int>{90, 100}));
    // Bottom row left to right, then the top row back.
    const u32 col[6] = {0, 1, 2, 2, 1, 0}, row[6] = {1, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(ram32(fpga[1]->card(4, i), 0x180), (8 + 128 * col[i]) | (16 + 64 * row[i]) << 16) << "card " << i;
    EXPECT_TRUE(fpga[0]->card(4, 0).ram.empty());
}

TEST_F(CardRoad, PackageSentByThePcIsFoundByACheckAndReplayedIntoTheMarkedCard) {
    // Identities and the mark from the board scenario.
    start(R"({"2": 3, "3": 2})", R"(, "card_identity": {"2": 21930, "3": 21930}, "needs_recovery": {"3": [1]})");
    const Bytes table = counting(1800);
    pkg::Net first{2, {{pkg::save()}, {pkg::save()}, {pkg::save()}}};
    pkg::Net second{3, {{pkg::ramWrite(0x400, {9, 9})},
                        {pkg::ramWrite(0x2000, table), pkg::regWrite({0x03, 0x0F, 1, 0x09})}}};
    ASSERT_EQ(sendFile(PcFile::RecoveryFile, "package.bin", pkg::package({{{0x55AA, {first, second}, {}}}})), 0);

    ASSERT_TRUE(run(5));
    EXPECT_EQ(entries, (std::vector<std::string>{"01/04/02/02"}));
    EXPECT_EQ((std::vector<int>{m->recovery_port, m->recovery_card}), (std::vector<int>{3, 1}));

    ASSERT_TRUE(run(6));
    const SimFpga::Card c = fpga[0]->card(3, 1);
    Bytes got;
    for (u32 i = 0; i < table.size(); ++i) got.push_back(c.ram.count(0x2000 + i) ? c.ram.at(0x2000 + i) : 0);
    EXPECT_EQ(got, table);
    EXPECT_EQ(c.regs.at(0x0F03), 9);
    // The card that kept its set-up is left alone.
    EXPECT_TRUE(fpga[0]->card(3, 0).ram.empty());
    EXPECT_EQ(fpga[0]->card(2, 1).saves, 0);
}

TEST_F(CardRoad, HostilePackagesEndCleanlyOnTheRunningThread) {
    start(R"({"3": 3})");
    mark(0, 3, 3, 0x77, 1);
    pkg::Net net{3, {{pkg::save()}, {pkg::regWrite({1, 0, 1, 1})}, {pkg::save()}}};
    const pkg::Package good{{{0x77, {net}, {}}}};
    ASSERT_EQ(sendFile(PcFile::RecoveryFile, "QDFX", pkg::package(good)), 0);
    ASSERT_TRUE(run(5));
    ASSERT_EQ(m->recovery_card, 1);

    pkg::Package oversized = good;
    oversized.screens[0].nets[0].cards[1] = {pkg::regWrite(counting(1013))};
    pkg::Package seven = good;
    seven.announced = 7;
    pkg::Package cards = good;
    cards.screens[0].nets[0].cardCount = 300;
    const Bytes whole = pkg::package(good);
    struct Case {
        const char* what;
        Bytes file;
        u8 job;
    };
    const std::vector<Case> cases = {
        {"oversized operation", pkg::package(oversized), 6},
        {"seven packed files", pkg::package(seven), 5},
        {"300 cards", pkg::package(cards), 5},
        {"cut short", Bytes(whole.begin(), whole.end() - 30), 6},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(sendFile(PcFile::RecoveryFile, "QDFX", c.file), 0) << c.what;
        EXPECT_TRUE(run(c.job)) << c.what;
        EXPECT_EQ(g_send_para.job_step.load(), 0) << c.what;
        EXPECT_TRUE(entries.size() == 1) << c.what;
    }
    // Still serving: a check of the good package finds the card again.
    ASSERT_EQ(sendFile(PcFile::RecoveryFile, "QDFX", pkg::package(good)), 0);
    entries.clear();
    ASSERT_TRUE(run(5));
    EXPECT_EQ(entries, (std::vector<std::string>{"01/04/02/03"}));
}
