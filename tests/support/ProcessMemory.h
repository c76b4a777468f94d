#pragma once
// Memory figures of a running process, from /proc/<pid>/status.
#include <QByteArray>
#include <QFile>
#include <QString>

// The field ("VmRSS", "VmHWM" ...) in KiB, or -1.
inline qint64 processKilobytes(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = field + ':';
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
