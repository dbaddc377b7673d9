#include "core/file_checks.h"

#include "core/logMsg.h"
#include "platform/fileops.h"
#include "platform/root.h"

#include <QDirIterator>
#include <QFile>
#include <QList>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string>

namespace FileCheck {

bool jsonNestingWithin(const QByteArray& text, int maxDepth) {
    QByteArray open;  // the brackets still open, innermost last
    bool inString = false;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c) {
        case '"': inString = true; break;
        case '{':
        case '[':
            if (open.size() >= maxDepth) return false;
            open.append(c);
            break;
        case '}':
        case ']':
            if (open.isEmpty() || open.back() != (c == '}' ? '{' : '[')) return false;
            open.chop(1);
            break;
        default: break;
        }
    }
    return !inString && open.isEmpty();
}

const char* checkedName(Checked kind) {
    switch (kind) {
    case Checked::Settings: return "settings file";
    case Checked::ParameterImage: return "parameter image file";
    case Checked::UserMode: return "user-mode file";
    case Checked::AliasNames: return "alias file";
    case Checked::OsdMenu: return "OSD menu file";
    case Checked::Count: break;
    }
    return "file";
}

std::string keptAsidePath(const std::string& devicePath) { return devicePath + kKeptAsideSuffix; }

bool keptAsideName(const std::string& name) {
    const size_t n = std::char_traits<char>::length(kKeptAsideSuffix);
    return name.size() > n && name.compare(name.size() - n, n, kKeptAsideSuffix) == 0;
}

bool moveAside(const std::string& devicePath) {
    const std::string kept = keptAsidePath(devicePath);
    // A rename keeps the bytes as they were found and replaces an older
    // kept copy in one step; an older copy that it cannot replace (a
    // folder, or a file where a folder goes) gives way to the newer one.
    if (FileOps::renamePath(devicePath, kept)) return true;
    const int error = errno;
    if (error == EROFS || !FileOps::removePath(kept)) {
        errno = error;
        return false;
    }
    return FileOps::renamePath(devicePath, kept);
}

bool keepAside(Checked kind, const std::string& devicePath, const std::string& why, LogPlace at) {
    const std::string kept = keptAsidePath(devicePath);
    const bool moved = moveAside(devicePath);
    writeLogMsg(ERROR, std::string(checkedName(kind)) + " " + devicePath + " refused: " + why + "; " +
                           (moved ? "kept as " + kept : "cannot be kept aside, left as it is") +
                           "; built-in values used",
                at);
    return moved;
}

bool notTaken(Checked kind, const std::string& devicePath, const FileOps::FileRead& read, LogPlace at) {
    if (read.outcome != FileOps::FileRead::Failed) return !keepAside(kind, devicePath, read.why, at);
    writeLogMsg(ERROR,
                std::string(checkedName(kind)) + " " + devicePath + " cannot be read (" + read.why +
                    "); built-in values used, the file left as it is",
                at);
    return true;
}

namespace {

bool nameShapeOk(const std::string& name) {
    if (name.empty() || name.size() > kNameMax || name == "." || name == "..") return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

// "<temporary>.lock" or "<temporary>.XXXXXX": six random characters, which
// the library draws from letters; digits are taken too.
bool settingsLibraryFile(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || !FileOps::isTemporaryName(name.substr(0, dot))) return false;
    const std::string tail = name.substr(dot + 1);
    if (tail == "lock") return true;
    return tail.size() == 6 &&
           std::all_of(tail.begin(), tail.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

}  // namespace

bool storedNameOk(const std::string& name) {
    return nameShapeOk(name) && !FileOps::isTemporaryName(name) && !keptAsideName(name);
}

bool leftByCutWrite(const QString& folder, const std::string& name) {
    return FileOps::isTemporaryName(name) ||
           (folder == QLatin1String(kSettingsFolder) && settingsLibraryFile(name));
}

bool listable(const QString& folder, const QString& name) {
    const std::string n = QFile::encodeName(name).toStdString();
    const bool own = folder == QLatin1String("/data") || folder.startsWith(QLatin1String("/data/"));
    return (!own || (nameShapeOk(n) && !keptAsideName(n))) && !leftByCutWrite(folder, n);
}

int removeLeftTemporaries() {
    // Run once, at the start: a line for each file removed, all of them.
    const LogWhole whole;
    int removed = 0;
    for (const char* folder : kWrittenFolders) {
        // Files only, this folder only; a link is removed, never followed.
        QDirIterator it(Root::qpath(QString::fromLatin1(folder)), QDir::Files | QDir::Hidden | QDir::System);
        while (it.hasNext()) {
            it.next();
            const std::string name = QFile::encodeName(it.fileName()).toStdString();
            if (!leftByCutWrite(QString::fromLatin1(folder), name)) continue;
            const std::string devicePath = std::string(folder) + "/" + name;
            const bool gone = FileOps::removeDurably(devicePath);
            writeLogMsg(WARNING, devicePath + " left unfinished by a write that was cut off; " +
                                     (gone ? "removed" : "cannot be removed"));
            if (gone) ++removed;
        }
    }
    return removed;
}

}  // namespace FileCheck
