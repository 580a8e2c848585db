#include "app/instancelock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

// The holder listens right after it locks, so a start that found the lock
// gives it this long to be reachable before taking it for a headless copy.
constexpr int askAttempts = 20;
constexpr int askIntervalMs = 50;

// The list's canonical path, so that two spellings of it meet at one socket.
QString canonicalListPath(const QString &listPath)
{
    const QFileInfo list(listPath);
    const QString folder = QFileInfo(list.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? list.absolutePath() : folder) + u'/' + list.fileName();
}

// In the user's runtime folder, else the temporary folder; the hash keeps the
// socket's path short whatever the list's path.
QString serverNameFor(const QString &listPath)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray hash =
        QCryptographicHash::hash(canonicalListPath(listPath).toUtf8(), QCryptographicHash::Sha1);
    return folder + QStringLiteral("/skyvane-") + QString::fromLatin1(hash.toHex().left(16));
}

} // namespace

InstanceLock::InstanceLock(const QString &listPath, QObject *parent)
    : QObject(parent), m_listPath(listPath), m_lock(listPath + QStringLiteral(".lock"))
{
    // A copy runs for days: only a holder that is gone makes a lock stale.
    m_lock.setStaleLockTime(0);
}

InstanceLock::~InstanceLock() = default;

bool InstanceLock::tryLock()
{
    QDir().mkpath(QFileInfo(m_listPath).absolutePath());
    m_serverName = serverNameFor(m_listPath);
    return m_lock.tryLock(0) || m_lock.error() != QLockFile::LockFailedError;
}

qint64 InstanceLock::holder() const
{
    qint64 pid = 0;
    QString hostName;
    QString appName;
    return m_lock.getLockInfo(&pid, &hostName, &appName) ? pid : 0;
}

void InstanceLock::listenForShowRequests()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left by a holder that is gone; while the lock is ours, no
    // other copy serves this list.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        return;
    QObject::connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *asking = m_server->nextPendingConnection())
            asking->deleteLater();
        Q_EMIT showRequested();
    });
}

bool InstanceLock::askHolderToShow() const
{
    for (int attempt = 0; attempt < askAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(1000))
            return true;
        QThread::msleep(askIntervalMs);
    }
    return false;
}
