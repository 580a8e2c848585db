// Stop on a slow disk: a station at 4 MB/s (a new title every 1,000,000 bytes)
// recorded into one file per song while every sync to the disk takes SLOW_MS
// (a USB stick, a network share), so that tracks queue up for their sync. After
// SECONDS the capture is stopped; the benchmark prints how long stop() took, the
// longest time the event loop went unserved (a timer asks every 10 ms) before
// and after Stop, and how long finished() took to follow.
//
//   bench_slowstop [SECONDS] [SLOW_MS]   (default 3 and 400)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "capture/capture.h"
#include "capture/tracksync.h"
#include "loopwatch.h"
#include "stationprocess.h"

namespace {

int slowMs = 400;

// The disk as a slow one would be: each sync waits, then is done for real.
int slowFlush(int fd, bool folder)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
    return folder ? ::fsync(fd) : ::fdatasync(fd);
}

} // namespace

int main(int argc, char *argv[])
{
    // Scratch files below the current folder, on the disk to be measured.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-slowstop-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3;
    slowMs = argc > 2 ? std::atoi(argv[2]) : 400;
    TrackSync::setFlush(&slowFlush);

    QProcess station;
    const QString url = startStation(
        station, QCoreApplication::applicationDirPath() + QStringLiteral("/bench_station"),
        {QStringLiteral("--rate"), QStringLiteral("4000000")});
    RecordingSettings settings;
    settings.name = QStringLiteral("Slow disk");
    settings.url = url;
    settings.splitSongs = true;
    settings.duration = 24 * 60;
    Capture capture(settings, QDateTime::currentDateTime());
    int saved = 0;
    bool done = false;
    QObject::connect(&capture, &Capture::trackSaved, [&saved] { ++saved; });
    QObject::connect(&capture, &Capture::finished, [&done] { done = true; });

    LoopWatch loop;
    capture.start();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const qint64 gapWhileRecording = loop.longestGapMs();
    const int savedBeforeStop = saved;

    loop.reset();
    clock.start();
    capture.stop();
    const double stopMs = clock.nsecsElapsed() / 1e6;
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double finishedMs = clock.nsecsElapsed() / 1e6;

    std::printf("every sync (file and folder) slowed by %d ms; %d s at 4 MB/s\n", slowMs, seconds);
    std::printf("tracks on the disk at Stop:               %d, after: %d\n", savedBeforeStop,
                saved);
    std::printf("stop() returned after:                    %.2f ms\n", stopMs);
    std::printf("longest loop gap while recording:         %lld ms\n",
                static_cast<long long>(gapWhileRecording));
    std::printf("longest loop gap from Stop to finished(): %lld ms\n",
                static_cast<long long>(loop.longestGapMs()));
    std::printf("finished() followed Stop after:           %.0f ms\n", finishedMs);
    station.kill();
    station.waitForFinished();
    TrackSync::setFlush(nullptr);
    return 0;
}
