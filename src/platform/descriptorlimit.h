#pragma once

#include <optional>

#include <QString>

class QThreadPool;

// Skyvane's share of the process's file descriptors. Running out where Skyvane
// cannot choose would end it: every thread's event loop needs an eventfd, and
// GLib aborts the process when it gets none. So the threads are started while
// descriptors are plenty and kept, and a capture that would take the last ones
// is refused with a reason, while a reserve stays free for the event loop,
// storing the list, and syncing and handing over the tracks under way.
class DescriptorLimit
{
public:
    // Descriptors promised to work that opens them soon, such as a capture's
    // connection and track file: they count as taken until released, so that
    // captures starting together cannot each count on the same free ones.
    class Claim
    {
    public:
        Claim() = default;
        explicit Claim(int count);
        ~Claim() { release(); }
        Claim(Claim &&other) noexcept;
        Claim &operator=(Claim &&other) noexcept;
        Claim(const Claim &) = delete;
        Claim &operator=(const Claim &) = delete;

        // The descriptors are open now, and counted as such, or no longer wanted.
        void release();

    private:
        int m_count = 0;
    };

    // Raises the soft limit on open files to the hard limit, at most 2^20:
    // nothing in Skyvane uses select(), so high numbers are harmless. Called
    // first thing, before any descriptor or thread exists.
    static void raiseSoftLimit();

    // The descriptors kept free at a given limit.
    static int reserveFor(qint64 limit);
    // The rule: why `wanted` more descriptors must not be taken when inUse of
    // limit are open or claimed; nothing when they may.
    static std::optional<QString> refusal(qint64 inUse, qint64 limit, int wanted);
    // The same for this process now.
    static std::optional<QString> refusal(int wanted);
    // Why opening a descriptor failed with error (errno), for the log.
    static QString failure(int error);

    // Open descriptors of this process; nothing when they cannot be counted.
    static std::optional<qint64> openCount();
    static qint64 softLimit();

    // Starts the pool's one thread now and keeps it for good, so that it never
    // needs a new descriptor later. False, with no thread started, when no
    // descriptor can be spared for it now.
    static bool keepThread(QThreadPool &pool);
};
