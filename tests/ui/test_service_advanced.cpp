// The advanced dialog: idle times, the other settings, languages, the
// factory page with its resets, and the ageing log.
#include "advanced_fixture.h"
#include "fpga_panel_double.h"

#include "fpga/fpga_manage.h"
#include "protocol/k57_wifi_config.h"
#include "video_io/vimrasource.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextDocument>

#include <sys/stat.h>

// The access point's commands, as the shell receives them (recorded, never run).
constexpr const char* kStopAp = "kill -9 `pidof /usr/bin/hostapd /etc/rtl_hostapd_2G.conf`";
constexpr const char* kStopDhcp = "kill -9 `pidof /usr/sbin/udhcpd  /etc/udhcpd.conf`";
constexpr const char* kStartDhcp = "udhcpd -fS /etc/udhcpd.conf &";
constexpr const char* kStartAp = "/usr/bin/hostapd /etc/rtl_hostapd_2G.conf -B";

namespace {

using namespace RamOffset;

class AdvancedPageTest : public AdvancedTest {
protected:
    void enableWindows(std::initializer_list<int> on) {
        QMutexLocker lock(&c331_manage::get()->mutex);
        for (u32 w = 0; w < WIN_COUNT; ++w) live().setWord(win(w) + WIN_ENABLE, 0);
        for (int w : on) live().setWord(win(u32(w)) + WIN_ENABLE, 1);
        model->shadow_image = model->live_image;
    }
    QStringList items(AdvancedOption* page) {
        QStringList out;
        for (int i = 0; i < page->form()->ImageVolume->count(); ++i) out << page->form()->ImageVolume->itemText(i);
        return out;
    }
};

TEST_F(AdvancedPageTest, IdleTimesLabelStoreOnReleaseAndAutoLockMarks) {
    const std::pair<int, const char*> labels[] = {{3000, "30s"}, {5999, "59s"},   {6000, "1m"}, {9000, "1.5m"},
                                                  {12000, "2m"}, {17999, "3.0m"}, {18000, "3m"}};
    for (const auto& [v, text] : labels) EXPECT_EQ(AdvancedOption::idleText(v), text) << v;

    AdvancedOption* page = openAdvanced();
    ASSERT_TRUE(page);
    Ui_AdvancedOption* ui = page->form();
    EXPECT_EQ((Vals{g_page_focus.load(), ui->stackedWidget->currentIndex(), ui->horizontalSlider->value()}),
              (Vals{12, 0, 18000}));
    EXPECT_EQ(ui->label_time->text(), "3m");
    EXPECT_EQ(page->selectedMenuButton(), ui->Button_LCDshow);
    EXPECT_EQ((QStringList{radio(ui->Button_5min), radio(ui->Button_10min), radio(ui->Button_never)}),
              (QStringList{"checked.png", "unchecked.png", "unchecked.png"}));

    // A tap on the groove changes the label only; the release stores.
    ui->horizontalSlider->setValue(9000);
    EXPECT_EQ((Vals{g_back_to_mainwindow_time.load()}), (Vals{18000}));
    EXPECT_EQ(ui->label_time->text(), "1.5m");
    ui->horizontalSlider->setValue(4500);
    emit ui->horizontalSlider->sliderReleased();
    EXPECT_EQ((Vals{g_back_to_mainwindow_time.load()}), (Vals{4500}));

    QTest::mouseClick(ui->Button_10min, Qt::LeftButton);
    EXPECT_EQ((Vals{g_auto_lock_time.load()}), (Vals{60000}));
    QTest::mouseClick(ui->Button_never, Qt::LeftButton);
    EXPECT_EQ((Vals{g_auto_lock_time.load()}), (Vals{120000}));
    QTest::mouseClick(ui->Button_10min, Qt::LeftButton);

    // Opened again: the marks and the slider follow the idle times.
    page->on_Button_back_clicked();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ((Vals{g_page_focus.load(), g_advancedoption.isNull()}), (Vals{5, 1}));
    page = openAdvanced();
    ui = page->form();
    EXPECT_EQ((QStringList{radio(ui->Button_5min), radio(ui->Button_10min), radio(ui->Button_never)}),
              (QStringList{"unchecked.png", "checked.png", "unchecked.png"}));
    EXPECT_EQ((Vals{ui->horizontalSlider->value()}), (Vals{4500}));
    EXPECT_EQ(ui->label_time->text(), "45s");
    EXPECT_EQ(applyFlag(), 0);  // none of this touches the image
}

TEST_F(AdvancedPageTest, IdleReturnFollowsTheChosenTime) {
    AdvancedOption* page = openAdvanced();
    page->form()->horizontalSlider->setValue(3000);
    emit page->form()->horizontalSlider->sliderReleased();
    for (int i = 0; i < 3000; ++i) tickAfter(1);
    EXPECT_EQ(g_page_focus.load(), 12);
    tickAfter(1);
    EXPECT_EQ(g_page_focus.load(), 5);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(g_advancedoption.isNull());
}

TEST_F(AdvancedPageTest, AudioListOfEnabledWindowsAndTheSwitch) {
    enableWindows({1, 3, 4});
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setWord(AUDIO_WINDOW, 4);
        live().setWord(win(3) + WIN_AUDIO, 0);
        live().setWord(win(4) + WIN_AUDIO, 0x80FF);
    }
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    page->on_Button_other_clicked();
    EXPECT_EQ(items(page), (QStringList{"image2", "image4", "image5"}));
    EXPECT_EQ((Vals{ui->ImageVolume->currentIndex(), applyFlag()}), (Vals{2, 0}));
    EXPECT_EQ(toggle(ui->Button_volume_state), "button_on.png");

