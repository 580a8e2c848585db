#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

// Names and titles of track files. Dates use English month abbreviations and
// AM/PM whatever the desktop language, so names do not change with the locale.
namespace TrackName {

// "_%b_%d_%Y__%I_%M%p", e.g. "_Dec_05_2026__09_45AM": put after a recording's
// name, it makes the file name of a track without a stream title.
QString madeFileDate(const QDateTime &when);
// base + " - %b %d, %Y %I:%M%p", e.g. "Morning Show - Dec 05, 2026 09:45AM".
QString madeTitle(const QString &base, const QDateTime &when);

// A stream title as a file base: "/", "\", ":", "'", '"' and the characters FAT
// file systems refuse ("*", "?", "<", ">", "|") become "_"; "~", control
// characters and leading dots go. A title that keeps nothing becomes
// "Untitled", never an empty or hidden name.
QString cleanStreamTitle(const QString &streamTitle);
// The same cleaning without the "Untitled": a text that keeps nothing is empty.
QString cleanFileNamePart(const QString &text);

// Cuts the base so that base + kept fit in maxBytes of UTF-8, never splitting
// a character: kept (a date, a counter, the extension) is never cut.
QString fitFileName(const QString &base, const QString &kept, qsizetype maxBytes);

// " (2)", " (3)" ... before the extension of a name already taken; nothing
// for the first choice (counter 1).
QString counterSuffix(int counter);

// For names a hand-off script makes: "/", NUL and control characters become
// "_"; "", "." and ".." become underscores; the result is cut to 240 bytes of
// UTF-8 so that an extension still fits the usual limit of 255 bytes.
QString fileNameSafe(QStringView text);

} // namespace TrackName
