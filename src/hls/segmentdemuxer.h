#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The audio of one HLS segment as a stream of whole frames a player opens and
// the song cutter walks: ADTS AAC or MPEG audio. Packed audio (an ID3 tag,
// then ADTS or MP3 frames) is read here; MPEG-TS and fragmented MP4 (with
// their init section) through FFmpeg's libavformat. fMP4's raw AAC gets ADTS
// headers from its decoder configuration.
struct SegmentAudio
{
    enum class Container { Packed, TransportStream, Mp4 };

    Container container = Container::Packed;
    QString codec;    // "AAC" or "MP3"
    QByteArray audio; // whole frames only
    // Where each frame of `audio` begins, with its time from the segment's
    // first frame, in order: a title timed inside the segment is cut there.
    struct Frame
    {
        qint64 offset = 0;
        qint64 timeMs = 0;
    };
    QList<Frame> frames;
    // Titles from ID3 tags in the segment (at its start for packed audio, at
    // their presentation time for MPEG-TS timed metadata).
    struct Title
    {
        qint64 offset = 0; // in `audio`, at a frame's start
        QString title;
    };
    QList<Title> titles;
    QString error; // why there is no audio, when `audio` is empty

    // The offset of the first frame at or after timeMs; audio.size() past the end.
    qint64 offsetAt(qint64 timeMs) const;

    static QString containerName(Container container); // "packed audio", "MPEG-TS", "fMP4"
};

namespace SegmentDemuxer {

// A segment is demultiplexed alone (an fMP4 one with its init section), so a
// broken one costs only its own audio. Segments past maxBytes are refused.
constexpr qsizetype maxBytes = 64 * 1024 * 1024;
SegmentAudio demux(QByteArrayView segment, QByteArrayView initSection = {});

} // namespace SegmentDemuxer
