// Starts the program itself against the simulated board in a temporary
// root and checks what start-up leaves there.
#include "platform/fileops.h"
#include "support/test_env.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>


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

// Starts the program on the simulated board under `root`.
void startProgram(QProcess& app, const QString& root) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZRV_BOARD", "sim");
    env.insert("ZRV_ROOT", root);
    env.insert("ZRV_START_DELAY_MS", "0");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LSAN_OPTIONS", "suppressions=" ZRV_LSAN_SUPP);
    env.remove("ZRV_BOARD_CONFIG");
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
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
