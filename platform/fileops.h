#pragma once
// File work that a shell would otherwise do ("cp", "rm", "mv", "chmod",
// "sync", "chattr"), done in-process so it behaves the same on the board and
// in simulation. Every function takes device paths and resolves them under
// the root itself.
#include <QByteArray>
#include <functional>
#include <string>

namespace FileOps {
// Writes the whole file beside its place, flushes it, renames it over the old
// one and flushes the folder, so a power cut leaves the old or the new file.
bool writeFileAtomic(const std::string& devicePath, const QByteArray& data);
bool writeFileAtomic(const std::string& devicePath, const void* data, size_t len);
// The name writeFileAtomic writes beside its place: "<place>.new<pid>-<n>",
// a host path, unique in the process and across processes.
std::string temporaryPathFor(const std::string& devicePath);
// True for a file name (no folder) of the shape temporaryPathFor gives:
// "<name>.new<digits>-<digits>", ending there, <name> not empty. Such a file
// is never a finished one: nothing lists, reads or takes it. A name that
// goes on past the digits ("QDFR_hall.new2024-10.qdfile") is none.
bool isTemporaryName(const std::string& fileName);
// Test seam: while set, writeFileAtomic asks it before the rename and, when
// it says true, stops there as a power cut would (the temporary stays, the
// old file is untouched) and fails. Null removes it.
void setCutBeforeRename(std::function<bool(const std::string& devicePath)> cut);
// Test seam: while set, it is asked for the device path of every write,
// copy, rename, removal and folder creation; where it says true, the call
// fails as on a read-only file system (EROFS) and changes nothing. Null
// removes it.
void setReadOnly(std::function<bool(const std::string& devicePath)> readOnly);
// What one open or read of a stored file found.
struct FileRead {
    enum Outcome {
        Read,      // a regular file, opened (read whole by readFile)
        Missing,   // nothing there
        NotAFile,  // something else in the file's place (a folder, a FIFO, a device, a link)
        TooLarge,  // a regular file larger than the reader takes; not read
        Failed,    // there, but the open or a read failed: it may still hold a good file
    };
    Outcome outcome = Missing;
    std::string why;  // for the log line: what was found instead, or what failed
    explicit operator bool() const { return outcome == Read; }
};
// Whether the open follows a link in the file's place. A file the operator
// brings (a stick's) is taken only as itself.
enum class Links { Follow, Refuse };
// The one way a stored file is opened for reading. The open never waits (a
// FIFO in a file's place would hold the caller until some writer came, for
// good at start-up) and only a regular file is kept, judged on the opened
// descriptor. A read-only descriptor that blocks as a plain file's does, or
// -1 with found saying why. It is for reads of given lengths at given
// places (a package's parts); a whole file is read through readFile alone.
int openForRead(const std::string& devicePath, FileRead& found, Links links = Links::Follow);
// Reads the whole regular file through openForRead. Every stored file has
// a largest size of its kind, and there is no read without one: a file
// larger than maxBytes is not read (TooLarge), and never more than one
// byte past it, however much the file grows while it is read.
FileRead readFile(const std::string& devicePath, QByteArray& out, long long maxBytes);
// The same for a file named by its host path, outside the device's tree:
// the simulated board's scenario, which the environment names.
FileRead readFileOnHost(const std::string& hostPath, QByteArray& out, long long maxBytes);
bool exists(const std::string& devicePath);
// What stands at the device path, a link not followed: "a regular file",
// "a folder", "a FIFO", "a device node", "a socket", "a link", or "" for
// nothing.
std::string kindAt(const std::string& devicePath);
bool makeDirs(const std::string& devicePath);
bool removePath(const std::string& devicePath);  // file or folder tree; true when gone
// removePath, then flushes the folder that held it, so the removal itself
// survives a power cut without a global sync.
bool removeDurably(const std::string& devicePath);
bool renamePath(const std::string& fromDevicePath, const std::string& toDevicePath);
bool setPermissions(const std::string& devicePath, unsigned mode);
// "chattr +S": synchronous writes where the file system supports it.
bool setSyncFlag(const std::string& devicePath);
void syncAll();  // "sync"
}  // namespace FileOps
