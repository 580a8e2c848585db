#include <algorithm>
#include <csignal>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDirIterator>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include "capture/capture.h"
#include "capture/trackwriter.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "platform/clock.h"
#include "platform/descriptorlimit.h"
#include "stationsimulator.h"
#include "testmain.h"

using namespace Qt::StringLiterals;
using Route = StationSimulator::Route;
using Tracks = QMap<QString, QByteArray>; // file name -> content

namespace {

constexpr int networkWaitMs = 15000;
constexpr rlim_t fullDisk = 320000; // bytes a file; only the endless stream reaches it
enum Option { Split = 1, KeepPartial = 2, Reconnect = 4, Twice = 8, NoRoom = 16, HandOff = 32 };
enum class Event { None, FolderRemoved, FloorReached };
const QString dated = u"Station Test_Dec_09_2026__10_00AM"_s;
// The sanitizer build (address and undefined together) checks C++ types with
// the help of a pipe, which a full descriptor table refuses: it would report
// every such check as a fault.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

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

// Lowers the soft limit on open files to `room` more than are open now, until
// the guard goes.
auto lowerFileLimit(qint64 room)
{
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit lowered{rlim_t(*DescriptorLimit::openCount() + room), saved.rlim_max};
    setrlimit(RLIMIT_NOFILE, &lowered);
    return qScopeGuard([saved] { setrlimit(RLIMIT_NOFILE, &saved); });
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
        settings.keepPartial = options & KeepPartial;
        settings.reconnect = options & Reconnect;
        settings.duration = duration;
        settings.once = true;
        settings.days.fill(true);
        if (options & NoRoom)
            settings.minFreeMB = std::numeric_limits<qint32>::max();
        return settings;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_station = new StationSimulator(this);
        QVERIFY(m_station->start());
        // The whole run writes to a full disk, so a failed write needs no setup of its own.
        const rlimit full{fullDisk, fullDisk};
        std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
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

    void captures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("options");
        QTest::addColumn<QString>("log"); // lines that must come in this order
        QTest::addColumn<Tracks>("expected");
        // "<tracks saved>|<why it failed>", the start of what every surface shows
        QTest::addColumn<QString>("outcome");
        Route live = stream(8192, 300000, 5000, {"Artist - First"});
        live.headerFields.append(qMakePair(QByteArray("icy-genre"), QByteArray("Jazz")));
        QTest::newRow("made title, closed by the station")
            << serve("/live", live) << 0
            << u"interval is 8192\nShoutcast genre is Jazz\nGot shoutcast data: "
               u"StreamTitle='Artist - First';\nConnection closed by the station\nRecording ended"_s
            // The end of a file with a made title cuts its last interval.
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, 300000 - 8192)}}
            << u"1|Connection closed by the station"_s;
        const QList<QByteArray> titles = {"Alpha", "Beta", "Gamma", "Delta"};
        // A song's last interval belongs to the block boundary of the next.
        const Tracks songs = {{u"Beta.mp3"_s, StationSimulator::audioBytes(304000, 288000)},
                              {u"Gamma.mp3"_s, StationSimulator::audioBytes(608000, 288000)}};
        QTest::newRow("songs, partial dropped")
            << serve("/songs", stream(16000, 1000000, 0, titles)) << int(Split)
            << u"Deleting the last (incomplete) shoutcast song\n"_s << songs
            << u"2|Connection closed by the station"_s;
        Tracks partial = songs;
        partial.insert(u"End of Alpha.mp3"_s, StationSimulator::audioBytes(16000, 272000));
        // The last song was cut by the end: renamed, then too small to keep.
        QTest::newRow("songs, partial kept")
            << serve("/fine", stream(16000, 1000000, 1500, titles)) << (Split | KeepPartial)
            << u"Data size is tiny (88000 bytes), deleting song\n"_s << partial
            << u"3|Connection closed by the station"_s;
        // A short body without audio is searched for a stream to follow.
        const QByteArray target = serve("/stream", stream(0, 300000)).toUtf8();
        QTest::newRow("error page with a link followed")
            << serve("/moved", Route::page("HTTP/1.0 404 Not Found", "text/html", "See " + target))
            << 0 << u"Redirecting to the first target\nConnecting to "_s + QString::fromUtf8(target)
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, 300000)}}
            << u"1|Connection closed by the station"_s;
        // Each track is handed over once it is on the disk; a refusal during the
        // capture ends it, and the track stays.
        QTest::newRow("handed over")
            << serve("/kept", stream(0, 300000)) << int(HandOff)
            << u"File size is 300000 bytes\nAdded track to playlist Kept\nRecording ended"_s
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, 300000)}}
            << u"1|Connection closed by the station"_s;
        Route refused = stream(16000, {}, 0, titles.first(3));
        refused.bytesPerSecond = 400000; // Beta is handed over while Gamma is under way
        QTest::newRow("hand-off refused")
            << serve("/refused", refused) << (Split | HandOff)
            << u"refused\nFile access error: Error adding the track to the music library\n"_s
            << Tracks{{u"Beta.mp3"_s, StationSimulator::audioBytes(304000, 288000)}}
            << u"1|File access error: Error adding the track to the music library"_s;
        QTest::newRow("long body is audio")
            << serve("/long", Route::page("HTTP/1.0 200 OK", "audio/x-scpls",
                                          target.leftJustified(5000, ' ')))
            << 0 << u"Data size is tiny (5000 bytes)"_s << Tracks()
            << u"0|Connection closed by the station"_s;
        // Without icy-metaint in the answer, the head inside the body is found by sniffing.
        const QByteArray head =
            "ICY 200 OK\r\ncontent-type: application/ogg\r\nicy-metaint:8192\r\n\r\n";
        Route sniffed =
            Route::page("HTTP/1.0 200 OK", "audio/mpeg",
                        head + StationSimulator::wireBody(stream(8192, {}, 0, {"S"}), 36 * 8192) +
                            '\x01' + QByteArray(8192, 'x'));
        sniffed.maxChunk = 900;
        QTest::newRow("lost sync, resumed")
            << serve("/sniff", sniffed) << int(Reconnect)
            << QString::fromLatin1(head) + u"Detected ogg from icecast data\nFile access error: "
                                           u"Lost sync with shoutcast data, disconnecting\n"_s
            << Tracks{{dated + u".ogg"_s, StationSimulator::audioBytes(0, 35 * 8192)}}
            << u"1|File access error: Lost sync with shoutcast data, disconnecting"_s;
        QTest::newRow("failed write keeps the track")
            << serve("/endless", stream(0)) << 0 << u"File access error: Could not write to "_s
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, fullDisk)}}
            << u"1|File access error: Could not write to "_s;
        // Hostile stations: an interval that is no number means no metadata; a
        // header that never ends is refused before it fills the memory.
        Route oddInterval = stream(0, 300000);
        oddInterval.headerFields.append(qMakePair(QByteArray("icy-metaint"), QByteArray("-abc")));
        QTest::newRow("interval not a number")
            << serve("/odd", oddInterval) << 0 << u"Recording ended"_s
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, 300000)}}
            << u"1|Connection closed by the station"_s;
        Route endless = stream(0, 300000);
        endless.headerFields.append(qMakePair(QByteArray("x-filler"), QByteArray(300000, 'a')));
        QTest::newRow("endless header")
            << serve("/endless-head", endless) << 0 << u"Connection failed with error: "_s
            << Tracks() << u"0|Connection failed: "_s;
        // The station hangs up without a word.
        QTest::newRow("no answer")
            << serve("/silent", Route{std::nullopt}) << 0 << u"Connection failed with error: "_s
            << Tracks() << u"0|Connection failed: "_s;
        // Two captures in one minute, as two recordings of one station would.
        QTest::newRow("same name twice")
            << serve("/twice", stream(0, 300000)) << int(Twice) << QString()
            << Tracks{{dated + u".mp3"_s, StationSimulator::audioBytes(0, 300000)},
                      {dated + u" (2).mp3"_s, StationSimulator::audioBytes(0, 300000)}}
            << u"1|Connection closed by the station"_s;
        const QString giveUp = u"Too many redirects and playlists (more than 10), giving up\n"_s;
        const QString loop = m_station->url(u"/loop"_s);
        m_station->setRoute("/loop", Route::redirect(302, loop.toUtf8()));
        QTest::newRow("redirect to itself") << loop << int(Reconnect) << giveUp << Tracks()
                                            << u"0|Too many redirects and playlists"_s;
        const QString pls = m_station->url(u"/self.pls"_s);
        m_station->setRoute(
            "/self.pls", Route::page("HTTP/1.0 200 OK", "audio/x-scpls", "File1=" + pls.toUtf8()));
        QTest::newRow("playlist of itself") << pls << int(Reconnect) << giveUp << Tracks()
                                            << u"0|Too many redirects and playlists"_s;
        QTest::newRow("no room on the disk")
            << serve("/full", stream(0)) << int(NoRoom)
            << u"MB kept free: ending recording\nRecording ended"_s << Tracks()
            << u"0|Not enough free space on the disk"_s;
        QTest::newRow("no station address")
            << u"http://"_s << 0
            << u"Invalid station URL: the address names no host\nCan not open connection to the "
               u"station. Recording failed\n"_s
            << Tracks() << u"0|Can not open connection to the station"_s;
    }
    void captures()
    {
        QFETCH(QString, url);
        QFETCH(int, options);
        QFETCH(QString, log);
        QFETCH(Tracks, expected);
        QFETCH(QString, outcome);
        Recording r(station(url, options));
        QSignalSpy ended(&r, &Recording::captureEnded);
        const qsizetype requestsBefore = m_station->requests().size();
        for (int run = 0; run < (options & Twice ? 2 : 1); ++run) {
            r.startCapture();
            QTRY_VERIFY_WITH_TIMEOUT(!r.isCapturing(), networkWaitMs);
        }
        // A station that sends us round in circles gets the first request and ten more.
        const qsizetype requests = m_station->requests().size() - requestsBefore;
        QVERIFY(requests <= (options & Twice ? 2 : 11) &&
                (options & NoRoom ? requests == 0 : true));
        qsizetype at = 0;
        for (const QString &line : log.split(u'\n', Qt::SkipEmptyParts)) {
            at = r.logText().indexOf(line, at);
            QVERIFY2(at >= 0, qPrintable(line));
        }
        QCOMPARE(tracks().keys(), expected.keys());
        QVERIFY(tracks() == expected);
        QVERIFY(!r.settings().days[2]); // a one-time recording gives up Wednesday
        const bool resumes = (options & Reconnect) && !r.logText().contains(u"Too many"_s);
        QCOMPARE(r.nextStart(),
                 resumes ? m_now.addSecs(15) : QDateTime(QDate(2026, 12, 10), QTime(10, 0)));
        // One outcome for each capture, the one the recording keeps.
        QCOMPARE(ended.size(), options & Twice ? 2 : 1);
        const auto told = ended.last().first().value<Outcome>();
        QCOMPARE(told.summary(), r.lastResult()->summary());
        const QString shown = QString::number(told.tracksSaved) + u'|' + told.errorText;
        QVERIFY2(shown.startsWith(outcome), qPrintable(shown));
        QCOMPARE(told.resumeAt, resumes ? r.nextStart() : QDateTime());
    }

    void watchdog_data()
    {
        QTest::addColumn<int>("duration");
        QTest::addColumn<bool>("stall");
        QTest::addColumn<bool>("resumes");
        QTest::addColumn<Event>("event"); // before the first tick
        QTest::newRow("planned end") << 2 << false << false << Event::None;
        QTest::newRow("stall, 16 minutes left") << 18 << true << true << Event::None;
        QTest::newRow("stall, exactly 15 left") << 17 << true << false << Event::None;
        QTest::newRow("track folder removed") << 2 << false << false << Event::FolderRemoved;
        QTest::newRow("free space floor reached") << 2 << false << false << Event::FloorReached;
    }
    void watchdog()
    {
        QFETCH(int, duration);
        QFETCH(bool, stall);
        QFETCH(bool, resumes);
        QFETCH(Event, event);
        Route route = stream(0);
        route.bytesPerSecond = 400000;
        route.stallAfterAudio = stall ? std::optional<qint64>(20000) : std::nullopt;
        Recording r(station(serve("/slow", route), Reconnect, duration));
        const QString name =
            event == Event::FolderRemoved ? u"Station Test_Dec_09_2026__10_01AM"_s : dated;
        const auto onDisk = [&] { return tracks().value(name + u".mp3"_s).size(); };
        const QDateTime start = m_now;
        r.startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(tracks().size() == 1, networkWaitMs);
        if (event == Event::FolderRemoved)
            QVERIFY(QDir(TrackWriter::folder()).removeRecursively());
        if (event == Event::FloorReached) {
            RecordingSettings full = r.settings();
            full.minFreeMB = std::numeric_limits<qint32>::max();
            r.setSettings(full);
        }
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
        if (event == Event::FloorReached) {
            QVERIFY(r.logText().contains(u" at 1 minutes\nOnly "_s));
            return;
        }
        // The loop saw the new file, named at the time the loss was noticed, grow.
        QCOMPARE(r.logText().contains(u"File access error: the track file was removed"_s),
                 event == Event::FolderRemoved);
        QCOMPARE(m_station->requests().last().headerLines.last(3),
                 (QList<QByteArray>{"icy-metadata: 1", "Cache-Control: no-cache",
                                    "User-Agent: iTunes/4.6 (Macintosh; N; PPC)"}));
        const QString ending =
            stall ? u"Connection stalled"_s : u"Recording complete (2 minutes)"_s;
        QVERIFY(r.logText().contains(u" at 2 minutes\n"_s + ending));
        QCOMPARE(r.progress(), 100.0 * 2 / duration);
        QCOMPARE(r.nextStart() == m_now.addSecs(15), resumes);
        if (!resumes)
            return;
        // The resumed capture keeps counting from the first start.
        m_now = m_now.addSecs(15);
        QMetaObject::invokeMethod(r.findChild<StartTimer *>()->findChild<QTimer *>(), "timeout");
        QCOMPARE(r.progress(), 100.0 * 135 / (duration * 60));
        m_now = start.addSecs(60 * duration);
        tickWatchdog(r);
        QVERIFY(r.logText().contains(u" at %1 minutes\n"_s.arg(duration)));
    }

    // Stop waits for the last track to reach the disk, never for a script: the
    // capture ends once its hand-off comes back. Quitting waits for it.
    void stopLeavesTheHandoffToTheLoop_data()
    {
        QTest::addColumn<bool>("quitting");
        QTest::newRow("stop") << false;
        QTest::newRow("quit") << true;
    }
    void stopLeavesTheHandoffToTheLoop()
    {
        QFETCH(bool, quitting);
        Route route = stream(0);
        route.stallAfterAudio = 300000; // more than a fragment, less than the disk holds
        RecordingList list;
        Recording *r =
            list.append(std::make_unique<Recording>(station(serve("/held", route), HandOff, 60)));
        r->startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(tracks().value(dated + u".mp3"_s).size() == 300000, networkWaitMs);
        quitting ? list.stopAll() : r->stopCapture();
        QCOMPARE(r->isCapturing(), !quitting);
        QTRY_VERIFY(!r->isCapturing());
        QVERIFY(r->logText().contains(u"Added track to playlist Kept\nRecording ended"_s));
    }

    // Captures that would take the descriptors kept free are refused with the
    // reason; the others record and the list is stored. A second round takes
    // and gives back just what the first did, which also started what lasts
    // (the curl driver, the sync thread).
    void descriptorsRunShort()
    {
        constexpr int count = 12;
        RecordingList list;
        std::vector<Recording *> rows;
        const QString url = serve("/short", stream(0, 300000));
        for (int i = 0; i < count; ++i) {
            RecordingSettings settings = station(url, 0);
            settings.name = u"Station %1"_s.arg(i);
            rows.push_back(list.append(std::make_unique<Recording>(settings)));
        }
        const auto ended = [&rows, this] {
            return m_station->findChildren<QTcpSocket *>().isEmpty() &&
                   std::all_of(rows.begin(), rows.end(), [](const Recording *r) {
                       return r->findChildren<Capture *>().isEmpty();
                   });
        };
        std::optional<qint64> open;
        int recorded = 0;
        for (int round = 1; round <= 2; ++round) {
            {
                const auto restore = lowerFileLimit(40);
                // The station's end of each connection is in this process too.
                const DescriptorLimit::Claim stationSide(count);
                for (Recording *r : rows)
                    r->startCapture();
                QTRY_VERIFY_WITH_TIMEOUT(ended(), networkWaitMs);
                QVERIFY(list.store());
            }
            int refused = 0;
            for (const Recording *r : rows) {
                const bool failed =
                    r->lastResult()->errorText.startsWith(u"Too many open files: "_s);
                refused += failed;
                QVERIFY(r->logText().contains(
                    failed ? u"kept free for storing the list and finishing the tracks. "
                             u"Recording failed\n"_s
                           : u"File size is 300000 bytes\n"_s));
            }
            QVERIFY(refused > 0 && refused < count);
            recorded += count - refused;
            QCOMPARE(tracks().size(), recorded);
            if (open)
                QTRY_COMPARE(DescriptorLimit::openCount(), open);
            open = DescriptorLimit::openCount();
        }
    }

    // With no descriptor left at all, a track change finds running the thread
    // it needs: what cannot get a descriptor fails with the reason, and the
    // list, stored then, fails with it, told, and is stored once they are back.
    void descriptorsRunOut()
    {
        if (sanitized)
            QSKIP("a full descriptor table stops the sanitizer's own checks");
        Route route = stream(16000, {}, 0, {"Alpha", "Beta", "Gamma", "Delta"});
        route.bytesPerSecond = 400000;
        RecordingList list;
        QSignalSpy problems(&list, &RecordingList::problem);
        Recording *r =
            list.append(std::make_unique<Recording>(station(serve("/out", route), Split, 60)));
        r->startCapture();
        QTRY_VERIFY_WITH_TIMEOUT(tracks().contains(u"Beta.mp3"_s), networkWaitMs);
        {
            const auto restore = lowerFileLimit(64);
            std::vector<int> taken;
            const auto giveBack = qScopeGuard([&taken] {
                for (const int fd : taken)
                    ::close(fd);
            });
            for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
                taken.push_back(fd);
            QVERIFY(!list.store());
            QCOMPARE(problems.size(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(r->logText().contains(u"Too many open files"_s),
                                     networkWaitMs);
        }
        r->stopCapture();
        QTRY_VERIFY(!r->isCapturing());
        QVERIFY(r->logText().contains(u"Recording ended"_s));
        QVERIFY(list.store());
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestCapture)
#include "tst_capture.moc"
