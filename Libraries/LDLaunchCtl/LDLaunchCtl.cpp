#include "LDLaunchCtl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cerrno>
#include <unistd.h>

#include "LDAuthorizer.h"
#include "NSBundle.h"
#include "NSString+LDVersion.h"
#include "OwnFile.h"
#include "PropertyList.h"
#include "ServiceManagement.h"
#include "SystemConfiguration.h"

namespace {

const QString kLoadPrompt = QStringLiteral("Loading the job requires authorization.");
const QString kUnloadPrompt = QStringLiteral("Unloading the job requires authorization.");
const QString kReloadPrompt = QStringLiteral("Reloading the job requires authorization.");
const QString kSessionLabel = QStringLiteral("com.plovera.ldlaunchctl.controller.session.authorization");
const QString kSessionPrompt = QStringLiteral("Performing administrative tasks requires authorization.");

const QString kCocoaErrorDomain = QStringLiteral("NSCocoaErrorDomain");
constexpr qint64 kFileNoSuchFileError = 4;
constexpr qint64 kFileWriteUnknownError = 512;

// The texts are also the keys of the "LDLaunchCtl" string table.
const char* const kMessages[] = {
    nullptr,
    "The job label is not valid.",
    "The Submitted Job was missing some required keys",
    "Job not loaded",
    "The specified job already exists",
    "The specified job is already loaded",
    "Could not load job",
    "Unable to install the privileged helper tool",
    "Unable to remove the privileged helper tool",
    "Cannot unload The helper tool, it is not currently loaded.",
    "Unable to remove some files associated with the privileged helper tool",
    "Could not unload job",
    "There were problems reloading the job",
    "Could not find the specified launchd.plist to load the job",
    "The suggested file to remove is a directory.",
    "There were problem writing to the file",
    "More than one job matched that description",
    "You are not authorized to to perform this action",
    "Could not set the Job to run in the proper context",
    "The path specified doesn\u2019t appear to be executable.",
};

// The main bundle's "LDLaunchCtl" table in the first preferred language that has
// one (a compiled table is a property list); an untranslated text is its key.
QString localizedString(const QString& key)
{
    const QString resources = NSBundle::mainBundle().resourcePath();
    QStringList languages;
    for (const QString& language : QLocale::system().uiLanguages()) {
        languages << language << QString(language).replace(QLatin1Char('-'), QLatin1Char('_'))
                  << language.section(QLatin1Char('-'), 0, 0);
    }
    languages << QStringLiteral("en") << QStringLiteral("Base");
    for (const QString& language : languages) {
        const QString path = resources + QLatin1Char('/') + language + QStringLiteral(".lproj/LDLaunchCtl.strings");
        if (!QFileInfo::exists(path))
            continue;
        const QString text = PropertyList::readFile(path).toMap().value(key).toString();
        return text.isEmpty() ? key : text;
    }
    return key;
}

bool hasConsoleUser()
{
    const QString user = SCDynamicStoreCopyConsoleUser(nullptr, nullptr, nullptr);
    return !user.isEmpty() && user != QLatin1String("loginwindow");
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

// The user's job folder is made (0755, as a Mac has it) when missing.
bool makeUserJobFolder(const QString& folder)
{
    QStringList missing;
    for (QString path = QDir::cleanPath(folder); !QFileInfo::exists(path); path = QFileInfo(path).path())
        missing.prepend(path);
    if (missing.isEmpty())
        return QFileInfo(folder).isDir();
    if (!QDir().mkpath(folder))
        return false;
    for (const QString& path : missing) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther);
    }
    return true;
}

bool writeJobFile(const QString& path, const QVariantMap& dictionary)
{
    if (path.isEmpty() || !makeUserJobFolder(QFileInfo(path).path()))
        return false;
    const QByteArray bytes = PropertyList::toData(dictionary, PropertyList::Format::Xml);
    // Renamed into place: a link standing there is replaced, never written through.
    std::string reason;
    return OwnFile::replace(QFile::encodeName(path).toStdString(), bytes.toStdString(), 0644, &reason);
}

