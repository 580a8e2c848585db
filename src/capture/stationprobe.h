#pragma once

#include <chrono>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include "capture/icydemuxer.h"
#include "hls/hlsstream.h"
#include "platform/httptransfer.h"

// What "Try" found out of a station.
struct ProbeReport
{
    QString url;         // the stream's address after redirects and playlists
    QString hls;         // for an HLS station, what is followed: variant, segments
    bool audio = false;  // the station answered with audio
    QString contentType; // as the header says; "" none
    QString codec;       // from the first bytes, else from the header; "" unknown
    int bitrate = 0;     // kbit/s; 0 unknown
    int sampleRate = 0;  // Hz; 0 unknown
    bool titles = false; // an ICY metadata interval was announced
    QString title;       // the first stream title, if one came in time
    QString problem;     // what went wrong, in plain words; "" nothing

    // "key: value" a line: url, hls, codec, bitrate, samplerate, titles, title,
    // problem; unknown values are left out.
    QStringList lines() const;
    // The same in a sentence for the window: "MP3, 128 kbit/s, 44.1 kHz;
    // sends titles, now “Artist - Song”.", or what went wrong.
    QString sentence() const;
};

// Connects to a station for a few seconds, as a capture would (redirects and
// playlists followed, titles asked for), writes nothing, and reports what it
// found: enough audio to know the format, and the first title where the
// station sends titles. Starts from the event loop; finished() comes once.
class StationProbe : public QObject, private IcyDemuxer::Receiver
{
    Q_OBJECT

public:
    explicit StationProbe(QObject *parent = nullptr);
    ~StationProbe() override;

    void start(const QString &url, std::chrono::milliseconds limit = std::chrono::seconds(10));

Q_SIGNALS:
    void finished(const ProbeReport &report);

private:
    void connectTo(const QString &url);
    void onResponse(const HttpResponse &response);
    void onData(QByteArrayView data);
    void feed(QByteArrayView data);
    void onFinished();
    void followHls(const QByteArray &playlist);
    void finish(const QString &problem = {});
    void finishWhenKnown();
    bool mayHop();

    void audioReceived(QByteArrayView audio) override;
    void inBandHeadReceived(QByteArrayView head) override;
    void titleBlockReceived(QByteArrayView block, bool first) override;

    ProbeReport m_report;
    HttpTransferPtr m_transfer;
    std::optional<IcyDemuxer> m_demuxer;
    std::optional<QByteArray> m_playlist; // a body that says it is a playlist, held whole
    HlsStream *m_hls = nullptr;
    QByteArray m_firstAudio; // enough to tell the format
    QTimer m_limit;
    int m_hops = 0;
    bool m_done = false;
};
