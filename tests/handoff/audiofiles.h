#pragma once

#include <QByteArray>

// Tiny but well-formed audio files for tagging tests, built in code so that no
// binary sample needs to be kept in the repository.
namespace AudioFiles {

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo: frames of silence.
QByteArray mp3(int frames = 20);

// An Ogg Vorbis stream of three pages: the identification header, the comment
// and setup headers, then one audio packet. The pages and the first two
// headers are exact; the setup header and audio packet are placeholders that
// only a decoder would read.
QByteArray oggVorbis();

} // namespace AudioFiles
