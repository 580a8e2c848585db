#include "hlsstation.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

constexpr int window = 16; // segments in the playlist at once: more than come between reloads
constexpr qsizetype packedFrames = 43; // ADTS frames of 1024 samples a packed segment
const QByteArray key = "0123456789abcdef";
using Route = StationSimulator::Route;

bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
         const QByteArray &input = {})
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray syncsafe(qsizetype size)
{
    QByteArray bytes(4, 0);
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(size >> (21 - 7 * i) & 0x7f);
    return bytes;
}

// An ID3v2.4 tag naming the song "Artist - Title", as packed audio carries it.
QByteArray id3(const QByteArray &title)
{
    const qsizetype dash = title.indexOf(" - ");
    QByteArray frames;
    for (const auto &[id, text] :
         {std::pair{"TPE1", title.left(dash)}, {"TIT2", title.mid(dash + 3)}})
        frames += id + syncsafe(text.size() + 1) + QByteArray(2, 0) + '\3' + text;
    return "ID3\4\0\0"_ba + syncsafe(frames.size()) + frames;
}

QByteArray encrypted(const QByteArray &plain, qsizetype sequence)
{
    QByteArray out;
    const QString iv = u"%1"_s.arg(qlonglong(sequence), 32, 16, QChar(u'0'));
    run(u"openssl"_s,
        {u"enc"_s, u"-aes-128-cbc"_s, u"-K"_s, QString::fromLatin1(key.toHex()), u"-iv"_s, iv},
        &out, plain);
    return out;
}

} // namespace

HlsStation::HlsStation(StationSimulator &station, const QByteArray &path, Kind kind, int options,
                       const QByteArray &audio, const QList<QByteArray> &titles, double songSeconds,
                       int publishMs)
    : m_station(station), m_path(path), m_options(options), m_clock(this)
{
    const QList<QPair<double, QByteArray>> bodies = cut(kind, audio);
    double at = 0;
    for (qsizetype i = 0; i < bodies.size(); ++i) {
        const auto &[seconds, plain] = bodies[i];
        // A title comes with the first segment that begins at most half a second before its song.
        const Segment segment{
            "s" + QByteArray::number(i) + ".seg", seconds,
            titles.value(qMin(qsizetype((at + 0.5) / songSeconds), titles.size() - 1))};
        at += seconds;
        const QByteArray body = (options & Id3Titles ? id3(segment.title) : QByteArray()) + plain;
        m_station.setRoute(path + '/' + segment.name,
                           Route::page("HTTP/1.0 200 OK", "application/octet-stream",
                                       options & Encrypted ? encrypted(body, i) : body));
        m_segments.append(segment);
    }
    m_station.setRoute(path + "/key", Route::page("HTTP/1.0 200 OK", "text/plain", key));
    m_station.setRoute(
        path + "/master.m3u8",
        Route::page(
            "HTTP/1.0 200 OK", "application/vnd.apple.mpegurl",
            "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=2000000,CODECS=\"avc1.4d401f,mp4a.40.2\"\n"
            "video.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=32000,CODECS=\"mp4a.40.2\"\nlow.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.2\"\nlive.m3u8\n"));
    m_entry = path + (options & Master ? "/master.m3u8" : "/live.m3u8");
    QObject::connect(&m_clock, &QTimer::timeout, this, &HlsStation::publish);
    publish();
    m_clock.start(publishMs);
}

// The audio in segments of about a second, each with its playing time.
QList<QPair<double, QByteArray>> HlsStation::cut(Kind kind, const QByteArray &audio)
{
    QList<QPair<double, QByteArray>> bodies;
    if (kind == Kind::Packed) {
        for (qsizetype at = 0; at < audio.size();) {
            const qsizetype begin = at;
            qsizetype frames = 0;
            for (; frames < packedFrames && at + 6 < audio.size(); ++frames)
                at += (audio[at + 3] & 3) << 11 | uchar(audio[at + 4]) << 3 |
                      uchar(audio[at + 5]) >> 5;
            at = qMin(at, audio.size());
            bodies.append({frames * 1024 / 44100.0, audio.mid(begin, at - begin)});
        }
        return bodies;
    }
    // The audio goes in through a pipe: a test may limit the size of the files it writes.
    QTemporaryDir dir;
    const bool mp4 = kind == Kind::Mp4;
    if (!run(u"ffmpeg"_s,
             {u"-v"_s,
              u"error"_s,
              u"-f"_s,
              u"aac"_s,
              u"-i"_s,
              u"-"_s,
              u"-c:a"_s,
              u"copy"_s,
              u"-bsf:a"_s,
              mp4 ? u"aac_adtstoasc"_s : u"null"_s,
              u"-f"_s,
              u"hls"_s,
              u"-hls_time"_s,
              u"1"_s,
              u"-hls_list_size"_s,
              u"0"_s,
              u"-hls_segment_type"_s,
              mp4 ? u"fmp4"_s : u"mpegts"_s,
              u"-hls_segment_filename"_s,
              dir.filePath(u"s%d.seg"_s),
              dir.filePath(u"list.m3u8"_s)},
             nullptr, audio))
        return {};
    if (mp4) {
        m_map = "init.mp4";
        m_station.setRoute(
            m_path + "/init.mp4",
            Route::page("HTTP/1.0 200 OK", "video/mp4", readFile(dir.filePath(u"init.mp4"_s))));
    }
    double seconds = 0;
    for (const QByteArray &line : readFile(dir.filePath(u"list.m3u8"_s)).split('\n')) {
        if (line.startsWith("#EXTINF:"))
            seconds = line.mid(8).split(',').first().toDouble();
        else if (!line.isEmpty() && !line.startsWith('#'))
            bodies.append({seconds, readFile(dir.filePath(QString::fromLatin1(line)))});
    }
    return bodies;
}

void HlsStation::publish()
{
    m_published = qMin(m_published + 1, m_segments.size());
    // Gone from the playlist before a client reloading every second can see them.
    if (m_options & Gap && m_published == m_segments.size() / 3)
        m_published = qMin(m_published + window + 3, m_segments.size());
    if (m_options & (Stall | Gone) && m_published >= m_segments.size() / 2)
        m_clock.stop();
    if (m_options & Gone && m_published >= m_segments.size() / 2) {
        m_station.setRoute(m_path + "/live.m3u8", Route::page("HTTP/1.0 404 Not Found", "", ""));
        return;
    }
    m_station.setRoute(m_path + "/live.m3u8",
                       Route::page("HTTP/1.0 200 OK", "application/vnd.apple.mpegurl", playlist()));
}

QByteArray HlsStation::playlist() const
{
    const qsizetype first = qMax<qsizetype>(0, m_published - window);
    QByteArray text = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" +
                      QByteArray::number(first) + '\n';
    if (!m_map.isEmpty())
        text += "#EXT-X-MAP:URI=\"" + m_map + "\"\n";
    if (m_options & Encrypted)
        text += "#EXT-X-KEY:METHOD=AES-128,URI=\"key\"\n";
    for (qsizetype i = first; i < m_published; ++i) {
        const Segment &segment = m_segments[i];
        text += "#EXTINF:" + QByteArray::number(segment.seconds, 'f', 3) + ',' +
                (m_options & ExtinfTitles ? segment.title : QByteArray()) + '\n' + segment.name +
                '\n';
    }
    if (m_published == m_segments.size() && !(m_options & Stall))
        text += "#EXT-X-ENDLIST\n";
    return text;
}
