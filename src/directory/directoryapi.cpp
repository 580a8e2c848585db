#include "directory/directoryapi.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrlQuery>

namespace DirectoryApi {

namespace {

QUrl withPath(const QUrl &base, const QString &path)
{
    QUrl url = base;
    QString prefix = url.path();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    url.setPath(prefix + path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace

QUrl serverListUrl(const QUrl &base)
{
    return withPath(base, QStringLiteral("/json/servers"));
}

QUrl searchUrl(const QUrl &base, const StationFilter &filter)
{
    QUrl url = withPath(base, QStringLiteral("/json/stations/search"));
    QUrlQuery query;
    const auto add = [&query](const char *key, const QString &value) {
        if (!value.trimmed().isEmpty())
            query.addQueryItem(QString::fromLatin1(key),
                               QString::fromUtf8(QUrl::toPercentEncoding(value.trimmed())));
    };
    add("name", filter.name);
    add("tag", filter.tag);
    add("country", filter.country);
    add("language", filter.language);
    add("codec", filter.codec);
    if (filter.minBitrate > 0)
        add("bitrateMin", QString::number(filter.minBitrate));
    add("hidebroken", QStringLiteral("true"));
    add("order", QStringLiteral("votes"));
    add("reverse", QStringLiteral("true"));
    add("offset", QString::number(std::max(0, filter.offset)));
    add("limit", QString::number(std::clamp(filter.limit, 1, 500)));
    url.setQuery(query);
    return url;
}

QUrl clickUrl(const QUrl &base, const QString &uuid)
{
    return withPath(base, QStringLiteral("/json/url/") + uuid);
}

QList<QUrl> serversFromJson(const QByteArray &answer, const QUrl &base)
{
    static const QRegularExpression hostName(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*"
                       "[A-Za-z0-9])?)*$"));
    QList<QUrl> servers;
    for (const QJsonValue entry : QJsonDocument::fromJson(answer).array()) {
        const QString name = entry.toObject().value(u"name").toString().toLower();
        QUrl url;
        url.setScheme(base.scheme());
        url.setHost(name);
        url.setPort(base.port());
        if (name.size() <= 253 && hostName.match(name).hasMatch() && !servers.contains(url))
            servers.append(url);
    }
    return servers;
}

QList<DirectoryStation> stationsFromJson(const QByteArray &answer, QString *problem)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (!document.isArray()) {
        if (problem)
            *problem = error.error != QJsonParseError::NoError
                           ? QStringLiteral("the directory's answer is not JSON: %1")
                                 .arg(error.errorString())
                           : QStringLiteral("the directory's answer is not a list of stations");
        return {};
    }
    QList<DirectoryStation> stations;
    for (const QJsonValue entry : document.array()) {
        if (std::optional<DirectoryStation> station = DirectoryStation::fromJson(entry))
            stations.append(std::move(*station));
    }
    return stations;
}

} // namespace DirectoryApi
