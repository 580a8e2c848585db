#include "model/recording.h"

#include <QList>

#include "handoff/scriptrunner.h"
#include "handoff/titlesplit.h"
#include "platform/failures.h"

namespace {

// What the script is told for a recording that keeps every track listed.
constexpr qint64 unlimitedCount = 1048576;

// The seven arguments of "add_tune", in the order every addTune.lua expects:
// file, playlist, title, album, artist, genre, count.
QList<ScriptArgument> addTuneArguments(const Recording &recording)
{
    QString artist = recording.customArtist;
    QString album = recording.customAlbum.isEmpty() ? recording.name : recording.customAlbum;
    QString title = recording.title;
    // A title Skyvane made up from the date has no parts to find.
    if (recording.splitTitle && !recording.madeTitle) {
        TitleSplit split = TitleSplit::fromTitle(recording.title);
        artist = split.artist.value_or(artist);
        album = split.album.value_or(album);
        title = std::move(split.title);
    }
    const QString genre = recording.customGenre.isEmpty() ? recording.genre : recording.customGenre;
    const qint64 count = recording.recCount >= 0 ? recording.recCount : unlimitedCount;
    return {recording.filePath, recording.playList, title, album, artist, genre, count};
}

} // namespace

void Recording::addToTunes()
{
    ScriptRunner &runner = ScriptRunner::shared();
    QString errorInfo;
    // A script that failed to load is tried again by the next track.
    if (runner.isLoaded() || runner.load(errorInfo)) {
        if (runner.callHandler(QStringLiteral("add_tune"), addTuneArguments(*this), errorInfo)) {
            fmtlog("Added track to playlist %@\n", playList);
            return;
        }
    }
    fmtlog("Error adding to playlist: %@\n", errorInfo);
    // During a capture the failure ends it; at its end the log line is enough.
    if (conn)
        throw NamedFailure(QStringLiteral("FileAddFailed"),
                           QStringLiteral("Error adding the track to iTunes"));
}
