#include "ui/service/scan_files.h"

#include "core/file_checks.h"
#include "platform/root.h"

#include <QDirIterator>

#include <algorithm>

namespace ScanFiles {

bool isScanFile(const QString& name) {
    if (name.startsWith(QLatin1String("QDFR"))) return true;
    const int dot = name.lastIndexOf('.');
    return dot >= 0 && name.midRef(dot + 1) == QLatin1String("qdfile");
}

QStringList listFolder(const QString& dir, int room) {
    QStringList out;
    if (room <= 0) return out;
    QString prefix = dir;
    if (!prefix.endsWith('/')) prefix += '/';
    // Without QDir::Hidden and with NoSymLinks the iterator gives plain files
    // and leaves hidden entries out; it keeps the directory's order.
    QDirIterator it(Root::qpath(prefix), QDir::Files | QDir::NoSymLinks);
    while (it.hasNext() && out.size() < room) {
        it.next();
        if (isScanFile(it.fileName()) && FileCheck::listable(dir, it.fileName())) out << prefix + it.fileName();
    }
    return out;
}

Listing list() {
    Listing out;
    out.paths = listFolder(QString::fromLatin1(kDeviceDir), kMaxOffered);
    out.fromDevice = out.total();
    out.paths += listFolder(QString::fromLatin1(kStickDir), kMaxOffered - out.fromDevice);
    return out;
}

int lastPage(int total) { return total <= 0 ? 0 : (total - 1) / kPageRows; }

int rowsOnPage(int total, int page) {
    if (page < 0) return 0;
    return std::clamp(total - page * kPageRows, 0, kPageRows);
}

QString shownName(const QString& path) {
    QString name = path.mid(path.lastIndexOf('/') + 1);
    name.remove('\n');
    name.remove('\r');
    return name;
}

}  // namespace ScanFiles
