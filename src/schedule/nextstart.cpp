#include "schedule/nextstart.h"

#include "values/recordingsettings.h"

namespace {

// Today and the same weekday next week: every weekday flag has a start in between.
constexpr int lookAheadDays = 7;
constexpr qint32 minutesPerDay = RecordingSettings::minutesPerDay;

// Monday 0 ... Sunday 6, whatever the locale's first day of the week.
int weekdayIndex(const QDate &date)
{
    return date.dayOfWeek() - 1;
}

// The local date first, then the local clock time on it, so that a start keeps
// its wall-clock time across a daylight-saving change. A start time outside one
// day (the editor does not check its range) rolls over into the next days. A
// clock time the spring change skips runs at the first minute that exists after
// it: an invalid date would read as "due now" and start at once. Qt versions
// differ on a time inside the gap (invalid, or moved on by the gap's length), so
// a minute counts as existing only when it comes back as asked.
QDateTime localStart(const QDate &day, qint32 startTime)
{
    qint32 extraDays = startTime / minutesPerDay;
    qint32 minute = startTime % minutesPerDay;
    if (minute < 0) {
        minute += minutesPerDay;
        --extraDays;
    }
    QDate date = day.addDays(extraDays);
    for (int tries = 0; tries < 2 * minutesPerDay; ++tries, ++minute) {
        if (minute == minutesPerDay) {
            date = date.addDays(1);
            minute = 0;
        }
        const QTime clockTime(minute / 60, minute % 60);
        const QDateTime start(date, clockTime);
        if (start.isValid() && start.date() == date && start.time() == clockTime)
            return start;
    }
    return {};
}

// The start that just ran is not due again; any other capture in the same
// minute ("Now" at 09:30) leaves a later start of the day alone.
bool justRan(const QDateTime &start, const QDateTime &lastStart)
{
    return lastStart.isValid() && start <= lastStart && start.secsTo(lastStart) < 60;
}

} // namespace

namespace NextStart {

std::optional<QDateTime> after(const RecordingSettings &settings, const QDateTime &now,
                               const QDateTime &lastStart)
{
    // A start in the current minute is still due.
    const QDateTime thisMinute = now.addMSecs(-(now.time().second() * 1000 + now.time().msec()));
    const QDate today = now.date();
    const bool everyDay = settings.daily && !settings.once;
    for (int d = 0; d <= lookAheadDays; ++d) {
        if (!everyDay && !settings.days[size_t((weekdayIndex(today) + d) % 7)])
            continue;
        const QDateTime start = localStart(today.addDays(d), settings.startTime);
        if (start.isValid() && start >= thisMinute && !justRan(start, lastStart))
            return start;
    }
    return std::nullopt;
}

} // namespace NextStart
