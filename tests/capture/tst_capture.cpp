// Captures end to end against the station simulator on 127.0.0.1, Try, the
// stream format, and the track files a capture writes (names, closing a track).
#include <limits>

#include <QDirIterator>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "audio/audioframe.h"
#include "capture/capture.h"
#include "capture/nonsongtitles.h"
#include "capture/oggsplitter.h"
#include "capture/playlisttarget.h"
#include "capture/songcutter.h"
#include "capture/stationheaders.h"
#include "capture/stationprobe.h"
#include "capture/streamformat.h"
#include "capture/trackname.h"
#include "capture/trackpattern.h"
#include "capture/trackwriter.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/descriptorlimit.h"
#include "platform/failures.h"
#include "audiofixtures.h"
#include "hlsstation.h"
#include "stationsimulator.h"
#include "testfiles.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using Route = StationSimulator::Route;
using Tracks = QMap<QString, QByteArray>; // file name -> content

namespace {

constexpr int networkWaitMs = 15000;
constexpr rlim_t fullDisk = 320000; // bytes a file; only the endless stream reaches it
// Partial: keep a song the end cut short; Resume: reconnect after a break.
enum Option { Split = 1, Partial = 2, Resume = 4, NoRoom = 8, HandOff = 16, Stop = 32, Quit = 64 };
constexpr int Pattern = 128; // tracks named by a hostile file-name pattern
enum class Event { None, FolderRemoved, FloorReached };
const QString dated = u"Station Test_Dec_09_2026__10_00AM"_s;
constexpr auto audio = &StationSimulator::audioBytes;

Tracks tracks()
{
    Tracks found;
    const QDir folder(TrackWriter::folder());
    for (QDirIterator it(folder.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        found.insert(folder.relativeFilePath(it.filePath()),
                     file.open(QIODevice::ReadOnly) ? file.readAll() : "<unread>");
    }
    return found;
}

// Ticks the running capture's watchdog, as a minute passing would.
void tickWatchdog(Recording &r)
{
    // An ended capture lingers as a child until the event loop deletes it.
    for (Capture *capture : r.findChildren<Capture *>()) {
        if (capture->isRunning())
            QMetaObject::invokeMethod(capture->findChild<QTimer *>(u"watchdog"_s), "timeout");
    }
}

Route stream(qint64 metaInterval, std::optional<qint64> closeAfter = {}, int maxChunk = 0,
             const QList<QByteArray> &titles = {})
{
    Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), metaInterval);
    route.closeAfterAudio = closeAfter;
    route.maxChunk = maxChunk;
    route.titles = titles;
    route.titleInterval = 300000;
    return route;
}

