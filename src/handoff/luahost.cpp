#include "handoff/luahost.h"

#include <array>
#include <exception>
#include <optional>
#include <string_view>

#include <lua.hpp>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>

#include "capture/trackname.h"
#include "handoff/luafileaccess.h"
#include "handoff/tagwriter.h"

namespace {

// What a host function gives back to the script, in the usual Lua manner: on
// success true or a value, on failure false and the reason.
struct Reply
{
    bool ok = true;
    std::optional<QByteArray> text; // the value on success, the reason on failure
};

Reply success(std::optional<QByteArray> value = std::nullopt)
{
    return Reply{true, std::move(value)};
}

Reply failure(QByteArray reason)
{
    return Reply{false, std::move(reason)};
}

int pushReply(lua_State *L)
{
    const auto *reply = static_cast<const Reply *>(lua_touserdata(L, 1));
    if (reply->ok && !reply->text) {
        lua_pushboolean(L, 1);
        return 1;
    }
    if (!reply->ok)
        lua_pushboolean(L, 0);
    lua_pushlstring(L, reply->text->constData(), size_t(reply->text->size()));
    return reply->ok ? 1 : 2;
}

// Runs the C++ side of a host function and hands its reply to the script. A
// Lua error is a longjmp that must never skip a C++ destructor, so the reply
// is pushed under protection and destroyed before any error is raised again.
// The caller holds only trivially destructible values (views of Lua strings).
template<class Work> int deliver(lua_State *L, const Work &work)
{
    const int base = lua_gettop(L);
    int status = LUA_OK;
    {
        Reply reply;
        try {
            reply = work();
        } catch (const std::exception &error) {
            reply = failure(QByteArray("internal error: ") + error.what());
        }
        lua_pushcfunction(L, &pushReply);
        lua_pushlightuserdata(L, &reply);
        status = lua_pcall(L, 1, LUA_MULTRET, 0);
    }
    if (status != LUA_OK)
        return lua_error(L);
    return lua_gettop(L) - base;
}

std::string_view checkText(lua_State *L, int index)
{
    size_t length = 0;
    const char *text = luaL_checklstring(L, index, &length);
    return {text, length};
}

QString pathFrom(std::string_view bytes)
{
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

// The folders the script may write in, the host functions' upvalue.
const QList<QByteArray> &writableFolders(lua_State *L)
{
    return *static_cast<const QList<QByteArray> *>(lua_touserdata(L, lua_upvalueindex(1)));
}

constexpr std::array<const char *, 4> tagKeys{"title", "album", "artist", "genre"};

// Views of the strings on the Lua stack, valid while the host function runs.
struct TagRequest
{
    std::string_view path;
    std::array<std::optional<std::string_view>, tagKeys.size()> values;
};

Reply writeTags(const TagRequest &request, const QList<QByteArray> &folders)
{
    if (request.path.find('\0') != std::string_view::npos)
        return failure("the path contains a NUL character");
    const QByteArray path(request.path.data(), qsizetype(request.path.size()));
    if (std::optional<QByteArray> refusal = LuaFileAccess::writeRefusal(path.constData(), folders))
        return failure(*std::move(refusal));
    TagWriter::Tags tags;
    const std::array<std::optional<QString> *, tagKeys.size()> targets{&tags.title, &tags.album,
                                                                       &tags.artist, &tags.genre};
    for (size_t i = 0; i < targets.size(); ++i) {
        if (const auto &value = request.values[i])
            *targets[i] = QString::fromUtf8(value->data(), qsizetype(value->size()));
    }
    if (const std::optional<QString> reason = TagWriter::write(pathFrom(request.path), tags))
        return failure(reason->toUtf8());
    return success();
}

int hostTag(lua_State *L)
{
    TagRequest request;
    request.path = checkText(L, 1);
    luaL_checktype(L, 2, LUA_TTABLE);
    for (size_t i = 0; i < tagKeys.size(); ++i) {
        // The value stays on the stack, which keeps the viewed text alive.
        const int type = lua_getfield(L, 2, tagKeys[i]);
        if (type == LUA_TNIL)
            continue;
        if (type != LUA_TSTRING && type != LUA_TNUMBER)
            return luaL_error(L, "tag '%s' must be a string, not %s", tagKeys[i],
                              lua_typename(L, type));
        size_t length = 0;
        const char *text = lua_tolstring(L, -1, &length);
        request.values[i] = std::string_view(text, length);
    }
    const QList<QByteArray> &folders = writableFolders(L);
    return deliver(L, [&request, &folders] { return writeTags(request, folders); });
}

int hostMusicFolder(lua_State *L)
{
    return deliver(L, [] {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (folder.isEmpty())
            return failure("there is no music folder");
        return success(QFile::encodeName(folder));
    });
}

int hostMakeFolder(lua_State *L)
{
    const std::string_view path = checkText(L, 1);
    const QList<QByteArray> &folders = writableFolders(L);
    return deliver(L, [path, &folders] {
        // As mkpath makes it: absolute, "." and ".." taken away.
        const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(pathFrom(path)));
        const QByteArray name = QFile::encodeName(folder);
        if (const std::optional<QByteArray> refusal =
                LuaFileAccess::folderRefusal(name.constData(), folders))
            return failure("cannot create the folder " + name + ": " + *refusal);
        if (QDir().mkpath(folder))
            return success();
        return failure("cannot create the folder " + name);
    });
}

int hostFileNameSafe(lua_State *L)
{
    const std::string_view text = checkText(L, 1);
    return deliver(L, [text] {
        const QString name = QString::fromUtf8(text.data(), qsizetype(text.size()));
        return success(TrackName::fileNameSafe(name).toUtf8());
    });
}

} // namespace

namespace LuaHost {

void install(lua_State *L, const QList<QByteArray> &writableFolders)
{
    static const luaL_Reg functions[] = {
        {"tag", &hostTag},
        {"music_folder", &hostMusicFolder},
        {"make_folder", &hostMakeFolder},
        {"file_name_safe", &hostFileNameSafe},
        {nullptr, nullptr},
    };
    luaL_newlibtable(L, functions);
    lua_pushlightuserdata(L, const_cast<QList<QByteArray> *>(&writableFolders));
    luaL_setfuncs(L, functions, 1);
    lua_setglobal(L, "skyvane");
}
} // namespace LuaHost
