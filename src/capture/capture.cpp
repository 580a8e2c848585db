#include "capture/capture.h"

#include <algorithm>
#include <utility>

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QStringList>

#include "capture/playlisttarget.h"
#include "capture/trackpattern.h"
#include "capture/stationheaders.h"
#include "capture/stationprotocol.h"
#include "capture/streamformat.h"
#include "hls/hlsplaylist.h"
#include "platform/clock.h"
#include "platform/descriptorlimit.h"
#include "platform/failures.h"
#include "platform/stationurl.h"
#include "platform/textencodings.h"

namespace {

constexpr int watchdogPeriodMs = 60 * 1000;
constexpr int requestIdleTimeoutSeconds = 300;
constexpr qint32 resumeThresholdMinutes = 15;
constexpr qint64 bytesPerMegabyte = 1024 * 1024;
// Audio held at the start of a body to tell its codec from its bytes.
constexpr qsizetype sniffBytes = 8192;
// A split capture holds its first audio until the first title, which a
// station sends in its first metadata block or two; no longer than this.
constexpr qsizetype firstTitleHoldLimit = 1024 * 1024;

// The file name extension for what the bytes say the stream is; "" when
// they do not say.
QString extensionForCodec(const QString &codec)
{
    static const QHash<QString, QString> extensions{
        {QStringLiteral("MP3"), QStringLiteral(".mp3")},
        {QStringLiteral("AAC"), QStringLiteral(".aac")},
        {QStringLiteral("Ogg Vorbis"), QStringLiteral(".ogg")},
        {QStringLiteral("Ogg Opus"), QStringLiteral(".opus")},
        {QStringLiteral("Ogg FLAC"), QStringLiteral(".oga")},
        {QStringLiteral("Ogg"), QStringLiteral(".ogg")},
        {QStringLiteral("FLAC"), QStringLiteral(".flac")},
    };
    return extensions.value(codec);
}

QString headerListing(const HttpResponse &response)
{
    QStringList fields;
    for (const auto &[fieldName, value] : response.headerFields)
        fields.append(fieldName + QStringLiteral(": ") + value);
    return fields.join(QStringLiteral("; "));
}

} // namespace

Capture::Capture(const RecordingSettings &settings, const QDateTime &startDate, QObject *parent)
    : QObject(parent), m_settings(settings), m_startDate(startDate),
      m_writer([this](const QString &line) { log(line); }), m_sync(this), m_watchdog(this)
{
    QObject::connect(&m_sync, &TrackSync::synced, this, &Capture::trackSynced);
    m_watchdog.setObjectName(QStringLiteral("watchdog"));
    // A tick that came early would count one minute too few.
    m_watchdog.setTimerType(Qt::PreciseTimer);
    m_watchdog.setInterval(watchdogPeriodMs);
    QObject::connect(&m_watchdog, &QTimer::timeout, this, &Capture::checkProgress);
}

Capture::~Capture() = default;

void Capture::start()
{
    m_running = true;
    m_watchdog.start();
    QMetaObject::invokeMethod(this, &Capture::begin, Qt::QueuedConnection);
}

void Capture::begin()
{
    // Stopped before it began.
    if (!m_running)
        return;
    if (!hasRoomOnDisk()) {
        end();
        return;
    }
    QString problem;
    m_nonSongs = NonSongTitles::load(&problem);
    if (!problem.isEmpty())
        log(problem + u'\n');
    // The first track file is set aside with the first connection: captures
    // starting together must not leave each other connected without a file.
    m_trackClaim = DescriptorLimit::Claim(1);
    connectTo(m_settings.url);
}

void Capture::stop()
{
    end();
}

