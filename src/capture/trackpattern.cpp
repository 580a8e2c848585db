#include "capture/trackpattern.h"

#include <QList>

#include "capture/trackname.h"

namespace {

constexpr qsizetype maxPartBytes = 255;
constexpr QStringView separator = u" - ";

std::optional<QString> fieldValue(QStringView name, const TrackPattern::Fields &fields)
{
    const auto is = [name](QStringView known) {
        return name.compare(known, Qt::CaseInsensitive) == 0;
    };
    if (is(u"station"))
        return fields.station;
    if (is(u"artist"))
        return fields.artist;
    if (is(u"title"))
        return fields.title;
    if (is(u"album"))
        return fields.album;
    if (is(u"date"))
        return fields.time.toString(QStringLiteral("yyyy-MM-dd"));
    if (is(u"time"))
        return fields.time.toString(QStringLiteral("HH-mm"));
    if (is(u"counter"))
        return fields.counter > 0 ? QStringLiteral("%1").arg(fields.counter, 2, 10, QChar(u'0'))
                                  : QString();
    return std::nullopt;
}

// A field's text is put in as it is, never read again for fields.
QString substituted(QStringView part, const TrackPattern::Fields &fields)
{
    QString result;
    qsizetype at = 0;
    while (at < part.size()) {
        const qsizetype open = part.indexOf(u'{', at);
        const qsizetype close = open < 0 ? -1 : part.indexOf(u'}', open + 1);
        if (close < 0) {
            result += part.sliced(at);
            break;
        }
        result += part.sliced(at, open - at);
        if (const auto value = fieldValue(part.sliced(open + 1, close - open - 1), fields)) {
            result += *value;
            at = close + 1;
        } else {
            // Not a field: the brace is text, and what follows may still hold one.
            result += u'{';
            at = open + 1;
        }
    }
    return result;
}

// Cleaning can bare a space at the front, and trimming a dot: both run until
// neither changes anything.
QString cleanedPart(QString part)
{
    for (QString before; part != before;) {
        before = part;
        part = TrackName::cleanFileNamePart(part).trimmed();
    }
    return TrackName::fitFileName(part, QString(), maxPartBytes).trimmed();
}

} // namespace

TrackPattern::Fields TrackPattern::Fields::fromStreamTitle(const QString &streamTitle)
{
    QStringView rest = streamTitle;
    QString marks;
    for (const QStringView mark : {QStringView(u"Start of "), QStringView(u"End of ")}) {
        if (rest.startsWith(mark)) {
            marks += mark;
            rest = rest.sliced(mark.size());
        }
    }
    Fields fields;
    const qsizetype at = rest.indexOf(separator);
    if (at >= 0) {
        fields.artist = rest.first(at).trimmed().toString();
        rest = rest.sliced(at + separator.size());
    }
    fields.title = marks + rest.trimmed().toString();
    return fields;
}

std::optional<QString> TrackPattern::relativeStem(const QString &pattern, const Fields &fields)
{
    QStringList parts;
    for (const QStringView piece : QStringView(pattern).split(u'/')) {
        const QString part = cleanedPart(substituted(piece, fields));
        if (!part.isEmpty())
            parts.append(part);
    }
    if (parts.isEmpty())
        return std::nullopt;
    // The name is the last part; the folders nearest to it go.
    if (parts.size() > maxFolders + 1)
        parts.remove(maxFolders, parts.size() - 1 - maxFolders);
    return parts.join(u'/');
}
