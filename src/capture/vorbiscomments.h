#pragma once

#include <optional>

#include <QByteArrayView>
#include <QString>

// The comment block that Ogg Vorbis, Opus and FLAC streams carry in their
// headers: a vendor string, then a count of "KEY=value" comments, each after
// its 32-bit little-endian length. Pure.
namespace VorbisComments {

// "ARTIST - TITLE", or either alone, "" when it names neither; none when
// the block is cut short.
std::optional<QString> title(QByteArrayView block);

} // namespace VorbisComments
