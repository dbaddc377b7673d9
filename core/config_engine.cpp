#include "core/config_engine.h"

#include "core/file_checks.h"
#include "core/line_limiter.h"
#include "core/logMsg.h"
#include "core/usb_packages.h"
#include "core/utils.h"
#include "platform/board.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QSettings>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>


ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, ConfigItem::ConfigName> ConfigItem::_itemMap;

ConfigItem::ConfigItem(const QString& k, ConfigName i, const QVariant& def, bool ns, quint8 num, const QString& path)
    : key(k), id(i), defaultValue(def), noSave(ns), number(num), filePath(path) {
    _itemMap.insert(key, id);
}

namespace {

bool isEmptyValue(const QVariant& v) { return !v.isValid() || v.toString().isEmpty(); }

// The settings library reads a UTF-8 byte-order mark at the start of the
// file as one, but still reports the file as malformed; without it the text
// reads the same.
QByteArray withoutByteOrderMark(QByteArray text) {
    static const QByteArray mark = QByteArrayLiteral("\xEF\xBB\xBF");
    if (text.startsWith(mark)) text.remove(0, mark.size());
    return text;
}

// The settings library reads and writes only files: a scratch copy of the
// text for it, beside the file at the device path under the writer's
// temporary name (a kill leaves it to the start-up clean-up), else in the
// temporary folder when the settings folder takes no file. Removed when it
// goes.
class IniScratch {
public:
    IniScratch(const char* devicePath, const QByteArray& text) {
        const QString beside = QFile::decodeName(FileOps::temporaryPathFor(devicePath).c_str());
        QFile f(beside);
        if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_path = beside;
            m_ok = f.write(text) == text.size();
            f.close();
            m_ok = m_ok && f.error() == QFileDevice::NoError;
            return;
        }
        m_temp = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/zrv-settings-XXXXXX"));
        if (!m_temp->open()) return;
        m_path = m_temp->fileName();
        m_ok = m_temp->write(text) == text.size() && m_temp->flush();
    }
    ~IniScratch() {
        if (!m_temp && !m_path.isEmpty()) QFile::remove(m_path);
    }
    IniScratch(const IniScratch&) = delete;
    IniScratch& operator=(const IniScratch&) = delete;

    bool ok() const { return m_ok; }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    bool m_ok = false;
    std::unique_ptr<QTemporaryFile> m_temp;
};

// An INI file as one read of it found it.
struct IniFile {
    enum State { Missing, Unreadable, Refused, Read } state = Missing;
    QByteArray text;                  // the bytes read (Read)
    QMap<QString, QVariant> values;   // what the settings library reads from them (Read)
    std::string why;                  // Unreadable, Refused
};

// Reads the INI file at the device path once and has the settings library
// parse exactly those bytes: a second read could find other bytes, or fail
// where the first did not. The file is refused when it is no regular file,
// larger than a settings file may be or the library finds it malformed.
IniFile readIniOnce(const char* devicePath) {
    IniFile ini;
    const FileOps::FileRead read = FileOps::readFile(devicePath, ini.text, FileCheck::kIniMax);
    ini.why = read.why;
    switch (read.outcome) {
    case FileOps::FileRead::Missing: return ini;
    case FileOps::FileRead::NotAFile:
    case FileOps::FileRead::TooLarge: ini.state = IniFile::Refused; return ini;
    case FileOps::FileRead::Failed: ini.state = IniFile::Unreadable; return ini;
    case FileOps::FileRead::Read: break;
    }
    ini.state = IniFile::Refused;
    const IniScratch scratch(devicePath, withoutByteOrderMark(ini.text));
    if (!scratch.ok()) {
        ini.state = IniFile::Unreadable;
        ini.why = "no scratch copy can be made for the settings library";
        return ini;
    }
    const QSettings settings(scratch.path(), QSettings::IniFormat);
    // The library reads the file at its first look-up, and only then knows.
    const QStringList keys = settings.allKeys();
    if (settings.status() != QSettings::NoError) {
        ini.why = "the settings library finds it malformed";
        return ini;
    }
    for (const QString& key : keys) ini.values.insert(key, settings.value(key));
    ini.state = IniFile::Read;
    return ini;
}

