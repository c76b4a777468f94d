#pragma once
// Adds launchd jobs to a domain and removes them again (job file and launchd
// registration together), loads, unloads, reloads, starts, stops and restarts
// them, installs privileged helper tools, registers login items, schedules
// periodic jobs and lists jobs. Domains 2 and above need an administrator's
// authorization. Every failure answers false and, given an error pointer,
// fills it: the library's own errors are in "com.plovera.ldlaunchctl", launchd's
// are handed on unchanged; without a pointer the library's are logged.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "Authorization.h"
#include "CFError.h"
#include "LDLaunchJob.h"
#include "LDLaunchd.h"

class LDLaunchCtl {
public:
    static inline const QString kErrorDomain = QStringLiteral("com.plovera.ldlaunchctl");
    // Error codes 1 to 19 of the library; other codes are Security statuses.
    static QString messageForCode(qint64 code);

    using Predicate = std::function<bool(const QVariantMap& job)>;
    using Reply = std::function<void(const CFError* error)>;

    // One controller for the process; it never holds a session authorization.
    static LDLaunchCtl& sharedController();
    LDLaunchCtl();
    ~LDLaunchCtl();
    LDLaunchCtl(const LDLaunchCtl&) = delete;
    LDLaunchCtl& operator=(const LDLaunchCtl&) = delete;

    // A session authorization, used by every later operation until deauthorize.
    bool authorize();
    bool authorizeWithPrompt(const QString& prompt);
    void deauthorize();
    bool hasSessionAuthorization() const { return m_authorization != nullptr; }

    // Writes the job file, then submits the job (only while a user is at the console in domains up to 3).
    bool add(LDLaunchJob& job, LDDomainNumber toDomain, CFError* error = nullptr);
    // Removes the job from launchd, then its job file.
    bool remove(const QString& label, LDDomainNumber fromDomain, CFError* error = nullptr);

    bool load(LDLaunchJob& job, LDDomainNumber inDomain, AuthorizationRef authRef, CFError* error = nullptr);
    bool load(LDLaunchJob& job, LDDomainNumber inDomain, CFError* error = nullptr);
    bool unload(const QString& label, LDDomainNumber inDomain, AuthorizationRef authRef, CFError* error = nullptr);
    bool unload(const QString& label, LDDomainNumber inDomain, CFError* error = nullptr);
    bool reload(LDLaunchJob& job, LDDomainNumber inDomain, CFError* error = nullptr);
    bool start(const QString& label, LDDomainNumber inDomain, CFError* error = nullptr);
    bool stop(const QString& label, LDDomainNumber inDomain, CFError* error = nullptr);
    bool restart(const QString& label, LDDomainNumber inDomain, CFError* error = nullptr);

    // Privileged helper tools, always in domain 4.
    static bool installHelper(const QString& label, const QString& prompt, CFError* error = nullptr);
    static bool uninstallHelper(const QString& label, const QString& prompt, CFError* error = nullptr);
    static bool uninstallHelper(const QString& label, CFError* error = nullptr);
    static bool removeFilesForHelperWithLabel(const QString& label, CFError* error = nullptr);

    // The application at the path as a login item labelled "<bundle identifier>.launcher".
    static bool launchAtLogin(const QString& applicationPath, bool launch, bool global, bool keepAlive,
                              CFError* error = nullptr);
    // A job run at load and every interval seconds; the reply gets the add's error (none on success).
    static void scheduleJob(const QString& label, const QString& program, quint32 interval, LDDomainNumber domain,
                            const Reply& reply);
    static void scheduleJob(const QString& label, const QString& program, const QStringList& programArguments,
                            quint32 interval, LDDomainNumber domain, const Reply& reply);

    // Queries; empty or nothing when nothing is found.
    static std::optional<LDLaunchJob> jobFromFileNamed(const QString& name, LDDomainNumber inDomain);
    static std::optional<LDLaunchJob> runningJobWithLabel(const QString& label, LDDomainNumber inDomain);
    static QList<LDLaunchJob> allRunningJobsInDomain(LDDomainNumber domain);
    // Jobs whose label or program contains the text, ignoring case.
    static QList<LDLaunchJob> runningJobsMatching(const QString& match, LDDomainNumber inDomain);
    static QList<LDLaunchJob> allJobsFromFilesInDomain(LDDomainNumber domain);
    static QList<LDLaunchJob> jobMatch(const Predicate& predicate, LDDomainNumber domain);

    // Each answers true only for code 0, so callers return it as their failure.
    static bool errorWithCode(qint64 code, CFError* error);
    static bool errorWithMessage(const QString& message, qint64 andCode, CFError* error);
    static bool errorWithCFError(const CFError& cfError, qint64 code, CFError* error);

    bool jobIsValid(const LDLaunchJob& job, CFError* error);
    bool createAuthorization(AuthorizationRef* authorization, LDDomainNumber domain, const QString& label,
                             const QString& prompt, CFError* error);
    bool removeJobFileWithLabel(const QString& label, LDDomainNumber domain, AuthorizationRef authRef,
                                CFError* error);

private:
    struct Shared {};
    explicit LDLaunchCtl(Shared);
    // Frees an authorization this controller obtained for one operation.
    void release(AuthorizationRef authorization) const;

    AuthorizationRef m_authorization = nullptr;
    bool m_isShared = false;
};
