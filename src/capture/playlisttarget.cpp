#include "capture/playlisttarget.h"

#include <QStringDecoder>

namespace PlaylistTarget {

// The first "http://" or "https://" (many stations list https streams now),
// up to the first control character.
std::optional<QString> first(const QByteArray &body)
{
    const qsizetype zero = body.indexOf('\0');
    const QByteArray text = zero < 0 ? body : body.first(zero);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder(text);
    if (decoder.hasError())
        return std::nullopt;
    const qsizetype plain = decoded.indexOf(QStringLiteral("http://"), 0, Qt::CaseInsensitive);
    const qsizetype secure = decoded.indexOf(QStringLiteral("https://"), 0, Qt::CaseInsensitive);
    const qsizetype start = (plain < 0 || (secure >= 0 && secure < plain)) ? secure : plain;
    if (start < 0)
        return std::nullopt;
    qsizetype end = start;
    while (end < decoded.size()) {
        const QChar::Category category = decoded[end].category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            break;
        ++end;
    }
    return decoded.mid(start, end - start);
}

} // namespace PlaylistTarget
