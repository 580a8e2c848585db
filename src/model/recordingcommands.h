#pragma once

#include <optional>
#include <variant>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "values/recordingsettings.h"

class Recording;
class RecordingList;

// The changes that the web page and the command line make to the list, each
// checked and stored as the window's editor does: what the editor's Save
// refuses, they refuse with the same sentence. Recordings are named by their
// place in the list.
class RecordingCommands
{
public:
    struct Error
    {
        enum class Kind {
            NotFound, // no recording at that place, or of that name
            Invalid,  // a value of the wrong type
            Refused,  // what the editor's Save refuses
            Busy      // not while the recording captures (or while it does not)
        };

        Kind kind;
        QString message; // one sentence, for a person
        QString field;   // the field to mend, when there is one
    };
    // The recording's place in the list after the change.
    using Result = std::variant<int, Error>;

    explicit RecordingCommands(RecordingList &list) : m_list(list) {}

    // Every recording: its stored fields but the log, and what the overview
    // shows of it.
    QJsonArray describeAll(const QDateTime &now) const;
    QJsonObject describe(int index, const QDateTime &now) const;

    // A new recording from the defaults and the fields given, planned and stored.
    Result add(const QJsonObject &fields);
    // The fields given replace the recording's own, as a Save does.
    Result update(int index, const QJsonObject &fields);
    // A copy under the next free name, planned and stored.
    Result clone(int index);
    // Out of the list, its capture ended; its tracks stay.
    std::optional<Error> remove(int index);
    std::variant<QString, Error> log(int index) const;
    std::optional<Error> startNow(int index);
    std::optional<Error> stop(int index);

    // The place of the recording of that name, in any case; none when no
    // recording has it.
    std::optional<int> indexOf(const QString &name) const;

private:
    Recording *at(int index) const;
    // The settings with the fields given, as a Save would take them; or why not.
    std::variant<RecordingSettings, Error>
    edited(RecordingSettings settings, const Recording *current, const QJsonObject &fields) const;
    int planAndStore(Recording *recording);

    RecordingList &m_list;
};
