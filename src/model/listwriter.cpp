#include "model/listwriter.h"

#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSemaphore>

#include "platform/descriptorlimit.h"

ListWriter::ListWriter(QObject *parent) : QObject(parent)
{
    hasThread();
}

// One thread, so two writes never race for the file, started now and kept:
// started when the captures have used up the descriptors, its event loop could
// not get one, and GLib would abort the process unsaved.
bool ListWriter::hasThread()
{
    if (!m_threaded)
        m_threaded = DescriptorLimit::keepThread(m_pool);
    return m_threaded;
}

ListWriter::~ListWriter() = default;

void ListWriter::request(const QString &path, Rows rows)
{
    m_pending = Job{path, std::move(rows)};
    if (!m_writing)
        startWrite();
}

void ListWriter::startWrite()
{
    m_writing = true;
    auto job = [this, pending = *std::exchange(m_pending, std::nullopt)] {
        const QString error = write(pending.path, pending.rows);
        QMetaObject::invokeMethod(
            this, [this, error] { writeFinished(error); }, Qt::QueuedConnection);
    };
    // Without a thread, which only a process short of descriptors from the
    // start lacks, the list is written here.
    if (hasThread())
        m_pool.start(std::move(job));
    else
        job();
}

void ListWriter::writeFinished(const QString &error)
{
    m_writing = false;
    Q_EMIT written(error);
    if (m_pending)
        startWrite();
}

void ListWriter::waitForWrite()
{
    if (!m_writing)
        return;
    // A task added now runs once the write under way is done;
    // QThreadPool::waitForDone() would end the thread.
    if (m_threaded) {
        QSemaphore done;
        m_pool.start([&done] { done.release(); });
        done.acquire();
    }
    // Delivers the write's end now, before anything is written here.
    std::optional<Job> pending = std::exchange(m_pending, std::nullopt);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!m_pending)
        m_pending = std::move(pending);
}

QString ListWriter::writeNow(const QString &path, const Rows &rows)
{
    waitForWrite();
    m_pending.reset();
    return write(path, rows);
}

void ListWriter::flush()
{
    waitForWrite();
    if (m_pending) {
        const Job pending = *std::exchange(m_pending, std::nullopt);
        Q_EMIT written(write(pending.path, pending.rows));
    }
}

QString ListWriter::write(const QString &path, const Rows &rows)
{
    QJsonArray array;
    for (const RecordingSettings &row : rows)
        array.append(row.toJson());
    const QByteArray bytes = QJsonDocument(array).toJson(QJsonDocument::Indented);
    QFileInfo(path).dir().mkpath(QStringLiteral("."));
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return QString();
    return file.errorString();
}
