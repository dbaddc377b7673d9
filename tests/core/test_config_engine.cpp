#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/utils.h"
#include "read_faults.h"
#include "support/test_env.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cstring>

constexpr const char* kIniFile = "/data/configs/tcpip.ini";
constexpr const char* kLoaderIni = "/data/configs/led_load_config.ini";

class ConfigTest : public SimEnv {
protected:
    void SetUp() override {
        SimEnv::SetUp();
        delete ConfigEngine::p_config;  // a fresh store for each test
        ConfigEngine::p_config = nullptr;
        std::memset(g_pid, 0, sizeof g_pid);
        g_update_status = 0;
    }
    QSettings ini() { return QSettings(QString::fromStdString(hostPath(kIniFile)), QSettings::IniFormat); }
};

TEST_F(ConfigTest, FirstStartWritesAllDefaults) {
    ConfigEngine::pInstance();
    QSettings s = ini();
    s.beginGroup("config");
    EXPECT_EQ((Vals{s.childKeys().size(), s.value("TcpPort").toInt(), s.value("UdpPort").toInt(),
                    s.value("ZrvMaxPixel_UINT").toUInt(), g_port, g_Tarn_cloud.load(), g_check_source.load()}),
              (Vals{17, 5005, 5008, 0xF00000u, 5005, 0, 255}));
    EXPECT_EQ(s.value("usbupgradedir").toString(), "ZRV-K46");
    EXPECT_EQ(g_str_ip + " " + g_srt_mask, "192.168.1.199 255.255.255.0");
}

TEST_F(ConfigTest, StoredValuesWinAndEmptyOnesFallBackToDefaults) {
    writeHostFile(hostPath(kIniFile),
                  "[config]\nTcpPort=6000\nIPAddress=\nTarncloudserverip=10.0.0.5\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_str_ip, "192.168.1.199");
    // Cloud on although only the server address is set.
    EXPECT_EQ((Vals{g_port, g_int_tcp_port, g_Tarn_cloud.load()}), (Vals{6000, 6000, 1}));
}

// What the settings library reads as settings is taken, a UTF-8 byte-order
// mark included; a file it finds malformed, or one too large to be a
// settings file, is kept aside whole and a new one starts from the defaults.
TEST_F(ConfigTest, SettingsTheLibraryReadsAreTakenAndOthersAreKeptAside) {
    std::string binary(2000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 37 + 1);
    const std::string ip = "IPAddress=10.1.2.3\n";
    const struct {
        std::string text;
        bool taken;
    } rows[] = {
        {"\xEF\xBB\xBF[config]\nTcpPort=6000\n" + ip, true},         // byte-order mark
        {"[config]\nTcpPort=6000\nBarcode=A\x01" "B\n" + ip, true},  // a control byte in a value
        {"[config]\r\nTcpPort=6000\r\n" + ip, true},                 // CR LF
        {"; note\n[config]\nTcpPort=6000\n" + ip, true},             // a comment
        {"[config]\nTcpPort=6000\nBarcode=" + std::string(70000, 'x') + "\n" + ip, false},  // over 64 KiB
        {binary, false},
        {"[config]\nTcpPort=6000\n" + std::string(20, '[') + "\n" + ip, false},  // an open section
        {"[config]\nTcpPort=6000\n" + ip + "IPAddr", false},                     // cut off mid-key
        {"[config]\nTcpPort=6000\n\x07\n" + ip, false},                          // a line of no setting
    };
    const std::string kept = hostPath(std::string(kIniFile) + ".refused");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 30));
        QFile::remove(QString::fromStdString(kept));
        writeHostFile(hostPath(kIniFile), row.text);
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        EXPECT_EQ(g_port, row.taken ? 6000u : 5005u);
        EXPECT_EQ(g_str_ip.toStdString(), row.taken ? "10.1.2.3" : "192.168.1.199");
        // The file holds the values this start uses, and all the keys.
        QSettings s = ini();
        EXPECT_EQ((Vals{s.value("config/TcpPort").toInt(), s.allKeys().size()}), (Vals{g_port, 17}));
        EXPECT_TRUE(readHostFile(kept) == (row.taken ? "" : row.text)) << "kept aside whole, or nothing kept";
    }
    EXPECT_NE(readHostFile(hostPath(kLogFile))
                  .find("settings file /data/configs/tcpip.ini refused: the settings library finds it malformed; kept "
                        "as /data/configs/tcpip.ini.refused"),
              std::string::npos);
    // The loader's own file is never moved, only not believed.
    const std::string loader = "[app-1]\napp_path=/data/app/zrvK57N -platform linuxfb\n" + binary;
    writeHostFile(hostPath(kLoaderIni), loader);
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
    EXPECT_FALSE(ConfigEngine::write_loader_keys());
    EXPECT_EQ(readHostFile(hostPath(kLoaderIni)), loader);
}

// A settings file that is there but cannot be read (an I/O error of the
// flash; here a link to a file whose every read fails) may hold good
// settings: it is neither removed nor rewritten, and a write fails.
TEST_F(ConfigTest, ASettingsFileThatCannotBeReadIsLeftAsItIs) {
    const QString host = QString::fromStdString(hostPath(kIniFile));
    QDir().mkpath(QFileInfo(host).path());
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), host));
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_EQ(g_port, 5005u) << "the built-in values serve";
    ConfigEngine::WriteFault fault = ConfigEngine::WriteFault::None;
    EXPECT_FALSE(c->write_config_variants({{ConfigItem::TcpPort, 6000}}, &fault));
    EXPECT_EQ(fault, ConfigEngine::WriteFault::Unreadable);
    EXPECT_EQ(c->read_config_variant(ConfigItem::TcpPort).toInt(), 5005);
    EXPECT_EQ(QFileInfo(host).symLinkTarget(), QStringLiteral("/proc/self/mem"));
    const std::string log = readHostFile(hostPath(kLogFile));
    EXPECT_NE(log.find("settings: /data/configs/tcpip.ini cannot be read (a read failed: Input/output error); built-in values used"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("settings: /data/configs/tcpip.ini cannot be read; not rewritten"), std::string::npos) << log;
}

