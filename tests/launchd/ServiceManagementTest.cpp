#include <QDir>
#include <algorithm>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <gtest/gtest.h>

#include "DirectLauncher.h"
#include "FakeSystemd.h"
#include "LaunchdTestSupport.h"
#include "PropertyList.h"
#include "QtApplication.h"
#include "ServiceManagement.h"
#include "SystemdUserManager.h"
#include "TestHome.h"
#include "UserJobTable.h"

namespace {

using SystemdUnitTest = LaunchdTest;
using ServiceManagementTest = LaunchdTest;

QVariantMap job(const QString& label, const QVariantList& arguments, bool runAtLoad = true)
{
    return {{"Label", label}, {"ProgramArguments", arguments}, {"RunAtLoad", runAtLoad}};
}

QString unitFileOf(const QString& label)
{
    return SystemdUserManager::unitDirectory() + "/" + label + ".service";
}

qint64 pidOf(const QString& label)
{
    return SMJobCopyDictionary(kSMDomainUserLaunchd, label).value("PID").toLongLong();
}

TEST_F(SystemdUnitTest, ProgramWithSpacesAndKeepAliveRules)
{
    QVariantMap helper = job("com.orvane.kelvara.helper",
                             {"/opt/My Apps/Kelvara.app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper",
                              "--at", "100% \"sure\"", "$HOME", ""});
    helper.insert("KeepAlive", QVariantMap{{"SuccessfulExit", true}});
    helper.insert("EnvironmentVariables", QVariantMap{{"LANG", "C.UTF-8"}, {"bad name", "x"}});
    helper.insert("WorkingDirectory", "/tmp");
    EXPECT_EQ(SystemdUserManager::unitFile(helper),
              "# Launch agent com.orvane.kelvara.helper, made from its launchd job.\n"
              "[Unit]\n"
              "Description=com.orvane.kelvara.helper\n"
              "\n"
              "[Service]\n"
              "Type=exec\n"
              "ExecStart=\"/opt/My Apps/Kelvara.app/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper\" "
              "--at \"100%% \\\"sure\\\"\" $$HOME \"\"\n"
              "Restart=on-success\n"
              "RestartSec=10\n"
              "TimeoutStopSec=20\n"
              "WorkingDirectory=/tmp\n"
              "Environment=\"LANG=C.UTF-8\"\n"
              "\n"
              "[Install]\n"
              "WantedBy=default.target\n");

    const auto restart = [](const QVariant& keepAlive) {
        QVariantMap withKeepAlive = job("x", {"/bin/true"});
        withKeepAlive.insert("KeepAlive", keepAlive);
        const QString unit = SystemdUserManager::unitFile(withKeepAlive);
        const qsizetype at = unit.indexOf("Restart=");
        return at < 0 ? QString() : unit.mid(at + 8, unit.indexOf('\n', at) - at - 8);
    };
    EXPECT_EQ(restart(QVariantMap{{"SuccessfulExit", false}}), "on-failure");
    EXPECT_EQ(restart(true), "always");
    EXPECT_EQ(restart(false), "");
    EXPECT_EQ(restart(QVariant()), "");

    // Program given apart from argv[0]; a job that only loads has no install section.
    const QVariantMap loader{{"Label", "x"}, {"Program", "/usr/bin/env"}, {"ProgramArguments", QVariantList{"env", "-i"}}};
    const QString unit = SystemdUserManager::unitFile(loader);
    EXPECT_TRUE(unit.contains("\nExecStart=@/usr/bin/env env -i\n")) << qPrintable(unit);
    EXPECT_FALSE(unit.contains("[Install]"));
    EXPECT_EQ(SystemdUserManager::quoteExecWord("tab\there"), "\"tab\\there\"");
    EXPECT_EQ(SystemdUserManager::quoteExecWord("a;b"), "\"a;b\"");
}

// systemd itself reads the unit as meant: the program with spaces is found and runnable.
TEST_F(SystemdUnitTest, SystemdAcceptsTheUnit)
{
    const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
    if (analyze.isEmpty())
        GTEST_SKIP() << "systemd-analyze is not installed";
    QTemporaryDir dir;
    const QString program = dir.path() + "/My Apps/Kelvara Helper";
    QDir().mkpath(QFileInfo(program).path());
    ASSERT_TRUE(QFile::copy("/bin/true", program));
    QVariantMap agent = job("com.example.verify", {program, "a b", "50%"});
    agent.insert("KeepAlive", QVariantMap{{"SuccessfulExit", false}});
    agent.insert("StandardOutPath", dir.path() + "/out log.txt");
    const QString unit = dir.path() + "/com.example.verify.service";
    QFile file(unit);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(SystemdUserManager::unitFile(agent).toUtf8());
    file.close();

    QProcess verify;
    verify.start(analyze, {"verify", unit});
    ASSERT_TRUE(verify.waitForFinished(20000));
    EXPECT_EQ(verify.exitCode(), 0) << verify.readAllStandardError().constData();
    EXPECT_FALSE(verify.readAllStandardError().contains("com.example.verify"));

    // The same check fails for a program that is not there, so it does look.
    const QString broken = dir.path() + "/com.example.broken.service";
    QFile brokenFile(broken);
    ASSERT_TRUE(brokenFile.open(QIODevice::WriteOnly));
    brokenFile.write(SystemdUserManager::unitFile(job("com.example.broken", {dir.path() + "/My Apps/Missing"})).toUtf8());
    brokenFile.close();
    verify.start(analyze, {"verify", broken});
    ASSERT_TRUE(verify.waitForFinished(20000));
    EXPECT_NE(verify.exitCode(), 0);
}

TEST_F(ServiceManagementTest, LabelsAndJobsAreCheckedBeforeAnythingIsMade)
{
    const TestHome home;
    for (const char* label : {"", "../x", "a/b", "x@y", ".hidden", "-x", "a b", "tab\tx"})
        EXPECT_FALSE(SMJobLabelIsValid(QString::fromLatin1(label))) << label;
    EXPECT_FALSE(SMJobLabelIsValid(QString(201, 'a')));
    EXPECT_TRUE(SMJobLabelIsValid("com.orvane.kelvara.helper"));
    EXPECT_TRUE(SMJobLabelIsValid("my_job-2"));

    const QList<QVariantMap> malformed{
        job("../../escape", {"/bin/true"}),
        {{"Label", "a"}, {"ProgramArguments", "/bin/true"}},
        {{"Label", "a"}, {"ProgramArguments", QVariantList{"/bin/true", 3}}},
        {{"Label", "a"}, {"ProgramArguments", QVariantList{}}},
        {{"Label", "a"}, {"RunAtLoad", true}},
        {{"Label", 7}, {"ProgramArguments", QVariantList{"/bin/true"}}},
        {{"Label", "a"}, {"Program", "-rf"}},
    };
    for (const QVariantMap& bad : malformed) {
        CFError error;
        EXPECT_FALSE(SMJobSubmit(kSMDomainUserLaunchd, bad, nullptr, &error));
        EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
        EXPECT_EQ(error.code, EINVAL);
        EXPECT_FALSE(error.localizedDescription().isEmpty());
    }
    EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/.config/systemd"));

    CFError error;
    EXPECT_FALSE(SMJobSubmit("kSMDomainElsewhere", job("a", {"/bin/true"}), nullptr, &error));
    EXPECT_EQ(error.code, EINVAL);
}

TEST_F(ServiceManagementTest, UserServicesThroughTheServiceManager)
{
    testApplication();
    const TestHome home;
    FakeSystemd systemd;
    ASSERT_TRUE(systemd.registerOnSessionBus()) << "needs dbus-daemon";

    CFError error;
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.agent", {"/bin/sleep", "30"}), nullptr, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_TRUE(readAll(unitFileOf("com.example.agent")).contains("ExecStart=/bin/sleep 30\n"));
    const FakeSystemd::Unit unit = systemd.units.value("com.example.agent.service");
    EXPECT_EQ(unit.activeState, "active");
    EXPECT_TRUE(unit.enabled);

    const QVariantMap held = SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.agent");
    EXPECT_EQ(held.value("Label"), QVariant("com.example.agent"));
    EXPECT_EQ(held.value("PID").toLongLong(), unit.mainPID);
    EXPECT_FALSE(held.contains("LastExitStatus"));

    EXPECT_FALSE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.agent", {"/bin/true"}), nullptr, &error));
    EXPECT_EQ(error.code, EEXIST);

    // A job that only loads is neither enabled nor started.
    systemd.calls.clear();
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.idle", {"/bin/true"}, false), nullptr, &error));
    EXPECT_EQ(systemd.calls, (QStringList{"GetUnit com.example.idle.service", "Reload"}));
    EXPECT_FALSE(SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.idle").contains("PID"));
    EXPECT_EQ(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).size(), 2);

    systemd.calls.clear();
    ASSERT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.agent", nullptr, true, &error));
    EXPECT_EQ(systemd.calls, (QStringList{"StopUnit com.example.agent.service", "GetUnit com.example.agent.service",
                                          "DisableUnitFiles com.example.agent.service", "Reload",
                                          "ResetFailedUnit com.example.agent.service"}));
    EXPECT_FALSE(QFileInfo::exists(unitFileOf("com.example.agent")));
    EXPECT_TRUE(SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.agent").isEmpty());
    EXPECT_FALSE(SMJobRemove(kSMDomainUserLaunchd, "com.example.agent", nullptr, true, &error));
    EXPECT_EQ(error.code, ESRCH);

    // A service of the user's own by that name is never overwritten.
    QFile own(unitFileOf("com.example.mine"));
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("[Service]\nExecStart=/bin/true\n");
    own.close();
    EXPECT_FALSE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.mine", {"/bin/true"}), nullptr, &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(readAll(unitFileOf("com.example.mine")), "[Service]\nExecStart=/bin/true\n");
}

// A NUL ends a unit file line and a trailing backslash joins the next one to it.
TEST_F(SystemdUnitTest, TextsThatWouldSpillIntoTheNextSettingAreRefused)
{
    FakeSystemd systemd;
    ASSERT_TRUE(systemd.registerOnSessionBus()) << "needs dbus-daemon";
    const QString nul(QChar(u'\0'));
    const QList<QPair<QString, QVariant>> spilling{
        {"ServiceDescription", "Fans\\"},
        {"WorkingDirectory", "/tmp/work\\"},
        {"StandardInPath", "/dev/null" + nul + "x"},
        {"StandardOutPath", "/tmp/out\\"},
        {"StandardErrorPath", "/tmp/err" + nul},
        {"EnvironmentVariables", QVariantMap{{"TOKEN", "a" + nul + "ExecStartPre=/bin/false"}}},
    };
    for (const auto& [key, value] : spilling) {
        QVariantMap agent = job("com.example.spill", {"/bin/true"});
        agent.insert(key, value);
        EXPECT_EQ(SystemdUserManager::unitFile(agent), QString()) << qPrintable(key);
        CFError error;
        EXPECT_FALSE(SMJobSubmit(kSMDomainUserLaunchd, agent, nullptr, &error)) << qPrintable(key);
        EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
        EXPECT_EQ(error.code, EINVAL);
        EXPECT_TRUE(error.localizedDescription().contains(key)) << qPrintable(error.localizedDescription());
    }
    EXPECT_FALSE(QFileInfo::exists(unitFileOf("com.example.spill")));
    EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).isEmpty());

