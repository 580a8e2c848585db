#include "handoff/trackhandoff.h"

#include "handoff/titlesplit.h"
#include "values/recordingsettings.h"

namespace {
// What the script is told for a recording that keeps every track listed.
constexpr qint64 unlimitedCount = 1048576;
} // namespace

namespace TrackHandoff {

QList<ScriptArgument> arguments(const RecordingSettings &settings, const Track &track)
{
    QString artist = settings.customArtist;
    QString album = settings.customAlbum.isEmpty() ? settings.name : settings.customAlbum;
    QString title = track.title;
    // A title Skyvane made up from the date has no parts to find.
    if (settings.splitTitle && !track.madeTitle) {
        TitleSplit split = TitleSplit::fromTitle(track.title);
        artist = split.artist.value_or(artist);
        album = split.album.value_or(album);
        title = std::move(split.title);
    }
    const QString genre =
        settings.customGenre.isEmpty() ? track.stationGenre : settings.customGenre;
    const qint64 count = settings.recCount >= 0 ? settings.recCount : unlimitedCount;
    return {track.path, settings.playList, title, album, artist, genre, count};
}

Outcome handOver(ScriptRunner &runner, const RecordingSettings &settings, const Track &track)
{
    QString error;
    if (runner.isLoaded() || runner.load(error)) {
        if (const std::optional<QVariant> result =
                runner.callHandler(QStringLiteral("add_tune"), arguments(settings, track), error)) {
            const bool text = result->typeId() == QMetaType::QString;
            return {std::nullopt, text ? result->toString() : QString()};
        }
    }
    return {error, {}};
}

} // namespace TrackHandoff
