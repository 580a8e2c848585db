#include "model/recording.h"

#include "log/logsinks.h"
#include "model/recorderhost.h"
#include "platform/clock.h"

namespace {

constexpr qint32 resumeThresholdMinutes = 15;

// Whole minutes since the capture first started, truncated.
qint32 elapsedMinutes(const QDateTime &startDate)
{
    return qint32(startDate.msecsTo(Clock::now()) / (60 * 1000));
}

} // namespace

void Recording::checkRecord()
{
    const qint32 minutes = elapsedMinutes(startDate);
    fmtlog("Data size is %d at %d minutes\n", dataSize, minutes);
    if (dataSize == lastSize) {
        log(QStringLiteral("Connection stalled, ending recording\n"));
        checkResume();
        endRecord();
        return;
    }
    lastSize = dataSize;
    if (progress) {
        // A zero duration ends at the first tick; show it as complete.
        percent = duration > 0 ? minutes * 100.0 / duration : 100.0;
        progress->setDoubleValue(percent);
    }
    if (minutes >= duration) {
        fmtlog("Recording complete (%d minutes), closing connection\n", duration);
        endRecord();
    }
}

void Recording::checkResume()
{
    if (!reconnect)
        return;
    if (duration - elapsedMinutes(startDate) > resumeThresholdMinutes)
        willResume = true;
}

void Recording::endRecord()
{
    if (!conn && !inProgress)
        return;
    conn.reset();
    deschedule();
    inProgress = false;
    // A song cut off by the end is incomplete; a file with a made title is whole.
    closeFile(!madeTitle);
    fmtlog("Recording ended at %@\n", stringFromDate(Clock::now()));
    schedule();
    if (recorder) {
        recorder->enableButtons();
        recorder->storeRecList();
    }
}
