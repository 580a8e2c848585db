#include "platform/stationurl.h"

#include <memory>

#include <curl/curl.h>

#include <QUrl>

namespace StationUrl {

std::optional<QByteArray> encoded(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return std::nullopt;
    QByteArray result = url.toEncoded(QUrl::RemoveFragment);
    // curl fetches it, so curl has the last word.
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, result.constData(), 0) != CURLUE_OK)
        return std::nullopt;
    return result;
}

} // namespace StationUrl
