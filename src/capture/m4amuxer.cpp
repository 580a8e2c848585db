#include "capture/m4amuxer.h"

#include <mutex>
#include <optional>
#include <vector>

#include "audio/audioframe.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// A fragment every two seconds or so: a track cut off by a crash loses
// little, and the muxer never holds more than a fragment's worth in memory.
constexpr char fragmentMicroseconds[] = "2000000";
constexpr int ioBufferBytes = 32 * 1024;
constexpr int adtsHeaderBytes = 7;

#if LIBAVFORMAT_VERSION_MAJOR < 61
using WriteBuffer = uint8_t *;
#else
using WriteBuffer = const uint8_t *;
#endif

struct FormatDeleter
{
    void operator()(AVFormatContext *format) const { avformat_free_context(format); }
};
// The context's buffer may have been replaced by libavformat: free the one it holds.
struct IoDeleter
{
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct BufferDeleter
{
    void operator()(uint8_t *buffer) const { av_free(buffer); }
};
struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;
using IoPtr = std::unique_ptr<AVIOContext, IoDeleter>;
using BufferPtr = std::unique_ptr<uint8_t, BufferDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// The fields of an ADTS header that the MP4 sample description needs.
struct AdtsHeader
{
    int objectType = 0; // the ADTS profile plus one
    int rateIndex = 0;
    int channelConfig = 0; // 1-6 channels, 7 for eight
    int sampleRate = 0;
    qsizetype headerLength = adtsHeaderBytes; // 9 with a CRC
    qsizetype frameLength = 0;
    int samples = 0;

    bool sameTrack(const AdtsHeader &other) const
    {
        return objectType == other.objectType && rateIndex == other.rateIndex &&
               channelConfig == other.channelConfig;
    }
    int channels() const { return channelConfig == 7 ? 8 : channelConfig; }
    QString text() const
    {
        return QStringLiteral("%1 Hz, %2 channel(s), object type %3")
            .arg(sampleRate)
            .arg(channels())
            .arg(objectType);
    }
};

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

// The header at `at`, with at least its seven bytes there; nullopt when
// they are no ADTS header.
std::optional<AdtsHeader> adtsHeaderAt(QByteArrayView bytes, qsizetype at)
{
    const std::optional<AudioFrame> frame = AudioFrame::at(bytes, at);
    if (!frame || !frame->aac)
        return std::nullopt;
    AdtsHeader header;
    header.objectType = (byteAt(bytes, at + 2) >> 6) + 1;
    header.rateIndex = (byteAt(bytes, at + 2) >> 2) & 0xf;
    header.channelConfig = ((byteAt(bytes, at + 2) & 1) << 2) | (byteAt(bytes, at + 3) >> 6);
    header.sampleRate = frame->sampleRate;
    header.headerLength = (byteAt(bytes, at + 1) & 1) ? adtsHeaderBytes : adtsHeaderBytes + 2;
    header.frameLength = frame->length;
    header.samples = frame->samples;
    return header;
}

// Why a frame cannot go into the track as it is; empty when it can.
QString refusal(const AdtsHeader &header, const std::optional<AdtsHeader> &track)
{
    if (header.frameLength <= header.headerLength)
        return QStringLiteral("An ADTS frame holds no audio");
    if (header.channelConfig == 0)
        return QStringLiteral("AAC with its channels in the stream is not supported");
    // Several raw blocks per frame would need splitting into samples of their own.
    if (header.samples != 1024)
        return QStringLiteral("ADTS frames of several AAC blocks are not supported");
    if (track && !track->sameTrack(header))
        return QStringLiteral("The AAC stream changes from %1 to %2")
            .arg(track->text(), header.text());
    return {};
}

// The audio of the whole frames at the start of some bytes, headers left out.
struct WholeFrames
{
    std::vector<QByteArrayView> payloads;
    std::optional<AdtsHeader> track; // as the first frame sets it
    qsizetype end = 0;               // where a frame not yet whole begins
};

// Every whole frame is checked before any is written: a refused write leaves
// the muxer as it was, and the caller can start a new track with its bytes.
std::optional<WholeFrames> wholeFrames(QByteArrayView bytes, std::optional<AdtsHeader> track,
                                       QString *error)
{
    WholeFrames frames{{}, track, 0};
    qsizetype at = 0;
    while (bytes.size() - at >= adtsHeaderBytes) {
        const std::optional<AdtsHeader> header = adtsHeaderAt(bytes, at);
        if (!header) {
            *error = QStringLiteral("Not an ADTS AAC frame at byte %1").arg(at);
            return std::nullopt;
        }
        if (const QString why = refusal(*header, frames.track); !why.isEmpty()) {
            *error = why;
            return std::nullopt;
        }
        if (header->frameLength > bytes.size() - at)
            break;
        frames.track = header;
        frames.payloads.push_back(
            bytes.sliced(at + header->headerLength, header->frameLength - header->headerLength));
        at += header->frameLength;
    }
    frames.end = at;
    return frames;
}

// The stream as the MP4 sample description tells it: the ADTS header's
// fields become the decoder configuration (AudioSpecificConfig) players read.
bool describe(AVCodecParameters &codec, const AdtsHeader &header)
{
    const int config = header.objectType << 11 | header.rateIndex << 7 | header.channelConfig << 3;
    codec.extradata = static_cast<uint8_t *>(av_mallocz(2 + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!codec.extradata)
        return false;
    codec.extradata[0] = uint8_t(config >> 8);
    codec.extradata[1] = uint8_t(config & 0xff);
    codec.extradata_size = 2;
    codec.codec_type = AVMEDIA_TYPE_AUDIO;
    codec.codec_id = AV_CODEC_ID_AAC;
    codec.sample_rate = header.sampleRate;
    codec.frame_size = header.samples;
    av_channel_layout_default(&codec.ch_layout, header.channels());
    return true;
}

QString libavError(const char *what, int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QStringLiteral("Can not %1 the .m4a file: %2")
        .arg(QLatin1StringView(what), QString::fromUtf8(text));
}

void silenceLibav()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

} // namespace

struct M4aMuxer::Private
{
    Sink sink;
    QByteArray held; // the first bytes of a frame whose rest is still to come
    std::optional<AdtsHeader> track;
    IoPtr io; // outlives the format context that writes through it
    FormatPtr format;
    PacketPtr packet;
    qint64 samples = 0; // written so far, the next frame's time stamp
    bool finished = false;

