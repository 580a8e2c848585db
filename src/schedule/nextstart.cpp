#include "schedule/nextstart.h"

#include "model/recordingsettings.h"

namespace {

constexpr int lookAheadDays = 7;

// Monday 0 ... Sunday 6, whatever the locale's first day of the week.
int weekdayIndex(const QDate &date)
{
    return date.dayOfWeek() - 1;
}

bool startedThisMinute(const QDateTime &startDate, const QDateTime &now)
{
    if (!startDate.isValid())
        return false;
    const auto minuteOf = [](const QDateTime &t) {
        return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute()));
    };
    return minuteOf(startDate) == minuteOf(now);
}

// The local date first, then the local clock time on it, so that a start keeps
// its wall-clock time across a daylight-saving change. A start time outside one
// day (the editor does not check its range) rolls over into the next days.
QDateTime localStart(const QDate &day, qint32 startTime)
{
    constexpr qint32 minutesPerDay = 24 * 60;
    qint32 extraDays = startTime / minutesPerDay;
    qint32 minute = startTime % minutesPerDay;
    if (minute < 0) {
        minute += minutesPerDay;
        --extraDays;
    }
    return QDateTime(day.addDays(extraDays), QTime(minute / 60, minute % 60));
}

} // namespace

namespace NextStart {

std::optional<QDateTime> after(const RecordingSettings &settings, const QDateTime &now,
                               const QDateTime &lastStart)
{
    const int nowMinute = now.time().hour() * 60 + now.time().minute();
    const QDate today = now.date();
    int firstOffset = settings.startTime < nowMinute ? 1 : 0;
    if (firstOffset == 0 && startedThisMinute(lastStart, now))
        firstOffset = 1;
    std::optional<int> offset;
    if (settings.daily && !settings.once) {
        offset = firstOffset;
    } else {
        for (int d = firstOffset; d <= lookAheadDays && !offset; ++d) {
            if (settings.days[size_t((weekdayIndex(today) + d) % 7)])
                offset = d;
        }
    }
    if (!offset)
        return std::nullopt;
    return localStart(today.addDays(*offset), settings.startTime);
}

} // namespace NextStart
