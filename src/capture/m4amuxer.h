#pragma once

#include <functional>
#include <memory>

#include <QByteArrayView>
#include <QString>

// Wraps ADTS AAC frames into an .m4a file that players open directly: a
// fragmented MP4 written front to back through FFmpeg's MP4 muxer, so it
// never seeks and a track can be cut at any frame. One muxer per track file.
class M4aMuxer
{
public:
    // Gets the file's bytes as they are made; the view lives for the call.
    using Sink = std::function<void(QByteArrayView bytes)>;

    explicit M4aMuxer(Sink sink);
    ~M4aMuxer();
    M4aMuxer(const M4aMuxer &) = delete;
    M4aMuxer &operator=(const M4aMuxer &) = delete;

    // Whole ADTS frames; the first one sets the track's sample rate,
    // channels and profile. False, with *error, when the muxer refuses them.
    bool write(QByteArrayView adtsFrames, QString *error);
    // Ends the file with its last fragment; nothing is written after.
    bool finish(QString *error);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
