#include "LDLaunchd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <grp.h>

#include "LDLaunchJob.h"
#include "OwnFile.h"
#include "PropertyList.h"
#include "ServiceManagement.h"

namespace {

const QString kPrivilegedHelperTools = QStringLiteral("/Library/PrivilegedHelperTools/");

// The file manager's own error domain and codes.
const QString kCocoaErrorDomain = QStringLiteral("NSCocoaErrorDomain");
constexpr qint64 kFileNoSuchFileError = 4;
constexpr qint64 kFileWriteUnknownError = 512;

bool fileError(CFError* error, qint64 code, const QString& message)
{
    if (error)
        *error = CFError::make(kCocoaErrorDomain, code, message);
    return false;
}

bool writeAtomically(const QString& path, const QByteArray& bytes)
{
    std::string reason;
    return OwnFile::replace(QFile::encodeName(path).toStdString(), bytes.toStdString(), 0644, &reason);
}

constexpr QFileDevice::Permissions kMode0644 = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther;
constexpr QFileDevice::Permissions kMode0600 = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

std::optional<bool> rootForTesting;

bool runsAsRoot()
{
    return rootForTesting.value_or(SystemAuthority::runsAsRoot());
}

// A job that launchd runs once, at once.
QVariantMap oneShotJob(const QString& label, const QStringList& arguments)
{
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgramArguments(arguments);
    job.setRunAtLoad(true);
    job.setLaunchOnlyOnce(true);
    return job.dictionary().value_or(QVariantMap());
}

// Runs a one-shot job as the administrator in domain 4. The submission returns
// once the command has run and answers with its exit status, so there is
// nothing left to wait for; a job still listed afterwards is removed.
bool runOneShot(const QString& label, const QStringList& arguments, AuthorizationRef authorization, CFError* error)
{
    const bool submitted = launchdSubmitJob(4, oneShotJob(label, arguments), authorization, error);
    if (submitted && launchdJobIsListed(label, 4))
        launchdRemoveJob(4, label, authorization, nullptr);
    return submitted;
}

}  // namespace

QString launchdDirectoryForDomain(LDDomainNumber domain)
{
    switch (domain) {
    case 2:
        return QStringLiteral("/Library/LaunchAgents/");
    case 3:
        return QStringLiteral("/System/Library/LaunchAgents/");
    case 4:
        return QStringLiteral("/Library/LaunchDaemons/");
    case 5:
        return QStringLiteral("/System/Library/LaunchDaemons/");
    default:
        return QDir::homePath() + QStringLiteral("/Library/LaunchAgents/");
    }
}

QString launchdPlistPathForLabel(const QString& label, LDDomainNumber domain)
{
    if (label.isNull() || domain == 0 || !SMJobLabelIsValid(label))
        return {};
    return launchdDirectoryForDomain(domain) + label + QStringLiteral(".plist");
}

QString smDomainForLaunchDomain(LDDomainNumber domain)
{
    return domain < 3 ? kSMDomainUserLaunchd : kSMDomainSystemLaunchd;
}

QVariantMap launchdCopyJobDictionary(LDDomainNumber domain, const QString& label)
{
    if (domain == 0 || label.isNull())
        return {};
    return SMJobCopyDictionary(smDomainForLaunchDomain(domain), label);
}

bool launchdJobIsLoaded(const QString& label, LDDomainNumber domain)
{
    return !launchdCopyJobDictionary(domain, label).isEmpty();
}

bool launchdSubmitJob(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                      CFError* error)
{
    if (domain == 0)
        return false;
    return SMJobSubmit(smDomainForLaunchDomain(domain), dictionary, authorization, error);
}

bool launchdRemoveJob(LDDomainNumber domain, const QString& label, AuthorizationRef authorization, CFError* error)
{
    if (domain == 0)
        return false;
    return SMJobRemove(smDomainForLaunchDomain(domain), label, authorization, true, error);
}

QList<QVariantMap> launchdCopyAllJobDictionaries(LDDomainNumber domain)
{
    return SMCopyAllJobDictionaries(smDomainForLaunchDomain(domain));
}

bool launchdJobIsListed(const QString& label, LDDomainNumber domain)
{
    const QList<QVariantMap> jobs = launchdCopyAllJobDictionaries(domain);
    return std::any_of(jobs.begin(), jobs.end(), [&label](const QVariantMap& job) {
        return job.value(QStringLiteral("Label")) == QVariant(label);
    });
}

bool launchdRemoveJobAndPlist(LDDomainNumber domain, const QString& label, AuthorizationRef authorization,
                              CFError* error)
{
    if (!launchdRemoveJob(domain, label, authorization, error))
        return false;
    return removePrivilegedFile(launchdPlistPathForLabel(label, domain), authorization, error);
}

