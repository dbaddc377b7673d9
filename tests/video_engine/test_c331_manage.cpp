// The c331 manager's apply pass and poll step against a recording fake of
// the chip operations: order, hand-over flags, nothing applied twice and
// nothing lost, and the LED hand-over wait without the manager mutex.
#include "support/quiet_c331_ops.h"
#include "core/line_limiter.h"
#include "core/zrvrampara.h"
#include "test_c331_sim.h"
#include "fpga/fpga_handover.h"
#include "video_engine/c331_manage.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class RecordingOps : public QuietC331Ops {
public:
    std::vector<std::string> calls;
    std::atomic<bool> entered{false};

    void rec(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char buf[128];
        va_list ap;
        va_start(ap, fmt);
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        std::lock_guard<std::mutex> lock(m);
        calls.emplace_back(buf);
    }
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(m);
        auto out = calls;
        calls.clear();
        return out;
    }

    void zrvApi_forceColorDisable(int) override {
        entered = true;
        g_force_bkcolor = 2;
        rec("forceColorDisable");
    }
    void zrvApi_initEnvC331() override { rec("initEnv"); }
    void zrvApi_MultiWinChAlloc(char init) override { rec("ChAlloc(%d)", init); }
    void zrvApi_MultiWinChInit() override { rec("ChInit"); }
    int zrvApi_PnlInit2(int a, int b, int c, int d, int e) override {
        rec("PnlInit2(%d,%d,%d,%d,%d)", a, b, c, d, e);
        return 0;
    }
    void c331_SetBrightness(unsigned short v) override { rec("Brightness(%d)", v); }
    void c331_SetContrast(int v) override { rec("Contrast(%d)", v); }
    void c331_SetSharpness(int v) override { rec("Sharpness(%d)", v); }
    void c331_SetSaturation(int v) override { rec("Saturation(%d)", v); }
    void c331_SetColorTemp(int v) override { rec("ColorTemp(%08x)", unsigned(v)); }
    int c331_SetPattern(int v) override { return rec("Pattern(%d)", v), 0; }
    void c331_SetWinPriority(int w, int p) override { rec("Priority(%d,%d)", w, p); }
    void c331_SetWinPriority1(int) override { rec("Priority1"); }
    void c331_SetWinAttr(char w, int v) override { rec("Attr(%d,%d)", w, v); }
    void c331_SetInputsourceCrop(int w, int i) override { rec("SourceCrop(%d,%d)", w, i); }
    void c331_SetCrop(char w, char on, ST_RECT* r) override {
        if (on)
            rec("Crop(%d,1,%d,%d,%d,%d)", w, r->x, r->y, r->w, r->h);
        else
            rec("Crop(%d,0)", w);
    }
    void c331_SetInputsource(int w, int in) override { rec("Source(%d,%d)", w, in); }
    void c331_SetWinSource(int w, int now, int was) override { rec("WinSource(%d,%04x,%04x)", w, now, was); }
    void c331_SetWinOutput(int, char w, int v) override { rec("Output(%d,%d)", w, v); }
    void c331_SetWinDbdMode(int, char w, int v) override { rec("Dbd(%d,%d)", w, v); }
    void set_output(int) override { rec("set_output"); }
    void load_hdmi() override { rec("load_hdmi"); }
    void check_port_valid(int) override { rec("check_port_valid"); }
    void check_input_port(int) override {
        rec("check_input_port");
        if (inputCheck) inputCheck();
    }
    // Runs inside the poll step's input check (which reads the crops).
    std::function<void()> inputCheck;
    int zrvApi_OsdSet(int k, int v) override { return rec("OsdSet(%d,%d)", k, v), 1; }
    int update_osd(int) override { return rec("update_osd"), 0; }
    void set_osd(int, int s) override { rec("set_osd(%d)", s); }
    void set_scroll(int) override { rec("set_scroll"); }
    void load_char() override { rec("load_char"); }
    int read_c331_font(int) override { return rec("read_c331_font"), 0; }
    void update_font(int) override { rec("update_font"); }
    void get_json_omenu_para(const char* path, OSD_MENU_LIST&) override { rec("omenu(%s)", path); }
    void set_OSD_para(OSD_MENU_LIST&) override { rec("set_OSD_para"); }
    void input_slidebar(int) override { rec("input_slidebar"); }
    void zrvDbg_c331_param(int n) override { rec("param(%d)", n); }

private:
    std::mutex m;
};

