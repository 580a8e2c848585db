#include "model/recordinglist.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>

#include "handoff/handoffqueue.h"

namespace {
// How often quitting looks whether the captures' last tracks are on the disk.
constexpr int syncPollMs = 20;

void reportOnStandardError(const QString &title, const QString &text)
{
    std::fprintf(stderr, "skyvane: %s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
}
} // namespace

RecordingList::RecordingList(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_writer, &ListWriter::written, this, &RecordingList::storeFinished);
}

// Rows going may end captures: none of that reaches the list any more.
RecordingList::~RecordingList()
{
    for (const auto &row : m_rows)
        row->disconnect(this);
}

void RecordingList::report(const QString &title, const QString &text)
{
    reportOnStandardError(title, text);
    Q_EMIT problem(title, text);
}

QString RecordingList::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Skyvane.reclist");
}

void RecordingList::load()
{
    Q_EMIT aboutToReset();
    const auto announce = qScopeGuard([this] { Q_EMIT reset(); });
    for (const auto &row : m_rows)
        row->disconnect(this);
    m_rows.clear();
    m_indexes.clear();
    m_emptiedByUser = false;
    const QString path = filePath();
    QFile file(path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        keepAsideUnreadable(path, file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    // A stray byte that is not UTF-8 costs one character, not the whole list.
    if (error.error == QJsonParseError::IllegalUTF8String) {
        document = QJsonDocument::fromJson(QString::fromUtf8(bytes).toUtf8(), &error);
        if (error.error == QJsonParseError::NoError)
            keepOriginalOfRepaired(path, bytes);
    }
    if (error.error != QJsonParseError::NoError) {
        keepAsideUnreadable(path, error.errorString());
        return;
    }
    if (!document.isArray()) {
        keepAsideUnreadable(path, QStringLiteral("the file does not hold a list"));
        return;
    }
    for (const QJsonValue &row : document.array()) {
        // A row that is not an object has nothing to give; the others still load.
        if (row.isObject())
            adopt(Recording::fromJson(row.toObject()));
    }
}

namespace {
QString asideName(const QString &path, int n)
{
    return n == 1 ? path + QStringLiteral(".corrupt") : path + QStringLiteral(".corrupt%1").arg(n);
}

// ".corrupt", or ".corrupt2", ... beside the list file: never over an older one.
QString unusedAsideName(const QString &path)
{
    int n = 1;
    while (QFileInfo::exists(asideName(path, n)))
        ++n;
    return asideName(path, n);
}

// The copy kept aside earlier that holds these very bytes, if any.
std::optional<QString> asideCopyOf(const QString &path, const QByteArray &bytes)
{
    for (int n = 1; QFileInfo::exists(asideName(path, n)); ++n) {
        QFile copy(asideName(path, n));
        if (copy.size() == bytes.size() && copy.open(QIODevice::ReadOnly) &&
            copy.readAll() == bytes)
            return copy.fileName();
    }
    return std::nullopt;
}
} // namespace

void RecordingList::keepOriginalOfRepaired(const QString &path, const QByteArray &original)
{
    // A repaired list with no rows is never stored, so the same original comes
    // back at every start: one copy of it is enough.
    const std::optional<QString> earlier = asideCopyOf(path, original);
    const QString aside = earlier.value_or(unusedAsideName(path));
    const bool kept = earlier || QFile::copy(path, aside);
    report(QStringLiteral("The recording list held text that is not UTF-8"),
           QStringLiteral("Each byte of %1 that is not UTF-8 was replaced by a placeholder "
                          "character; the rest loads as it was. %2")
               .arg(path, kept ? QStringLiteral("The original file was kept as %1.").arg(aside)
                               : QStringLiteral("The original could not be kept aside.")));
}

void RecordingList::keepAsideUnreadable(const QString &path, const QString &why)
{
    const QString aside = unusedAsideName(path);
    if (QFile::rename(path, aside)) {
        report(QStringLiteral("The recording list could not be read"),
               QStringLiteral("%1 (%2) was moved to %3. Skyvane starts with a new list.")
                   .arg(path, why, aside));
    } else {
        report(QStringLiteral("The recording list could not be read"),
               QStringLiteral("%1 (%2) could not be moved aside either.").arg(path, why));
    }
}

bool RecordingList::store()
{
    if (!mayStore())
        return false;
    const QString error = m_writer.writeNow(filePath(), snapshot());
    storeFinished(error);
    return error.isEmpty();
}

void RecordingList::storeSoon()
{
    if (mayStore())
        m_writer.request(filePath(), snapshot());
}

void RecordingList::flushStores()
{
    m_writer.flush();
}

ListWriter::Rows RecordingList::snapshot() const
{
    ListWriter::Rows rows;
    rows.reserve(m_rows.size());
    for (const auto &row : m_rows)
        rows.push_back(row->settings());
    return rows;
}

void RecordingList::storeFinished(const QString &error)
{
    if (error.isEmpty()) {
        Q_EMIT stored();
        return;
    }
    report(QStringLiteral("The recording list could not be saved"),
           QStringLiteral("%1: %2. The previous file is unchanged; the next save tries again.")
               .arg(filePath(), error));
}

bool RecordingList::contains(const QString &name) const
{
    return std::any_of(m_rows.begin(), m_rows.end(), [&](const auto &row) {
        return row->name().compare(name, Qt::CaseInsensitive) == 0;
    });
}

QString RecordingList::unusedNewName() const
{
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("New Recording %1").arg(n);
        if (!contains(candidate))
            return candidate;
    }
}

QString RecordingList::unusedCloneName(const QString &base) const
{
    for (int n = 2;; ++n) {
        const QString candidate = base + QStringLiteral(" %1").arg(n);
        if (!contains(candidate))
            return candidate;
    }
}

Recording *RecordingList::adopt(std::unique_ptr<Recording> recording)
{
    Recording *row = recording.get();
    m_indexes.insert(row, size());
    m_rows.push_back(std::move(recording));
    QObject::connect(row, &Recording::captureEnded, this, &RecordingList::storeSoon);
    const auto changed = [this, row] { Q_EMIT rowChanged(indexOf(row)); };
    QObject::connect(row, &Recording::settingsChanged, this, changed);
    QObject::connect(row, &Recording::weekdayCleared, this, changed);
    QObject::connect(row, &Recording::stateChanged, this, changed);
    QObject::connect(row, &Recording::nextStartChanged, this, changed);
    QObject::connect(row, &Recording::titleChanged, this, changed);
    QObject::connect(row, &Recording::resultChanged, this, changed);
    QObject::connect(row, &Recording::figuresChanged, this, changed);
    QObject::connect(row, &Recording::capturingChanged, this, changed);
    return row;
}

Recording *RecordingList::append(std::unique_ptr<Recording> recording)
{
    Recording *row = adopt(std::move(recording));
    Q_EMIT rowAdded(size() - 1);
    return row;
}

// An empty list is written only when the user took its last row: otherwise
// it would only wipe the recordings of a file that could not be read.
bool RecordingList::mayStore() const
{
    return !m_rows.empty() || m_emptiedByUser;
}

std::unique_ptr<Recording> RecordingList::takeAt(int index)
{
    Q_EMIT rowAboutToBeRemoved(index);
    std::unique_ptr<Recording> row = std::move(m_rows.at(size_t(index)));
    m_rows.erase(m_rows.begin() + index);
    m_indexes.remove(row.get());
    for (int i = index; i < size(); ++i)
        m_indexes[at(i)] = i;
    row->disconnect(this);
    m_emptiedByUser = m_rows.empty();
    Q_EMIT rowRemoved(index);
    return row;
}

void RecordingList::scheduleAll()
{
    for (const auto &row : m_rows)
        row->schedule();
}

void RecordingList::stopAll()
{
    // By index against the current length: ending a capture stores the list,
    // which never changes its rows.
    for (int i = 0; i < size(); ++i)
        at(i)->stopCapture();
    // Stop returns at once: the event loop delivers the last tracks' syncs,
    // whose hand-offs are queued then. A disk that never answers is given up
    // on with the hand-offs' own limit.
    QDeadlineTimer deadline(HandoffQueue::quitLimit);
    const auto writing = [this] {
        return std::any_of(m_rows.begin(), m_rows.end(),
                           [](const auto &row) { return row->isWritingTracks(); });
    };
    if (writing()) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!writing() || deadline.hasExpired())
                loop.quit();
        });
        poll.start(syncPollMs);
        loop.exec();
    }
    // The captures that still wait for a script end as their hand-offs come back.
    HandoffQueue::shared().waitForQuit();
}
