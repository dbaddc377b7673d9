// The USB upgrade against the simulated flashes, a stick folder under the
// root and the recording shell, in virtual time: what each entry type writes
// and where, what is skipped as current, what a lying package is refused
// before anything is touched, the install and the FPGA reset only after a
// verified write, the run's steps and its request.
#include "fpga_env.h"
#include "upgrade_package.h"

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/usb_packages.h"
#include "fpga/usb_upgrade.h"
#include "sim/sim_c331.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <atomic>
#include <fstream>

constexpr const char* kAppFile = "/data/app/zrvK57N";
constexpr const char* kAppStaged = "/data/app/zrvK57N2";
constexpr const char* kLoaderIni = "/data/configs/led_load_config.ini";
constexpr const char* kLoaderApp = "/data/app/zrvK57N -platform linuxfb";

namespace {

using upkg::Bytes;

class UsbUpgradeTest : public FpgaEnv {
protected:
    void SetUp() override {
        FpgaEnv::SetUp();
        {
            QMutexLocker lock(&settingsLock());
            savedFolder = g_usb_grade_path;
            g_usb_grade_path = "ZRV-K46";
        }
        g_usb_grade.store(0);
        g_update_flag.store(0);
        g_app_reset_flag.store(0);
        g_update_status.store(0);
        c331 = c331_manage::get();
        c331->c331_fd = c331->drv->initialize();
        chip = std::dynamic_pointer_cast<SimC331>(board().spiModel(c331reg::kSpiDevice));
        ASSERT_TRUE(chip);
        ASSERT_TRUE(bringUpBoth());
        model->reg_block.REG[43] = 0;
        for (auto& f : flash) f->clearLog();
        signals_.clear();
    }
    void TearDown() override {
        {
            QMutexLocker lock(&settingsLock());
            g_usb_grade_path = savedFolder;
        }
        g_usb_grade.store(0);
        g_update_flag.store(0);
        g_app_reset_flag.store(0);
        g_update_status.store(0);
        g_send_para.finish();
        FpgaEnv::TearDown();
    }

    void stick(const upkg::Package& p, const std::string& name = "a.ZRV", const std::string& folder = "ZRV-K46") {
        upkg::onStick(folder, name, upkg::build(p));
    }
    // Requests a run and turns the thread until it has ended.
    void run() {
        ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
        ASSERT_TRUE(runUntil([] { return g_usb_grade.load() == 0; }, 10));
    }
    std::vector<SimFpgaFlash::Command> erases(int k) {
        std::vector<SimFpgaFlash::Command> out;
        for (const auto& c : flash[k]->commands())
            if (c.op == 0x20 || c.op == 0x52 || c.op == 0xD8) out.push_back(c);
        return out;
    }
    // Bytes below `end` read from flash k after its first page program.
    u32 readAfterWriting(int k, u32 end) {
        u32 n = 0;
        bool written = false;
        for (const auto& c : flash[k]->commands()) {
            written = written || c.op == 0x02;
            if (written && c.op == 0x0B && c.address < end) n += c.length;
        }
        return n;
    }
    int touches(int k) {
        int n = 0;
        for (const auto& c : flash[k]->commands()) n += c.op == 0x20 || c.op == 0x52 || c.op == 0xD8 || c.op == 0x02;
        return n;
    }
    std::string appFile(const char* devicePath = kAppFile) { return readHostFile(hostPath(devicePath)); }
    static std::string str(const Bytes& b) { return std::string(b.begin(), b.end()); }
    QString loaderValue(const char* key) {
        QSettings s(QString::fromStdString(hostPath(kLoaderIni)), QSettings::IniFormat);
        return s.value(key).toString();
    }

