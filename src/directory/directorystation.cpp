#include "directory/directorystation.h"

#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include "platform/stationurl.h"

namespace {

// Longer than any real name or tag list, short enough for a row of a list.
constexpr qsizetype maxText = 200;

// Plain text for a list row: control characters, line breaks and the like
// become spaces, runs of space one, and the text is cut at maxText.
QString plainText(const QJsonValue &value)
{
    QString text = value.toString().left(4 * maxText);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph || c.category() == QChar::Other_Format)
            c = u' ';
    }
    return text.simplified().left(maxText);
}

// An http or https address, or nothing.
QString webAddress(const QJsonValue &value)
{
    const QString text = value.toString().trimmed();
    return StationUrl::isValid(text) ? text : QString();
}

int count(const QJsonValue &value)
{
    const qint64 number = value.toInteger(0);
    return number > 0 && number < (qint64(1) << 31) ? int(number) : 0;
}

} // namespace

std::optional<DirectoryStation> DirectoryStation::fromJson(const QJsonValue &value)
{
    const QJsonObject entry = value.toObject();
    DirectoryStation station;
    // It goes into an address of the directory's: letters, digits and '-' only.
    static const QRegularExpression uuidPattern(QStringLiteral("^[0-9A-Za-z-]{1,64}$"));
    station.uuid = entry.value(u"stationuuid").toString();
    if (!uuidPattern.match(station.uuid).hasMatch())
        return std::nullopt;
    station.name = plainText(entry.value(u"name"));
    station.streamUrl = webAddress(entry.value(u"url_resolved"));
    if (station.streamUrl.isEmpty())
        station.streamUrl = webAddress(entry.value(u"url"));
    if (station.name.isEmpty() || station.streamUrl.isEmpty())
        return std::nullopt;
    station.homepage = webAddress(entry.value(u"homepage"));
    for (const QString &tag : plainText(entry.value(u"tags")).split(u',', Qt::SkipEmptyParts)) {
        if (const QString trimmed = tag.trimmed(); !trimmed.isEmpty())
            station.tags.append(trimmed);
    }
    station.country = plainText(entry.value(u"country"));
    station.countryCode = plainText(entry.value(u"countrycode")).left(2).toUpper();
    station.language = plainText(entry.value(u"language"));
    station.codec = plainText(entry.value(u"codec")).left(20);
    station.bitrate = count(entry.value(u"bitrate"));
    station.votes = count(entry.value(u"votes"));
    station.lastCheckOk = entry.value(u"lastcheckok").toInteger(0) == 1;
    station.lastCheck =
        QDateTime::fromString(entry.value(u"lastchecktime_iso8601").toString(), Qt::ISODate);
    station.hls = entry.value(u"hls").toInteger(0) == 1;
    return station;
}

QString DirectoryStation::genre() const
{
    if (tags.isEmpty())
        return {};
    QString first = tags.first();
    first[0] = first[0].toUpper();
    return first;
}
