// End to end on loopback: one unthrottled station (metadata every 16000 bytes,
// a new title every 1,000,000 bytes) recorded by Skyvane into one file per song,
// against curl writing the same stream to one file on the same disk.
//
//   bench_endtoend [MEGABYTES]   (default 1024)
#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include "model/recording.h"
#include "stationprocess.h"

namespace {

QString stationBinary()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/bench_station");
}

double recordWithSkyvane(const QString &url)
{
    RecordingSettings settings;
    settings.name = QStringLiteral("Bench");
    settings.url = url;
    settings.splitSongs = true;
    settings.playList.clear(); // the hand-off is not what is measured here
    settings.duration = 24 * 60;
    Recording r(settings);
    QElapsedTimer clock;
    clock.start();
    r.startCapture();
    while (r.isCapturing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("skyvane: recorded in %.2f s\n", seconds);
    return seconds;
}

double recordWithCurl(const QString &url, const QString &file)
{
    QProcess curl;
    QElapsedTimer clock;
    clock.start();
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), file,
                                        QStringLiteral("--http0.9"), url});
    curl.waitForFinished(-1);
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-home-XXXXXX"));
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const qint64 audio = megabytes * 1024 * 1024;
    const QStringList options = {QStringLiteral("--close-after"), QString::number(audio)};

    QProcess forSkyvane;
    const double skyvane = recordWithSkyvane(startStation(forSkyvane, stationBinary(), options));
    forSkyvane.kill();
    forSkyvane.waitForFinished();

    QProcess forCurl;
    const double curl = recordWithCurl(startStation(forCurl, stationBinary(), options),
                                       home.path() + QStringLiteral("/curl.out"));
    forCurl.kill();
    forCurl.waitForFinished();

    const double mb = double(audio) / 1e6;
    std::printf("stream: %lld MB of audio, metadata every 16000 bytes, a title every 1 MB\n",
                static_cast<long long>(mb));
    std::printf("skyvane: %.0f MB/s (one file per song)\n", mb / skyvane);
    std::printf("curl:    %.0f MB/s (one file)\n", mb / curl);
    std::printf("ratio:   skyvane takes %.2fx the time of curl\n", skyvane / curl);
    return 0;
}
