#include "hls/id3tag.h"

#include <algorithm>
#include <functional>

#include <QStringDecoder>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype headerSize = 10; // a footer is as long
// No song title is longer: a bigger text frame is something else.
constexpr qsizetype maxTextBytes = 4096;

enum class Encoding { Latin1, Utf16, Utf16BigEndian, Utf8 };

quint8 byteAt(QByteArrayView bytes, qsizetype at)
{
    return static_cast<quint8>(bytes[at]);
}

// Four bytes of seven bits each; nullopt when a high bit is set.
std::optional<qint64> syncsafeAt(QByteArrayView bytes, qsizetype at)
{
    qint64 value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        if (byteAt(bytes, i) & 0x80)
            return std::nullopt;
        value = value << 7 | byteAt(bytes, i);
    }
    return value;
}

qint64 bigEndianAt(QByteArrayView bytes, qsizetype at)
{
    return qint64(byteAt(bytes, at)) << 24 | byteAt(bytes, at + 1) << 16 |
           byteAt(bytes, at + 2) << 8 | byteAt(bytes, at + 3);
}

// Unsynchronisation put a zero after every 0xff; taking them out restores the data.
QByteArray resynchronised(QByteArrayView bytes)
{
    return bytes.toByteArray().replace(QByteArrayView("\xff\x00", 2), QByteArrayView("\xff", 1));
}

// The frames of a v2.3 or v2.4 tag, in order, each as its four-letter id and
// content.
void forEachFrame(QByteArrayView tag,
                  const std::function<void(QByteArrayView id, QByteArrayView content)> &take)
{
    const int major = byteAt(tag, 3);
    const quint8 flags = byteAt(tag, 5);
    const qsizetype bodyEnd = Id3Tag::length(tag) - (major == 4 && (flags & 0x10) ? headerSize : 0);
    QByteArray body = tag.sliced(headerSize, bodyEnd - headerSize).toByteArray();
    if (major == 3 && (flags & 0x80))
        body = resynchronised(body);
    qsizetype at = 0;
    if ((flags & 0x40) && body.size() >= 4) { // an extended header
        const std::optional<qint64> size =
            major == 4 ? syncsafeAt(body, 0) : std::optional(bigEndianAt(body, 0) + 4);
        at = size.value_or(body.size());
    }
    while (at <= body.size() - headerSize) {
        const QByteArrayView id = QByteArrayView(body).sliced(at, 4);
        if (!std::all_of(id.begin(), id.end(),
                         [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }))
            return; // padding, or not a frame
        const std::optional<qint64> size =
            major == 4 ? syncsafeAt(body, at + 4) : std::optional(bigEndianAt(body, at + 4));
        if (!size || *size > body.size() - at - headerSize)
            return;
        const quint8 format = byteAt(body, at + 9);
        QByteArrayView content = QByteArrayView(body).sliced(at + headerSize, *size);
        at += headerSize + *size;
        // Compressed or encrypted frames are passed over; a group byte and a
        // data length come before the content.
        if (major == 3 ? (format & 0xc0) : (format & 0x0c))
            continue;
        const qsizetype prefix = major == 3 ? (format & 0x20 ? 1 : 0)
                                            : (format & 0x40 ? 1 : 0) + (format & 0x01 ? 4 : 0);
        content = content.sliced(std::min(prefix, content.size()));
        if (major == 4 && ((format & 0x02) || (flags & 0x80)))
            take(id, resynchronised(content));
        else
            take(id, content);
    }
}

qsizetype unitSize(Encoding encoding)
{
    return encoding == Encoding::Utf16 || encoding == Encoding::Utf16BigEndian ? 2 : 1;
}

// Where the first terminator starts, or the text's end.
qsizetype terminatorAt(QByteArrayView text, Encoding encoding)
{
    const qsizetype unit = unitSize(encoding);
    for (qsizetype i = 0; i + unit <= text.size(); i += unit) {
        if (text[i] == 0 && (unit == 1 || text[i + 1] == 0))
            return i;
    }
    return text.size();
}

