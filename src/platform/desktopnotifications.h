#pragma once

#include <map>

#include <QObject>
#include <QString>

// Tells the desktop when a capture starts, ends and fails, through the
// freedesktop notification service on the session bus. It is fed from a
// recording's signals: a start, each log line, the end. The tracks saved and a
// failure's reason are read from the capture's log lines, the one place that
// says them. Each recording keeps one notification, replaced by the next, so a
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
    void logLine(const QObject *source, const QString &line);
    void captureEnded(const QObject *source, const QString &name);
    void forget(const QObject *source) { m_captures.erase(source); }

    // What a capture's log says about how it went, as the notification's text:
    // the tracks saved, and the reason it broke off, if it did.
    struct Outcome
    {
        int tracksSaved = 0;
        QString failure; // the log line that ended the capture; "" when none did
        bool willReconnect = false;

        void read(const QString &line);
        QString text() const;
    };

    // The body as notification servers read it: '&', '<' and '>' escaped.
    static QString bodyMarkup(const QString &text);

private:
    void notify(const QObject *source, const QString &summary, const QString &body);

    struct Following
    {
        Outcome outcome;
        uint notificationId = 0; // 0: none shown yet
    };
    std::map<const QObject *, Following> m_captures;
    bool m_tellStarts = false;
};
