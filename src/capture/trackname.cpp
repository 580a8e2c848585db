#include "capture/trackname.h"

#include <algorithm>

#include <QList>

#include "platform/textscan.h"

namespace TrackName {

namespace {

QString monthAbbreviation(int month)
{
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return QString::fromLatin1(months[month - 1]);
}

struct DateParts
{
    QString month, day, year, hour12, minute, ampm;
};

DateParts partsOf(const QDateTime &when)
{
    const int hour = when.time().hour();
    const int hour12 = hour % 12 == 0 ? 12 : hour % 12;
    return {monthAbbreviation(when.date().month()),
            TextScan::twoDigits(when.date().day()),
            QString::number(when.date().year()),
            TextScan::twoDigits(hour12),
            TextScan::twoDigits(when.time().minute()),
            hour < 12 ? QStringLiteral("AM") : QStringLiteral("PM")};
}

// Path separators, the quotes and colon that confuse players and shells, and
// what FAT and exFAT refuse (music often goes to a stick or a phone).
const QString refusedCharacters = QStringLiteral("/\\:'\"*?<>|");

qsizetype utf8Length(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

} // namespace

QString madeFileDate(const QDateTime &when)
{
    const DateParts p = partsOf(when);
    return u'_' + p.month + u'_' + p.day + u'_' + p.year + QStringLiteral("__") + p.hour12 + u'_' +
           p.minute + p.ampm;
}

QString madeTitle(const QString &base, const QDateTime &when)
{
    const DateParts p = partsOf(when);
    return base + QStringLiteral(" - ") + p.month + u' ' + p.day + QStringLiteral(", ") + p.year +
           u' ' + p.hour12 + u':' + p.minute + p.ampm;
}

QString cleanStreamTitle(const QString &streamTitle)
{
    const QString cleaned = cleanFileNamePart(streamTitle);
    return cleaned.isEmpty() ? QStringLiteral("Untitled") : cleaned;
}

QString cleanFileNamePart(const QString &text)
{
    QString cleaned;
    cleaned.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'~' || c.category() == QChar::Other_Control || (c == u'.' && cleaned.isEmpty()))
            continue;
        cleaned.append(refusedCharacters.contains(c) ? QChar(u'_') : c);
    }
    return cleaned;
}

QString fitFileName(const QString &base, const QString &kept, qsizetype maxBytes)
{
    const qsizetype room = maxBytes - kept.toUtf8().size();
    qsizetype bytes = 0;
    qsizetype end = 0;
    while (end < base.size()) {
        const bool pair =
            base[end].isHighSurrogate() && end + 1 < base.size() && base[end + 1].isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        const qsizetype size = base.mid(end, units).toUtf8().size();
        if (bytes + size > room)
            break;
        bytes += size;
        end += units;
    }
    return base.left(end) + kept;
}

QString counterSuffix(int counter)
{
    return counter > 1 ? QStringLiteral(" (%1)").arg(counter) : QString();
}

QString fileNameSafe(QStringView text)
{
    if (text.isEmpty() || text == u"." || text == u"..")
        return QString(std::max<qsizetype>(text.size(), 1), u'_');
    constexpr qsizetype maxBytes = 240;
    QList<char32_t> kept;
    qsizetype bytes = 0;
    for (char32_t c : text.toUcs4()) {
        if (c == u'/' || QChar::category(c) == QChar::Other_Control)
            c = u'_';
        bytes += utf8Length(c);
        if (bytes > maxBytes)
            break;
        kept.append(c);
    }
    return QString::fromUcs4(kept.constData(), kept.size());
}

} // namespace TrackName
