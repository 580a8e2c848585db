#pragma once

#include <array>
#include <optional>

#include <QByteArrayView>

// One MPEG audio layer III or ADTS AAC frame header, as radio sends them.
// Pure: the header's fields, and where the frame ends.
struct AudioFrame
{
    bool aac = false;
    int bitrate = 0; // kbit/s, MP3 only
    int sampleRate = 0;
    qsizetype length = 0; // the whole frame, header included
    int samples = 0;      // per channel
    // MP3: bytes of its audio that lie in the frames before it (the bit
    // reservoir). A track that begins with such a frame loses that frame.
    int reservoirBytes = 0;

    // ADTS's sampling frequency table, by index, as the AAC decoder
    // configuration uses it too.
    static constexpr std::array<int, 13> adtsSampleRates{
        96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

    // The frame whose header starts at `at`, if one does.
    static std::optional<AudioFrame> at(QByteArrayView bytes, qsizetype at);

    // Whether two frames belong to the same stream: a header found by chance
    // in other data rarely agrees with its neighbour on both.
    bool continues(const AudioFrame &other) const
    {
        return aac == other.aac && sampleRate == other.sampleRate;
    }
    qint64 durationUs() const { return qint64(samples) * 1000000 / sampleRate; }
};
