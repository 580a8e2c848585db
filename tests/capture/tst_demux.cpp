#include <QTest>

#include "capturekit.h"
#include "platform/failures.h"

using namespace CaptureKit;
using Route = StationSimulator::Route;

namespace {

struct Segment
{
    QByteArray title;
    qint64 start;
    qint64 end;
};

// Where each announced title begins and ends in the audio of a route that
// closes after `audioCount` bytes: the expected songs.
QList<Segment> segmentsOf(const Route &route, qint64 audioCount)
{
    QList<Segment> segments;
    for (qint64 at = route.metaInterval; at < audioCount; at += route.metaInterval) {
        const QByteArray title = route.titles.at(*StationSimulator::titleIndexAt(route, at));
        if (segments.isEmpty() || segments.last().title != title) {
            if (!segments.isEmpty())
                segments.last().end = at;
            segments.append({title, at, audioCount});
        }
    }
    return segments;
}

Route songStream()
{
    Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
    route.titles = {"Alpha - One", "Beta - Two", "Gamma - Three", "Delta - Four"};
    route.titleInterval = 300000;
    return route;
}

constexpr qint64 songAudio = 1000000;

QMap<QString, QByteArray> allTracks()
{
    QMap<QString, QByteArray> tracks;
    for (const QString &name : trackFiles())
        tracks.insert(name, readTrack(name));
    return tracks;
}

} // namespace

class TestDemux : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now = QDateTime(QDate(2026, 12, 5), QTime(9, 45));

    // Records the song stream in the given chunking and answers its log.
    QString recordSongs(bool keepPartial, quint32 seed, int maxChunk)
    {
        clearTrackFolder();
        auto r = capturing(QStringLiteral("Songs"));
        r->splitSongs = true;
        r->keepPartial = keepPartial;
        r->connectionDidReceiveResponse(icyResponse(16000));
        const QByteArray wire = StationSimulator::wireBody(songStream(), songAudio);
        if (maxChunk == 0)
            r->connectionDidReceiveData(wire);
        else
            feedChunked(*r, wire, seed, maxChunk);
        r->connectionDidFinishLoading();
        return r->logText;
    }

