#pragma once

#include <chrono>

#include <QByteArray>
#include <QHash>

// The sessions of the logged-in browsers, kept in memory only: a restart of
// Skyvane logs everyone out. A session is a random token of 256 bits that
// ends after a week unused; at most 64 are kept, the least recently used
// going first.
class WebSessions
{
public:
    using Clock = std::chrono::steady_clock;

    QByteArray open(Clock::time_point now);
    // Whether the token names a live session, which it then keeps alive.
    bool use(const QByteArray &token, Clock::time_point now);
    void close(const QByteArray &token);

    static constexpr std::chrono::hours idleLimit{24 * 7};
    static constexpr qsizetype maxSessions = 64;

private:
    QHash<QByteArray, Clock::time_point> m_lastUsed;
};
