// Panel set-up: how the wall is cut over the output channels, which totals
// the output gets, what reaches the timing registers and the output-channel
// layout words the FPGA side reads.
#include "core/zrvrampara.h"
#include "test_c331_sim.h"
#include "video_engine/c331_timing.h"

namespace {

class C331TimingTest : public C331SimEnv {
protected:
    void SetUp() override {
        C331SimEnv::SetUp();
        st = std::make_unique<c331_state>();
        image = std::make_unique<PARA_RAM_IMAGE>();
        timing = std::make_unique<c331_timing>(*drv, fd, *st, host, image.get());
    }

    const c331_state::ST_OCH_SPEC& och() const { return st->gOch; }
    const c331_state::ST_PANEL& pnl() const { return st->gPnl; }
    // Register of output channel n.
    u16 och16(int n, u8 reg) const { return chip->reg16(u8(0x08 + 16 * n), reg); }
    // Arrangement, channels across and down, one-channel flag, channel size.
    Vals shape() const { return {och().arrang, och().hcnt, och().vcnt, och().use1och, och().width, och().height}; }
    // The output-channel layout words of the image (offsets 1382 to 1394).
    Vals layoutWords() const {
        Vals v;
        for (u32 off = 1382; off <= 1394; off += 2) v.push_back(image->word(off));
        return v;
    }

    // The totals a frame of the given size gets from the list.
    static c331_timing_pair listed(u32 htt, u32 vtt) {
        c331_timing_pair p{};
        EXPECT_TRUE(c331_timing::find_timing(htt, vtt, &p)) << htt << "x" << vtt;
        return p;
    }

    // Whatever the wall, the timing written must hold the active area with
    // porches that are not negative, on every output channel.
    void expectSaneTiming() {
        const auto& o = och();
        ASSERT_GE(s64(o.htt), s64(o.width) + o.hsw + o.hfp);
        ASSERT_GE(s64(o.vtt), s64(o.height) + o.vsw + o.vfp);
        const u32 hst = o.htt - o.width - o.hfp;  // sync + back porch
        const u32 vst = o.vtt - o.height - o.vfp;
        for (int n = 0; n < 8; ++n) {
            Vals got;
            for (u8 reg : {0x08, 0x0C, 0x40, 0x28, 0x2A, 0x2E, 0x42, 0x44, 0x46}) got.push_back(och16(n, reg));
            EXPECT_EQ(got, (Vals{o.htt - 2, o.vtt - 2, hst, hst, hst + o.width, vst + o.height, o.width, vst, o.height + 1}))
                << n;
        }
    }

