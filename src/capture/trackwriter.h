#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <sys/uio.h>

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include "capture/trackpattern.h"
#include "values/track.h"

// The track files of one capture: opens, names, writes, cuts, renames and
// deletes them. Every file name rule lives in TrackName; this class applies
// them in the track folder (the music folder's "Skyvane"), or in the folders
// below it that a pattern names.
//
// It never replaces a file: a name already taken gets a counter, " (2)",
// " (3)" ... before the extension. So the only files it ever deletes are the
// ones it created itself.
class TrackWriter
{
public:
    using LogFunction = std::function<void(const QString &line)>;

    explicit TrackWriter(LogFunction log);
    ~TrackWriter();
    TrackWriter(const TrackWriter &) = delete;
    TrackWriter &operator=(const TrackWriter &) = delete;

    static QString folder();

    // Names the tracks opened from now on by `pattern` (see TrackPattern) with
    // these fields, in folders below the track folder made as needed. Set it
    // before each open(): the fields are the song's. An empty pattern, one that
    // names nothing, and a track without a stream title keep the usual name.
    void setPattern(const QString &pattern, const TrackPattern::Fields &fields);

    // Opens the next track, named after the stream title; an empty title makes
    // one up from madeBase and the time. Throws NamedFailure "FileOpenFailed".
    void open(const QString &streamTitle, const QString &madeBase, const QDateTime &now,
              const QString &extension);
    // Queues audio for the open track; nothing when none is open. The bytes
    // must stay valid until flush() or close(): a read's runs go to the disk
    // together, one system call instead of one per metadata interval.
    void write(QByteArrayView audio);
    // Writes what is queued. Throws "FileWriteFailed".
    void flush();

    bool isOpen() const { return m_fd >= 0; }
    // Whether the open track's file is no longer where it was opened: removed,
    // with its folder or alone, or replaced. Audio written now would be lost.
    bool wasRemoved() const;
    // Gives up the open track, whose file is gone, and goes on in a new file
    // opened as the last one was. Throws "FileOpenFailed".
    void reopen(const QDateTime &now);
    // Whether the open (or last) track's title was made up rather than sent.
    bool madeTitle() const { return m_track.madeTitle; }
    const QString &title() const { return m_track.title; }

    // Closes the open track. An incomplete song is deleted, or, with
    // keepPartial, renamed "Start of ..."; a track that plays for less than
    // 16 s is deleted (playingMs unknown: its bytes timed at 128 kbit/s).
    // Gives the track when it stays on disk.
    std::optional<Track> close(bool incomplete, bool keepPartial,
                               std::optional<qint64> playingMs = std::nullopt);
    // Deletes the open track, saying why in the log and in lossReason().
    void discard(const QString &why);
    // Why the last track that close() did not give was lost, in a few words
    // for a person ("the track was too short to keep ..."); "" before any was.
    const QString &lossReason() const { return m_lossReason; }

private:
    void createFile();
    // Asks the disk to start writing [m_flushed, end) now; end 0 is the file's end.
    void startWriteBack(qint64 end);
    std::size_t skipWritten(std::size_t first, std::size_t written);
    void closeFile();
    void renameToStartOf();
    void removeOwnFile();
    // Whether the track's path still names the file this writer created.
    bool pathLeadsToOwnFile() const;

    LogFunction m_log;
    // The open track's file, unbuffered: a read's audio goes straight to the
    // system, and a full disk shows at the write that met it.
    int m_fd = -1;
    std::vector<iovec> m_pending;
    qint64 m_written = 0;
    // Bytes of the open track whose write-back has been started.
    qint64 m_flushed = 0;
    Track m_track;
    QString m_pattern;
    TrackPattern::Fields m_fields;
    // What the open track was named from: the file name is m_stem cut to fit,
    // then m_kept, a counter when needed, and m_extension, in m_subfolder of
    // the track folder ("" the track folder itself).
    QString m_streamTitle;
    QString m_subfolder;
    QString m_madeBase;
    QString m_stem;
    QString m_kept;
    QString m_extension;
    QString m_lossReason;
    // The open file's identity, to tell whether its path still leads to it.
    quint64 m_device = 0;
    quint64 m_inode = 0;
};