class C331ManageTest : public C331SimEnv {
protected:
    void SetUp() override {
        C331SimEnv::SetUp();
        model = std::make_unique<ZrvRamPara>();
        install = std::make_unique<ModelInstall>(model.get());
        QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [this](int code) { signals_.push_back(code); });

        mgr = c331_manage::get();
        mgr->c331_fd = mgr->drv->initialize();
        mgr->setChipOps(&ops);
        mgr->thread_state = 6;
        mgr->pattern_gen = 0;
        mgr->osd_update_req = mgr->osd_redraw_req = 0;
        for (int p = 0; p < C331_PORT_NUM; ++p) mgr->PI_UPDATE[p] = mgr->PI_UPDATE2[p] = 0;
        g_force_bkcolor = 1;
        g_set_led_para = 0;
        g_osd_update = 0;
        c331_take_hand_overs();

        // Settle: whatever the singleton applied before, it now matches this image.
        mgr->apply_flag = 1;
        mgr->apply_pass();
        ops.take();
        signals_.clear();
    }
    void TearDown() override {
        mgr->setChipOps(&fallback);
        C331SimEnv::TearDown();
    }

    void setWord(int off, u16 v) { model->live_image.setWord(u32(off), v); }
    // A writer's edit: under the manager mutex, with the apply flag.
    void edit(int off, u16 v, u8 flag = 1) {
        QMutexLocker lock(&mgr->mutex);
        setWord(off, v);
        mgr->apply_flag = flag;
    }
    int win(int w, int r) { return c331img::WIN_RECORDS + 26 * w + r; }

    std::unique_ptr<ZrvRamPara> model;
    std::unique_ptr<ModelInstall> install;
    c331_manage* mgr = nullptr;
    RecordingOps ops;
    QuietC331Ops fallback;
    std::vector<int> signals_;
};

using Calls = std::vector<std::string>;

TEST_F(C331ManageTest, EachChangeIsAppliedOnceAndNoneIsLost) {
    edit(c331img::CONTRAST, 60);
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"Contrast(60)"}));
    EXPECT_EQ(signals_, (std::vector<int>{1}));
    EXPECT_EQ(mgr->apply_flag.load(), 0);

    // Nothing is applied twice: a further pass finds nothing to do.
    mgr->apply_flag = 1;
    mgr->apply_pass();
    EXPECT_TRUE(ops.take().empty());

    // Nothing is lost when the GUI persists (shadow := live) before the
    // c331 thread got to run.
    edit(c331img::SHARPNESS, 7);
    model->shadow_image = model->live_image;
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"Sharpness(7)"}));
}

TEST_F(C331ManageTest, PassCallsOperationsInOrderAndRaisesHandOverFlags) {
    u32 edidBefore[source_handover::kInputs];
    for (int i = 0; i < source_handover::kInputs; ++i) edidBefore[i] = source_handover::custom_edid_requests(i);
    auto edidRequests = [&](int i) { return source_handover::custom_edid_requests(i) - edidBefore[i]; };
    {
        QMutexLocker lock(&mgr->mutex);
        setWord(c331img::BRIGHTNESS, 80);
        setWord(c331img::SATURATION, 40);
        setWord(c331img::CONTRAST, 55);
        setWord(c331img::BLUE, 70);
        setWord(c331img::WIN_PRIORITY + 2, 3);
        setWord(win(3, 4), 1);
        setWord(win(4, 18), 4);
        setWord(c331img::FADES + 4, 30);
        setWord(c331img::FADES + 8 + 2, 0xFFFF);  // a step count the fade must not run
        model->live_image.setByte(c331img::TEST_PATTERN, 6);
        setWord(c331img::CUSTOM_EDID + 6 * 1, 1280);
        setWord(c331img::CUSTOM_EDID + 6 * 3 + 4, 50);
        setWord(c331img::BLACKOUT, 1);
        setWord(c331img::OCH_XOFFS, 16);
        setWord(c331img::OSD_ON, 1);
        mgr->apply_flag = 2;
    }
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"Brightness(50)", "Contrast(55)", "Saturation(40)", "ColorTemp(00004600)",
                                  "Priority(1,3)", "Priority1", "Attr(3,1)", "Output(4,4)", "Pattern(6)",
                                  "OsdSet(0,1)", "omenu(/data/configs/omenu.json)", "set_OSD_para"}));
    EXPECT_EQ(signals_, (std::vector<int>{2}));
    // Hand-over flags raised, and every input whose custom EDID changed
    // gets its request.
    EXPECT_EQ((Vals{mgr->PM_WIN_FADE_IN[1], mgr->PM_WIN_FADE_OUT[2], fpga_handover::take_brightness(),
                    fpga_handover::take_output_status(), fpga_handover::take_output_layout(),
                    edidRequests(1), edidRequests(3), edidRequests(0), g_osd_update.load()}),
              (Vals{30, 255, 1, 1, 1, 1, 1, 0, 0}));  // 0xFFFF steps held to 255
}

