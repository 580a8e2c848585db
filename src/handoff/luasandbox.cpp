#include "handoff/luasandbox.h"

#include <lua.hpp>

#include "handoff/luafileaccess.h"

namespace {

// Lua's own libraries, except debug.
constexpr luaL_Reg libraries[] = {
    {LUA_GNAME, luaopen_base},          {LUA_LOADLIBNAME, luaopen_package},
    {LUA_COLIBNAME, luaopen_coroutine}, {LUA_TABLIBNAME, luaopen_table},
    {LUA_IOLIBNAME, luaopen_io},        {LUA_OSLIBNAME, luaopen_os},
    {LUA_STRLIBNAME, luaopen_string},   {LUA_MATHLIBNAME, luaopen_math},
    {LUA_UTF8LIBNAME, luaopen_utf8},
};

struct Field
{
    const char *library;
    const char *name;
};

constexpr Field dropped[] = {
    {LUA_OSLIBNAME, "execute"}, {LUA_OSLIBNAME, "exit"},  {LUA_OSLIBNAME, "setlocale"},
    {LUA_IOLIBNAME, "popen"},   {LUA_IOLIBNAME, "stdin"}, {LUA_LOADLIBNAME, "loadlib"},
};

// load(chunk [, chunkname [, mode [, env]]]) through the library's load (upvalue
// 1) with the mode forced to text. An env left out stays left out: a nil there
// would be taken as an empty environment.
int loadText(lua_State *L)
{
    constexpr int modeIndex = 3;
    if (lua_gettop(L) < modeIndex)
        lua_settop(L, modeIndex);
    lua_pushliteral(L, "t");
    lua_replace(L, modeIndex);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// loadfile(filename [, mode [, env]]), text only, and never from standard input.
int loadFileText(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    const bool hasEnvironment = !lua_isnone(L, 3);
    if (LuaFileAccess::loadText(L, name) != LUA_OK) {
        luaL_pushfail(L);
        lua_insert(L, -2);
        return 2;
    }
    if (hasEnvironment) {
        lua_pushvalue(L, 3);
        if (!lua_setupvalue(L, -2, 1))
            lua_pop(L, 1);
    }
    return 1;
}

// dofile(filename), text only, and never from standard input.
int doFileText(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    lua_settop(L, 1);
    if (LuaFileAccess::loadText(L, name) != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, LUA_MULTRET);
    return lua_gettop(L) - 1;
}

// require's searcher for Lua files along package.path, text only. Upvalues:
// the package table and the search, which a script cannot swap.
int searchLuaText(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    lua_pushvalue(L, lua_upvalueindex(2));
    lua_pushvalue(L, 1);
    if (lua_getfield(L, lua_upvalueindex(1), "path") != LUA_TSTRING)
        return luaL_error(L, "'package.path' must be a string");
    lua_call(L, 2, 2);
    if (lua_isnil(L, -2))
        return 1; // the files tried, for require's message
    lua_pop(L, 1);
    const char *file = lua_tostring(L, -1);
    if (LuaFileAccess::loadText(L, file) != LUA_OK)
        return luaL_error(L, "error loading module '%s' from file '%s':\n\t%s", name, file,
                          lua_tostring(L, -1));
    lua_insert(L, -2); // the loader, then the file name as its second argument
    return 2;
}

// setmetatable (upvalue 1) refusing a finalizer, which no limit could stop.
int setMetatableWithoutFinalizer(lua_State *L)
{
    lua_settop(L, 2);
    if (lua_istable(L, 2)) {
        lua_pushliteral(L, "__gc");
        const bool finalizer = lua_rawget(L, 2) != LUA_TNIL;
        lua_pop(L, 1);
        if (finalizer)
            return luaL_error(L, "a hand-off script cannot have finalizers (__gc): "
                                 "nothing could stop one that never returns");
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, 2, 1);
    return 1;
}

// Replaces the global function by the given one, which gets the old one as upvalue 1.
void wrapGlobal(lua_State *L, const char *name, lua_CFunction wrapper)
{
    lua_getglobal(L, name);
    lua_pushcclosure(L, wrapper, 1);
    lua_setglobal(L, name);
}

// require finds modules in package.preload and Lua files, never C libraries,
// and searches only files a script may read.
void limitRequire(lua_State *L)
{
    lua_getglobal(L, LUA_LOADLIBNAME);
    lua_pushliteral(L, "");
    lua_setfield(L, -2, "cpath");
    lua_pushcfunction(L, &LuaFileAccess::searchPath);
    lua_setfield(L, -2, "searchpath");
    lua_createtable(L, 2, 0);
    lua_getfield(L, -2, "searchers");
    lua_rawgeti(L, -1, 1); // the package.preload searcher
    lua_rawseti(L, -3, 1);
    lua_pop(L, 1);
    lua_pushvalue(L, -2);
    lua_getfield(L, -3, "searchpath");
    lua_pushcclosure(L, &searchLuaText, 2);
    lua_rawseti(L, -2, 2);
    lua_setfield(L, -2, "searchers");
    lua_pop(L, 1);
}

} // namespace

namespace LuaSandbox {

void open(lua_State *L, const QList<QByteArray> &writableFolders)
{
    for (const luaL_Reg &library : libraries) {
        luaL_requiref(L, library.name, library.func, 1);
        lua_pop(L, 1);
    }
    lua_getglobal(L, LUA_IOLIBNAME);
    lua_getfield(L, -1, "input");
    lua_pushliteral(L, "/dev/null");
    lua_call(L, 1, 0);
    lua_pop(L, 1);
    for (const Field &field : dropped) {
        lua_getglobal(L, field.library);
        lua_pushnil(L);
        lua_setfield(L, -2, field.name);
        lua_pop(L, 1);
    }
    LuaFileAccess::install(L, writableFolders);
    limitRequire(L);
    wrapGlobal(L, "load", &loadText);
    lua_register(L, "loadfile", &loadFileText);
    lua_register(L, "dofile", &doFileText);
    wrapGlobal(L, "setmetatable", &setMetatableWithoutFinalizer);
    // Files keep their own finalizer (it only closes the file); a script may
    // neither see nor change their metatable.
    luaL_getmetatable(L, LUA_FILEHANDLE);
    lua_pushboolean(L, 0);
    lua_setfield(L, -2, "__metatable");
    lua_pop(L, 1);
}

} // namespace LuaSandbox
