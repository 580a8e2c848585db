#include "model/recording.h"

#include "capture/capture.h"
#include "platform/clock.h"
#include "platform/sleepinhibitor.h"
#include "schedule/nextstart.h"

namespace {

constexpr qsizetype logTrimThreshold = 16000;
constexpr qsizetype logTrimAmount = 8000;
constexpr int resumeDelaySeconds = 15;

} // namespace

Recording::Recording(const RecordingSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_startTimer(this)
{
    QObject::connect(&m_startTimer, &StartTimer::due, this, [this] { begin(true); });
}

// A capture that is still running goes with its parent; its hold on sleep goes here.
Recording::~Recording()
{
    if (m_capture)
        SleepInhibitor::instance().release();
}

std::unique_ptr<Recording> Recording::fromJson(const QJsonObject &object)
{
    return std::make_unique<Recording>(RecordingSettings::fromJson(object));
}

std::unique_ptr<Recording> Recording::clone(const QString &name) const
{
    RecordingSettings copy = m_settings;
    copy.name = name;
    copy.log.clear();
    return std::make_unique<Recording>(copy);
}

void Recording::setSettings(const RecordingSettings &settings)
{
    const QString log = m_settings.log;
    m_settings = settings;
    m_settings.log = log;
    if (m_capture)
        m_capture->setSettings(m_settings);
}

void Recording::log(const QString &message)
{
    QString &text = m_settings.log;
    // QString counts UTF-16 code units, which is the unit the limits are in.
    if (text.size() >= logTrimThreshold)
        text.remove(0, logTrimAmount);
    text.append(message);
    Q_EMIT logAppended(message);
}

void Recording::schedule()
{
    unschedule();
    const QDateTime now = Clock::now();
    if (m_settings.reconnect && m_willResume) {
        log(QStringLiteral("Will reconnect after 15 seconds\n"));
        m_nextStart = now.addSecs(resumeDelaySeconds);
    } else {
        const std::optional<QDateTime> next = NextStart::after(m_settings, now, m_startDate);
        if (!next) {
            log(QStringLiteral("The recording is disabled\n"));
            return;
        }
        m_nextStart = *next;
    }
    log(QStringLiteral("Next recording is at %1\n").arg(Clock::displayText(m_nextStart)));
    m_startTimer.start(m_nextStart);
}

void Recording::unschedule()
{
    m_startTimer.stop();
    m_nextStart = QDateTime();
}

void Recording::startCapture()
{
    begin(false);
}

void Recording::stopCapture()
{
    if (m_capture)
        m_capture->stop();
}

// A start by the schedule that resumes a capture keeps the first start date,
// so the duration still counts from it.
void Recording::begin(bool fromSchedule)
{
    if (m_capture)
        return;
    m_startTimer.stop();
    const QDateTime now = Clock::now();
    setProgress(0.0);
    log(QStringLiteral("Started recording  at %1\n").arg(Clock::displayText(now)));
    if (const QString note = SleepInhibitor::instance().hold(); !note.isEmpty())
        log(note);
    if (m_settings.once) {
        const int index = now.date().dayOfWeek() - 1;
        m_settings.days[size_t(index)] = false;
        Q_EMIT weekdayCleared(index);
    }
    if (!(m_willResume && fromSchedule))
        m_startDate = now;
    m_willResume = false;

    m_capture = new Capture(m_settings, m_startDate, this);
    QObject::connect(m_capture, &Capture::logLine, this, &Recording::log);
    QObject::connect(m_capture, &Capture::progressChanged, this, &Recording::setProgress);
    QObject::connect(m_capture, &Capture::finished, this, &Recording::captureFinished);
    Q_EMIT capturingChanged(true);
    m_capture->start();
}

void Recording::setProgress(double percent)
{
    m_progress = percent;
    Q_EMIT progressChanged(percent);
}

void Recording::captureFinished(bool resume)
{
    // The capture may be inside one of its own callbacks: it goes once they return.
    m_capture->deleteLater();
    m_capture = nullptr;
    SleepInhibitor::instance().release();
    m_willResume = resume;
    schedule();
    Q_EMIT capturingChanged(false);
    Q_EMIT captureEnded();
}
