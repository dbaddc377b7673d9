// The front panel's receiving-card jobs on the simulated card chains:
// posting, the grid walk of the quick set-up, parameter save, mapping switch,
// the pause for PC commands.
#include "card_jobs_env.h"

#include "tools/route_order.h"

#include <set>

#include <atomic>
#include <sstream>
#include <thread>

namespace {

// The index at each cabinet, rows from the top, for every routing type.
struct Routing {
    int type;
    const char* twoByThree;   // 2 rows x 3 columns
    const char* threeByTwo;   // 3 rows x 2 columns
};
const Routing kRoutings[] = {
    {1, "3 4 5 / 2 1 0", "5 4 / 2 3 / 1 0"},
    {2, "5 4 3 / 0 1 2", "4 5 / 3 2 / 0 1"},
    {3, "2 1 0 / 3 4 5", "1 0 / 2 3 / 5 4"},
    {4, "0 1 2 / 5 4 3", "0 1 / 3 2 / 4 5"},
    {5, "5 2 1 / 4 3 0", "3 2 / 4 1 / 5 0"},
    {6, "4 3 0 / 5 2 1", "5 0 / 4 1 / 3 2"},
    {7, "0 3 4 / 1 2 5", "0 5 / 1 4 / 2 3"},
    {8, "1 2 5 / 0 3 4", "2 3 / 1 4 / 0 5"},
    {9, "5 4 3 / 2 1 0", "5 4 / 3 2 / 1 0"},
    {10, "0 1 2 / 3 4 5", "0 1 / 2 3 / 4 5"},
    {11, "3 4 5 / 0 1 2", "4 5 / 2 3 / 0 1"},
    // Columns from the left, rows counted up from the column count: off a
    // square grid some cards fall outside it and are refused.
    {12, "- - - / 1 3 5", "1 4 / 0 3 / - -"},
    {13, "5 3 1 / 4 2 0", "5 2 / 4 1 / 3 0"},
    {14, "0 2 4 / 1 3 5", "0 3 / 1 4 / 2 5"},
    {15, "1 3 5 / 0 2 4", "2 5 / 1 4 / 0 3"},
    {16, "4 2 0 / 5 3 1", "3 0 / 4 1 / 5 2"},
};

// Walks every index through get_rcvcard_x_y and draws the grid.
std::string drawn(int rows, int cols, int type) {
    line_type = LINE_TYPE_PARA{};
    line_type.cabinet_width = 64;
    line_type.cabinet_height = 32;
    line_type.rows = u8(rows);
    line_type.columns = u8(cols);
    line_type.routing = u8(type);
    std::vector<std::string> cell(size_t(rows * cols), "-");
    for (int i = 0; i < rows * cols; ++i) {
        u16 x = 0xEEEE, y = 0xEEEE;
        if (!fpga_manage::get_rcvcard_x_y(u16(i), &x, &y)) continue;
        if (x % 64 || y % 32 || x / 64 >= cols || y / 32 >= rows) return "index " + std::to_string(i) + " off grid";
        std::string& c = cell[size_t(y / 32 * cols + x / 64)];
        c = c == "-" ? std::to_string(i) : "twice";
    }
    std::ostringstream out;
    for (int r = 0; r < rows; ++r) {
        if (r) out << " / ";
        for (int c = 0; c < cols; ++c) out << (c ? " " : "") << cell[size_t(r * cols + c)];
    }
    return out.str();
}

}  // namespace