    QString savedFolder;
    c331_manage* c331 = nullptr;
    std::shared_ptr<SimC331> chip;
};

// ---- application

TEST_F(UsbUpgradeTest, ApplicationIsWrittenOnlyWhenNotTheRunningReleaseAndInstalledForTheLoader) {
    writeHostFile(hostPath(kAppFile), "old");
    const Bytes bytes = upkg::pattern(70000, 1);

    // A release of the running version: nothing written, no reboot.
    stick({128, 0x7652, {upkg::app(bytes, upkg::kRunningApp)}});
    run();
    EXPECT_EQ(appFile(), "old");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(hostPath(kAppStaged))));
    EXPECT_EQ((Vals{g_app_reset_flag.load(), QFileInfo::exists(QString::fromStdString(hostPath(kLoaderIni)))}),
              (Vals{0, 0}));

    // Not a release: the application is replaced, executable, registered
    // with the loader, and the reboot is handed to the panel's tick.
    stick({0, 0x7652, {upkg::app(bytes, upkg::kRunningApp)}});
    run();
    EXPECT_TRUE(appFile() == str(bytes));
    const QFileInfo installed(QString::fromStdString(hostPath(kAppFile)));
    EXPECT_TRUE(installed.isExecutable());
    EXPECT_EQ(installed.permissions() & QFile::ExeOther, QFile::ExeOther);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(hostPath(kAppStaged))));
    EXPECT_EQ(loaderValue("app-1/app_path"), kLoaderApp);
    EXPECT_EQ(loaderValue("app-1/app_name"), "zrvK57N");
    EXPECT_EQ((Vals{g_app_reset_flag.load(), G_reboot_tickTicks.load() + 1 >= G_timeTicks.load()}), (Vals{1, 1}));
    // No FPGA reset: the reboot follows.
    EXPECT_EQ((Vals{resetsOf(0), resetsOf(1)}), (Vals{0, 0}));

    // A loader that already starts this application keeps its file.
    g_app_reset_flag.store(0);
    QFile::remove(QString::fromStdString(hostPath(kLoaderIni)));
    g_update_status.store(1);
    run();
    EXPECT_EQ((Vals{g_app_reset_flag.load(), QFileInfo::exists(QString::fromStdString(hostPath(kLoaderIni)))}),
              (Vals{1, 0}));
    // A pending reboot: nothing installed again.
    writeHostFile(hostPath(kAppFile), "old");
    run();
    EXPECT_EQ(appFile(), "old");
}

TEST_F(UsbUpgradeTest, ApplicationThatDoesNotReadBackOrDoesNotFitIsNotInstalled) {
    writeHostFile(hostPath(kAppFile), "old");
    const Bytes bytes = upkg::pattern(5000, 2);

    // The staged file reads back different: removed, nothing renamed, no
    // reboot; the run still ends with code 104.
    m->on_app_staged = [](const std::string& host) {
        std::fstream f(host, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4321);
        f.put('\x5A');
    };
    stick({0, 0x7652, {upkg::app(bytes)}});
    run();
    m->on_app_staged = nullptr;
    EXPECT_EQ(appFile(), "old");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(hostPath(kAppStaged))));
    EXPECT_EQ((Vals{g_app_reset_flag.load(), signals_.back()}), (Vals{0, 104}));

    // A good entry, then one that fails its read-back: the staged file is
    // gone, so nothing is installed.
    int calls = 0;
    m->on_app_staged = [&calls](const std::string& host) {
        if (++calls == 2) std::ofstream(host, std::ios::binary | std::ios::trunc) << "cut";
    };
    stick({0, 0x7652, {upkg::app(bytes), upkg::app(upkg::pattern(6000, 3))}});
    run();
    m->on_app_staged = nullptr;
    EXPECT_EQ((Vals{calls, g_app_reset_flag.load()}), (Vals{2, 0}));
    EXPECT_EQ(appFile(), "old");

    // Beyond the package, and over the 5 MiB buffer: refused, nothing staged.
    upkg::Entry beyond = upkg::app(bytes);
    beyond.length = long(bytes.size()) + 1;
    upkg::Entry wrapping = upkg::app(bytes);
    wrapping.offset = 0xFFFFFFF0L;
    stick({0, 0x7652, {wrapping, upkg::app(Bytes(usbupgrade::kAppMax + 1, 0x11)), beyond}});
    run();
    EXPECT_EQ(appFile(), "old");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(hostPath(kAppStaged))));
    EXPECT_EQ(g_app_reset_flag.load(), 0);
}

