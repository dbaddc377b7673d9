// Starts the program itself against the simulated board in a temporary
// root and checks what start-up leaves there; and what becomes of each kind
// of file the start checks when it refuses one.
#include "core/JsonParse.h"
#include "core/app_shutdown.h"
#include "core/config_engine.h"
#include "core/file_checks.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/zrvrampara.h"
#include "fpga/rcv_recovery_file.h"
#include "platform/fileops.h"
#include "platform/instance_lock.h"
#include "protocol/message_deal.h"
#include "support/test_env.h"
#include "video_engine/c331_manage.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>


namespace {

bool waitFor(const std::function<bool()>& cond, int ms) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(50);
    }
    return true;
}

// Starts the program on the simulated board under `root`; with its
// standard output and error closed, as a launcher may start it, when
// `consoleClosed`; `delay` as ZRV_START_DELAY_MS.
void startProgram(QProcess& app, const QString& root, bool consoleClosed = false, const QString& delay = "0") {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZRV_BOARD", "sim");
    env.insert("ZRV_ROOT", root);
    env.insert("ZRV_START_DELAY_MS", delay);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LSAN_OPTIONS", "suppressions=" ZRV_LSAN_SUPP);
    env.remove("ZRV_BOARD_CONFIG");
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    if (consoleClosed)
        app.start(QStringLiteral("/bin/sh"), {"-c", "exec \"$0\" >&- 2>&-", QStringLiteral(ZRV_APP_PATH)});
    else
        app.start(QStringLiteral(ZRV_APP_PATH), QStringList());
}

// The parameter image of a first start is written whole once start-up has
// passed the settings: by then a left staged application has been dealt with.
bool waitForImage(const QString& root) {
    return waitFor([&] { return QFileInfo(root + "/data/ram_device_info").size() == 4096; }, 20000);
}

}  // namespace

TEST(StartUp, CreatesSettingsAndLogUnderItsRootAndRunsNothingOnTheHost) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const ProgramNetwork net;  // outlives the program below
    QProcess app;
    startProgram(app, root.path());
    ASSERT_TRUE(app.waitForStarted(10000));

    const QString ini = root.path() + "/data/configs/tcpip.ini";
    const QString log = root.path() + "/data/vimraqd/log/mwrEnglneLog";
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(ini); }, 20000));
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(log); }, 20000));
    // The parameter image of a first start: markers, then the defaults.
    ASSERT_TRUE(waitForImage(root.path()));
    const std::string image = readHostFile((root.path() + "/data/ram_device_info").toStdString());
    EXPECT_EQ(image.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(app.state(), QProcess::Running);
    // No staged application was there: nothing is said about one.
    EXPECT_EQ(readHostFile(log.toStdString()).find("zrvK57N2"), std::string::npos);

    // Whatever start-up runs through the shell is recorded under the root,
    // nowhere else.
    const QString cmds = root.path() + "/var/log/sim_shell_commands.log";
    if (QFileInfo::exists(cmds)) {
        const std::string text = readHostFile(cmds.toStdString());
        EXPECT_EQ(text.find("reboot"), std::string::npos) << text;
    }

    app.kill();
    app.waitForFinished(5000);
}

// A start wait given as no count of milliseconds within its range (a
// negative one, one with a unit, one past 10 minutes) is said in the log,
// and the 3 s wait serves: the program starts, neither at once nor after
// the 49 days that "-1" read as an unsigned number would make.
TEST(StartUp, AStartWaitOutsideItsRangeIsSaidAndTheDefaultServes) {
    for (const QString delay : {"-1", "2s", "600001"}) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const ProgramNetwork net;
        QProcess app;
        QElapsedTimer started;
        started.start();
        startProgram(app, root.path(), false, delay);
        ASSERT_TRUE(app.waitForStarted(10000));
        EXPECT_TRUE(waitForImage(root.path())) << delay.toStdString();
        EXPECT_GE(started.elapsed(), 3000) << delay.toStdString();
        const std::string log = readHostFile(root.path().toStdString() + "/data/vimraqd/log/mwrEnglneLog");
        EXPECT_NE(log.find("ZRV_START_DELAY_MS \"" + delay.toStdString() +
                           "\" is not a wait of 0 to 600000 ms; the 3 s wait serves"),
                  std::string::npos)
            << log;
        app.kill();
        app.waitForFinished(5000);
    }
}