TEST(CardRouting, EveryTypeWalksTheGridAsDrawn) {
    for (const Routing& r : kRoutings) {
        EXPECT_EQ(drawn(2, 3, r.type), r.twoByThree) << "type " << r.type;
        EXPECT_EQ(drawn(3, 2, r.type), r.threeByTwo) << "type " << r.type;
    }
    // Type 2, 2 x 3: index 3 at the right end of the top row, 5 at 0, 0.
    drawn(2, 3, 2);
    u16 x, y;
    ASSERT_TRUE(fpga_manage::get_rcvcard_x_y(3, &x, &y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(u16(128), u16(0)));
    ASSERT_TRUE(fpga_manage::get_rcvcard_x_y(5, &x, &y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(u16(0), u16(0)));
}

// The panel's routing pictures are drawn from the order of a 3 x 3 screen:
// the same cabinets, in the same order, as the cards of that type get.
TEST(CardRouting, RoutingPicturesFollowTheCards) {
    for (int type = 1; type <= 16; ++type) {
        drawn(3, 3, type);
        const std::vector<QPoint> picture = routeOrder(type);
        ASSERT_EQ(picture.size(), 9u) << "type " << type;
        std::set<std::pair<int, int>> cells;
        for (int i = 0; i < 9; ++i) {
            u16 x = 0, y = 0;
            ASSERT_TRUE(fpga_manage::get_rcvcard_x_y(u16(i), &x, &y)) << type << " " << i;
            EXPECT_EQ(std::make_pair(int(x / 64), int(y / 32)), std::make_pair(picture[size_t(i)].x(), picture[size_t(i)].y()))
                << "type " << type << " card " << i;
            cells.insert({picture[size_t(i)].x(), picture[size_t(i)].y()});
        }
        EXPECT_EQ(cells.size(), 9u) << "type " << type;
    }
}

TEST(CardRouting, GridsThatCannotBeWalkedPlaceNothing) {
    u16 x = 7, y = 7;
    drawn(0, 3, 2);
    EXPECT_FALSE(fpga_manage::get_rcvcard_x_y(0, &x, &y));
    drawn(2, 0, 2);
    EXPECT_FALSE(fpga_manage::get_rcvcard_x_y(0, &x, &y));
    for (int bad : {0, 17, 255}) {
        drawn(2, 3, bad);
        EXPECT_FALSE(fpga_manage::get_rcvcard_x_y(0, &x, &y)) << bad;
    }
    drawn(2, 3, 2);
    EXPECT_FALSE(fpga_manage::get_rcvcard_x_y(6, &x, &y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(u16(0), u16(0)));
}

TEST_F(CardJobs, PostingIsRefusedWhileBusyAndChangesNothing) {
    start(R"({"5": 3})");
    pc_cmd_valid.store(1);  // holds the job where it is
    pc_cmd_time.store(G_timeTicks);
    const LINE_TYPE_PARA first = grid(5, 1, 3, 10);
    ASSERT_EQ(post_card_job(1, {&first}), JobPost::Posted);
    EXPECT_EQ(g_send_para.job_step.load(), 1);
    const LINE_TYPE_PARA other = grid(7, 2, 2, 4);
    const u32 nine = 9;
    EXPECT_EQ(post_card_job(4, {&other, &nine}), JobPost::Busy);
    EXPECT_EQ(line_type.port, 5);
    EXPECT_EQ(line_type.routing, 10);
    EXPECT_EQ(g_send_para.job_step.load(), 1);
    EXPECT_NE(g_send_para.mapping_value, 9u);

    g_send_para.job_step.store(0);
    g_usb_grade.store(1);
    EXPECT_EQ(post_card_job(1, {&other}), JobPost::Busy);
    EXPECT_EQ(line_type.port, 5);
    EXPECT_EQ(g_send_para.job_step.load(), 0);
    g_usb_grade.store(0);
    EXPECT_EQ(post_card_job(0), JobPost::Busy);
    EXPECT_EQ(post_card_job(7), JobPost::Busy);
    // The start-up word (step 0xFF, no job) is idle.
    g_send_para.job_step.store(0xFF00);
    EXPECT_EQ(post_card_job(3), JobPost::Posted);
    EXPECT_EQ(g_send_para.job_step.load(), 3);
}

TEST(CardJobPosting, TheJobWordAppearsOnlyAfterItsParameters) {
    g_send_para.job_step.store(0);
    g_usb_grade.store(0);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, seen{0};
    // The FPGA thread's side: takes each job and checks its record.
    std::thread taker([&] {
        while (!stop.load()) {
            const u16 w = g_send_para.job_step.load();
            if (w == 0) {
                std::this_thread::yield();
                continue;
            }
            if (line_type.cabinet_width != u16(line_type.rows * 7)) ++wrong;
            ++seen;
            g_send_para.job_step.store(0);
        }
    });
    for (int i = 1; i <= 300; ++i) {
        LINE_TYPE_PARA l;
        l.rows = u8(i);
        l.cabinet_width = u16(l.rows * 7);
        while (post_card_job(1, {&l}) == JobPost::Busy) std::this_thread::yield();
    }
    while (seen.load() < 300) std::this_thread::yield();
    stop.store(true);
    taker.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(CardJobs, QuickSetUpPlacesEveryCardAndResetsThePort) {
    start(R"({"5": 3, "6": 2})");
    const LINE_TYPE_PARA l = grid(5, 2, 2, 4);
    ASSERT_EQ(post_card_job(1, {&l}), JobPost::Posted);
    ASSERT_TRUE(runJob(400));
    EXPECT_EQ(progress, (std::vector<int>{25, 50, 75, 75, 90, 100}));
    const u32 expected[3][2] = {{10, 20}, {74, 20}, {74, 52}};
    for (int i = 0; i < 3; ++i) {
        const SimFpga::Card c = fpga[0]->card(5, i);
        EXPECT_EQ(ram32(c, 0x180), expected[i][0] | expected[i][1] << 16) << "card " << i;
        EXPECT_EQ(c.regs.count(0xFF01), 1u) << "card " << i;
    }
    EXPECT_TRUE(fpga[0]->card(6, 0).ram.empty());
    EXPECT_EQ(g_send_para.job_step.load(), 0);
}


TEST_F(CardJobs, QuickSetUpWaitsForASilentCardThenGoesOn) {
    start(R"({"5": 2})");
    fpga[0]->setSilentPort(5, true);
    const LINE_TYPE_PARA l = grid(5, 1, 2, 10);
    ASSERT_EQ(post_card_job(1, {&l}), JobPost::Posted);
    ASSERT_TRUE(runUntil([this] { return framesWith(0, card_frame::CMD_RAM_WRITE) == 1; }, 10));
    int ticks = 0;
    while (framesWith(0, card_frame::CMD_RAM_WRITE) == 1 && ticks < 2000) tick(), ++ticks;
    EXPECT_GE(ticks, 1200);
    EXPECT_LE(ticks, 1203);
    // The heartbeat rolls while it waits.
    EXPECT_GE(std::count(progress.begin(), progress.end(), 1), 1);
    // The maintainer reads which port kept silent (index 5).
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)),
                      "fpga: quick set-up: no card of port LED6 acknowledged in 12 s; going on"),
              1u);
}

