#pragma once

#include <optional>

#include <QString>

// Writes tags into a track file with TagLib, never at the cost of its audio.
// TagLib believes the size a tag states: a stream that happens to begin with
// an ID3v2 header claiming more than the file holds would lose all its audio
// to the new tag. So TagLib works on a copy next to the track, and the copy
// takes the track's place only when the audio after its tag is all there.
namespace TagWriter {

// UTF-8 texts: "" clears a tag, nothing leaves it as it is.
struct Tags
{
    std::optional<QString> title;
    std::optional<QString> album;
    std::optional<QString> artist;
    std::optional<QString> genre;
};

// ID3v2.4 for MPEG (and no other tag: ID3v1 holds only Latin-1), Vorbis
// comments for Ogg Vorbis, the native tag of the other formats TagLib knows.
// Nothing when the track carries the tags, else why it was left untouched.
std::optional<QString> write(const QString &path, const Tags &tags);

} // namespace TagWriter
