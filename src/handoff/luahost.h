#pragma once

#include <QByteArray>
#include <QList>

struct lua_State;

// The `skyvane` table that the hand-off script sees, for what plain Lua lacks:
//
//   skyvane.tag(path, {title=, album=, artist=, genre=})
//       Writes the given tags (UTF-8 texts; "" clears one, a missing key leaves
//       it) into the file with TagLib (see TagWriter). Gives true, or false and
//       the reason when the file is missing, lies outside the folders a script
//       may write in (LuaFileAccess), cannot carry tags, or would lose audio to
//       them; then the file is left as it was.
//   skyvane.music_folder()
//       The user's music folder (XDG_MUSIC_DIR, by default ~/Music).
//   skyvane.make_folder(path)
//       Creates the folder and its parents, inside the folders a script may
//       write in. Gives true, or false and the reason.
//   skyvane.file_name_safe(text)
//       The text made fit to be one file name (see TrackName::fileNameSafe).
//
// Wrong argument types raise a Lua error; trouble with files is reported in
// the results, so the script decides what it can do without.
namespace LuaHost {

// Installs the table as the global `skyvane`, writing only inside the given
// folders, which must outlive the state. May raise a Lua error (out of
// memory), so it runs inside a protected call.
void install(lua_State *state, const QList<QByteArray> &writableFolders);

} // namespace LuaHost
