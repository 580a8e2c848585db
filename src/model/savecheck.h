#pragma once

#include <optional>

#include <QString>

#include "values/recordingsettings.h"

class Recording;
class RecordingList;

// What keeps edited settings from being saved into the list: the one rule
// for the window's editor, the web page and the command line alike.
namespace SaveCheck {

struct Problem
{
    enum class Field { Name, Station, Duration };

    Field field;
    QString message; // one sentence, for a person
};

// `current` is the row the settings replace; none for a row to be added.
std::optional<Problem> problem(const RecordingList &list, const Recording *current,
                               const RecordingSettings &edited);

} // namespace SaveCheck
