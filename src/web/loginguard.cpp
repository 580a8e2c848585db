#include "web/loginguard.h"

#include <algorithm>

using namespace std::chrono_literals;

namespace {

constexpr int freeFailures = 5;
constexpr auto firstBlock = 60s;
constexpr auto longestBlock = 3600s;
constexpr int failuresPerWindow = 30;
constexpr auto window = 60s;
// Past this many addresses the counts start afresh: memory stays bounded
// whatever a guesser sends from, and the limit of all failures still holds.
constexpr qsizetype addressesKept = 4096;

std::chrono::seconds ceilSeconds(LoginGuard::Clock::duration duration)
{
    return std::chrono::ceil<std::chrono::seconds>(duration);
}

} // namespace

std::optional<std::chrono::seconds> LoginGuard::waitFor(const QString &address,
                                                        Clock::time_point now) const
{
    Clock::time_point until = now;
    if (m_failuresInWindow >= failuresPerWindow && now < m_windowStart + window)
        until = m_windowStart + window;
    const auto found = m_addresses.constFind(address);
    if (found != m_addresses.cend())
        until = std::max(until, found->blockedUntil);
    if (until <= now)
        return std::nullopt;
    return ceilSeconds(until - now);
}

void LoginGuard::failed(const QString &address, Clock::time_point now)
{
    if (now >= m_windowStart + window) {
        m_windowStart = now;
        m_failuresInWindow = 0;
    }
    ++m_failuresInWindow;
    if (!m_addresses.contains(address) && m_addresses.size() >= addressesKept)
        m_addresses.clear();
    Failures &failures = m_addresses[address];
    ++failures.count;
    if (failures.count < freeFailures)
        return;
    const int doublings = std::min(failures.count - freeFailures, 6);
    const auto block = std::min<std::chrono::seconds>(firstBlock * (1 << doublings), longestBlock);
    failures.blockedUntil = now + block;
}

void LoginGuard::succeeded(const QString &address)
{
    m_addresses.remove(address);
}
