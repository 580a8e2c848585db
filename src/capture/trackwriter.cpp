#include "capture/trackwriter.h"

#include <utility>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "capture/trackname.h"
#include "platform/failures.h"

namespace {

// File names may hold 255 bytes; room is kept for the "Start of " that a kept
// incomplete song gets in front of its name when the capture ends.
constexpr qsizetype maxFileNameBytes = 255 - 9;

// A track of at most this many bytes is a fragment, not worth keeping.
constexpr qint64 tinyTrackLimit = 262143;

const QString startPrefix = QStringLiteral("Start of ");

} // namespace

TrackWriter::TrackWriter(LogFunction log) : m_log(std::move(log)) {}

TrackWriter::~TrackWriter() = default;

QString TrackWriter::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) +
           QStringLiteral("/Skyvane");
}

void TrackWriter::open(const QString &streamTitle, const QString &madeBase, const QDateTime &now,
                       const QString &extension)
{
    m_track = Track();
    m_track.madeTitle = streamTitle.isEmpty();
    QString fileBase;
    if (m_track.madeTitle) {
        fileBase = TrackName::madeFileBase(madeBase, now);
        m_track.title = TrackName::madeTitle(madeBase, now);
    } else {
        fileBase = TrackName::cleanStreamTitle(streamTitle);
        m_track.title = streamTitle;
    }
    const QString fileName = TrackName::fitFileName(fileBase, extension, maxFileNameBytes);
    const QString trackFolder = folder();
    QDir().mkpath(trackFolder);
    m_track.path = trackFolder + u'/' + fileName;
    QFile::remove(m_track.path);
    m_log(QStringLiteral("Writting data to ") + fileName + u'\n');
    auto file = std::make_unique<QFile>(m_track.path);
    // Unbuffered: each chunk goes straight to the system, and a full disk shows
    // at the write that met it.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_file.reset();
        throw NamedFailure(QStringLiteral("FileOpenFailed"), m_track.path);
    }
    m_file = std::move(file);
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

std::optional<TrackWriter::Track> TrackWriter::close(bool incomplete, bool keepPartial,
                                                     qint32 interval)
{
    if (!m_file)
        return std::nullopt;
    // 64-bit: a day-long capture passes 2 GiB and must not look tiny.
    const qint64 length = m_file->pos();
    // The last interval of audio was cut off mid-song by the next metadata block.
    if (interval > 0 && length > interval)
        m_file->resize(length - interval);
    m_file->flush();
    m_file->close();
    m_file.reset();
    m_track.size = length;

    if (incomplete) {
        if (!keepPartial) {
            m_log(QStringLiteral("Deleting the last (incomplete) shoutcast song\n"));
            QFile::remove(m_track.path);
            return std::nullopt;
        }
        m_track.title = startPrefix + m_track.title;
        const QFileInfo info(m_track.path);
        const QString renamed = info.path() + u'/' + startPrefix + info.fileName();
        QFile::remove(renamed);
        if (QFile::rename(m_track.path, renamed))
            m_track.path = renamed;
        else
            m_log(QStringLiteral("Couldn't rename %1 to %2\n").arg(m_track.path, renamed));
    }

    if (length <= tinyTrackLimit) {
        m_log(QStringLiteral("Data size is tiny (%1 bytes), deleting song\n").arg(length));
        QFile::remove(m_track.path);
        return std::nullopt;
    }
    m_log(QStringLiteral("File size is %1 bytes\n").arg(length));
    return m_track;
}
