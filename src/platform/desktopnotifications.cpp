#include "platform/desktopnotifications.h"

#include <array>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringView>
#include <QVariantMap>

namespace {

// The capture's log lines that end it before its time.
constexpr std::array failurePrefixes{
    u"Can not open connection",
    u"Connection failed with error:",
    u"Connection closed by the station",
    u"Connection stalled",
    u"Too many redirects",
    u"File access error:",
    u"Only ", // "Only N MB free on the disk of ..."
};

bool isFailure(QStringView line)
{
    // A removed track file is taken care of: the capture goes on.
    if (line.endsWith(u"going on in a new file"))
        return false;
    for (const QStringView prefix : failurePrefixes) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

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

DesktopNotifications::DesktopNotifications(QObject *parent) : QObject(parent) {}

void DesktopNotifications::Outcome::read(const QString &rawLine)
{
    const QStringView line = QStringView(rawLine).trimmed();
    if (line.startsWith(u"File size is"))
        ++tracksSaved;
    else if (line.startsWith(u"Will reconnect"))
        willReconnect = true;
    else if (isFailure(line))
        failure = line.toString();
}

QString DesktopNotifications::Outcome::text() const
{
    const QString saved = tracksSaved == 1 ? QStringLiteral("1 track saved")
                                           : QStringLiteral("%1 tracks saved").arg(tracksSaved);
    if (failure.isEmpty())
        return QStringLiteral("Recording ended: %1").arg(saved);
    QString text = QStringLiteral("Recording failed: %1\n%2").arg(failure, saved);
    if (willReconnect)
        text += QStringLiteral("; trying again in 15 seconds");
    return text;
}

void DesktopNotifications::captureStarted(const QObject *source, const QString &name)
{
    m_captures[source].outcome = Outcome();
    if (m_tellStarts)
        notify(source, name, QStringLiteral("Recording started"));
}

void DesktopNotifications::logLine(const QObject *source, const QString &line)
{
    if (const auto following = m_captures.find(source); following != m_captures.end())
        following->second.outcome.read(line);
}

void DesktopNotifications::captureEnded(const QObject *source, const QString &name)
{
    const auto following = m_captures.find(source);
    if (following == m_captures.end())
        return;
    notify(source, name, following->second.outcome.text());
    following->second.outcome = Outcome();
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
    call << QStringLiteral("Skyvane") << m_captures[source].notificationId
         << QStringLiteral("skyvane") << summary << bodyMarkup(body) << QStringList() << hints
         << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this, source](QDBusPendingCallWatcher *done) {
                         const QDBusPendingReply<uint> reply = *done;
                         const auto following = m_captures.find(source);
                         if (reply.isValid() && following != m_captures.end())
                             following->second.notificationId = reply.value();
                         done->deleteLater();
                     });
}
