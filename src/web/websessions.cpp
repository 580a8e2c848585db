#include "web/websessions.h"

#include <algorithm>

#include <sodium.h>

QByteArray WebSessions::open(Clock::time_point now)
{
    if (m_lastUsed.size() >= maxSessions) {
        const auto oldest = std::min_element(m_lastUsed.cbegin(), m_lastUsed.cend());
        m_lastUsed.erase(oldest);
    }
    if (sodium_init() < 0)
        return {};
    QByteArray random(32, Qt::Uninitialized);
    randombytes_buf(random.data(), size_t(random.size()));
    const QByteArray token = random.toHex();
    m_lastUsed.insert(token, now);
    return token;
}

bool WebSessions::use(const QByteArray &token, Clock::time_point now)
{
    const auto found = m_lastUsed.find(token);
    if (found == m_lastUsed.end())
        return false;
    if (now - *found > idleLimit) {
        m_lastUsed.erase(found);
        return false;
    }
    *found = now;
    return true;
}

void WebSessions::close(const QByteArray &token)
{
    m_lastUsed.remove(token);
}
