#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <QObject>
#include <QPointer>
#include <QString>

#include "values/track.h"

struct RecordingSettings;

// Runs the music-library hand-offs of all recordings one after another, in the
// order they were added, on a thread of their own: neither a capture nor the
// window ever waits for a script (a user's script may do slow work), and two
// recordings never edit a playlist at once. The script's Lua state lives on
// that thread.
//
// The thread belongs to the queue and ends with shutdown(), which stops a
// running script and joins the thread. A script stuck in one C call (a string
// pattern that backtracks badly, a hung network share) cannot be stopped: then
// shutdown gives up at its deadline and the thread still runs, and the process
// must end without tearing down what the script may be using (see main.cpp).
class HandoffQueue : public QObject
{
    Q_OBJECT

public:
    // The error when the hand-off failed; note: what the script said of a
    // hand-off that went through ("" when nothing).
    using Done = std::function<void(const std::optional<QString> &error, const QString &note)>;

    // How long Skyvane waits for hand-offs under way when it quits: quitGrace
    // for them to finish, then for the scripts stopped to return.
    static constexpr std::chrono::seconds quitLimit{10};
    static constexpr std::chrono::seconds quitGrace{1};

    // Made on the main thread: results arrive there.
    explicit HandoffQueue(QObject *parent = nullptr);
    // Joins the thread, stopping a running script, however long a C call it
    // is in takes: call shutdown() first.
    ~HandoffQueue() override;

    // The process's one queue, made at the first call, which must come from the
    // main thread.
    static HandoffQueue &shared();

    // Queues the hand-off of a track that is on the disk, and returns at once.
    // done runs later on the main thread, from the event loop (or from
    // waitForIdle), in the order the hand-offs were added; it is skipped when
    // the receiver, an object of the main thread, is gone by then. done must
    // not throw. After shutdown() nothing is queued and done never runs.
    void add(const RecordingSettings &settings, const Track &track, QObject *receiver, Done done);
    // Blocks until every hand-off added has run, or the limit passed, then
    // runs the done of all that ran. True when none is left.
    bool waitForIdle(std::chrono::milliseconds limit);
    // What quitting does: waits quitGrace for the hand-offs added, then stops
    // the scripts, the one running and those still queued, each at its next
    // Lua instruction (their hand-offs fail with "the script was stopped
    // because Skyvane is quitting"), and waits up to quitLimit in all for one
    // stuck in a C call. True when none is left.
    bool waitForQuit();
    // Ends the thread for good, once the list is stored: the hand-offs not
    // begun are dropped, a running script is stopped at its next Lua
    // instruction, and the thread is joined, waiting until deadline at most.
    // No done runs any more. True when the thread has ended; false when a
    // script is stuck in a C call past the deadline and the thread still runs.
    bool shutdown(std::chrono::steady_clock::time_point deadline);
    // No hand-off is waiting, running, or waiting for its done to run.
    bool isIdle() const { return m_waiting.empty(); }

private:
    struct Worker;
    struct Waiting
    {
        QPointer<QObject> receiver;
        Done done;
    };

    void deliver();
    void stopWorker();

    std::unique_ptr<Worker> m_worker;
    std::thread m_thread;          // joinable until joined by shutdown() or the destructor
    std::deque<Waiting> m_waiting; // in the order added, each until its done ran
};
