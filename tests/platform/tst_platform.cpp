// The platform layer: the curl transfer in the Qt loop against a station on
// 127.0.0.1, the open-file reserve, and the decoding of stream titles.
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
#include "platform/textencodings.h"
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

class TestPlatform : public QObject
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
        for (const QByteArray &status : {"200 OK"_ba, "304 Not Modified"_ba, "400 Bad"_ba})
            QTest::newRow(status) << Route{.statusLine = "HTTP/1.0 " + status,
                                           .headerFields = {{"Location", "/end"}}}
                                  << Outcome{{u"response %1 (); Location: /end"_s.arg(
                                                  QLatin1StringView(status.left(3))),
                                              u"finish"_s}};
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
        qsizetype turnedAt = 0; // the bytes received when the loop last turned
        Recorder recorder;
        recorder.onEvent = [&](const QString &event) { // nothing is asked while a slot runs
            const qsizetype asked = m_station->requests().size();
            if (event != u"data") { // a nested event loop, as a dialog runs
                QTest::qWait(20);
            } else if (QByteArrayView(QTest::currentDataTag()) == "slow receiver") {
                // A busy receiver gets at most one read (128 KiB) before the loop turns.
                QVERIFY(recorder.body.size() - turnedAt <= 128 * 1024);
                QTimer::singleShot(0, &recorder, [&] { turnedAt = recorder.body.size(); });
                QThread::msleep(25);
            }
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

    // A quarter of the limit stays free, at least 8 and at most 32.
    void refusal_data()
    {
        QTest::addColumn<qint64>("inUse");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<QString>("reason"); // "" when granted
        QTest::newRow("plenty") << 20LL << 1024LL << 2 << QString();
        QTest::newRow("the reserve exactly left") << 990LL << 1024LL << 2 << QString();
        QTest::newRow("one into the reserve")
            << 991LL << 1024LL << 2
            << u"Too many open files: 991 of 1024 file descriptors are in use, and 32 are kept "
               u"free for storing the list and finishing the tracks"_s;
        QTest::newRow("into a quarter of a small limit")
            << 44LL << 60LL << 2 << u"44 of 60 file descriptors are in use, and 15 are kept"_s;
        QTest::newRow("into eight of a tiny limit")
            << 11LL << 20LL << 2 << u"11 of 20 file descriptors are in use, and 8 are kept"_s;
        // Claims may promise more than the limit holds.
        QTest::newRow("promised beyond the limit")
            << 70LL << 60LL << 1 << u"60 of 60 file descriptors are in use"_s;
    }
    void refusal()
    {
        QFETCH(qint64, inUse);
        QFETCH(qint64, limit);
        QFETCH(int, wanted);
        QFETCH(QString, reason);
        const std::optional<QString> refusal = DescriptorLimit::refusal(inUse, limit, wanted);
        QCOMPARE(refusal.has_value(), !reason.isEmpty());
        if (refusal)
            QVERIFY2(refusal->contains(reason), qPrintable(*refusal));
    }

    // Descriptors claimed count as taken until released.
    void claims()
    {
        const qint64 free = DescriptorLimit::softLimit() - *DescriptorLimit::openCount();
        const int reserve = DescriptorLimit::reserveFor(DescriptorLimit::softLimit());
        DescriptorLimit::Claim claim(int(free) - reserve - 1);
        QVERIFY(!DescriptorLimit::refusal(1));
        QVERIFY(DescriptorLimit::refusal(2));
        DescriptorLimit::Claim moved = std::move(claim);
        claim.release(); // released by its new holder only
        QVERIFY(DescriptorLimit::refusal(2));
        moved.release();
        QVERIFY(!DescriptorLimit::refusal(2));
    }

    void raisesTheSoftLimitToTheHardOne()
    {
        const auto restore = lowerLimit(RLIMIT_NOFILE, 64);
        rlimit hard{};
        getrlimit(RLIMIT_NOFILE, &hard);
        DescriptorLimit::raiseSoftLimit();
        QCOMPARE(DescriptorLimit::softLimit(), qint64(std::min(hard.rlim_max, rlim_t(1) << 20)));
    }

    // By the stored numbers. Bytes the encoding does not accept, or an unknown
    // number, decode as ISO-8859-1; byte-order marks and zero bytes are kept.
    void decode_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::addColumn<quint32>("encoding");
        QTest::addColumn<QString>("expected");
        QTest::newRow("utf-8") << "efbbbf00f09f8eb5"_ba << TextEncodings::utf8 << u"\uFEFF\0🎵"_s;
        QTest::newRow("windows latin 1") << "80002035"_ba << 0x0500u << u"€\0 5"_s;
        QTest::newRow("one byte") << "80"_ba << 0x0500u << u"€"_s;
        QTest::newRow("utf-16 big-endian, mark") << "feff005200e9"_ba << 0x0100u << u"\uFEFFRé"_s;
        QTest::newRow("cut utf-8") << "0061c3"_ba << TextEncodings::utf8 << u"\0a\u00C3"_s;
        QTest::newRow("unknown number") << "e974e9"_ba << 12345u << u"été"_s;

        QTest::newRow("utf-16 little-endian") << "52006100"_ba << 0x14000100u << u"Ra"_s;
        // UTF-8 leads the menu, and the table's converters open here.
        const QList<TextEncodings::Encoding> &offered = TextEncodings::available();
        QVERIFY(offered.value(0).number == TextEncodings::utf8 && offered.size() > 40);
    }
    void decode()
    {
        QFETCH(QByteArray, hex);
        QFETCH(quint32, encoding);
        QFETCH(QString, expected);
        QCOMPARE(TextEncodings::decode(QByteArray::fromHex(hex), encoding), expected);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
