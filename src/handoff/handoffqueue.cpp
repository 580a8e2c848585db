#include "handoff/handoffqueue.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "handoff/scriptrunner.h"
#include "handoff/trackhandoff.h"
#include "values/recordingsettings.h"

// What the queue and its thread share. The thread holds it for good; the queue
// lets go of it when destroyed.
struct HandoffQueue::Worker
{
    struct Job
    {
        RecordingSettings settings;
        Track track;
        QString stationGenre;
    };

    std::mutex mutex;
    std::condition_variable jobAdded;
    std::condition_variable jobDone;
    std::deque<Job> jobs;
    std::deque<TrackHandoff::Outcome> outcomes; // of the jobs done, in order
    bool busy = false;
    HandoffQueue *queue = nullptr; // told of each outcome while it exists
    // Loaded, run and kept on the thread only; asked to stop from the queue's.
    ScriptRunner runner;

    bool isIdle() const { return jobs.empty() && !busy; }
    static void run(std::shared_ptr<Worker> worker);
};

void HandoffQueue::Worker::run(const std::shared_ptr<Worker> worker)
{
    std::unique_lock lock(worker->mutex);
    for (;;) {
        worker->jobAdded.wait(lock, [&worker] { return !worker->jobs.empty(); });
        const Job job = std::move(worker->jobs.front());
        worker->jobs.pop_front();
        worker->busy = true;
        lock.unlock();
        TrackHandoff::Outcome outcome;
        try {
            outcome =
                TrackHandoff::handOver(worker->runner, job.settings, job.track, job.stationGenre);
        } catch (const std::exception &error) {
            outcome.error =
                QStringLiteral("internal error: %1").arg(QString::fromUtf8(error.what()));
        }
        lock.lock();
        worker->busy = false;
        worker->outcomes.push_back(std::move(outcome));
        // Under the lock, so the queue cannot be destroyed meanwhile.
        if (worker->queue)
            QMetaObject::invokeMethod(worker->queue, &HandoffQueue::deliver, Qt::QueuedConnection);
        worker->jobDone.notify_all();
    }
}

HandoffQueue::HandoffQueue() : m_worker(std::make_shared<Worker>())
{
    m_worker->queue = this;
    std::thread(&Worker::run, m_worker).detach();
}

HandoffQueue::~HandoffQueue()
{
    const std::lock_guard lock(m_worker->mutex);
    m_worker->queue = nullptr;
}

HandoffQueue &HandoffQueue::shared()
{
    static HandoffQueue queue;
    return queue;
}

void HandoffQueue::add(const RecordingSettings &settings, const Track &track,
                       const QString &stationGenre, QObject *receiver, Done done)
{
    m_waiting.push_back({receiver, std::move(done)});
    {
        const std::lock_guard lock(m_worker->mutex);
        m_worker->jobs.push_back({settings, track, stationGenre});
    }
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

void HandoffQueue::deliver()
{
    for (;;) {
        TrackHandoff::Outcome outcome;
        {
            const std::lock_guard lock(m_worker->mutex);
            if (m_worker->outcomes.empty())
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
