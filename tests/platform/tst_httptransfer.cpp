#include <functional>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <QTest>
#include <QThread>
#include <QTimer>

#include "platform/descriptorlimit.h"
#include "platform/httptransfer.h"
#include "platform/stationurl.h"
#include "stationsimulator.h"
#include "testfiles.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using Route = StationSimulator::Route;

namespace {

// The signals of a transfer that completes; by default that of a plain 200.
QStringList completed(const QString &response = u"200 ()"_s)
{
    return {u"response "_s + response, u"data"_s, u"finish"_s};
}

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

    bool start(const QString &url) // 2 s idle timeout
    {
        transfer = HttpTransfer::start({url, {{"icy-metadata", "1"}, {"User-Agent", "Sky"}}, 2});
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
        if (event != u"data" || !events.endsWith(event))
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

// An answer of size audio bytes, in writes of 1..chunk bytes (0: large writes),
// after a header line without a name, which is dropped.
Route stream(std::optional<QByteArray> status, int chunk, qint64 size)
{
    return {.statusLine = status,
            .headerFields = {{"", "?"}},
            .body = StationSimulator::audioBytes(0, size),
            .maxChunk = chunk};
}

// What a transfer of /start reports.
struct Outcome
{
    QStringList events = completed(); // redirects to the station without its address
    std::optional<QByteArray> body{}; // none: the body of /start
    QString error{};
};

} // namespace

class TestHttpTransfer : public QObject
{
    Q_OBJECT

    std::optional<StationSimulator> m_station;

private Q_SLOTS:
    void init() { QVERIFY(m_station.emplace().start()); }
    // Transfers and connections dropped by the test are freed by deleteLater.
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void stationUrl()
    {
        for (const QString &text : {u"http://"_s, u"ftp://h/"_s, u"file:///x"_s, u"stream.pls"_s})
            QVERIFY2(!StationUrl::encoded(text), qPrintable(text));
        // Trimmed, the host in ASCII, the space escaped, the fragment dropped.
        QCOMPARE(
            StationUrl::encoded(u" \thttps://b\u00fccher.de:8000/a b?x=1#top \n"_s).value_or(""),
            "https://xn--bcher-kva.de:8000/a%20b?x=1"_ba);
    }

