#include "platform/sleepinhibitor.h"

#include <utility>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

// logind answers at once; a bus that does not is taken, a second later, for
// one without logind.
constexpr int callTimeoutMs = 1000;

} // namespace

SleepInhibitor &SleepInhibitor::instance()
{
    static SleepInhibitor inhibitor;
    return inhibitor;
}

void SleepInhibitor::acquire(QObject *requester, Note note)
{
    if (m_holders++ > 0)
        return;
    m_requester = requester;
    m_note = std::move(note);
    // A question still under way from an earlier capture brings this one's lock.
    if (!m_call)
        ask();
}

void SleepInhibitor::release()
{
    if (m_holders > 0 && --m_holders == 0)
        m_lock = QDBusUnixFileDescriptor();
}

void SleepInhibitor::ask()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Skyvane")
         << QStringLiteral("A station is being recorded") << QStringLiteral("block");
    m_call = new QDBusPendingCallWatcher(
        QDBusConnection::systemBus().asyncCall(call, callTimeoutMs), this);
    QObject::connect(m_call, &QDBusPendingCallWatcher::finished, this, &SleepInhibitor::answered);
}

void SleepInhibitor::answered(QDBusPendingCallWatcher *call)
{
    m_call = nullptr;
    call->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isValid() && reply.value().isValid()) {
        // With no capture left, the reply's descriptor closes with it: no lock.
        if (m_holders > 0)
            m_lock = reply.value();
        return;
    }
    if (m_toldUnprotected || !m_requester || !m_note)
        return;
    m_toldUnprotected = true;
    const Note note = std::exchange(m_note, nullptr);
    note(QStringLiteral("No sleep lock from logind (%1): the computer may sleep during "
                        "recordings\n")
             .arg(reply.error().message()));
}
