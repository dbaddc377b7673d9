// The source thread's start-up states and polling pass against the
// simulated bus, with recording drivers: what is called, on which channel,
// and what reaches the lines, the clock chips and the audio switch.
#include "source_env.h"

#include "core/config_engine.h"
#include "video_engine/c331_chip.h"
#include "video_engine/c331_chip_print.h"
#include "video_engine/c331_manage.h"
#include "video_io/drv_i2c0.h"

#include <vector>

constexpr const char* kIniFile = "/data/configs/tcpip.ini";

using Calls = std::vector<std::string>;
using namespace source_bus;

class SourceManagerTest : public SourceEnv {};

TEST_F(SourceManagerTest, StartupHoldsResetThenWaitsAndPulsesOnlyFlaggedFamilies) {
    src->step();  // state 0
    EXPECT_EQ((Vals{src->startup_state(), line(GpioName::kIt6602Reset).size(), line(GpioName::kIt6805Reset).size()}),
              (Vals{1, 1, 1}));
    EXPECT_EQ(calls.take(), (Calls{"reset_init @00"}));
    // Each wait is one sleep to its end, not a wake-up every tick.
    const u32 t0 = src->init_tick;
    int steps = 0;
    for (; src->startup_state() == 1; ++steps) src->step();
    EXPECT_EQ((Vals{Utils::getTimeSpace(t0, src->init_tick), u32(steps)}), (Vals{101, 2}));  // strictly more than 100
    src->step();  // state 2
    EXPECT_EQ((Vals{line(GpioName::kIt6602Reset)[1], line(GpioName::kIt6805Reset)[1], src->startup_state()}),
              (Vals{1, 1, 3}));
    const u32 t1 = src->init_tick;
    for (steps = 0; src->startup_state() == 3; ++steps) src->step();
    EXPECT_EQ((Vals{Utils::getTimeSpace(t1, src->init_tick), u32(steps)}), (Vals{501, 2}));
    src->step();  // state 4: check ("Never" here)
    EXPECT_EQ(src->startup_state(), 5);

    // A restart with only input 4 flagged touches only the IT6805 line.
    {
        QMutexLocker lock(&Utils::_source_init_mutex);
        src->init_state = 0;
        src->reinit[4] = 1;
    }
    src->step();
    while (src->startup_state() != 3) src->step();
    EXPECT_EQ((Vals{line(GpioName::kIt6602Reset).size(), line(GpioName::kIt6805Reset).size()}), (Vals{2, 4}));
}

TEST_F(SourceManagerTest, PollMaskSelectsInputsOnTheirOwnChannel) {
    polling();
    src->poll_mask = 0x10;
    src->step();
    EXPECT_EQ(calls.take(), (Calls{"FSM(1) run=0 @10", "sdi_init @10"}));
    src->poll_mask = 0x20;
    src->step();
    EXPECT_EQ(calls.take(), (Calls{"FSM(0) run=0 @20", "test @20"}));
    // IT6602 inputs: not found stays in init; found goes init_1, then polls.
    src->poll_mask = 0x04;
    it6602->found = 0;
    src->step();
    it6602->found = 1;
    src->step();
    src->step();
    src->step();
    EXPECT_EQ(calls.take(), (Calls{"init(2) @04", "test @04", "init(2) @04", "test @04", "init_1(2) @04", "test @04",
                                   "fsm(2) @04", "test @04"}));
    EXPECT_EQ(reg(38) & 0x20, 0x20);
}

TEST_F(SourceManagerTest, MaskZeroStillRunsTheOtherStepsAndSleeps) {
    polling();
    board().enableEventLog(true);
    model->reg_block.REG[32] = 0x02;
    source_handover::raise_sdi_reset();
    const u64 before = clock->nowMs();
    src->step();
    EXPECT_GE(clock->nowMs() - before, 10u);
    EXPECT_EQ(calls.take(), (Calls{"sdi_init @00"}));
    EXPECT_EQ((Vals{reg(32), line(GpioName::kIt6805Reset).back(),
                    line(GpioName::kGs2971Reset).back(), audio()->history().size(), clockChip(0)->writes().size()}),
              (Vals{0, 1, 0, 1, 63}));
}

