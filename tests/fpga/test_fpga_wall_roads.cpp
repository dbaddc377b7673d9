// The wall's black-out and its LED set-up, from every road that changes
// either, at the pace of a person: the c331 manager's passes and the FPGA
// thread's turns in virtual time against the simulated FPGAs, a PC's
// requests through the dispatcher, the panel's edits under the change
// protocol. After the last step, whatever the spacing, the wall shows as
// the operator's blackout word says, both FPGAs and the screen state a PC
// reads agree with it, the outputs are on, and each new panel was set up
// once, by whichever pass met it first.
#include "support/quiet_c331_ops.h"
#include "fpga_env.h"

#include "../protocol/frame_helpers.h"
#include "core/image_view.h"
#include "protocol/message_deal.h"
#include "ui/shell/fpga_panel.h"

#include <tuple>

namespace {

class WallRoads;
using Act = std::function<void(WallRoads&)>;

struct Step {
    int afterMs;  // wait before the step; kGap: the row's spacing
    Act act;
};
constexpr int kGap = -1;

struct Road {
    const char* name;
    std::vector<Step> steps;
    u8 blackout;          // the operator's word at the end
    u16 wallWidth;        // the wall set up at the end
    int setupsAtOnce;     // panels the c331 set up when the spacing is 0
    int setups;           // and at any other spacing
};

// The c331's panel set-ups, counted.
struct CountingOps : QuietC331Ops {
    int zrvApi_PnlInit2(int, int, int, int, int) override {
        ++panels;
        return 0;
    }
    int panels = 0;
};

class WallRoads : public FpgaEnv, protected PcRequests, public ::testing::WithParamInterface<std::tuple<int, int>> {
public:
    static const std::vector<Road>& roads();

    // ---- a PC
    void pcWord(u32 offset, u16 value) { ASSERT_EQ(ramWrite(offset, {u8(value), u8(value >> 8)}), ReplyStatus::Ok); }
    void pcApply() { ASSERT_EQ(regWrite(161, 0x02, 0x02), ReplyStatus::Ok); }
    void pcScreen(int fpgaNumber, bool black) {
        const u8 target = fpgaNumber == 1 ? PcReg::TargetFpga0 : PcReg::TargetFpga1;
        ASSERT_EQ(regWrite(0, 0x04, black ? 0x04 : 0, target), ReplyStatus::Ok);
    }
    // Another PC's apply, through a dispatcher of its own.
    void otherPcApply() { ASSERT_EQ(other.regWrite(161, 0x02, 0x02), ReplyStatus::Ok); }

    // ---- the panel, as its pages edit the image
    void panelBlackoutButton() {
        editImage([](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
            live.setWord(RamOffset::BLACKOUT, live.word(RamOffset::BLACKOUT) ? 0 : 1);
            return true;
        });
    }
    // A page that changes the wall (or, with 0, leaves it) and asks for the
    // LED set-up, as the output page and the factory resets do.
    void panelWall(u16 width) {
        editImage([&](PARA_RAM_IMAGE& live, const PARA_RAM_IMAGE&) {
            if (width) live.setWord(RamOffset::WALL_WIDTH, width);
            FpgaPanel::requestLedReinit();
            return true;
        });
    }
    void panelRecall(int mode) {
        editImage([&](PARA_RAM_IMAGE&, const PARA_RAM_IMAGE&) {
            if (!model->user_mode_recall_locked(mode)) return false;
            FpgaPanel::requestLedReinit();
            return true;
        });
    }

    // ---- the on/off schedule's entry 0 meeting its time
    void schedule(bool on) {
        m->onoff_count = 1;
        m->onoff[0] = {8, 30, 20, 0, true, true};
        m->onoff_day = m->current_time.day = 9;
        m->current_time.hour = on ? 8 : 20;
        m->current_time.minute = on ? 30 : 0;
        m->dealwith_onoff();
    }