TEST_F(C331ManageTest, GeometryChangeRebuildsLayoutOnceAndSkipsTheRest) {
    {
        QMutexLocker lock(&mgr->mutex);
        setWord(win(2, 14), 960);
        setWord(win(4, 4), 2);
        mgr->apply_flag = 1;
    }
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"initEnv", "ChAlloc(1)", "ChInit", "set_output"}));
    // The rebuild took every window word from the image: nothing is left over.
    mgr->apply_flag = 1;
    mgr->apply_pass();
    EXPECT_TRUE(ops.take().empty());
}

TEST_F(C331ManageTest, SourceChangesCropsAndAudioWindow) {
    // Crop record 3: input 5 (high nibble ignored), rectangle 10, 20, 300, 200.
    {
        QMutexLocker lock(&mgr->mutex);
        const int crop = c331img::CROP_TABLE + 30;
        setWord(crop, 0x8000 | 0x0100 | 0x05);
        setWord(crop + 2, 10);
        setWord(crop + 4, 20);
        setWord(crop + 6, 300);
        setWord(crop + 8, 200);
        setWord(c331img::AUDIO_WIN, 0);
        mgr->apply_flag = 1;
    }
    mgr->apply_pass();
    ops.take();
    source_handover::take_audio_changed();

    // Another window's source: one source switch, no audio re-selection.
    edit(win(1, 8), 0x8003);
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"WinSource(1,8003,0000)"}));
    EXPECT_FALSE(source_handover::take_audio_changed());

    // Back to a plain input: the switch knows the crop was on.
    edit(win(1, 8), 2);
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"WinSource(1,0002,8003)"}));

    // The audio window's source: the source thread re-selects the audio.
    edit(win(0, 8), 4);
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"WinSource(0,0004,0000)"}));
    EXPECT_TRUE(source_handover::take_audio_changed());
}

// Real waits whose bound lies far beyond the test: a wait that ends before
// it was ended by its notification, and one that reaches it is counted.
class NotifiedClock : public SystemClock {
public:
    std::atomic<int> boundsReached{0};
    std::atomic<int> waiting{0};
    bool waitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint64_t,
                 const std::function<bool()>& ready) override {
        if (!ready()) ++waiting;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!ready())
            if (cv.wait_until(lock, deadline) == std::cv_status::timeout) {
                ++boundsReached;
                return ready();
            }
        return true;
    }
};

TEST_F(C331ManageTest, PanelWaitForLedHandOverReleasesTheMutex) {
    auto owned = std::make_unique<NotifiedClock>();
    NotifiedClock* clock = owned.get();
    board().setClock(std::move(owned));
    g_set_led_para = 1;
    g_force_bkcolor = 0;  // makes the pass call forceColorDisable first, under the mutex
    edit(c331img::LED_WIDTH, 3840);
    std::thread pass([this] { mgr->apply_pass(); });
    while (!ops.entered) std::this_thread::yield();
    // While the pass waits, a writer (here the FPGA thread, asking for the
    // picture again) gets the mutex; the pass that consumes its apply flag
    // serves the request.
    ASSERT_TRUE(mgr->mutex.tryLock(2000));
    g_force_bkcolor = 0;
    mgr->apply_flag = 1;
    mgr->mutex.unlock();
    // The FPGA thread ends the sequence while the pass sleeps: it goes on at once.
    while (clock->waiting.load() == 0) std::this_thread::yield();
    fpga_handover::end_led_para(0);
    pass.join();
    EXPECT_EQ(clock->boundsReached.load(), 0);
    EXPECT_EQ(ops.take(), (Calls{"forceColorDisable", "PnlInit2(3840,0,0,0,0)", "forceColorDisable"}));
    // The flag raised meanwhile stays for the next pass, which finds nothing left.
    EXPECT_EQ((Vals{g_set_led_para.load(), mgr->apply_flag.load()}), (Vals{2, 1}));
    mgr->apply_pass();
    EXPECT_TRUE(ops.take().empty());
}

