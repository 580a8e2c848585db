#include "model/recording.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "capture/trackname.h"
#include "platform/clock.h"
#include "platform/failures.h"

namespace {

// File names may hold 255 bytes; room is kept for the "Start of " that a kept
// incomplete song gets in front of its name when the capture ends.
constexpr qsizetype maxFileNameBytes = 255 - 9;

} // namespace

QString Recording::trackFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
           QStringLiteral("/Skyvane");
}

void Recording::openFile(const QString &trackTitle)
{
    madeTitle = trackTitle.isEmpty();
    QString fileBase;
    if (madeTitle) {
        const QString base = customTitle.isEmpty() ? name : customTitle;
        const QDateTime now = Clock::now();
        fileBase = TrackName::madeFileBase(base, now);
        title = TrackName::madeTitle(base, now);
    } else {
        fileBase = TrackName::cleanStreamTitle(trackTitle);
        title = trackTitle;
    }
    const QString fileName = TrackName::fitFileName(fileBase, fileExt, maxFileNameBytes);
    const QString folder = trackFolder();
    QDir().mkpath(folder);
    filePath = folder + u'/' + fileName;
    QFile::remove(filePath);
    fmtlog("Writting data to %@\n", fileName);
    auto track = std::make_unique<QFile>(filePath);
    // Unbuffered: each chunk goes straight to the system, and a full disk shows
    // at the write that met it.
    if (!track->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw NamedFailure(QStringLiteral("FileOpenFailed"), filePath);
    file = std::move(track);
}

void Recording::decideTrack(const QString &streamTitle, bool firstTitle)
{
    // The first title of a connection names a song already under way.
    if (!keepPartial && firstTitle && !streamTitle.isEmpty())
        return;
    if (!splitSongs)
        return;
    closeFile(false);
    QString next = streamTitle;
    if (keepPartial && firstTitle && !streamTitle.isEmpty())
        next = QStringLiteral("End of ") + streamTitle;
    openFile(next);
}
