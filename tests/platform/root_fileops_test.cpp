// Device paths under the root, and the whole-file replace every persisted
// file relies on.
#include "core/file_checks.h"
#include "core/logMsg.h"
#include "platform/fileops.h"
#include "support/test_env.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <csignal>
#include <sys/resource.h>

using RootAndFiles = SimEnv;

namespace {

QStringList entriesOf(const std::string& hostFolder) {
    return QDir(QString::fromStdString(hostFolder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

TEST_F(RootAndFiles, DevicePathsResolveUnderTheRoot) {
    const std::string saved = Root::root();
    Root::setRoot("/tmp/zrv-root///");
    EXPECT_EQ(Root::root(), "/tmp/zrv-root");
    EXPECT_EQ(Root::path("/data/ram_device_info"), "/tmp/zrv-root/data/ram_device_info");
    EXPECT_EQ(Root::qpath("/dev/mtd8"), QString("/tmp/zrv-root/dev/mtd8"));
    EXPECT_EQ(Root::path("relative/name") + Root::path(""), "relative/name");
    Root::setRoot("/");
    EXPECT_EQ(Root::root() + "|" + Root::path("/data/x"), "|/data/x");
    Root::setRoot(saved);
}

TEST_F(RootAndFiles, WriteFileAtomicReplacesTheWholeFileAndLeavesNoTemporary) {
    const std::string file = "/data/configs/tcpip.ini";
    ASSERT_TRUE(FileOps::writeFileAtomic(file, QByteArray(5000, 'a')));  // creates the folders
    ASSERT_TRUE(FileOps::writeFileAtomic(file, QByteArray("short")));
    QByteArray back;
    ASSERT_TRUE(FileOps::readFile(file, back, 5000));
    EXPECT_EQ(back, QByteArray("short")) << "the old, longer content must not survive past the new end";
    EXPECT_EQ(readHostFile(hostPath(file)), "short");
    EXPECT_EQ(entriesOf(hostPath("/data/configs")), QStringList{"tcpip.ini"});

    // A file replaced keeps the permissions it had.
    ASSERT_TRUE(FileOps::setPermissions(file, 0600));
    ASSERT_TRUE(FileOps::writeFileAtomic(file, QByteArray()));
    ASSERT_TRUE(FileOps::readFile(file, back, 5000));
    EXPECT_TRUE(back.isEmpty());
    struct stat st {};
    ASSERT_EQ(::stat(hostPath(file).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A place that cannot take the file fails, keeps what is there and
    // leaves no stray file beside it.
    ASSERT_TRUE(FileOps::makeDirs("/data/modes/custom_mode1"));
    EXPECT_FALSE(FileOps::writeFileAtomic("/data/modes/custom_mode1", QByteArray("x")));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(hostPath("/data/modes/custom_mode1"))).isDir());
    EXPECT_EQ(entriesOf(hostPath("/data/modes")), QStringList{"custom_mode1"});
}

// A disk that takes no more than `bytes` per file, as a full data
// partition does: writes past it fail with EFBIG instead of a signal.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit l = m_saved;
        l.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

TEST_F(RootAndFiles, AFailedWriteIsReportedAndTheOldFileStaysWhole) {
    const std::string file = "/data/ram_device_info";
    const QByteArray old(500, 'o');
    ASSERT_TRUE(FileOps::writeFileAtomic(file, old));
    {
        FileSizeLimit full(1024);
        EXPECT_FALSE(FileOps::writeFileAtomic(file, QByteArray(3000, 'n')));
    }
    QByteArray back;
    ASSERT_TRUE(FileOps::readFile(file, back, 5000));
    EXPECT_EQ(back, old);
    EXPECT_EQ(entriesOf(hostPath("/data")), QStringList{"ram_device_info"});
}

// What a write cut before its rename leaves is known by its name alone, so
// a start can remove it and no list shows it.
TEST_F(RootAndFiles, AWriteCutBeforeItsRenameLeavesATemporaryKnownByItsName) {
    const std::string file = "/data/modes/custom_mode3";
    ASSERT_TRUE(FileOps::writeFileAtomic(file, QByteArray("old")));
    FileOps::setCutBeforeRename([&](const std::string& path) { return path == file; });
    EXPECT_FALSE(FileOps::writeFileAtomic(file, QByteArray("new")));
    FileOps::setCutBeforeRename(nullptr);
    EXPECT_EQ(readHostFile(hostPath(file)), "old");
    const QStringList names = entriesOf(hostPath("/data/modes"));
    ASSERT_EQ(names.size(), 2);
    EXPECT_EQ(names[0], "custom_mode3");
    EXPECT_TRUE(FileOps::isTemporaryName(names[1].toStdString())) << qPrintable(names[1]);
    EXPECT_EQ(readHostFile(hostPath("/data/modes/") + names[1].toStdString()), "new");

    // The writer's names end at the serial; a name going on past it is
    // someone's file (a scan file of an older build, a stick package).
    for (const char* yes : {"ram_device_info.new12-0", "a.new1-2", "x.new0-0", "QDFR_hall.new2024-10", "a.new1-2.new3-4"})
        EXPECT_TRUE(FileOps::isTemporaryName(yes)) << yes;
    for (const char* no : {".new1-2", "a.new12", "a.new-3", "a.new12-3x", "a.new12-", "anew1-2", "a.NEW1-2",
                           "QDFR8.new", "a.new1_2", "a.new1-2x.b", "custom_mode3", "QDFR_hall.new2024-10.qdfile",
                           "QDFX.new2025-3.bak", "K57.new2024-10.ZRV", "tcpip.ini.new9-13.Ab3dEf", "QDFR1.new7-1.lock",
                           "a.new1-2.new", "a.new1-2-3", "a.new1--2"})
        EXPECT_FALSE(FileOps::isTemporaryName(no)) << no;
}

// The start removes what the writers leave, folder by folder, and nothing
// else; a list shows what stays and the upload check takes what it keeps.
TEST_F(RootAndFiles, TheStartRemovesWhatTheWritersLeaveAndNothingElse) {
    const struct {
        const char* folder;
        const char* name;
        bool removed;
    } rows[] = {
        {"/data/smartmapping", "QDFR1.new12-3", true},
        {"/data/smartmapping", "QDFR_hall.new2024-10.qdfile", false},
        {"/data/smartmapping", "QDFR1.new12-3.lock", false},
        {"/data/smartmapping", "QDFR1.new12-3.AbCdEf", false},
        {"/data/rcvrecovery", "QDFX.new2025-3.bak", false},
        {"/data/rcvrecovery", "QDFX.new812-3", true},
        {"/data/app", "K57.new2024-10.ZRV", false},
        {"/data/modes", "custom_mode3.new4-1.lock", false},
        {"/data", "ram_device_info.new12-0", true},
        {"/data", "ram_device_info.new12-0.AbCdEf", false},
        {"/data/vimraqd/log", "mwrEnglneLog.new1-1", true},
        // The settings library's lock and rewrite beside the store's
        // temporary, in the settings folder alone.
        {"/data/configs", "tcpip.ini.new9-13", true},
        {"/data/configs", "tcpip.ini.new9-13.lock", true},
        {"/data/configs", "tcpip.ini.new9-13.AbCdEf", true},
        {"/data/configs", "tcpip.ini.new9-13.AbCdE", false},
        {"/data/configs", "tcpip.ini.new9-13.AbCdEfG", false},
        {"/data/configs", "tcpip.ini.new9-13.AbC3Ef", true},
        {"/data/configs", "tcpip.ini.new9-13.AbC_Ef", false},
        {"/data/configs", "tcpip.ini.new9-13.locks", false},
        {"/data/configs", "tcpip.ini.lock", false},
        {"/data/configs", "tcpip.ini.AbCdEf", false},
        {"/data/configs", "notes.new9-13x.lock", false},
    };
    for (const auto& row : rows) {
        const std::string path = std::string(row.folder) + "/" + row.name;
        ASSERT_TRUE(FileOps::writeFileAtomic(path, QByteArray("x"))) << path;
    }
    int removed = 0;
    for (const auto& row : rows) removed += row.removed ? 1 : 0;
    EXPECT_EQ(FileCheck::removeLeftTemporaries(), removed);
    const std::string log = readHostFile(hostPath(kLogFile));
    for (const auto& row : rows) {
        const std::string path = std::string(row.folder) + "/" + row.name;
        EXPECT_EQ(FileOps::exists(path), !row.removed) << path;
        EXPECT_EQ(log.find(path + " left unfinished") != std::string::npos, row.removed) << path;
        EXPECT_EQ(FileCheck::listable(QString::fromLatin1(row.folder), QString::fromLatin1(row.name)), !row.removed)
            << path;
        if (std::string(row.folder) == "/data/smartmapping") {
            EXPECT_EQ(FileCheck::storedNameOk(row.name), !row.removed) << path;
        }
    }
}

}  // namespace