bool deleteFile(const QString& path, CFError* error)
{
    if (QFile::remove(path))
        return true;
    if (error)
        *error = CFError::make(kCocoaErrorDomain, QFileInfo::exists(path) ? kFileWriteUnknownError : kFileNoSuchFileError,
                               QStringLiteral("Cannot remove %1.").arg(path));
    return false;
}

bool isNotHeld(const CFError& error)
{
    return error.domain == kSMErrorDomainLaunchd && error.code == ESRCH;
}

QString bundleExecutablePath(const QString& bundlePath)
{
    const QString executable = NSBundle(bundlePath).infoDictionary().value(QStringLiteral("CFBundleExecutable")).toString();
    return executable.isEmpty() ? QString() : QDir::cleanPath(bundlePath) + QStringLiteral("/Contents/MacOS/") + executable;
}

}  // namespace

QString LDLaunchCtl::messageForCode(qint64 code)
{
    if (code >= 1 && code <= 19)
        return localizedString(QString::fromUtf8(kMessages[code]));
    const QString message = SecCopyErrorMessageString(static_cast<OSStatus>(code));
    return message.isEmpty() ? localizedString(QStringLiteral("An unknown problem occurred")) : message;
}

LDLaunchCtl& LDLaunchCtl::sharedController()
{
    static LDLaunchCtl controller{Shared{}};
    return controller;
}

LDLaunchCtl::LDLaunchCtl() = default;

LDLaunchCtl::LDLaunchCtl(Shared)
    : m_isShared(true)
{
}

LDLaunchCtl::~LDLaunchCtl()
{
    deauthorize();
}

bool LDLaunchCtl::authorize()
{
    return authorizeWithPrompt(kSessionPrompt);
}

bool LDLaunchCtl::authorizeWithPrompt(const QString&)
{
    if (m_authorization)
        return true;
    if (m_isShared) {
        qWarning("You cannot create session authorization for the shared controller.");
        return false;
    }
    return LDAuthorizer::authorizeSystemDaemonWithLabel(kSessionLabel, kSessionPrompt, &m_authorization) ==
           errAuthorizationSuccess;
}

void LDLaunchCtl::deauthorize()
{
    LDAuthorizer::authorizationFree(m_authorization);
    m_authorization = nullptr;
}

void LDLaunchCtl::release(AuthorizationRef authorization) const
{
    if (!m_authorization)
        LDAuthorizer::authorizationFree(authorization);
}

bool LDLaunchCtl::jobIsValid(const LDLaunchJob& job, CFError* error)
{
    // launchd runs Program when it is given, so a job of Program alone (a login
    // item, a scheduled program) is valid when that is executable.
    const QStringList arguments = job.ProgramArguments();
    const QString executable = !job.Program().isEmpty() ? job.Program() : arguments.value(0);
    if (!isExecutableFile(executable))
        return errorWithCode(19, error);
    if (job.Label().isEmpty())
        return errorWithCode(2, error);
    // The label names the job file and the service; it must not reach out of its folder.
    if (!SMJobLabelIsValid(job.Label()))
        return errorWithCode(1, error);
    return true;
}

bool LDLaunchCtl::createAuthorization(AuthorizationRef* authorization, LDDomainNumber domain, const QString& label,
                                      const QString& prompt, CFError* error)
{
    if (domain < 2)
        return true;
    if (m_authorization) {
        *authorization = m_authorization;
        return true;
    }
    const OSStatus status = LDAuthorizer::authorizeSystemDaemonWithLabel(label, prompt, authorization);
    if (status == errAuthorizationSuccess)
        return true;
    return errorWithCode(status == errAuthorizationCanceled ? errAuthorizationCanceled : 17, error);
}

