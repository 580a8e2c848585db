#include "platform/clock.h"

#include <QLocale>

namespace {
Clock::Source &source()
{
    static Clock::Source current;
    return current;
}
} // namespace

QDateTime Clock::now()
{
    const Source &override = source();
    return override ? override() : QDateTime::currentDateTime();
}

void Clock::setSource(Source replacement)
{
    source() = std::move(replacement);
}

void Clock::reset()
{
    source() = nullptr;
}

QString Clock::displayText(const QDateTime &date)
{
    return QLocale::system().toString(date, QLocale::LongFormat);
}
