#pragma once
// Reading a launchd job dictionary the way launchd reads it, for the layers
// that run jobs on this system.
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace LaunchdJob {

// The program to run and its argument vector, argv[0] included: "Program" when
// set, else the first of "ProgramArguments"; the vector is "ProgramArguments",
// or the program alone.
struct Command {
    QString program;
    QStringList arguments;
};

// A null string when the job can be run; otherwise why not, in words.
QString problemWithJob(const QVariantMap& job);
Command commandOf(const QVariantMap& job);
QString labelOf(const QVariantMap& job);
bool boolValue(const QVariantMap& job, const QString& key);
// RunAtLoad, or KeepAlive true, which launchd starts at once too.
bool startsAtLoad(const QVariantMap& job);
bool isOneShot(const QVariantMap& job);
// Seconds between SIGTERM and SIGKILL: ExitTimeOut, 20 by default as in launchd.
int exitTimeOut(const QVariantMap& job);

}  // namespace LaunchdJob
