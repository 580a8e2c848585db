#pragma once

#include <QByteArray>
#include <QList>

struct lua_State;

// The standard libraries a hand-off script gets: Lua's own, less what no limit
// could stop. The instruction and time limits work through a count hook, which
// Lua runs only between the instructions of Lua functions, never inside a C
// function nor inside a finalizer; whatever could block, crash or end Skyvane
// outside the hook's reach is left out:
//
//   - the debug library (debug.sethook would switch the limits off);
//   - os.execute, io.popen (a child process blocks its caller), os.exit,
//     os.setlocale (the locale is the whole process's, other threads read it),
//     io.stdin, and standard input as the default input (io.read() reads
//     /dev/null instead of waiting for a terminal);
//   - C libraries: package.loadlib, the C searchers of require, package.cpath;
//   - precompiled chunks, which can crash the interpreter: load, loadfile,
//     dofile and require read text only, and loadfile and dofile need a file
//     name (without one they would read standard input);
//   - finalizers: setmetatable refuses a metatable with __gc, and the metatable
//     of files is hidden, so no script code runs inside the collector or when
//     the state closes.
//
// Files are opened, written, removed and renamed as LuaFileAccess allows.
namespace LuaSandbox {

// Opens the libraries into the state, with writing limited to the given
// folders, which must outlive the state. May raise a Lua error (out of
// memory), so it runs inside a protected call.
void open(lua_State *state, const QList<QByteArray> &writableFolders);

} // namespace LuaSandbox
