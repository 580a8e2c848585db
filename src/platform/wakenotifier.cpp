#include "platform/wakenotifier.h"

#include <cstdlib>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QPointer>

#include "platform/clock.h"

namespace {

constexpr int checkPeriodMs = 30 * 1000;
// Reading two clocks takes a moment; anything beyond this is a jump.
constexpr qint64 toleranceMs = 10 * 1000;

} // namespace

WakeNotifier &WakeNotifier::instance()
{
    static QPointer<WakeNotifier> notifier;
    if (!notifier)
        notifier = new WakeNotifier(QCoreApplication::instance());
    return *notifier;
}

WakeNotifier::WakeNotifier(QObject *parent) : QObject(parent), m_timer(this)
{
    restartClocks();
    QObject::connect(&m_timer, &QTimer::timeout, this, &WakeNotifier::checkClock);
    m_timer.start(checkPeriodMs);
    // Without a system bus or logind this hears nothing; the clock check remains. Any
    // sender will do: a false wake costs one re-check, and a restarted logind needs no
    // watching.
    QDBusConnection::systemBus().connect(QString(), QStringLiteral("/org/freedesktop/login1"),
                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                         QStringLiteral("PrepareForSleep"), this,
                                         SLOT(prepareForSleep(bool)));
}

void WakeNotifier::checkClock()
{
    const QDateTime before = m_wall;
    const qint64 elapsed = m_elapsed.elapsed();
    restartClocks();
    if (before.isValid() && m_wall.isValid() &&
        std::llabs(before.msecsTo(m_wall) - elapsed) > toleranceMs)
        Q_EMIT woke();
}

void WakeNotifier::prepareForSleep(bool start)
{
    if (start)
        return;
    // The clock check would see the same wake again.
    restartClocks();
    Q_EMIT woke();
}

void WakeNotifier::restartClocks()
{
    m_wall = Clock::now();
    m_elapsed.start();
}
