#include "platform/desktopnotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

// A body may hold a small subset of HTML (servers that announce "body-markup"
// render it, the others strip it), and a bare '&' breaks their parser. The body
// carries a station's words and URLs, so it is always escaped.
QString DesktopNotifications::bodyMarkup(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            escaped += QStringLiteral("&amp;");
        else if (c == u'<')
            escaped += QStringLiteral("&lt;");
        else if (c == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

DesktopNotifications::DesktopNotifications(QObject *parent) : QObject(parent) {}

void DesktopNotifications::captureStarted(const QObject *source, const QString &name)
{
    if (m_tellStarts)
        notify(source, name, QStringLiteral("Recording started"));
}

void DesktopNotifications::captureEnded(const QObject *source, const QString &name,
                                        const QString &summary)
{
    notify(source, name, summary);
}

// Asynchronous: a notification service that is slow or gone never holds up the
// event loop, and its answer only serves to replace the notification later.
void DesktopNotifications::notify(const QObject *source, const QString &summary,
                                  const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("skyvane")}};
    call << QStringLiteral("Skyvane") << m_notificationIds[source] << QStringLiteral("skyvane")
         << summary << bodyMarkup(body) << QStringList() << hints << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, source](QDBusPendingCallWatcher *done) {
                         const QDBusPendingReply<uint> reply = *done;
                         const auto shown = m_notificationIds.find(source);
                         if (reply.isValid() && shown != m_notificationIds.end())
                             shown->second = reply.value();
                         done->deleteLater();
                     });
}
