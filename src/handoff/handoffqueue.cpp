#include "handoff/handoffqueue.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>

#include "handoff/scriptrunner.h"
#include "handoff/trackhandoff.h"
#include "values/recordingsettings.h"

// What the queue and its thread share; the queue outlives the thread.
struct HandoffQueue::Worker
{
    struct Job
    {
        RecordingSettings settings;
        Track track;
    };

    std::mutex mutex;
    std::condition_variable jobAdded;
    std::condition_variable jobDone; // also when the thread ends
    std::deque<Job> jobs;
    std::deque<TrackHandoff::Outcome> outcomes; // of the jobs done, in order
    bool busy = false;
    bool quitting = false; // no job starts any more: the thread is to end
    bool ended = false;    // the thread has nothing left to do but return
    // Loaded, run and kept on the thread only; asked to stop from the queue's.
    ScriptRunner runner;

    bool isIdle() const { return jobs.empty() && !busy; }
    void run(HandoffQueue *queue);
};

void HandoffQueue::Worker::run(HandoffQueue *const queue)
{
    std::unique_lock lock(mutex);
    for (;;) {
        jobAdded.wait(lock, [this] { return !jobs.empty() || quitting; });
        if (quitting)
            break;
        const Job job = std::move(jobs.front());
        jobs.pop_front();
        busy = true;
        lock.unlock();
        TrackHandoff::Outcome outcome;
        try {
            outcome = TrackHandoff::handOver(runner, job.settings, job.track);
        } catch (const std::exception &error) {
            outcome.error =
                QStringLiteral("internal error: %1").arg(QString::fromUtf8(error.what()));
        }
        lock.lock();
        busy = false;
        outcomes.push_back(std::move(outcome));
        QMetaObject::invokeMethod(queue, &HandoffQueue::deliver, Qt::QueuedConnection);
        jobDone.notify_all();
    }
    ended = true;
    jobDone.notify_all();
}

HandoffQueue::HandoffQueue(QObject *parent)
    : QObject(parent), m_worker(std::make_unique<Worker>()),
      m_thread(&Worker::run, m_worker.get(), this)
{}

// Without shutdown() first (a test, a queue of a short life) the wait is for a
// script that can only be between Lua instructions or in a short C call.
HandoffQueue::~HandoffQueue()
{
    if (m_thread.joinable()) {
        stopWorker();
        m_thread.join();
    }
}

HandoffQueue &HandoffQueue::shared()
{
    static HandoffQueue queue;
    return queue;
}

void HandoffQueue::add(const RecordingSettings &settings, const Track &track, QObject *receiver,
                       Done done)
{
    {
        const std::lock_guard lock(m_worker->mutex);
        if (m_worker->quitting)
            return;
        m_worker->jobs.push_back({settings, track});
    }
    m_waiting.push_back({receiver, std::move(done)});
    m_worker->jobAdded.notify_one();
}

bool HandoffQueue::waitForIdle(std::chrono::milliseconds limit)
{
    // A year is forever here, and keeps the deadline from overflowing.
    limit = std::min<std::chrono::milliseconds>(limit, std::chrono::hours(24 * 365));
    {
        std::unique_lock lock(m_worker->mutex);
        m_worker->jobDone.wait_for(lock, limit, [this] { return m_worker->isIdle(); });
    }
    deliver();
    return isIdle();
}

bool HandoffQueue::waitForQuit()
{
    if (waitForIdle(quitGrace))
        return true;
    m_worker->runner.setStopRequested(true);
    if (!waitForIdle(quitLimit - quitGrace))
        return false; // a script stuck in a C call: stopped once it returns to Lua
    // Nothing runs now, and nothing starts but from this thread: a quit that
    // did not end the process (a test) leaves the queue as it was.
    m_worker->runner.setStopRequested(false);
    return true;
}

bool HandoffQueue::shutdown(const std::chrono::steady_clock::time_point deadline)
{
    if (!m_thread.joinable())
        return true;
    stopWorker();
    {
        std::unique_lock lock(m_worker->mutex);
        if (!m_worker->jobDone.wait_until(lock, deadline, [this] { return m_worker->ended; }))
            return false;
    }
    m_thread.join();
    m_waiting.clear();
    return true;
}

void HandoffQueue::stopWorker()
{
    {
        const std::lock_guard lock(m_worker->mutex);
        m_worker->quitting = true;
        m_worker->jobs.clear();
    }
    m_worker->runner.setStopRequested(true);
    m_worker->jobAdded.notify_one();
}

void HandoffQueue::deliver()
{
    for (;;) {
        TrackHandoff::Outcome outcome;
        {
            const std::lock_guard lock(m_worker->mutex);
            if (m_worker->outcomes.empty() || m_worker->quitting)
                return;
            outcome = std::move(m_worker->outcomes.front());
            m_worker->outcomes.pop_front();
        }
        // Taken off first: done may add hand-offs or wait for them.
        const Waiting waiting = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (waiting.receiver)
            waiting.done(outcome.error, outcome.note);
    }
}
