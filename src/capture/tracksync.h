#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "capture/trackwriter.h"

// Makes finished tracks durable before they are handed over. The file and its
// folder entry are synced to the disk on a worker thread that every capture
// shares, so that a slow disk (a USB stick, a network share) never holds up the
// event loop at a track change. Tracks that end while a sync is under way are
// synced together next, their folder once for all of them.
class TrackSync : public QObject
{
    Q_OBJECT

public:
    explicit TrackSync(QObject *parent = nullptr);
    ~TrackSync() override;

    void add(const Track &track);
    bool isIdle() const { return m_pending == 0; }

    // How a descriptor is made durable: fdatasync(2) for a track, fsync(2) for
    // its folder; 0, or -1 with errno set. Benchmarks put a slow disk in its
    // place; nullptr brings back the system's. Set while no sync is under way.
    using Flush = int (*)(int fd, bool folder);
    static void setFlush(Flush flush);

Q_SIGNALS:
    // In the order the tracks were added. error is empty when the track is on
    // the disk, else why it could not be made so.
    void synced(const Track &track, const QString &error);

private:
    struct Receiver;

    void deliver(const Track &track, const QString &error);

    std::shared_ptr<Receiver> m_receiver;
    int m_pending = 0;
};
