#pragma once

#include <span>
#include <vector>

#include <QByteArrayView>

// How loud each of a run of MP3 or ADTS AAC frames plays, decoded by FFmpeg's
// libavcodec: the mean square of its samples (full scale 1.0). Only the audio
// around a title change is ever decoded, never the whole stream.
namespace FrameLoudness {

// One value per frame, in order; negative where the decoder gave no audio
// (the first frames of a run may lean on bits of frames before it). Empty
// when the decoder cannot be opened.
std::vector<double> measure(bool aac, std::span<const QByteArrayView> frames);

} // namespace FrameLoudness
