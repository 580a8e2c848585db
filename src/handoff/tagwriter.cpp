#include "handoff/tagwriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <unistd.h>

#include <taglib/fileref.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>
#include <taglib/tfile.h>

#include <QByteArrayView>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtEndian>

namespace {

constexpr qint64 id3v2HeaderSize = 10;
constexpr qint64 id3v1Size = 128;
constexpr qint64 oggPageHeaderSize = 27;
constexpr qint64 copyChunkSize = qint64(1) << 20;

QByteArray readAt(QIODevice &file, qint64 position, qint64 length)
{
    return file.seek(position) ? file.read(length) : QByteArray();
}

// The size of the ID3v2 tag the file begins with, footer included: 0 without
// one. A tag that claims more than the file holds is no tag.
qint64 leadingTagSize(QIODevice &file)
{
    const QByteArray header = readAt(file, 0, id3v2HeaderSize);
    if (header.size() < id3v2HeaderSize || !header.startsWith("ID3"))
        return 0;
    qint64 size = 0;
    for (qsizetype i = 6; i < id3v2HeaderSize; ++i) {
        const auto byte = uchar(header[i]);
        if (byte & 0x80)
            return 0; // not a synchsafe integer
        size = size << 7 | byte;
    }
    constexpr uchar footerFlag = 0x10;
    size += (uchar(header[5]) & footerFlag) ? 2 * id3v2HeaderSize : id3v2HeaderSize;
    return size <= file.size() ? size : 0;
}

// Where the audio of an Ogg stream from position on begins: after the pages of
// its header packets (granule position 0, or -1 while a packet goes on), which
// hold the Vorbis comments.
qint64 afterOggHeaders(QIODevice &file, qint64 position)
{
    for (;;) {
        const QByteArray header = readAt(file, position, oggPageHeaderSize);
        if (header.size() < oggPageHeaderSize || !header.startsWith("OggS") ||
            qFromLittleEndian<qint64>(header.constData() + 6) > 0)
            return position;
        const int segments = uchar(header[26]);
        const QByteArray lacing = readAt(file, position + oggPageHeaderSize, segments);
        qint64 next = position + oggPageHeaderSize + segments;
        for (const char length : lacing)
            next += uchar(length);
        if (lacing.size() < segments || next > file.size())
            return position;
        position = next;
    }
}

// The bytes of a track file that are not tags.
qint64 audioBytes(QIODevice &file)
{
    const qint64 begin = afterOggHeaders(file, leadingTagSize(file));
    qint64 end = file.size();
    if (end - begin >= id3v1Size && readAt(file, end - id3v1Size, 3) == "TAG")
        end -= id3v1Size;
    return end - begin;
}

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int file, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(file, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno != EINTR)
            return false;
        if (written > 0)
            bytes = bytes.sliced(written);
    }
    return true;
}

// Copies the track with plain writes: through QFile, a write cut short by a
// full disk or a file-size limit reads "Unknown error".
std::optional<QString> copyAll(QFile &source, int target)
{
    if (!source.seek(0))
        return source.errorString();
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(copyChunkSize);
        if (chunk.isEmpty())
            return source.errorString();
        if (!writeAll(target, chunk))
            return systemError();
    }
    return std::nullopt;
}

// TagLib ignores failed writes: on a full disk it leaves a cut file and calls
// it saved. The failed write leaves its errno, also when the file's buffer is
// flushed as TagLib closes it.
bool isWriteFailure(int error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT || error == EIO;
}

void apply(TagLib::Tag &tag, const TagWriter::Tags &tags)
{
    using Setter = void (TagLib::Tag::*)(const TagLib::String &);
    const std::pair<const std::optional<QString> &, Setter> fields[] = {
        {tags.title, &TagLib::Tag::setTitle},
        {tags.album, &TagLib::Tag::setAlbum},
        {tags.artist, &TagLib::Tag::setArtist},
        {tags.genre, &TagLib::Tag::setGenre},
    };
    for (const auto &[value, setter] : fields) {
        if (value)
            (tag.*setter)(TagLib::String(value->toStdString(), TagLib::String::UTF8));
    }
}

std::optional<QString> tagFile(const QString &path, const TagWriter::Tags &tags)
{
    bool saved = false;
    errno = 0;
    {
        TagLib::FileRef file(QFile::encodeName(path).constData(), false);
        if (file.isNull() || !file.tag())
            return QStringLiteral("TagLib cannot tag this kind of file");
        apply(*file.tag(), tags);
        auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(file.file());
        saved = mpeg ? mpeg->save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers,
                                  TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate)
                     : file.save();
    }
    if (const int error = errno; isWriteFailure(error))
        return QStringLiteral("cannot save the tags: %1").arg(systemError(error));
    if (!saved)
        return QStringLiteral("TagLib could not save the tags");
    return std::nullopt;
}

} // namespace

namespace TagWriter {

std::optional<QString> write(const QString &path, const Tags &tags)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("no such file");
    if (!info.isWritable())
        return QStringLiteral("the file is read-only");
    QFile track(path);
    if (!track.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the file: %1").arg(track.errorString());
    // Hidden from music players, with the extension by which TagLib knows the format.
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    QTemporaryFile copy(info.path() + QStringLiteral("/.skyvane-tagging-XXXXXX") + suffix);
    if (!copy.open())
        return QStringLiteral("cannot copy the file next to it: %1").arg(copy.errorString());
    if (const std::optional<QString> reason = copyAll(track, copy.handle()))
        return QStringLiteral("cannot copy the file next to it: %1").arg(*reason);
    if (std::optional<QString> reason = tagFile(copy.fileName(), tags))
        return reason;
    QFile tagged(copy.fileName());
    if (!tagged.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the tagged copy: %1").arg(tagged.errorString());
    const qint64 before = audioBytes(track);
    const qint64 after = audioBytes(tagged);
    if (after < before)
        return QStringLiteral("tagging would have cut the audio from %1 to %2 bytes")
            .arg(before)
            .arg(after);
    // The copy takes the track's place whole, as lasting as the track was.
    if (!copy.setPermissions(track.permissions()))
        return QStringLiteral("cannot give the tagged copy the file's permissions");
    if (::fdatasync(copy.handle()) != 0 ||
        std::rename(QFile::encodeName(copy.fileName()).constData(),
                    QFile::encodeName(path).constData()) != 0)
        return QStringLiteral("cannot replace the file: %1").arg(systemError());
    copy.setAutoRemove(false);
    return std::nullopt;
}

} // namespace TagWriter
