#pragma once

#include <optional>

#include <QObject>
#include <QString>

class QLocalServer;

// One Skyvane per list file: two copies would both run the schedule and
// overwrite each other's edits. The first start holds the kernel's lock
// (flock) on a file beside the list. The kernel lets it go when the process
// ends, however it ends, so what the file holds never decides: it only names
// the holder for the message a later start gives.
// A window that holds the list listens on a local socket, in a folder only the
// user may enter, through which a later window start of the same user asks it
// to come forward.
class InstanceLock : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        Locked,
        Held,       // another copy holds the list
        Unavailable // no lock can be made; failure() says why
    };

    explicit InstanceLock(const QString &listPath, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes the list for this process, before it is read.
    Outcome tryLock();
    QString failure() const { return m_failure; }
    // The process that holds the list, as the lock file names it; none when
    // the file does not tell.
    std::optional<qint64> holder() const;

    // For a window that holds the list: later window starts reach it.
    void listenForShowRequests();
    // For a window start that found the list held: asks the holder's window to
    // come forward. False when no window answers (the holder runs headless).
    bool askHolderToShow() const;

    // The local socket's name for the list, in a folder only the user may
    // enter; empty when there is no such folder.
    static QString serverName(const QString &listPath);
    // Whether the process at the local socket's other end runs as this user.
    static bool peerIsUser(qintptr socket);

    // Makes the folder, 0700, when it is missing. True when it is a folder (not
    // a link) of this user's that no one else may enter: only there can no other
    // user take the socket's name first.
    static bool makePrivateFolder(const QString &path);

Q_SIGNALS:
    void showRequested();

private:
    Outcome fail(const QString &reason);

    QString m_listPath;
    int m_fd = -1; // the open lock file; closing it lets the lock go
    QString m_failure;
    QLocalServer *m_server = nullptr; // a child while it listens
};
