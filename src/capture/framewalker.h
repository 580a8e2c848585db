#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include "audio/audioframe.h"

// Walks an MP3 or ADTS AAC stream from frame header to frame header, in
// bytes that arrive in pieces of any size, so that a track can begin at a
// frame and end after a whole one. Pure: bytes in, calls on the receiver out.
//
// Sync is found at two headers in a row that agree, and kept while each
// frame is followed by another that agrees; bytes between are skipped. The
// first bytes of a stream joined mid-frame are skipped the same way.
class FrameWalker
{
public:
    class Receiver
    {
    public:
        // A whole frame; the bytes stay valid until the next feed().
        virtual void frameFound(QByteArrayView frame, const AudioFrame &header) = 0;
        // `count` bytes that were not frames were dropped before the frame
        // that follows; `atStart` when they opened the stream.
        virtual void bytesSkipped(qint64 count, bool atStart) = 0;

    protected:
        ~Receiver() = default;
    };

    explicit FrameWalker(Receiver &receiver) : m_receiver(receiver) {}

    void feed(QByteArrayView bytes);
    // Bytes held for a frame not yet whole; dropped when the stream ends.
    qsizetype heldBytes() const { return m_held.size(); }

private:
    qsizetype walk(QByteArrayView bytes);
    // Where in `bytes`, from `from`, a frame begins that the next agrees
    // with; -1 when none does, with `decided` the first position that more
    // bytes could still prove a frame start.
    qsizetype findSync(QByteArrayView bytes, qsizetype from, qsizetype &decided) const;

    Receiver &m_receiver;
    QByteArray m_held;
    AudioFrame m_last;
    bool m_synced = false;
    bool m_started = false; // a frame was found
    qint64 m_skipped = 0;   // since sync was lost
};