TEST_F(SourceManagerTest, ClockChipsAreWrittenThenTheirFpgasReleased) {
    polling();
    src->about_outxx_clk_create_deal();
    // Both chips get the same 63 bytes, registers 0 to 62 one at a time.
    const u8 table[63] = {0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
                          0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
                          0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};
    std::vector<std::pair<uint8_t, uint8_t>> want;
    for (int r = 0; r < 63; ++r) want.emplace_back(u8(r), table[r]);
    EXPECT_EQ(clockChip(0)->writes(), want);
    EXPECT_EQ(clockChip(1)->writes(), want);
    EXPECT_EQ((Vals{src->clock_state[0], source_handover::output_clock_state(0), line(GpioName::kFpga0Reset).size()}),
              (Vals{1, 1, 0}));
    src->about_outxx_clk_create_deal();
    EXPECT_EQ((Vals{line(GpioName::kFpga0Reset).back(), line(GpioName::kFpga1Reset).back(),
                    reg(38) & 0x80, reg(39) & 1,
                    source_handover::output_clock_state(0), source_handover::output_clock_state(1)}),
              (Vals{1, 1, 0x80, 1, 2, 2}));
    // Done: never touched again.
    clockChip(0)->clearLog();
    src->about_outxx_clk_create_deal();
    EXPECT_TRUE(clockChip(0)->writes().empty());
}

TEST_F(SourceManagerTest, ClockTableFailureRestartsFromRegisterZero) {
    polling();
    clockChip(1)->setNackAt(17);
    src->about_outxx_clk_create_deal();
    src->about_outxx_clk_create_deal();
    EXPECT_EQ((Vals{clockChip(1)->writes().size(), src->clock_state[1], line(GpioName::kFpga1Reset).size()}),
              (Vals{34, 0, 0}));
    clockChip(1)->setNackAt(-1);
    clockChip(1)->clearLog();
    src->about_outxx_clk_create_deal();
    EXPECT_EQ((Vals{clockChip(1)->writes().size(), clockChip(1)->writes().front().first, src->clock_state[1]}),
              (Vals{63, 0, 1}));

    // A switch that does not answer: bit 5 of register 38 cleared, no clock traffic.
    board().attachI2c(bus(), kMemSwitch >> 1, nullptr);
    clockChip(1)->clearLog();
    src->about_outxx_clk_create_deal();
    EXPECT_EQ((Vals{reg(38) & 0x20, clockChip(1)->writes().size(),
                    src->clock_state[1]}),
              (Vals{0, 0, 1}));
}

TEST_F(SourceManagerTest, RegisterCommandsReachTheRightChipAndLine) {
    polling();
    model->reg_block.REG[32] = 0xC0;
    src->about_source_bug();
    EXPECT_EQ(calls.take(), (Calls{"HPD(0,0,0) @20", "HPD(0,1,0) @20"}));
    model->reg_block.REG[32] = 0x30;
    src->about_source_bug();
    EXPECT_EQ(calls.take(), (Calls{"HPD(0,0,1) @10", "HPD(0,1,1) @10"}));
    // Low then high: the line ends high and the chips are set up again.
    model->reg_block.REG[32] = 0x03;
    src->about_source_bug();
    EXPECT_EQ(calls.take(), (Calls{"reset_init @10"}));
    EXPECT_EQ((Vals{line(GpioName::kIt6805Reset).size(), line(GpioName::kIt6805Reset).back(),
                    reg(32)}),
              (Vals{2, 1, 0}));
}

TEST_F(SourceManagerTest, SdiResetPulseHoldsSixteenTicksAndKeepsALateRequest) {
    polling();
    source_handover::raise_sdi_reset();
    src->about_source_ext_change_deal();
    const u64 start = clock->nowMs();
    source_handover::raise_sdi_reset();  // during the pulse
    while (line(GpioName::kGs2971Reset).back() == 0) {
        clock->advanceMs(10);
        src->about_source_ext_change_deal();
    }
    EXPECT_GE(clock->nowMs() - start, 160u);
    src->about_source_ext_change_deal();
    EXPECT_EQ(line(GpioName::kGs2971Reset), (std::vector<int>{0, 1, 0}));
}

