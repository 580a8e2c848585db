#include <array>
#include <functional>
#include <optional>

#include <QSslKey>
#include <QSslServer>
#include <QTest>
#include <QTimer>

#include "platform/httptransfer.h"
#include "platform/stationurl.h"
#include "stationsimulator.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using Route = StationSimulator::Route;

namespace {

// The signals of a transfer that completes; by default that of an audio stream.
QStringList completed(const QString &response = u"200 (audio/mpeg); Content-Type: audio/mpeg"_s)
{
    return {u"response "_s + response, u"data"_s, u"finish"_s};
}

// A self-signed certificate for 127.0.0.1 that no system trusts, and its key (DER).
constexpr char tlsKey[] = "MDECAQEEIFr4AsOE0/wcfx9ekEqHe+WBdZnXB+MSvcbsQZjBoBjDoAoGCCqGSM49AwEH";
constexpr char tlsCertificate[] =
    "MIIBLjCB1aADAgECAhR+6uCj44LKi14gZmIYlx3Njde9SjAKBggqhkjOPQQDAjAMMQowCAYDVQQDDAF4MCAXDTI2MTIw"
    "NjE3NTkwNloYDzIxMjYxMTEyMTc1OTA2WjAMMQowCAYDVQQDDAF4MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEUYFy"
    "a4ZLcSDySrkceXB78WanH/wNsyeUBXcnAOxdlqvjaGEOC8djV6SdYJounus1PIUgwPq/10k9TV78ctIK6qMTMBEwDwYD"
    "VR0RBAgwBocEfwAAATAKBggqhkjOPQQDAgNIADBFAiBfrLXH6ISEwg0cX0ul3DuKMAit+YoCYFeTklpkwXq0xwIhAJoD"
    "r/lQxmEuhPiMpnr7/rYZt+3RTX7yXG7Hj4yTK9QZ";

// Runs a transfer and records its signals; onEvent lets a test act from inside one.
struct Recorder : QObject
{
    // "redirect <url>", "response <status, -1 without HTTP> (<media type>); <field>; ...",
    // "data" (once for a run of them), "finish", "fail"
    QStringList events;
    QByteArray body;
    QString error;
    std::function<void(const QString &event)> onEvent = [](const QString &) {};
    HttpTransferPtr transfer;

    bool start(const QString &url, int idle = 300)
    {
        transfer = HttpTransfer::start({url, {{"icy-metadata", "1"}, {"User-Agent", "Sky"}}, idle});
        watch(transfer.get());
        return transfer != nullptr;
    }
    void watch(HttpTransfer *t)
    {
        connect(t, &HttpTransfer::redirected, this, [&](auto &to) { record(u"redirect "_s + to); });
        connect(t, &HttpTransfer::responseReceived, this, [this](const HttpResponse &r) {
            QString text = u"response %1 (%2)"_s.arg(r.isHttp ? r.statusCode : -1).arg(r.mimeType);
            for (const auto &[name, value] : r.headerFields)
                text += u"; %1: %2"_s.arg(name, value);
            record(text);
        });
        // A payload is kept before its event is recorded.
        connect(t, &HttpTransfer::dataReceived, this, [this](QByteArrayView d) { body += d; });
        connect(t, &HttpTransfer::dataReceived, this, [this] { record(u"data"_s); });
        connect(t, &HttpTransfer::finished, this, [this] { record(u"finish"_s); });
        connect(t, &HttpTransfer::failed, this, [this](const QString &text) { error = text; });
        connect(t, &HttpTransfer::failed, this, [this] { record(u"fail"_s); });
    }
    void record(const QString &event)
    {
        if (event != u"data" || events.value(events.size() - 1) != event)
            events.append(event);
        onEvent(event);
    }
    bool ended() const { return events.contains(u"finish") || events.contains(u"fail"); }
    // One pass of the event loop at a time: QTest::qWaitFor sleeps between
    // passes and so slows a station that writes once a pass.
    bool waitForEnd()
    {
        QTimer wake; // bounds each wait for events, so that the deadline is seen
        wake.start(5);
        for (const QDeadlineTimer deadline(30000); !ended() && !deadline.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return ended();
    }
};

// Audio in writes of 1..maxChunk bytes (0: large writes).
Route stream(std::optional<QByteArray> statusLine, int maxChunk, qint64 audio)
{
    Route route = Route::stream(std::move(statusLine));
    route.maxChunk = maxChunk;
    route.closeAfterAudio = audio;
    return route;
}

// What a transfer of /start reports.
struct Outcome
{
    QStringList events = completed(); // after the redirects
    std::optional<QByteArray> body{}; // none: the audio of the route that answers
    QString error{};
    QStringList hops{}; // the paths it is redirected to
};

} // namespace

Q_DECLARE_METATYPE(StationSimulator::Route)
Q_DECLARE_METATYPE(Outcome)

class TestHttpTransfer : public QObject
{
    Q_OBJECT

