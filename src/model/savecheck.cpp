#include "model/savecheck.h"

#include <QUrl>

#include "model/recording.h"
#include "model/recordinglist.h"
#include "platform/stationurl.h"

namespace SaveCheck {

std::optional<Problem> problem(const RecordingList &list, const Recording *current,
                               const RecordingSettings &edited)
{
    const QString &name = edited.name;
    const bool renamed = !current || name.compare(current->name(), Qt::CaseInsensitive) != 0;
    if (renamed && list.contains(name))
        return Problem{
            Problem::Field::Name,
            QStringLiteral("Another recording is already named \u201c%1\u201d.").arg(name)};
    const QString example = QStringLiteral("such as http://example.com:8000/stream");
    // "http://" alone is what a new recording starts with: nothing typed yet.
    const QString &station = edited.url;
    if (station.isEmpty() || QUrl(station).host().isEmpty())
        return Problem{Problem::Field::Station,
                       QStringLiteral("Enter the station's web address, %1.").arg(example)};
    if (const std::optional<QString> problem = StationUrl::problem(station))
        return Problem{Problem::Field::Station,
                       QStringLiteral("This is not a station's address: %1. Enter a web "
                                      "address, %2.")
                           .arg(*problem, example)};
    if (edited.duration <= 0)
        return Problem{Problem::Field::Duration,
                       QStringLiteral("Choose how long to record: the duration is zero.")};
    return std::nullopt;
}

} // namespace SaveCheck
