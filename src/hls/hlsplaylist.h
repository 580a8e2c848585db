#pragma once

#include <optional>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QUrl>

// An HTTP Live Streaming playlist (RFC 8216), read from its text. Pure: the
// bytes and the address they came from in, what they say out. Relative URIs
// are resolved against that address, and only http and https addresses are
// kept: a variant or segment that names another scheme (or whose init section
// does) is left out. Hostile text is bounded: lines and segments past the
// limits below are not read, and the playlist says so.
struct HlsPlaylist
{
    enum class Kind {
        NotHls, // no "#EXTM3U" first, or neither a master's nor a media playlist's tags
        Master, // lists variants (#EXT-X-STREAM-INF)
        Media,  // lists segments (#EXT-X-TARGETDURATION)
    };

    struct Variant
    {
        QUrl uri;
        qint64 bandwidth = 0;   // bit/s; 0 when not given
        QString codecs;         // as given, "mp4a.40.2" or "mp4a.40.2,avc1.4d401f"
        bool audioOnly() const; // no video codec named (no CODECS: assumed audio)
    };

    // An EXT-X-MEDIA rendition of TYPE=AUDIO that has its own playlist.
    struct Rendition
    {
        QUrl uri;
        QString groupId;
        QString name;
        bool isDefault = false;
    };

    struct Key
    {
        enum class Method { None, Aes128, SampleAes, Other };
        Method method = Method::None;
        QString methodName;           // as written, for the log ("SAMPLE-AES-CTR")
        QUrl uri;                     // empty when not given or not http(s): the key cannot be had
        std::optional<QByteArray> iv; // 16 bytes when given
        QString keyFormat;            // "identity" when not given
    };

    struct ByteRange
    {
        qint64 offset = 0;
        qint64 length = 0;
    };

    // A title that begins inside a segment, at offsetMs from its start. A date
    // range goes where the segments' program date-times put its START-DATE:
    // one from before the first segment at that segment's start, one past the
    // last at the last one's end; without date-times, at the first one's start.
    struct TimedTitle
    {
        qint64 offsetMs = 0;
        QString title;
        QString id; // a date range's ID, so that a reload does not announce it twice
    };

    struct Segment
    {
        qint64 sequence = 0; // the media sequence number; one left out leaves a gap
        QUrl uri;
        qint64 durationMs = 0;
        std::optional<ByteRange> byteRange;
        bool discontinuity = false; // #EXT-X-DISCONTINUITY before it (or before one left out)
        Key key;                    // the key in force for it
        QUrl map;                   // #EXT-X-MAP's URI in force (fMP4 init section); empty none
        std::optional<ByteRange> mapRange;
        QString title;                     // from #EXTINF after the comma; "" none
        QList<TimedTitle> dateRangeTitles; // #EXT-X-DATERANGE titles that begin in it
    };

    Kind kind = Kind::NotHls;

    // Master playlist.
    QList<Variant> variants;
    QList<Rendition> audioRenditions;

    // Media playlist.
    int targetDurationS = 0;
    qint64 mediaSequence = 0;
    bool endList = false;
    QList<Segment> segments;

    // Lines the parser ignored because the playlist was too large (past
    // maxBytes, or segments, variants and titled date ranges past their
    // limits); 0 normally.
    qint64 linesDropped = 0;

    static constexpr qsizetype maxBytes = 4 * 1024 * 1024;
    static constexpr int maxSegments = 10000;
    static constexpr int maxVariants = 200; // and as many audio renditions

    // Whether a body is HLS: "#EXTM3U" at its start (after a UTF-8 BOM and
    // whitespace) and a #EXT-X-STREAM-INF or #EXT-X-TARGETDURATION tag.
    static bool isHls(QByteArrayView body);
    static HlsPlaylist parse(QByteArrayView body, const QUrl &base);

    // The playlist to follow from a master: the audio-only variant of the
    // highest bandwidth; else the default (or first) audio rendition with a
    // playlist; else the variant of the highest bandwidth. nullopt when none.
    std::optional<QUrl> audioPlaylist() const;
};
