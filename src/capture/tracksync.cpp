#include "capture/tracksync.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

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

} // namespace

TrackSync::TrackSync(QObject *parent) : QObject(parent)
{
    // One thread keeps the tracks in order.
    m_pool.setMaxThreadCount(1);
}

// The pool waits for a sync under way; what it would deliver goes with this object.
TrackSync::~TrackSync() = default;

void TrackSync::add(const TrackWriter::Track &track)
{
    ++m_pending;
    m_pool.start([this, track] {
        const QString error = makeDurable(track.path);
        QMetaObject::invokeMethod(
            this, [this, track, error] { deliver(track, error); }, Qt::QueuedConnection);
    });
}

void TrackSync::waitForIdle()
{
    m_pool.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TrackSync::deliver(const TrackWriter::Track &track, const QString &error)
{
    --m_pending;
    Q_EMIT synced(track, error);
}
