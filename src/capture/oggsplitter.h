#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// Splits a chained Ogg stream into its logical streams. Icecast's Ogg mounts
// pass on a source that starts a new logical stream at every song; each one
// begins with its own header pages, so a track cut where one begins plays on
// its own. Pure: bytes in, calls on the receiver out; no files, no timers.
// Any chunking of the same bytes gives the same calls, except that
// consecutive pages may arrive in more or fewer runs.
//
// Only pages with a good CRC pass. A stream's pages are held back until its
// comment header is whole (at most 256 KiB of them), so that its title is
// known when it begins. Bytes that follow the last whole page stay held
// until more come.
class OggSplitter
{
public:
    class Receiver
    {
    public:
        // A logical stream begins; its pages follow through oggPages().
        // title: "ARTIST - TITLE" from its comment header (artist or title alone when only one is
        // there; "" when none). codec: "Ogg Vorbis", "Ogg Opus", "Ogg FLAC" or "Ogg".
        virtual void oggStreamBegins(const QString &title, const QString &codec) = 0;
        // Whole pages, in stream order; the bytes stay valid until the next feed().
        // Pages that came whole in one feed() point into its bytes.
        virtual void oggPages(QByteArrayView pages) = 0;
        // `skipped` bytes that were not part of a valid page were dropped to find the next page.
        virtual void oggResynced(qint64 skipped) = 0;

    protected:
        ~Receiver() = default;
    };

    explicit OggSplitter(Receiver &receiver) : m_receiver(receiver) {}

    void feed(QByteArrayView bytes);
    // The stream ended: a logical stream still held back, its comment header
    // never whole, begins untitled and its pages go out; a page cut short is
    // dropped.
    void finish();

    // Playing time of the current logical stream as far as its pages were given out:
    // from the first to the last granule position seen in it (Vorbis at the rate of its
    // identification header, Opus at 48 kHz), in milliseconds; 0 before any.
    // During oggStreamBegins() it still tells the stream that ends there.
    qint64 playingMs() const;

private:
    enum class State { Waiting, Holding, Passing };
    struct Granules
    {
        qint64 first = -1;
        qint64 last = -1;
        qint64 rate = 0; // samples a second; 0 unknown
    };

    qsizetype split(QByteArrayView data);
    void takePage(QByteArrayView page);
    void choose(QByteArrayView page);
    bool readComment(QByteArrayView page);
    void begin(const QString &title);
    void pass(QByteArrayView page);
    void flushRun();

    Receiver &m_receiver;
    State m_state = State::Waiting;
    QByteArray m_carry;          // an undecided tail: a page or capture pattern not yet whole
    QList<QByteArray> m_kept;    // what pages given out in this feed() point into
    const char *m_run = nullptr; // consecutive pages not yet given out
    qsizetype m_runSize = 0;
    qint64 m_skipped = 0; // garbage since the last valid page

    // The stream being held back: its pages, the serial number of the
    // logical stream whose headers count, and its comment header so far.
    QByteArray m_held;
    bool m_onlyBos = false;
    quint32 m_serial = 0;
    QString m_codec;
    qint64 m_packets = 0; // packets of m_serial completed
    QByteArray m_comment;
    Granules m_next;
    Granules m_current; // the stream given out
};
