#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

#include "LDAuthorizer.h"
#include "LaunchdTestSupport.h"
#include "NSFileManager+Privileged.h"
#include "PropertyList.h"
#include "ServiceManagement.h"

namespace {

using LDAuthorizerTest = LaunchdTest;
using AuthorizationTest = LaunchdTest;

class PrivilegedFileTest : public LaunchdTest {
protected:
    void SetUp() override
    {
        LaunchdTest::SetUp();
        source = dir.path() + "/report.txt";
        destination = dir.path() + "/protected";
        QDir().mkpath(destination);
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("data");
    }

    QTemporaryDir dir;
    QString source;
    QString destination;
    TestAuthority authority;
};

TEST_F(PrivilegedFileTest, SourceAndDestinationAreCheckedBeforeAnyoneIsAsked)
{
    const struct {
        QString from;
        QString to;
        const char* message;
    } cases[] = {
        {dir.path() + "/missing", destination, "there was no file found at specified location"},
        {destination, destination, "You specified a directory not a file"},
        {source, source, "You specified a file not a directory"},
        {source, dir.path() + "/nowhere", "there was no folder found at that location"},
    };
    for (const auto& test : cases) {
        CFError error;
        EXPECT_FALSE(Privileged::moveItemAtPath(test.from, test.to, false, &error));
        EXPECT_EQ(error.domain, "com.plovera.ldlaunchctl");
        EXPECT_EQ(error.code, 1);
        EXPECT_EQ(error.localizedDescription(), test.message);
        EXPECT_FALSE(Privileged::copyItemAtPath(test.from, test.to, true, &error));
    }
    EXPECT_TRUE(authority.rights.isEmpty());
    EXPECT_TRUE(authority.commands.isEmpty());
}

TEST_F(PrivilegedFileTest, MoveCopyAndDeleteRunAsTheAdministrator)
{
    CFError error;
    ASSERT_TRUE(Privileged::copyItemAtPath(source, destination, false, &error)) << qPrintable(error.localizedDescription());
    EXPECT_EQ(readAll(destination + "/report.txt"), "data");
    ASSERT_TRUE(Privileged::deleteItemAtPrivilegedPath(destination + "/report.txt", &error));
    EXPECT_FALSE(QFileInfo::exists(destination + "/report.txt"));
    ASSERT_TRUE(Privileged::moveItemAtPath(source, destination, false, &error));
    EXPECT_FALSE(QFileInfo::exists(source));
    EXPECT_EQ(readAll(destination + "/report.txt"), "data");

    EXPECT_EQ(authority.commands,
              (QList<QStringList>{{"/bin/cp", "-a", "--", source, destination},
                                  {"/bin/rm", "--", destination + "/report.txt"},
                                  {"/bin/mv", "--", source, destination}}));
    const bool root = ::getuid() == 0;
    EXPECT_EQ(authority.rights, (QStringList{root ? "com.apple.ServiceManagement.daemons.modify" : "com.plovera.launchctl.filecopy",
                                             root ? "com.apple.ServiceManagement.daemons.modify" : "com.plovera.launchctl.filedelete",
                                             root ? "com.apple.ServiceManagement.daemons.modify" : "com.plovera.launchctl.filemove"}));
    EXPECT_EQ(authority.prompts, (QList<QByteArray>{"Trying to copy a file to a privileged location",
                                                    "Trying to remove a file from a privileged location",
                                                    "Trying to move a file to a privileged location"}));
}

TEST_F(PrivilegedFileTest, AFailingCommandReportsItsOwnExitStatus)
{
    // mv cannot put a file where a folder of that name holds something.
    QDir().mkpath(destination + "/report.txt/inside");
    CFError error;
    EXPECT_FALSE(Privileged::moveItemAtPath(source, destination, true, &error));
    EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
    EXPECT_EQ(error.code, 1);
    EXPECT_EQ(error.userInfo.value("ExitStatus"), QVariant(1));
    EXPECT_TRUE(error.localizedDescription().startsWith("/bin/mv exited with status 1: ")) << qPrintable(error.localizedDescription());
    EXPECT_TRUE(QFileInfo::exists(source));

    CFError untouched = CFError::make("before", 99, "unchanged");
    EXPECT_FALSE(Privileged::deleteItemAtPrivilegedPath(dir.path() + "/missing", &untouched));
    EXPECT_EQ(untouched.code, 99);

    authority.answer = TestAuthority::Answer::Cancel;
    EXPECT_FALSE(Privileged::deleteItemAtPrivilegedPath(source, &untouched));
    EXPECT_EQ(untouched.code, 99);
    EXPECT_TRUE(QFileInfo::exists(source));
}

TEST_F(PrivilegedFileTest, AttributesBecomeChmodAndChownUnderOneAuthorization)
{
    authority.runCommands = false;
    CFError error;
    EXPECT_TRUE(Privileged::setAttributes({{Privileged::kFileGroupOwnerAccountName, "wheel"}}, source, &error));
    EXPECT_TRUE(Privileged::setAttributes({{Privileged::kFilePosixPermissions, 420},
                                           {Privileged::kFileOwnerAccountName, "root"},
                                           {Privileged::kFileGroupOwnerAccountName, "adm"}},
                                          source, &error));
    EXPECT_TRUE(Privileged::setAttributes({{Privileged::kFileOwnerAccountName, "daemon"}}, source, &error));
    EXPECT_EQ(authority.commands, (QList<QStringList>{{"/bin/chown", "--", ":wheel", source},
                                                      {"/bin/chmod", "--", "644", source},
                                                      {"/bin/chown", "--", "root:adm", source},
                                                      {"/bin/chown", "--", "daemon", source}}));
    EXPECT_EQ(authority.prompts.size(), 3);
    EXPECT_EQ(authority.prompts.value(0), "Trying to modify attributes of a file in a privileged location");

    EXPECT_FALSE(Privileged::setAttributes({{"NSFileSize", 3}}, source, &error));
    EXPECT_FALSE(Privileged::setAttributes({{Privileged::kFilePosixPermissions, 420}}, dir.path() + "/missing", &error));
    EXPECT_EQ(authority.commands.size(), 4);

    // Permissions that are no mode are refused before anyone is asked, never read as 0.
    const qsizetype asked = authority.prompts.size();
    for (const QVariant& bad : {QVariant("644"), QVariant(true), QVariant(4.5), QVariant(-1), QVariant(010000)}) {
        error = {};
        EXPECT_FALSE(Privileged::setAttributes({{Privileged::kFilePosixPermissions, bad}}, source, &error))
            << qPrintable(bad.toString());
        EXPECT_EQ(error.domain, "com.plovera.ldlaunchctl");
    }
    EXPECT_EQ(authority.commands.size(), 4);
    EXPECT_EQ(authority.prompts.size(), asked);

    // A chmod that fails is the answer; the owner is left as it was.
    authority.fakeCommand = [](const QStringList& command) { return command.first() == "/bin/chmod" ? 1 : 0; };
    EXPECT_FALSE(Privileged::setAttributes({{Privileged::kFilePosixPermissions, 384}, {Privileged::kFileOwnerAccountName, "root"}},
                                           source, &error));
    EXPECT_EQ(error.userInfo.value("ExitStatus"), QVariant(1));
    EXPECT_EQ(authority.commands.last(), (QStringList{"/bin/chmod", "--", "600", source}));
}

TEST_F(PrivilegedFileTest, JobFilesForTheAdministratorPassThroughAPrivateCopy)
{
    const QVariantMap job{{"Label", "com.example.daemon"},
                          {"ProgramArguments", QVariantList{"/bin/true"}},
                          {"EnvironmentVariables", QVariantMap{{"TOKEN", "secret"}}}};
    const QString target = QDir::homePath() + "/Library/LaunchAgents/com.example.daemon.plist";
    constexpr auto kGroupAndOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                     QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    AuthorizationRef reference = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &reference), errAuthorizationSuccess);
    setRunsAsRootForTesting(false);
    authority.runCommands = false;
    QString copy;
    int moveStatus = 1;
    const auto copyOf = [](const QStringList& command) {
        const QStringList input = command.filter(QRegularExpression("^if="));
        return input.isEmpty() ? QString() : input.first().mid(3);
    };
    authority.fakeCommand = [&](const QStringList& command) {
        if (command.first() != "/bin/dd")
            return 0;
        copy = copyOf(command);
        EXPECT_TRUE(readAll(copy).contains("secret"));
        EXPECT_EQ(QFileInfo(copy).permissions() & kGroupAndOthers, 0);
        EXPECT_EQ(QFileInfo(QFileInfo(copy).path()).permissions() & kGroupAndOthers, 0);
        return moveStatus;
    };
    CFError error;
    EXPECT_FALSE(writeLaunchdPlistPrivileged(1, job, reference, &error));
    EXPECT_EQ(error.userInfo.value("ExitStatus"), QVariant(1));
    ASSERT_FALSE(copy.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(copy));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path()));

    moveStatus = 0;
    authority.commands.clear();
    EXPECT_TRUE(writeLaunchdPlistPrivileged(1, job, reference, &error)) << qPrintable(error.localizedDescription());
    EXPECT_EQ(authority.commands,
              (QList<QStringList>{{"/bin/dd", "iflag=nofollow", "oflag=nofollow", "conv=excl,fsync", "status=none",
                                   "if=" + copy, "of=" + target + ".new"},
                                  {"/bin/chmod", "644", "--", target + ".new"},
                                  {"/bin/mv", "-f", "-T", "--", target + ".new", target}}));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(copy).path()));

    // The job file is never the copy's own file: a descriptor held on the copy
    // from before the administrator took it does not reach the job file.
    QDir().mkpath(QFileInfo(target).path());
    QFile held;
    authority.fakeCommand = [&](const QStringList& command) {
        if (!held.isOpen() && command.first() == "/bin/dd") {
            held.setFileName(copyOf(command));
            EXPECT_TRUE(held.open(QIODevice::ReadWrite));
        }
        QProcess process;
        process.start(command.first(), command.mid(1));
        return process.waitForFinished() ? process.exitCode() : 1;
    };
    ASSERT_TRUE(writeLaunchdPlistPrivileged(1, job, reference, &error)) << qPrintable(error.localizedDescription());
    EXPECT_EQ(held.write("<!-- rewritten -->"), 18);
    held.close();
    EXPECT_FALSE(readAll(target).contains("rewritten"));
    EXPECT_EQ(PropertyList::readFile(target).toMap(), job);
    EXPECT_EQ(QFileInfo(target).permissions() & kGroupAndOthers, QFileDevice::ReadGroup | QFileDevice::ReadOther);
    EXPECT_FALSE(QFileInfo::exists(target + ".new"));
    QFile::remove(target);

    // A copy swapped for a link to a file only root may read is refused, and
    // nothing of that file reaches a job file anyone can read.
    const QString secret = QDir::homePath() + "/secret.txt";
    {
        QFile file(secret);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("root only");
    }
    authority.fakeCommand = [&](const QStringList& command) {
        if (command.first() == "/bin/dd") {
            QFile::remove(copyOf(command));
            QFile::link(secret, copyOf(command));
        }
        QProcess process;
        process.start(command.first(), command.mid(1));
        return process.waitForFinished() ? process.exitCode() : 1;
    };
    EXPECT_FALSE(writeLaunchdPlistPrivileged(1, job, reference, &error));
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(target + ".new"));

    // As root the file is written in place, and a write that fails is reported as such.
    setRunsAsRootForTesting(true);
    QDir().mkpath(QFileInfo(target).path());
    ASSERT_TRUE(writeLaunchdPlistPrivileged(1, job, reference, &error)) << qPrintable(error.localizedDescription());
    EXPECT_EQ(PropertyList::readFile(target).toMap(), job);
    EXPECT_EQ(QFileInfo(target).permissions() & kGroupAndOthers, QFileDevice::ReadGroup | QFileDevice::ReadOther);
    // (A folder in its place would be set aside: the folder it goes into is taken away instead.)
    ASSERT_TRUE(QDir(QFileInfo(target).path()).removeRecursively());
    error = {};
    EXPECT_FALSE(writeLaunchdPlistPrivileged(1, job, reference, &error));
    EXPECT_EQ(error.domain, "NSCocoaErrorDomain");
    AuthorizationFree(reference, 0);
}

