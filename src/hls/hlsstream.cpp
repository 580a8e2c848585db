#include "hls/hlsstream.h"

#include <algorithm>

#include "hls/segmentcipher.h"

namespace {

using namespace std::chrono_literals;

// A master playlist that leads to another master, and so on, is a loop.
constexpr int maxMasters = 3;
// A key is 16 bytes; an init section a few hundred.
constexpr qint64 maxKeyBytes = 1024;
constexpr qint64 maxInitBytes = 1024 * 1024;
// Segments that fail one after another before the stream is given up.
constexpr int maxFailuresInARow = 3;
// Date range IDs remembered, so that a long capture does not grow without end.
constexpr qsizetype maxDateRanges = 1000;

std::chrono::milliseconds atLeast(std::chrono::milliseconds floor, qint64 ms)
{
    return std::max(floor, std::chrono::milliseconds(ms));
}

// An init section by its address and byte range: one file may hold several.
QString initSectionKey(const HlsPlaylist::Segment &segment)
{
    if (!segment.mapRange)
        return segment.map.toString();
    return QStringLiteral("%1@%2+%3")
        .arg(segment.map.toString())
        .arg(segment.mapRange->offset)
        .arg(segment.mapRange->length);
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', ms % 1000 == 0 ? 0 : 1);
}

} // namespace

HlsStream::HlsStream(QObject *parent)
    : QObject(parent), m_playlistFetch(this), m_fetch(this), m_reload(this)
{
    m_reload.setSingleShot(true);
    QObject::connect(&m_reload, &QTimer::timeout, this, [this] { fetchPlaylist(m_playlistUrl); });
    QObject::connect(&m_playlistFetch, &BodyFetch::done, this, &HlsStream::onPlaylist);
    QObject::connect(&m_playlistFetch, &BodyFetch::failed, this, &HlsStream::onPlaylistFailed);
    QObject::connect(&m_fetch, &BodyFetch::done, this, &HlsStream::onBody);
    QObject::connect(&m_fetch, &BodyFetch::failed, this, &HlsStream::onBodyFailed);
}

HlsStream::~HlsStream() = default;

void HlsStream::start(const QUrl &url, const QByteArray &body)
{
    m_playlistUrl = url;
    const HlsPlaylist playlist = HlsPlaylist::parse(body, url);
    if (playlist.kind == HlsPlaylist::Kind::Master)
        followMaster(playlist);
    else
        takeMedia(playlist);
}

void HlsStream::stop()
{
    m_stopped = true;
    m_playlistFetch.cancel();
    m_fetch.cancel();
    m_reload.stop();
}

QString HlsStream::description() const
{
    QStringList parts{QStringLiteral("HLS")};
    if (!m_variant.isEmpty())
        parts.append(m_variant);
    if (!m_format.isEmpty())
        parts.append(m_format);
    return parts.join(QStringLiteral(", "));
}

void HlsStream::fetchPlaylist(const QUrl &url)
{
    m_playlistFetch.start(url, HlsPlaylist::maxBytes, atLeast(10s, 2 * m_targetMs));
}

void HlsStream::onPlaylist(const QByteArray &body)
{
    const HlsPlaylist playlist = HlsPlaylist::parse(body, m_playlistFetch.url());
    if (playlist.kind == HlsPlaylist::Kind::Master) {
        followMaster(playlist);
        return;
    }
    m_playlistUrl = m_playlistFetch.url();
    takeMedia(playlist);
}

void HlsStream::onPlaylistFailed(const QString &reason)
{
    if (!m_nextSequence) {
        fail(QStringLiteral("Could not fetch the HLS playlist: %1").arg(reason));
        return;
    }
    // A reload that failed is a reload that brought nothing.
    log(QStringLiteral("Could not reload the HLS playlist: %1").arg(reason));
    if (checkGrowth(false))
        scheduleReload(false);
}

