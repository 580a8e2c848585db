#include "model/overviewtext.h"

#include <algorithm>
#include <array>

#include <QStringList>

#include "model/relativetime.h"

namespace {

QString liveText(const Recording &recording)
{
    const int saved = recording.lastResult() ? recording.lastResult()->tracksSaved : 0;
    const QString soFar = QStringLiteral("%1 so far").arg(Outcome::tracksSavedText(saved));
    return recording.title().isEmpty()
               ? soFar
               : QStringLiteral("\u201c%1\u201d \u00b7 %2").arg(recording.title(), soFar);
}

QString resultText(const std::optional<Recording::Result> &result)
{
    if (!result)
        return {};
    if (result->error())
        return result->errorText;
    return Outcome::tracksSavedText(result->tracksSaved);
}

} // namespace

namespace OverviewText {

QString nextStart(const Recording &recording, const QDateTime &now)
{
    if (recording.isCapturing())
        return QStringLiteral("ends in %1")
            .arg(RelativeTime::duration(recording.remainingSeconds()));
    return RelativeTime::text(recording.nextStart(), now);
}

// The weekdays as the editor's buttons name them, whatever the locale.
QString days(const RecordingSettings &settings)
{
    static const std::array<QString, 7> names{
        QStringLiteral("Mon"), QStringLiteral("Tue"), QStringLiteral("Wed"), QStringLiteral("Thu"),
        QStringLiteral("Fri"), QStringLiteral("Sat"), QStringLiteral("Sun")};
    // Three days or more in a row read as a range: "Mon–Fri".
    QStringList days;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!settings.days[i])
            continue;
        size_t last = i;
        while (last + 1 < names.size() && settings.days[last + 1])
            ++last;
        if (last >= i + 2) {
            days.append(names[i] + u'\u2013' + names[last]);
            i = last;
        } else {
            days.append(names[i]);
        }
    }
    // "Once" beats "every day", as it does for the schedule.
    if (settings.once)
        return days.isEmpty() ? QStringLiteral("None") : QStringLiteral("Once: ") + days.join(u' ');
    if (settings.daily || std::ranges::count(settings.days, true) == int(names.size()))
        return QStringLiteral("Every day");
    return days.isEmpty() ? QStringLiteral("None") : days.join(u' ');
}

QString state(Recording::State state)
{
    switch (state) {
    case Recording::State::Recording:
        return QStringLiteral("Recording");
    case Recording::State::WaitingToReconnect:
        return QStringLiteral("Waiting to reconnect");
    case Recording::State::Failed:
        return QStringLiteral("Last run failed");
    case Recording::State::Disabled:
        // No weekday chosen and not every day: nothing will start it.
        return QStringLiteral("Not scheduled");
    case Recording::State::Scheduled:
        break;
    }
    return QStringLiteral("Scheduled");
}

QString lastResult(const Recording &recording)
{
    // A capture shows its song and what it has saved so far.
    if (recording.isCapturing())
        return liveText(recording);
    return resultText(recording.lastResult());
}

} // namespace OverviewText
