#pragma once

#include <functional>

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>
#include <QString>

class QDBusPendingCallWatcher;

// Keeps the computer from sleeping while captures run: the first capture asks
// logind for a "sleep" inhibitor lock, which lasts while its file descriptor is
// open, and the last one to end closes it. The question never holds up the
// event loop: the lock comes with logind's answer, and an answer that finds no
// capture left is let go as it comes. Without a system bus or logind (a
// container, a server without systemd) captures run on unprotected.
class SleepInhibitor : public QObject
{
public:
    // Gets the line for the log that says the computer may sleep.
    using Note = std::function<void(const QString &line)>;

    // The one inhibitor of the process, shared by all recordings; main thread only.
    static SleepInhibitor &instance();

    // One more capture runs; returns at once. When logind's answer shows, the
    // first time in this process, that the computer cannot be kept awake,
    // note gets the line for the log from the event loop, unless requester is
    // gone by then. Only the capture that asks for a lock is told.
    void acquire(QObject *requester, Note note);
    // One capture fewer.
    void release();
    bool isLocked() const { return m_lock.isValid(); }
    // logind's answer is awaited.
    bool isAsking() const { return m_call != nullptr; }

private:
    SleepInhibitor() = default;
    void ask();
    void answered(QDBusPendingCallWatcher *call);

    int m_holders = 0;
    QDBusUnixFileDescriptor m_lock;
    QDBusPendingCallWatcher *m_call = nullptr; // the question under way
    QPointer<QObject> m_requester;
    Note m_note;
    bool m_toldUnprotected = false;
};
