#include "web/webserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonParseError>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QtHttpServer/QHttpServerRequest>
#include <QtHttpServer/QHttpServerResponder>

#include "web/connectionlimits.h"
#include "web/webpassword.h"

namespace {

using Method = QHttpServerRequest::Method;

// Only the page's own files and requests: no inline script, no other site.
const QByteArray contentPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

const QByteArray jsonType = "application/json";

QString noPasswordText()
{
    return QStringLiteral("No password is set for the web page: set one with skyvane "
                          "--set-web-password, then log in.");
}

QJsonArray stationsJson(const QList<DirectoryStation> &stations)
{
    QJsonArray array;
    for (const DirectoryStation &station : stations) {
        array.append(QJsonObject{{QStringLiteral("name"), station.name},
                                 {QStringLiteral("url"), station.streamUrl},
                                 {QStringLiteral("country"), station.country},
                                 {QStringLiteral("codec"), station.codec},
                                 {QStringLiteral("bitrate"), station.bitrate},
                                 {QStringLiteral("tags"), station.tags.join(u", ")},
                                 {QStringLiteral("genre"), station.genre()}});
    }
    return array;
}

} // namespace

WebServer::WebServer(RecordingList &list, std::optional<QByteArray> passwordHash,
                     const QUrl &directoryUrl, QObject *parent)
    : QAbstractHttpServer(parent), m_recordings(list), m_passwordHash(std::move(passwordHash)),
      m_directory(directoryUrl)
{
    QObject::connect(&m_directory, &DirectoryClient::stationsFound, this,
                     [this](const QList<DirectoryStation> &stations) {
                         answerSearch(WebReply::json(200, stationsJson(stations)));
                     });
    QObject::connect(&m_directory, &DirectoryClient::searchFailed, this,
                     [this](const QString &reason) { answerSearch(WebReply::error(502, reason)); });
}

WebServer::~WebServer() = default;

QString WebServer::listen(const WebRequest::ListenAddress &where)
{
    if (!m_passwordHash && !where.address.isLoopback())
        return QStringLiteral("The web page listens beyond this computer (%1) only with a "
                              "password: set one with skyvane --set-web-password.")
            .arg(where.address.toString());
    m_listener = new ConnectionLimits(this);
    if (!m_listener->listen(where.address, where.port))
        return QStringLiteral("The web page cannot listen on %1 port %2: %3.")
            .arg(where.address.toString())
            .arg(where.port)
            .arg(m_listener->errorString());
    bind(m_listener);
    return {};
}

quint16 WebServer::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    if (request.headers().size() > maxHeaders) {
        reply(request, socket, WebReply::error(431, QStringLiteral("Too many header fields.")));
        return true;
    }
    const QString path = request.url().path();
    if (path.startsWith(QLatin1String("/api/")))
        handleApi(request, socket, path.mid(5));
    else
        serveFile(request, socket, path);
    return true;
}

void WebServer::missingHandler(const QHttpServerRequest &request, QTcpSocket *socket)
{
    reply(request, socket, WebReply::error(404, QStringLiteral("There is no such address.")));
}

