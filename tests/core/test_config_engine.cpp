#include "core/config_engine.h"
#include "core/logMsg.h"
#include "core/utils.h"
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

TEST_F(ConfigTest, HostileSettingsFilesAreReplacedByTheDefaults) {
    std::string binary(2000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = char(i * 37 + 1);
    const std::string hostile[] = {
        "[config]\nTcpPort=6000\nBarcode=" + std::string(70000, 'x') + "\n",  // over 64 KiB
        binary,
        "[config]\nTcpPort=6000\n" + std::string(20, '[') + "\n",            // an open section
        "[config]\nTcpPort=6000\nIPAddr",                                    // cut off mid-key
    };
    for (const std::string& text : hostile) {
        writeHostFile(hostPath(kIniFile), text);
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        ConfigEngine::pInstance();
        EXPECT_EQ(g_port, 5005u) << text.substr(0, 30);
        EXPECT_EQ(ini().value("config/TcpPort").toInt(), 5005) << "the file holds the defaults again";
    }
    // The loader's own file is never removed, only not believed.
    writeHostFile(hostPath(kLoaderIni), "[app-1]\napp_path=/data/app/zrvK57N -platform linuxfb\n" + binary);
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
    EXPECT_FALSE(readHostFile(hostPath(kLoaderIni)).empty());
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
    EXPECT_NE(log.find("settings: /data/configs/tcpip.ini cannot be read; built-in values used"), std::string::npos)
        << log;
    EXPECT_NE(log.find("settings: /data/configs/tcpip.ini cannot be read; not rewritten"), std::string::npos) << log;
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
    board().simShell().setResult("ifconfig eth0 >", 256);
    EXPECT_EQ((Vals{Utils::initIPAddress(), board().simShell().commands().size()}), (Vals{255, 1}));
}
