#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include "capture/capture.h"
#include "capture/trackwriter.h"
#include "model/recording.h"
#include "platform/clock.h"
#include "stationsimulator.h"
#include "testmain.h"

using Route = StationSimulator::Route;

namespace {

constexpr int networkWaitMs = 15000;

QStringList trackFiles()
{
    QStringList names = QDir(TrackWriter::folder()).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

QByteArray readTrack(const QString &fileName)
{
    QFile file(TrackWriter::folder() + u'/' + fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

qint64 audioOnDisk()
{
    const QStringList files = trackFiles();
    return files.isEmpty() ? 0 : QFileInfo(TrackWriter::folder() + u'/' + files.last()).size();
}

// Ticks the running capture's watchdog, as a minute passing would.
void tickWatchdog(Recording &r)
{
    // An ended capture lingers as a child until the event loop deletes it.
    for (Capture *capture : r.findChildren<Capture *>()) {
        if (capture->isRunning())
            QMetaObject::invokeMethod(capture->findChild<QTimer *>(QStringLiteral("watchdog")),
                                      "timeout");
    }
}

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    StationSimulator *m_station = nullptr;
    QDateTime m_now;

    RecordingSettings station(const QString &path) const
    {
        RecordingSettings settings;
        settings.name = QStringLiteral("Station Test");
        settings.playList.clear();
        settings.url = m_station->url(path);
        settings.daily = true;
        return settings;
    }

    static void run(Recording &r)
    {
        r.startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(!r.isCapturing(), networkWaitMs);
    }

private Q_SLOTS:
    void init()
    {
        QDir(TrackWriter::folder()).removeRecursively();
        m_station = new StationSimulator(this);
        QVERIFY(m_station->start());
        m_now = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        Clock::setSource([this] { return m_now; });
    }
    void cleanup()
    {
        Clock::reset();
        delete m_station;
    }

    void streamIsRecordedUntilTheStationCloses()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 8192);
        route.headerFields.append(qMakePair(QByteArray("icy-genre"), QByteArray("Jazz")));
        route.titles = {"Artist - First"};
        route.closeAfterAudio = 400000;
        route.maxChunk = 5000;
        m_station->setRoute("/live", route);
        Recording r(station(QStringLiteral("/live")));
        QSignalSpy capturing(&r, &Recording::capturingChanged);
        QSignalSpy ended(&r, &Recording::captureEnded);
        run(r);
        QCOMPARE(capturing.size(), 2);
        QCOMPARE(ended.size(), 1);

        const StationSimulator::Request request = m_station->requests().first();
        QCOMPARE(request.headerLines.mid(request.headerLines.size() - 3),
                 (QList<QByteArray>{"icy-metadata: 1", "Cache-Control: no-cache",
                                    "User-Agent: iTunes/4.6 (Macintosh; N; PPC)"}));
        const QString log = r.logText();
        for (const char *line :
             {"Started recording  at ", "Connecting to http://127.0.0.1:", "Getting a response\n",
              "Shoutcast/icecast metadata interval is 8192\n", "Shoutcast genre is Jazz\n",
              "Writting data to Station Test_Dec_09_2026__10_00AM.mp3\n",
              "Got shoutcast data: StreamTitle='Artist - First';\n",
              "Connection closed by the station\n", "File size is 400000 bytes\n"})
            QVERIFY2(log.contains(QString::fromUtf8(line)), line);
        QVERIFY(log.indexOf(QStringLiteral("Recording ended at ")) <
                log.indexOf(QStringLiteral("Next recording is at ")));
        QCOMPARE(trackFiles().size(), 1);
        QCOMPARE(readTrack(trackFiles().first()), StationSimulator::audioBytes(0, 400000 - 8192));
    }

    void songsAreCutAtTitleChanges_data()
    {
        QTest::addColumn<bool>("keepPartial");
        QTest::addColumn<int>("maxChunk");
        QTest::newRow("partial songs dropped") << false << 0;
        QTest::newRow("partial songs kept, fine chunks") << true << 1500;
    }
    void songsAreCutAtTitleChanges()
    {
        QFETCH(bool, keepPartial);
        QFETCH(int, maxChunk);
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
        route.titles = {"Alpha - One", "Beta - Two", "Gamma - Three", "Delta - Four"};
        route.titleInterval = 300000;
        route.closeAfterAudio = 1000000;
        route.maxChunk = maxChunk;
        m_station->setRoute("/songs", route);
        RecordingSettings settings = station(QStringLiteral("/songs"));
        settings.splitSongs = true;
        settings.keepPartial = keepPartial;
        Recording r(settings);
        run(r);
        // A song's last interval belongs to the block boundary of the next.
        const auto song = [](qint64 start, qint64 end) {
            return StationSimulator::audioBytes(start, end - start - 16000);
        };
        QStringList expected = {QStringLiteral("Beta - Two.mp3"),
                                QStringLiteral("Gamma - Three.mp3")};
        if (keepPartial)
            expected.insert(1, QStringLiteral("End of Alpha - One.mp3"));
        QCOMPARE(trackFiles(), expected);
        QCOMPARE(readTrack(QStringLiteral("Beta - Two.mp3")), song(304000, 608000));
        QCOMPARE(readTrack(QStringLiteral("Gamma - Three.mp3")), song(608000, 912000));
        const QString log = r.logText();
        QVERIFY(log.contains(QStringLiteral("File size is 304000 bytes\n")));
        if (keepPartial) {
            QCOMPARE(readTrack(QStringLiteral("End of Alpha - One.mp3")), song(16000, 304000));
            // The last song was cut by the end: renamed, then too small to keep.
            QVERIFY(
                log.contains(QStringLiteral("Data size is tiny (88000 bytes), deleting song\n")));
        } else {
            QVERIFY(
                log.contains(QStringLiteral("Deleting the last (incomplete) shoutcast song\n")));
        }
    }

    void playlistsAreFollowed_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("bodyTemplate"); // %1 stands for the stream URL
        QTest::addColumn<bool>("followed");
        QTest::newRow("pls") << QByteArray("HTTP/1.0 200 OK")
                             << QByteArray("[playlist]\nNumberOfEntries=1\nFile1=%1\nLength1=-1\n")
                             << true;
        QTest::newRow("error page with a link")
            << QByteArray("HTTP/1.0 404 Not Found")
            << QByteArray("<html><body>The stream moved to:\n%1\n</body></html>") << true;
        QTest::newRow("no link") << QByteArray("HTTP/1.0 503 Unavailable")
                                 << QByteArray("Server full") << false;
        QTest::newRow("long body is audio")
            << QByteArray("HTTP/1.0 200 OK") << QByteArray("%1").leftJustified(5000, ' ') << false;
    }
    void playlistsAreFollowed()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, bodyTemplate);
        QFETCH(bool, followed);
        Route stream = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        stream.closeAfterAudio = 300000;
        m_station->setRoute("/stream", stream);
        const QString target = m_station->url(QStringLiteral("/stream"));
        const QByteArray body =
            QString::fromLatin1(bodyTemplate).replace(QStringLiteral("%1"), target).toUtf8();
        m_station->setRoute("/list", Route::page(status, "audio/x-scpls", body));
        Recording r(station(QStringLiteral("/list")));
        run(r);
        const QString redirect = QStringLiteral("Redirecting to the first target in PLS or M3U "
                                                "playlist\nConnecting to ") +
                                 target + u'\n';
        QCOMPARE(r.logText().contains(redirect), followed);
        QCOMPARE(m_station->requests().size(), followed ? 2 : 1);
    }

    void headersInsideTheBodyAndLostSync_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("resumes") << true;
        QTest::newRow("waits for the next start") << false;
    }
    void headersInsideTheBodyAndLostSync()
    {
        QFETCH(bool, reconnect);
        QByteArray head = "ICY 200 OK\r\ncontent-type: application/ogg\r\nicy-genre:  Jazz \r\n"
                          "icy-metaint:8192\r\n\r\n";
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 8192);
        route.titles = {"Sniffed"};
        QByteArray body = head + StationSimulator::wireBody(route, 40 * 8192);
        body.append(char(1)).append("garbage, no title").append(QByteArray(8192, 'x'));
        // An answer without icy-metaint: the head inside the body is found by sniffing.
        Route page = Route::page("HTTP/1.0 200 OK", "audio/mpeg", body);
        page.maxChunk = 900;
        m_station->setRoute("/sniff", page);
        RecordingSettings settings = station(QStringLiteral("/sniff"));
        settings.reconnect = reconnect;
        settings.duration = 10; // a resume after lost sync does not ask how much time is left
        Recording r(settings);
        run(r);
        const QString log = r.logText();
        QVERIFY(log.contains(QString::fromLatin1(head.chopped(2))));
        QVERIFY(log.contains(QStringLiteral("Detected ogg from icecast data\n")));
        QVERIFY(log.contains(
            QStringLiteral("File access error: Lost sync with shoutcast data, disconnecting\n")));
        QCOMPARE(log.contains(QStringLiteral("Will reconnect after 15 seconds\n")), reconnect);
        QCOMPARE(trackFiles(),
                 QStringList{QStringLiteral("Station Test_Dec_09_2026__10_00AM.ogg")});
        QCOMPARE(readTrack(trackFiles().first()), StationSimulator::audioBytes(0, 39 * 8192));
    }

    void watchdogEndsOrResumes_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("resumes");
        QTest::newRow("planned end") << 2 << false << "Recording complete (2 minutes)" << false;
        QTest::newRow("stall, 16 minutes left") << 18 << true << "Connection stalled" << true;
        QTest::newRow("stall, exactly 15 left") << 17 << true << "Connection stalled" << false;
    }
    void watchdogEndsOrResumes()
    {
        QFETCH(int, duration);
        QFETCH(bool, stall);
        QFETCH(QString, ending);
        QFETCH(bool, resumes);
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        route.bytesPerSecond = 400000;
        if (stall)
            route.stallAfterAudio = 20000;
        m_station->setRoute("/slow", route);
        RecordingSettings settings = station(QStringLiteral("/slow"));
        settings.duration = duration;
        settings.reconnect = true;
        Recording r(settings);
        QSignalSpy progress(&r, &Recording::progressChanged);
        const QDateTime start = m_now;
        r.startCapture();
        if (stall)
            QTRY_COMPARE_WITH_TIMEOUT(audioOnDisk(), qint64(20000), networkWaitMs);
        for (int minute = 1; r.isCapturing(); ++minute) {
            const qint64 seen = audioOnDisk();
            QTRY_VERIFY_WITH_TIMEOUT(stall || audioOnDisk() > seen, networkWaitMs);
            m_now = start.addSecs(60 * minute);
            tickWatchdog(r);
        }
        QVERIFY(r.logText().contains(QStringLiteral("Data size is 20000 at 2 minutes\n")) == stall);
        QVERIFY(r.logText().contains(ending));
        QCOMPARE(progress.at(0).first().toDouble(), 0.0);
        QCOMPARE(progress.at(1).first().toDouble(), 100.0 / duration);
        QCOMPARE(r.logText().contains(QStringLiteral("Will reconnect after 15 seconds\n")),
                 resumes);
        if (!resumes)
            return;
        QCOMPARE(r.nextStart(), m_now.addSecs(15));
        // The resumed capture keeps counting from the first start.
        m_now = m_now.addSecs(15);
        QMetaObject::invokeMethod(r.findChild<StartTimer *>()->findChild<QTimer *>(), "timeout");
        QVERIFY(r.isCapturing());
        m_now = start.addSecs(60 * duration);
        tickWatchdog(r);
        QVERIFY(!r.isCapturing());
        QVERIFY(r.logText().contains(QStringLiteral(" at %1 minutes\n").arg(duration)));
    }

    void failedStartWaitsForTomorrow_data()
    {
        QTest::addColumn<bool>("validUrl");
        QTest::addColumn<QString>("failure");
        QTest::newRow("refused") << true << "Connection failed with error: ";
        QTest::newRow("no station address")
            << false << "Can not open connection to the station. Recording failed\n";
    }
    void failedStartWaitsForTomorrow()
    {
        QFETCH(bool, validUrl);
        QFETCH(QString, failure);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        RecordingSettings settings;
        settings.url =
            validUrl ? QStringLiteral("http://127.0.0.1:%1/").arg(port) : QStringLiteral("http://");
        settings.once = true;
        settings.days = {true, true, true, true, true, true, true};
        Recording r(settings);
        QSignalSpy cleared(&r, &Recording::weekdayCleared);
        QSignalSpy capturing(&r, &Recording::capturingChanged);
        r.schedule(); // due now: the timer fires at once
        QTRY_COMPARE_WITH_TIMEOUT(capturing.size(), 2, networkWaitMs);
        QCOMPARE(cleared.size(), 1);
        QCOMPARE(cleared.first().first().toInt(), 2); // a one-time recording gives up Wednesday
        QVERIFY(!r.settings().days[2]);
        QVERIFY(r.logText().contains(failure));
        QCOMPARE(r.nextStart(), QDateTime(QDate(2026, 12, 10), QTime(10, 0)));
    }

    void failedWriteEndsTheCaptureAndKeepsTheTrack()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 0);
        m_station->setRoute("/full", route);
        Recording r(station(QStringLiteral("/full")));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit full = saved;
        full.rlim_cur = 300000; // a full disk
        std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &full);
        run(r);
        setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(r.logText().contains(QStringLiteral("File access error: Could not write to ")));
        QVERIFY(r.logText().contains(QStringLiteral("File size is 300000 bytes\n")));
        QCOMPARE(audioOnDisk(), qint64(300000));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
