#pragma once

#include <optional>

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// How a capture went: the tracks it saved (on the disk and handed over), and,
// like a job's error() and errorText(), why it broke off or gave up, if it did.
// A capture that broke off early may be resumed at resumeAt. The overview, the
// tray, the notifications and the headless runner all read this; none reads
// the log.
struct Outcome
{
    int tracksSaved = 0;
    QString lastTitle;  // of the last track saved; "" before the first
    QString errorText;  // "" when it ran its time or was stopped
    QDateTime resumeAt; // invalid unless a resume is planned
    QDateTime endedAt;  // invalid while the capture runs
    // Why a capture that did not fail saved no track, in a few words ("the
    // station sent no audio"); "" otherwise.
    QString nothingKept;

    bool error() const { return !errorText.isEmpty(); }

    // "1 track saved", "3 tracks saved".
    static QString tracksSavedText(int count);
    // What happened in a sentence or two, for a notification or a summary line:
    // "Recording ended: 2 tracks saved", "Recording ended: no track saved — <why>",
    // or "Recording failed: <why>" with the tracks saved and the time of the
    // resume on the next line.
    QString summary() const;

    // The list file keeps a recording's last outcome as
    //   {"endedAt": "2026-12-09T11:00:00+01:00", "tracksSaved": 2,
    //    "lastTitle": "...", "error": "...", "nothingKept": "..."}
    // endedAt to the second, with its offset from UTC. A resume does not
    // outlive a restart, so resumeAt is not kept.
    QJsonObject toJson() const;
    // None unless the value is such an object with a valid endedAt and a count
    // of tracks; a missing text is empty, one of another JSON type is none.
    static std::optional<Outcome> fromJson(const QJsonValue &value);
};