const QDateTime noon(QDate(2026, 3, 1), QTime(12, 5));
// A recording name long enough that made file names must be cut.
// It would lead out of the track folder if it were not cleaned.
const QString base = u"../Desk %d "_s + QString(250, u'y');
// Four bytes of UTF-8, two UTF-16 units.
const QString clef = u"\U0001D11E"_s;

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    StationSimulator *m_station = nullptr;
    std::unique_ptr<HlsStation> m_hls; // for Try
    QDateTime m_now;

    QString serve(const QByteArray &path, const Route &route) const
    {
        m_station->setRoute(path, route);
        return m_station->url(QString::fromLatin1(path));
    }

    static RecordingSettings station(const QString &url, int options, qint32 duration = 0)
    {
        RecordingSettings settings;
        settings.name = u"Station Test"_s;
        settings.url = url;
        // The test's hand-off script refuses the playlist "Refused".
        settings.playList =
            options & HandOff ? (options & Split ? u"Refused"_s : u"Kept"_s) : QString();
        settings.splitSongs = options & Split;
        settings.keepPartial = options & Partial;
        settings.reconnect = options & Resume;
        settings.duration = duration;
        settings.once = true;
        settings.days.fill(true);
        settings.minFreeMB = options & NoRoom ? std::numeric_limits<qint32>::max() : 0;
        if (options & Pattern) {
            settings.name = u".."_s;
            settings.fileNamePattern = u"/{station}/../{artist}/{title}"_s;
        }
        return settings;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A desktop language that file names and the log must not follow.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        m_station = new StationSimulator(this);
        QVERIFY(m_station->start());
        // The whole run writes to a full disk, so a failed write needs no setup of its own.
        lowerLimit(RLIMIT_FSIZE, fullDisk).dismiss();
        const QString script =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            u"/skyvane/addTune.lua"_s;
        QFile lua(script);
        QVERIFY(QDir().mkpath(QFileInfo(script).path()) && lua.open(QIODevice::WriteOnly));
        lua.write("function add_tune(path, playlist)\n"
                  "  if playlist == 'Refused' then error('refused') end\n"
                  "end\n");
    }
    void init()
    {
        QDir(TrackWriter::folder()).removeRecursively();
        QFile::remove(TrackWriter::folder()); // a file in its place, as "open fails" leaves
        m_now = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        Clock::setSource([this] { return m_now; });
    }
    void cleanup() { Clock::reset(); }

    // What a station sends besides audio, and a failed connection's words. Header fields
    // are read from an in-band head, which goes through the reading of a response's fields.
    void stationText_data()
    {
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<QByteArray>("text");
        // head: interval|genre|mime type|extension; "-" and "none": nothing.
        QTest::addColumn<QString>("read");
        const auto row = [](const char *rule, const char *name, QByteArrayView text,
                            const char *read) {
            QTest::addRow("%s: %s", rule, name)
                << QByteArray(rule) << text.toByteArray() << QString::fromUtf8(read);
        };
        row("head", "aacp; parameter", "Content-Type: audio/aacp;x\r\n", "-|-|audio/aacp|.aac");
        row("head", "ogg", "content-type: Application/OGG\r\n", "-|-|application/ogg|.ogg");
        row("head", "empty genre", "icy-genre:\r\n", "-|||.mp3");
        row("head", "metaint 0", "icy-metaint: 0\r\n", "-1|-||.mp3");
        row("head", "only whole types", "Content-Type: audio/aac+\r\n", "-|-|audio/aac+|.mp3");
        row("head", "later field wins",
            "icy-metaint: 8192\r\nICY-METAINT: 16000\r\nicy-genre: A\r\nicy-genre:  Jazz \r\n"
            "content-type: audio/mpeg\r\nContent-Type: audio/x-aac\r\n",
            "16000|Jazz|audio/x-aac|.aac");
        row("head", "unterminated line", "icy-metaint: 8192\r\nicy-genre: Jazz", "8192|-||.mp3");
        row("url", "PLS https first", "[playlist]\nFile1=https://s\nFile2=http://p\n", "https://s");
        row("url", "M3U", "#EXTM3U\r\n#EXTINF:-1,A\r\nHTTPS://b/s\r\n", "HTTPS://b/s");
        row("url", "control char ends it", "http://p/1 https://s/2\x01", "http://p/1 https://s/2");
        row("url", "no URL", "<html>Not found</html>", "none");
        row("url", "invalid UTF-8", "http://a/\xff\n", "none");
        row("url", "zero byte ends the body", QByteArrayView("http://a/b\0\xff", 12), "http://a/b");
        // curl's words, said once, and only where they tell more.
        row("failure", "refused",
            "Couldn't connect to server (Failed to connect to 127.0.0.1 port 9 after 0 ms: "
            "Couldn't connect to server)",
            "Could not connect to the station (127.0.0.1 port 9)");
        row("failure", "no such host",
            "Couldn't resolve host name (Could not resolve host: nosuch.invalid)",
            "Could not find the station's server (nosuch.invalid)");
        row("failure", "other", "Too many redirects", "Connection failed: Too many redirects");
    }
    void stationText()
    {
        QFETCH(QByteArray, rule);
        QFETCH(QByteArray, text);
        QFETCH(QString, read);
        const StationHeaders head = StationHeaders::fromInBandHead(QString::fromLatin1(text));
        const QString mime = head.mimeType.value_or(QString());
        const QString parsed =
            QStringList{head.metaInterval ? QString::number(*head.metaInterval) : u"-"_s,
                        head.genre.value_or(u"-"_s), mime, StationHeaders::extensionFor(mime)}
                .join(u'|');
        QCOMPARE(rule == "url"       ? PlaylistTarget::first(text).value_or(u"none"_s)
                 : rule == "failure" ? Capture::connectionFailure(QString::fromUtf8(text))
                                     : parsed,
                 read);
    }

    // The format from the first bytes: two frame headers in a row, or a
    // container's marker.
    void streamFormats_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("format"); // codec bitrate sample rate[ Ogg title, "-" none]
        const QByteArray mp3 = QByteArray::fromHex("fffb9064") + QByteArray(413, '\0');
        const QByteArray adts = QByteArray::fromHex("fff150802e7ffc") + QByteArray(364, '\0');
        QTest::newRow("MP3 after noise") << "\xff\xfb" + mp3 + mp3 << u"MP3 128 44100"_s;
        QTest::newRow("one MP3 header alone") << mp3 + QByteArray(900, 'x') << u" 0 0"_s;
        QTest::newRow("ADTS") << adts + adts << u"AAC 0 44100"_s;
        const QByteArray bare = QByteArray::fromHex("fff1508000fffc"); // a header, no payload
        QTest::newRow("ADTS, 7-byte frames") << bare + bare << u"AAC 0 44100"_s;
        QTest::newRow("Ogg Opus") << QByteArray("OggS\0\2....OpusHead", 19)
                                  << u"Ogg Opus 0 48000"_s;
        QTest::newRow("Ogg Vorbis")
            << QByteArray("OggS\0\2\x01vorbis", 13) << u"Ogg Vorbis 0 0 -"_s;
        // Its comment header: a vendor, then "KEY=value" comments, each after its length.
        const QByteArray comments(
            "OggS\x01vorbis\x03vorbis\1\0\0\0V\2\0\0\0\x0a\0\0\0TITLE=S\xc3\xbc"
            "d\x08\0\0\0ARTIST=A",
            53);
        QTest::newRow("Ogg Vorbis comments") << comments << u"Ogg Vorbis 0 0 A - Süd"_s;
        QTest::newRow("Ogg Vorbis comments cut short")
            << comments.chopped(1) << u"Ogg Vorbis 0 0 -"_s;
        QTest::newRow("FLAC") << QByteArray("fLaC\0\0") << u"FLAC 0 0"_s;
    }
    void streamFormats()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, format);
        const StreamFormat found = StreamFormat::sniff(bytes);
        QString shown = u"%1 %2 %3"_s.arg(found.codec).arg(found.bitrate).arg(found.sampleRate);
        if (found.codec.startsWith(u"Ogg Vorbis"))
            shown += u' ' + found.oggTitle.value_or(u"-"_s);
        QCOMPARE(shown, format);
    }

    // Songs of 6, 5 and 7 s with a second of silence between: where the
    // cuts land when titles come on time, late or early, and what is lost.
    void cutsSongs_data()
    {
        QTest::addColumn<bool>("aac");
        QTest::addColumn<int>("titleLateMs"); // after the next song begins
        QTest::addColumn<int>("offsetMs");
        QTest::addColumn<int>("windowMs");
        QTest::addColumn<int>("brokenAt"); // a frame header spoilt there, 0 none
        QTest::newRow("on time, window") << false << 0 << 0 << 3000 << 0;
        QTest::newRow("1.5 s late, window") << false << 1500 << 0 << 3000 << 0;
        QTest::newRow("1 s early, window, AAC") << true << -1000 << 0 << 3000 << 0;
        QTest::newRow("1.5 s late, offset, no window") << false << 1500 << -2000 << 0 << 0;
        QTest::newRow("a broken frame") << false << 0 << 0 << 3000 << 40000;
    }
    void cutsSongs()
    {
        QFETCH(bool, aac);
        QFETCH(int, titleLateMs);
        QFETCH(int, offsetMs);
        QFETCH(int, windowMs);
        QFETCH(int, brokenAt);
        QByteArray stream = AudioFixtures::programme(AudioFixtures::Codec(aac), {{6}, {5}, {7}});
        if (brokenAt > 0) // a frame's header, so that the frame cannot be found
            stream[stream.indexOf("\xff\xfb", brokenAt)] = 'x';
        struct Songs final : SongCutter::Receiver
        {
            QList<QByteArray> bytes{{}};
            QList<qint64> playingUs{0};
            qint64 skipped = 0;
            void songAudio(QByteArrayView audio, qint64 us) override
            {
                bytes.last() += audio, playingUs.last() += us;
            }
            void songEnds() override { bytes.append(QByteArray()), playingUs.append(0); }
            void audioSkipped(qint64 count, bool) override { skipped += count; }
        } songs;
        SongCutter cutter(songs, aac ? SongCutter::Framing::Aac : SongCutter::Framing::Mp3,
                          {offsetMs * 1000LL, windowMs * 1000LL});
        // Joined mid-frame; the titles come after the frame that reaches their time.
        qint64 timeUs = 0;
        QList<qint64> titlesUs{7000000 + titleLateMs * 1000LL, 13000000 + titleLateMs * 1000LL};
        for (qsizetype at = 5; at < stream.size();) {
            const auto frame = AudioFrame::at(stream, at);
            const qsizetype length = frame ? frame->length : 1;
            cutter.feed(QByteArrayView(stream).sliced(at, std::min(length, stream.size() - at)));
            at += length;
            timeUs += frame ? frame->durationUs() : 0;
            if (!titlesUs.isEmpty() && timeUs >= titlesUs.first()) {
                cutter.titleChanged();
                titlesUs.removeFirst();
            }
        }
        cutter.finish();
        QCOMPARE(songs.bytes.size(), 3);
        // Every byte went to one song but those of the first and the broken frame.
        QCOMPARE(songs.bytes.join().size() + songs.skipped, stream.size() - 5);
        // The frames skipped, the first and the broken one, lie before the first cut.
        qint64 cutUs = AudioFrame::at(stream, 0)->durationUs() * (brokenAt > 0 ? 2 : 1);
        for (int song = 1; song < 3; ++song) {
            cutUs += songs.playingUs[song - 1];
            // Within a frame, and the part of one a title may come late.
            QVERIFY2(std::abs(cutUs - (song * 6000000 + 500000)) <= 80000,
                     qPrintable(QString::number(cutUs)));
        }
        // Each song plays on its own; a frame lost by the station leaves a gap
        // the next frame's decoder feels.
        for (qsizetype song = brokenAt > 0 ? 1 : 0; song < 3; ++song)
            QVERIFY(AudioFixtures::decodedMs(songs.bytes[song]) > 4000);
    }

    // Real audio end to end: songs of 17 s, a second of silence between, each
    // title sent as its song begins. Every track begins and ends on a whole
    // frame or page and plays on its own.
    void capturesRealAudio_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<QList<QByteArray>>("titles"); // as each song begins
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("files"); // the tracks kept, "|" between
        QTest::addColumn<QString>("log");
        using AudioFixtures::Codec;
        const QList<QByteArray> songs = {"A - One", "B - Two", "C - Three"};
        QTest::newRow("MP3, nothing lost")
            << int(Codec::Mp3) << songs << (Split | Partial)
            << u"B - Two.mp3|End of A - One.mp3|Start of C - Three.mp3"_s
            << u"Writing data to End of A - One.mp3\nWriting data to B - Two.mp3"_s;
        QTest::newRow("AAC, whole songs")
            << int(Codec::Aac) << songs << int(Split) << u"B - Two.aac"_s
            << u": the recording began during this song\nWriting data to B - Two.aac"_s;
        QTest::newRow("a title that never changes")
            << int(Codec::Mp3) << QList<QByteArray>{"Talk"} << int(Split) << dated + u".mp3"_s
            << u"The title never changed: keeping the recording as one"_s;
        QTest::newRow("advertising")
            << int(Codec::Mp3) << QList<QByteArray>{"A - One", " ADVERT ", "C - Three"}
            << (Split | Partial) << u"End of A - One.mp3|Start of C - Three.mp3"_s
            << u"Not a song: \" ADVERT \", its audio is not kept"_s;
        // Named by a pattern that a station cannot lead out of the track folder.
        QTest::newRow("Ogg Opus, split at its streams, in folders")
            << int(Codec::Opus) << QList<QByteArray>() << (Split | Partial | Pattern)
            << u"A/End of One.opus|B/Two.opus|C/Start of Three.opus"_s
            << u"The station's stream is Ogg Opus, not what its Content-Type says"_s;
    }
    void capturesRealAudio()
    {
        QFETCH(int, codec);
        QFETCH(QList<QByteArray>, titles);
        QFETCH(int, options);
        QFETCH(QString, files);
        QFETCH(QString, log);
        Route route = stream(16000);
        // One song alone stays under the test's limit of a file's size.
        const QList<AudioFixtures::Song> songs{
            {17, u"A"_s, u"One"_s}, {17, u"B"_s, u"Two"_s}, {17, u"C"_s, u"Three"_s}};
        route.programme = AudioFixtures::programme(AudioFixtures::Codec(codec),
                                                   titles.size() == 1 ? songs.first(1) : songs);
        const bool framed = !route.programme.startsWith("OggS");
        // Each title with the first frame of its song, 18 s after the last.
        auto &schedule = route.titleSchedule;
        for (qsizetype at = 0, timeUs = 0; framed && at < route.programme.size();) {
            if (schedule.size() < titles.size() && timeUs >= schedule.size() * 18000000)
                schedule.append({at, titles[schedule.size()]});
            timeUs += AudioFrame::at(route.programme, at)->durationUs();
            at += AudioFrame::at(route.programme, at)->length;
        }
        Capture capture(station(serve("/real", route), options), m_now);
        QString told;
        connect(&capture, &Capture::logLine, this, [&told](const QString &line) { told += line; });
        QSignalSpy finished(&capture, &Capture::finished);
        capture.start();
        QVERIFY(finished.wait(networkWaitMs));
        qsizetype at = 0;
        for (const QString &line : log.split(u'\n'))
            QVERIFY2((at = told.indexOf(line, at)) >= 0, qPrintable(told));
        const Tracks kept = tracks();
        QCOMPARE(kept.keys().join(u'|'), files);
        qsizetype total = 0;
        for (const QByteArray &track : kept) {
            total += track.size();
            at = 0;
            while (framed && at < track.size() && AudioFrame::at(track, at))
                at += AudioFrame::at(track, at)->length;
            QCOMPARE(at, framed ? track.size() : 0);
            QVERIFY(AudioFixtures::decodedMs(track) >= 16000);
        }
        // Every byte the station sent went to a track, unless it was not kept.
        if (files.count(u'|') == 2)
            QCOMPARE(total, route.programme.size());
    }

    // HLS end to end: the same songs in segments of a second, published
    // faster than they play; the titles come with the segments.
    void capturesHls_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("stationOptions");
        QTest::addColumn<QString>("files"); // the tracks kept, "|" between
        QTest::addColumn<QString>("log");
        using Kind = HlsStation::Kind;
        const QString songs = u"B - Two.%1|End of A - One.%1|Start of C - Three.%1"_s;
        QTest::newRow("packed audio, ID3 titles, AES-128")
            << int(Kind::Packed) << (HlsStation::Encrypted | HlsStation::Id3Titles)
            << songs.arg(u"aac"_s) << u"HLS stream: packed audio segments of AAC"_s;
        QTest::newRow("MPEG-TS from a master playlist, titles in the playlist")
            << int(Kind::TransportStream) << (HlsStation::Master | HlsStation::ExtinfTitles)
            << songs.arg(u"aac"_s)
            << u"following the 64 kbit/s variant\nHLS stream: MPEG-TS segments of AAC"_s;
        QTest::newRow("fMP4 as .m4a")
            << int(Kind::Mp4) << int(HlsStation::ExtinfTitles) << songs.arg(u"m4a"_s)
            << u"HLS stream: fMP4 segments of AAC\nWriting data to B - Two.m4a"_s;
        QTest::newRow("stalled") << int(Kind::Packed) << int(HlsStation::Stall) << QString()
                                 << u"has not grown for 3 s\nConnection stalled, ending"_s;
        QTest::newRow("playlist gone")
            << int(Kind::Packed) << int(HlsStation::Gone) << QString()
            << u"Could not reload the HLS playlist: the server answered HTTP 404\n"
               u"has not grown for 3 s"_s;
        QTest::newRow("segments missed")
            << int(Kind::TransportStream) << int(HlsStation::Gap) << QString()
            << u"left the HLS playlist before they were fetched: about "_s;
    }
    void capturesHls()
    {
        QFETCH(int, kind);
        QFETCH(int, stationOptions);
        QFETCH(QString, files);
        QFETCH(QString, log);
        static const QByteArray programme = AudioFixtures::programme(
            AudioFixtures::Codec::Aac, {{17, u"A"_s}, {17, u"B"_s}, {17, u"C"_s}});
        HlsStation hls(*m_station, "/hls" + QByteArray::number(QTest::currentDataTag()[0]),
                       HlsStation::Kind(kind), stationOptions, programme,
                       {"A - One", "B - Two", "C - Three"}, 18);
        QVERIFY(hls.isValid());
        // Split, so that no file grows past the test's limit.
        Capture capture(station(hls.url(), files.isEmpty() ? Split : Split | Partial), m_now);
        QString told;
        connect(&capture, &Capture::logLine, this, [&told](const QString &line) { told += line; });
        QSignalSpy finished(&capture, &Capture::finished);
        capture.start();
        QVERIFY(finished.wait(30000));
        qsizetype at = 0;
        for (const QString &line : log.split(u'\n'))
            QVERIFY2((at = told.indexOf(line, at)) >= 0, qPrintable(told));
        const Tracks kept = tracks();
        if (files.isEmpty())
            return;
        QCOMPARE(kept.keys().join(u'|'), files);
        QByteArray joined;
        for (const QString &name : {u"End of A - One"_s, u"B - Two"_s, u"Start of C - Three"_s}) {
            const QByteArray track = kept.value(name + files.right(4));
            QVERIFY(AudioFixtures::decodedMs(track) >= 16000);
            joined += track;
        }
        // Every frame, in order, once: what the station encoded.
        if (!files.endsWith(u"m4a"))
            QVERIFY(joined == programme);
    }

    // Try: what a station sends, in a few seconds, with nothing written.
    void probes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("lines"); // what --probe prints, "|" for line breaks
        Route titled = stream(8192, {}, 0, {"Artist - Song"});
        titled.headerFields.append(qMakePair(QByteArray("icy-br"), QByteArray("96")));
        const QString live = serve("/try", titled);
        QTest::newRow("titles")
            << live
            << u"url: %1|codec: MP3|bitrate: 96 kbit/s|titles: yes|title: Artist - Song"_s.arg(
                   live);
        const QString list = m_station->url(u"/try.pls"_s);
        m_station->setRoute(
            "/try.pls",
            Route::page("HTTP/1.0 200 OK", "audio/x-scpls",
                        "File1=" +
                            serve("/trymoved", Route::redirect(301, live.toUtf8())).toUtf8()));
        QTest::newRow("through a playlist and a redirect")
            << list
            << u"url: %1|codec: MP3|bitrate: 96 kbit/s|titles: yes|title: Artist - Song"_s.arg(
                   live);
        // Bytes that say nothing: the codec the Content-Type names.
        const QString ogg = serve(
            "/ogg", Route::page("HTTP/1.0 200 OK", "application/ogg", QByteArray(20000, 'x')));
        QTest::newRow("codec by name") << ogg << u"url: %1|codec: Ogg|titles: no"_s.arg(ogg);
        Route lost =
            Route::page("ICY 200 OK", "audio/mpeg", audio(0, 8192) + '\1' + "x"_ba.repeated(16));
        lost.headerFields.append(qMakePair(QByteArray("icy-metaint"), QByteArray("8192")));
        QTest::newRow("titles out of place")
            << serve("/lost", lost)
            << u"url: %1|codec: MP3|titles: yes|problem: The station's titles are not where it said they would be"_s
                   .arg(m_station->url(u"/lost"_s));
        m_hls =
            std::make_unique<HlsStation>(*m_station, "/tryhls", HlsStation::Kind::TransportStream,
                                         HlsStation::Master | HlsStation::ExtinfTitles,
                                         AudioFixtures::programme(AudioFixtures::Codec::Aac, {{3}}),
                                         QList<QByteArray>{"A - One"}, 3);
        QTest::newRow("HLS")
            << m_hls->url()
            << u"url: %1|hls: HLS, 64 kbit/s variant, MPEG-TS segments of AAC|codec: AAC|"
               u"samplerate: 44100 Hz|titles: yes|title: A - One"_s.arg(m_hls->url());
        const QString quiet =
            serve("/quiet", Route::page("HTTP/1.0 200 OK", "text/html", "<html>"));
        QTest::newRow("no audio")
            << quiet
            << u"url: %1|problem: The station closed the connection without sending audio"_s.arg(
                   quiet);
    }
    void probes()
    {
        QFETCH(QString, url);
        QFETCH(QString, lines);
        StationProbe probe;
        QSignalSpy finished(&probe, &StationProbe::finished);
        probe.start(url);
        QVERIFY(finished.wait(networkWaitMs));
        QCOMPARE(finished.first().first().value<ProbeReport>().lines().join(u'|'), lines);
        QVERIFY(tracks().isEmpty());
    }

    void captures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("log");     // lines that must come in this order
        QTest::addColumn<Tracks>("expected"); // each one a track saved
        // Where the outcome's reason (else its summary) starts, as every surface shows it.
        QTest::addColumn<QString>("reason");
        const QString closed = u"Connection closed by the station"_s;
        Route live = stream(8192, 300000, 5000, {"Artist - First"});
        live.headerFields.append(qMakePair(QByteArray("icy-genre"), QByteArray("Jazz")));
        QTest::newRow("made title, moved, closed by the station")
            << serve("/moved", Route::redirect(301, serve("/live", live).toUtf8())) << 0
            << u"interval is 8192\nShoutcast genre is Jazz\nGot shoutcast data: "
               u"StreamTitle='Artist - First';\nConnection closed by the station\nRecording ended"_s
            << Tracks{{dated + u".mp3"_s, audio(0, 300000)}} << closed;
        const QList<QByteArray> titles = {"Alpha", "Beta", "Gamma", "Delta"};
        // Nothing is lost between songs; the first title names the audio before it too.
        const Tracks partial = {{u"Beta.mp3"_s, audio(304000, 304000)},
                                {u"Gamma.mp3"_s, audio(608000, 304000)},
                                {u"End of Alpha.mp3"_s, audio(0, 304000)}};
        // The last song was cut by the end: renamed, then too small to keep.
        QTest::newRow("songs, partial kept")
            << serve("/fine", stream(16000, 1000000, 1500, titles)) << (Split | Partial)
            << u"Track is tiny (5 s of audio, 88000 bytes), deleting song\n"_s << partial << closed;
        // A refusal during the capture ends it, and the track stays.
        Route refused = stream(16000, {}, 0, titles.first(3));
        refused.bytesPerSecond = 400000; // Beta is handed over while Gamma is under way
        const QString library = u"File access error: Error adding the track to the music library"_s;
        QTest::newRow("hand-off refused")
            << serve("/refused", refused) << (Split | HandOff) << u"refused\n"_s + library
            << Tracks{{u"Beta.mp3"_s, audio(304000, 304000)}} << library;
        // Stop waits for the last track to reach the disk, never for a script: the
        // capture ends once its hand-off comes back. Quitting waits for it.
        Route held = stream(0);
        held.stallAfterAudio = 300000; // more than a fragment, less than the disk holds
        const Tracks one = {{dated + u".mp3"_s, audio(0, 300000)}};
        for (const bool quitting : {false, true})
            QTest::newRow(quitting ? "quit" : "stop")
                << serve("/held", held) << (HandOff | (quitting ? Quit : Stop))
                << u"Added track to playlist Kept\nRecording ended"_s << one << QString();
        Route songs = stream(16000, {}, 0, titles);
        songs.stallAfterAudio = 310000;
        QTest::newRow("split, stopped in the first song")
            << serve("/songs", songs) << (Split | Stop)
            << u"Writing data to Beta.mp3\nDeleting the last (incomplete) shoutcast song"_s
            << Tracks() << u"Recording ended: no track saved — the last song was cut short"_s;
        // Without icy-metaint in the answer, the head inside the body is found by sniffing.
        const QByteArray head =
            "ICY 200 OK\r\ncontent-type: application/ogg\r\nicy-metaint:8192\r\n\r\n";
        Route sniffed =
            Route::page("HTTP/1.0 200 OK", "audio/mpeg",
                        head + StationSimulator::wireBody(stream(8192, {}, 0, {"S"}), 36 * 8192) +
                            '\x01' + QByteArray(8192, 'x'));
        sniffed.maxChunk = 900;
        const QString lost = u"File access error: Lost sync with shoutcast data, disconnecting"_s;
        QTest::newRow("lost sync, resumed")
            << serve("/sniff", sniffed) << int(Resume)
            << QString::fromLatin1(head) + u"Detected ogg from icecast data\n"_s + lost
            << Tracks{{dated + u".ogg"_s, audio(0, 36 * 8192)}} << lost;
        QTest::newRow("failed write keeps the track")
            << serve("/endless", stream(0)) << 0 << u"File access error: Could not write to "_s
            << Tracks{{dated + u".mp3"_s, audio(0, fullDisk)}}
            << u"File access error: Could not write to "_s;
        // The station hangs up without a word.
        QTest::newRow("no answer")
            << serve("/silent", Route{std::nullopt}) << 0 << u"Connection failed with error: "_s
            << Tracks() << u"The station hung up without answering"_s;
        const QString giveUp = u"Too many redirects and playlists (more than 10), giving up\n"_s;
        const QString loop = m_station->url(u"/loop"_s);
        m_station->setRoute("/loop", Route::redirect(302, loop.toUtf8()));
        QTest::newRow("redirect to itself")
            << loop << int(Resume) << giveUp << Tracks() << u"Too many redirects"_s;
        // A short body without audio is searched for a stream to follow.
        const QString pls = m_station->url(u"/self.pls"_s);
        m_station->setRoute(
            "/self.pls", Route::page("HTTP/1.0 200 OK", "audio/x-scpls", "File1=" + pls.toUtf8()));
        QTest::newRow("playlist of itself")
            << pls << int(Resume) << giveUp << Tracks() << u"Too many redirects"_s;
        // HLS that can not be recorded, or a playlist that is not HLS.
        const QString hls = u"application/vnd.apple.mpegurl"_s;
        QTest::newRow("an ordinary M3U named .m3u8")
            << serve("/radio.m3u8",
                     Route::page("HTTP/1.0 200 OK", hls.toLatin1(),
                                 "#EXTM3U\n#EXTINF:-1,Radio\n" + serve("/live", live).toUtf8()))
            << 0 << u"Redirecting to the first target"_s
            << Tracks{{dated + u".mp3"_s, audio(0, 300000)}} << closed;
        QTest::newRow("HLS masters in a loop")
            << serve("/loop.m3u8",
                     Route::page("HTTP/1.0 200 OK", "text/plain",
                                 "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nloop.m3u8\n"))
            << 0 << u"The station streams over HLS"_s << Tracks()
            << u"The HLS master playlists lead to one another without end"_s;
        QTest::newRow("HLS with DRM")
            << serve("/drm.m3u8", Route::page("HTTP/1.0 200 OK", hls.toLatin1(),
                                              "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-KEY:"
                                              "METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:1,\ns.ts\n"))
            << 0 << QString() << Tracks()
            << u"The station encrypts its HLS stream with SAMPLE-AES, a protection (DRM)"_s;
        Route trickle = stream(0);
        trickle.stallAfterAudio = 100;
        serve("/trickle.ts", trickle);
        QTest::newRow("an HLS segment that never ends")
            << serve("/slow.m3u8", Route::page("HTTP/1.0 200 OK", hls.toLatin1(),
                                               "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n"
                                               "trickle.ts\n#EXT-X-ENDLIST\n"))
            << 0 << u"HLS segment 0 could not be fetched: it did not arrive in time"_s << Tracks()
            << closed;
        Route endless = stream(0);
        endless.headerFields = {{"Content-Type", hls.toLatin1()}};
        endless.body = "#EXTM3U\n";
        QTest::newRow("an endless playlist")
            << serve("/endless.m3u8", endless) << 0 << QString() << Tracks()
            << u"The HLS playlist is larger than 4 MB"_s;
        QTest::newRow("no room on the disk") << serve("/full", stream(0)) << int(NoRoom)
                                             << u"MB kept free: ending recording\nRecording ended"_s
                                             << Tracks() << u"Not enough free space on the disk"_s;
        QTest::newRow("no station address")
            << u"http://"_s << 0
            << u"Invalid station URL: the address names no host\nRecording failed\n"_s << Tracks()
            << u"Can not open connection to the station"_s;
    }
    void captures()
    {
        QFETCH(QString, url);
        QFETCH(int, options);
        QFETCH(QString, log);
        QFETCH(Tracks, expected);
        QFETCH(QString, reason);
        RecordingList list;
        Recording &r = *list.append(std::make_unique<Recording>(station(url, options)));
        QSignalSpy ended(&r, &Recording::captureEnded);
        const qsizetype requestsBefore = m_station->requests().size();
        r.startCapture();
        if (options & (Stop | Quit)) {
            QTRY_VERIFY_WITH_TIMEOUT((options & Split)
                                         ? tracks().contains(u"Beta.mp3"_s)
                                         : tracks().value(dated + u".mp3"_s).size() == 300000,
                                     networkWaitMs);
            (options & Quit) ? list.stopAll() : r.stopCapture();
            QCOMPARE(r.isCapturing(), !(options & Quit));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!r.isCapturing(), networkWaitMs);
        // A station that sends us round in circles gets the first request and ten more.
        const qsizetype requests = m_station->requests().size() - requestsBefore;
        QVERIFY(requests <= 11 && (requests == 0) == ((options & NoRoom) || url == u"http://"));
        qsizetype at = 0;
        for (const QString &line : log.split(u'\n', Qt::SkipEmptyParts)) {
            at = r.logText().indexOf(line, at);
            QVERIFY2(at >= 0, qPrintable(line));
        }
        QVERIFY(!r.logText().contains(u"\n\n"_s)); // no empty line, whatever a script says
        QCOMPARE(tracks().keys(), expected.keys());
        QVERIFY(tracks() == expected);
        QVERIFY(!r.settings().days[2]); // a one-time recording gives up Wednesday
        const bool resumes = (options & Resume) && !reason.startsWith(u"Too many");
        QCOMPARE(r.nextStart(),
                 resumes ? m_now.addSecs(15) : QDateTime(QDate(2026, 12, 10), QTime(10, 0)));
        // One outcome, the one the recording keeps.
        QCOMPARE(ended.size(), 1);
        const auto told = ended.last().first().value<Outcome>();
        QCOMPARE(told.summary(), r.lastResult()->summary());
        QCOMPARE(told.tracksSaved, expected.size());
        const QString shown = told.error() ? told.errorText : told.summary();
        QVERIFY2(shown.startsWith(reason), qPrintable(shown));
        QCOMPARE(told.error(), !reason.isEmpty() && !reason.startsWith(u"Recording ended"));
        QCOMPARE(told.resumeAt, resumes ? r.nextStart() : QDateTime());
    }

    void watchdog_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<bool>("resumes");
        QTest::addColumn<Event>("event"); // before the first tick
        QTest::addColumn<QString>("log");
        const QString complete = u" at 2 minutes\nRecording complete (2 minutes)"_s;
        const QString stalled = u" at 2 minutes\nConnection stalled"_s;
        QTest::newRow("stall, 16 minutes left") << 18 << true << true << Event::None << stalled;
        QTest::newRow("stall, exactly 15 left") << 17 << true << false << Event::None << stalled;
        // The loop sees the new file, named at the time the loss was noticed, grow.
        QTest::newRow("track folder removed")
            << 2 << false << false << Event::FolderRemoved << complete;
        QTest::newRow("free space floor reached")
            << 2 << false << false << Event::FloorReached << u" at 1 minutes\nOnly "_s;
    }
    void watchdog()
    {
        QFETCH(int, duration);
        QFETCH(bool, stall);
        QFETCH(bool, resumes);
        QFETCH(Event, event);
        QFETCH(QString, log);
        Route route = stream(0);
        route.bytesPerSecond = 400000;
        route.stallAfterAudio = stall ? std::optional<qint64>(20000) : std::nullopt;
        Recording r(station(serve("/slow", route), Resume, duration));
        const QString name =
            event == Event::FolderRemoved ? u"Station Test_Dec_09_2026__10_01AM"_s : dated;
        const auto onDisk = [&] { return tracks().value(name + u".mp3"_s).size(); };
        const QDateTime start = m_now;
        r.startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(tracks().size() == 1, networkWaitMs);
        if (event == Event::FolderRemoved)
            QVERIFY(QDir(TrackWriter::folder()).removeRecursively());
        if (event == Event::FloorReached)
            r.setSettings(station(r.settings().url, Resume | NoRoom, duration));
        for (int minute = 1; r.isCapturing() && minute <= duration; ++minute) {
            const qint64 seen = onDisk();
            if (minute > 1 || event != Event::FolderRemoved)
                QTRY_VERIFY_WITH_TIMEOUT(stall ? onDisk() == 20000 : onDisk() > seen,
                                         networkWaitMs);
            m_now = start.addSecs(60 * minute);
            tickWatchdog(r);
            // A capture that ended says so from the event loop.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        }
        QVERIFY2(r.logText().contains(log), qPrintable(r.logText()));
        QCOMPARE(r.logText().contains(u"track file was removed"_s), event == Event::FolderRemoved);
        // Without icy-metadata a real station sends no titles.
        QCOMPARE(m_station->requests().last().headerLines.last(3),
                 (QList<QByteArray>{"icy-metadata: 1", "Cache-Control: no-cache",
                                    "User-Agent: iTunes/4.6 (Macintosh; N; PPC)"}));
        QCOMPARE(r.progress(), 100.0 * start.secsTo(m_now) / (60 * duration));
        QCOMPARE(r.nextStart() == m_now.addSecs(15), resumes);
        if (!resumes)
            return;
        // The resumed capture keeps counting from the first start.
        m_now = m_now.addSecs(15);
        QMetaObject::invokeMethod(r.findChild<StartTimer *>()->findChild<QTimer *>(), "timeout");
        QCOMPARE(r.progress(), 100.0 * 135 / (duration * 60));
        QVERIFY(!r.lastResult()->error()); // the stall is not the resumed capture's outcome
        m_now = start.addSecs(60 * duration);
        tickWatchdog(r);
        QVERIFY(r.logText().contains(u" at %1 minutes\n"_s.arg(duration)));
    }

    // Captures that would take the descriptors kept free are refused with the
    // reason; the others record and the list is stored. A second round takes
    // and gives back just what the first did, which also started what lasts
    // (the curl driver, the sync thread).
    void descriptorsRunShort()
    {
        constexpr int count = 12;
        RecordingList list;
        const QString url = serve("/short", stream(0, 300000));
        for (int i = 0; i < count; ++i)
            list.append(std::make_unique<Recording>(station(url, 0)));
        const auto ended = [&list, this] {
            bool running = !m_station->findChildren<QTcpSocket *>().isEmpty();
            for (int i = 0; i < count; ++i)
                running = running || !list.at(i)->findChildren<Capture *>().isEmpty();
            return !running;
        };
        std::optional<qint64> open;
        int recorded = 0;
        for (int round = 1; round <= 2; ++round) {
            {
                const auto restore = lowerLimit(RLIMIT_NOFILE, *DescriptorLimit::openCount() + 40);
                // The station's end of each connection is in this process too.
                const DescriptorLimit::Claim stationSide(count);
                for (int i = 0; i < count; ++i)
                    list.at(i)->startCapture();
                QTRY_VERIFY_WITH_TIMEOUT(ended(), networkWaitMs);
                QVERIFY(list.store());
            }
            int refused = 0;
            for (int i = 0; i < count; ++i) {
                const Outcome &outcome = *list.at(i)->lastResult();
                const bool failed = outcome.errorText.contains(
                    u"kept free for storing the list and finishing the tracks"_s);
                refused += failed;
                QCOMPARE(outcome.tracksSaved, failed ? 0 : 1);
            }
            QVERIFY(refused > 0 && refused < count);
            recorded += count - refused;
            QCOMPARE(tracks().size(), recorded);
            if (open)
                QTRY_COMPARE(DescriptorLimit::openCount(), open);
            open = DescriptorLimit::openCount();
        }
    }

    // Made names are checked by the track rows.
    void naming_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("refused and control characters")
            << u"clean"_s << u"A/B\\C:D'E\"F~G\tКино\x01\n"_s << u"A_B_C_D_E_FGКино"_s;
        QTest::newRow("nothing left") << u"clean"_s << u"~\x02"_s << u"Untitled"_s;
        QTest::newRow("leading dots, what FAT refuses")
            << u"clean"_s << u"..~.Why? <a*b> | c.d."_s << u"Why_ _a_b_ _ c.d."_s;
        QTest::newRow("fit, pair never split") << u"fit"_s << u"ab"_s + clef.repeated(60) + u'x'
                                               << u"ab"_s + clef.repeated(60) + u".mp3"_s;
        QTest::newRow("safe empty") << u"safe"_s << QString() << u"_"_s;
        QTest::newRow("safe dot dot") << u"safe"_s << u".."_s << u"__"_s;
        QTest::newRow("safe slash, NUL, tab") << u"safe"_s << u"a/b\0c\td\\e"_s << u"a_b_c_d\\e"_s;
        QTest::newRow("safe to 240") << u"safe"_s << clef.repeated(60) + u'x' << clef.repeated(60);
    }
    void naming()
    {
        QFETCH(QString, rule);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(rule == u"clean" ? TrackName::cleanStreamTitle(input)
                 : rule == u"fit" ? TrackName::fitFileName(input, u".mp3"_s, 246)
                                  : TrackName::fileNameSafe(input),
                 expected);
    }

    void closesTracks_data()
    {
        QTest::addColumn<QString>("streamTitle"); // empty: made up from `base` and the time
        QTest::addColumn<qint64>("written");
        QTest::addColumn<qint64>("playingMs"); // -1: unknown, timed at 128 kbit/s
        // 0 complete, 1 incomplete, 2 incomplete and kept, 3 removed while written
        QTest::addColumn<int>("end");
        // A file there beforehand that must stay as it is; "/": the track folder
        // is a plain file, so that open fails even for root.
        QTest::addColumn<QString>("existing");
        QTest::addColumn<QString>("file"); // the track left, "" none
        QTest::addColumn<qint64>("onDisk");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("log"); // then why a track was lost, as the outcome says
        const QString song = u"Writing data to Song.mp3\n"_s;
        const QString song2 = u"Writing data to Song (2).mp3\n"_s;
        QTest::newRow("256 KiB of an unknown codec stays")
            << u"Song"_s << 262144LL << -1LL << 0 << QString() << u"Song.mp3"_s << 262144LL
            << u"Song"_s << song + u"File size is 262144 bytes\n"_s;
        // A long made name loses the end of its base, never the date or counter.
        const QString date = u"_Mar_01_2026__12_05PM"_s;
        const QString made = u"_Desk %d "_s + QString(208, u'y') + date + u" (2).mp3"_s;
        QTest::newRow("made title, name taken, 16 s of a low bitrate stay")
            << QString() << 40000LL << 16000LL << 0
            << u"_Desk %d "_s + QString(212, u'y') + date + u".mp3"_s << made << 40000LL
            << base + u" - Mar 01, 2026 12:05PM"_s
            << u"Writing data to "_s + made + u"\nFile size is 40000 bytes\n"_s;
        QTest::newRow("incomplete deleted, the earlier track stays")
            << u"Song"_s << 300000LL << -1LL << 1 << u"Song.mp3"_s << QString() << 0LL << u"Song"_s
            << song2 + u"Deleting the last (incomplete) shoutcast song\n"
                       u"the last song was cut short and deleted as incomplete"_s;
        // The name is cut so that "Start of " still fits in 255 bytes.
        const QString xs(235, u'x'), cut = u"AC_DC_ "_s + xs + u".mp3"_s;
        QTest::newRow("incomplete kept, cleaned long name, renamed beside a taken one")
            << u"AC/DC: "_s + xs + u"xx"_s << 300000LL << -1LL << 2 << u"Start of "_s + cut
            << u"Start of AC_DC_ "_s + xs.left(231) + u" (2).mp3"_s << 300000LL
            << u"Start of AC/DC: "_s + xs + u"xx"_s
            << u"Writing data to "_s + cut + u"\nFile size is 300000 bytes\n"_s;
        QTest::newRow("incomplete kept, 300 KB of 15.9 s is tiny")
            << u"Song"_s << 300000LL << 15999LL << 2 << QString() << QString() << 0LL
            << u"Start of Song"_s
            << song + u"Track is tiny (15 s of audio, 300000 bytes), deleting song\n"
                      u"the track was too short to keep (under 16 s)"_s;
        // Removed with its folder, then a file of the user's made in its place.
        QTest::newRow("replaced while written")
            << u"Song"_s << 300000LL << -1LL << 3 << QString() << QString() << 0LL << u"Song"_s
            << song + u"File access error: "_s + TrackWriter::folder() +
                   u"/Song.mp3 was removed while it was written\n"
                   u"the track file was deleted during the recording"_s;
        QTest::newRow("open fails")
            << u"Song"_s << 300000LL << -1LL << 0 << u"/"_s << QString() << 0LL << u"Song"_s
            << u"FileOpenFailed "_s + TrackWriter::folder() + u"/Song.mp3: Not a directory"_s;
    }
    void closesTracks()
    {
        QFETCH(QString, streamTitle);
        QFETCH(qint64, written);
        QFETCH(qint64, playingMs);
        QFETCH(int, end);
        QFETCH(QString, existing);
        QFETCH(QString, file);
        QFETCH(qint64, onDisk);
        QFETCH(QString, title);
        QFETCH(QString, log);
        const QString folder = TrackWriter::folder() + u'/';
        const bool blocked = existing == u"/";
        QVERIFY(QDir().mkpath(blocked ? QFileInfo(TrackWriter::folder()).path() : folder));
        QFile old(blocked ? TrackWriter::folder() : folder + existing);
        if (!existing.isEmpty())
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QString lines;
        TrackWriter writer([&lines](const QString &line) { lines += line; });
        try {
            writer.open(streamTitle, base, noon, u".mp3"_s);
        } catch (const NamedFailure &failure) {
            lines += failure.name() + u' ' + failure.reason();
        }
        const QByteArray data = StationSimulator::audioBytes(0, written);
        writer.write(QByteArrayView(data).first(1000));
        writer.write(QByteArrayView(data).sliced(1000));
        if (end == 3) // then a file of the user's in its place
            QVERIFY(QDir(folder).removeRecursively() && writer.wasRemoved() &&
                    !writeFile(folder + u"Song.mp3"_s, "old").isEmpty());
        const auto track = writer.close(end == 1 || end == 2, end == 2,
                                        playingMs < 0 ? std::nullopt : std::optional(playingMs));
        // Closed: nothing more is written, kept or logged.
        writer.write("x");
        QVERIFY(!writer.close(true, true));
        QCOMPARE(lines + writer.lossReason(), log);
        QCOMPARE(writer.title(), title);
        // The named tracks, and the user's file that replaced one.
        QStringList left =
            QStringList{existing, file, end == 3 ? u"Song.mp3"_s : u""_s}.filter(u".mp3"_s);
        left.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System), left);
        if (!existing.isEmpty())
            QCOMPARE(QFileInfo(old).size(), 3);
        QCOMPARE(track.has_value(), !file.isEmpty());
        if (!track)
            return;
        QCOMPARE(track->path, folder + file);
        QCOMPARE(track->madeTitle, streamTitle.isEmpty());
        QCOMPARE(track->size, written);
        QFile kept(track->path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), data.left(onDisk));
    }

    // Station "Radio/1", 12:05 on 2026-03-01, the seventh track; "-" nothing usable.
    void trackPatterns_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("streamTitle");
        QTest::addColumn<QString>("stem");
        const auto row = [](const char *name, const QString &pattern, const QString &title,
                            const QString &stem) {
            QTest::newRow(name) << pattern << title << stem;
        };
        row("folders", u"{station}/{artist}/{title}"_s, u"AC/DC - T.N.T."_s,
            u"Radio_1/AC_DC/T.N.T."_s);
        row("first separator, mark on the title", u"{artist} - {title}"_s,
            u"End of Björk  -  Jóga - Live"_s, u"Björk - End of Jóga - Live"_s);
        row("date, time, counter", u"{Date} {TIME} #{counter}"_s, u"x"_s,
            u"2026-03-01 12-05 #07"_s);
        row("unknown and open braces", u"{{title}} {x} {title"_s, u"S"_s, u"{S} {x} {title"_s);
        row("hostile fields", u"{title}/{artist}"_s, u"/ - ../../etc/passwd"_s,
            u"_.._etc_passwd/_"_s);
        row("absolute, dots, empty parts", u"/../{artist}/./ . /{title}"_s, u"Song"_s, u"Song"_s);
        row("dot bared by cleaning", u"{title}"_s, u" ~ .hidden"_s, u"hidden"_s);
        row("empty pattern", QString(), u"Song"_s, u"-"_s);
        row("only empty fields", u"{artist}/{album}"_s, u"Song"_s, u"-"_s);
        row("255 bytes a part", u"{title}/x"_s, clef.repeated(70), clef.repeated(63) + u"/x"_s);
        row("eight folders", u"1/2/3/4/5/6/7/8/9/{title}"_s, u"S"_s, u"1/2/3/4/5/6/7/8/S"_s);
    }
    void trackPatterns()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, streamTitle);
        QFETCH(QString, stem);
        TrackPattern::Fields fields = TrackPattern::Fields::fromStreamTitle(streamTitle);
        fields.station = u"Radio/1"_s;
        fields.time = noon;
        fields.counter = 7;
        QCOMPARE(TrackPattern::relativeStem(pattern, fields).value_or(u"-"_s), stem);
    }

    void nonSongTitles_data()
    {
        QTest::addColumn<QByteArray>("file"); // "" none
        QTest::addColumn<QString>("titles");
        QTest::addColumn<QString>("matched"); // a digit a title
        QTest::addColumn<QString>("problem"); // how it starts
        QTest::newRow("defaults written")
            << QByteArray()
            << u"| - |Radio X - ADVERT|AC/DC - Jingle|PUBLICITÉ 2|Jingle Bells|"
               u"The Adverts - One Chord Wonders|Advertising Space"_s
            << u"11111000"_s << QString();
        QTest::newRow("the user's lines")
            << QByteArray("# advert\n\n  *news*  \r\nfoo[\n")
            << u" Evening NEWS |advert|# advert|"_s << u"1001"_s
            << NonSongTitles::path() + u", line 4: “foo[” is not a pattern"_s;
    }
    void nonSongTitles()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, titles);
        QFETCH(QString, matched);
        QFETCH(QString, problem);
        const QString path = NonSongTitles::path();
        QVERIFY(QDir(QFileInfo(path).path()).removeRecursively());
        if (!file.isEmpty())
            writeFile(path, file);
        QString told;
        const NonSongTitles nonSongs = NonSongTitles::load(&told);
        QString found;
        for (const QString &title : titles.split(u'|'))
            found += nonSongs.matches(title) ? u'1' : u'0';
        QCOMPARE(found, matched);
        QVERIFY2(told.startsWith(problem) && told.isEmpty() == problem.isEmpty(), qPrintable(told));
        if (file.isEmpty())
            QVERIFY(fileContents(path).startsWith("# ") && fileContents(path).contains("\n-\n"));
    }

    // Chained Ogg streams from ffmpeg, split where each logical stream begins.
    void oggSplits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("calls"); // streams begun and garbage skipped
        QTest::addColumn<QList<int>>("ms"); // each part's playing time; 0: it cannot play alone
        using AudioFixtures::Codec;
        const QByteArray vorbis = AudioFixtures::programme(
            Codec::Vorbis, {{2, u"Artist"_s, u"Süd"_s}, {1.5, {}, u"Title Alone"_s}}, 0.5);
        const QByteArray opus =
            AudioFixtures::programme(Codec::Opus, {{1.5, u"Artist Alone"_s, {}}, {1, {}, {}}}, 0.5);
        const QString titled = u"Ogg Vorbis: Artist - Süd|Ogg Vorbis: Title Alone"_s;
        QTest::newRow("Vorbis") << vorbis << titled << QList<int>{2000, 2000};
        QTest::newRow("Opus") << opus << u"Ogg Opus: Artist Alone|Ogg Opus: "_s
                              << QList<int>{1500, 1500};
        // A corrupted copy of the next stream's first page would begin a stream of its own.
        const qsizetype next = vorbis.indexOf(QByteArrayView("OggS\0\2", 6), 1);
        QByteArray copy = vorbis.sliced(next, vorbis.indexOf("OggS", next + 1) - next);
        copy[copy.size() - 1] = copy.back() ^ 1;
        QTest::newRow("garbage, corrupted page")
            << "junkOg" + vorbis.first(next) + copy + "Og" + vorbis.sliced(next)
            << u"skipped 6|"_s +
                   QString(titled).replace(u'|', u"|skipped %1|"_s.arg(2 + copy.size()))
            << QList<int>{2000, 2000};
        QTest::newRow("ends before its comment")
            << vorbis.first(vorbis.indexOf("OggS", next + 1))
            << u"Ogg Vorbis: Artist - Süd|Ogg Vorbis: "_s << QList<int>{2000, 0};
        const qsizetype audio = vorbis.indexOf("OggS", vorbis.indexOf("OggS", 1) + 1);
        QTest::newRow("joined without headers")
            << vorbis.sliced(audio) << u"Ogg: |Ogg Vorbis: Title Alone"_s << QList<int>{0, 2000};
    }
    void oggSplits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, calls);
        QFETCH(QList<int>, ms);
        struct Parts final : OggSplitter::Receiver
        {
            OggSplitter splitter{*this};
            QStringList calls;
            QList<QByteArray> parts;
            QList<qint64> playing; // each part's, as it ends
            void oggStreamBegins(const QString &title, const QString &codec) override
            {
                if (!parts.isEmpty())
                    playing.append(splitter.playingMs());
                calls.append(codec + u": "_s + title);
                parts.append(QByteArray());
            }
            void oggPages(QByteArrayView pages) override { parts.last() += pages; }
            void oggResynced(qint64 skipped) override
            {
                calls.append(u"skipped %1"_s.arg(skipped));
            }
        };
        // Whole, then in random chunks: single bytes, then up to 5000 bytes.
        QList<QByteArray> whole;
        for (const int largest : {0, 1, 5000}) {
            Parts split;
            QRandomGenerator random(largest);
            for (qsizetype at = 0, size = 0; at < bytes.size(); at += size) {
                size = std::min(bytes.size() - at,
                                largest ? 1 + qsizetype(random.bounded(largest)) : bytes.size());
                split.splitter.feed(QByteArrayView(bytes).sliced(at, size));
            }
            split.splitter.finish();
            split.playing.append(split.splitter.playingMs());
            QCOMPARE(split.calls.join(u'|'), calls);
            if (largest == 0)
                whole = split.parts;
            QVERIFY(split.parts == whole);
            QCOMPARE(whole.size(), ms.size());
            for (qsizetype i = 0; i < ms.size(); ++i) {
                QCOMPARE_LE(qAbs(split.playing[i] - ms[i]), 10);
                if (largest == 0) // each part plays on its own; decodedMs() is -1 when it cannot
                    QCOMPARE_LE(qAbs(AudioFixtures::decodedMs(whole[i]) - ms[i]), 10);
            }
        }
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