TEST_F(UsbUpgradeTest, AWrittenApplicationStaysInstalledWhenALaterEntryIsCurrent) {
    // The flag means "written in this run": a later entry skipped as current
    // does not leave the written one uninstalled.
    const Bytes bytes = upkg::pattern(3000, 4);
    stick({128, 0x7652, {upkg::app(bytes), upkg::app(upkg::pattern(10, 5), upkg::kRunningApp)}});
    run();
    EXPECT_TRUE(appFile() == str(bytes));
    EXPECT_EQ(g_app_reset_flag.load(), 1);
}

// ---- FPGA images

TEST_F(UsbUpgradeTest, FpgaImageIsErasedWrittenVerifiedAndTheFpgaRestarts) {
    const Bytes image = upkg::pattern(40 * 1024, 7);
    stick({0, 0x7652, {upkg::fpga(0, upkg::fpgaImage(image))}});
    run();
    const auto e = erases(0);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ((Vals{e[0].op, e[0].address, e[1].op, e[1].address, e[2].op, e[2].address}),
              (Vals{0x52, 0, 0x20, 0x8000, 0x20, 0x9000}));
    EXPECT_TRUE(flash[0]->read(0, u32(image.size())) == image);
    EXPECT_EQ(flash[0]->read(u32(image.size()), 16), Bytes(16, 0xFF));
    // Read back over the whole image once written (the erase's read back
    // comes before).
    EXPECT_EQ(readAfterWriting(0, u32(image.size())), image.size());
    EXPECT_EQ(touches(1), 0);
    // Reset, released and brought up again by the normal passes.
    EXPECT_EQ((Vals{resetsOf(0), resetsOf(1)}), (Vals{1, 0}));
    EXPECT_TRUE(fpga[0]->inReset());
    EXPECT_TRUE(runUntil([this] { return !fpga[0]->inReset() && m->get_fpga_status(); }, 3000));

    // A release of the version FPGA 1 runs (24-10-20 F1) is skipped.
    stick({128, 0x7652, {upkg::fpga(1, upkg::fpgaImage(image), {24, 10, 20, 0, 0, 1})}});
    run();
    EXPECT_EQ((Vals{touches(1), resetsOf(1), m->usb_grade_failed()}), (Vals{0, 0, 0}));

    // Not a release: written, and that FPGA reset. The log numbers the FPGAs
    // 1 and 2, as the bring-up lines and the device information do.
    stick({0, 0x7652, {upkg::fpga(1, upkg::fpgaImage(image), {24, 10, 20, 0, 0, 1})}});
    run();
    EXPECT_EQ(resetsOf(1), 1);
    const std::string log = readHostFile(hostPath(kLogFile));
    EXPECT_NE(log.find("USB upgrade: FPGA 1 image written; FPGA reset\n"), std::string::npos) << log;
    EXPECT_NE(log.find("USB upgrade: FPGA 2 image written; FPGA reset\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("USB upgrade: FPGA 0 "), std::string::npos) << log;
}

TEST_F(UsbUpgradeTest, FpgaImageThatLiesAboutItsLengthErasesNothing) {
    const Bytes image = upkg::pattern(8192, 8);
    // Longer than its entry, zero, beyond the package, over the flash's
    // stored areas.
    upkg::Entry cut = upkg::fpga(0, upkg::fpgaImage(image, long(image.size()) + 100));
    cut.length = long(image.size()) + 64 + 100;
    Bytes big(0x6C0001, 0xA5);
    stick({0, 0x7652,
           {upkg::fpga(0, upkg::fpgaImage(image, long(image.size()) + 1)), upkg::fpga(0, upkg::fpgaImage(image, 0)),
            upkg::fpga(1, Bytes(40, 0)), upkg::fpga(1, upkg::fpgaImage(big)), cut}});
    run();
    EXPECT_EQ((Vals{touches(0), touches(1), resetsOf(0), resetsOf(1), m->usb_grade_failed()}), (Vals{0, 0, 0, 0, 1}));
}

TEST_F(UsbUpgradeTest, FpgaIsResetOnlyAfterAVerifiedWrite) {
    // A flash that stays busy: the erase fails, the FPGA keeps running.
    flash[1]->setBusyPolls(-1);
    stick({0, 0x7652, {upkg::fpga(1, upkg::fpgaImage(upkg::pattern(4096, 9)))}});
    run();
    EXPECT_EQ((Vals{resetsOf(1), m->get_fpga_status(), m->usb_grade_failed()}), (Vals{0, 1, 1}));

    // Busy long enough for an erase but past a page program's bound: erased,
    // never completely written, so not reset either.
    flash[1]->setBusyPolls(1000);
    flash[1]->clearLog();
    run();
    flash[1]->setBusyPolls(0);
    EXPECT_EQ(erases(1).size(), 1u);
    EXPECT_TRUE(flash[1]->read(0, 4096) != upkg::pattern(4096, 9));
    EXPECT_EQ((Vals{resetsOf(1), m->get_fpga_status(), m->usb_grade_failed()}), (Vals{0, 1, 1}));

    // A flash whose protection covers the image, holding an older one,
    // takes the erase and keeps its bytes: the erase does not read back,
    // nothing is programmed, the FPGA keeps running from the older image.
    const Bytes older = upkg::pattern(4096, 5);
    ASSERT_EQ(flash[1]->read(0, 4096), Bytes(4096, 0xFF));
    flash[1]->preload(0, older);
    flash[1]->setProtected(0, SimFpgaFlash::kSize);
    flash[1]->clearLog();
    const std::string failed = "USB upgrade: FPGA flash erase failed; FPGA left running";
    const size_t lines = countIn(readHostFile(hostPath(kLogFile)), failed);
    run();
    flash[1]->setProtected(0, 0);
    EXPECT_EQ((Vals{erases(1).size(), touches(1), flash[1]->read(0, 4096) == older}), (Vals{1, 1, 1}));
    EXPECT_EQ((Vals{resetsOf(1), m->get_fpga_status(), m->usb_grade_failed()}), (Vals{0, 1, 1}));
    EXPECT_EQ(countIn(readHostFile(hostPath(kLogFile)), failed), lines + 1);
}

// ---- fonts

TEST_F(UsbUpgradeTest, FontsGoToTheirPlaceInTheSerialFlashUnlessPresentOrUnknown) {
    const Bytes cjk32 = upkg::fontData(0, 0x20, 0x9000 - 35);
    stick({0, 0x7652, {upkg::font(cjk32)}});
    run();
    EXPECT_TRUE(chip->flash(0x010000, u32(cjk32.size())) == cjk32);
    EXPECT_EQ(chip->flash(0x000000, 16), Bytes(16, 0xFF));
    EXPECT_EQ(chip->flashEraseCount(), 2u);  // 32 KB, then 4 KB
    EXPECT_TRUE(c331->font_reload_pending());

    // Unknown dot size and encoding: skipped; longer than its place
    // (encoding 1, 32 dots: 64 KB at 0): refused.
    const u32 erasesBefore = chip->flashEraseCount();
    stick({0, 0x7652,
           {upkg::font(upkg::fontData(1, 0x30, 100)), upkg::font(upkg::fontData(2, 0x20, 100)),
            upkg::font(upkg::fontData(1, 0x20, 0x10000))}});
    run();
    EXPECT_EQ(chip->flashEraseCount(), erasesBefore);
    EXPECT_EQ(chip->flash(0x000000, 16), Bytes(16, 0xFF));

    // All six presence bits of REG 43: skipped.
    model->reg_block.REG[43] = 0xFF;
    stick({0, 0x7652, {upkg::font(upkg::fontData(1, 0x40, 100))}});
    run();
    EXPECT_EQ(chip->flashEraseCount(), erasesBefore);
    model->reg_block.REG[43] = 0x1F;
    run();
    EXPECT_TRUE(chip->flash(0x410000, 135) == upkg::fontData(1, 0x40, 100));
}

// ---- a stick pulled

// A stick pulled: what is open on it reads nothing more, and its folder is
// gone.
void pullStick(const std::string& hostStick) {
    QDirIterator it(QString::fromStdString(hostStick), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) QFile::resize(it.next(), 0);
    QDir(QString::fromStdString(hostStick)).removeRecursively();
}

TEST_F(UsbUpgradeTest, AStickPulledAtAnyStepLeavesTheOldOrTheWholeNewContent) {
    enum Pull { AfterListing, AtErase, AtWrite };
    enum Kind { Image, Font, App };
    // The stick goes at the first sign of the row's step; -1 once gone.
    auto pullAt = std::make_shared<std::atomic<int>>(-1);
    const std::string stickDir = hostPath("/mnt/usb1");
    auto pullOn = [pullAt, stickDir](bool erase, bool write) {
        if ((*pullAt == AtErase && erase) || (*pullAt == AtWrite && write)) *pullAt = -1, pullStick(stickDir);
    };
    board().simGpio().watch([pullOn, f = flash[0].get()](const std::string&, int) {
        for (const auto& c : f->commands()) pullOn(c.op == 0x52 || c.op == 0x20, c.op == 0x02);
    });
    // The serial flash: an erase started (04:48 := 4), a data byte (04:52).
    chip->addWriteHook([pullOn](u8 bank, u8 reg, u8 v) {
        pullOn(bank == 4 && reg == 0x48 && v == 4, bank == 4 && reg == 0x52);
    });
    m->on_app_staged = [pullOn](const std::string&) { pullOn(true, true); };
    flash[0]->preload(0, upkg::pattern(40 * 1024, 90));
    chip->setFlash(0, upkg::fontData(1, 0x20, 0x9000, 91));
    writeHostFile(hostPath(kAppFile), "old");
    const struct {
        Kind kind;
        Pull pull;
        bool whole;  // the new content (else the old)
    } rows[] = {{Image, AfterListing, false}, {Image, AtErase, true}, {Image, AtWrite, true},
                {Font, AfterListing, false},  {Font, AtErase, true},  {Font, AtWrite, true},
                {App, AfterListing, false},   {App, AtWrite, true}};
    u8 seed = 0;
    for (const auto& row : rows) {
        const std::string what = "kind " + std::to_string(row.kind) + ", pull " + std::to_string(row.pull);
        // Images of two chunks, fonts of three.
        const Bytes data = row.kind == Image ? upkg::pattern(40 * 1024, ++seed)
                           : row.kind == Font ? upkg::fontData(1, 0x20, 0x9000, ++seed)
                                              : upkg::pattern(5000, ++seed);
        auto content = [&] {
            const std::string a = appFile();
            return row.kind == Image ? flash[0]->read(0, u32(data.size()))
                   : row.kind == Font ? chip->flash(0, u32(data.size())) : Bytes(a.begin(), a.end());
        };
        const Bytes old = content();
        g_app_reset_flag.store(0);
        for (auto& f : flash) f->clearLog();
        stick({0, 0x7652,
               {row.kind == Image ? upkg::fpga(0, upkg::fpgaImage(data))
                                  : row.kind == Font ? upkg::font(data) : upkg::app(data)}});
        *pullAt = row.pull;
        ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
        m->thread_turn();
        m->thread_turn();
        if (row.pull == AfterListing) *pullAt = -1, pullStick(stickDir);
        ASSERT_TRUE(runUntil([] { return g_usb_grade.load() == 0; }, 10)) << what;
        EXPECT_EQ(pullAt->load(), -1) << what;
        EXPECT_TRUE(content() == (row.whole ? data : old)) << what;
        EXPECT_EQ(m->usb_grade_failed(), !row.whole) << what;
        // A new image restarts the FPGA: it runs again before the next row.
        ASSERT_TRUE(runUntil([this] { return !fpga[0]->inReset() && m->get_fpga_status(); }, 3000)) << what;
    }
    m->on_app_staged = nullptr;
}

TEST_F(UsbUpgradeTest, AFontCutOffReadsAbsentAndTheNextStickWritesIt) {
    // The three other fonts are there; the 32-dot ASCII font's write is cut
    // off after 20000 bytes by a flash that stays busy (as a power cut).
    for (const char* f : {"cjk32", "ascii64", "cjk64"}) ASSERT_TRUE(chip->preloadFont(f));
    const Bytes font = upkg::fontData(1, 0x20, 0x9000);
    auto bytes = std::make_shared<std::atomic<int>>(0);
    chip->addWriteHook([bytes, c = chip.get()](u8 bank, u8 reg, u8) {
        if (bank == 4 && reg == 0x52 && ++*bytes == 20000) c->setHeld(SimC331::Hold::WriteBusy, true);
    });
    auto present = [this] {
        auto lock = c331->flash_lock(false);
        c331->ops->read_c331_font(c331->c331_fd);
        return model->reg_block.REG[43] & 0x3F;
    };
    stick({0, 0x7652, {upkg::font(font)}});
    run();
    EXPECT_GE(bytes->load(), 20000);
    EXPECT_TRUE(m->usb_grade_failed());
    EXPECT_EQ(present(), 0x02 | 0x14 | 0x28);

    // The next stick writes it whole; then all four are there.
    chip->setHeld(SimC331::Hold::WriteBusy, false);
    run();
    EXPECT_TRUE(chip->flash(0, u32(font.size())) == font);
    EXPECT_EQ(present(), 0x3F);
}

// A flash whose protection covers the font's place takes the erase and the
// writes and keeps its bytes: the entry counts failed, with its line, and a
// font whose body did not take never gets its head.
TEST_F(UsbUpgradeTest, AFontTheFlashDoesNotKeepFailsAndNeverGetsItsHead) {
    const Bytes font = upkg::fontData(1, 0x20, 0x9000);  // 32-dot ASCII, at 0
    const Bytes older = upkg::fontData(1, 0x20, 0x9000, 91);
    Bytes bodyCut(font.size(), 0xFF);  // the first chunk only, without its head
    std::copy(font.begin() + 35, font.begin() + 0x4000, bodyCut.begin() + 35);
    const struct {
        const char* what;
        Bytes before;
        u32 protectFrom, protectLength;
        Bytes after;
        std::vector<std::string> lines;
    } rows[] = {
        {"an older font, all protected", older, 0, SimC331::kFlashSize, older,
         {"USB upgrade: serial flash erase failed; font entry stopped",
          "c331: serial flash does not read back the block erased at 0x000000 (32768 bytes)"}},
        {"blank, the second chunk protected", Bytes(font.size(), 0xFF), 0x4000, 0x4000, bodyCut,
         {"USB upgrade: font write failed at 16384; font entry stopped",
          "c331: serial flash does not read back the bytes written at 0x004000 (16384 bytes)"}},
    };
    stick({0, 0x7652, {upkg::font(font)}});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        clock->advanceMs(5000);  // each row's lines are the first of their second
        model->reg_block.REG[43] = 0;
        chip->setFlashProtected(0, 0);
        chip->setFlash(0, row.before);
        chip->setFlashProtected(row.protectFrom, row.protectLength);
        const std::string logBefore = readHostFile(hostPath(kLogFile));
        run();
        EXPECT_TRUE(m->usb_grade_failed());
        EXPECT_TRUE(chip->flash(0, u32(font.size())) == row.after);
        const std::string log = readHostFile(hostPath(kLogFile));
        for (const std::string& line : row.lines) EXPECT_EQ(countIn(log, line), countIn(logBefore, line) + 1) << line;
    }
    chip->setFlashProtected(0, 0);
}

// ---- entry count and stop

TEST_F(UsbUpgradeTest, APackageOfMoreThan64EntriesIsRefusedWholeAndOneOf64IsApplied) {
    const Bytes image = upkg::pattern(4096, 11);
    const upkg::Entry skipped{0, {}, {}};  // a type no target takes

    // 65 entries, the first an image and a font: nothing reaches a flash.
    upkg::Package over{0, 0x7652, {upkg::fpga(0, upkg::fpgaImage(image)), upkg::font(upkg::fontData(1, 0x20, 100))}};
    over.entries.resize(65, skipped);
    stick(over);
    const u32 chipErases = chip->flashEraseCount();
    run();
    EXPECT_EQ((Vals{touches(0), touches(1), chip->flashEraseCount() - chipErases, resetsOf(0), m->usb_grade_failed()}),
              (Vals{0, 0, 0, 0, 1}));
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("announces 65 entries"), std::string::npos);

    // 64 entries, the last the image: written, verified, the FPGA reset.
    upkg::Package at{0, 0x7652, {}};
    at.entries.resize(63, skipped);
    at.entries.push_back(upkg::fpga(0, upkg::fpgaImage(image)));
    stick(at);
    run();
    EXPECT_TRUE(flash[0]->read(0, 4096) == image);
    EXPECT_EQ((Vals{resetsOf(0), m->usb_grade_failed()}), (Vals{1, 0}));
}

