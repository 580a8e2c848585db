#include "platform/sleepinhibitor.h"

#include <utility>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>

namespace {

// logind answers at once; a bus that does not must not stall the captures.
constexpr int callTimeoutMs = 1000;

} // namespace

SleepInhibitor &SleepInhibitor::instance()
{
    static SleepInhibitor inhibitor;
    return inhibitor;
}

QString SleepInhibitor::hold()
{
    if (m_holders++ > 0)
        return {};
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Skyvane")
         << QStringLiteral("A station is being recorded") << QStringLiteral("block");
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        QDBusConnection::systemBus().call(call, QDBus::Block, callTimeoutMs);
    if (reply.isValid() && reply.value().isValid()) {
        m_lock = reply.value();
        return {};
    }
    if (std::exchange(m_toldUnprotected, true))
        return {};
    return QStringLiteral("No sleep lock from logind (%1): the computer may sleep during "
                          "recordings\n")
        .arg(reply.error().message());
}

void SleepInhibitor::release()
{
    if (m_holders > 0 && --m_holders == 0)
        m_lock = QDBusUnixFileDescriptor();
}
