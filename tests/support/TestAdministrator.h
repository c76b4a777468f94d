#pragma once
// The administrator the privileged steps ask, for the lifetime of the object:
// refuses, or grants and then carries out the command, or grants and does
// nothing at all. Counts how often it was asked.
//
// Run as root, it runs the real commands (the tool installs itself for root).
// Run as anyone else, it stands in for root: the simulated Mac names this user
// as its administrator, and installing the tool is done here, as root would,
// with the installed permissions. So the granted paths run for every user.
#include <QFile>
#include <QProcess>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Authorization.h"
#include "VirtualSMC.h"

class TestAdministrator : public AuthorizationAuthority {
public:
    enum Answer { Refuse, Run, Ignore };
    explicit TestAdministrator(Answer answer = Run)
        : answer(answer)
    {
        setAuthorizationAuthorityForTesting(this);
        if (!runsAsRoot())
            standIn(true);
    }
    ~TestAdministrator() override
    {
        setAuthorizationAuthorityForTesting(nullptr);
        if (!runsAsRoot())
            standIn(false);
    }
    OSStatus authorize(const AuthorizationRights&, const AuthorizationEnvironment&, AuthorizationFlags) override
    {
        ++prompts;
        return answer == Refuse ? errAuthorizationDenied : errAuthorizationSuccess;
    }
    OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus, QByteArray*) override
    {
        *exitStatus = 0;
        if (answer != Run)
            return errAuthorizationSuccess;
        if (!runsAsRoot() && arguments.size() == 3 && arguments.first() == QLatin1String("--install")) {
            *exitStatus = installAsStandIn(tool, arguments.at(1)) ? 0 : 1;
            return errAuthorizationSuccess;
        }
        QProcess process;
        process.start(tool, arguments);
        process.waitForFinished(10000);
        *exitStatus = process.exitCode();
        return errAuthorizationSuccess;
    }

    // Gives the file to the administrator with the installed permissions (6555):
    // root and the administrators' group when run as root, else this user, whom
    // the simulated Mac then names its administrator.
    static bool giveToAdministrator(const QString& path)
    {
        const QByteArray file = QFile::encodeName(path);
        if (runsAsRoot()) {
            const group* admins = ::getgrnam(administratorsGroupName().toLatin1().constData());
            if (!admins || ::chown(file.constData(), 0, admins->gr_gid) != 0)
                return false;
        } else {
            standIn(true);
        }
        return ::chmod(file.constData(), 06555) == 0;
    }

    static bool runsAsRoot() { return ::geteuid() == 0; }

    Answer answer;
    int prompts = 0;

private:
    static void standIn(bool on)
    {
        const passwd* user = ::getpwuid(::geteuid());
        const group* own = ::getgrgid(::getegid());
        if (user && own)
            smc::VirtualSMC().setAdministrator(on ? std::optional(std::make_pair(std::string(user->pw_name),
                                                                                   std::string(own->gr_name)))
                                                  : std::nullopt);
    }
    // What the tool's install mode does for root: a fresh copy renamed over the path.
    static bool installAsStandIn(const QString& source, const QString& target)
    {
        const QString fresh = target + QStringLiteral(".installing");
        QFile::remove(fresh);
        if (!QFile::copy(source, fresh) || ::chmod(QFile::encodeName(fresh).constData(), 06555) != 0)
            return false;
        return ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(target).constData()) == 0;
    }
};
