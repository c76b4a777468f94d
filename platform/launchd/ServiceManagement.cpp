#include "ServiceManagement.h"

#include <cerrno>
#include <cstdio>

#include "AutostartEntry.h"
#include "DirectLauncher.h"
#include "LaunchdJob.h"
#include "SystemdUserManager.h"
#include "UserJobTable.h"

namespace {

bool fail(CFError* outError, const CFError& error)
{
    if (outError)
        *outError = error;
    return false;
}

CFError launchdError(qint64 code, const QString& message)
{
    return CFError::make(kSMErrorDomainLaunchd, code, message);
}

CFError notSupported(const QString& what)
{
    return CFError::make(kSMErrorDomainFramework, kSMErrorServiceUnavailable,
                         QStringLiteral("%1 is not supported on this system.").arg(what));
}

CFError unknownDomain(const QString& domain)
{
    return launchdError(EINVAL, QStringLiteral("“%1” is not a launchd domain.").arg(domain));
}

CFError notHeld(const QString& label)
{
    return launchdError(ESRCH, QStringLiteral("No job with the label “%1” is loaded.").arg(label));
}

CFError tableError(const UserJobTable& table)
{
    return CFError::make(kSMErrorDomainFramework, kSMErrorInternalFailure, table.errorString());
}

// launchd's view of a held job: what was submitted, with its live state.
QVariantMap jobDictionary(const QVariantMap& record)
{
    QVariantMap job = record.value(UserJobTable::kJob).toMap();
    job.remove(QStringLiteral("PID"));
    job.remove(QStringLiteral("LastExitStatus"));
    if (record.value(UserJobTable::kManager).toString() == UserJobTable::kSystemd) {
        job.insert(SystemdUserManager::status(LaunchdJob::labelOf(job)));
    } else {
        const qint64 pid = record.value(UserJobTable::kPID).toLongLong();
        if (DirectLauncher::isRunning(pid, record.value(UserJobTable::kProcessStart).toLongLong()))
            job.insert(QStringLiteral("PID"), pid);
    }
    return job;
}

bool submitUserJob(const QVariantMap& job, CFError* outError)
{
    const QString problem = LaunchdJob::problemWithJob(job);
    if (!problem.isEmpty())
        return fail(outError, launchdError(EINVAL, problem));
    const QString label = LaunchdJob::labelOf(job);
    if (!SMJobLabelIsValid(label))
        return fail(outError, launchdError(EINVAL, QStringLiteral("“%1” is not a valid job label.").arg(label)));

    UserJobTable table;
    if (!table.isOpen())
        return fail(outError, tableError(table));
    if (table.contains(label))
        return fail(outError, launchdError(EEXIST, QStringLiteral("A job with the label “%1” is already loaded.").arg(label)));

    QVariantMap record{{UserJobTable::kJob, job}};
    qint64 pid = 0;
    qint64 startTime = -1;
    if (SystemdUserManager::isAvailable()) {
        if (!SystemdUserManager::submit(job, outError))
            return false;
        // The unit starts it at login now; a login entry from a time without the manager would start a second copy.
        AutostartEntry::remove(label);
        record.insert(UserJobTable::kManager, UserJobTable::kSystemd);
    } else {
        record.insert(UserJobTable::kManager, UserJobTable::kDirect);
        record.insert(UserJobTable::kBootID, UserJobTable::currentBootID());
        if (LaunchdJob::startsAtLoad(job)) {
            const QString failure = DirectLauncher::start(job, &pid, &startTime);
            if (!failure.isEmpty())
                return fail(outError, launchdError(ENOENT, failure));
            record.insert(UserJobTable::kPID, pid);
            record.insert(UserJobTable::kProcessStart, startTime);
            // Nothing else starts it at the next login. A missing entry costs only that start, so the job stays.
            const LaunchdJob::Command command = LaunchdJob::commandOf(job);
            QString reason;
            if (!AutostartEntry::write(label, QStringList{command.program} + command.arguments.mid(1), &reason))
                std::fprintf(stderr, "%s\n", qPrintable(reason));
        }
    }
    table.setRecord(label, record);
    QString reason;
    if (!table.save(&reason)) {
        // A job nobody can find again must not keep running.
        if (record.value(UserJobTable::kManager) == UserJobTable::kSystemd)
            SystemdUserManager::remove(job, false, nullptr);
        else
            DirectLauncher::stop(pid, startTime, 0);
        return fail(outError, CFError::make(kSMErrorDomainFramework, kSMErrorInternalFailure, reason));
    }
    return true;
}

bool removeUserJob(const QString& label, bool wait, CFError* outError)
{
    if (!SMJobLabelIsValid(label))
        return fail(outError, launchdError(EINVAL, QStringLiteral("“%1” is not a valid job label.").arg(label)));
    // Our login entry goes with the job, also when the table no longer holds it (a job of an earlier boot).
    AutostartEntry::remove(label);
    UserJobTable table;
    if (!table.isOpen() || !table.contains(label)) {
        // A unit of ours the table has lost (unreadable, or never saved) would
        // still start at every login.
        const bool lostUnit = SystemdUserManager::ownsUnit(label);
        if (lostUnit && !SystemdUserManager::remove(QVariantMap{{QStringLiteral("Label"), label}}, wait, outError))
            return false;
        if (!table.isOpen())
            return fail(outError, tableError(table));
        return lostUnit || fail(outError, notHeld(label));
    }
    const QVariantMap record = table.record(label);
    const QVariantMap job = record.value(UserJobTable::kJob).toMap();
    if (record.value(UserJobTable::kManager).toString() == UserJobTable::kSystemd) {
        if (!SystemdUserManager::remove(job, wait, outError))
            return false;
    } else {
        const qint64 pid = record.value(UserJobTable::kPID).toLongLong();
        const qint64 startTime = record.value(UserJobTable::kProcessStart).toLongLong();
        if (!DirectLauncher::stop(pid, startTime, wait ? LaunchdJob::exitTimeOut(job) : 0) && wait)
            return fail(outError, launchdError(EBUSY, QStringLiteral("The program of “%1” does not stop.").arg(label)));
    }
    table.removeRecord(label);
    QString reason;
    if (!table.save(&reason))
        return fail(outError, CFError::make(kSMErrorDomainFramework, kSMErrorInternalFailure, reason));
    return true;
}

// A one-shot job in the system domain is a command run once as the administrator.
bool runSystemJob(const QVariantMap& job, AuthorizationRef authorization, CFError* outError)
{
    const QString problem = LaunchdJob::problemWithJob(job);
    if (!problem.isEmpty())
        return fail(outError, launchdError(EINVAL, problem));
    if (!LaunchdJob::isOneShot(job))
        return fail(outError, notSupported(QStringLiteral("Keeping jobs in the system launchd domain")));

    AuthorizationRef own = nullptr;
    if (!authorization) {
        if (!SystemAuthority::runsAsRoot())
            return fail(outError, CFError::make(kSMErrorDomainFramework, kSMErrorAuthorizationFailure,
                                                QStringLiteral("The system launchd domain requires an authorization.")));
        AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &own);
        authorization = own;
    }
    const LaunchdJob::Command command = LaunchdJob::commandOf(job);
    int exitStatus = 0;
    QByteArray standardError;
    const OSStatus status = AuthorizationExecuteWithPrivileges(authorization, command.program, kAuthorizationFlagDefaults,
                                                               command.arguments.mid(1), &exitStatus, &standardError);
    if (own)
        AuthorizationFree(own, kAuthorizationFlagDestroyRights);
    if (status != errAuthorizationSuccess) {
        const qint64 code = status == errAuthorizationToolExecuteFailure ? kSMErrorToolNotValid : kSMErrorAuthorizationFailure;
        QString message = SecCopyErrorMessageString(status);
        if (message.isEmpty())
            message = QStringLiteral("Authorization failed (%1).").arg(status);
        return fail(outError, CFError::make(kSMErrorDomainFramework, code, message));
    }
    if (exitStatus != 0) {
        QString message = QStringLiteral("%1 exited with status %2").arg(command.program).arg(exitStatus);
        const QString details = QString::fromLocal8Bit(standardError).trimmed();
        message += details.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + details;
        CFError error = launchdError(exitStatus, message);
        error.userInfo.insert(QStringLiteral("ExitStatus"), exitStatus);
        return fail(outError, error);
    }
    return true;
}

}  // namespace