    // One 10 ms tick: a turn of the FPGA thread, then the c331 thread's
    // pass when a change waits for it. A pass that meets a new panel while
    // an LED set-up for it runs waits for that set-up's end, as the thread
    // does.
    void turn() {
        clock->advanceMs(10);
        m->thread_turn();
        if (c->apply_flag.load() == 0) return;
        if (g_set_led_para.load() == 1) {
            QMutexLocker lock(&c->mutex);
            if (c->panel_owed_locked()) return;
        }
        c->c331managerdeal(c);
    }
    void wait(int ms) {
        for (int t = 0; t < ms; t += 10) turn();
    }

protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        quiet = std::make_unique<QuietC331Manager>();
        c = quiet->c;
        c->setChipOps(&ops);
        // Saved user modes: 1 the wall as it starts, 2 a wider wall, 3 the
        // starting wall blacked out.
        {
            QMutexLocker lock(&c->mutex);
            const u8* now = &model->live_image.data[RamOffset::MODE_BEGIN];
            for (int s = 0; s < 3; ++s) {
                USER_MODE_SLOT& slot = model->user_mode[s];
                std::memcpy(slot.snapshot, now, RamOffset::MODE_LEN);
                slot.marker[0] = slot.marker[1] = 0xAA;
            }
            auto put = [](USER_MODE_SLOT& slot, u32 off, u16 v) {
                slot.snapshot[off - RamOffset::MODE_BEGIN] = u8(v);
                slot.snapshot[off - RamOffset::MODE_BEGIN + 1] = u8(v >> 8);
            };
            put(model->user_mode[1], RamOffset::WALL_WIDTH, 3840);
            put(model->user_mode[2], RamOffset::BLACKOUT, 1);
        }
        c->thread_state.store(5);
        c->init_chip();
        release(0);
        release(1);
        for (int i = 0; i < 3000 && !m->get_fpga_status(); ++i) turn();
        ASSERT_TRUE(m->get_fpga_status());
        wait(1000);
        ops.panels = 0;
    }
    void TearDown() override {
        quiet.reset();
        FpgaEnv::TearDown();
    }

    std::unique_ptr<QuietC331Manager> quiet;
    c331_manage* c = nullptr;
    CountingOps ops;
    PcRequests other;
};