TEST_F(CardJobs, QuickSetUpOfAPortWithoutCardsOrGridEndsAtOnceAsAFailure) {
    start(R"({"5": 3})");
    for (const LINE_TYPE_PARA& l : {grid(7, 2, 2, 4), grid(5, 0, 2, 4), grid(5, 2, 0, 4), grid(5, 2, 2, 17)}) {
        progress.clear();
        events.clear();
        ASSERT_EQ(post_card_job(1, {&l}), JobPost::Posted);
        tick(5);
        EXPECT_EQ(progress, std::vector<int>{90});
        tick(195);
        EXPECT_NE(g_send_para.job_step.load(), 0);
        ASSERT_TRUE(runJob(10));
        EXPECT_EQ(progress, (std::vector<int>{90, 100}));
        EXPECT_EQ(fpga[0]->sentFrames().size(), 0u);
        // Nothing placed, on a port without cards or on a grid that cannot
        // be walked: a failure either way.
        EXPECT_EQ(events, (std::vector<std::string>{"p90", "p100", "failed 1"}));
    }
    // The log names the port without cards as the panel does (index 7).
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("fpga: quick set-up of port LED8: no cards on it; nothing sent"),
              std::string::npos);
}


TEST_F(CardJobs, SaveWaitsLongerForLongerChains) {
    start(R"({"0": 10, "13": 1})");
    fpga[0]->setSilentPort(0, true);
    ASSERT_EQ(post_card_job(3), JobPost::Posted);
    ASSERT_TRUE(runUntil([this] { return framesWith(0, card_frame::CMD_SAVE) == 1; }, 10));
    int ticks = 0;
    while (framesWith(1, card_frame::CMD_SAVE) == 0 && ticks < 3000) tick(), ++ticks;
    EXPECT_GE(ticks, 2200);
    EXPECT_LE(ticks, 2204);
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)),
                      "fpga: parameter save: no card of port LED1 acknowledged in 22 s; going on"),
              1u);
}


