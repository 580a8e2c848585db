#pragma once

#include <optional>

#include <QByteArrayView>
#include <QString>

// What the first bytes of a stream say it is, whatever its Content-Type
// claims: MP3 and ADTS AAC by two frame headers in a row (one alone is too
// easily found in noise), Ogg by its first page (Vorbis, Opus or FLAC inside),
// FLAC by its marker. Pure: bytes in, a description out.
struct StreamFormat
{
    QString codec; // "MP3", "AAC", "Ogg Vorbis", "Ogg Opus", "Ogg FLAC", "Ogg", "FLAC"; "" unknown
    int bitrate = 0;    // kbit/s of the first MP3 frame; 0 unknown
    int sampleRate = 0; // Hz; 0 unknown
    // An Ogg stream's title from its comment header ("ARTIST - TITLE"):
    // Ogg stations send their titles there, not as ICY metadata.
    std::optional<QString> oggTitle;

    static StreamFormat sniff(QByteArrayView bytes);
};
