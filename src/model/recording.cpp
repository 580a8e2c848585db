#include "model/recording.h"

#include <algorithm>

#include "capture/capture.h"
#include "handoff/handoffqueue.h"
#include "platform/clock.h"
#include "platform/sleepinhibitor.h"
#include "schedule/nextstart.h"

namespace {

constexpr int resumeDelaySeconds = 15;
// The live figures move this often; the watchdog's minute is too coarse to watch.
constexpr int tickMs = 2000;

} // namespace

Recording::Recording(const RecordingSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings), m_startTimer(this), m_result(settings.lastOutcome)
{
    m_state = state();
    QObject::connect(&m_startTimer, &StartTimer::due, this, [this] { begin(true); });
    m_ticker.setInterval(tickMs);
    QObject::connect(&m_ticker, &QTimer::timeout, this, &Recording::figuresChanged);
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
    copy.lastOutcome.reset();
    return std::make_unique<Recording>(copy);
}

void Recording::setSettings(const RecordingSettings &settings)
{
    const QString log = m_settings.log;
    const std::optional<Outcome> lastOutcome = m_settings.lastOutcome;
    m_settings = settings;
    m_settings.log = log;
    m_settings.lastOutcome = lastOutcome;
    if (m_capture)
        m_capture->setSettings(m_settings);
    Q_EMIT settingsChanged();
}

void Recording::log(const QString &message)
{
    QString &text = m_settings.log;
    // QString counts UTF-16 code units, which is the unit the limits are in.
    if (text.size() >= RecordingSettings::logLimit)
        text.remove(0, RecordingSettings::logTrimAmount);
    text.append(message);
    Q_EMIT logAppended(message);
}

void Recording::schedule()
{
    unschedule();
    const QDateTime now = Clock::now();
    QDateTime next;
    if (m_settings.reconnect && m_willResume) {
        log(QStringLiteral("Will reconnect after %1 seconds\n").arg(resumeDelaySeconds));
        next = now.addSecs(resumeDelaySeconds);
        m_resumePending = true;
        if (m_result)
            m_result->resumeAt = next;
    } else if (const std::optional<QDateTime> regular =
                   NextStart::after(m_settings, now, m_startDate)) {
        next = *regular;
    } else {
        log(QStringLiteral("The recording is disabled\n"));
        announceState();
        return;
    }
    // Every start of the program plans again, mostly the same start: the log,
    // which outlives the program, tells it once.
    const QString planned =
        QStringLiteral("Next recording is at %1\n").arg(Clock::displayText(next));
    if (!m_settings.log.endsWith(planned))
        log(planned);
    setNextStart(next);
    m_startTimer.start(m_nextStart);
    announceState();
}

void Recording::unschedule()
{
    m_startTimer.stop();
    m_resumePending = false;
    setNextStart(QDateTime());
    announceState();
}

void Recording::cancelResume()
{
    if (!m_resumePending)
        return;
    m_willResume = false;
    schedule();
}

Recording::State Recording::state() const
{
    if (m_capture)
        return State::Recording;
    if (m_resumePending)
        return State::WaitingToReconnect;
    if (m_result && m_result->error())
        return State::Failed;
    return m_nextStart.isValid() ? State::Scheduled : State::Disabled;
}

void Recording::announceState()
{
    if (state() == m_state)
        return;
    m_state = state();
    Q_EMIT stateChanged(m_state);
}

void Recording::setNextStart(const QDateTime &nextStart)
{
    if (nextStart == m_nextStart)
        return;
    m_nextStart = nextStart;
    Q_EMIT nextStartChanged(m_nextStart);
}

qint64 Recording::bytesWritten() const
{
    return m_bytesEarlier + (m_capture ? m_capture->bytesWritten() : 0);
}

qint64 Recording::elapsedSeconds() const
{
    if (!m_startDate.isValid())
        return 0;
    return std::max<qint64>(0, m_startDate.secsTo(m_capture ? Clock::now() : m_endDate));
}