// One string; UTF-16 without its own byte order mark keeps the last one seen.
QString decoded(QByteArrayView text, Encoding encoding, bool &bigEndian)
{
    switch (encoding) {
    case Encoding::Latin1:
        return QString::fromLatin1(text);
    case Encoding::Utf8:
        return QString::fromUtf8(text);
    case Encoding::Utf16:
        if (text.startsWith("\xff\xfe") || text.startsWith("\xfe\xff")) {
            bigEndian = byteAt(text, 0) == 0xfe;
            text = text.sliced(2);
        }
        break;
    case Encoding::Utf16BigEndian:
        bigEndian = true;
        break;
    }
    QStringDecoder decoder(bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
    return decoder(text.first(text.size() & ~qsizetype(1)));
}

// The strings of a text field, each trimmed, empty ones left out: v2.4
// separates several values with terminators.
QStringList strings(QByteArrayView text, Encoding encoding)
{
    QStringList found;
    bool bigEndian = true;
    while (!text.isEmpty()) {
        const qsizetype end = terminatorAt(text, encoding);
        const QString string = decoded(text.first(end), encoding, bigEndian).trimmed();
        if (!string.isEmpty())
            found.append(string);
        text = text.sliced(std::min(text.size(), end + unitSize(encoding)));
    }
    return found;
}

// A text frame's content: its encoding, then the text.
std::optional<Encoding> encodingOf(QByteArrayView content)
{
    if (content.isEmpty() || content.size() > maxTextBytes || byteAt(content, 0) > 3)
        return std::nullopt;
    return Encoding(byteAt(content, 0));
}

QString textOf(QByteArrayView content)
{
    const std::optional<Encoding> encoding = encodingOf(content);
    return encoding ? strings(content.sliced(1), *encoding).join(u'/') : QString();
}

// A TXXX frame's value when its description names the song's title.
QString describedTitle(QByteArrayView content)
{
    const std::optional<Encoding> encoding = encodingOf(content);
    if (!encoding)
        return {};
    const QByteArrayView text = content.sliced(1);
    const qsizetype end = terminatorAt(text, *encoding);
    bool bigEndian = true;
    const QString description = decoded(text.first(end), *encoding, bigEndian);
    if (description.compare(u"title"_s, Qt::CaseInsensitive) != 0 &&
        description.compare(u"StreamTitle"_s, Qt::CaseInsensitive) != 0)
        return {};
    const qsizetype valueAt = std::min(text.size(), end + unitSize(*encoding));
    return strings(text.sliced(valueAt), *encoding).join(u'/');
}

} // namespace

qsizetype Id3Tag::length(QByteArrayView bytes)
{
    if (bytes.size() < headerSize || !bytes.startsWith("ID3"))
        return 0;
    const int major = byteAt(bytes, 3);
    const std::optional<qint64> size = syncsafeAt(bytes, 6);
    if (major < 2 || major > 4 || byteAt(bytes, 4) == 0xff || !size)
        return 0;
    const bool footer = major == 4 && (byteAt(bytes, 5) & 0x10);
    const qint64 length = headerSize + *size + (footer ? headerSize : 0);
    return length <= bytes.size() ? length : 0;
}

std::optional<QString> Id3Tag::songTitle(QByteArrayView tag)
{
    // v2.2 has frames of another shape, which HLS does not use.
    if (length(tag) == 0 || (byteAt(tag, 3) != 3 && byteAt(tag, 3) != 4))
        return std::nullopt;
    QString artist;
    QString title;
    QString described;
    forEachFrame(tag, [&](QByteArrayView id, QByteArrayView content) {
        if (id == "TPE1")
            artist = textOf(content);
        else if (id == "TIT2")
            title = textOf(content);
        else if (id == "TXXX" && described.isEmpty())
            described = describedTitle(content);
    });
    if (!artist.isEmpty() && !title.isEmpty())
        return artist + u" - "_s + title;
    for (const QString &name : {title, artist, described}) {
        if (!name.isEmpty())
            return name;
    }
    return std::nullopt;
}
