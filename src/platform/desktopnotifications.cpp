#include "platform/desktopnotifications.h"

#include <algorithm>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interfaceName = QStringLiteral("org.freedesktop.Notifications");
const QString showKey = QStringLiteral("show");
const QString openFolderKey = QStringLiteral("open-folder");

} // namespace

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

DesktopNotifications::DesktopNotifications(QObject *parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(service, objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    m_capabilitiesCall = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(service, objectPath, interfaceName,
                                                     QStringLiteral("GetCapabilities"))),
        this);
    QObject::connect(m_capabilitiesCall, &QDBusPendingCallWatcher::finished, this,
                     [this](QDBusPendingCallWatcher *answered) {
                         const QDBusPendingReply<QStringList> reply = *answered;
                         m_showsActions =
                             reply.isValid() && reply.value().contains(QStringLiteral("actions"));
                         m_capabilitiesCall = nullptr;
                         answered->deleteLater();
                     });
}

void DesktopNotifications::captureStarted(QObject *source, const QString &name)
{
    if (m_tellStarts)
        notify(source, name, QStringLiteral("Recording started"), false);
}

void DesktopNotifications::captureEnded(QObject *source, const QString &name,
                                        const QString &summary)
{
    notify(source, name, summary, true);
}

void DesktopNotifications::actionInvoked(uint id, const QString &key)
{
    // The service tells every client of every notification's actions; 0 is no
    // notification, as an id not known yet is.
    const auto shown = std::find_if(m_notificationIds.begin(), m_notificationIds.end(),
                                    [id](const auto &entry) { return entry.second == id; });
    if (id == 0 || shown == m_notificationIds.end())
        return;
    if (key == showKey)
        Q_EMIT showRequested(shown->first);
    else if (key == openFolderKey)
        Q_EMIT openFolderRequested(shown->first);
}

// Asynchronous: a notification service that is slow or gone never holds up the
// event loop, and its answer only serves to replace the notification later.
void DesktopNotifications::notify(QObject *source, const QString &summary, const QString &body,
                                  bool withActions)
{
    // Connected after the watcher's own slot, so this runs once the answer is known.
    if (m_capabilitiesCall) {
        QObject::connect(m_capabilitiesCall, &QDBusPendingCallWatcher::finished, this,
                         [=, this, alive = QPointer<QObject>(source)] {
                             if (alive)
                                 notify(source, summary, body, withActions);
                         });
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interfaceName,
                                                       QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("skyvane")}};
    // Pairs of key and label.
    const QStringList actions = withActions && m_showsActions
                                    ? QStringList{showKey, QStringLiteral("Show"), openFolderKey,
                                                  QStringLiteral("Open Folder")}
                                    : QStringList();
    call << QStringLiteral("Skyvane") << m_notificationIds[source] << QStringLiteral("skyvane")
         << summary << bodyMarkup(body) << actions << hints << qint32(-1);
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
