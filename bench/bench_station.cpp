// A station for the benchmarks, in a process of its own so that serving the
// stream does not share a core with the recorder being measured. Prints its
// port, then serves /live until killed.
//
//   bench_station [--metaint N] [--title-every N] [--close-after N] [--rate BYTES_PER_S]
//                 [--writes N]   (writes per second of a throttled stream)
//   bench_station --hls packed|ts|fmp4
//                 (a live HLS station at /live.m3u8: a segment of 64 kbit/s AAC a
//                 second, a new title every 30 s, for 10 minutes; needs ffmpeg)
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "audiofixtures.h"
#include "hlsstation.h"
#include "stationsimulator.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption metaint(QStringLiteral("metaint"), QStringLiteral("bytes"),
                                     QStringLiteral("n"), QStringLiteral("16000"));
    const QCommandLineOption titleEvery(QStringLiteral("title-every"), QStringLiteral("bytes"),
                                        QStringLiteral("n"), QStringLiteral("1000000"));
    const QCommandLineOption closeAfter(QStringLiteral("close-after"), QStringLiteral("bytes"),
                                        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("bytes per second"),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption writes(QStringLiteral("writes"), QStringLiteral("writes per second"),
                                    QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption hls(QStringLiteral("hls"), QStringLiteral("segment kind"),
                                 QStringLiteral("kind"));
    parser.addOptions({metaint, titleEvery, closeAfter, rate, writes, hls});
    parser.process(app);

    StationSimulator::Route route = StationSimulator::Route::stream(
        QByteArrayLiteral("ICY 200 OK"), parser.value(metaint).toLongLong());
    for (int i = 0; i < 1000; ++i)
        route.titles.append("Bench Artist - Song " + QByteArray::number(i));
    route.titleInterval = parser.value(titleEvery).toLongLong();
    route.bytesPerSecond = parser.value(rate).toLongLong();
    route.writesPerSecond = parser.value(writes).toInt();
    if (const qint64 close = parser.value(closeAfter).toLongLong(); close > 0)
        route.closeAfterAudio = close;

    StationSimulator station;
    if (!station.start())
        return 1;
    station.setRoute("/live", route);
    std::unique_ptr<HlsStation> live;
    if (parser.isSet(hls)) {
        QList<AudioFixtures::Song> songs;
        QList<QByteArray> titles;
        for (int i = 0; i < 20; ++i) {
            songs.append(AudioFixtures::Song{29});
            titles.append("Bench Artist - Song " + QByteArray::number(i));
        }
        const QString kind = parser.value(hls);
        live = std::make_unique<HlsStation>(
            station, QByteArray(),
            kind == u"ts"     ? HlsStation::Kind::TransportStream
            : kind == u"fmp4" ? HlsStation::Kind::Mp4
                              : HlsStation::Kind::Packed,
            HlsStation::ExtinfTitles, AudioFixtures::programme(AudioFixtures::Codec::Aac, songs),
            titles, 30, 1000);
        if (!live->isValid())
            return 1;
    }
    std::printf("%u\n", unsigned(station.port()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
