#include "capture/trackwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "capture/trackname.h"
#include "platform/failures.h"

namespace {

// File names may hold 255 bytes; room is kept for the "Start of " that a kept
// incomplete song gets in front of its name when the capture ends.
constexpr qsizetype maxFileNameBytes = 255 - 9;
constexpr qsizetype maxRenamedBytes = 255;
// Past this many tracks of one name something else is wrong.
constexpr int maxCounter = 9999;

// A track that plays for less is a fragment, not worth keeping: what 256 KiB
// is at 128 kbit/s.
constexpr qint64 tinyTrackMs = 16000;
constexpr qint64 unframedBytesPerSecond = 16000;

const QString startPrefix = QStringLiteral("Start of ");

// Write-back of a track is started every this many bytes while it is written,
// so that the sync when it ends finds little left to do. It stays this far
// behind the end, so that a track that ends up deleted seldom waited for the disk.
constexpr qint64 writeBackStep = 1024 * 1024;
constexpr qint64 writeBackLag = 256 * 1024;

// Runs of audio written in one system call at most: a title flood splits a
// read into thousands of runs, and writev takes at most IOV_MAX.
constexpr std::size_t maxPendingRuns = 64;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Renames without ever replacing what is at `to`; errno tells why it failed.
bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    // File systems without the flag: check, then rename; the window between
    // the two is as small as it can be made there.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (isTaken(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(source.constData(), target.constData()) == 0;
}

} // namespace

TrackWriter::TrackWriter(LogFunction log) : m_log(std::move(log)) {}

TrackWriter::~TrackWriter()
{
    closeFile();
}

// Read once: the music folder comes from user-dirs.dirs, which would otherwise be
// read again at every title change.
QString TrackWriter::folder()
{
    static const QString trackFolder =
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
        QStringLiteral("/Skyvane");
    return trackFolder;
}

void TrackWriter::setPattern(const QString &pattern, const TrackPattern::Fields &fields)
{
    m_pattern = pattern;
    m_fields = fields;
}

void TrackWriter::open(const QString &streamTitle, const QString &madeBase, const QDateTime &now,
                       const QString &extension)
{
    m_track = Track();
    m_streamTitle = streamTitle;
    m_madeBase = madeBase;
    m_extension = extension;
    m_track.madeTitle = streamTitle.isEmpty();
    m_subfolder.clear();
    if (m_track.madeTitle) {
        m_stem = TrackName::cleanStreamTitle(madeBase);
        m_kept = TrackName::madeFileDate(now);
        m_track.title = TrackName::madeTitle(madeBase, now);
    } else {
        m_stem = TrackName::cleanStreamTitle(streamTitle);
        m_kept.clear();
        m_track.title = streamTitle;
        if (const std::optional<QString> stem = TrackPattern::relativeStem(m_pattern, m_fields)) {
            const qsizetype slash = stem->lastIndexOf(u'/');
            m_subfolder = stem->left(std::max<qsizetype>(slash, 0));
            m_stem = stem->sliced(slash + 1);
        }
    }
    createFile();
}

// Creates the track's file under the first free name: a file of that name is
// the user's, or an earlier track's, and stays as it is.
void TrackWriter::createFile()
{
    closeFile();
    // The pattern's folders hold no "." or ".." and never start at the root:
    // they stay below the track folder.
    const QString trackFolder = m_subfolder.isEmpty() ? folder() : folder() + u'/' + m_subfolder;
    const QString shownFolder = m_subfolder.isEmpty() ? QString() : m_subfolder + u'/';
    for (int counter = 1; counter <= maxCounter; ++counter) {
        const QString fileName = TrackName::fitFileName(
            m_stem, m_kept + TrackName::counterSuffix(counter) + m_extension, maxFileNameBytes);
        m_track.path = trackFolder + u'/' + fileName;
        const QByteArray path = QFile::encodeName(m_track.path);
        m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        // The folder is made when it is missing; if that fails, the second
        // open's ENOENT ends the loop below.
        if (m_fd < 0 && errno == ENOENT) {
            QDir().mkpath(trackFolder);
            m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        }
        if (m_fd >= 0) {
            m_log(QStringLiteral("Writing data to ") + shownFolder + fileName + u'\n');
            struct stat status = {};
            if (::fstat(m_fd, &status) == 0) {
                m_device = status.st_dev;
                m_inode = status.st_ino;
            }
            m_written = 0;
            m_flushed = 0;
            return;
        }
        // O_EXCL: a name taken by anything, a dangling link too, fails with EEXIST.
        if (errno != EEXIST)
            // Why matters: a folder that is not writable, no descriptors left, ...
            throw NamedFailure(QStringLiteral("FileOpenFailed"),
                               m_track.path + QStringLiteral(": ") + systemError());
    }
    throw NamedFailure(QStringLiteral("FileOpenFailed"),
                       m_track.path + QStringLiteral(": every name is taken"));
}

void TrackWriter::write(QByteArrayView audio)
{
    if (m_fd < 0 || audio.isEmpty())
        return;
    m_pending.push_back({const_cast<char *>(audio.data()), size_t(audio.size())});
    if (m_pending.size() == maxPendingRuns)
        flush();
}