bool LDLaunchCtl::add(LDLaunchJob& job, LDDomainNumber toDomain, CFError* error)
{
    if (!jobIsValid(job, error))
        return false;
    const QVariantMap dictionary = job.dictionary().value_or(QVariantMap());
    AuthorizationRef authorization = nullptr;
    if (toDomain < 2) {
        if (!writeJobFile(launchdPlistPathForLabel(job.Label(), toDomain), dictionary))
            return errorWithCode(15, error);
    } else {
        if (!createAuthorization(&authorization, toDomain, job.Label(), kLoadPrompt, error))
            return false;
        if (!writeLaunchdPlistPrivileged(toDomain, dictionary, authorization, error)) {
            release(authorization);
            return false;
        }
    }
    const bool loaded = load(job, toDomain, authorization, error);
    release(authorization);
    return loaded;
}

bool LDLaunchCtl::remove(const QString& label, LDDomainNumber fromDomain, CFError* error)
{
    if (fromDomain < 2) {
        CFError removeError;
        if (!launchdRemoveJob(fromDomain, label, nullptr, &removeError)) {
            if (error && !removeError.domain.isEmpty())
                *error = removeError;
            // A job file whose job the service manager does not hold (after a
            // restart without a user manager, say) would otherwise stay for good.
            const QString path = launchdPlistPathForLabel(label, fromDomain);
            if (isNotHeld(removeError) && !path.isEmpty() && QFileInfo(path).isFile())
                QFile::remove(path);
            return false;
        }
        return deleteFile(launchdPlistPathForLabel(label, fromDomain), error);
    }
    AuthorizationRef authorization = nullptr;
    if (!createAuthorization(&authorization, fromDomain, label, kUnloadPrompt, error))
        return false;
    const bool removed = launchdRemoveJobAndPlist(fromDomain, label, authorization, error);
    release(authorization);
    return removed;
}

bool LDLaunchCtl::load(LDLaunchJob& job, LDDomainNumber inDomain, AuthorizationRef authRef, CFError* error)
{
    if (inDomain <= 3 && !hasConsoleUser())
        return true;
    if (!launchdSubmitJob(inDomain, job.dictionary().value_or(QVariantMap()), authRef, error))
        return false;
    job.setDomain(inDomain);
    return true;
}

bool LDLaunchCtl::load(LDLaunchJob& job, LDDomainNumber inDomain, CFError* error)
{
    AuthorizationRef authorization = nullptr;
    if (!createAuthorization(&authorization, inDomain, job.Label(), kLoadPrompt, error))
        return false;
    const bool loaded = load(job, inDomain, authorization, error);
    release(authorization);
    return loaded;
}

bool LDLaunchCtl::unload(const QString& label, LDDomainNumber inDomain, AuthorizationRef authRef, CFError* error)
{
    if (!launchdJobIsLoaded(label, inDomain))
        return errorWithCode(3, error);
    if (inDomain <= 3 && !hasConsoleUser()) {
        qWarning("No User Logged in");
        return true;
    }
    return launchdRemoveJob(inDomain, label, authRef, error);
}

bool LDLaunchCtl::unload(const QString& label, LDDomainNumber inDomain, CFError* error)
{
    AuthorizationRef authorization = nullptr;
    if (!createAuthorization(&authorization, inDomain, label, kUnloadPrompt, error))
        return false;
    const bool unloaded = unload(label, inDomain, authorization, error);
    release(authorization);
    return unloaded;
}

bool LDLaunchCtl::reload(LDLaunchJob& job, LDDomainNumber inDomain, CFError* error)
{
    AuthorizationRef authorization = nullptr;
    if (!createAuthorization(&authorization, inDomain, job.Label(), kReloadPrompt, error))
        return false;
    if (launchdJobIsListed(job.Label(), inDomain) && !unload(job.Label(), inDomain, authorization, error)) {
        release(authorization);
        return errorWithCode(12, error);
    }
    const bool loaded = load(job, inDomain, authorization, error);
    release(authorization);
    return loaded;
}

bool LDLaunchCtl::start(const QString& label, LDDomainNumber inDomain, CFError* error)
{
    if (launchdJobIsLoaded(label, inDomain))
        return errorWithCode(5, error);
    std::optional<LDLaunchJob> job = jobFromFileNamed(label, inDomain);
    if (!job)
        return errorWithCode(13, error);
    return load(*job, inDomain, error);
}

