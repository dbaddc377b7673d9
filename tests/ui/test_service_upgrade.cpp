// The USB upgrade from the operator's side: OK on the communication page,
// the FPGA manager's turns over the stick's packages with the updating
// screen up, "downing over" at the end of a clean run and a red failure
// text at the end of one that refused a package, and what each run leaves
// behind in the simulated flashes, under "/data/app" and in the recorded
// shell.
#include "service_fixture.h"

#include "../fpga/upgrade_package.h"

#include "fpga/fpga_jobs.h"
#include "fpga/fpga_manage.h"
#include "fpga/usb_upgrade.h"
#include "sim/sim_c331.h"
#include "sim/sim_fpga.h"
#include "sim/sim_fpga_flash.h"
#include "ui/shell/firmwareupdate.h"
#include "video_io/source_handover.h"

#include <QTest>

constexpr const char* kAppFile = "/data/app/zrvK57N";
constexpr const char* kAppStaged = "/data/app/zrvK57N2";

namespace {

using upkg::Bytes;

class UpgradeRoadTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        g_usb_grade = 0;
        g_update_flag = 0;
        g_update_status = 0;
        for (int k = 0; k < 2; ++k) {
            fpga[k] = std::dynamic_pointer_cast<SimFpga>(board().spiModel(fpgareg::kSpiDevices[k]));
            flash[k] = std::dynamic_pointer_cast<SimFpgaFlash>(board().spiModel(fpgareg::kSpiDevices[2 + k]));
            ASSERT_TRUE(fpga[k] && flash[k]);
        }
        c331 = c331_manage::get();
        c331->c331_fd = c331->drv->initialize();
        chip = std::dynamic_pointer_cast<SimC331>(board().spiModel(c331reg::kSpiDevice));
        ASSERT_TRUE(chip);

        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        ASSERT_EQ(manager->initialize(false), 0);
        fpga_manage::install_usb_upgrade_request();
        // The source manager's part: clocks set up, FPGAs released.
        for (int k = 0; k < 2; ++k) {
            board().simGpio().setLine(k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset, 1);
            source_handover::g_output_clock_state[k].store(2);
        }
        g_fpga_c331_start = 1;
        ASSERT_TRUE(turnUntil([this] { return manager->get_fpga_status(); }, 3000));
    }
    void TearDown() override {
        manager.reset();
        for (auto& s : source_handover::g_output_clock_state) s.store(0);
        g_fpga_c331_start = 0;
        g_usb_grade = 0;
        g_update_flag = 0;
        g_app_reset_flag = 0;
        g_send_para.finish();
        ServiceTest::TearDown();
    }

    // One 10 ms turn of the FPGA thread.
    bool turnUntil(const std::function<bool()>& done, int maxTurns) {
        for (int i = 0; i < maxTurns && !done(); ++i) {
            advanceTicks(1);
            manager->thread_turn();
        }
        return done();
    }
    // The operator swaps the stick's package and presses OK; the run goes
    // to its end and the page has shown it. Returns what the page shows.
    QString upgradeWith(LinkOption* page, const upkg::Package& p) {
        QString shown;
        upgradeRun(page, p, &shown);
        return shown;
    }
    void upgradeRun(LinkOption* page, const upkg::Package& p, QString* shown) {
        QDir(QString::fromStdString(hostPath("/mnt/usb1"))).removeRecursively();
        page->syncUpdate(101);
        upkg::onStick("ZRV-K46", "pkg.ZRV", upkg::build(p));
        page->syncUpdate(102);
        page->findChild<QLabel*>("label_log")->clear();
        QTest::mouseClick(child<QPushButton>(page, "Button_ok"), Qt::LeftButton);
        ASSERT_EQ(g_usb_grade.load(), 1u);
        ASSERT_TRUE(turnUntil([] { return g_send_para.step() != 0; }, 1));
        EXPECT_TRUE(g_mainwindow->updateScreen() && g_mainwindow->updateScreen()->isVisible());
        ASSERT_TRUE(turnUntil([] { return g_usb_grade.load() == 0; }, 5));
        QTRY_VERIFY(!page->findChild<QLabel*>("label_log")->text().isEmpty());
        EXPECT_FALSE(g_mainwindow->updateScreen());
        *shown = page->findChild<QLabel*>("label_log")->text();
    }
    // The board's clock at that time of day (2026-01-01).
    void wallClock(int hour, int minute, int second) {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mday = 1;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        clock->setWallTime(t);
    }
    int flashTouches() {
        int n = 0;
        for (auto& f : flash)
            for (const auto& c : f->commands()) n += c.op == 0x20 || c.op == 0x52 || c.op == 0xD8 || c.op == 0x02;
        return n;
    }
    int resetsOf(int k) {
        int n = 0;
        for (const auto& e : board().simGpio().history())
            n += e.first == (k ? GpioName::kFpga1Reset : GpioName::kFpga0Reset) && e.second == 0;
        return n;
    }
    std::vector<std::string> reboots() {
        std::vector<std::string> out;
        for (const auto& c : board().simShell().commands())
            if (c.find("reboot") != std::string::npos) out.push_back(c);
        return out;
    }

    std::shared_ptr<SimFpga> fpga[2];
    std::shared_ptr<SimFpgaFlash> flash[2];
    std::shared_ptr<SimC331> chip;
    c331_manage* c331 = nullptr;
    std::unique_ptr<fpga_manage> manager;
};