TEST_F(LDAuthorizerTest, PromptsRightsAndFlags)
{
    TestAuthority authority;
    EXPECT_EQ(LDAuthorizer::defaultFlags(), 19u);

    AuthorizationRef reference = nullptr;
    const QString prompt = QStringLiteral("Kelvara möchte den Dienst ändern");
    ASSERT_EQ(LDAuthorizer::authorizeSystemDaemonWithLabel("com.example.job", prompt, &reference), errAuthorizationSuccess);
    ASSERT_NE(reference, nullptr);
    EXPECT_EQ(authority.prompts.value(0), prompt.toUtf8());
    EXPECT_EQ(authority.promptLengths.value(0), static_cast<size_t>(prompt.toUtf8().size()));
    EXPECT_GT(authority.promptLengths.value(0), static_cast<size_t>(prompt.size()));
    LDAuthorizer::authorizationFree(reference);
    LDAuthorizer::authorizationFree(nullptr);

    LDAuthorizer::authorizeSystemDaemonWithLabel("com.example.job", QString(), &reference);
    EXPECT_EQ(authority.prompts.value(1),
              (LDAuthorizer::processName() + " is trying to perform a privileged operation.").toUtf8());
    LDAuthorizer::authorizationFree(reference);

    authority.answer = TestAuthority::Answer::Cancel;
    reference = nullptr;
    EXPECT_EQ(LDAuthorizer::authorizeSMJobBlessWithPrompt(QString(), &reference), errAuthorizationCanceled);
    EXPECT_EQ(reference, nullptr);
    EXPECT_EQ(authority.rights.last(), "com.apple.ServiceManagement.blesshelper");
    // No prompt, no environment item.
    EXPECT_EQ(authority.prompts.last(), QByteArray());
}

