#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Splits a station's body into audio, Shoutcast/Icecast metadata blocks and
// in-band header lines. Pure: bytes in, calls on the receiver out; no files,
// no timers. Any chunking of the same bytes gives the same calls, except that
// consecutive audio may arrive in more or fewer runs.
//
// Without an announced interval the first 4096 bytes are held back and
// examined: an "ICY" status line with header fields inside the body gives the
// in-band head (which may announce the interval), anything else is audio.
class IcyDemuxer
{
public:
    class Receiver
    {
    public:
        // The bytes stay valid until the next feed(), so that a read's runs
        // can be written together.
        virtual void audioReceived(QByteArrayView audio) = 0;
        // The header lines of an in-band head, each ended by "\r\n".
        virtual void inBandHeadReceived(QByteArrayView head) = 0;
        // A metadata block that differs from the previous one and names a
        // stream title, zero padding included. `first` when it is the first
        // block of the body.
        virtual void titleBlockReceived(QByteArrayView block, bool first) = 0;

    protected:
        ~Receiver() = default;
    };

    enum class Result { Ok, LostSync };

    explicit IcyDemuxer(Receiver &receiver) : m_receiver(receiver) {}

    // The interval announced by the response's header fields: > 0 bytes of
    // audio between blocks, < 0 no metadata. Never called: examine the body.
    void setInterval(qint32 interval);

    // LostSync when a block that changed names no stream title: the bytes are
    // not where the interval says, and the rest of the chunk is dropped.
    Result feed(QByteArrayView bytes);

    // 0 unknown yet, > 0 bytes between blocks, < 0 no metadata.
    qint32 interval() const { return m_interval; }
    // Audio bytes given out so far (64-bit: a stream runs for days).
    qint64 audioBytes() const { return m_audioBytes; }
    // The part of the body still held back for examination; after a short
    // body that gave no audio, the whole body (a playlist or an error page).
    QByteArray heldBytes() const { return m_held; }

private:
    Result demultiplex(QByteArrayView bytes);
    Result takeSniffedBody();
    Result finishBlock();

    Receiver &m_receiver;
    qint32 m_interval = 0;
    qint64 m_audioBytes = 0;
    qint32 m_blockMark = 0; // 1 right after a length byte, until audio follows
    qint32 m_blockLeft = 0; // bytes of the current block still to come
    QByteArray m_held;      // the sniffed head, then the block being read
    QByteArray m_sniffed;   // the sniffed head, once demultiplexed
    QByteArray m_lastBlock; // the previous block that named a title
};