const std::vector<Road>& WallRoads::roads() {
    using W = WallRoads;
    static const std::vector<Road> table = {
        // ---- the LED set-up: every road that asks for one
        {"a PC's new wall width, applied",
         {{0, [](W& t) { t.pcWord(1378, 3840); }}, {kGap, [](W& t) { t.pcApply(); }}}, 0, 3840, 1, 1},
        {"a PC's new width, the height as it was, applied 2 s after",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {kGap, [](W& t) { t.pcWord(1380, 1080); }},
          {2000, [](W& t) { t.pcApply(); }}},
         0, 3840, 1, 1},
        {"a PC's new splice mode, applied",
         {{0, [](W& t) { t.pcWord(1376, 3); }}, {kGap, [](W& t) { t.pcApply(); }}}, 0, 1920, 1, 1},
        {"a PC's new wall height alone, applied",
         {{0, [](W& t) { t.pcWord(1380, 1200); }}, {kGap, [](W& t) { t.pcApply(); }}}, 0, 1920, 1, 1},
        {"a PC's new wall, applied, applied again",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {kGap, [](W& t) { t.pcApply(); }}},
         0, 3840, 1, 1},
        {"a PC's wall never applied, the panel recalls mode 1, the PC applies its contrast 3 s later",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {kGap, [](W& t) { t.panelRecall(1); }},
          {kGap, [](W& t) { t.pcWord(2178, 60); }},
          {3000, [](W& t) { t.pcApply(); }}},
         0, 1920, 0, 2},
        {"a PC's wall never applied, another PC applies its contrast",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {kGap, [](W& t) { t.pcWord(2178, 60); }},
          {0, [](W& t) { t.otherPcApply(); }}},
         0, 3840, 1, 1},
        {"a PC's new wall undone before the set-up's panel",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {kGap, [](W& t) { t.pcWord(1378, 1920); }}},
         0, 1920, 0, 2},
        {"a PC's new wall undone during the set-up",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {200, [](W& t) { t.pcWord(1378, 1920); }}},
         0, 1920, 0, 0},
        {"a PC chooses user mode 2 (a wider wall), applied",
         {{0, [](W& t) { t.pcWord(866, 2); }}, {kGap, [](W& t) { t.pcApply(); }}}, 0, 3840, 1, 1},
        {"the panel recalls user mode 2, then mode 1",
         {{0, [](W& t) { t.panelRecall(2); }}, {kGap, [](W& t) { t.panelRecall(1); }}}, 0, 1920, 0, 2},
        {"the output page's new wall", {{0, [](W& t) { t.panelWall(2560); }}}, 0, 2560, 1, 1},
        {"a page asks for the LED set-up with the wall as it was", {{0, [](W& t) { t.panelWall(0); }}}, 0, 1920, 0, 0},
        {"the output page's new wall, then a PC's",
         {{0, [](W& t) { t.panelWall(2560); }},
          {kGap, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }}},
         0, 3840, 1, 2},

        // ---- the black-out: every road that changes the word or the FPGAs
        {"a PC blacks both FPGAs out, then shows the word",
         {{0, [](W& t) { t.pcScreen(1, true); }},
          {0, [](W& t) { t.pcScreen(2, true); }},
          {kGap, [](W& t) { t.pcWord(2116, 0); }}},
         0, 1920, 0, 0},
        {"a PC blacks both out, shows the word, applies, sets the contrast and applies",
         {{0, [](W& t) { t.pcScreen(1, true); }},
          {0, [](W& t) { t.pcScreen(2, true); }},
          {3000, [](W& t) { t.pcWord(2116, 0); }},
          {kGap, [](W& t) { t.pcApply(); }},
          {kGap, [](W& t) { t.pcWord(2178, 60); }},
          {0, [](W& t) { t.pcApply(); }}},
         0, 1920, 0, 0},
        {"the word blacks out, a PC shows both FPGAs, the word blacks out again",
         {{0, [](W& t) { t.pcWord(2116, 1); }},
          {kGap, [](W& t) { t.pcScreen(1, false); }},
          {0, [](W& t) { t.pcScreen(2, false); }},
          {kGap, [](W& t) { t.pcWord(2116, 1); }},
          {0, [](W& t) { t.pcApply(); }}},
         1, 1920, 0, 0},
        {"a PC blacks one FPGA out", {{0, [](W& t) { t.pcScreen(1, true); }}}, 1, 1920, 0, 0},
        {"a PC blacks both out, the panel's button pressed once",
         {{0, [](W& t) { t.pcScreen(1, true); }},
          {0, [](W& t) { t.pcScreen(2, true); }},
          {kGap, [](W& t) { t.panelBlackoutButton(); }}},
         0, 1920, 0, 0},
        {"a PC blacks both out, the panel's button pressed three times",
         {{0, [](W& t) { t.pcScreen(1, true); }},
          {0, [](W& t) { t.pcScreen(2, true); }},
          {kGap, [](W& t) { t.panelBlackoutButton(); }},
          {kGap, [](W& t) { t.panelBlackoutButton(); }},
          {kGap, [](W& t) { t.panelBlackoutButton(); }}},
         0, 1920, 0, 0},
        {"the schedule's off-time, then a PC shows the word",
         {{0, [](W& t) { t.schedule(false); }}, {kGap, [](W& t) { t.pcWord(2116, 0); }}}, 0, 1920, 0, 0},
        {"a PC's word blacks out, then the schedule's on-time",
         {{0, [](W& t) { t.pcWord(2116, 1); }}, {kGap, [](W& t) { t.schedule(true); }}}, 0, 1920, 0, 0},
        {"the panel recalls user mode 3, blacked out", {{0, [](W& t) { t.panelRecall(3); }}}, 1, 1920, 0, 0},
        {"a PC chooses user mode 3, blacked out, then shows the word",
         {{0, [](W& t) { t.pcWord(866, 3); }},
          {0, [](W& t) { t.pcApply(); }},
          {kGap, [](W& t) { t.pcWord(2116, 0); }}},
         0, 1920, 0, 0},

        // ---- both: the operator's last word survives an LED set-up
        {"blacked out by the word, then a PC's new wall",
         {{0, [](W& t) { t.pcWord(2116, 1); }},
          {kGap, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }}},
         1, 3840, 1, 1},
        {"a PC's new wall, then the PC blacks both FPGAs out during the set-up",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {200, [](W& t) { t.pcScreen(1, true); }},
          {0, [](W& t) { t.pcScreen(2, true); }}},
         1, 3840, 1, 1},
        {"a PC's new wall, then the panel's button during the set-up",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {200, [](W& t) { t.panelBlackoutButton(); }}},
         1, 3840, 1, 1},
        {"a PC's new wall, then the schedule's off-time during the set-up",
         {{0, [](W& t) { t.pcWord(1378, 3840); }},
          {0, [](W& t) { t.pcApply(); }},
          {100, [](W& t) { t.schedule(false); }}},
         1, 3840, 1, 1},
    };
    return table;
}