    ui->ImageVolume->setCurrentIndex(1);
    EXPECT_EQ(toggle(ui->Button_volume_state), "button_off.png");
    EXPECT_EQ(applyFlag(), 0);  // choosing writes nothing
    QTest::mouseClick(ui->Button_volume_state, Qt::LeftButton);
    EXPECT_EQ((Vals{live().word(win(3) + WIN_AUDIO), live().word(AUDIO_WINDOW), live().word(win(4) + WIN_AUDIO),
                    applyFlag()}),
              (Vals{0x80FF, 3, 0x80FF, 1}));
    EXPECT_EQ(toggle(ui->Button_volume_state), "button_on.png");
    QTest::mouseClick(ui->Button_volume_state, Qt::LeftButton);
    EXPECT_EQ((Vals{live().word(win(3) + WIN_AUDIO), live().word(AUDIO_WINDOW)}), (Vals{0, 3}));

    // Russian items.
    g_language = 2;
    page->para_init();
    EXPECT_EQ(items(page), (QStringList{"Канал2", "Канал4", "Канал5"}));
}

TEST_F(AdvancedPageTest, AudioWindowOnADisabledWindowFallsBackWithoutTheFlag) {
    enableWindows({0, 2});
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setWord(AUDIO_WINDOW, 5);
    }
    AdvancedOption* page = openAdvanced();
    EXPECT_EQ((Vals{live().word(AUDIO_WINDOW), applyFlag(), page->form()->ImageVolume->currentIndex()}),
              (Vals{0, 0, 0}));

    // Window 0 off as well: no current item, and the switch does nothing.
    enableWindows({2});
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setWord(AUDIO_WINDOW, 4);
    }
    page->para_init();
    EXPECT_EQ((Vals{live().word(AUDIO_WINDOW), page->form()->ImageVolume->currentIndex(), applyFlag()}),
              (Vals{0, -1, 0}));
    const PARA_RAM_IMAGE before = live();
    page->on_Button_volume_state_clicked();
    EXPECT_EQ((Vals{std::memcmp(&before, &live(), sizeof before), applyFlag()}), (Vals{0, 0}));
}