    static int writeBytes(void *opaque, WriteBuffer buffer, int size)
    {
        static_cast<Private *>(opaque)->sink(
            QByteArrayView(reinterpret_cast<const char *>(buffer), size));
        return size;
    }

    bool open(const AdtsHeader &first, QString *error);
    bool writeFrame(QByteArrayView payload, QString *error);
};

bool M4aMuxer::Private::open(const AdtsHeader &first, QString *error)
{
    silenceLibav();
    // Made aside and kept only once the header is out, so that a failed
    // start leaves nothing half open.
    BufferPtr buffer(static_cast<uint8_t *>(av_malloc(ioBufferBytes)));
    IoPtr madeIo;
    if (buffer) {
        madeIo.reset(avio_alloc_context(buffer.get(), ioBufferBytes, 1, this, nullptr, &writeBytes,
                                        nullptr));
    }
    if (madeIo)
        buffer.release();
    AVFormatContext *made = nullptr;
    // The iPod flavour of MP4 brands the file as M4A audio.
    int code = avformat_alloc_output_context2(&made, nullptr, "ipod", nullptr);
    FormatPtr madeFormat(made);
    PacketPtr madePacket(av_packet_alloc());
    AVStream *stream = madeFormat ? avformat_new_stream(madeFormat.get(), nullptr) : nullptr;
    if (code < 0 || !madeIo || !stream || !madePacket || !describe(*stream->codecpar, first)) {
        *error = libavError("start", code < 0 ? code : AVERROR(ENOMEM));
        return false;
    }
    stream->time_base = AVRational{1, first.sampleRate};
    madeFormat->pb = madeIo.get();
    madeFormat->flags |= AVFMT_FLAG_CUSTOM_IO;

    // Fragments from an empty moov on, so nothing is ever patched in place;
    // an audio track has no key frames to cut at, so a duration cuts them.
    AVDictionary *options = nullptr;
    av_dict_set(&options, "movflags", "empty_moov+default_base_moof", 0);
    av_dict_set(&options, "frag_duration", fragmentMicroseconds, 0);
    code = avformat_write_header(madeFormat.get(), &options);
    av_dict_free(&options);
    if (code < 0) {
        *error = libavError("start", code);
        return false;
    }
    io = std::move(madeIo);
    format = std::move(madeFormat);
    packet = std::move(madePacket);
    track = first;
    return true;
}

bool M4aMuxer::Private::writeFrame(QByteArrayView payload, QString *error)
{
    AVStream *stream = format->streams[0];
    packet->data = reinterpret_cast<uint8_t *>(const_cast<char *>(payload.data()));
    packet->size = int(payload.size());
    packet->stream_index = 0;
    packet->flags = AV_PKT_FLAG_KEY;
    packet->pts = packet->dts = samples;
    packet->duration = track->samples;
    av_packet_rescale_ts(packet.get(), AVRational{1, track->sampleRate}, stream->time_base);
    const int code = av_write_frame(format.get(), packet.get());
    av_packet_unref(packet.get());
    if (code < 0) {
        *error = libavError("write", code);
        return false;
    }
    samples += track->samples;
    return true;
}

M4aMuxer::M4aMuxer(Sink sink) : d(std::make_unique<Private>())
{
    d->sink = std::move(sink);
}

M4aMuxer::~M4aMuxer() = default;

bool M4aMuxer::write(QByteArrayView adtsFrames, QString *error)
{
    if (d->finished) {
        *error = QStringLiteral("The .m4a file is already finished");
        return false;
    }
    QByteArray joined;
    QByteArrayView bytes = adtsFrames;
    if (!d->held.isEmpty()) {
        joined = d->held;
        joined.append(adtsFrames);
        bytes = joined;
    }
    const std::optional<WholeFrames> frames = wholeFrames(bytes, d->track, error);
    if (!frames)
        return false;
    if (!frames->payloads.empty() && !d->format && !d->open(*frames->track, error))
        return false;
    for (const QByteArrayView payload : frames->payloads) {
        if (!d->writeFrame(payload, error))
            return false;
    }
    // At most one frame's first bytes: an ADTS frame is under 8 KiB.
    d->held = bytes.sliced(frames->end).toByteArray();
    return true;
}

bool M4aMuxer::finish(QString *error)
{
    if (d->finished) {
        *error = QStringLiteral("The .m4a file is already finished");
        return false;
    }
    // Bytes of a frame that never came whole are dropped with it.
    d->finished = true;
    if (!d->format) {
        *error = QStringLiteral("No AAC frames for the .m4a file");
        return false;
    }
    const int code = av_write_trailer(d->format.get());
    avio_flush(d->io.get());
    if (code < 0) {
        *error = libavError("finish", code);
        return false;
    }
    return true;
}
