#include "core/config_engine.h"

#include "core/file_checks.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/usb_packages.h"
#include "core/utils.h"
#include "platform/board.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QFile>
#include <QMutexLocker>
#include <QSettings>


ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, ConfigItem::ConfigName> ConfigItem::_itemMap;

ConfigItem::ConfigItem(const QString& k, ConfigName i, const QVariant& def, bool ns, quint8 num, const QString& path)
    : key(k), id(i), defaultValue(def), noSave(ns), number(num), filePath(path) {
    _itemMap.insert(key, id);
}

namespace {

QString iniHostPath(const QString& devicePath) { return Root::qpath(devicePath); }

bool isEmptyValue(const QVariant& v) { return !v.isValid() || v.toString().isEmpty(); }

// True when the INI file at the device path may be handed to QSettings,
// which reads it whole and takes whatever it finds. unreadable, when given,
// tells a file that is there but cannot be read (an I/O error) from one
// that holds no settings.
bool iniUsable(const char* devicePath, bool* unreadable = nullptr) {
    if (unreadable) *unreadable = false;
    const long long size = FileCheck::fileSize(devicePath);
    if (size < 0 || size > FileCheck::kIniMax) return false;
    QByteArray text;
    if (!FileOps::readFile(devicePath, text)) {
        if (unreadable) *unreadable = true;
        return false;
    }
    return FileCheck::iniShapeOk(text);
}

// Sets the keys in the INI file at the device path in one rewrite.
// QSettings formats the text in a scratch copy beside the file, under a
// temporary name, and the result replaces the file whole: a power cut then
// leaves the old file or the new one, never some keys of a change without
// the others. A missing file starts empty; one that is there but cannot be
// read is left as it is, since a rewrite would hold only these keys.
ConfigEngine::WriteFault storeIni(const char* devicePath, const QList<QPair<QString, QVariant>>& values) {
    using Fault = ConfigEngine::WriteFault;
    QByteArray text;
    if (!FileOps::readFile(devicePath, text)) {
        if (FileOps::exists(devicePath)) {
            // A PC may send its network settings as fast as they are refused.
            static LineLimiter unread(LineLimiter::logCount(ERROR, "settings", "writes refused, the file unread"));
            unread.occur([&] {
                writeLogMsg(ERROR, std::string("settings: ") + devicePath + " cannot be read; not rewritten");
            });
            return Fault::Unreadable;
        }
        text.clear();
    }
    const QString scratch = QFile::decodeName(FileOps::temporaryPathFor(devicePath).c_str());
    QFile copy(scratch);
    bool ok = copy.open(QIODevice::WriteOnly | QIODevice::NewOnly) && copy.write(text) == text.size();
    copy.close();
    if (ok) {
        QSettings settings(scratch, QSettings::IniFormat);
        for (const auto& kv : values) settings.setValue(kv.first, kv.second);
        settings.sync();
        ok = settings.status() == QSettings::NoError;
    }
    ok = ok && copy.open(QIODevice::ReadOnly);
    if (ok) text = copy.readAll();
    ok = ok && copy.error() == QFileDevice::NoError;
    copy.close();
    QFile::remove(scratch);
    return ok && FileOps::writeFileAtomic(devicePath, text) ? Fault::None : Fault::NotWritten;
}

}  // namespace

ConfigEngine::ConfigEngine() { buildItems(); }

