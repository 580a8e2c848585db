#pragma once

#include <memory>
#include <optional>

#include <QPointer>
#include <QtHttpServer/QAbstractHttpServer>

#include "directory/directoryclient.h"
#include "web/loginguard.h"
#include "web/recordingsapi.h"
#include "web/webrequest.h"
#include "web/websessions.h"

class ConnectionLimits;
class QHttpServerResponder;
class QTcpSocket;
class RecordingList;

// The web page of a headless Skyvane and the JSON API it uses. The page's
// files are built into Skyvane. Every API call but the login needs a session;
// every change must come from the page itself (same origin); answers carry
// headers that keep the page from being framed or fed foreign scripts.
//   POST /api/login      {"password": ...}: a session cookie (204)
//   POST /api/logout
//   GET  /api/directory?name=...   stations of the radio directory
//   .../api/recordings   see RecordingsApi
class WebServer : public QAbstractHttpServer
{
    Q_OBJECT

public:
    // `passwordHash` as WebPassword stores it; without one no login succeeds.
    WebServer(RecordingList &list, std::optional<QByteArray> passwordHash, const QUrl &directoryUrl,
              QObject *parent = nullptr);
    ~WebServer() override;

    // Empty, or why it does not listen: beyond this computer only with a
    // password, as anyone who reaches the port could change the list.
    QString listen(const WebRequest::ListenAddress &where);
    quint16 port() const;

    static constexpr qsizetype maxBodyBytes = 64 * 1024;
    static constexpr qsizetype maxHeaders = 64;

Q_SIGNALS:
    // A wrong password came from this address.
    void loginFailed(const QString &address);

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Pending
    {
        QPointer<QTcpSocket> socket;
        std::shared_ptr<QHttpServerResponder> responder;
    };

    void handleApi(const QHttpServerRequest &request, QTcpSocket *socket, const QString &path);
    void logIn(const QHttpServerRequest &request, QTcpSocket *socket);
    void search(const QHttpServerRequest &request, QTcpSocket *socket);
    void answerSearch(const WebReply &reply);
    bool hasSession(const QHttpServerRequest &request);
    void serveFile(const QHttpServerRequest &request, QTcpSocket *socket, const QString &path);
    void reply(const QHttpServerRequest &request, QTcpSocket *socket, const WebReply &reply,
               const QByteArray &cookie = {});
    Pending keep(const QHttpServerRequest &request, QTcpSocket *socket);
    static void send(QHttpServerResponder &responder, const WebReply &reply,
                     const QByteArray &contentType, const QByteArray &cookie = {});

    RecordingsApi m_recordings;
    std::optional<QByteArray> m_passwordHash;
    WebSessions m_sessions;
    LoginGuard m_guard;
    DirectoryClient m_directory;
    std::optional<Pending> m_search;        // the one search under way
    ConnectionLimits *m_listener = nullptr; // a child
};
