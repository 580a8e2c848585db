#pragma once

#include <functional>
#include <vector>

#include <QObject>
#include <QString>
#include <QThreadPool>

#include "values/recordingsettings.h"

// Writes the list file, atomically and durably, off the event loop. Requests
// that come while a write is under way make one more write, of the state at
// its start: a thousand captures ending at once write the file a handful of
// times, not a thousand, and the latest state always reaches it.
class ListWriter : public QObject
{
    Q_OBJECT

public:
    using Rows = std::vector<RecordingSettings>;

    // rows() gives the state to write; it is asked on this object's thread.
    explicit ListWriter(std::function<Rows()> rows, QObject *parent = nullptr);
    // Waits for a write under way; what was requested after it is written by flush().
    ~ListWriter() override;

    // Writes the rows soon, on a worker thread.
    void request();
    // Writes the rows now, on this thread, once any write under way is done.
    // Empty, or why the file could not be written.
    QString writeNow();
    // Waits for a write under way and writes what was requested since.
    void flush();

    // Writes rows to path: a temporary file beside it, synced, then renamed
    // over it. Empty, or why not; the old file is then whole.
    static QString write(const QString &path, const Rows &rows);

Q_SIGNALS:
    // After each write of request(): error is empty when the file was written.
    void written(const QString &error);

private:
    void startWrite();
    void writeFinished(const QString &error);
    void waitForWrite();
    bool hasThread();

    std::function<Rows()> m_rows;
    QThreadPool m_pool;
    bool m_threaded = false;
    bool m_writing = false;
    bool m_requested = false;
};