TEST_F(AdvancedPageTest, EffectAndPointToPointWriteAllSixteenSlots) {
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        for (u32 s = 0; s < WIN_SLOTS; ++s) {
            live().setWord(win(s) + WIN_OUTPUT, 0xF201);  // other bits in both bytes
            live().setWord(fadeIn(s), 0x0700);
        }
    }
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    QSignalSpy changes(model.get(), &ZrvRamPara::sig_update_para);
    page->on_Button_other_clicked();
    QTest::mouseClick(ui->Button_fade, Qt::LeftButton);
    EXPECT_EQ((QStringList{radio(ui->Button_seamless), radio(ui->Button_fade)}),
              (QStringList{"unchecked.png", "checked.png"}));
    EXPECT_EQ((Vals{live().word(SWITCH_EFFECT), applyFlag(), changes.size()}), (Vals{1, 1, 1}));
    for (u32 s = 0; s < WIN_SLOTS; ++s)
        EXPECT_EQ((Vals{live().word(win(s) + WIN_OUTPUT), live().word(fadeIn(s)), live().word(fadeOut(s))}),
                  (Vals{0xF205, 0x073C, 60}))
            << s;
    QTest::mouseClick(ui->Button_seamless, Qt::LeftButton);
    for (u32 s = 0; s < WIN_SLOTS; ++s)
        EXPECT_EQ((Vals{live().word(win(s) + WIN_OUTPUT), live().byte(fadeIn(s))}), (Vals{0xF201, 60})) << s;
    EXPECT_EQ(live().word(SWITCH_EFFECT), 0);

    QTest::mouseClick(ui->Button_DBD_open, Qt::LeftButton);
    for (u32 s = 0; s < WIN_SLOTS; ++s) EXPECT_EQ(live().word(win(s) + WIN_OUTPUT), 0x0101) << s;
    EXPECT_EQ((QStringList{radio(ui->Button_DBD_open), radio(ui->Button_DBD_close)}),
              (QStringList{"checked.png", "unchecked.png"}));
    EXPECT_EQ(live().word(DOT_BY_DOT), 1);
    QTest::mouseClick(ui->Button_DBD_close, Qt::LeftButton);
    for (u32 s = 0; s < WIN_SLOTS; ++s) EXPECT_EQ(live().word(win(s) + WIN_OUTPUT), 0x0001) << s;
    EXPECT_EQ(live().word(DOT_BY_DOT), 0);
}

TEST_F(AdvancedPageTest, WifiOffRunsTheTwoKillsOnRestartsTheAccessPointAndBothArePersisted) {
    K57_WIFI_CONFIG wifi;
    K57_WIFI_CONFIG::p_wifi = &wifi;
    wifi.initialize();
    QTRY_COMPARE_WITH_TIMEOUT(board().simShell().commands().size(), size_t(2), 5000);  // started with the AP on
    board().simShell().clear();

    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    page->on_Button_other_clicked();
    EXPECT_EQ(toggle(ui->Button_wifi_state), "button_on.png");
    QTest::mouseClick(ui->Button_wifi_state, Qt::LeftButton);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{kStopAp, kStopDhcp}));
    EXPECT_EQ((Vals{live().byte(WIFI_AP), applyFlag()}), (Vals{1, 1}));
    EXPECT_EQ(toggle(ui->Button_wifi_state), "button_off.png");
    applied();
    EXPECT_EQ(persisted(WIFI_AP), 1);

    board().simShell().clear();
    QTest::mouseClick(ui->Button_wifi_state, Qt::LeftButton);
    EXPECT_EQ((Vals{live().byte(WIFI_AP), toggle(ui->Button_wifi_state) == "button_on.png"}), (Vals{0, 1}));
    advanceTicks(K57_WIFI_CONFIG::kSettleTicks + 1);
    QTRY_COMPARE_WITH_TIMEOUT(board().simShell().commands().size(), size_t(4), 5000);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{kStopAp, kStopDhcp,
                                        kStartDhcp, kStartAp}));
    applied();
    EXPECT_EQ(persisted(WIFI_AP), 0);
    wifi.stop();
    K57_WIFI_CONFIG::p_wifi = nullptr;

    // Without the Wi-Fi manager the switch still changes the byte.
    QTest::mouseClick(ui->Button_wifi_state, Qt::LeftButton);
    QTest::mouseClick(ui->Button_wifi_state, Qt::LeftButton);
    EXPECT_EQ(live().byte(WIFI_AP), 0);
}

