#include "hls/segmentdemuxer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "audio/audioframe.h"
#include "hls/id3tag.h"

using namespace Qt::StringLiterals;
using Container = SegmentAudio::Container;

namespace {

constexpr qsizetype tsPacketSize = 188;
constexpr int ioBufferSize = 64 * 1024;
constexpr qsizetype adtsHeaderSize = 7;
constexpr const auto &adtsRates = AudioFrame::adtsSampleRates;

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

SegmentAudio failed(const QString &error)
{
    SegmentAudio audio;
    audio.error = error;
    return audio;
}

// Fills a segment's audio frame by frame: only whole frames of the codec and
// sample rate of its first frame go in, each with its time.
class FrameCollector
{
public:
    explicit FrameCollector(SegmentAudio &audio) : m_audio(audio) {}

    // Whether `header` belongs to the segment's stream.
    bool accepts(const AudioFrame &header) const { return !m_first || header.continues(*m_first); }

    // Appends the frame, at timeUs when the container times it, else just
    // after the frame before; times never run backwards.
    void append(QByteArrayView frame, const AudioFrame &header, std::optional<qint64> timeUs)
    {
        if (!m_first) {
            m_first = header;
            m_audio.codec = header.aac ? u"AAC"_s : u"MP3"_s;
        }
        const qint64 time = std::max(timeUs.value_or(m_nextUs), m_lastUs);
        m_audio.frames.append({m_audio.audio.size(), time / 1000});
        m_audio.audio.append(frame);
        m_lastUs = time;
        m_nextUs = time + qint64(header.samples) * 1000000 / header.sampleRate;
    }

    // Appends the whole frames that make up a container's packet, the first at timeUs.
    void appendPacket(QByteArrayView packet, std::optional<qint64> timeUs)
    {
        for (qsizetype at = 0; at < packet.size();) {
            const std::optional<AudioFrame> header = AudioFrame::at(packet, at);
            if (!header || header->length > packet.size() - at || !accepts(*header))
                return;
            append(packet.sliced(at, header->length), *header, timeUs);
            at += header->length;
            timeUs.reset();
        }
    }

private:
    SegmentAudio &m_audio;
    std::optional<AudioFrame> m_first;
    qint64 m_lastUs = 0;
    qint64 m_nextUs = 0;
};

// Packed audio: frames back to back, with ID3 tags before and between them.
SegmentAudio demuxPacked(QByteArrayView segment)
{
    SegmentAudio result;
    FrameCollector collector(result);
    for (qsizetype at = 0; at < segment.size();) {
        const QByteArrayView rest = segment.sliced(at);
        if (const qsizetype tag = Id3Tag::length(rest); tag > 0) {
            if (const std::optional<QString> title = Id3Tag::songTitle(rest.first(tag)))
                result.titles.append({result.audio.size(), *title});
            at += tag;
            continue;
        }
        if (rest.startsWith("ID3"))
            break; // a tag cut short or broken: what follows cannot be placed
        const std::optional<AudioFrame> header = AudioFrame::at(segment, at);
        if (!header || !collector.accepts(*header)) {
            ++at; // not a frame: the stream resumes at the next one
            continue;
        }
        if (header->length > rest.size())
            break; // the segment ends inside its last frame
        collector.append(rest.first(header->length), *header, std::nullopt);
        at += header->length;
    }
    if (result.audio.isEmpty())
        result.error = u"The packed audio segment holds no whole ADTS or MP3 frame."_s;
    return result;
}

bool startsPacked(QByteArrayView segment)
{
    return segment.startsWith("ID3") || AudioFrame::at(segment, 0).has_value();
}

bool isTransportStream(QByteArrayView bytes)
{
    if (bytes.size() < tsPacketSize)
        return false;
    for (qsizetype at = 0; at < std::min(bytes.size(), 5 * tsPacketSize); at += tsPacketSize) {
        if (bytes[at] != 0x47)
            return false;
    }
    return true;
}

bool startsWithMp4Box(QByteArrayView bytes)
{
    if (bytes.size() < 8)
        return false;
    const QByteArrayView type = bytes.sliced(4, 4);
    return type == "ftyp" || type == "styp" || type == "moof" || type == "moov";
}

// The fixed fields of the ADTS header that raw AAC frames get, from the
// decoder configuration in the stream's extradata.
struct AdtsConfig
{
    int profile = 1;
    int rateIndex = 4;
    int channels = 2;
};

class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes) : m_bytes(bytes) {}
    // The next `count` bits, 0 past the end (overran() tells).
    int read(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i, ++m_at) {
            const qsizetype byte = m_at / 8;
            const int bit =
                byte < m_bytes.size() ? (byteAt(m_bytes, byte) >> (7 - m_at % 8)) & 1 : 0;
            value = value << 1 | bit;
        }
        return value;
    }
    bool overran() const { return m_at > m_bytes.size() * 8; }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