bool Capture::connectTo(const QString &url)
{
    log(QStringLiteral("Connecting to %1\n").arg(url));
    m_transfer.reset();
    dropHls();
    finishCutter();
    m_ogg.reset();
    m_socketClaim.release();
    if (const std::optional<QString> refusal = DescriptorLimit::refusal(1)) {
        log(*refusal + QStringLiteral(". Recording failed\n"));
        breakOff(*refusal);
        return false;
    }
    // Counted as taken until the station answers, when its socket is open.
    m_socketClaim = DescriptorLimit::Claim(1);
    m_transfer = HttpTransfer::start(StationProtocol::request(url, requestIdleTimeoutSeconds));
    if (!m_transfer) {
        if (const std::optional<QString> problem = StationUrl::problem(url))
            log(QStringLiteral("Invalid station URL: %1\n").arg(*problem));
        log(QStringLiteral("Can not open connection to the station. Recording failed\n"));
        breakOff(QStringLiteral("Can not open connection to the station"));
        return false;
    }
    HttpTransfer *const transfer = m_transfer.get();
    QObject::connect(transfer, &HttpTransfer::redirected, this, &Capture::onRedirected);
    QObject::connect(transfer, &HttpTransfer::responseReceived, this, &Capture::onResponse);
    QObject::connect(transfer, &HttpTransfer::dataReceived, this, &Capture::onData);
    QObject::connect(transfer, &HttpTransfer::finished, this, &Capture::onFinished);
    QObject::connect(transfer, &HttpTransfer::failed, this, &Capture::onFailed);
    m_demuxer.emplace(static_cast<IcyDemuxer::Receiver &>(*this));
    m_playlist.reset();
    m_url = url;
    m_firstTitle.reset();
    m_genre.clear();
    m_lastSize = 0;
    return true;
}

void Capture::onRedirected(const QString &target)
{
    log(QStringLiteral("Connection is redirected to %1\n").arg(target));
    m_url = target;
    mayHop();
}

// Counts one more redirect or playlist followed; past the limit the capture ends.
bool Capture::mayHop()
{
    if (++m_hops <= StationProtocol::maxHops)
        return true;
    log(QStringLiteral("Too many redirects and playlists (more than %1), giving up\n")
            .arg(StationProtocol::maxHops));
    fail(QStringLiteral("Too many redirects and playlists"));
    end();
    return false;
}

void Capture::onResponse(const HttpResponse &response)
{
    log(QStringLiteral("Getting a response\n"));
    m_socketClaim.release();
    if (response.isHttp) {
        log(QStringLiteral("HTTP Headers: %1\n").arg(headerListing(response)));
        const StationHeaders headers = StationHeaders::fromFields(response.headerFields);
        if (headers.metaInterval)
            m_demuxer->setInterval(*headers.metaInterval);
        if (headers.genre)
            m_genre = *headers.genre;
        if (m_demuxer->interval() > 0)
            log(QStringLiteral("Shoutcast/icecast metadata interval is %1\n")
                    .arg(m_demuxer->interval()));
        if (!m_genre.isEmpty())
            log(QStringLiteral("Shoutcast genre is %1\n").arg(m_genre));
    }
    m_extension = StationHeaders::extensionFor(response.mimeType);
    if (StationHeaders::isOgg(response.mimeType))
        log(QStringLiteral("Detected ogg audio\n"));
    // An HLS playlist may be longer than the demultiplexer holds back to
    // look at: one that says it is a playlist is held whole.
    if (StationHeaders::namesPlaylist(response.mimeType, m_url))
        m_playlist.emplace();
}

void Capture::onData(QByteArrayView data)
{
    if (!m_playlist) {
        feedDemuxer(data);
        return;
    }
    m_playlist->append(data);
    if (m_playlist->size() <= HlsPlaylist::maxBytes)
        return;
    if (m_playlist->startsWith("#EXTM3U")) {
        const QString reason = QStringLiteral("The HLS playlist is larger than %1 MB")
                                   .arg(HlsPlaylist::maxBytes / bytesPerMegabyte);
        log(reason + QStringLiteral(". Recording failed\n"));
        fail(reason);
        end();
        return;
    }
    // Too long for a playlist: a stream served under a playlist's name.
    const QByteArray held = *std::exchange(m_playlist, std::nullopt);
    feedDemuxer(held);
}

void Capture::feedDemuxer(QByteArrayView data)
{
    guarded([&] {
        const IcyDemuxer::Result result = m_demuxer->feed(data);
        // The audio before a lost sync is the station's too.
        m_writer.flush();
        if (result == IcyDemuxer::Result::LostSync) {
            if (m_settings.reconnect)
                m_resume = true;
            throw NamedFailure(QStringLiteral("LostStreamSync"),
                               QStringLiteral("Lost sync with shoutcast data, disconnecting"));
        }
    });
}

