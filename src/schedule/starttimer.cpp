#include "schedule/starttimer.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"
#include "platform/wakenotifier.h"

namespace {
constexpr qint64 nearWindowMs = 600 * 1000;
constexpr int recheckSeconds = 5 * 60;
} // namespace

StartTimer::StartTimer(QObject *parent) : QObject(parent), m_timer(this)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early, which would re-check instead of start.
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, &StartTimer::check);
    // The timer counts monotonic time, which stands still while the computer sleeps.
    QObject::connect(&WakeNotifier::instance(), &WakeNotifier::woke, this, [this] {
        if (m_timer.isActive())
            check();
    });
}

void StartTimer::start(const QDateTime &when)
{
    m_when = when;
    // An invalid date would read as "due now".
    if (!when.isValid()) {
        m_timer.stop();
        return;
    }
    const QDateTime now = Clock::now();
    arm(now.msecsTo(when) <= nearWindowMs ? when : now.addSecs(recheckSeconds));
}

void StartTimer::stop()
{
    m_timer.stop();
}

void StartTimer::check()
{
    if (Clock::now().msecsTo(m_when) <= 0) {
        Q_EMIT due();
        return;
    }
    start(m_when);
}

void StartTimer::arm(const QDateTime &fireDate)
{
    const qint64 delay =
        std::clamp<qint64>(Clock::now().msecsTo(fireDate), 0, std::numeric_limits<int>::max());
    m_timer.start(int(delay));
}