void TrackWriter::flush()
{
    std::size_t first = 0;
    while (first < m_pending.size()) {
        const ssize_t written =
            ::writev(m_fd, m_pending.data() + first, int(m_pending.size() - first));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            m_pending.clear();
            throw NamedFailure(
                QStringLiteral("FileWriteFailed"),
                QStringLiteral("Could not write to %1: %2").arg(m_track.path, systemError()));
        }
        m_written += written;
        first = skipWritten(first, size_t(written));
    }
    m_pending.clear();
    if (m_written - writeBackLag - m_flushed >= writeBackStep)
        startWriteBack(m_written - writeBackLag);
}

// After a short write: the first run not yet whole on the disk, trimmed to
// what is left of it.
std::size_t TrackWriter::skipWritten(std::size_t first, std::size_t written)
{
    while (first < m_pending.size() && written >= m_pending[first].iov_len)
        written -= m_pending[first++].iov_len;
    if (written > 0) {
        m_pending[first].iov_base = static_cast<char *>(m_pending[first].iov_base) + written;
        m_pending[first].iov_len -= written;
    }
    return first;
}

// Only a hint: the disk starts on the data now instead of when the system gets
// round to it. Whether it got there is for the sync of the finished track to say.
void TrackWriter::startWriteBack(qint64 end)
{
    ::sync_file_range(m_fd, m_flushed, end == 0 ? 0 : end - m_flushed, SYNC_FILE_RANGE_WRITE);
    m_flushed = end;
}

void TrackWriter::closeFile()
{
    m_pending.clear();
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

// A name that still leads to the open file is a link to it, so the file was not
// removed either.
bool TrackWriter::wasRemoved() const
{
    return m_fd >= 0 && !pathLeadsToOwnFile();
}

bool TrackWriter::pathLeadsToOwnFile() const
{
    struct stat named = {};
    return ::stat(QFile::encodeName(m_track.path).constData(), &named) == 0 &&
           named.st_dev == m_device && named.st_ino == m_inode;
}

void TrackWriter::reopen(const QDateTime &now)
{
    closeFile();
    open(m_streamTitle, m_madeBase, now, m_extension);
}

std::optional<Track> TrackWriter::close(bool incomplete, bool keepPartial,
                                        std::optional<qint64> playingMs)
{
    if (m_fd < 0)
        return std::nullopt;
    flush();
    // Judged before the file closes: afterwards its path may lead to another's file.
    const bool removed = wasRemoved();
    // 64-bit: a day-long capture passes 2 GiB and must not look tiny.
    const qint64 length = m_written;
    // Audio of an unknown codec is timed at 128 kbit/s.
    const qint64 playing = playingMs.value_or(length * 1000 / unframedBytesPerSecond);
    const bool tiny = playing < tinyTrackMs;
    const bool kept = !removed && (!incomplete || keepPartial) && !tiny;
    if (kept)
        startWriteBack(0);
    closeFile();
    m_track.size = length;

    if (removed) {
        m_log(QStringLiteral("File access error: %1 was removed while it was written\n")
                  .arg(m_track.path));
        m_lossReason = QStringLiteral("the track file was deleted during the recording");
        return std::nullopt;
    }
    if (incomplete) {
        if (!keepPartial) {
            m_log(QStringLiteral("Deleting the last (incomplete) shoutcast song\n"));
            m_lossReason = QStringLiteral("the last song was cut short and deleted as incomplete");
            removeOwnFile();
            return std::nullopt;
        }
        m_track.title = startPrefix + m_track.title;
        renameToStartOf();
    }

    if (tiny) {
        m_log(QStringLiteral("Track is tiny (%1 s of audio, %2 bytes), deleting song\n")
                  .arg(playing / 1000)
                  .arg(length));
        m_lossReason =
            QStringLiteral("the track was too short to keep (under %1 s)").arg(tinyTrackMs / 1000);
        removeOwnFile();
        return std::nullopt;
    }
    m_log(QStringLiteral("File size is %1 bytes\n").arg(length));
    return m_track;
}

void TrackWriter::discard(const QString &why)
{
    if (m_fd < 0)
        return;
    m_pending.clear();
    closeFile();
    m_log(QStringLiteral("Deleting %1: %2\n").arg(QFileInfo(m_track.path).fileName(), why));
    m_lossReason = why;
    removeOwnFile();
}

void TrackWriter::renameToStartOf()
{
    const QString trackFolder = QFileInfo(m_track.path).path();
    QString renamed;
    for (int counter = 1; counter <= maxCounter; ++counter) {
        renamed = trackFolder + u'/' +
                  TrackName::fitFileName(startPrefix + m_stem,
                                         m_kept + TrackName::counterSuffix(counter) + m_extension,
                                         maxRenamedBytes);
        if (renameNoReplace(m_track.path, renamed)) {
            m_track.path = renamed;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    // The last name tried: when every name was taken, the one with the highest counter.
    m_log(QStringLiteral("Couldn't rename %1 to %2: %3\n").arg(m_track.path, renamed, reason));
}

// Only ever the file this writer created, and only while its path still leads to it.
void TrackWriter::removeOwnFile()
{
    if (pathLeadsToOwnFile())
        QFile::remove(m_track.path);
}
