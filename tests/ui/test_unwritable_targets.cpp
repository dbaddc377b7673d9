// Every panel save and reset and every protocol write, run with what it
// writes made unwritable (a read-only folder, a folder in the file's place,
// a flash that never ends its erase, a clock command that fails): none may
// read as done. The panel shows the failure tip, the PC gets a non-zero
// status, the log has a line, and what the page or a read-back shows is what
// is stored. A panel button or a protocol command added later must find its
// row here, or a place in the lists of those that write only the parameter
// image (whose tip comes before the persisting step, which logs a failed
// write and tries again), start a card job (whose failure the job reports)
// or write nothing.
#include "advanced_fixture.h"
#include "settings_fixture.h"
#include "protocol/frame_helpers.h"

#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/md5.h"
#include "fpga/fpga_manage.h"
#include "platform/fileops.h"
#include "sim/sim_c331.h"
#include "sim/sim_fpga_flash.h"
#include "ui/service/smartmapping.h"
#include "ui/settings/custommode.h"
#include "ui/settings/edidset.h"
#include "ui/settings/imagelayout.h"
#include "ui/settings/imagequality.h"
#include "ui/settings/inputchoose.h"
#include "ui/settings/inputcut.h"
#include "ui/settings/outputset.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>

#include <algorithm>

#include <functional>
#include <map>
#include <set>

namespace {

using namespace RamOffset;

constexpr u8 Ok = ReplyStatus::Ok, Busy = ReplyStatus::Busy;
constexpr int kPanel = -1;  // a row the panel runs: no status
// The command that gives eth0 its address ("ifconfig eth0 >..." only asks
// whether it is there).
constexpr const char* kSetEth0 = "ifconfig eth0 1";

class UnwritableTargets : public AdvancedTest, protected PcRequests {
protected:
    void SetUp() override {
        AdvancedTest::SetUp();
        c331 = c331_manage::get();
        m_c331State = c331->thread_state.load();
        m_c331Fd = c331->c331_fd;
    }
    void TearDown() override {
        FileOps::setReadOnly(nullptr);
        delete g_custommode.data();
        delete g_edidset.data();
        delete g_inputchoose.data();
        delete g_inputcut.data();
        delete g_outputset.data();
        delete g_imagequality.data();
        delete g_imagelayout.data();
        delete g_smartmapping.data();
        fpga_manage::p_fpga_manage = nullptr;
        fpgaManager.reset();
        c331->thread_state = m_c331State;
        c331->c331_fd = m_c331Fd;
        AdvancedTest::TearDown();
    }