TEST_F(UsbUpgradeTest, AStopEndsTheRunAfterTheEntryInProgressIsWrittenAndReadBack) {
    // The stop arrives with the first page of FPGA 0's image on its way.
    const Bytes image0 = upkg::pattern(40 * 1024, 12);
    stick({0, 0x7652, {upkg::fpga(0, upkg::fpgaImage(image0)), upkg::fpga(1, upkg::fpgaImage(upkg::pattern(4096, 13)))}});
    // The watcher outlives this body (the board's lines move until the
    // manager is gone): it holds its own state and does nothing once fired.
    auto stopped = std::make_shared<bool>(false);
    board().simGpio().watch([stopped, f = flash[0].get(), mgr = m.get()](const std::string&, int) {
        if (*stopped) return;
        for (const auto& c : f->commands())
            if (c.op == 0x02) {
                *stopped = true;
                mgr->stop();
                return;
            }
    });
    ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
    for (int step = 0; step < 3; ++step) m->thread_turn();
    ASSERT_TRUE(*stopped);

    // The entry in progress is whole in the flash and was read back over
    // its 40 KB.
    EXPECT_TRUE(flash[0]->read(0, u32(image0.size())) == image0);
    EXPECT_EQ(readAfterWriting(0, u32(image0.size())), image0.size());
    // The next entry never began; nothing is put to use.
    EXPECT_EQ((Vals{touches(1), resetsOf(0), resetsOf(1)}), (Vals{0, 0, 0}));
}

