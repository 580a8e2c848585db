#include "capture/stationheaders.h"

#include <QStringList>
#include <QUrl>

#include "platform/textscan.h"

StationHeaders StationHeaders::fromFields(const QList<QPair<QString, QString>> &fields)
{
    StationHeaders headers;
    for (const auto &[name, value] : fields) {
        if (name.compare(u"icy-metaint", Qt::CaseInsensitive) == 0)
            headers.metaInterval = TextScan::metaInterval(value);
        else if (name.compare(u"icy-genre", Qt::CaseInsensitive) == 0)
            headers.genre = value;
        else if (name.compare(u"content-type", Qt::CaseInsensitive) == 0)
            headers.mimeType = TextScan::mediaType(value);
    }
    return headers;
}

StationHeaders StationHeaders::fromInBandHead(QStringView head)
{
    QList<QPair<QString, QString>> fields;
    const QList<QStringView> lines = head.split(u"\r\n");
    // The last piece has no "\r\n" after it, so it is not a whole line.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(u':');
        if (colon >= 0)
            fields.append({lines[i].first(colon).toString(),
                           lines[i].sliced(colon + 1).trimmed().toString()});
    }
    return fromFields(fields);
}

bool StationHeaders::namesPlaylist(const QString &mimeType, const QString &url)
{
    return mimeType == u"application/vnd.apple.mpegurl" || mimeType == u"application/x-mpegurl" ||
           mimeType == u"audio/mpegurl" || mimeType == u"audio/x-mpegurl" ||
           QUrl(url).path().endsWith(QStringLiteral(".m3u8"), Qt::CaseInsensitive);
}

bool StationHeaders::isOgg(const QString &mimeType)
{
    return mimeType.contains(u"/ogg", Qt::CaseInsensitive);
}

QString StationHeaders::extensionFor(const QString &mimeType)
{
    if (isOgg(mimeType))
        return QStringLiteral(".ogg");
    for (const QStringView type : {u"audio/aac", u"audio/aacp", u"audio/x-aac"}) {
        if (mimeType.compare(type, Qt::CaseInsensitive) == 0)
            return QStringLiteral(".aac");
    }
    return QStringLiteral(".mp3");
}
