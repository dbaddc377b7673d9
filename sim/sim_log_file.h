#pragma once
// A text log of the simulated board under the root (the FPGAs' writes, the
// GPIO lines, the recorded shell commands), cut at a size: the line that
// would take the file past its limit first renames it to "<file>.1",
// replacing the one before, and starts the file anew. A PC run left for
// days keeps at most two files of the limit each, the newest lines last.
// Locked: the models append from whichever thread drives them.
#include "core/logMsg.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// The one way the simulated board opens a file of its own (its logs, its
// flash images, its EEPROMs, its MTD devices), as the program opens its
// stored files: the open never waits (a FIFO in the file's place would hold
// the model, and whichever lock its caller holds, until a reader came) and
// only a regular file, or a new one, is kept, judged on the descriptor.
// Anything else is refused with a log line naming it; the caller skips its
// write. The folder is made first when create is set. flags: O_RDWR or
// O_WRONLY with O_APPEND, O_TRUNC, O_CREAT as wanted. A descriptor that
// blocks as a plain file's does, or -1.
int simOpenFile(const std::string& hostPath, int flags, LogPlace at = {});

class SimLogFile {
public:
    static constexpr uint64_t kDefaultLimit = uint64_t(4) << 20;

    explicit SimLogFile(uint64_t limit = kDefaultLimit) : m_limit(limit ? limit : 1) {}
    ~SimLogFile();
    SimLogFile(const SimLogFile&) = delete;
    SimLogFile& operator=(const SimLogFile&) = delete;

    // Appends line and a line end to the file at hostPath (created with its
    // folder when missing; a new path closes the file of the one before).
    void append(const std::string& hostPath, const std::string& line);

private:
    bool openLocked(const std::string& hostPath);
    void closeLocked();

    std::mutex m_mutex;
    const uint64_t m_limit;
    std::string m_path;
    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
};