// A start with its console closed (a launcher that closed standard output
// and error) prints into no file: the console's numbers would otherwise go
// to the first files the start opens, the instance lock first.
TEST(StartUp, AConsoleClosedBeforeTheStartPrintsIntoNoFile) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const ProgramNetwork net;
    QProcess app;
    startProgram(app, root.path(), true);
    ASSERT_TRUE(app.waitForStarted(10000));
    const QString log = root.path() + "/data/vimraqd/log/mwrEnglneLog";
    // The video processor's start has printed its lines by then.
    EXPECT_TRUE(waitFor([&] { return readHostFile(log.toStdString()).find("FPGA 1 running") != std::string::npos; },
                        45000));
    EXPECT_EQ(app.state(), QProcess::Running);
    EXPECT_EQ(QFileInfo(root.path() + "/data/app/zrvK57N.lock").size(), 0);
    app.kill();
    app.waitForFinished(5000);
}

// An upgrade killed between staging and installing leaves its 5 MiB
// application behind, and a write killed before its rename leaves its
// temporary beside its file; the next start removes them, each with a log
// line, before anything lists the folders.
TEST(StartUp, RemovesWhatAKilledUpgradeOrWriteLeftAndLogsIt) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    auto put = [&](const QString& devicePath, int size) {
        const QString path = root.path() + devicePath;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, '\x5A')) == size;
    };
    const QString staged = "/data/app/zrvK57N2";
    ASSERT_TRUE(put(staged, 4096));
    const QStringList left = {"/data/ram_device_info.new4242-0",  "/data/modes/custom_mode3.new4242-1",
                              "/data/smartmapping/QDFR7.new4242-2", "/data/rcvrecovery/QDFX.new77-0",
                              "/data/configs/alias.json.new9-12",   "/data/configs/tcpip.ini.new9-13.Ab3dEf",
                              "/data/configs/tcpip.ini.new9-14.lock", "/data/app/zrvK57N.new5-0",
                              "/data/vimraqd/log/x.new1-1"};
    // Whole files, some named near the pattern, stay: a scan file and a
    // recovery file an older build named so, a package copied in, and a
    // lock's name outside the settings folder.
    const QStringList kept = {"/data/smartmapping/QDFR7",
                              "/data/smartmapping/QDFR8.new",
                              "/data/modes/x.new1-",
                              "/data/configs/notes.new",
                              "/data/smartmapping/QDFR_hall.new2024-10.qdfile",
                              "/data/rcvrecovery/QDFX.new2025-3.bak",
                              "/data/app/K57.new2024-10.ZRV",
                              "/data/smartmapping/QDFR1.new7-1.lock"};
    for (const QString& f : left + kept) ASSERT_TRUE(put(f, f.endsWith("QDFR7.new4242-2") ? 2097152 : 64)) << qPrintable(f);
    const ProgramNetwork net;
    QProcess app;
    startProgram(app, root.path());
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForImage(root.path()));
    const std::string log = readHostFile((root.path() + "/data/vimraqd/log/mwrEnglneLog").toStdString());
    EXPECT_FALSE(QFileInfo::exists(root.path() + staged));
    EXPECT_NE(log.find("/data/app/zrvK57N2 left by an upgrade that did not end, never installed; removed"),
              std::string::npos)
        << log;
    for (const QString& f : left) {
        EXPECT_FALSE(QFileInfo::exists(root.path() + f)) << qPrintable(f);
        EXPECT_NE(log.find(f.toStdString() + " left unfinished by a write that was cut off; removed"),
                  std::string::npos)
            << qPrintable(f);
    }
    for (const QString& f : kept) EXPECT_TRUE(QFileInfo::exists(root.path() + f)) << qPrintable(f);
    app.kill();
    app.waitForFinished(5000);
}

// Every kind of file the program checks on disk, refused twice: each time
// it is kept aside whole as "<place>.refused" (one copy, the newest) with a
// log line naming it, never removed; no list shows it, no upload may take
// its name, and the start-up clean-up leaves it. A kind added to the checks
// without a row here fails the first assertion.
class RefusedFiles : public SimEnv {
protected:
    struct Row {
        FileCheck::Checked kind;
        std::string place;
        std::string first, second;  // two refused files, one after the other
        std::function<void()> read;  // what reads the place
    };
    static std::vector<Row> rows();
};

std::vector<RefusedFiles::Row> RefusedFiles::rows() {
    using FileCheck::Checked;
    const auto loadModel = [] {
        ZrvRamPara m;
        m.load();
    };
    return {
        {Checked::Settings, "/data/configs/tcpip.ini", "[config]\nTcpPort=6000\n\x07\n", std::string(70000, 's'),
         [] {
             delete ConfigEngine::p_config;
             ConfigEngine::p_config = nullptr;
             ConfigEngine::pInstance();
         }},
        {Checked::ParameterImage, "/data/ram_device_info", std::string(4096, '\x55'),
         "\xAA\xAA" + std::string(300, '\x01'), loadModel},
        {Checked::UserMode, "/data/modes/custom_mode7", std::string(100, 'm'), std::string(5000, '\xAA'), loadModel},
        {Checked::AliasNames, kAliasFile, "{\"namelist\": ", "{\"other\": 1}",
         [] {
             ALIAS_PARA a;
             get_json_alias_para(&a, "source", 0);
         }},
        {Checked::OsdMenu, ZrvFiles::OMENU, "{\"osdcount\": ", std::string(2 << 20, ' '),
         [] {
             OSD_MENU_LIST list;
             c331_manage::get()->ops->get_json_omenu_para(ZrvFiles::OMENU, list);
         }},
    };
}

