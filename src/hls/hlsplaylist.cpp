#include "hls/hlsplaylist.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

// Byte offsets and lengths beyond this (8 PiB) are hostile; the cap keeps their sums in range.
constexpr qint64 maxOffset = qint64(1) << 53;
// Sequence numbers may reach 2^64 - 1; capped so that counting segments on never overflows.
constexpr qint64 maxSequence = std::numeric_limits<qint64>::max() / 2;
// No real segment lasts a day; the cap keeps the program clock in range.
constexpr qint64 maxSegmentMs = qint64(24) * 3600 * 1000;
constexpr qsizetype maxDateLength = 64;

// The text that is read: the body without its BOM, cut after its last whole line within
// maxBytes when it is larger (a line cut short could name another address).
struct Readable
{
    QByteArrayView text;
    qint64 linesDropped = 0;
};

Readable readableOf(QByteArrayView body)
{
    Readable readable{body, 0};
    if (body.size() > HlsPlaylist::maxBytes) {
        const qsizetype end = body.first(HlsPlaylist::maxBytes).lastIndexOf('\n') + 1;
        const QByteArrayView rest = body.sliced(end);
        readable = {body.first(end), rest.count('\n') + (rest.endsWith('\n') ? 0 : 1)};
    }
    if (readable.text.startsWith("\xEF\xBB\xBF"))
        readable.text = readable.text.sliced(3);
    return readable;
}

bool startsWithHeader(QByteArrayView text)
{
    return text.trimmed().startsWith("#EXTM3U");
}

// Lines end with LF or CRLF; the CR goes with the surrounding whitespace.
class Lines
{
public:
    explicit Lines(QByteArrayView text) : m_text(text) {}

    bool next(QByteArrayView &line)
    {
        if (m_at >= m_text.size())
            return false;
        qsizetype end = m_text.indexOf('\n', m_at);
        if (end < 0)
            end = m_text.size();
        line = m_text.sliced(m_at, end - m_at).trimmed();
        m_at = end + 1;
        return true;
    }

private:
    QByteArrayView m_text;
    qsizetype m_at = 0;
};

struct Tag
{
    QByteArrayView name; // "#EXTINF"
    QByteArrayView value;
};

Tag tagOf(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return {line, {}};
    return {line.first(colon), line.sliced(colon + 1)};
}

// NAME=VALUE pairs split at the commas outside quotes; quoted values lose their quotes.
class Attributes
{
public:
    explicit Attributes(QByteArrayView list)
    {
        for (qsizetype at = 0; at < list.size();) {
            qsizetype nameEnd = at;
            while (nameEnd < list.size() && list[nameEnd] != '=' && list[nameEnd] != ',')
                ++nameEnd;
            const QByteArrayView name = list.sliced(at, nameEnd - at).trimmed();
            if (nameEnd == list.size() || list[nameEnd] == ',') {
                at = nameEnd + 1; // a name without a value
                continue;
            }
            const auto [value, end] = valueAt(list, nameEnd + 1);
            m_pairs.append({name, value});
            at = end + 1;
        }
    }

    bool has(QByteArrayView name) const { return find(name) != nullptr; }
    // The first value of that name; empty when there is none.
    QByteArrayView value(QByteArrayView name) const
    {
        const Pair *pair = find(name);
        return pair ? pair->value : QByteArrayView();
    }
    QString text(QByteArrayView name) const { return QString::fromUtf8(value(name)).trimmed(); }

private:
    struct Pair
    {
        QByteArrayView name;
        QByteArrayView value;
    };
    QList<Pair> m_pairs;

    const Pair *find(QByteArrayView name) const
    {
        const auto found = std::find_if(m_pairs.cbegin(), m_pairs.cend(),
                                        [name](const Pair &pair) { return pair.name == name; });
        return found == m_pairs.cend() ? nullptr : &*found;
    }

    // The value starting at `at` and where it ends (its comma, or the end of the list).
    static std::pair<QByteArrayView, qsizetype> valueAt(QByteArrayView list, qsizetype at)
    {
        while (at < list.size() && (list[at] == ' ' || list[at] == '\t'))
            ++at;
        if (at < list.size() && list[at] == '"') {
            qsizetype close = list.indexOf('"', at + 1);
            if (close < 0)
                close = list.size();
            const qsizetype comma = list.indexOf(',', close);
            return {list.sliced(at + 1, close - at - 1), comma < 0 ? list.size() : comma};
        }
        qsizetype comma = list.indexOf(',', at);
        if (comma < 0)
            comma = list.size();
        return {list.sliced(at, comma - at).trimmed(), comma};
    }
};

