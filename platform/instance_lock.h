#pragma once
// One program per device root. Two programs on one root would be two
// writers of one parameter image and one settings file and two drivers of
// one board, so a start that finds another running ends before it touches
// a file or a device.
//
// The guard is a POSIX record lock (fcntl) on kLockFile under the root: the
// kernel drops it when its holder ends however it ends (a crash, kill -9, a
// power cut), so nothing is left to clean up and no stale lock can refuse a
// start; and the kernel names the holder's process id to whoever asks. The
// file lies beside the program the device's loader starts, a folder every
// device has that no reset empties; it stays empty (a lock writes nothing,
// no flash wear), and the program never opens it elsewhere (closing any
// descriptor of the file would drop a record lock).
#include <string>

#include <sys/types.h>

namespace InstanceLock {

constexpr const char* kLockFile = "/data/app/zrvK57N.lock";

struct Outcome {
    enum State {
        Held,         // this process holds the lock for the rest of its run
        HeldByOther,  // another process holds it: holder (0 when the kernel
                      // cannot name it, as from another process namespace)
        Unguarded,    // no lock could be taken at all (a root that cannot
                      // be written): problem says why
    } state = Unguarded;
    pid_t holder = 0;
    std::string problem;
};

// Takes the lock once, before anything else of the start; kept until the
// process ends. Anything but a regular file in its place is first kept
// aside as "<place>.refused", with a log line.
Outcome take();

}  // namespace InstanceLock
