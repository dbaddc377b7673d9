// The client as a user meets it before any device answers: its help, and
// what it says about arguments it refuses.
#include "frame_helpers.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

struct ClientRun {
    int status = -1;
    QString out, err;
};

ClientRun zrvctl(const QStringList& args) {
    ClientRun r;
    QProcess p;
    p.start(binary("ZRV_CLIENT_BINARY", "zrvctl"), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.status = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Command codes of the command table of docs/protocol.md.
QStringList documentedCommands() {
    QFile f(QStringLiteral(ZRV_SOURCE_DIR "/docs/protocol.md"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList codes;
    const QRegularExpression row(QStringLiteral("^\\| (0x[0-9A-F]{2}) [a-zA-Z]"), QRegularExpression::MultilineOption);
    auto it = row.globalMatch(QString::fromUtf8(f.readAll()));
    while (it.hasNext()) codes << it.next().captured(1);
    return codes;
}

TEST(Client, HelpListsEveryDocumentedCommandWithItsArguments) {
    const QStringList codes = documentedCommands();
    ASSERT_GE(codes.size(), 12);
    for (const char* ask : {"--help", "-h", "help"}) {
        const ClientRun r = zrvctl({ask});
        EXPECT_EQ(r.status, 0) << ask;
        for (const QString& code : codes)
            EXPECT_TRUE(r.out.contains(code)) << code.toStdString() << " missing from " << ask;
        EXPECT_TRUE(r.out.contains("word-write OFFSET VALUE")) << r.out.toStdString();
        EXPECT_FALSE(r.out.contains(".cpp"));
    }
    const ClientRun one = zrvctl({"help", "network"});
    EXPECT_EQ(one.status, 0);
    EXPECT_TRUE(one.out.startsWith("usage: zrvctl [LINK] network IP MASK GATEWAY")) << one.out.toStdString();
}

TEST(Client, RefusedArgumentsSayWhatIsWrongAndSendNothing) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("alias.json");
    struct Case {
        QStringList args;
        const char* says;
    };
    const Case cases[] = {
        {{"word-read", "2177"}, "even"},
        {{"word-write", "5000", "1"}, "0 to 4094"},
        {{"word-write", "2176", "70000"}, "0 to 65535"},
        {{"ram-read", "0", "0"}, "1 to 1024"},
        {{"word-read", "twelve"}, "must be a number"},
        {{"send-file", "21", missing}, "alias.json"},
        {{"network", "192.168.1.300", "255.255.255.0", "192.168.1.1"}, "IP must be a dotted address"},
        {{"set-clock", "2024-13-01", "00:00:00"}, "YYYY-MM-DD HH:MM:SS"},
        {{"info", "extra"}, "usage: zrvctl [LINK] info"},
        {{"frob"}, "no command \"frob\""},
        // A RAM read one byte short of its u32 length.
        {{"card", "020010f010aa0101006180010000040000"}, "u32 length"},
        // Each names its argument as the help does.
        {{"card", "zz"}, "HEX holds \"zz\""},
        {{"card", "fe0f1"}, "HEX needs an even"},
        {{"ram-write", "0", "0g"}, "BYTES holds \"0g\""},
    };
    // A port nobody serves: a command that went out would wait and end in 3.
    for (const Case& c : cases) {
        const ClientRun r = zrvctl(QStringList{"--udp", "127.0.0.1:9", "--timeout", "100"} + c.args);
        EXPECT_EQ(r.status, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
    }
}

}  // namespace