// The one guard around the track files: a named failure ends the capture with
// its reason in the log, and nothing escapes into the transfer or the loop.
template<typename Step> void Capture::guarded(Step step)
{
    try {
        step();
    } catch (const NamedFailure &failure) {
        failWithFileError(failure.reason());
    } catch (const std::exception &failure) {
        failWithFileError(QString::fromLocal8Bit(failure.what()));
    }
}

void Capture::failWithFileError(const QString &reason)
{
    if (!m_running)
        return;
    recordFileError(reason);
    end();
}

void Capture::recordFileError(const QString &reason)
{
    const QString error = QStringLiteral("File access error: %1").arg(reason);
    log(error + u'\n');
    fail(error);
}

void Capture::onFinished()
{
    if (m_playlist && HlsPlaylist::isHls(*m_playlist)) {
        followHls(*m_playlist);
        return;
    }
    if (m_playlist)
        feedDemuxer(*std::exchange(m_playlist, std::nullopt));
    if (!m_running)
        return;
    if (m_demuxer->audioBytes() == 0 && HlsPlaylist::isHls(m_demuxer->heldBytes())) {
        followHls(m_demuxer->heldBytes());
        return;
    }
    // A short body that produced no audio is still held whole: a playlist, or
    // an error page that names where the stream is.
    if (m_demuxer->audioBytes() == 0) {
        if (const std::optional<QString> target = PlaylistTarget::first(m_demuxer->heldBytes())) {
            log(QStringLiteral("Redirecting to the first target in PLS or M3U playlist\n"));
            if (mayHop())
                connectTo(*target);
            return;
        }
    }
    stationClosed();
}

void Capture::stationClosed()
{
    guarded([this] { finishCutter(); });
    log(QStringLiteral("Connection closed by the station\n"));
    breakOff(QStringLiteral("Connection closed by the station"));
}

void Capture::followHls(const QByteArray &playlist)
{
    log(QStringLiteral("The station streams over HLS (HTTP Live Streaming)\n"));
    if (!mayHop())
        return;
    m_transfer.reset();
    // The playlist's Content-Type says nothing of the audio.
    m_extension.clear();
    m_hls = new HlsStream(this);
    QObject::connect(m_hls, &HlsStream::logLine, this, &Capture::log);
    QObject::connect(m_hls, &HlsStream::formatKnown, this, &Capture::hlsFormatKnown);
    QObject::connect(m_hls, &HlsStream::audioReceived, this, &Capture::hlsAudio);
    QObject::connect(m_hls, &HlsStream::titleReceived, this, &Capture::hlsTitle);
    QObject::connect(m_hls, &HlsStream::ended, this, &Capture::stationClosed);
    QObject::connect(m_hls, &HlsStream::failed, this, &Capture::hlsFailed);
    m_hls->start(QUrl(m_url), playlist);
}

// Stopped at once, freed once the signal it may be sending has returned.
void Capture::dropHls()
{
    if (!m_hls)
        return;
    m_hls->stop();
    m_hls->deleteLater();
    m_hls = nullptr;
}

void Capture::hlsFormatKnown(SegmentAudio::Container container, const QString &codec)
{
    m_muxM4a = container == SegmentAudio::Container::Mp4 && codec == u"AAC";
}

void Capture::hlsAudio(QByteArrayView audio)
{
    guarded([&] {
        audioReceived(audio);
        m_writer.flush();
    });
}

void Capture::hlsTitle(const QString &title)
{
    log(QStringLiteral("Got a title from the HLS stream: %1\n").arg(title));
    if (!m_settings.splitSongs)
        return;
    if (!m_cutter) {
        takeFirstTitle(title);
        return;
    }
    m_titles.emplace_back(title, isSong(title));
    m_cutter->titleChanged();
}

void Capture::hlsFailed(const QString &reason, HlsStream::Failure failure)
{
    guarded([this] { finishCutter(); });
    switch (failure) {
    case HlsStream::Failure::Stalled:
        log(QStringLiteral("Connection stalled, ending recording\n"));
        breakOff(reason);
        return;
    case HlsStream::Failure::Broken:
        log(reason + QStringLiteral(". Recording failed\n"));
        breakOff(reason);
        return;
    case HlsStream::Failure::Refused:
        log(reason + QStringLiteral(". Recording failed\n"));
        fail(reason);
        end();
        return;
    }
}

