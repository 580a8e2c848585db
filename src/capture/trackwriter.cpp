#include "capture/trackwriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>

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

// A track of at most this many bytes is a fragment, not worth keeping.
constexpr qint64 tinyTrackLimit = 262143;

const QString startPrefix = QStringLiteral("Start of ");

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

TrackWriter::~TrackWriter() = default;

// Read once: the music folder comes from user-dirs.dirs, which would otherwise be
// read again at every title change.
QString TrackWriter::folder()
{
    static const QString trackFolder =
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
        QStringLiteral("/Skyvane");
    return trackFolder;
}

void TrackWriter::open(const QString &streamTitle, const QString &madeBase, const QDateTime &now,
                       const QString &extension)
{
    m_track = Track();
    m_streamTitle = streamTitle;
    m_madeBase = madeBase;
    m_extension = extension;
    m_track.madeTitle = streamTitle.isEmpty();
    if (m_track.madeTitle) {
        m_stem = TrackName::cleanStreamTitle(madeBase);
        m_kept = TrackName::madeFileDate(now);
        m_track.title = TrackName::madeTitle(madeBase, now);
    } else {
        m_stem = TrackName::cleanStreamTitle(streamTitle);
        m_kept.clear();
        m_track.title = streamTitle;
    }
    createFile();
}

// Creates the track's file under the first free name: a file of that name is
// the user's, or an earlier track's, and stays as it is.
void TrackWriter::createFile()
{
    m_file.reset();
    const QString trackFolder = folder();
    QDir().mkpath(trackFolder);
    for (int counter = 1; counter <= maxCounter; ++counter) {
        const QString fileName = TrackName::fitFileName(
            m_stem, m_kept + TrackName::counterSuffix(counter) + m_extension, maxFileNameBytes);
        m_track.path = trackFolder + u'/' + fileName;
        auto file = std::make_unique<QFile>(m_track.path);
        // Unbuffered: each chunk goes straight to the system, and a full disk
        // shows at the write that met it.
        if (file->open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            m_log(QStringLiteral("Writting data to ") + fileName + u'\n');
            struct stat status = {};
            if (::fstat(file->handle(), &status) == 0) {
                m_device = status.st_dev;
                m_inode = status.st_ino;
            }
            m_file = std::move(file);
            return;
        }
        if (!isTaken(m_track.path))
            // Why matters: a folder that is not writable, no descriptors left, ...
            throw NamedFailure(QStringLiteral("FileOpenFailed"),
                               m_track.path + QStringLiteral(": ") + file->errorString());
    }
    throw NamedFailure(QStringLiteral("FileOpenFailed"),
                       m_track.path + QStringLiteral(": every name is taken"));
}

void TrackWriter::write(QByteArrayView audio)
{
    if (!m_file)
        return;
    if (m_file->write(audio.data(), audio.size()) != audio.size()) {
        throw NamedFailure(
            QStringLiteral("FileWriteFailed"),
            QStringLiteral("Could not write to %1: %2").arg(m_track.path, m_file->errorString()));
    }
}

bool TrackWriter::wasRemoved() const
{
    if (!m_file)
        return false;
    struct stat open = {};
    if (::fstat(m_file->handle(), &open) != 0 || open.st_nlink == 0)
        return true;
    return !pathLeadsToOwnFile();
}

bool TrackWriter::pathLeadsToOwnFile() const
{
    struct stat named = {};
    return ::stat(QFile::encodeName(m_track.path).constData(), &named) == 0 &&
           named.st_dev == m_device && named.st_ino == m_inode;
}

void TrackWriter::reopen(const QDateTime &now)
{
    m_file.reset();
    open(m_streamTitle, m_madeBase, now, m_extension);
}

std::optional<Track> TrackWriter::close(bool incomplete, bool keepPartial,
                                                     qint32 interval)
{
    if (!m_file)
        return std::nullopt;
    // Judged before the file closes: afterwards its path may lead to another's file.
    const bool removed = wasRemoved();
    // 64-bit: a day-long capture passes 2 GiB and must not look tiny.
    const qint64 length = m_file->pos();
    // The last interval of audio was cut off mid-song by the next metadata block.
    if (interval > 0 && length > interval)
        m_file->resize(length - interval);
    m_file->close();
    m_file.reset();
    m_track.size = length;

    if (removed) {
        m_log(QStringLiteral("File access error: %1 was removed while it was written\n")
                  .arg(m_track.path));
        return std::nullopt;
    }
    if (incomplete) {
        if (!keepPartial) {
            m_log(QStringLiteral("Deleting the last (incomplete) shoutcast song\n"));
            removeOwnFile();
            return std::nullopt;
        }
        m_track.title = startPrefix + m_track.title;
        renameToStartOf();
    }

    if (length <= tinyTrackLimit) {
        m_log(QStringLiteral("Data size is tiny (%1 bytes), deleting song\n").arg(length));
        removeOwnFile();
        return std::nullopt;
    }
    m_log(QStringLiteral("File size is %1 bytes\n").arg(length));
    return m_track;
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
