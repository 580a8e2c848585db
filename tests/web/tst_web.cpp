// The web page's server over real sockets: sessions, the same-origin rule,
// the recordings' API and the bounds on what a client may send.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "directory/directoryapi.h"
#include "model/recordinglist.h"
#include "web/connectionlimits.h"
#include "web/loginguard.h"
#include "web/webpassword.h"
#include "web/webrequest.h"
#include "web/webserver.h"
#include "web/websessions.h"
#include "stationsimulator.h"
#include "testfiles.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QByteArray password = "a long enough password";

struct Reply
{
    int status = 0;
    QByteArray head;
    QByteArray body;

    QJsonValue json() const
    {
        const QJsonDocument document = QJsonDocument::fromJson(body);
        return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    }
};

// Reads until the whole reply (by its Content-Length) has come, or the server
// closed the connection.
Reply receive(QTcpSocket &socket)
{
    QByteArray got;
    for (int turn = 0; turn < 100; ++turn) {
        got += socket.readAll();
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end >= 0) {
            const QByteArray head = got.left(end);
            const qsizetype at = head.toLower().indexOf("content-length:");
            const qsizetype length =
                at < 0 ? 0 : head.mid(at + 15).split('\r').first().trimmed().toLongLong();
            if (got.size() >= end + 4 + length)
                return {head.mid(9, 3).toInt(), head, got.mid(end + 4, length)};
        }
        if (socket.state() != QAbstractSocket::ConnectedState)
            break;
        QSignalSpy(&socket, &QTcpSocket::readyRead).wait(100);
    }
    return {0, {}, got};
}

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.state() == QAbstractSocket::ConnectedState ||
           QSignalSpy(&socket, &QTcpSocket::connected).wait(5000);
}

} // namespace

class WebTest : public QObject
{
    Q_OBJECT

    StationSimulator m_directory;
    RecordingList *m_list = nullptr;
    WebServer *m_server = nullptr;
    QByteArray m_cookie;

    QByteArray origin() const { return "http://127.0.0.1:" + QByteArray::number(m_server->port()); }

    Reply send(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
               QByteArrayList headers = {})
    {
        headers.prepend("Host: 127.0.0.1:" + QByteArray::number(m_server->port()));
        if (method != "GET" && !headers.join().contains("Origin"))
            headers.append("Origin: " + origin());
        if (!m_cookie.isEmpty())
            headers.append("Cookie: " + m_cookie);
        QTcpSocket socket;
        if (!connectTo(socket, m_server->port()))
            return {};
        socket.write(method + ' ' + path + " HTTP/1.1\r\n" + headers.join("\r\n") +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        return receive(socket);
    }

    Reply logIn(const QByteArray &given)
    {
        const Reply reply = send("POST", "/api/login", "{\"password\": \"" + given + "\"}");
        const qsizetype at = reply.head.indexOf("skyvane_session=");
        if (at >= 0)
            m_cookie = reply.head.mid(at).split(';').first();
        return reply;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_directory.start()); }
    void init()
    {
        QFile::remove(RecordingList::filePath());
        m_cookie.clear();
        m_list = new RecordingList(this);
        m_server =
            new WebServer(*m_list, WebPassword::hash(password), QUrl(m_directory.url(u""_s)), this);
        QCOMPARE(m_server->listen({QHostAddress(QHostAddress::LocalHost), 0}), QString());
    }
    void cleanup()
    {
        delete m_server;
        delete m_list;
    }

    // The rules a request is read by.
    void requestRules()
    {
        using WebRequest::isSameOrigin;
        const auto headers = [](QByteArray origin, QByteArray referer = {}) {
            WebRequest::Headers list{{"host", "box.lan:8080"}};
            if (!origin.isEmpty())
                list.append({"ORIGIN", origin});
            if (!referer.isEmpty())
                list.append({"Referer", referer});
            return list;
        };
        QVERIFY(isSameOrigin(headers("http://box.lan:8080")));
        QVERIFY(isSameOrigin(headers("https://BOX.lan:8080")));
        QVERIFY(isSameOrigin(headers({}, "http://box.lan:8080/page?x=1")));
        QVERIFY(isSameOrigin(headers("null", "http://box.lan:8080/")));
        QVERIFY(!isSameOrigin(headers({})));
        QVERIFY(!isSameOrigin(headers("http://box.lan")));
        QVERIFY(!isSameOrigin(headers("http://box.lan:8080.evil.example")));
        QVERIFY(!isSameOrigin(headers("http://evil.example", "http://box.lan:8080/")));
        QVERIFY(!isSameOrigin(headers("http://user@box.lan:8080")));
        QVERIFY(!isSameOrigin(headers("file://box.lan:8080")));
        QVERIFY(!isSameOrigin({{"Origin", "http://box.lan:8080"}}));

        QCOMPARE(WebRequest::sessionToken("a=1; skyvane_session=abc; b=2"), "abc");
        QCOMPARE(WebRequest::sessionToken("xskyvane_session=abc"), QByteArray());

        const auto listen = [](const QString &text) {
            const auto parsed = WebRequest::parseListenAddress(text);
            if (const auto *where = std::get_if<WebRequest::ListenAddress>(&parsed))
                return where->address.toString() + u' ' + QString::number(where->port);
            return QString();
        };
        QCOMPARE(listen(u"8080"_s), u"127.0.0.1 8080"_s);
        QCOMPARE(listen(u"localhost:80"_s), u"127.0.0.1 80"_s);
        QCOMPARE(listen(u"0.0.0.0:8080"_s), u"0.0.0.0 8080"_s);
        QCOMPARE(listen(u"[::1]:8080"_s), u"::1 8080"_s);
        for (const QString &wrong :
             {u"0"_s, u"65536"_s, u"box:80"_s, u"80x"_s, u"1.2.3.4:"_s, u""_s})
            QVERIFY2(listen(wrong).isEmpty(), qPrintable(wrong));
    }

