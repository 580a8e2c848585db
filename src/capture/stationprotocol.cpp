#include "capture/stationprotocol.h"

namespace StationProtocol {

HttpTransfer::Request request(const QString &url, int idleTimeoutSeconds)
{
    HttpTransfer::Request request;
    request.url = url;
    request.headerFields = {
        {"icy-metadata", "1"},
        {"Cache-Control", "no-cache"},
        {"User-Agent", "iTunes/4.6 (Macintosh; N; PPC)"},
    };
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    request.maxRedirects = std::nullopt;
    return request;
}

std::optional<QString> streamTitle(const QString &blockText)
{
    static const QString marker = QStringLiteral("StreamTitle='");
    const qsizetype found = blockText.indexOf(marker, 0, Qt::CaseInsensitive);
    if (found < 0)
        return std::nullopt;
    const qsizetype begin = found + marker.size();
    const qsizetype end = blockText.indexOf(QStringLiteral("';"), begin);
    QString title = blockText.mid(begin, end < 0 ? -1 : end - begin);
    return title.remove(QChar(u'\0'));
}

} // namespace StationProtocol