TEST_F(SourceManagerTest, AudioSourceFollowsTheAudioWindow) {
    polling();
    auto setWindow = [&](int w, u16 source, u16 audioWord) {
        model->live_image.setWord(RamOffset::AUDIO_WINDOW, u16(w));
        if (w < 6) {
            model->live_image.setWord(RamOffset::win(w) + RamOffset::WIN_SOURCE, source);
            model->live_image.setWord(RamOffset::win(w) + RamOffset::WIN_AUDIO, audioWord);
        }
        source_handover::raise_audio_changed();
        src->about_volume_deal();
        return audio()->history().back();
    };
    model->live_image.setWord(RamOffset::crop(3), 0x8102);  // crop 3 shows input 2
    model->live_image.setWord(RamOffset::crop(4), 0x8109);  // a crop naming no input
    EXPECT_EQ((Vals{setWindow(1, 4, 0x8000), setWindow(1, 5, 0x8000), setWindow(2, 0x8003, 0x8000),
                    setWindow(2, 3, 0x0000), setWindow(7, 0, 0), setWindow(0, 0x802D, 0x8000),
                    setWindow(0, 0x8004, 0x8000)}),
              (Vals{0x05, 0x09, 0x21, 0x01, 0x01, 0x01, 0x01}));
    // Not acknowledged: kept and written on the next pass.
    audio()->nackNext(1);
    setWindow(0, 0, 0x8000);
    EXPECT_TRUE(source_handover::g_audio_changed.load());
    src->about_volume_deal();
    EXPECT_EQ((Vals{audio()->history().back(), source_handover::g_audio_changed.load()}), (Vals{0x81, 0}));

    // A change raised while the switch is written is kept for the next pass.
    struct RaisingSwitch : SimAudioSwitch {
        bool write(const uint8_t* d, uint16_t n) override {
            source_handover::raise_audio_changed();
            return SimAudioSwitch::write(d, n);
        }
    };
    board().attachI2c(bus(), kAudioSwitch >> 1, std::make_shared<RaisingSwitch>());
    source_handover::raise_audio_changed();
    src->about_volume_deal();
    EXPECT_TRUE(source_handover::take_audio_changed());
}

TEST_F(SourceManagerTest, TransmitterIsGivenUpAfterTenMisses) {
    polling();
    for (int i = 0; i < 15; ++i) src->step();
    int tests = 0;
    for (const auto& c : calls.take()) tests += c.rfind("test", 0) == 0;
    EXPECT_EQ((Vals{tests, it66121->fail_count, reg(37) & 0x02}), (Vals{10, 10, 0}));
    // A transmitter that answers is set up once, then stepped.
    auto s2 = std::make_unique<vimrasource>();
    SourceCalls c2;
    auto tx = std::make_unique<RecIt66121>(*s2, c2);
    tx->found = 1;
    s2->replace_drivers(nullptr, nullptr, std::move(tx));
    for (int i = 0; i < 5; ++i) s2->it66121_sdi_enable();
    EXPECT_EQ(c2.take(), (Calls{"sdi_init @00", "test @00", "tx_init @00", "loop @00", "loop @00"}));
    EXPECT_EQ(reg(37) & 0x02, 0x02);
}

TEST_F(SourceManagerTest, DriversPublishSignalRecordsAndStatusBits) {
    int emitted = 0;
    QObject::connect(model.get(), &ZrvRamPara::sig_update_para, [&](int) { ++emitted; });
    src->publish_signal(3, 1920, 1080, 59);
    src->publish_signal(1, 1280, 720, 50);
    const SIGNAL_PARA s3 = model->live_image.signal(3), s1 = model->live_image.signal(1);
    EXPECT_EQ((Vals{s3.width, s3.height, s3.rate, s1.rate, emitted}), (Vals{1920, 1080, 60, 50, 2}));
    src->clear_signal(3);
    EXPECT_EQ((Vals{model->live_image.signal(3).width, model->live_image.signal(3).rate}), (Vals{0, 0}));

    PI_HDMI_INFO in{};
    in.Hact = 1920, in.pfreq = 148.5f, in.stable = 1;
    src->fill_hdminfo(4, in);
    src->update_hdminfo(4, [](PI_HDMI_INFO& r) { r.nosignal = 1; });
    PI_HDMI_INFO out{};
    EXPECT_TRUE(src->read_hdminfo(4, out));
    EXPECT_EQ((Vals{out.Hact, out.stable, out.nosignal, out.pfreq == 148.5f, src->read_hdminfo(6, out)}),
              (Vals{1920, 1, 1, 1, 0}));

    model->reg_block.REG[37] = 0x80;
    vimrasource::reg_set_bit(37, 0x05);
    vimrasource::reg_clear_bit(37, 0x80);
    vimrasource::reg_assign_bit(39, 0x01, true);
    EXPECT_EQ((Vals{reg(37), reg(39) & 1}), (Vals{0x05, 1}));
}

