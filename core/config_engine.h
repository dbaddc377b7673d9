#pragma once
// The INI settings store "/data/configs/tcpip.ini" (group "config").
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>

#include <vector>

class ConfigItem {
public:
    enum ConfigName {
        TcpPort = 0,
        UdpPort = 1,
        IPAddress = 2,
        SubNetMask = 3,
        GateWay = 4,
        MAC = 5,
        Barcode = 6,
        WifiIPAddress = 7,
        EDIDCheck = 8,
        SourceCheck = 9,
        ImageLayoutPassword = 10,
        Tarncloudserverip = 11,
        Tarncloudserverport = 12,
        Tarnclouduserip = 13,
        Tarncloudcontrollername = 14,
        ZrvMaxPixel_UINT = 15,
        usbupgradedir = 16,
        ItemCount = 17
    };

    ConfigItem(const QString& key, ConfigName id, const QVariant& defaultValue, bool noSave, quint8 number,
               const QString& filePath);

    QString key;
    ConfigName id;
    QVariant defaultValue;
    bool noSave;
    quint8 number;  // set for the numeric items
    QString filePath;  // device path of the INI file
    QVariant value;

    static QMap<QString, ConfigName> _itemMap;
};

class ConfigEngine : public QObject {
    Q_OBJECT
public:
    static ConfigEngine* p_config;
    // Creates the store on first use (device id, settings into the globals,
    // loader check); later calls refresh the globals and the loader check.
    static ConfigEngine* pInstance();

    QVariant read_config_variant(ConfigItem::ConfigName id);
    // Sets the value and writes it to the INI file at once. Safe from any
    // thread. Returns false for an unknown id or a failed write.
    bool write_config_variant(ConfigItem::ConfigName id, const QVariant& value);
    // Why a write did not reach the INI file.
    enum class WriteFault {
        None,
        Unreadable,  // the file is there but cannot be read: it is left as it is
        NotWritten,  // an unknown id, or the rewrite failed
    };
    // Sets several values in one rewrite of the INI file: after a power cut
    // the file holds all of them or none (the address, mask and gateway of
    // one request belong together). A failed write changes no value; fault,
    // when given, tells why it failed.
    bool write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values,
                               WriteFault* fault = nullptr);
    // The Ethernet address, mask and gateway together, as above.
    bool write_network(const QString& ip, const QString& mask, const QString& gateway, WriteFault* fault = nullptr);
    // Why a network change did not take.
    enum class NetworkFault {
        None,
        Unreadable,  // as WriteFault: nothing stored, eth0 left as it is
        NotWritten,  // as WriteFault: nothing stored, eth0 left as it is
        NotTaken,    // stored, but eth0 did not take it (Utils::initIPAddress)
    };
    // Stores the address, mask and gateway (write_network) and sets eth0 up
    // with what is stored: None only when the file holds them and the
    // interface took them. Values the file did not take never reach eth0,
    // which would keep them only until the next start.
    NetworkFault apply_network(const QString& ip, const QString& mask, const QString& gateway);

    static constexpr const char* kIniFile = "/data/configs/tcpip.ini";
    static constexpr const char* kLoaderIni = "/data/configs/led_load_config.ini";
    static constexpr const char* kLoaderApp = "/data/app/zrvK57N -platform linuxfb";

    // Registers this application with the start-up loader: in group
    // "app-1", "app_path" = kLoaderApp and "app_name" = "zrvK57N". A loader
    // file that is not a settings file is the loader's and is left alone.
    // False when nothing was written.
    static bool write_loader_keys();

    // The device id rule over the SoC's three unique-id words (32 lower-case
    // hexadecimal digits).
    static void deriveDeviceId(quint16 x, quint16 y, quint16 z, char out[32]);

private:
    ConfigEngine();
    void buildItems();
    void afterEveryCall();

    mutable QMutex m_mutex;  // the items; callers come from several threads
    std::vector<ConfigItem> m_items;
};
