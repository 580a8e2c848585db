#include <csignal>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "stationsimulator.h"
#include "testmain.h"

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
        QVERIFY(station.start());
        // The first title comes past the size under which a track is deleted as tiny.
        StationSimulator::Route route = StationSimulator::Route::stream("ICY 200 OK", 300000);
        route.titles = {"Band - Song"};
        route.bytesPerSecond = 1000000;
        station.setRoute("/live", route);
        // Out of a minute's last seconds, so the start is still due when the list is read.
        while (QTime::currentTime().second() >= 55)
            QTest::qWait(500);
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        QFile list(data + QStringLiteral("/Skyvane.reclist"));
        QVERIFY(QDir().mkpath(data) && list.open(QIODevice::WriteOnly));
        list.write(QStringLiteral("[{\"name\": \"Due Now\", \"url\": \"%1\", \"daily\": true, "
                                  "\"playList\": \"\", \"startTime\": %2}, {\"name\": \"Idle\"}]")
                       .arg(station.url(u"/live"))
                       .arg(QTime::currentTime().msecsSinceStartOfDay() / 60000)
                       .toUtf8());
        list.close();

        QProcess skyvane;
        skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT(
            (output += skyvane.readAllStandardOutput())
                .contains("Due Now: Got shoutcast data: StreamTitle='Band - Song';\n"),
            20000);
        ::kill(pid_t(skyvane.processId()), SIGTERM);
        QVERIFY(skyvane.waitForFinished(10000));
        QCOMPARE(skyvane.exitCode(), 0);
        output += skyvane.readAllStandardOutput();
        // One printed line per logged line: the piece after a final line break is none.
        QVERIFY(output.contains("Idle: The recording is disabled\n") &&
                output.count("Idle: ") == 1);
        QCOMPARE(output.count("Due Now: Next recording is at "), 2); // and again after the end

        // The capture was ended, and the list stored.
        QVERIFY(list.open(QIODevice::ReadOnly) && list.readAll().contains("Recording ended at "));
        const QDir tracks(QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
                          QStringLiteral("/Skyvane"));
        QCOMPARE(tracks.entryList({QStringLiteral("Due Now_*")}, QDir::Files).size(), 1);
    }
};

SKYVANE_TEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
