// Skyvane as a process, with a window and without, and the list's lock that
// keeps it to one copy per list file.
#include <csignal>
#include <optional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "app/instancelock.h"
#include "stationsimulator.h"
#include "testfiles.h"
#include "testmain.h"

using namespace Qt::StringLiterals;

namespace {

const QStringList headless{u"--headless"_s};

QString listPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           u"/Skyvane.reclist"_s;
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
    if (!station.start())
        return false;
    const QByteArray json =
        QStringLiteral("[{\"name\": \"Due Now\", \"url\": \"%1\", \"daily\": true, \"playList\": "
                       "\"\", \"startTime\": %2}, {\"name\": \"Idle\"}]")
            .arg(station.url(u"/live"))
            .arg(QTime::currentTime().msecsSinceStartOfDay() / 60000)
            .toUtf8();
    return !writeFile(listPath(), json).isEmpty();
}

// A window start opens offscreen; any other start must not need a display.
void start(QProcess &skyvane, const QStringList &arguments)
{
    if (arguments.isEmpty())
        skyvane.setEnvironment(QProcess::systemEnvironment() << u"QT_QPA_PLATFORM=offscreen"_s);
    skyvane.start(QStringLiteral(SKYVANE_BINARY), arguments);
}

// Skyvane run to its end with these arguments (and standard input): its exit
// code, then what it printed to standard output and to standard error.
QString runToEnd(const QStringList &arguments, const QByteArray &input = {})
{
    QProcess skyvane;
    start(skyvane, arguments);
    skyvane.write(input);
    skyvane.closeWriteChannel();
    if (!skyvane.waitForFinished(20000))
        return u"did not end"_s;
    return QString::number(skyvane.exitCode()) + u' ' +
           QString::fromUtf8(skyvane.readAllStandardOutput() + skyvane.readAllStandardError());
}

// The list's lock, against what was left at its path.
using Outcome = InstanceLock::Outcome;
enum class Made { Nothing, File, Link, Folder, Fifo };

