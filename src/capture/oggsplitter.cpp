#include "capture/oggsplitter.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "capture/vorbiscomments.h"

namespace {

constexpr qsizetype headerSize = 27; // the page header before its segment table
constexpr qsizetype holdLimit = 256 * 1024;
constexpr QByteArrayView capturePattern("OggS");

// Ogg's CRC-32: polynomial 0x04c11db7, no reflection, initial value 0.
constexpr std::array<quint32, 256> crcTable = [] {
    std::array<quint32, 256> table{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04c11db7u : r << 1;
        table[i] = r;
    }
    return table;
}();

quint32 crcUpdate(quint32 crc, QByteArrayView bytes)
{
    for (const char c : bytes)
        crc = (crc << 8) ^ crcTable[((crc >> 24) ^ static_cast<quint8>(c)) & 0xff];
    return crc;
}

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

quint64 littleEndianAt(QByteArrayView bytes, qsizetype at, int size)
{
    quint64 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | byteAt(bytes, at + i);
    return value;
}

// The page at the start of `data`: its length when it is a valid page, 0
// when it is not one, or minus the count of bytes still needed to tell.
qsizetype pageAt(QByteArrayView data)
{
    const qsizetype seen = std::min(data.size(), capturePattern.size());
    if (data.first(seen) != capturePattern.first(seen))
        return 0;
    if (data.size() < headerSize)
        return data.size() - headerSize;
    if (byteAt(data, 4) != 0 || (byteAt(data, 5) & ~7) != 0) // version 0, known flags
        return 0;
    const qsizetype segments = byteAt(data, 26);
    if (data.size() < headerSize + segments)
        return data.size() - headerSize - segments;
    qsizetype length = headerSize + segments;
    for (qsizetype i = 0; i < segments; ++i)
        length += byteAt(data, headerSize + i);
    if (data.size() < length)
        return data.size() - length;
    quint32 crc = crcUpdate(0, data.first(22));
    crc = crcUpdate(crc, QByteArrayView("\0\0\0\0", 4));
    crc = crcUpdate(crc, data.sliced(headerSize - 1, length - headerSize + 1));
    return crc == littleEndianAt(data, 22, 4) ? length : 0;
}

QByteArrayView bodyOf(QByteArrayView page)
{
    return page.sliced(headerSize + byteAt(page, 26));
}

// "ARTIST - TITLE" from a comment header packet: its codec's marker, then
// the comment block. "" when it is cut short or names neither.
QString commentTitle(QByteArrayView packet, const QString &codec)
{
    qsizetype at = 0;
    if (codec == u"Ogg Vorbis" && packet.startsWith("\x03vorbis"))
        at = 7;
    else if (codec == u"Ogg Opus" && packet.startsWith("OpusTags"))
        at = 8;
    else if (codec == u"Ogg FLAC" && !packet.isEmpty() && (byteAt(packet, 0) & 0x7f) == 4)
        at = 4; // a VORBIS_COMMENT metadata block after its block header
    else
        return {};
    return VorbisComments::title(packet.sliced(at)).value_or(QString());
}

} // namespace

void OggSplitter::feed(QByteArrayView bytes)
{
    m_kept.clear();
    // An undecided tail takes just the bytes it needs, so that whole pages
    // in the new bytes are given out without a copy.
    while (!m_carry.isEmpty() && !bytes.isEmpty()) {
        const qsizetype take = std::min(-pageAt(m_carry), bytes.size());
        m_carry.append(bytes.first(take));
        bytes = bytes.sliced(take);
        QByteArray source = std::exchange(m_carry, {});
        const qsizetype used = split(source);
        flushRun();
        if (used == 0) {
            m_carry = std::move(source);
        } else {
            m_carry = source.sliced(used);
            m_kept.append(std::move(source));
        }
    }
    if (m_carry.isEmpty())
        m_carry = bytes.sliced(split(bytes)).toByteArray();
    flushRun();
}

void OggSplitter::finish()
{
    m_kept.clear();
    if (m_state == State::Holding)
        begin(QString());
    m_carry.clear();
}

qint64 OggSplitter::playingMs() const
{
    const Granules &g = m_current;
    if (g.rate <= 0 || g.first < 0 || g.last <= g.first)
        return 0;
    const qint64 samples = g.last - g.first;
    return samples / g.rate * 1000 + samples % g.rate * 1000 / g.rate;
}

