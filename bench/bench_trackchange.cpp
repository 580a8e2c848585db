// How long a track change holds up the event loop: closing a freshly written
// track and queuing it to be synced, against how long making it durable takes
// on the worker thread (what the loop would wait for if it synced itself).
//
//   bench_trackchange [MEGABYTES...]   (default 1 5 20 100)
#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "capture/tracksync.h"
#include "capture/trackwriter.h"

namespace {

struct Figures
{
    double loopMs;
    double syncMs;
};

Figures changeTrack(TrackSync &sync, qint64 megabytes, int index)
{
    TrackWriter writer([](const QString &) {});
    writer.open(QStringLiteral("Song %1").arg(index), QString(), QDateTime::currentDateTime(),
                QStringLiteral(".mp3"));
    const QByteArray chunk(16384, 'a');
    for (qint64 written = 0; written < megabytes * 1024 * 1024; written += chunk.size())
        writer.write(chunk);

    QElapsedTimer clock;
    clock.start();
    const auto track = writer.close(false, false, 16000);
    sync.add(*track);
    const double loopMs = clock.nsecsElapsed() / 1e6;
    bool done = false;
    QObject::connect(&sync, &TrackSync::synced, &sync, [&done] { done = true; });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(&sync, &TrackSync::synced, nullptr, nullptr);
    return {loopMs, clock.nsecsElapsed() / 1e6};
}

} // namespace

int main(int argc, char *argv[])
{
    // Scratch files below the current folder, on the disk to be measured.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-trackchange-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    QCoreApplication app(argc, argv);
    QList<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(std::atoll(argv[i]));
    if (sizes.isEmpty())
        sizes = {1, 5, 20, 100};

    TrackSync sync;
    std::printf("%10s %22s %22s\n", "track MB", "event loop held (ms)", "sync on worker (ms)");
    int index = 0;
    for (const qint64 megabytes : sizes) {
        const Figures figures = changeTrack(sync, megabytes, ++index);
        std::printf("%10lld %22.2f %22.2f\n", static_cast<long long>(megabytes), figures.loopMs,
                    figures.syncMs);
    }
    return 0;
}
