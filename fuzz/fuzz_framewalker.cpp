// Walks one stream's MP3 or ADTS frames twice, whole and in chunks, and checks
// what must hold whatever the bytes: every frame handed on is whole, with a
// header that says so; frames, skipped bytes and held bytes add up to the
// input; and any chunking finds the same frames. The sanitizers catch the rest.
//
// Input: byte 0 seeds the chunk sizes; the rest is the stream.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>

#include "capture/framewalker.h"

namespace {

struct Frames final : FrameWalker::Receiver
{
    FrameWalker walker{*this};
    QByteArray frames;
    qint64 skipped = 0;

    void frameFound(QByteArrayView frame, const AudioFrame &header) override
    {
        const std::optional<AudioFrame> found = AudioFrame::at(frame, 0);
        if (!found || found->length != frame.size() || header.length != frame.size() ||
            header.durationUs() <= 0)
            std::abort();
        frames += frame;
    }
    void bytesSkipped(qint64 count, bool) override
    {
        if (count <= 0)
            std::abort();
        skipped += count;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    Frames whole;
    whole.walker.feed(stream);
    Frames chunked;
    unsigned seed = data[0];
    for (qsizetype at = 0, length = 0; at < stream.size(); at += length) {
        seed = seed * 1103515245u + 12345u;
        length = std::min<qsizetype>(stream.size() - at, 1 + (seed >> 16) % 2048);
        chunked.walker.feed(stream.sliced(at, length));
    }
    for (const Frames *walk : {&whole, &chunked}) {
        // Bytes skipped are told once a frame follows them, so a tail of junk is in none.
        if (walk->frames.size() + walk->skipped + walk->walker.heldBytes() > stream.size())
            std::abort();
    }
    if (chunked.frames != whole.frames)
        std::abort();
    return 0;
}