qint64 Recording::remainingSeconds() const
{
    return std::max<qint64>(0, qint64(m_settings.duration) * 60 - elapsedSeconds());
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

void Recording::stopByUser()
{
    if (m_capture || m_resumePending)
        log(QStringLiteral("Stopped by user\n"));
    stopCapture();
    cancelResume();
}

// A start by the schedule that resumes a capture keeps the first start date,
// so the duration still counts from it.
void Recording::begin(bool fromSchedule)
{
    if (m_capture)
        return;
    m_startTimer.stop();
    m_resumePending = false;
    setNextStart(QDateTime());
    const QDateTime now = Clock::now();
    log(QStringLiteral("Started recording at %1\n").arg(Clock::displayText(now)));
    SleepInhibitor::instance().acquire(this, [this](const QString &note) { log(note); });
    if (m_settings.once) {
        const int index = now.date().dayOfWeek() - 1;
        m_settings.days[size_t(index)] = false;
        Q_EMIT weekdayCleared(index);
    }
    // A resumed capture goes on with the figures of the one it resumes.
    if (!(m_willResume && fromSchedule) || !m_result) {
        m_startDate = now;
        m_bytesEarlier = 0;
        m_result = Result{};
    }
    m_result->errorText.clear();
    m_result->resumeAt = {};
    m_result->endedAt = {};
    m_result->nothingKept.clear();
    m_willResume = false;
    m_captureEnded = false;

    m_capture = new Capture(m_settings, m_startDate, this);
    QObject::connect(m_capture, &Capture::logLine, this, &Recording::log);
    QObject::connect(m_capture, &Capture::finished, this, &Recording::captureFinished);
    QObject::connect(m_capture, &Capture::titleChanged, this, &Recording::setTitle);
    QObject::connect(m_capture, &Capture::trackSaved, this, &Recording::handOver);
    m_ticker.start();
    Q_EMIT capturingChanged(true);
    announceState();
    Q_EMIT resultChanged();
    m_capture->start();
}

void Recording::setTitle(const QString &title)
{
    if (title == m_title)
        return;
    m_title = title;
    Q_EMIT titleChanged(m_title);
}

// The script runs on the hand-off thread; the capture goes on meanwhile.
void Recording::handOver(const Track &track)
{
    if (m_settings.playList.isEmpty()) {
        countSaved(track);
        return;
    }
    ++m_handingOver;
    HandoffQueue::shared().add(
        m_settings, track, this,
        [this, track](const std::optional<QString> &error, const QString &note) {
            --m_handingOver;
            handedOver(track, error, note);
            endWhenHandedOver();
        });
}

void Recording::handedOver(const Track &track, const std::optional<QString> &error,
                           const QString &note)
{
    if (error) {
        log(QStringLiteral("Error adding to playlist: %1\n").arg(*error));
        // During a capture the failure ends it; at its end the log line is enough.
        if (m_capture)
            m_capture->failWithFileError(
                QStringLiteral("Error adding the track to the music library"));
    } else {
        log(QStringLiteral("Added track to playlist %1\n").arg(m_settings.playList));
        if (!note.isEmpty())
            log(note + u'\n');
    }
    // The file is in the music folder either way.
    countSaved(track);
}

void Recording::countSaved(const Track &track)
{
    ++m_result->tracksSaved;
    m_result->lastTitle = track.title;
    Q_EMIT trackSaved(track);
    Q_EMIT resultChanged();
}

double Recording::progress() const
{
    const qint64 planned = qint64(m_settings.duration) * 60;
    // A zero duration ends at the first tick: complete from the start.
    const double percent = planned > 0 ? elapsedSeconds() * 100.0 / planned : 100.0;
    return std::clamp(percent, 0.0, 100.0);
}

void Recording::captureFinished(bool resume)
{
    m_captureEnded = true;
    m_willResume = resume;
    m_result->errorText = m_capture->failure();
    endWhenHandedOver();
}

// A capture has its outcome once its last track is on the disk and handed over.
void Recording::endWhenHandedOver()
{
    if (!m_capture || !m_captureEnded || m_handingOver > 0)
        return;
    if (m_result->tracksSaved == 0 && !m_result->error())
        m_result->nothingKept = m_capture->nothingKept();
    // The capture may be inside one of its own callbacks: it goes once they return.
    m_capture->deleteLater();
    m_bytesEarlier += m_capture->bytesWritten();
    m_capture = nullptr;
    m_endDate = Clock::now();
    m_result->endedAt = m_endDate;
    m_settings.lastOutcome = *m_result;
    log(QStringLiteral("Recording ended at %1\n").arg(Clock::displayText(m_endDate)));
    m_ticker.stop();
    SleepInhibitor::instance().release();
    setTitle(QString());
    schedule();
    Q_EMIT capturingChanged(false);
    Q_EMIT resultChanged();
    Q_EMIT figuresChanged();
    Q_EMIT captureEnded(*m_result);
}
