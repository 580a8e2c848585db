#include "capture/streamformat.h"

#include <optional>

#include "audio/audioframe.h"
#include "capture/vorbiscomments.h"

namespace {

// The comment block after its marker; none when it is cut short.
std::optional<QString> commentTitle(QByteArrayView bytes, QByteArrayView marker)
{
    const qsizetype at = bytes.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    return VorbisComments::title(bytes.sliced(at + marker.size()));
}

std::optional<StreamFormat> oggFormat(QByteArrayView bytes)
{
    if (!bytes.startsWith("OggS"))
        return std::nullopt;
    const QByteArrayView page = bytes.first(std::min<qsizetype>(bytes.size(), 512));
    if (page.indexOf("\x01vorbis") >= 0)
        return StreamFormat{QStringLiteral("Ogg Vorbis"), 0, 0, commentTitle(bytes, "\x03vorbis")};
    if (page.indexOf("OpusHead") >= 0)
        return StreamFormat{QStringLiteral("Ogg Opus"), 0, 48000, commentTitle(bytes, "OpusTags")};
    if (page.indexOf("\x7f"
                     "FLAC") >= 0)
        return StreamFormat{QStringLiteral("Ogg FLAC"), 0, 0, std::nullopt};
    return StreamFormat{QStringLiteral("Ogg"), 0, 0, std::nullopt};
}

} // namespace

StreamFormat StreamFormat::sniff(QByteArrayView bytes)
{
    if (std::optional<StreamFormat> ogg = oggFormat(bytes))
        return *ogg;
    if (bytes.startsWith("fLaC"))
        return {QStringLiteral("FLAC"), 0, 0, std::nullopt};
    for (qsizetype at = 0; at + 7 <= bytes.size(); ++at) {
        const std::optional<AudioFrame> frame = AudioFrame::at(bytes, at);
        if (!frame)
            continue;
        // The next frame must start where this one ends, with the same kind.
        const std::optional<AudioFrame> next = AudioFrame::at(bytes, at + frame->length);
        if (next && next->continues(*frame))
            return {frame->aac ? QStringLiteral("AAC") : QStringLiteral("MP3"), frame->bitrate,
                    frame->sampleRate, std::nullopt};
    }
    return {};
}
