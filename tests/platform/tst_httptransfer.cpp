#include <QTest>

#include "transfertest.h"

using namespace Qt::StringLiterals;
using Route = StationSimulator::Route;

void TestHttpTransfer::init()
{
    m_station = std::make_unique<StationSimulator>();
    QVERIFY(m_station->start());
}

void TestHttpTransfer::cleanup()
{
    m_station.reset();
    // Transfers and connections dropped by the test are freed by deleteLater.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The simulator is the reference for what a station sends: check its layout by hand.
void TestHttpTransfer::stationLayout()
{
    QCOMPARE(StationSimulator::audioByte(0), '\0');
    QCOMPARE(StationSimulator::audioByte(1), '\x07');
    QCOMPARE(StationSimulator::audioByte(251), static_cast<char>((251 * 7 + 1) & 0xff));
    QByteArray across;
    for (qint64 i = 249; i < 253; ++i)
        across.append(StationSimulator::audioByte(i));
    QCOMPARE(StationSimulator::audioBytes(249, 4), across);

    Route route = Route::stream("ICY 200 OK", 4);
    route.titles = {"A", "B"};
    route.titleInterval = 8;
    const QByteArray titleA = "\x01StreamTitle='A';";
    const QByteArray titleB = "\x01StreamTitle='B';";
    const QByteArray empty(1, '\0');
    const auto audio = [](qint64 from) { return StationSimulator::audioBytes(from, 4); };
    QCOMPARE(StationSimulator::wireBody(route, 16),
             audio(0) + titleA + audio(4) + titleB + audio(8) + empty + audio(12));
    QVERIFY(!StationSimulator::titleIndexAt(route, 3));
    QCOMPARE(StationSimulator::titleIndexAt(route, 11), std::optional<qsizetype>(1));
    QCOMPARE(StationSimulator::titleIndexAt(route, 16), std::optional<qsizetype>(0));

    const QByteArray longer = StationSimulator::metadataBlock("Artist - Title");
    QCOMPARE(longer.size(), 1 + 32);
    QCOMPARE(longer.at(0), '\x02');
    QVERIFY(longer.startsWith("\x02StreamTitle='Artist - Title';\0"));
}

void TestHttpTransfer::requestSendsHeaderFieldsInOrder()
{
    Route route = Route::stream();
    route.closeAfterAudio = 100;
    m_station->setRoute("/live", route);
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/live"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));

    QCOMPARE(m_station->requests().size(), 1);
    const StationSimulator::Request request = m_station->requests().first();
    QCOMPARE(request.requestLine, QByteArray("GET /live HTTP/1.1"));
    QList<QByteArray> sent;
    for (const auto &[name, value] : stationFields)
        sent.append(name + ": " + value);
    const qsizetype first = request.headerLines.indexOf(sent.first());
    QVERIFY2(first >= 0, request.headerLines.join('|').constData());
    QCOMPARE(request.headerLines.mid(first, sent.size()), sent);
    qsizetype userAgents = 0;
    for (const QByteArray &line : request.headerLines) {
        if (line.toLower().startsWith("user-agent:"))
            ++userAgents;
    }
    QCOMPARE(userAgents, 1);
    // A compressed answer would not be the station's bytes.
    QVERIFY(!request.headerValue("Accept-Encoding"));
}

void TestHttpTransfer::answers_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<int>("maxChunk");
    QTest::addColumn<qint64>("audioBytes");

    QTest::newRow("ICY, large writes") << QByteArray("ICY 200 OK") << 0 << qint64(3'000'000);
    QTest::newRow("ICY, cut to 1-7 bytes") << QByteArray("ICY 200 OK") << 7 << qint64(30'000);
    QTest::newRow("HTTP/1.0, cut to 1-3 bytes")
        << QByteArray("HTTP/1.0 200 OK") << 3 << qint64(6000);
    QTest::newRow("HTTP/1.1, cut to 1-4000 bytes")
        << QByteArray("HTTP/1.1 200 OK") << 4000 << qint64(1'000'000);
}

void TestHttpTransfer::answers()
{
    QFETCH(QByteArray, statusLine);
    QFETCH(int, maxChunk);
    QFETCH(qint64, audioBytes);

    Route route = Route::stream(statusLine, 8192);
    route.titles = {"First", "Second \xe2\x80\x94 \xff"};
    route.titleInterval = 20000;
    route.maxChunk = maxChunk;
    route.chunkSeed = 7;
    route.closeAfterAudio = audioBytes;
    m_station->setRoute("/stream", route);
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/stream"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder, 30000));

    QCOMPARE(recorder.events, QStringList({u"response"_s, u"data"_s, u"finish"_s}));
    QVERIFY(recorder.response->isHttp);
    QCOMPARE(recorder.response->statusCode, 200);
    QCOMPARE(recorder.response->mimeType, u"audio/mpeg"_s);
    QCOMPARE(names(recorder.response->headerFields),
             QStringList({u"Content-Type"_s, u"icy-name"_s, u"icy-metaint"_s}));
    QCOMPARE(recorder.response->headerValue(u"ICY-METAINT"), u"8192"_s);
    QVERIFY(!recorder.response->hasHeader(u"icy-genre"));
    const QByteArray expected = StationSimulator::wireBody(route, audioBytes);
    QCOMPARE(recorder.body.size(), expected.size());
    QVERIFY(recorder.body == expected);
    QCOMPARE(transfer->url(), m_station->url(u"/stream"));
}

void TestHttpTransfer::answerWithoutStatusLineArrivesWhole_data()
{
    QTest::addColumn<Route>("route");
    QTest::addColumn<QByteArray>("whole");

    Route icyError = Route::page("ICY 401 Service Unavailable", "text/html", "Busy\n");
    icyError.maxChunk = 2; // "ICY 2" and "ICY 4" differ only in the fifth byte
    QTest::newRow("ICY error") << icyError
                               << QByteArray("ICY 401 Service Unavailable\r\n"
                                             "Content-Type: text/html\r\nContent-Length: 5\r\n"
                                             "\r\nBusy\n");
    Route other;
    other.statusLine = "SOURCETABLE 200 OK";
    other.headerFields = {{"Server", "Caster"}};
    other.body = "STR;one;two\n";
    QTest::newRow("other status line")
        << other << QByteArray("SOURCETABLE 200 OK\r\nServer: Caster\r\n\r\nSTR;one;two\n");
    Route bare;
    bare.statusLine = std::nullopt;
    bare.body = StationSimulator::audioBytes(0, 5000);
    bare.maxChunk = 1;
    QTest::newRow("bare audio, single bytes") << bare << bare.body;
    Route lineFeeds;
    lineFeeds.statusLine = "HELLO";
    lineFeeds.lineEnd = "\n";
    lineFeeds.body = "world";
    QTest::newRow("line feeds only") << lineFeeds << QByteArray("HELLO\n\nworld");
}

void TestHttpTransfer::answerWithoutStatusLineArrivesWhole()
{
    QFETCH(Route, route);
    QFETCH(QByteArray, whole);

    m_station->setRoute("/raw", route);
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/raw"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));
    QCOMPARE(recorder.events, QStringList({u"response"_s, u"data"_s, u"finish"_s}));
    QVERIFY(!recorder.response->isHttp);
    QCOMPARE(recorder.response->statusCode, 0);
    QVERIFY(recorder.response->headerFields.isEmpty());
    QCOMPARE(recorder.response->mimeType, QString());
    QCOMPARE(recorder.body, whole);
}

void TestHttpTransfer::errorStatusIsAResponse_data()
{
    QTest::addColumn<QByteArray>("statusLine");
    QTest::addColumn<int>("status");

    QTest::newRow("404") << QByteArray("HTTP/1.0 404 Not Found") << 404;
    QTest::newRow("503") << QByteArray("HTTP/1.1 503 Service Unavailable") << 503;
}

void TestHttpTransfer::errorStatusIsAResponse()
{
    QFETCH(QByteArray, statusLine);
    QFETCH(int, status);

    const QByteArray page = "<html><body>No such mount</body></html>\n";
    m_station->setRoute("/gone", Route::page(statusLine, "text/html; charset=utf-8", page));
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/gone"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));
    QCOMPARE(recorder.events, QStringList({u"response"_s, u"data"_s, u"finish"_s}));
    QCOMPARE(recorder.response->statusCode, status);
    QCOMPARE(recorder.response->mimeType, u"text/html"_s);
    QCOMPARE(recorder.body, page);
}

void TestHttpTransfer::redirectsAreReportedThenFollowed_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<QString>("target");

    QTest::newRow("301 absolute") << 301 << QByteArray("%1/live") << u"/live"_s;
    QTest::newRow("302 relative") << 302 << QByteArray("/live?id=3") << u"/live?id=3"_s;
    QTest::newRow("303 relative path") << 303 << QByteArray("live") << u"/live"_s;
    QTest::newRow("307") << 307 << QByteArray("/live") << u"/live"_s;
    QTest::newRow("308") << 308 << QByteArray("/live") << u"/live"_s;
}

