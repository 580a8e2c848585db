// Reads one playlist three ways and checks what must hold whatever the text:
// against a web address, every address kept is http(s) with a host, the counts
// stay within the limits, and sequence numbers rise (by exactly one where no
// segment can have been left out); read with CRLF line ends it says the same;
// against a file: address, no relative address survives. The sanitizers catch
// the rest.
//
// Input: the playlist, all of it.
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QStringList>
#include <QUrl>

#include "hls/hlsplaylist.h"

namespace {

const QUrl webBase(QStringLiteral("http://radio.test/live/index.m3u8"));
const QUrl fileBase(QStringLiteral("file:///srv/radio/index.m3u8"));

void require(bool holds)
{
    if (!holds)
        std::abort();
}

bool isWeb(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

// Whether every line that could name a segment is a plain relative name, which resolves to
// http against the web address, so that no segment can have been left out.
bool onlyPlainNames(QByteArrayView body)
{
    if (body.contains("#EXT-X-MAP") || body.contains("#EXT-X-STREAM-INF"))
        return false;
    for (const QByteArray &raw : body.toByteArray().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        for (const char c : line) {
            const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                               (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
            if (!plain)
                return false;
        }
    }
    return true;
}

void checkAddresses(const HlsPlaylist &p)
{
    for (const HlsPlaylist::Variant &variant : p.variants)
        require(isWeb(variant.uri));
    for (const HlsPlaylist::Rendition &rendition : p.audioRenditions)
        require(isWeb(rendition.uri));
    for (const HlsPlaylist::Segment &segment : p.segments) {
        require(!segment.uri.isEmpty() && isWeb(segment.uri));
        require(segment.key.uri.isEmpty() || isWeb(segment.key.uri));
        require(segment.map.isEmpty() || isWeb(segment.map));
    }
    if (const std::optional<QUrl> follow = p.audioPlaylist())
        require(isWeb(*follow));
}

void checkSegments(const HlsPlaylist &p, bool stepsOfOne)
{
    require(p.segments.size() <= HlsPlaylist::maxSegments && p.linesDropped >= 0);
    require(p.variants.size() <= HlsPlaylist::maxVariants &&
            p.audioRenditions.size() <= HlsPlaylist::maxVariants);
    for (qsizetype i = 0; i < p.segments.size(); ++i) {
        const HlsPlaylist::Segment &segment = p.segments[i];
        require(segment.sequence >= p.mediaSequence &&
                segment.sequence - p.mediaSequence < HlsPlaylist::maxSegments);
        if (i > 0) {
            const qint64 step = segment.sequence - p.segments[i - 1].sequence;
            require(step >= 1 && (!stepsOfOne || step == 1));
        }
        require(segment.durationMs >= 0);
        for (const auto &range : {segment.byteRange, segment.mapRange})
            require(!range || (range->offset >= 0 && range->length >= 0));
        require(!segment.key.iv || segment.key.iv->size() == 16);
        for (const HlsPlaylist::TimedTitle &title : segment.dateRangeTitles)
            require(!title.title.isEmpty() && title.offsetMs >= 0 &&
                    title.offsetMs <= segment.durationMs);
    }
}

// What two readings must agree on.
QStringList summary(const HlsPlaylist &p)
{
    QStringList lines{QString::number(int(p.kind)), QString::number(p.linesDropped)};
    for (const HlsPlaylist::Variant &variant : p.variants)
        lines.append(variant.uri.toString() + variant.codecs);
    for (const HlsPlaylist::Segment &segment : p.segments)
        lines.append(QString::number(segment.sequence) + segment.uri.toString() + segment.title +
                     QString::number(segment.dateRangeTitles.size()));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView body(reinterpret_cast<const char *>(data), qsizetype(size));
    const HlsPlaylist web = HlsPlaylist::parse(body, webBase);
    require(HlsPlaylist::isHls(body) == (web.kind != HlsPlaylist::Kind::NotHls));
    checkAddresses(web);
    checkSegments(web, onlyPlainNames(body));

    QByteArray crlf = body.toByteArray();
    crlf.replace("\n", "\r\n");
    if (crlf.size() <= HlsPlaylist::maxBytes)
        require(summary(HlsPlaylist::parse(crlf, webBase)) == summary(web));

    const HlsPlaylist local = HlsPlaylist::parse(body, fileBase);
    checkAddresses(local);
    checkSegments(local, false);
    return 0;
}
