#include "capture/icydemuxer.h"

#include <algorithm>

#include <QString>

#include "capture/stationheaders.h"

namespace {

// Without an announced interval, this much of the body is examined for an
// in-band status line and header fields before any of it counts as audio.
constexpr qsizetype sniffLength = 4096;

// The boundary of the next metadata block: the smallest positive multiple of
// the interval that is not below audioBytes + blockMark.
qint64 nextBoundary(qint64 audioBytes, qint32 blockMark, qint32 interval)
{
    const qint64 reached = audioBytes + blockMark;
    const qint64 blocks = std::max<qint64>(1, (reached + interval - 1) / interval);
    return blocks * interval;
}

// ASCII case-insensitive: the block is text in an ASCII-compatible encoding,
// whatever encoding its title is in.
bool namesStreamTitle(const QByteArray &block)
{
    return block.toLower().contains("streamtitle='");
}

} // namespace

void IcyDemuxer::setInterval(qint32 interval)
{
    m_interval = interval;
    if (interval > 0)
        m_held.clear();
}

IcyDemuxer::Result IcyDemuxer::feed(QByteArrayView bytes)
{
    if (m_interval != 0)
        return demultiplex(bytes);
    const qsizetype take = std::min(sniffLength - m_held.size(), bytes.size());
    m_held.append(bytes.first(take));
    bytes = bytes.sliced(take);
    if (m_held.size() < sniffLength)
        return Result::Ok;
    if (takeSniffedBody() == Result::LostSync)
        return Result::LostSync;
    return bytes.isEmpty() ? Result::Ok : demultiplex(bytes);
}

// The first 4096 body bytes of a response that announced no interval: either
// header lines sent inside the body after an "ICY" status line, or audio.
IcyDemuxer::Result IcyDemuxer::takeSniffedBody()
{
    m_interval = -1;
    // A copy that shares the bytes: demultiplexing reuses m_held for blocks,
    // and the audio handed on from it must outlive this call.
    m_sniffed = m_held;
    const QByteArray &sniffed = m_sniffed;
    const qsizetype headerEnd = sniffed.indexOf("\r\n\r\n");
    if (!sniffed.startsWith("ICY") || headerEnd < 0)
        return demultiplex(sniffed);
    const QByteArrayView head = QByteArrayView(sniffed).first(headerEnd + 2);
    // Read before the receiver hears of the head, so interval() already
    // answers for it.
    if (const auto interval =
            StationHeaders::fromInBandHead(QString::fromLatin1(head)).metaInterval)
        m_interval = *interval;
    m_receiver.inBandHeadReceived(head);
    return demultiplex(QByteArrayView(sniffed).sliced(headerEnd + 4));
}

IcyDemuxer::Result IcyDemuxer::demultiplex(QByteArrayView bytes)
{
    for (;;) {
        if (m_blockLeft > 0) {
            const qsizetype take = std::min<qsizetype>(bytes.size(), m_blockLeft);
            m_held.append(bytes.first(take));
            bytes = bytes.sliced(take);
            m_blockLeft -= qint32(take);
            if (m_blockLeft == 0 && finishBlock() == Result::LostSync)
                return Result::LostSync;
        }
        if (bytes.isEmpty())
            return Result::Ok;
        const qint64 run =
            m_interval < 0 ? bytes.size()
                           : std::min<qint64>(nextBoundary(m_audioBytes, m_blockMark, m_interval) -
                                                  m_audioBytes,
                                              bytes.size());
        if (run > 0) {
            m_receiver.audioReceived(bytes.first(run));
            bytes = bytes.sliced(run);
            m_audioBytes += run;
            m_blockMark = 0;
        }
        if (bytes.isEmpty())
            return Result::Ok;
        m_held.clear();
        m_blockLeft = qint32(static_cast<unsigned char>(bytes.front())) * 16;
        m_blockMark = 1;
        bytes = bytes.sliced(1);
    }
}

// A whole block is in m_held. It ends with one '\0' more than was sent, as
// the receiver has always had it.
IcyDemuxer::Result IcyDemuxer::finishBlock()
{
    m_held.append('\0');
    if (m_held == m_lastBlock)
        return Result::Ok;
    if (!namesStreamTitle(m_held))
        return Result::LostSync;
    const bool first = m_lastBlock.isEmpty();
    m_lastBlock = m_held;
    m_receiver.titleBlockReceived(m_held, first);
    return Result::Ok;
}