int objectType(BitReader &reader)
{
    const int type = reader.read(5);
    return type == 31 ? 32 + reader.read(6) : type;
}

int rateIndex(BitReader &reader)
{
    const int index = reader.read(4);
    if (index != 15)
        return index;
    const auto *rate = std::find(adtsRates.begin(), adtsRates.end(), reader.read(24));
    return int(rate - adtsRates.begin()); // the table's size when ADTS cannot say it
}

std::optional<AdtsConfig> adtsConfig(const AVCodecParameters &parameters)
{
    if (!parameters.extradata || parameters.extradata_size < 2)
        return std::nullopt;
    BitReader reader(QByteArrayView(parameters.extradata, parameters.extradata_size));
    int type = objectType(reader);
    const int rate = rateIndex(reader);
    const int channels = reader.read(4);
    if (type == 5 || type == 29) {
        // HE-AAC: ADTS names the core, the decoder finds the rest in the frames.
        rateIndex(reader);
        type = objectType(reader);
    }
    if (reader.overran() || type < 1 || type > 4 || rate >= int(adtsRates.size()) || channels < 1 ||
        channels > 7)
        return std::nullopt;
    return AdtsConfig{type - 1, rate, channels};
}

QByteArray withAdtsHeader(const AdtsConfig &config, QByteArrayView raw)
{
    const qsizetype length = adtsHeaderSize + raw.size();
    if (length > 0x1fff)
        return {};
    const std::array<quint8, adtsHeaderSize> header{
        0xff,
        0xf1, // MPEG-4, layer 0, no CRC
        quint8(config.profile << 6 | config.rateIndex << 2 | config.channels >> 2),
        quint8((config.channels & 3) << 6 | length >> 11),
        quint8(length >> 3),
        quint8((length & 7) << 5 | 0x1f),
        0xfc, // buffer fullness: variable; one raw data block
    };
    return QByteArray(reinterpret_cast<const char *>(header.data()), adtsHeaderSize).append(raw);
}

// libavformat reads the segment from memory.
struct MemoryInput
{
    QByteArrayView bytes;
    qint64 at = 0;
};

int readMemory(void *opaque, uint8_t *buffer, int size)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 count = std::min<qint64>(size, input->bytes.size() - input->at);
    if (count <= 0)
        return AVERROR_EOF;
    std::memcpy(buffer, input->bytes.data() + input->at, size_t(count));
    input->at += count;
    return int(count);
}

int64_t seekMemory(void *opaque, int64_t offset, int whence)
{
    auto *input = static_cast<MemoryInput *>(opaque);
    const qint64 size = input->bytes.size();
    if (whence & AVSEEK_SIZE)
        return size;
    const int origin = whence & ~AVSEEK_FORCE;
    const qint64 base = origin == SEEK_CUR ? input->at : origin == SEEK_END ? size : 0;
    if ((origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) || offset < -base ||
        offset > size - base)
        return AVERROR(EINVAL);
    input->at = base + offset;
    return input->at;
}

// Nothing in a segment may make libavformat open another file or address.
int refuseOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **)
{
    return AVERROR(EPERM);
}

