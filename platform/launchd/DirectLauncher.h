#pragma once
// Starting a job's program directly, for a user domain without a service
// manager, and stopping it again the way launchd does (SIGTERM, then SIGKILL
// after the job's exit timeout). A process is known by its PID together with
// its start time, so a PID the kernel has handed to another process is never
// signalled.
#include <QString>
#include <QVariantMap>

namespace DirectLauncher {

// Starts the program detached with the job's working folder, environment and
// standard streams; a null string on success, otherwise why it failed.
QString start(const QVariantMap& job, qint64* pid, qint64* startTime);
// The process's start time in clock ticks after boot, or -1 when no live
// process (zombies included) has that PID.
qint64 processStartTime(qint64 pid);
bool isRunning(qint64 pid, qint64 startTime);
// With a timeout of 0 only sends SIGTERM; otherwise waits for the process to
// end, sending SIGKILL after the timeout. True when it is gone.
bool stop(qint64 pid, qint64 startTime, int timeoutSeconds);

}  // namespace DirectLauncher
