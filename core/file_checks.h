#pragma once
// Size and shape checks of the files the program parses. Every such file
// can come from a PC, a USB stick or a torn write, so it is checked before
// any parser sees it: a file that fails at arrival is refused, one found on
// disk is kept aside (never removed: a maintainer may still recover what it
// holds) and the built-in values are used.
#include "core/logMsg.h"
#include "platform/fileops.h"

#include <QByteArray>
#include <QString>

#include <string>

namespace FileCheck {
// Largest alias file taken; a normal one is a few KiB.
constexpr long long kAliasMax = 64 * 1024;
// Largest OSD menu file taken; a normal one is a few KiB.
constexpr long long kOsdMenuMax = 1024 * 1024;
// Largest settings file taken.
constexpr long long kIniMax = 64 * 1024;
// Deepest JSON nesting taken: the alias file needs four levels.
constexpr int kJsonDepth = 16;

// True when every bracket of the JSON text is closed in order and no value
// nests deeper than maxDepth. Strings (with their escapes) are skipped, so
// a bracket inside a name counts for nothing. Says nothing else about the
// text: the parser still has to accept it.
bool jsonNestingWithin(const QByteArray& text, int maxDepth);

// The kinds of file the program checks on disk before it parses them.
enum class Checked { Settings, ParameterImage, UserMode, AliasNames, OsdMenu, Count };
// What the log calls a kind ("settings file", ...).
const char* checkedName(Checked kind);

// Where a refused file is kept: "<place>.refused", beside it. One copy, the
// newest: a later refusal of the same place replaces it.
constexpr const char* kKeptAsideSuffix = ".refused";
std::string keptAsidePath(const std::string& devicePath);
// True for a file name (no folder) of that shape. No list shows such a
// file, no upload may take its name, and the start-up clean-up leaves it.
bool keptAsideName(const std::string& fileName);
// Moves whatever stands at the device path (a file, a folder, a FIFO, a
// link) to its kept-aside place in one step, the older kept copy giving way
// where a rename cannot replace it (a folder). Writes no log line, so the
// log itself may keep aside what stands in its place. False, with errno
// saying why, when nothing could be moved.
bool moveAside(const std::string& devicePath);
// Moves a file found bad on disk to its kept-aside place, with a log line
// naming both and saying why. False when it could not be moved: the file is
// then left where it is, and the caller must not write over it this run.
// The line is the caller's place in the log (so is notTaken's).
bool keepAside(Checked kind, const std::string& devicePath, const std::string& why, LogPlace at = {});
// What a loader does with its kind's file when one read (FileOps::readFile)
// took nothing though something is there: anything but a regular file, or
// one larger than the kind, is kept aside (keepAside); one that cannot be
// opened or read is left in its place with a log line, since a read error
// says nothing of what it holds. True when the file stays in its place:
// the loader must not write over it this run.
bool notTaken(Checked kind, const std::string& devicePath, const FileOps::FileRead& read, LogPlace at = {});

// The one rule for the name of a file the device stores from the wire: 1 to
// 64 characters, each a letter, a digit, ".", "_" or "-", not "." or "..",
// not a name the start would remove from the folders such files go to
// (FileOps::isTemporaryName) and not a kept-aside one (keptAsideName).
constexpr size_t kNameMax = 64;
bool storedNameOk(const std::string& name);
// Whether a list of the folder (a device path) shows the file: in the
// device's own folders ("/data/...") a name of storedNameOk's shape but no
// kept-aside one, and never one a cut-off write left there (leftByCutWrite). Names on a USB
// stick are the operator's and are only kept from being such names.
bool listable(const QString& folder, const QString& name);

// The settings folder. The settings store hands its temporary to the
// settings library (QSettings), which locks it as "<temporary>.lock" and
// rewrites it through "<temporary>.XXXXXX" (six random characters); a cut
// leaves them.
constexpr const char* kSettingsFolder = "/data/configs";
// True for a file name that a write cut off left in the folder (a device
// path): in every folder the writer's temporary, in the settings folder also
// the library's files beside one. Anything else there is someone's file,
// a kept-aside one included.
bool leftByCutWrite(const QString& folder, const std::string& name);

// Every folder under "/data" the program writes files into.
constexpr const char* kWrittenFolders[] = {"/data",           kSettingsFolder,     "/data/modes",
                                           "/data/smartmapping", "/data/rcvrecovery", "/data/app",
                                           "/data/vimraqd/log"};
// Removes the temporary files a write cut off by a power cut or a kill left
// in those folders, with a log line each; the number removed. Run at start,
// before anything lists or reads them.
int removeLeftTemporaries();
}  // namespace FileCheck