TEST_F(SourceManagerTest, WholeManagerBringsTheBoardUpInVirtualTime) {
    ConfigEngine::pInstance();
    {
        QMutexLocker lock(&settingsLock());
        g_check_edid = "Once";
    }
    src->poll_mask = 0xFF;
    while (clock->nowMs() < 8000) src->step();
    ASSERT_FALSE(line(GpioName::kFpga0Reset).empty()) << int(src->startup_state()) << " at " << clock->nowMs();
    ASSERT_FALSE(line(GpioName::kFpga1Reset).empty());
    for (int i = 0; i < kInputs; ++i) {
        const auto e = eeprom(i)->contents();
        EXPECT_TRUE(vimrasource::edid_valid(e.data()) && vimrasource::CalcSum4LCD(0, e.data() + 128, 128) == 0)
            << "input " << i;
    }
    EXPECT_EQ((Vals{src->startup_state(), line(GpioName::kFpga0Reset).back(), line(GpioName::kFpga1Reset).back(),
                    reg(38) & 0x80, reg(39) & 1,
                    board().simShell().commands().size()}),
              (Vals{5, 1, 1, 0x80, 1, 0}));
    EXPECT_NE(readHostFile(hostPath(kIniFile)).find("EDIDCheck=Never"), std::string::npos);
}

TEST_F(SourceManagerTest, InstalledReaderHandsTheRecordToTheVideoProcessor) {
    vimrasource* s = vimrasource::pInstance();
    PI_HDMI_INFO in{};
    in.Hact = 1920, in.Htotal = 2200, in.Vact = 1080, in.Vtotal = 1125, in.pfreq = 148.5f, in.stable = 1;
    in.type = 1, in.lane = 4;
    s->fill_hdminfo(2, in);
    c331_manage* m = c331_manage::get();
    static_cast<c331_state&>(*m) = c331_state{};
    m->c331_fd = m->drv->initialize();
    m->load_system_param();
    m->define_param();
    c331_chip chip(*m);
    chip.load_hdmi();
    int port = -1;
    for (int p = 0; p < C331_PORT_NUM; ++p)
        if (chip.zrvApi_GetPortDevId(p) == 2) port = p;
    ASSERT_GE(port, 0);
    const auto& got = m->PI_HDMI_INFO[port];
    EXPECT_EQ((Vals{got.Hact, got.Htotal, got.Vact, got.Vtotal, got.pfreq == 148.5f, got.type, got.lane}),
              (Vals{1920, 2200, 1080, 1125, 1, 1, 4}));
    s->clear_hdminfo(2);

    // The dump's IT6805 read-out shows what input 4 + rx published, without
    // touching the bus the source thread owns.
    in.Hact = 3840, in.Vact = 2160;
    s->fill_hdminfo(5, in);
    board().enableEventLog(true);
    board().clearEventLog();
    std::FILE* out = std::tmpfile();
    c331print::setSink(out);
    chip.zrvDbg_c331_param(10);
    c331print::setSink(nullptr);
    std::rewind(out);
    std::string text(1 << 16, '\0');
    text.resize(std::fread(&text[0], 1, text.size(), out));
    std::fclose(out);
    s->clear_hdminfo(5);
    EXPECT_TRUE(board().eventLog().empty());
    board().enableEventLog(false);
    EXPECT_EQ(text.find("not available"), std::string::npos);
    const auto rx1 = text.find("dev_id:1, idx:5");
    ASSERT_NE(rx1, std::string::npos);
    EXPECT_NE(text.find("3840", rx1), std::string::npos);
    EXPECT_EQ(text.substr(0, rx1).find("3840"), std::string::npos);
}
