#include "capture/tracksync.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QThreadPool>

#include "platform/descriptorlimit.h"

namespace {

class FileHandle
{
public:
    FileHandle(const QString &path, int flags)
        : m_fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC))
    {}
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    int fd() const { return m_fd; }

private:
    int m_fd;
};

int systemFlush(int fd, bool folder)
{
    return folder ? ::fsync(fd) : ::fdatasync(fd);
}

std::atomic<TrackSync::Flush> flushFunction = &systemFlush;

QString systemError(const QString &path)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// Empty when the file's data is on the disk.
QString flushFile(const QString &path, bool folder)
{
    const FileHandle file(path, folder ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (file.fd() < 0 || flushFunction.load()(file.fd(), folder) != 0)
        return systemError(path);
    return QString();
}

// Syncs one batch: each file, then each folder once. The names were made, maybe
// renamed, in the folder: that entry must last too. One error for each track,
// empty when its data and its name are on the disk.
std::vector<QString> makeDurable(const std::vector<QString> &paths)
{
    std::vector<QString> errors;
    errors.reserve(paths.size());
    for (const QString &path : paths)
        errors.push_back(flushFile(path, false));
    QHash<QString, QString> folderErrors;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!errors[i].isEmpty())
            continue;
        const QString folder = QFileInfo(paths[i]).path();
        auto known = folderErrors.constFind(folder);
        if (known == folderErrors.constEnd())
            known = folderErrors.insert(folder, flushFile(folder, true));
        errors[i] = *known;
    }
    return errors;
}

} // namespace

// What a sync on the worker reports to: the TrackSync while it exists. A
// TrackSync that goes (a capture deleted while it ends) never waits for its
// syncs; they still finish on the worker, and their reports are dropped.
struct TrackSync::Receiver
{
    std::mutex mutex;
    TrackSync *sync = nullptr;

    void report(const Track &track, const QString &error)
    {
        const std::lock_guard lock(mutex);
        if (TrackSync *const to = sync)
            QMetaObject::invokeMethod(
                to, [to, track, error] { to->deliver(track, error); }, Qt::QueuedConnection);
    }
};

namespace {

struct Job
{
    QString path;
    std::function<void(const QString &error)> report;
};

// One thread syncs the tracks of every capture, in the order they end; they all
// go to the one track folder. It is started with the first capture and kept:
// started later, when the captures may have used up the descriptors, its event
// loop could not get one, and GLib would abort the process.
struct Worker
{
    // At most this many tracks wait for one sync to end: the first of a batch is
    // handed over only when the whole batch is on the disk.
    static constexpr std::size_t maxBatch = 32;

    std::mutex mutex;
    std::deque<Job> queued;
    bool draining = false;
    // Last, so that it goes first and waits for the batch under way.
    QThreadPool pool;

    // Syncs batch after batch until none is left.
    void drain()
    {
        for (;;) {
            std::vector<Job> batch;
            {
                const std::lock_guard lock(mutex);
                if (queued.empty()) {
                    draining = false;
                    return;
                }
                const std::size_t count = std::min(queued.size(), maxBatch);
                const auto end = queued.begin() + std::ptrdiff_t(count);
                batch.assign(std::make_move_iterator(queued.begin()), std::make_move_iterator(end));
                queued.erase(queued.begin(), end);
            }
            std::vector<QString> paths;
            for (const Job &job : batch)
                paths.push_back(job.path);
            const std::vector<QString> errors = makeDurable(paths);
            for (std::size_t i = 0; i < batch.size(); ++i)
                batch[i].report(errors[i]);
        }
    }
};

Worker &worker()
{
    static Worker instance;
    return instance;
}

bool hasSyncThread()
{
    static bool started = false;
    if (!started)
        started = DescriptorLimit::keepThread(worker().pool);
    return started;
}

} // namespace

TrackSync::TrackSync(QObject *parent) : QObject(parent), m_receiver(std::make_shared<Receiver>())
{
    m_receiver->sync = this;
    hasSyncThread();
}

TrackSync::~TrackSync()
{
    const std::lock_guard lock(m_receiver->mutex);
    m_receiver->sync = nullptr;
}

void TrackSync::setFlush(Flush flush)
{
    flushFunction = flush ? flush : &systemFlush;
}

void TrackSync::add(const Track &track)
{
    ++m_pending;
    Worker &w = worker();
    {
        const std::lock_guard lock(w.mutex);
        w.queued.push_back({track.path, [receiver = m_receiver, track](const QString &error) {
                                receiver->report(track, error);
                            }});
        // The drain under way takes it with its next batch.
        if (w.draining)
            return;
        w.draining = true;
    }
    // Without a thread, which only a process short of descriptors from the
    // start lacks, the sync is done here.
    if (hasSyncThread())
        w.pool.start([&w] { w.drain(); });
    else
        w.drain();
}

void TrackSync::deliver(const Track &track, const QString &error)
{
    --m_pending;
    Q_EMIT synced(track, error);
}