    // Five failures in a row are free; then a minute's wait, doubling. All
    // addresses together fail at most thirty times a minute.
    void loginGuard()
    {
        LoginGuard guard;
        const auto start = LoginGuard::Clock::time_point(100h);
        for (int i = 0; i < 4; ++i)
            guard.failed(u"a"_s, start);
        QVERIFY(!guard.waitFor(u"a"_s, start));
        guard.failed(u"a"_s, start);
        QCOMPARE(guard.waitFor(u"a"_s, start), 60s);
        QVERIFY(!guard.waitFor(u"b"_s, start));
        guard.failed(u"a"_s, start + 60s);
        QCOMPARE(guard.waitFor(u"a"_s, start + 60s), 120s);
        guard.succeeded(u"a"_s);
        QVERIFY(!guard.waitFor(u"a"_s, start + 60s));

        const auto later = start + 10h;
        for (int i = 0; i < 29; ++i)
            guard.failed(QString::number(i), later);
        QVERIFY(!guard.waitFor(u"c"_s, later + 1s));
        guard.failed(u"d"_s, later + 1s);
        QCOMPARE(guard.waitFor(u"c"_s, later + 1s), 59s);
        QVERIFY(!guard.waitFor(u"c"_s, later + 60s));
    }

    // At most 64 at once, the least recently used going first; a week unused ends one.
    void sessionsAreBounded()
    {
        WebSessions sessions;
        const auto start = WebSessions::Clock::time_point(100h);
        QByteArrayList tokens;
        for (int i = 0; i < WebSessions::maxSessions; ++i)
            tokens.append(sessions.open(start + std::chrono::seconds(i)));
        QVERIFY(sessions.use(tokens.first(), start + 1h));
        const QByteArray newest = sessions.open(start + 1h);
        QVERIFY(!sessions.use(tokens.at(1), start + 1h));
        QVERIFY(sessions.use(tokens.first(), start + 2h) && sessions.use(tokens.at(2), start + 2h));
        QVERIFY(!sessions.use(newest, start + 1h + WebSessions::idleLimit + 1s));
        QCOMPARE(newest.size(), 64);
    }

    void sessions()
    {
        QCOMPARE(send("GET", "/api/recordings").status, 401);
        QCOMPARE(logIn("wrong").status, 401);
        QVERIFY(m_cookie.isEmpty());
        const Reply in = logIn(password);
        QCOMPARE(in.status, 204);
        QVERIFY(in.head.contains("; Path=/; HttpOnly; SameSite=Strict"));
        QCOMPARE(send("GET", "/api/recordings").json(), QJsonValue(QJsonArray()));
        QCOMPARE(send("POST", "/api/logout").status, 204);
        const QByteArray secure = "Origin: https://" + origin().mid(7);
        QVERIFY(send("POST", "/api/login", "{\"password\": \"" + password + "\"}", {secure})
                    .head.contains("; SameSite=Strict; Secure"));
        QCOMPARE(send("GET", "/api/recordings").status, 401);
        m_cookie = "skyvane_session=" + QByteArray(64, 'a');
        QCOMPARE(send("GET", "/api/recordings").status, 401);
        // A login too must come from the page: no other site logs a browser in.
        m_cookie.clear();
        QCOMPARE(send("POST", "/api/login", "{\"password\": \"" + password + "\"}",
                      {"Origin: http://evil.example"})
                     .status,
                 403);
    }

