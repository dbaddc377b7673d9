#include "platform/root.h"

#include <cstdlib>

namespace {
std::string g_root;  // "" means the real "/"
}

namespace Root {

void setRoot(const std::string& folder) {
    std::string f = folder;
    while (!f.empty() && f.back() == '/') f.pop_back();
    g_root = f;
}

void setFromEnvironment() {
    const char* root = std::getenv("ZRV_ROOT");
    setRoot(root && *root ? root : "/");
}

const std::string& root() { return g_root; }

std::string path(const std::string& devicePath) {
    if (devicePath.empty() || devicePath[0] != '/') return devicePath;
    return g_root + devicePath;
}

QString qpath(const QString& devicePath) {
    return QString::fromStdString(path(devicePath.toStdString()));
}

}  // namespace Root
