#include "handoff/luafileaccess.h"

#include <cstdio>
#include <cstring>

#include <lua.hpp>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include "handoff/pathaccess.h"

namespace {

using PathAccess::Check;
using PathAccess::Use;
using PathAccess::Verdict;

// The registry key of the table (weak keys) of the files the script opened.
const char openedFilesKey = 0;

// nil, "<name>: <reason>" and the error number, as io.open fails.
int pushRefusal(lua_State *L, const char *name, const Check &check)
{
    luaL_pushfail(L);
    lua_pushfstring(L, "%s: %s", name, PathAccess::reason(check));
    lua_pushinteger(L, PathAccess::errorNumber(check));
    return 3;
}

int raiseRefusal(lua_State *L, const char *name, const Check &check)
{
    lua_pushfstring(L, "%s: %s", name, PathAccess::reason(check));
    return lua_error(L);
}

const QList<QByteArray> &writableFolders(lua_State *L)
{
    return *static_cast<const QList<QByteArray> *>(lua_touserdata(L, lua_upvalueindex(2)));
}

// The files the script opened that are still open; closed ones are forgotten.
int openCount(lua_State *L)
{
    int count = 0;
    lua_rawgetp(L, LUA_REGISTRYINDEX, &openedFilesKey);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        lua_pop(L, 1);
        const auto *stream = static_cast<luaL_Stream *>(luaL_testudata(L, -1, LUA_FILEHANDLE));
        if (stream && stream->closef) {
            ++count;
        } else {
            lua_pushvalue(L, -1);
            lua_pushnil(L);
            lua_rawset(L, -4);
        }
    }
    lua_pop(L, 1);
    return count;
}

void track(lua_State *L, int index)
{
    if (!luaL_testudata(L, index, LUA_FILEHANDLE))
        return;
    index = lua_absindex(L, index);
    lua_rawgetp(L, LUA_REGISTRYINDEX, &openedFilesKey);
    lua_pushvalue(L, index);
    lua_pushboolean(L, 1);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

// Whether the script may open name now: the rule, and a place under the cap.
Check mayOpen(lua_State *L, const char *name, Use use)
{
    const Check found = PathAccess::check(name, use, writableFolders(L));
    if (!found.allowed())
        return found;
    if (openCount(L) >= LuaFileAccess::maxOpenFiles) {
        // Files dropped without closing them (io.open(p):read("a")) are
        // closed by the collector: first collect them.
        lua_gc(L, LUA_GCCOLLECT);
        if (openCount(L) >= LuaFileAccess::maxOpenFiles)
            return {Verdict::TooManyOpen};
    }
    return {};
}

// Runs the wrapped library function (upvalue 1) on the arguments, whose
// results then fill the stack from index 1.
int callWrapped(lua_State *L)
{
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// io.open(name [, mode]): reading is "r" with nothing but "b" after it.
int openFile(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    const char *mode = luaL_optstring(L, 2, "r");
    const bool reading = mode[0] == 'r' && !std::strchr(mode, '+');
    const Check allowed = mayOpen(L, name, reading ? Use::Read : Use::Write);
    if (!allowed.allowed())
        return pushRefusal(L, name, allowed);
    const int results = callWrapped(L);
    track(L, 1);
    return results;
}

// io.lines([name, ...]): its fourth result is the file it opened.
int lines(lua_State *L)
{
    if (!lua_isnoneornil(L, 1)) {
        const char *name = luaL_checkstring(L, 1);
        const Check allowed = mayOpen(L, name, Use::Read);
        if (!allowed.allowed())
            return raiseRefusal(L, name, allowed);
    }
    const int results = callWrapped(L);
    if (results >= 4)
        track(L, 4);
    return results;
}

// io.input([file]) and io.output([file]): a name opens a new default file.
int setDefaultFile(lua_State *L, Use use)
{
    const bool named = lua_isstring(L, 1);
    if (named) {
        const char *name = lua_tostring(L, 1);
        const Check allowed = mayOpen(L, name, use);
        if (!allowed.allowed())
            return raiseRefusal(L, name, allowed);
    }
    const int results = callWrapped(L);
    if (named)
        track(L, 1);
    return results;
}

int input(lua_State *L)
{
    return setDefaultFile(L, Use::Read);
}

int output(lua_State *L)
{
    return setDefaultFile(L, Use::Write);
}

int removeFile(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    const Check allowed = PathAccess::check(name, Use::Entry, writableFolders(L));
    if (!allowed.allowed())
        return pushRefusal(L, name, allowed);
    return callWrapped(L);
}

int renameFile(lua_State *L)
{
    for (int index : {1, 2}) {
        const char *name = luaL_checkstring(L, index);
        const Check allowed = PathAccess::check(name, Use::Entry, writableFolders(L));
        if (!allowed.allowed())
            return pushRefusal(L, name, allowed);
    }
    return callWrapped(L);
}

// What require's search looks for: a file the script may read that opens.
bool isReadable(const char *file)
{
    if (!PathAccess::check(file, Use::Read, {}).allowed())
        return false;
    std::FILE *opened = std::fopen(file, "r");
    if (!opened)
        return false;
    std::fclose(opened);
    return true;
}

void wrap(lua_State *L, const char *library, const char *name, lua_CFunction wrapper,
          const QList<QByteArray> &folders)
{
    lua_getglobal(L, library);
    lua_getfield(L, -1, name);
    lua_pushlightuserdata(L, const_cast<QList<QByteArray> *>(&folders));
    lua_pushcclosure(L, wrapper, 2);
    lua_setfield(L, -2, name);
    lua_pop(L, 1);
}

void drop(lua_State *L, const char *library, const char *name)
{
    lua_getglobal(L, library);
    lua_pushnil(L);
    lua_setfield(L, -2, name);
    lua_pop(L, 1);
}

} // namespace

namespace LuaFileAccess {

QList<QByteArray> writableFolders()
{
    QList<QByteArray> folders;
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty())
        folders.append(QFile::encodeName(QDir::cleanPath(music)));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!data.isEmpty())
        folders.append(QFile::encodeName(QDir::cleanPath(data + QStringLiteral("/skyvane"))));
    return folders;
}

