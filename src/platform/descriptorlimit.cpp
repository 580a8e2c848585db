#include "platform/descriptorlimit.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

#include <dirent.h>
#include <sys/resource.h>

#include <QThreadPool>

namespace {

// The kernel's default ceiling (fs.nr_open); tables beyond it cost memory for nothing.
constexpr rlim_t highestLimit = rlim_t(1) << 20;
// Kept free at any limit: the list file, a track's sync, a hand-off, the window's needs.
constexpr qint64 smallestReserve = 8;
constexpr qint64 largestReserve = 32;
// A new thread's event loop takes one; the rest is for what other threads open meanwhile.
constexpr qint64 threadSlack = 4;

std::atomic<qint64> s_claimed = 0;

struct DirectoryCloser
{
    void operator()(DIR *directory) const { ::closedir(directory); }
};

} // namespace

DescriptorLimit::Claim::Claim(int count) : m_count(count)
{
    s_claimed += count;
}

DescriptorLimit::Claim::Claim(Claim &&other) noexcept : m_count(std::exchange(other.m_count, 0)) {}

DescriptorLimit::Claim &DescriptorLimit::Claim::operator=(Claim &&other) noexcept
{
    if (this != &other) {
        release();
        m_count = std::exchange(other.m_count, 0);
    }
    return *this;
}

void DescriptorLimit::Claim::release()
{
    s_claimed -= std::exchange(m_count, 0);
}

void DescriptorLimit::raiseSoftLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min(limit.rlim_max, highestLimit);
    if (limit.rlim_cur >= wanted)
        return;
    limit.rlim_cur = wanted;
    // Refused, the limit stays as it was and the reserve works within it.
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

int DescriptorLimit::reserveFor(qint64 limit)
{
    return int(std::clamp(limit / 4, smallestReserve, largestReserve));
}

std::optional<QString> DescriptorLimit::refusal(qint64 inUse, qint64 limit, int wanted)
{
    const int reserve = reserveFor(limit);
    if (limit - inUse - wanted >= reserve)
        return std::nullopt;
    return QStringLiteral("Too many open files: %1 of %2 file descriptors are in use, and %3 "
                          "are kept free for storing the list and finishing the tracks")
        .arg(std::min(inUse, limit))
        .arg(limit)
        .arg(reserve);
}

std::optional<QString> DescriptorLimit::refusal(int wanted)
{
    const std::optional<qint64> open = openCount();
    // Uncounted, the opening itself tells when none is left.
    if (!open)
        return std::nullopt;
    return refusal(*open + s_claimed, softLimit(), wanted);
}

QString DescriptorLimit::failure(int error)
{
    if (error != EMFILE)
        return QString::fromLocal8Bit(std::strerror(error));
    const qint64 limit = softLimit();
    return refusal(limit, limit, 1).value_or(QString());
}

std::optional<qint64> DescriptorLimit::openCount()
{
    const std::unique_ptr<DIR, DirectoryCloser> folder(::opendir("/proc/self/fd"));
    if (!folder) {
        // Not even one left to look with.
        if (errno == EMFILE)
            return softLimit();
        return std::nullopt;
    }
    qint64 count = -1; // the listing's own descriptor is among the entries
    while (const dirent *entry = ::readdir(folder.get())) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    return count;
}

qint64 DescriptorLimit::softLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return qint64(limit.rlim_cur);
}

bool DescriptorLimit::keepThread(QThreadPool &pool)
{
    const std::optional<qint64> open = openCount();
    if (open && softLimit() - *open < threadSlack)
        return false;
    pool.setMaxThreadCount(1);
    pool.setExpiryTimeout(-1);
    // An empty task starts the thread; it then waits for work for good.
    pool.start([] {});
    return true;
}