// ---- folder, controller

TEST_F(UsbUpgradeTest, FolderSettingAndControllerTypeChooseWhatIsApplied) {
    EXPECT_EQ(UsbPackages::folder(" "), "/mnt/usb1/");
    EXPECT_EQ(UsbPackages::folder("../x"), "/mnt/usb1/ZRV-K46");
    EXPECT_EQ(UsbPackages::folder("a/b"), "/mnt/usb1/ZRV-K46");
    EXPECT_EQ(UsbPackages::folder("mine"), "/mnt/usb1/mine");

    // " ": the packages directly on the stick.
    {
        QMutexLocker lock(&settingsLock());
        g_usb_grade_path = " ";
    }
    const Bytes f = upkg::fontData(1, 0x20, 200);
    stick({0, 0x7652, {upkg::font(f)}}, "top.ZRVZK", "");
    run();
    EXPECT_EQ(m->usb_file_list, QStringList{"/mnt/usb1/top.ZRVZK"});
    EXPECT_TRUE(chip->flash(0, u32(f.size())) == f);

    // "../x": the default folder, never the folder beside the stick.
    {
        QMutexLocker lock(&settingsLock());
        g_usb_grade_path = "../x";
    }
    stick({0, 0x7652, {}}, "outside.ZRV", "../x");
    stick({0, 0x7652, {}}, "d.ZRV");
    run();
    EXPECT_EQ(m->usb_file_list, QStringList{"/mnt/usb1/ZRV-K46/d.ZRV"});

    // Another controller: application and images skipped, the font written.
    {
        QMutexLocker lock(&settingsLock());
        g_usb_grade_path = "ZRV-K46";
    }
    QFile::remove(QString::fromStdString(hostPath("/mnt/usb1/ZRV-K46/d.ZRV")));
    const Bytes f2 = upkg::fontData(1, 0x40, 300);
    stick({0, 0x1234,
           {upkg::app(upkg::pattern(100, 1)), upkg::fpga(0, upkg::fpgaImage(upkg::pattern(4096, 2))),
            upkg::fpga(1, upkg::fpgaImage(upkg::pattern(4096, 3))), upkg::font(f2)}});
    run();
    EXPECT_EQ((Vals{touches(0), touches(1), g_app_reset_flag.load()}), (Vals{0, 0, 0}));
    EXPECT_TRUE(chip->flash(0x410000, u32(f2.size())) == f2);
}

