#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include "model/fielddirectory.h"
#include "model/uivaluemanager.h"
#include "platform/httptransfer.h"

class Form;
class KeyedArchiver;
class KeyedUnarchiver;
class LogView;
class ProgressBar;
class QTimer;

// One scheduled recording, and the whole state of its live capture.
//
// This is the one place that lists everything a recording owns. Its member
// functions are defined in the folder of the subsystem they belong to:
//   model/     creation, cloning, storage, editor binding, order
//   log/       the capture log and progress
//   schedule/  the next start and its timer
//   capture/   connection, demultiplexer, track files, playlist, watchdog
//   handoff/   track finalisation and the music-library hand-off
class Recording : public QObject, private HttpTransferDelegate
{
    Q_OBJECT

public:
    // ---- What the user defines (the field table's 17 rows, "days" and the log) ----
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
    qint32 startTime = 0;       // minutes after local midnight
    qint32 duration = 0;        // minutes
    qint32 shoutLang = 0;       // text-encoding number of the stream titles
    std::array<bool, 7> days{}; // Monday first
    QString logText;            // stored under the key "log"

    // ---- The live capture (never stored) ----
    bool inProgress = false;
    double percent = 0.0;
    LogView *text = nullptr;         // borrowed from the window while attached
    ProgressBar *progress = nullptr; // borrowed from the window while attached
    QTimer *timer = nullptr;         // owned: the schedule timer, or the watchdog
    HttpTransferPtr conn;
    QString filePath;
    std::unique_ptr<QFile> file;
    QDateTime startDate;
    QDateTime nextDate;  // invalid when the recording is disabled
    qint64 dataSize = 0; // audio bytes since the connection began (64-bit: streams run for days)
    qint64 lastSize = 0; // dataSize at the previous watchdog tick
    qint32 icyMark = 0;
    qint32 icyInterval = 0; // 0 unknown yet, > 0 bytes between blocks, < 0 no metadata
    qint32 icyLen = 0;
    QByteArray icyData;
    QString icyLast;
    QString genre;
    QString title;
    QString fileExt;
    bool willResume = false;
    bool madeTitle = false;

    // ---- Creation, storage, editor binding, order (model/recording.cpp) ----
    static std::unique_ptr<Recording> initWithName(const QString &name);
    static std::unique_ptr<Recording> initWithRecording(const Recording &source,
                                                        const QString &name);
    // Reads one stored recording; it schedules itself.
    static std::unique_ptr<Recording> initWithCoder(const KeyedUnarchiver &coder);
    void encodeWithCoder(KeyedArchiver &coder) const;
    void loadToUI(const Form &form) const;
    void saveFromUI(const Form &form);
    // -1, 0 or 1, by name with letter case ignored.
    int compareTo(const Recording &other) const;
    ~Recording() override;

    static const UIValueManager<Recording> &valueManager();
    static FieldDirectory<Recording> fieldDirectory();

    // ---- Capture log and progress (log/recording_log.cpp) ----
    void attachLog(LogView *view, ProgressBar *bar);
    void detach();
    void log(const QString &message);
    // printf-like with "%d" and "%@" only; every argument is shown by its text.
    template<class... Args> void fmtlog(const char *format, const Args &...args)
    {
        log(formatLogLine(format, {logArgument(args)...}));
    }
    static QString formatLogLine(const char *format, std::initializer_list<QString> arguments);
    // Receives every message any recording logs (the headless runner prints them).
    using LogListener = std::function<void(const Recording &, const QString &)>;
    static void setLogListener(LogListener listener);

    // ---- Scheduler (schedule/recording_schedule.cpp) ----
    void schedule();
    void deschedule();
    void checkTime(QTimer *sender);
    static QString stringFromDate(const QDateTime &date);

    // ---- Capture (capture/) ----
    void record(QTimer *sender);
    bool connect(const QString &stationUrl);
    void processData(const char *bytes, qint64 length);
    void processIcy(const QString &text);
    QString langString(const char *bytes, qint64 length) const;
    void changeTrack(const QString &text);
    void openFile(const QString &trackTitle);
    void checkRecord();
    void checkResume();
    void endRecord();

    // ---- Track hand-off (handoff/) ----
    void closeFile(bool incomplete);
    void addToTunes();

    // The folder all track files go to: the music folder's "Skyvane".
    static QString trackFolder();

    // What the live connection reports (capture/): a redirect about to be
    // followed, the response, each chunk of the body, its end, or a failure.
    void connectionWillSendRequest(const QString &targetUrl);
    void connectionDidReceiveResponse(const HttpResponse &response);
    void connectionDidReceiveData(QByteArrayView data);
    void connectionDidFinishLoading();
    void connectionDidFailWithError(const QString &error);

private:
    void transferWillRedirect(HttpTransfer &, const QString &target) override
    {
        connectionWillSendRequest(target);
    }
    void transferDidReceiveResponse(HttpTransfer &, const HttpResponse &response) override
    {
        connectionDidReceiveResponse(response);
    }
    void transferDidReceiveData(HttpTransfer &, QByteArrayView data) override
    {
        connectionDidReceiveData(data);
    }
    void transferDidFinish(HttpTransfer &) override { connectionDidFinishLoading(); }
    void transferDidFail(HttpTransfer &, const QString &error) override
    {
        connectionDidFailWithError(error);
    }

    Recording() = default;

    static QString logArgument(const QString &value) { return value; }
    static QString logArgument(const char *value) { return QString::fromUtf8(value); }
    template<class Integer>
    requires std::is_integral_v<Integer>
    static QString logArgument(Integer value) { return QString::number(value); }

    void armTimer(const QDateTime &fireDate);
    void decideTrack(const QString &streamTitle, bool firstTitle);
    void writeAudio(const char *bytes, qint64 length);
    void takeSniffedBody();
};