// A decimal-integer, saturated at `ceiling` (hostile text names any number); nullopt when
// not one.
std::optional<qint64> decimalOf(QByteArrayView text, qint64 ceiling)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        value = value > (ceiling - digit) / 10 ? ceiling : value * 10 + digit;
    }
    return value;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "0x" and up to 32 hex digits: a 128-bit number, so leading zeros may be left out.
std::optional<QByteArray> ivOf(QByteArrayView text)
{
    if (!text.startsWith("0x") && !text.startsWith("0X"))
        return std::nullopt;
    const QByteArrayView digits = text.sliced(2);
    if (digits.isEmpty() || digits.size() > 32 ||
        !std::all_of(digits.begin(), digits.end(), isHexDigit))
        return std::nullopt;
    return QByteArray::fromHex(QByteArray(32 - digits.size(), '0') + digits.toByteArray());
}

// "n[@o]"; the offset stays unset when not given.
struct RangeText
{
    qint64 length = 0;
    std::optional<qint64> offset;
};

std::optional<RangeText> rangeOf(QByteArrayView text)
{
    const qsizetype at = text.indexOf('@');
    const std::optional<qint64> length = decimalOf(at < 0 ? text : text.first(at), maxOffset);
    if (!length)
        return std::nullopt;
    if (at < 0)
        return RangeText{*length, std::nullopt};
    const std::optional<qint64> offset = decimalOf(text.sliced(at + 1), maxOffset);
    if (!offset)
        return std::nullopt;
    return RangeText{*length, offset};
}

// Decimal seconds in milliseconds; 0 when unreadable.
qint64 durationMsOf(QByteArrayView text)
{
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !(seconds > 0))
        return 0;
    return qRound64(std::min(seconds * 1000, double(maxSegmentMs)));
}

// An ISO 8601 date with its zone, as milliseconds since the epoch.
std::optional<qint64> msSinceEpochOf(QByteArrayView text)
{
    if (text.size() > maxDateLength)
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    if (!date.isValid())
        return std::nullopt;
    return date.toMSecsSinceEpoch();
}

// A URI of the playlist resolved against where the playlist came from. Only http and https
// are followed: a "file:" or other scheme in hostile text must not make Skyvane read anything
// else.
std::optional<QUrl> webUrlOf(const QUrl &base, QByteArrayView text)
{
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url = base.resolved(QUrl(QString::fromUtf8(text)));
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != u"http"_s && url.scheme() != u"https"_s))
        return std::nullopt;
    return url;
}

HlsPlaylist::Key::Method methodOf(QByteArrayView name)
{
    if (name == "NONE")
        return HlsPlaylist::Key::Method::None;
    if (name == "AES-128")
        return HlsPlaylist::Key::Method::Aes128;
    if (name == "SAMPLE-AES")
        return HlsPlaylist::Key::Method::SampleAes;
    return HlsPlaylist::Key::Method::Other; // a missing METHOD too: not to be read as clear
}

// "Artist - Title" from X-ARTIST and X-TITLE, X-TITLE alone, else TITLE.
QString dateRangeTitleOf(const Attributes &attributes)
{
    const QString title = attributes.text("X-TITLE");
    const QString artist = attributes.text("X-ARTIST");
    if (title.isEmpty())
        return attributes.text("TITLE");
    return artist.isEmpty() ? title : artist + u" - "_s + title;
}

const QString identity = u"identity"_s;

// One pass over the lines; the date ranges are placed at the end, once every segment's time
// is known.
class Reader
{
public:
    Reader(HlsPlaylist &playlist, const QUrl &base) : m_playlist(playlist), m_base(base)
    {
        m_key.keyFormat = identity;
    }

    void read(QByteArrayView line)
    {
        if (line.isEmpty())
            return;
        if (!line.startsWith('#'))
            uri(line);
        else if (line.startsWith("#EXT"))
            tag(tagOf(line));
    }

    void finish()
    {
        HlsPlaylist &p = m_playlist;
        p.kind = m_hasStreamInf        ? HlsPlaylist::Kind::Master
                 : m_hasTargetDuration ? HlsPlaylist::Kind::Media
                                       : HlsPlaylist::Kind::NotHls;
        for (HlsPlaylist::Segment &segment : p.segments)
            segment.sequence += p.mediaSequence;
        fillStartsBackwards();
        placeDateRanges();
    }

private:
    // What the tags since the last segment say about the next one.
    struct Next
    {
        qint64 durationMs = 0;
        QString title;
        std::optional<RangeText> range;
        bool discontinuity = false;
        std::optional<qint64> date;
    };

