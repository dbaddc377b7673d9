// The manager's apply pass and poll step driving the simulated chip through
// the real chip operations: test patterns with several windows, sharpness on
// the pipelines a window gets, and the manager mutex during a fade.
#include "test_c331_pipe_env.h"
#include "test_c331_sim.h"

#include <algorithm>

namespace {

constexpr u8 kPatternMode = 0x57, kPatternBlue = 0x65;  // bank 0x08, per pipeline
constexpr u8 kSharpGain = 0x09;                          // bank 0x0B, per pipeline
constexpr u8 kContrastRed = 0x28;                        // bank 0x0C, per pipeline

class C331PassTest : public C331PassEnv {
protected:
    void SetUp() override {
        C331PassEnv::SetUp();
        wall(1920, 1080);
        plug(2, 1920, 1080, 60);  // HDMI1
        plug(3, 1920, 1080, 60);  // HDMI2
        window(0, 2, 0, 0, 1920, 1080);
    }
    int win(int w, int r) const { return c331img::WIN_RECORDS + c331img::WIN_RECORD_SIZE * w + r; }
    // Pipelines drawing layout slot s.
    std::vector<int> pipes(int s) const {
        std::vector<int> out;
        const auto& wi = m->gWininfo[s];
        for (int k = 0; k < wi.totalh * wi.totalv && k < 8; ++k)
            if (wi.ch[k] < 8) out.push_back(wi.ch[k]);
        return out;
    }
    int patternPipes() {
        int n = 0;
        for (int p = 0; p < 8; ++p) n += reg8(0x08, kPatternMode, 16 * p) != 0 || reg8(0x08, kPatternBlue, 16 * p) != 0;
        return n;
    }
    int measurementReads() const {
        const auto log = sim->log();
        return int(std::count_if(log.begin(), log.end(), [](const SimC331::Access& a) { return !a.write && a.bank == 0xAE; }));
    }
};

TEST_F(C331PassTest, ATestPatternCanAlwaysBeSwitchedOff) {
    start();
    edit([&] { image->setByte(c331img::TEST_PATTERN, 3); });
    pass();
    const int p0 = pipes(0).at(0);
    EXPECT_EQ((Vals{m->pattern_gen, reg8(0x08, kPatternMode, 16 * p0), reg8(0x08, kPatternBlue, 16 * p0)}),
              (Vals{1, 4, 255}));

    // A second window while the pattern shows, then the pattern off: the
    // generator is cleared on every pipeline and the inputs are measured.
    edit([&] { window(1, 3, 0, 0, 960, 540); });
    pass();
    ASSERT_EQ(m->gMwin.wincnt, 2);
    edit([&] { image->setByte(c331img::TEST_PATTERN, 0); });
    sim->clearLog();
    pass();
    EXPECT_EQ((Vals{m->pattern_gen, patternPipes()}), (Vals{0, 0}));
    EXPECT_GT(measurementReads(), 0);

    // Switching one on is refused while two windows show, and stays asked
    // for: it appears when the windows drop back to one.
    edit([&] { image->setByte(c331img::TEST_PATTERN, 4); });
    pass();
    EXPECT_EQ((Vals{m->pattern_gen, patternPipes()}), (Vals{0, 0}));
    edit([&] { image->setWord(u32(win(1, 0)), 0); });
    pass();
    EXPECT_EQ((Vals{m->gMwin.wincnt, m->pattern_gen, reg8(0x08, kPatternBlue, 16 * pipes(0).at(0))}), (Vals{1, 1, 255}));
}

TEST_F(C331PassTest, SharpnessFollowsItsWindow) {
    plug(2, 0, 0, 0);
    plug(3, 0, 0, 0);
    image->setWord(c331img::SHARPNESS, 15);  // level 5: gain 64
    start();
    const int p0 = pipes(0).at(0);
    EXPECT_EQ(reg8(0x0B, kSharpGain, 16 * p0), 0);  // no picture yet

    // Its source appears: the poll step sets the window up, sharpened.
    plug(2, 1920, 1080, 60);
    pass();
    EXPECT_EQ(reg8(0x0B, kSharpGain, 16 * p0), 64);

    // A window placed on further pipelines gets the sharpness there too.
    plug(3, 1280, 720, 60);
    edit([&] { window(1, 3, 960, 0, 960, 1080); });
    pass();
    pass();
    ASSERT_EQ(m->gMwin.wincnt, 2);
    for (int s = 0; s < 2; ++s)
        for (int p : pipes(s)) EXPECT_EQ(reg8(0x0B, kSharpGain, 16 * p), 64) << "slot " << s << " pipe " << p;
}

TEST_F(C331PassTest, ANewWallReachesTheTimingAndTheWindows) {
    start();
    c331_take_hand_overs();
    // Twice as wide: one output channel carries the 3840 x 1080 wall, the
    // full-wall window is drawn 3840 wide by one pipeline; the FPGAs reset.
    edit([&] {
        wall(3840, 1080);
        window(0, 2, 0, 0, 3840, 1080);
    });
    pass();
    const std::vector<int> ch = pipes(0);
    ASSERT_EQ(ch.size(), 1u);
    EXPECT_EQ((Vals{m->gOch.width, m->gOch.height, reg16(0x08, 0x42, 16 * ch[0]), g_set_led_para.load()}),
              (Vals{3840, 1080, 3840, 2}));
    // Every output channel runs the new timing: total lines less 2 in 08:0C;
    // the total pixels less 2 in 08:08 stay where no pipeline took that
    // register over for its source (the other channel).
    const int idle = ch[0] == 0 ? 1 : 0;
    EXPECT_EQ((Vals{reg16(0x08, 0x0C, 16 * ch[0]) + 2, reg16(0x08, 0x0C, 16 * idle) + 2, reg16(0x08, 0x08, 16 * idle) + 2}),
              (Vals{m->gOch.vtt, m->gOch.vtt, m->gOch.htt}));
    EXPECT_GE(m->gOch.htt, 3840u + m->gOch.hsw + m->gOch.hfp);
}

TEST_F(C331PassTest, AWriterNeverWaitsLongForTheMutexWhileAFadeRuns) {
    ManualClock& clock = useManualClock();
    window(0, 2, 0, 0, 1920, 1080, 4);  // fade on a source change
    image->setWord(RamOffset::fadeIn(0), 60);
    image->setWord(RamOffset::fadeOut(0), 60);
    start();

    // Every register access of the c331 thread looks whether the manager
    // mutex is taken: the longest stretch of virtual time it stays taken is
    // what a writer could have to wait. Halfway through, a writer changes
    // the contrast while the pass waits for a frame.
    u64 heldSince = 0, longest = 0;
    bool held = false, wrote = false;
    const u64 begin = clock.nowMs();
    auto probe = [&] {
        const u64 now = clock.nowMs();
        const bool free = m->mutex.tryLock();
        if (free) {
            if (!wrote && now - begin > 1000) {
                image->setWord(c331img::CONTRAST, 70);
                m->raise_apply(1);
                wrote = true;
            }
            m->mutex.unlock();
            held = false;
            return;
        }
        if (!held) heldSince = now, held = true;
        longest = std::max(longest, now - heldSince);
    };
    sim->addReadHook([&](uint8_t, uint8_t, uint8_t&) { return probe(), false; });
    sim->addWriteHook([&](uint8_t, uint8_t, uint8_t) { probe(); });

    edit([&] { image->setWord(u32(win(0, 8)), 3); });
    pass();
    // The fade ran out and in, a frame per step, on the chip's time.
    EXPECT_GE(clock.nowMs() - begin, 2 * 61 * 1000 / SimC331::kOutputRateHz);
    EXPECT_TRUE(wrote);
    EXPECT_LE(longest, 20u);
    // The contrast written meanwhile is served by the next pass.
    EXPECT_EQ(m->apply_flag.load(), 1);
    pass();
    EXPECT_EQ(reg16(0x0C, kContrastRed, 16 * pipes(0).at(0)), 70 * 1023 / 100);
}

}  // namespace
