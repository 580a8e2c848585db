#pragma once

#include <chrono>
#include <optional>

#include <QHash>
#include <QString>

// Keeps a guesser from trying passwords quickly. Each address may fail five
// times in a row; then it waits a minute before the next try, twice as long
// after each further failure, up to an hour. Failures of all addresses
// together are held to thirty a minute, since a guesser may come from many
// addresses (and behind a reverse proxy all come from one). A success clears
// the address's count.
class LoginGuard
{
public:
    using Clock = std::chrono::steady_clock;

    // How long the address must still wait; none when it may try now.
    std::optional<std::chrono::seconds> waitFor(const QString &address,
                                                Clock::time_point now) const;
    void failed(const QString &address, Clock::time_point now);
    void succeeded(const QString &address);

    // A failed login is answered this late, so that guesses come slowly even
    // before the limits hold.
    static constexpr std::chrono::milliseconds failureDelay{1000};

private:
    struct Failures
    {
        int count = 0;
        Clock::time_point blockedUntil;
    };

    QHash<QString, Failures> m_addresses;
    Clock::time_point m_windowStart;
    int m_failuresInWindow = 0;
};
