#include "capture/vorbiscomments.h"

namespace {

quint32 littleEndianAt(QByteArrayView bytes, qsizetype at)
{
    const auto byte = [&bytes, at](int i) { return quint32(static_cast<quint8>(bytes[at + i])); };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

bool hasKey(QByteArrayView comment, QByteArrayView key)
{
    return comment.size() >= key.size() &&
           comment.first(key.size()).compare(key, Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QString> VorbisComments::title(QByteArrayView block)
{
    qsizetype at = 0;
    const auto take = [&block, &at]() -> std::optional<QByteArrayView> {
        if (at + 4 > block.size())
            return std::nullopt;
        const qint64 length = littleEndianAt(block, at);
        if (length > block.size() - at - 4)
            return std::nullopt;
        const QByteArrayView field = block.sliced(at + 4, length);
        at += 4 + length;
        return field;
    };
    if (!take() || at + 4 > block.size())
        return std::nullopt;
    QString artist;
    QString title;
    quint32 count = littleEndianAt(block, at);
    at += 4;
    for (; count > 0; --count) {
        const std::optional<QByteArrayView> comment = take();
        if (!comment)
            return std::nullopt;
        if (hasKey(*comment, "TITLE="))
            title = QString::fromUtf8(comment->sliced(6));
        else if (hasKey(*comment, "ARTIST="))
            artist = QString::fromUtf8(comment->sliced(7));
    }
    return artist.isEmpty() || title.isEmpty() ? artist + title
                                               : artist + QStringLiteral(" - ") + title;
}