void install(lua_State *L, const QList<QByteArray> &folders)
{
    lua_newtable(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "k");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_rawsetp(L, LUA_REGISTRYINDEX, &openedFilesKey);

    wrap(L, LUA_IOLIBNAME, "open", &openFile, folders);
    wrap(L, LUA_IOLIBNAME, "lines", &lines, folders);
    wrap(L, LUA_IOLIBNAME, "input", &input, folders);
    wrap(L, LUA_IOLIBNAME, "output", &output, folders);
    wrap(L, LUA_OSLIBNAME, "remove", &removeFile, folders);
    wrap(L, LUA_OSLIBNAME, "rename", &renameFile, folders);
    drop(L, LUA_OSLIBNAME, "tmpname");
    drop(L, LUA_IOLIBNAME, "tmpfile");
}

std::optional<QByteArray> writeRefusal(const char *path, const QList<QByteArray> &folders)
{
    const Check allowed = PathAccess::check(path, Use::Write, folders);
    if (allowed.allowed())
        return std::nullopt;
    return QByteArray(PathAccess::reason(allowed));
}

std::optional<QByteArray> folderRefusal(const char *path, const QList<QByteArray> &folders)
{
    const Check allowed = PathAccess::checkFolder(path, folders);
    if (allowed.allowed())
        return std::nullopt;
    return QByteArray(PathAccess::reason(allowed));
}

int loadText(lua_State *L, const char *name)
{
    const Check allowed = PathAccess::check(name, Use::Read, {});
    if (!allowed.allowed()) {
        lua_pushfstring(L, "cannot open %s: %s", name, PathAccess::reason(allowed));
        return LUA_ERRFILE;
    }
    return luaL_loadfilex(L, name, "t");
}

int searchPath(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    const char *path = luaL_checkstring(L, 2);
    const char *separator = luaL_optstring(L, 3, ".");
    const char *replacement = luaL_optstring(L, 4, LUA_DIRSEP);
    if (*separator != '\0' && std::strstr(name, separator))
        name = luaL_gsub(L, name, separator, replacement);
    // The files tried, as one message: "no file 'a'\n\tno file 'b'".
    const int tried = lua_gettop(L) + 1;
    lua_pushliteral(L, "");
    for (const char *begin = path;; ++begin) {
        const char *end = std::strchr(begin, *LUA_PATH_SEP);
        if (!end)
            end = begin + std::strlen(begin);
        if (end > begin) {
            lua_pushlstring(L, begin, size_t(end - begin));
            const char *file = luaL_gsub(L, lua_tostring(L, -1), LUA_PATH_MARK, name);
            if (isReadable(file))
                return 1;
            lua_pushfstring(L, lua_rawlen(L, tried) ? "\n\tno file '%s'" : "no file '%s'", file);
            lua_replace(L, -3);
            lua_pop(L, 1);
            lua_concat(L, 2);
        }
        if (*end == '\0')
            break;
        begin = end;
    }
    luaL_pushfail(L);
    lua_insert(L, -2);
    return 2;
}

int closeLeftOpen(lua_State *L)
{
    if (lua_rawgetp(L, LUA_REGISTRYINDEX, &openedFilesKey) != LUA_TTABLE)
        return 0;
    lua_pushnil(L);
    while (lua_next(L, -2)) {
        lua_pop(L, 1);
        const auto *stream = static_cast<luaL_Stream *>(luaL_testudata(L, -1, LUA_FILEHANDLE));
        // The library's own closing (files' __close), which a script cannot swap.
        if (stream && stream->closef && luaL_getmetafield(L, -1, "__close") != LUA_TNIL) {
            lua_pushvalue(L, -2);
            lua_call(L, 1, 0);
        }
    }
    return 0;
}

} // namespace LuaFileAccess