TEST_F(CardJobs, APcCommandHoldsTheJobAndItsTimeOutRestartsAfter) {
    start(R"({"5": 2})");
    fpga[0]->setSilentPort(5, true);
    const LINE_TYPE_PARA l = grid(5, 1, 2, 10);
    ASSERT_EQ(post_card_job(1, {&l}), JobPost::Posted);
    ASSERT_TRUE(runUntil([this] { return framesWith(0, card_frame::CMD_RAM_WRITE) == 1; }, 10));
    tick(600);
    // A PC command for the cards, renewed for 1500 ticks.
    for (int i = 0; i < 1500; ++i) {
        pc_cmd_valid.store(1);
        pc_cmd_time.store(G_timeTicks);
        tick();
    }
    EXPECT_EQ(framesWith(0, card_frame::CMD_RAM_WRITE), 1);
    EXPECT_EQ(g_send_para.step(), 3);
    // The pause ends 80 ticks after the last sign of the command; the card
    // then gets its whole wait again.
    int ticks = 0;
    while (framesWith(0, card_frame::CMD_RAM_WRITE) == 1 && ticks < 3000) tick(), ++ticks;
    EXPECT_GE(ticks, 80 + 1200);
    EXPECT_LE(ticks, 80 + 1206);
    EXPECT_EQ(pc_cmd_valid.load(), 0);
}

// A PC's broadcast search, answered, and then the panel's jobs: every card's
// acknowledgement still reaches the job, which takes as long as without the
// broadcast (the quick set-up of 3 cards 216 ticks, where one lost
// acknowledgement alone costs 1200).
TEST_F(CardJobs, JobsAfterAPcBroadcastGetEveryAcknowledgement) {
    start(R"({"5": 3, "13": 2})");
    const LINE_TYPE_PARA l = grid(5, 1, 3, 10);
    const u32 on = 9;
    struct Job {
        const char* what;
        u8 job;
        CardJobParams params;
    };
    const Job jobs[] = {{"quick set-up", 1, {&l}}, {"parameter save", 3, {}}, {"mapping switch", 4, {nullptr, &on}}};
    auto ticksOf = [&](const Job& j) {
        EXPECT_EQ(post_card_job(j.job, j.params), JobPost::Posted) << j.what;
        int ticks = 0;
        while (g_send_para.job_step.load() != 0 && ticks < 6000) tick(), ++ticks;
        return ticks;
    };
    int alone[3];
    for (int i = 0; i < 3; ++i) alone[i] = ticksOf(jobs[i]);
    EXPECT_EQ(alone[0], 216);
    for (int i = 0; i < 3; ++i) {
        // The search as the PC's link hands it over; the FPGA thread's
        // polls take the replies, and the pause for the PC ends.
        std::vector<u8> search = {0xFE, 0x0F, 0x10, 0xF0, 0x10, 0xAA, 0xFF, 0xFF, 0x00, 0x10, 0, 0, 0, 0, 0};
        card_frame::seal(search.data(), u32(search.size()));
        pc_cmd_valid.store(1);
        pc_cmd_time.store(G_timeTicks);
        {
            QMutexLocker lock(&m->port_mutex);
            m->Dealwith1_PC_to_eth(u32(search.size()), search.data());
        }
        ASSERT_TRUE(runUntil([] { return pc_cmd_valid.load() == 0; }, 100));
        EXPECT_EQ(ticksOf(jobs[i]), alone[i]) << jobs[i].what;
    }
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), "acknowledged in"), 0u);
}

namespace {

class CardSearch : public CardJobs {
protected:
    // Runs to the end of the next search cycle; its number.
    u32 cycle() {
        const u32 before = m->g_change[8];
        EXPECT_TRUE(runUntil([&] { return m->g_change[8] != before; }, 100));
        return m->g_change[8];
    }
    // The ports FPGA k sent a search (30 bytes, class 0xAA) to, in order.
    std::vector<int> searched(int k) {
        std::vector<int> out;
        for (auto& f : fpga[k]->sentFrames())
            if (f.second.size() == 30 && f.second[card_frame::CLASS] == 0xAA) out.push_back(f.first);
        return out;
    }
    std::vector<int> counts(std::initializer_list<int> ports) {
        std::vector<int> out;
        for (int p : ports) out.push_back(m->get_port_card_num(u8(p)));
        return out;
    }
};

}  // namespace

