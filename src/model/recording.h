#pragma once

#include <memory>

#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include "model/recordingsettings.h"
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
    explicit Recording(const RecordingSettings &settings = {}, QObject *parent = nullptr);
    ~Recording() override;

    // A stored recording; it is not scheduled yet.
    static std::unique_ptr<Recording> fromJson(const QJsonObject &object);
    QJsonObject toJson() const { return m_settings.toJson(); }
    // A copy of the settings under another name, with an empty log.
    std::unique_ptr<Recording> clone(const QString &name) const;

    const RecordingSettings &settings() const { return m_settings; }
    const QString &name() const { return m_settings.name; }
    // Takes edited settings; the log stays as it is. A running capture
    // follows them from now on.
    void setSettings(const RecordingSettings &settings);

    // Appends to the log. A log that grew past 16000 UTF-16 units loses its
    // first 8000 first, which keeps the window and the list file bounded.
    void log(const QString &message);
    const QString &logText() const { return m_settings.log; }

    // Plans the next start from the settings and logs it; a capture that
    // asked to be resumed is resumed 15 seconds from now.
    void schedule();
    void unschedule();
    // Invalid when the recording is disabled.
    QDateTime nextStart() const { return m_nextStart; }

    // Starts a capture now ("Now"); the duration counts from now.
    void startCapture();
    // Ends the running capture, if any.
    void stopCapture();
    bool isCapturing() const { return m_capture != nullptr; }
    double progress() const { return m_progress; }

Q_SIGNALS:
    void logAppended(const QString &message);
    void progressChanged(double percent);
    void capturingChanged(bool capturing);
    // A "once" recording turned off today's weekday as its capture started.
    void weekdayCleared(int index);
    // A capture ended: the list should be stored.
    void captureEnded();

private:
    void begin(bool fromSchedule);
    void setProgress(double percent);
    void captureFinished(bool resume);

    RecordingSettings m_settings;
    StartTimer m_startTimer;
    Capture *m_capture = nullptr; // a child while it runs
    QDateTime m_startDate;        // when the current or last capture started
    QDateTime m_nextStart;
    double m_progress = 0.0;
    bool m_willResume = false;
};
