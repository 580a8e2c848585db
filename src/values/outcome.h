#pragma once

#include <QDateTime>
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

    bool error() const { return !errorText.isEmpty(); }

    // "1 track saved", "3 tracks saved".
    static QString tracksSavedText(int count);
    // What happened in a sentence or two, for a notification or a summary line:
    // "Recording ended: 2 tracks saved", or "Recording failed: <why>" with the
    // tracks saved and the time of the resume on the next line.
    QString summary() const;
};
