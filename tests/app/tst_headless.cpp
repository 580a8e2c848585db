#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include "stationsimulator.h"
#include "testmain.h"

namespace {

QString listPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Skyvane.reclist");
}

bool writeList(const QByteArray &json)
{
    QFile list(listPath());
    return QDir().mkpath(QFileInfo(list).path()) && list.open(QIODevice::WriteOnly) &&
           list.write(json) == json.size();
}

// A list whose first recording is due now, from this station's /live; the
// second one is disabled.
bool writeDueList(StationSimulator &station)
{
    // The first title comes past the size under which a track is deleted as tiny.
    StationSimulator::Route route = StationSimulator::Route::stream("ICY 200 OK", 300000);
    // A title that would steer the terminal, and break the line, if printed raw.
    route.titles = {"Band \x1b]0;x\x07- Song\r\xc2\x85\xc2\x80"};
    route.bytesPerSecond = 1000000;
    station.setRoute("/live", route);
    // Out of a minute's last seconds, so the start is still due when the list is read.
    while (QTime::currentTime().second() >= 55)
        QTest::qWait(500);
    return station.start() &&
           writeList(QStringLiteral("[{\"name\": \"Due Now\", \"url\": \"%1\", \"daily\": true, "
                                    "\"playList\": \"\", \"startTime\": %2}, {\"name\": \"Idle\"}]")
                         .arg(station.url(u"/live"))
                         .arg(QTime::currentTime().msecsSinceStartOfDay() / 60000)
                         .toUtf8());
}

