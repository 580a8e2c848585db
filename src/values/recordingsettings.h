#pragma once

#include <array>
#include <optional>
#include <span>
#include <variant>

#include <QJsonObject>
#include <QString>
#include <QVariant>

#include "values/outcome.h"

using Weekdays = std::array<bool, 7>; // Monday first

// What the user defines of one recording, and its stored log. Every field is
// listed once, in fields(): that table gives the defaults, the key in the list
// file and the editor control, so nothing per field is written anywhere else.
// Beside the fields the list file keeps the outcome of the last capture.
struct RecordingSettings
{
    QString name;
    QString url;
    QString playList;
    QString customTitle;
    QString customArtist;
    QString customAlbum;
    QString customGenre;
    bool daily = false;
    bool once = false;
    qint32 recCount = 0;
    bool splitSongs = false;
    bool reconnect = false;
    bool splitTitle = false;
    bool keepPartial = false;
    // Where the tracks of a split recording go (TrackPattern); "": beside the
    // others, named after the title.
    QString fileNamePattern;
    // How far a song's start lies from its title change; negative when titles
    // come late, which moves the cut earlier.
    qint32 titleOffsetMs = 0;
    // The cut goes at the quietest point within this far either side; 0 cuts
    // where the title says.
    qint32 cutWindowMs = 0;
    qint32 startTime = 0; // minutes after local midnight
    qint32 duration = 0;  // minutes
    qint32 shoutLang = 0; // text-encoding number of the stream titles
    qint32 minFreeMB = 0; // a capture ends before free disk space falls below this
    Weekdays days{};
    QString log;
    // Under "lastOutcome": what the last capture that ended came to. Not a
    // field: nobody edits it, and it is an object of its own in the file.
    std::optional<Outcome> lastOutcome;

    // A recording's log reaches this length (UTF-16 units) at most before
    // its oldest logTrimAmount units are trimmed.
    static constexpr qsizetype logLimit = 16000;
    // startTime counts minutes within one day.
    static constexpr qint32 minutesPerDay = 24 * 60;
    static constexpr qsizetype logTrimAmount = 8000;
    // More than a growing log ever holds (under logLimit and one line, and no
    // line comes near logTrimAmount): only a file edited by hand is cut on load.
    static constexpr qsizetype logLoadLimit = logLimit + logTrimAmount;
    // The editor's limits of the cut; a file edited by hand is held to them.
    static constexpr qint32 maxTitleOffsetMs = 30000;
    static constexpr qint32 maxCutWindowMs = 10000;

    // One row of the field table.
    struct Field
    {
        using Member = std::variant<QString RecordingSettings::*, bool RecordingSettings::*,
                                    qint32 RecordingSettings::*, Weekdays RecordingSettings::*>;

        const char *key;     // the key in the list file
        const char *control; // the editor control's object name; nullptr: not edited
        Member member;
        QVariant defaultValue;

        // The value as the editor shows it: a string, bool, int, or for the
        // weekdays a QVariantList of seven bools.
        QVariant value(const RecordingSettings &settings) const;
        // Takes an edited value: strings lose inline whitespace at both ends,
        // a text given for a number is read up to its first non-digit.
        void setValue(RecordingSettings &settings, const QVariant &value) const;
        // Takes a value as it is.
        void assign(RecordingSettings &settings, const QVariant &value) const;
        // The value a JSON value stands for; none when it is of the wrong type.
        std::optional<QVariant> fromJson(const QJsonValue &value) const;
    };

    // Every field at its default.
    RecordingSettings();

    static std::span<const Field> fields();

    // A missing key, or a value of the wrong JSON type, leaves the default
    // (for "lastOutcome": none).
    static RecordingSettings fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
};