// The start takes its settings from one read of the file. Whichever read
// fails once, the stored values are never replaced by the built-in ones:
// either the start uses them, or it uses the built-in values, says so and
// leaves the file as it is.
TEST_F(ConfigTest, OneFailedReadNeverPutsTheDefaultsOverTheStoredSettings) {
    // Two keys stored: the start has fifteen defaults to add.
    const std::string stored = "[config]\nTcpPort=6000\nIPAddress=10.1.2.3\n";
    for (int failing = 0; failing <= 3; ++failing) {
        SCOPED_TRACE(failing);
        writeHostFile(hostPath(kIniFile), stored);
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        QFile::remove(QString::fromStdString(hostPath(kLogFile)));
        ReadFaults::arm(hostPath(kIniFile), failing ? std::set<int>{failing} : std::set<int>{});
        ConfigEngine::pInstance();
        const int passes = ReadFaults::passes();
        ReadFaults::disarm();
        EXPECT_EQ(passes, 1) << "the file is read once";
        const bool builtIn = failing == 1;
        EXPECT_EQ((Vals{g_port, g_int_tcp_port}), builtIn ? (Vals{5005, 5005}) : (Vals{6000, 6000}));
        EXPECT_EQ(g_str_ip.toStdString(), builtIn ? "192.168.1.199" : "10.1.2.3");
        QSettings s = ini();
        EXPECT_EQ((s.value("config/IPAddress").toString() + " " + s.value("config/TcpPort").toString()).toStdString(),
                  "10.1.2.3 6000");
        const std::string log = readHostFile(hostPath(kLogFile));
        EXPECT_EQ(log.find("settings: /data/configs/tcpip.ini cannot be read") != std::string::npos, builtIn) << log;
        if (builtIn) EXPECT_EQ(readHostFile(hostPath(kIniFile)), stored) << "not written";
        else EXPECT_EQ(s.allKeys().size(), 17);
    }
}

TEST_F(ConfigTest, WritesReachTheFileAtOnce) {
    ConfigEngine* c = ConfigEngine::pInstance();
    EXPECT_TRUE(c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.1.2.3")));
    EXPECT_EQ(ini().value("config/IPAddress").toString(), "10.1.2.3");
    EXPECT_FALSE(c->write_config_variant(ConfigItem::ConfigName(17), 1));
    Utils::getIPAddress();
    EXPECT_EQ(g_str_ip, "10.1.2.3");
}

TEST_F(ConfigTest, DeviceIdAndLoaderCheck) {
    board().scenario().setSocIdWords(0x1234, 0x5678, 0x9ABC);
    writeHostFile(hostPath(kLoaderIni), "[app-1]\napp_path=/data/app/zrvK57N -platform linuxfb\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(std::string(g_pid, 32), "1597bca0886b31023001305032627494");
    EXPECT_EQ(g_update_status.load(), 1);

    writeHostFile(hostPath(kLoaderIni), "[app-1]\napp_path=/data/app/other\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status.load(), 0);
}

TEST_F(ConfigTest, UnreadableIdWordsLeaveOnlyTheIdEmpty) {
    board().setSocIdReadable(false);
    writeHostFile(hostPath(kIniFile), "[config]\nTcpPort=7000\n");
    writeHostFile(hostPath(kLoaderIni), "[app-1]\napp_path=/data/app/zrvK57N -platform linuxfb\n");
    factoryage_log << "old line";
    ConfigEngine::pInstance();
    EXPECT_EQ(std::string(g_pid, 32), std::string(32, '\0'));
    EXPECT_EQ((Vals{g_port, g_update_status.load(), factoryage_log.isEmpty()}), (Vals{7000, 1, 1}));
}

TEST_F(ConfigTest, NetworkSetUpRunsTheCommandsInOrder) {
    ConfigEngine* c = ConfigEngine::pInstance();
    c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.9"));
    c->write_config_variant(ConfigItem::GateWay, QStringLiteral("10.0.0.1"));
    board().simShell().clear();
    EXPECT_EQ(Utils::initIPAddress(), 0);
    const std::vector<std::string> want = {
        "ifconfig eth0 >/dev/null 2>&1",
        "route del default wlan0",
        "ifconfig eth0 10.0.0.9 netmask 255.255.255.0",
        "route add -host 10.0.0.1 dev eth0",
        "route add default gw 10.0.0.1 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(board().simShell().commands(), want);
}

TEST_F(ConfigTest, NetworkSetUpRefusesWhatIsNotADottedQuad) {
    ConfigEngine* c = ConfigEngine::pInstance();
    c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("1.2.3.4;reboot"));
    board().simShell().clear();
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(board().simShell().commands(), std::vector<std::string>{"ifconfig eth0 >/dev/null 2>&1"});

    // No eth0: nothing changes.
    c->write_config_variant(ConfigItem::IPAddress, QStringLiteral("10.0.0.9"));
    board().simShell().clear();
    board().simShell().setResult("ifconfig eth0", 256);
    EXPECT_EQ((Vals{Utils::initIPAddress(), board().simShell().commands().size()}), (Vals{255, 1}));
}