private Q_SLOTS:
    void init()
    {
        Clock::setSource([this] { return m_now; });
        clearTrackFolder();
    }
    void cleanup() { Clock::reset(); }

    void firstChunkHoldsTwoBlocks()
    {
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
        route.titles = {"One"};
        const QByteArray wire = StationSimulator::wireBody(route, 40000);
        auto r = capturing(QStringLiteral("Two Blocks"));
        r->connectionDidReceiveResponse(icyResponse(16000));
        r->connectionDidReceiveData(QByteArrayView(wire).first(40000));
        const qint64 blockSize = StationSimulator::metadataBlock("One").size();
        // Two length bytes (the second one 0: the title did not change) and one block.
        QCOMPARE(r->dataSize, 40000 - blockSize - 1);
        QCOMPARE(r->logText.count(QStringLiteral("Got shoutcast data: ")), 1);
        const QStringList files = trackFiles();
        QCOMPARE(files.size(), 1);
        QCOMPARE(readTrack(files.first()), StationSimulator::audioBytes(0, r->dataSize));
    }

    void everyChunkingGivesTheSameTracks_data()
    {
        QTest::addColumn<bool>("keepPartial");
        QTest::newRow("partial songs dropped") << false;
        QTest::newRow("partial songs kept") << true;
    }
    void everyChunkingGivesTheSameTracks()
    {
        QFETCH(bool, keepPartial);
        const QString log = recordSongs(keepPartial, 0, 0);
        const QMap<QString, QByteArray> tracks = allTracks();
        for (const auto &[seed, maxChunk] : {std::pair{1u, 3}, {2u, 17}, {3u, 4100}, {4u, 70000}}) {
            QCOMPARE(recordSongs(keepPartial, seed, maxChunk), log);
            QCOMPARE(allTracks(), tracks);
        }
    }

    void songsAreCutAtTitleChanges()
    {
        const QList<Segment> songs = segmentsOf(songStream(), songAudio);
        QCOMPARE(songs.size(), 4);
        const auto expected = [](const Segment &song) {
            // The last interval of each song belongs to the next one's block boundary.
            return StationSimulator::audioBytes(song.start, song.end - song.start - 16000);
        };

        const QString dropped = recordSongs(false, 0, 0);
        QCOMPARE(trackFiles(), (QStringList{QStringLiteral("Beta - Two.mp3"),
                                            QStringLiteral("Gamma - Three.mp3")}));
        QCOMPARE(readTrack(QStringLiteral("Beta - Two.mp3")), expected(songs[1]));
        QCOMPARE(readTrack(QStringLiteral("Gamma - Three.mp3")), expected(songs[2]));
        QVERIFY(
            dropped.contains(QStringLiteral("Deleting the last (incomplete) shoutcast song\n")));
        QVERIFY(dropped.contains(QStringLiteral("File size is 304000 bytes\n")));

        const QString kept = recordSongs(true, 0, 0);
        QCOMPARE(trackFiles(), (QStringList{QStringLiteral("Beta - Two.mp3"),
                                            QStringLiteral("End of Alpha - One.mp3"),
                                            QStringLiteral("Gamma - Three.mp3")}));
        QCOMPARE(readTrack(QStringLiteral("End of Alpha - One.mp3")), expected(songs[0]));
        // The last song was cut by the end: renamed, then too small to keep.
        QVERIFY(kept.contains(QStringLiteral("Writting data to End of Alpha - One.mp3\n")));
        QVERIFY(kept.contains(QStringLiteral("Data size is tiny (88000 bytes), deleting song\n")));
        QVERIFY(!kept.contains(QStringLiteral("Deleting the last")));
    }

    void sniffedBodyWaitsForFourKilobytes()
    {
        auto r = capturing(QStringLiteral("Plain"));
        HttpResponse plain;
        r->connectionDidReceiveResponse(plain);
        const QByteArray audio = StationSimulator::audioBytes(0, 5000);
        for (int i = 0; i < 4; ++i) {
            r->connectionDidReceiveData(QByteArrayView(audio).sliced(i * 1000, 1000));
            QVERIFY(trackFiles().isEmpty());
        }
        r->connectionDidReceiveData(QByteArrayView(audio).sliced(4000, 1000));
        QCOMPARE(r->icyInterval, -1);
        QCOMPARE(r->dataSize, qint64(5000));
        QCOMPARE(readTrack(trackFiles().first()), audio);
    }

    void headersInsideTheBodyAreRead()
    {
        QByteArray head = "ICY 200 OK\r\ncontent-type: application/ogg\r\nicy-genre:  Jazz \r\n"
                          "icy-metaint:8192\r\nicy-name: ";
        head.append(QByteArray(300 - head.size(), 'x'));
        head.append("\r\n\r\n");
        QCOMPARE(head.indexOf("\r\n\r\n"), 300);
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 8192);
        route.titles = {"Sniffed"};
        const QByteArray wire = head + StationSimulator::wireBody(route, 30000);

        auto r = capturing(QStringLiteral("Sniffer"));
        r->connectionDidReceiveResponse(HttpResponse());
        feedChunked(*r, wire, 7, 900);
        QCOMPARE(r->icyInterval, 8192);
        QCOMPARE(r->genre, QStringLiteral("Jazz"));
        QVERIFY(r->logText.contains(QString::fromLatin1(head.left(302))));
        QVERIFY(r->logText.contains(QStringLiteral("Detected ogg from icecast data\n")));
        QVERIFY(r->logText.contains(QStringLiteral("Got shoutcast data: StreamTitle='Sniffed';")));
        QCOMPARE(r->dataSize, qint64(30000));
        const QStringList files = trackFiles();
        QVERIFY(files.first().endsWith(QStringLiteral(".ogg")));
        QCOMPARE(readTrack(files.first()), StationSimulator::audioBytes(0, 30000));
    }

    void lostSyncEndsTheCapture_data()
    {
        QTest::addColumn<bool>("reconnect");
        QTest::newRow("resumes") << true;
        QTest::newRow("waits for the next start") << false;
    }
    void lostSyncEndsTheCapture()
    {
        QFETCH(bool, reconnect);
        auto r = capturing(QStringLiteral("Lost"));
        r->reconnect = reconnect;
        r->duration = 10; // a resume after lost sync does not ask how much time is left
        r->connectionDidReceiveResponse(icyResponse(1000));
        QByteArray wire = StationSimulator::audioBytes(0, 1000);
        wire.append(char(1));
        wire.append("garbage, no title", 16);
        wire.append(StationSimulator::audioBytes(1000, 500));
        r->connectionDidReceiveData(wire);
        QVERIFY(!r->inProgress);
        QVERIFY(r->logText.contains(
            QStringLiteral("File access error: Lost sync with shoutcast data, disconnecting\n")));
        QCOMPARE(r->logText.contains(QStringLiteral("Will reconnect after 15 seconds\n")),
                 reconnect);
    }

    void titlesAndRepeats()
    {
        auto r = capturing(QStringLiteral("Titles"));
        r->splitSongs = true;
        r->keepPartial = true;
        r->connectionDidReceiveResponse(icyResponse(100));
        QByteArray wire;
        qint64 audio = 0;
        const auto addAudio = [&] {
            wire.append(StationSimulator::audioBytes(audio, 100));
            audio += 100;
        };
        addAudio();
        wire.append(StationSimulator::metadataBlock("Song';StreamUrl='http://x"));
        addAudio();
        wire.append(StationSimulator::metadataBlock("Song';StreamUrl='http://x"));
        addAudio();
        QByteArray open = "StreamTitle='No end";
        QByteArray block(1, char(2));
        block.append(open.leftJustified(32, '\0'));
        wire.append(block);
        addAudio();
        r->connectionDidReceiveData(wire);
        QCOMPARE(r->logText.count(QStringLiteral("Got shoutcast data: ")), 2);
        QVERIFY(r->logText.contains(QStringLiteral("Writting data to End of Song.mp3\n")));
        // A title without its end runs to the end of the block; the zero padding is not text.
        QCOMPARE(r->title, QStringLiteral("No end"));
        QVERIFY(!r->logText.contains(QChar(u'\0')));
    }

    void smallTracksAreDeletedAndLongOnesCut_data()
    {
        QTest::addColumn<qint64>("written");
        QTest::addColumn<qint32>("interval");
        QTest::addColumn<qint64>("kept"); // -1: deleted
        QTest::newRow("262143 is tiny") << qint64(262143) << -1 << qint64(-1);
        QTest::newRow("262144 stays") << qint64(262144) << -1 << qint64(262144);
        QTest::newRow("cut by one interval") << qint64(300000) << 8192 << qint64(291808);
        QTest::newRow("one interval is not cut") << qint64(5000) << 8192 << qint64(-1);
    }
    void smallTracksAreDeletedAndLongOnesCut()
    {
        QFETCH(qint64, written);
        QFETCH(qint32, interval);
        QFETCH(qint64, kept);
        auto r = capturing(QStringLiteral("Sizes"));
        r->connectionDidReceiveResponse(icyResponse(-1));
        r->connectionDidReceiveData(StationSimulator::audioBytes(0, written));
        r->icyInterval = interval;
        r->closeFile(false);
        if (kept < 0) {
            QVERIFY(trackFiles().isEmpty());
            QVERIFY(r->logText.contains(
                QStringLiteral("Data size is tiny (%1 bytes), deleting song\n").arg(written)));
        } else {
            QCOMPARE(readTrack(trackFiles().first()), StationSimulator::audioBytes(0, kept));
            QVERIFY(r->logText.contains(QStringLiteral("File size is %1 bytes\n").arg(written)));
        }
    }

    void responseHeadersChooseIntervalAndExtension_data()
    {
        QTest::addColumn<QString>("metaint");
        QTest::addColumn<QString>("mime");
        QTest::addColumn<qint32>("interval");
        QTest::addColumn<QString>("extension");
        QTest::newRow("capitals") << "8192"
                                  << "audio/mpeg" << 8192 << ".mp3";
        QTest::newRow("zero") << "0"
                              << "application/OGG" << -1 << ".ogg";
        QTest::newRow("not a number") << "abc"
                                      << "" << -1 << ".mp3";
        QTest::newRow("aac") << " 16000"
                             << "audio/aacp" << 16000 << ".aac";
    }
    void responseHeadersChooseIntervalAndExtension()
    {
        QFETCH(QString, metaint);
        QFETCH(QString, mime);
        QFETCH(qint32, interval);
        QFETCH(QString, extension);
        auto r = capturing(QStringLiteral("Headers"));
        HttpResponse response;
        response.isHttp = true;
        response.mimeType = mime;
        response.headerFields = {{QStringLiteral("ICY-METAINT"), metaint},
                                 {QStringLiteral("icy-genre"), QStringLiteral("Talk")}};
        r->connectionDidReceiveResponse(response);
        QCOMPARE(r->icyInterval, interval);
        QCOMPARE(r->fileExt, extension);
        QCOMPARE(r->genre, QStringLiteral("Talk"));
        QCOMPARE(r->logText.contains(QStringLiteral("Shoutcast/icecast metadata interval is")),
                 interval > 0);
        QVERIFY(r->logText.startsWith(QStringLiteral("Getting a response\nHTTP Headers: ")));
    }

    void failedWritesEndTheCaptureAndKeepTheTrack()
    {
        auto r = capturing(QStringLiteral("Full Disk"));
        r->connectionDidReceiveResponse(icyResponse(-1));
        r->connectionDidReceiveData(StationSimulator::audioBytes(0, 300000));
        const QString path = r->filePath;
        // A file that refuses further writes, as a full disk would.
        r->file->close();
        QVERIFY(r->file->open(QIODevice::ReadOnly));
        r->file->seek(300000);
        r->connectionDidReceiveData(StationSimulator::audioBytes(300000, 1000));
        QVERIFY(!r->inProgress);
        QVERIFY(r->logText.contains(QStringLiteral("File access error: Could not write to ")));
        QVERIFY(r->logText.contains(QStringLiteral("File size is 300000 bytes\n")));
        QCOMPARE(QFileInfo(path).size(), qint64(300000));
    }
};

QTEST_GUILESS_MAIN(TestDemux)
#include "tst_demux.moc"
