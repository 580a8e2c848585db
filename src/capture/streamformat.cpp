#include "capture/streamformat.h"

#include <optional>

#include "capture/audioframe.h"

namespace {

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

quint32 littleEndianAt(QByteArrayView bytes, qsizetype at)
{
    return quint32(byteAt(bytes, at)) | quint32(byteAt(bytes, at + 1)) << 8 |
           quint32(byteAt(bytes, at + 2)) << 16 | quint32(byteAt(bytes, at + 3)) << 24;
}

// The comment header after its marker: a vendor string, then a count of
// "KEY=value" comments, each after its length. None when it is cut short.
std::optional<QString> commentTitle(QByteArrayView bytes, QByteArrayView marker)
{
    qsizetype at = bytes.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    at += marker.size();
    const auto take = [&bytes, &at]() -> std::optional<QByteArrayView> {
        if (at + 4 > bytes.size())
            return std::nullopt;
        const qsizetype length = littleEndianAt(bytes, at);
        if (length > bytes.size() - at - 4)
            return std::nullopt;
        const QByteArrayView field = bytes.sliced(at + 4, length);
        at += 4 + length;
        return field;
    };
    if (!take() || at + 4 > bytes.size())
        return std::nullopt;
    QString artist;
    QString title;
    quint32 count = littleEndianAt(bytes, at);
    at += 4;
    for (; count > 0; --count) {
        const std::optional<QByteArrayView> comment = take();
        if (!comment)
            return std::nullopt;
        const QString text = QString::fromUtf8(*comment);
        if (text.startsWith(u"TITLE=", Qt::CaseInsensitive))
            title = text.mid(6);
        else if (text.startsWith(u"ARTIST=", Qt::CaseInsensitive))
            artist = text.mid(7);
    }
    return artist.isEmpty() || title.isEmpty() ? artist + title
                                               : artist + QStringLiteral(" - ") + title;
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
