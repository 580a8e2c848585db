#pragma once

#include <optional>
#include <vector>

#include <QObject>
#include <QString>
#include <QThreadPool>

#include "values/recordingsettings.h"

// Writes the list file, atomically and durably, off the event loop. Requests
// that come while a write is under way make one more write, of the latest
// rows requested: a thousand captures ending at once write the file a handful
// of times, not a thousand, and the latest state always reaches it.
class ListWriter : public QObject
{
    Q_OBJECT

public:
    using Rows = std::vector<RecordingSettings>;

    explicit ListWriter(QObject *parent = nullptr);
    // Waits for a write under way; what was requested after it is written only by flush().
    ~ListWriter() override;

    // Writes rows to path soon, on a worker thread.
    void request(const QString &path, Rows rows);
    // Writes rows to path now, on this thread, once any write under way is
    // done; a request not written yet is older, and dropped. Empty, or why
    // the file could not be written.
    QString writeNow(const QString &path, const Rows &rows);
    // Waits for a write under way and writes what was requested since.
    void flush();

    // Writes rows to path: a temporary file beside it, synced, then renamed
    // over it. Empty, or why not; the old file is then whole.
    static QString write(const QString &path, const Rows &rows);

Q_SIGNALS:
    // After each write of request(): error is empty when the file was written.
    void written(const QString &error);

private:
    struct Job
    {
        QString path;
        Rows rows;
    };

    void startWrite();
    void writeFinished(const QString &error);
    void waitForWrite();
    bool hasThread();

    QThreadPool m_pool;
    std::optional<Job> m_pending;
    bool m_threaded = false;
    bool m_writing = false;
};
