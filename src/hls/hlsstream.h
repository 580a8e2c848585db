#pragma once

#include <deque>
#include <optional>

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>

#include "hls/bodyfetch.h"
#include "hls/hlsplaylist.h"
#include "hls/segmentdemuxer.h"

// One HLS station followed live: the playlist reloaded as it grows, every
// segment fetched once and in order, decrypted and read into a stream of
// audio frames with the titles where they begin. Nothing is written here;
// the capture takes the audio as it takes a station's body.
//
// Signals come from the event loop, but for failed() when start() finds the
// first playlist unusable. The receiver may stop() the stream from any of
// them; nothing follows then.
class HlsStream : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        Broken,  // the network or the station failed; trying again may help
        Stalled, // the playlist stopped growing
        Refused, // what the station serves can not be recorded (DRM, a playlist loop)
    };
    Q_ENUM(Failure)

    explicit HlsStream(QObject *parent = nullptr);
    ~HlsStream() override;

    // Follows the playlist whose body was already fetched from `url` (a
    // master playlist or a media one).
    void start(const QUrl &url, const QByteArray &body);
    void stop();

    qint64 audioBytes() const { return m_audioBytes; }
    // What is followed, for the log and "Try": "HLS, 128 kbit/s variant,
    // MPEG-TS segments of AAC"; parts not known yet are left out.
    QString description() const;

Q_SIGNALS:
    void logLine(const QString &line);
    // Once, with the first segment that gave audio.
    void formatKnown(SegmentAudio::Container container, const QString &codec);
    // Whole frames; the view lives for the call.
    void audioReceived(QByteArrayView audio);
    // A title that differs from the one before, where its song begins.
    void titleReceived(const QString &title);
    // The playlist ended (#EXT-X-ENDLIST) and all its audio is out.
    void ended();
    // The stream can not go on.
    void failed(const QString &reason, HlsStream::Failure failure);

private:
    enum class Fetching { Nothing, Key, InitSection, Segment };

    void fetchPlaylist(const QUrl &url);
    void onPlaylist(const QByteArray &body);
    void onPlaylistFailed(const QString &reason);
    void followMaster(const HlsPlaylist &master);
    void takeMedia(const HlsPlaylist &media);
    void queueNewSegments(const HlsPlaylist &media);
    qint64 liveStart(const HlsPlaylist &media) const;
    void scheduleReload(bool grew);
    bool checkGrowth(bool grew);
    void fetchNext();
    bool refusesKey(const HlsPlaylist::Key &key);
    void onBody(const QByteArray &body);
    void onBodyFailed(const QString &reason);
    void takeSegment(const HlsPlaylist::Segment &segment, const QByteArray &body);
    void announceFormat(const SegmentAudio &audio);
    void giveOut(const HlsPlaylist::Segment &segment, const SegmentAudio &audio);
    void announce(const QString &title);
    void segmentLost(const HlsPlaylist::Segment &segment, const QString &why);
    void fail(const QString &reason, Failure failure = Failure::Broken);
    void log(const QString &line) { Q_EMIT logLine(line + u'\n'); }

    BodyFetch m_playlistFetch;
    BodyFetch m_fetch; // keys, init sections and segments, one at a time
    Fetching m_fetching = Fetching::Nothing;
    QTimer m_reload;
    QElapsedTimer m_sinceGrowth;
    QUrl m_playlistUrl;
    int m_masters = 0;
    qint64 m_targetMs = 0;
    std::optional<qint64> m_nextSequence; // none before the first media playlist
    std::deque<HlsPlaylist::Segment> m_queue;
    bool m_endList = false;
    QHash<QUrl, QByteArray> m_keys;
    QString m_initSectionKey; // which init section m_initSection is
    QByteArray m_initSection;
    std::optional<QString> m_lastTitle;
    QSet<QString> m_dateRangesSeen;
    int m_failuresInARow = 0;
    qint64 m_audioBytes = 0;
    QString m_variant; // "128 kbit/s variant"
    QString m_format;  // "MPEG-TS segments of AAC"
    bool m_formatKnown = false;
    bool m_stopped = false;
};
