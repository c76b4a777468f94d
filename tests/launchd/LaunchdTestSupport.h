#pragma once
// Helpers shared by the launchd tests: an authority that grants, refuses or
// cancels and records what it was asked, a capture of logged messages, a fixed
// console user, and the fixture that gives every test the same start.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

#include "Authorization.h"
#include "LDLaunchd.h"
#include "NSBundle.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "SystemConfiguration.h"
#include "TestHome.h"

class TestAuthority : public AuthorizationAuthority {
public:
    enum class Answer { Grant, Refuse, Cancel };

    TestAuthority() { setAuthorizationAuthorityForTesting(this); }
    ~TestAuthority() override { setAuthorizationAuthorityForTesting(nullptr); }

    OSStatus authorize(const AuthorizationRights& rights, const AuthorizationEnvironment& environment,
                       AuthorizationFlags flags) override
    {
        for (uint32_t i = 0; i < rights.count; ++i)
            this->rights << QString::fromUtf8(rights.items[i].name);
        for (uint32_t i = 0; i < environment.count; ++i) {
            const AuthorizationItem& item = environment.items[i];
            prompts << QByteArray(static_cast<const char*>(item.value), static_cast<qsizetype>(item.valueLength));
            promptLengths << item.valueLength;
        }
        if (environment.count == 0)
            prompts << QByteArray();
        this->flags = flags;
        switch (answer) {
        case Answer::Grant:
            return errAuthorizationSuccess;
        case Answer::Refuse:
            return errAuthorizationDenied;
        case Answer::Cancel:
            return errAuthorizationCanceled;
        }
        return errAuthorizationInternal;
    }

    OSStatus execute(const QString& tool, const QStringList& arguments, int* exitStatus, QByteArray* standardError) override
    {
        commands << QStringList{tool} + arguments;
        if (!runCommands) {
            *exitStatus = fakeCommand ? fakeCommand(commands.last()) : 0;
            return errAuthorizationSuccess;
        }
        QProcess process;
        process.start(tool, arguments);
        if (!process.waitForFinished(10000))
            return errAuthorizationToolExecuteFailure;
        *exitStatus = process.exitCode();
        if (standardError)
            *standardError = process.readAllStandardError();
        return errAuthorizationSuccess;
    }

    Answer answer = Answer::Grant;
    bool runCommands = true;
    // With runCommands off: the exit status of each command (0 without it).
    std::function<int(const QStringList& command)> fakeCommand;
    QStringList rights;
    QList<QByteArray> prompts;
    QList<size_t> promptLengths;
    QList<QStringList> commands;
    AuthorizationFlags flags = 0;
};

class MessageLog {
public:
    MessageLog()
    {
        messages().clear();
        m_previous = qInstallMessageHandler(&MessageLog::capture);
    }
    ~MessageLog() { qInstallMessageHandler(m_previous); }
    static QStringList& messages()
    {
        static QStringList list;
        return list;
    }

private:
    static void capture(QtMsgType, const QMessageLogContext&, const QString& message) { messages() << message; }
    QtMessageHandler m_previous = nullptr;
};

class ConsoleUser {
public:
    explicit ConsoleUser(const QString& user) { setConsoleUserForTesting(user); }
    ~ConsoleUser() { setConsoleUserForTesting(std::nullopt); }
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The session bus of this test process, made once before anything uses the bus
// (Qt keeps its first session connection for good), so a fake user manager can
// come and go on it while tests running at the same time never see it.
inline void useOwnSessionBus()
{
    testApplication();
    static PrivateBus bus;
}

// All cases of the launchd tests may run in one process, in any order: each
// starts with its own HOME, no console user, main bundle or root override left
// by another, and no user manager on the bus.
class LaunchdTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useOwnSessionBus();
        reset();
    }
    void TearDown() override { reset(); }

private:
    static void reset()
    {
        setConsoleUserForTesting(std::nullopt);
        NSBundle::setMainBundlePathForTesting({});
        setRunsAsRootForTesting(std::nullopt);
    }
    TestHome m_home;
};
