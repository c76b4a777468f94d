#pragma once
// The tests' stand-ins for the privileged tool are scripts that note their
// command line and end. A run is started detached, and its start returns once
// the script runs; so when no run of the tool is left, every run started so far
// has written its line.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

inline bool toolRunsEnded(const QString& tool)
{
    const QByteArray path = QFile::encodeName(tool);
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        QFile commandLine(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (numeric && commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().split('\0').contains(path))
            return false;
    }
    return true;
}
