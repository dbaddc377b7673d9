// Stands in front of the C library's read() for the whole test program (the
// program's code, Qt and the sanitizers' own interceptor behind it): while
// nothing is armed it only passes the call on.
#include "read_faults.h"

#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::atomic<bool> g_armed{false};
std::mutex g_mutex;
std::string g_path;
std::set<int> g_failing;
std::set<int> g_failingFds;  // descriptors whose current pass fails
int g_passes = 0;

std::string pathOf(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

bool failHere(int fd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (pathOf(fd) != g_path) return false;
    if (::lseek(fd, 0, SEEK_CUR) == 0) {
        g_failingFds.erase(fd);
        if (g_failing.count(++g_passes)) g_failingFds.insert(fd);
    }
    return g_failingFds.count(fd) != 0;
}

}  // namespace

namespace ReadFaults {

void arm(const std::string& hostPath, std::set<int> failing) {
    std::lock_guard<std::mutex> lock(g_mutex);
    char real[PATH_MAX];
    g_path = ::realpath(hostPath.c_str(), real) ? std::string(real) : hostPath;
    g_failing = std::move(failing);
    g_failingFds.clear();
    g_passes = 0;
    g_armed.store(true);
}

void disarm() {
    g_armed.store(false);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_path.clear();
    g_failingFds.clear();
}

int passes() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_passes;
}

}  // namespace ReadFaults

extern "C" ssize_t read(int fd, void* buf, size_t count) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(::dlsym(RTLD_NEXT, "read"));
    if (g_armed.load() && failHere(fd)) {
        errno = EIO;
        return -1;
    }
    return real(fd, buf, count);
}