// ---- special files on the stick

TEST_F(UsbUpgradeTest, APackageTurnedIntoAFifoAfterTheListingIsSkippedWithoutWaitingForAWriter) {
    const Bytes f = upkg::fontData(1, 0x40, 300);
    stick({0, 0x7652, {upkg::font(upkg::fontData(1, 0x20, 200))}}, "a.ZRV");
    stick({0, 0x7652, {upkg::font(f)}}, "b.ZRVZK");
    // A FIFO is never listed, whatever its name.
    ASSERT_TRUE(fifoAt("/mnt/usb1/ZRV-K46/c.ZRV"));
    ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
    m->thread_turn();
    m->thread_turn();
    ASSERT_EQ(g_send_para.step(), 2);
    QStringList listed = m->usb_file_list;
    listed.sort();
    EXPECT_EQ(listed, (QStringList{"/mnt/usb1/ZRV-K46/a.ZRV", "/mnt/usb1/ZRV-K46/b.ZRVZK"}));

    // Listed as a file, a FIFO by the time it is opened: no writer ever
    // comes, the run goes on with the next package and ends failed.
    ASSERT_TRUE(fifoAt("/mnt/usb1/ZRV-K46/a.ZRV"));
    EXPECT_TRUE(endsWithoutAWriter("/mnt/usb1/ZRV-K46/a.ZRV", [&] { m->thread_turn(); }));
    m->thread_turn();
    EXPECT_EQ(g_usb_grade.load(), 0);
    EXPECT_TRUE(chip->flash(0x410000, u32(f.size())) == f);
    EXPECT_TRUE(m->usb_grade_failed());
    EXPECT_NE(readHostFile(hostPath(kLogFile)).find("a.ZRV cannot be read (a FIFO, not a regular file); skipped"),
              std::string::npos);
}

