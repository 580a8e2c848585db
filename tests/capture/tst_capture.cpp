#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "capturekit.h"
#include "model/recorderhost.h"

using namespace CaptureKit;
using Route = StationSimulator::Route;

namespace {

constexpr int networkWaitMs = 15000;

// Stands in for the window: remembers what capture code asked of it.
class HostProbe : public RecorderHost
{
public:
    QList<int> clearedDays;
    int enables = 0;
    int stores = 0;
    void clearDay(int index) override { clearedDays.append(index); }
    void enableButtons() override { ++enables; }
    void storeRecList() override { ++stores; }
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    StationSimulator *m_station = nullptr;
    HostProbe m_host;
    QDateTime m_now;
    bool m_fakeClock = false;

    std::unique_ptr<Recording> station(const QString &path)
    {
        auto r = Recording::initWithName(QStringLiteral("Station Test"));
        r->playList.clear();
        r->url = m_station->url(path);
        r->daily = true;
        return r;
    }

    void useFakeClock(const QDateTime &now)
    {
        m_now = now;
        m_fakeClock = true;
    }

    static void waitForEnd(Recording &r) { QTRY_VERIFY_WITH_TIMEOUT(!r.inProgress, networkWaitMs); }

private Q_SLOTS:
    void init()
    {
        clearTrackFolder();
        m_station = new StationSimulator(this);
        QVERIFY(m_station->start());
        m_host = HostProbe();
        recorder = &m_host;
        m_fakeClock = false;
        Clock::setSource([this] { return m_fakeClock ? m_now : QDateTime::currentDateTime(); });
    }
    void cleanup()
    {
        recorder = nullptr;
        Clock::reset();
        delete m_station;
        m_station = nullptr;
    }

    void streamIsRecordedUntilTheStationCloses()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 8192);
        route.headerFields.append(qMakePair(QByteArray("icy-genre"), QByteArray("Jazz")));
        route.titles = {"Artist - First"};
        route.closeAfterAudio = 400000;
        route.maxChunk = 5000;
        m_station->setRoute("/live", route);
        auto r = station(QStringLiteral("/live"));
        r->record(nullptr);
        QVERIFY(r->inProgress);
        QVERIFY(r->timer);
        QCOMPARE(r->timer->interval(), 60000);
        waitForEnd(*r);

