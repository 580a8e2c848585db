#pragma once

#include <optional>

#include <QList>
#include <QPair>
#include <QString>
#include <QStringView>

// What a station says of its stream in header fields, whether they came as
// the response's head or inside the body after an "ICY" status line.
struct StationHeaders
{
    // "icy-metaint": > 0 bytes of audio between metadata blocks; announced as
    // 0 or not a number reads as -1, "no metadata".
    std::optional<qint32> metaInterval;
    std::optional<QString> genre;    // "icy-genre"
    std::optional<QString> mimeType; // "content-type" without parameters, lower case

    // Fields in the order received; a later field of the same name wins.
    static StationHeaders fromFields(const QList<QPair<QString, QString>> &fields);
    // Header lines separated by "\r\n"; the piece after the last one is not a
    // whole line and is ignored.
    static StationHeaders fromInBandHead(QStringView head);

    static bool isOgg(const QString &mimeType);
    // Whether an answer says it is an M3U playlist (HLS's among them), by its
    // media type or by the ".m3u8" that ends its address: one is read whole.
    static bool namesPlaylist(const QString &mimeType, const QString &url);
    // The extension players and taggers will judge the file by: ".ogg",
    // ".aac" or ".mp3".
    static QString extensionFor(const QString &mimeType);
};
