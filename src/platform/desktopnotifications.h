#pragma once

#include <map>

#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

// Tells the desktop when a capture starts, ends and fails, through the
// freedesktop notification service on the session bus, in the words of the
// capture's outcome. Each recording keeps one notification, replaced by the next, so a
// station that keeps failing does not pile them up. Without a session bus or
// a notification service nothing is shown and nothing waits. Where the
// service shows actions, the notification of an end offers "Show" and "Open
// Folder"; choosing one is told by a signal, for the window to act on.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    // Asks the service once whether it shows actions; notifications sent
    // before it answers wait for the answer.
    explicit DesktopNotifications(QObject *parent = nullptr);

    // Starts are not told unless asked: a schedule of many recordings would
    // chatter.
    void setTellStarts(bool tell) { m_tellStarts = tell; }

    // `source` names the recording; `name` is what the user calls it.
    void captureStarted(QObject *source, const QString &name);
    void captureEnded(QObject *source, const QString &name, const QString &summary);
    // When source goes: its actions tell nothing any more.
    void forget(QObject *source) { m_notificationIds.erase(source); }

    // The body as notification servers read it: '&', '<' and '>' escaped.
    static QString bodyMarkup(const QString &text);

Q_SIGNALS:
    // The user chose "Show" or "Open Folder" on the notification of source's end.
    void showRequested(QObject *source);
    void openFolderRequested(QObject *source);

private Q_SLOTS:
    // The service's ActionInvoked signal, of any notification it shows.
    void actionInvoked(uint id, const QString &key);

private:
    void notify(QObject *source, const QString &summary, const QString &body, bool withActions);

    std::map<QObject *, uint> m_notificationIds;           // 0: none shown yet
    QDBusPendingCallWatcher *m_capabilitiesCall = nullptr; // until the service answers
    bool m_showsActions = false;
    bool m_tellStarts = false;
};
