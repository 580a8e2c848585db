#include "app/instancelock.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

// The holder listens right after it locks, so a start that found the lock
// gives it this long to be reachable before taking it for a headless copy.
constexpr int askAttempts = 20;
constexpr int askIntervalMs = 50;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The list's canonical path, so that two spellings of it meet at one socket.
QString canonicalListPath(const QString &listPath)
{
    const QFileInfo list(listPath);
    const QString folder = QFileInfo(list.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? list.absolutePath() : folder) + u'/' + list.fileName();
}

// In the user's runtime folder, else in a folder of the user's own in the
// temporary folder, whose name others can guess: the check on it keeps them
// out. Empty when the folder fails that check. The hash keeps the socket's
// path short whatever the list's path.
QString serverNameFor(const QString &listPath)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath() + QStringLiteral("/skyvane-") + QString::number(::geteuid());
    if (!InstanceLock::makePrivateFolder(folder))
        return {};
    const QByteArray hash =
        QCryptographicHash::hash(canonicalListPath(listPath).toUtf8(), QCryptographicHash::Sha1);
    return folder + QStringLiteral("/skyvane-") + QString::fromLatin1(hash.toHex().left(16));
}

// Only for the message a later start gives: a failed write changes nothing.
bool nameHolder(int fd)
{
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) > 0;
}

// What another program left at the lock path (a link, a FIFO) is never
// Skyvane's lock, nor followed: it is replaced by a plain file. A lock on the
// folder keeps two starts from both replacing it, each then locking a file of
// its own; a folder there is someone's, and stays.
int replaceLeftover(const QByteArray &path, const QByteArray &folder)
{
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0 || ::flock(folderFd, LOCK_EX) != 0) {
        if (folderFd >= 0)
            ::close(folderFd);
        return -1;
    }
    struct stat status = {};
    if (::lstat(path.constData(), &status) == 0 &&
        (S_ISLNK(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)))
        ::unlink(path.constData());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    const int opened = errno;
    ::close(folderFd);
    errno = opened;
    return fd;
}

bool isPlainFile(int fd)
{
    struct stat status = {};
    return fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

InstanceLock::InstanceLock(const QString &listPath, QObject *parent)
    : QObject(parent), m_listPath(listPath)
{}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

InstanceLock::Outcome InstanceLock::tryLock()
{
    const QString folder = QFileInfo(m_listPath).absolutePath();
    std::error_code made;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), made);
    if (made) {
        return fail(QStringLiteral("the folder %1 cannot be made: %2")
                        .arg(folder, QString::fromLocal8Bit(made.message().c_str())));
    }
    const QString path = m_listPath + QStringLiteral(".lock");
    const QByteArray encodedPath = QFile::encodeName(path);
    // Never through a link: what a link leads to is not Skyvane's to create,
    // truncate or lock. Not inherited, so that no program Skyvane starts keeps
    // the lock after Skyvane ends. The file stays when Skyvane ends: removing
    // it could leave a start that has it open holding a lock on a file gone
    // from the folder, beside a third start's. O_NONBLOCK: a FIFO there must
    // not hold up the start.
    m_fd = ::open(encodedPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                  0644);
    int opened = errno;
    if (!isPlainFile(m_fd) && (m_fd >= 0 || opened == ELOOP)) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = replaceLeftover(encodedPath, QFile::encodeName(folder));
        opened = errno;
    }
    if (m_fd < 0 && opened != EISDIR) {
        return fail(
            QStringLiteral("the lock file %1 cannot be made: %2").arg(path, systemError(opened)));
    }
    if (!isPlainFile(m_fd)) {
        return fail(QStringLiteral("the lock file %1 is a folder or otherwise not a plain file, "
                                   "which Skyvane does not replace; remove it")
                        .arg(path));
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int locked = errno;
        if (locked == EWOULDBLOCK)
            return Outcome::Held;
        return fail(
            QStringLiteral("the lock file %1 cannot be locked: %2").arg(path, systemError(locked)));
    }
    nameHolder(m_fd);
    return Outcome::Locked;
}

InstanceLock::Outcome InstanceLock::fail(const QString &reason)
{
    m_failure = reason;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    return Outcome::Unavailable;
}

std::optional<qint64> InstanceLock::holder() const
{
    char text[32];
    const ssize_t size = m_fd < 0 ? -1 : ::pread(m_fd, text, sizeof text, 0);
    if (size <= 0)
        return std::nullopt;
    // Anything but a number, and so nothing, reads as 0.
    const qint64 pid = QByteArray(text, size).split('\n').constFirst().toLongLong();
    return pid > 0 ? std::optional(pid) : std::nullopt;
}

void InstanceLock::listenForShowRequests()
{
    const QString name = serverNameFor(m_listPath);
    if (name.isEmpty())
        return;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a holder that is gone; while the lock is ours, no
    // other copy serves this list.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name))
        return;
    QObject::connect(m_server, &QLocalServer::newConnection, this, [this] {
        bool asked = false;
        while (QLocalSocket *asking = m_server->nextPendingConnection()) {
            if (peerIsUser(asking->socketDescriptor()))
                asked = true;
            asking->deleteLater();
        }
        if (asked)
            Q_EMIT showRequested();
    });
}

bool InstanceLock::askHolderToShow() const
{
    const QString name = serverNameFor(m_listPath);
    for (int attempt = 0; !name.isEmpty() && attempt < askAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(1000) && peerIsUser(socket.socketDescriptor()))
            return true;
        QThread::msleep(askIntervalMs);
    }
    return false;
}

QString InstanceLock::serverName(const QString &listPath)
{
    return serverNameFor(listPath);
}

bool InstanceLock::peerIsUser(qintptr socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

bool InstanceLock::makePrivateFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status = {};
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::lstat(name.constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}
