#pragma once
// The systemd user manager as launchd for the user's domain: a job becomes the
// user service "<label>.service" under ~/.config/systemd/user, enabled so that
// the next login starts it as launchd would load the job file, and started now
// when it runs at load. All requests go over the session bus.
#include <QString>
#include <QVariantMap>

#include "CFError.h"

namespace SystemdUserManager {

inline const QString kService = QStringLiteral("org.freedesktop.systemd1");
inline const QString kPath = QStringLiteral("/org/freedesktop/systemd1");
inline const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
inline const QString kUnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
inline const QString kServiceInterface = QStringLiteral("org.freedesktop.systemd1.Service");

// Whether a user manager answers on the session bus.
bool isAvailable();

QString unitDirectory();
QString unitNameForLabel(const QString& label);
// Why the job's texts cannot go into a unit file (a NUL, or a backslash ending
// a line, which would carry the setting on into the next); null when they can.
QString problemWithJob(const QVariantMap& job);
// The unit file for a job that LaunchdJob::problemWithJob and the above accept.
QString unitFile(const QVariantMap& job);
// Whether the unit file of the label in unitDirectory is one we wrote.
bool ownsUnit(const QString& label);
// One ExecStart word, quoted when it holds anything a unit file would read
// differently; "%" and "$" are escaped always.
QString quoteExecWord(const QString& word);

// Refuses (EEXIST) when a unit of that name that we did not write is loaded or
// lies in any folder of the manager's unit path.
bool submit(const QVariantMap& job, CFError* error);
// Stops the service (waiting until it has stopped when asked), disables it and
// deletes its unit file.
bool remove(const QVariantMap& job, bool wait, CFError* error);
// "PID" while the service runs, "LastExitStatus" once its program has exited
// (the exit code, or the negated signal number).
QVariantMap status(const QString& label);

}  // namespace SystemdUserManager