bool LDLaunchCtl::stop(const QString& label, LDDomainNumber inDomain, CFError* error)
{
    return unload(label, inDomain, error);
}

bool LDLaunchCtl::restart(const QString& label, LDDomainNumber inDomain, CFError* error)
{
    std::optional<LDLaunchJob> job = runningJobWithLabel(label, inDomain);
    if (!job)
        return errorWithCode(3, error);
    return reload(*job, inDomain, error);
}

bool LDLaunchCtl::installHelper(const QString& label, const QString& prompt, CFError* error)
{
    if (const std::optional<LDLaunchJob> running = runningJobWithLabel(label, 4)) {
        const QString inside = LDLaunchJob::infoDictionaryForPath(NSBundle::mainBundle().bundlePath() +
                                                                  QStringLiteral("/Contents/Library/LaunchServices/") + label)
                                   .value(QStringLiteral("CFBundleVersion"))
                                   .toString();
        const QString current = running->executableVersion();
        if (!inside.isEmpty() && !current.isEmpty() && LDVersion::ld_version_isLessThanOrEqualTo(inside, current))
            return true;
    }
    AuthorizationRef authorization = nullptr;
    const OSStatus status = LDAuthorizer::authorizeSMJobBlessWithPrompt(prompt, &authorization);
    if (status == errAuthorizationCanceled)
        return errorWithCode(errAuthorizationCanceled, error);
    if (!authorization)
        return errorWithCode(17, error);
    if (launchdJobIsLoaded(label, 4))
        removePrivilegedHelperTool(4, label, authorization, nullptr);
    const bool blessed = launchdBlessHelper(4, label, authorization, error);
    LDAuthorizer::authorizationFree(authorization);
    return blessed || errorWithCode(7, error);
}

bool LDLaunchCtl::uninstallHelper(const QString& label, const QString& prompt, CFError* error)
{
    if (!launchdJobIsLoaded(label, 4))
        return errorWithCode(9, error);
    AuthorizationRef authorization = nullptr;
    const OSStatus status = LDAuthorizer::authorizeSystemDaemonWithLabel(label, prompt, &authorization);
    if (status == errAuthorizationCanceled)
        return errorWithCode(errAuthorizationCanceled, error);
    if (!authorization)
        return errorWithCode(17, error);
    const bool removed = removePrivilegedHelperTool(4, label, authorization, error);
    LDAuthorizer::authorizationFree(authorization);
    return removed || errorWithCode(8, error);
}

bool LDLaunchCtl::uninstallHelper(const QString& label, CFError* error)
{
    return uninstallHelper(
        label,
        QStringLiteral("%1 is trying to uninstall a the helper tool and it's components.").arg(LDAuthorizer::processName()),
        error);
}

bool LDLaunchCtl::removeFilesForHelperWithLabel(const QString&, CFError*)
{
    return true;
}

bool LDLaunchCtl::launchAtLogin(const QString& applicationPath, bool launch, bool global, bool keepAlive,
                                CFError* error)
{
    const QString identifier = NSBundle(applicationPath).bundleIdentifier();
    const QString label = identifier.isEmpty() ? QString() : identifier + QStringLiteral(".launcher");
    const LDDomainNumber domain = global ? 2 : 1;
    LDLaunchCtl controller;
    if (!launch)
        return controller.remove(label, domain, error);
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgram(bundleExecutablePath(applicationPath));
    job.setRunAtLoad(true);
    job.setKeepAlive(QVariantMap{{QStringLiteral("SuccessfulExit"), keepAlive}});
    return controller.add(job, domain, error);
}

void LDLaunchCtl::scheduleJob(const QString& label, const QString& program, quint32 interval, LDDomainNumber domain,
                              const Reply& reply)
{
    scheduleJob(label, program, QStringList(), interval, domain, reply);
}