TEST_F(AuthorizationTest, ReferencesAndToolsAreChecked)
{
    TestAuthority authority;
    AuthorizationRef reference = nullptr;
    // No rights asked: nobody is bothered.
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &reference), errAuthorizationSuccess);
    EXPECT_TRUE(authority.rights.isEmpty());
    EXPECT_EQ(AuthorizationCreate(nullptr, nullptr, 1u << 20, &reference), errAuthorizationInvalidFlags);

    int status = -1;
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(reference, "bin/true", 0, {}, &status), errAuthorizationToolExecuteFailure);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(reference, "/bin/false", 0, {}, &status), errAuthorizationSuccess);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(AuthorizationFree(reference, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
    // A freed reference is refused, not used.
    EXPECT_EQ(AuthorizationFree(reference, kAuthorizationFlagDestroyRights), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(reference, "/bin/true", 0, {}, &status), errAuthorizationInvalidRef);
    EXPECT_EQ(authority.commands, (QList<QStringList>{{"/bin/false"}}));
}

TEST_F(AuthorizationTest, RootIsAuthorizedAtOnceAndRunsToolsItself)
{
    if (!SystemAuthority::runsAsRoot())
        GTEST_SKIP() << "the system authority asks pkexec for anyone but root";
    AuthorizationRef reference = nullptr;
    AuthorizationItem right{"com.example.right", 0, nullptr, 0};
    const AuthorizationRights rights{1, &right};
    ASSERT_EQ(AuthorizationCreate(&rights, nullptr, 19, &reference), errAuthorizationSuccess);
    int status = -1;
    QByteArray errors;
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(reference, "/bin/ls", 0, {"--", "/nonexistent"}, &status, &errors),
              errAuthorizationSuccess);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(errors.contains("nonexistent"));
    AuthorizationFree(reference, 0);
}

}  // namespace
