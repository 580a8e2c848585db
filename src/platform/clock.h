#pragma once

#include <functional>

#include <QDateTime>

// The one source of "now" for the scheduler and the watchdog. Tests replace it
// to stand on a Monday at 09:59 or across a daylight-saving change instead of
// sleeping; everything else reads the real local time.
class Clock
{
public:
    using Source = std::function<QDateTime()>;

    static QDateTime now();
    static void setSource(Source source);
    static void reset();

    // A date as log lines show it: the system locale's long date and time.
    static QString displayText(const QDateTime &date);
};