TEST_F(RefusedFiles, EveryKindTheStartChecksIsKeptAsideNeverRemoved) {
    using FileCheck::Checked;
    std::set<Checked> covered;
    for (const auto& row : rows()) covered.insert(row.kind);
    ASSERT_EQ(covered.size(), size_t(Checked::Count)) << "a kind of checked file without a row";

    for (const auto& row : rows()) {
        SCOPED_TRACE(row.place);
        // The rows' lines come from one place of the log's, faster than its
        // limit lets through: each row starts afresh.
        LineLimiter::writeHeldCounts();
        const std::string kept = row.place + ".refused";
        for (const std::string* bytes : {&row.first, &row.second}) {
            writeHostFile(hostPath(row.place), *bytes);
            row.read();
            EXPECT_TRUE(readHostFile(hostPath(kept)) == *bytes) << "kept aside whole, the newest";
            EXPECT_FALSE(readHostFile(hostPath(row.place)) == *bytes) << "still taken from its place";
        }
        const size_t slash = row.place.rfind('/');
        const QString folder = QString::fromStdString(row.place.substr(0, slash));
        const std::string name = row.place.substr(slash + 1);
        // One copy: the folder holds the place (or not) and the kept file.
        QStringList copies = QDir(QString::fromStdString(hostPath(folder.toStdString())))
                                 .entryList({QString::fromStdString(name) + "*"}, QDir::Files | QDir::Hidden);
        copies.removeAll(QString::fromStdString(name));
        EXPECT_EQ(copies, QStringList{QString::fromStdString(name + ".refused")});
        EXPECT_NE(readHostFile(hostPath(kLogFile))
                      .find(std::string(FileCheck::checkedName(row.kind)) + " " + row.place + " refused: "),
                  std::string::npos);
        EXPECT_NE(readHostFile(hostPath(kLogFile)).find("; kept as " + kept + ";"), std::string::npos);
        EXPECT_FALSE(FileCheck::listable(folder, QString::fromStdString(name + ".refused")));
        EXPECT_FALSE(FileCheck::storedNameOk(name + ".refused"));
        FileCheck::removeLeftTemporaries();
        EXPECT_TRUE(FileOps::exists(kept)) << "removed by the start-up clean-up";
    }
    // A scan file's upload may not take a kept-aside name either.
    EXPECT_EQ(message_deal::filePathFor(PcFile::ScanFile, "QDFR1.refused"), "");
    EXPECT_EQ(message_deal::filePathFor(PcFile::ScanFile, "QDFR1"), "/data/smartmapping/QDFR1");
}

// A start that finds the image and ten user modes damaged names all
// eleven: what it finds is bounded by the files there are, and no peer can
// make it come again.
TEST_F(RefusedFiles, AStartNamesEveryFileItRefuses) {
    LineLimiter::writeHeldCounts();
    FileOps::removePath(kLogFile);
    std::vector<std::string> places = {"/data/ram_device_info"};
    writeHostFile(hostPath(places[0]), std::string(4096, '\x55'));
    for (int mode = 3; mode <= 12; ++mode) {
        places.push_back("/data/modes/custom_mode" + std::to_string(mode));
        writeHostFile(hostPath(places.back()), std::string(100, 'm'));
    }
    ZrvRamPara model;
    model.load();
    const std::string log = readHostFile(hostPath(kLogFile));
    for (const std::string& place : places)
        EXPECT_NE(log.find(place + " refused: "), std::string::npos) << place << " not named:\n" << log;
    EXPECT_EQ(log.find("suppressed"), std::string::npos) << log;
}

