#include "platform/clock.h"

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