TEST_F(AdvancedPageTest, SdiButtonPulsesTheReceiverResetOnlyWithTheSourceManager) {
    AdvancedOption* page = openAdvanced();
    auto pulses = [this] {
        const auto h = board().simGpio().history();
        return std::count_if(h.begin(), h.end(), [](const auto& e) { return e.first == GpioName::kGs2971Reset; });
    };
    const auto before = pulses();
    page->on_modeButton_clicked();  // no source manager: a log line, no line driven
    EXPECT_EQ(pulses(), before);

    vimrasource source;
    vimrasource::p_vimra_source = &source;
    auto pulse = std::make_shared<std::vector<std::pair<int, u64>>>();
    ManualClock* time = clock;
    board().simGpio().watch([pulse, time](const std::string& name, int v) {
        if (name == GpioName::kGs2971Reset) pulse->emplace_back(v, time->nowMs());
    });
    QTest::mouseClick(page->form()->modeButton, Qt::LeftButton);
    vimrasource::p_vimra_source = nullptr;
    const auto seen = *pulse;
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ((Vals{seen[0].first, seen[1].first, seen[1].second - seen[0].second}), (Vals{0, 1, 50}));
}

TEST_F(AdvancedPageTest, LanguageButtonsRelabelAndTheCurrentOneRaisesNothing) {
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    page->on_Button_factory_clicked();
    EXPECT_EQ(radio(ui->Button_english), "checked.png");
    QTest::mouseClick(ui->Button_english, Qt::LeftButton);
    EXPECT_EQ((Vals{applyFlag(), live().byte(LANGUAGE)}), (Vals{0, 1}));

    QTest::mouseClick(ui->Button_vn, Qt::LeftButton);
    EXPECT_EQ((Vals{g_language.load(), live().byte(LANGUAGE), applyFlag()}), (Vals{3, 3, 1}));
    EXPECT_EQ(ui->label_title->text(), "Cài đặt nâng cao");
    EXPECT_EQ(ui->Button_check->text(), "Tìm hiểu");
    EXPECT_EQ((QStringList{radio(ui->Button_vn), radio(ui->Button_english), radio(ui->Button_chinese)}),
              (QStringList{"checked.png", "unchecked.png", "unchecked.png"}));
    EXPECT_EQ(ui->label_en->text(), "English");  // the language names stay
    applied();
    EXPECT_EQ(persisted(LANGUAGE), 3);

    // A language written over the protocol reaches the dialog through the
    // refresh, the marks of the open languages tab included.
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setByte(LANGUAGE, 1);
    }
    applied();
    EXPECT_EQ(ui->label_title->text(), "Advanced Settings");
    EXPECT_EQ(ui->Button_self_recovery->text(), "Restore");
    EXPECT_EQ((QStringList{radio(ui->Button_vn), radio(ui->Button_english), radio(ui->Button_chinese)}),
              (QStringList{"unchecked.png", "checked.png", "unchecked.png"}));
}

// ---------------------------------------------------------------- factory

class FactoryTest : public AdvancedPageTest {
protected:
    void TearDown() override {
        FpgaPanel::setBackend(nullptr);
        c331_manage::get()->set_font_status(0);
        AdvancedPageTest::TearDown();
    }
    void setNetwork(const QString& ip, const QString& mask, const QString& gateway) {
        ConfigEngine::p_config->write_config_variant(ConfigItem::IPAddress, ip);
        ConfigEngine::p_config->write_config_variant(ConfigItem::SubNetMask, mask);
        ConfigEngine::p_config->write_config_variant(ConfigItem::GateWay, gateway);
        Utils::getIPAddress();
        board().simShell().clear();
    }
    QStringList network() {
        QMutexLocker lock(&settingsLock());
        return {g_str_ip, g_srt_mask, g_str_gateway};
    }
};

