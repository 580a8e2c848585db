#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Real encoded audio for the tests and benchmarks, made by the ffmpeg command
// (its encoders are the ones stations use). Each song is a tone of its own
// pitch; songs are separated by digital silence, so where a cut lands can be
// told from the audio alone.
namespace AudioFixtures {

enum class Codec { Mp3, Aac, Vorbis, Opus };

struct Song
{
    double seconds = 5;
    QString artist{};
    QString title{}; // written as comments into Ogg streams
};

// The songs with gapSeconds of silence between them (none before the first
// or after the last), as one stream: MP3 at 128 kbit/s without a tag, ADTS
// AAC, or Ogg. Ogg songs are chained, one logical stream each, as Icecast
// passes on a source that starts a new stream at every song. Empty when
// ffmpeg failed.
QByteArray programme(Codec codec, const QList<Song> &songs, double gapSeconds = 1.0);

enum class Segment { TsAac, TsMp3, Mp4Aac };

// One HLS segment of a tone lasting `seconds`, by ffmpeg's muxers: MPEG-TS
// with AAC or MP3, or fMP4 with AAC and its init section in *init. An MPEG-TS
// segment carries `timedTag` as timed ID3 one second in, as HLS packagers
// mark it. Empty when ffmpeg failed.
QByteArray hlsSegment(Segment kind, double seconds, QByteArray *init = nullptr,
                      const QByteArray &timedTag = {});

// The audio's playing time by ffmpeg's own decoder, in milliseconds, or -1
// when the bytes do not decode cleanly from the first to the last byte.
qint64 decodedMs(const QByteArray &bytes);

} // namespace AudioFixtures