// A window opens offscreen; the program without a window ignores it.
void start(QProcess &skyvane, const QStringList &arguments)
{
    skyvane.setEnvironment(QProcess::systemEnvironment()
                           << QStringLiteral("QT_QPA_PLATFORM=offscreen"));
    skyvane.start(QStringLiteral(SKYVANE_BINARY), arguments);
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // As on a server: the program must not need a display at all.
    void initTestCase()
    {
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            qunsetenv(name);
    }
    // Runs before any list file exists.
    void answersAndExits_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("help") << QStringLiteral("--help") << 0 << QByteArray("--headless");
        QTest::newRow("version") << QStringLiteral("--version") << 0 << QByteArray(SKYVANE_VERSION);
        QTest::newRow("empty list")
            << QStringLiteral("--headless") << 1 << QByteArray("skyvane: no recordings in ");
    }
    void answersAndExits()
    {
        QFETCH(QString, argument);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QProcess skyvane;
        skyvane.setProcessChannelMode(QProcess::MergedChannels);
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {argument});
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), exitCode);
        QVERIFY(skyvane.readAll().contains(output));
    }

    void recordsADueStationUntilTerminated()
    {
        StationSimulator station;
        QVERIFY(writeDueList(station));
        QFile list(listPath());

        QProcess skyvane;
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += skyvane.readAllStandardOutput())
                .contains("Due Now: Got shoutcast data: StreamTitle='Band \\x1B]0;x\\x07- "
                          "Song\\x0D\\u0085\\u0080';\n"),
            20000);
        ::kill(pid_t(skyvane.processId()), SIGTERM);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), 0);
        output += skyvane.readAllStandardOutput();
        // One printed line per logged line: the piece after a final line break is none.
        QVERIFY(output.contains("Idle: The recording is disabled\n") &&
                output.count("Idle: ") == 1);
        QCOMPARE(output.count("Due Now: Next recording is at "), 2); // and again after the end
        // The capture's outcome is summed up in the words a notification uses.
        QVERIFY(output.contains("Due Now: Recording ended: 1 track saved, the last "));

        // The capture was ended, and the list stored.
        QVERIFY(list.open(QIODevice::ReadOnly) && list.readAll().contains("Recording ended at "));
        const QDir tracks(QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
                          QStringLiteral("/Skyvane"));
        QCOMPARE(tracks.entryList({QStringLiteral("Due Now_*")}, QDir::Files).size(), 1);
    }

    // The session ending, Ctrl+C, the terminal closing: the capture ends and
    // is stored as on closing the window.
    void endsCapturesOnSignals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<qlonglong>("fileLimit"); // bytes a file (ulimit -f); 0: none
        const QStringList headless{QStringLiteral("--headless")};
        QTest::newRow("window, SIGTERM") << QStringList() << SIGTERM << 0LL;
        QTest::newRow("window, SIGINT") << QStringList() << SIGINT << 0LL;
        QTest::newRow("window, SIGHUP") << QStringList() << SIGHUP << 0LL;
        QTest::newRow("headless, SIGHUP") << headless << SIGHUP << 0LL;
        // The track meets the limit: the write fails, and Skyvane lives on.
        QTest::newRow("headless, file-size limit") << headless << SIGTERM << 100000LL;
    }
    void endsCapturesOnSignals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, signalNumber);
        QFETCH(qlonglong, fileLimit);
        StationSimulator station;
        QSignalSpy asked(&station, &StationSimulator::requestReceived);
        QVERIFY(writeDueList(station));
        QProcess skyvane;
        if (fileLimit > 0) {
            skyvane.setChildProcessModifier([fileLimit] {
                const rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
        }
        start(skyvane, arguments);
        QVERIFY(asked.wait(20000));
        if (fileLimit > 0)
            QTest::qWait(1000); // past the limit at the station's 1 MB/s
        ::kill(pid_t(skyvane.processId()), signalNumber);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), 0);
        QFile list(listPath());
        QVERIFY(list.open(QIODevice::ReadOnly) && list.readAll().contains("Recording ended at "));
    }

    // One copy per list file: a second window start brings the first one's
    // window forward; any other second start says who holds the list. Each
    // first copy is killed outright, leaving its lock: the next row's takes
    // that stale lock over.
    void runsOneCopyPerList_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("told"); // on standard error: list path, pid of the first
        const QStringList window, headless{QStringLiteral("--headless")};
        const QString held =
            QStringLiteral("skyvane: Skyvane is already running on %1 (process %2)");
        QTest::newRow("window, then window") << window << window << 0 << QString();
        QTest::newRow("window, then headless") << window << headless << 1 << held + u'\n';
        QTest::newRow("headless, then headless") << headless << headless << 1 << held + u'\n';
        QTest::newRow("headless, then window")
            << headless << window << 1
            << held + QStringLiteral(" without a window; end it to open the window\n");
    }
    void runsOneCopyPerList()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QFETCH(int, exitCode);
        QFETCH(QString, told);
        QVERIFY(writeList("[{\"name\": \"Idle\"}]"));
        QProcess holder;
        start(holder, first);
        const auto lockedBy = [] {
            QFile lock(listPath() + QStringLiteral(".lock"));
            return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(lockedBy(), holder.processId(), 10000);
        QProcess skyvane;
        start(skyvane, second);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), exitCode);
        if (!told.isEmpty())
            told = told.arg(listPath()).arg(holder.processId());
        QCOMPARE(QString::fromUtf8(skyvane.readAllStandardError()), told);
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
    }

    // Without its lock Skyvane says why, and ends without touching the list.
    void refusesAListItCannotLock()
    {
        const QByteArray json = "[{\"name\": \"Idle\"}]";
        const QString lock = listPath() + QStringLiteral(".lock");
        QVERIFY(writeList(json) && (!QFile::exists(lock) || QFile::remove(lock)));
        QVERIFY(QDir().mkdir(lock));
        QProcess skyvane;
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
        QVERIFY(skyvane.waitForFinished(10000) && skyvane.exitCode() == 1);
        QVERIFY(skyvane.readAllStandardError().startsWith(
            QStringLiteral("skyvane: Skyvane does not run on %1 without its lock: the lock file %2 "
                           "is a folder")
                .arg(listPath(), lock)
                .toUtf8()));
        QFile list(listPath());
        QVERIFY(list.open(QIODevice::ReadOnly) && list.readAll() == json && QDir().rmdir(lock));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
