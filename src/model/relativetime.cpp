#include "model/relativetime.h"

namespace RelativeTime {

namespace {

constexpr qint64 hour = 3600;
// Nearer than this, a start is told as a count of hours and minutes.
constexpr qint64 countedHours = 3 * hour;

// Without a language set, Qt's short time has seconds, which a start never has.
QString timeText(QTime time, const QLocale &locale)
{
    return locale.language() == QLocale::C ? time.toString(u"HH:mm")
                                           : locale.toString(time, QLocale::ShortFormat);
}

QString dayAndTime(const QDateTime &when, const QDateTime &now, const QLocale &locale)
{
    const QString time = timeText(when.time(), locale);
    const qint64 days = now.date().daysTo(when.date());
    if (days == 0)
        return QStringLiteral("Today %1").arg(time);
    if (days == 1)
        return QStringLiteral("Tomorrow %1").arg(time);
    if (days == -1)
        return QStringLiteral("Yesterday %1").arg(time);
    if (days > 1 && days < 7)
        return locale.dayName(when.date().dayOfWeek(), QLocale::ShortFormat) + u' ' + time;
    return locale.toString(when.date(), QLocale::ShortFormat) + u' ' + time;
}

} // namespace

QString duration(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("under a minute");
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    if (minutes % 60 == 0)
        return QStringLiteral("%1 h").arg(minutes / 60);
    return QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

QString text(const QDateTime &when, const QDateTime &now, const QLocale &locale)
{
    if (!when.isValid())
        return {};
    const qint64 ahead = now.secsTo(when);
    if (ahead >= 0 && ahead < countedHours)
        return ahead < 60 ? QStringLiteral("in under a minute")
                          : QStringLiteral("in %1").arg(duration(ahead));
    if (ahead < 0 && ahead > -hour)
        return ahead > -60 ? QStringLiteral("just now")
                           : QStringLiteral("%1 ago").arg(duration(-ahead));
    return dayAndTime(when, now, locale);
}

} // namespace RelativeTime
