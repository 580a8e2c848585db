#include "audio/audioframe.h"

#include <array>

namespace {

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

std::optional<AudioFrame> adtsFrame(QByteArrayView bytes, qsizetype at)
{
    const auto &rates = AudioFrame::adtsSampleRates;
    const int index = (byteAt(bytes, at + 2) >> 2) & 0xf;
    const qsizetype length = ((byteAt(bytes, at + 3) & 3) << 11) | (byteAt(bytes, at + 4) << 3) |
                             (byteAt(bytes, at + 5) >> 5);
    if (index >= int(rates.size()) || length < 7)
        return std::nullopt;
    // The raw data blocks in the frame, less one, each of 1024 samples.
    const int blocks = (byteAt(bytes, at + 6) & 3) + 1;
    return AudioFrame{true, 0, rates[size_t(index)], length, 1024 * blocks, 0};
}

std::optional<AudioFrame> mpegFrame(QByteArrayView bytes, qsizetype at)
{
    const quint8 b1 = byteAt(bytes, at + 1);
    const quint8 b2 = byteAt(bytes, at + 2);
    const int layer = (b1 >> 1) & 3;
    const int version = (b1 >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int bitrateIndex = b2 >> 4;
    const int rateIndex = (b2 >> 2) & 3;
    if (layer != 1 || version == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return std::nullopt; // layer III only: radio does not send I or II
    static constexpr std::array<int, 15> mpeg1{0,   32,  40,  48,  56,  64,  80, 96,
                                               112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<int, 15> mpeg2{0,  8,  16, 24,  32,  40,  48, 56,
                                               64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<int, 3> rates{44100, 48000, 32000};
    const bool first = version == 3;
    const int bitrate = (first ? mpeg1 : mpeg2)[size_t(bitrateIndex)];
    const int sampleRate = rates[size_t(rateIndex)] >> (first ? 0 : version == 2 ? 1 : 2);
    const int padding = (b2 >> 1) & 1;
    const qsizetype length = (first ? 144 : 72) * bitrate * 1000 / sampleRate + padding;
    // The side information follows the header and its CRC, if it has one.
    const qsizetype side = at + ((b1 & 1) ? 4 : 6);
    int reservoir = 0;
    if (side + 1 < bytes.size())
        reservoir = first ? (byteAt(bytes, side) << 1) | (byteAt(bytes, side + 1) >> 7)
                          : byteAt(bytes, side);
    return AudioFrame{false, bitrate, sampleRate, length, first ? 1152 : 576, reservoir};
}

} // namespace

std::optional<AudioFrame> AudioFrame::at(QByteArrayView bytes, qsizetype at)
{
    if (at < 0 || at + 7 > bytes.size() || byteAt(bytes, at) != 0xff ||
        (byteAt(bytes, at + 1) & 0xe0) != 0xe0)
        return std::nullopt;
    if ((byteAt(bytes, at + 1) & 0xf6) == 0xf0) // ADTS: twelve sync bits, layer 0
        return adtsFrame(bytes, at);
    return mpegFrame(bytes, at);
}
