#pragma once

#include <QByteArray>
#include <QList>

// The rule for the paths a hand-off script names (LuaFileAccess applies it):
// where it may write, and what it may never open. Plain C++ over the file
// system that never touches a Lua state, so a Lua error never unwinds it.
namespace PathAccess {

// How a script means to use a path.
enum class Use {
    Read,  // open for reading
    Write, // open for writing: inside Skyvane's folders only
    Entry, // remove or rename: the directory entry, a link not followed
};

enum class Verdict { Allowed, SystemFolder, NotAFile, OutsideFolders, TooManyOpen, Failed };

struct Check
{
    Verdict verdict = Verdict::Allowed;
    int error = 0; // errno, for Failed

    bool allowed() const { return verdict == Verdict::Allowed; }
};

// Whether name may be used so. The path is resolved as the system would open
// it: "." and "..", and the links on the way, the last one too except for an
// Entry. Nothing passing through /proc, /dev or /sys, and no pipe, socket or
// device, is opened; writing stays inside writableFolders, as they resolve
// now. A path that cannot be resolved fails with the system's errno.
Check check(const char *name, Use use, const QList<QByteArray> &writableFolders) noexcept;
// Whether the folder at path (absolute and clean, as mkpath makes it) may be
// made with its parents: where a file may be written, or a missing writable
// folder itself.
Check checkFolder(const char *path, const QList<QByteArray> &writableFolders) noexcept;

// Why a check refused, for people, and as an error number for io.open's third result.
const char *reason(const Check &check);
int errorNumber(const Check &check);

} // namespace PathAccess
