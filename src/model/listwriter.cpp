#include "model/listwriter.h"

#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "model/recordinglist.h"

ListWriter::ListWriter(std::function<Rows()> rows, QObject *parent)
    : QObject(parent), m_rows(std::move(rows))
{
    // One thread: two writes never race for the file.
    m_pool.setMaxThreadCount(1);
}

ListWriter::~ListWriter() = default;

void ListWriter::request()
{
    m_requested = true;
    if (!m_writing)
        startWrite();
}

void ListWriter::startWrite()
{
    m_requested = false;
    m_writing = true;
    m_pool.start([this, path = RecordingList::filePath(), rows = m_rows()] {
        const QString error = write(path, rows);
        QMetaObject::invokeMethod(
            this, [this, error] { writeFinished(error); }, Qt::QueuedConnection);
    });
}

void ListWriter::writeFinished(const QString &error)
{
    m_writing = false;
    Q_EMIT written(error);
    if (m_requested)
        startWrite();
}

void ListWriter::waitForWrite()
{
    m_pool.waitForDone();
    // Delivers the write's end now, before anything is written here.
    const bool requested = std::exchange(m_requested, false);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_requested = requested;
}

QString ListWriter::writeNow()
{
    waitForWrite();
    m_requested = false;
    return write(RecordingList::filePath(), m_rows());
}

void ListWriter::flush()
{
    waitForWrite();
    if (m_requested) {
        const QString error = writeNow();
        Q_EMIT written(error);
    }
}

QString ListWriter::write(const QString &path, const Rows &rows)
{
    // An empty list is never written: it would only wipe the user's recordings.
    if (rows.empty())
        return QString();
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