void HlsStream::followMaster(const HlsPlaylist &master)
{
    if (++m_masters > maxMasters) {
        fail(QStringLiteral("The HLS master playlists lead to one another without end"),
             Failure::Refused);
        return;
    }
    const std::optional<QUrl> target = master.audioPlaylist();
    if (!target) {
        fail(QStringLiteral("The HLS master playlist names no stream to follow"), Failure::Refused);
        return;
    }
    qint64 bandwidth = 0;
    for (const HlsPlaylist::Variant &variant : master.variants) {
        if (variant.uri == *target)
            bandwidth = variant.bandwidth;
    }
    m_variant = bandwidth > 0 ? QStringLiteral("%1 kbit/s variant").arg(bandwidth / 1000)
                              : QStringLiteral("audio rendition");
    log(QStringLiteral("HLS master playlist with %1 variants: following the %2 at %3")
            .arg(master.variants.size())
            .arg(m_variant, target->toString()));
    fetchPlaylist(*target);
}

void HlsStream::takeMedia(const HlsPlaylist &media)
{
    if (media.kind != HlsPlaylist::Kind::Media) {
        if (!m_nextSequence) {
            fail(QStringLiteral("The HLS playlist at %1 lists no segments")
                     .arg(m_playlistUrl.toString()),
                 Failure::Refused);
            return;
        }
        log(QStringLiteral("The reloaded HLS playlist is not a media playlist, ignoring it"));
        if (checkGrowth(false))
            scheduleReload(false);
        return;
    }
    if (media.linesDropped > 0)
        log(QStringLiteral("The HLS playlist is too large: %1 lines of it are ignored")
                .arg(media.linesDropped));
    m_targetMs = qint64(std::max(1, media.targetDurationS)) * 1000;
    if (!m_nextSequence) {
        log(QStringLiteral("HLS media playlist: %1 segments of up to %2 s from sequence %3%4")
                .arg(media.segments.size())
                .arg(media.targetDurationS)
                .arg(media.mediaSequence)
                .arg(media.endList ? QStringLiteral(", ended") : QString()));
        m_nextSequence = liveStart(media);
        m_sinceGrowth.start();
    }
    const qsizetype queued = qsizetype(m_queue.size());
    queueNewSegments(media);
    const bool grew = qsizetype(m_queue.size()) > queued;
    m_endList = media.endList;
    if (!m_endList && checkGrowth(grew))
        scheduleReload(grew);
    if (!m_stopped)
        fetchNext();
}

// Where a live stream is joined: three target durations from its end, as
// near the live edge as a player would start; an ended playlist from its
// first segment.
qint64 HlsStream::liveStart(const HlsPlaylist &media) const
{
    if (media.segments.isEmpty())
        return media.mediaSequence;
    if (media.endList)
        return media.segments.first().sequence;
    qint64 fromEnd = 0;
    for (qsizetype i = media.segments.size() - 1; i >= 0; --i) {
        fromEnd += media.segments[i].durationMs;
        if (fromEnd >= 3 * m_targetMs)
            return media.segments[i].sequence;
    }
    return media.segments.first().sequence;
}

void HlsStream::queueNewSegments(const HlsPlaylist &media)
{
    if (media.segments.isEmpty())
        return;
    const qint64 first = media.segments.first().sequence;
    const qint64 last = media.segments.last().sequence;
    qint64 &next = *m_nextSequence;
    if (last + 1 + media.segments.size() < next) {
        // Numbers far behind what was fetched: the station began again.
        log(QStringLiteral("The HLS playlist began again at segment %1").arg(first));
        next = liveStart(media);
    }
    for (const HlsPlaylist::Segment &segment : media.segments) {
        if (segment.sequence < next)
            continue;
        // Numbers skipped: segments gone before a reload saw them, or left
        // out of the playlist (an address Skyvane does not fetch).
        if (segment.sequence > next)
            log(QStringLiteral("Segments %1 to %2 %3: about %4 s of audio lost")
                    .arg(next)
                    .arg(segment.sequence - 1)
                    .arg(segment.sequence == first
                             ? QStringLiteral("left the HLS playlist before they were fetched")
                             : QStringLiteral("are missing from the HLS playlist"),
                         seconds((segment.sequence - next) * m_targetMs)));
        m_queue.push_back(segment);
        next = segment.sequence + 1;
    }
}

void HlsStream::scheduleReload(bool grew)
{
    m_reload.start(std::chrono::milliseconds(grew ? m_targetMs : m_targetMs / 2));
}

