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
// application behind; the next start removes it and says so.
TEST(StartUp, RemovesAnApplicationLeftStagedAndLogsIt) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString staged = root.path() + "/data/app/zrvK57N2";
    ASSERT_TRUE(QDir().mkpath(root.path() + "/data/app"));
    {
        QFile f(staged);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(QByteArray(4096, '\x5A')), 4096);
    }
    const ProgramNetwork net;
    QProcess app;
    startProgram(app, root.path());
    ASSERT_TRUE(app.waitForStarted(10000));
    ASSERT_TRUE(waitForImage(root.path()));
    EXPECT_FALSE(QFileInfo::exists(staged));
    const std::string log = readHostFile((root.path() + "/data/vimraqd/log/mwrEnglneLog").toStdString());
    EXPECT_NE(log.find("/data/app/zrvK57N2 left by an upgrade that did not end, never installed; removed"),
              std::string::npos)
        << log;
    app.kill();
    app.waitForFinished(5000);
}
