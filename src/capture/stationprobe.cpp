#include "capture/stationprobe.h"

#include "capture/capture.h"
#include "capture/playlisttarget.h"
#include "capture/stationheaders.h"
#include "capture/stationprotocol.h"
#include "capture/streamformat.h"
#include "hls/hlsplaylist.h"
#include "platform/stationurl.h"

namespace {

// Two frames of any bitrate a station sends, and an Ogg stream's first pages.
constexpr qsizetype formatBytes = 16 * 1024;

// A codec named by a Content-Type alone.
QString codecOf(const QString &mimeType)
{
    if (mimeType == u"audio/mpeg" || mimeType == u"audio/mp3")
        return QStringLiteral("MP3");
    if (mimeType.contains(u"aac"))
        return QStringLiteral("AAC");
    if (StationHeaders::isOgg(mimeType))
        return QStringLiteral("Ogg");
    if (mimeType.contains(u"flac"))
        return QStringLiteral("FLAC");
    return {};
}

} // namespace

QStringList ProbeReport::lines() const
{
    QStringList lines{QStringLiteral("url: ") + url};
    if (!hls.isEmpty())
        lines << QStringLiteral("hls: ") + hls;
    if (!codec.isEmpty())
        lines << QStringLiteral("codec: ") + codec;
    if (bitrate > 0)
        lines << QStringLiteral("bitrate: %1 kbit/s").arg(bitrate);
    if (sampleRate > 0)
        lines << QStringLiteral("samplerate: %1 Hz").arg(sampleRate);
    if (audio)
        lines << QStringLiteral("titles: ") +
                     (titles ? QStringLiteral("yes") : QStringLiteral("no"));
    if (!title.isEmpty())
        lines << QStringLiteral("title: ") + title;
    if (!problem.isEmpty())
        lines << QStringLiteral("problem: ") + problem;
    return lines;
}

QString ProbeReport::sentence() const
{
    if (!problem.isEmpty())
        return problem + u'.';
    QStringList format{codec.isEmpty() ? QStringLiteral("An unknown format") : codec};
    if (!hls.isEmpty())
        format.first() = hls; // which names the codec
    if (bitrate > 0)
        format << QStringLiteral("%1 kbit/s").arg(bitrate);
    if (sampleRate > 0)
        format << QStringLiteral("%1 kHz").arg(sampleRate / 1000.0);
    QString titleText = QStringLiteral("sends no titles, so Split into songs will keep one file");
    if (titles)
        titleText = title.isEmpty() ? QStringLiteral("sends titles")
                                    : QStringLiteral("sends titles, now \u201c%1\u201d").arg(title);
    return QStringLiteral("%1; %2.").arg(format.join(QStringLiteral(", ")), titleText);
}

StationProbe::StationProbe(QObject *parent) : QObject(parent)
{
    m_limit.setSingleShot(true);
    QObject::connect(&m_limit, &QTimer::timeout, this, [this] {
        finish(m_report.audio ? QString()
                              : QStringLiteral("The station sent no audio within the time tried"));
    });
}

StationProbe::~StationProbe() = default;

void StationProbe::start(const QString &url, std::chrono::milliseconds limit)
{
    m_limit.start(limit);
    // From the event loop, as every other result: the caller connects first.
    QMetaObject::invokeMethod(
        this, [this, url] { connectTo(url); }, Qt::QueuedConnection);
}

void StationProbe::connectTo(const QString &url)
{
    m_report.url = url;
    if (const std::optional<QString> problem = StationUrl::problem(url)) {
        finish(QStringLiteral("This is not a station's address: %1").arg(*problem));
        return;
    }
    m_transfer = HttpTransfer::start(StationProtocol::request(url, 10));
    if (!m_transfer) {
        finish(QStringLiteral("The connection could not be opened"));
        return;
    }
    HttpTransfer *transfer = m_transfer.get();
    QObject::connect(transfer, &HttpTransfer::redirected, this, [this](const QString &target) {
        m_report.url = target;
        mayHop();
    });
    QObject::connect(transfer, &HttpTransfer::responseReceived, this, &StationProbe::onResponse);
    QObject::connect(transfer, &HttpTransfer::dataReceived, this, &StationProbe::onData);
    QObject::connect(transfer, &HttpTransfer::finished, this, &StationProbe::onFinished);
    QObject::connect(transfer, &HttpTransfer::failed, this,
                     [this](const QString &error) { finish(Capture::connectionFailure(error)); });
    m_demuxer.emplace(static_cast<IcyDemuxer::Receiver &>(*this));
}

