#include "audiofixtures.h"

#include <span>

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace AudioFixtures {

namespace {

QStringList encoderArguments(Codec codec)
{
    switch (codec) {
    case Codec::Mp3:
        return {u"-c:a"_s, u"libmp3lame"_s,     u"-b:a"_s, u"128k"_s, u"-write_xing"_s,
                u"0"_s,    u"-id3v2_version"_s, u"0"_s,    u"-f"_s,   u"mp3"_s};
    case Codec::Aac:
        return {u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"64k"_s, u"-f"_s, u"adts"_s};
    case Codec::Vorbis:
        return {u"-c:a"_s, u"libvorbis"_s, u"-b:a"_s, u"64k"_s, u"-f"_s, u"ogg"_s};
    case Codec::Opus:
        return {u"-c:a"_s, u"libopus"_s, u"-b:a"_s, u"48k"_s, u"-f"_s, u"ogg"_s};
    }
    return {};
}

QByteArray runFfmpeg(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{u"-v"_s, u"error"_s, u"-nostdin"_s} + arguments);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
    return ffmpeg.exitCode() == 0 ? ffmpeg.readAllStandardOutput() : QByteArray();
}

// Songs `first`... in one stream: song i a tone of 330 Hz + 110 Hz * i, each
// but the programme's first after the gap. Tags from the first song.
QByteArray encode(Codec codec, std::span<const Song> songs, qsizetype first, double gapSeconds)
{
    QStringList arguments;
    QString graph;
    for (qsizetype i = 0; i < qsizetype(songs.size()); ++i) {
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s
                  << QStringLiteral("sine=f=%1:r=44100:d=%2")
                         .arg(330 + 110 * (first + i))
                         .arg(songs[i].seconds);
        graph += QStringLiteral("[%1]adelay=%2[s%1];")
                     .arg(i)
                     .arg(first + i > 0 ? qRound(gapSeconds * 1000) : 0);
    }
    for (qsizetype i = 0; i < qsizetype(songs.size()); ++i)
        graph += QStringLiteral("[s%1]").arg(i);
    arguments << u"-filter_complex"_s
              << graph + QStringLiteral("concat=n=%1:v=0:a=1").arg(songs.size()) << u"-ac"_s
              << u"1"_s << u"-metadata"_s << u"artist="_s + songs[0].artist << u"-metadata"_s
              << u"title="_s + songs[0].title;
    return runFfmpeg(arguments + encoderArguments(codec) + QStringList{u"-"_s});
}

} // namespace

QByteArray programme(Codec codec, const QList<Song> &songs, double gapSeconds)
{
    if (codec != Codec::Vorbis && codec != Codec::Opus)
        return encode(codec, songs, 0, gapSeconds);
    // Each song a logical stream of its own, its comments in its header.
    QByteArray chain;
    for (qsizetype i = 0; i < songs.size(); ++i) {
        const QByteArray stream =
            encode(codec, std::span<const Song>(songs).subspan(size_t(i), 1), i, gapSeconds);
        if (stream.isEmpty())
            return {};
        chain += stream;
    }
    return chain;
}

qint64 decodedMs(const QByteArray &bytes)
{
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return -1;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {u"-v"_s, u"error"_s, u"-nostdin"_s, u"-xerror"_s, u"-err_detect"_s,
                  u"crccheck+bitstream+buffer"_s, u"-i"_s, file.fileName(), u"-f"_s, u"s16le"_s,
                  u"-ac"_s, u"1"_s, u"-ar"_s, u"48000"_s, u"-"_s});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0 ||
        !ffmpeg.readAllStandardError().isEmpty())
        return -1;
    return ffmpeg.readAllStandardOutput().size() / 2 / 48;
}

} // namespace AudioFixtures
