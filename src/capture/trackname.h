#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

// Names and titles of track files. Dates use English month abbreviations and
// AM/PM whatever the desktop language, so names do not change with the locale.
namespace TrackName {

// base + "_%b_%d_%Y__%I_%M%p", e.g. "Morning Show_Dec_05_2026__09_45AM".
// The base is placed as it is: a "%" in it is never taken as a conversion.
QString madeFileBase(const QString &base, const QDateTime &when);
// base + " - %b %d, %Y %I:%M%p", e.g. "Morning Show - Dec 05, 2026 09:45AM".
QString madeTitle(const QString &base, const QDateTime &when);

// A stream title as a file base: "/", "\", ":", "'" and '"' become "_", "~" and
// control characters go. A title that keeps nothing becomes "Untitled", never
// an empty (hidden) name.
QString cleanStreamTitle(const QString &streamTitle);

// Cuts the base so that base + extension fit in maxBytes of UTF-8, never
// splitting a character.
QString fitFileName(const QString &base, const QString &extension, qsizetype maxBytes);

// For names a hand-off script makes: "/", NUL and control characters become
// "_"; "", "." and ".." become underscores; the result is cut to 240 bytes of
// UTF-8 so that an extension still fits the usual limit of 255 bytes.
QString fileNameSafe(QStringView text);

// "07": a number of at least two digits, zero-padded.
QString twoDigits(int value);

} // namespace TrackName
