#pragma once

#include <QString>
#include <QStringView>

// Small text helpers shared by the editor, the settings table, the header parser and
// the title split. "Inline whitespace" is the Unicode space separators and tab:
// line breaks are deliberately not part of it.
namespace TextScan {

bool isInlineWhitespace(QChar c);

// The text without leading and trailing inline whitespace.
QString trimInlineWhitespace(QStringView text);

// Reads a leading decimal integer: leading whitespace skipped, an optional sign,
// then digits up to the first other character. No digits gives 0; values beyond
// the 32-bit range saturate instead of wrapping.
qint32 leadingInt(QStringView text);

// An announced metadata interval ("icy-metaint"): its leading integer, with 0
// (announced but zero, or not a number) read as -1, "no metadata".
qint32 metaInterval(QStringView text);

// The text fit for a terminal: control characters (tab aside), C1 controls
// such as NEL, and the Unicode line and paragraph separators are written as
// escapes ("\x1B", "\u2028"), so that a station's title can neither steer
// the terminal nor break a line.
QString escapeControls(QStringView text);

// The media type of a Content-Type value, in lower case: "audio/mpeg" of
// "Audio/MPEG; charset=x".
QString mediaType(QStringView contentType);

// "07": a number of at least two digits, zero-padded.
QString twoDigits(int value);

} // namespace TextScan