struct BufferDeleter
{
    void operator()(unsigned char *buffer) const { av_free(buffer); }
};
struct IoDeleter
{
    // The context may have replaced the buffer it was given: its own is freed.
    void operator()(AVIOContext *io) const
    {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct FormatDeleter
{
    void operator()(AVFormatContext *format) const { avformat_close_input(&format); }
};
struct PacketDeleter
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using IoPtr = std::unique_ptr<AVIOContext, IoDeleter>;
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

IoPtr openMemory(MemoryInput &input)
{
    std::unique_ptr<unsigned char, BufferDeleter> buffer(
        static_cast<unsigned char *>(av_malloc(ioBufferSize)));
    if (!buffer)
        return nullptr;
    IoPtr io(
        avio_alloc_context(buffer.get(), ioBufferSize, 0, &input, readMemory, nullptr, seekMemory));
    if (io)
        buffer.release();
    return io;
}

FormatPtr openFormat(AVIOContext *io, const char *formatName)
{
    const AVInputFormat *inputFormat = av_find_input_format(formatName);
    AVFormatContext *format = inputFormat ? avformat_alloc_context() : nullptr;
    if (!format)
        return nullptr;
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = refuseOpen;
    // On failure the context is freed, the custom I/O left to its owner.
    if (avformat_open_input(&format, nullptr, inputFormat, nullptr) < 0)
        return nullptr;
    return FormatPtr(format);
}

void silenceLibav()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); }); // broken segments are expected
}

int firstAudioStream(const AVFormatContext &format)
{
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVCodecParameters &parameters = *format.streams[i]->codecpar;
        if (parameters.codec_type == AVMEDIA_TYPE_AUDIO &&
            (parameters.codec_id == AV_CODEC_ID_AAC || parameters.codec_id == AV_CODEC_ID_MP3))
            return int(i);
    }
    return -1;
}

// A packet's time; nullopt when it has none or one too far out to subtract.
std::optional<qint64> microseconds(int64_t pts, AVRational timeBase)
{
    constexpr int64_t limit = int64_t(1) << 60;
    const int64_t us = pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE
                                             : av_rescale_q(pts, timeBase, AVRational{1, 1000000});
    if (us == AV_NOPTS_VALUE || us < -limit || us > limit)
        return std::nullopt;
    return us;
}

// A timed ID3 packet as a tag. FFmpeg 5 takes the first five bytes of every
// stream type 0x15 payload for a metadata cell header, though HLS sends the
// tag bare; those bytes ("ID3" and the version) are put back, as v2.4.
QByteArray timedTag(QByteArrayView packet)
{
    if (Id3Tag::length(packet) > 0)
        return packet.toByteArray();
    const QByteArray restored = QByteArray("ID3\x04\x00", 5).append(packet);
    return Id3Tag::length(restored) > 0 ? restored : QByteArray();
}

// Reads MPEG-TS or fMP4 (its init section first) through libavformat.
class ContainerReader
{
public:
    ContainerReader(QByteArrayView bytes, Container container) : m_input{bytes}
    {
        m_result.container = container;
    }

    SegmentAudio read()
    {
        silenceLibav();
        const IoPtr io = openMemory(m_input);
        const FormatPtr format = io ? openFormat(io.get(), isTs() ? "mpegts" : "mp4") : FormatPtr();
        const PacketPtr packet(av_packet_alloc());
        const QString name = SegmentAudio::containerName(m_result.container);
        if (!format || !packet)
            return failedWith(u"FFmpeg could not open the %1 segment."_s.arg(name));
        m_audioIndex = firstAudioStream(*format);
        if (m_audioIndex < 0)
            return failedWith(u"The %1 segment has no AAC or MP3 audio."_s.arg(name));
        m_audioStream = format->streams[m_audioIndex];
        m_adts = adtsConfig(*m_audioStream->codecpar);
        while (av_read_frame(format.get(), packet.get()) >= 0) {
            take(*format->streams[packet->stream_index], *packet);
            av_packet_unref(packet.get());
        }
        placeTimedTitles();
        if (m_result.audio.isEmpty())
            m_result.error = u"The %1 segment holds no whole AAC or MP3 frame."_s.arg(name);
        return m_result;
    }

private:
    struct TimedTitle
    {
        std::optional<qint64> timeUs;
        QString title;
    };

    bool isTs() const { return m_result.container == Container::TransportStream; }