TEST_F(C331ManageTest, PanelWaitForLedHandOverIsBounded) {
    ManualClock& clock = useManualClock();
    const u64 start = clock.nowMs();
    g_set_led_para = 1;
    edit(c331img::SPLICE_MODE, 3);
    mgr->apply_pass();
    EXPECT_GE(clock.nowMs() - start, c331_manage::kLedWaitMs);
    EXPECT_EQ(ops.take(), (Calls{"PnlInit2(0,0,0,0,3)"}));
    EXPECT_EQ(g_set_led_para.load(), 2);
}

TEST_F(C331ManageTest, DebugRequestsServeTheFirstBitAndClear) {
    ManualClock& clock = useManualClock();
    model->reg_block.REG[34] = 0x41;
    model->reg_block.REG[35] = 3;
    edit(c331img::CONTRAST, 61);
    mgr->apply_pass();
    EXPECT_EQ(ops.take(), (Calls{"Contrast(61)", "input_slidebar", "param(2)"}));
    EXPECT_EQ((Vals{model->reg_block.REG[34], model->reg_block.REG[35], mgr->thread_state.load()}), (Vals{0, 0, 6}));

    // A second later: a burst of requests is served once.
    clock.advanceMs(LineLimiter::kPeriodMs);
    model->reg_block.REG[34] = 0x40;
    mgr->apply_flag = 1;
    mgr->apply_pass();
    EXPECT_EQ(mgr->thread_state.load(), 0);  // restart: identify the chip again
}

TEST_F(C331ManageTest, PollStepFollowsMeasurementChangesAndYieldsToPatterns) {
    mgr->PM_INPUT[0] = 4;
    mgr->PM_INPUT[3] = 4;
    for (int w : {1, 2, 4, 5}) mgr->PM_INPUT[w] = 0;
    mgr->osd_update_req = 1;
    mgr->PI_UPDATE[4] = 1;
    mgr->poll_step();
    EXPECT_EQ(ops.take(), (Calls{"load_hdmi", "check_port_valid", "update_osd", "check_input_port", "set_output",
                                  "set_output"}));
    EXPECT_EQ((Vals{mgr->g_chg_input[0], mgr->g_chg_input[3], mgr->PI_UPDATE[4], mgr->osd_update_req}),
              (Vals{3, 3, 0, 0}));

    mgr->pattern_gen = 1;
    mgr->PI_UPDATE2[0] = 1;
    mgr->poll_step();
    EXPECT_TRUE(ops.take().empty());
    mgr->pattern_gen = 0;
}

// The poll step holds no lock while it works: its operations read the image
// as the step copied it at its start, so a link's edit that lands meanwhile
// is never read half done; its apply flag brings it to the next pass.
TEST_F(C331ManageTest, PollStepReadsTheImageAsItWasWhenTheStepBegan) {
    model->live_image.setCrop(5, CROP_RECORD{0x8002, 10, 20, 640, 360});
    CROP_RECORD seen{};
    ops.inputCheck = [&] {
        edit(c331img::CROP_TABLE + 10 * 5 + 2, 300);  // crop 5's x, as a PC writes it
        seen = mgr->chip_image().crop(5);
    };
    mgr->poll_step();
    ops.inputCheck = nullptr;
    EXPECT_EQ((Vals{seen.x, seen.y, mgr->apply_flag.load()}), (Vals{10, 20, 1}));
    mgr->apply_pass();
    ops.take();
}

TEST_F(C331ManageTest, IdentificationNeedsFiveIdReadsAndBacksOffOnFailure) {
    ManualClock& clock = useManualClock();
    mgr->thread_state = 0;
    chip->setChipId(0x23);
    const u64 start = clock.nowMs();
    for (int i = 0; i < 4; ++i) mgr->thread_step();
    EXPECT_EQ(mgr->thread_state.load(), 0);
    EXPECT_GE(clock.nowMs() - start, 10u);  // slept between attempts, did not spin

    chip->setChipId(0x24);
    for (int i = 0; i < 4; ++i) mgr->thread_step();
    const int fourth = mgr->thread_state.load();
    mgr->thread_step();
    EXPECT_EQ((Vals{fourth, mgr->thread_state.load()}), (Vals{4, 5}));

    // A chip that does not answer never passes for one.
    mgr->thread_state = 0;
    chip->setDead(true);
    for (int i = 0; i < 6; ++i) mgr->thread_step();
    EXPECT_EQ(mgr->thread_state.load(), 0);
}