TEST_F(UpgradeRoadTest, OkInstallsTheStickPackagesAndRefusesAHostileOne) {
    writeHostFile(hostPath(kAppFile), "old");
    LinkOption* page = openLink();
    page->on_Button_usb_clicked();
    for (auto& f : flash) f->clearLog();
    const u32 chipErases = chip->flashEraseCount();

    // A hostile package: a count beyond its table and beyond what any
    // package holds, lengths and offsets that lie, an image over its entry,
    // a font over its place. Nothing written, and the page says the run
    // failed, in red, with its times.
    upkg::Entry wrapping = upkg::app(upkg::pattern(100, 1));
    wrapping.offset = 0xFFFFFFF0L;
    upkg::Entry longApp = upkg::app(Bytes(10, 1));
    longApp.length = 0x7FFFFFFF;
    upkg::Entry farImage = upkg::fpga(1, upkg::fpgaImage(upkg::pattern(4096, 2)));
    farImage.offset = 0x7FFFFF00;
    upkg::Entry bigFont = upkg::font(upkg::fontData(1, 0x40, 0x40000));
    upkg::Package hostile{0, 0x7652,
                          {wrapping, longApp, upkg::fpga(0, upkg::fpgaImage(upkg::pattern(4096, 3), 4097)), farImage,
                           bigFont, upkg::font(upkg::fontData(0, 0x21, 64))},
                          60000};
    wallClock(14, 3, 9);
    EXPECT_EQ(upgradeWith(page, hostile),
              "<font style = 'font-size:20px' color = #FF0000 >downing failed<br>14:3:9    14:3:9</font>");
    EXPECT_EQ((Vals{flashTouches(), chip->flashEraseCount() - chipErases, resetsOf(0), resetsOf(1)}),
              (Vals{0, 0, 0, 0}));
    EXPECT_EQ(readHostFile(hostPath(kAppFile)), "old");
    EXPECT_EQ((Vals{g_app_reset_flag.load(), QFileInfo::exists(QString::fromStdString(hostPath(kAppStaged)))}),
              (Vals{0, 0}));

    // FPGA 0's image and a 64-dot font: the image verified in the flash and
    // the FPGA up again on it, the font in the serial flash and reloaded.
    const Bytes image = upkg::pattern(40 * 1024, 4);
    const Bytes font = upkg::fontData(1, 0x40, 5000);
    wallClock(14, 30, 9);
    EXPECT_EQ(upgradeWith(page, {0, 0x7652, {upkg::fpga(0, upkg::fpgaImage(image)), upkg::font(font)}}),
              "<font style = 'font-size:20px' color = #51BB28 >downing over<br>14:30:9    14:30:9</font>");
    EXPECT_TRUE(flash[0]->read(0, u32(image.size())) == image);
    EXPECT_TRUE(chip->flash(0x410000, u32(font.size())) == font);
    EXPECT_TRUE(c331->font_reload_pending());
    EXPECT_EQ((Vals{resetsOf(0), resetsOf(1), fpga[0]->inReset()}), (Vals{1, 0, 1}));
    EXPECT_TRUE(turnUntil([this] { return !fpga[0]->inReset() && manager->get_fpga_status(); }, 3000));

    // The application: installed, and the panel's tick reboots 300 ticks
    // after the install (recorded, never run).
    const Bytes app = upkg::pattern(300000, 5);
    EXPECT_TRUE(upgradeWith(page, {0, 0x7652, {upkg::app(app)}}).contains("downing over"));
    EXPECT_TRUE(readHostFile(hostPath(kAppFile)) == std::string(app.begin(), app.end()));
    ASSERT_EQ(g_app_reset_flag.load(), 1);
    advanceTicks(G_reboot_tickTicks.load() + 299 - G_timeTicks.load());
    g_mainwindow->slot_update_timer_ticks();
    EXPECT_TRUE(reboots().empty());
    tickAfter(1);
    EXPECT_EQ(reboots(), std::vector<std::string>{"reboot"});
}

}  // namespace
