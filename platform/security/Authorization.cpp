#include "Authorization.h"

#include <cerrno>
#include <grp.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

struct AuthorizationOpaqueRef {
    std::vector<std::string> rights;
};

namespace {

constexpr AuthorizationFlags kKnownFlags = kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights |
                                           kAuthorizationFlagPartialRights | kAuthorizationFlagDestroyRights |
                                           kAuthorizationFlagPreAuthorize;

// pkexec's own statuses: the dialog was dismissed, or authorization failed.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

std::mutex registryMutex;
std::set<AuthorizationRef> liveReferences;
AuthorizationAuthority* testAuthority = nullptr;

AuthorizationAuthority& authority()
{
    static SystemAuthority system;
    std::lock_guard lock(registryMutex);
    return testAuthority ? *testAuthority : system;
}

bool isLive(AuthorizationRef reference)
{
    std::lock_guard lock(registryMutex);
    return liveReferences.count(reference) != 0;
}

// Runs a program without a shell and waits for it; -1 when it could not start or crashed.
int run(const QString& program, const QStringList& arguments, QByteArray* standardError, bool* started)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    *started = process.waitForStarted(-1);
    if (!*started)
        return -1;
    process.waitForFinished(-1);
    if (standardError)
        *standardError = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

}  // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization)
{
    if (flags & ~kKnownFlags)
        return errAuthorizationInvalidFlags;
    const AuthorizationItemSet empty;
    const AuthorizationRights& requested = rights ? *rights : empty;
    if (requested.count && !requested.items)
        return errAuthorizationInvalidSet;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < requested.count; ++i) {
        if (!requested.items[i].name)
            return errAuthorizationInvalidSet;
        names.emplace_back(requested.items[i].name);
    }
    if (!names.empty() && (flags & kAuthorizationFlagExtendRights)) {
        const OSStatus status = authority().authorize(requested, environment ? *environment : empty, flags);
        if (status != errAuthorizationSuccess)
            return status;
    }
    if (authorization) {
        auto* reference = new AuthorizationOpaqueRef{std::move(names)};
        std::lock_guard lock(registryMutex);
        liveReferences.insert(reference);
        *authorization = reference;
    }
    return errAuthorizationSuccess;
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags)
{
    if (flags & ~kKnownFlags)
        return errAuthorizationInvalidFlags;
    {
        std::lock_guard lock(registryMutex);
        if (!liveReferences.erase(authorization))
            return errAuthorizationInvalidRef;
    }
    delete authorization;
    return errAuthorizationSuccess;
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const QString& pathToTool,
                                            AuthorizationFlags options, const QStringList& arguments,
                                            int* exitStatus, QByteArray* standardError)
{
    if (!isLive(authorization))
        return errAuthorizationInvalidRef;
    if (options & ~kKnownFlags)
        return errAuthorizationInvalidFlags;
    if (!exitStatus)
        return errAuthorizationInvalidPointer;
    if (!QDir::isAbsolutePath(pathToTool))
        return errAuthorizationToolExecuteFailure;
    return authority().execute(pathToTool, arguments, exitStatus, standardError);
}

void setAuthorizationAuthorityForTesting(AuthorizationAuthority* replacement)
{
    std::lock_guard lock(registryMutex);
    testAuthority = replacement;
}

bool SystemAuthority::runsAsRoot()
{
    return ::geteuid() == 0;
}

QString SystemAuthority::pkexecPath()
{
    return QStringLiteral("/usr/bin/pkexec");
}

OSStatus SystemAuthority::authorize(const AuthorizationRights& rights, const AuthorizationEnvironment&,
                                    AuthorizationFlags flags)
{
    if (runsAsRoot())
        return errAuthorizationSuccess;
    if (!(flags & kAuthorizationFlagInteractionAllowed))
        return errAuthorizationInteractionNotAllowed;
    // The right to run tools as administrator is what pkexec checks on each run:
    // asking now as well would make the administrator authenticate twice.
    if (rights.count == 1 && qstrcmp(rights.items[0].name, kAuthorizationRightExecute) == 0) {
        if (::access(QFile::encodeName(pkexecPath()).constData(), X_OK) == 0)
            return errAuthorizationSuccess;
        qWarning("Cannot ask for administrator rights: %s is not available.", qPrintable(pkexecPath()));
        return errAuthorizationInternal;
    }
    // polkit has no right of its own for this; authenticating as administrator for a
    // program that does nothing is how a desktop user grants it. pkexec shows its own
    // text, not the prompt.
    bool started = false;
    const int status = run(pkexecPath(), {QStringLiteral("/bin/true")}, nullptr, &started);
    if (!started) {
        qWarning("Cannot ask for administrator rights: %s is not available.", qPrintable(pkexecPath()));
        return errAuthorizationInternal;
    }
    if (status == 0)
        return errAuthorizationSuccess;
    return status == kPkexecDismissed ? errAuthorizationCanceled : errAuthorizationDenied;
}

OSStatus SystemAuthority::execute(const QString& tool, const QStringList& arguments, int* exitStatus,
                                  QByteArray* standardError)
{
    bool started = false;
    int status = 0;
    if (runsAsRoot()) {
        status = run(tool, arguments, standardError, &started);
    } else {
        status = run(pkexecPath(), QStringList{tool} + arguments, standardError, &started);
        // pkexec answers 126 and 127 for itself; a tool that exits with these is
        // read the same way, which is the price of going through it.
        if (started && status == kPkexecDismissed)
            return errAuthorizationCanceled;
        if (started && status == kPkexecNotAuthorized)
            return errAuthorizationDenied;
    }
    if (!started)
        return errAuthorizationToolExecuteFailure;
    if (status < 0)
        return errAuthorizationToolEnvironmentError;
    *exitStatus = status;
    return errAuthorizationSuccess;
}

QString administratorsGroupName()
{
    // Installations ask from a thread of their own: the reentrant lookup.
    const long suggested = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
    for (const char* name : {"admin", "sudo", "wheel"}) {
        group entry;
        group* found = nullptr;
        int status = 0;
        while ((status = ::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
               buffer.size() < (1u << 20))
            buffer.resize(buffer.size() * 2);
        if (status == 0 && found)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("root");
}
