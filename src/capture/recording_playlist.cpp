#include "model/recording.h"

#include <QStringDecoder>

namespace {

// The first stream target of a short body: the first "http://" or "https://"
// (many stations list https streams now), up to the first control character.
std::optional<QString> firstPlaylistTarget(const QByteArray &body)
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

} // namespace

void Recording::connectionDidFinishLoading()
{
    // A short body that produced no audio is still whole in icyData: a playlist,
    // or an error page that names where the stream is.
    if (dataSize == 0 && !icyData.isEmpty()) {
        if (const std::optional<QString> target = firstPlaylistTarget(icyData)) {
            log(QStringLiteral("Redirecting to the first target in PLS or M3U playlist\n"));
            icyData.clear();
            connect(*target);
            return;
        }
    }
    log(QStringLiteral("Connection closed by the station\n"));
    checkResume();
    endRecord();
}
