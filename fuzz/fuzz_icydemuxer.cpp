// Feeds the demultiplexer one station body twice, whole and in chunks, and
// checks that both give the same calls: any chunking of the same bytes must
// (audio runs aside) tell the same story. The sanitizers catch the rest.
//
// Input: byte 0 picks the interval (0: examine the body, 1: no metadata,
// otherwise a small interval), byte 1 seeds the chunk sizes, the rest is
// the body.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QList>

#include "capture/icydemuxer.h"

namespace {

struct Calls : IcyDemuxer::Receiver
{
    QByteArray audio;
    QList<QByteArray> heads;
    QList<QByteArray> blocks;
    bool lostSync = false;

    void audioReceived(QByteArrayView bytes) override { audio += bytes; }
    void inBandHeadReceived(QByteArrayView head) override { heads.append(head.toByteArray()); }
    void titleBlockReceived(QByteArrayView block, bool first) override
    {
        blocks.append(block.toByteArray() + (first ? "|first" : "|later"));
    }
};

qint32 intervalFor(std::uint8_t choice)
{
    if (choice == 0)
        return 0;
    return choice == 1 ? -1 : choice * 7;
}

// Feeds the body in pieces of 1..seed bytes (all of it at once for seed 0);
// stops at lost sync, which drops the rest of its chunk.
Calls run(QByteArrayView body, qint32 interval, std::uint8_t seed)
{
    Calls calls;
    IcyDemuxer demuxer(calls);
    if (interval != 0)
        demuxer.setInterval(interval);
    unsigned next = seed;
    for (qsizetype at = 0; at < body.size() && !calls.lostSync;) {
        next = next * 1103515245u + 12345u;
        const qsizetype size = seed == 0
                                   ? body.size()
                                   : std::min<qsizetype>(1 + (next >> 16) % seed, body.size() - at);
        calls.lostSync = demuxer.feed(body.sliced(at, size)) == IcyDemuxer::Result::LostSync;
        at += size;
    }
    if (demuxer.audioBytes() != calls.audio.size())
        std::abort();
    return calls;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const qint32 interval = intervalFor(data[0]);
    const QByteArrayView body(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const Calls whole = run(body, interval, 0);
    const Calls chunked = run(body, interval, data[1]);
    // Lost sync drops the rest of a chunk: only what came before it compares.
    if (whole.lostSync || chunked.lostSync)
        return 0;
    if (whole.audio != chunked.audio || whole.heads != chunked.heads ||
        whole.blocks != chunked.blocks)
        std::abort();
    return 0;
}