        const StationSimulator::Request request = m_station->requests().first();
        QCOMPARE(request.headerLines.mid(request.headerLines.size() - 3),
                 (QList<QByteArray>{"icy-metadata: 1", "Cache-Control: no-cache",
                                    "User-Agent: iTunes/4.6 (Macintosh; N; PPC)"}));
        const QString log = r->logText;
        QVERIFY(log.contains(QStringLiteral("Shoutcast/icecast metadata interval is 8192\n")));
        QVERIFY(log.contains(QStringLiteral("Shoutcast genre is Jazz\n")));
        QVERIFY(log.contains(QStringLiteral("Connection closed by the station\n")));
        QVERIFY(log.contains(QStringLiteral("File size is 400000 bytes\n")));
        QVERIFY(log.indexOf(QStringLiteral("Recording ended at ")) <
                log.indexOf(QStringLiteral("Next recording is at ")));
        const QStringList files = trackFiles();
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("Station Test_")));
        QCOMPARE(readTrack(files.first()), StationSimulator::audioBytes(0, 400000 - 8192));
        QVERIFY(!r->conn);
        QCOMPARE(m_host.stores, 1);
        QCOMPARE(m_host.enables, 2);
    }

    void playlistsAreFollowed_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("bodyTemplate"); // %1 stands for the stream URL
        QTest::addColumn<bool>("followed");
        QTest::newRow("pls") << QByteArray("HTTP/1.0 200 OK")
                             << QByteArray("[playlist]\nNumberOfEntries=1\nFile1=%1\n"
                                           "Title1=Test\nLength1=-1\n")
                             << true;
        QTest::newRow("m3u with a comment")
            << QByteArray("HTTP/1.0 200 OK") << QByteArray("#EXTM3U\r\n%1\r\n") << true;
        QTest::newRow("error page with a link")
            << QByteArray("HTTP/1.0 404 Not Found")
            << QByteArray("<html><body>The stream moved to:\n%1\n</body></html>") << true;
        QTest::newRow("capitals") << QByteArray("HTTP/1.0 200 OK") << QByteArray("%1") << true;
        QTest::newRow("no link") << QByteArray("HTTP/1.0 503 Unavailable")
                                 << QByteArray("Server full") << false;
    }
    void playlistsAreFollowed()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, bodyTemplate);
        QFETCH(bool, followed);
        Route stream = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        stream.closeAfterAudio = 300000;
        m_station->setRoute("/stream", stream);
        QString target = m_station->url(QStringLiteral("/stream"));
        if (QTest::currentDataTag() == QByteArray("capitals"))
            target.replace(QStringLiteral("http://"), QStringLiteral("HTTP://"));
        const QByteArray body = QString::fromLatin1(bodyTemplate).arg(target).toUtf8();
        m_station->setRoute("/list", Route::page(status, "audio/x-scpls", body));
        auto r = station(QStringLiteral("/list"));
        r->record(nullptr);
        waitForEnd(*r);
        const QString redirect =
            QStringLiteral(
                "Redirecting to the first target in PLS or M3U playlist\nConnecting to ") +
            target + u'\n';
        QCOMPARE(r->logText.contains(redirect), followed);
        QCOMPARE(m_station->requests().size(), followed ? 2 : 1);
        QVERIFY(r->logText.contains(QStringLiteral("Connection closed by the station\n")));
    }

    void longBodyIsAudioNotAPlaylist()
    {
        QByteArray body = "[playlist]\nFile1=" + m_station->url(u"/stream").toUtf8() + "\n";
        body.append(QByteArray(5000 - body.size(), ' '));
        m_station->setRoute("/big", Route::page("HTTP/1.0 200 OK", "audio/x-scpls", body));
        auto r = station(QStringLiteral("/big"));
        r->record(nullptr);
        waitForEnd(*r);
        QVERIFY(!r->logText.contains(QStringLiteral("Redirecting")));
        QCOMPARE(r->dataSize, qint64(5000));
    }

    void secureTargetsComeFirstWhenFirst()
    {
        const QByteArray body = "https://127.0.0.1:1/secure\nhttp://127.0.0.1:1/plain\n";
        m_station->setRoute("/list", Route::page("HTTP/1.0 200 OK", "audio/x-mpegurl", body));
        auto r = station(QStringLiteral("/list"));
        r->record(nullptr);
        waitForEnd(*r);
        QVERIFY(r->logText.contains(QStringLiteral("Connecting to https://127.0.0.1:1/secure\n")));
    }

    void redirectsAreLoggedOncePerRequest()
    {
        Route stream = Route::stream(QByteArrayLiteral("HTTP/1.0 200 OK"), 0);
        stream.closeAfterAudio = 10000;
        m_station->setRoute("/final", stream);
        m_station->setRoute("/second", Route::redirect(302, "/final"));
        m_station->setRoute("/first", Route::redirect(301, m_station->url(u"/second").toUtf8()));
        auto r = station(QStringLiteral("/first"));
        r->record(nullptr);
        waitForEnd(*r);
        QCOMPARE(r->logText.count(QStringLiteral("Connection is redirected to ")), 2);
        QVERIFY(r->logText.contains(QStringLiteral("Connection is redirected to ") +
                                    m_station->url(u"/final") + u'\n'));
    }

    void refusedConnectionIsNotRetriedInItsMinute()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const QDate wednesday(2026, 12, 9);
        useFakeClock(QDateTime(wednesday, QTime(10, 0, 5)));
        auto r = Recording::initWithName(QStringLiteral("Refused"));
        r->url = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        r->daily = true;
        r->once = true;
        r->days = {true, true, true, true, true, true, true};
        r->schedule();
        QCOMPARE(r->timer->interval(), 0);
        r->checkTime(r->timer); // the due timer fires
        QVERIFY(r->inProgress);
        QCOMPARE(r->days[2], false); // a one-time recording gives up its weekday
        QCOMPARE(m_host.clearedDays, QList<int>{2});
        waitForEnd(*r);
        QVERIFY(r->logText.contains(QStringLiteral("Connection failed with error: ")));
        QCOMPARE(r->nextDate, QDateTime(wednesday.addDays(1), QTime(10, 0)));
        QVERIFY(r->timer);
        QVERIFY(r->timer->interval() > 0);
    }

    void watchdogEndsAtThePlannedMinute()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        route.bytesPerSecond = 200000;
        m_station->setRoute("/slow", route);
        const QDateTime start = QDateTime::currentDateTime();
        useFakeClock(start);
        auto r = station(QStringLiteral("/slow"));
        r->duration = 2;
        r->record(nullptr);
        for (int minute = 1; minute <= 2; ++minute) {
            const qint64 seen = r->dataSize;
            QTRY_VERIFY_WITH_TIMEOUT(r->dataSize > seen, networkWaitMs);
            m_now = start.addSecs(60 * minute);
            r->checkRecord();
        }
        QVERIFY(r->logText.contains(QStringLiteral("at 1 minutes\n")));
        QVERIFY(r->logText.contains(
            QStringLiteral("Recording complete (2 minutes), closing connection\n")));
        QVERIFY(!r->inProgress);
        QVERIFY(!r->conn);
    }

    void stallsEndAndMayResume_data()
    {
        QTest::addColumn<int>("minute");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<bool>("resumes");
        QTest::newRow("16 minutes left") << 44 << true << true;
        QTest::newRow("exactly 15 left") << 45 << true << false;
        QTest::newRow("reconnect off") << 10 << false << false;
    }
    void stallsEndAndMayResume()
    {
        QFETCH(int, minute);
        QFETCH(bool, reconnect);
        QFETCH(bool, resumes);
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        route.stallAfterAudio = 20000;
        m_station->setRoute("/stall", route);
        const QDateTime start(QDate(2026, 12, 9), QTime(10, 0));
        useFakeClock(start);
        auto r = station(QStringLiteral("/stall"));
        r->reconnect = reconnect;
        r->daily = true;
        r->record(nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(r->dataSize, qint64(20000), networkWaitMs);
        m_now = start.addSecs(60 * minute - 60);
        r->checkRecord();
        m_now = start.addSecs(60 * minute);
        r->checkRecord(); // no audio since the previous tick
        QVERIFY(!r->inProgress);
        const QString log = r->logText;
        QVERIFY(log.contains(QStringLiteral("Connection stalled, ending recording\n")));
        QCOMPARE(log.contains(QStringLiteral("Will reconnect after 15 seconds\n")), resumes);
        if (!resumes)
            return;
        QVERIFY(log.indexOf(QStringLiteral("Recording ended at ")) <
                log.indexOf(QStringLiteral("Will reconnect after 15 seconds\n")));
        QCOMPARE(r->nextDate, m_now.addSecs(15));
        // The resumed capture keeps counting from the first start.
        m_now = m_now.addSecs(15);
        r->checkTime(r->timer);
        QVERIFY(r->inProgress);
        QCOMPARE(r->startDate, start);
        QVERIFY(!r->willResume);
        r->endRecord();
    }

    void noAudioInTheFirstMinuteIsAStall()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        route.silent = true;
        m_station->setRoute("/silent", route);
        auto r = station(QStringLiteral("/silent"));
        r->record(nullptr);
        r->checkRecord();
        QVERIFY(r->logText.contains(QStringLiteral("Data size is 0 at 0 minutes\n"
                                                   "Connection stalled, ending recording\n")));
        QVERIFY(!r->inProgress);
        r->endRecord(); // a second end does nothing
        QCOMPARE(r->logText.count(QStringLiteral("Recording ended at")), 1);
    }

    void nowAlwaysStartsAFreshCapture()
    {
        m_station->setRoute("/silent", [] {
            Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
            route.silent = true;
            return route;
        }());
        auto r = station(QStringLiteral("/silent"));
        r->willResume = true;
        r->startDate = QDateTime(QDate(2020, 1, 1), QTime(0, 0));
        r->record(nullptr);
        QVERIFY(r->startDate.date() != QDate(2020, 1, 1));
        r->endRecord();
    }
};

QTEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
