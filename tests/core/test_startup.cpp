// Starts the program itself against the simulated board in a temporary
// root and checks what start-up leaves there.
#include "platform/fileops.h"
#include "support/test_env.h"

#include <QElapsedTimer>
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

}  // namespace

TEST(StartUp, CreatesSettingsAndLogUnderItsRootAndRunsNothingOnTheHost) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const ProgramNetwork net;  // outlives the program below
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZRV_BOARD", "sim");
    env.insert("ZRV_ROOT", root.path());
    env.insert("ZRV_START_DELAY_MS", "0");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LSAN_OPTIONS", "suppressions=" ZRV_LSAN_SUPP);
    env.remove("ZRV_BOARD_CONFIG");
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(ZRV_APP_PATH), QStringList());
    ASSERT_TRUE(app.waitForStarted(10000));

    const QString ini = root.path() + "/data/configs/tcpip.ini";
    const QString log = root.path() + "/data/vimraqd/log/mwrEnglneLog";
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(ini); }, 20000));
    EXPECT_TRUE(waitFor([&] { return QFileInfo::exists(log); }, 20000));
    // The parameter image of a first start: markers, then the defaults.
    const QString ram = root.path() + "/data/ram_device_info";
    ASSERT_TRUE(waitFor([&] { return QFileInfo(ram).size() == 4096; }, 20000));
    const std::string image = readHostFile(ram.toStdString());
    EXPECT_EQ(image.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(app.state(), QProcess::Running);

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