// False, with the stream failed, when the playlist has not grown for three
// target durations: the station is stalled.
bool HlsStream::checkGrowth(bool grew)
{
    if (grew) {
        m_sinceGrowth.start();
        return true;
    }
    if (m_sinceGrowth.elapsed() < 3 * m_targetMs)
        return true;
    log(QStringLiteral("The HLS playlist has not grown for %1 s (three target durations)")
            .arg(seconds(m_sinceGrowth.elapsed() / 1000 * 1000)));
    fail(QStringLiteral("Connection stalled"), Failure::Stalled);
    return false;
}

void HlsStream::fetchNext()
{
    if (m_fetching != Fetching::Nothing)
        return;
    if (m_queue.empty()) {
        if (m_endList) {
            log(QStringLiteral("The HLS playlist has ended (#EXT-X-ENDLIST)"));
            stop();
            Q_EMIT ended();
        }
        return;
    }
    const HlsPlaylist::Segment &segment = m_queue.front();
    if (refusesKey(segment.key))
        return;
    if (segment.key.method == HlsPlaylist::Key::Method::Aes128 &&
        !m_keys.contains(segment.key.uri)) {
        m_fetching = Fetching::Key;
        m_fetch.start(segment.key.uri, maxKeyBytes, atLeast(10s, m_targetMs));
        return;
    }
    if (!segment.map.isEmpty() && initSectionKey(segment) != m_initSectionKey) {
        m_fetching = Fetching::InitSection;
        std::optional<BodyFetch::Range> range;
        if (segment.mapRange)
            range = BodyFetch::Range{segment.mapRange->offset, segment.mapRange->length};
        m_fetch.start(segment.map, maxInitBytes, atLeast(10s, m_targetMs), range);
        return;
    }
    m_fetching = Fetching::Segment;
    std::optional<BodyFetch::Range> range;
    if (segment.byteRange)
        range = BodyFetch::Range{segment.byteRange->offset, segment.byteRange->length};
    // A live stream can wait for a segment no longer than a few of its
    // durations before it falls behind for good.
    m_fetch.start(segment.uri, SegmentDemuxer::maxBytes,
                  atLeast(4s, 4 * std::max(segment.durationMs, m_targetMs)), range);
}

bool HlsStream::refusesKey(const HlsPlaylist::Key &key)
{
    using Method = HlsPlaylist::Key::Method;
    const bool identity = key.keyFormat.isEmpty() || key.keyFormat == u"identity";
    if (key.method == Method::None || (key.method == Method::Aes128 && identity))
        return false;
    fail(QStringLiteral("The station encrypts its HLS stream with %1%2, a protection (DRM) "
                        "that Skyvane does not break")
             .arg(key.methodName,
                  identity ? QString() : QStringLiteral(" (key format %1)").arg(key.keyFormat)),
         Failure::Refused);
    return true;
}

void HlsStream::onBody(const QByteArray &body)
{
    const Fetching fetched = std::exchange(m_fetching, Fetching::Nothing);
    const HlsPlaylist::Segment segment = m_queue.front();
    switch (fetched) {
    case Fetching::Key:
        if (body.size() != 16) {
            fail(QStringLiteral("The HLS key at %1 is %2 bytes, not 16")
                     .arg(segment.key.uri.toString())
                     .arg(body.size()));
            return;
        }
        if (m_keys.size() >= 16)
            m_keys.clear();
        m_keys.insert(segment.key.uri, body);
        break;
    case Fetching::InitSection:
        m_initSectionKey = initSectionKey(segment);
        m_initSection = body;
        break;
    case Fetching::Segment:
        m_queue.pop_front();
        takeSegment(segment, body);
        break;
    case Fetching::Nothing:
        break;
    }
    if (!m_stopped)
        fetchNext();
}

void HlsStream::onBodyFailed(const QString &reason)
{
    const Fetching fetched = std::exchange(m_fetching, Fetching::Nothing);
    const HlsPlaylist::Segment segment = m_queue.front();
    if (fetched == Fetching::Key) {
        fail(QStringLiteral("Could not fetch the HLS key: %1").arg(reason));
        return;
    }
    if (fetched == Fetching::InitSection) {
        fail(QStringLiteral("Could not fetch the HLS init section: %1").arg(reason));
        return;
    }
    m_queue.pop_front();
    segmentLost(segment, QStringLiteral("could not be fetched: %1").arg(reason));
    if (!m_stopped)
        fetchNext();
}