    struct DateRange
    {
        std::optional<qint64> start;
        HlsPlaylist::TimedTitle title;
    };

    HlsPlaylist &m_playlist;
    const QUrl m_base;
    bool m_hasStreamInf = false;
    bool m_hasTargetDuration = false;

    std::optional<HlsPlaylist::Variant> m_variant; // a STREAM-INF waiting for its URI
    int m_variantsRead = 0;                        // kept or not, for the bound
    int m_renditionsRead = 0;

    Next m_next;
    qint64 m_segmentsRead = 0; // every segment's place counts, kept or not
    HlsPlaylist::Key m_key;
    bool m_keySinceSegment = false;
    QUrl m_map;
    std::optional<HlsPlaylist::ByteRange> m_mapRange;
    bool m_mapUsable = true;
    bool m_discontinuityCarried = false;
    QHash<QUrl, qint64> m_rangeEnds;
    std::optional<qint64> m_clock;         // the program time at the next segment's start
    QList<std::optional<qint64>> m_starts; // of the kept segments

    QList<DateRange> m_dateRanges;
    QSet<QString> m_dateRangeIds;

    bool segmentsFull() const { return m_segmentsRead >= HlsPlaylist::maxSegments; }

    void tag(const Tag &tag)
    {
        if (tag.name == "#EXTINF") {
            const qsizetype comma = tag.value.indexOf(',');
            m_next.durationMs = durationMsOf(comma < 0 ? tag.value : tag.value.first(comma));
            m_next.title =
                comma < 0 ? QString() : QString::fromUtf8(tag.value.sliced(comma + 1)).trimmed();
        } else if (tag.name == "#EXT-X-BYTERANGE") {
            m_next.range = rangeOf(tag.value.trimmed());
        } else if (tag.name == "#EXT-X-DISCONTINUITY") {
            m_next.discontinuity = true;
        } else if (tag.name == "#EXT-X-PROGRAM-DATE-TIME") {
            m_next.date = msSinceEpochOf(tag.value.trimmed());
        } else if (tag.name == "#EXT-X-KEY") {
            if (!segmentsFull())
                key(Attributes(tag.value));
        } else if (tag.name == "#EXT-X-MAP") {
            if (!segmentsFull())
                map(Attributes(tag.value));
        } else if (tag.name == "#EXT-X-DATERANGE") {
            dateRange(Attributes(tag.value));
        } else if (tag.name == "#EXT-X-TARGETDURATION") {
            m_hasTargetDuration = true;
            m_playlist.targetDurationS =
                int(decimalOf(tag.value.trimmed(), std::numeric_limits<int>::max()).value_or(0));
        } else if (tag.name == "#EXT-X-MEDIA-SEQUENCE") {
            m_playlist.mediaSequence = decimalOf(tag.value.trimmed(), maxSequence).value_or(0);
        } else if (tag.name == "#EXT-X-ENDLIST") {
            m_playlist.endList = true;
        } else if (tag.name == "#EXT-X-STREAM-INF") {
            m_hasStreamInf = true;
            streamInf(Attributes(tag.value));
        } else if (tag.name == "#EXT-X-MEDIA") {
            media(Attributes(tag.value));
        }
    }

    void uri(QByteArrayView text)
    {
        if (m_variant)
            variant(text);
        else
            segment(text);
    }

    void streamInf(const Attributes &attributes)
    {
        HlsPlaylist::Variant variant;
        variant.bandwidth = decimalOf(attributes.value("BANDWIDTH"), maxOffset).value_or(0);
        variant.codecs = attributes.text("CODECS");
        m_variant = variant;
    }

    void variant(QByteArrayView text)
    {
        HlsPlaylist::Variant variant = *std::exchange(m_variant, std::nullopt);
        if (m_variantsRead++ >= HlsPlaylist::maxVariants) {
            ++m_playlist.linesDropped;
            return;
        }
        if (const std::optional<QUrl> url = webUrlOf(m_base, text)) {
            variant.uri = *url;
            m_playlist.variants.append(variant);
        }
    }