void TestHttpTransfer::redirectsAreReportedThenFollowed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, location);
    QFETCH(QString, target);

    location.replace("%1", m_station->url(u"").toUtf8());
    m_station->setRoute("/start", Route::redirect(status, location));
    Route stream = Route::stream();
    stream.closeAfterAudio = 1000;
    m_station->setRoute(target.toUtf8(), stream);
    Recorder recorder;
    qsizetype requestsWhenReported = -1;
    recorder.onRedirect = [&](HttpTransfer &) {
        requestsWhenReported = m_station->requests().size();
    };
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/start"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));

    QCOMPARE(recorder.events, QStringList({u"redirect"_s, u"response"_s, u"data"_s, u"finish"_s}));
    QCOMPARE(recorder.redirects, QStringList{m_station->url(target)});
    QCOMPARE(requestsWhenReported, 1); // reported before the target was asked for
    QCOMPARE(m_station->requests().size(), 2);
    QCOMPARE(m_station->requests().at(1).target, target.toUtf8());
    QCOMPARE(m_station->requests().at(1).headerValue("icy-metadata"),
             std::optional<QByteArray>("1"));
    QCOMPARE(recorder.response->statusCode, 200);
    QCOMPARE(recorder.body, StationSimulator::wireBody(stream, 1000));
    QCOMPARE(transfer->url(), m_station->url(target));
}