    // Signals come in order: each redirect before it is followed, one response
    // (an error status too), every byte once and in order however the station cuts
    // its writes, then one end. The idle timeout counts silence only.
    void transfers_data()
    {
        QTest::addColumn<Route>("route"); // of /start
        QTest::addColumn<Outcome>("expected");
        QTest::newRow("ICY, 1-7 bytes") << stream("ICY 200 OK", 7, 30'000) << Outcome{};
        // A receiver slower than the loop may wait: curl pauses, then goes on.
        QTest::newRow("slow receiver") << stream("ICY 200 OK", 0, 300'000) << Outcome{};
        // No status line: the answer is delivered whole, here in single bytes.
        QTest::newRow("bare") << stream(std::nullopt, 1, 5000) << Outcome{completed(u"-1 ()"_s)};
        // 3 s, longer than the idle time
        QTest::newRow("HTTP/1.0, LF line ends, slow but never idle")
            << Route{.lineEnd = "\n", .body = QByteArray(1200, 'x'), .bytesPerSecond = 400}
            << Outcome{};
        QTest::newRow("idle") << Route{.statusLine = "ICY 200 OK", .stallAfterAudio = 0}
                              << Outcome{{u"response 200 ()"_s, u"fail"_s}, {}, u"Timeout"_s};
        // An error status is a response too; a folded field comes as one line.
        QTest::newRow("404")
            << Route{.statusLine = "HTTP/1.1 404 Not Found",
                     .headerFields = {{"x", "a\r\n\tb\r\n c"}, {"content-type", "Text/HTML;x"}},
                     .body = "gone"}
            << Outcome{completed(u"404 (text/html); x: a b c; content-type: Text/HTML;x"_s)};
        QTest::newRow("redirects, relative and absolute")
            << Route::redirect(301, "b?3")
            << Outcome{QStringList{u"redirect /b?3"_s, u"redirect /b?e"_s, u"redirect /end"_s} +
                           completed(),
                       StationSimulator::audioBytes(0, 1000)};
        for (const char *to : {"ftp://h/s", "file:///etc/passwd", "http://h:99999/"})
            QTest::newRow(to) << Route::redirect(302, to)
                              << Outcome{{u"fail"_s}, "", QString::fromLatin1(to)};
        QTest::newRow("endless redirects")
            << Route::redirect(302, "/start")
            << Outcome{QStringList(20, u"redirect /start"_s) << u"fail"_s, "",
                       u"Too many redirects"_s};
    }
    void transfers()
    {
        QFETCH(Route, route);
        QFETCH(Outcome, expected);
        m_station->setRoute("/start", route);
        m_station->setRoute("/b?3", Route::redirect(308, "?e")); // against its own address
        m_station->setRoute("/b?e", Route::redirect(300, m_station->url(u"/end").toUtf8()));
        m_station->setRoute("/end", stream("ICY 200 OK", 0, 1000));
        Recorder recorder;
        recorder.onEvent = [&](const QString &event) { // nothing is asked while a slot runs
            const qsizetype asked = m_station->requests().size();
            if (event != u"data") // a nested event loop, as a dialog runs
                QTest::qWait(20);
            else if (QByteArrayView(QTest::currentDataTag()) == "slow receiver")
                QThread::msleep(25);
            QCOMPARE(m_station->requests().size(), asked);
        };
        QVERIFY(recorder.start(m_station->url(u"/start")) && recorder.waitForEnd());

        QCOMPARE(recorder.events.replaceInStrings(m_station->url(u""), u""_s), expected.events);
        QVERIFY2(recorder.error.contains(expected.error), qPrintable(recorder.error));
        QCOMPARE(recorder.body, expected.body.value_or(route.body));
        // Every request has the fields asked for, in order, and no other but Host and
        // Accept (a compressed answer would not be the station's bytes).
        for (const StationSimulator::Request &request : m_station->requests())
            QCOMPARE(request.headerLines.mid(1).join('\n'),
                     "Accept: */*\nicy-metadata: 1\nUser-Agent: Sky"_ba);
    }

    // No signal follows a cancel made in a slot, not even to the other receivers of
    // that emission; a transfer started there works (curl refuses to add handles
    // from inside its callbacks).
    void cancelFromASlot_data()
    {
        QTest::addColumn<QString>("signal");
        for (const char *signal : {"redirect", "response", "data", "finish"})
            QTest::newRow(signal) << QString::fromLatin1(signal);
    }
    void cancelFromASlot()
    {
        QFETCH(QString, signal);
        m_station->setRoute("/start", Route::redirect(302, "/live"));
        m_station->setRoute("/live", stream("ICY 200 OK", 300, 20'000)); // many small chunks
        Recorder recorder, bystander, next;
        QVERIFY(recorder.start(m_station->url(u"/start")));
        bystander.watch(recorder.transfer.get()); // its slots run after the recorder's
        recorder.onEvent = [&](const QString &event) {
            QVERIFY2(!next.transfer, qPrintable(event)); // nothing after the cancel
            if (event.startsWith(signal)) {
                // At data, free it through the pointer instead.
                signal == u"data" ? recorder.transfer.reset() : recorder.transfer->cancel();
                next.start(m_station->url(u"/live"));
            }
        };
        QVERIFY(next.waitForEnd() && next.events == completed());
        QTest::qWait(200); // time for any stray signal to show
        QCOMPARE(m_station->requests().size(), signal == u"redirect" ? 2 : 3); // not followed
        QCOMPARE(bystander.events, recorder.events.first(recorder.events.size() - 1));
    }

    // With no descriptor left for the socket the transfer fails, saying why.
    void noDescriptorForTheSocket()
    {
#if defined(__SANITIZE_ADDRESS__)
        // Its type checks need a pipe, which a full descriptor table refuses.
        QSKIP("a full descriptor table stops the sanitizer's own checks");
#endif
        m_station->setRoute("/live", stream("ICY 200 OK", 0, 5000));
        Recorder first; // the curl driver is made with the first transfer
        QVERIFY(first.start(m_station->url(u"/live")) && first.waitForEnd());
        const auto lowered = lowerLimit(RLIMIT_NOFILE, *DescriptorLimit::openCount() + 16);
        std::vector<int> taken;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken.push_back(fd);
        Recorder recorder;
        const bool ended = recorder.start(m_station->url(u"/live")) && recorder.waitForEnd();
        for (const int fd : taken)
            ::close(fd);
        QVERIFY(ended);
        QCOMPARE(recorder.events, QStringList{u"fail"_s});
        QVERIFY2(recorder.error.startsWith(u"Too many open files: "_s), qPrintable(recorder.error));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHttpTransfer)
#include "tst_httptransfer.moc"
