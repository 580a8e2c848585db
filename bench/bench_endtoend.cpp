// End to end on loopback: one unthrottled station (metadata every 16000 bytes,
// a new title every 1,000,000 bytes) recorded by Skyvane into one file per song,
// each synced to the disk before it is passed on. Measured against
//  - a reference writer: the same tracks (same count, same sizes, written in
//    the stream's 16000-byte pieces), each made durable with one fdatasync,
//    one after another, with no network in between;
//  - curl writing the same stream to one file on the same disk, never synced.
// Each round prints Skyvane's throughput counted to the last track on the disk
// (finished()) as a share of the reference's, how long after the last byte the
// capture ended, and the CPU time per GB of Skyvane and of curl: charged to
// each process, and the machine's until the data is on the disk (write-back
// that curl leaves to the kernel's flusher threads costs CPU too, only not
// curl's; Skyvane starts it itself). The machine's figure needs an otherwise
// idle machine; the station's own CPU is taken off it.
//
//   bench_endtoend [MEGABYTES] [ROUNDS]   (default 1024 and 3)
#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "capture/capture.h"
#include "capture/trackwriter.h"
#include "processcpu.h"
#include "stationprocess.h"

namespace {

constexpr qint64 pieceBytes = 16000;

double cpuSeconds(int who)
{
    rusage usage = {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Busy CPU time of the whole machine, all cores, from /proc/stat.
double machineBusySeconds()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // "cpu user nice system idle iowait irq softirq steal ..."
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    double ticks = 0;
    for (const int busy : {1, 2, 3, 6, 7})
        ticks += fields.value(busy).toDouble();
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// The machine's busy time, less the station's.
struct MachineMeter
{
    const QProcess &station;
    double machine = machineBusySeconds();
    double served = processCpuSeconds(station.processId());

    double seconds() const
    {
        return machineBusySeconds() - machine - (processCpuSeconds(station.processId()) - served);
    }
};

QString stationBinary()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/bench_station");
}

struct SkyvaneRun
{
    double seconds = 0;    // start to finished()
    double endSeconds = 0; // the station closing to finished()
    double cpuSeconds = 0;
    double machineSeconds = 0;
    std::vector<qint64> sizes; // of the tracks on the disk
};

SkyvaneRun recordWithSkyvane(const QProcess &station, const QString &url)
{
    RecordingSettings settings;
    settings.name = QStringLiteral("Bench");
    settings.url = url;
    settings.splitSongs = true;
    settings.duration = 24 * 60;
    Capture capture(settings, QDateTime::currentDateTime());
    SkyvaneRun run;
    QStringList paths;
    QElapsedTimer clock;
    QElapsedTimer sinceLastByte;
    bool done = false;
    QObject::connect(&capture, &Capture::logLine, [&](const QString &line) {
        if (line.startsWith(QStringLiteral("Connection closed")))
            sinceLastByte.start();
    });
    QObject::connect(&capture, &Capture::trackSaved,
                     [&paths](const Track &track) { paths.append(track.path); });
    QObject::connect(&capture, &Capture::finished, [&] {
        run.seconds = clock.nsecsElapsed() / 1e9;
        run.endSeconds = sinceLastByte.isValid() ? sinceLastByte.nsecsElapsed() / 1e9 : -1;
        done = true;
    });
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    const MachineMeter machine{station};
    clock.start();
    capture.start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    run.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    run.machineSeconds = machine.seconds();
    for (const QString &path : std::as_const(paths))
        run.sizes.push_back(QFileInfo(path).size());
    return run;
}

struct ReferenceRun
{
    double seconds = 0;
    double cpuSeconds = 0;
};

// The same tracks as plainly as they can be made durable.
ReferenceRun writeReference(const QString &folder, const std::vector<qint64> &sizes)
{
    const QByteArray piece(pieceBytes, 'a');
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    int index = 0;
    for (const qint64 size : sizes) {
        const QByteArray path = QFile::encodeName(folder + QStringLiteral("/%1.mp3").arg(++index));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        for (qint64 left = size; left > 0; left -= pieceBytes) {
            if (::write(fd, piece.constData(), size_t(std::min(left, pieceBytes))) < 0)
                std::perror("reference write");
        }
        if (::fdatasync(fd) != 0)
            std::perror("reference fdatasync");
        ::close(fd);
    }
    return {clock.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpuBefore};
}

struct CurlRun
{
    double seconds = 0;
    double cpuSeconds = 0;
    double machineSeconds = 0; // until sync() put its file on the disk
};

CurlRun recordWithCurl(const QProcess &station, const QString &url, const QString &file)
{
    QProcess curl;
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    const MachineMeter machine{station};
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), file,
                                        QStringLiteral("--http0.9"), url});
    curl.waitForFinished(-1);
    CurlRun run{clock.nsecsElapsed() / 1e9, 0};
    run.cpuSeconds = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    ::sync();
    run.machineSeconds = machine.seconds();
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    // Scratch files below the current folder, on the disk to be measured.
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-home-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    const qint64 audio = megabytes * 1024 * 1024;
    const QStringList options = {QStringLiteral("--close-after"), QString::number(audio)};
    std::printf("stream: %.0f MB of audio, metadata every 16000 bytes, a title every 1 MB\n",
                double(audio) / 1e6);
    std::printf("%5s %7s | %9s %9s %9s %6s | %7s | %27s | %21s\n", "", "", "throughput (MB/s)", "",
                "", "", "", "CPU seconds per GB", "machine CPU s per GB");
    std::printf("%5s %7s | %9s %9s %9s %6s | %7s | %8s %8s %5s %5s | %7s %5s %5s\n", "round",
                "tracks", "skyvane", "reference", "curl", "ratio", "end ms", "skyvane", "ref.",
                "curl", "ratio", "skyvane", "curl", "ratio");

    for (int round = 1; round <= rounds; ++round) {
        // Each starts with no dirty pages left by the one before.
        ::sync();
        QProcess forSkyvane;
        const QString skyvaneUrl = startStation(forSkyvane, stationBinary(), options);
        const SkyvaneRun skyvane = recordWithSkyvane(forSkyvane, skyvaneUrl);
        forSkyvane.kill();
        forSkyvane.waitForFinished();
        // Nothing is deleted before the end: creating files right after
        // thousands were deleted costs ext4 several times as much CPU. The next
        // round makes its track folder anew.
        QDir().rename(TrackWriter::folder(),
                      home.path() + QStringLiteral("/skyvane-%1").arg(round));
        qint64 onDisk = 0;
        for (const qint64 size : skyvane.sizes)
            onDisk += size;

        ::sync();
        const QString folder = home.path() + QStringLiteral("/reference-%1").arg(round);
        QDir().mkpath(folder);
        const ReferenceRun reference = writeReference(folder, skyvane.sizes);

        ::sync();
        QProcess forCurl;
        const QString curlUrl = startStation(forCurl, stationBinary(), options);
        const CurlRun curl =
            recordWithCurl(forCurl, curlUrl, home.path() + QStringLiteral("/curl-%1").arg(round));
        forCurl.kill();
        forCurl.waitForFinished();

        const double mb = double(onDisk) / 1e6;
        const double gb = double(audio) / 1e9;
        std::printf("%5d %7zu | %9.0f %9.0f %9.0f %6.2f | %7.1f | %8.2f %8.2f %5.2f %5.2f | %7.2f "
                    "%5.2f %5.2f\n",
                    round, skyvane.sizes.size(), mb / skyvane.seconds, mb / reference.seconds,
                    double(audio) / 1e6 / curl.seconds, reference.seconds / skyvane.seconds,
                    skyvane.endSeconds * 1000, skyvane.cpuSeconds / gb, reference.cpuSeconds / gb,
                    curl.cpuSeconds / gb, skyvane.cpuSeconds / curl.cpuSeconds,
                    skyvane.machineSeconds / gb, curl.machineSeconds / gb,
                    skyvane.machineSeconds / curl.machineSeconds);
        std::fflush(stdout);
    }
    std::printf("throughput: MB of tracks on the disk a second (curl: of the stream); ratio: "
                "Skyvane's share of the reference's (aim: at least 0.8)\n"
                "end: from the station closing to finished() (aim: under 500 ms)\n"
                "CPU per GB of audio: Skyvane, the reference writer and curl; ratio: Skyvane to "
                "curl (aim: within 1.5)\n"
                "machine CPU per GB: all cores, less the station, until the data is on the disk "
                "(curl's: until a sync() after it); needs an otherwise idle machine\n");
    return 0;
}
