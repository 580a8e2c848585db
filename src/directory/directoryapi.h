#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include "directory/directorystation.h"

// What a search of the directory asks for: the name, narrowed by tag,
// country, language, codec and a minimum bitrate; a page of the results.
struct StationFilter
{
    QString name;
    QString tag;
    QString country;
    QString language;
    QString codec;
    int minBitrate = 0; // kbit/s
    int offset = 0;
    int limit = 50;
};

// The community directory's JSON API, as its etiquette asks: broken stations
// hidden, the best voted first, a page at a time; a station taken into
// Skyvane counted as a click. Only addresses and answers here: the transfers
// are the caller's.
namespace DirectoryApi {

// More than any page of stations a search asks for: an answer that is larger
// is not a directory's.
constexpr qint64 maxAnswerBytes = 4 * 1024 * 1024;

// The published list of the directory's servers.
QUrl serverListUrl(const QUrl &base);
// /json/stations/search on `base`, the filter's terms escaped.
QUrl searchUrl(const QUrl &base, const StationFilter &filter);
// /json/url/<uuid>: counts a click and answers with the station. The uuid
// is a station's, which holds only letters, digits and '-'.
QUrl clickUrl(const QUrl &base, const QString &uuid);

// The servers of a /json/servers answer, each once, in the order given, as
// addresses with the scheme and port of `base` (the servers of a directory
// speak alike); names that are not host names are left out.
QList<QUrl> serversFromJson(const QByteArray &answer, const QUrl &base);
// The usable stations of a search's answer, broken entries left out; nothing
// and a reason when the answer is not a list.
QList<DirectoryStation> stationsFromJson(const QByteArray &answer, QString *problem = nullptr);

} // namespace DirectoryApi
