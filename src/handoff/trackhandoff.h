#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "capture/trackwriter.h"
#include "handoff/scriptrunner.h"

struct RecordingSettings;

// Hands a finished track to the music library through the script's
// add_tune(path, playlist, title, album, artist, genre, count).
namespace TrackHandoff {

// The seven arguments, in the order every addTune.lua expects. The tags come
// from the recording, or, with "split title", from the stream title's pieces.
QList<ScriptArgument> arguments(const RecordingSettings &settings, const TrackWriter::Track &track,
                                const QString &stationGenre);

// Runs the hand-off in the process's one script slot; a script that failed to
// load is tried again by the next track. Nothing on success, else the error.
std::optional<QString> addToPlaylist(const RecordingSettings &settings,
                                     const TrackWriter::Track &track, const QString &stationGenre);

} // namespace TrackHandoff