TEST_F(CardSearch, EveryCycleClearsEachPairsBitAndWalksThePairsOddOrEvenPortFirst) {
    start(R"({"0": 2, "1": 3, "4": 1, "8": 2, "9": 3, "12": 2, "13": 1})");
    std::set<bool> kinds;
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k <= round; ++k) cycle();  // one odd, one even cycle below
        tick(40);  // every reply taken and acknowledged
        for (auto& f : fpga) {
            f->setReg(131, 0x0F);
            f->setReg(147, 0x0F);
            f->clearLog();
        }
        const bool odd = cycle() & 1;
        kinds.insert(odd);
        // Bit 0 of 131 for ports 0-1, bit 2 for 4-5; bit 0 of 147 for 8-9;
        // each cleared before the pair's first search.
        EXPECT_EQ((std::vector<int>{fpga[0]->pairBitsAtLastSearch(0), fpga[0]->pairBitsAtLastSearch(1),
                                    fpga[0]->pairBitsAtLastSearch(4), fpga[0]->pairBitsAtLastSearch(8),
                                    fpga[0]->pairBitsAtLastSearch(9), fpga[1]->pairBitsAtLastSearch(0),
                                    fpga[1]->pairBitsAtLastSearch(1)}),
                  (std::vector<int>{0x0E, 0x0E, 0x0A, 0x0E, 0x0E, 0x0E, 0x0E}));
        EXPECT_EQ((std::vector<int>{fpga[0]->reg(131), fpga[0]->reg(147), fpga[1]->reg(131), fpga[1]->reg(147)}),
                  (std::vector<int>{0x0A, 0x0E, 0x0E, 0x0F}));
        if (odd) {
            EXPECT_EQ(searched(0), (std::vector<int>{1, 0, 4, 9, 8}));
            EXPECT_EQ(searched(1), (std::vector<int>{1, 0}));
            EXPECT_EQ(m->search_result_mask & 0xC0000000u, 0xC0000000u);
        } else {
            EXPECT_EQ(searched(0), (std::vector<int>{0, 1, 4, 8, 9}));
            EXPECT_EQ(searched(1), (std::vector<int>{0, 1}));
            EXPECT_EQ(m->search_result_mask & 0xFFFF4000u, 0u);
        }
        // Replies from FPGA 0's pairs 0, 2, 4 and FPGA 1's pair 0.
        tick(40);
        EXPECT_EQ(m->search_result_mask & 0x3FFFu, 0x0115u);
    }
    EXPECT_EQ(kinds.size(), 2u);
}

TEST_F(CardSearch, ASilentPairLosesOnePortsCardsOnlyAfterAnOddCycle) {
    start(R"({"0": 2, "1": 3, "4": 1, "8": 2, "9": 3, "12": 2, "13": 1})");
    const u32 n = cycle();
    tick(40);
    for (int port : {0, 1, 4, 8, 9}) fpga[0]->setSilentPort(port, true);
    // Cycle n + 1 is the first without replies; the next cycle after an odd
    // one acts on it.
    const u32 dropAt = n % 2 == 0 ? n + 2 : n + 3;
    const std::vector<int> all = {2, 3, 1, 2, 3, 2, 1};
    for (u32 k = n + 1; k <= n + 5; ++k) {
        ASSERT_EQ(cycle(), k);
        tick(40);
        // Of a pair of ports 0-7 both searched the odd port goes to 0, of a
        // pair of 8-15 the even one; a lone port goes itself.
        const std::vector<int> want = k < dropAt ? all : std::vector<int>{2, 0, 0, 0, 3, 2, 1};
        EXPECT_EQ(counts({0, 1, 4, 8, 9, 12, 13}), want) << "cycle " << k - n;
    }
    EXPECT_EQ(m->total_cards, 2 + 3 + 2 + 1);
}