// A folder, a FIFO and a socket in the place of every file the program
// reads (each checked kind, a card file of the device's and of a stick):
// the reader ends without a writer coming to the FIFO, whatever stood there
// is kept (a checked kind's folder and FIFO aside, the socket, which cannot
// be opened, where it was) and the log names the place and what was found.
// A reader that opens its file another way than the one opener waits on
// the FIFO for good.
TEST_F(RefusedFiles, WhatIsNoRegularFileNeverHoldsItsReaderAndIsKept) {
    std::vector<Row> all = rows();
    for (const char* card : {"/data/rcvrecovery/QDFX", "/data/smartmapping/QDFR1", "/mnt/usb1/QDFR2.qdfile"})
        all.push_back({FileCheck::Checked::Count, card, "", "", [card] {
                           rcvRecovery r;
                           EXPECT_EQ(r.get_rcvPackedFileNum(QString::fromLatin1(card)), 1);
                       }});
    const struct {
        Odd odd;
        std::string found;  // what is logged
    } odds[] = {{Odd::Folder, "a folder, not a regular file"},
                {Odd::Fifo, "a FIFO, not a regular file"},
                {Odd::Socket, "the open failed: No such device or address"},
                // To a card package: a card file is taken only as itself.
                {Odd::Link, "a link, not a regular file"}};
    // Each also where nothing can be moved: then everything stays in place.
    for (const bool fixed : {false, true})
    for (const Row& row : all) {
        for (const auto& odd : odds) {
            const bool card = row.kind == FileCheck::Checked::Count;
            if (odd.odd == Odd::Link && !card) continue;  // the device's own files may be links
            SCOPED_TRACE(row.place + " " + odd.found + (fixed ? ", nothing can be moved" : ""));
            // Every row's line comes from a few places of the log's, faster
            // than their limit lets through: each row starts afresh.
            LineLimiter::writeHeldCounts();
            ASSERT_TRUE(oddAt(odd.odd, hostPath(row.place)));
            const std::string what = whatIsAt(hostPath(row.place));
            FileOps::setReadOnly([fixed](const std::string&) { return fixed; });
            EXPECT_TRUE(endsWithoutAWriter(row.place, row.read));
            FileOps::setReadOnly(nullptr);
            const bool refused = !card && odd.odd != Odd::Socket;
            EXPECT_EQ(whatIsAt(hostPath(refused && !fixed ? row.place + ".refused" : row.place)), what);
            const std::string log = readHostFile(hostPath(kLogFile));
            EXPECT_NE(log.find(row.place + (card ? ": cannot be opened (" : refused ? " refused: " : " cannot be read (") +
                               odd.found),
                      std::string::npos)
                << log;
            QDir(QString::fromStdString(hostPath(row.place + ".refused"))).removeRecursively();
            ::unlink(hostPath(row.place + ".refused").c_str());
            ::unlink(hostPath(row.place).c_str());
            QDir(QString::fromStdString(hostPath(row.place))).removeRecursively();
        }
    }
}

// Every reader of a stored file, given one grown far past its kind's
// largest after the start (256 MiB, sparse, so that making it costs
// nothing): each refuses it having read almost nothing of it, not even its
// kind's largest (1 MiB at most), and a checked kind is kept aside as the
// start keeps it; the loader's file is the loader's and stays.
TEST_F(RefusedFiles, EveryReaderOfAStoredFileReadsNoMoreThanItsKindsLargest) {
    ConfigEngine::pInstance();
    std::vector<Row> all = rows();
    all.push_back({FileCheck::Checked::Settings, ConfigEngine::kIniFile, "", "", [] {
                       // A PC's network set-up: the new file holds every value.
                       EXPECT_TRUE(ConfigEngine::pInstance()->write_network("10.1.2.3", "255.0.0.0", "10.0.0.1"));
                       const QSettings ini(QString::fromStdString(Root::path(ConfigEngine::kIniFile)),
                                           QSettings::IniFormat);
                       EXPECT_EQ(ini.value("config/IPAddress").toString().toStdString(), "10.1.2.3");
                       EXPECT_EQ(ini.value("config/UdpPort").toString().toStdString(), "5008");
                   }});
    all.push_back({FileCheck::Checked::OsdMenu, ZrvFiles::OMENU, "", "", [] {
                       // A user mode saved with the OSD on copies the menu file.
                       ZrvRamPara m;
                       m.live().setWord(RamOffset::OSD_ON, 1);
                       m.mode_file_write(2, 0);
                       EXPECT_FALSE(FileOps::exists(ZrvFiles::modeOsdPath(2)));
                   }});
    all.push_back({FileCheck::Checked::Count, ConfigEngine::kLoaderIni, "", "",
                   [] { EXPECT_FALSE(ConfigEngine::write_loader_keys()); }});
    constexpr off_t kGrown = off_t(256) << 20;
    for (const Row& row : all) {
        SCOPED_TRACE(row.place);
        LineLimiter::writeHeldCounts();
        writeHostFile(hostPath(row.place), "[");
        ASSERT_EQ(::truncate(hostPath(row.place).c_str(), kGrown), 0);
        const long long before = bytesReadByThisThread();
        row.read();
        EXPECT_LT(bytesReadByThisThread() - before, 1 << 20);
        const bool kept = row.kind != FileCheck::Checked::Count;
        struct stat st {};
        ASSERT_EQ(::stat(hostPath(kept ? row.place + ".refused" : row.place).c_str(), &st), 0);
        EXPECT_EQ(st.st_size, kGrown) << "kept whole";
        const std::string log = readHostFile(hostPath(kLogFile));
        EXPECT_NE(log.find(kept ? std::string(FileCheck::checkedName(row.kind)) + " " + row.place + " refused: "
                                : "loader: " + row.place + " not taken (larger than "),
                  std::string::npos)
            << log;
        ::unlink(hostPath(row.place + ".refused").c_str());
        ::unlink(hostPath(row.place).c_str());
    }
}