    // Quoted, a backslash at the end of an environment value stays inside its quotes.
    QVariantMap quoted = job("com.example.spill", {"/bin/true"});
    quoted.insert("EnvironmentVariables", QVariantMap{{"DIR", "C:\\"}});
    EXPECT_TRUE(SystemdUserManager::unitFile(quoted).contains("\nEnvironment=\"DIR=C:\\\\\"\n"));
}

TEST_F(ServiceManagementTest, UnitsOfTheUsersOwnAreLeftAloneWhereverTheyLie)
{
    const TestHome home;
    FakeSystemd systemd;
    ASSERT_TRUE(systemd.registerOnSessionBus()) << "needs dbus-daemon";
    const QString shared = home.path() + "/.local/share/systemd/user";
    systemd.unitPath = QStringList{SystemdUserManager::unitDirectory(), shared, "/usr/lib/systemd/user"};
    QDir().mkpath(shared);
    QFile own(shared + "/com.example.mine.service");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.write("[Service]\nExecStart=/bin/true\n");
    own.close();

    // Not loaded, yet ours in ~/.config would shadow it.
    CFError error;
    EXPECT_FALSE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.mine", {"/bin/true"}), nullptr, &error));
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_FALSE(QFileInfo::exists(unitFileOf("com.example.mine")));

    // Our own unit, left behind by a job table that was lost, is ours to replace and to remove.
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.companion", {"/bin/sleep", "30"}), nullptr, &error))
        << qPrintable(error.localizedDescription());
    QFile table(UserJobTable::path());
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write("not a job table");
    table.close();
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.companion", {"/bin/sleep", "60"}), nullptr, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_TRUE(readAll(unitFileOf("com.example.companion")).contains("ExecStart=/bin/sleep 60\n"));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write("not a job table");
    table.close();

    systemd.calls.clear();
    EXPECT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.companion", nullptr, true, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_TRUE(systemd.calls.contains("DisableUnitFiles com.example.companion.service"));
    EXPECT_FALSE(systemd.units.value("com.example.companion.service").enabled);
    EXPECT_FALSE(QFileInfo::exists(unitFileOf("com.example.companion")));

    // The user's own unit of a label we do not hold is never removed.
    QFile::copy(shared + "/com.example.mine.service", unitFileOf("com.example.mine"));
    EXPECT_FALSE(SMJobRemove(kSMDomainUserLaunchd, "com.example.mine", nullptr, true, &error));
    EXPECT_EQ(error.code, ESRCH);
    EXPECT_TRUE(QFileInfo::exists(unitFileOf("com.example.mine")));
}

