#include <limits>

#include <QDirIterator>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "capture/capture.h"
#include "capture/playlisttarget.h"
#include "capture/stationheaders.h"
#include "capture/stationprobe.h"
#include "capture/streamformat.h"
#include "capture/trackwriter.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/descriptorlimit.h"
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
enum class Event { None, FolderRemoved, FloorReached };
const QString dated = u"Station Test_Dec_09_2026__10_00AM"_s;
constexpr auto audio = &StationSimulator::audioBytes;

Tracks tracks()
{
    Tracks found;
    for (QDirIterator it(TrackWriter::folder(), QDir::Files | QDir::Hidden); it.hasNext();) {
        QFile file(it.next());
        found.insert(it.fileName(), file.open(QIODevice::ReadOnly) ? file.readAll() : "<unread>");
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

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private:
    StationSimulator *m_station = nullptr;
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
        return settings;
    }

private Q_SLOTS:
    void initTestCase()
    {
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
            // The end of a file with a made title cuts its last interval.
            << Tracks{{dated + u".mp3"_s, audio(0, 300000 - 8192)}} << closed;
        const QList<QByteArray> titles = {"Alpha", "Beta", "Gamma", "Delta"};
        // A song's last interval belongs to the block boundary of the next.
        const Tracks partial = {{u"Beta.mp3"_s, audio(304000, 288000)},
                                {u"Gamma.mp3"_s, audio(608000, 288000)},
                                {u"End of Alpha.mp3"_s, audio(16000, 272000)}};
        // The last song was cut by the end: renamed, then too small to keep.
        QTest::newRow("songs, partial kept")
            << serve("/fine", stream(16000, 1000000, 1500, titles)) << (Split | Partial)
            << u"Data size is tiny (88000 bytes), deleting song\n"_s << partial << closed;
        // A refusal during the capture ends it, and the track stays.
        Route refused = stream(16000, {}, 0, titles.first(3));
        refused.bytesPerSecond = 400000; // Beta is handed over while Gamma is under way
        const QString library = u"File access error: Error adding the track to the music library"_s;
        QTest::newRow("hand-off refused")
            << serve("/refused", refused) << (Split | HandOff) << u"refused\n"_s + library
            << Tracks{{u"Beta.mp3"_s, audio(304000, 288000)}} << library;
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
            << Tracks{{dated + u".ogg"_s, audio(0, 35 * 8192)}} << lost;
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
};

SKYVANE_TEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