// Whatever stands where the instance lock belongs is kept aside as a
// refused file is and the lock taken: a second start on the root then ends
// at once, naming this process. Only where nothing can be moved does the
// start run without the lock.
TEST_F(RefusedFiles, WhatStandsInTheLocksPlaceIsKeptAsideAndTheLockTaken) {
    const std::string place = InstanceLock::kLockFile;
    for (const bool fixed : {false, true})
    for (const Odd odd : {Odd::Folder, Odd::Fifo, Odd::Socket, Odd::Link}) {
        ASSERT_TRUE(oddAt(odd, hostPath(place)));
        const std::string what = whatIsAt(hostPath(place));
        SCOPED_TRACE(what + (fixed ? ", nothing can be moved" : ""));
        LineLimiter::writeHeldCounts();
        FileOps::setReadOnly([fixed](const std::string&) { return fixed; });
        const InstanceLock::Outcome lock = InstanceLock::take();  // held by this process from here on
        FileOps::setReadOnly(nullptr);
        EXPECT_EQ(lock.state, fixed ? InstanceLock::Outcome::Unguarded : InstanceLock::Outcome::Held);
        EXPECT_EQ(whatIsAt(hostPath(fixed ? place : place + ".refused")), what);
        const std::string said = fixed ? lock.problem : readHostFile(hostPath(kLogFile));
        EXPECT_NE(said.find(fixed ? " in the lock's place cannot be kept aside" : "instance lock " + place + " refused: "),
                  std::string::npos)
            << said;
        if (lock.state == InstanceLock::Outcome::Held) {
            QProcess second;
            startProgram(second, QString::fromStdString(Root::root()));
            const bool ended = second.waitForFinished(20000);
            if (!ended) second.kill(), second.waitForFinished(5000);
            EXPECT_TRUE(ended && second.exitCode() == 1);
            EXPECT_TRUE(second.readAll().contains(QStringLiteral("(process %1 holds").arg(::getpid()).toUtf8()));
        }
        QDir(QString::fromStdString(hostPath(place + ".refused"))).removeRecursively();
        for (const char* left : {".refused", "", ".target"}) ::unlink(hostPath(place + left).c_str());
    }
}


