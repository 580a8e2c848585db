#include "handoff/scriptrunner.h"

#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "handoff/luafileaccess.h"
#include "handoff/luahost.h"
#include "handoff/luasandbox.h"
#include "platform/resources.h"

namespace {

const QString scriptName = QStringLiteral("addTune.lua");

// Instructions between two looks at the allowance: often enough to stop a
// loop promptly, rarely enough to cost nothing.
constexpr int hookStride = 1000;

// A protected run keeps its message handler at the bottom of the stack.
constexpr int messageHandlerIndex = 1;

// Gives an error raised without a position (by a host function, the count
// hook, or error(text, 0)) the "file:line: " of the innermost script function,
// so every error says where the script was. No traceback: the log wants one line.
int addPosition(lua_State *L)
{
    if (!lua_isstring(L, 1)) {
        luaL_tolstring(L, 1, nullptr);
        lua_replace(L, 1);
    }
    lua_Debug frame;
    for (int level = 0; lua_getstack(L, level, &frame); ++level) {
        lua_getinfo(L, "Sl", &frame);
        if (frame.currentline <= 0)
            continue; // a C function: not a place in the script
        const char *message = lua_tostring(L, 1);
        const size_t sourceLength = std::strlen(frame.short_src);
        if (std::strncmp(message, frame.short_src, sourceLength) != 0 ||
            message[sourceLength] != ':')
            lua_pushfstring(L, "%s:%d: %s", frame.short_src, frame.currentline, message);
        return 1;
    }
    return 1;
}

struct OpenRequest
{
    const char *path;
    const QList<QByteArray> *writableFolders;
};

// Opens the libraries and runs the script's top level. Runs under lua_pcall,
// so that any error on the way, even running out of memory, is caught.
int openScript(lua_State *L)
{
    const auto *request = static_cast<const OpenRequest *>(lua_touserdata(L, 1));
    LuaSandbox::open(L, *request->writableFolders);
    LuaHost::install(L, *request->writableFolders);
    // Text only: precompiled chunks can crash the interpreter.
    if (luaL_loadfilex(L, request->path, "t") != LUA_OK)
        return lua_error(L);
    lua_call(L, 0, 0);
    return 0;
}

using EncodedArgument = std::variant<QByteArray, qint64>;

struct CallRequest
{
    const char *handler;
    const QList<EncodedArgument> *arguments;
};

// Calls one handler with its arguments. Runs under lua_pcall, and holds no C++
// object itself, so an error raised here unwinds nothing but Lua frames.
int callInScript(lua_State *L)
{
    const auto *request = static_cast<const CallRequest *>(lua_touserdata(L, 1));
    if (lua_getglobal(L, request->handler) != LUA_TFUNCTION)
        return luaL_error(L, "the script has no function '%s'", request->handler);
    const int count = int(request->arguments->size());
    luaL_checkstack(L, count, "too many arguments");
    for (const EncodedArgument &argument : *request->arguments) {
        if (const auto *text = std::get_if<QByteArray>(&argument))
            lua_pushlstring(L, text->constData(), size_t(text->size()));
        else
            lua_pushinteger(L, *std::get_if<qint64>(&argument));
    }
    lua_call(L, count, 1);
    return 1;
}

// A handler's result is read only as text: a note for the log.
QVariant valueAt(lua_State *L, int index)
{
    if (lua_type(L, index) != LUA_TSTRING)
        return {};
    size_t length = 0;
    const char *text = lua_tolstring(L, index, &length);
    return QString::fromUtf8(text, qsizetype(length));
}

// Lua shortens a long file name in its messages to "..." and the name's tail;
// the log should name the whole file, which tells the user's script from the
// shipped one.
QByteArray expandFileName(QByteArray message, const QByteArray &path)
{
    constexpr qsizetype keptTail = LUA_IDSIZE - 4; // "...", the tail, the final NUL
    if (path.size() + 1 > LUA_IDSIZE) {
        const QByteArray shortName = "..." + path.right(keptTail) + ':';
        message.replace(shortName, path + ':');
    }
    return message;
}

} // namespace

void ScriptRunner::StateCloser::operator()(lua_State *state) const
{
    lua_close(state);
}

ScriptRunner::ScriptRunner() = default;
ScriptRunner::~ScriptRunner() = default;

QString ScriptRunner::scriptPath()
{
    // The user's own script comes before the shipped one.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty()) {
        const QString own = QDir::cleanPath(dataHome + QStringLiteral("/skyvane/") + scriptName);
        if (QFileInfo::exists(own))
            return own;
    }
    return Resources::find(scriptName);
}

bool ScriptRunner::load(QString &errorInfo)
{
    const QString path = scriptPath();
    if (path.isEmpty()) {
        unload();
        errorInfo = QStringLiteral("cannot find %1 in %2 or among Skyvane's resources")
                        .arg(scriptName,
                             QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                 QStringLiteral("/skyvane"));
        return false;
    }
    return loadFile(path, errorInfo);
}

