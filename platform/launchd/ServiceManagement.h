#pragma once
// Service Management: submitting jobs to launchd, removing them and reading
// launchd's view of them, with the Mac shapes.
//
// The user's domain is served by the systemd user manager when one answers on
// the session bus (each job a user service), otherwise by a job table in the
// user's folder from which programs are started directly (not kept alive).
// The system domain only runs one-shot jobs (RunAtLoad and LaunchOnlyOnce) with
// an authorization, as the administrator, and waits for them; anything else
// there, and SMJobBless, answers that it is not supported on this system.
#include <QList>
#include <QString>
#include <QVariantMap>

#include "Authorization.h"
#include "CFError.h"

inline const QString kSMDomainUserLaunchd = QStringLiteral("kSMDomainUserLaunchd");
inline const QString kSMDomainSystemLaunchd = QStringLiteral("kSMDomainSystemLaunchd");

// launchd's own errors carry an errno value (or a one-shot job's exit status);
// the framework's carry the codes below.
inline const QString kSMErrorDomainLaunchd = QStringLiteral("kSMErrorDomainLaunchd");
inline const QString kSMErrorDomainFramework = QStringLiteral("kSMErrorDomainFramework");

enum : qint64 {
    kSMErrorInternalFailure = 2,
    kSMErrorInvalidSignature = 3,
    kSMErrorAuthorizationFailure = 4,
    kSMErrorToolNotValid = 5,
    kSMErrorJobNotFound = 6,
    kSMErrorServiceUnavailable = 7,
    kSMErrorJobPlistNotFound = 8,
    kSMErrorJobMustBeEnabled = 9,
    kSMErrorInvalidPlist = 10,
};

bool SMJobSubmit(const QString& domain, const QVariantMap& job, AuthorizationRef authorization, CFError* outError);
// With wait, returns once the job's program has stopped.
bool SMJobRemove(const QString& domain, const QString& jobLabel, AuthorizationRef authorization, bool wait,
                 CFError* outError);
// launchd's dictionary of a job it holds: the submitted keys, with "PID" while
// it runs and "LastExitStatus" once it has exited. Empty when it holds none.
QVariantMap SMJobCopyDictionary(const QString& domain, const QString& jobLabel);
QList<QVariantMap> SMCopyAllJobDictionaries(const QString& domain);
bool SMJobBless(const QString& domain, const QString& executableLabel, AuthorizationRef authorization,
                CFError* outError);

// A label that can name a job file and a user service: letters, digits, ".", "-"
// and "_", not starting with "." or "-", at most 200 characters.
bool SMJobLabelIsValid(const QString& label);
