#pragma once

#include <deque>
#include <optional>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "capture/icydemuxer.h"
#include "capture/m4amuxer.h"
#include "capture/nonsongtitles.h"
#include "capture/oggsplitter.h"
#include "capture/songcutter.h"
#include "capture/tracksync.h"
#include "capture/trackwriter.h"
#include "hls/hlsstream.h"
#include "values/recordingsettings.h"
#include "platform/descriptorlimit.h"
#include "platform/httptransfer.h"

// One live capture of a station: the transfer, the watchdog that ends it on a
// stall or when its time is up, and the track files it writes. It tells the
// world through signals and ends with exactly one finished(), never before
// start() has returned.
//
// Audio runs from the transfer through the demultiplexer (or, for an HLS
// station, from its segments) and the song cutter into the track writer;
// each finished track leaves as trackSaved() once it is on the disk.
class Capture : public QObject,
                private IcyDemuxer::Receiver,
                private SongCutter::Receiver,
                private OggSplitter::Receiver
{
    Q_OBJECT

public:
    // The duration counts from startDate, which a resumed capture keeps.
    Capture(const RecordingSettings &settings, const QDateTime &startDate,
            QObject *parent = nullptr);
    ~Capture() override;

    // Connects to the station soon, from the event loop.
    void start();
    // Ends the capture now: the song under way is incomplete unless its
    // title was made up. Returns at once; finished() follows once the last
    // track is on the disk.
    void stop();
    // Ends the capture as a failure of its track files ("File access error:
    // <reason>"), as when the music library refuses a track.
    void failWithFileError(const QString &reason);
    // Settings saved while the capture runs apply from now on.
    void setSettings(const RecordingSettings &settings) { m_settings = settings; }

    bool isRunning() const { return m_running; }
    // Audio bytes handed to the track files so far, over every connection.
    qint64 bytesWritten() const { return m_bytesWritten; }
    // Why the capture broke off or gave up; "" when it ran its time or was stopped.
    const QString &failure() const { return m_failure; }
    // For a capture that kept no track, why, in a few words: what became of
    // the last track it lost, or that no track began.
    QString nothingKept() const;

    // A failed connection in a person's words, from the transfer's error,
    // which names curl's failure twice and in curl's terms.
    static QString connectionFailure(const QString &transferError);

Q_SIGNALS:
    void logLine(const QString &line);
    void titleChanged(const QString &title);
    // A track is on the disk, in the order the tracks ended.
    void trackSaved(const Track &track);
    // resume: the capture broke off early and asks to be resumed.
    void finished(bool resume);

private:
    bool connectTo(const QString &url);
    void onRedirected(const QString &target);
    bool mayHop();
    void onResponse(const HttpResponse &response);
    void onData(QByteArrayView data);
    void onFinished();
    void onFailed(const QString &error);
    void feedDemuxer(QByteArrayView data);
    void followHls(const QByteArray &playlist);
    void dropHls();
    void hlsFormatKnown(SegmentAudio::Container container, const QString &codec);
    void hlsAudio(QByteArrayView audio);
    void hlsTitle(const QString &title);
    void hlsFailed(const QString &reason, HlsStream::Failure failure);
    void stationClosed();
    void checkProgress();
    bool hasRoomOnDisk();
    void checkTrackFile();
    qint32 elapsedMinutes() const;
    void recordFileError(const QString &reason);
    void breakOff(const QString &reason);
    void fail(const QString &reason);
    void end();
    void finishWhenSynced();
    template<typename Step> void guarded(Step step);

    void audioReceived(QByteArrayView audio) override;
    void inBandHeadReceived(QByteArrayView head) override;
    void titleBlockReceived(QByteArrayView block, bool first) override;

    void takeFirstTitle(const QString &streamTitle);
    bool titlesMayCome() const;
    void songAudio(QByteArrayView audio, qint64 durationUs) override;
    void songEnds() override;
    void audioSkipped(qint64 count, bool atStart) override;
    void oggStreamBegins(const QString &title, const QString &codec) override;
    void oggPages(QByteArrayView pages) override;
    void oggResynced(qint64 skipped) override;
    bool isSong(const QString &title) const { return !m_nonSongs.matches(title); }

    qsizetype firstAudioLimit() const;
    void chooseFormat();
    void adoptCodec(const QString &codec);
    void beginFirstSong();
    void beginSong(const QString &title, bool song);
    void finishCutter();
    void openTrack(const QString &streamTitle);
    void beginM4a();
    void writeTrack(QByteArrayView audio);
    void finishTrack(bool incomplete);
    void begin();
    void trackSynced(const Track &track, const QString &error);
    QString decode(QByteArrayView bytes) const;
    void log(const QString &line) { Q_EMIT logLine(line); }

    RecordingSettings m_settings;
    QDateTime m_startDate;
    HttpTransferPtr m_transfer;
    std::optional<IcyDemuxer> m_demuxer; // one for each body
    // The body of what may be an HLS playlist, held whole until it ends.
    std::optional<QByteArray> m_playlist;
    QString m_url; // the body's address, after redirects
    // From an HLS playlist on, the audio comes from its segments.
    HlsStream *m_hls = nullptr;
    // Segments of fragmented MP4 are saved as .m4a, each track muxed anew.
    bool m_muxM4a = false;
    std::optional<M4aMuxer> m_m4a;
    // From the first audio of a body on; before, that audio is held in
    // m_firstAudio to tell its codec and, in a split capture, to wait for
    // the first title, which names the song under way.
    std::optional<SongCutter> m_cutter;
    QByteArray m_firstAudio;
    std::optional<QString> m_firstTitle;
    // An Ogg body's songs are its logical streams, cut where each begins.
    std::optional<OggSplitter> m_ogg;
    int m_oggStreams = 0;
    NonSongTitles m_nonSongs; // read as the capture begins
    int m_tracksOpened = 0;   // for a file-name pattern's {counter}
    // The title changes whose cuts are not placed yet, and whether each is a song.
    std::deque<std::pair<QString, bool>> m_titles;
    // What the audio goes to now.
    enum class Part {
        Whole,   // one file for the whole capture
        LeadIn,  // a song under way at the start, kept if no title follows
        Song,    // a song that began during the capture, or its end if so asked
        NotSong, // a title that is not a song: its audio is not kept
    };
    Part m_part = Part::Whole;
    qint64 m_trackPlayingUs = 0;
    TrackWriter m_writer;
    TrackSync m_sync;
    QTimer m_watchdog;
    // Descriptors the capture is about to open: its connection's socket, and
    // its first track file.
    DescriptorLimit::Claim m_socketClaim;
    DescriptorLimit::Claim m_trackClaim;
    QString m_genre;
    QString m_extension = QStringLiteral(".mp3");
    QString m_failure;
    QString m_unsynced; // why a track did not reach the disk, if one did not
    QString m_notSong;  // the last title whose audio was not kept
    qint64 m_bytesWritten = 0;
    qint64 m_lastSize = 0; // audio bytes at the previous watchdog tick
    QDateTime m_trackOpened;
    int m_hops = 0; // redirects and playlists followed
    bool m_running = false;
    bool m_audioCame = false; // from any connection
    bool m_ended = false;     // finished() sent
    bool m_resume = false;
};
