#pragma once
// This process's memory figures as the benchmarks print them.
#include <QByteArray>
#include <QFile>
#include <QString>

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:", "RssAnon:",
// "RssFile:"); 0 when it cannot be read.
inline long statusKiB(const char* field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').first().toLong();
    return 0;
}
