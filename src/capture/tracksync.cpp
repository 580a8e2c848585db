#include "capture/tracksync.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
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

QString systemError(const QString &path)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// Empty when the file's data and its name in the folder are on the disk.
QString makeDurable(const QString &path)
{
    const FileHandle file(path, O_RDONLY);
    if (file.fd() < 0 || ::fdatasync(file.fd()) != 0)
        return systemError(path);
    // The name was made, maybe renamed, in the folder: that entry must last too.
    const QString folder = QFileInfo(path).path();
    const FileHandle directory(folder, O_RDONLY | O_DIRECTORY);
    if (directory.fd() < 0 || ::fsync(directory.fd()) != 0)
        return systemError(folder);
    return QString();
}

// One thread syncs the tracks of every capture, in the order they end; they all
// go to the one track folder. It is started with the first capture and kept:
// started later, when the captures may have used up the descriptors, its event
// loop could not get one, and GLib would abort the process.
QThreadPool &syncPool()
{
    static QThreadPool pool;
    return pool;
}

bool hasSyncThread()
{
    static bool started = false;
    if (!started)
        started = DescriptorLimit::keepThread(syncPool());
    return started;
}

} // namespace

// What a sync on the worker reports to: the TrackSync while it exists. A
// TrackSync that goes (a capture deleted while it ends) never waits for its
// syncs; they still finish on the worker, and their reports are dropped.
struct TrackSync::Receiver
{
    std::mutex mutex;
    TrackSync *sync = nullptr;
};

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

void TrackSync::add(const Track &track)
{
    ++m_pending;
    auto sync = [receiver = m_receiver, track] {
        const QString error = makeDurable(track.path);
        const std::lock_guard lock(receiver->mutex);
        if (TrackSync *const to = receiver->sync)
            QMetaObject::invokeMethod(
                to, [to, track, error] { to->deliver(track, error); }, Qt::QueuedConnection);
    };
    // Without a thread, which only a process short of descriptors from the
    // start lacks, the sync is done here.
    if (hasSyncThread())
        syncPool().start(sync);
    else
        sync();
}

void TrackSync::deliver(const Track &track, const QString &error)
{
    --m_pending;
    Q_EMIT synced(track, error);
}
