#include "platform/stationurl.h"

#include <memory>
#include <variant>

#include <curl/curl.h>

#include <QUrl>

namespace StationUrl {

namespace {

// The encoded URL, or why there is none.
std::variant<QByteArray, QString> check(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::TolerantMode);
    const QString scheme = url.scheme();
    if (!url.isValid())
        return QStringLiteral("the address is not a URL");
    if (scheme != u"http" && scheme != u"https")
        return QStringLiteral("the address does not start with http:// or https://");
    // "http://" alone, the default of a new recording, is valid to Qt.
    if (url.host().isEmpty())
        return QStringLiteral("the address names no host");
    QByteArray result = url.toEncoded(QUrl::RemoveFragment);
    // curl fetches it, so curl has the last word.
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, result.constData(), 0) != CURLUE_OK)
        return QStringLiteral("curl can not read the address");
    return result;
}

} // namespace

std::optional<QByteArray> encoded(const QString &text)
{
    std::variant<QByteArray, QString> checked = check(text);
    if (auto *url = std::get_if<QByteArray>(&checked))
        return std::move(*url);
    return std::nullopt;
}

std::optional<QString> problem(const QString &text)
{
    std::variant<QByteArray, QString> checked = check(text);
    if (auto *reason = std::get_if<QString>(&checked))
        return std::move(*reason);
    return std::nullopt;
}

} // namespace StationUrl
