#pragma once

#include <optional>

#include <QDateTime>

struct RecordingSettings;

// When a recording starts next: a pure function of its settings and the clock.
namespace NextStart {

// The next start from the minute of `now` on, or nothing when the recording is
// disabled; always a valid date. `lastStart` is when its last capture started:
// a start falling in that same minute is what just ran, and is not found due
// again.
std::optional<QDateTime> after(const RecordingSettings &settings, const QDateTime &now,
                               const QDateTime &lastStart);

} // namespace NextStart
