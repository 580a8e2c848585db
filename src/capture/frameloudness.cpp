#include "capture/frameloudness.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/samplefmt.h>
}

namespace {

struct ContextDeleter
{
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct FrameDeleter
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using ContextPtr = std::unique_ptr<AVCodecContext, ContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

double sampleAt(const AVFrame &frame, int channel, int index)
{
    const auto format = AVSampleFormat(frame.format);
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int channels = frame.ch_layout.nb_channels;
    const uint8_t *plane = frame.extended_data[planar ? channel : 0];
    const int at = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        return reinterpret_cast<const float *>(plane)[at];
    case AV_SAMPLE_FMT_S16:
        return reinterpret_cast<const int16_t *>(plane)[at] / 32768.0;
    case AV_SAMPLE_FMT_S32:
        return reinterpret_cast<const int32_t *>(plane)[at] / 2147483648.0;
    default:
        return 0;
    }
}

// Sum of squares and count of the samples in a decoded frame.
void accumulate(const AVFrame &frame, double &sum, qint64 &count)
{
    const int channels = frame.ch_layout.nb_channels;
    for (int channel = 0; channel < channels; ++channel) {
        for (int i = 0; i < frame.nb_samples; ++i) {
            const double sample = sampleAt(frame, channel, i);
            sum += sample * sample;
        }
    }
    count += qint64(channels) * frame.nb_samples;
}

ContextPtr openDecoder(bool aac)
{
    const AVCodec *codec = avcodec_find_decoder(aac ? AV_CODEC_ID_AAC : AV_CODEC_ID_MP3);
    if (!codec)
        return nullptr;
    ContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

} // namespace

std::vector<double> FrameLoudness::measure(bool aac, std::span<const QByteArrayView> frames)
{
    av_log_set_level(AV_LOG_QUIET); // a frame without its reservoir is expected here
    const ContextPtr context = openDecoder(aac);
    const PacketPtr packet(av_packet_alloc());
    const FramePtr decoded(av_frame_alloc());
    if (!context || !packet || !decoded)
        return {};
    std::vector<double> loudness;
    loudness.reserve(frames.size());
    // The decoder may read a little past a packet's end: each frame is copied
    // into a buffer with the padding it asks for.
    std::vector<uint8_t> padded;
    for (const QByteArrayView frame : frames) {
        padded.assign(frame.begin(), frame.end());
        padded.resize(padded.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = int(frame.size());
        double sum = 0;
        qint64 count = 0;
        if (avcodec_send_packet(context.get(), packet.get()) == 0) {
            while (avcodec_receive_frame(context.get(), decoded.get()) == 0) {
                accumulate(*decoded, sum, count);
                av_frame_unref(decoded.get());
            }
        }
        loudness.push_back(count > 0 ? sum / double(count) : -1.0);
    }
    return loudness;
}
