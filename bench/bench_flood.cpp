// A title flood: a station on loopback, unthrottled, with a metadata block after
// every audio byte and a new title every two. How long the event loop goes
// unserved at worst while Skyvane records it into one file per song (a timer
// asks every 10 ms), and how long ending the capture then takes.
//
//   bench_flood [SECONDS]   (default 5)
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "model/recording.h"
#include "loopwatch.h"
#include "stationprocess.h"

int main(int argc, char *argv[])
{
    // Scratch files below the current folder, on the disk to be measured.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-flood-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;

    QProcess station;
    const QString url = startStation(
        station, QCoreApplication::applicationDirPath() + QStringLiteral("/bench_station"),
        {QStringLiteral("--metaint"), QStringLiteral("1"), QStringLiteral("--title-every"),
         QStringLiteral("2")});
    RecordingSettings settings;
    settings.name = QStringLiteral("Flood");
    settings.url = url;
    settings.splitSongs = true;
    settings.playList.clear();
    settings.duration = 24 * 60;
    Recording r(settings);
    qsizetype logLines = 0;
    QObject::connect(&r, &Recording::logAppended, [&logLines] { ++logLines; });

    LoopWatch loop;
    r.startCapture();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    clock.start();
    r.stopCapture();
    std::printf("longest time the loop went unserved: %lld ms over %d s (%lld log lines)\n",
                static_cast<long long>(loop.longestGapMs()), seconds,
                static_cast<long long>(logLines));
    std::printf("ending the capture took:              %lld ms\n",
                static_cast<long long>(clock.elapsed()));
    station.kill();
    station.waitForFinished();
    return 0;
}