void Capture::onFailed(const QString &error)
{
    log(QStringLiteral("Connection failed with error: %1\n").arg(error));
    breakOff(connectionFailure(error));
}

namespace {

// curl's words for the failures a station meets most, ours for them, and
// whether curl's detail tells more than our words do.
struct Wording
{
    QLatin1String curl;
    QLatin1String plain;
    bool detailTells;
};
constexpr Wording wordings[] = {
    {QLatin1String("Couldn't connect to server"), QLatin1String("Could not connect to the station"),
     true},
    {QLatin1String("Couldn't resolve host name"),
     QLatin1String("Could not find the station's server"), true},
    {QLatin1String("Server returned nothing (no headers, no data)"),
     QLatin1String("The station hung up without answering"), false},
    {QLatin1String("Timeout was reached"), QLatin1String("The station did not answer in time"),
     true},
    {QLatin1String("Failure when receiving data from the peer"),
     QLatin1String("The connection to the station broke off"), true},
};

} // namespace

// curl gives its name of the failure, then its detail in parentheses, which
// ends with the name again: "Couldn't connect to server (Failed to connect to
// 127.0.0.1 port 9 after 0 ms: Couldn't connect to server)" becomes "Could not
// connect to the station (127.0.0.1 port 9)".
QString Capture::connectionFailure(const QString &transferError)
{
    static const QRegularExpression leadIn(
        QStringLiteral("^(Failed to connect to |Could not resolve host: |Recv failure: )"
                       "| after \\d+ ms$"));
    for (const Wording &wording : wordings) {
        if (!transferError.startsWith(wording.curl))
            continue;
        QString detail = transferError.mid(wording.curl.size());
        if (!wording.detailTells || !detail.startsWith(QStringLiteral(" (")) ||
            !detail.endsWith(u')'))
            return wording.plain;
        detail = detail.mid(2).chopped(1);
        if (detail.endsWith(QStringLiteral(": ") + wording.curl))
            detail.chop(wording.curl.size() + 2);
        detail.remove(leadIn);
        return detail.isEmpty() ? QString(wording.plain)
                                : QStringLiteral("%1 (%2)").arg(wording.plain, detail);
    }
    return QStringLiteral("Connection failed: %1").arg(transferError);
}

void Capture::checkProgress()
{
    const qint32 minutes = elapsedMinutes();
    const qint64 size = m_hls ? m_hls->audioBytes() : m_demuxer ? m_demuxer->audioBytes() : 0;
    log(QStringLiteral("Data size is %1 at %2 minutes\n").arg(size).arg(minutes));
    if (!hasRoomOnDisk()) {
        end();
        return;
    }
    guarded([this] { checkTrackFile(); });
    if (!m_running)
        return;
    if (size == m_lastSize) {
        log(QStringLiteral("Connection stalled, ending recording\n"));
        breakOff(QStringLiteral("Connection stalled"));
        return;
    }
    m_lastSize = size;
    const qint32 duration = m_settings.duration;
    if (minutes >= duration) {
        log(QStringLiteral("Recording complete (%1 minutes), closing connection\n").arg(duration));
        end();
    }
}

// A full disk would cut the track short and take the list file with it: the
// capture ends while the floor of free space is still there.
bool Capture::hasRoomOnDisk()
{
    // The track folder may not be made yet; the nearest folder that is tells.
    QFileInfo folder(TrackWriter::folder());
    while (!folder.exists() && !folder.isRoot())
        folder.setFile(folder.path());
    const QStorageInfo storage(folder.absoluteFilePath());
    const qint64 floor = qint64(m_settings.minFreeMB) * bytesPerMegabyte;
    if (!storage.isValid() || storage.bytesAvailable() >= floor)
        return true;
    log(QStringLiteral("Only %1 MB free on the disk of %2, less than the %3 MB kept free: "
                       "ending recording\n")
            .arg(storage.bytesAvailable() / bytesPerMegabyte)
            .arg(TrackWriter::folder())
            .arg(m_settings.minFreeMB));
    fail(QStringLiteral("Not enough free space on the disk"));
    return false;
}

// A track file removed under us would swallow the rest of the song unseen.
void Capture::checkTrackFile()
{
    if (!m_writer.wasRemoved())
        return;
    log(QStringLiteral("File access error: the track file was removed, going on in a new file\n"));
    m_writer.reopen(Clock::now());
    if (m_m4a)
        beginM4a();
}

