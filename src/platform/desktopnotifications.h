#pragma once

#include <map>

#include <QObject>
#include <QString>

// Tells the desktop when a capture starts, ends and fails, through the
// freedesktop notification service on the session bus, in the words of the
// capture's outcome. Each recording keeps one notification, replaced by the next, so a
// station that keeps failing does not pile them up. Without a session bus or
// a notification service nothing is shown and nothing waits.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifications(QObject *parent = nullptr);

    // Starts are not told unless asked: a schedule of many recordings would
    // chatter.
    void setTellStarts(bool tell) { m_tellStarts = tell; }

    // `source` names the recording; `name` is what the user calls it.
    void captureStarted(const QObject *source, const QString &name);
    void captureEnded(const QObject *source, const QString &name, const QString &summary);
    void forget(const QObject *source) { m_notificationIds.erase(source); }

    // The body as notification servers read it: '&', '<' and '>' escaped.
    static QString bodyMarkup(const QString &text);

private:
    void notify(const QObject *source, const QString &summary, const QString &body);

    std::map<const QObject *, uint> m_notificationIds; // 0: none shown yet
    bool m_tellStarts = false;
};
