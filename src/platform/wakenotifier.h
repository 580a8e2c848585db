#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// Tells when the wall clock moved under the running program: the computer woke
// from sleep (timers count monotonic time, which stands still while it sleeps)
// or the clock was set. It hears logind's PrepareForSleep on the system bus and,
// with or without logind, watches the wall clock drift from the monotonic one.
class WakeNotifier : public QObject
{
    Q_OBJECT

public:
    // The one notifier of the process, owned by the application.
    static WakeNotifier &instance();

    explicit WakeNotifier(QObject *parent = nullptr);

    // Compares how far Clock::now() moved with the monotonic time since the
    // last check; runs every 30 seconds by itself.
    void checkClock();

Q_SIGNALS:
    // Whatever waits for a wall-clock time should look at the clock again.
    void woke();

private Q_SLOTS:
    // logind's signal: true as the computer goes to sleep, false as it wakes.
    void prepareForSleep(bool start);

private:
    void restartClocks();

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    QDateTime m_wall; // Clock::now() when m_elapsed started
};
