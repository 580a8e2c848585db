#pragma once

#include <optional>

#include <QByteArray>
#include <QList>

struct lua_State;

// What a hand-off script may do with files. Lua's io and os functions reach
// the whole file system as the user; a script could write into the program's
// own memory through /proc/self/mem, block on a device, or fill the process's
// descriptor table until the recordings and the event loop get none. So:
//
//   - writing (io.open in any mode but reading, io.output(name)), os.remove
//     and os.rename work only inside Skyvane's folders: the music folder and
//     $XDG_DATA_HOME/skyvane. The path is resolved first, as the system would:
//     "..", "." and symbolic links, the last one too (except for os.remove and
//     os.rename, which act on the link itself). The host's skyvane.tag and
//     skyvane.make_folder keep to the same folders (writeRefusal,
//     folderRefusal);
//   - nothing under /proc, /dev or /sys is opened at all, nor a pipe, socket or
//     device anywhere (io.open, io.lines, io.input, loadfile, dofile, require,
//     package.searchpath);
//   - os.tmpname and io.tmpfile are gone: their files live in /tmp;
//   - a script holds at most maxOpenFiles files at once (files it dropped are
//     collected before a refusal), and closeLeftOpen closes the rest after
//     each load and each call.
//
// The rule for paths is PathAccess; this applies it to the Lua functions.
//
// A refusal looks like any failed open: io.open, os.remove and os.rename give
// nil, "<path>: <reason>" and an error number; io.lines, io.input and
// io.output raise that text, as they do when the file cannot be opened.
namespace LuaFileAccess {

// Well under the descriptors Skyvane keeps free for storing the list and
// finishing tracks, so a greedy script never takes those.
constexpr int maxOpenFiles = 16;

// The folders a script may write in, as the user's settings name them.
QList<QByteArray> writableFolders();

// Wraps the io and os functions in the state, which has the io, os and
// package libraries. writableFolders must outlive the state. May raise a Lua
// error (out of memory), so it runs inside a protected call.
void install(lua_State *state, const QList<QByteArray> &writableFolders);

// Why a script may not write the file at path; nothing when it may.
std::optional<QByteArray> writeRefusal(const char *path, const QList<QByteArray> &writableFolders);
// Why a script may not make the folder at path with its parents; nothing
// when it may. The path is absolute and clean (no "." or ".."), as mkpath
// would make it; a missing writable folder itself may be made.
std::optional<QByteArray> folderRefusal(const char *path, const QList<QByteArray> &writableFolders);

// luaL_loadfilex(state, name, "t"), but a file a script may not read is
// refused with LUA_ERRFILE and "cannot open <name>: <reason>".
int loadText(lua_State *state, const char *name);

// package.searchpath(name, path [, sep [, rep]]), trying only files a script
// may read. A lua_CFunction.
int searchPath(lua_State *state);

// Closes the files the script opened and left open. A lua_CFunction for
// lua_pcall; closing may raise out of memory.
int closeLeftOpen(lua_State *state);

} // namespace LuaFileAccess