// Takes the valid pages of `data` and skips what lies between them; returns
// the bytes used, short of a tail that needs more bytes to be told.
qsizetype OggSplitter::split(QByteArrayView data)
{
    qsizetype at = 0;
    while (at < data.size()) {
        const qsizetype length = pageAt(data.sliced(at));
        if (length < 0)
            return at;
        if (length == 0) {
            qsizetype next = data.indexOf(capturePattern, at + 1);
            if (next < 0) // the last bytes may begin a capture pattern
                next = std::max(at + 1, data.size() - capturePattern.size() + 1);
            m_skipped += next - at;
            at = next;
            continue;
        }
        if (m_skipped > 0) {
            flushRun();
            m_receiver.oggResynced(std::exchange(m_skipped, 0));
        }
        takePage(data.sliced(at, length));
        at += length;
    }
    return at;
}

void OggSplitter::takePage(QByteArrayView page)
{
    const bool bos = byteAt(page, 5) & 2;
    if (bos && !(m_state == State::Holding && m_onlyBos)) {
        if (m_state == State::Holding)
            begin(QString()); // its comment header never came whole
        m_state = State::Holding;
        m_onlyBos = true;
        m_codec.clear();
    }
    const quint32 serial = quint32(littleEndianAt(page, 14, 4));
    if (m_state == State::Waiting) { // joined mid-stream: there are no headers to wait for
        m_serial = serial;
        m_codec = QStringLiteral("Ogg");
        m_next = {};
        begin(QString());
    }
    if (bos)
        choose(page);
    // Granule positions of other streams of a group count in their own units.
    const auto granule = qint64(littleEndianAt(page, 6, 8));
    Granules &granules = m_state == State::Holding ? m_next : m_current;
    if (serial == m_serial && granule >= 0) { // -1: no packet ends on the page
        if (granules.first < 0)
            granules.first = granule;
        granules.last = granule;
    }
    if (m_state == State::Passing) {
        pass(page);
        return;
    }
    m_held.append(page);
    m_onlyBos = m_onlyBos && bos;
    const bool whole = serial == m_serial && readComment(page);
    if (whole || m_held.size() >= holdLimit || (!m_onlyBos && m_codec == u"Ogg"))
        begin(whole ? commentTitle(m_comment, m_codec) : QString());
}

// The stream of a group whose headers count: the first of a known codec,
// else the first.
void OggSplitter::choose(QByteArrayView page)
{
    if (!m_codec.isEmpty() && m_codec != u"Ogg")
        return;
    const QByteArrayView id = bodyOf(page); // a BOS page holds the identification header alone
    QString codec = QStringLiteral("Ogg");
    qint64 rate = 0;
    if (id.startsWith("\x01vorbis")) {
        codec = QStringLiteral("Ogg Vorbis");
        rate = id.size() >= 16 ? qint64(littleEndianAt(id, 12, 4)) : 0;
    } else if (id.startsWith("OpusHead")) {
        codec = QStringLiteral("Ogg Opus");
        rate = 48000; // whatever rate the source had
    } else if (id.startsWith("\x7f"
                             "FLAC")) {
        codec = QStringLiteral("Ogg FLAC");
        // 20 bits of the STREAMINFO block that follows the mapping header
        rate =
            id.size() >= 30 ? byteAt(id, 27) << 12 | byteAt(id, 28) << 4 | byteAt(id, 29) >> 4 : 0;
    }
    if (!m_codec.isEmpty() && codec == u"Ogg")
        return;
    m_codec = codec;
    m_serial = quint32(littleEndianAt(page, 14, 4));
    m_next = {-1, -1, rate};
    m_packets = 0;
    m_comment.clear();
}

// Reads a page of the chosen stream up to its second packet, the comment
// header; true when that is whole.
bool OggSplitter::readComment(QByteArrayView page)
{
    const qsizetype segments = byteAt(page, 26);
    qsizetype at = headerSize + segments;
    for (qsizetype i = 0; i < segments && m_packets < 2; ++i) {
        const qsizetype lacing = byteAt(page, headerSize + i);
        if (m_packets == 1)
            m_comment.append(page.sliced(at, lacing));
        at += lacing;
        if (lacing < 255 && ++m_packets == 2)
            return true;
    }
    return false;
}

void OggSplitter::begin(const QString &title)
{
    flushRun();
    m_receiver.oggStreamBegins(title, m_codec);
    m_current = m_next;
    m_state = State::Passing;
    m_comment = QByteArray();
    if (!m_held.isEmpty()) {
        m_kept.append(std::exchange(m_held, {}));
        m_receiver.oggPages(m_kept.last());
    }
}

void OggSplitter::pass(QByteArrayView page)
{
    if (m_runSize > 0 && m_run + m_runSize == page.data()) {
        m_runSize += page.size();
        return;
    }
    flushRun();
    m_run = page.data();
    m_runSize = page.size();
}

void OggSplitter::flushRun()
{
    if (m_runSize > 0)
        m_receiver.oggPages(QByteArrayView(m_run, std::exchange(m_runSize, 0)));
}