TEST_F(C331ManageTest, ChangesAreSignalledWhileTheChipIsNotIdentified) {
    useManualClock();
    mgr->thread_state = 0;
    chip->setDead(true);
    edit(c331img::CONTRAST, 61);
    mgr->thread_step();
    edit(c331img::CONTRAST, 62, 2);
    mgr->thread_step();
    mgr->thread_step();
    EXPECT_EQ(signals_, (std::vector<int>{1, 2})) << "each change once, with its code";
    EXPECT_EQ((Vals{mgr->apply_flag.load(), mgr->thread_state.load()}), (Vals{0, 0}));
    EXPECT_TRUE(ops.take().empty()) << "nothing is programmed without a chip";
    chip->setDead(false);
}

TEST_F(C331ManageTest, InitialisationProgramsFromTheImageAndOpensTheGate) {
    const u16 contrastBefore = model->live_image.word(c331img::CONTRAST);
    const int words[][2] = {{c331img::LED_WIDTH, 1920}, {c331img::LED_HEIGHT, 1080}, {c331img::OUT1_WIDTH, 1920},
                            {c331img::OUT1_HEIGHT, 1080}, {c331img::SPLICE_MODE, 4}, {c331img::CONTRAST, 50},
                            {c331img::SHARPNESS, 10},     {c331img::SATURATION, 50}, {c331img::COLOR_PRESET, 2},
                            {c331img::RED, 64},           {c331img::GREEN, 64},      {c331img::BLUE, 64}};
    for (const auto& w : words) setWord(w[0], u16(w[1]));
    g_fpga_c331_start = 0;
    mgr->thread_state = 5;
    chip->clearLog();
    mgr->thread_step();
    EXPECT_EQ((Vals{mgr->thread_state.load(), g_fpga_c331_start.load()}), (Vals{6, 1}));
    EXPECT_EQ(ops.take(), (Calls{"check_input_port", "load_char", "read_c331_font", "update_font",
                                  "PnlInit2(1920,1080,1920,1080,4)", "Brightness(50)", "Contrast(50)",
                                  "Sharpness(10)", "ColorTemp(40404002)", "Saturation(50)", "set_output"}));
    // Forced background colour on every layer while the FPGAs are not up.
    for (int l = 0; l < 8; ++l)
        EXPECT_EQ((Vals{chip->reg32(u8(0x08 + 16 * l), 0x49) & 0xFFFFFF, chip->reg(u8(0x08 + 16 * l), 0x48)}),
                  (Vals{0xFF00, 1})) << l;
    // What start-up programmed counts as applied.
    mgr->apply_flag = 1;
    mgr->apply_pass();
    EXPECT_TRUE(ops.take().empty());
    (void)contrastBefore;
}

TEST_F(C331ManageTest, ChangesMadeBeforeTheChipRunsReachItInTheFirstPass) {
    // Written while the chip is still being identified: words start-up
    // programs and words it leaves to the passes.
    const u32 edidBefore = source_handover::custom_edid_requests(2);
    {
        QMutexLocker lock(&mgr->mutex);
        setWord(c331img::CONTRAST, 70);
        setWord(c331img::BLACKOUT, 1);
        setWord(c331img::BRIGHTNESS, 90);
        setWord(c331img::CUSTOM_EDID + 6 * 2, 1024);
        setWord(c331img::OSD_ON, 1);
        model->live_image.setByte(c331img::TEST_PATTERN, 3);
        mgr->raise_apply(1);
    }
    mgr->thread_state = 5;
    mgr->thread_step();
    ops.take();
    mgr->osd_update_req = mgr->osd_redraw_req = 0;  // a first start-up asks for OSD redraws
    ASSERT_EQ(mgr->apply_flag.load(), 1);
    mgr->thread_step();  // running: the pass for the pending flag
    EXPECT_EQ(ops.take(), (Calls{"Brightness(50)", "Pattern(3)", "OsdSet(0,1)", "omenu(/data/configs/omenu.json)",
                                  "set_OSD_para", "load_hdmi", "check_port_valid", "check_input_port"}));
    EXPECT_EQ((Vals{fpga_handover::take_output_status(), fpga_handover::take_brightness(),
                    source_handover::custom_edid_requests(2) - edidBefore}),
              (Vals{1, 1, 1}));
}

}  // namespace
