#pragma once
// The administrator the privileged steps ask, for the lifetime of the object:
// refuses, or grants and then carries out the command, or grants and does
// nothing at all. Counts how often it was asked.
#include <QProcess>

#include "Authorization.h"

class TestAdministrator : public AuthorizationAuthority {
public:
    enum Answer { Refuse, Run, Ignore };
    explicit TestAdministrator(Answer answer = Run)
        : answer(answer)
    {
        setAuthorizationAuthorityForTesting(this);
    }
    ~TestAdministrator() override { setAuthorizationAuthorityForTesting(nullptr); }
    OSStatus authorize(const AuthorizationRights&, const AuthorizationEnvironment&, AuthorizationFlags) override
    {
        ++prompts;
        return answer == Refuse ? errAuthorizationDenied : errAuthorizationSuccess;
    }
    OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus, QByteArray*) override
    {
        *exitStatus = 0;
        if (answer == Run) {
            QProcess process;
            process.start(tool, arguments);
            process.waitForFinished(10000);
            *exitStatus = process.exitCode();
        }
        return errAuthorizationSuccess;
    }
    Answer answer;
    int prompts = 0;
};