    void media(const Attributes &attributes)
    {
        if (attributes.value("TYPE") != "AUDIO" || !attributes.has("URI"))
            return; // a rendition carried inside the variants has nothing of its own to follow
        if (m_renditionsRead++ >= HlsPlaylist::maxVariants) {
            ++m_playlist.linesDropped;
            return;
        }
        const std::optional<QUrl> url = webUrlOf(m_base, attributes.value("URI"));
        if (!url)
            return;
        m_playlist.audioRenditions.append({*url, attributes.text("GROUP-ID"),
                                           attributes.text("NAME"),
                                           attributes.value("DEFAULT") == "YES"});
    }

    void key(const Attributes &attributes)
    {
        HlsPlaylist::Key key;
        key.methodName = QString::fromUtf8(attributes.value("METHOD"));
        key.method = methodOf(attributes.value("METHOD"));
        key.keyFormat = attributes.has("KEYFORMAT") ? attributes.text("KEYFORMAT") : identity;
        if (key.method != HlsPlaylist::Key::Method::None) {
            key.uri = webUrlOf(m_base, attributes.value("URI")).value_or(QUrl());
            key.iv = ivOf(attributes.value("IV"));
        }
        // Keys in several formats may stand for the same segments; only the plain one is of use.
        const bool sameSegments = std::exchange(m_keySinceSegment, true);
        if (sameSegments && m_key.keyFormat == identity && key.keyFormat != identity)
            return;
        m_key = key;
    }

    void map(const Attributes &attributes)
    {
        const std::optional<QUrl> url = webUrlOf(m_base, attributes.value("URI"));
        m_mapUsable = url.has_value();
        m_map = url.value_or(QUrl());
        m_mapRange.reset();
        if (const std::optional<RangeText> range = rangeOf(attributes.value("BYTERANGE")))
            m_mapRange = HlsPlaylist::ByteRange{range->offset.value_or(0), range->length};
    }

    void dateRange(const Attributes &attributes)
    {
        const QString title = dateRangeTitleOf(attributes);
        if (title.isEmpty())
            return;
        const QString id = attributes.text("ID");
        if (!id.isEmpty() && m_dateRangeIds.contains(id))
            return; // the same range again, with more attributes: its title is placed already
        if (m_dateRanges.size() >= HlsPlaylist::maxSegments) {
            ++m_playlist.linesDropped;
            return;
        }
        if (!id.isEmpty())
            m_dateRangeIds.insert(id);
        m_dateRanges.append({msSinceEpochOf(attributes.value("START-DATE")), {0, title, id}});
    }

    void segment(QByteArrayView text)
    {
        const Next next = std::exchange(m_next, Next());
        m_keySinceSegment = false;
        const std::optional<qint64> start = next.date ? next.date : m_clock;
        if (start)
            m_clock = *start + next.durationMs;
        const qint64 place = m_segmentsRead++;
        if (place >= HlsPlaylist::maxSegments) {
            ++m_playlist.linesDropped;
            return;
        }
        // A segment that cannot be read still takes its sequence number, so that the numbers
        // of the others stay the same from one reload to the next.
        const std::optional<QUrl> url = webUrlOf(m_base, text);
        if (!url || !m_mapUsable) {
            m_discontinuityCarried = m_discontinuityCarried || next.discontinuity;
            return;
        }
        HlsPlaylist::Segment segment;
        segment.sequence = place;
        segment.uri = *url;
        segment.durationMs = next.durationMs;
        segment.title = next.title;
        segment.discontinuity = next.discontinuity || std::exchange(m_discontinuityCarried, false);
        segment.key = m_key;
        segment.map = m_map;
        segment.mapRange = m_mapRange;
        if (next.range) {
            // Without an offset the range follows the one before it in the same resource.
            const qint64 offset = next.range->offset.value_or(m_rangeEnds.value(*url, 0));
            segment.byteRange = HlsPlaylist::ByteRange{offset, next.range->length};
            m_rangeEnds.insert(*url, std::min(offset + next.range->length, maxOffset));
        }
        m_playlist.segments.append(segment);
        m_starts.append(start);
    }

    // Segments before the first program date-time are timed back from it.
    void fillStartsBackwards()
    {
        const auto firstDated = std::find_if(m_starts.cbegin(), m_starts.cend(),
                                             [](const auto &start) { return start.has_value(); });
        if (firstDated == m_starts.cend())
            return;
        for (qsizetype i = firstDated - m_starts.cbegin(); i > 0; --i)
            m_starts[i - 1] = *m_starts[i] - m_playlist.segments[i - 1].durationMs;
    }