// Sets the keys in the INI file at the device path in one rewrite.
// QSettings formats the text in a scratch copy, and the result replaces the
// file whole: a power cut then leaves the old file or the new one, never
// some keys of a change without the others. The keys go over `base`, the
// bytes of the file as the caller read it, when given; else the file is read
// here, no larger than a settings file may be. A missing file starts
// empty. One the start would refuse (no regular file, too large) is, when
// `whole` is given, refused as the start refuses it: kept aside, and the
// new file holds `whole`, every value. One that is there but cannot be read
// is left as it is, since a rewrite would hold only these keys, and so is
// one the library finds malformed, whose rewrite would drop what it could
// not read.
ConfigEngine::WriteFault storeIni(const char* devicePath, QList<QPair<QString, QVariant>> values,
                                  const QByteArray* base = nullptr,
                                  const QList<QPair<QString, QVariant>>* whole = nullptr, LogPlace at = {}) {
    using Fault = ConfigEngine::WriteFault;
    using FileOps::FileRead;
    QByteArray text;
    if (base) {
        text = *base;
    } else if (const FileRead read = FileOps::readFile(devicePath, text, FileCheck::kIniMax); !read) {
        const bool refused = read.outcome == FileRead::NotAFile || read.outcome == FileRead::TooLarge;
        if (refused && whole && FileCheck::keepAside(FileCheck::Checked::Settings, devicePath, read.why, at)) {
            values = *whole;
        } else if (read.outcome != FileRead::Missing) {
            // A PC may send its network settings as fast as they are refused.
            static LineLimiter unread(LineLimiter::logCount(ERROR, "settings", "writes refused, the file unread"));
            unread.occur([&] {
                writeLogMsg(ERROR, std::string("settings: ") + devicePath + " cannot be read; not rewritten", at);
            });
            return Fault::Unreadable;
        }
        text.clear();
    }
    const IniScratch scratch(devicePath, withoutByteOrderMark(text));
    bool ok = scratch.ok();
    if (ok) {
        QSettings settings(scratch.path(), QSettings::IniFormat);
        // Nothing to change is judged by the file, never by what memory
        // holds: after a start that could not read it the two differ.
        const bool same = std::all_of(values.begin(), values.end(), [&](const QPair<QString, QVariant>& kv) {
            return settings.contains(kv.first) && settings.value(kv.first).toString() == kv.second.toString();
        });
        if (same && settings.status() == QSettings::NoError) return Fault::None;
        for (const auto& kv : values) settings.setValue(kv.first, kv.second);
        settings.sync();
        ok = settings.status() == QSettings::NoError;
    }
    QFile copy(scratch.path());
    ok = ok && copy.open(QIODevice::ReadOnly);
    if (ok) text = copy.readAll();
    ok = ok && copy.error() == QFileDevice::NoError;
    copy.close();
    return ok && FileOps::writeFileAtomic(devicePath, text) ? Fault::None : Fault::NotWritten;
}

}  // namespace

ConfigEngine::ConfigEngine() { buildItems(); }

void ConfigEngine::buildItems() {
    const QString file = QString::fromLatin1(kIniFile);
    FileOps::makeDirs("/data/configs");
    // The settings come from one read of the file. One that cannot be read
    // may hold good settings: the built-in values serve this start and the
    // file is left for a later one. One the check refuses is kept aside and
    // a new one starts from the defaults.
    const IniFile stored = readIniOnce(kIniFile);
    bool writable = true;
    if (stored.state == IniFile::Unreadable) {
        writeLogMsg(ERROR, std::string("settings: ") + kIniFile + " cannot be read (" + stored.why +
                               "); built-in values used, the file is not written this run");
        writable = false;
    } else if (stored.state == IniFile::Refused) {
        writable = FileCheck::keepAside(FileCheck::Checked::Settings, kIniFile, stored.why);
    }
    const QByteArray base = stored.state == IniFile::Read ? stored.text : QByteArray();
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
    for (const Def& d : defs) {
        ConfigItem item(QString::fromLatin1(d.key), d.id, d.def, false, d.number, file);
        const QVariant value = stored.values.value(item.key);
        if (!isEmptyValue(value)) {
            item.value = value;
        } else if (!isEmptyValue(item.defaultValue)) {
            item.value = item.defaultValue;
            if (!item.noSave) defaults.append({item.key, item.value});
        }
        m_items.push_back(item);
    }
    // The missing keys go over the bytes read above, never over a new read.
    if (writable && !defaults.isEmpty() && storeIni(kIniFile, defaults, &base) != WriteFault::None)
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
    const IniFile loader = readIniOnce(kLoaderIni);
    const QString app = loader.values.value(QStringLiteral("app-1/app_path")).toString();
    g_update_status = (app == QLatin1String(kLoaderApp)) ? 1 : 0;
    factoryage_log.clear();
    factoryage_log_num = 0;
}

