#pragma once

#include <algorithm>
#include <csignal>

#include <sys/resource.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QString>

// A file's whole content; empty when it cannot be read.
inline QByteArray fileContents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a file whole, its folder made first; returns the path. A test cannot
// go on without its files, so a failure ends it.
inline QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Lowers a soft limit (file size, open files) until the guard goes. A write
// past a file-size limit then fails with EFBIG, as on a full disk, rather
// than ending the test with SIGXFSZ.
inline auto lowerLimit(int resource, rlim_t soft)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(resource, &saved);
    const rlimit lowered{std::min(soft, saved.rlim_max), saved.rlim_max};
    setrlimit(resource, &lowered);
    return qScopeGuard([resource, saved] { setrlimit(resource, &saved); });
}