bool SMJobLabelIsValid(const QString& label)
{
    if (label.isEmpty() || label.size() > 200 || label.front() == QLatin1Char('.') || label.front() == QLatin1Char('-'))
        return false;
    for (const QChar c : label) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' ||
                             u == '-' || u == '_';
        if (!allowed)
            return false;
    }
    return true;
}

bool SMJobSubmit(const QString& domain, const QVariantMap& job, AuthorizationRef authorization, CFError* outError)
{
    if (domain == kSMDomainUserLaunchd)
        return submitUserJob(job, outError);
    if (domain == kSMDomainSystemLaunchd)
        return runSystemJob(job, authorization, outError);
    return fail(outError, unknownDomain(domain));
}

bool SMJobRemove(const QString& domain, const QString& jobLabel, AuthorizationRef, bool wait, CFError* outError)
{
    if (domain == kSMDomainUserLaunchd)
        return removeUserJob(jobLabel, wait, outError);
    // The system domain never keeps a job: its one-shot jobs are gone once they ran.
    if (domain == kSMDomainSystemLaunchd)
        return fail(outError, notHeld(jobLabel));
    return fail(outError, unknownDomain(domain));
}

QVariantMap SMJobCopyDictionary(const QString& domain, const QString& jobLabel)
{
    if (domain != kSMDomainUserLaunchd || !SMJobLabelIsValid(jobLabel))
        return {};
    UserJobTable table;
    if (!table.isOpen() || !table.contains(jobLabel))
        return {};
    return jobDictionary(table.record(jobLabel));
}

QList<QVariantMap> SMCopyAllJobDictionaries(const QString& domain)
{
    QList<QVariantMap> jobs;
    if (domain != kSMDomainUserLaunchd)
        return jobs;
    UserJobTable table;
    if (!table.isOpen())
        return jobs;
    for (const QString& label : table.labels())
        jobs.append(jobDictionary(table.record(label)));
    return jobs;
}

bool SMJobBless(const QString&, const QString&, AuthorizationRef, CFError* outError)
{
    return fail(outError, notSupported(QStringLiteral("Installing a privileged helper tool")));
}