TEST_F(ServiceManagementTest, WithoutAManagerProgramsAreStartedAndStoppedDirectly)
{
    const TestHome home;
    CFError error;
    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.sleeper", {"/bin/sleep", "30"}), nullptr, &error))
        << qPrintable(error.localizedDescription());
    const qint64 pid = pidOf("com.example.sleeper");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(readAll(QStringLiteral("/proc/%1/cmdline").arg(pid)), QByteArray("/bin/sleep\0" "30\0", 14));
    EXPECT_FALSE(QFileInfo::exists(SystemdUserManager::unitDirectory()));

    ASSERT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.later", {"/bin/sleep", "30"}, false), nullptr, &error));
    EXPECT_EQ(pidOf("com.example.later"), 0);
    EXPECT_EQ(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).size(), 2);

    ASSERT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.sleeper", nullptr, true, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_EQ(DirectLauncher::processStartTime(pid), -1);
    EXPECT_TRUE(SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.sleeper").isEmpty());
    ASSERT_TRUE(SMJobRemove(kSMDomainUserLaunchd, "com.example.later", nullptr, true, &error));
    EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).isEmpty());
}

TEST_F(ServiceManagementTest, AnUnreadableOrStaleJobTableHoldsNothing)
{
    const TestHome home;
    QDir().mkpath(QFileInfo(UserJobTable::path()).path());
    QFile table(UserJobTable::path());
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write("bplist00 this is not a job table");
    table.close();
    {
        const MessageLog log;
        EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).isEmpty());
        EXPECT_TRUE(MessageLog::messages().value(0).startsWith("Ignoring the job table")) << qPrintable(MessageLog::messages().join('|'));
    }

    // A program started directly in an earlier boot is not this boot's job.
    const QVariantMap earlier{{"Job", job("com.example.old", {"/bin/true"})}, {"Manager", "direct"},
                              {"PID", 1}, {"ProcessStart", 1}, {"BootID", "an-earlier-boot"}};
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write(PropertyList::toData(QVariantMap{{"com.example.old", earlier}}, PropertyList::Format::Binary));
    table.close();
    EXPECT_TRUE(SMJobCopyDictionary(kSMDomainUserLaunchd, "com.example.old").isEmpty());
    CFError error;
    EXPECT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.old", {"/bin/true"}, false), nullptr, &error))
        << qPrintable(error.localizedDescription());

    // A folder in its place is set aside, so the table can be saved again.
    ASSERT_TRUE(QFile::remove(UserJobTable::path()));
    ASSERT_TRUE(QDir().mkpath(UserJobTable::path()));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(SMJobSubmit(kSMDomainUserLaunchd, job("com.example.later", {"/bin/true"}, false), nullptr, &error))
        << qPrintable(error.localizedDescription());
    EXPECT_EQ(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).size(), 1);
    // Ours to write, so never read through a link: what it points at is not our table.
    const QString elsewhere = home.path() + "/elsewhere.plist";
    ASSERT_TRUE(QFile::rename(UserJobTable::path(), elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, UserJobTable::path()));
    EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainUserLaunchd).isEmpty());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;  // the folder, the link
    EXPECT_EQ(PropertyList::readFile(elsewhere).toMap().keys(), QStringList{"com.example.later"});
}

