#include "core/usb_packages.h"

#include "core/file_checks.h"
#include "core/logMsg.h"
#include "platform/root.h"

#include <QDirIterator>
#include <QFileInfo>

namespace UsbPackages {

QString folder(const QString& setting) {
    const QString stick = QStringLiteral("/mnt/usb1/");
    if (setting == QLatin1String(" ")) return stick;
    if (setting.contains('/') || setting.contains(QLatin1String("..")))
        return stick + QLatin1String(kDefaultFolder);
    return stick + setting;
}

Listing scan(const QString& setting) {
    Listing out;
    QString dir = folder(setting);
    if (!dir.endsWith('/')) dir += '/';
    // Without QDir::Hidden and with NoSymLinks the iterator gives plain files
    // and leaves hidden entries out; it keeps the directory's order.
    QDirIterator it(Root::qpath(dir), QDir::Files | QDir::NoSymLinks);
    while (it.hasNext() && out.count() < kMaxPackages) {
        it.next();
        const QString name = it.fileName();
        const int dot = name.lastIndexOf('.');
        if (dot < 0 || !FileCheck::listable(dir, name)) continue;
        const QStringRef suffix = name.midRef(dot + 1);
        const bool zrv = suffix == QLatin1String("ZRV");
        if (!zrv && suffix != QLatin1String("ZRVZK")) continue;
        const int i = out.count();
        out.paths << dir + name;
        debugPrintf("%s\n", qPrintable(out.paths.back()));
        if (zrv) {
            if (out.zrvCount == 0) out.highlight[size_t(i)] = 1;
            ++out.zrvCount;
        } else {
            out.highlight[size_t(i)] = 1;
        }
    }
    return out;
}

QString fileName(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

}  // namespace UsbPackages
