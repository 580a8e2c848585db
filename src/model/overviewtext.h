#pragma once

#include <QDateTime>
#include <QString>

#include "model/recording.h"
#include "values/recordingsettings.h"

// What the overview says of a recording, in the window's words: the window's
// columns and the web page show these same texts.
namespace OverviewText {

// "in 25 min", "Tomorrow 07:45"; while it captures, "ends in 42 min".
QString nextStart(const Recording &recording, const QDateTime &now);
// The weekdays as the editor's buttons name them: "Mon–Fri Sun", "Every day".
QString days(const RecordingSettings &settings);
QString state(Recording::State state);
// The last capture's result; while one runs, its song and what it has saved so far.
QString lastResult(const Recording &recording);

} // namespace OverviewText