TEST_F(ServiceManagementTest, TheSystemDomainOnlyRunsOneShotJobs)
{
    TestAuthority authority;
    AuthorizationRef reference = nullptr;
    ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, 0, &reference), errAuthorizationSuccess);
    CFError error;
    EXPECT_FALSE(SMJobSubmit(kSMDomainSystemLaunchd, job("com.example.daemon", {"/bin/true"}), reference, &error));
    EXPECT_EQ(error.domain, kSMErrorDomainFramework);
    EXPECT_EQ(error.code, kSMErrorServiceUnavailable);
    EXPECT_TRUE(error.localizedDescription().endsWith("is not supported on this system."));
    EXPECT_FALSE(SMJobBless(kSMDomainSystemLaunchd, "com.example.helper", reference, &error));
    EXPECT_TRUE(error.localizedDescription().endsWith("is not supported on this system."));

    QVariantMap once = job("com.example.once", {"/bin/false"});
    once.insert("LaunchOnlyOnce", true);
    EXPECT_FALSE(SMJobSubmit(kSMDomainSystemLaunchd, once, reference, &error));
    EXPECT_EQ(error.domain, kSMErrorDomainLaunchd);
    EXPECT_EQ(error.code, 1);
    once.insert("ProgramArguments", QVariantList{"/bin/true"});
    EXPECT_TRUE(SMJobSubmit(kSMDomainSystemLaunchd, once, reference, &error));
    EXPECT_EQ(authority.commands, (QList<QStringList>{{"/bin/false"}, {"/bin/true"}}));
    EXPECT_TRUE(SMCopyAllJobDictionaries(kSMDomainSystemLaunchd).isEmpty());
    EXPECT_FALSE(SMJobRemove(kSMDomainSystemLaunchd, "com.example.once", reference, true, &error));
    EXPECT_EQ(error.code, ESRCH);
    AuthorizationFree(reference, 0);
}

}  // namespace
