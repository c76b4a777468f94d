#pragma once
// The launchd domains of the library and its layer over Service Management.
//
// A domain number selects the folder of a job file, the launchd domain jobs
// are submitted to, and whether an administrator's authorization is needed:
//   0 none (no job file, launchd is never asked)
//   1 ~/Library/LaunchAgents/        user launchd
//   2 /Library/LaunchAgents/         user launchd
//   3 /System/Library/LaunchAgents/  system launchd
//   4 /Library/LaunchDaemons/        system launchd
//   5 /System/Library/LaunchDaemons/ system launchd
#include <QList>
#include <QString>
#include <QVariantMap>
#include <optional>

#include "Authorization.h"
#include "CFError.h"

using LDDomainNumber = qint64;

// Any number other than 2 to 5 gives the user's folder of domain 1.
QString launchdDirectoryForDomain(LDDomainNumber domain);
// The folder plus "<label>.plist"; null for a null label, for domain 0, and for
// a label that cannot name a file (see SMJobLabelIsValid).
QString launchdPlistPathForLabel(const QString& label, LDDomainNumber domain);
// kSMDomainUserLaunchd below 3, kSMDomainSystemLaunchd from 3 on.
QString smDomainForLaunchDomain(LDDomainNumber domain);
// launchd's dictionary of the job; empty for domain 0, a null label, or a job launchd does not hold.
QVariantMap launchdCopyJobDictionary(LDDomainNumber domain, const QString& label);
bool launchdJobIsLoaded(const QString& label, LDDomainNumber domain);

// Domain 0 answers NO and leaves the error alone; launchd's error is handed on unchanged.
bool launchdSubmitJob(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                      CFError* error);
// Waits until the job has stopped.
bool launchdRemoveJob(LDDomainNumber domain, const QString& label, AuthorizationRef authorization, CFError* error);
bool launchdJobIsListed(const QString& label, LDDomainNumber domain);
QList<QVariantMap> launchdCopyAllJobDictionaries(LDDomainNumber domain);
// Removes the job, then (only then) its job file.
bool launchdRemoveJobAndPlist(LDDomainNumber domain, const QString& label, AuthorizationRef authorization,
                              CFError* error);
// Writes the job file (mode 0644, owned by root) where the current user cannot:
// directly as root, else by one-shot jobs that run as the administrator, from a
// copy only the user can read that is gone again once they have run.
bool writeLaunchdPlistPrivileged(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                                 CFError* error);
// A missing file answers YES.
bool removePrivilegedFile(const QString& path, AuthorizationRef authorization, CFError* error);
bool launchdBlessHelper(LDDomainNumber domain, const QString& label, AuthorizationRef authorization, CFError* error);
// Removes the helper's job, its job file and its program in /Library/PrivilegedHelperTools;
// the answer is the job removal's.
bool removePrivilegedHelperTool(LDDomainNumber domain, const QString& label, AuthorizationRef authorization,
                                CFError* error);
bool launchdSubmitAndWritePlist(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                                CFError* error);

// Whether the file writes above act as root themselves; nullopt asks the system.
void setRunsAsRootForTesting(std::optional<bool> root);

// The name of group 0 ("root" here, "wheel" on a Mac): the group of root-owned files.
QString launchdRootGroupName();
