#include "model/recording.h"

#include <QFileInfo>

namespace {

// A track of at most this many bytes is a fragment, not worth keeping.
constexpr qint64 tinyTrackLimit = 262143;

const QString startPrefix = QStringLiteral("Start of ");

} // namespace

void Recording::closeFile(bool incomplete)
{
    if (!file)
        return;
    // 64-bit: a day-long capture passes 2 GiB and must not look tiny.
    const qint64 length = file->pos();
    // The last interval of audio was cut off mid-song by the next metadata block.
    if (icyInterval > 0 && length > icyInterval)
        file->resize(length - icyInterval);
    file->flush();
    file->close();
    file.reset();

    if (incomplete) {
        if (!keepPartial) {
            log(QStringLiteral("Deleting the last (incomplete) shoutcast song\n"));
            QFile::remove(filePath);
            return;
        }
        title = startPrefix + title;
        const QFileInfo info(filePath);
        const QString renamed = info.path() + u'/' + startPrefix + info.fileName();
        QFile::remove(renamed);
        if (QFile::rename(filePath, renamed))
            filePath = renamed;
        else
            fmtlog("Couldn't rename %@ to %@\n", filePath, renamed);
    }

    if (length <= tinyTrackLimit) {
        fmtlog("Data size is tiny (%d bytes), deleting song\n", length);
        QFile::remove(filePath);
        return;
    }
    fmtlog("File size is %d bytes\n", length);
    if (!playList.isEmpty())
        addToTunes();
}