// Whatever stands where the log belongs (a folder, a FIFO with or without a
// reader that never reads, a socket, a link to a file, which is left as it
// was) never holds a thread that writes a line: it is kept aside as a
// refused file is, a new log is begun whose first line names it, and every
// line is in the new log. Where nothing can
// be moved the lines are counted, and the count is written once the log
// can be written again.
TEST_F(RefusedFiles, WhatStandsInTheLogsPlaceIsKeptAsideAndANewLogBegun) {
    const std::string place = kLogFile;
    const struct {
        Odd odd;
        bool reader;  // a reader holds the FIFO open and never reads
        const char* found;
    } odds[] = {{Odd::Folder, false, "a folder"},
                {Odd::Fifo, false, "a FIFO"},
                {Odd::Fifo, true, "a FIFO"},
                {Odd::Socket, false, "a socket"},
                {Odd::Link, false, "a link"}};
    constexpr int kLines = 300;  // some 150 KiB: more than a pipe holds
    const std::string kept = "log file " + place + " refused: ";
    g_debugSwitch = 0;
    for (const bool fixed : {false, true})
    for (const auto& odd : odds) {
        SCOPED_TRACE(std::string(odd.found) + (odd.reader ? " with a reader" : "") +
                     (fixed ? ", nothing can be moved" : ""));
        ASSERT_TRUE(oddAt(odd.odd, hostPath(place)));
        const int reader = odd.reader ? ::open(hostPath(place).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
        FileOps::setReadOnly([fixed](const std::string&) { return fixed; });
        EXPECT_TRUE(endsWithoutAWriter(place, [] {
            const LogWhole whole;
            for (int i = 0; i < kLines; ++i) writeLogMsg(INFO, "line " + std::to_string(i) + std::string(400, '.'));
        }));
        FileOps::setReadOnly(nullptr);
        if (reader >= 0) ::close(reader);
        EXPECT_EQ(whatIsAt(hostPath(fixed ? place : place + ".refused")), odd.found);
        // The log can be written again: what stands there goes aside now.
        if (fixed) writeLogMsg(INFO, "line " + std::to_string(kLines));
        const std::string log = readHostFile(hostPath(place));
        EXPECT_EQ(log.find(kept + odd.found + ", not a regular file; kept as " + place + ".refused; a new log begun\n"),
                  log.find("# PELKMSG # ") + 12)
            << log.substr(0, 300);
        const std::string lost = "log: " + std::to_string(kLines) + " lines lost while " + place +
                                 " could not be written (" + odd.found +
                                 " in its place, which cannot be kept aside (Read-only file system))\n";
        EXPECT_EQ(log.find(lost) != std::string::npos, fixed) << log.substr(0, 600);
        EXPECT_EQ(countIn(log, "# PELKMSG # line "), fixed ? 1u : size_t(kLines));
        if (odd.odd == Odd::Link) {
            EXPECT_EQ(readHostFile(hostPath(place) + ".target"), std::string("\0\0\0\1", 4));
        }
        QDir(QString::fromStdString(hostPath(place + ".refused"))).removeRecursively();
        ::unlink(hostPath(place + ".refused").c_str());
        ::unlink(hostPath(place).c_str());
    }
    g_debugSwitch = 254;
}

// The table above runs the readers there are; a reader written later that
// opens a file its own way would wait on a FIFO as the settings did. No
// program source opens a file for reading but the one opener, save these:
// the log's append (opened without waiting and taken only as a regular
// file, as the opener takes one), the settings' scratch copy, a file the
// program itself made, the console's /dev/null in place of a closed
// standard descriptor, and the simulated board's opener of the files that
// stand for its devices (which never waits either and takes only a regular
// file). The simulated board's scenario, too, is read through the opener,
// with its bound.
TEST(OneOpener, NoProgramSourceOpensAFileToReadButTheOpener) {
    const std::regex opening(R"(\bfopen\(|ifstream|(^|[^A-Za-z_])::open\(|\.open\(QIODevice::Read)");
    const std::set<std::string> allowed = {"core/logMsg.cpp", "core/config_engine.cpp", "core/console.cpp",
                                           "sim/sim_log_file.cpp"};
    std::set<std::string> seen;
    eachSource({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "sim"},
                  [&](const std::string& name, const std::vector<std::string>& lines) {
                      for (size_t i = 0; i < lines.size(); ++i) {
                          if (!std::regex_search(lines[i], opening)) continue;
                          if (allowed.count(name)) seen.insert(name);
                          else ADD_FAILURE() << name << ":" << i + 1 << " opens a file past the opener: " << lines[i];
                      }
                  });
    EXPECT_EQ(seen, allowed) << "an allowed place that no longer opens a file comes off the list";
}

// Everything the program prints reaches the console through its one road
// (core/console.cpp), which never waits for the console and escapes every
// argument of a format. No program source writes to standard output or
// standard error another way, and every format handed to the road is the
// program's own literal text: a debug line added later that printed a name
// with printf would wait for a console nobody reads and bring the name raw,
// and a name handed over as the format would escape nothing. Nor does any
// program it starts print past the road: only the shell runner starts one,
// and it gives the child the road's pipes as its standard output and error
// (a child started elsewhere would get the console itself, and wait in its
// write for a console nobody reads until its time-out ends it).
TEST(OneConsole, NoProgramSourcePrintsButThroughTheConsolesRoad) {
    const std::regex direct(R"((^|[^\w])(printf|vprintf|puts|putchar|perror|dprintf|vdprintf)\s*\()"
                            R"(|std::(cout|cerr|clog)\b|\bstd(out|err)\b|STD(OUT|ERR)_FILENO|\bwrite\s*\(\s*[12]\s*,)");
    const std::regex printing(R"(\b(debugPrintf|Console::print|Console::printErr|dbg|err|always|closing)\s*\()");
    // The chip's own lines print their text as the format: unqualified in
    // the files that use their namespace, qualified anywhere; the header
    // that defines them hands its caller's text on.
    const std::regex chipLine(R"((^|[^:\w.>])(line|ownLine)\s*\(|\bc331print::(line|ownLine)\s*\()");
    const std::regex chipLineQualified(R"(\bc331print::(line|ownLine)\s*\()");
    // Its declaration, or its call with a literal, a choice of two, or a
    // constant of the program's own.
    const std::regex ownFormat(R"(^\s*(const char\* fmt|"|k[A-Z]\w*\s*\)|[^,"]*\?\s*"[^"]*"\s*:\s*"))");
    const std::regex starting(R"(posix_spawn\w*\s*\(|\b(v?fork|exec[lv]p?e?|popen|system|clone)\s*\(|QProcess)");
    const std::set<std::string> road = {"core/console.cpp", "platform/linux/linux_shell.cpp"};
    std::set<std::string> seen, started;
    eachSource({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "platform", "sim"},
               [&](const std::string& name, const std::vector<std::string>& lines) {
        const bool chipNamespace = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("using namespace c331print;") != std::string::npos;
        });
        std::vector<const std::regex*> formats{&printing};
        if (name != "video_engine/c331_chip_print.h") formats.push_back(chipNamespace ? &chipLine : &chipLineQualified);
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string code = lines[i].substr(0, lines[i].find("//"));
            if (std::regex_search(code, direct)) {
                if (road.count(name)) seen.insert(name);
                else ADD_FAILURE() << name << ":" << i + 1 << " prints past the console's road: " << lines[i];
            }
            if (std::regex_search(code, starting)) {
                if (name == "platform/linux/linux_shell.cpp") started.insert(name);
                else ADD_FAILURE() << name << ":" << i + 1 << " starts a program past the shell runner: " << lines[i];
            }
            for (const std::regex* format : formats)
            for (std::sregex_iterator m(code.begin(), code.end(), *format), none; m != none; ++m) {
                // The format: the first argument, on this line or the next;
                // a literal, or one of two literals.
                std::string rest = code.substr(size_t(m->position(0) + m->length(0)));
                if (rest.find_first_not_of(" \t") == std::string::npos && i + 1 < lines.size()) rest = lines[i + 1];
                if (!std::regex_search(rest, ownFormat))
                    ADD_FAILURE() << name << ":" << i + 1 << " hands the console a format that is not a literal: "
                                  << lines[i];
            }
        }
    });
    EXPECT_EQ(seen, road) << "the road itself writes to the console's descriptors, the runner gives its pipes";
    EXPECT_EQ(started, (std::set<std::string>{"platform/linux/linux_shell.cpp"}));
}

