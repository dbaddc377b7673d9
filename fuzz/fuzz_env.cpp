#include "fuzz_env.h"

#include "platform/fileops.h"

#include <QFile>

namespace fuzzenv {

bool place(const std::string& devicePath, const uint8_t* data, size_t size) {
    FileOps::makeDirs(devicePath.substr(0, devicePath.find_last_of('/')));
    QFile f(Root::qpath(QString::fromStdString(devicePath)));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size);
}

}  // namespace fuzzenv