    std::optional<StationSimulator> m_station;

private Q_SLOTS:
    void init() { QVERIFY(m_station.emplace().start()); }
    // Transfers and connections dropped by the test are freed by deleteLater.
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void stationUrl_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("encoded"); // empty: not a station address
        for (const QString &text : {u"http://"_s, u"ftp://h/"_s, u"file:///x"_s, u"stream.pls"_s})
            QTest::newRow(qPrintable(text)) << text << QByteArray();
        QTest::newRow("https, IDN, space, around, fragment")
            << u" \thttps://b\u00fccher.de:8000/a b?x=1#top \n"_s
            << QByteArray("https://xn--bcher-kva.de:8000/a%20b?x=1");
    }
    void stationUrl()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, encoded);
        QCOMPARE(StationUrl::encoded(text).value_or(QByteArray()), encoded);
        QVERIFY(!encoded.isEmpty() || !HttpTransfer::start({text, {}, 1}));
    }

    // Signals come in order: each redirect before it is followed, one response
    // (an error status too), every byte once and in order however the station cuts
    // its writes, then one end. The idle timeout counts silence only.
    void transfers_data()
    {
        QTest::addColumn<Route>("route"); // of /start
        QTest::addColumn<Outcome>("expected");
        QTest::newRow("ICY, 1-7 bytes") << stream("ICY 200 OK", 7, 30'000) << Outcome{};
        QTest::newRow("HTTP/1.1") << stream("HTTP/1.1 200 OK", 4000, 1'000'000) << Outcome{};
        // No status line: the answer is delivered whole, here in single bytes.
        QTest::newRow("bare") << stream(std::nullopt, 1, 5000) << Outcome{completed(u"-1 ()"_s)};
        Route slow = stream("HTTP/1.0 200 OK", 0, 1200);
        slow.bytesPerSecond = 400; // 3 s, longer than the idle time
        slow.lineEnd = "\n";
        QTest::newRow("HTTP/1.0, LF line ends, slow but never idle") << slow << Outcome{};
        Route stalled = stream("ICY 200 OK", 0, 0);
        stalled.stallAfterAudio = 0; // the header fields, then silence
        QTest::newRow("idle") << stalled << Outcome{{completed()[0], u"fail"_s}, {}, u"Timeout"_s};
        // An error status is a response too; a folded field comes as one line.
        Route page = stream("HTTP/1.1 404 Not Found", 0, 100);
        page.headerFields = {{"x", "a\r\n\tb\r\n c"}, {"content-type", "Text/HTML;x"}};
        const QString notFound = u"404 (text/html); x: a b c; content-type: Text/HTML;x"_s;
        QTest::newRow("404") << page << Outcome{completed(notFound)};
        // Cut in pieces of 1-2 bytes: "ICY 2" and "ICY 4" differ only in the fifth byte.
        QTest::newRow("ICY error")
            << Route{.statusLine = "ICY 401 Busy", .body = "Busy\n", .maxChunk = 2}
            << Outcome{completed(u"-1 ()"_s), "ICY 401 Busy\r\n\r\nBusy\n"};
        QTest::newRow("redirects, relative and absolute")
            << Route::redirect(301, "b?id=3")
            << Outcome{.body = StationSimulator::audioBytes(0, 1000),
                       .hops = {u"/b?id=3"_s, u"/end"_s}};
        for (const char *to : {"ftp://h/s", "file:///etc/passwd", "http://h:99999/"})
            QTest::newRow(to) << Route::redirect(302, to)
                              << Outcome{{u"fail"_s}, {}, QString::fromLatin1(to)};
        QTest::newRow("endless redirects")
            << Route::redirect(302, "/start")
            << Outcome{{u"fail"_s}, {}, u"Too many redirects"_s, QStringList(20, u"/start"_s)};
    }
    void transfers()
    {
        QFETCH(Route, route);
        QFETCH(Outcome, expected);
        m_station->setRoute("/start", route);
        m_station->setRoute("/b?id=3", Route::redirect(308, m_station->url(u"/end").toUtf8()));
        m_station->setRoute("/end", stream("ICY 200 OK", 0, 1000));
        Recorder recorder;
        recorder.onEvent = [&](const QString &event) { // nothing is asked while a slot runs
            const qsizetype asked = m_station->requests().size();
            if (event.startsWith(u"redirect"))
                QTest::qWait(20);
            QCOMPARE(m_station->requests().size(), asked);
        };
        QVERIFY(recorder.start(m_station->url(u"/start"), 2) && recorder.waitForEnd());

        // Every request has the station's header fields in order, and no other but
        // Host and Accept (a compressed answer would not be the station's bytes).
        QStringList events;
        QByteArrayList sent, received;
        for (const QString &path : QStringList{u"/start"_s} + expected.hops) {
            events << u"redirect "_s + m_station->url(path);
            sent << "GET " + path.toUtf8() +
                        " HTTP/1.1\nAccept: */*\nicy-metadata: 1\nUser-Agent: Sky";
        }
        for (const StationSimulator::Request &request : m_station->requests()) // Host, then ours
            received << request.requestLine + '\n' + request.headerLines.mid(1).join('\n');
        QCOMPARE(received, sent);
        QCOMPARE(recorder.events, events.mid(1) + expected.events);
        QVERIFY2(recorder.error.contains(expected.error), qPrintable(recorder.error));
        QCOMPARE(recorder.transfer->url(), events.last().mid(9)); // the last URL asked for
        QCOMPARE(recorder.body, expected.body.value_or(StationSimulator::audioBytes(
                                    0, route.closeAfterAudio.value_or(0))));
    }

    // No signal follows a cancel made in a slot, not even to the other receivers of
    // that emission; a transfer started there works (curl refuses to add handles
    // from inside its callbacks).
    void cancelFromASlot_data()
    {
        QTest::addColumn<QString>("signal");
        for (const char *signal : {"redirect", "response", "data", "finish", "fail"})
            QTest::newRow(signal) << QString::fromLatin1(signal);
    }
    void cancelFromASlot()
    {
        QFETCH(QString, signal);
        m_station->setRoute("/start", Route::redirect(302, "/live"));
        Route live = stream("HTTP/1.0 200 OK", 300, 20'000); // many small chunks
        if (signal != u"finish") // then it fails: the connection closes short of this length
            live.headerFields.emplaceBack("Content-Length", "30000");
        m_station->setRoute("/live", live);
        m_station->setRoute("/next", stream("ICY 200 OK", 300, 20'000));
        Recorder recorder, bystander, next;
        QVERIFY(recorder.start(m_station->url(u"/start")));
        bystander.watch(recorder.transfer.get()); // its slots run after the recorder's
        recorder.onEvent = [&](const QString &event) {
            QVERIFY2(!next.transfer, qPrintable(event)); // nothing after the cancel
            if (event.startsWith(signal)) {
                // At data, free it through the pointer instead.
                signal == u"data" ? recorder.transfer.reset() : recorder.transfer->cancel();
                next.start(m_station->url(u"/next"));
            }
        };
        QVERIFY(next.waitForEnd());
        QCOMPARE(next.events, completed());
        // The station sees the connection go; give any stray signal time to show.
        QTRY_COMPARE(m_station->openConnections(), 0);
        QTest::qWait(200);
        QCOMPARE(m_station->requests().size(), signal == u"redirect" ? 2 : 3); // not followed
        QCOMPARE(bystander.events, recorder.events.first(recorder.events.size() - 1));
    }

    // A slot may open a dialog (a nested event loop); every other stream goes on
    // meanwhile, and none loses a byte.
    void concurrentStreamsSurviveANestedEventLoop()
    {
        std::array<Recorder, 12> recorders;
        for (int i = 0; i < 12; ++i) {
            const Route route = stream("ICY 200 OK", 64 << (i % 6), 40'000 + 1000 * i);
            m_station->setRoute("/s" + QByteArray::number(i), route);
            recorders[i].start(m_station->url(u"/s%1"_s.arg(i)));
        }
        recorders[0].onEvent = [](const QString &event) {
            if (event.startsWith(u"response"))
                QTest::qWait(300);
        };
        for (int i = 0; i < 12; ++i) {
            QVERIFY(recorders[i].waitForEnd());
            QCOMPARE(recorders[i].events, completed());
            QCOMPARE(recorders[i].body, StationSimulator::audioBytes(0, 40'000 + 1000 * i));
        }
    }

    // TLS verification stays on.
    void untrustedCertificateFails()
    {
        QSslServer server;
        QSslConfiguration tls = server.sslConfiguration();
        tls.setPrivateKey(QSslKey(QByteArray::fromBase64(tlsKey), QSsl::Ec, QSsl::Der));
        tls.setLocalCertificate(QSslCertificate(QByteArray::fromBase64(tlsCertificate), QSsl::Der));
        server.setSslConfiguration(tls);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Recorder recorder;
        const QString url = u"https://127.0.0.1:%1/"_s.arg(server.serverPort());
        QVERIFY(recorder.start(url, 2) && recorder.waitForEnd());
        QCOMPARE(recorder.events, QStringList{u"fail"_s});
        QVERIFY2(recorder.error.contains(u"certificate"), qPrintable(recorder.error));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHttpTransfer)
#include "tst_httptransfer.moc"