TEST_P(WallRoads, TheWallShowsAsTheBlackoutWordSaysAndEachPanelIsSetUpOnce) {
    const Road& road = roads()[size_t(std::get<0>(GetParam()))];
    const int gap = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(road.name) + ", spaced " + std::to_string(gap) + " ms");
    for (const Step& s : road.steps) {
        wait(s.afterMs == kGap ? gap : s.afterMs);
        s.act(*this);
    }
    // Long enough for an LED set-up and the restart it brings.
    wait(20000);
    const int black = road.blackout ? 4 : 0;
    u16 wall = 0;
    bool owed = true;
    {
        QMutexLocker lock(&c->mutex);
        wall = model->live_image.word(RamOffset::WALL_WIDTH);
        owed = c->panel_owed_locked();
    }
    EXPECT_EQ((Vals{m->get_fpga_status(), g_set_led_para.load(), m->led_setup_busy(), owed, wall}),
              (Vals{1, 0, 0, 0, road.wallWidth}));
    EXPECT_EQ((Vals{model->live_image.word(RamOffset::BLACKOUT), fpga[0]->reg(0) & 4, fpga[1]->reg(0) & 4,
                    fpga_manage::MCU_RAM_EXTEND[29], fpga[0]->reg(3) & 0x20, fpga[1]->reg(3) & 0x20}),
              (Vals{road.blackout, black, black, road.blackout ? 0 : 1, 0x20, 0x20}));
    EXPECT_EQ(ops.panels, gap == 0 ? road.setupsAtOnce : road.setups);
}

// A wall the write's own pass set up is not laid out again by a later
// apply: the PC's windows stay, and no LED set-up blacks the wall out.
TEST_F(WallRoads, AWallItsOwnPassSetUpIsNotLaidOutAgainByALaterApply) {
    pcWord(1378, 3840);
    wait(8000);
    {
        QMutexLocker lock(&c->mutex);
        model->live_image.setWord(RamOffset::win(0) + RamOffset::WIN_WIDTH, 1000);
        model->live_image.setWord(RamOffset::win(1) + RamOffset::WIN_ENABLE, 1);
    }
    const size_t offs = fpga[0]->writesTo(3).size();
    pcApply();
    EXPECT_EQ(g_set_led_para.load(), 0);
    wait(3000);
    EXPECT_EQ((Vals{model->live_image.word(RamOffset::win(0) + RamOffset::WIN_WIDTH),
                    model->live_image.word(RamOffset::win(1) + RamOffset::WIN_ENABLE), fpga[0]->writesTo(3).size(),
                    ops.panels}),
              (Vals{1000, 1, offs, 1}));
}

// The schedule shows the wall during an LED set-up: the set-up keeps it
// black until the FPGAs restart for the new panel, which then shows it.
TEST_F(WallRoads, AWordShownDuringAnLedSetUpWaitsForItsRestart) {
    pcWord(2116, 1);
    wait(1000);
    pcWord(1378, 3840);
    pcApply();
    wait(200);
    schedule(true);
    int turns = 0, shown = 0;
    for (; turns < 30 && g_set_led_para.load() != 0; ++turns) {
        turn();
        if (!(fpga[0]->reg(0) & 4) || !(fpga[1]->reg(0) & 4)) ++shown;
    }
    EXPECT_EQ((Vals{turns > 0, shown}), (Vals{1, 0}));
    wait(20000);
    EXPECT_EQ((Vals{model->live_image.word(RamOffset::BLACKOUT), fpga[0]->reg(0) & 4, fpga[1]->reg(0) & 4}),
              (Vals{0, 0, 0}));
}

std::string roadName(const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
    return "Road" + std::to_string(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param)) + "ms";
}

INSTANTIATE_TEST_SUITE_P(Spacings, WallRoads,
                         ::testing::Combine(::testing::Range(0, int(WallRoads::roads().size())),
                                            ::testing::Values(0, 1500, 10000)),
                         roadName);

}  // namespace
