#pragma once

#include <optional>

#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// One station as the community radio directory describes it, taken only as
// far as it is safe: its texts are plain, without control characters and cut
// to a sane length, and its stream address is kept only when it is an http or
// https URL that a capture can open. A directory is other people's data: a
// name may hold markup, an address may be "javascript:" or "file:".
struct DirectoryStation
{
    QString uuid;
    QString name;
    QString streamUrl; // the resolved stream where the directory has one
    QString homepage;  // "" unless http or https
    QStringList tags;
    QString country;
    QString countryCode;
    QString language;
    QString codec;
    int bitrate = 0; // kbit/s; 0 unknown
    int votes = 0;
    bool lastCheckOk = false;
    QDateTime lastCheck; // invalid when unknown
    bool hls = false;

    // None for an entry without a name, a uuid or a usable stream address.
    static std::optional<DirectoryStation> fromJson(const QJsonValue &value);
    // A genre for the recording's tags: its first tag, as a title ("Jazz").
    QString genre() const;
};