void TestHttpTransfer::redirectChainReportsEachHopOnce()
{
    m_station->setRoute("/a", Route::redirect(301, "/b"));
    m_station->setRoute("/b", Route::redirect(302, m_station->url(u"/c").toUtf8()));
    m_station->setRoute("/c", Route::redirect(307, "/d"));
    m_station->setRoute("/d", Route::page("ICY 200 OK", "audio/aacp", "aac"));
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/a"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));
    QCOMPARE(recorder.redirects,
             QStringList({m_station->url(u"/b"), m_station->url(u"/c"), m_station->url(u"/d")}));
    QCOMPARE(recorder.events.count(u"response"_s), 1);
    QCOMPARE(recorder.response->mimeType, u"audio/aacp"_s);
    QCOMPARE(recorder.body, QByteArray("aac")); // no redirect page in the body
}

void TestHttpTransfer::redirectToOtherSchemeFails_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::newRow("ftp") << QByteArray("ftp://127.0.0.1/stream");
    QTest::newRow("file") << QByteArray("file:///etc/passwd");
    QTest::newRow("gopher") << QByteArray("gopher://127.0.0.1/");
}

void TestHttpTransfer::redirectToOtherSchemeFails()
{
    QFETCH(QByteArray, location);
    m_station->setRoute("/start", Route::redirect(302, location));
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/start"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));
    QCOMPARE(recorder.events, QStringList{u"fail"_s});
    QVERIFY2(recorder.error.contains(QString::fromUtf8(location)), qPrintable(recorder.error));
    QCOMPARE(m_station->requests().size(), 1);
}

void TestHttpTransfer::endlessRedirectsFail()
{
    m_station->setRoute("/loop", Route::redirect(302, "/loop"));
    Recorder recorder;
    const HttpTransferPtr transfer = startTransfer(m_station->url(u"/loop"), recorder);
    QVERIFY(transfer);
    QVERIFY(waitForEnd(recorder));
    QCOMPARE(recorder.events.last(), u"fail"_s);
    QCOMPARE(recorder.error, u"Too many redirects"_s);
    QCOMPARE(recorder.redirects.size(), 20);
}

QTEST_GUILESS_MAIN(TestHttpTransfer)
