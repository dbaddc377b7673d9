#include "platform/stick_file.h"

#include "platform/root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int StickFile::openForRead(const std::string& devicePath, std::string* why) {
    const std::string host = Root::path(devicePath);
    const int fd = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why) *why = "not a regular file";
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never wait for a writer; the flag goes so the
    // caller sees the plain file it asked for.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        if (why) *why = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}
