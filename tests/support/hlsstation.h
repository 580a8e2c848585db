#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include "stationsimulator.h"

// A live HLS station on the station simulator: real audio cut into segments
// (packed ADTS, MPEG-TS or fMP4, made by ffmpeg), optionally encrypted with
// AES-128 by the openssl command, and a media playlist that slides over them
// as if they were being made, faster than real time.
class HlsStation : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Packed, TransportStream, Mp4 };
    enum Option {
        Encrypted = 1,
        Id3Titles = 2,    // an ID3 tag with TPE1/TIT2 at each packed segment's start
        ExtinfTitles = 4, // "#EXTINF:<duration>,<title>"
        Master = 8,       // url() is a master playlist: a video variant and two audio ones
        Stall = 16,       // the playlist stops growing halfway, and never ends
        Gap = 32,         // three segments leave the playlist before they can be fetched
        Gone = 64,        // the playlist answers 404 from halfway on
    };

    // `audio` is ADTS AAC; `titles[i]` is the title from second i * songSeconds on.
    // A segment of a second is published every publishMs.
    HlsStation(StationSimulator &station, const QByteArray &path, Kind kind, int options,
               const QByteArray &audio, const QList<QByteArray> &titles, double songSeconds,
               int publishMs = 100);

    QString url() const { return m_station.url(QString::fromLatin1(m_entry)); }
    // Segments are ready to serve (ffmpeg and openssl did their work).
    bool isValid() const { return !m_segments.isEmpty(); }

private:
    struct Segment
    {
        QByteArray name;
        double seconds = 0;
        QByteArray title;
    };

    QList<QPair<double, QByteArray>> cut(Kind kind, const QByteArray &audio);
    void publish();
    QByteArray playlist() const;

    StationSimulator &m_station;
    QByteArray m_path;
    QByteArray m_entry;
    int m_options = 0;
    QList<Segment> m_segments;
    QByteArray m_map; // the fMP4 init section's name
    qsizetype m_published = 0;
    QTimer m_clock;
};
