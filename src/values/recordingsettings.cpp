#include "values/recordingsettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QJsonArray>

#include "platform/textencodings.h"
#include "platform/textscan.h"

namespace {

const QString lastOutcomeKey = QStringLiteral("lastOutcome");

using S = RecordingSettings;
using Field = RecordingSettings::Field;

const Field table[] = {
    {"name", "nameField", &S::name, QString()},
    {"url", "stationField", &S::url, QStringLiteral("http://")},
    {"playList", "playlistField", &S::playList, QStringLiteral("My Skyvane Recordings")},
    {"customTitle", "titleField", &S::customTitle, QString()},
    {"customArtist", "artistField", &S::customArtist, QStringLiteral("Skyvane")},
    {"customAlbum", "albumField", &S::customAlbum, QString()},
    {"customGenre", "genreChoice", &S::customGenre, QStringLiteral("Skyvane")},
    {"daily", "dailyButton", &S::daily, false},
    {"once", "onceButton", &S::once, false},
    {"recCount", "recCount", &S::recCount, 1000},
    {"splitSongs", "splitButton", &S::splitSongs, false},
    {"reconnect", "reconnectButton", &S::reconnect, false},
    {"splitTitle", "splitTitle", &S::splitTitle, true},
    {"keepPartial", "keepPartial", &S::keepPartial, false},
    {"fileNamePattern", "fileNamePattern", &S::fileNamePattern, QString()},
    {"titleOffsetMs", "titleOffset", &S::titleOffsetMs, 0},
    {"cutWindowMs", "cutWindow", &S::cutWindowMs, 3000},
    {"startTime", "startTime", &S::startTime, 600},
    {"duration", "duration", &S::duration, 60},
    {"shoutLang", "shoutLang", &S::shoutLang, qint32(TextEncodings::utf8)},
    {"days", "days", &S::days, QVariantList(7, false)},
    {"minFreeMB", nullptr, &S::minFreeMB, 500},
    {"log", nullptr, &S::log, QString()},
};

std::optional<qint32> integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::trunc(number) || number < std::numeric_limits<qint32>::min() ||
        number > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(number);
}

QVariantList listOf(const Weekdays &days)
{
    QVariantList list;
    for (const bool day : days)
        list.append(day);
    return list;
}

// At most seven entries are read; a missing one is off.
Weekdays weekdaysOf(const QVariantList &list)
{
    Weekdays days{};
    for (qsizetype i = 0; i < list.size() && i < qsizetype(days.size()); ++i)
        days[size_t(i)] = list.at(i).toBool();
    return days;
}

std::optional<QVariant> fromJsonValue(const Field::Member &member, const QJsonValue &value)
{
    if (std::holds_alternative<QString S::*>(member))
        return value.isString() ? std::optional<QVariant>(value.toString()) : std::nullopt;
    if (std::holds_alternative<bool S::*>(member))
        return value.isBool() ? std::optional<QVariant>(value.toBool()) : std::nullopt;
    if (std::holds_alternative<qint32 S::*>(member)) {
        const std::optional<qint32> number = integerOf(value);
        return number ? std::optional<QVariant>(*number) : std::nullopt;
    }
    if (!value.isArray())
        return std::nullopt;
    QVariantList days;
    for (const QJsonValue entry : value.toArray())
        days.append(integerOf(entry).value_or(0) != 0);
    return days;
}

QJsonValue toJsonValue(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantList)
        return QJsonValue::fromVariant(value);
    QJsonArray days;
    for (const QVariant &day : value.toList())
        days.append(day.toBool() ? 1 : 0);
    return days;
}

} // namespace

QVariant Field::value(const RecordingSettings &settings) const
{
    return std::visit(
        [&](auto m) -> QVariant {
            if constexpr (std::is_same_v<decltype(m), Weekdays S::*>)
                return listOf(settings.*m);
            else
                return settings.*m;
        },
        member);
}

void Field::assign(RecordingSettings &settings, const QVariant &value) const
{
    std::visit(
        [&](auto m) {
            using Pointer = decltype(m);
            if constexpr (std::is_same_v<Pointer, QString S::*>)
                settings.*m = value.toString();
            else if constexpr (std::is_same_v<Pointer, bool S::*>)
                settings.*m = value.toBool();
            else if constexpr (std::is_same_v<Pointer, qint32 S::*>)
                settings.*m = value.toInt();
            else
                settings.*m = weekdaysOf(value.toList());
        },
        member);
}

std::optional<QVariant> Field::fromJson(const QJsonValue &value) const
{
    return fromJsonValue(member, value);
}

void Field::setValue(RecordingSettings &settings, const QVariant &value) const
{
    if (value.typeId() != QMetaType::QString)
        return assign(settings, value);
    if (std::holds_alternative<qint32 S::*>(member))
        return assign(settings, TextScan::leadingInt(value.toString()));
    assign(settings, TextScan::trimInlineWhitespace(value.toString()));
}

RecordingSettings::RecordingSettings()
{
    for (const Field &field : table)
        field.assign(*this, field.defaultValue);
}

std::span<const Field> RecordingSettings::fields()
{
    return table;
}

RecordingSettings RecordingSettings::fromJson(const QJsonObject &object)
{
    RecordingSettings settings;
    for (const Field &field : table) {
        const auto value = field.fromJson(object.value(QLatin1String(field.key)));
        if (value)
            field.assign(settings, *value);
    }
    // A start time outside one day (a file edited by hand) is that time of day.
    settings.startTime = ((settings.startTime % minutesPerDay) + minutesPerDay) % minutesPerDay;
    // The cut's figures within the editor's limits.
    settings.titleOffsetMs =
        std::clamp(settings.titleOffsetMs, -maxTitleOffsetMs, maxTitleOffsetMs);
    settings.cutWindowMs = std::clamp(settings.cutWindowMs, 0, maxCutWindowMs);
    // A log grown past what a recording keeps (a file edited by hand) keeps its end.
    if (settings.log.size() > logLoadLimit)
        settings.log = settings.log.right(logLoadLimit);
    settings.lastOutcome = Outcome::fromJson(object.value(lastOutcomeKey));
    return settings;
}

QJsonObject RecordingSettings::toJson() const
{
    QJsonObject object;
    for (const Field &field : table)
        object.insert(QLatin1String(field.key), toJsonValue(field.value(*this)));
    if (lastOutcome)
        object.insert(lastOutcomeKey, lastOutcome->toJson());
    return object;
}
