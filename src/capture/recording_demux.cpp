#include "model/recording.h"

#include "platform/failures.h"
#include "platform/textencodings.h"
#include "platform/textscan.h"

namespace {

// Without an announced interval, this much of the body is examined for an
// in-band status line and header fields before any of it counts as audio.
constexpr qsizetype sniffLength = 4096;

const QString streamTitleMarker = QStringLiteral("StreamTitle='");

// The boundary of the next metadata block: the smallest positive multiple of
// the interval that is not below dataSize + icyMark.
qint64 nextBoundary(qint64 dataSize, qint32 icyMark, qint32 interval)
{
    const qint64 reached = dataSize + icyMark;
    const qint64 blocks = std::max<qint64>(1, (reached + interval - 1) / interval);
    return blocks * interval;
}

} // namespace

void Recording::connectionDidReceiveData(QByteArrayView data)
{
    const char *bytes = data.data();
    qint64 length = data.size();
    try {
        if (icyInterval != 0) {
            processData(bytes, length);
            return;
        }
        const qint64 take = std::min<qint64>(sniffLength - icyData.size(), length);
        icyData.append(bytes, take);
        bytes += take;
        length -= take;
        if (icyData.size() < sniffLength)
            return;
        takeSniffedBody();
        if (length > 0)
            processData(bytes, length);
    } catch (const NamedFailure &failure) {
        fmtlog("File access error: %@\n", failure.reason());
        endRecord();
    } catch (const std::exception &failure) {
        fmtlog("File access error: %@\n", QString::fromLocal8Bit(failure.what()));
        endRecord();
    }
}

// The first 4096 body bytes of a response that announced no interval: either
// header lines sent inside the body after an "ICY" status line, or audio.
void Recording::takeSniffedBody()
{
    icyInterval = -1;
    // A copy that shares the bytes: the demultiplexer reuses icyData for metadata.
    const QByteArray sniffed = icyData;
    const qsizetype headerEnd = sniffed.indexOf("\r\n\r\n");
    if (sniffed.startsWith("ICY") && headerEnd >= 0) {
        processIcy(langString(sniffed.constData(), headerEnd + 2));
        processData(sniffed.constData() + headerEnd + 4, sniffLength - headerEnd - 4);
    } else {
        processData(sniffed.constData(), sniffLength);
    }
}

void Recording::processData(const char *bytes, qint64 length)
{
    if ((icyInterval < 0 || !splitSongs) && !file)
        openFile(QString());
    for (;;) {
        if (icyLen > 0) {
            const qint64 take = std::min<qint64>(length, icyLen);
            icyData.append(bytes, take);
            bytes += take;
            length -= take;
            icyLen -= qint32(take);
            if (icyLen == 0) {
                icyData.append('\0');
                changeTrack(langString(icyData.constData(), icyData.size()));
            }
        }
        if (length == 0)
            return;
        const qint64 run =
            icyInterval < 0
                ? length
                : std::min(nextBoundary(dataSize, icyMark, icyInterval) - dataSize, length);
        if (run > 0) {
            writeAudio(bytes, run);
            bytes += run;
            length -= run;
            dataSize += run;
            icyMark = 0;
        }
        if (length == 0)
            return;
        icyData.clear();
        icyLen = qint32(static_cast<unsigned char>(*bytes)) * 16;
        icyMark = 1;
        ++bytes;
        --length;
    }
}

void Recording::writeAudio(const char *bytes, qint64 length)
{
    if (!file)
        return;
    if (file->write(bytes, length) != length) {
        throw NamedFailure(
            QStringLiteral("FileWriteFailed"),
            QStringLiteral("Could not write to %1: %2").arg(filePath, file->errorString()));
    }
}

void Recording::processIcy(const QString &headerText)
{
    log(headerText);
    const QStringList lines = headerText.split(QStringLiteral("\r\n"));
    // The last piece has no "\r\n" after it, so it is not a whole line.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QString &line = lines[i];
        const QString lower = line.toLower();
        if (lower.startsWith(QStringLiteral("content-type:"))) {
            if (lower.contains(QStringLiteral("/ogg"))) {
                log(QStringLiteral("Detected ogg from icecast data\n"));
                fileExt = QStringLiteral(".ogg");
            }
        } else if (lower.startsWith(QStringLiteral("icy-genre:"))) {
            genre = line.mid(10).trimmed();
        } else if (lower.startsWith(QStringLiteral("icy-metaint:"))) {
            icyInterval = TextScan::metaInterval(QStringView(line).mid(12));
        }
    }
}

QString Recording::langString(const char *bytes, qint64 length) const
{
    return TextEncodings::decode(QByteArrayView(bytes, length), quint32(shoutLang));
}

void Recording::changeTrack(const QString &blockText)
{
    if (blockText == icyLast)
        return;
    const qsizetype marker = blockText.indexOf(streamTitleMarker, 0, Qt::CaseInsensitive);
    if (marker < 0) {
        if (reconnect)
            willResume = true;
        throw NamedFailure(QStringLiteral("LostStreamSync"),
                           QStringLiteral("Lost sync with shoutcast data, disconnecting"));
    }
    // The zero padding of the block stays out of the log and the title: it is
    // not text, and it would end up in file names and tags.
    QString shown = blockText;
    shown.remove(QChar(u'\0'));
    fmtlog("Got shoutcast data: %@\n", shown);
    const qsizetype begin = marker + streamTitleMarker.size();
    const qsizetype end = blockText.indexOf(QStringLiteral("';"), begin);
    QString streamTitle = blockText.mid(begin, end < 0 ? -1 : end - begin);
    streamTitle.remove(QChar(u'\0'));
    const bool firstTitle = icyLast.isEmpty();
    icyLast = blockText;
    decideTrack(streamTitle, firstTitle);
}