    // A title goes to the first segment that ends after its START-DATE, at its distance from
    // that segment's start: a range that began before the first segment (the song under way
    // when the window opens) is at the first one's start. One past the last segment waits at
    // the last one's end. Without program date-times, or with a START-DATE that cannot be
    // read, there is no telling where it begins: it goes to the first segment's start, and its
    // ID keeps later reloads from announcing it again.
    void placeDateRanges()
    {
        QList<HlsPlaylist::Segment> &segments = m_playlist.segments;
        if (segments.isEmpty())
            return;
        const bool timed = m_starts.first().has_value();
        // The running latest end keeps the search logarithmic even when hostile date-times
        // jump back.
        QList<qint64> latestEnds;
        if (timed) {
            latestEnds.reserve(segments.size());
            for (qsizetype i = 0; i < segments.size(); ++i) {
                const qint64 end = *m_starts[i] + segments[i].durationMs;
                latestEnds.append(i == 0 ? end : std::max(latestEnds.last(), end));
            }
        }
        for (DateRange &range : m_dateRanges) {
            if (!timed || !range.start) {
                segments.first().dateRangeTitles.append(range.title);
                continue;
            }
            const qsizetype i =
                std::upper_bound(latestEnds.cbegin(), latestEnds.cend(), *range.start) -
                latestEnds.cbegin();
            HlsPlaylist::Segment &segment = segments[std::min(i, segments.size() - 1)];
            const qint64 start = *m_starts[std::min(i, segments.size() - 1)];
            range.title.offsetMs = i == segments.size() ? segment.durationMs
                                                        : std::clamp(*range.start - start,
                                                                     qint64(0), segment.durationMs);
            segment.dateRangeTitles.append(range.title);
        }
    }
};

const QStringList videoCodecs = {u"avc1"_s, u"avc2"_s, u"avc3"_s, u"avc4"_s, u"hvc1"_s, u"hev1"_s,
                                 u"dvh1"_s, u"dvhe"_s, u"dva1"_s, u"dvav"_s, u"vp08"_s, u"vp09"_s,
                                 u"av01"_s, u"mp4v"_s, u"s263"_s, u"vvc1"_s, u"vvi1"_s};

} // namespace

bool HlsPlaylist::Variant::audioOnly() const
{
    for (const QStringView codec : QStringView(codecs).split(u',')) {
        const QStringView trimmed = codec.trimmed();
        const qsizetype dot = trimmed.indexOf(u'.');
        const QStringView family = dot < 0 ? trimmed : trimmed.first(dot);
        if (videoCodecs.contains(family, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

bool HlsPlaylist::isHls(QByteArrayView body)
{
    const QByteArrayView text = readableOf(body).text;
    if (!startsWithHeader(text))
        return false;
    Lines lines(text);
    for (QByteArrayView line; lines.next(line);) {
        const QByteArrayView name = tagOf(line).name;
        if (name == "#EXT-X-STREAM-INF" || name == "#EXT-X-TARGETDURATION")
            return true;
    }
    return false;
}

HlsPlaylist HlsPlaylist::parse(QByteArrayView body, const QUrl &base)
{
    const Readable readable = readableOf(body);
    if (!startsWithHeader(readable.text))
        return {};
    HlsPlaylist playlist;
    playlist.linesDropped = readable.linesDropped;
    Reader reader(playlist, base);
    Lines lines(readable.text);
    for (QByteArrayView line; lines.next(line);)
        reader.read(line);
    reader.finish();
    if (playlist.kind == Kind::NotHls)
        return {};
    return playlist;
}

std::optional<QUrl> HlsPlaylist::audioPlaylist() const
{
    const Variant *highest = nullptr;
    const Variant *highestAudio = nullptr;
    for (const Variant &variant : variants) {
        if (!highest || variant.bandwidth > highest->bandwidth)
            highest = &variant;
        if (variant.audioOnly() && (!highestAudio || variant.bandwidth > highestAudio->bandwidth))
            highestAudio = &variant;
    }
    if (highestAudio)
        return highestAudio->uri;
    if (!audioRenditions.isEmpty()) {
        const auto isDefault = [](const Rendition &rendition) { return rendition.isDefault; };
        const auto found =
            std::find_if(audioRenditions.cbegin(), audioRenditions.cend(), isDefault);
        return (found == audioRenditions.cend() ? audioRenditions.first() : *found).uri;
    }
    if (highest)
        return highest->uri;
    return std::nullopt;
}