TEST_F(FactoryTest, FontMarksFromTheStatusWordAndTheLanguageMark) {
    c331_manage::get()->set_font_status(0x3);
    g_language = 4;
    AdvancedOption* page = openAdvanced();
    page->on_Button_factory_clicked();
    Ui_AdvancedOption* ui = page->form();
    QStringList marks;
    for (QLabel* l : ui->fontMark) marks << markOf(l);
    EXPECT_EQ(marks, (QStringList{"osd_yes.bmp", "osd_yes.bmp", "osd_no.bmp", "osd_no.bmp", "osd_no.bmp", "osd_no.bmp"}));
    EXPECT_EQ((QStringList{radio(ui->Button_tn), radio(ui->Button_english)}), (QStringList{"checked.png", "unchecked.png"}));

    c331_manage::get()->set_font_status(0x8);
    page->on_Button_factory_clicked();
    marks.clear();
    for (QLabel* l : ui->fontMark) marks << markOf(l);
    EXPECT_EQ(marks, (QStringList{"osd_no.bmp", "osd_no.bmp", "osd_no.bmp", "osd_yes.bmp", "osd_no.bmp", "osd_yes.bmp"}));
}

TEST_F(FactoryTest, ResetsKeepWhatTheyShouldAndRebuildTheCrops) {
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    page->on_Button_factory_clicked();
    page->on_Button_reset_clicked();
    EXPECT_EQ(ui->stackedWidget_2->currentIndex(), 1);
    auto customise = [this] {
        model->ZrvSetEDIDPara(0, 1280, 720, 50);
        CROP_PARA crop{0, 10, 20, 300, 200};
        model->ZrvAddNewCrop(2, &crop);
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setWord(1374, 0x1234);  // last kept word
        live().setWord(SPLICE_MODE, 2);  // first word after them, factory 4
        live().setByte(767, 0x33);       // run-time status, never reset
        live().setByte(895, 0x77);       // last byte before the kept ones, factory 0
        live().setByte(4095, 0x77);      // last byte of the image, factory 0
        live().setWord(BRIGHTNESS, 7);
        live().setByte(LANGUAGE, 1);
        model->shadow_image = model->live_image;
        c331_manage::get()->apply_flag = 0;
    };
    customise();
    model->ZrvCropSourceInit();
    ASSERT_EQ(model->ZrvGetCropID(2, 1), 1);
    // A PC asked to save mode 5 just before the reset.
    {
        const u8 five[2] = {5, 0};
        QMutexLocker lock(&c331_manage::get()->mutex);
        ASSERT_EQ(model->ZrvRamParaDeal(five, 2, SAVE_REQUEST), 0);
    }

    QTest::mouseClick(ui->Button_reset2, Qt::LeftButton);
    EXPECT_EQ((Vals{live().word(edid(0)), live().word(edid(0) + 2), live().word(1374), live().word(BRIGHTNESS),
                    applyFlag(), live().word(SAVE_REQUEST)}),
              (Vals{1280, 720, 0x1234, 100, 1, 5}));
    // Carried out with the settings it was asked with, and not current.
    applied();
    EXPECT_EQ((Vals{model->ZrvUserModeSaved(4), model->user_mode[4].snapshot[SPLICE_MODE - MODE_BEGIN],
                    live().word(LOADED_MODE)}),
              (Vals{1, 2, 0}));
    EXPECT_EQ((Vals{live().byte(767), live().byte(895), live().word(SPLICE_MODE), live().byte(4095)}),
              (Vals{0x33, 0, 4, 0}));
    EXPECT_EQ(model->ZrvGetCropID(2, 1), 0);  // the factory table's crops only
    EXPECT_EQ(page->highlightedReset(), ui->Button_reset2);

    customise();
    QTest::mouseClick(ui->Button_reset1, Qt::LeftButton);
    EXPECT_EQ((Vals{live().word(edid(0)), live().word(edid(0) + 2), live().word(edid(4))}), (Vals{1920, 1080, 3840}));
    customise();
    QTest::mouseClick(ui->Button_reset3, Qt::LeftButton);
    EXPECT_EQ((Vals{live().word(edid(0)), live().word(edid(5) + 2)}), (Vals{1920, 2160}));
    // One highlighted reset button.
    EXPECT_EQ(page->highlightedReset(), ui->Button_reset3);
    EXPECT_EQ((QStringList{ui->Button_reset1->styleSheet().left(28), ui->Button_reset3->styleSheet().left(28)}),
              (QStringList{"background-color:#10101C;col", "background-color:#4777FF;col"}));

    // The change signalled: the page speaks the factory language.
    applied();
    EXPECT_EQ((Vals{g_language.load()}), (Vals{0}));
    EXPECT_EQ(ui->label_title->text(), "高级设置");
    EXPECT_EQ(persisted(BRIGHTNESS), 100);
    // Back on the languages tab, the factory language is the one marked.
    page->on_Button_language_clicked();
    EXPECT_EQ((QStringList{radio(ui->Button_chinese), radio(ui->Button_english)}),
              (QStringList{"checked.png", "unchecked.png"}));
    EXPECT_EQ(page->highlightedReset()->styleSheet().left(28), "background-color:#4777FF;col");
}