void HlsStream::takeSegment(const HlsPlaylist::Segment &segment, const QByteArray &body)
{
    QByteArray plain = body;
    if (segment.key.method == HlsPlaylist::Key::Method::Aes128) {
        QString error;
        const std::optional<QByteArray> decrypted = SegmentCipher::decrypt(
            body, m_keys.value(segment.key.uri),
            segment.key.iv.value_or(SegmentCipher::sequenceIv(segment.sequence)), &error);
        if (!decrypted) {
            segmentLost(segment, QStringLiteral("could not be decrypted: %1").arg(error));
            return;
        }
        plain = *decrypted;
    }
    const SegmentAudio audio =
        SegmentDemuxer::demux(plain, segment.map.isEmpty() ? QByteArray() : m_initSection);
    if (audio.audio.isEmpty()) {
        segmentLost(segment,
                    QStringLiteral("holds no audio Skyvane can read: %1").arg(audio.error));
        return;
    }
    m_failuresInARow = 0;
    if (segment.discontinuity)
        log(QStringLiteral("The HLS stream is discontinuous before segment %1")
                .arg(segment.sequence));
    announceFormat(audio);
    giveOut(segment, audio);
}

void HlsStream::announceFormat(const SegmentAudio &audio)
{
    if (m_formatKnown)
        return;
    m_formatKnown = true;
    m_format = QStringLiteral("%1 segments of %2")
                   .arg(SegmentAudio::containerName(audio.container), audio.codec);
    log(QStringLiteral("HLS stream: %1").arg(m_format));
    Q_EMIT formatKnown(audio.container, audio.codec);
}

// The segment's audio, cut where each of its titles begins: the playlist's
// (#EXTINF at its start, date ranges inside it) and those in its ID3 tags.
void HlsStream::giveOut(const HlsPlaylist::Segment &segment, const SegmentAudio &audio)
{
    QList<SegmentAudio::Title> titles;
    if (!segment.title.isEmpty())
        titles.append({0, segment.title});
    for (const HlsPlaylist::TimedTitle &timed : segment.dateRangeTitles) {
        if (!timed.id.isEmpty()) {
            if (m_dateRangesSeen.contains(timed.id))
                continue;
            if (m_dateRangesSeen.size() >= maxDateRanges)
                m_dateRangesSeen.clear();
            m_dateRangesSeen.insert(timed.id);
        }
        titles.append({audio.offsetAt(timed.offsetMs), timed.title});
    }
    titles.append(audio.titles);
    std::stable_sort(titles.begin(), titles.end(),
                     [](const auto &a, const auto &b) { return a.offset < b.offset; });
    qint64 given = 0;
    for (const SegmentAudio::Title &title : titles) {
        if (title.offset > given) {
            m_audioBytes += title.offset - given;
            Q_EMIT audioReceived(QByteArrayView(audio.audio).sliced(given, title.offset - given));
            given = title.offset;
            if (m_stopped)
                return;
        }
        announce(title.title);
        if (m_stopped)
            return;
    }
    if (given < audio.audio.size()) {
        m_audioBytes += audio.audio.size() - given;
        Q_EMIT audioReceived(QByteArrayView(audio.audio).sliced(given));
    }
}

void HlsStream::announce(const QString &title)
{
    if (m_lastTitle == title)
        return;
    m_lastTitle = title;
    Q_EMIT titleReceived(title);
}

void HlsStream::segmentLost(const HlsPlaylist::Segment &segment, const QString &why)
{
    log(QStringLiteral("HLS segment %1 %2: about %3 s of audio lost")
            .arg(segment.sequence)
            .arg(why, seconds(segment.durationMs)));
    if (++m_failuresInARow >= maxFailuresInARow)
        fail(QStringLiteral("%1 HLS segments in a row were lost, the last one %2")
                 .arg(maxFailuresInARow)
                 .arg(why));
}

void HlsStream::fail(const QString &reason, Failure failure)
{
    if (m_stopped)
        return;
    stop();
    Q_EMIT failed(reason, failure);
}
