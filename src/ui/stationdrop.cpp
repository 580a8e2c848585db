#include "ui/stationdrop.h"

#include <QMimeData>
#include <QStringList>
#include <QUrl>

namespace StationDrop {

namespace {
const QString mozUrlType = QStringLiteral("text/x-moz-url");
}

Qt::DropAction actionFor(Qt::DropActions possibleActions)
{
    return possibleActions.testFlag(Qt::CopyAction) ? Qt::CopyAction : Qt::IgnoreAction;
}

bool canTake(const QMimeData &data)
{
    return data.hasUrls() && !data.urls().isEmpty();
}

std::optional<StationLink> linkFrom(const QMimeData &data)
{
    const QList<QUrl> urls = data.urls();
    if (urls.isEmpty())
        return std::nullopt;
    // Encoded, as a station URL must be: a space in a path stays %20.
    StationLink link{urls.first().toString(QUrl::FullyEncoded), std::nullopt};
    if (data.hasFormat(mozUrlType))
        link.title = titleFromMozUrl(data.data(mozUrlType));
    return link;
}

std::optional<QString> titleFromMozUrl(const QByteArray &payload)
{
    QList<char16_t> units;
    units.reserve(payload.size() / 2);
    for (qsizetype i = 0; i + 1 < payload.size(); i += 2) {
        // Browsers send the UTF-16 of their own machine: little-endian here.
        units.append(char16_t(quint8(payload[i]) | (quint8(payload[i + 1]) << 8)));
    }
    // A byte-order mark read backwards: the other machine's order. The mark
    // itself stays on the URL's line, which is not read.
    if (!units.isEmpty() && units.first() == 0xFFFE) {
        for (char16_t &unit : units)
            unit = char16_t((unit >> 8) | (unit << 8));
    }
    QString text = QString::fromUtf16(units.constData(), units.size());
    while (text.endsWith(QChar(u'\0')))
        text.chop(1);
    text.remove(u'\r');
    const QStringList lines = text.split(u'\n');
    if (lines.size() < 2 || lines.at(1).trimmed().isEmpty())
        return std::nullopt;
    return lines.at(1);
}

} // namespace StationDrop