TEST_F(FactoryTest, ResetAllResetsTheNetworkWhenAnyOfTheThreeDiffers) {
    AdvancedOption* page = openAdvanced();
    setNetwork("192.168.1.199", "255.255.255.0", "192.168.1.7");
    page->on_Button_reset3_clicked();
    EXPECT_EQ(network(), (QStringList{"192.168.1.199", "255.255.255.0", "192.168.1.1"}));
    const std::vector<std::string> cmds = board().simShell().commands();
    EXPECT_TRUE(std::find(cmds.begin(), cmds.end(), "ifconfig eth0 192.168.1.199 netmask 255.255.255.0") != cmds.end());

    setNetwork("10.0.0.5", "255.0.0.0", "10.0.0.1");
    page->on_Button_reset1_clicked();
    page->on_Button_reset2_clicked();
    EXPECT_EQ(network(), (QStringList{"10.0.0.5", "255.0.0.0", "10.0.0.1"}));
    page->on_Button_reset3_clicked();
    EXPECT_EQ(network(), (QStringList{"192.168.1.199", "255.255.255.0", "192.168.1.1"}));

    // All three at their defaults in the file: nothing written; eth0 is set
    // up again, as only it knows whether it took them the last time.
    board().simShell().clear();
    struct stat before {}, after {};
    ::stat(hostPath(ConfigEngine::kIniFile).c_str(), &before);
    page->on_Button_reset3_clicked();
    ::stat(hostPath(ConfigEngine::kIniFile).c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "written again";
    const std::vector<std::string> again = board().simShell().commands();
    EXPECT_TRUE(std::find(again.begin(), again.end(), "ifconfig eth0 192.168.1.199 netmask 255.255.255.0") !=
                again.end());
}

TEST_F(FactoryTest, LedRequestOnlyForAChangedWallInsideTheLockAndTheAccessPointBack) {
    RecordingPanel led;
    FpgaPanel::setBackend(&led);
    AdvancedOption* page = openAdvanced();
    page->on_Button_reset1_clicked();
    EXPECT_EQ(led.requests, 0);  // defaults already

    for (u32 field : {WALL_WIDTH, WALL_HEIGHT, SPLICE_MODE}) {
        {
            QMutexLocker lock(&c331_manage::get()->mutex);
            live().setWord(field, 2);
            live().setByte(WIFI_AP, 1);
            model->shadow_image = model->live_image;
        }
        led.requests = led.requestsUnlocked = 0;
        page->on_Button_reset2_clicked();
        EXPECT_EQ((Vals{led.requests, led.requestsUnlocked}), (Vals{1, 0})) << field;
        EXPECT_EQ(live().byte(WIFI_AP), 0);
    }

    // A reset that turns the access point from off to on restarts it; one
    // that leaves it on asks nothing.
    K57_WIFI_CONFIG wifi;
    K57_WIFI_CONFIG::p_wifi = &wifi;
    wifi.initialize();
    QTRY_COMPARE_WITH_TIMEOUT(board().simShell().commands().size(), size_t(2), 5000);
    board().simShell().clear();
    {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setByte(WIFI_AP, 1);
    }
    page->on_Button_reset1_clicked();
    advanceTicks(K57_WIFI_CONFIG::kSettleTicks + 1);
    QTRY_COMPARE_WITH_TIMEOUT(board().simShell().commands().size(), size_t(4), 5000);
    EXPECT_EQ(board().simShell().commands(),
              (std::vector<std::string>{kStopAp, kStopDhcp,
                                        kStartDhcp, kStartAp}));
    board().simShell().clear();
    page->on_Button_reset1_clicked();
    advanceTicks(K57_WIFI_CONFIG::kSettleTicks + 1);
    QTest::qWait(300);
    EXPECT_TRUE(board().simShell().commands().empty());
    wifi.stop();
    K57_WIFI_CONFIG::p_wifi = nullptr;

    // The manager's own request: only with both FPGAs in run state 3.
    FpgaPanel::setBackend(nullptr);
    fpga_manage m;
    fpga_manage::p_fpga_manage = &m;
    g_set_led_para = 0;
    auto wallChanged = [&] {
        QMutexLocker lock(&c331_manage::get()->mutex);
        live().setWord(WALL_WIDTH, 640);
        model->shadow_image = model->live_image;
    };
    wallChanged();
    fpga_manage::MCU_REG_func[0][80] = 3;
    page->on_Button_reset3_clicked();
    EXPECT_EQ((Vals{g_set_led_para.load()}), (Vals{0}));
    wallChanged();
    fpga_manage::MCU_REG_func[1][80] = 3;
    g_set_led_setup = 2;
    page->on_Button_reset3_clicked();
    EXPECT_EQ((Vals{g_set_led_para.load(), g_set_led_setup.load(), applyFlag()}), (Vals{1, 0, 1}));
    g_set_led_para = 0;
    fpga_manage::p_fpga_manage = nullptr;
}

// ---------------------------------------------------------------- ageing log

class AgeLogTest : public AdvancedPageTest {
protected:
    void SetUp() override {
        AdvancedPageTest::SetUp();
        factoryage_log.clear();
        for (u32* c : counters()) *c = 0;
    }
    void TearDown() override {
        factoryage_log.clear();
        for (u32* c : counters()) *c = 0;
        AdvancedPageTest::TearDown();
    }
    static std::vector<u32*> counters() {
        return {&factoryage_log_diff3,  &factoryage_log_diff5,  &factoryage_log_diff10,  &factoryage_log_diff20,
                &factoryage_log_diffmore, &factoryage_log2_diff3, &factoryage_log2_diff5, &factoryage_log2_diff10,
                &factoryage_log2_diff20, &factoryage_log2_diffmore};
    }
    void unlock(AdvancedOption* page, const QString& code = "5719") {
        NumberKeyboard::setNextAnswer(code);
        QTest::mouseClick(page->form()->Button_factory_age, Qt::LeftButton);
    }
    static QString plain(const QString& html) {
        QTextDocument d;
        d.setHtml(html);
        return d.toPlainText();
    }
};

TEST_F(AgeLogTest, OnlyTheCodeOpensTheLogAndAnyOtherEntryLocksIt) {
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    for (const char* wrong : {"05719", "571", "57190", "1234", ""}) {
        unlock(page, wrong);
        EXPECT_EQ((Vals{page->ageLogUnlocked(), ui->stackedWidget->currentIndex()}), (Vals{0, 0})) << wrong;
    }
    EXPECT_EQ(g_numberkeyboard->findChild<QLabel*>("label_title")->text(), "key");
    unlock(page);
    EXPECT_EQ((Vals{page->ageLogUnlocked(), ui->stackedWidget->currentIndex()}), (Vals{1, 5}));
    EXPECT_EQ(page->selectedMenuButton(), ui->Button_factory_age);
    // The empty log: the time, two blanks and the ageing note; zero summary.
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d-\\d\\d \\d\\d:\\d\\d  正在老化中\\.\\.\\.$"))
                    .match(plain(ui->label_log1->text()))
                    .hasMatch())
        << ui->label_log1->text().toStdString();
    EXPECT_EQ(ui->label_3->text(), "OUT1:0<3 0<5 0<10 0<20 0>20    OUT2:0<3 0<5 0<10 0<20 0>20");
    EXPECT_EQ((QStringList{ui->page_info->text(), ui->label_page->text()}), (QStringList{"0", "0/0"}));

    // Unlocked: the entry asks nothing more; another entry locks it again.
    NumberKeyboard::setNextAnswer("0000");
    page->on_Button_factory_age_clicked();
    EXPECT_EQ((Vals{page->ageLogUnlocked(), ui->stackedWidget->currentIndex()}), (Vals{1, 5}));
    NumberKeyboard::clearAnswers();
    page->on_Button_other_clicked();
    EXPECT_EQ((Vals{page->ageLogUnlocked(), ui->stackedWidget->currentIndex()}), (Vals{0, 3}));
    unlock(page, "1");
    EXPECT_EQ(ui->stackedWidget->currentIndex(), 3);
}

