#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "capture/trackwriter.h"

// Makes finished tracks durable before they are handed over. The file and its
// folder entry are synced to the disk on a worker thread that every capture
// shares, one track after another, so that a slow disk (a USB stick, a network
// share) never holds up the event loop at a track change.
class TrackSync : public QObject
{
    Q_OBJECT

public:
    explicit TrackSync(QObject *parent = nullptr);
    ~TrackSync() override;

    void add(const Track &track);
    bool isIdle() const { return m_pending == 0; }

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