    // Writes, copies, removals and new folders at or under these device
    // paths fail as on a read-only file system.
    void readOnly(std::vector<std::string> places) {
        FileOps::setReadOnly([places](const std::string& path) {
            for (const std::string& p : places)
                if (path == p || path.compare(0, p.size() + 1, p + "/") == 0) return true;
            return false;
        });
    }
    void folderAt(const std::string& devicePath) { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(hostPath(devicePath)))); }
    bool isFile(const std::string& devicePath) { return QFileInfo(QString::fromStdString(hostPath(devicePath))).isFile(); }
    std::string log() { return readHostFile(hostPath(kLogFile)); }

    // The c331 thread takes the change and signals it; the dispatcher
    // refreshes the page in front and persists.
    void applied(int code = 1) {
        c331->apply_flag = 0;
        SyncUpdate::pInstance()->para_sync(code);
        QApplication::processEvents();
    }
    void press(QWidget* page, const char* name) {
        if (auto* b = child<QAbstractButton>(page, name)) b->click();
        QApplication::processEvents();
    }
    QWidget* open(int id, int from) {
        g_page_focus = from;
        PageRegistry::open(id);
        return qobject_cast<QWidget*>(PageRegistry::page(id));
    }
    void saveMode(int m) {
        ASSERT_EQ(model->ZrvRequestUserModeSave(m), 1);
        applied();
        ASSERT_TRUE(isFile(ZrvFiles::customModePath(m - 1)));
    }
    QString ip() { return ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(); }
    // The settings store as a new start builds it, with the globals.
    void restartSettings() {
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
    }

    // A whole file transfer; the status of its end.
    u8 sendFile(u8 type, const std::string& name, const Bytes& content) {
        Bytes d = {type};
        put32(d, u32(content.size()));
        MD5 md5(content.data(), u32(content.size()));
        d.insert(d.end(), md5.digest(), md5.digest() + 16);
        d.insert(d.end(), name.begin(), name.end());
        if (replyStatus(call(PcCmd::FileStart, d)) != Ok) return 0xEE;
        Bytes chunk;
        put32(chunk, 0);
        chunk.insert(chunk.end(), content.begin(), content.end());
        if (replyStatus(call(PcCmd::FileData, chunk)) != Ok) return 0xED;
        return replyStatus(call(PcCmd::FileEnd, {}));
    }
    // A command block in the FPGA's RAM, run by register 2 bit 2 of FPGA 0.
    u8 commandBlock(u8 kind, u8 store, const Bytes& data) {
        Bytes b = {0xAA, kind, store, 0, 0, 0, u8(data.size()), 0};
        b.insert(b.end(), data.begin(), data.end());
        if (ramWrite(PcRam::FpgaCmd, b) != Ok) return 0xEE;
        return regWrite(fpgareg::CONTROL, fpgareg::CONTROL_CMD_BLOCK, fpgareg::CONTROL_CMD_BLOCK, PcReg::TargetFpga0);
    }
    void startFpgaManager() {
        fpgaManager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = fpgaManager.get();
        ASSERT_EQ(fpgaManager->initialize(false), 0);
    }
    void runningC331() {
        c331->c331_fd = c331->drv->initialize();
        c331->thread_state = 6;
    }
    std::shared_ptr<SimC331> chip() { return std::dynamic_pointer_cast<SimC331>(board().spiModel("/dev/spidev32766.0")); }
    std::shared_ptr<SimFpgaFlash> fpgaFlash() {
        return std::dynamic_pointer_cast<SimFpgaFlash>(board().spiModel(fpgareg::kSpiDevices[2]));
    }

    c331_manage* c331 = nullptr;
    std::unique_ptr<fpga_manage> fpgaManager;
    u8 m_c331State = 0;
    int m_c331Fd = -1;
};

struct Row {
    const char* action;      // what the operator or the PC does
    int page;                // the page whose button it is (kPanel rows), or 0
    const char* button;      // that button
    u8 command;              // the protocol command (0 for panel rows)
    std::function<void()> unwritable;  // makes what the action writes unwritable
    std::function<int()> act;          // a panel row returns kPanel, a protocol row its status
    int expected;            // panel: the tip kind; protocol: the status
    const char* logged;      // a line the log must get
    std::function<void()> stored;      // what is shown is what is stored
};