void WebServer::handleApi(const QHttpServerRequest &request, QTcpSocket *socket,
                          const QString &path)
{
    const bool changes = request.method() != Method::Get;
    if (changes && !WebRequest::isSameOrigin(request.headers()))
        return reply(request, socket,
                     WebReply::error(403, QStringLiteral("Changes are taken only from Skyvane's "
                                                         "own page.")));
    if (request.body().size() > maxBodyBytes)
        return reply(request, socket,
                     WebReply::error(413, QStringLiteral("The request is too large.")));
    if (path == QLatin1String("login") && request.method() == Method::Post)
        return logIn(request, socket);
    if (!hasSession(request))
        return reply(request, socket, WebReply::error(401, QStringLiteral("Log in first.")));
    if (path == QLatin1String("logout") && request.method() == Method::Post) {
        m_sessions.close(WebRequest::sessionToken(WebRequest::header(request.headers(), "Cookie")));
        return reply(request, socket, {204, {}},
                     WebRequest::sessionCookie.toByteArray() +
                         "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    }
    if (path == QLatin1String("directory") && request.method() == Method::Get)
        return search(request, socket);
    QStringList parts = path.split(u'/');
    if (parts.takeFirst() != QLatin1String("recordings"))
        return missingHandler(request, socket);
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    reply(request, socket, m_recordings.handle(request.method(), parts, request.body()));
}

void WebServer::logIn(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString address = request.remoteAddress().toString();
    const auto now = LoginGuard::Clock::now();
    if (!m_passwordHash)
        return reply(request, socket, WebReply::error(403, noPasswordText()));
    if (const auto wait = m_guard.waitFor(address, now))
        return reply(request, socket,
                     WebReply::error(429, QStringLiteral("Too many failed logins: try again in "
                                                         "%1 seconds.")
                                              .arg(wait->count())));
    const QJsonValue password =
        QJsonDocument::fromJson(request.body()).object().value(QStringLiteral("password"));
    if (password.isString() &&
        WebPassword::matches(*m_passwordHash, password.toString().toUtf8())) {
        m_guard.succeeded(address);
        QByteArray cookie = WebRequest::sessionCookie.toByteArray() + '=' + m_sessions.open(now) +
                            "; Path=/; HttpOnly; SameSite=Strict";
        // Behind a reverse proxy with TLS the browser speaks https: the cookie stays there.
        if (WebRequest::header(request.headers(), "Origin").startsWith("https:"))
            cookie += "; Secure";
        return reply(request, socket, {204, {}}, cookie);
    }
    m_guard.failed(address, now);
    Q_EMIT loginFailed(address);
    // Answered late, so that guesses come slowly; the event loop goes on meanwhile.
    Pending pending = keep(request, socket);
    QTimer::singleShot(LoginGuard::failureDelay, this, [pending] {
        if (pending.socket)
            send(*pending.responder, WebReply::error(401, QStringLiteral("The password is wrong.")),
                 jsonType);
    });
}

// One search at a time, as the directory client runs them: a newer one
// answers the one it replaces.
void WebServer::search(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const QString name =
        request.query().queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).trimmed();
    if (name.isEmpty())
        return reply(request, socket,
                     WebReply::error(400, QStringLiteral("Type a part of the station's name.")));
    answerSearch(WebReply::error(409, QStringLiteral("A newer search replaced this one.")));
    m_search = keep(request, socket);
    StationFilter filter;
    filter.name = name;
    m_directory.search(filter);
}

void WebServer::answerSearch(const WebReply &reply)
{
    if (!m_search)
        return;
    const Pending pending = *std::exchange(m_search, std::nullopt);
    if (pending.socket)
        send(*pending.responder, reply, jsonType);
}

bool WebServer::hasSession(const QHttpServerRequest &request)
{
    const QByteArray token =
        WebRequest::sessionToken(WebRequest::header(request.headers(), "Cookie"));
    return !token.isEmpty() && m_sessions.use(token, WebSessions::Clock::now());
}

void WebServer::serveFile(const QHttpServerRequest &request, QTcpSocket *socket,
                          const QString &path)
{
    static const QHash<QString, std::pair<QString, QByteArray>> files{
        {QStringLiteral("/"), {QStringLiteral(":/web/index.html"), "text/html; charset=utf-8"}},
        {QStringLiteral("/app.js"),
         {QStringLiteral(":/web/app.js"), "text/javascript; charset=utf-8"}},
        {QStringLiteral("/style.css"),
         {QStringLiteral(":/web/style.css"), "text/css; charset=utf-8"}},
    };
    const auto found = files.constFind(path);
    if (found == files.cend())
        return missingHandler(request, socket);
    if (request.method() != Method::Get)
        return reply(request, socket,
                     WebReply::error(405, QStringLiteral("That is not done to this address.")));
    QFile file(found->first);
    if (!file.open(QIODevice::ReadOnly))
        return missingHandler(request, socket);
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, {200, file.readAll()}, found->second);
}

void WebServer::reply(const QHttpServerRequest &request, QTcpSocket *socket, const WebReply &reply,
                      const QByteArray &cookie)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    send(responder, reply, jsonType, cookie);
}

WebServer::Pending WebServer::keep(const QHttpServerRequest &request, QTcpSocket *socket)
{
    return {socket, std::make_shared<QHttpServerResponder>(makeResponder(request, socket))};
}

void WebServer::send(QHttpServerResponder &responder, const WebReply &reply,
                     const QByteArray &contentType, const QByteArray &cookie)
{
    responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
    if (!reply.body.isEmpty())
        responder.writeHeader("Content-Type", contentType);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("X-Frame-Options", "DENY");
    responder.writeHeader("Referrer-Policy", "same-origin");
    responder.writeHeader("Content-Security-Policy", contentPolicy);
    if (!cookie.isEmpty())
        responder.writeHeader("Set-Cookie", cookie);
    responder.writeBody(reply.body);
}
