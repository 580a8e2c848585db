#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Starts bench_station with the given options and answers the URL of its stream.
inline QString startStation(QProcess &process, const QString &binary, const QStringList &options)
{
    process.start(binary, options);
    if (!process.waitForStarted(10000) || !process.waitForReadyRead(10000))
        return QString();
    const QByteArray port = process.readLine().trimmed();
    return QStringLiteral("http://127.0.0.1:%1/live").arg(QString::fromLatin1(port));
}