    SegmentAudio failedWith(const QString &error)
    {
        m_result.error = error;
        return m_result;
    }

    void take(const AVStream &stream, const AVPacket &packet)
    {
        const QByteArrayView data(packet.data, packet.size);
        if (stream.index == m_audioIndex)
            takeAudio(data, microseconds(packet.pts, stream.time_base));
        else if (isTs() && stream.codecpar->codec_type == AVMEDIA_TYPE_DATA)
            takeTag(data, microseconds(packet.pts, stream.time_base));
    }

    void takeAudio(QByteArrayView data, std::optional<qint64> timeUs)
    {
        if (timeUs && !m_firstUs)
            m_firstUs = timeUs;
        if (timeUs)
            *timeUs -= *m_firstUs;
        const bool raw =
            m_audioStream->codecpar->codec_id == AV_CODEC_ID_AAC &&
            !(data.size() >= 2 && byteAt(data, 0) == 0xff && (byteAt(data, 1) & 0xf6) == 0xf0);
        if (!raw)
            m_frames.appendPacket(data, timeUs);
        else if (m_adts)
            m_frames.appendPacket(withAdtsHeader(*m_adts, data), timeUs);
    }

    void takeTag(QByteArrayView data, std::optional<qint64> timeUs)
    {
        const QByteArray tag = timedTag(data);
        if (const std::optional<QString> title = Id3Tag::songTitle(tag))
            m_timedTitles.append({timeUs, *title});
    }

    // Each timed title goes to the first frame at or after its time.
    void placeTimedTitles()
    {
        for (const TimedTitle &timed : std::as_const(m_timedTitles)) {
            const qint64 timeMs =
                timed.timeUs && m_firstUs ? (*timed.timeUs - *m_firstUs) / 1000 : 0;
            m_result.titles.append({m_result.offsetAt(timeMs), timed.title});
        }
        std::stable_sort(m_result.titles.begin(), m_result.titles.end(),
                         [](const auto &a, const auto &b) { return a.offset < b.offset; });
    }

    MemoryInput m_input;
    SegmentAudio m_result;
    FrameCollector m_frames{m_result};
    int m_audioIndex = -1;
    const AVStream *m_audioStream = nullptr;
    std::optional<AdtsConfig> m_adts;
    std::optional<qint64> m_firstUs;
    QList<TimedTitle> m_timedTitles;
};

} // namespace

qint64 SegmentAudio::offsetAt(qint64 timeMs) const
{
    const auto frame = std::partition_point(frames.begin(), frames.end(),
                                            [timeMs](const Frame &f) { return f.timeMs < timeMs; });
    return frame == frames.end() ? audio.size() : frame->offset;
}

QString SegmentAudio::containerName(Container container)
{
    switch (container) {
    case Container::Packed:
        return u"packed audio"_s;
    case Container::TransportStream:
        return u"MPEG-TS"_s;
    case Container::Mp4:
        return u"fMP4"_s;
    }
    return {};
}

SegmentAudio SegmentDemuxer::demux(QByteArrayView segment, QByteArrayView initSection)
{
    if (segment.size() > maxBytes - initSection.size())
        return failed(u"The segment is larger than %1 MiB and is refused."_s.arg(maxBytes >> 20));
    if (segment.isEmpty())
        return failed(u"The segment is empty."_s);
    if (startsPacked(segment))
        return demuxPacked(segment);
    // An init section is the start of the stream: for fMP4 its movie header,
    // for MPEG-TS its program tables.
    QByteArray joined;
    if (!initSection.isEmpty()) {
        joined.reserve(initSection.size() + segment.size());
        joined.append(initSection).append(segment);
    }
    const QByteArrayView whole = joined.isEmpty() ? segment : QByteArrayView(joined);
    if (isTransportStream(whole))
        return ContainerReader(whole, Container::TransportStream).read();
    if (startsWithMp4Box(segment) || startsWithMp4Box(initSection))
        return ContainerReader(whole, Container::Mp4).read();
    return failed(u"The segment is not audio the recorder knows (neither packed audio, MPEG-TS "
                  u"nor fMP4)."_s);
}