// A helper that writes a text its caller gave into a log line is one place
// of the log for all its callers unless it takes its caller's place: one
// device whose fault comes and goes would spend the limit of another's
// failure. No function of the program writes a string parameter to the log
// without a LogPlace parameter, save these, which write about their own
// work on the one file they are given, from one caller.
TEST(LogPlaces, EveryFunctionThatLogsItsCallersTextTakesTheCallersPlace) {
    const std::set<std::string> own = {"LinuxGpio::mapWindow", "linuxReadSocIdWords", "SimScenario::loadFile",
                                       "c331_osd::get_json_omenu_para"};
    const std::regex signature(R"(^( {0,4})[A-Za-z][\w:<>,*& ]*?\b([A-Za-z_][\w:~]*)\(([^;{]*)\)\s*(?:const\s*)?(?:override\s*)?\{(.*)$)");
    const std::regex stringParam(R"((?:std::string|char\s*\*|QString)[\s&*]*(\w+)\s*(?:=.*)?$)");
    const std::regex logCall(R"(writeLogMsg(?:For)?\(([^;]*);)");
    std::set<std::string> seen;
    eachSource({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "platform", "sim"},
                  [&](const std::string& name, const std::vector<std::string>& lines) {
        for (size_t i = 0; i < lines.size(); ++i) {
            // A signature may take a few lines; the body ends at its indent.
            std::string head = lines[i];
            size_t end = i;
            while (end + 1 < lines.size() && end < i + 3 && head.find('(') != std::string::npos &&
                   head.find_first_of("{;") == std::string::npos)
                head += " " + lines[++end];
            std::smatch m;
            if (!std::regex_match(head, m, signature)) continue;
            std::string body = m[4];
            if (body.find('}') == std::string::npos)
                for (i = end + 1; i < lines.size() && lines[i].rfind(m[1].str() + "}", 0) != 0; ++i) body += "\n" + lines[i];
            std::vector<std::string> texts;
            for (std::sregex_iterator c(body.begin(), body.end(), logCall), none; c != none; ++c) texts.push_back((*c)[1]);
            const std::string params = m[3];
            if (texts.empty() || params.find("LogPlace") != std::string::npos) continue;
            std::stringstream list(params);
            for (std::string param; std::getline(list, param, ',');) {
                std::smatch p;
                if (!std::regex_search(param, p, stringParam)) continue;
                const std::regex word("\\b" + p[1].str() + "\\b");
                for (const std::string& text : texts) {
                    if (!std::regex_search(text, word)) continue;
                    if (own.count(m[2].str())) seen.insert(m[2].str());
                    else ADD_FAILURE() << name << ": " << m[2] << " logs its caller's " << p[1] << " at a place of its own";
                    break;
                }
            }
        }
    });
    EXPECT_EQ(seen, own) << "a function on the list that no longer logs a text it is given comes off it";
}

