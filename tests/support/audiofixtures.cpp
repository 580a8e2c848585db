#include "audiofixtures.h"

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
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitStatus() != QProcess::NormalExit ||
        ffmpeg.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", ffmpeg.readAllStandardError().constData());
        return {};
    }
    return ffmpeg.readAllStandardOutput();
}

// Tones and silences in one filter graph: song i at 330 Hz + 110 Hz * i.
QByteArray encode(Codec codec, const QList<double> &songSeconds, double gapSeconds)
{
    QStringList arguments;
    QString graph;
    int inputs = 0;
    for (qsizetype i = 0; i < songSeconds.size(); ++i) {
        if (i > 0 && gapSeconds > 0) {
            arguments << u"-f"_s << u"lavfi"_s << u"-i"_s
                      << QStringLiteral("anullsrc=r=44100:cl=mono:d=%1").arg(gapSeconds);
            graph += QStringLiteral("[%1]").arg(inputs++);
        }
        arguments
            << u"-f"_s << u"lavfi"_s << u"-i"_s
            << QStringLiteral("sine=f=%1:r=44100:d=%2").arg(330 + 110 * i).arg(songSeconds[i]);
        graph += QStringLiteral("[%1]").arg(inputs++);
    }
    graph += QStringLiteral("concat=n=%1:v=0:a=1").arg(inputs);
    arguments << u"-filter_complex"_s << graph << u"-ac"_s << u"1"_s;
    return runFfmpeg(arguments + encoderArguments(codec) + QStringList{u"-"_s});
}

} // namespace

QByteArray programme(Codec codec, const QList<Song> &songs, double gapSeconds)
{
    if (codec != Codec::Vorbis && codec != Codec::Opus) {
        QList<double> seconds;
        for (const Song &song : songs)
            seconds.append(song.seconds);
        return encode(codec, seconds, gapSeconds);
    }
    // Each song a logical stream of its own, its comments in its header.
    QByteArray chain;
    for (qsizetype i = 0; i < songs.size(); ++i) {
        QStringList arguments;
        const double lead = i > 0 ? gapSeconds : 0;
        arguments
            << u"-f"_s << u"lavfi"_s << u"-i"_s
            << QStringLiteral("sine=f=%1:r=44100:d=%2").arg(330 + 110 * i).arg(songs[i].seconds)
            << u"-af"_s << QStringLiteral("adelay=%1").arg(qRound(lead * 1000)) << u"-ac"_s
            << u"1"_s << u"-metadata"_s << QStringLiteral("artist=%1").arg(songs[i].artist)
            << u"-metadata"_s << QStringLiteral("title=%1").arg(songs[i].title);
        const QByteArray stream =
            runFfmpeg(arguments + encoderArguments(codec) + QStringList{u"-"_s});
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
