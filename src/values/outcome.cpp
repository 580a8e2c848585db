#include "values/outcome.h"

#include <algorithm>
#include <limits>

#include <QLocale>

namespace {

const QString endedAtKey = QStringLiteral("endedAt");
const QString tracksSavedKey = QStringLiteral("tracksSaved");
const QString lastTitleKey = QStringLiteral("lastTitle");
const QString errorKey = QStringLiteral("error");
const QString nothingKeptKey = QStringLiteral("nothingKept");

} // namespace

QString Outcome::tracksSavedText(int count)
{
    return count == 1 ? QStringLiteral("1 track saved")
                      : QStringLiteral("%1 tracks saved").arg(count);
}

QString Outcome::summary() const
{
    if (!error() && tracksSaved == 0 && !nothingKept.isEmpty())
        return QStringLiteral("Recording ended: no track saved — %1").arg(nothingKept);
    QString saved = tracksSavedText(tracksSaved);
    if (!lastTitle.isEmpty())
        saved += QStringLiteral(", the last “%1”").arg(lastTitle);
    if (!error())
        return QStringLiteral("Recording ended: %1").arg(saved);
    QString text = QStringLiteral("Recording failed: %1\n%2").arg(errorText, saved);
    if (resumeAt.isValid())
        text += QStringLiteral("; trying again at %1")
                    .arg(QLocale::system().toString(resumeAt.time(), QLocale::LongFormat));
    return text;
}

QJsonObject Outcome::toJson() const
{
    // Local time in ISO form carries no offset; the offset makes the moment plain.
    const QDateTime ended = endedAt.toOffsetFromUtc(endedAt.offsetFromUtc());
    return {{endedAtKey, ended.toString(Qt::ISODate)},
            {tracksSavedKey, tracksSaved},
            {lastTitleKey, lastTitle},
            {errorKey, errorText},
            {nothingKeptKey, nothingKept}};
}

std::optional<Outcome> Outcome::fromJson(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    Outcome outcome;
    outcome.endedAt =
        QDateTime::fromString(object.value(endedAtKey).toString(), Qt::ISODate).toLocalTime();
    const qint64 tracks = object.value(tracksSavedKey).toInteger(-1);
    const QJsonValue texts[] = {object.value(lastTitleKey), object.value(errorKey),
                                object.value(nothingKeptKey)};
    const bool textsRead = std::all_of(std::begin(texts), std::end(texts), [](const QJsonValue &v) {
        return v.isString() || v.isUndefined();
    });
    if (!outcome.endedAt.isValid() || tracks < 0 || tracks > std::numeric_limits<int>::max() ||
        !textsRead)
        return std::nullopt;
    outcome.tracksSaved = int(tracks);
    outcome.lastTitle = texts[0].toString();
    outcome.errorText = texts[1].toString();
    outcome.nothingKept = texts[2].toString();
    return outcome;
}
