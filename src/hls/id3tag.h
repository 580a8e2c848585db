#pragma once

#include <optional>

#include <QByteArrayView>
#include <QString>

// The ID3v2 tags that HLS packed audio and timed metadata carry. Pure.
namespace Id3Tag {

// The length of the ID3v2 tag (header, body and footer) at the start of
// `bytes`; 0 when none starts there or it is not whole.
qsizetype length(QByteArrayView bytes);

// The song a tag names: "Artist - Title" from TPE1 and TIT2 (either alone
// when the other is missing), else a TXXX frame described "title" or
// "StreamTitle"; nullopt when it names none (a tag with only a timestamp).
// Text in ISO-8859-1, UTF-16 (with BOM or big-endian) and UTF-8.
std::optional<QString> songTitle(QByteArrayView tag);

} // namespace Id3Tag