// Whole minutes since the capture first started, truncated.
qint32 Capture::elapsedMinutes() const
{
    return qint32(m_startDate.msecsTo(Clock::now()) / (60 * 1000));
}

// The capture broke off before its time: resume it when enough time is left.
void Capture::breakOff(const QString &reason)
{
    fail(reason);
    if (m_settings.reconnect && m_settings.duration - elapsedMinutes() > resumeThresholdMinutes)
        m_resume = true;
    end();
}

// The first reason is the one that counts: what follows from it is no news.
void Capture::fail(const QString &reason)
{
    if (m_failure.isEmpty())
        m_failure = reason;
}

void Capture::end()
{
    if (!m_running)
        return;
    m_running = false;
    m_transfer.reset();
    dropHls();
    m_socketClaim.release();
    m_trackClaim.release();
    m_watchdog.stop();
    try {
        finishCutter();
        if (m_part == Part::LeadIn && m_writer.isOpen())
            log(QStringLiteral("The title never changed: keeping the recording as one track\n"));
        // A song cut off by the end is incomplete; a file with a made title is whole.
        finishTrack(!m_writer.madeTitle());
    } catch (const NamedFailure &failure) {
        recordFileError(failure.reason());
    }
    finishWhenSynced();
}

// The capture is over once its last track is on the disk. Never from inside
// start() or stop(): the caller hears of the end from the event loop.
void Capture::finishWhenSynced()
{
    if (m_running || m_ended || !m_sync.isIdle())
        return;
    m_ended = true;
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(m_resume); }, Qt::QueuedConnection);
}

void Capture::audioReceived(QByteArrayView audio)
{
    m_audioCame = true;
    if (m_ogg) {
        m_ogg->feed(audio);
        m_writer.flush(); // the pages may lie in the splitter's store
        return;
    }
    if (m_cutter) {
        m_cutter->feed(audio);
        return;
    }
    m_firstAudio.append(audio);
    if (m_firstAudio.size() >= firstAudioLimit())
        chooseFormat();
}

qsizetype Capture::firstAudioLimit() const
{
    // An HLS segment's titles come with its audio: none are waited for.
    const qsizetype interval = m_hls ? 0 : m_demuxer->interval();
    if (m_settings.splitSongs && interval > 0)
        return std::clamp(2 * interval + 1, sniffBytes, firstTitleHoldLimit);
    return sniffBytes;
}

// The codec from the bytes, and the first track from the first title.
void Capture::chooseFormat()
{
    const StreamFormat format = StreamFormat::sniff(m_firstAudio);
    adoptCodec(format.codec);
    SongCutter::Framing framing = SongCutter::Framing::None;
    if (format.codec == u"MP3")
        framing = SongCutter::Framing::Mp3;
    else if (format.codec == u"AAC")
        framing = SongCutter::Framing::Aac;
    const SongCutter::Placement placement{qint64(m_settings.titleOffsetMs) * 1000,
                                          qint64(m_settings.cutWindowMs) * 1000};
    m_cutter.emplace(static_cast<SongCutter::Receiver &>(*this), framing,
                     m_settings.splitSongs ? placement : SongCutter::Placement{});
    const QByteArray held = std::exchange(m_firstAudio, QByteArray());
    if (format.codec.startsWith(u"Ogg")) {
        // The first logical stream names the first song.
        m_ogg.emplace(static_cast<OggSplitter::Receiver &>(*this));
        m_oggStreams = 0;
        m_ogg->feed(held);
    } else {
        m_ogg.reset();
        beginFirstSong();
        m_cutter->feed(held);
    }
    m_writer.flush(); // the writer still points into `held`
}

void Capture::adoptCodec(const QString &codec)
{
    const QString extension = m_muxM4a ? QStringLiteral(".m4a") : extensionForCodec(codec);
    if (extension.isEmpty())
        return;
    if (!m_extension.isEmpty() && extension != m_extension)
        log(QStringLiteral("The station's stream is %1, not what its Content-Type says: "
                           "saving it as %2\n")
                .arg(codec, extension));
    m_extension = extension;
}