// ---- steps and request

TEST_F(UsbUpgradeTest, StepsRunInOrderAndTheEndIsReportedLast) {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 5;
    t.tm_mday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    clock->setWallTime(t);
    stick({0, 0x7652, {upkg::font(upkg::fontData(1, 0x20, 50))}});
    ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
    std::vector<int> steps;
    for (int i = 0; i < 3; ++i) {
        m->thread_turn();
        steps.push_back(g_send_para.step());
        steps.push_back(g_update_flag.load());
    }
    EXPECT_EQ(steps, (std::vector<int>{1, 1, 2, 1, 3, 1}));
    EXPECT_TRUE(signals_.empty());
    EXPECT_EQ(m->usb_file_count, 1);
    t.tm_min = 6;
    t.tm_sec = 30;
    clock->setWallTime(t);
    m->thread_turn();
    EXPECT_EQ(m->usb_grade_time(), "9:5:7    9:6:30");
    EXPECT_EQ(signals_, std::vector<int>{104});
    EXPECT_EQ((Vals{g_usb_grade.load(), g_send_para.job_step.load(), g_update_flag.load()}), (Vals{0, 0, 0}));
    // The normal passes run again.
    m->thread_turn();
    EXPECT_EQ(signals_, std::vector<int>{104});
}

TEST_F(UsbUpgradeTest, RequestIsBusyWhileACardJobRunsOrAnUpgradeIsRequested) {
    ASSERT_EQ(post_card_job(3), JobPost::Posted);
    g_send_para.setStep(5);
    EXPECT_EQ(post_usb_upgrade(), JobPost::Busy);
    EXPECT_EQ((Vals{g_send_para.job(), g_send_para.step(), g_usb_grade.load()}), (Vals{3, 5, 0}));
    g_send_para.finish();

    g_send_para.setStep(0xFF);  // the mailbox's start value
    ASSERT_EQ(post_usb_upgrade(), JobPost::Posted);
    EXPECT_EQ((Vals{g_send_para.job_step.load(), g_usb_grade.load()}), (Vals{0, 1}));
    EXPECT_EQ(post_usb_upgrade(), JobPost::Busy);
    EXPECT_EQ(post_card_job(3), JobPost::Busy);
    EXPECT_EQ(g_send_para.job_step.load(), 0);
}

}  // namespace
