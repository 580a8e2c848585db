#include "model/recordingcommands.h"

#include <QMetaEnum>

#include "model/overviewtext.h"
#include "model/recording.h"
#include "model/recordinglist.h"
#include "model/savecheck.h"

namespace {

using Error = RecordingCommands::Error;

Error notFound(int index)
{
    return {Error::Kind::NotFound,
            QStringLiteral("There is no recording number %1 in the list.").arg(index),
            {}};
}

QString fieldKey(SaveCheck::Problem::Field field)
{
    switch (field) {
    case SaveCheck::Problem::Field::Name:
        return QStringLiteral("name");
    case SaveCheck::Problem::Field::Station:
        return QStringLiteral("url");
    case SaveCheck::Problem::Field::Duration:
        break;
    }
    return QStringLiteral("duration");
}

} // namespace

QJsonArray RecordingCommands::describeAll(const QDateTime &now) const
{
    QJsonArray all;
    for (int i = 0; i < m_list.size(); ++i)
        all.append(describe(i, now));
    return all;
}

QJsonObject RecordingCommands::describe(int index, const QDateTime &now) const
{
    const Recording &recording = *m_list.at(index);
    // The log can hold 16000 characters a recording: it is asked for on its own.
    QJsonObject object = recording.toJson();
    object.remove(QStringLiteral("log"));
    if (!object.contains(QStringLiteral("lastOutcome")))
        object.insert(QStringLiteral("lastOutcome"), QJsonValue());
    // The state's own name: "Recording", "WaitingToReconnect", "Failed", ...
    object.insert(QStringLiteral("state"),
                  QString::fromLatin1(
                      QMetaEnum::fromType<Recording::State>().valueToKey(int(recording.state()))));
    const QDateTime next = recording.nextStart();
    object.insert(QStringLiteral("nextStart"),
                  next.isValid() ? QJsonValue(next.toString(Qt::ISODate)) : QJsonValue());
    object.insert(QStringLiteral("capturing"), recording.isCapturing());
    object.insert(QStringLiteral("progress"), recording.progress());
    object.insert(QStringLiteral("title"), recording.title());
    object.insert(
        QStringLiteral("overview"),
        QJsonObject{{QStringLiteral("nextStart"), OverviewText::nextStart(recording, now)},
                    {QStringLiteral("days"), OverviewText::days(recording.settings())},
                    {QStringLiteral("state"), OverviewText::state(recording.state())},
                    {QStringLiteral("lastResult"), OverviewText::lastResult(recording)}});
    return object;
}

RecordingCommands::Result RecordingCommands::add(const QJsonObject &fields)
{
    RecordingSettings defaults;
    defaults.name = m_list.unusedNewName();
    auto settings = edited(defaults, nullptr, fields);
    if (const Error *error = std::get_if<Error>(&settings))
        return *error;
    return planAndStore(
        m_list.append(std::make_unique<Recording>(std::get<RecordingSettings>(settings))));
}

RecordingCommands::Result RecordingCommands::update(int index, const QJsonObject &fields)
{
    Recording *recording = at(index);
    if (!recording)
        return notFound(index);
    auto settings = edited(recording->settings(), recording, fields);
    if (const Error *error = std::get_if<Error>(&settings))
        return *error;
    recording->setSettings(std::get<RecordingSettings>(settings));
    return planAndStore(recording);
}

RecordingCommands::Result RecordingCommands::clone(int index)
{
    const Recording *source = at(index);
    if (!source)
        return notFound(index);
    return planAndStore(m_list.append(source->clone(m_list.unusedCloneName(source->name()))));
}

std::optional<Error> RecordingCommands::remove(int index)
{
    if (!at(index))
        return notFound(index);
    // Out of the list first, so that its capture ending stores nothing.
    std::unique_ptr<Recording> going = m_list.takeAt(index);
    going->stopCapture();
    going->unschedule();
    going.reset();
    m_list.storeSoon();
    return std::nullopt;
}

std::variant<QString, Error> RecordingCommands::log(int index) const
{
    if (const Recording *recording = at(index))
        return recording->logText();
    return notFound(index);
}

std::optional<Error> RecordingCommands::startNow(int index)
{
    Recording *recording = at(index);
    if (!recording)
        return notFound(index);
    if (recording->isCapturing())
        return Error{Error::Kind::Busy,
                     QStringLiteral("\u201c%1\u201d is recording already.").arg(recording->name()),
                     {}};
    recording->startCapture();
    return std::nullopt;
}

std::optional<Error> RecordingCommands::stop(int index)
{
    Recording *recording = at(index);
    if (!recording)
        return notFound(index);
    recording->stopByUser();
    return std::nullopt;
}

std::optional<int> RecordingCommands::indexOf(const QString &name) const
{
    for (int i = 0; i < m_list.size(); ++i) {
        if (m_list.at(i)->name().compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return std::nullopt;
}

Recording *RecordingCommands::at(int index) const
{
    return index >= 0 && index < m_list.size() ? m_list.at(index) : nullptr;
}

// Only what the editor edits is taken; the rest of what the list describes
// (state, log, outcome) is read-only and passed over, so that a described
// recording may come back whole.
std::variant<RecordingSettings, Error> RecordingCommands::edited(RecordingSettings settings,
                                                                 const Recording *current,
                                                                 const QJsonObject &fields) const
{
    for (const RecordingSettings::Field &field : RecordingSettings::fields()) {
        const QString key = QLatin1String(field.key);
        if (!field.control || !fields.contains(key))
            continue;
        const std::optional<QVariant> value = field.fromJson(fields.value(key));
        if (!value)
            return Error{
                Error::Kind::Invalid,
                QStringLiteral("The value of \u201c%1\u201d is of the wrong kind.").arg(key), key};
        field.setValue(settings, *value);
    }
    // Held to the editor's limits, as a list file edited by hand is.
    settings = RecordingSettings::fromJson(settings.toJson());
    if (const auto problem = SaveCheck::problem(m_list, current, settings))
        return Error{Error::Kind::Refused, problem->message, fieldKey(problem->field)};
    return settings;
}

// As a Save: a running capture plans its next start itself when it ends.
int RecordingCommands::planAndStore(Recording *recording)
{
    if (!recording->isCapturing())
        recording->schedule();
    m_list.storeSoon();
    return m_list.indexOf(recording);
}
