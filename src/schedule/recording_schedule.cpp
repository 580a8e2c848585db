#include "model/recording.h"

#include <limits>

#include <QLocale>
#include <QTimer>

#include "platform/clock.h"

namespace {

constexpr int resumeDelaySeconds = 15;
constexpr double nearWindowSeconds = 600.0;
constexpr int recheckMinutes = 5;
constexpr int lookAheadDays = 7;

// Monday 0 ... Sunday 6, whatever the locale's first day of the week.
int weekdayIndex(const QDate &date)
{
    return date.dayOfWeek() - 1;
}

// Whether a capture of this recording started within the current minute: then
// today's start is what just ran, and must not be found due again.
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

void Recording::schedule()
{
    deschedule();
    const QDateTime now = Clock::now();
    const int nowMinute = now.time().hour() * 60 + now.time().minute();
    const QDate today = now.date();
    const bool everyDay = daily && !once;
    nextDate = QDateTime();

    if (reconnect && willResume) {
        log(QStringLiteral("Will reconnect after 15 seconds\n"));
        nextDate = now.addSecs(resumeDelaySeconds);
    } else {
        int firstOffset = startTime < nowMinute ? 1 : 0;
        if (firstOffset == 0 && startedThisMinute(startDate, now))
            firstOffset = 1;
        std::optional<int> offset;
        if (everyDay) {
            offset = firstOffset;
        } else {
            for (int d = firstOffset; d <= lookAheadDays && !offset; ++d) {
                if (days[size_t((weekdayIndex(today) + d) % 7)])
                    offset = d;
            }
        }
        if (!offset) {
            log(QStringLiteral("The recording is disabled\n"));
            return;
        }
        nextDate = localStart(today.addDays(*offset), startTime);
    }
    fmtlog("Next recording is at %@\n", stringFromDate(nextDate));
    checkTime(nullptr);
}

void Recording::deschedule()
{
    if (!timer)
        return;
    timer->stop();
    timer->disconnect(this);
    // The timer may be the one whose callback is running right now.
    timer->deleteLater();
    timer = nullptr;
}

void Recording::checkTime(QTimer *sender)
{
    const QDateTime now = Clock::now();
    const double secondsToStart = double(now.msecsTo(nextDate)) / 1000.0;
    if (secondsToStart <= 0 && sender) {
        record(sender);
        return;
    }
    deschedule();
    armTimer(secondsToStart <= nearWindowSeconds ? nextDate : now.addSecs(recheckMinutes * 60));
}

void Recording::armTimer(const QDateTime &fireDate)
{
    Q_ASSERT_X(timer == nullptr, "Recording::armTimer", "timer == nil");
    const qint64 delay =
        std::clamp<qint64>(Clock::now().msecsTo(fireDate), 0, std::numeric_limits<int>::max());
    timer = new QTimer(this);
    timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early, which would re-check instead of start.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(int(delay));
    QTimer *const armed = timer;
    QObject::connect(timer, &QTimer::timeout, this, [this, armed] { checkTime(armed); });
    timer->start();
}

QString Recording::stringFromDate(const QDateTime &date)
{
    return QLocale::system().toString(date, QLocale::LongFormat);
}
