#pragma once

#include <optional>

#include <QList>
#include <QString>

#include "values/track.h"
#include "handoff/scriptrunner.h"

struct RecordingSettings;

// Hands a finished track to the music library through the script's
// add_tune(path, playlist, title, album, artist, genre, count).
namespace TrackHandoff {

// What became of one hand-off.
struct Outcome
{
    std::optional<QString> error; // why it failed, with the script's file and line
    QString note;                 // the text add_tune returned, for the log; "" if none
};

// The seven arguments, in the order every addTune.lua expects. The tags come
// from the recording, or, with "split title", from the stream title's pieces.
QList<ScriptArgument> arguments(const RecordingSettings &settings, const Track &track);

// Runs the hand-off in the runner, on the caller's thread, loading the script
// first when it is not loaded: a script that failed to load is tried again by
// the next track.
Outcome handOver(ScriptRunner &runner, const RecordingSettings &settings, const Track &track);

} // namespace TrackHandoff
