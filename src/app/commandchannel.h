#pragma once

#include <functional>
#include <optional>

#include <QJsonObject>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// How a command line start hands a change to the headless Skyvane that holds
// the list, so that the list never has two writers: one JSON object a line
// each way, on a local socket beside the window's, that only the same user
// may reach. The window does not listen on it: its editor may hold the
// recording a command would change.
class CommandChannel : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<QJsonObject(const QJsonObject &request)>;

    explicit CommandChannel(const QString &listPath, QObject *parent = nullptr);

    // For the holder: each request gets the handler's answer. False when it
    // cannot listen.
    bool listen(Handler handler);
    // For a command line start: the holder's answer; none when no holder
    // listens or it does not answer in time.
    static std::optional<QJsonObject> ask(const QString &listPath, const QJsonObject &request);

    static constexpr qint64 maxRequestBytes = 64 * 1024;

private:
    void serve(QLocalSocket *socket);
    static QString socketName(const QString &listPath);

    QString m_listPath;
    Handler m_handler;
    QLocalServer *m_server = nullptr; // a child while it listens
};
