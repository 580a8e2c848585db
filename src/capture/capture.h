#pragma once

#include <optional>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include "capture/icydemuxer.h"
#include "capture/tracksync.h"
#include "capture/trackwriter.h"
#include "values/recordingsettings.h"
#include "platform/descriptorlimit.h"
#include "platform/httptransfer.h"

// One live capture of a station: the transfer, the watchdog that ends it on a
// stall or when its time is up, and the track files it writes. It tells the
// world through signals and ends with exactly one finished().
//
// Audio runs from the transfer through the demultiplexer into the track
// writer; each finished track goes to the music-library hand-off.
class Capture : public QObject, private IcyDemuxer::Receiver
{
    Q_OBJECT

public:
    // The duration counts from startDate, which a resumed capture keeps.
    Capture(const RecordingSettings &settings, const QDateTime &startDate,
            QObject *parent = nullptr);
    ~Capture() override;

    // Connects to the station; a station that cannot be reached ends the
    // capture before this returns.
    void start();
    // Ends the capture now: the song under way is incomplete unless its
    // title was made up. Waits for the last track to reach the disk, never for
    // a script: finished() has come when this returns, or comes once the
    // capture's hand-offs are done.
    void stop();
    // Settings saved while the capture runs apply from now on.
    void setSettings(const RecordingSettings &settings) { m_settings = settings; }

    bool isRunning() const { return m_running; }
    // Audio bytes handed to the track files so far, over every connection.
    qint64 bytesWritten() const { return m_bytesWritten; }
    // Why the capture broke off or gave up; "" when it ran its time or was stopped.
    const QString &failure() const { return m_failure; }

Q_SIGNALS:
    void logLine(const QString &line);
    void progressChanged(double percent);
    void titleChanged(const QString &title);
    void trackFinished(const QString &path);
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
    void checkProgress();
    bool hasRoomOnDisk();
    void checkTrackFile();
    qint32 elapsedMinutes() const;
    void breakOff(const QString &reason);
    void fail(const QString &reason);
    void end();
    void finishWhenSynced();
    template<typename Step> void guarded(Step step);
    void endOnFileError(const QString &reason);

    void audioReceived(QByteArrayView audio) override;
    void inBandHeadReceived(QByteArrayView head) override;
    void titleBlockReceived(QByteArrayView block, bool first) override;

    void openTrack(const QString &streamTitle);
    void finishTrack(bool incomplete);
    void trackSynced(const Track &track, const QString &error);
    void handOver(const Track &track);
    void handedOver(const std::optional<QString> &error, const QString &note);
    QString decode(QByteArrayView bytes) const;
    void log(const QString &line) { Q_EMIT logLine(line); }

    RecordingSettings m_settings;
    QDateTime m_startDate;
    HttpTransferPtr m_transfer;
    std::optional<IcyDemuxer> m_demuxer; // one for each body
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
    qint64 m_bytesWritten = 0;
    qint64 m_lastSize = 0; // audio bytes at the previous watchdog tick
    int m_hops = 0;        // redirects and playlists followed
    int m_handingOver = 0; // tracks with the hand-off thread
    bool m_running = false;
    bool m_ended = false; // finished() sent
    bool m_resume = false;
};