void Capture::beginFirstSong()
{
    if (!m_settings.splitSongs || !titlesMayCome()) {
        // Without titles to split at, everything goes into one file named by date.
        m_part = Part::Whole;
        openTrack(QString());
        return;
    }
    const QString title = m_firstTitle.value_or(QString());
    // No title at all is a station that sends none: its audio is all there is.
    if (!title.trimmed().isEmpty() && !isSong(title)) {
        beginSong(title, false);
        return;
    }
    if (m_settings.keepPartial) {
        beginSong(QStringLiteral("End of ") + title, true);
        return;
    }
    // The song under way is not kept once another begins; if none does, it
    // is all there is.
    m_part = Part::LeadIn;
    openTrack(QString());
}

bool Capture::titlesMayCome() const
{
    return m_hls || m_ogg || m_demuxer->interval() >= 0;
}

void Capture::beginSong(const QString &title, bool song)
{
    if (!song) {
        m_part = Part::NotSong;
        m_notSong = title;
        log(QStringLiteral("Not a song: \"%1\", its audio is not kept\n").arg(title));
        Q_EMIT titleChanged(title);
        return;
    }
    m_part = Part::Song;
    openTrack(title);
}

void Capture::songAudio(QByteArrayView audio, qint64 durationUs)
{
    if (!m_writer.isOpen())
        return;
    writeTrack(audio);
    m_bytesWritten += audio.size();
    m_trackPlayingUs += durationUs;
    // Framed audio comes from the cutter's store, which changes at its next call.
    if (durationUs > 0)
        m_writer.flush();
}

void Capture::songEnds()
{
    if (m_titles.empty())
        return;
    const auto [title, song] = m_titles.front();
    m_titles.pop_front();
    if (m_part == Part::LeadIn)
        m_writer.discard(QStringLiteral("the recording began during this song"));
    else
        finishTrack(false);
    beginSong(title, song);
}

void Capture::oggStreamBegins(const QString &title, const QString &codec)
{
    log(QStringLiteral("Ogg stream begins: %1%2\n")
            .arg(codec, title.isEmpty() ? QString() : QStringLiteral(", \"%1\"").arg(title)));
    if (m_oggStreams++ == 0) {
        if (!title.isEmpty() || !m_firstTitle)
            m_firstTitle = title;
        beginFirstSong();
        return;
    }
    if (!m_settings.splitSongs)
        return;
    // A new logical stream is a song that begins right here.
    m_titles.emplace_back(title, isSong(title));
    songEnds();
}

void Capture::oggPages(QByteArrayView pages)
{
    songAudio(pages, 0);
}

void Capture::oggResynced(qint64 skipped)
{
    log(QStringLiteral("Lost the Ogg pages: skipped %1 bytes to find the next one\n").arg(skipped));
}

void Capture::audioSkipped(qint64 count, bool atStart)
{
    if (atStart)
        log(QStringLiteral("Skipped %1 bytes before the first audio frame\n").arg(count));
    else
        log(QStringLiteral("Lost the audio frames: skipped %1 bytes to find the next one\n")
                .arg(count));
}

// Everything the body's cutter still holds goes out, its cuts placed.
void Capture::finishCutter()
{
    if (!m_cutter && !m_firstAudio.isEmpty())
        chooseFormat();
    if (!m_cutter)
        return;
    if (m_ogg)
        m_ogg->finish();
    m_cutter->finish();
    m_writer.flush();
    m_cutter.reset();
    m_titles.clear();
}

void Capture::inBandHeadReceived(QByteArrayView head)
{
    const QString text = decode(head);
    log(text);
    const StationHeaders headers = StationHeaders::fromInBandHead(text);
    if (headers.mimeType) {
        if (StationHeaders::isOgg(*headers.mimeType))
            log(QStringLiteral("Detected ogg from icecast data\n"));
        m_extension = StationHeaders::extensionFor(*headers.mimeType);
    }
    if (headers.genre)
        m_genre = *headers.genre;
}

void Capture::titleBlockReceived(QByteArrayView block, bool first)
{
    QString shown = decode(block);
    // The zero padding stays out of the log and the title: it is not text, and
    // it would end up in file names and tags.
    shown.remove(QChar(u'\0'));
    log(QStringLiteral("Got shoutcast data: %1\n").arg(shown));
    // Ogg streams are split at their own titles.
    if (!m_settings.splitSongs || m_ogg)
        return;
    const QString streamTitle = StationProtocol::streamTitle(shown).value_or(QString());
    if (!m_cutter) {
        takeFirstTitle(streamTitle);
        return;
    }
    // The first title of a connection names a song already under way.
    const bool songUnderWay = first && !streamTitle.isEmpty();
    if (songUnderWay && !m_settings.keepPartial)
        return;
    m_titles.emplace_back(songUnderWay ? QStringLiteral("End of ") + streamTitle : streamTitle,
                          isSong(streamTitle));
    m_cutter->titleChanged();
}