TEST_F(AgeLogTest, LinesPagesAndStatusColours) {
    MainWindow::appendAgeLine("12-07 10:00 250 31 7 9 0 12");
    MainWindow::appendAgeLine("12-07 10:03 3 5 8 29 31 1");  // rises of 9 and 20
    for (int i = 2; i < 16; ++i) MainWindow::appendAgeLine(QStringLiteral("12-07 11:%1 3 0 0 29 0 0").arg(i, 2, 10, QLatin1Char('0')));
    MainWindow::appendAgeLine("12-07 12:00 4 1 2 30 2 3");
    ASSERT_EQ(factoryage_log.size(), 17);
    AdvancedOption* page = openAdvanced();
    Ui_AdvancedOption* ui = page->form();
    unlock(page);

    const QString html = ui->label_log1->text();
    EXPECT_EQ(html.count("<br>"), 15);
    const QStringList first = html.split("<br>");
    // Shown as written: the run of blanks before the second output stays.
    EXPECT_EQ(plain(html).split('\n').first(), "12-07 10:00 250 DDR0 DDR1 DE HS VS 007    ,009 DDR0 DDR1 DE HS VS 012");
    EXPECT_TRUE(first[0].contains(">12-07 10:00 250 <font")) << first[0].toStdString();
    EXPECT_TRUE(first[0].contains("</font> 007    ,009 <font")) << first[0].toStdString();
    EXPECT_EQ(first[0].count("#00FF00"), 5);  // 31: all green
    EXPECT_EQ(first[0].count("#FF0000"), 5);  // 0: all red
    // 5: DDR0 and DE green, the rest red.
    EXPECT_TRUE(first[1].contains("<font color = #00FF00 >DDR0</font> <font color = #FF0000 >DDR1</font> "
                                  "<font color = #00FF00 >DE</font> <font color = #FF0000 >HS</font> "
                                  "<font color = #FF0000 >VS</font> 008"))
        << first[1].toStdString();
    EXPECT_EQ(ui->label_3->text(), "OUT1:1<3  0<5  1<10  0<20  0>20     OUT2:1<3  0<5  0<10  0<20  1>20 ");
    EXPECT_EQ((QStringList{ui->page_info->text(), ui->label_page->text()}), (QStringList{"17", "1/2"}));

    page->on_next_clicked();
    EXPECT_EQ(plain(ui->label_log1->text()), "12-07 12:00 004 DDR0 DDR1 DE HS VS 002    ,030 DDR0 DDR1 DE HS VS 003");
    EXPECT_EQ(ui->label_page->text(), "2/2");
    page->on_next_clicked();
    EXPECT_EQ(ui->label_page->text(), "1/2");
    page->on_pre_clicked();
    EXPECT_EQ(ui->label_page->text(), "2/2");

    // A line of another shape is left out.
    factoryage_log.append("broken line");
    page->update_agelog();
    EXPECT_EQ((QStringList{ui->page_info->text(), ui->label_page->text()}), (QStringList{"18", "2/2"}));
    EXPECT_EQ(ui->label_log1->text().count("<br>"), 0);
}

TEST_F(AgeLogTest, TheTickRedrawsAnOpenPage) {
    AdvancedOption* page = openAdvanced();
    unlock(page);
    EXPECT_EQ(page->form()->page_info->text(), "0");
    MainWindow::appendAgeLine("12-07 10:00 1 31 0 2 31 0");
    G_factoryage_ticks = G_timeTicks;
    tickAfter(17999);  // a sample once more than 17999 ticks have passed
    EXPECT_EQ(page->form()->page_info->text(), "0");
    tickAfter(2);
    EXPECT_EQ(page->form()->page_info->text(), "1");
}

}  // namespace
