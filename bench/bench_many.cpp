// Many at once: N stations at 16,000 bytes/s each (a 128 kbit/s station),
// recorded by one headless Skyvane process for a while, each into a file of its
// own (named by date, as a station without titles is); reports its CPU use and
// memory (resident, and anonymous: the heap and stacks, which the libraries
// shared with other processes do not blur), and the memory each capture adds
// (from a run with one).
// Each station writes WRITES times a second: the cost is per arrival, so the
// figure depends on how finely a station cuts its stream.
//
//   bench_many [CAPTURES] [SECONDS] [WRITES]   (default 200, 60 and 50)
//   bench_many CAPTURES SECONDS hls-packed|hls-ts|hls-fmp4
//     the same over HLS: a station of 64 kbit/s AAC in segments of a second, a
//     new title every 30 s, each capture split into songs
#include <csignal>
#include <cstdio>

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTime>

#include "processcpu.h"
#include "stationprocess.h"

namespace {

struct Usage
{
    double cpuSeconds = 0;
    qint64 residentKiB = 0;
    qint64 anonymousKiB = 0;
};

qint64 kibOf(const QByteArray &line, int nameLength)
{
    return line.mid(nameLength).trimmed().split(' ').value(0).toLongLong();
}

Usage usageOf(qint64 pid)
{
    Usage usage;
    usage.cpuSeconds = processCpuSeconds(pid);
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                usage.residentKiB = kibOf(line, 6);
        }
    }
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : rollup.readAll().split('\n')) {
            if (line.startsWith("Anonymous:"))
                usage.anonymousKiB = kibOf(line, 10);
        }
    }
    return usage;
}

void writeList(const QString &dataHome, const QString &url, int captures, bool split)
{
    // Due in the current minute, so every capture starts at once.
    while (QTime::currentTime().second() >= 50)
        QThread::msleep(500);
    const int minute = QTime::currentTime().hour() * 60 + QTime::currentTime().minute();
    QJsonArray rows;
    for (int i = 0; i < captures; ++i) {
        QJsonObject row;
        row.insert(QStringLiteral("name"), QStringLiteral("Station %1").arg(i));
        row.insert(QStringLiteral("url"), url);
        row.insert(QStringLiteral("daily"), true);
        row.insert(QStringLiteral("startTime"), minute);
        row.insert(QStringLiteral("duration"), 24 * 60);
        // Split at titles, a capture would write nothing before the station's
        // first title, a megabyte (a minute) in.
        row.insert(QStringLiteral("splitSongs"), split);
        row.insert(QStringLiteral("playList"), QString());
        rows.append(row);
    }
    QDir().mkpath(dataHome);
    QFile file(dataHome + QStringLiteral("/Skyvane.reclist"));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QJsonDocument(rows).toJson());
}

struct Result
{
    double cpuPercent = 0;
    qint64 residentKiB = 0;
    qint64 anonymousKiB = 0;
};

// Runs the captures and answers the process's load over the measured span,
// after a few seconds for every capture to connect.
Result run(int captures, int seconds, const QString &writes)
{
    QTemporaryDir home(QDir::currentPath() + QStringLiteral("/bench-home-XXXXXX"));
    QProcess station;
    const bool hls = writes.startsWith(u"hls-");
    QString url = startStation(station, QStringLiteral(STATION_BINARY),
                               hls ? QStringList{QStringLiteral("--hls"), writes.mid(4)}
                                   : QStringList{QStringLiteral("--rate"), QStringLiteral("16000"),
                                                 QStringLiteral("--writes"), writes});
    if (hls)
        url += QStringLiteral(".m3u8");
    writeList(home.path() + QStringLiteral("/data"), url, captures, hls);

    QProcess skyvane;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
    skyvane.setProcessEnvironment(env);
    skyvane.setStandardOutputFile(QProcess::nullDevice());
    skyvane.start(QStringLiteral(SKYVANE_BINARY), {QStringLiteral("--headless")});
    skyvane.waitForStarted();
    QThread::sleep(5);
    const Usage before = usageOf(skyvane.processId());
    QThread::sleep(unsigned(seconds));
    const Usage after = usageOf(skyvane.processId());
    ::kill(pid_t(skyvane.processId()), SIGTERM);
    skyvane.waitForFinished(30000);
    station.kill();
    station.waitForFinished();
    return {(after.cpuSeconds - before.cpuSeconds) / seconds * 100.0, after.residentKiB,
            after.anonymousKiB};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int captures = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    const int seconds = argc > 2 ? QByteArray(argv[2]).toInt() : 60;
    const QString writes = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("50");
    const Result one = run(1, seconds, writes);
    const Result many = run(captures, seconds, writes);
    if (writes.startsWith(u"hls-"))
        std::printf("HLS stations (%s segments), 8000 bytes/s, split into songs\n",
                    qPrintable(writes.mid(4)));
    else
        std::printf("stations at 16000 bytes/s, each cut into %s writes a second\n",
                    qPrintable(writes));
    std::printf("1 capture:    %.1f %% of one core, %lld KiB resident, %lld KiB anonymous\n",
                one.cpuPercent, static_cast<long long>(one.residentKiB),
                static_cast<long long>(one.anonymousKiB));
    std::printf("%d captures: %.1f %% of one core, %lld KiB resident, %lld KiB anonymous\n",
                captures, many.cpuPercent, static_cast<long long>(many.residentKiB),
                static_cast<long long>(many.anonymousKiB));
    std::printf("memory per capture: %.1f KiB resident, %.1f KiB anonymous\n",
                double(many.residentKiB - one.residentKiB) / (captures - 1),
                double(many.anonymousKiB - one.anonymousKiB) / (captures - 1));
    return 0;
}
