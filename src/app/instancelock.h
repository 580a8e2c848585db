#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

// One Skyvane per list file: two copies would both run the schedule and
// overwrite each other's edits. The first start holds a lock file beside the
// list; a lock left by a process that is gone (a crash, a kill) is taken over.
// A window that holds the list listens on a local socket named after the
// list's path, through which a later window start asks it to come forward.
class InstanceLock : public QObject
{
    Q_OBJECT

public:
    explicit InstanceLock(const QString &listPath, QObject *parent = nullptr);
    ~InstanceLock() override;

    // Takes the list for this process, before it is read. False only when
    // another running copy holds it; a lock that cannot be made at all (a
    // read-only folder) does not keep Skyvane from running.
    bool tryLock();
    // The process that holds the list; 0 when it cannot be told.
    qint64 holder() const;

    // For a window that holds the list: later window starts reach it.
    void listenForShowRequests();
    // For a window start that found the list held: asks the holder's window to
    // come forward. False when no window answers (the holder runs headless).
    bool askHolderToShow() const;

Q_SIGNALS:
    void showRequested();

private:
    QString m_listPath;
    QString m_serverName;
    QLockFile m_lock;
    QLocalServer *m_server = nullptr; // a child while it listens
};
