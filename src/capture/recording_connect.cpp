#include "model/recording.h"

#include <QTimer>

#include "log/logsinks.h"
#include "model/recorderhost.h"
#include "platform/clock.h"
#include "platform/textscan.h"

namespace {

constexpr int watchdogPeriodMs = 60 * 1000;
constexpr int requestIdleTimeoutSeconds = 300;

HttpTransfer::Request stationRequest(const QString &url)
{
    HttpTransfer::Request request;
    request.url = url;
    request.headerFields = {
        {"icy-metadata", "1"},
        {"Cache-Control", "no-cache"},
        {"User-Agent", "iTunes/4.6 (Macintosh; N; PPC)"},
    };
    request.idleTimeoutSeconds = requestIdleTimeoutSeconds;
    return request;
}

QString headerListing(const HttpResponse &response)
{
    QStringList fields;
    for (const auto &[fieldName, value] : response.headerFields)
        fields.append(fieldName + QStringLiteral(": ") + value);
    return fields.join(QStringLiteral("; "));
}

// The extension players and taggers will judge the file by.
QString extensionForMimeType(const QString &mimeType, bool *isOgg)
{
    *isOgg = mimeType.contains(QStringLiteral("/ogg"), Qt::CaseInsensitive);
    if (*isOgg)
        return QStringLiteral(".ogg");
    static const QStringList aacTypes = {QStringLiteral("audio/aac"), QStringLiteral("audio/aacp"),
                                         QStringLiteral("audio/x-aac")};
    for (const QString &type : aacTypes) {
        if (mimeType.compare(type, Qt::CaseInsensitive) == 0)
            return QStringLiteral(".aac");
    }
    return QStringLiteral(".mp3");
}

} // namespace

void Recording::record(QTimer *sender)
{
    deschedule();
    const QDateTime now = Clock::now();
    if (progress)
        progress->setDoubleValue(0.0);
    fmtlog("Started recording  at %@\n", stringFromDate(now));
    if (once) {
        const int index = now.date().dayOfWeek() - 1;
        days[size_t(index)] = false;
        if (recorder)
            recorder->clearDay(index);
    }
    // A resume started by the schedule timer continues the capture it belongs to,
    // so the duration still counts from the first start.
    if (!(willResume && sender))
        startDate = now;
    percent = 0.0;
    willResume = false;
    inProgress = true;

    Q_ASSERT_X(timer == nullptr, "Recording::record", "timer == nil");
    timer = new QTimer(this);
    // A tick that came early would count one minute too few.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(watchdogPeriodMs);
    QObject::connect(timer, &QTimer::timeout, this, [this] { checkRecord(); });
    timer->start();

    if (recorder)
        recorder->enableButtons();
    connect(url);
}

bool Recording::connect(const QString &stationUrl)
{
    fmtlog("Connecting to %@\n", stationUrl);
    conn.reset();
    conn = HttpTransfer::start(stationRequest(stationUrl), this);
    if (!conn) {
        log(QStringLiteral("Can not open connection to the station. Recording failed\n"));
        checkResume();
        endRecord();
        return false;
    }
    icyMark = 0;
    icyInterval = 0;
    icyLen = 0;
    icyData.clear();
    dataSize = 0;
    genre.clear();
    icyLast.clear();
    title.clear();
    lastSize = 0;
    return true;
}

void Recording::connectionWillSendRequest(const QString &target)
{
    fmtlog("Connection is redirected to %@\n", target);
}

void Recording::connectionDidReceiveResponse(const HttpResponse &response)
{
    log(QStringLiteral("Getting a response\n"));
    if (response.isHttp) {
        fmtlog("HTTP Headers: %@\n", headerListing(response));
        for (const auto &[fieldName, value] : response.headerFields) {
            if (fieldName.compare(QStringLiteral("icy-metaint"), Qt::CaseInsensitive) == 0) {
                icyInterval = TextScan::metaInterval(value);
            } else if (fieldName.compare(QStringLiteral("icy-genre"), Qt::CaseInsensitive) == 0) {
                genre = value;
            }
        }
        if (icyInterval > 0) {
            fmtlog("Shoutcast/icecast metadata interval is %d\n", icyInterval);
            icyData.clear();
        }
        if (!genre.isEmpty())
            fmtlog("Shoutcast genre is %@\n", genre);
    }
    bool isOgg = false;
    fileExt = extensionForMimeType(response.mimeType, &isOgg);
    if (isOgg)
        log(QStringLiteral("Detected ogg audio\n"));
}

void Recording::connectionDidFailWithError(const QString &error)
{
    fmtlog("Connection failed with error: %@\n", error);
    checkResume();
    endRecord();
}