// The body's first title names the song under way; the audio held so far
// is its.
void Capture::takeFirstTitle(const QString &streamTitle)
{
    m_firstTitle = streamTitle;
    if (!m_firstAudio.isEmpty())
        chooseFormat();
}

void Capture::openTrack(const QString &streamTitle)
{
    const QString base =
        m_settings.customTitle.isEmpty() ? m_settings.name : m_settings.customTitle;
    m_trackOpened = Clock::now();
    m_trackPlayingUs = 0;
    TrackPattern::Fields fields = TrackPattern::Fields::fromStreamTitle(streamTitle);
    fields.station = m_settings.name;
    fields.album = m_settings.customAlbum.isEmpty() ? m_settings.name : m_settings.customAlbum;
    fields.time = m_trackOpened;
    fields.counter = ++m_tracksOpened;
    m_writer.setPattern(m_settings.splitSongs ? m_settings.fileNamePattern : QString(), fields);
    m_writer.open(streamTitle, base, m_trackOpened,
                  m_extension.isEmpty() ? QStringLiteral(".mp3") : m_extension);
    m_trackClaim.release();
    if (m_muxM4a)
        beginM4a();
    Q_EMIT titleChanged(m_writer.title());
}

// A new .m4a file begins with its own header.
void Capture::beginM4a()
{
    m_m4a.emplace([this](QByteArrayView bytes) {
        m_writer.write(bytes);
        m_writer.flush(); // the muxer's buffer is reused
    });
}

// Audio of an .m4a track goes through its muxer; anything else as it is.
void Capture::writeTrack(QByteArrayView audio)
{
    QString error;
    if (!m_m4a)
        m_writer.write(audio);
    else if (!m_m4a->write(audio, &error))
        throw NamedFailure(QStringLiteral("FileWriteFailed"),
                           QStringLiteral("could not make the .m4a track: %1").arg(error));
}

void Capture::finishTrack(bool incomplete)
{
    QString error;
    if (m_m4a && m_writer.isOpen() && !m_m4a->finish(&error))
        log(QStringLiteral("Could not end the .m4a track: %1\n").arg(error));
    m_m4a.reset();
    // Only framed audio knows how long it plays; Ogg says so in its pages.
    if (m_ogg && m_ogg->playingMs() > 0)
        m_trackPlayingUs = m_ogg->playingMs() * 1000;
    const std::optional<qint64> playingMs =
        m_trackPlayingUs > 0 ? std::optional<qint64>(m_trackPlayingUs / 1000) : std::nullopt;
    std::optional<Track> track = m_writer.close(incomplete, m_settings.keepPartial, playingMs);
    if (!track)
        return;
    track->playingMs = playingMs.value_or(m_trackOpened.msecsTo(Clock::now()));
    track->stationGenre = m_genre;
    m_sync.add(*track);
}

void Capture::trackSynced(const Track &track, const QString &error)
{
    if (!error.isEmpty()) {
        m_unsynced = QStringLiteral("the track could not be saved to the disk");
        log(QStringLiteral("File access error: %1: %2\n").arg(m_unsynced, error));
    } else {
        Q_EMIT trackSaved(track);
    }
    finishWhenSynced();
}

QString Capture::nothingKept() const
{
    if (!m_unsynced.isEmpty())
        return m_unsynced;
    if (!m_writer.lossReason().isEmpty())
        return m_writer.lossReason();
    if (!m_notSong.isEmpty())
        return QStringLiteral("the station sent only titles that are not songs (\"%1\")")
            .arg(m_notSong);
    // A capture that splits songs keeps none it joined under way, unless asked to.
    return m_audioCame ? QStringLiteral("no new song began")
                       : QStringLiteral("the station sent no audio");
}

QString Capture::decode(QByteArrayView bytes) const
{
    return TextEncodings::decode(bytes, quint32(m_settings.shoutLang));
}