bool ScriptRunner::loadFile(const QString &path, QString &errorInfo)
{
    unload();
    m_state.reset(lua_newstate(&ScriptRunner::allocate, &m_allowance));
    if (!m_state) {
        errorInfo = QStringLiteral("not enough memory to start the script");
        return false;
    }
    m_path = QFile::encodeName(path);
    m_writableFolders = LuaFileAccess::writableFolders();
    OpenRequest request{m_path.constData(), &m_writableFolders};
    if (runProtected(&openScript, &request, 0) != LUA_OK) {
        errorInfo = takeError();
        unload();
        return false;
    }
    lua_settop(m_state.get(), 0);
    return true;
}

void ScriptRunner::unload()
{
    m_state.reset();
}

std::optional<QVariant> ScriptRunner::callHandler(const QString &handlerName,
                                                  const QList<ScriptArgument> &arguments,
                                                  QString &errorInfo)
{
    if (!m_state) {
        errorInfo = QStringLiteral("the script is not loaded");
        return std::nullopt;
    }
    // Everything that allocates is prepared here, outside Lua's reach.
    QList<EncodedArgument> encoded;
    encoded.reserve(arguments.size());
    for (const ScriptArgument &argument : arguments) {
        if (const auto *text = std::get_if<QString>(&argument))
            encoded.append(text->toUtf8());
        else
            encoded.append(*std::get_if<qint64>(&argument));
    }
    const QByteArray handler = handlerName.toUtf8();
    CallRequest request{handler.constData(), &encoded};
    if (runProtected(&callInScript, &request, 1) != LUA_OK) {
        errorInfo = takeError();
        return std::nullopt;
    }
    const QVariant result = valueAt(m_state.get(), -1);
    lua_settop(m_state.get(), 0);
    return result;
}

int ScriptRunner::runProtected(int (*body)(lua_State *), void *data, int results)
{
    lua_State *L = m_state.get();
    lua_settop(L, 0);
    lua_pushcfunction(L, &addPosition);
    lua_pushcfunction(L, body);
    lua_pushlightuserdata(L, data);
    m_allowance.instructionsLeft = m_limits.instructions;
    m_allowance.deadline = std::chrono::steady_clock::now() + m_limits.time;
    m_allowance.memoryLimit = m_limits.memoryBytes;
    lua_sethook(L, &ScriptRunner::countHook, LUA_MASKCOUNT, hookStride);
    const int status = lua_pcall(L, 1, results, messageHandlerIndex);
    lua_sethook(L, nullptr, 0, 0);
    closeLeftOpen();
    return status;
}

void ScriptRunner::closeLeftOpen()
{
    // Closing takes a little memory, even after the script used it all.
    m_allowance.memoryLimit = std::numeric_limits<qint64>::max();
    lua_State *L = m_state.get();
    lua_pushcfunction(L, &LuaFileAccess::closeLeftOpen);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK)
        lua_pop(L, 1);
}

QString ScriptRunner::takeError()
{
    lua_State *L = m_state.get();
    size_t length = 0;
    const char *message = lua_tolstring(L, -1, &length);
    QByteArray text = message ? QByteArray(message, qsizetype(length)) : "unknown error";
    lua_settop(L, 0);
    text = expandFileName(std::move(text), m_path);
    // Some messages (out of memory, a binary chunk) say nothing of the file.
    if (!text.contains(m_path))
        text.prepend(m_path + ": ");
    return QString::fromUtf8(text);
}

void *ScriptRunner::allocate(void *allowance, void *block, size_t oldSize, size_t newSize)
{
    auto *usage = static_cast<Allowance *>(allowance);
    // Without a block, oldSize tells the kind of object, not a size.
    const qint64 previous = block ? qint64(oldSize) : 0;
    if (newSize == 0) {
        std::free(block);
        usage->memoryInUse -= previous;
        return nullptr;
    }
    const qint64 growth = qint64(newSize) - previous;
    if (growth > 0 && usage->memoryInUse + growth > usage->memoryLimit)
        return nullptr; // Lua collects garbage, then raises "not enough memory"
    void *resized = std::realloc(block, newSize);
    if (resized)
        usage->memoryInUse += growth;
    return resized;
}

void ScriptRunner::countHook(lua_State *L, lua_Debug *)
{
    void *data = nullptr;
    lua_getallocf(L, &data);
    auto *usage = static_cast<Allowance *>(data);
    usage->instructionsLeft -= hookStride;
    const bool quitting = usage->stopRequested;
    if (!quitting && usage->instructionsLeft > 0 &&
        std::chrono::steady_clock::now() < usage->deadline)
        return;
    // From now on every instruction raises again, so a script that catches the
    // error with pcall is stopped at its very next instruction outside it.
    usage->instructionsLeft = 0;
    lua_sethook(L, &ScriptRunner::countHook, LUA_MASKCOUNT, 1);
    luaL_error(L, quitting ? "the script was stopped because Skyvane is quitting"
                           : "the script took too long and was stopped");
}