TEST_F(UnwritableTargets, NoSaveResetOrWriteReadsAsDoneWhenItsTargetDidNotTakeIt) {
    const std::string ini = ConfigEngine::kIniFile;
    QPointer<QWidget> page;
    u16 contrastBefore = 0;
    QString ipBefore;
    u8 scheduleMark = 0;
    // "Reset ALL" from the advanced page, and what is seen when it was not
    // done: nothing of the reset, and no button reads as done.
    const auto resetAll = [&] {
        page = open(PageRegistry::Advanced, PageRegistry::Settings);
        press(page, "Button_factory");
        press(page, "Button_reset");
        press(page, "Button_reset3");
        return kPanel;
    };
    // The communication page's Apply with the mask's third number changed.
    const auto applyMask = [&](const char* third) {
        return [&, third] {
            page = open(PageRegistry::Communication, PageRegistry::Settings);
            NumberKeyboard::setNextAnswer(third);
            QTest::mouseClick(child<QLineEdit>(page, "lineEditMask3"), Qt::LeftButton);
            press(page, "Button_net_apply");
            return kPanel;
        };
    };
    const auto resetNotDone = [&] {
        EXPECT_EQ((Vals{model->live_image.word(CONTRAST), c331->apply_flag.load()}), (Vals{77, 0}));
        EXPECT_FALSE(child<QPushButton>(page, "Button_reset3")->styleSheet().contains("#4777FF"));
    };
    const Row rows[] = {
        // ---- the panel
        {"communication page: apply a new mask", PageRegistry::Communication, "Button_net_apply", 0,
         [&] { readOnly({ini}); },
         applyMask("0"),
         TIP::Failed, "network settings not applied",
         [&] {
             EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::SubNetMask).toString(), "255.255.255.0");
             EXPECT_TRUE(board().simShell().commands().empty());  // eth0 left as it is
         }},
        {"advanced page: reset all, from another address", PageRegistry::Advanced, "Button_reset3", 0,
         [&] {
             ASSERT_TRUE(ConfigEngine::p_config->write_network("10.1.2.3", "255.255.0.0", "10.1.0.1"));
             Utils::getIPAddress();
             model->live_image.setWord(CONTRAST, 77);
             readOnly({ini});
             board().simShell().clear();
         },
         resetAll,
         TIP::Failed, "factory reset: the network settings were not reset",
         [&] {
             EXPECT_EQ(ip(), "10.1.2.3");
             EXPECT_TRUE(board().simShell().commands().empty());
             resetNotDone();
         }},
        // Stored, not taken: the tip says so, not that the save failed.
        {"communication page: apply a new mask, eth0 does not take it", PageRegistry::Communication,
         "Button_net_apply", 0, [&] { board().simShell().setResult(kSetEth0, 1); },
         applyMask("128"),
         TIP::Failed, "network settings not applied: eth0 did not take them",
         [&] {
             EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::SubNetMask).toString(), "255.255.128.0");
             EXPECT_EQ(g_tip->text(), "The network settings are stored, but eth0 did not take the address!");
         }},
        {"communication page: apply a new mask, no eth0", PageRegistry::Communication, "Button_net_apply", 0,
         [&] { board().simShell().setResult("ifconfig eth0", 1); },
         applyMask("64"),
         TIP::Failed, "network set-up: no eth0 interface (ifconfig eth0 ended with status 1), address not set",
         [&] {
             EXPECT_EQ(board().simShell().commands(), std::vector<std::string>{"ifconfig eth0 >/dev/null 2>&1"});
             EXPECT_EQ(g_tip->text(), "The network settings are stored, but eth0 did not take the address!");
             board().simShell().setResult("ifconfig eth0", 0);
         }},
        {"advanced page: reset all, eth0 does not take the factory address", PageRegistry::Advanced, "Button_reset3",
         0,
         [&] {
             ASSERT_TRUE(ConfigEngine::p_config->write_network("10.1.2.3", "255.255.0.0", "10.1.0.1"));
             model->live_image.setWord(CONTRAST, 77);
             board().simShell().setResult(kSetEth0, 1);
         },
         resetAll,
         TIP::Failed, "factory reset: the network settings were not reset, eth0 did not take the factory address",
         resetNotDone},
        // The start could not read the settings file: memory holds the
        // factory address, the file may hold another.
        {"advanced page: reset all, the settings file unreadable since the start", PageRegistry::Advanced,
         "Button_reset3", 0,
         [&] {
             ASSERT_TRUE(oddAt(Odd::Socket, hostPath(ini)));
             restartSettings();
             model->live_image.setWord(CONTRAST, 77);
         },
         resetAll,
         TIP::Failed, "factory reset: the network settings were not reset, the settings file did not take them",
         [&] {
             EXPECT_EQ(whatIsAt(hostPath(ini)), "a socket");
             EXPECT_TRUE(board().simShell().commands().empty());
             resetNotDone();
             ::unlink(hostPath(ini).c_str());
             restartSettings();
         }},
        {"user-mode page: save mode 3 over a folder in its file's place", PageRegistry::UserModes, "Button_save", 0,
         [&] { folderAt(ZrvFiles::customModePath(2)); },
         [&] {
             page = open(PageRegistry::UserModes, PageRegistry::MainMenu);
             press(page, "Button_mode3");
             press(page, "Button_save");
             applied();
             return kPanel;
         },
         TIP::Failed, "user mode 3 file cannot be written",
         [&] {
             EXPECT_EQ(modeMarks(page, 3), "");
             EXPECT_EQ((Vals{model->ZrvUserModeSaved(2), model->live_image.word(LOADED_MODE)}), (Vals{0, 0}));
         }},
        {"user-mode page: delete mode 7 from a read-only folder", PageRegistry::UserModes, "Button_delete", 0,
         [&] {
             saveMode(7);
             readOnly({ZrvFiles::MODES_DIR});
         },
         [&] {
             page = open(PageRegistry::UserModes, PageRegistry::MainMenu);
             press(page, "Button_mode7");
             press(page, "Button_delete");
             applied();
             return kPanel;
         },
         TIP::Failed, "user mode 7 file cannot be removed",
         [&] {
             EXPECT_TRUE(isFile(ZrvFiles::customModePath(6)));
             EXPECT_EQ(modeMarks(page, 7), "saved current");
         }},
        // The one kind of panel action whose tip comes before what it writes
        // is written: the image file, by the persisting step after the tip.
        // Kept so; the failure is logged there and written again at the next
        // change.
        {"advanced page: reset keeping the address, image file read-only", PageRegistry::Advanced, "Button_reset1", 0,
         [&] {
             model->live_image.setWord(CONTRAST, 77);
             model->shadow_image.setWord(CONTRAST, 77);
             contrastBefore = 77;
             readOnly({ZrvFiles::RAM_DEVICE_INFO});
         },
         [&] {
             page = open(PageRegistry::Advanced, PageRegistry::Settings);
             press(page, "Button_factory");
             press(page, "Button_reset");
             press(page, "Button_reset1");
             applied();
             return kPanel;
         },
         TIP::Confirm, "parameter image file cannot be written",
         [&] { EXPECT_EQ(model->shadow_image.word(CONTRAST), contrastBefore); }},

        // ---- the PC
        {"PC: scan file into a read-only folder", 0, nullptr, PcCmd::FileEnd, [&] { readOnly({PcFile::ScanDir}); },
         [&] { return int(sendFile(PcFile::ScanFile, "QDFR_hall.qdfile", Bytes(300, 7))); }, Busy,
         "storing /data/smartmapping/QDFR_hall.qdfile failed",
         [&] { EXPECT_FALSE(FileOps::exists("/data/smartmapping/QDFR_hall.qdfile")); }},
        {"PC: recovery file into a read-only folder", 0, nullptr, PcCmd::FileEnd,
         [&] { readOnly({PcFile::RecoveryDir}); },
         [&] { return int(sendFile(PcFile::RecoveryFile, "QDFX", Bytes(64, 3))); }, Busy,
         "storing /data/rcvrecovery/QDFX failed", [&] { EXPECT_FALSE(FileOps::exists(PcFile::RecoveryPath)); }},
        {"PC: OSD menu over a folder in its place", 0, nullptr, PcCmd::FileEnd, [&] { folderAt(PcFile::OsdMenuPath); },
         [&] {
             const std::string menu = R"({"name":"m","osdcount":0,"oactcount":0})";
             return int(sendFile(PcFile::OsdMenu, "omenu.json", Bytes(menu.begin(), menu.end())));
         },
         Busy, "storing /data/configs/omenu.json failed", [&] { EXPECT_FALSE(isFile(PcFile::OsdMenuPath)); }},
        {"PC: alias file over a folder in its place", 0, nullptr, PcCmd::FileEnd, [&] { folderAt(PcFile::AliasPath); },
         [&] {
             const std::string alias = R"({"namelist":{"source":[{"id":0,"valid":"on","name":"stage"}]}})";
             return int(sendFile(PcFile::AliasFile, "alias.json", Bytes(alias.begin(), alias.end())));
         },
         Busy, "storing /data/configs/alias.json failed", [&] { EXPECT_FALSE(isFile(PcFile::AliasPath)); }},
        {"PC: kernel image to a flash that cannot be opened", 0, nullptr, PcCmd::FileEnd,
         [&] { folderAt(PcFile::KernelMtd); },
         [&] { return int(sendFile(PcFile::KernelImage, "uImage", Bytes(500, 9))); }, Busy,
         "flash /dev/mtd10 not available", [] {}},
        {"PC: delete the scan and recovery files of a read-only folder", 0, nullptr, PcCmd::DeleteCardFiles,
         [&] {
             writeHostFile(hostPath("/data/smartmapping/QDFR_keep.qdfile"), "x");
             writeHostFile(hostPath(PcFile::RecoveryPath), "x");
             readOnly({PcFile::ScanDir});
         },
         [&] { return int(replyStatus(call(PcCmd::DeleteCardFiles, {}))); }, Busy,
         "deleting scan and recovery files: 1 could not be removed, /data/smartmapping/QDFR_keep.qdfile",
         [&] {
             EXPECT_TRUE(FileOps::exists("/data/smartmapping/QDFR_keep.qdfile"));
             EXPECT_FALSE(FileOps::exists(PcFile::RecoveryPath));  // what could go went
         }},
        {"PC: network set-up with the settings file read-only", 0, nullptr, PcCmd::NetworkSetup,
         [&] {
             ipBefore = ip();
             readOnly({ini});
         },
         [&] { return int(replyStatus(call(PcCmd::NetworkSetup, {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1}))); }, Busy,
         "network settings not stored: /data/configs/tcpip.ini cannot be written",
         [&] {
             EXPECT_EQ(ip(), ipBefore);
             EXPECT_TRUE(board().simShell().commands().empty());
         }},
        {"PC: network set-up, eth0 does not take it", 0, nullptr, PcCmd::NetworkSetup,
         [&] { board().simShell().setResult(kSetEth0, 1); },
         [&] { return int(replyStatus(call(PcCmd::NetworkSetup, {10, 0, 0, 7, 255, 255, 0, 0, 10, 0, 0, 1}))); }, Busy,
         "network set-up: eth0 did not take 10.0.0.7 netmask 255.255.0.0 (ifconfig ended with status 1)", [] {}},
        {"PC: set the clock, date fails", 0, nullptr, PcCmd::SetClock, [&] { board().simShell().setResult("date", 1); },
         [&] { return int(replyStatus(call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20}))); }, Busy,
         "clock not set to 2024-05-01 12:30:45: date ended with status 1",
         [&] {
             // The hardware clock is not set from a system clock that was not.
             const auto cmds = board().simShell().commands();
             EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "hwclock -w"), 0);
         }},
        {"PC: set the clock, the hardware clock does not take it", 0, nullptr, PcCmd::SetClock,
         [&] { board().simShell().setResult("hwclock", 1); },
         [&] { return int(replyStatus(call(PcCmd::SetClock, {0x45, 0x30, 0x12, 0x01, 0x05, 0x24, 0x20}))); }, Busy,
         "clock not kept over a power cut at 2024-05-01 12:30:45: hwclock ended with status 1", [] {}},
        {"PC: erase the serial flash, its erase never ends", 0, nullptr, PcCmd::FlashErase,
         [&] {
             runningC331();
             chip()->setHeld(SimC331::Hold::EraseBusy, true);
         },
         [&] { return int(replyStatus(call(PcCmd::FlashErase, {16, 0, 0, 1, 0}))); }, Busy,
         "c331: serial flash block erase not finished",
         [&] { chip()->setHeld(SimC331::Hold::EraseBusy, false); }},
        {"PC: write the serial flash, its write never ends", 0, nullptr, PcCmd::FlashWrite,
         [&] {
             runningC331();
             chip()->setHeld(SimC331::Hold::FifoNotEmpty, true);
         },
         [&] {
             Bytes d;
             put32(d, 0x10000);
             put32(d, 3);
             d.insert(d.end(), {1, 2, 3});
             return int(replyStatus(call(PcCmd::FlashWrite, d)));
         },
         Busy, "WEMPTY Timeout", [&] { chip()->setHeld(SimC331::Hold::FifoNotEmpty, false); }},
        {"PC: command block storing the on/off schedule, its flash never ends an erase", 0, nullptr, PcCmd::RegWrite,
         [&] {
             startFpgaManager();
             scheduleMark = fpga_manage::MCU_REG_func[0][fpgareg::ONOFF_ACTIVE];
             fpgaFlash()->setBusyPolls(-1);
         },
         [&] { return int(commandBlock(2, 0xAA, {1, 0x08, 0x30, 0x20, 0x00})); }, Busy,
         "fpga: on/off schedule record not stored",
         [&] {
             // Not marked as a stored schedule.
             EXPECT_EQ(fpga_manage::MCU_REG_func[0][fpgareg::ONOFF_ACTIVE], scheduleMark);
             fpgaFlash()->setBusyPolls(0);
         }},
        // Neither marks the run-time record; a date that failed is not
        // written to the hardware clock.
        {"PC: command block setting the clock, date fails", 0, nullptr, PcCmd::RegWrite,
         [&] {
             startFpgaManager();
             board().simShell().setResult("date", 1);
             g_clock_record.marker = 0xFF;
         },
         [&] { return int(commandBlock(1, 0, {0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05})); }, Busy,
         "command block: clock setting failed at 2030-1-2 3:4:5, date ended with status 1",
         [&] {
             EXPECT_EQ(board().simShell().commands(), std::vector<std::string>{"date \"2030-1-2 3:4:5\""});
             EXPECT_EQ(g_clock_record.marker, 0xFF);
         }},
        {"PC: command block setting the clock, the hardware clock does not take it", 0, nullptr, PcCmd::RegWrite,
         [&] {
             board().simShell().setResult("hwclock", 1);
             g_clock_record.marker = 0xFF;
         },
         [&] { return int(commandBlock(1, 0, {0x30, 0x20, 0x01, 0x02, 0x03, 0x04, 0x05})); }, Busy,
         "command block: clock setting failed at 2030-1-2 3:4:5, hwclock ended with status 1",
         [&] { EXPECT_EQ(g_clock_record.marker, 0xFF); }},
        // Parameter-RAM writes store into memory, which is what their status
        // says; the files are the persisting step's, which logs what it
        // could not write, and what is read back is what is stored.
        {"PC: user mode 5 written and applied, its file read-only", 0, nullptr, PcCmd::RamWrite,
         [&] { readOnly({ZrvFiles::customModePath(4)}); },
         [&] {
             const u8 wrote = ramWrite(0x5000, {0xAA, 0xAA, 1, 2, 3});
             const u8 applyIt = regWrite(PcReg::McuFlag, 0x04, 0x04);
             applied(2);
             return int(wrote | applyIt);
         },
         Ok, "user mode 5 file cannot be written",
         [&] {
             EXPECT_EQ(ramRead(0x5000, 2), (Bytes{0xFF, 0xFF}));
             EXPECT_FALSE(model->ZrvUserModeSaved(4));
         }},
        {"PC: parameter image written, its file read-only", 0, nullptr, PcCmd::RamWrite,
         [&] {
             contrastBefore = model->shadow_image.word(CONTRAST);
             readOnly({ZrvFiles::RAM_DEVICE_INFO});
         },
         [&] {
             const u8 st = ramWrite(CONTRAST, {33, 0});
             applied();
             return int(st);
         },
         Ok, "parameter image file cannot be written",
         // The shadow keeps what the file holds: the next change writes it again.
         [&] { EXPECT_EQ(model->shadow_image.word(CONTRAST), contrastBefore); }},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.action);
        // Limited lines print the first of each second: a second between rows.
        clock->advanceMs(2000);
        board().simShell().setResult("date", 0);
        board().simShell().setResult("hwclock", 0);
        board().simShell().setResult(kSetEth0, 0);
        FileOps::setReadOnly(nullptr);
        c331->apply_flag = 0;
        g_tip->tip_create(TIP::RemoveOnly);
        row.unwritable();
        board().simShell().clear();
        const size_t logged = log().size();
        const int got = row.act();
        if (row.page) {
            EXPECT_EQ(got, kPanel);
            EXPECT_EQ(g_tip->kind(), row.expected);
            EXPECT_TRUE(g_tip->isVisible());
        } else {
            EXPECT_EQ(got, row.expected);
        }
        EXPECT_NE(log().find(row.logged, logged), std::string::npos) << log().substr(logged);
        row.stored();
        FileOps::setReadOnly(nullptr);
        if (page && row.page) PageRegistry::back(row.page);
        QApplication::processEvents();
    }

    // ---- every protocol command that answers is a write above, a step of
    // the file transfer or a read.
    std::set<u8> covered = {PcCmd::FileStart, PcCmd::FileData,                       // steps of FileEnd
                            PcCmd::RamRead, PcCmd::RegRead, PcCmd::FlashRead,       // reads
                            PcCmd::DeviceInfo, PcCmd::TimeReport};
    for (const Row& row : rows)
        if (!row.page) covered.insert(row.command);
    for (int cmd = 0; cmd < 256; ++cmd) {
        if (replyStatus(call(u8(cmd), {})) == ReplyStatus::Unsupported) continue;
        EXPECT_TRUE(covered.count(u8(cmd))) << "command " << std::hex << cmd << " has no row";
    }

    // ---- every panel button that saves, applies, resets, deletes or starts
    // a job is a row above or has its place here.
    std::map<int, QStringList> placed = {
        // The parameter image only: the tip (if any) before the persisting
        // step; the EDID page's Save also has the EEPROM written, whose
        // result the source thread logs and does not look at.
        {PageRegistry::Output, {"Button_apply1", "Button_apply2"}},
        {PageRegistry::Crop, {"Button_ok", "Button_delete"}},
        {PageRegistry::Edid, {"Button_ok", "Button_delete"}},
        {PageRegistry::ImageQuality, {"Button_reset"}},
        // Reset 2 as reset 1; "Button_reset" is the tab of the three; card
        // jobs whose failures the job notifier reports with the failure tip.
        {PageRegistry::Advanced, {"Button_reset2", "Button_reset", "Button_check", "Button_self_recovery", "Button_rcv_recovery"}},
        {PageRegistry::Wizard, {"Button_send", "Button_load", "Button_loadscan", "Button_confirm", "Button_paraweld"}},
        // The USB upgrade reports its failures at its end.
        {PageRegistry::Communication, {"Button_ok"}},
    };
    for (const Row& row : rows)
        if (row.page) placed[row.page] << QString::fromLatin1(row.button);
    const QRegularExpression writes(QStringLiteral("save|apply|reset|delete|_ok$|confirm|send|load|weld|recover|check"),
                                    QRegularExpression::CaseInsensitiveOption);
    const std::pair<int, int> pages[] = {
        {PageRegistry::SourceSelect, PageRegistry::MainMenu}, {PageRegistry::UserModes, PageRegistry::MainMenu},
        {PageRegistry::Output, PageRegistry::Settings},       {PageRegistry::Crop, PageRegistry::Settings},
        {PageRegistry::Edid, PageRegistry::SourceSelect},     {PageRegistry::ImageLayout, PageRegistry::MainMenu},
        {PageRegistry::Communication, PageRegistry::Settings}, {PageRegistry::ImageQuality, PageRegistry::MainMenu},
        {PageRegistry::Advanced, PageRegistry::Settings},     {PageRegistry::TestPattern, PageRegistry::Settings},
        {PageRegistry::Wizard, PageRegistry::Settings}};
    for (const auto& [id, from] : pages) {
        QWidget* p = open(id, from);
        ASSERT_TRUE(p) << id;
        for (QAbstractButton* b : p->findChildren<QAbstractButton*>()) {
            if (!b->objectName().contains(writes)) continue;
            EXPECT_TRUE(placed[id].contains(b->objectName())) << "page " << id << ": " << b->objectName().toStdString();
        }
        PageRegistry::back(id);
    }
}

}  // namespace
