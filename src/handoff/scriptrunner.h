#pragma once

#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>
#include <variant>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

struct lua_Debug;
struct lua_State;

// One argument of a handler call: a text or an integer.
using ScriptArgument = std::variant<QString, qint64>;

// Runs the music-library hand-off script: a Lua 5.4 file whose global functions
// are handlers, with the standard libraries of LuaSandbox and the `skyvane` host
// table. Loading runs the file's top level; calling runs one handler. Both are
// bounded in instructions, time and memory, so a script stuck in a loop or
// eating memory ends in an error text for the log, and the files it left open
// are closed. The bounds are checked between Lua instructions: one call of a C
// function (a string pattern that backtracks badly, a slow disk) runs until it
// returns.
//
// A runner and its Lua state belong to the thread that uses them; Skyvane's
// one runner lives on the hand-off thread (HandoffQueue). Only
// setStopRequested may be called from another thread.
class ScriptRunner
{
public:
    // What one load or one call may use.
    struct Limits
    {
        qint64 instructions = 200'000'000;
        std::chrono::milliseconds time{30'000};
        qint64 memoryBytes = qint64(512) << 20;
    };

    ScriptRunner();
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner &) = delete;
    ScriptRunner &operator=(const ScriptRunner &) = delete;

    // The hand-off script: the user's own $XDG_DATA_HOME/skyvane/addTune.lua,
    // else the shipped one (next to the program, installed, or in the source
    // tree). "" when there is none.
    static QString scriptPath();

    bool isLoaded() const { return bool(m_state); }
    // Loads scriptPath(), or the given file, replacing any loaded script. On
    // failure the slot stays empty and errorInfo says why.
    bool load(QString &errorInfo);
    bool loadFile(const QString &path, QString &errorInfo);
    void unload();

    // Calls the script's global function handlerName with the arguments in
    // order. Gives the handler's first result when it is text (an invalid
    // QVariant for anything else), or nothing when the function is missing or
    // raised an error; then errorInfo holds the message with the script's file
    // and line.
    std::optional<QVariant> callHandler(const QString &handlerName,
                                        const QList<ScriptArgument> &arguments, QString &errorInfo);

    void setLimits(const Limits &limits) { m_limits = limits; }
    // While requested, every load and call is stopped at its next look at the
    // limits, with an error saying Skyvane is quitting. Safe from any thread.
    void setStopRequested(bool requested) { m_allowance.stopRequested = requested; }

private:
    struct StateCloser
    {
        void operator()(lua_State *state) const;
    };
    // What the running load or call may still use; the allocator and the
    // count hook find it through the state's allocator data.
    struct Allowance
    {
        qint64 instructionsLeft = 0;
        std::chrono::steady_clock::time_point deadline;
        qint64 memoryLimit = std::numeric_limits<qint64>::max();
        qint64 memoryInUse = 0;
        std::atomic<bool> stopRequested = false;
    };

    static void *allocate(void *allowance, void *block, size_t oldSize, size_t newSize);
    static void countHook(lua_State *state, lua_Debug *debug);
    int runProtected(int (*body)(lua_State *), void *data, int results);
    void closeLeftOpen();
    QString takeError();

    Limits m_limits;
    // Both declared before m_state: closing the state frees through the
    // allowance, and the sandbox reads the folders until then.
    Allowance m_allowance;
    QList<QByteArray> m_writableFolders;
    std::unique_ptr<lua_State, StateCloser> m_state;
    QByteArray m_path; // the loaded file, as Lua names it in messages
};
