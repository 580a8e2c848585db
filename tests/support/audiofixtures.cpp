#include "audiofixtures.h"

#include <span>

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include "testfiles.h"

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

// MPEG-2's CRC-32, which PSI sections end with.
quint32 sectionCrc(QByteArrayView bytes)
{
    quint32 crc = 0xffffffff;
    for (const char byte : bytes) {
        crc ^= quint32(quint8(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 0x80000000 ? crc << 1 ^ 0x04c11db7 : crc << 1;
    }
    return crc;
}

// ffmpeg muxes a data stream (PID 0x101) as private data. HLS packagers give
// timed ID3 stream type 0x15 with a metadata descriptor for "ID3 " in the PMT
// (PID 0x1000, one packet), and private stream 1 in its PES headers.
void markTimedId3(QByteArray &ts)
{
    const QByteArray descriptor = QByteArray::fromHex("260affff49443320ff49443320");
    for (qsizetype at = 0; at + 188 <= ts.size(); at += 188) {
        const int pid = (ts[at + 1] & 0x1f) << 8 | quint8(ts[at + 2]);
        if (pid == 0x1000) {
            QByteArray section = ts.mid(at + 5, 3 + quint8(ts[at + 7]) - 4);
            const qsizetype entry = section.indexOf(QByteArray::fromHex("06e101f000"));
            section[entry] = 0x15;
            section[entry + 4] = char(descriptor.size());
            section.insert(entry + 5, descriptor);
            section[2] = char(section.size() + 4 - 3);
            const quint32 crc = sectionCrc(section);
            for (int shift : {24, 16, 8, 0})
                section += char(crc >> shift);
            ts.replace(at + 5, section.size(), section);
        } else if (pid == 0x101 && (ts[at + 1] & 0x40)) {
            ts[ts.indexOf(QByteArray::fromHex("000001fc"), at) + 3] = char(0xbd);
        }
    }
}

} // namespace

QByteArray hlsSegment(Segment kind, double seconds, QByteArray *init, const QByteArray &timedTag)
{
    const QTemporaryDir folder;
    QStringList arguments{u"-f"_s, u"lavfi"_s, u"-i"_s,
                          QStringLiteral("sine=f=440:r=44100:d=%1").arg(seconds)};
    // The data reader passes 1024 bytes a packet: the tag is the second,
    // timed at one second.
    if (!timedTag.isEmpty())
        arguments << u"-f"_s << u"data"_s << u"-i"_s
                  << writeFile(folder.filePath(u"tag"_s), QByteArray(1024, '\0') + timedTag)
                  << u"-map"_s << u"0:a"_s << u"-map"_s << u"1:d"_s << u"-c:d"_s << u"copy"_s
                  << u"-bsf:d"_s << u"setts=ts=N/TB"_s;
    arguments << u"-c:a"_s << (kind == Segment::TsMp3 ? u"libmp3lame"_s : u"aac"_s) << u"-b:a"_s
              << u"64k"_s << u"-ac"_s << u"1"_s;
    if (kind == Segment::Mp4Aac) {
        runFfmpeg(arguments + QStringList{u"-f"_s, u"hls"_s, u"-hls_time"_s, u"60"_s,
                                          u"-hls_segment_type"_s, u"fmp4"_s,
                                          folder.filePath(u"s.m3u8"_s)});
        if (init)
            *init = fileContents(folder.filePath(u"init.mp4"_s));
        return fileContents(folder.filePath(u"s0.m4s"_s));
    }
    QByteArray ts = runFfmpeg(arguments + QStringList{u"-f"_s, u"mpegts"_s, u"-"_s});
    if (!timedTag.isEmpty())
        markTimedId3(ts);
    return ts;
}

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
