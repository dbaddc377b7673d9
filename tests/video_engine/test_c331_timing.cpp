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
    // The output-channel layout words of the image (offsets 1382 to 1394).
    Vals layoutWords() const {
        Vals v;
        for (u32 off = 1382; off <= 1394; off += 2) v.push_back(image->word(off));
        return v;
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

// One panel set-up per arrangement row, worked by hand: the channel size
// and totals, what every output channel's timing registers get, the sync
// widths, the lane map, the layout words for the FPGAs and the canvas.
struct PanelRow {
    const char* what;
    int mode, ledW, ledH, out1W, out1H;
    Vals shape;   // arrangement, across, down, one channel
    Vals timing;  // htt, vtt, width, height, hfp, vfp, vsync
    // Output channel registers 08, 0C, 28, 2A, 2C, 2E, 40, 42, 44, 46.
    Vals och;
    Vals sync;  // 03:44, 03:45
    u32 laneMap;
    Vals layout;  // image words 1382 to 1394
    Vals canvas;  // width, height, channels across, down
};

const PanelRow kRows[] = {
    {"none, full HD", 0, 1920, 1080, 1920, 1080, {5, 2, 1, 1}, {1940, 5104, 1920, 1080, 4, 4, 3},
     {1938, 5102, 16, 1936, 4020, 5100, 16, 1920, 4020, 1081}, {5, 2}, 0x3020100, {0, 0, 1, 1, 1920, 1080, 0},
     {3840, 1080, 2, 1}},
    {"copy 1 to 2, full HD", 4, 1920, 1080, 1920, 1080, {5, 2, 1, 1}, {1940, 5104, 1920, 1080, 4, 4, 3},
     {1938, 5102, 16, 1936, 4020, 5100, 16, 1920, 4020, 1081}, {5, 2}, 0, {0, 0, 1, 1, 1920, 1080, 0},
     {3840, 1080, 2, 1}},
    // The taller bottom part sets the height; the top one starts 280 lower.
    {"HV, 400 over 680", 1, 1920, 1080, 1920, 400, {8, 1, 2, 1}, {1940, 5104, 1920, 680, 4, 4, 3},
     {1938, 5102, 16, 1936, 4420, 5100, 16, 1920, 4420, 681}, {5, 2}, 0x10000, {0, 280, 1, 2, 1920, 680, 0},
     {1920, 1360, 1, 2}},
    {"V, 542 over 538", 2, 1920, 1080, 1920, 542, {8, 1, 2, 1}, {1940, 5104, 1920, 542, 4, 3, 3},
     {1938, 5102, 16, 1936, 4559, 5101, 16, 1920, 4559, 543}, {5, 2}, 0x10000, {0, 0, 1, 2, 1920, 542, 0},
     {1920, 1084, 1, 2}},
    // Half width and half height searched (3916 x 1516 gives 3916 x 2529),
    // but each channel carries 2880 lines: the vertical total is raised to
    // 2880 + 76 rather than leave a back porch of -395.
    {"HV, two by two", 1, 7680, 5760, 7680, 2880, {7, 2, 2, 0}, {3916, 2956, 3840, 2880, 32, 32, 12},
     {3914, 2954, 44, 3884, 44, 2924, 44, 3840, 44, 2881}, {5, 11}, 0x10000, {0, 0, 2, 2, 3840, 2880, 0},
     {7680, 5760, 2, 2}},
    // 3916 x 2956 is over the clock: vtt reduced to 2528, found 3916 x 2529,
    // raised again to hold 2880 lines.
    {"none, four across", 0, 7680, 2880, 7680, 2880, {6, 4, 1, 0}, {3916, 2956, 3840, 2880, 32, 32, 12},
     {3914, 2954, 44, 3884, 44, 2924, 44, 3840, 44, 2881}, {5, 11}, 0x3020100, {0, 0, 2, 1, 3840, 2880, 0},
     {15360, 2880, 4, 1}},
    {"copy 1 to 2, four across", 4, 7680, 2880, 7680, 2880, {6, 4, 1, 0}, {3916, 2956, 3840, 2880, 32, 32, 12},
     {3914, 2954, 44, 3884, 44, 2924, 44, 3840, 44, 2881}, {5, 11}, 0x1000100, {0, 0, 2, 1, 3840, 2880, 0},
     {15360, 2880, 4, 1}},
    // No output sizes: the blanking alone, the list's first pair.
    {"copy 2 to 1", 5, 1920, 1080, 1920, 1080, {5, 2, 1, 1}, {660, 15000, 640, 1080, 4, 4, 3},
     {658, 14998, 16, 656, 13916, 14996, 16, 640, 13916, 1081}, {5, 2}, 0x10000, {0, 0, 1, 2, 640, 1080, 0},
     {1280, 1080, 2, 1}},
    // The wider right part sets the width; the left one is shifted by 120.
    // The height is what the totals leave.
    {"H, 900 beside 1020", 3, 1920, 1080, 900, 1080, {5, 2, 1, 1}, {1068, 9270, 1020, 9258, 4, 3, 3},
     {1066, 9268, 44, 1064, 9, 9267, 44, 1020, 9, 9259}, {5, 2}, 0x10000, {120, 0, 2, 1, 1020, 9258, 0},
     {2040, 9258, 2, 1}},
    // 962 + 48 = 1010: the list's next total is 1012, a width of 964.
    {"H, odd widths", 3, 1923, 1080, 961, 1080, {5, 2, 1, 1}, {1012, 9783, 964, 9771, 4, 3, 3},
     {1010, 9781, 44, 1008, 9, 9780, 44, 964, 9, 9772}, {5, 2}, 0x10000, {3, 0, 2, 1, 964, 9771, 0},
     {1928, 9771, 2, 1}},
    // 3920 x 2892 over the clock: vtt reduced to 2525, found 3920 x 2526.
    {"H, four across", 3, 15360, 2880, 7680, 2880, {6, 4, 1, 0}, {3920, 2526, 3840, 2514, 36, 3, 3},
     {3918, 2524, 44, 3884, 9, 2523, 44, 3840, 9, 2515}, {5, 2}, 0x3020100, {0, 0, 4, 1, 3840, 2514, 0},
     {15360, 2514, 4, 1}},
    // 8320 is past the widest total (8280): two channels of 4150, found
    // 4172 x 2373.
    {"none, past the widest total", 0, 8300, 1000, 8300, 1000, {5, 2, 1, 0}, {4172, 2373, 4152, 1000, 4, 4, 3},
     {4170, 2371, 16, 4168, 1369, 2369, 16, 4152, 1369, 1001}, {5, 2}, 0x3020100, {0, 0, 2, 1, 4152, 1000, 0},
     {16608, 1000, 4, 1}},
    // Within the one-channel limit, but the reduced totals (7700 x 1286)
    // cannot hold 2160 lines: two channels of 3840, found 3860 x 2565.
    {"none, 7680 x 2160", 0, 7680, 2160, 7680, 2160, {5, 2, 1, 0}, {3860, 2565, 3840, 2160, 4, 4, 3},
     {3858, 2563, 16, 3856, 401, 2561, 16, 3840, 401, 2161}, {5, 2}, 0x3020100, {0, 0, 2, 1, 3840, 2160, 0},
     {15360, 2160, 4, 1}},
};

TEST_F(C331TimingTest, EveryArrangementRowProgramsItsTiming) {
    for (const PanelRow& r : kRows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(timing->zrvApi_PnlInit2(r.ledW, r.ledH, r.out1W, r.out1H, r.mode), 0);
        const auto& o = och();
        EXPECT_EQ((Vals{o.arrang, o.hcnt, o.vcnt, o.use1och}), r.shape);
        EXPECT_EQ((Vals{o.htt, o.vtt, o.width, o.height, o.hfp, o.vfp, o.vsw, o.hsw}),
                  [&] { Vals v = r.timing; v.push_back(12); return v; }());
        for (int n = 0; n < 8; ++n) {
            Vals got, second;
            for (u8 reg : {0x08, 0x0C, 0x28, 0x2A, 0x2C, 0x2E, 0x40, 0x42, 0x44, 0x46}) got.push_back(och16(n, reg));
            for (u8 reg : {0x30, 0x32, 0x34, 0x36}) second.push_back(och16(n, reg));
            EXPECT_EQ(got, r.och) << "channel " << n;
            EXPECT_EQ(second, (Vals{r.och[2], r.och[3], r.och[4], r.och[5]})) << "channel " << n;
            EXPECT_EQ(och16(n, 0x1D), 64) << "channel " << n;
        }
        EXPECT_EQ((Vals{chip->reg(0x03, 0x44), chip->reg(0x03, 0x45), chip->reg(0x03, 0x4C), chip->reg(0x03, 0x4D)}),
                  (Vals{r.sync[0], r.sync[1], r.sync[0], r.sync[1]}));
        EXPECT_EQ(chip->reg32(0x03, 0x55), r.laneMap);
        EXPECT_EQ(layoutWords(), r.layout);
        EXPECT_EQ((Vals{st->PS_CANVAS_W, st->PS_CANVAS_H, st->PS_OCH_H, st->PS_OCH_V, st->sys.PS_VBOTX_MODE}),
                  [&] { Vals v = r.canvas; v.push_back(2); return v; }());
    }
}

TEST_F(C331TimingTest, FullHdWallSetsTheTransmitterAndRebuildsTheLayoutOnce) {
    image->setWord(1382, 77);  // stale layout words are replaced
    EXPECT_EQ(timing->zrvApi_PnlInit2(1920, 1080, 1920, 1080, c331_timing::SPLICE_NONE), 0);
    EXPECT_EQ(layoutWords(), (Vals{0, 0, 1, 1, 1920, 1080, 0}));
    // Lane mode 0: transmitters, maps and clock words.
    EXPECT_EQ((Vals{chip->reg(0x02, 0x08), chip->reg(0x02, 0x78), chip->reg32(0x03, 0x5E), chip->reg32(0x03, 0x62),
                    chip->reg16(0x03, 0x2C), chip->reg(0x03, 0x2E), chip->reg16(0x03, 0x2F), chip->reg16(0x03, 0x36),
                    chip->reg(0x00, 0x47), chip->reg(0x00, 0x4C), chip->reg(0x00, 0x4B), chip->reg(0x00, 0x50),
                    chip->reg(0x00, 0x48), chip->reg(0x00, 0x4D), st->sys.PS_VBOTX_LAYOUT}),
              (Vals{9, 9, 0x76543210, 0x76543210, 0, 0, 0, 0, 33, 33, 11, 11, 137, 137, 0}));
    EXPECT_EQ((Vals{host.rebuilds, host.dumps}), (Vals{1, 1}));

    // Splice mode 6 is taken modulo six.
    timing->zrvApi_PnlInit2(1920, 1080, 1920, 1080, 6);
    EXPECT_EQ((Vals{och().splice, och().arrang}), (Vals{0, 5}));
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