// A file holds garbage longer than a pid; a link leads to a folder.
bool make(const QByteArray &path, Made made, mode_t mode)
{
    const QByteArray folder = made == Made::Link ? path + "-target" : path;
    if (made == Made::Nothing || made == Made::Fifo)
        return made == Made::Nothing || ::mkfifo(path, 0600) == 0;
    if (made == Made::File)
        return !writeFile(QFile::decodeName(path), QByteArray("\0\xff\n 1234567890123\n", 18))
                    .isEmpty();
    return ::mkdir(folder, mode) == 0 && (made != Made::Link || ::symlink(folder, path) == 0);
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
        lowerLimit(RLIMIT_NOFILE, 256).dismiss(); // Skyvane raises it to the hard limit
    }

    // One copy per list file. A first copy records a station that is due; a
    // later window start brings its window forward, any other later start
    // says who holds the list (the first rows start alone, before any list
    // exists). The session ending, Ctrl+C, the terminal closing: the first
    // copy ends the capture and stores the list, as on closing the window.
    // Without a window it prints its log, one line per logged line, a title's
    // controls escaped, and the capture's outcome in the words a notification
    // uses. Its lock file stays: the next row's first copy takes it over.
    void runsOneCopyPerList_data()
    {
        QTest::addColumn<QString>("first");         // "window", "headless" or none
        QTest::addColumn<QStringList>("arguments"); // of the later start
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("told");        // by the later start: %1 the list, %2 the first
        QTest::addColumn<int>("signalNumber");    // that ends the first copy
        QTest::addColumn<qlonglong>("fileLimit"); // bytes a file (ulimit -f); -1: unlimited
        // By the first copy: the first line before the signal, the rest by its end.
        QTest::addColumn<QByteArrayList>("printed");
        const auto row = [](const char *name, const QString &first, const QStringList &arguments,
                            int exitCode, const QString &told, int signalNumber = 0,
                            qlonglong fileLimit = -1, const QByteArrayList &printed = {}) {
            QTest::newRow(name) << first << arguments << exitCode << told << signalNumber
                                << fileLimit << printed;
        };
        const QString held = u"skyvane: Skyvane is already running on %1 (process %2)"_s;
        row("empty list", {}, headless, 1, u"skyvane: no recordings in %1; "_s);
        row("window, then window; SIGINT", u"window"_s, {}, 0, {}, SIGINT);
        row("window, then headless; SIGTERM", u"window"_s, headless, 1, held + u'\n', SIGTERM);
        row("window, then a change from the terminal", u"window"_s, {u"--remove"_s, u"Idle"_s}, 1,
            u"skyvane: The Skyvane that holds the list %1 takes no commands"_s, SIGTERM);
        row("headless, then window; SIGHUP", u"headless"_s, {}, 1,
            held + u" without a window; end it to open the window\n"_s, SIGHUP, -1,
            {"Due Now: Got shoutcast data: StreamTitle='Band \\x1B]0;x\\x07- Song\\x0D\\u0085"
             "\\u0080';\n",
             "Due Now: Recording ended: 1 track saved, the last "});
        // The track meets the limit: the write fails, and Skyvane lives on.
        row("headless, then headless; file-size limit", u"headless"_s, headless, 1, held + u'\n',
            SIGTERM, 100000,
            {"Due Now: File access error: Could not write to ",
             ": File too large; 0 tracks saved\n"});
    }
    void runsOneCopyPerList()
    {
        QFETCH(QString, first);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, told);
        QFETCH(int, signalNumber);
        QFETCH(qlonglong, fileLimit);
        QFETCH(QByteArrayList, printed);
        QDir tracks(QDir::homePath() + u"/Music/Skyvane"_s);
        QVERIFY(tracks.removeRecursively());
        StationSimulator station;
        QSignalSpy asked(&station, &StationSimulator::requestReceived);
        QProcess holder;
        if (!first.isEmpty()) {
            QVERIFY(writeDueList(station));
            holder.setChildProcessModifier([fileLimit] {
                const rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
                setrlimit(RLIMIT_FSIZE, &limit);
            });
            start(holder, first == u"headless" ? headless : QStringList());
            QVERIFY(asked.wait(20000)); // the list is locked and read
            const auto open = QRegularExpression(u"Max open files +(\\d+) +(\\d+)"_s)
                                  .match(QString::fromLatin1(
                                      fileContents(u"/proc/%1/limits"_s.arg(holder.processId()))));
            QVERIFY(open.hasMatch() && open.captured(1) == open.captured(2));
        }
        QProcess skyvane;
        skyvane.setProcessChannelMode(QProcess::MergedChannels);
        start(skyvane, arguments);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), exitCode);
        told.replace(u"%1"_s, listPath()).replace(u"%2"_s, QString::number(holder.processId()));
        const QString answer = QString::fromUtf8(skyvane.readAll());
        QVERIFY2(told.isEmpty() ? answer.isEmpty() : answer.contains(told), qPrintable(answer));
        if (first.isEmpty())
            return;

        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += holder.readAllStandardOutput()).contains(printed.value(0)), 20000);
        ::kill(pid_t(holder.processId()), signalNumber);
        QVERIFY(holder.waitForFinished(10000));
        QCOMPARE(holder.exitCode(), 0);
        QFile list(listPath());
        QVERIFY(list.open(QIODevice::ReadOnly) && list.readAll().contains("Recording ended at "));
        output += holder.readAllStandardOutput();
        for (const QByteArray &line : printed)
            QVERIFY2(output.contains(line), output.constData());
        if (first == u"window")
            return; // the window prints no log
        QVERIFY(output.contains("Idle: The recording is disabled\n") &&
                output.count("Idle: ") == 1);
        QCOMPARE(output.count("Due Now: Next recording is at "), 2); // and again after the end
        QCOMPARE(tracks.entryList({u"Due Now_*"_s}, QDir::Files).size(), fileLimit > 0 ? 0 : 1);
    }

    // The list from a terminal: with no Skyvane running, each command changes
    // the file itself; with one running headless, it hands the change over
    // and the running copy stores it. What the editor's Save refuses, these
    // refuse, each in one sentence and a non-zero exit.
    void changesTheListFromATerminal()
    {
        QFile::remove(listPath());
        const QStringList add{u"--add"_s, u"Night\tOwl"_s, u"http://127.0.0.1:9/x"_s,
                              u"--at"_s,  u"23:15"_s,      u"--for"_s,
                              u"45"_s};
        QVERIFY(runToEnd(add + QStringList{u"--days"_s, u"sat,Sunday"_s, u"--split"_s})
                    .startsWith(u"0 Added \u201cNight\tOwl\u201d; next start: "_s));
        const QByteArray stored = fileContents(listPath());
        QVERIFY2(
            stored.contains("\"days\": [\n            0,\n            0,\n            0,\n"
                            "            0,\n            0,\n            1,\n            1\n") &&
                stored.contains("\"startTime\": 1395") && stored.contains("\"splitSongs\": true"),
            stored.constData());
        for (const auto &[arguments, told] : std::initializer_list<std::pair<QStringList, QString>>{
                 {add,
                  u"1 skyvane: Another recording is already named \u201cNight\tOwl\u201d.\n"_s},
                 {{u"--add"_s, u"A"_s, u"http://x/"_s, u"--at"_s, u"24:00"_s, u"--for"_s, u"5"_s},
                  u"2 skyvane: --at takes the start time as HH:MM, such as 07:30.\n"_s},
                 {{u"--add"_s, u"A"_s, u"http://x/"_s, u"--at"_s, u"7:00"_s, u"--for"_s, u"5"_s,
                   u"--days"_s, u"mon,xyz"_s},
                  u"2 skyvane: --days takes weekdays such as mon,tue,fri.\n"_s},
                 {{u"--add"_s, u"A"_s, u"--at"_s, u"7:00"_s, u"--for"_s, u"5"_s},
                  u"2 skyvane: --add takes the name and then the station's address"_s},
                 {{u"--remove"_s, u"Nobody"_s}, u"1 skyvane: There is no recording named "_s},
                 {{u"--remove"_s, u"Night"_s, u"Owl"_s}, u"2 skyvane: Put a name of several "_s},
                 {{u"--now"_s, u"night\towl"_s}, u"1 skyvane: No Skyvane runs on the list"_s},
                 {{u"--list"_s, u"--stop"_s, u"x"_s}, u"2 skyvane: Give one of "_s},
                 {{u"--list"_s}, u"0 Night Owl\tSat 23:15\tScheduled\t\n"_s}}) {
            QVERIFY2(runToEnd(arguments).startsWith(told), qPrintable(runToEnd(arguments)));
        }
        QCOMPARE(fileContents(listPath()), stored);

        StationSimulator station;
        QSignalSpy asked(&station, &StationSimulator::requestReceived);
        QVERIFY(writeDueList(station));
        QProcess holder;
        start(holder, headless);
        QVERIFY(asked.wait(20000));
        QVERIFY(runToEnd(add).startsWith(u"0 Added "_s));
        // Only the user may reach the running copy's commands.
        const QFileInfoList sockets = QDir(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                                          .entryInfoList({u"skyvane-*-commands"_s}, QDir::System);
        QVERIFY(sockets.size() == 1 && (sockets.first().permissions() & 0x0077) == 0);
        QVERIFY(runToEnd({u"--remove"_s, u"idle"_s}).startsWith(u"0 Deleted \u201cidle\u201d"_s));
        const QString listed = runToEnd({u"--list"_s});
        QVERIFY2(listed.startsWith(u"0 Due Now\tends in "_s) && listed.contains(u"\nNight Owl\t"_s),
                 qPrintable(listed));
        QVERIFY(runToEnd({u"--stop"_s, u"Due Now"_s})
                    .startsWith(u"0 \u201cDue Now\u201d is stopped."_s));
        QTRY_VERIFY_WITH_TIMEOUT(runToEnd({u"--list"_s}).startsWith(u"0 Due Now\t"_s) &&
                                     !runToEnd({u"--list"_s}).contains(u"ends in"_s),
                                 20000);
        ::kill(pid_t(holder.processId()), SIGTERM);
        QVERIFY(holder.waitForFinished(10000));
        const QByteArray kept = fileContents(listPath());
        QVERIFY(kept.contains("Night\\tOwl") && !kept.contains("\"Idle\""));
        QVERIFY(holder.readAllStandardOutput().contains("Due Now: Stopped by user\n"));
    }

    // Only a slow hash reaches the configuration file, which only its owner may read.
    void setsTheWebPassword()
    {
        QVERIFY(runToEnd({u"--set-web-password"_s}, "short\n").startsWith(u"1 skyvane: "_s));
        QVERIFY(runToEnd({u"--set-web-password"_s}, "correct horse battery\n").startsWith(u"0 "_s));
        const QString config =
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            u"/Skyvane/Skyvane.conf"_s;
        QVERIFY(fileContents(config).contains("passwordHash=\"$argon2id$"));
        QVERIFY(!fileContents(config).contains("horse"));
        struct stat status = {};
        QVERIFY(::stat(QFile::encodeName(config).constData(), &status) == 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        QVERIFY(runToEnd({u"--headless"_s, u"--web-ui"_s, u"0.0.0.0:99999"_s})
                    .startsWith(u"1 skyvane: \u201c0.0.0.0:99999\u201d is not a port"_s));
    }

    // A directory search and Try from a terminal, against a directory and a
    // station on 127.0.0.1 ("%1"): a station a line, best first, a station's
    // title kept from steering the terminal, and an exit code that says how it went.
    void answersATerminal_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("answer"); // the directory's; "": none
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // standard output, then error
        const QString search = u"--search jazz --directory %1"_s;
        QTest::newRow("found") << search
                               << QByteArray("[{\"stationuuid\": \"1\", \"name\": \"Jazz\\tFM\", "
                                             "\"url\": \"http://a/\", \"codec\": \"MP3\", "
                                             "\"bitrate\": 128, \"countrycode\": \"de\"}]")
                               << 0 << u"Jazz FM\tMP3\t128\tDE\thttp://a/\n"_s;
        QTest::newRow("unreachable")
            << u"--search jazz --directory http://127.0.0.1:9"_s << QByteArray() << 2
            << u"skyvane: The directory could not be reached: "_s;
        QTest::newRow("version") << u"--version"_s << QByteArray() << 0 << u"Skyvane 0."_s;
        QTest::newRow("tried")
            << u"--probe %1/live"_s << QByteArray() << 0
            << u"url: %1/live\ncodec: MP3\ntitles: yes\ntitle: A\\x1B[2J - Song\n"_s;
    }
    void answersATerminal()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, answer);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        StationSimulator station;
        QVERIFY(station.start());
        station.setRoute(
            "/json/stations/search?name=jazz&hidebroken=true&order=votes&"
            "reverse=true&offset=0&limit=50",
            StationSimulator::Route::page("HTTP/1.1 200 OK", "application/json", answer));
        StationSimulator::Route live = StationSimulator::Route::stream("ICY 200 OK", 8192);
        live.titles = {"A\x1b[2J - Song"};
        station.setRoute("/live", live);
        const QByteArray list = fileContents(listPath()); // never touched
        QProcess skyvane;
        start(skyvane, arguments.replace(u"%1"_s, station.url(u"")).split(u' '));
        QTRY_VERIFY_WITH_TIMEOUT(skyvane.state() == QProcess::NotRunning, 20000);
        QCOMPARE(skyvane.exitCode(), exitCode);
        const QString told =
            QString::fromUtf8(skyvane.readAllStandardOutput() + skyvane.readAllStandardError());
        QVERIFY2(told.startsWith(printed.replace(u"%1"_s, station.url(u""))), qPrintable(told));
        QCOMPARE(fileContents(listPath()), list);
    }

    // Whatever another program, or a copy that is gone, left at a path. The
    // lock takes over a file (the kernel's lock decides, not what it says),
    // and replaces a link or FIFO, never following it; a folder stays, and
    // where no lock can be made, Skyvane is told why. The socket's folder must
    // be the user's own folder, never a link, closed to everyone else (made
    // so when missing).
    void takesOverWhatIsLeft_data()
    {
        QTest::addColumn<Made>("left");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("socketFolder"); // fit for the socket
        QTest::addColumn<QString>("failure");   // of the lock; empty: it is taken
        const QString notPlain = QStringLiteral("list.lock is a folder or otherwise not a plain");
        QTest::newRow("nothing") << Made::Nothing << 0 << true << QString();
        // Longer than the pid: the file is emptied first.
        QTest::newRow("garbage") << Made::File << 0 << false << QString();
        QTest::newRow("link to a private folder") << Made::Link << 0700 << false << QString();
        QTest::newRow("private folder") << Made::Folder << 0700 << true << notPlain;
        QTest::newRow("group may enter") << Made::Folder << 0710 << false << notPlain;
        QTest::newRow("FIFO") << Made::Fifo << 0 << false << QString();
    }
    // What makePrivateFolder accepts is closed to others: it checks that itself.
    void takesOverWhatIsLeft()
    {
        QFETCH(Made, left);
        QFETCH(int, mode);
        QFETCH(bool, socketFolder);
        QFETCH(QString, failure);
        QTemporaryDir scratch;
        const QByteArray folder = QFile::encodeName(scratch.path());
        const QByteArray lock = folder + "/list.lock";
        const QByteArray run = folder + "/run";
        QVERIFY(make(lock, left, mode_t(mode)) && make(run, left, mode_t(mode)));

        QCOMPARE(InstanceLock::makePrivateFolder(QFile::decodeName(run)), socketFolder);
        const QString list = QFile::decodeName(folder + "/list");
        auto instance = std::make_unique<InstanceLock>(list);
        QCOMPARE(instance->tryLock(), failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
        QVERIFY2(instance->failure().contains(failure), qPrintable(instance->failure()));
        // A second lock, even in this process, finds it held, by this process.
        QCOMPARE(InstanceLock(list).tryLock(),
                 failure.isEmpty() ? Outcome::Held : Outcome::Unavailable);
        QFile named(QFile::decodeName(lock));
        QCOMPARE(named.open(QIODevice::ReadOnly) ? named.readAll() : QByteArray(),
                 failure.isEmpty() ? QByteArray::number(::getpid()) + '\n' : QByteArray());
        QCOMPARE(instance->holder(),
                 failure.isEmpty() ? std::optional<qint64>(::getpid()) : std::nullopt);
        if (QFile names(QFile::decodeName(lock)); names.open(QIODevice::WriteOnly))
            names.write("0\n"); // names no process; a folder stays one
        QCOMPARE(instance->holder(), std::nullopt);
        instance.reset(); // the next copy takes the lock let go
        QCOMPARE(InstanceLock(list).tryLock(),
                 failure.isEmpty() ? Outcome::Locked : Outcome::Unavailable);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
