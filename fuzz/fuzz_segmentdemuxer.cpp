// Reads one HLS segment, with or without an init section before it, and checks
// what must hold whatever the bytes: audio comes as whole frames of one codec
// that follow each other to its last byte, in time order, and every title lies
// at a frame's start. The sanitizers catch the rest, in libavformat's callers.
//
// Input: bytes 0 and 1, big-endian, are the length of the init section that
// begins the rest (0: none); the rest after it is the segment.
#include <cstdint>
#include <algorithm>
#include <cstdlib>

#include <QByteArray>
#include <QSet>

#include "audio/audioframe.h"
#include "hls/segmentdemuxer.h"

namespace {

void checkFrames(const SegmentAudio &audio)
{
    QSet<qint64> starts;
    qint64 lastMs = 0;
    for (qsizetype i = 0; i < audio.frames.size(); ++i) {
        const SegmentAudio::Frame &frame = audio.frames[i];
        const qint64 end =
            i + 1 < audio.frames.size() ? audio.frames[i + 1].offset : audio.audio.size();
        const std::optional<AudioFrame> header = AudioFrame::at(audio.audio, frame.offset);
        if ((i == 0 && frame.offset != 0) || !header || header->length != end - frame.offset ||
            header->aac != (audio.codec == u"AAC") || frame.timeMs < lastMs)
            std::abort();
        lastMs = frame.timeMs;
        starts.insert(frame.offset);
    }
    for (const SegmentAudio::Title &title : audio.titles) {
        if (!starts.contains(title.offset) && title.offset != audio.audio.size())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const QByteArrayView rest(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2));
    const qsizetype initSize = std::min<qsizetype>(rest.size(), data[0] << 8 | data[1]);
    const SegmentAudio audio = SegmentDemuxer::demux(rest.sliced(initSize), rest.first(initSize));
    if (audio.audio.isEmpty() != audio.frames.isEmpty() ||
        (audio.audio.isEmpty() && audio.error.isEmpty()))
        std::abort();
    checkFrames(audio);
    return 0;
}