void ConfigEngine::buildItems() {
    const QString file = QString::fromLatin1(kIniFile);
    FileOps::makeDirs("/data/configs");
    // A settings file that is not one is replaced by the defaults below; one
    // that cannot be read may hold good settings and is left for a later
    // start, the built-in values serving this one.
    bool unreadable = false;
    if (FileCheck::fileSize(kIniFile) >= 0 && !iniUsable(kIniFile, &unreadable)) {
        if (unreadable)
            writeLogMsg(ERROR, std::string("settings: ") + kIniFile + " cannot be read; built-in values used");
        else
            FileCheck::discard(kIniFile, "not a settings file of at most 64 KiB");
    }
    // Synchronous writes for the settings file, where the file system has
    // them (a first start creates the file with its first default below).
    struct Def {
        const char* key;
        ConfigItem::ConfigName id;
        QVariant def;
        quint8 number;
    };
    const Def defs[] = {
        {"config/TcpPort", ConfigItem::TcpPort, 5005, 1},
        {"config/UdpPort", ConfigItem::UdpPort, 5008, 1},
        {"config/IPAddress", ConfigItem::IPAddress, "192.168.1.199", 0},
        {"config/SubNetMask", ConfigItem::SubNetMask, "255.255.255.0", 0},
        {"config/GateWay", ConfigItem::GateWay, "192.168.1.1", 0},
        {"config/MAC", ConfigItem::MAC, "FF:FF:FF:FF:FF:FF", 0},
        {"config/Barcode", ConfigItem::Barcode, " ", 0},
        {"config/WifiIPAddress", ConfigItem::WifiIPAddress, "192.168.22.101", 0},
        {"config/EDIDCheck", ConfigItem::EDIDCheck, "Once", 0},
        {"config/SourceCheck", ConfigItem::SourceCheck, 255, 1},
        {"config/ImageLayoutPassword", ConfigItem::ImageLayoutPassword, "No", 0},
        {"config/Tarncloudserverip", ConfigItem::Tarncloudserverip, " ", 0},
        {"config/Tarncloudserverport", ConfigItem::Tarncloudserverport, " ", 1},
        {"config/Tarnclouduserip", ConfigItem::Tarnclouduserip, " ", 0},
        {"config/Tarncloudcontrollername", ConfigItem::Tarncloudcontrollername, " ", 0},
        {"config/ZrvMaxPixel_UINT", ConfigItem::ZrvMaxPixel_UINT, 0xF00000, 1},
        {"config/usbupgradedir", ConfigItem::usbupgradedir, UsbPackages::kDefaultFolder, 0},
    };
    QList<QPair<QString, QVariant>> defaults;
    {
        const QSettings settings(iniHostPath(file), QSettings::IniFormat);
        for (const Def& d : defs) {
            ConfigItem item(QString::fromLatin1(d.key), d.id, d.def, false, d.number, file);
            const QVariant stored = settings.value(item.key);
            if (!isEmptyValue(stored)) {
                item.value = stored;
            } else if (!isEmptyValue(item.defaultValue)) {
                item.value = item.defaultValue;
                if (!item.noSave) defaults.append({item.key, item.value});
            }
            m_items.push_back(item);
        }
    }
    if (!defaults.isEmpty() && storeIni(kIniFile, defaults) != WriteFault::None)
        writeLogMsg(ERROR, std::string("settings: the defaults cannot be written to ") + kIniFile);
    FileOps::setSyncFlag(kIniFile);
}

void ConfigEngine::deriveDeviceId(quint16 x, quint16 y, quint16 z, char out[32]) {
    auto nib = [](quint16 w, int n) { return int((w >> (4 * n)) & 0xF); };
    const int X3 = nib(x, 3), X2 = nib(x, 2), X1 = nib(x, 1), X0 = nib(x, 0);
    const int Y3 = nib(y, 3), Y2 = nib(y, 2), Y1 = nib(y, 1), Y0 = nib(y, 0);
    const int Z3 = nib(z, 3), Z2 = nib(z, 2), Z1 = nib(z, 1), Z0 = nib(z, 0);
    const int v[32] = {X3,
                       Y3,
                       Z3,
                       Y1,
                       Z1,
                       Z0,
                       Z2,
                       (X3 + Y3) % 2,
                       (Z3 + Y1) / 2,
                       Y0,
                       Y2,
                       (Z0 + Z1) / 2,
                       (X3 + Y3) / 2,
                       (Z0 + Z1) % 2,
                       (Z3 + Y1) % 2,
                       X2,
                       X1,
                       (Z2 + Y0) % 2,
                       (Y2 + X2) % 2,
                       (X1 + X0) % 2,
                       (X1 + X0) / 2,
                       (X3 + Y3 + Z3) % 3,
                       (X3 + Y3 + Z3) / 3,
                       (Y2 + X3 + X2) % 3,
                       (Y2 + X3 + X2) / 3,
                       (Z2 + Y1 + X1) % 3,
                       (Z2 + Y1 + X1) / 3,
                       (Z1 + Y0 + X0) % 3,
                       (Z1 + Y0 + X0) / 3,
                       (Y2 + X2) / 2,
                       (Z2 + Y0) / 2,
                       X0};
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i) out[i] = hex[v[i] & 0xF];
}

ConfigEngine* ConfigEngine::pInstance() {
    // Built by start-up before any other thread runs.
    if (!p_config) {
        p_config = new ConfigEngine();
        quint16 x = 0, y = 0, z = 0;
        if (Board::get().readSocIdWords(x, y, z)) {
            debugPrintf("\n mmap uuid161= %#x ,%#X ,%#x \n", x, y, z);
            deriveDeviceId(x, y, z, g_pid);
        } else {
            // Without the id words only the device id stays empty; the
            // settings and the loader check must still take effect.
            writeLogMsg(ERROR, "device id: unique-id words cannot be read");
        }
    }
    p_config->afterEveryCall();
    return p_config;
}

void ConfigEngine::afterEveryCall() {
    Utils::getIPAddress();
    // The loader's file belongs to the loader: one that is not a settings
    // file is left alone and read as empty.
    QString app;
    if (iniUsable(kLoaderIni)) {
        QSettings loader(iniHostPath(QString::fromLatin1(kLoaderIni)), QSettings::IniFormat);
        app = loader.value(QStringLiteral("app-1/app_path")).toString();
    }
    g_update_status = (app == QLatin1String(kLoaderApp)) ? 1 : 0;
    factoryage_log.clear();
    factoryage_log_num = 0;
}