    typedef int64_t s64;
    C331RecordingHost host;
    std::unique_ptr<c331_state> st;
    std::unique_ptr<PARA_RAM_IMAGE> image;
    std::unique_ptr<c331_timing> timing;
};

TEST(C331TimingList, BoundsOrderAndEnds) {
    const auto& list = c331_timing::timing_list();
    ASSERT_GT(list.size(), 5000u);
    ASSERT_LT(list.size(), 5400u);
    EXPECT_EQ((Vals{list.front().htt, list.front().vtt, list.back().htt, list.back().vtt}), (Vals{660, 15000, 8280, 1196}));
    for (size_t i = 0; i < list.size(); ++i) {
        const u64 product = u64(list[i].htt) * list[i].vtt;
        ASSERT_GE(product, 5094049u) << i;
        ASSERT_LE(product, 9933552u) << i;
        ASSERT_GE(list[i].htt, list[i ? i - 1 : 0].htt) << i;
    }
    // Nothing beyond the widest total.
    EXPECT_FALSE(c331_timing::find_timing(8281, 1));
    EXPECT_FALSE(c331_timing::find_timing(1940, 15001));
}

TEST_F(C331TimingTest, FullHdWallWithoutSplitFitsOneChannel) {
    image->setWord(1382, 77);  // stale layout words are replaced
    EXPECT_EQ(timing->zrvApi_PnlInit2(1920, 1080, 1920, 1080, c331_timing::SPLICE_NONE), 0);

    const auto p = listed(1940, 1092);
    EXPECT_EQ(shape(), (Vals{5, 2, 1, 1, 1920, 1080}));
    EXPECT_EQ((Vals{och().htt, och().vtt}), (Vals{p.htt, p.vtt}));
    expectSaneTiming();
    EXPECT_EQ(och16(0, 0x40), 16);  // sync 12 + back porch 4
    EXPECT_EQ(layoutWords(), (Vals{0, 0, 1, 1, 1920, 1080, 0}));  // for the FPGAs

    // Sync width 12 as 12 / 2 - 1, the lane map of one channel, and the
    // canvas of two channels across; the window layout follows every panel
    // set-up, once.
    EXPECT_EQ((Vals{chip->reg(0x03, 0x44), chip->reg32(0x03, 0x55), st->PS_CANVAS_W, host.rebuilds, host.dumps}),
              (Vals{5, 0x3020100, 3840, 1, 1}));

    // Splice mode 6 is taken modulo six.
    timing->zrvApi_PnlInit2(1920, 1080, 1920, 1080, 6);
    EXPECT_EQ((Vals{och().splice, och().arrang}), (Vals{0, 5}));
}

TEST_F(C331TimingTest, VerticalSplitStacksTwoChannels) {
    // The output page's vertical split of a 1920 x 1080 wall: 542 over 538.
    timing->zrvApi_PnlInit2(1920, 1080, 1920, 542, c331_timing::SPLICE_V);
    EXPECT_EQ((Vals{pnl().out1h, pnl().out2h, pnl().yoffs}), (Vals{542, 538, 0}));
    EXPECT_EQ(shape(), (Vals{8, 1, 2, 1, 1920, 542}));
    EXPECT_EQ((Vals{och().htt, och().vfp}), (Vals{listed(1940, 542 + 38).htt, 3}));
    EXPECT_EQ(layoutWords(), (Vals{0, 0, 1, 2, 1920, 542, 0}));
    EXPECT_EQ((Vals{chip->reg32(0x03, 0x55), st->PS_CANVAS_H}), (Vals{0x10000, 2 * 542}));
    expectSaneTiming();

    // A smaller top part: the taller bottom part sets the channel height and
    // the top one starts lower by the difference.
    timing->zrvApi_PnlInit2(1920, 1080, 1920, 400, c331_timing::SPLICE_V);
    EXPECT_EQ((Vals{och().height, pnl().yoffs, image->word(1384)}), (Vals{680, 280, 280}));
    expectSaneTiming();
}

TEST_F(C331TimingTest, HorizontalSplitPutsOutputsSideBySide) {
    timing->zrvApi_PnlInit2(1920, 1080, 960, 1080, c331_timing::SPLICE_H);
    EXPECT_EQ((Vals{pnl().out1w, pnl().out2w, pnl().xoffs}), (Vals{960, 960, 0}));
    const auto p = listed(960 + 48, 1080 + 12);
    EXPECT_EQ(shape(), (Vals{5, 2, 1, och().use1och, 960, p.vtt - 12}));
    EXPECT_EQ((Vals{och().htt, och().vtt, image->word(1386), image->word(1388)}), (Vals{p.htt, p.vtt, 2, 1}));
    expectSaneTiming();

    // A narrower left part: the wider right part sets the channel width and
    // the left one is shifted right.
    timing->zrvApi_PnlInit2(1920, 1080, 900, 1080, c331_timing::SPLICE_H);
    EXPECT_EQ((Vals{och().width, pnl().xoffs, image->word(1382)}), (Vals{1020, 120, 120}));

    // Odd widths: the channel width lands on a group of four pixels and
    // still fits its totals.
    timing->zrvApi_PnlInit2(1923, 1080, 961, 1080, c331_timing::SPLICE_H);
    EXPECT_EQ(och().width % 4, 0u);
    EXPECT_GE(och().width, 962u);
    EXPECT_LE(och().width + 48, och().htt);
    expectSaneTiming();
}

TEST_F(C331TimingTest, LargeWallsUseFourChannelsAcross) {
    // 7680 x 2880 exceeds the one-channel limit: four across, blanking 76.
    timing->zrvApi_PnlInit2(7680, 2880, 7680, 2880, c331_timing::SPLICE_NONE);
    EXPECT_EQ(shape(), (Vals{6, 4, och().vcnt, 0, 3840, 2880}));
    EXPECT_EQ((Vals{och().hfp, image->word(1386), st->PS_CANVAS_W}), (Vals{32, 2, 4 * 3840}));
    // Half the wall still needs more than the clock carries: the totals
    // grow to hold the picture instead of going below it.
    expectSaneTiming();
}

TEST_F(C331TimingTest, PictureTooBigForOneChannelMovesToTwo) {
    // 7680 x 2160 keeps the one-channel rows (blanking 20 / 12), but the
    // reduced one-channel totals cannot hold 2160 lines: two channels per
    // output, each half the width.
    timing->zrvApi_PnlInit2(7680, 2160, 7680, 2160, c331_timing::SPLICE_NONE);
    EXPECT_EQ(shape(), (Vals{5, och().hcnt, och().vcnt, 0, 3840, 2160}));
    const auto p = listed(3840 + 20, 2160 + 12);
    EXPECT_EQ((Vals{och().hfp, och().htt, och().vtt, image->word(1386)}), (Vals{4, p.htt, p.vtt, 2}));
    expectSaneTiming();

    // Wider than the list reaches for one channel: the search repeats for
    // two channels with half the width.
    timing->zrvApi_PnlInit2(8300, 1000, 8300, 1000, c331_timing::SPLICE_NONE);
    EXPECT_EQ(och().use1och, 0);
    EXPECT_EQ(och().htt, listed(4150 + 20, 1000 + 12).htt);
    expectSaneTiming();
}

TEST_F(C331TimingTest, CopyTwoToOneHasNoOutputSizes) {
    timing->zrvApi_PnlInit2(1920, 1080, 1920, 1080, c331_timing::SPLICE_CP21);
    // The first pair of the list: the channel size is the blanking's.
    EXPECT_EQ((Vals{pnl().out1w, pnl().out2h, och().htt, och().width, och().use1och, image->word(1388)}),
              (Vals{0, 0, 660, 640, 1, 2}));
    expectSaneTiming();
}

TEST_F(C331TimingTest, EveryWallAndModeGivesUsableTiming) {
    const int walls[][2] = {{0, 0},        {640, 480},   {1920, 1080}, {3840, 2160}, {7680, 4320},
                            {16376, 16376}, {8188, 1},    {1, 8188},    {5000, 3000}, {12010, 1080},
                            {65535, 65535}, {-1, 70000}};
    // Output 1 at half the wall, and larger than the wall (a protocol write
    // can put any size into the image: the other output must not go below 0).
    for (int mode = 0; mode < 6; ++mode) {
        for (const auto& wall : walls) {
            for (int num : {1, 3}) {
                SCOPED_TRACE(testing::Message() << "mode " << mode << " wall " << wall[0] << "x" << wall[1]
                                                << " out1 " << num << "/2");
                timing->zrvApi_PnlInit2(wall[0], wall[1], wall[0] * num / 2, wall[1] * num / 2, mode);
                expectSaneTiming();
                EXPECT_GE(std::min({pnl().out2w, pnl().out2h, pnl().xoffs, pnl().yoffs}), 0);
                EXPECT_LE(std::max(och().htt, och().vtt), 0xFFFFu);  // 16-bit registers
                EXPECT_EQ((Vals{image->word(1390), image->word(1392)}), (Vals{och().width, och().height}));
            }
        }
    }
}

}  // namespace