// One line of code that speaks of one of several devices (an input, an FPGA,
// a port, a link, a serial or GPIO line, a chip's address, a node) is a
// place of the log for each device, or one input's EEPROM failing at every
// write spends the line's limit and another input's failure is never
// written. No log line names a device from a variable without giving it as
// what the line is for, save these, which name no device of several, or
// refuse a value given for a device rather than tell of its fault: a PC
// floods those as fast as it writes, and each such place keeps one limit.
TEST(LogPlaces, EveryLineThatNamesOneOfSeveralDevicesIsAPlaceForEach) {
    // Each by its file and a piece of its text.
    const std::set<std::pair<std::string, std::string>> one = {
        {"protocol/networkmanage.cpp", "TCP command port "},     // the one TCP port
        {"protocol/udpnetmanage.cpp", "UDP command port "},      // the one command port
        {"protocol/udpnetmanage.cpp", "UDP port "},              // the one Wi-Fi port
        {"fpga/fpga_card_jobs.cpp", "cannot be placed"},         // a job's settings refused
        {"video_io/vimrasource.cpp", " names input "},           // an input past the last
        {"video_io/vimrasource_edid.cpp", "custom EDID of input "},  // a PC's timing refused
        {"ui/settings/edidset.cpp", " Hz for input "},           // the panel's timing refused
        {"sim/sim_scenario.cpp", "board scenario "},             // the one scenario file
    };
    const std::regex call(R"(\bwriteLogMsg\(([^;]*);)");
    // A device word closing a literal that a variable follows, or a node's path.
    const std::regex device(R"(\b(input|FPGA|fpga|port|port LED|link|line|address|device)\s*"\s*\+\s*[^"\s])"
                            R"(|\bm_path\b|\bhostPath\b|kSpiDevices\[)");
    std::set<std::pair<std::string, std::string>> seen;
    eachSource({"core", "fpga", "video_io", "video_engine", "protocol", "ui", "platform", "sim"},
               [&](const std::string& name, const std::vector<std::string>& lines) {
                   std::string text;
                   for (const std::string& l : lines) text += l + "\n";
                   for (std::sregex_iterator c(text.begin(), text.end(), call), none; c != none; ++c) {
                       const std::string args = (*c)[1];
                       if (!std::regex_search(args, device)) continue;
                       const auto listed = std::find_if(one.begin(), one.end(), [&](const auto& o) {
                           return o.first == name && args.find(o.second) != std::string::npos;
                       });
                       if (listed != one.end()) {
                           seen.insert(*listed);
                           continue;
                       }
                       ADD_FAILURE() << name << ":" << 1 + std::count(text.begin(), text.begin() + c->position(), '\n')
                                     << " names a device without a place for it: " << c->str();
                   }
               });
    EXPECT_EQ(seen, one) << "a line on the list that no longer names a device comes off it";
}

namespace {
extern "C" void platformsHandler(int) {}
class PlatformSignals : public SimEnv {};
}  // namespace

// A display platform may take signals while the QApplication is built: Qt's
// framebuffer platforms take SIGINT, SIGTERM, SIGTSTP and SIGCONT and end
// the process at once on the first two; another may ignore a signal or set
// it back to its default. Once the QApplication exists each is the
// program's again, as it set it up, with a line in the log.
TEST_F(PlatformSignals, EverySignalThePlatformTookIsTheProgramsAgainAndLogged) {
    struct sigaction before[NSIG], own[NSIG];
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, nullptr, &before[sig]);
    AppShutdown::installSignalHandlers();
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, nullptr, &own[sig]);
    struct Taken {
        int sig;
        void (*platform)(int);
    };
    const Taken taken[] = {{SIGINT, platformsHandler},  {SIGTERM, platformsHandler}, {SIGTSTP, platformsHandler},
                           {SIGCONT, platformsHandler}, {SIGHUP, platformsHandler},  {SIGUSR1, platformsHandler},
                           {SIGPIPE, SIG_DFL},          {SIGXFSZ, SIG_DFL},          {SIGQUIT, SIG_IGN}};
    for (const Taken& t : taken) {
        struct sigaction sa {};
        sa.sa_handler = t.platform;
        ASSERT_EQ(::sigaction(t.sig, &sa, nullptr), 0) << t.sig;
    }
    AppShutdown::watchSignals();
    const std::string log = readHostFile(hostPath(kLogFile));
    const std::string::size_type line = log.find("the display platform took signals ");
    ASSERT_NE(line, std::string::npos) << log;
    const std::string named = log.substr(line, log.find('\n', line) - line);
    for (const Taken& t : taken) {
        struct sigaction now;
        ASSERT_EQ(::sigaction(t.sig, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, own[t.sig].sa_handler) << t.sig;
        EXPECT_TRUE(std::regex_search(named, std::regex("[ ,]" + std::to_string(t.sig) + " \\("))) << t.sig << ": " << named;
    }
    // The test program's own handling and messages as they were.
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &before[sig], nullptr);
    qInstallMessageHandler(nullptr);
}