void LDLaunchCtl::scheduleJob(const QString& label, const QString& program, const QStringList& programArguments,
                              quint32 interval, LDDomainNumber domain, const Reply& reply)
{
    LDLaunchJob job;
    job.setLabel(label);
    job.setProgram(program);
    job.setProgramArguments(programArguments);
    job.setRunAtLoad(true);
    job.setStartInterval(interval);
    LDLaunchCtl controller;
    CFError error;
    const bool added = controller.add(job, domain, &error);
    if (reply)
        reply(added || error.domain.isEmpty() ? nullptr : &error);
}

QList<LDLaunchJob> LDLaunchCtl::jobMatch(const Predicate& predicate, LDDomainNumber domain)
{
    QList<LDLaunchJob> jobs;
    for (const QVariantMap& dictionary : launchdCopyAllJobDictionaries(domain)) {
        if (!predicate || predicate(dictionary))
            jobs.append(LDLaunchJob::jobFromDictionary(dictionary, domain));
    }
    return jobs;
}

QList<LDLaunchJob> LDLaunchCtl::allRunningJobsInDomain(LDDomainNumber domain)
{
    return jobMatch(nullptr, domain);
}

QList<LDLaunchJob> LDLaunchCtl::runningJobsMatching(const QString& match, LDDomainNumber inDomain)
{
    return jobMatch(
        [&match](const QVariantMap& job) {
            return job.value(QStringLiteral("Label")).toString().contains(match, Qt::CaseInsensitive) ||
                   job.value(QStringLiteral("Program")).toString().contains(match, Qt::CaseInsensitive);
        },
        inDomain);
}

std::optional<LDLaunchJob> LDLaunchCtl::runningJobWithLabel(const QString& label, LDDomainNumber inDomain)
{
    const QVariantMap dictionary = launchdCopyJobDictionary(inDomain, label);
    if (!dictionary.isEmpty())
        return LDLaunchJob::jobFromDictionary(dictionary, inDomain);
    const QList<LDLaunchJob> matching = runningJobsMatching(label, inDomain);
    if (matching.isEmpty())
        return std::nullopt;
    return matching.last();
}

QList<LDLaunchJob> LDLaunchCtl::allJobsFromFilesInDomain(LDDomainNumber domain)
{
    QList<LDLaunchJob> jobs;
    const QString folder = launchdDirectoryForDomain(domain);
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                       QDir::Name);
    for (const QString& entry : entries) {
        const QVariant contents = PropertyList::readFile(folder + QLatin1Char('/') + entry);
        if (contents.typeId() == QMetaType::QVariantMap)
            jobs.append(LDLaunchJob::jobFromDictionary(contents.toMap(), domain));
    }
    return jobs;
}

std::optional<LDLaunchJob> LDLaunchCtl::jobFromFileNamed(const QString& name, LDDomainNumber inDomain)
{
    QString label = name;
    if (label.endsWith(QLatin1String(".plist")))
        label.chop(6);
    for (const LDLaunchJob& job : allJobsFromFilesInDomain(inDomain)) {
        if (job.Label() == label)
            return job;
    }
    return std::nullopt;
}

bool LDLaunchCtl::removeJobFileWithLabel(const QString& label, LDDomainNumber domain, AuthorizationRef, CFError* error)
{
    const QString path = launchdPlistPathForLabel(label, domain);
    const QFileInfo info(path);
    if (path.isEmpty() || (!info.exists() && !info.isSymLink()))
        return true;
    if (info.isDir())
        return errorWithCode(14, error);
    return deleteFile(path, error);
}

bool LDLaunchCtl::errorWithCode(qint64 code, CFError* error)
{
    return errorWithMessage(messageForCode(code), code, error);
}

bool LDLaunchCtl::errorWithMessage(const QString& message, qint64 andCode, CFError* error)
{
    if (error)
        *error = CFError::make(kErrorDomain, andCode, message);
    else
        qWarning("Error: %s", qPrintable(message));
    return andCode == 0;
}

bool LDLaunchCtl::errorWithCFError(const CFError& cfError, qint64 code, CFError* error)
{
    if (error)
        *error = cfError;
    else
        qWarning("Error: %s", qPrintable(cfError.localizedDescription()));
    return code == 0;
}