    // After five wrong passwords the address waits, the right one included.
    void slowsGuessing()
    {
        // A guesser that leaves before its late answer: nothing is written to it.
        QTcpSocket gone;
        QVERIFY(connectTo(gone, m_server->port()));
        gone.write("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n"
                   "Content-Length: 2\r\n\r\n{}");
        QVERIFY(gone.waitForBytesWritten(1000));
        gone.abort();
        QTest::qWait(1500);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(logIn("guess").status, 401);
        const Reply refused = logIn(password);
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.json()[u"error"_s].toString().startsWith(u"Too many failed logins"_s));
        QVERIFY(m_cookie.isEmpty());
    }

    void servesThePage()
    {
        const Reply page = send("GET", "/");
        QCOMPARE(page.status, 200);
        QVERIFY(page.head.contains("Content-Type: text/html"));
        QVERIFY(
            page.head.contains("Content-Security-Policy: default-src 'self'; script-src 'self'"));
        QVERIFY(page.head.contains("X-Frame-Options: DENY"));
        QVERIFY(page.body.contains("app.js"));
        QCOMPARE(send("GET", "/app.js").status, 200);
        QCOMPARE(send("GET", "/../etc/passwd").status, 404);
        QCOMPARE(send("POST", "/").status, 405);
    }

    // Every change is checked as the editor's Save checks it, stored, and
    // answered with the recording as the list describes it.
    void changesTheList()
    {
        QCOMPARE(logIn(password).status, 204);
        // A station that takes the connection and never answers: a capture stays under way.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QByteArray station = "http://127.0.0.1:" + QByteArray::number(silent.serverPort());
        const QByteArray hostile = "{\"name\": \"<img src=x onerror=alert(1)>\", \"url\": "
                                   "\"" +
                                   station + "/live\", \"duration\": 5, \"daily\": true}";
        const Reply added = send("POST", "/api/recordings", hostile);
        QCOMPARE(added.status, 201);
        QCOMPARE(added.json()[u"name"_s].toString(), u"<img src=x onerror=alert(1)>"_s);
        QCOMPARE(added.json()[u"state"_s].toString(), u"Scheduled"_s);
        QCOMPARE(added.json()[u"overview"_s][u"days"_s].toString(), u"Every day"_s);
        QVERIFY(!added.json().toObject().contains(u"log"_s));
        QVERIFY(added.json().toObject().value(u"lastOutcome"_s).isNull());
        m_list->flushStores();
        QVERIFY(fileContents(RecordingList::filePath()).contains("onerror=alert(1)"));

        const auto refused = [this](const QByteArray &method, const QByteArray &path,
                                    const QByteArray &body) {
            const Reply reply = send(method, path, body);
            return QByteArray::number(reply.status) + ' ' +
                   reply.json()[u"field"_s].toString().toUtf8();
        };
        QCOMPARE(refused("POST", "/api/recordings", hostile), "422 name");
        QCOMPARE(refused("POST", "/api/recordings", "{\"url\": \"ftp://x/\"}"), "422 url");
        QCOMPARE(refused("PUT", "/api/recordings/0", "{\"duration\": 0}"), "422 duration");
        QCOMPARE(refused("PUT", "/api/recordings/0", "{\"duration\": \"long\"}"), "400 duration");
        QCOMPARE(refused("PUT", "/api/recordings/0", "[1]"), "400 ");
        QCOMPARE(refused("PUT", "/api/recordings/1", "{}"), "404 ");
        QCOMPARE(refused("PUT", "/api/recordings/+0", "{}"), "404 ");
        QCOMPARE(refused("PATCH", "/api/recordings/0", "{}"), "405 ");

        // Read-only keys of the description are passed over; the editor's own trimmed.
        Reply changed =
            send("PUT", "/api/recordings/0",
                 "{\"name\": \"  Morning  \", \"state\": \"Failed\", \"log\": \"INJECTED\","
                 " \"startTime\": 1500, \"cutWindowMs\": 99999}");
        QCOMPARE(changed.status, 200);
        QCOMPARE(changed.json()[u"name"_s].toString(), u"Morning"_s);
        QCOMPARE(changed.json()[u"startTime"_s].toInt(), 60);
        QCOMPARE(changed.json()[u"cutWindowMs"_s].toInt(), RecordingSettings::maxCutWindowMs);
        QVERIFY(!m_list->at(0)->logText().contains(u"INJECTED"_s));

        QCOMPARE(send("POST", "/api/recordings/0/clone").json()[u"name"_s].toString(),
                 u"Morning 2"_s);
        QCOMPARE(send("POST", "/api/recordings/1/now").json()[u"capturing"_s].toBool(), true);
        QCOMPARE(send("POST", "/api/recordings/1/now").status, 409);
        QCOMPARE(send("POST", "/api/recordings/1/stop").status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(!m_list->at(1)->isCapturing(), 10000);
        QVERIFY(send("GET", "/api/recordings").json()[1][u"lastOutcome"_s].isObject());
        QVERIFY(send("GET", "/api/recordings/1/log")
                    .json()[u"log"_s]
                    .toString()
                    .contains(u"Connecting to "_s + QString::fromLatin1(station)));
        QCOMPARE(send("DELETE", "/api/recordings/0").status, 204);
        QCOMPARE(send("DELETE", "/api/recordings/1").status, 404);
        m_list->flushStores();
        const QByteArray stored = fileContents(RecordingList::filePath());
        QVERIFY(stored.contains("Morning 2") && !stored.contains("\"Morning\""));

        // Changes from elsewhere are refused, however they come.
        for (const QByteArray &foreign :
             {QByteArray("Origin: http://evil.example"), QByteArray("Origin: null")})
            QCOMPARE(send("DELETE", "/api/recordings/0", {}, {foreign}).status, 403);
        QCOMPARE(m_list->size(), 1);
    }

    // The directory's stations, found for the page; a search replaced by a
    // newer one is answered, never left waiting.
    void searchesTheDirectory()
    {
        QCOMPARE(logIn(password).status, 204);
        StationFilter filter;
        filter.name = u"jazz & blues"_s;
        m_directory.setRoute(
            DirectoryApi::searchUrl(QUrl(m_directory.url(u""_s)), filter)
                .toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority),
            StationSimulator::Route::page("HTTP/1.1 200 OK", "application/json",
                                          "[{\"stationuuid\": \"1\", \"name\": \"<b>Jazz</b>\", "
                                          "\"url\": \"http://a/\", \"tags\": \"jazz,blues\"}]"));
        QTcpSocket first;
        QVERIFY(connectTo(first, m_server->port()));
        first.write("GET /api/directory?name=x HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " + m_cookie +
                    "\r\n\r\n");
        QVERIFY(first.waitForBytesWritten(1000));
        const Reply found = send("GET", "/api/directory?name=jazz%20%26%20blues");
        QCOMPARE(receive(first).status, 409);
        QVERIFY2(found.status == 200, found.body.constData());
        QCOMPARE(found.json()[0][u"name"_s].toString(), u"<b>Jazz</b>"_s);
        QCOMPARE(found.json()[0][u"genre"_s].toString(), u"Jazz"_s);
        QCOMPARE(send("GET", "/api/directory?name=%20").status, 400);
    }

    void boundsRequests()
    {
        QCOMPARE(logIn(password).status, 204);
        const QByteArray big = "{\"name\": \"" + QByteArray(WebServer::maxBodyBytes, 'n') + "\"}";
        QCOMPARE(send("POST", "/api/recordings", big).status, 413);
        QByteArrayList many;
        for (int i = 0; i < WebServer::maxHeaders; ++i)
            many.append("X-Filler-" + QByteArray::number(i) + ": 1");
        QCOMPARE(send("GET", "/api/recordings", {}, many).status, 431);

        // A request past the bound is cut off as it comes, never held whole.
        QTcpSocket huge;
        QVERIFY(connectTo(huge, m_server->port()));
        huge.write("POST /api/recordings HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n");
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 40 && huge.state() == QAbstractSocket::ConnectedState; ++i) {
            huge.write(chunk);
            QSignalSpy(&huge, &QTcpSocket::bytesWritten).wait(200);
        }
        QTRY_COMPARE_WITH_TIMEOUT(huge.state(), QAbstractSocket::UnconnectedState, 10000);

        // Past the most connections at once, a further one is closed at once.
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < ConnectionLimits::maxConnections; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(connectTo(*held.back(), m_server->port()));
        }
        QTcpSocket oneMore;
        QVERIFY(connectTo(oneMore, m_server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(oneMore.state(), QAbstractSocket::UnconnectedState, 5000);
        held.clear();
        QTRY_COMPARE_WITH_TIMEOUT(send("GET", "/api/recordings").status, 200, 5000);
    }

    // Anyone who reaches the port could change the list: beyond this
    // computer only with a password.
    void listensBeyondLoopbackOnlyWithPassword()
    {
        RecordingList list;
        WebServer open(list, std::nullopt, QUrl(), nullptr);
        QVERIFY(open.listen({QHostAddress(QHostAddress::AnyIPv4), 0})
                    .contains(u"only with a password"_s));
        WebServer local(list, std::nullopt, QUrl(), nullptr);
        QCOMPARE(local.listen({QHostAddress(QHostAddress::LocalHost), 0}), QString());
        WebServer guarded(list, WebPassword::hash(password), QUrl(), nullptr);
        QCOMPARE(guarded.listen({QHostAddress(QHostAddress::AnyIPv4), 0}), QString());
    }
};

SKYVANE_TEST_GUILESS_MAIN(WebTest)
#include "tst_web.moc"
