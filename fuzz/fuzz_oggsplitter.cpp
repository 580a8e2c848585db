// Feeds the Ogg splitter one stream twice, whole and in chunks, and checks
// that both give the same calls: any chunking of the same bytes must (runs of
// pages aside) tell the same story. The sanitizers catch the rest.
//
// Input: byte 0 seeds the chunk sizes (its low 7 bits) and, with its top bit
// set, asks for every page the stream outlines to get its right CRC, so that
// mutations reach the headers and packets behind the check. The rest is the
// stream.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QList>
#include <QString>

#include "capture/oggsplitter.h"

namespace {

struct Calls final : OggSplitter::Receiver
{
    OggSplitter splitter{*this};
    QStringList calls; // streams begun (with the playing time of the one before) and resyncs
    QList<QByteArray> streams{QByteArray()};
    qint64 skipped = 0;

    void oggStreamBegins(const QString &title, const QString &codec) override
    {
        calls.append(QString::number(splitter.playingMs()) + u'|' + codec + u'|' + title);
        streams.append(QByteArray());
    }
    void oggPages(QByteArrayView pages) override { streams.last() += pages; }
    void oggResynced(qint64 bytes) override
    {
        if (bytes <= 0)
            std::abort();
        skipped += bytes;
        calls.append(QString::number(bytes));
    }
};

// Ogg's CRC-32, bit by bit: no table shared with the splitter.
quint32 crcOf(QByteArrayView bytes)
{
    quint32 crc = 0;
    for (const char c : bytes) {
        crc ^= quint32(quint8(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04c11db7u : crc << 1;
    }
    return crc;
}

void repairCrcs(QByteArray &stream)
{
    for (qsizetype at = stream.indexOf("OggS"); at >= 0 && at + 27 <= stream.size();
         at = stream.indexOf("OggS", at + 1)) {
        const qsizetype segments = quint8(stream[at + 26]);
        qsizetype length = 27 + segments;
        for (qsizetype i = 0; i < segments && at + length <= stream.size(); ++i)
            length += quint8(stream[at + 27 + i]);
        if (at + length > stream.size())
            return;
        stream.replace(at + 22, 4, QByteArray(4, '\0'));
        const quint32 crc = crcOf(QByteArrayView(stream).sliced(at, length));
        for (int i = 0; i < 4; ++i)
            stream[at + 22 + i] = char(crc >> (8 * i));
        at += length - 1;
    }
}

// Feeds the stream in pieces of 1..seed bytes (all of it at once for seed 0).
void run(Calls &calls, QByteArrayView stream, std::uint8_t seed)
{
    unsigned next = seed;
    for (qsizetype at = 0; at < stream.size();) {
        next = next * 1103515245u + 12345u;
        const qsizetype size =
            seed == 0 ? stream.size()
                      : std::min<qsizetype>(1 + (next >> 16) % seed, stream.size() - at);
        calls.splitter.feed(stream.sliced(at, size));
        at += size;
    }
    calls.calls.append(QString::number(calls.splitter.playingMs()));
    qint64 given = 0;
    for (const QByteArray &bytes : calls.streams)
        given += bytes.size();
    if (given + calls.skipped > stream.size() || !calls.streams.first().isEmpty())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    QByteArray stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] & 0x80)
        repairCrcs(stream);
    Calls whole;
    Calls chunked;
    run(whole, stream, 0);
    run(chunked, stream, data[0] & 0x7f);
    if (whole.calls != chunked.calls || whole.streams != chunked.streams)
        std::abort();
    return 0;
}
