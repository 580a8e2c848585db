#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>

// CPU time a process has used so far, user and system, from /proc/<pid>/stat.
inline double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // utime and stime are the 14th and 15th fields; the name before them may hold spaces.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(::sysconf(_SC_CLK_TCK));
}
