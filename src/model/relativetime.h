#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// A time near the present as a person says it: "in 25 min", "in 2 h 10 min",
// "Today 18:00", "Tomorrow 07:45", "Wed 07:45"; in the past "5 min ago",
// "Yesterday 23:10". Further off, the locale's short date and time. The
// overview shows these, with the full date in a tooltip.
namespace RelativeTime {

QString text(const QDateTime &when, const QDateTime &now,
             const QLocale &locale = QLocale::system());
// A length of time in words: "under a minute", "42 min", "1 h 5 min".
QString duration(qint64 seconds);

} // namespace RelativeTime