bool ConfigEngine::write_loader_keys() {
    if (FileCheck::fileSize(kLoaderIni) >= 0 && !iniUsable(kLoaderIni)) {
        writeLogMsg(ERROR, std::string("loader: ") + kLoaderIni + " is not a settings file; left as it is");
        return false;
    }
    FileOps::makeDirs("/data/configs");
    return storeIni(kLoaderIni, {{QStringLiteral("app-1/app_path"), QString::fromLatin1(kLoaderApp)},
                                 {QStringLiteral("app-1/app_name"), QStringLiteral("zrvK57N")}}) == WriteFault::None;
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName id) {
    QMutexLocker lock(&m_mutex);
    if (id < 0 || size_t(id) >= m_items.size()) return QVariant();
    return m_items[size_t(id)].value;
}

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName id, const QVariant& value) {
    return write_config_variants({{id, value}});
}

bool ConfigEngine::write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values,
                                         WriteFault* fault) {
    WriteFault spare;
    WriteFault& why = fault ? *fault : spare;
    why = WriteFault::NotWritten;
    QMutexLocker lock(&m_mutex);
    QList<QPair<QString, QVariant>> stored;
    for (const auto& v : values) {
        if (v.first < 0 || size_t(v.first) >= m_items.size()) return false;
        const ConfigItem& item = m_items[size_t(v.first)];
        if (!item.noSave) stored.append({item.key, v.second});
    }
    // Every item lives in the one settings file.
    why = stored.isEmpty() ? WriteFault::None : storeIni(kIniFile, stored);
    if (why != WriteFault::None) return false;
    for (const auto& v : values) m_items[size_t(v.first)].value = v.second;
    return true;
}

bool ConfigEngine::write_network(const QString& ip, const QString& mask, const QString& gateway, WriteFault* fault) {
    return write_config_variants(
        {{ConfigItem::IPAddress, ip}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}}, fault);
}

// ------------------------------------------------------------------ network

int Utils::getIPAddress() {
    ConfigEngine* c = ConfigEngine::p_config;
    if (!c) return 0;
    auto str = [c](ConfigItem::ConfigName id) { return c->read_config_variant(id).toString(); };
    auto num = [c](ConfigItem::ConfigName id) { return c->read_config_variant(id).toString().trimmed().toLongLong(); };
    {
        QMutexLocker lock(&settingsLock());
        g_str_ip = str(ConfigItem::IPAddress);
        g_srt_mask = str(ConfigItem::SubNetMask);
        g_str_gateway = str(ConfigItem::GateWay);
        g_str_barcode = str(ConfigItem::Barcode);
        g_str_wifi_ip = str(ConfigItem::WifiIPAddress);
        g_check_edid = str(ConfigItem::EDIDCheck);
        g_imagelayoutpassword = str(ConfigItem::ImageLayoutPassword);
        g_Tarn_cloudserverip = str(ConfigItem::Tarncloudserverip);
        g_Tarn_clouduserid = str(ConfigItem::Tarnclouduserip);
        g_Tarn_controllername = str(ConfigItem::Tarncloudcontrollername);
        g_usb_grade_path = str(ConfigItem::usbupgradedir);
        g_Tarn_cloudserverport = int(num(ConfigItem::Tarncloudserverport));
        const bool cloud = g_Tarn_cloudserverip != QLatin1String(" ") || g_Tarn_clouduserid != QLatin1String(" ") ||
                           g_Tarn_controllername != QLatin1String(" ") || g_Tarn_cloudserverport != 0;
        g_Tarn_cloud = cloud ? 1 : 0;
    }
    const long long port = num(ConfigItem::TcpPort);
    g_port = u32(port);
    g_int_tcp_port = int(port);
    g_check_source = u8(num(ConfigItem::SourceCheck));
    g_zrv_max_pixel = u32(num(ConfigItem::ZrvMaxPixel_UINT));
    return 0;
}

int Utils::initIPAddress() {
    if (system_mutex(QStringLiteral("ifconfig eth0 >/dev/null 2>&1")) != 0) return 255;
    getIPAddress();
    QString ip, mask, gateway;
    {
        QMutexLocker lock(&settingsLock());
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    // These texts come from the settings file, the panel and the wire; only a
    // plain dotted quad may reach a command line.
    if (!isDottedQuad(ip) || !isDottedQuad(mask) || !isDottedQuad(gateway)) {
        writeLogMsg(ERROR, "network set-up refused: address, mask or gateway is not a dotted quad");
        return 255;
    }
    system_mutex(QStringLiteral("route del default wlan0"));
    system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2").arg(ip, mask));
    system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
    system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
    return 0;
}
