#include "capture/streamformat.h"

#include <array>
#include <optional>

namespace {

struct Frame
{
    bool aac = false;
    int bitrate = 0; // kbit/s, MP3 only
    int sampleRate = 0;
    qsizetype length = 0;
};

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

// An MPEG audio (layer I-III) or ADTS frame header at `at`, if there is one.
std::optional<Frame> frameAt(QByteArrayView bytes, qsizetype at)
{
    if (at + 7 > bytes.size() || byteAt(bytes, at) != 0xff ||
        (byteAt(bytes, at + 1) & 0xe0) != 0xe0)
        return std::nullopt;
    const quint8 b1 = byteAt(bytes, at + 1);
    const quint8 b2 = byteAt(bytes, at + 2);
    const int layer = (b1 >> 1) & 3;
    if ((b1 & 0xf6) == 0xf0) { // ADTS: twelve sync bits, layer 0
        static constexpr std::array<int, 13> rates{96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                   22050, 16000, 12000, 11025, 8000,  7350};
        const int index = (b2 >> 2) & 0xf;
        const qsizetype length = ((byteAt(bytes, at + 3) & 3) << 11) |
                                 (byteAt(bytes, at + 4) << 3) | (byteAt(bytes, at + 5) >> 5);
        if (index >= int(rates.size()) || length < 7)
            return std::nullopt;
        return Frame{true, 0, rates[size_t(index)], length};
    }
    const int version = (b1 >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int bitrateIndex = b2 >> 4;
    const int rateIndex = (b2 >> 2) & 3;
    if (layer != 1 || version == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt; // layer III only: radio does not send I or II
    static constexpr std::array<int, 15> mpeg1{0,   32,  40,  48,  56,  64,  80, 96,
                                               112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<int, 15> mpeg2{0,  8,  16, 24,  32,  40,  48, 56,
                                               64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<int, 3> rates{44100, 48000, 32000};
    const bool first = version == 3;
    const int bitrate = (first ? mpeg1 : mpeg2)[size_t(bitrateIndex)];
    const int sampleRate = rates[size_t(rateIndex)] >> (first ? 0 : version == 2 ? 1 : 2);
    const int padding = (b2 >> 1) & 1;
    const qsizetype length = (first ? 144 : 72) * bitrate * 1000 / sampleRate + padding;
    return Frame{false, bitrate, sampleRate, length};
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
        const std::optional<Frame> frame = frameAt(bytes, at);
        if (!frame)
            continue;
        // The next frame must start where this one ends, with the same kind.
        const std::optional<Frame> next = frameAt(bytes, at + frame->length);
        if (next && next->aac == frame->aac && next->sampleRate == frame->sampleRate)
            return {frame->aac ? QStringLiteral("AAC") : QStringLiteral("MP3"), frame->bitrate,
                    frame->sampleRate, std::nullopt};
    }
    return {};
}