bool ConfigEngine::write_loader_keys() {
    const IniFile loader = readIniOnce(kLoaderIni);
    if (loader.state == IniFile::Unreadable || loader.state == IniFile::Refused) {
        writeLogMsg(ERROR, std::string("loader: ") + kLoaderIni + " not taken (" + loader.why + "); left as it is");
        return false;
    }
    FileOps::makeDirs("/data/configs");
    return storeIni(kLoaderIni,
                    {{QStringLiteral("app-1/app_path"), QString::fromLatin1(kLoaderApp)},
                     {QStringLiteral("app-1/app_name"), QStringLiteral("zrvK57N")}},
                    &loader.text) == WriteFault::None;
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
    std::vector<QVariant> next;  // every item's value once the write is done
    for (const ConfigItem& item : m_items) next.push_back(item.value);
    QList<QPair<QString, QVariant>> stored, whole;
    for (const auto& v : values) {
        if (v.first < 0 || size_t(v.first) >= m_items.size()) return false;
        const ConfigItem& item = m_items[size_t(v.first)];
        if (!item.noSave) stored.append({item.key, v.second});
        next[size_t(v.first)] = v.second;
    }
    // What a new file holds in place of a refused one.
    for (const ConfigItem& item : m_items)
        if (!item.noSave) whole.append({item.key, next[size_t(item.id)]});
    // Every item lives in the one settings file.
    why = stored.isEmpty() ? WriteFault::None : storeIni(kIniFile, stored, nullptr, &whole);
    if (why != WriteFault::None) return false;
    for (const auto& v : values) m_items[size_t(v.first)].value = v.second;
    return true;
}

bool ConfigEngine::write_network(const QString& ip, const QString& mask, const QString& gateway, WriteFault* fault) {
    return write_config_variants(
        {{ConfigItem::IPAddress, ip}, {ConfigItem::SubNetMask, mask}, {ConfigItem::GateWay, gateway}}, fault);
}

ConfigEngine::NetworkFault ConfigEngine::apply_network(const QString& ip, const QString& mask,
                                                       const QString& gateway) {
    WriteFault fault = WriteFault::None;
    if (!write_network(ip, mask, gateway, &fault))
        return fault == WriteFault::Unreadable ? NetworkFault::Unreadable : NetworkFault::NotWritten;
    return Utils::initIPAddress() == 0 ? NetworkFault::None : NetworkFault::NotTaken;
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
    int missing = 0;
    if (system_mutex(QStringLiteral("ifconfig eth0 >/dev/null 2>&1"), &missing) != 0) {
        writeLogMsg(ERROR, "network set-up: no eth0 interface (ifconfig eth0 ended with status " +
                               std::to_string(missing) + "), address not set");
        return 255;
    }
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
    int status = 0;
    const bool taken = system_mutex(QStringLiteral("ifconfig eth0 %1 netmask %2").arg(ip, mask), &status) == 0;
    system_mutex(QStringLiteral("route add -host %1 dev eth0").arg(gateway));
    system_mutex(QStringLiteral("route add default gw %1 metric 100").arg(gateway));
    system_mutex(QStringLiteral("route add -host 255.255.255.255 eth0"));
    system_mutex(QStringLiteral("route del 255.255.255.255 wlan1"));
    // The routes' own failures change nothing of the address; a set-up the
    // interface did not take is no set-up. A PC may ask as often as it is
    // answered: the log's limit of the place keeps it to a few lines.
    if (taken) return 0;
    writeLogMsg(ERROR, "network set-up: eth0 did not take " + ip.toStdString() + " netmask " + mask.toStdString() +
                           " (ifconfig ended with status " + std::to_string(status) + ")");
    return 255;
}
