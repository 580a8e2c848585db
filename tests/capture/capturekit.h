#pragma once

#include <memory>
#include <random>

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "model/recording.h"
#include "platform/clock.h"
#include "stationsimulator.h"

// Shared set-up of the capture tests: a recording whose track folder is the
// test's scratch music folder, and what a station sends it.
namespace CaptureKit {

inline QString trackFolder()
{
    return Recording::trackFolder();
}

inline void clearTrackFolder()
{
    QDir(trackFolder()).removeRecursively();
}

inline QStringList trackFiles()
{
    QStringList names = QDir(trackFolder()).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

inline QByteArray readTrack(const QString &fileName)
{
    QFile file(trackFolder() + u'/' + fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A recording in the middle of a capture, with no hand-off.
inline std::unique_ptr<Recording> capturing(const QString &name)
{
    auto r = Recording::initWithName(name);
    r->playList.clear();
    r->inProgress = true;
    r->startDate = Clock::now();
    return r;
}

inline HttpResponse icyResponse(qint32 metaInterval,
                                const QString &mimeType = QStringLiteral("audio/mpeg"))
{
    HttpResponse response;
    response.isHttp = true;
    response.statusCode = 200;
    response.mimeType = mimeType;
    response.headerFields.append({QStringLiteral("Content-Type"), mimeType});
    if (metaInterval != 0)
        response.headerFields.append(
            {QStringLiteral("icy-metaint"), QString::number(metaInterval)});
    return response;
}

// Feeds the bytes in chunks of seeded random sizes, a quarter of them single
// bytes, so that boundaries fall inside length bytes and blocks.
inline void feedChunked(Recording &r, const QByteArray &wire, quint32 seed, int maxChunk)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> size(1, maxChunk);
    qsizetype at = 0;
    while (at < wire.size() && r.inProgress) {
        const qsizetype n =
            std::min<qsizetype>(random() % 4 == 0 ? 1 : size(random), wire.size() - at);
        r.connectionDidReceiveData(QByteArrayView(wire.constData() + at, n));
        at += n;
    }
}

} // namespace CaptureKit
