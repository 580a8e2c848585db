#pragma once

#include <deque>

#include <QByteArray>
#include <QByteArrayView>

#include "capture/framewalker.h"

// Places the cuts between songs. A title change says roughly where a song
// ends; the cut goes to a frame boundary, moved by the recording's title
// offset, at the quietest point within its window either side. To look back
// that far the newest audio is held for the window (less the offset) before
// it goes out. Pure: audio and title changes in, calls on the receiver out.
//
// Every byte of audio goes out exactly once, to the song before a cut or the
// one after it: nothing is dropped between songs. Audio that is not framed
// (a codec other than MP3 and ADTS AAC) goes out as it comes, and its cuts
// fall where the titles change.
class SongCutter final : private FrameWalker::Receiver
{
public:
    class Receiver
    {
    public:
        // Audio of the song under way and how long it plays (0 unframed);
        // the bytes stay valid until the next call on the cutter.
        virtual void songAudio(QByteArrayView audio, qint64 durationUs) = 0;
        // A song ends here: the audio that follows belongs to the title
        // change after the ones already ended, in order.
        virtual void songEnds() = 0;
        // Bytes that were not frames were dropped (see FrameWalker).
        virtual void audioSkipped(qint64 count, bool atStart) = 0;

    protected:
        ~Receiver() = default;
    };

    struct Placement
    {
        qint64 offsetUs = 0; // > 0: the song changes after its title does
        qint64 windowUs = 0; // either side of the offset; 0: cut at the frame there
    };

    enum class Framing { None, Mp3, Aac };

    SongCutter(Receiver &receiver, Framing framing, Placement placement);

    void feed(QByteArrayView audio);
    // The title changed after the audio fed so far.
    void titleChanged();
    // The stream ended: the cuts still to come are placed in the audio there
    // is, and all of it goes out.
    void finish();

    // The loudest frame a cut may land on counts as quiet when it is at most
    // this many times as loud as the quietest frame in the window (9 dB):
    // a pause is rarely digital silence.
    static constexpr double quietRatio = 8.0;

private:
    struct HeldFrame
    {
        qint64 offset; // in the stream, to tell where its bytes are in m_held
        qsizetype length;
        qint64 startUs;
        qint64 durationUs;
        bool standsAlone; // a track may begin with it and lose nothing
    };

    void frameFound(QByteArrayView frame, const AudioFrame &header) override;
    void bytesSkipped(qint64 count, bool atStart) override;

    void placeDueCuts();
    void placeCut(qint64 targetUs);
    // The index into m_frames of the frame a cut near targetUs goes before.
    std::size_t cutIndex(qint64 targetUs) const;
    std::size_t quietestIndex(std::size_t first, std::size_t last, qint64 targetUs) const;
    // Of the frames [first, last), the one nearest `middle` that stands alone.
    std::size_t nearestStandingAlone(std::size_t first, std::size_t last, std::size_t middle) const;
    // Hands on the first `count` held frames as one run.
    void release(std::size_t count);
    void releaseBefore(qint64 horizonUs);
    void dropReleased();

    Receiver &m_receiver;
    const Framing m_framing;
    const Placement m_placement;
    FrameWalker m_walker;
    QByteArray m_held;
    qint64 m_heldOffset = 0;    // where m_held begins in the stream
    qint64 m_releasedBytes = 0; // of m_held, handed on but still readable
    std::deque<HeldFrame> m_frames;
    std::deque<qint64> m_cuts; // targets of the cuts not yet placed
    qint64 m_streamOffset = 0; // bytes of frames found
    qint64 m_endUs = 0;        // playing time of the frames found
};
