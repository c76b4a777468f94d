#include "NSFileManager+Privileged.h"

#include <QFileInfo>

#include "LDAuthorizer.h"
#include "LDLaunchCtl.h"
#include "LDLaunchd.h"
#include "PropertyList.h"

namespace Privileged {

namespace {

constexpr LDDomainNumber kSystemDomain = 5;

bool exists(const QString& path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && (info.exists() || info.isSymLink());
}

bool submit(const QString& label, const QStringList& arguments, AuthorizationRef authorization, CFError* error)
{
    LDLaunchJob job = FileManagerJob();
    job.setLabel(label);
    job.setProgramArguments(arguments);
    return launchdSubmitJob(kSystemDomain, job.dictionary().value_or(QVariantMap()), authorization, error);
}

// One authorization, one job; no reference means NO without an error.
bool runAuthorized(const QString& label, const QString& prompt, const QStringList& arguments, CFError* error)
{
    AuthorizationRef authorization = nullptr;
    LDAuthorizer::authorizeSystemDaemonWithLabel(label, prompt, &authorization);
    if (!authorization)
        return false;
    const bool submitted = submit(label, arguments, authorization, error);
    LDAuthorizer::authorizationFree(authorization);
    return submitted;
}

}  // namespace

LDLaunchJob FileManagerJob()
{
    LDLaunchJob job;
    job.setLaunchOnlyOnce(true);
    job.setRunAtLoad(true);
    return job;
}

bool testSource(const QString& source, const QString& andDest, CFError* error)
{
    const QFileInfo from(source);
    const QFileInfo to(andDest);
    if (!exists(source))
        return LDLaunchCtl::errorWithMessage(QStringLiteral("there was no file found at specified location"), 1, error);
    if (from.isDir())
        return LDLaunchCtl::errorWithMessage(QStringLiteral("You specified a directory not a file"), 1, error);
    if (exists(andDest) && !to.isDir())
        return LDLaunchCtl::errorWithMessage(QStringLiteral("You specified a file not a directory"), 1, error);
    if (!exists(andDest))
        return LDLaunchCtl::errorWithMessage(QStringLiteral("there was no folder found at that location"), 1, error);
    return true;
}

bool moveItemAtPath(const QString& path, const QString& toPrivilegedLocation, bool, CFError* error)
{
    if (!testSource(path, toPrivilegedLocation, error))
        return false;
    return runAuthorized(QStringLiteral("com.plovera.launchctl.filemove"),
                         QStringLiteral("Trying to move a file to a privileged location"),
                         {QStringLiteral("/bin/mv"), QStringLiteral("--"), path, toPrivilegedLocation}, error);
}

bool copyItemAtPath(const QString& path, const QString& toPrivilegedLocation, bool, CFError* error)
{
    if (!testSource(path, toPrivilegedLocation, error))
        return false;
    return runAuthorized(QStringLiteral("com.plovera.launchctl.filecopy"),
                         QStringLiteral("Trying to copy a file to a privileged location"),
                         {QStringLiteral("/bin/cp"), QStringLiteral("-a"), QStringLiteral("--"), path, toPrivilegedLocation},
                         error);
}

bool deleteItemAtPrivilegedPath(const QString& path, CFError* error)
{
    if (!exists(path))
        return false;
    return runAuthorized(QStringLiteral("com.plovera.launchctl.filedelete"),
                         QStringLiteral("Trying to remove a file from a privileged location"),
                         {QStringLiteral("/bin/rm"), QStringLiteral("--"), path}, error);
}

bool setAttributes(const QVariantMap& attributes, const QString& ofItemAtPrivilegedPath, CFError* error)
{
    if (!exists(ofItemAtPrivilegedPath))
        return false;
    const QVariant permissions = attributes.value(kFilePosixPermissions);
    const bool hasMode = attributes.contains(kFilePosixPermissions);
    if (hasMode && (!PropertyList::isInteger(permissions) || permissions.toLongLong() < 0 ||
                    permissions.toLongLong() > 07777))
        return LDLaunchCtl::errorWithMessage(QStringLiteral("The file permissions must be a number from 0 to 07777."), 1,
                                             error);
    AuthorizationRef authorization = nullptr;
    LDAuthorizer::authorizeSystemDaemonWithLabel(
        QStringLiteral("com.plovera.launchctl.filechown"),
        QStringLiteral("Trying to modify attributes of a file in a privileged location"), &authorization);
    if (!authorization)
        return false;
    bool answer = false;
    if (hasMode) {
        const QString mode = QString::number(permissions.toLongLong(), 8);
        answer = submit(QStringLiteral("com.plovera.launchctl.filechmod"),
                        {QStringLiteral("/bin/chmod"), QStringLiteral("--"), mode, ofItemAtPrivilegedPath}, authorization,
                        error);
    }
    const bool hasOwner = attributes.contains(kFileOwnerAccountName);
    const bool hasGroup = attributes.contains(kFileGroupOwnerAccountName);
    // A failed chmod is the answer; a later success must not hide it.
    if ((hasOwner || hasGroup) && (answer || !hasMode)) {
        QString owner = hasOwner ? attributes.value(kFileOwnerAccountName).toString() : QString();
        if (hasGroup)
            owner += QLatin1Char(':') + attributes.value(kFileGroupOwnerAccountName).toString();
        answer = submit(QStringLiteral("com.plovera.launchctl.filechown"),
                        {QStringLiteral("/bin/chown"), QStringLiteral("--"), owner, ofItemAtPrivilegedPath}, authorization,
                        error);
    }
    LDAuthorizer::authorizationFree(authorization);
    return answer;
}

}  // namespace Privileged
