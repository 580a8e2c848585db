#pragma once

#include <QDBusUnixFileDescriptor>
#include <QString>

// Keeps the computer from sleeping while captures run: the first capture takes
// a logind "sleep" inhibitor lock, which lasts while its file descriptor is
// open, and the last one to end closes it. Without a system bus or logind (a
// container, a server without systemd) captures run on unprotected.
class SleepInhibitor
{
public:
    // The one inhibitor of the process, shared by all recordings.
    static SleepInhibitor &instance();

    // One more capture runs. Returns a line for the log the first time this
    // inhibitor finds it cannot keep the computer awake, else nothing. Waits
    // for logind at most a second.
    QString hold();
    // One capture fewer.
    void release();
    bool isLocked() const { return m_lock.isValid(); }

private:
    int m_holders = 0;
    QDBusUnixFileDescriptor m_lock;
    bool m_toldUnprotected = false;
};