void StationProbe::onResponse(const HttpResponse &response)
{
    m_report.contentType = response.mimeType;
    if (StationHeaders::namesPlaylist(response.mimeType, m_report.url))
        m_playlist.emplace();
    const StationHeaders headers = StationHeaders::fromFields(response.headerFields);
    if (headers.metaInterval)
        m_demuxer->setInterval(*headers.metaInterval);
    m_report.bitrate = response.headerValue(u"icy-br").toInt();
}

void StationProbe::onData(QByteArrayView data)
{
    if (!m_playlist) {
        feed(data);
        return;
    }
    m_playlist->append(data);
    if (m_playlist->size() <= HlsPlaylist::maxBytes)
        return;
    // Too long for a playlist: a stream under a playlist's name.
    feed(*std::exchange(m_playlist, std::nullopt));
}

void StationProbe::feed(QByteArrayView data)
{
    if (m_demuxer->feed(data) == IcyDemuxer::Result::LostSync)
        finish(QStringLiteral("The station's titles are not where it said they would be"));
}

void StationProbe::onFinished()
{
    const QByteArray body = m_playlist ? *m_playlist : m_demuxer->heldBytes();
    if (!m_report.audio && HlsPlaylist::isHls(body)) {
        followHls(body);
        return;
    }
    if (m_playlist)
        feed(*std::exchange(m_playlist, std::nullopt));
    if (m_report.audio) {
        finish();
        return;
    }
    if (const std::optional<QString> target = PlaylistTarget::first(m_demuxer->heldBytes())) {
        if (!mayHop())
            return;
        m_transfer.reset();
        connectTo(*target);
        return;
    }
    finish(QStringLiteral("The station closed the connection without sending audio"));
}

void StationProbe::followHls(const QByteArray &playlist)
{
    m_transfer.reset();
    m_hls = new HlsStream(this);
    QObject::connect(m_hls, &HlsStream::audioReceived, this, &StationProbe::audioReceived);
    QObject::connect(m_hls, &HlsStream::titleReceived, this, [this](const QString &title) {
        m_report.titles = true;
        m_report.title = title.trimmed();
    });
    QObject::connect(m_hls, &HlsStream::ended, this, [this] { finish(); });
    QObject::connect(m_hls, &HlsStream::failed, this,
                     [this](const QString &reason) { finish(reason); });
    m_hls->start(QUrl(m_report.url), playlist);
}

// Counts one more redirect or playlist followed; past the limit the try ends.
bool StationProbe::mayHop()
{
    if (++m_hops <= StationProtocol::maxHops)
        return true;
    finish(QStringLiteral("Too many redirects and playlists"));
    return false;
}

void StationProbe::audioReceived(QByteArrayView audio)
{
    m_report.audio = true;
    if (m_firstAudio.size() < formatBytes)
        m_firstAudio.append(audio.first(std::min(audio.size(), formatBytes - m_firstAudio.size())));
    finishWhenKnown();
}

void StationProbe::inBandHeadReceived(QByteArrayView head)
{
    const StationHeaders headers = StationHeaders::fromInBandHead(QString::fromLatin1(head));
    if (headers.mimeType)
        m_report.contentType = *headers.mimeType;
}

void StationProbe::titleBlockReceived(QByteArrayView block, bool)
{
    m_report.title =
        StationProtocol::streamTitle(QString::fromUtf8(block)).value_or(QString()).trimmed();
    finishWhenKnown();
}

// Done once the format is known and, where titles were announced, one came.
void StationProbe::finishWhenKnown()
{
    const bool titlesAnnounced = m_demuxer->interval() > 0;
    if (m_firstAudio.size() >= formatBytes && (!titlesAnnounced || !m_report.title.isEmpty()))
        finish();
}

void StationProbe::finish(const QString &problem)
{
    if (m_done)
        return;
    m_done = true;
    m_limit.stop();
    m_transfer.reset();
    m_report.problem = problem;
    if (m_hls) {
        m_hls->stop();
        m_report.hls = m_hls->description();
    }
    if (m_demuxer && m_demuxer->interval() > 0)
        m_report.titles = true;
    const StreamFormat format = StreamFormat::sniff(m_firstAudio);
    m_report.codec = format.codec.isEmpty() ? codecOf(m_report.contentType) : format.codec;
    if (format.bitrate > 0 && m_report.bitrate <= 0)
        m_report.bitrate = format.bitrate;
    m_report.sampleRate = format.sampleRate;
    if (format.oggTitle) {
        m_report.titles = true;
        m_report.title = format.oggTitle->trimmed();
    }
    Q_EMIT finished(m_report);
}
