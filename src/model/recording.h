#pragma once

#include <memory>
#include <optional>

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include "values/outcome.h"
#include "values/recordingsettings.h"
#include "values/track.h"
#include "schedule/starttimer.h"

class Capture;

// One recording of the user's list: its settings, its log, when it starts
// next, and its live capture while one runs. Starting and ending a capture
// are explicit calls; the window and the headless runner follow the signals.
// While its capture runs it holds the process's sleep inhibitor.
class Recording : public QObject
{
    Q_OBJECT

public:
    // What the recording is doing, as the overview shows it; the first that
    // holds: capturing, waiting to resume a broken capture, its last capture
    // failed, no next start, planned.
    enum class State { Recording, WaitingToReconnect, Failed, Disabled, Scheduled };
    Q_ENUM(State)

    // What a capture left (or, while it runs, has so far).
    using Result = Outcome;

    explicit Recording(const RecordingSettings &settings = {}, QObject *parent = nullptr);
    ~Recording() override;

    // A stored recording, with the outcome of its last capture when the list
    // file kept one; it is not scheduled yet.
    static std::unique_ptr<Recording> fromJson(const QJsonObject &object);
    QJsonObject toJson() const { return m_settings.toJson(); }
    // A copy of the settings under another name, with an empty log and no outcome.
    std::unique_ptr<Recording> clone(const QString &name) const;

    const RecordingSettings &settings() const { return m_settings; }
    const QString &name() const { return m_settings.name; }
    // Takes edited settings; the log and the last outcome stay as they are.
    // A running capture follows them from now on.
    void setSettings(const RecordingSettings &settings);

    // Appends to the log. A log that grew past 16000 UTF-16 units loses its
    // first 8000 first, which keeps the window and the list file bounded.
    void log(const QString &message);
    const QString &logText() const { return m_settings.log; }

    // Plans the next start from the settings and logs it, unless the log
    // already ends with that very start; a capture that asked to be resumed
    // is resumed 15 seconds from now.
    void schedule();
    void unschedule();
    // Drops a pending resume of a broken capture and plans the next regular
    // start instead. Nothing happens when no resume is pending.
    void cancelResume();
    // Invalid when the recording is disabled or not scheduled, and while it captures.
    QDateTime nextStart() const { return m_nextStart; }

    // Starts a capture now ("Now"); the duration counts from now.
    void startCapture();
    // Ends the running capture, if any. Returns at once: the capture ends,
    // with its outcome, once its last track is on the disk and handed over.
    void stopCapture();
    // The user's Stop: ends the capture, or the wait to resume one, and logs
    // that the user stopped it.
    void stopByUser();
    // From the start of a capture until its outcome.
    bool isCapturing() const { return m_capture != nullptr; }
    // The capture still writes or syncs tracks; once it no longer does, only
    // hand-offs may keep it from its outcome.
    bool isWritingTracks() const { return m_capture && !m_captureEnded; }
    // Of the planned duration, in percent (0 to 100), by the clock: it counts
    // from the first start of a capture that was resumed.
    double progress() const;

    State state() const;
    // Of the capture under way, or of the last one, which the list file keeps:
    // none before the first capture.
    const std::optional<Result> &lastResult() const { return m_result; }
    // The song being captured; "" when none is.
    const QString &title() const { return m_title; }
    // Of the capture under way, or of the last one, resumes included.
    qint64 bytesWritten() const;
    qint64 elapsedSeconds() const;
    qint64 remainingSeconds() const;

Q_SIGNALS:
    void logAppended(const QString &message);
    void capturingChanged(bool capturing);
    void stateChanged(Recording::State state);
    void nextStartChanged(const QDateTime &nextStart);
    void settingsChanged();
    void titleChanged(const QString &title);
    void resultChanged();
    // A track is on the disk and handed over (or, without a playlist, on the disk).
    void trackSaved(const Track &track);
    // A capture came to its end; outcome is lastResult().
    void captureEnded(const Outcome &outcome);
    // Every few seconds while a capture runs: time and bytes moved on.
    void figuresChanged();
    // A "once" recording turned off today's weekday as its capture started.
    void weekdayCleared(int index);

private:
    void begin(bool fromSchedule);
    void captureFinished(bool resume);
    void handOver(const Track &track);
    void handedOver(const Track &track, const std::optional<QString> &error, const QString &note);
    void countSaved(const Track &track);
    void endWhenHandedOver();
    void setTitle(const QString &title);
    void setNextStart(const QDateTime &nextStart);
    void announceState();

    RecordingSettings m_settings;
    StartTimer m_startTimer;
    Capture *m_capture = nullptr; // a child while it runs
    QDateTime m_startDate;        // when the current or last capture started
    QDateTime m_nextStart;
    QDateTime m_endDate; // when the last capture ended
    QTimer m_ticker;     // a member, not a child: the start timer's is the child timer
    std::optional<Result> m_result;
    QString m_title;
    qint64 m_bytesEarlier = 0; // by the captures that this one resumes
    State m_state = State::Disabled;
    int m_handingOver = 0;       // tracks of the capture with the hand-off thread
    bool m_captureEnded = false; // its finished() came; hand-offs may remain
    bool m_willResume = false;
    bool m_resumePending = false;
};