bool writeLaunchdPlistPrivileged(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                                 CFError* error)
{
    const QVariant labelValue = dictionary.value(QStringLiteral("Label"));
    const QString label = labelValue.typeId() == QMetaType::QString ? labelValue.toString() : QString();
    if (label.isEmpty())
        return false;
    const QString target = launchdPlistPathForLabel(label, domain);
    if (target.isNull())
        return false;
    const QByteArray bytes = PropertyList::toData(dictionary, PropertyList::Format::Xml);

    if (runsAsRoot()) {
        if (!writeAtomically(target, bytes) || !QFile::setPermissions(target, kMode0644))
            return fileError(error, QFileInfo::exists(target) ? kFileWriteUnknownError : kFileNoSuchFileError,
                             QStringLiteral("Cannot write %1.").arg(target));
        return true;
    }

    // The job may carry secrets in its environment: until the administrator
    // takes it, only the user can read it, and it never outlives this call.
    const QTemporaryDir folder;
    const QString temporary = folder.filePath(label + QStringLiteral(".plist"));
    QFile file(temporary);
    if (!folder.isValid() || !file.open(QIODevice::WriteOnly) || !file.setPermissions(kMode0600) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return fileError(error, kFileWriteUnknownError, QStringLiteral("Cannot write %1.").arg(temporary));
    file.close();
    // The administrator makes a file of its own from the copy and renames it over
    // the target, so no descriptor the user may still hold on the copy reaches a
    // job file the administrator owns. The copy lies in a folder of the user's,
    // who could swap it for a link to a file only root may read: it is read
    // without following a link, and the new file is made only where nothing
    // stands (a link or a file placed there meanwhile fails the write). A failed
    // command's own error is the one to report; a file left behind is removed.
    const QString fresh = target + QStringLiteral(".new");
    const QString prefix = QStringLiteral("com.plovera.ldlaunchctl.");
    if (!removePrivilegedFile(fresh, authorization, error))
        return false;
    const bool written =
        runOneShot(prefix + QStringLiteral("write.") + label,
                   {QStringLiteral("/bin/dd"), QStringLiteral("iflag=nofollow"), QStringLiteral("oflag=nofollow"),
                    QStringLiteral("conv=excl,fsync"), QStringLiteral("status=none"), QStringLiteral("if=") + temporary,
                    QStringLiteral("of=") + fresh},
                   authorization, error) &&
        runOneShot(prefix + QStringLiteral("mode.") + label,
                   {QStringLiteral("/bin/chmod"), QStringLiteral("644"), QStringLiteral("--"), fresh}, authorization,
                   error) &&
        runOneShot(prefix + QStringLiteral("rename.") + label,
                   {QStringLiteral("/bin/mv"), QStringLiteral("-f"), QStringLiteral("-T"), QStringLiteral("--"), fresh,
                    target},
                   authorization, error);
    if (!written)
        removePrivilegedFile(fresh, authorization, nullptr);
    return written;
}

bool removePrivilegedFile(const QString& path, AuthorizationRef authorization, CFError* error)
{
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
        return true;
    if (runsAsRoot()) {
        const bool removed = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively() : QFile::remove(path);
        return removed || fileError(error, kFileWriteUnknownError, QStringLiteral("Cannot remove %1.").arg(path));
    }
    return runOneShot(QStringLiteral("com.plovera.ldlaunchctl.remove.") + info.fileName(),
                      {QStringLiteral("/bin/rm"), QStringLiteral("--"), path}, authorization, error);
}

bool launchdBlessHelper(LDDomainNumber domain, const QString& label, AuthorizationRef authorization, CFError* error)
{
    if (domain == 0)
        return false;
    if (launchdJobIsLoaded(label, domain))
        removePrivilegedHelperTool(domain, label, authorization, nullptr);
    return SMJobBless(kSMDomainSystemLaunchd, label, authorization, error);
}

bool removePrivilegedHelperTool(LDDomainNumber domain, const QString& label, AuthorizationRef authorization,
                                CFError* error)
{
    if (domain == 0)
        return false;
    const bool removed = launchdRemoveJob(domain, label, authorization, error);
    if (!removePrivilegedFile(launchdPlistPathForLabel(label, domain), authorization, nullptr))
        qWarning("There was a problem removing the launchd.plist of the helper tool.");
    // A label that is not a plain name must not reach outside the helper folder.
    const QString program = SMJobLabelIsValid(label) ? kPrivilegedHelperTools + label : QString();
    if (!removePrivilegedFile(program, authorization, nullptr))
        qWarning("There was a problem removing binary file of the helper tool.");
    return removed;
}

bool launchdSubmitAndWritePlist(LDDomainNumber domain, const QVariantMap& dictionary, AuthorizationRef authorization,
                                CFError* error)
{
    return launchdSubmitJob(domain, dictionary, authorization, error) &&
           writeLaunchdPlistPrivileged(domain, dictionary, authorization, error);
}

void setRunsAsRootForTesting(std::optional<bool> root)
{
    rootForTesting = root;
}

QString launchdRootGroupName()
{
    const group* entry = ::getgrgid(0);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QStringLiteral("root");
}
