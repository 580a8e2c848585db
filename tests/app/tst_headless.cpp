#include <csignal>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "stationsimulator.h"
#include "testmain.h"

using Route = StationSimulator::Route;

namespace {

QString listPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Skyvane.reclist");
}

void writeList(const QJsonArray &rows)
{
    QDir().mkpath(QFileInfo(listPath()).path());
    QFile file(listPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QJsonDocument(rows).toJson());
}

// Minutes after midnight now, waiting out the last seconds of a minute so the
// recording is still due when the program reads its list.
int currentMinuteSafely()
{
    while (QTime::currentTime().second() >= 55)
        QTest::qWait(500);
    const QTime now = QTime::currentTime();
    return now.hour() * 60 + now.minute();
}

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void helpAndVersionAnswer()
    {
        QProcess help;
        help.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(10000));
        QCOMPARE(help.exitCode(), 0);
        QVERIFY(help.readAllStandardOutput().contains("--headless"));

        QProcess version;
        version.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--version")});
        QVERIFY(version.waitForFinished(10000));
        QVERIFY(version.readAllStandardOutput().startsWith("Skyvane "));
    }

    void recordsADueStationAndStopsCleanly()
    {
        StationSimulator station;
        QVERIFY(station.start());
        Route route = Route::stream(QByteArrayLiteral("ICY 200 OK"), 16000);
        route.titles = {"Band - Song"};
        route.closeAfterAudio = 600000;
        station.setRoute("/live", route);

        QJsonObject due;
        due.insert(QStringLiteral("name"), QStringLiteral("Due Now"));
        due.insert(QStringLiteral("url"), station.url(u"/live"));
        due.insert(QStringLiteral("daily"), true);
        due.insert(QStringLiteral("playList"), QString());
        due.insert(QStringLiteral("startTime"), currentMinuteSafely());
        QJsonObject idle;
        idle.insert(QStringLiteral("name"), QStringLiteral("Idle"));
        writeList({due, idle});
        QDir(QStandardPaths::writableLocation(QStandardPaths::MusicLocation)).removeRecursively();

        QProcess skyvane;
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
        QVERIFY(skyvane.waitForStarted(10000));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += skyvane.readAllStandardOutput()).contains("Due Now: Next recording is at"),
            30000);
        // Ended by the station, handed over, and scheduled again for tomorrow.
        QTRY_VERIFY_WITH_TIMEOUT((output += skyvane.readAllStandardOutput())
                                     .contains("Due Now: Connection closed by the station\n"),
                                 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += skyvane.readAllStandardOutput()).count("Due Now: Next recording is at") == 2,
            30000);
        QVERIFY(output.contains("Idle: The recording is disabled\n"));
        QVERIFY(output.contains("Due Now: Got shoutcast data: StreamTitle='Band - Song';\n"));
        QVERIFY(output.contains("Due Now: File size is 600000 bytes\n"));

        ::kill(pid_t(skyvane.processId()), SIGTERM);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitStatus(), QProcess::NormalExit);
        QCOMPARE(skyvane.exitCode(), 0);

        QFile list(listPath());
        QVERIFY(list.open(QIODevice::ReadOnly));
        const QJsonArray rows = QJsonDocument::fromJson(list.readAll()).array();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows.at(0)[QStringLiteral("log")].toString().contains(
            QStringLiteral("Recording ended at ")));
        const QDir tracks(QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
                          QStringLiteral("/Skyvane"));
        const QStringList files = tracks.entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().startsWith(QStringLiteral("Due Now_")));
        QCOMPARE(QFileInfo(tracks.filePath(files.first())).size(), qint64(600000 - 16000));
    }

    void emptyListIsAClearError()
    {
        QFile::remove(listPath());
        QProcess skyvane;
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), 1);
        QVERIFY(skyvane.readAllStandardError().contains("no recordings"));
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
