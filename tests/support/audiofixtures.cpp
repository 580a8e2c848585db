#include "audiofixtures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryFile>

namespace AudioFixtures {

namespace {

QStringList encoderArguments(Codec codec)
{
    switch (codec) {
    case Codec::Mp3:
        return {"-c:a", "libmp3lame",     "-b:a", "128k", "-write_xing",
                "0",    "-id3v2_version", "0",    "-f",   "mp3"};
    case Codec::Aac:
        return {"-c:a", "aac", "-b:a", "64k", "-f", "adts"};
    case Codec::Vorbis:
        return {"-c:a", "libvorbis", "-b:a", "64k", "-f", "ogg"};
    case Codec::Opus:
        return {"-c:a", "libopus", "-b:a", "48k", "-f", "ogg"};
    }
    return {};
}

QByteArray runFfmpeg(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-nostdin"} + arguments);
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
            arguments << "-f"
                      << "lavfi"
                      << "-i" << QStringLiteral("anullsrc=r=44100:cl=mono:d=%1").arg(gapSeconds);
            graph += QStringLiteral("[%1]").arg(inputs++);
        }
        arguments
            << "-f"
            << "lavfi"
            << "-i"
            << QStringLiteral("sine=f=%1:r=44100:d=%2").arg(330 + 110 * i).arg(songSeconds[i]);
        graph += QStringLiteral("[%1]").arg(inputs++);
    }
    graph += QStringLiteral("concat=n=%1:v=0:a=1").arg(inputs);
    arguments << "-filter_complex" << graph << "-ac"
              << "1";
    return runFfmpeg(arguments + encoderArguments(codec) + QStringList{"-"});
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
            << "-f"
            << "lavfi"
            << "-i"
            << QStringLiteral("sine=f=%1:r=44100:d=%2").arg(330 + 110 * i).arg(songs[i].seconds)
            << "-af" << QStringLiteral("adelay=%1").arg(qRound(lead * 1000)) << "-ac"
            << "1"
            << "-metadata" << QStringLiteral("artist=%1").arg(songs[i].artist) << "-metadata"
            << QStringLiteral("title=%1").arg(songs[i].title);
        const QByteArray stream = runFfmpeg(arguments + encoderArguments(codec) + QStringList{"-"});
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
                 {"-v", "error", "-nostdin", "-xerror", "-err_detect", "crccheck+bitstream+buffer",
                  "-i", file.fileName(), "-f", "s16le", "-ac", "1", "-ar", "48000", "-"});
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0 ||
        !ffmpeg.readAllStandardError().isEmpty())
        return -1;
    return ffmpeg.readAllStandardOutput().size() / 2 / 48;
}

} // namespace AudioFixtures
